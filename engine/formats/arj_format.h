// The format class of ARJ archives (".arj") and self-extracting ARJ
// programs: lists them, and extracts and tests entries of methods 0 to 4.
// Reads only; the archive may lie up to 25,000 bytes into the file.
#pragma once

#include "formats/decoding_format.h"

class CArjFormat : public CDecodingFormat {
public:
    CArjFormat();
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;
    HRESULT DoTest() override;

private:
    HRESULT ListArj();
    HRESULT ExtractArj();  // extraction and test (m_op == OP_TEST writes nothing)
    // Reports why the archive cannot be read; false when it cannot.
    bool ReportOpen(int status);
};
