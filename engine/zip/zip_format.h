// The format class of ZIP archives (".zip") and self-extracting ZIP programs
// (".exe"). The reading hooks sit on the portable record layer
// (zip_records, zip_input, zip_directory): this class opens the file, runs the
// layer's opening steps and walks, and turns its structured reports into the
// catalogue's messages.
#pragma once

#include "core/compress_format.h"

namespace tessera::zip {
struct Reports;
}

class CZipFormat : public CCompressFormat {
public:
    CZipFormat();

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoGetComment(LPSTR buffer, DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

private:
    // Shows every report of a run with its catalogue text; returns the run's level.
    int ShowReports(const tessera::zip::Reports& reports);
};
