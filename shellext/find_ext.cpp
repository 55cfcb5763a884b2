// CFindArchivesExt: see find_ext.h.
#include "find_ext.h"

#include "module.h"

#include <shellapi.h>
#include <shlobj.h>

#include <new>

namespace tesshell {
namespace {

class CFindArchivesExt final : public IContextMenu {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IContextMenu)) return E_NOINTERFACE;
        *out = static_cast<IContextMenu*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetCommandString(UINT_PTR, UINT, UINT*, LPSTR, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* invocation) override {
        return Guarded([&] {
            const std::string program = ExplorerProgramPath();
            SHELLEXECUTEINFOA execute = {};
            execute.cbSize = sizeof execute;
            execute.hwnd = invocation ? invocation->hwnd : nullptr;
            execute.lpFile = program.c_str();
            execute.lpParameters = "/F";
            execute.nShow = SW_SHOWNORMAL;
            if (!program.empty()) ShellExecuteExA(&execute);
            return S_OK;
        });
    }

private:
    ~CFindArchivesExt() = default;
    ModuleReference live_;
    LONG references_ = 1;
};

}  // namespace

HRESULT CreateFindArchivesExt(REFIID iid, void** out) {
    CFindArchivesExt* object = new (std::nothrow) CFindArchivesExt;
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace tesshell
