// tesshell.dll under Wine, loaded by path from the build's dist/ folder the
// way the shell loads it (its tescore.dll beside it) and driven through its
// exports and COM interfaces: class objects and the object count, the
// registration keys, the context and drag menus on real shell data objects
// and menus, the commands that run through the engine, the comment page.
#include "compact_path.h"
#include "corpus.h"
#include "engine_session.h"
#include "tescore.h"
#include "test_files.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace tessera::testing;
using tessera::win32::ComPtr;

constexpr CLSID kShellExtClsid = {0xB4EF89C1, 0x8BE3, 0x11D2, {0xB6, 0x01, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};
constexpr CLSID kFindArchivesClsid = {0xD46376C0, 0x4AE9, 0x11D3, {0x92, 0x50, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};
constexpr CLSID kOtherClsid = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34}};

std::string DistPath(const std::string& name) {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    return HostPathToNative(std::string(binary ? binary : ".") + "/dist/" + name);
}

// The library, loaded once as COM loads an in-process server.
struct ShellLibrary {
    HMODULE module = nullptr;
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* canUnloadNow)() = nullptr;
    HRESULT(WINAPI* registerServer)() = nullptr;
    HRESULT(WINAPI* unregisterServer)() = nullptr;
};

const ShellLibrary& Shell() {
    static ShellLibrary library = [] {
        ShellLibrary loaded;
        loaded.module = LoadLibraryExA(DistPath("tesshell.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (loaded.module) {
            auto find = [&](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(loaded.module, name)); };
            loaded.getClassObject = reinterpret_cast<decltype(loaded.getClassObject)>(find("DllGetClassObject"));
            loaded.canUnloadNow = reinterpret_cast<decltype(loaded.canUnloadNow)>(find("DllCanUnloadNow"));
            loaded.registerServer = reinterpret_cast<decltype(loaded.registerServer)>(find("DllRegisterServer"));
            loaded.unregisterServer = reinterpret_cast<decltype(loaded.unregisterServer)>(find("DllUnregisterServer"));
        }
        return loaded;
    }();
    return library;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Commands run on threads of their own, each counting as a live object:
// the library may be unloaded once they and every object are gone.
bool WaitUntilUnloadable() {
    for (int round = 0; round < 3000; ++round) {
        if (Shell().canUnloadNow() == S_OK) return true;
        PumpMessages();
        Sleep(20);
    }
    return false;
}

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

template <class T>
ComPtr<T> NewObject(REFCLSID clsid, REFIID iid, GetClassObjectFunction getClassObject = nullptr) {
    if (!getClassObject) getClassObject = Shell().getClassObject;
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
    ComPtr<T> object;
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(object.put())), S_OK);
    }
    return object;
}

// A shell data object of items of one folder, as the shell hands it to
// extensions: the folder's own, from GetUIObjectOf.
ComPtr<IDataObject> DataObjectOf(const std::vector<std::string>& paths) {
    std::string parent = paths[0].substr(0, paths[0].find_last_of('\\'));
    tessera::win32::TaskMemory<ITEMIDLIST> parentList(ILCreateFromPathA(parent.c_str()));
    std::vector<tessera::win32::TaskMemory<ITEMIDLIST>> fullLists;
    std::vector<PCUITEMID_CHILD> children;
    for (const std::string& path : paths) {
        fullLists.emplace_back(ILCreateFromPathA(path.c_str()));
        EXPECT_TRUE(fullLists.back()) << path;
        if (fullLists.back()) children.push_back(ILFindLastID(fullLists.back().get()));
    }
    ComPtr<IShellFolder> desktop, folder;
    EXPECT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
    EXPECT_EQ(desktop->BindToObject(parentList.get(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.put())),
              S_OK);
    ComPtr<IDataObject> data;
    if (folder) {
        EXPECT_EQ(folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                        nullptr, reinterpret_cast<void**>(data.put())),
                  S_OK);
    }
    return data;
}

// A data object holding given blocks of bytes, one per clipboard format.
class MemoryDataObject final : public IDataObject {
public:
    void Put(CLIPFORMAT format, const void* data, size_t size) {
        blocks_[format].assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDataObject)) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }  // lives on the stack
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        auto found = blocks_.find(format->cfFormat);
        if (found == blocks_.end() || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->pUnkForRelease = nullptr;
        medium->hGlobal = GlobalAlloc(GMEM_MOVEABLE, found->second.size());
        std::memcpy(GlobalLock(medium->hGlobal), found->second.data(), found->second.size());
        GlobalUnlock(medium->hGlobal);
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        return blocks_.count(format->cfFormat) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::map<CLIPFORMAT, std::vector<uint8_t>> blocks_;
    ULONG references_ = 1;
};

ComPtr<IContextMenu> MenuExtensionFor(const std::vector<std::string>& paths, const std::string& dropFolder = "",
                                      GetClassObjectFunction getClassObject = nullptr) {
    auto init = NewObject<IShellExtInit>(kShellExtClsid, IID_IShellExtInit, getClassObject);
    ComPtr<IDataObject> data = DataObjectOf(paths);
    if (!init || !data) return ComPtr<IContextMenu>();
    tessera::win32::TaskMemory<ITEMIDLIST> drop(dropFolder.empty() ? nullptr : ILCreateFromPathA(dropFolder.c_str()));
    EXPECT_EQ(init->Initialize(drop.get(), data.get(), nullptr), S_OK);
    ComPtr<IContextMenu> menu;
    EXPECT_EQ(init.As(IID_IContextMenu, &menu), S_OK);
    return menu;
}

constexpr UINT kFirstId = 100;

// What QueryContextMenu put into a menu: one line a item ("-" for a
// separator), with the ids and whether every item is enabled.
struct ShownMenu {
    HRESULT result = E_FAIL;
    std::vector<std::string> lines;
    std::vector<UINT> ids;
    bool allEnabled = true;
};

ShownMenu Show(IContextMenu* extension, UINT flags = CMF_NORMAL) {
    ShownMenu shown;
    if (!extension) return shown;
    tessera::win32::MenuHandle menu(CreatePopupMenu());
    shown.result = extension->QueryContextMenu(menu.get(), 0, kFirstId, kFirstId + 50, flags);
    for (int position = 0; position < GetMenuItemCount(menu.get()); ++position) {
        char text[512] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_STATE;
        info.dwTypeData = text;
        info.cch = sizeof text;
        EXPECT_TRUE(GetMenuItemInfoA(menu.get(), position, TRUE, &info));
        if (info.fType & MFT_SEPARATOR) {
            shown.lines.push_back("-");
            continue;
        }
        shown.lines.push_back(text);
        shown.ids.push_back(info.wID);
        if (info.fState & MFS_DISABLED) shown.allEnabled = false;
    }
    return shown;
}

std::vector<UINT> Consecutive(size_t count) {
    std::vector<UINT> ids;
    for (size_t index = 0; index < count; ++index) ids.push_back(kFirstId + static_cast<UINT>(index));
    return ids;
}

void ExpectMenu(const ShownMenu& shown, const std::vector<std::string>& lines) {
    EXPECT_EQ(shown.lines, lines);
    size_t items = 0;
    for (const std::string& line : lines) items += line != "-";
    EXPECT_EQ(HRESULT_CODE(shown.result), static_cast<int>(items));
    EXPECT_EQ(SUCCEEDED(shown.result), true);
    EXPECT_EQ(shown.ids, Consecutive(items));
    EXPECT_TRUE(shown.allEnabled);
}

std::string Label(const char* format, const std::string& argument) {
    std::string escaped;
    for (char c : argument) escaped += c == '&' ? std::string("&&") : std::string(1, c);
    char text[512];
    std::snprintf(text, sizeof text, format, escaped.c_str());
    return text;
}
std::string ExtractToLabel(const std::string& folder) {
    return Label("&Extract to %s", tessera::CompactPath(folder, 26, true));
}

HRESULT Invoke(IContextMenu* extension, UINT offset, DWORD mask = 0, HWND owner = nullptr) {
    CMINVOKECOMMANDINFO invocation = {};
    invocation.cbSize = sizeof invocation;
    invocation.fMask = mask;
    invocation.hwnd = owner;
    invocation.lpVerb = MAKEINTRESOURCEA(offset);
    invocation.nShow = SW_SHOWNORMAL;
    return extension->InvokeCommand(&invocation);
}

void CopyInto(const std::string& from, const std::string& to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
}

std::string BuildArchive(const std::string& name) {
    return HostPathToNative(std::string(SHELLEXT_ARCHIVE_DIR) + "/" + name);
}

// The menu option bits for the objects made while it lives.
class MenuOptions {
public:
    explicit MenuOptions(DWORD bits) { PutProfileInt("Shlext", "Settings", bits); }
    ~MenuOptions() {
        HKEY section = GetSectionKey("Shlext");
        if (section) {
            RegDeleteValueA(section, "Settings");
            RegCloseKey(section);
        }
    }
};

// A program image of 256 bytes (one section, raw data 128-255) followed by
// `tail`: the shape of a self-extractor as far as the menus look.
std::vector<uint8_t> ProgramWith(const std::string& tail, uint32_t rawOffset = 128, uint32_t rawSize = 128,
                                 uint32_t peOffset = 64) {
    std::vector<uint8_t> bytes(256, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    std::memcpy(&bytes[60], &peOffset, 4);
    if (peOffset == 64) {
        std::memcpy(&bytes[64], "PE\0\0", 4);
        bytes[68] = 0x4C;  // i386
        bytes[69] = 0x01;
        bytes[70] = 1;  // one section; no optional header
        std::memcpy(&bytes[88 + 16], &rawSize, 4);
        std::memcpy(&bytes[88 + 20], &rawOffset, 4);
    }
    for (char c : tail) bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

class ShellExtTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        OleInitialize(nullptr);
        InitCommonControls();
    }
    void SetUp() override {
        ASSERT_NE(Shell().module, nullptr) << DistPath("tesshell.dll");
        ASSERT_TRUE(Shell().getClassObject && Shell().canUnloadNow && Shell().registerServer &&
                    Shell().unregisterServer);
        ArcSetPromptHandler(&kQuietAnswers);
        work_ = scratch_ / "work";
        CreateDirectoryA(work_.c_str(), nullptr);
        CreateDirectoryA((work_ + "\\sub").c_str(), nullptr);
        CopyInto(BuildArchive("shell-tree.zip"), work_ + "\\shell-tree.zip");
        CopyInto(BuildArchive("shell-plain.tar"), work_ + "\\plain.tar");
        WriteWholeFile(work_ + "\\notes.txt", std::string("some notes\r\n"));
        WriteWholeFile(work_ + "\\data.bin", std::string(3000, '\x5A'));
        WriteWholeFile(work_ + "\\README", std::string("read me"));
        WriteWholeFile(work_ + "\\sub\\inner.txt", std::string("inside\n"));
    }
    void TearDown() override {
        EXPECT_TRUE(WaitUntilUnloadable()) << "objects or commands still alive";
        ArcSetPromptHandler(nullptr);
    }
    std::string In(const std::string& name) const { return work_ + "\\" + name; }

    ScratchFolder scratch_;
    std::string work_;
};

// --- class objects and the object count ---

TEST_F(ShellExtTest, ClassObjectsForBothClassesOnly) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(Shell().getClassObject(kOtherClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    for (const CLSID* clsid : {&kShellExtClsid, &kFindArchivesClsid}) {
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(Shell().getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(unknown.put())), S_OK);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(Shell().getClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
        EXPECT_EQ(Shell().canUnloadNow(), S_FALSE) << "a factory is alive";
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        ComPtr<IUnknown> object;
        EXPECT_EQ(factory->CreateInstance(unknown.get(), IID_IUnknown, reinterpret_cast<void**>(object.put())),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(object.get(), nullptr);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(object.put())), S_OK);
        ComPtr<IShellExtInit> init;
        ComPtr<IShellPropSheetExt> sheet;
        const bool shellExt = clsid == &kShellExtClsid;
        EXPECT_EQ(object.As(IID_IShellExtInit, &init), shellExt ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(object.As(IID_IShellPropSheetExt, &sheet), shellExt ? S_OK : E_NOINTERFACE);
        ComPtr<IDispatch> dispatch;
        EXPECT_EQ(object.As(IID_IDispatch, &dispatch), E_NOINTERFACE);
        factory.reset();
        unknown.reset();
        EXPECT_EQ(Shell().canUnloadNow(), S_FALSE) << "an object is alive";
        object.reset();
        init.reset();
        sheet.reset();
        EXPECT_EQ(Shell().canUnloadNow(), S_OK);
    }
}

TEST_F(ShellExtTest, InitializeWantsTheShellsItemList) {
    auto init = NewObject<IShellExtInit>(kShellExtClsid, IID_IShellExtInit);
    ASSERT_TRUE(init);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_FAIL);
    // A data object with only text on it.
    MemoryDataObject text;
    text.Put(CF_TEXT, "text", 5);
    EXPECT_EQ(init->Initialize(nullptr, &text, nullptr), E_FAIL);
    // A damaged item list: offsets past its block. No items, no crash.
    const UINT damaged[] = {2, 12, 4000, 0x7FFFFFF0u};
    text.Put(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Shell IDList Array")), damaged, sizeof damaged);
    EXPECT_EQ(init->Initialize(nullptr, &text, nullptr), S_OK);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(init.As(IID_IContextMenu, &menu), S_OK);
    ExpectMenu(Show(menu.get()), {});
    init.reset();
    menu.reset();
    EXPECT_EQ(Show(MenuExtensionFor({In("notes.txt")}).get()).lines.size(), 4u);
}

// --- the context menu ---

TEST_F(ShellExtTest, ContextMenuOfArchives) {
    const std::string zip = In("shell-tree.zip");
    ExpectMenu(Show(MenuExtensionFor({zip}).get()),
               {"-", "Extract &to...", ExtractToLabel(In("shell-tree")), "&Create shell-tree.exe", "-"});
    // TAR: extraction only.
    ExpectMenu(Show(MenuExtensionFor({In("plain.tar")}).get()),
               {"-", "Extract &to...", ExtractToLabel(In("plain")), "-"});
    // The option bits choose among the items.
    {
        MenuOptions options(0x2);
        ExpectMenu(Show(MenuExtensionFor({zip}).get()), {"-", "&Create shell-tree.exe", "-"});
    }
    {
        MenuOptions options(0x10);
        ExpectMenu(Show(MenuExtensionFor({zip}).get()), {"-", "-"});
    }
    // The shell asking for the default item only gets none.
    ShownMenu defaultOnly = Show(MenuExtensionFor({zip}).get(), CMF_DEFAULTONLY);
    EXPECT_EQ(defaultOnly.result, S_OK);
    EXPECT_TRUE(defaultOnly.lines.empty());
}

TEST_F(ShellExtTest, ContextMenuOfFilesAndFolders) {
    struct Case {
        std::vector<std::string> selected;
        std::string target;  // "" for no "Add to" item
    };
    const Case cases[] = {
        {{"notes.txt"}, "notes.zip"},
        {{"README"}, "README.zip"},  // no extension: ".zip" appended
        {{"sub"}, "sub.zip"},
        {{"notes.txt", "data.bin", "sub"}, "work.zip"},  // several: named after their folder
        {{"shell-tree.zip", "plain.tar"}, "work.zip"},   // several archives are files to add
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        for (const std::string& name : c.selected) paths.push_back(In(name));
        SCOPED_TRACE(c.selected[0]);
        ExpectMenu(Show(MenuExtensionFor(paths).get()), {"-", "&Compress...", "&Add to " + c.target, "-"});
    }
    // Without option 0x10, only the closing separator and no ids.
    MenuOptions options(0);
    ExpectMenu(Show(MenuExtensionFor({In("notes.txt")}).get()), {"-"});
    ExpectMenu(Show(MenuExtensionFor({In("shell-tree.zip")}).get()), {"-", "-"});
}

// The engine takes names in the ANSI code page: a selection with a name
// outside it gets no items rather than commands on the wrong files.
TEST_F(ShellExtTest, NamesOutsideTheCodePageGetNoItems) {
    const std::wstring wideName = L"\u4E2D\u6587 \u0416.txt";
    char narrow[MAX_PATH];
    BOOL replaced = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wideName.c_str(), -1, narrow, MAX_PATH, nullptr, &replaced);
    if (!replaced) GTEST_SKIP() << "the ANSI code page holds the name";
    std::wstring folder(work_.begin(), work_.end());
    tessera::win32::FileHandle file(CreateFileW((folder + L"\\" + wideName).c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    file.reset();
    // The item list names it; the data object comes from the folder.
    ComPtr<IShellFolder> desktop, shellFolder;
    ASSERT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
    tessera::win32::TaskMemory<ITEMIDLIST> folderList(ILCreateFromPathA(work_.c_str()));
    ASSERT_EQ(desktop->BindToObject(folderList.get(), nullptr, IID_IShellFolder,
                                    reinterpret_cast<void**>(shellFolder.put())),
              S_OK);
    for (bool withPlainFile : {false, true}) {
        std::wstring name = wideName;
        std::vector<tessera::win32::TaskMemory<ITEMIDLIST>> lists;
        std::vector<PCUITEMID_CHILD> children;
        for (const std::wstring& child : withPlainFile ? std::vector<std::wstring>{name, L"notes.txt"}
                                                       : std::vector<std::wstring>{name}) {
            PIDLIST_RELATIVE list = nullptr;
            ASSERT_EQ(shellFolder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(child.c_str()), nullptr,
                                                    &list, nullptr),
                      S_OK);
            lists.emplace_back(list);
            children.push_back(reinterpret_cast<PCUITEMID_CHILD>(list));
        }
        ComPtr<IDataObject> data;
        ASSERT_EQ(shellFolder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(),
                                             IID_IDataObject, nullptr, reinterpret_cast<void**>(data.put())),
                  S_OK);
        auto init = NewObject<IShellExtInit>(kShellExtClsid, IID_IShellExtInit);
        ASSERT_EQ(init->Initialize(nullptr, data.get(), nullptr), S_OK);
        ComPtr<IContextMenu> menu;
        ASSERT_EQ(init.As(IID_IContextMenu, &menu), S_OK);
        ExpectMenu(Show(menu.get()), {});
    }
}

TEST_F(ShellExtTest, ProgramsAreArchivesOnlyWithAnArchiveAfterTheImage) {
    std::string aceHead(14, '\0');
    std::memcpy(&aceHead[7], "**ACE**", 7);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::vector<std::string> lines;  // %s: the program's stem
    };
    const std::vector<std::string> notArchive = {"-", "&Compress...", "&Add to %s.zip", "-"};
    const Case cases[] = {
        {"zipsfx", ProgramWith(std::string("PK\x03\x04", 4) + std::string(40, '\0')),
         {"Open with &Tessera", "-", "Extract &to...", "*", "&Convert to %s.zip", "-"}},
        {"cabsfx", ProgramWith("MSCF" + std::string(40, '\0')),
         {"Open with &Tessera", "-", "Extract &to...", "*", "&Convert to %s.cab", "-"}},
        // This system's configuration block between the image and the archive.
        {"acesfx", ProgramWith("TSFX" + std::string(60, 'x') + aceHead),
         {"Open with &Tessera", "-", "Extract &to...", "*", "&Convert to %s.ace", "-"}},
        {"plain", ProgramWith(""), notArchive},
        {"textafter", ProgramWith("just some text after the image"), notArchive},
        // Damaged headers: the PE header far outside the file, a section
        // that ends past the file's end, a file shorter than a DOS header.
        {"farheader", ProgramWith("PK\x03\x04", 128, 128, 0x7FFFFFF0u), notArchive},
        {"hugesection", ProgramWith("PK\x03\x04", 0xFFFFFF00u, 0xFFu), notArchive},
        {"tiny", {'M', 'Z', 0, 0}, notArchive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = In(std::string(c.name) + ".exe");
        WriteWholeFile(path, c.bytes.data(), c.bytes.size());
        std::vector<std::string> lines;
        for (const std::string& line : c.lines) {
            if (line == "*") lines.push_back(ExtractToLabel(In(c.name)));
            else lines.push_back(Label(line.c_str(), c.name));
        }
        ExpectMenu(Show(MenuExtensionFor({path}).get()), lines);
    }
}

TEST_F(ShellExtTest, RealSelfExtractorIsRecognised) {
    TESSERA_REQUIRE_CORPUS();
    const std::string path = In("rarsfx.exe");
    CopyInto(CorpusPath("sfx/rar29_sfx_win32.exe"), path);
    // RAR archives are read only: no conversion offered.
    ExpectMenu(Show(MenuExtensionFor({path}).get()),
               {"Open with &Tessera", "-", "Extract &to...", ExtractToLabel(In("rarsfx")), "-"});
}

TEST_F(ShellExtTest, HelpTextsAndVerbs) {
    auto menu = MenuExtensionFor({In("shell-tree.zip")});
    ASSERT_TRUE(menu);
    ASSERT_EQ(Show(menu.get()).lines.size(), 5u);
    char text[512];
    struct Case {
        UINT offset;
        UINT kind;
        HRESULT result;
        std::string text;
    };
    const Case cases[] = {
        {0, GCS_HELPTEXTA, S_OK, "Extracts all files in the archive."},
        {1, GCS_HELPTEXTA, S_OK, "Extracts all files to: " + In("shell-tree")},
        {2, GCS_HELPTEXTA, S_OK, "Creates the self-extracting archive: " + In("shell-tree.exe")},
        {1, GCS_VERBA, S_OK, "tessera.extracttofolder"},
        {3, GCS_HELPTEXTA, E_INVALIDARG, ""},  // no such command
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        std::strcpy(text, "unchanged");
        EXPECT_EQ(menu->GetCommandString(c.offset, c.kind, nullptr, text, sizeof text), c.result);
        if (c.result == S_OK) {
            EXPECT_EQ(std::string(text), c.text);
        }
    }
    wchar_t wide[512] = L"";
    EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 512), S_OK);
    EXPECT_EQ(std::wstring(wide), L"Extracts all files in the archive.");
    // A buffer too small for the text.
    EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, text, 10), E_INVALIDARG);
    // A verb given as text that is not one of the menu's.
    CMINVOKECOMMANDINFO invocation = {};
    invocation.cbSize = sizeof invocation;
    invocation.lpVerb = "open";
    EXPECT_EQ(menu->InvokeCommand(&invocation), E_INVALIDARG);
    EXPECT_EQ(Invoke(menu.get(), 7), E_INVALIDARG);
}

// --- the drag menu ---

TEST_F(ShellExtTest, DragMenu) {
    const std::string drop = scratch_ / "drop";
    ASSERT_TRUE(CreateDirectoryA(drop.c_str(), nullptr));
    ExpectMenu(Show(MenuExtensionFor({In("shell-tree.zip")}, drop).get()),
               {"Extract &here", ExtractToLabel(drop + "\\shell-tree"), "&Create shell-tree.exe", "-"});
    ExpectMenu(Show(MenuExtensionFor({In("notes.txt")}, drop).get()), {"&Create notes.zip here", "-"});
    ExpectMenu(Show(MenuExtensionFor({In("notes.txt"), In("sub")}, drop).get()), {"&Create work.zip here", "-"});
    MenuOptions options(0x1);
    ExpectMenu(Show(MenuExtensionFor({In("notes.txt")}, drop).get()), {});
}

// --- commands through the engine ---

TEST_F(ShellExtTest, ExtractHereAndToFolderWriteTheArchivesFiles) {
    const FileMap expected = FilesBelow(BuildArchive("shell-tree.reference"));
    ASSERT_EQ(expected.size(), 3u);
    tessera::testing::OwnerWindow owner;
    const std::string drop = scratch_ / "drop";
    ASSERT_TRUE(CreateDirectoryA(drop.c_str(), nullptr));
    {
        auto menu = MenuExtensionFor({In("shell-tree.zip")}, drop);
        ASSERT_EQ(Show(menu.get()).lines, (std::vector<std::string>{"Extract &here", ExtractToLabel(drop + "\\shell-tree"), "&Create shell-tree.exe", "-"}));
        EXPECT_EQ(Invoke(menu.get(), 0, 0, owner.Handle()), S_OK);
    }
    ASSERT_TRUE(WaitUntilUnloadable());
    EXPECT_EQ(FilesBelow(drop), expected);
    {
        // This time by the item's verb.
        auto menu = MenuExtensionFor({In("shell-tree.zip")});
        ASSERT_EQ(Show(menu.get()).lines.size(), 5u);
        CMINVOKECOMMANDINFO invocation = {};
        invocation.cbSize = sizeof invocation;
        invocation.hwnd = owner.Handle();
        invocation.lpVerb = "tessera.extracttofolder";
        EXPECT_EQ(menu->InvokeCommand(&invocation), S_OK);
    }
    ASSERT_TRUE(WaitUntilUnloadable());
    EXPECT_EQ(FilesBelow(In("shell-tree")), expected);
}

TEST_F(ShellExtTest, AddToMakesAZipOfTheSelection) {
    tessera::testing::OwnerWindow owner;
    {
        auto menu = MenuExtensionFor({In("notes.txt"), In("data.bin"), In("sub")});
        ASSERT_EQ(Show(menu.get()).lines, (std::vector<std::string>{"-", "&Compress...", "&Add to work.zip", "-"}));
        EXPECT_EQ(Invoke(menu.get(), 1, 0, owner.Handle()), S_OK);
    }
    ASSERT_TRUE(WaitUntilUnloadable());
    const std::string target = scratch_ / "work.zip";
    std::vector<std::string> names;
    {
        OpenedArchive archive(target);
        ASSERT_EQ(archive.created, S_OK);
        ASSERT_EQ(archive.List(), S_OK);
        names = archive.Names();
        EXPECT_TRUE(SUCCEEDED(archive.Test())) << archive.log;
        ComPtr<IArchiveOutcome> outcome;
        ASSERT_EQ(archive.object->QueryInterface(IID_IArchiveOutcome, reinterpret_cast<void**>(outcome.put())), S_OK);
        ARCOUTCOME counts = {};
        counts.cbSize = sizeof counts;
        ASSERT_EQ(outcome->GetOutcome(&counts), S_OK);
        EXPECT_EQ(counts.processed, 3u);
        EXPECT_EQ(counts.failed + counts.skipped + counts.damaged, 0u);
    }
    ArcSetPromptHandler(&kQuietAnswers);
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"data.bin", "notes.txt", "sub/inner.txt"}));
    // unzip checks it after this program (peers.sh).
    std::filesystem::create_directories(HostPathToNative(SHELLEXT_PEER_DIR));
    const std::string peer = HostPathToNative(std::string(SHELLEXT_PEER_DIR) + "/add-several");
    CopyInto(target, peer + ".zip");
    std::string list;
    for (const std::string& name : names) list += name + "\n";
    WriteWholeFile(peer + ".names", list);

    // The drag menu's "Create ... here" adds into the drop folder.
    const std::string drop = scratch_ / "drop";
    ASSERT_TRUE(CreateDirectoryA(drop.c_str(), nullptr));
    {
        auto menu = MenuExtensionFor({In("README")}, drop);
        ASSERT_EQ(Show(menu.get()).lines, (std::vector<std::string>{"&Create README.zip here", "-"}));
        EXPECT_EQ(Invoke(menu.get(), 0, 0, owner.Handle()), S_OK);
    }
    ASSERT_TRUE(WaitUntilUnloadable());
    OpenedArchive created(drop + "\\README.zip");
    ASSERT_EQ(created.created, S_OK);
    ASSERT_EQ(created.List(), S_OK);
    EXPECT_EQ(created.Names(), std::vector<std::string>{"README"});
}

TEST_F(ShellExtTest, SelfExtractorIsExtractedAndConvertedBack) {
    // A program image with the ZIP archive after it.
    std::vector<uint8_t> program = ProgramWith("");
    const std::vector<uint8_t> zip = ReadWholeFile(BuildArchive("shell-tree.zip"));
    program.insert(program.end(), zip.begin(), zip.end());
    const std::string sfx = In("tree-sfx.exe");
    WriteWholeFile(sfx, program.data(), program.size());
    tessera::testing::OwnerWindow owner;
    {
        auto menu = MenuExtensionFor({sfx});
        ASSERT_EQ(Show(menu.get()).lines,
                  (std::vector<std::string>{"Open with &Tessera", "-", "Extract &to...", ExtractToLabel(In("tree-sfx")),
                                            "&Convert to tree-sfx.zip", "-"}));
        EXPECT_EQ(Invoke(menu.get(), 2, 0, owner.Handle()), S_OK);
        EXPECT_EQ(Invoke(menu.get(), 3, 0, owner.Handle()), S_OK);
    }
    ASSERT_TRUE(WaitUntilUnloadable());
    EXPECT_EQ(FilesBelow(In("tree-sfx")), FilesBelow(BuildArchive("shell-tree.reference")));
    ArcSetPromptHandler(&kQuietAnswers);
    OpenedArchive converted(In("tree-sfx.zip"));
    ASSERT_EQ(converted.created, S_OK);
    ASSERT_EQ(converted.List(), S_OK) << converted.log;
    EXPECT_EQ(converted.Names().size(), 3u);
    const std::vector<uint8_t> bytes = ReadWholeFile(In("tree-sfx.zip"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::memcmp(bytes.data(), "PK\x03\x04", 4), 0) << "the program image is gone";
}

// --- the property page ---

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages) {
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

std::vector<HPROPSHEETPAGE> PagesFor(const std::string& path) {
    auto sheet = NewObject<IShellExtInit>(kShellExtClsid, IID_IShellExtInit);
    ComPtr<IDataObject> data = DataObjectOf({path});
    if (!sheet || !data) return {};
    EXPECT_EQ(sheet->Initialize(nullptr, data.get(), nullptr), S_OK);
    ComPtr<IShellPropSheetExt> pages;
    EXPECT_EQ(sheet.As(IID_IShellPropSheetExt, &pages), S_OK);
    std::vector<HPROPSHEETPAGE> added;
    EXPECT_EQ(pages->AddPages(CollectPage, reinterpret_cast<LPARAM>(&added)), S_OK);
    EXPECT_EQ(pages->ReplacePage(0, CollectPage, 0), E_FAIL);
    return added;
}

// A modeless sheet of one page; the page's window.
HWND OpenSheet(HPROPSHEETPAGE page, HWND* sheet) {
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS;
    header.pszCaption = "Properties";
    header.nPages = 1;
    header.phpage = &page;
    *sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    PumpMessages();
    return *sheet ? PropSheet_GetCurrentPageHwnd(*sheet) : nullptr;
}

std::string ItemText(HWND dialog, int id) {
    char text[4096] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string CommentOf(const std::string& path) {
    OpenedArchive archive(path);
    char comment[1024] = "";
    if (archive.object) archive.object->GetComment(nullptr, comment, sizeof comment);
    return comment;
}

TEST_F(ShellExtTest, CommentPageShowsAndWritesTheComment) {
    const std::string zip = In("shell-tree.zip");
    std::vector<HPROPSHEETPAGE> pages = PagesFor(zip);
    ASSERT_EQ(pages.size(), 1u);
    HWND sheet = nullptr;
    HWND page = OpenSheet(pages[0], &sheet);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ItemText(page, 1001), "made for the menu tests");
    EXPECT_EQ(ItemText(page, 1002), "23 character(s)");
    EXPECT_FALSE(GetWindowLongA(GetDlgItem(page, 1001), GWL_STYLE) & ES_READONLY);
    EXPECT_FALSE(SendDlgItemMessageA(page, 1001, EM_GETMODIFY, 0, 0));

    // As typed: the edit tells its page of the change.
    SendDlgItemMessageA(page, 1001, EM_SETSEL, 0, -1);
    SendDlgItemMessageA(page, 1001, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("a new comment"));
    SendDlgItemMessageA(page, 1001, EM_SETMODIFY, TRUE, 0);
    PumpMessages();
    EXPECT_EQ(ItemText(page, 1002), "13 character(s)");
    PropSheet_Apply(sheet);
    PumpMessages();
    EXPECT_FALSE(SendDlgItemMessageA(page, 1001, EM_GETMODIFY, 0, 0)) << "written: unmodified again";
    DestroyWindow(sheet);
    PumpMessages();
    ArcSetPromptHandler(&kQuietAnswers);
    EXPECT_EQ(CommentOf(zip), "a new comment");
    ArcSetPromptHandler(&kQuietAnswers);
    // The archive still reads whole.
    OpenedArchive archive(zip);
    ASSERT_EQ(archive.List(), S_OK);
    EXPECT_EQ(archive.Names().size(), 3u);
}

TEST_F(ShellExtTest, CommentThatCannotBeWrittenKeepsThePage) {
    const std::string zip = In("shell-tree.zip");
    std::vector<HPROPSHEETPAGE> pages = PagesFor(zip);
    ASSERT_EQ(pages.size(), 1u);
    HWND sheet = nullptr;
    HWND page = OpenSheet(pages[0], &sheet);
    ASSERT_NE(page, nullptr);
    SendDlgItemMessageA(page, 1001, EM_SETSEL, 0, -1);
    SendDlgItemMessageA(page, 1001, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("never written"));
    SendDlgItemMessageA(page, 1001, EM_SETMODIFY, TRUE, 0);
    const std::vector<uint8_t> before = ReadWholeFile(zip);
    {
        // Another program has the archive open and shares it with nobody.
        tessera::win32::FileHandle held(
            CreateFileA(zip.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        PropSheet_Apply(sheet);
        PumpMessages();
    }
    EXPECT_TRUE(SendDlgItemMessageA(page, 1001, EM_GETMODIFY, 0, 0)) << "still modified";
    EXPECT_EQ(PropSheet_GetCurrentPageHwnd(sheet), page);
    DestroyWindow(sheet);
    PumpMessages();
    EXPECT_EQ(ReadWholeFile(zip), before);
}

// A damaged archive is judged by its name for the menu; its page opens with
// an empty comment.
TEST_F(ShellExtTest, DamagedArchiveIsHandledLikeAnyOther) {
    const std::string zip = In("damaged.zip");
    std::string bytes(70000, '\0');
    for (size_t index = 0; index < bytes.size(); ++index) bytes[index] = static_cast<char>(index * 7919 >> 3);
    std::memcpy(&bytes[bytes.size() - 22], "PK\x05\x06", 4);  // an end record pointing nowhere
    WriteWholeFile(zip, bytes);
    ExpectMenu(Show(MenuExtensionFor({zip}).get()),
               {"-", "Extract &to...", ExtractToLabel(In("damaged")), "&Create damaged.exe", "-"});
    std::vector<HPROPSHEETPAGE> pages = PagesFor(zip);
    ASSERT_EQ(pages.size(), 1u);
    HWND sheet = nullptr;
    HWND page = OpenSheet(pages[0], &sheet);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ItemText(page, 1001), "");
    EXPECT_EQ(ItemText(page, 1002), "0 character(s)");
    DestroyWindow(sheet);
    PumpMessages();
}

TEST_F(ShellExtTest, CommentPageOnlyForArchivesWithComments) {
    EXPECT_TRUE(PagesFor(In("plain.tar")).empty());
    EXPECT_TRUE(PagesFor(In("notes.txt")).empty());
}

TEST_F(ShellExtTest, CommentPageIsReadOnlyWhereTheFormatCannotWriteOne) {
    TESSERA_REQUIRE_CORPUS();
    const std::string ace = In("commented.ace");
    CopyInto(CorpusPath("ace/ace10_lz77_archive_and_file_comment.ace"), ace);
    const std::vector<uint8_t> before = ReadWholeFile(ace);
    std::vector<HPROPSHEETPAGE> pages = PagesFor(ace);
    ASSERT_EQ(pages.size(), 1u);
    HWND sheet = nullptr;
    HWND page = OpenSheet(pages[0], &sheet);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(ItemText(page, 1001).empty());
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(page, 1001), GWL_STYLE) & ES_READONLY);
    SendDlgItemMessageA(page, 1001, EM_SETMODIFY, TRUE, 0);
    PropSheet_Apply(sheet);
    PumpMessages();
    DestroyWindow(sheet);
    PumpMessages();
    EXPECT_EQ(ReadWholeFile(ace), before);
}

// --- the Find extension ---

TEST_F(ShellExtTest, FindExtensionHasNoMenuOfItsOwn) {
    auto find = NewObject<IContextMenu>(kFindArchivesClsid, IID_IContextMenu);
    ASSERT_TRUE(find);
    tessera::win32::MenuHandle menu(CreatePopupMenu());
    EXPECT_EQ(find->QueryContextMenu(menu.get(), 0, 1, 10, CMF_NORMAL), E_NOTIMPL);
    char text[64];
    EXPECT_EQ(find->GetCommandString(0, GCS_HELPTEXTA, nullptr, text, sizeof text), E_NOTIMPL);
}

// --- the command lines tessera is started with ---

// A copy of the extension and its engine in a folder (or a subfolder of it,
// as the 64-bit library of the 32-bit product), with the recorder as the
// folder's tessera.exe.
class CopiedExtension {
public:
    explicit CopiedExtension(const std::string& folder, const std::string& subfolder = "") : folder_(folder) {
        CreateDirectoryA(folder.c_str(), nullptr);
        const std::string libraries = subfolder.empty() ? folder : folder + "\\" + subfolder;
        CreateDirectoryA(libraries.c_str(), nullptr);
        CopyInto(DistPath("tesshell.dll"), libraries + "\\tesshell.dll");
        CopyInto(DistPath("tescore.dll"), libraries + "\\tescore.dll");
        CopyInto(HostPathToNative(SHELLEXT_RECORDER), Program());
        module_ = LoadLibraryExA((libraries + "\\tesshell.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module_) {
            getClassObject = reinterpret_cast<GetClassObjectFunction>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllGetClassObject")));
            canUnloadNow_ = reinterpret_cast<HRESULT(WINAPI*)()>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllCanUnloadNow")));
        }
    }
    ~CopiedExtension() {
        if (!module_) return;
        for (int round = 0; round < 500 && canUnloadNow_() != S_OK; ++round) Sleep(20);
        FreeLibrary(module_);
    }
    bool Loaded() const { return module_ && getClassObject && canUnloadNow_; }
    std::string Program() const { return folder_ + "\\tessera.exe"; }

    // The program and the rest of the command line of the next start.
    std::pair<std::string, std::string> NextStart() const {
        const std::string record = Program() + ".args";
        for (int round = 0; round < 1500 && !FileExists(record); ++round) {
            PumpMessages();
            Sleep(20);
        }
        if (!FileExists(record)) return {"<not started>", ""};
        const std::vector<uint8_t> bytes = ReadWholeFile(record);
        DeleteFileA(record.c_str());
        const std::string line(bytes.begin(), bytes.end());
        size_t end = line[0] == '"' ? line.find('"', 1) : line.find(' ');
        if (end == std::string::npos) return {line, ""};
        std::string program = line[0] == '"' ? line.substr(1, end - 1) : line.substr(0, end);
        size_t rest = line.find_first_not_of(' ', end + (line[0] == '"' ? 1 : 0));
        return {program, rest == std::string::npos ? "" : line.substr(rest)};
    }

    GetClassObjectFunction getClassObject = nullptr;

private:
    std::string folder_;
    HMODULE module_ = nullptr;
    HRESULT(WINAPI* canUnloadNow_)() = nullptr;
};

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

TEST_F(ShellExtTest, TesseraStartsFromTheExtensionsFolderWithQuotedPaths) {
    CopiedExtension copy(scratch_ / "Tessera, a copy");
    ASSERT_TRUE(copy.Loaded());
    const std::string first = In("my file, one.txt");
    const std::string second = In("second file.txt");
    const std::string zip = In("an archive, v1.zip");
    WriteWholeFile(first, std::string("one"));
    WriteWholeFile(second, std::string("two"));
    CopyInto(BuildArchive("shell-tree.zip"), zip);
    struct Case {
        std::vector<std::string> selected;
        UINT offset;
        DWORD mask;
        std::string parameters;
    };
    const Case cases[] = {
        {{first, second}, 0, 0, "/a " + Quote(first) + " " + Quote(second)},                  // Compress...
        {{first, second}, 1, CMIC_MASK_SHIFT_DOWN,                                            // Add to, Shift held
         Quote("/a:" + work_ + ".zip") + " -h " + Quote(first) + " " + Quote(second)},
        {{zip}, 0, 0, "/e " + Quote(zip)},                                                     // Extract to...
        {{zip}, 2, 0, Quote("/s:" + In("an archive, v1.exe")) + " " + Quote(zip)},            // Create .exe
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameters);
        auto menu = MenuExtensionFor(c.selected, "", copy.getClassObject);
        ASSERT_TRUE(menu);
        ASSERT_GT(HRESULT_CODE(Show(menu.get()).result), static_cast<int>(c.offset));
        EXPECT_EQ(Invoke(menu.get(), c.offset, c.mask), S_OK);
        auto [program, parameters] = copy.NextStart();
        EXPECT_EQ(_stricmp(program.c_str(), copy.Program().c_str()), 0) << program;
        EXPECT_EQ(parameters, c.parameters);
    }
    // The Find extension opens the archive search.
    auto find = NewObject<IContextMenu>(kFindArchivesClsid, IID_IContextMenu, copy.getClassObject);
    ASSERT_TRUE(find);
    EXPECT_EQ(Invoke(find.get(), 0), S_OK);
    auto [program, parameters] = copy.NextStart();
    EXPECT_EQ(_stricmp(program.c_str(), copy.Program().c_str()), 0) << program;
    EXPECT_EQ(parameters, "/F");
}

TEST_F(ShellExtTest, TheLibraryInAnX64FolderStartsTheTesseraAboveIt) {
    CopiedExtension copy(scratch_ / "Tessera", "x64");
    ASSERT_TRUE(copy.Loaded());
    auto find = NewObject<IContextMenu>(kFindArchivesClsid, IID_IContextMenu, copy.getClassObject);
    ASSERT_TRUE(find);
    EXPECT_EQ(Invoke(find.get(), 0), S_OK);
    auto [program, parameters] = copy.NextStart();
    EXPECT_EQ(_stricmp(program.c_str(), copy.Program().c_str()), 0) << program;
}

// --- registration ---

using RegistryDump = std::map<std::string, std::string>;

void DumpKey(HKEY parent, const std::string& path, RegistryDump& dump) {
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    dump[path] = "";
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD nameSize = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data, type = 0;
        LSTATUS status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS)
            dump[path + "\\[" + name + "]"] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataSize);
    }
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& name : subkeys) DumpKey(parent, path + "\\" + name, dump);
}

// What registration touches: the classes and the Explorer keys of both hives.
RegistryDump DumpRegistration() {
    RegistryDump dump;
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegistryDump part;
        DumpKey(hive, "Software\\Classes", part);
        DumpKey(hive, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer", part);
        for (auto& [key, value] : part) dump[(hive == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\") + key] = value;
    }
    return dump;
}

std::string ReadValue(HKEY hive, const std::string& path, const char* name) {
    char data[1024] = "";
    DWORD size = sizeof data;
    if (RegGetValueA(hive, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return "<none>";
    return data;
}

void ExpectRegistered(HKEY hive) {
    const std::string classes = "Software\\Classes\\";
    const std::string shellExt = "{B4EF89C1-8BE3-11D2-B601-008048EF14D8}";
    const std::string findExt = "{D46376C0-4AE9-11D3-9250-008048EF14D8}";
    for (const std::string& clsid : {shellExt, findExt}) {
        const std::string server = classes + "CLSID\\" + clsid + "\\InprocServer32";
        EXPECT_EQ(_stricmp(ReadValue(hive, server, nullptr).c_str(), DistPath("tesshell.dll").c_str()), 0)
            << ReadValue(hive, server, nullptr);
        EXPECT_EQ(ReadValue(hive, server, "ThreadingModel"), "Apartment");
    }
    for (const char* handler : {"*\\shellex\\ContextMenuHandlers", "Directory\\shellex\\ContextMenuHandlers",
                                "Directory\\shellex\\DragDropHandlers", "Drive\\shellex\\DragDropHandlers",
                                "SystemFileAssociations\\.zip\\shellex\\PropertySheetHandlers",
                                "SystemFileAssociations\\.ace\\shellex\\PropertySheetHandlers"})
        EXPECT_EQ(ReadValue(hive, classes + handler + "\\Tessera", nullptr), shellExt) << handler;
    EXPECT_EQ(ReadValue(hive, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static\\TesseraFindArchives", nullptr),
              findExt);
}

bool ProcessIsElevated() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

// regsvr32 of the system folder on `library` (or, with `wow64`, the 32-bit
// one of a 64-bit system); its exit code.
DWORD RunRegsvr32(const std::string& arguments, const std::string& library = DistPath("tesshell.dll"),
                  bool wow64 = false) {
    char system[MAX_PATH] = "";
    if (wow64) GetSystemWow64DirectoryA(system, MAX_PATH);
    else GetSystemDirectoryA(system, MAX_PATH);
    std::string program = std::string(system) + "\\regsvr32.exe";
    std::string commandLine = "regsvr32.exe " + arguments + " \"" + library + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 0xFFFFFFFFu;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFFu;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST_F(ShellExtTest, Regsvr32WritesAndRemovesExactlyTheKeys) {
    const RegistryDump before = DumpRegistration();
    ASSERT_EQ(RunRegsvr32("/s"), 0u);
    ExpectRegistered(ProcessIsElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    const RegistryDump registered = DumpRegistration();
    EXPECT_GT(registered.size(), before.size());
    // A second registration changes nothing.
    ASSERT_EQ(RunRegsvr32("/s"), 0u);
    EXPECT_EQ(DumpRegistration(), registered);
    ASSERT_EQ(RunRegsvr32("/u /s"), 0u);
    EXPECT_EQ(DumpRegistration(), before);
}

// On a 64-bit system both libraries are registered side by side; either may
// be unregistered first without taking the shell keys from the other, and
// after both nothing is left.
TEST_F(ShellExtTest, BothArchitecturesSideBySide) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "the 64-bit test registers both";
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    const std::string library32 = HostPathToNative(std::string(binary ? binary : ".") + "/../i686/dist/tesshell.dll");
    char wow64[MAX_PATH] = "";
    if (!FileExists(library32) || GetSystemWow64DirectoryA(wow64, MAX_PATH) == 0)
        GTEST_SKIP() << "no 32-bit build beside this one, or no 32-bit side of the system";
    const HKEY hive = ProcessIsElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::string handler = "Software\\Classes\\*\\shellex\\ContextMenuHandlers\\Tessera";
    const RegistryDump before = DumpRegistration();
    for (bool sixtyFourFirst : {true, false}) {
        SCOPED_TRACE(sixtyFourFirst ? "64-bit unregistered first" : "32-bit unregistered first");
        ASSERT_EQ(RunRegsvr32("/s"), 0u);
        ASSERT_EQ(RunRegsvr32("/s", library32, true), 0u);
        ExpectRegistered(hive);
        ASSERT_EQ(RunRegsvr32("/u /s", sixtyFourFirst ? DistPath("tesshell.dll") : library32, !sixtyFourFirst), 0u);
        // The one left still has its handlers.
        EXPECT_EQ(ReadValue(hive, handler, nullptr), "{B4EF89C1-8BE3-11D2-B601-008048EF14D8}");
        ASSERT_EQ(RunRegsvr32("/u /s", sixtyFourFirst ? library32 : DistPath("tesshell.dll"), sixtyFourFirst), 0u);
        EXPECT_EQ(DumpRegistration(), before);
    }
}

// A thread running with the caller's limited token registers for the user.
TEST_F(ShellExtTest, NotElevatedRegistersForTheUserOnly) {
    HANDLE process;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process));
    HANDLE limited = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (ProcessIsElevated() &&
        GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size) && linked.LinkedToken) {
        // The linked token may come at identification level only; the
        // extension only queries the token it runs with.
        if (!DuplicateToken(linked.LinkedToken, SecurityImpersonation, &limited)) limited = linked.LinkedToken;
        else CloseHandle(linked.LinkedToken);
    } else if (!ProcessIsElevated()) {
        DuplicateToken(process, SecurityImpersonation, &limited);
    }
    CloseHandle(process);
    if (!limited) GTEST_SKIP() << "no limited token to run with (elevated " << ProcessIsElevated() << ", error " << GetLastError() << ")";
    const RegistryDump before = DumpRegistration();
    ASSERT_TRUE(SetThreadToken(nullptr, limited));
    const HRESULT registered = Shell().registerServer();
    RevertToSelf();
    ASSERT_EQ(registered, S_OK);
    ExpectRegistered(HKEY_CURRENT_USER);
    const RegistryDump after = DumpRegistration();
    for (const auto& [key, value] : after)
        if (!before.count(key)) {
            EXPECT_EQ(key.rfind("HKCU\\", 0), 0u) << key;
        }
    ASSERT_TRUE(SetThreadToken(nullptr, limited));
    const HRESULT unregistered = Shell().unregisterServer();
    RevertToSelf();
    CloseHandle(limited);
    EXPECT_EQ(unregistered, S_OK);
    EXPECT_EQ(DumpRegistration(), before);
}

}  // namespace
