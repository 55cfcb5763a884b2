// The archive commands in-process under Wine. A test window stands in for
// the explorer window (TestHost implements CommandHost with a list of the
// archive's entries and the engine's folder tree); each modal dialog is
// answered by a script of steps that a thread timer runs as soon as a
// dialog with the step's title is up, through the dialog's own controls.
// Archives come from make_command_archives.py (Python's zipfile) or are
// written by the commands; the Add tests also leave copies for unzip
// (peers.sh). Settings go to a key of this process (HKEY_CURRENT_USER is
// redirected), reset before every test.
#include "add_dialog.h"
#include "add_file_list.h"
#include "add_rows.h"
#include "command_ids.h"
#include "commands.h"
#include "engine_session.h"
#include "extract_dialogs.h"
#include "saved_selections.h"
#include "tescore.h"
#include "private_registry.h"
#include "test_files.h"

#include <commctrl.h>
#include <dlgs.h>
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

using tescommands::CommandHost;
using tessera::testing::FileExists;
using tessera::testing::FilesBelow;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

namespace {

using Names = std::set<std::string>;

std::string ArchiveFixture(const char* name) {
    return tessera::testing::HostPathToNative(std::string(COMMAND_ARCHIVE_DIR) + "/" + name);
}

// --- answering dialogs ---

struct Step {
    std::string title;                // caption of the dialog the step waits for
    std::function<void(HWND)> act;    // what it does there
};

std::deque<Step> g_steps;
std::vector<std::string> g_unanswered;  // titles of dialogs the script had to close
int g_idleTicks = 0;

struct FindContext {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM lParam) {
    FindContext* context = reinterpret_cast<FindContext*>(lParam);
    char className[32], title[256];
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && !strcmp(className, "#32770") && (!context->title || context->title == std::string(title))) {
        context->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog of this thread with that caption (any, with null); the
// title kMenu finds an open popup menu instead.
const char kMenu[] = "#menu";

BOOL CALLBACK FindMenuProc(HWND window, LPARAM lParam) {
    char className[32];
    GetClassNameA(window, className, sizeof className);
    // Menus of other test programs on the same display are not ours.
    if (IsWindowVisible(window) && !strcmp(className, "#32768") &&
        GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog(const char* title) {
    if (title && !strcmp(title, kMenu)) {
        HWND menu = nullptr;
        EnumWindows(FindMenuProc, reinterpret_cast<LPARAM>(&menu));
        return menu;
    }
    FindContext context = {title, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindDialogProc, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_steps.empty()) {
        // A dialog nobody expected: note it and close it, so a wrong
        // script fails instead of hanging.
        if (HWND stray = FindDialog(nullptr); stray && ++g_idleTicks > 100) {
            char title[256];
            GetWindowTextA(stray, title, sizeof title);
            g_unanswered.push_back(title);
            PostMessageA(stray, WM_COMMAND, IDCANCEL, 0);
            g_idleTicks = 0;
        }
        return;
    }
    HWND dialog = FindDialog(g_steps.front().title.c_str());
    if (!dialog) {
        if (++g_idleTicks > 200) {  // the expected dialog never came
            g_unanswered.push_back("never shown: " + g_steps.front().title);
            g_steps.pop_front();
            g_idleTicks = 0;
        }
        return;
    }
    g_idleTicks = 0;
    Step step = g_steps.front();
    g_steps.pop_front();
    step.act(dialog);
}

void Script(std::vector<Step> steps) {
    g_steps.assign(steps.begin(), steps.end());
    g_idleTicks = 0;
}

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
// A check box or radio button clicked the way a user does (state and
// notification).
void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
void SetCheck(HWND dialog, int id, bool on) {
    if ((IsDlgButtonChecked(dialog, id) == BST_CHECKED) != on) Click(dialog, id);
}
bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool IsEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
std::string TextOf(HWND dialog, int id) {
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
// Types text into an edit or combo box and tells the dialog, as typing does.
void Type(HWND dialog, int id, const std::string& text, WORD notification) {
    SetDlgItemTextA(dialog, id, text.c_str());
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
// The text of a message box ("Tessera").
std::string MessageText(HWND box) { return TextOf(box, 0xFFFF); }

Step Answer(const char* title, int button, std::string* text = nullptr) {
    return {title, [button, text](HWND dialog) {
                if (text) *text = MessageText(dialog);
                Press(dialog, button);
            }};
}

// --- the stand-in for the explorer window ---

const char kWindowClass[] = "TescommandsTestWindow";

class TestHost : public CommandHost {
public:
    TestHost() {
        window_ = CreateWindowExA(0, kWindowClass, "commands test", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        list_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 0, 0, 500, 300, window_, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
        LVCOLUMNA column = {};
        column.mask = LVCF_WIDTH;
        column.cx = 200;
        SendMessageA(list_, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        settings_.tempFolder = TempFolder();
        settings_.storeOnlyList = ".z:.zip:.zoo:.arc:.lzh:.arj:.rar";
        settings_.modifyTime = TRUE;
        settings_.exploreExtractFolder = true;
    }
    ~TestHost() override {
        Close();
        DestroyWindow(window_);
    }

    static std::string TempFolder() {
        char path[MAX_PATH];
        GetTempPathA(MAX_PATH, path);
        return path;
    }

    bool Open(const std::string& path) {
        Close();
        if (FAILED(ArcCreateObject(window_, path.c_str(), &archive_)) || !archive_) return false;
        if (archive_->List(window_) != S_OK) return false;
        Fill();
        return true;
    }

    void Close() {
        ListView_DeleteAllItems(list_);
        if (root_) root_->Release();
        root_ = nullptr;
        folder_ = nullptr;
        if (archive_) archive_->Release();
        archive_ = nullptr;
    }

    // The list holds every entry (item data = entry number); these get
    // selected.
    void SelectNames(const Names& names) {
        for (int i = 0; i < ListView_GetItemCount(list_); ++i) {
            char text[MAX_PATH];
            ListView_GetItemText(list_, i, 0, text, sizeof text);
            ListView_SetItemState(list_, i, names.count(text) ? LVIS_SELECTED : 0, LVIS_SELECTED);
        }
    }

    // The tree's selected folder: "" for the root, else a folder name
    // below the root; nullptr for none (flat mode).
    IArchiveFolder* SelectFolder(const char* name) {
        folder_ = nullptr;
        if (!name) return nullptr;
        if (!root_) {
            IUnknown* tree = nullptr;
            if (FAILED(archive_->GetFolderTree(&tree)) || !tree) return nullptr;
            tree->QueryInterface(IID_IArchiveFolder, reinterpret_cast<void**>(&root_));
            tree->Release();
        }
        if (!*name) return folder_ = root_;
        IEnumArchiveFolders* children = nullptr;
        if (!root_ || FAILED(root_->EnumFolders(0, &children))) return nullptr;
        IArchiveFolder* child = nullptr;
        ULONG fetched = 0;
        while (children->Next(1, &child, &fetched) == S_OK && fetched == 1) {
            if (!strcmp(child->GetName(), name)) folder_ = child;
            child->Release();  // the tree keeps it alive
        }
        children->Release();
        return folder_;
    }

    // CommandHost
    HWND Owner() override { return window_; }
    HINSTANCE Resources() override { return GetModuleHandleA(nullptr); }
    const tescommands::OperationSettings& Settings() override { return settings_; }
    ICompressFormat* Archive() override { return archive_; }
    bool HasSelectedEntries() override { return ListView_GetSelectedCount(list_) > 0; }
    bool BuildSelection(tesview::SelectionBuffer* selection) override { return selection->FromSelected(list_); }
    IArchiveFolder* SelectedFolder() override { return folder_; }
    HRESULT RunOperation(const tescommands::OperationCall& call, unsigned flags) override {
        ++operations;
        lastFlags = flags;
        log_.clear();
        archive_->SetMessageCallback(AppendLog, reinterpret_cast<LPARAM>(&log_));
        lastResult = call(archive_, window_);
        archive_->SetMessageCallback(nullptr, 0);
        if (lastResult >= 0 && (flags & tescommands::kRefreshOnSuccess)) {
            ++refreshes;
            if (archive_->List(window_) >= 0) Fill();
        }
        return lastResult;
    }
    std::string LogText() override { return log_; }
    bool AdoptArchive(ICompressFormat* object) override {
        Close();
        archive_ = object;
        ++adopted;
        return true;
    }
    bool OpenArchive(const char* path, bool) override {
        opened.push_back(path);
        return Open(path);
    }
    void ForgetArchive(const char* path) override {
        forgotten.push_back(path);
        Close();
    }
    void ExploreFolder(const char* folder) override { explored.push_back(folder); }

    tescommands::OperationSettings settings_;
    int operations = 0;
    unsigned lastFlags = 0;
    HRESULT lastResult = E_FAIL;
    int refreshes = 0;
    int adopted = 0;
    std::vector<std::string> opened, forgotten, explored;

private:
    static void CALLBACK AppendLog(ICompressFormat*, LPARAM user, LPCSTR text) {
        *reinterpret_cast<std::string*>(user) += text;
    }

    void Fill() {
        ListView_DeleteAllItems(list_);
        for (DWORD i = 0; i < archive_->GetEntryCount(); ++i) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = static_cast<int>(i);
            item.pszText = archive_->GetEntries()[i].name;
            item.lParam = static_cast<LPARAM>(i);
            SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
    }

    HWND window_ = nullptr;
    HWND list_ = nullptr;
    ICompressFormat* archive_ = nullptr;
    IArchiveFolder* root_ = nullptr;
    IArchiveFolder* folder_ = nullptr;
    std::string log_;
};

// Names of the entries of an archive, as the engine lists them.
Names EntryNames(const std::string& path) {
    tessera::testing::OpenedArchive archive(path);
    Names names;
    if (archive.List() < 0) return names;
    for (const std::string& name : archive.Names()) names.insert(name);
    return names;
}

Names FileNames(const std::string& root) {
    Names names;
    for (const auto& file : FilesBelow(root)) names.insert(file.first);
    return names;
}

// Leaves a copy of the archive and the names unzip must list (peers.sh).
void LeaveForUnzip(const std::string& archive, const char* name, const Names& expected,
                   const char* password = nullptr) {
    const std::string base = tessera::testing::HostPathToNative(std::string(COMMAND_PEER_DIR) + "/" + name);
    CreateDirectoryA(tessera::testing::HostPathToNative(COMMAND_PEER_DIR).c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(archive.c_str(), (base + ".zip").c_str(), FALSE));
    std::string lines;
    for (const std::string& entry : expected) lines += entry + "\n";
    WriteWholeFile(base + ".names", lines);
    if (password) WriteWholeFile(base + ".password", password);
}

const ARCPROMPTHANDLER* g_answers = &tessera::testing::kQuietAnswers;

class CommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registry_.Redirect("explorer_commands");
        OleInitialize(nullptr);
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kWindowClass;
        RegisterClassA(&windowClass);
        timer_ = SetTimer(nullptr, 0, 30, Tick);
        ClearPeerFolder();
    }

    static void TearDownTestSuite() {
        KillTimer(nullptr, timer_);
        registry_.Restore();
        OleUninitialize();
    }

    static void ClearPeerFolder() {
        const std::string folder = tessera::testing::HostPathToNative(COMMAND_PEER_DIR);
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }

    void SetUp() override {
        HKEY product = GetSectionKey(nullptr);
        if (product) {
            for (const char* section : {"Extract", "Extract\\Folder", "Settings", "Add", "Settings\\Delete"})
                RegDeleteTreeA(product, section);
        }
        ArcSetPromptHandler(g_answers);
        g_unanswered.clear();
        g_steps.clear();
    }

    void TearDown() override {
        EXPECT_TRUE(g_steps.empty()) << "dialog steps left: " << g_steps.size() << " (next: "
                                     << (g_steps.empty() ? "" : g_steps.front().title) << ")";
        EXPECT_TRUE(g_unanswered.empty()) << "unexpected dialogs: " << (g_unanswered.empty() ? "" : g_unanswered[0]);
        g_steps.clear();
        ArcSetPromptHandler(nullptr);
    }

    static DWORD Setting(const char* section, const char* name, DWORD fallback = 0xDEAD) {
        DWORD value = fallback;
        GetProfileInt(section, name, &value);
        return value;
    }

    // A copy of the tree fixture in a scratch folder, opened in the host.
    std::string OpenCopy(TestHost& host, const ScratchFolder& scratch) {
        const std::string path = scratch / "tree.zip";
        EXPECT_TRUE(CopyFileA(ArchiveFixture("commands-tree.zip").c_str(), path.c_str(), FALSE));
        EXPECT_TRUE(host.Open(path));
        return path;
    }

    static inline tessera::testing::PrivateUserRegistry registry_;
    static inline UINT_PTR timer_ = 0;
};

const Names kAllTree = {"root.txt", "docs/", "docs/a.txt", "docs/sub/b.txt", "notes.doc"};

// --- Extract ---

// Which entries reach the disk for each scope, with and without folder
// names; the destination is typed as the user would (forward slashes, a
// lower-case drive, no trailing backslash) and passed normalised.
TEST_F(CommandsTest, ExtractScopes) {
    struct Case {
        const char* label;
        int preset;
        Names selected;
        const char* folder;  // tree folder (nullptr: flat mode)
        bool usePaths;
        Names files;         // files below the destination afterwards
    } cases[] = {
        {"all with folders", TESCMD_IDC_SCOPE_ALL, {}, nullptr, true,
         {"root.txt", "docs/a.txt", "docs/sub/b.txt", "notes.doc"}},
        {"all without folders", TESCMD_IDC_SCOPE_ALL, {}, nullptr, false, {"root.txt", "a.txt", "b.txt", "notes.doc"}},
        {"selected", TESCMD_IDC_SCOPE_SELECTED, {"root.txt", "docs/a.txt"}, nullptr, true, {"root.txt", "docs/a.txt"}},
        {"selected without folders", TESCMD_IDC_SCOPE_SELECTED, {"docs/sub/b.txt"}, nullptr, false, {"b.txt"}},
        {"tree folder", TESCMD_IDC_SCOPE_FOLDER, {"root.txt"}, "docs", true, {"docs/a.txt", "docs/sub/b.txt"}},
        {"tree folder without folders", TESCMD_IDC_SCOPE_FOLDER, {}, "docs", false, {"a.txt", "b.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder scratch;
        TestHost host;
        ASSERT_TRUE(host.Open(ArchiveFixture("commands-tree.zip")));
        host.SelectNames(c.selected);
        IArchiveFolder* folder = host.SelectFolder(c.folder);
        std::string typed = scratch / "out";
        std::replace(typed.begin(), typed.end(), '\\', '/');
        typed[0] = static_cast<char>(tolower(typed[0]));
        int checkedScope = 0;
        Script({{"Extract", [&](HWND dialog) {
                     checkedScope = IsChecked(dialog, TESCMD_IDC_SCOPE_ALL)        ? TESCMD_IDC_SCOPE_ALL
                                    : IsChecked(dialog, TESCMD_IDC_SCOPE_SELECTED) ? TESCMD_IDC_SCOPE_SELECTED
                                                                                   : TESCMD_IDC_SCOPE_FOLDER;
                     Type(dialog, TESCMD_IDC_EXTRACT_DESTINATION, typed, CBN_EDITCHANGE);
                     SetCheck(dialog, TESCMD_IDC_EXTRACT_USE_PATHS, c.usePaths);
                     Press(dialog, IDOK);
                 }}});
        tescommands::ExtractCommand(host, c.preset, c.preset == TESCMD_IDC_SCOPE_FOLDER ? folder : nullptr);
        EXPECT_EQ(checkedScope, c.preset);
        EXPECT_EQ(host.lastResult, S_OK);
        EXPECT_EQ(FileNames(scratch / "out"), c.files);
        EXPECT_EQ(host.refreshes, 0);
        std::string expected = scratch / "out\\";
        expected[0] = static_cast<char>(toupper(expected[0]));
        ASSERT_EQ(host.explored.size(), 1u);
        EXPECT_EQ(host.explored[0], expected);
        char history[MAX_PATH] = "";
        EXPECT_TRUE(GetProfileString("Extract\\Folder", "Item00", history));
        EXPECT_EQ(std::string(history), expected);
    }
}

TEST_F(CommandsTest, DestinationNormalisation) {
    using tescommands::NormaliseDestination;
    EXPECT_EQ(NormaliseDestination("c:/out"), "C:\\out\\");
    EXPECT_EQ(NormaliseDestination("d:\\a/b\\"), "D:\\a\\b\\");
    const std::string full(MAX_PATH - 1, 'x');  // no room for the backslash
    EXPECT_EQ(NormaliseDestination(full), std::string(1, 'X') + full.substr(1));
}

// The scope radios by selection and tree folder, and the preset
// corrections; "Overwrite older files only" follows capability 0x80.
TEST_F(CommandsTest, ExtractDialogOffersWhatApplies) {
    struct Case {
        const char* label;
        int preset;
        bool selection;
        const char* folder;
        int checked;
        bool selectedEnabled, folderEnabled;
    } cases[] = {
        {"selected preset, nothing selected", TESCMD_IDC_SCOPE_SELECTED, false, nullptr, TESCMD_IDC_SCOPE_ALL, false, false},
        {"selected preset with a selection", TESCMD_IDC_SCOPE_SELECTED, true, nullptr, TESCMD_IDC_SCOPE_SELECTED, true, false},
        {"folder preset on the root", TESCMD_IDC_SCOPE_FOLDER, true, "", TESCMD_IDC_SCOPE_ALL, true, false},
        {"folder preset on a folder", TESCMD_IDC_SCOPE_FOLDER, false, "docs", TESCMD_IDC_SCOPE_FOLDER, false, true},
        {"all preset, tree folder selected", TESCMD_IDC_SCOPE_ALL, true, "docs", TESCMD_IDC_SCOPE_ALL, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestHost host;
        ASSERT_TRUE(host.Open(ArchiveFixture("commands-tree.zip")));
        if (c.selection) host.SelectNames({"root.txt"});
        host.SelectFolder(c.folder);
        int checked = 0;
        bool selectedEnabled = false, folderEnabled = false, skipOlderEnabled = false, helpEnabled = true;
        Script({{"Extract", [&](HWND dialog) {
                     checked = IsChecked(dialog, TESCMD_IDC_SCOPE_ALL)        ? TESCMD_IDC_SCOPE_ALL
                               : IsChecked(dialog, TESCMD_IDC_SCOPE_SELECTED) ? TESCMD_IDC_SCOPE_SELECTED
                               : IsChecked(dialog, TESCMD_IDC_SCOPE_FOLDER)   ? TESCMD_IDC_SCOPE_FOLDER
                                                                              : 0;
                     selectedEnabled = IsEnabled(dialog, TESCMD_IDC_SCOPE_SELECTED);
                     folderEnabled = IsEnabled(dialog, TESCMD_IDC_SCOPE_FOLDER);
                     skipOlderEnabled = IsEnabled(dialog, TESCMD_IDC_EXTRACT_SKIP_OLDER);
                     helpEnabled = IsEnabled(dialog, IDHELP);
                     Press(dialog, IDCANCEL);
                 }}});
        tescommands::ExtractCommand(host, c.preset, nullptr);
        EXPECT_EQ(checked, c.checked);
        EXPECT_EQ(selectedEnabled, c.selectedEnabled);
        EXPECT_EQ(folderEnabled, c.folderEnabled);
        EXPECT_TRUE(skipOlderEnabled);  // ZIP extracts newer entries only
        EXPECT_FALSE(helpEnabled);
        EXPECT_EQ(host.operations, 0);
    }
}

// An archive object whose capabilities a test narrows; everything else
// goes to the real object.
class NarrowedArchive : public ICompressFormat {
public:
    NarrowedArchive(ICompressFormat* inner, DWORD removed) : inner_(inner), removed_(removed) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return inner_->QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE Cancel() override { inner_->Cancel(); }
    HRESULT STDMETHODCALLTYPE List(HWND o) override { return inner_->List(o); }
    HRESULT STDMETHODCALLTYPE Check(HWND o, BOOL* r) override { return inner_->Check(o, r); }
    HRESULT STDMETHODCALLTYPE Extract(HWND o, int m, BOOL p, BOOL n, LPCSTR d, SELHDRSTRUCT* s, DWORD c) override {
        return inner_->Extract(o, m, p, n, d, s, c);
    }
    HRESULT STDMETHODCALLTYPE Test(HWND o) override { return inner_->Test(o); }
    HRESULT STDMETHODCALLTYPE GetComment(HWND o, LPSTR b, DWORD s) override { return inner_->GetComment(o, b, s); }
    HRESULT STDMETHODCALLTYPE Delete(HWND o, BOOL b, BOOL t, LPCSTR f, SELHDRSTRUCT* s, DWORD c) override {
        return inner_->Delete(o, b, t, f, s, c);
    }
    HRESULT STDMETHODCALLTYPE RemoveEXE(HWND o, LPCSTR t, LPCSTR n) override { return inner_->RemoveEXE(o, t, n); }
    HRESULT STDMETHODCALLTYPE Add(HWND o, BOOL a, BOOL b, BOOL c, UINT d, BOOL e, BOOL f, BOOL g, BOOL h, BOOL i,
                                  UINT j, BOOL k, LPCSTR l, LPCSTR m, const ADDFILEINFO* n) override {
        return inner_->Add(o, a, b, c, d, e, f, g, h, i, j, k, l, m, n);
    }
    HRESULT STDMETHODCALLTYPE MakeEXE(HWND o, LPCSTR t, LPCSTR n, const void* m, DWORD s) override {
        return inner_->MakeEXE(o, t, n, m, s);
    }
    HRESULT STDMETHODCALLTYPE SetComment(HWND o, LPCSTR t, LPCSTR c) override { return inner_->SetComment(o, t, c); }
    HRESULT STDMETHODCALLTYPE UpdateEntries(HWND o, LPCSTR t, SELHDRSTRUCT* s, DWORD c) override {
        return inner_->UpdateEntries(o, t, s, c);
    }
    HRESULT STDMETHODCALLTYPE GetFolderTree(IUnknown** t) override { return inner_->GetFolderTree(t); }
    STATUSPROC STDMETHODCALLTYPE SetStatusCallback(STATUSPROC p) override { return inner_->SetStatusCallback(p); }
    MESSAGEPROC STDMETHODCALLTYPE SetMessageCallback(MESSAGEPROC p, LPARAM u) override {
        return inner_->SetMessageCallback(p, u);
    }
    LPSTR STDMETHODCALLTYPE GetPassword() override { return inner_->GetPassword(); }
    HRESULT STDMETHODCALLTYPE GetText(int k, DWORD_PTR v, LPSTR b) override { return inner_->GetText(k, v, b); }
    BOOL STDMETHODCALLTYPE HasCapability(DWORD mask) override { return (mask & removed_) ? FALSE : inner_->HasCapability(mask); }
    DWORD STDMETHODCALLTYPE GetEntryCount() override { return inner_->GetEntryCount(); }
    HDRSTRUCT* STDMETHODCALLTYPE GetEntries() override { return inner_->GetEntries(); }
    LPCSTR STDMETHODCALLTYPE GetArchivePath() override { return inner_->GetArchivePath(); }
    void STDMETHODCALLTYPE SetPassword(LPCSTR p) override { inner_->SetPassword(p); }
    HRESULT STDMETHODCALLTYPE SplitDialog(HWND o, DWORD* v, BOOL* s) override { return inner_->SplitDialog(o, v, s); }
    BOOL STDMETHODCALLTYPE GetSfxModuleId(BOOL a, DWORD* r) override { return inner_->GetSfxModuleId(a, r); }
    void STDMETHODCALLTYPE GetTotals(DWORD* a, DWORD* b, DWORD* c, DWORD* d) override { inner_->GetTotals(a, b, c, d); }
    void STDMETHODCALLTYPE SetArchivePath(LPCSTR p) override { inner_->SetArchivePath(p); }
    DWORD_PTR STDMETHODCALLTYPE GetOption() override { return inner_->GetOption(); }
    LPCSTR STDMETHODCALLTYPE GetPlainExtension() override { return inner_->GetPlainExtension(); }
    void STDMETHODCALLTYPE SetOption(DWORD_PTR v) override { inner_->SetOption(v); }

private:
    ICompressFormat* inner_;
    DWORD removed_;
};

// A host whose archive lacks some capabilities.
class NarrowedHost : public TestHost {
public:
    explicit NarrowedHost(DWORD removed) : removed_(removed) {}
    ICompressFormat* Archive() override {
        if (!TestHost::Archive()) return nullptr;
        if (!narrowed_) narrowed_ = std::make_unique<NarrowedArchive>(TestHost::Archive(), removed_);
        return narrowed_.get();
    }

private:
    DWORD removed_;
    std::unique_ptr<NarrowedArchive> narrowed_;
};

TEST_F(CommandsTest, OnlyNewerNeedsTheCapability) {
    NarrowedHost host(CAP_EXTRACTNEWER);
    ASSERT_TRUE(host.Open(ArchiveFixture("commands-tree.zip")));
    bool enabled = true;
    Script({{"Extract", [&](HWND dialog) {
                 enabled = IsEnabled(dialog, TESCMD_IDC_EXTRACT_SKIP_OLDER);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr);
    EXPECT_FALSE(enabled);
}

// The three check boxes are stored whichever way the dialog closes; the
// next dialog shows them.
TEST_F(CommandsTest, ExtractOptionsStoredOnCancel) {
    TestHost host;
    ASSERT_TRUE(host.Open(ArchiveFixture("commands-tree.zip")));
    bool defaults[3] = {};
    Script({{"Extract", [&](HWND dialog) {
                 defaults[0] = IsChecked(dialog, TESCMD_IDC_EXTRACT_USE_PATHS);
                 defaults[1] = IsChecked(dialog, TESCMD_IDC_EXTRACT_OVERWRITE);
                 defaults[2] = IsChecked(dialog, TESCMD_IDC_EXTRACT_SKIP_OLDER);
                 SetCheck(dialog, TESCMD_IDC_EXTRACT_USE_PATHS, false);
                 SetCheck(dialog, TESCMD_IDC_EXTRACT_OVERWRITE, true);
                 SetCheck(dialog, TESCMD_IDC_EXTRACT_SKIP_OLDER, true);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr);
    EXPECT_TRUE(defaults[0]);
    EXPECT_FALSE(defaults[1]);
    EXPECT_FALSE(defaults[2]);
    EXPECT_EQ(Setting("Extract", "UsePath"), 0u);
    EXPECT_EQ(Setting("Extract", "Overwrite"), 1u);
    EXPECT_EQ(Setting("Extract", "SkipOlder"), 1u);
    EXPECT_EQ(host.operations, 0);
    bool usePaths = true;
    Script({{"Extract", [&](HWND dialog) {
                 usePaths = IsChecked(dialog, TESCMD_IDC_EXTRACT_USE_PATHS);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr);
    EXPECT_FALSE(usePaths);
}

// The folder browser over the shell namespace: it walks down to a folder,
// reports its path, and shows a folder made afterwards once refreshed.
TEST_F(CommandsTest, FolderBrowserFindsFolders) {
    ScratchFolder scratch;
    CreateDirectoryA((scratch / "inner").c_str(), nullptr);
    TestHost host;
    HWND tree = CreateWindowExA(0, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS, 0, 0, 300, 300,
                                host.Owner(), nullptr, GetModuleHandleA(nullptr), nullptr);
    tescommands::FolderBrowser browser;
    ASSERT_TRUE(browser.Attach(tree));
    ASSERT_TRUE(browser.SelectPath((scratch / "inner").c_str()));
    EXPECT_EQ(browser.SelectedPath(), scratch / "inner");
    ASSERT_TRUE(browser.SelectPath(scratch.Path().c_str()));
    CreateDirectoryA((scratch / "later").c_str(), nullptr);
    browser.RefreshSelected();
    EXPECT_TRUE(browser.SelectPath((scratch / "later").c_str()));
    browser.Detach();
    DestroyWindow(tree);
}

// "New folder": Create only with a name; a name the file system refuses
// shows error 4105 and keeps the dialog; a good one is created below the
// folder shown.
TEST_F(CommandsTest, NewFolderDialog) {
    ScratchFolder scratch;
    std::string shown, error;
    bool createEnabled = true;
    Script({{"New folder",
             [&](HWND dialog) {
                 shown = TextOf(dialog, TESCMD_IDC_NEW_FOLDER_PARENT);
                 createEnabled = IsEnabled(dialog, IDOK);
                 Type(dialog, TESCMD_IDC_NEW_FOLDER_NAME, "missing\\deeper\\fresh", EN_CHANGE);
                 Press(dialog, IDOK);
             }},
            Answer("Tessera", IDOK, &error),
            {"New folder", [&](HWND dialog) {
                 Type(dialog, TESCMD_IDC_NEW_FOLDER_NAME, "fresh", EN_CHANGE);
                 Press(dialog, IDOK);
             }}});
    tescommands::NewFolderDialog dialog(GetModuleHandleA(nullptr), scratch.Path());
    EXPECT_EQ(dialog.Run(nullptr), IDOK);
    EXPECT_EQ(shown, scratch.Path());
    EXPECT_FALSE(createEnabled);
    EXPECT_NE(error.find("Folder cannot be created: " + (scratch / "missing\\deeper\\fresh")), std::string::npos) << error;
    EXPECT_EQ(dialog.Created(), scratch / "fresh");
    EXPECT_NE(GetFileAttributesA((scratch / "fresh").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// Choosing a file-system folder in the Extract dialog's browser makes it
// the destination and offers "New folder...".
TEST_F(CommandsTest, ExtractBrowserSetsDestination) {
    TestHost host;
    ASSERT_TRUE(host.Open(ArchiveFixture("commands-tree.zip")));
    std::string destination;
    bool newFolderBefore = true, newFolderAfter = false;
    Script({{"Extract", [&](HWND dialog) {
                 HWND tree = GetDlgItem(dialog, TESCMD_IDC_FOLDER_BROWSER);
                 newFolderBefore = IsEnabled(dialog, TESCMD_IDC_NEW_FOLDER);
                 TreeView_SelectItem(tree, TreeView_GetRoot(tree));  // the desktop
                 destination = TextOf(dialog, TESCMD_IDC_EXTRACT_DESTINATION);
                 newFolderAfter = IsEnabled(dialog, TESCMD_IDC_NEW_FOLDER);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr);
    char desktop[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    EXPECT_FALSE(newFolderBefore);
    EXPECT_TRUE(newFolderAfter);
    EXPECT_EQ(lstrcmpiA(destination.c_str(), desktop), 0) << destination;
}

// --- Delete ---

// Selected entries and a tree folder leave the archive (refreshed
// afterwards); "Entire archive" deletes the file and closes it.
TEST_F(CommandsTest, DeleteScopes) {
    struct Case {
        const char* label;
        int preset;
        Names selected;
        const char* folder;
        int choose;       // radio pressed in the dialog (0: keep the preset)
        int checked;      // preset shown
        Names left;       // entries afterwards (empty: the file is gone)
    } cases[] = {
        {"selected files", TESCMD_IDC_SCOPE_SELECTED, {"root.txt", "docs/sub/b.txt"}, nullptr, 0, TESCMD_IDC_SCOPE_SELECTED,
         {"docs/", "docs/a.txt", "notes.doc"}},
        {"tree folder", TESCMD_IDC_SCOPE_FOLDER, {}, "docs", 0, TESCMD_IDC_SCOPE_FOLDER, {"root.txt", "notes.doc"}},
        {"nothing selected presets the entire archive", TESCMD_IDC_SCOPE_SELECTED, {}, nullptr, 0,
         TESCMD_IDC_SCOPE_ALL, {}},
        {"entire archive chosen", TESCMD_IDC_SCOPE_SELECTED, {"root.txt"}, nullptr, TESCMD_IDC_SCOPE_ALL,
         TESCMD_IDC_SCOPE_SELECTED, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder scratch;
        TestHost host;
        const std::string path = OpenCopy(host, scratch);
        host.SelectNames(c.selected);
        IArchiveFolder* folder = host.SelectFolder(c.folder);
        int checked = 0;
        bool backupEnabled = true;
        Script({{"Delete", [&](HWND dialog) {
                     checked = IsChecked(dialog, TESCMD_IDC_SCOPE_ALL)        ? TESCMD_IDC_SCOPE_ALL
                               : IsChecked(dialog, TESCMD_IDC_SCOPE_SELECTED) ? TESCMD_IDC_SCOPE_SELECTED
                                                                              : TESCMD_IDC_SCOPE_FOLDER;
                     if (c.choose) Click(dialog, c.choose);
                     backupEnabled = IsEnabled(dialog, TESCMD_IDC_DELETE_BACKUP);
                     Press(dialog, IDOK);
                 }}});
        tescommands::DeleteCommand(host, c.preset, c.preset == TESCMD_IDC_SCOPE_FOLDER ? folder : nullptr);
        EXPECT_EQ(checked, c.checked);
        if (c.left.empty()) {
            EXPECT_FALSE(backupEnabled);
            EXPECT_FALSE(FileExists(path));
            EXPECT_EQ(host.forgotten, std::vector<std::string>{path});
            EXPECT_EQ(host.Archive(), nullptr);
            EXPECT_EQ(host.operations, 0);
        } else {
            EXPECT_TRUE(backupEnabled);
            EXPECT_EQ(host.lastResult, S_OK);
            EXPECT_EQ(host.refreshes, 1);
            EXPECT_EQ(EntryNames(path), c.left);
            EXPECT_TRUE(host.forgotten.empty());
        }
    }
}

// "Make backup copy" is stored on OK; with "Entire archive" it is off and
// disabled, and the stored choice survives that.
TEST_F(CommandsTest, DeleteBackupSetting) {
    ScratchFolder scratch;
    TestHost host;
    OpenCopy(host, scratch);
    host.SelectNames({"notes.doc"});
    PutProfileInt("Settings\\Delete", "Backup", 1);
    bool onSelected = false, onEntire = true, back = false;
    Script({{"Delete", [&](HWND dialog) {
                 onSelected = IsChecked(dialog, TESCMD_IDC_DELETE_BACKUP);
                 Click(dialog, TESCMD_IDC_SCOPE_ALL);
                 onEntire = IsChecked(dialog, TESCMD_IDC_DELETE_BACKUP);
                 Click(dialog, TESCMD_IDC_SCOPE_SELECTED);
                 back = IsChecked(dialog, TESCMD_IDC_DELETE_BACKUP);
                 Click(dialog, TESCMD_IDC_DELETE_BACKUP);
                 Press(dialog, IDOK);
             }}});
    tescommands::DeleteCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr);
    EXPECT_TRUE(onSelected);
    EXPECT_FALSE(onEntire);
    EXPECT_TRUE(back);
    EXPECT_EQ(Setting("Settings\\Delete", "Backup"), 0u);
    EXPECT_EQ(host.lastResult, S_OK);
}

// --- Test ---

std::string g_outputText, g_clipboardText;
// Reads the Output window's text, copies it, and closes the window.
Step ReadOutput() {
    return {"Output", [](HWND dialog) {
                g_outputText = TextOf(dialog, TESCMD_IDC_OUTPUT_TEXT);
                SendMessageA(dialog, WM_COMMAND, TESCMD_IDC_OUTPUT_COPY, 0);
                g_clipboardText.clear();
                if (OpenClipboard(dialog)) {
                    if (HANDLE data = GetClipboardData(CF_TEXT)) {
                        if (const char* text = static_cast<const char*>(GlobalLock(data))) {
                            g_clipboardText = text;
                            GlobalUnlock(data);
                        }
                    }
                    CloseClipboard();
                }
                Press(dialog, IDCANCEL);
            }};
}

int CALLBACK CancelPassword(void*, HWND, LPCSTR, BOOL, LPSTR) { return PASSWORD_RESULT_CANCEL; }
int CALLBACK GivePassword(void*, HWND, LPCSTR, BOOL, LPSTR password) {
    lstrcpyA(password, "sesame");
    return PASSWORD_RESULT_OK;
}

// A test shows its report in the Output window; one the user cancels (at
// the password prompt) shows none.
TEST_F(CommandsTest, TestShowsTheReportUnlessCancelled) {
    ScratchFolder scratch;
    const std::string source = scratch / "secret.txt";
    WriteWholeFile(source, std::string(500, 's'));
    const std::string encrypted = scratch / "secret.zip";
    {
        tessera::testing::OpenedArchive archive(encrypted);
        archive.object->SetPassword("sesame");
        std::vector<BYTE> list = BuildAddFileList({source});
        ASSERT_EQ(archive.object->Add(nullptr, FALSE, FALSE, FALSE, 0, FALSE, FALSE, FALSE, FALSE, FALSE, 0, TRUE, "",
                                      scratch.Path().c_str(), reinterpret_cast<const ADDFILEINFO*>(list.data())),
                  S_OK);
    }
    struct Case {
        const char* label;
        decltype(&CancelPassword) password;
        HRESULT result;
        bool shown;
    } cases[] = {{"password given", GivePassword, S_OK, true}, {"cancelled", CancelPassword, E_ABORT, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ARCPROMPTHANDLER answers = tessera::testing::kQuietAnswers;
        answers.Password = c.password;
        ArcSetPromptHandler(&answers);
        TestHost host;
        ASSERT_TRUE(host.Open(encrypted));
        g_outputText.clear();
        if (c.shown) Script({ReadOutput()});
        tescommands::TestCommand(host);
        if (c.shown) {
            EXPECT_TRUE(SUCCEEDED(host.lastResult)) << host.LogText();  // S_FALSE: the report has lines
        } else {
            EXPECT_EQ(host.lastResult, c.result);
        }
        EXPECT_EQ(host.lastFlags, 0u);
        if (c.shown) {
            EXPECT_FALSE(host.LogText().empty());
            EXPECT_NE(g_outputText.find("secret.txt"), std::string::npos) << g_outputText;
            EXPECT_EQ(g_clipboardText, g_outputText);  // with the lines ended by CR LF as shown
        }
        ArcSetPromptHandler(g_answers);
    }
}

// --- Create ---

struct ChildSearch {
    int id;
    const char* text;
    HWND found;
};

BOOL CALLBACK FindChildProc(HWND child, LPARAM lParam) {
    ChildSearch* search = reinterpret_cast<ChildSearch*>(lParam);
    char title[256] = "";
    GetWindowTextA(child, title, sizeof title);
    if (GetDlgCtrlID(child) == search->id && (!search->text || !strcmp(title, search->text))) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

// A control anywhere below parent with that id (and text, unless null).
HWND FindChildById(HWND parent, int id, const char* text) {
    ChildSearch search = {id, text, nullptr};
    EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Answers the save dialog of Create: the name, the extra area's check box.
Step CreateAs(const std::string& path, int showAdd /* -1: leave */, std::string* filters = nullptr) {
    return {"Create", [path, showAdd, filters](HWND dialog) {
                if (filters) {
                    HWND types = GetDlgItem(dialog, cmb1);
                    for (int i = 0; i < ComboBox_GetCount(types); ++i) {
                        char text[MAX_PATH];
                        ComboBox_GetLBText(types, i, text);
                        *filters += std::string(text) + "|";
                    }
                }
                if (showAdd >= 0) {
                    HWND box = FindChildById(dialog, TESCMD_IDC_CREATE_SHOW_ADD, "Show add dialog after creating");
                    if (box && (SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != (showAdd == 1))
                        SendMessageA(box, BM_CLICK, 0, 0);
                }
                HWND name = GetDlgItem(dialog, cmb13);
                if (!name) name = GetDlgItem(dialog, edt1);
                SetWindowTextA(name, path.c_str());
                PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            }};
}

// A new ZIP and a new cabinet become the window's archive without a file
// on disk; "Show add dialog after creating" is stored and opens Add.
TEST_F(CommandsTest, CreateNewArchives) {
    struct Case {
        const char* name;
        int showAdd;
    } cases[] = {{"new.zip", 1}, {"new.cab", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        TestHost host;
        const std::string path = scratch / c.name;
        std::string filters, okLabel;
        bool actionEnabled = true;
        std::vector<Step> steps = {CreateAs(path, c.showAdd, &filters)};
        if (c.showAdd)
            steps.push_back({"Add", [&](HWND dialog) {
                                 okLabel = TextOf(dialog, IDOK);
                                 actionEnabled = IsEnabled(dialog, TESCMD_IDC_ADD_ACTION);
                                 Press(dialog, IDCANCEL);
                             }});
        Script(steps);
        tescommands::CreateArchiveCommand(host, scratch.Path().c_str(), false);
        EXPECT_EQ(host.adopted, 1);
        ASSERT_NE(host.Archive(), nullptr);
        EXPECT_EQ(lstrcmpiA(host.Archive()->GetArchivePath(), path.c_str()), 0);
        EXPECT_EQ(host.Archive()->GetEntryCount(), 0u);
        EXPECT_FALSE(FileExists(path));
        EXPECT_NE(filters.find("(*.zip)"), std::string::npos) << filters;
        EXPECT_NE(filters.find("(*.cab)"), std::string::npos) << filters;
        EXPECT_EQ(filters.find("(*.rar)"), std::string::npos) << filters;
        EXPECT_EQ(Setting("Settings", "NewAdd"), static_cast<DWORD>(c.showAdd));
        char folder[MAX_PATH] = "";
        GetProfileString("Settings", "CreateDir", folder);
        EXPECT_EQ(lstrcmpiA(folder, scratch.Path().c_str()), 0) << folder;
        if (c.showAdd) {
            EXPECT_EQ(okLabel, "&Add");
            EXPECT_FALSE(actionEnabled);
        }
    }
}

// Creating over an existing archive asks question 61; Yes opens it, No
// leaves the window as it was.
TEST_F(CommandsTest, CreateOverExistingArchive) {
    for (int answer : {IDYES, IDNO}) {
        ScratchFolder scratch;
        TestHost host;
        const std::string path = scratch / "tree.zip";
        ASSERT_TRUE(CopyFileA(ArchiveFixture("commands-tree.zip").c_str(), path.c_str(), FALSE));
        std::string question;
        Script({CreateAs(path, 0), Answer("Tessera", answer, &question)});
        tescommands::CreateArchiveCommand(host, scratch.Path().c_str(), false);
        EXPECT_NE(question.find("already exists"), std::string::npos);
        EXPECT_EQ(host.adopted, 0);
        if (answer == IDYES) {
            ASSERT_EQ(host.opened.size(), 1u);
            ASSERT_NE(host.Archive(), nullptr);
            EXPECT_EQ(host.Archive()->GetEntryCount(), kAllTree.size());
        } else {
            EXPECT_TRUE(host.opened.empty());
            EXPECT_EQ(host.Archive(), nullptr);
        }
    }
}

// --- Add ---

// src: files at the top and in sub\, an empty folder, a hidden file.
struct SourceTree {
    ScratchFolder scratch;
    std::string src = scratch / "src";
    SourceTree() {
        CreateDirectoryA(src.c_str(), nullptr);
        CreateDirectoryA((src + "\\sub").c_str(), nullptr);
        CreateDirectoryA((src + "\\empty").c_str(), nullptr);
        for (const char* name : {"a.txt", "b.doc", "c.bin", "sub\\d.txt", "sub\\e.doc"})
            WriteWholeFile(src + "\\" + name, std::string("contents of ") + name);
        WriteWholeFile(src + "\\hidden.txt", "hidden");
        SetFileAttributesA((src + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    std::string operator/(const char* name) const { return src + "\\" + name; }
};

// A new, empty archive made the host's archive, as Create leaves it.
void AdoptNew(TestHost& host, const std::string& path) {
    ICompressFormat* object = nullptr;
    ASSERT_EQ(ArcCreateObject(host.Owner(), path.c_str(), &object), S_OK);
    host.AdoptArchive(object);
}

int RowCount(HWND dialog) { return ListView_GetItemCount(GetDlgItem(dialog, TESCMD_IDC_ADD_LIST)); }

// "Select folder..." with masks and include options: which files and
// folders become rows, and so entries.
TEST_F(CommandsTest, AddFolderWithMasks) {
    struct Case {
        const char* label;
        const char* mask;
        bool subFolders, emptyOnly, hidden;
        Names entries;
    } cases[] = {
        {"two masks", "*.txt,*.doc", true, false, true, {"a.txt", "b.doc", "hidden.txt", "sub/d.txt", "sub/e.doc"}},
        {"blank after the comma", "*.txt, *.doc", true, false, true, {"a.txt", "hidden.txt", "sub/d.txt"}},
        {"no mask: folders too", "*.*", true, false, true,
         {"a.txt", "b.doc", "c.bin", "hidden.txt", "sub/", "sub/d.txt", "sub/e.doc", "empty/"}},
        {"empty folders only", "*", true, true, true,
         {"a.txt", "b.doc", "c.bin", "hidden.txt", "sub/d.txt", "sub/e.doc", "empty/"}},
        {"without hidden files", "*.txt", true, false, false, {"a.txt", "sub/d.txt"}},
        {"without subfolders", "*.*", false, false, true, {"a.txt", "b.doc", "c.bin", "hidden.txt"}},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SourceTree tree;
        PutProfileString("Add\\Filter", nullptr, nullptr);
        TestHost host;
        const std::string path = tree.scratch / "masks.zip";
        AdoptNew(host, path);
        bool emptyEnabledWithout = true;
        Script({{"Add", [](HWND dialog) { Press(dialog, TESCMD_IDC_ADD_SELECT_FOLDER); }},
                {"Select folder",
                 [&](HWND dialog) {
                     Type(dialog, TESCMD_IDC_SELECT_FOLDER_PATH, tree.src, CBN_EDITCHANGE);
                     Type(dialog, TESCMD_IDC_SELECT_FOLDER_MASK, c.mask, CBN_EDITCHANGE);
                     SetCheck(dialog, TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS, false);
                     emptyEnabledWithout = IsEnabled(dialog, TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY);
                     SetCheck(dialog, TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS, c.subFolders);
                     SetCheck(dialog, TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY, c.emptyOnly);
                     SetCheck(dialog, TESCMD_IDC_SELECT_FOLDER_HIDDEN, c.hidden);
                     Press(dialog, IDOK);
                 }},
                {"Add", [](HWND dialog) { Press(dialog, IDOK); }}});
        tescommands::AddFilesCommand(host, {});
        EXPECT_FALSE(emptyEnabledWithout);
        EXPECT_EQ(host.lastResult, S_OK) << host.LogText();
        EXPECT_EQ(host.lastFlags, tescommands::kOfferLogOnWarnings | tescommands::kRefreshOnSuccess);
        EXPECT_EQ(EntryNames(path), c.entries);
        LeaveForUnzip(path, ("masks" + std::to_string(number++)).c_str(), c.entries);
        char history[MAX_PATH] = "";
        const bool masked = strcmp(c.mask, "*.*") && strcmp(c.mask, "*");
        EXPECT_EQ(GetProfileString("Add\\Filter", "Item00", history) != FALSE, masked);
        if (masked) {
            EXPECT_STREQ(history, c.mask);
        }
    }
}

// Which sub-folders become rows of their own, by the include options and
// whether the format stores folder entries.
TEST_F(CommandsTest, FolderRowsByIncludeOptions) {
    SourceTree tree;
    struct Case {
        const char* label;
        bool emptyOnly, folderEntries;
        Names folders;
    } cases[] = {
        {"every sub-folder", false, true, {"empty", "sub"}},
        {"only the empty ones", true, true, {"empty"}},
        {"format without folder entries", false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tescommands::IncludeOptions options;
        options.emptyFoldersOnly = c.emptyOnly;
        options.folderEntries = c.folderEntries;
        std::vector<std::string> rows;
        tescommands::AddFolderContents(tree.src, {}, options, &rows);
        Names folders;
        for (const std::string& row : rows) {
            if (GetFileAttributesA(row.c_str()) & FILE_ATTRIBUTE_DIRECTORY) folders.insert(row.substr(tree.src.size() + 1));
        }
        EXPECT_EQ(folders, c.folders);
        EXPECT_EQ(rows.size() - folders.size(), 6u);  // the files are always there
    }
    EXPECT_EQ(tescommands::ParseMasks("*.txt, *.doc"), (std::vector<std::string>{"*.txt", " *.doc"}));
    EXPECT_TRUE(tescommands::ParseMasks("*.*").empty());
}

void SetTimeAhead(const std::string& path, int hours) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value = {{now.dwLowDateTime, now.dwHighDateTime}};
    value.QuadPart += static_cast<ULONGLONG>(hours) * 36000000000ULL;
    FILETIME later = {value.LowPart, value.HighPart};
    SetFileTime(file, nullptr, nullptr, &later);
    CloseHandle(file);
}

// Add, update and freshen through the action combo: the OK button follows
// the choice; freshen only replaces, update also adds.
TEST_F(CommandsTest, AddUpdateFreshen) {
    struct Case {
        int action;
        const char* okLabel;
        Names entries;
    } cases[] = {{0, "&Add", {"a.txt", "b.doc", "c.bin"}},
                 {1, "&Update", {"a.txt", "b.doc", "c.bin"}},
                 {2, "&Freshen", {"a.txt", "b.doc"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.okLabel);
        SourceTree tree;
        const std::string path = tree.scratch / "update.zip";
        {
            tessera::testing::OpenedArchive archive(path);
            std::vector<BYTE> list = BuildAddFileList({tree / "a.txt", tree / "b.doc"});
            ASSERT_EQ(archive.object->Add(nullptr, FALSE, FALSE, FALSE, 0, FALSE, FALSE, FALSE, FALSE, FALSE, 0, TRUE,
                                          "", tree.scratch.Path().c_str(),
                                          reinterpret_cast<const ADDFILEINFO*>(list.data())),
                      S_OK);
        }
        WriteWholeFile(tree / "a.txt", "newer contents of a.txt");
        SetTimeAhead(tree / "a.txt", 2);
        TestHost host;
        ASSERT_TRUE(host.Open(path));
        std::string okLabel;
        bool actionEnabled = false;
        Script({{"Add", [&](HWND dialog) {
                     actionEnabled = IsEnabled(dialog, TESCMD_IDC_ADD_ACTION);
                     HWND combo = GetDlgItem(dialog, TESCMD_IDC_ADD_ACTION);
                     ComboBox_SetCurSel(combo, c.action);
                     SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(TESCMD_IDC_ADD_ACTION, CBN_SELCHANGE),
                                  reinterpret_cast<LPARAM>(combo));
                     okLabel = TextOf(dialog, IDOK);
                     Press(dialog, IDOK);
                 }}});
        tescommands::AddFilesCommand(host, {tree / "a.txt", tree / "c.bin"});
        EXPECT_TRUE(actionEnabled);
        EXPECT_EQ(okLabel, c.okLabel);
        EXPECT_EQ(host.lastResult, S_OK) << host.LogText();
        EXPECT_EQ(EntryNames(path), c.entries);
        ScratchFolder out;
        tessera::testing::OpenedArchive check(path);
        ASSERT_EQ(check.List(), S_OK);
        ASSERT_EQ(check.Extract(out.Path()), S_OK);
        EXPECT_EQ(tessera::testing::ReadWholeFile(out / "a.txt"),
                  tessera::testing::ReadWholeFile(tree / "a.txt"));
        EXPECT_EQ(Setting("Add", "Update"), c.action == 1 ? 1u : 0u);
        EXPECT_EQ(Setting("Add", "Freshen"), c.action == 2 ? 1u : 0u);
    }
}

// For an archive without entries the action combo is off and OK reads
// "&Add" whatever was stored; the stored choice is kept for later.
TEST_F(CommandsTest, ActionComboNeedsEntries) {
    ScratchFolder scratch;
    PutProfileInt("Add", "Update", 1);
    TestHost host;
    AdoptNew(host, scratch / "empty.zip");
    bool comboEnabled = true, labelEnabled = true;
    std::string okLabel;
    Script({{"Add", [&](HWND dialog) {
                 comboEnabled = IsEnabled(dialog, TESCMD_IDC_ADD_ACTION);
                 labelEnabled = IsEnabled(dialog, TESCMD_IDC_ADD_ACTION_LABEL);
                 okLabel = TextOf(dialog, IDOK);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::AddFilesCommand(host, {});
    EXPECT_FALSE(comboEnabled);
    EXPECT_FALSE(labelEnabled);
    EXPECT_EQ(okLabel, "&Add");
    EXPECT_EQ(Setting("Add", "Update"), 1u);
    EXPECT_EQ(host.operations, 0);

    TestHost filled;
    ASSERT_TRUE(filled.Open(ArchiveFixture("commands-tree.zip")));
    Script({{"Add", [&](HWND dialog) {
                 comboEnabled = IsEnabled(dialog, TESCMD_IDC_ADD_ACTION);
                 okLabel = TextOf(dialog, IDOK);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::AddFilesCommand(filled, {});
    EXPECT_TRUE(comboEnabled);
    EXPECT_EQ(okLabel, "&Update");
}

// "Store full path names" and "Store path names automatically" exclude
// each other; both are stored on Cancel.
TEST_F(CommandsTest, PathOptionsExcludeEachOther) {
    ScratchFolder scratch;
    TestHost host;
    AdoptNew(host, scratch / "paths.zip");
    bool states[4] = {};
    Script({{"Add", [&](HWND dialog) {
                 states[0] = IsChecked(dialog, TESCMD_IDC_ADD_PARTIAL_PATHS);  // default on
                 Click(dialog, TESCMD_IDC_ADD_FULL_PATHS);
                 states[1] = IsChecked(dialog, TESCMD_IDC_ADD_PARTIAL_PATHS);
                 Click(dialog, TESCMD_IDC_ADD_PARTIAL_PATHS);
                 states[2] = IsChecked(dialog, TESCMD_IDC_ADD_FULL_PATHS);
                 Click(dialog, TESCMD_IDC_ADD_FULL_PATHS);
                 states[3] = IsChecked(dialog, TESCMD_IDC_ADD_FULL_PATHS);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::AddFilesCommand(host, {});
    EXPECT_TRUE(states[0]);
    EXPECT_FALSE(states[1]);
    EXPECT_FALSE(states[2]);
    EXPECT_TRUE(states[3]);
    EXPECT_EQ(Setting("Add", "UsePath"), 1u);
    EXPECT_EQ(Setting("Add", "PartialPath"), 0u);
}

// The password dialog: a mismatch shows error 22, keeps the dialog and the
// object's password; a match sets it and checks "Activate encryption";
// the entries come out encrypted.
TEST_F(CommandsTest, AddWithPassword) {
    SourceTree tree;
    TestHost host;
    const std::string path = tree.scratch / "secret.zip";
    AdoptNew(host, path);
    std::string error, passwordAfterMismatch = "unset";
    bool okEmpty = true, encryptChecked = false;
    Script({{"Add", [](HWND dialog) { Press(dialog, TESCMD_IDC_ADD_PASSWORD); }},
            {"Password",
             [&](HWND dialog) {
                 okEmpty = IsEnabled(dialog, IDOK);
                 Type(dialog, TESCMD_IDC_PASSWORD, "sesame", EN_CHANGE);
                 Type(dialog, TESCMD_IDC_PASSWORD_CONFIRM, "sesamo", EN_CHANGE);
                 Press(dialog, IDOK);
             }},
            Answer("Tessera", IDOK, &error),
            {"Password",
             [&](HWND dialog) {
                 passwordAfterMismatch = host.Archive()->GetPassword();
                 Type(dialog, TESCMD_IDC_PASSWORD_CONFIRM, "sesame", EN_CHANGE);
                 Press(dialog, IDOK);
             }},
            {"Add", [&](HWND dialog) {
                 encryptChecked = IsChecked(dialog, TESCMD_IDC_ADD_ENCRYPT);
                 Press(dialog, IDOK);
             }}});
    tescommands::AddFilesCommand(host, {tree / "a.txt", tree / "b.doc"});
    EXPECT_FALSE(okEmpty);
    EXPECT_EQ(error, "The password does not match with the confirmation.");
    EXPECT_EQ(passwordAfterMismatch, "");
    EXPECT_TRUE(encryptChecked);
    EXPECT_EQ(host.lastResult, S_OK) << host.LogText();
    ASSERT_NE(host.Archive(), nullptr);
    EXPECT_STREQ(host.Archive()->GetPassword(), "sesame");
    ASSERT_EQ(host.Archive()->GetEntryCount(), 2u);
    for (DWORD i = 0; i < 2; ++i) EXPECT_TRUE(host.Archive()->GetEntries()[i].flags & HDR_ENCRYPTED);
    LeaveForUnzip(path, "password", {"a.txt", "b.doc"}, "sesame");
}

// The archive itself is never added: its row goes with warning 11; when
// no row is left the dialog stays open.
TEST_F(CommandsTest, ArchiveItselfIsRefused) {
    struct Case {
        const char* label;
        bool withOther;
    } cases[] = {{"with another file", true}, {"alone", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SourceTree tree;
        TestHost host;
        const std::string path = OpenCopy(host, tree.scratch);
        std::string warning;
        int rowsLeft = -1;
        bool okEnabled = true;
        std::vector<Step> steps = {{"Add", [](HWND dialog) { Press(dialog, IDOK); }},
                                   Answer("Tessera", IDOK, &warning)};
        if (!c.withOther)
            steps.push_back({"Add", [&](HWND dialog) {
                                 rowsLeft = RowCount(dialog);
                                 okEnabled = IsEnabled(dialog, IDOK);
                                 Press(dialog, IDCANCEL);
                             }});
        Script(steps);
        std::vector<std::string> dropped = {path};
        if (c.withOther) dropped.push_back(tree / "c.bin");
        tescommands::AddFilesCommand(host, dropped);
        EXPECT_EQ(warning, "The selected file is the archive itself and cannot be added.");
        if (c.withOther) {
            EXPECT_EQ(host.lastResult, S_OK);
            Names expected = kAllTree;
            expected.insert("c.bin");
            EXPECT_EQ(EntryNames(path), expected);
        } else {
            EXPECT_EQ(rowsLeft, 0);
            EXPECT_FALSE(okEnabled);
            EXPECT_EQ(host.operations, 0);
        }
    }
}

// Saved selections: names found without regard to case, the first free
// number, options and rows back (rows that no longer exist skipped), and
// deletion freeing the number.
TEST_F(CommandsTest, SavedSelectionsRoundTrip) {
    SourceTree tree;
    tescommands::AddOptions options;
    options.level = 2;
    options.fullPaths = true;
    options.partialPaths = false;
    options.move = true;
    ASSERT_TRUE(tescommands::SaveSelection("Work", options, {tree / "a.txt", tree / "gone.txt", tree / "sub"}));
    ASSERT_TRUE(tescommands::SaveSelection("Other", tescommands::AddOptions(), {tree / "b.doc"}));
    char text[MAX_PATH] = "";
    ASSERT_TRUE(GetProfileString("Add\\00000000", "DisplayName", text));
    EXPECT_STREQ(text, "Work");
    ASSERT_TRUE(GetProfileString("Add\\00000000", "00000001", text));
    EXPECT_EQ(text, tree / "gone.txt");
    ASSERT_TRUE(GetProfileString("Add\\00000001", "DisplayName", text));
    EXPECT_STREQ(text, "Other");
    EXPECT_EQ(Setting("Add\\00000000", "Compression"), 2u);
    EXPECT_EQ(Setting("Add\\00000000", "UsePath"), 1u);

    // Saving under the same name (another case) replaces that section.
    ASSERT_TRUE(tescommands::SaveSelection("WORK", options, {tree / "a.txt", tree / "gone.txt", tree / "sub"}));
    EXPECT_EQ(tescommands::SavedSelectionNames().size(), 2u);
    tescommands::AddOptions loaded;
    std::vector<std::string> rows;
    ASSERT_TRUE(tescommands::LoadSelection("work", &loaded, &rows));
    EXPECT_EQ(rows, (std::vector<std::string>{tree / "a.txt", tree / "sub"}));
    EXPECT_EQ(loaded.level, 2u);
    EXPECT_TRUE(loaded.fullPaths);
    EXPECT_FALSE(loaded.partialPaths);
    EXPECT_TRUE(loaded.move);
    EXPECT_FALSE(tescommands::LoadSelection("nobody", &loaded, &rows));

    ASSERT_TRUE(tescommands::DeleteSelection("work"));
    EXPECT_EQ(tescommands::SavedSelectionNames(), std::vector<std::string>{"Other"});
    ASSERT_TRUE(tescommands::SaveSelection("Third", options, {}));
    ASSERT_TRUE(GetProfileString("Add\\00000000", "DisplayName", text));
    EXPECT_STREQ(text, "Third");
}

// The same through the dialog's Selection menu: save the rows, remove
// them, load them back.
TEST_F(CommandsTest, SavedSelectionThroughTheDialog) {
    SourceTree tree;
    TestHost host;
    AdoptNew(host, tree.scratch / "saved.zip");
    int rowsBefore = 0, rowsRemoved = -1, rowsLoaded = 0;
    Script({{"Add",
             [&](HWND dialog) {
                 rowsBefore = RowCount(dialog);
                 Press(dialog, TESCMD_CMD_SELECTION_SAVE);
             }},
            {"Save selection",
             [](HWND dialog) {
                 Type(dialog, TESCMD_IDC_SELECTION_NAME, "Two files", CBN_EDITCHANGE);
                 Press(dialog, IDOK);
             }},
            {"Add",
             [&](HWND dialog) {
                 SendMessageA(dialog, WM_COMMAND, TESCMD_CMD_ROWS_SELECT_ALL, 0);
                 SendMessageA(dialog, WM_COMMAND, TESCMD_IDC_ADD_REMOVE, 0);
                 rowsRemoved = RowCount(dialog);
                 Press(dialog, TESCMD_CMD_SELECTION_LOAD);
             }},
            {"Load selection", [](HWND dialog) { Press(dialog, IDOK); }},
            {"Add", [&](HWND dialog) {
                 rowsLoaded = RowCount(dialog);
                 Press(dialog, IDOK);
             }}});
    tescommands::AddFilesCommand(host, {tree / "a.txt", tree / "b.doc"});
    EXPECT_EQ(rowsBefore, 2);
    EXPECT_EQ(rowsRemoved, 0);
    EXPECT_EQ(rowsLoaded, 2);
    EXPECT_EQ(EntryNames(tree.scratch / "saved.zip"), (Names{"a.txt", "b.doc"}));
}

// "/A:archive -h files": no window; the Add dialog without owner, then the
// files added to a new archive.
TEST_F(CommandsTest, AddWithoutWindow) {
    SourceTree tree;
    const std::string path = tree.scratch / "quiet.zip";
    HWND owner = reinterpret_cast<HWND>(-1);
    Script({{"Add", [&](HWND dialog) {
                 owner = GetWindow(dialog, GW_OWNER);
                 Press(dialog, IDOK);
             }}});
    tescommands::OperationSettings settings;
    settings.tempFolder = TestHost::TempFolder();
    EXPECT_EQ(tescommands::AddWithoutWindow(GetModuleHandleA(nullptr), path.c_str(), {tree / "a.txt", tree / "sub"},
                                            settings),
              S_OK);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(EntryNames(path), (Names{"a.txt", "sub/d.txt", "sub/e.doc"}));
}

// A new cabinet: no encryption, no empty-folder option; the files of the
// folder go into the cabinet (what peers make of it: tests/cab_engine).
TEST_F(CommandsTest, AddToNewCabinet) {
    SourceTree tree;
    TestHost host;
    const std::string path = tree.scratch / "new.cab";
    AdoptNew(host, path);
    bool encryptEnabled = true, emptyEnabled = true;
    Script({{"Add", [&](HWND dialog) {
                 encryptEnabled = IsEnabled(dialog, TESCMD_IDC_ADD_ENCRYPT);
                 Press(dialog, TESCMD_IDC_ADD_SELECT_FOLDER);
             }},
            {"Select folder",
             [&](HWND dialog) {
                 Type(dialog, TESCMD_IDC_SELECT_FOLDER_PATH, tree.src, CBN_EDITCHANGE);
                 SetCheck(dialog, TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS, true);
                 emptyEnabled = IsEnabled(dialog, TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY);
                 Press(dialog, IDOK);
             }},
            {"Add", [](HWND dialog) { Press(dialog, IDOK); }}});
    tescommands::AddFilesCommand(host, {});
    EXPECT_FALSE(encryptEnabled);
    EXPECT_FALSE(emptyEnabled);
    EXPECT_EQ(host.lastResult, S_OK) << host.LogText();
    EXPECT_EQ(EntryNames(path), (Names{"a.txt", "b.doc", "c.bin", "hidden.txt", "sub\\d.txt", "sub\\e.doc"}));
}

// The state of a command in an open popup menu: 'e'nabled or 'g'rayed,
// then 'c'hecked or '-'.
std::string MenuState(HMENU menu, UINT id) {
    const UINT state = GetMenuState(menu, id, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1)) return "missing";
    return std::string(1, (state & (MF_GRAYED | MF_DISABLED)) ? 'g' : 'e') + ((state & MF_CHECKED) ? 'c' : '-');
}

// Reads the commands' states of the popup that is up, then closes it.
Step ReadMenu(std::vector<UINT> ids, std::vector<std::string>* states) {
    return {kMenu, [ids, states](HWND window) {
                HMENU menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0));
                for (UINT id : ids) states->push_back(MenuState(menu, id));
                EndMenu();
            }};
}

// The "Opt" popup offers by the format's capabilities and the archive's
// entries; the "Add" popup by rows and selection.
TEST_F(CommandsTest, AddDialogMenus) {
    const std::vector<UINT> options = {TESCMD_CMD_MOVE, TESCMD_CMD_BACKUP, TESCMD_CMD_SHORT_NAMES,
                                       TESCMD_CMD_INCLUDE_SUBFOLDERS, TESCMD_CMD_INCLUDE_EMPTY_ONLY,
                                       TESCMD_CMD_INCLUDE_HIDDEN, TESCMD_CMD_SPLIT};
    struct Case {
        const char* label;
        const char* archive;  // fixture copied, or a new archive of that name
        bool existing;
        std::vector<std::string> states;
    } cases[] = {
        {"ZIP with entries", "commands-tree.zip", true, {"e-", "ec", "e-", "ec", "e-", "ec", "g-"}},
        {"new ZIP", "new.zip", false, {"e-", "g-", "e-", "ec", "e-", "ec", "g-"}},
        {"new cabinet", "new.cab", false, {"g-", "g-", "g-", "ec", "g-", "ec", "e-"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder scratch;
        TestHost host;
        PutProfileInt("Add", "Backup", 1);
        if (c.existing) {
            OpenCopy(host, scratch);
        } else {
            AdoptNew(host, scratch / c.archive);
        }
        std::vector<std::string> states, rowStates;
        Script({{"Add", [](HWND dialog) { Press(dialog, TESCMD_IDC_ADD_EXTENDED); }},
                ReadMenu(options, &states),
                {"Add",
                 [](HWND dialog) {
                     PostMessageA(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(GetDlgItem(dialog, TESCMD_IDC_ADD_LIST)),
                                  -1);
                 }},
                ReadMenu({TESCMD_CMD_ROWS_SELECT_ALL, TESCMD_IDC_ADD_REMOVE, TESCMD_CMD_SELECTION_SAVE}, &rowStates),
                {"Add", [](HWND dialog) { Press(dialog, IDCANCEL); }}});
        tescommands::AddFilesCommand(host, {ArchiveFixture("commands-tree.zip")});
        EXPECT_EQ(states, c.states);
        EXPECT_EQ(rowStates, (std::vector<std::string>{"e-", "g-", "e-"}));
    }
}

// Files and folders dropped on the dialog: files become rows, a folder is
// replaced by its contents, paths that are no file-system items are
// ignored. "Delete added files" (from the Opt menu) removes the sources.
TEST_F(CommandsTest, DropsAndDeleteAddedFiles) {
    SourceTree tree;
    TestHost host;
    const std::string path = tree.scratch / "dropped.zip";
    AdoptNew(host, path);
    const std::vector<std::string> dropped = {tree / "a.txt", tree / "sub", tree / "nothing.here"};
    int rows = 0;
    Script({{"Add", [&](HWND dialog) {
                 size_t bytes = sizeof(DROPFILES) + 1;
                 for (const std::string& name : dropped) bytes += name.size() + 1;
                 HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
                 DROPFILES* header = static_cast<DROPFILES*>(GlobalLock(block));
                 header->pFiles = sizeof(DROPFILES);
                 char* names = reinterpret_cast<char*>(header + 1);
                 for (const std::string& name : dropped) {
                     memcpy(names, name.c_str(), name.size() + 1);
                     names += name.size() + 1;
                 }
                 GlobalUnlock(block);
                 SendMessageA(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
                 rows = RowCount(dialog);
                 SendMessageA(dialog, WM_COMMAND, TESCMD_CMD_MOVE, 0);
                 Press(dialog, IDOK);
             }}});
    tescommands::AddFilesCommand(host, {});
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(host.lastResult, S_OK) << host.LogText();
    EXPECT_EQ(EntryNames(path), (Names{"a.txt", "sub/d.txt", "sub/e.doc"}));
    EXPECT_FALSE(FileExists(tree / "a.txt"));
    EXPECT_FALSE(FileExists(tree / "sub\\d.txt"));
    EXPECT_TRUE(FileExists(tree / "b.doc"));
    EXPECT_EQ(Setting("Add", "Move"), 1u);
}

// "Select files...": several files at once from "AddDir", which keeps the
// folder; the compression combo lists the engine's level names.
TEST_F(CommandsTest, SelectFilesAndLevels) {
    SourceTree tree;
    TestHost host;
    AdoptNew(host, tree.scratch / "picked.zip");
    PutProfileString("Settings", "AddDir", tree.src.c_str());
    PutProfileInt("Add", "Compression", 1);
    int rows = 0;
    std::vector<std::string> levels;
    int level = -1;
    Script({{"Add",
             [&](HWND dialog) {
                 HWND combo = GetDlgItem(dialog, TESCMD_IDC_ADD_LEVEL);
                 for (int i = 0; i < ComboBox_GetCount(combo); ++i) {
                     char text[MAX_PATH];
                     ComboBox_GetLBText(combo, i, text);
                     levels.push_back(text);
                 }
                 level = ComboBox_GetCurSel(combo);
                 Press(dialog, TESCMD_IDC_ADD_SELECT_FILES);
             }},
            {"Select files",
             [](HWND dialog) {
                 HWND name = GetDlgItem(dialog, cmb13);
                 if (!name) name = GetDlgItem(dialog, edt1);
                 SetWindowTextA(name, "\"a.txt\" \"b.doc\"");
                 PostMessageA(dialog, WM_COMMAND, IDOK, 0);
             }},
            {"Add", [&](HWND dialog) {
                 rows = RowCount(dialog);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::AddFilesCommand(host, {});
    char names[GETTEXT_BUFFER] = {};
    ASSERT_EQ(host.Archive()->GetText(TEXT_LEVELS, 0, names), S_OK);
    std::vector<std::string> expected;
    for (const char* name = names; *name; name += strlen(name) + 1) expected.push_back(name);
    EXPECT_EQ(levels, expected);
    EXPECT_GT(levels.size(), 1u);
    EXPECT_EQ(level, 1);
    EXPECT_EQ(rows, 2);
    char folder[MAX_PATH] = "";
    ASSERT_TRUE(GetProfileString("Settings", "AddDir", folder));
    EXPECT_EQ(lstrcmpiA(folder, tree.src.c_str()), 0) << folder;
}

// For dropped files, Create shows the note instead of the check box and an
// existing archive is opened without a question.
TEST_F(CommandsTest, CreateForDroppedFiles) {
    ScratchFolder scratch;
    TestHost host;
    const std::string path = scratch / "tree.zip";
    ASSERT_TRUE(CopyFileA(ArchiveFixture("commands-tree.zip").c_str(), path.c_str(), FALSE));
    bool note = false, box = true;
    Script({{"Create", [&](HWND dialog) {
                 note = FindChildById(dialog, -1, "Please open or create an archive before adding files.") != nullptr;
                 box = FindChildById(dialog, TESCMD_IDC_CREATE_SHOW_ADD, "Show add dialog after creating") != nullptr;
                 CreateAs(path, -1).act(dialog);
             }}});
    tescommands::CreateArchiveCommand(host, scratch.Path().c_str(), true);
    EXPECT_TRUE(note);
    EXPECT_FALSE(box);
    EXPECT_EQ(host.opened, std::vector<std::string>{path});
}

// A folder text that resolves to no folder: the system's error, and
// "Select folder" stays open.
TEST_F(CommandsTest, SelectFolderRefusesUnknownFolder) {
    ScratchFolder scratch;
    TestHost host;
    AdoptNew(host, scratch / "none.zip");
    std::string error;
    std::string missing = scratch / "no/such/folder";
    Script({{"Add", [](HWND dialog) { Press(dialog, TESCMD_IDC_ADD_SELECT_FOLDER); }},
            {"Select folder",
             [&](HWND dialog) {
                 Type(dialog, TESCMD_IDC_SELECT_FOLDER_PATH, missing, CBN_EDITCHANGE);
                 Press(dialog, IDOK);
             }},
            Answer("Tessera", IDOK, &error),
            {"Select folder", [](HWND dialog) { Press(dialog, IDCANCEL); }},
            {"Add", [](HWND dialog) { Press(dialog, IDCANCEL); }}});
    tescommands::AddFilesCommand(host, {});
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(host.operations, 0);
}

// A click on a column sorts the rows: names by text, sizes by value; a
// second click on the same column reverses.
TEST_F(CommandsTest, ColumnClickSortsRows) {
    ScratchFolder scratch;
    for (const auto& file : {std::make_pair("big.txt", 100), {"mid.txt", 20}, {"small.txt", 3}})
        WriteWholeFile(scratch / file.first, std::string(static_cast<size_t>(file.second), 'x'));
    TestHost host;
    AdoptNew(host, scratch / "sorted.zip");
    std::vector<std::vector<std::string>> orders;
    auto clickColumn = [&orders](HWND dialog, int column) {
        HWND list = GetDlgItem(dialog, TESCMD_IDC_ADD_LIST);
        NMLISTVIEW click = {};
        click.hdr.hwndFrom = list;
        click.hdr.idFrom = TESCMD_IDC_ADD_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = column;
        SendMessageA(dialog, WM_NOTIFY, TESCMD_IDC_ADD_LIST, reinterpret_cast<LPARAM>(&click));
        std::vector<std::string> names;
        for (int i = 0; i < ListView_GetItemCount(list); ++i) {
            char text[MAX_PATH];
            ListView_GetItemText(list, i, 0, text, sizeof text);
            names.push_back(text);
        }
        orders.push_back(names);
    };
    Script({{"Add", [&](HWND dialog) {
                 clickColumn(dialog, 2);
                 clickColumn(dialog, 2);
                 clickColumn(dialog, 0);
                 Press(dialog, IDCANCEL);
             }}});
    tescommands::AddFilesCommand(host, {scratch / "mid.txt", scratch / "small.txt", scratch / "big.txt"});
    using Order = std::vector<std::string>;
    EXPECT_EQ(orders, (std::vector<Order>{{"small.txt", "mid.txt", "big.txt"},
                                          {"big.txt", "mid.txt", "small.txt"},
                                          {"big.txt", "mid.txt", "small.txt"}}));
}

}  // namespace
