// The class factory of both classes and the exported entry points the shell
// and regsvr32 call.
#include "clsids.h"
#include "find_ext.h"
#include "module.h"
#include "registration.h"
#include "shell_ext.h"

#include <unknwn.h>

#include "win32/com_object.h"

#include <new>

namespace tesshell {
namespace {

using CreateFunction = HRESULT (*)(REFIID iid, void** out);

class CShellExtFactory final : public tessera::win32::ComObject<IClassFactory> {
public:
    explicit CShellExtFactory(CreateFunction create) : create_(create) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Guarded([&] { return create_(iid, out); });
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ~CShellExtFactory() = default;

    ModuleReference live_;
    CreateFunction create_;
};

}  // namespace
}  // namespace tesshell

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    using namespace tesshell;
    if (!out) return E_POINTER;
    *out = nullptr;
    CreateFunction create = nullptr;
    if (IsEqualCLSID(clsid, CLSID_ShellExt)) create = CreateShellExt;
    else if (IsEqualCLSID(clsid, CLSID_FindArchivesExt)) create = CreateFindArchivesExt;
    else return CLASS_E_CLASSNOTAVAILABLE;
    CShellExtFactory* factory = new (std::nothrow) CShellExtFactory(create);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
    return tesshell::LiveObjectCount() == 0 ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    return tesshell::Guarded([] { return tesshell::RegisterServer(); });
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    return tesshell::Guarded([] { return tesshell::UnregisterServer(); });
}
