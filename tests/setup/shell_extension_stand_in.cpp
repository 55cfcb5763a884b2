// A stand-in for the shell extension, for the installer's tests: its
// registration functions leave a value the test reads back.
#include "win32/handles.h"

#include <windows.h>

namespace {
const wchar_t kKey[] = L"Software\\Tessera Tests\\Shell Extension";
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    tessera::win32::RegistryKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return E_FAIL;
    const DWORD one = 1;
    return RegSetValueExW(key.get(), L"Registered", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) ==
                   ERROR_SUCCESS
               ? S_OK
               : E_FAIL;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return RegDeleteKeyW(HKEY_CURRENT_USER, kKey) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
