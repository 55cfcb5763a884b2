#include "private_registry.h"

#include <cstdio>

namespace tessera::testing {

bool PrivateUserRegistry::Redirect(const char* prefix) {
    Restore();
    snprintf(name_, sizeof name_, "%s_%lu", prefix, GetCurrentProcessId());
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TesseraTests", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &tests_,
                        nullptr) != ERROR_SUCCESS ||
        RegCreateKeyExA(tests_, name_, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    // The settings store opens "Software" without creating it.
    HKEY software = nullptr;
    if (RegCreateKeyExA(key, "Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &software, nullptr) == ERROR_SUCCESS)
        RegCloseKey(software);
    const bool redirected = RegOverridePredefKey(HKEY_CURRENT_USER, key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return redirected;
}

void PrivateUserRegistry::Restore() {
    if (!tests_) return;
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegDeleteTreeA(tests_, name_);
    RegCloseKey(tests_);
    tests_ = nullptr;
}

}  // namespace tessera::testing
