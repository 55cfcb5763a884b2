// CFindArchivesExt: see find_ext.h.
#include "find_ext.h"

#include "module.h"

#include <shellapi.h>
#include <shlobj.h>

#include <new>

#include "win32/com_object.h"

namespace tesshell {
namespace {

class CFindArchivesExt final : public tessera::win32::ComObject<IContextMenu> {
public:
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
