// The object factory: makes the archive object of a path's format.
#include "core/compress_format.h"
#include "core/prompts.h"
#include "core/registry.h"

#include "formats/ace_format.h"
#include "formats/arj_format.h"
#include "formats/cab_format.h"
#include "formats/gz_format.h"
#include "formats/rar_format.h"
#include "formats/tar_format.h"
#include "formats/tgz_format.h"
#include "zip/zip_format.h"
#include "win32/com_ptr.h"

#include <new>
#include <vector>

namespace {

CCompressFormat* NewFormatObject(DWORD id) {
    switch (id) {
    case FORMAT_ZIP:
    case FORMAT_ZIP_SFX: return new (std::nothrow) CZipFormat;
    case FORMAT_ACE:
    case FORMAT_ACE_SFX: return new (std::nothrow) CAceFormat;
    case FORMAT_CAB:
    case FORMAT_CAB_SFX: return new (std::nothrow) CCabFormat;
    case FORMAT_RAR:
    case FORMAT_RAR_SFX: return new (std::nothrow) CRarFormat;
    case FORMAT_TAR: return new (std::nothrow) CTarFormat;
    case FORMAT_GZ:
    case FORMAT_Z: return new (std::nothrow) CGzFormat;
    case FORMAT_TGZ:
    case FORMAT_TAZ:
        // With Shift held the inner TAR file shows as the single member.
        if (PromptShiftDown(ProcessPromptHandler())) return new (std::nothrow) CGzFormat;
        return new (std::nothrow) CTgzFormat;
    case FORMAT_ARJ:
    case FORMAT_ARJ_SFX: return new (std::nothrow) CArjFormat;
    }
    return nullptr;
}

// A new object of format row `id` for `path`; null when out of memory.
tessera::win32::ComPtr<CCompressFormat> MakeObject(UINT id, LPCSTR path) {
    // A new object has no reference yet: this one is the factory's own.
    auto format = tessera::win32::ComPtr<CCompressFormat>::Share(NewFormatObject(id));
    if (!format) return format;
    format->SetFormatId(id);
    format->SetOption(0);
    format->SetArchivePath(path);
    return format;
}

// The rows to try by content for `path`: for a self-extracting program
// every self-extracting row, for a name no row claims every row of its own
// format (the aliases of gzip left out), in the table's order.
std::vector<UINT> ContentCandidates(bool selfExtracting) {
    std::vector<UINT> rows;
    for (UINT id = 0; id < FORMAT_COUNT; ++id) {
        const FORMATINFO* row = FormatRow(id);
        const bool sfx = (row->variant & 0xFF) != 0;
        if (selfExtracting ? sfx : !sfx && id != FORMAT_TGZ && id != FORMAT_TAZ && id != FORMAT_Z) rows.push_back(id);
    }
    return rows;
}

}  // namespace

TESAPI HRESULT WINAPI ArcCreateObject(HWND owner, LPCSTR path, ICompressFormat** object) {
    if (!path || !object) return E_INVALIDARG;
    FORMATINFO info;
    UINT id = 0;
    const bool named = SUCCEEDED(ArcGetFormatOf(path, &info, &id));
    if (named && !(info.variant & 0xFF)) {
        auto format = MakeObject(id, path);
        if (!format) return E_OUTOFMEMORY;
        return format->QueryInterface(IID_ICompressFormat, reinterpret_cast<void**>(object));
    }
    // A self-extracting program may hold any of the formats that have one,
    // and a file with a name no format claims is tried by its content too.
    // The checks run quietly (no owner): a refusal is no error while another
    // format may still accept the file.
    for (UINT candidate : ContentCandidates(named)) {
        auto format = MakeObject(candidate, path);
        if (!format) return E_OUTOFMEMORY;
        BOOL flag = FALSE;
        if (SUCCEEDED(format->Check(nullptr, &flag)))
            return format->QueryInterface(IID_ICompressFormat, reinterpret_cast<void**>(object));
    }
    // None: a program is reported as the first row (ZIP) finds it, as ever.
    if (named) {
        auto format = MakeObject(id, path);
        if (!format) return E_OUTOFMEMORY;
        BOOL flag = FALSE;
        format->Check(owner, &flag);
    }
    return E_FAIL;
}
