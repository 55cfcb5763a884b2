// The format class of TAR archives (".tar"), and the pieces the gzip and
// TAR-in-gzip classes share with it: a byte source over the archive file and
// the conversion of the formats' UTC times.
#pragma once

#include "core/compress_format.h"

#include "formats/tar/tar_reader.h"

// Reads an open file through the engine's file layer; a failed read ends the
// input and is kept for the caller to report. Skipping moves the file
// pointer.
class ArchiveFileSource final : public tessera::tar::SeekableSource {
public:
    explicit ArchiveFileSource(HANDLE file) : file_(file) {}
    size_t Read(uint8_t* buffer, size_t capacity) override;
    bool SkipForward(uint64_t count) override;
    bool Failed() const { return failed_; }
    DWORD Error() const { return error_; }

private:
    HANDLE file_;
    bool failed_ = false;
    DWORD error_ = 0;
};

// Seconds since 1970-01-01 00:00 UTC as a local FILETIME (the entry list
// keeps local times); out-of-range values are clamped.
FILETIME UnixTimeToLocalFileTime(long long seconds);

class CTarFormat : public CCompressFormat {
public:
    CTarFormat();
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    HRESULT DoExtract() override;

protected:
    // The walks over m_archivePath (CTgzFormat points it at its temporary TAR).
    HRESULT ListTar();
    HRESULT ExtractTar();

private:
    // Reports how a walk ended; false when the operation is to fail.
    bool ReportWalkEnd(int status, const ArchiveFileSource& source);
    // Writes the data of the current entry; false when the user cancelled.
    // *whole: all of the data arrived and was written.
    bool WriteEntryData(tessera::tar::TarReader& reader, bool* whole);
};
