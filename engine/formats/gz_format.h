// The format class of gzip files (".gz", ".z"): the file is shown as one
// entry, the contents of all its members. With Shift held the factory also
// makes it for ".tgz"/".taz", so the inner TAR file shows as that entry.
#pragma once

#include "formats/decoding_format.h"

namespace tessera::gzip {
struct GzipDecodeResult;
}

class CGzFormat : public CDecodingFormat {
public:
    CGzFormat();
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;

    // Whether the last extraction decoded every member without a fault
    // (data after the last member aside). CTgzFormat lists only then.
    bool DecodedCleanly() const { return m_decodedCleanly; }

private:
    class OutputSink;
    struct Front;
    // Opens the archive and reads the first member's header; reports and
    // returns a failure when it is no gzip file.
    HRESULT ReadFront(Front& front);
    // The name of the entry: FNAME, else the archive's name without its
    // last extension.
    void EntryName(const Front& front, char* name, size_t size);
    // How the decoded members came out, for the entry reporter.
    static EntryReport MemberReport(const tessera::gzip::GzipDecodeResult& r);

    bool m_decodedCleanly = false;
};
