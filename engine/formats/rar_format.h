// The format class of RAR archives (".rar") and self-extracting RAR
// programs: lists them, and extracts and tests entries that are stored or
// packed with the RAR 1.5 method, through solid chains and old-style volume
// sets (x.rar, x.r00, x.r01, ...). Reads only.
#pragma once

#include "formats/decoding_format.h"

namespace tessera {
class RarReader;
struct RarEntry;
struct RarEntryOutcome;
}

class CRarFormat : public CDecodingFormat {
public:
    CRarFormat();
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    // Never passes: a program with a RAR archive in it is not offered as one.
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;
    HRESULT DoTest() override;

private:
    HRESULT ListRar();
    HRESULT ExtractRar();  // extraction and test (m_op == OP_TEST writes nothing)
    // Reports why the archive cannot be read; false when it cannot.
    bool ReportOpen(int status);
    // Moves past an entry that is not written: a solid chain decodes it
    // without output, an entry continued in the next volume is followed so
    // that the walk goes on behind it.
    void PassOver(tessera::RarReader& reader, const tessera::RarEntry& entry);
    // How a decoded entry came out; `number` is its header's for damage.
    static EntryReport Report(const tessera::RarEntryOutcome& outcome, unsigned number, LPCSTR volume,
                              DWORD volumeError);
    static DWORD EntryAttributes(const tessera::RarEntry& entry);
    // A symbolic link stored from a Unix host (its data is the target path).
    static bool IsUnixLink(const tessera::RarEntry& entry);
};
