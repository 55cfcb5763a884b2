// Small pieces the read-only format classes share (see format_support.h).
#include "formats/format_support.h"

HRESULT ConvertStoredName(LPCSTR name, LPSTR buffer, bool slashes) {
    buffer[0] = '\0';
    if (!name || !*name) return E_INVALIDARG;
    int length = lstrlenA(name);
    if (length >= MAX_PATH) return E_FAIL;
    OemToCharBuffA(name, buffer, static_cast<DWORD>(length));
    buffer[length] = '\0';
    if (slashes)
        for (char* p = buffer; *p; ++p)
            if (*p == '/') *p = '\\';
    if (buffer[length - 1] == '\\') buffer[length - 1] = '\0';
    return S_OK;
}
