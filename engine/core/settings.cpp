// The settings store: every persistent setting of the system lives below
// HKEY_CURRENT_USER\Software\Quellsoft\Tessera, one subkey ("section") per
// area and one value per setting. The product key is opened on first use and
// kept until the library is unloaded; each call opens its section, does one
// registry operation and closes the section again.
#include "tescore.h"

#include "win32/handles.h"

#include <windows.h>

#include <cstring>

// windows.h maps these names onto its own profile (INI file) functions; the
// engine exports functions of exactly these names.
#undef GetProfileInt
#undef GetProfileString

namespace {

constexpr REGSAM kKeyAccess = KEY_READ | KEY_WRITE;
constexpr DWORD kMaxText = MAX_PATH;  // callers' text buffers hold 260 chars

// A section's key, closed when the call is done.
class SectionKey : public tessera::win32::RegistryKey {
public:
    explicit SectionKey(LPCSTR section)
        : tessera::win32::RegistryKey(section ? GetSectionKey(section) : nullptr) {}
};

// The product key, kept for the life of the library. Callers run on their
// process's user-interface thread, but the Browse Archives worker may touch
// the engine too, so the lazy open publishes the handle atomically.
class ProductKey {
public:
    ~ProductKey() { Close(); }

    HKEY Get() {
        HKEY key = static_cast<HKEY>(InterlockedCompareExchangePointer(
            reinterpret_cast<PVOID volatile*>(&key_), nullptr, nullptr));
        if (key) return key;
        HKEY opened = Open();
        if (!opened) return nullptr;  // tried again on the next call
        PVOID previous = InterlockedCompareExchangePointer(
            reinterpret_cast<PVOID volatile*>(&key_), opened, nullptr);
        if (previous) {  // another thread won the race: keep its handle
            RegCloseKey(opened);
            return static_cast<HKEY>(previous);
        }
        return opened;
    }

private:
    void Close() {
        HKEY key = static_cast<HKEY>(InterlockedExchangePointer(
            reinterpret_cast<PVOID volatile*>(&key_), nullptr));
        if (key) RegCloseKey(key);
    }

    static HKEY Open() {
        tessera::win32::RegistryKey software, company, product;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, kKeyAccess, software.put()) != ERROR_SUCCESS ||
            RegCreateKeyExA(software.get(), "Quellsoft", 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess, nullptr,
                            company.put(), nullptr) != ERROR_SUCCESS ||
            RegCreateKeyExA(company.get(), "Tessera", 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess, nullptr,
                            product.put(), nullptr) != ERROR_SUCCESS)
            return nullptr;
        return product.release();
    }

    HKEY key_ = nullptr;
};

// Its destructor runs when the library is unloaded and closes the kept key.
ProductKey g_productKey;

}  // namespace

TESAPI HKEY WINAPI GetSectionKey(LPCSTR section) {
    HKEY product = g_productKey.Get();
    if (!product || !section) return product;
    // An empty name would open the product key itself under a section's
    // guise (and deleting that "section" would delete the product key).
    if (!*section) return nullptr;
    HKEY key = nullptr;
    if (RegCreateKeyExA(product, section, 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

TESAPI BOOL WINAPI GetProfileInt(LPCSTR section, LPCSTR name, DWORD* value) {
    if (!value) return FALSE;
    SectionKey key(section);
    if (!key) return FALSE;
    // Any value of at most four bytes is taken, whatever its type; shorter
    // ones are zero-extended.
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
        ERROR_SUCCESS)
        return FALSE;
    *value = data;
    return TRUE;
}

TESAPI BOOL WINAPI GetProfileString(LPCSTR section, LPCSTR name, LPSTR text) {
    if (!text) return FALSE;
    SectionKey key(section);
    if (!key) return FALSE;
    // One spare byte: a value written without its terminator still ends in
    // a NUL here.
    char data[kMaxText + 1] = {};
    DWORD size = kMaxText;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return FALSE;
    // 260 bytes without a NUL among them would need 261 in the caller's buffer.
    if (size == kMaxText && !std::memchr(data, 0, size)) return FALSE;
    std::memcpy(text, data, std::strlen(data) + 1);
    return TRUE;
}

TESAPI BOOL WINAPI GetProfileBinary(LPCSTR section, LPCSTR name, LPVOID data, DWORD* size) {
    if (!size || (!data && *size)) return FALSE;
    SectionKey key(section);
    if (!key) return FALSE;
    // Asking for the length first keeps the caller's buffer untouched when
    // the value does not fit.
    DWORD needed = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, &needed) != ERROR_SUCCESS ||
        needed > *size)
        return FALSE;
    DWORD got = *size;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, static_cast<BYTE*>(data), &got) !=
        ERROR_SUCCESS)
        return FALSE;
    *size = got;
    return TRUE;
}

TESAPI BOOL WINAPI PutProfileInt(LPCSTR section, LPCSTR name, DWORD value) {
    SectionKey key(section);
    if (!key) return FALSE;
    return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

TESAPI BOOL WINAPI PutProfileString(LPCSTR section, LPCSTR name, LPCSTR text) {
    if (!section || !*section) return FALSE;
    if (!text && !name) {
        // Deleting the whole section, with the sections nested in it: done
        // on the product key, without opening (and so creating) it first.
        HKEY product = GetSectionKey(nullptr);
        return product && RegDeleteTreeA(product, section) == ERROR_SUCCESS;
    }
    SectionKey key(section);
    if (!key) return FALSE;
    if (!text) return RegDeleteValueA(key.get(), name) == ERROR_SUCCESS;
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

TESAPI BOOL WINAPI PutProfileBinary(LPCSTR section, LPCSTR name, LPCVOID data, DWORD size) {
    if (!data && size) return FALSE;
    SectionKey key(section);
    if (!key) return FALSE;
    return RegSetValueExA(key.get(), name, 0, REG_BINARY, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}
