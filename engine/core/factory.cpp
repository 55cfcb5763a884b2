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

}  // namespace

TESAPI HRESULT WINAPI ArcCreateObject(HWND owner, LPCSTR path, ICompressFormat** object) {
    if (!path || !object) return E_INVALIDARG;
    FORMATINFO info;
    UINT id = 0;
    HRESULT hr = ArcGetFormatOf(path, &info, &id);
    if (FAILED(hr)) return hr;
    // A new object has no reference yet: this one is the factory's own.
    auto format = tessera::win32::ComPtr<CCompressFormat>::Share(NewFormatObject(id));
    if (!format) return E_OUTOFMEMORY;
    format->SetFormatId(id);
    format->SetOption(0);
    format->SetArchivePath(path);
    if (info.variant & 0xFF) {
        BOOL flag = FALSE;
        if (FAILED(format->Check(owner, &flag))) return E_FAIL;
    }
    return format->QueryInterface(IID_ICompressFormat, reinterpret_cast<void**>(object));
}
