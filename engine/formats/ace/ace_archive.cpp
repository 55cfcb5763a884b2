// ACE header walk, volume names and the multi-volume entry reader.
#include "formats/ace/ace_archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codecs/crc32/crc32.h"

namespace tessera::ace {
namespace {

const uint8_t kSignature[7] = {'*', '*', 'A', 'C', 'E', '*', '*'};

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Offsets inside a header counted from HEAD_TYPE.
constexpr size_t kFileFixed = 31;  // type, flags, PSIZE ... FNAME_SIZE
constexpr size_t kMainFixed = 27;  // type, flags, signature ... AV_SIZE

// Reads exactly `size` bytes or reports why not.
AceStatus ReadExact(RandomAccessInput& volume, uint64_t offset, void* buffer, size_t size) {
    size_t got = 0;
    if (!volume.ReadAt(offset, buffer, size, &got)) return AceStatus::kReadError;
    return got == size ? AceStatus::kOk : AceStatus::kTruncated;
}

}  // namespace

const char* AceStatusText(AceStatus status) {
    switch (status) {
        case AceStatus::kOk: return "ok";
        case AceStatus::kEnd: return "end of archive";
        case AceStatus::kNoArchive: return "no ACE archive found";
        case AceStatus::kReadError: return "read error";
        case AceStatus::kBadHeaderCrc: return "bad header checksum";
        case AceStatus::kDamaged: return "damaged header";
        case AceStatus::kTruncated: return "unexpected end of archive";
        case AceStatus::kVolumeMissing: return "next volume missing";
        case AceStatus::kWrongVolume: return "next volume does not continue the entry";
    }
    return "?";
}

uint16_t AceHeaderCrc(const void* data, size_t size) {
    return static_cast<uint16_t>(Crc32Update(0xFFFFFFFFu, data, size) & 0xFFFF);
}

// ---------------------------------------------------------------------------
// Volume names

namespace {

// Start of the extension (after its '.'), or npos when the name has none.
size_t ExtensionStart(const std::string& name) {
    size_t dot = name.find_last_of('.');
    size_t separator = name.find_last_of(" /\\");
    if (dot == std::string::npos || (separator != std::string::npos && separator > dot)) return std::string::npos;
    return dot + 1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr int kLastVolumeNumber = 99999;

}  // namespace

int AceVolumeNumberOf(const std::string& name) {
    size_t start = ExtensionStart(name);
    if (start == std::string::npos) return -1;
    std::string ext = name.substr(start);
    if (ext.size() >= 4 && ext.size() <= 5 && std::all_of(ext.begin(), ext.end(), IsDigit)) return std::stoi(ext);
    if (ext.size() != 3 || !IsDigit(ext[1]) || !IsDigit(ext[2])) return -1;
    int number = (ext[1] - '0') * 10 + (ext[2] - '0');
    if (IsDigit(ext[0])) number += 100 * (ext[0] - '0');
    return number;
}

std::string AceNextVolumeName(const std::string& name) {
    int next = AceVolumeNumberOf(name) + 1;
    if (next > kLastVolumeNumber) return std::string();
    size_t start = ExtensionStart(name);
    std::string base = start == std::string::npos ? name : name.substr(0, start - 1);
    char ext[16];
    if (next < 100)
        ext[0] = 'C', ext[1] = static_cast<char>('0' + next / 10), ext[2] = static_cast<char>('0' + next % 10), ext[3] = 0;
    else
        std::snprintf(ext, sizeof ext, "%d", next);
    return base + "." + ext;
}

// ---------------------------------------------------------------------------
// Header walk

AceStatus AceHeaderWalk::ReadHeader(uint64_t at, RawHeader& raw) {
    const uint64_t fileSize = volume_.Size();
    if (at >= fileSize) return AceStatus::kEnd;
    if (fileSize - at < 4) return AceStatus::kTruncated;
    uint8_t frame[4];
    AceStatus status = ReadExact(volume_, at, frame, 4);
    if (status != AceStatus::kOk) return status;
    const uint16_t crc = Get16(frame);
    raw.size = Get16(frame + 2);
    if (raw.size < 3) return AceStatus::kDamaged;  // not even a type and flags
    if (raw.size > fileSize - at - 4) return AceStatus::kTruncated;

    raw.kept = std::min<size_t>(raw.size, kAceHeaderKept);
    status = ReadExact(volume_, at + 4, raw.bytes, raw.kept);
    if (status != AceStatus::kOk) return status;
    uint32_t check = Crc32Update(0xFFFFFFFFu, raw.bytes, raw.kept);
    uint8_t piece[1024];
    for (uint64_t done = raw.kept; done < raw.size;) {  // the part beyond the kept bytes is only checked
        size_t n = std::min<uint64_t>(sizeof piece, raw.size - done);
        status = ReadExact(volume_, at + 4 + done, piece, n);
        if (status != AceStatus::kOk) return status;
        check = Crc32Update(check, piece, n);
        done += n;
    }
    if (static_cast<uint16_t>(check & 0xFFFF) != crc) return AceStatus::kBadHeaderCrc;

    raw.type = raw.bytes[0];
    raw.flags = Get16(raw.bytes + 1);
    raw.addSize = 0;
    if (raw.flags & kAceFlagAddSize) {
        if (raw.size < 7) return AceStatus::kDamaged;
        raw.addSize = Get32(raw.bytes + 3);
    }
    return AceStatus::kOk;
}

bool AceHeaderWalk::ParseMain(const RawHeader& raw, AceMainHeader& main) {
    if (raw.type != 0 || (raw.flags & kAceFlagAddSize) || raw.kept < kMainFixed ||
        std::memcmp(raw.bytes + 3, kSignature, sizeof kSignature) != 0)
        return false;
    const uint8_t* b = raw.bytes;
    main.flags = raw.flags;
    main.versionToExtract = b[10];
    main.versionCreated = b[11];
    main.host = b[12];
    main.volumeNumber = b[13];
    main.timeCreated = Get32(b + 14);
    main.packedComment.clear();
    size_t at = kMainFixed + b[26];  // after the AV string
    if ((raw.flags & kAceFlagComment) && at + 2 <= raw.kept) {
        size_t size = std::min<size_t>(Get16(b + at), raw.kept - at - 2);
        main.packedComment.assign(b + at + 2, b + at + 2 + size);
    }
    return true;
}

AceStatus AceHeaderWalk::FindMainHeader(AceMainHeader& main, uint64_t from) {
    uint8_t buffer[1024];
    uint64_t base = from;        // file offset of buffer[0]
    size_t length = 0;           // bytes in the buffer
    uint64_t scanFrom = from;    // first signature position not yet looked at
    uint64_t readTotal = 0;
    AceStatus lastError = AceStatus::kNoArchive;
    for (;;) {
        // Keep the last 512 bytes so a signature across pieces is seen whole.
        if (length > 512) {
            std::memmove(buffer, buffer + length - 512, 512);
            base += length - 512;
            length = 512;
        }
        size_t want = std::min<uint64_t>(sizeof buffer - length, kAceSearchLimit - readTotal);
        size_t got = 0;
        if (want > 0 && !volume_.ReadAt(base + length, buffer + length, want, &got)) return AceStatus::kReadError;
        length += got;
        readTotal += got;
        for (uint64_t p = scanFrom; p + sizeof kSignature <= base + length; ++p) {
            if (std::memcmp(buffer + (p - base), kSignature, sizeof kSignature) != 0 || p < from + 7) continue;
            AceStatus status = ReadHeader(p - 7, *raw_);
            if (status == AceStatus::kReadError) return status;
            if (status == AceStatus::kOk && ParseMain(*raw_, main)) {
                main.start = p - 7;
                position_ = main.start + 4 + raw_->size;
                return AceStatus::kOk;
            }
            lastError = AceStatus::kNoArchive;
        }
        if (base + length >= sizeof kSignature) scanFrom = std::max(scanFrom, base + length - sizeof kSignature + 1);
        if (got < want || want == 0) return lastError;  // end of file or of the search
    }
}

AceStatus AceHeaderWalk::NextFileHeader(AceFileHeader& header) {
    for (;;) {
        const uint64_t at = position_;
        AceStatus status = ReadHeader(at, *raw_);
        if (status != AceStatus::kOk) return status;
        const RawHeader& raw = *raw_;
        const uint64_t dataOffset = at + 4 + raw.size;
        if (raw.addSize > volume_.Size() - dataOffset) return AceStatus::kTruncated;  // data beyond the file
        const uint64_t next = dataOffset + raw.addSize;
        if (next <= at) return AceStatus::kDamaged;
        if (raw.type != 1) {  // main headers met again, recovery records, ...: skipped
            position_ = next;
            continue;
        }
        if (raw.size < kFileFixed) return AceStatus::kDamaged;
        const uint8_t* b = raw.bytes;
        // PSIZE always stands after the flags; without the data-size flag no
        // data may follow (some archivers leave the flag off empty entries).
        if (!(raw.flags & kAceFlagAddSize) && Get32(b + 3) != 0) return AceStatus::kDamaged;
        header.flags = raw.flags;
        header.packedSize = raw.addSize;
        header.size = Get32(b + 7);
        header.time = Get32(b + 11);
        header.attributes = Get32(b + 15);
        header.crc32 = Get32(b + 19);
        header.techType = b[23];
        header.techQuality = b[24];
        header.techParm = Get16(b + 25);
        const size_t nameSize = Get16(b + 29);
        if (kFileFixed + nameSize > raw.size) return AceStatus::kDamaged;  // name runs out of the header
        const size_t nameKept = std::min(nameSize, raw.kept - kFileFixed);
        header.name.assign(reinterpret_cast<const char*>(b + kFileFixed), nameKept);
        header.packedComment.clear();
        size_t c = kFileFixed + nameSize;
        if ((raw.flags & kAceFlagComment) && c + 2 <= raw.kept) {
            size_t size = std::min<size_t>(Get16(b + c), raw.kept - c - 2);
            header.packedComment.assign(b + c + 2, b + c + 2 + size);
        }
        header.dataOffset = dataOffset;
        position_ = next;
        return AceStatus::kOk;
    }
}

// ---------------------------------------------------------------------------
// Reader over a set of volumes

// The packed bytes of the current entry, following its parts into later
// volumes; the first problem met is kept in `status`.
class AceArchiveReader::PackedSource final : public ByteSource {
public:
    PackedSource(AceArchiveReader& reader, AceEntry& entry) : reader_(reader), entry_(entry) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        while (status == AceStatus::kOk) {
            if (reader_.partLeft_ > 0) {
                size_t n = std::min<uint64_t>(capacity, reader_.partLeft_);
                size_t got = 0;
                if (!reader_.volume_->ReadAt(reader_.partOffset_, buffer, n, &got)) {
                    status = AceStatus::kReadError;
                } else if (got == 0) {
                    status = AceStatus::kTruncated;
                } else {
                    reader_.partOffset_ += got;
                    reader_.partLeft_ -= got;
                    return got;
                }
            } else if (reader_.partContinues_) {
                status = reader_.AdvanceToNextPart(entry_);
            } else {
                break;
            }
        }
        return 0;
    }
    AceStatus status = AceStatus::kOk;

private:
    AceArchiveReader& reader_;
    AceEntry& entry_;
};

AceArchiveReader::AceArchiveReader(AceVolumeOpener& opener) : opener_(opener) {}
AceArchiveReader::~AceArchiveReader() = default;

AceStatus AceArchiveReader::OpenVolume(const std::string& name, unsigned index) {
    walk_.reset();
    volume_ = opener_.OpenVolume(name, index);
    if (!volume_) return AceStatus::kVolumeMissing;
    walk_ = std::make_unique<AceHeaderWalk>(*volume_);
    volumeName_ = name;
    volumeIndex_ = index;
    return AceStatus::kOk;
}

AceStatus AceArchiveReader::Open(const std::string& firstVolumeName) {
    haveEntry_ = partContinues_ = false;
    partLeft_ = 0;
    stopped_ = AceStatus::kOk;
    decodedAll_ = true;
    firstDecode_ = true;
    AceStatus status = OpenVolume(firstVolumeName, 0);
    if (status != AceStatus::kOk) return status;
    return walk_->FindMainHeader(main_);
}

AceStatus AceArchiveReader::AdvanceToNextPart(AceEntry& entry) {
    partContinues_ = false;
    partLeft_ = 0;
    std::string name = AceNextVolumeName(volumeName_);
    if (name.empty()) return stopped_ = AceStatus::kVolumeMissing;
    AceStatus status = OpenVolume(name, volumeIndex_ + 1);
    if (status != AceStatus::kOk) return stopped_ = status;
    AceMainHeader main;
    if (walk_->FindMainHeader(main) != AceStatus::kOk) return stopped_ = AceStatus::kWrongVolume;
    AceFileHeader part;
    status = walk_->NextFileHeader(part);
    if (status == AceStatus::kEnd) status = AceStatus::kWrongVolume;
    if (status != AceStatus::kOk) return stopped_ = status;
    if (!part.ContinuedFromPrevious() || part.name != entryName_) return stopped_ = AceStatus::kWrongVolume;
    entry.packedTotal += part.packedSize;
    entry.crc32 = part.crc32;
    ++entry.parts;
    partOffset_ = part.dataOffset;
    partLeft_ = part.packedSize;
    partContinues_ = part.ContinuedInNext();
    return AceStatus::kOk;
}

AceStatus AceArchiveReader::FinishEntry(AceEntry& entry) {
    partLeft_ = 0;
    while (partContinues_) {
        AceStatus status = AdvanceToNextPart(entry);
        if (status != AceStatus::kOk) return status;
        partLeft_ = 0;
    }
    return AceStatus::kOk;
}

AceStatus AceArchiveReader::NextEntry(AceEntry& entry) {
    if (haveEntry_) {
        AceEntry rest;  // the caller's copy may be gone; only the walk matters here
        FinishEntry(rest);
        haveEntry_ = false;
    }
    if (stopped_ != AceStatus::kOk) return stopped_;
    if (!walk_) return AceStatus::kEnd;
    AceFileHeader header;
    AceStatus status = walk_->NextFileHeader(header);
    if (status != AceStatus::kOk) return status;
    // In a solid archive every entry with data has to pass through the
    // decoder, or the entries after it would be decoded from a stale window.
    if (!decodedAll_) solidGap_ = true;
    decodedAll_ = header.size == 0 || header.IsFolder();
    entryName_ = header.name;
    entry.header = std::move(header);
    entry.packedTotal = entry.header.packedSize;
    entry.crc32 = entry.header.crc32;
    entry.parts = 1;
    partOffset_ = entry.header.dataOffset;
    partLeft_ = entry.header.packedSize;
    partContinues_ = entry.header.ContinuedInNext();
    haveEntry_ = true;
    return AceStatus::kOk;
}

AceEntryOutcome AceArchiveReader::DecodeEntry(AceDecoder& decoder, AceEntry& entry, ByteSink* out) {
    AceEntryOutcome outcome;
    const AceFileHeader& h = entry.header;
    decoder.BeginEntry(main_.IsSolid() && !firstDecode_);
    firstDecode_ = false;
    decodedAll_ = true;
    if (h.IsEncrypted()) {
        outcome.encrypted = true;
        decoder.MarkStale();
    } else if (h.IsFolder()) {
        outcome.crcFound = outcome.crcExpected = entry.crc32;
    } else {
        if (solidGap_ && main_.IsSolid()) decoder.MarkStale();
        PackedSource source(*this, entry);
        outcome.codec = decoder.Decode(h.techType, h.techParm, h.size, source, out);
        outcome.input = source.status;
        outcome.crcFound = decoder.CrcRegister();
    }
    AceStatus rest = FinishEntry(entry);
    if (outcome.input == AceStatus::kOk) outcome.input = rest;
    if (!h.IsFolder()) outcome.crcExpected = entry.crc32;
    if (outcome.input != AceStatus::kOk) decoder.MarkStale();
    return outcome;
}

// ---------------------------------------------------------------------------
// Names

std::string AceSafeRelativePath(const std::string& stored, bool* stripped) {
    std::string result;
    bool removed = false;
    size_t start = 0;
    bool first = true;
    while (start <= stored.size()) {
        size_t end = stored.find_first_of("\\/", start);
        if (end == std::string::npos) end = stored.size();
        std::string part = stored.substr(start, end - start);
        start = end + 1;
        size_t colon = part.rfind(':');  // drive letters ("C:", "1:") and streams
        if (colon != std::string::npos) {
            part.erase(0, colon + 1);
            removed = true;
        }
        size_t meaningful = part.find_last_not_of(". ");  // Windows drops trailing dots and blanks
        bool onlyQuestionMarks = !part.empty() && part.find_first_not_of('?') == std::string::npos;
        const bool leading = first;
        first = false;
        if (meaningful == std::string::npos || onlyQuestionMarks) {
            // "." and ".." (however spelled), "?" prefixes and a leading root
            if (!part.empty() || (leading && end < stored.size())) removed = true;
            continue;
        }
        if (!result.empty()) result += '\\';
        result += part;
    }
    if (stripped) *stripped = removed;
    return result;
}

}  // namespace tessera::ace
