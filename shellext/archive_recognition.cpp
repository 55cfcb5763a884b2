// Archive recognition for the menus: see archive_recognition.h.
//
// A self-extracting program is a program image followed by the archive,
// possibly with this system's configuration block ("TSFX" marker and texts)
// in between. The image's end is the end of its last section's raw data, as
// the PE section table gives it.
#include "archive_recognition.h"

#include "tescore.h"
#include "win32/handles.h"

#include <cstring>
#include <vector>

namespace tesshell {
namespace {

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The format whose signature starts at `p` (at least 14 bytes), or -1.
int SignatureAt(const uint8_t* p, size_t available) {
    if (available >= 4 && std::memcmp(p, "PK\x03\x04", 4) == 0) return FORMAT_ZIP_SFX;
    if (available >= 4 && std::memcmp(p, "MSCF", 4) == 0) return FORMAT_CAB_SFX;
    if (available >= 4 && std::memcmp(p, "Rar!", 4) == 0) return FORMAT_RAR_SFX;
    if (available >= 14 && std::memcmp(p + 7, "**ACE**", 7) == 0) return FORMAT_ACE_SFX;
    if (available >= 2 && p[0] == 0x60 && p[1] == 0xEA) return FORMAT_ARJ_SFX;
    return -1;
}

}  // namespace

uint64_t ProgramImageEnd(const uint8_t* head, size_t size) {
    if (size < 64 || head[0] != 'M' || head[1] != 'Z') return 0;
    const uint32_t peOffset = Read32(head + 60);
    // Signature, file header (20 bytes), then the optional header.
    if (peOffset > size || size - peOffset < 24 || std::memcmp(head + peOffset, "PE\0\0", 4) != 0) return 0;
    const uint8_t* fileHeader = head + peOffset + 4;
    const uint32_t sections = Read16(fileHeader + 2);
    const uint32_t optionalSize = Read16(fileHeader + 16);
    const uint64_t table = static_cast<uint64_t>(peOffset) + 24 + optionalSize;
    if (sections == 0 || table + static_cast<uint64_t>(sections) * 40 > size) return 0;
    uint64_t end = 0;
    for (uint32_t index = 0; index < sections; ++index) {
        const uint8_t* section = head + table + index * 40;
        const uint64_t rawSize = Read32(section + 16);
        const uint64_t rawOffset = Read32(section + 20);
        if (rawSize != 0 && rawOffset + rawSize > end) end = rawOffset + rawSize;
    }
    return end;
}

int SelfExtractorFormat(const uint8_t* head, size_t size, const uint8_t* atEnd, size_t atEndSize) {
    if (!atEnd || atEndSize < 4) return -1;
    if (std::memcmp(atEnd, "TSFX", 4) != 0) return SignatureAt(atEnd, atEndSize);
    // This system's own block: the archive follows its texts, within the
    // first bytes the stub itself reads.
    const uint8_t* block = atEnd;
    if (block >= head && block < head + size) {
        for (const uint8_t* p = block + 4; p < head + size; ++p) {
            int format = SignatureAt(p, static_cast<size_t>(head + size - p));
            if (format >= 0) return format;
        }
    }
    return -1;
}

Recognition RecognizeArchive(const std::string& path) {
    Recognition result;
    FORMATINFO info;
    UINT id = 0;
    if (path.empty() || FAILED(ArcGetFormatOf(path.c_str(), &info, &id))) return result;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return result;

    if (info.variant & 0xFF) {
        tessera::win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return result;
        std::vector<uint8_t> head(kProgramHeadSize);
        DWORD got = 0;
        if (!ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr)) return result;
        head.resize(got);
        const uint64_t imageEnd = ProgramImageEnd(head.data(), head.size());
        if (imageEnd == 0) return result;
        uint8_t tail[16];
        const uint8_t* atEnd = nullptr;
        size_t atEndSize = 0;
        if (imageEnd < head.size()) {
            atEnd = head.data() + imageEnd;
            atEndSize = head.size() - static_cast<size_t>(imageEnd);
        } else {
            LARGE_INTEGER position;
            position.QuadPart = static_cast<LONGLONG>(imageEnd);
            DWORD read = 0;
            if (SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) &&
                ReadFile(file.get(), tail, sizeof tail, &read, nullptr)) {
                atEnd = tail;
                atEndSize = read;
            }
        }
        const int format = SelfExtractorFormat(head.data(), head.size(), atEnd, atEndSize);
        if (format <= 0 || FAILED(ArcGetFormatAt(static_cast<UINT>(format), &info))) return result;
        FORMATINFO plain;
        if (FAILED(ArcGetFormatAt(static_cast<UINT>(format - 1), &plain))) return result;
        result.selfExtracting = true;
        result.plainExtension = plain.extension;
    }
    result.archive = true;
    result.capabilities = info.capabilities;
    return result;
}

}  // namespace tesshell
