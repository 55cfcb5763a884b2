// The format class of TAR archives (".tar"), and the piece the gzip and
// TAR-in-gzip classes share with it: the conversion of the formats' UTC
// times.
#pragma once

#include "formats/decoding_format.h"

#include "formats/tar/tar_reader.h"

// Seconds since 1970-01-01 00:00 UTC as a local FILETIME (the entry list
// keeps local times); out-of-range values are clamped.
FILETIME UnixTimeToLocalFileTime(long long seconds);

class CTarFormat : public CDecodingFormat {
public:
    CTarFormat();
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;

protected:
    // The walks over m_archivePath (CTgzFormat points it at its temporary TAR).
    HRESULT ListTar();
    HRESULT ExtractTar();

private:
    // Reports how a walk ended; false when the operation is to fail.
    bool ReportWalkEnd(int status, unsigned damagedHeaders, const ArchiveFileInput& source);
    // Writes the data of the current entry; false when the user cancelled.
    // *whole: all of the data arrived and was written.
    bool WriteEntryData(tessera::tar::TarReader& reader, bool* whole);
};
