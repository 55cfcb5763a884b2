// Small pieces the read-only format classes share (see format_support.h).
#include "formats/format_support.h"

#include "core/file_io.h"

#include <algorithm>
#include <cstring>

ArchiveFileInput::ArchiveFileInput(HANDLE file) : file_(file) {
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file_, &size)) size_ = static_cast<uint64_t>(size.QuadPart);
}

ArchiveFileInput::ArchiveFileInput(tessera::win32::FileHandle file) : ArchiveFileInput(file.get()) {
    owned_ = std::move(file);
}

std::unique_ptr<ArchiveFileInput> ArchiveFileInput::Open(LPCSTR path, DWORD* error) {
    tessera::win32::FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<ArchiveFileInput>(std::move(file));
}

bool ArchiveFileInput::Fail() {
    failed_ = true;
    error_ = GetLastError();
    if (errorCopy_) *errorCopy_ = error_;
    return false;
}

bool ArchiveFileInput::ReadFromFile(uint64_t offset, uint8_t* out, size_t size, size_t* got) {
    *got = 0;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) return Fail();
    while (*got < size) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(size - *got, 0x40000000));
        DWORD done = 0;
        if (!EngineReadFile(file_, out + *got, want, &done)) return Fail();
        if (done == 0) break;  // end of file
        *got += done;
    }
    return true;
}

bool ArchiveFileInput::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) {
    *got = 0;
    if (failed_) return false;
    if (size == 0 || offset > 0x7FFFFFFFFFFFFFFFull) return true;
    auto* out = static_cast<uint8_t*>(buffer);
    if (size >= kWindowSize) return ReadFromFile(offset, out, size, got);
    if (offset < windowStart_ || offset + size > windowStart_ + windowLength_) {
        windowLength_ = 0;
        windowStart_ = offset;
        if (!ReadFromFile(offset, window_, kWindowSize, &windowLength_)) {
            windowLength_ = 0;
            return false;
        }
    }
    size_t available = offset - windowStart_ < windowLength_ ? windowLength_ - static_cast<size_t>(offset - windowStart_) : 0;
    *got = std::min(size, available);
    if (*got) std::memcpy(out, window_ + (offset - windowStart_), *got);
    return true;
}

HRESULT ConvertStoredName(LPCSTR name, LPSTR buffer, bool slashes) {
    buffer[0] = '\0';
    if (!name || !*name) return E_INVALIDARG;
    int length = lstrlenA(name);
    if (length >= MAX_PATH) return E_FAIL;
    lstrcpynA(buffer, name, length + 1);
    if (slashes)
        for (char* p = buffer; *p; ++p)
            if (*p == '/') *p = '\\';
    if (buffer[length - 1] == '\\') buffer[length - 1] = '\0';
    return S_OK;
}
