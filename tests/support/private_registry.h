// The current user's registry redirected, for this process, to a private key
// below HKEY_CURRENT_USER\Software\TesseraTests, so that tests never read or
// change the user's real settings; the private key goes when the
// redirection ends. Redirect before the engine first opens its settings key.
#pragma once

#include <windows.h>

namespace tessera::testing {

class PrivateUserRegistry {
public:
    PrivateUserRegistry() = default;
    ~PrivateUserRegistry() { Restore(); }
    PrivateUserRegistry(const PrivateUserRegistry&) = delete;
    PrivateUserRegistry& operator=(const PrivateUserRegistry&) = delete;

    // The private key is named `prefix`_<process id>, so parallel test
    // programs never share one.
    bool Redirect(const char* prefix);
    void Restore();

private:
    char name_[64] = "";
    HKEY tests_ = nullptr;
};

}  // namespace tessera::testing
