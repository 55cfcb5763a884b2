// Small pieces every read-only format class of this folder needs in the
// same form: the archive file as input of the portable walks, sizes for the
// entry list and the display form of stored names.
#pragma once

#include "core/compress_format.h"
#include "formats/random_access_input.h"
#include "win32/handles.h"

#include <cstdint>
#include <memory>

// An archive or volume file as input of the portable walks, read through the
// engine's file layer. Header walks make many small reads close together, so
// reads smaller than the buffer are served from one window of the file;
// larger ones (a decoder's input) go straight to the file. A failed read ends
// the input and is kept for the caller to report.
class ArchiveFileInput final : public tessera::RandomAccessInput {
public:
    // Borrows an open handle.
    explicit ArchiveFileInput(HANDLE file);
    // Takes over an open handle.
    explicit ArchiveFileInput(tessera::win32::FileHandle file);
    ArchiveFileInput(const ArchiveFileInput&) = delete;
    ArchiveFileInput& operator=(const ArchiveFileInput&) = delete;

    // Opens a further file (a volume) for reading; null with *error set when
    // it cannot be opened.
    static std::unique_ptr<ArchiveFileInput> Open(LPCSTR path, DWORD* error);

    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override;
    bool Failed() const { return failed_; }
    DWORD Error() const { return error_; }
    // Also stores the error of a failed read in *error: for a caller whose
    // walk owns the input by then.
    void CopyErrorTo(DWORD* error) { errorCopy_ = error; }

private:
    static constexpr size_t kWindowSize = 16384;

    bool ReadFromFile(uint64_t offset, uint8_t* out, size_t size, size_t* got);
    bool Fail();

    tessera::win32::FileHandle owned_;
    HANDLE file_;
    uint64_t size_ = 0;
    uint8_t window_[kWindowSize];
    uint64_t windowStart_ = 0;
    size_t windowLength_ = 0;
    bool failed_ = false;
    DWORD error_ = 0;
    DWORD* errorCopy_ = nullptr;
};

// An entry size for the entry list: sizes that do not fit become SIZE_UNKNOWN.
inline DWORD ClampSize(uint64_t size) { return size >= SIZE_UNKNOWN ? SIZE_UNKNOWN : static_cast<DWORD>(size); }

// GetText kind 3 of the read-only formats, whose entry names are already
// text (the readers convert stored names once, name_text.h): one trailing
// backslash dropped, and with `slashes` '/' turned into '\' (formats whose
// names carry '/' separators). E_INVALIDARG for an empty name, E_FAIL when
// the result would not fit a path.
HRESULT ConvertStoredName(LPCSTR name, LPSTR buffer, bool slashes);
