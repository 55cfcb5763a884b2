// The object factory: makes the archive object of a path's format.
#include "tescore.h"

TESAPI HRESULT WINAPI ArcCreateObject(HWND, LPCSTR, ICompressFormat** object) {
    if (object) *object = nullptr;
    return E_NOTIMPL;
}
