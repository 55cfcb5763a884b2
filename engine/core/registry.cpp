// The format registry and its exported lookups.
#include "core/registry.h"

#include "core/messages.h"

namespace {

const FORMATINFO kFormats[FORMAT_COUNT] = {
    {0x37FEF, IDS_ZIP_FILES, ".zip", FORMAT_ZIP, 0},
    {0x3BFEE, IDS_SELF_EXTRACTING_ZIP_FILES, ".exe", FORMAT_ZIP_SFX, FORMAT_VARIANT_SFX},
    {0x69C0, IDS_ACE_FILES, ".ace", FORMAT_ACE, 0},
    {0xA9C0, IDS_SELF_EXTRACTING_ACE_FILES, ".exe", FORMAT_ACE_SFX, FORMAT_VARIANT_SFX},
    {0x41D1, IDS_CABINET_FILES, ".cab", FORMAT_CAB, 0},
    {0x81C0, IDS_SELF_EXTRACTING_CABINET_FILES, ".exe", FORMAT_CAB_SFX, FORMAT_VARIANT_SFX},
    {0x1C0, IDS_RAR_FILES, ".rar", FORMAT_RAR, 0},
    {0x1C0, IDS_SELF_EXTRACTING_RAR_FILES, ".exe", FORMAT_RAR_SFX, FORMAT_VARIANT_SFX},
    {0xC0, IDS_TAR_FILES, ".tar", FORMAT_TAR, 0},
    {0xC0, IDS_GZ_FILES, ".gz", FORMAT_GZ, 0},
    {0xC0, IDS_TGZ_FILES, ".tgz", FORMAT_TGZ, 0},
    {0xC0, IDS_Z_FILES, ".z", FORMAT_Z, 0},
    {0xC0, IDS_TAZ_FILES, ".taz", FORMAT_TAZ, 0},
    {0x1C0, IDS_ARJ_FILES, ".arj", FORMAT_ARJ, 0},
    {0x1C0, IDS_SELF_EXTRACTING_ARJ_FILES, ".exe", FORMAT_ARJ_SFX, FORMAT_VARIANT_SFX},
};

}  // namespace

const FORMATINFO* FormatRow(DWORD id) { return id < FORMAT_COUNT ? &kFormats[id] : nullptr; }

LPCSTR PathExtension(LPCSTR path) {
    LPCSTR period = nullptr;
    LPCSTR p = path;
    for (; *p; p = CharNextA(p)) {
        if (*p == '.') period = p;
        else if (*p == '/' || *p == '\\' || *p == ' ') period = nullptr;
    }
    return period ? period : p;
}

TESAPI UINT WINAPI ArcGetFormatCount(void) { return FORMAT_COUNT; }

TESAPI HRESULT WINAPI ArcGetFormatAt(UINT index, FORMATINFO* info) {
    if (index >= FORMAT_COUNT || !info) return E_INVALIDARG;
    *info = kFormats[index];
    return S_OK;
}

TESAPI HRESULT WINAPI ArcGetFormatOf(LPCSTR path, FORMATINFO* info, UINT* index) {
    if (!path || !info) return E_INVALIDARG;
    LPCSTR extension = PathExtension(path);
    for (UINT id = 0; id < FORMAT_COUNT; ++id) {
        if (lstrcmpiA(extension, kFormats[id].extension) == 0) {
            if (index) *index = id;
            *info = kFormats[id];
            return S_OK;
        }
    }
    return E_FAIL;
}
