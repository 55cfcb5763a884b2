// Shows the extension's context menu the way the shell would: loads
// tesshell.dll, hands it the shell's data object of the files named on the
// command line and opens the menu it fills over a window of its own, where
// it stays until the program is ended. For pictures of the menu
// (scripts/shellext_screenshot):   shell_menu_demo TESSHELL.DLL FILE...
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

using tessera::win32::ComPtr;

constexpr CLSID kShellExtClsid = {0xB4EF89C1, 0x8BE3, 0x11D2, {0xB6, 0x01, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};
constexpr UINT kShowMenu = WM_APP + 1;

ComPtr<IContextMenu> g_extension;
HMENU g_menu = nullptr;

ComPtr<IDataObject> DataObjectOf(const std::vector<std::string>& paths) {
    ComPtr<IDataObject> data;
    std::string parent = paths[0].substr(0, paths[0].find_last_of('\\'));
    tessera::win32::TaskMemory<ITEMIDLIST> parentList(ILCreateFromPathA(parent.c_str()));
    std::vector<tessera::win32::TaskMemory<ITEMIDLIST>> lists;
    std::vector<PCUITEMID_CHILD> children;
    for (const std::string& path : paths) {
        lists.emplace_back(ILCreateFromPathA(path.c_str()));
        if (!lists.back()) return data;
        children.push_back(ILFindLastID(lists.back().get()));
    }
    ComPtr<IShellFolder> desktop, folder;
    if (FAILED(SHGetDesktopFolder(desktop.put())) ||
        FAILED(desktop->BindToObject(parentList.get(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.put()))))
        return data;
    folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject, nullptr,
                          reinterpret_cast<void**>(data.put()));
    return data;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kShowMenu: {
        POINT at = {40, 60};
        ClientToScreen(window, &at);
        UINT chosen = static_cast<UINT>(TrackPopupMenuEx(g_menu, TPM_RETURNCMD | TPM_LEFTALIGN, at.x, at.y, window, nullptr));
        if (chosen) PostMessageA(window, kShowMenu, 0, 0);  // the picture wants the menu open
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const char* text = "Right-click menu of the Tessera shell extension";
        TextOutA(dc, 12, 12, text, lstrlenA(text));
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3) return 2;
    auto narrow = [](LPCWSTR text) {
        char buffer[MAX_PATH] = "";
        WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, MAX_PATH, nullptr, nullptr);
        return std::string(buffer);
    };
    const std::string library = narrow(arguments[1]);
    std::vector<std::string> files;
    for (int index = 2; index < count; ++index) files.push_back(narrow(arguments[index]));
    LocalFree(arguments);

    OleInitialize(nullptr);
    tessera::win32::ModuleHandle shell(LoadLibraryExA(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!shell) return 3;
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell.get(), "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IShellExtInit> init;
    ComPtr<IDataObject> data = DataObjectOf(files);
    if (!getClassObject || !data ||
        FAILED(getClassObject(kShellExtClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.put()))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(init.put()))) ||
        FAILED(init->Initialize(nullptr, data.get(), nullptr)) || FAILED(init.As(IID_IContextMenu, &g_extension)))
        return 4;

    tessera::win32::MenuHandle menu(CreatePopupMenu());
    g_menu = menu.get();
    AppendMenuA(g_menu, MF_STRING, 1, "&Open");
    g_extension->QueryContextMenu(g_menu, 1, 100, 200, CMF_NORMAL);
    AppendMenuA(g_menu, MF_STRING, 2, "P&roperties");

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "TesseraShellMenuDemo";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("TesseraShellMenuDemo", "Tessera shell extension", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                40, 40, 560, 360, nullptr, nullptr, instance, nullptr);
    PostMessageA(window, kShowMenu, 0, 0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    g_extension.reset();
    return 0;
}
