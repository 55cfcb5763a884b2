// Explorer windows in this process under Wine: the program's start-up, its
// command line and windows on archives written by Python's zipfile, driven
// by messages and commands and read back through the controls. Settings go
// to a key of this test process (HKEY_CURRENT_USER is redirected there);
// message boxes of the program and the engine are answered by hooks.
#include "application.h"
#include "command_line.h"
#include "command_router.h"
#include "compact_path.h"
#include "explorer_window.h"
#include "resource_ids.h"
#include "private_registry.h"
#include "tescore.h"
#include "test_files.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace tessera;
namespace files = tessera::testing;

namespace {

const char kSettings[] = "Settings";

struct ShownMessage {
    std::string text;
    UINT style;
};
std::vector<ShownMessage> g_messages;
int g_answer = IDNO;

int RecordMessage(HWND, const char* text, const char*, UINT style) {
    g_messages.push_back({text, style});
    return g_answer;
}

int CALLBACK EngineMessage(void*, HWND, LPCSTR text, LPCSTR, UINT style) {
    g_messages.push_back({text ? text : "", style});
    return IDOK;
}

const ARCPROMPTHANDLER kPrompts = {nullptr, EngineMessage, nullptr, nullptr, nullptr, nullptr,
                                   ARCPROMPT_NOSTATUSDIALOG};

// Registry redirection and the program's start-up, once for the process.
class ProgramEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        registry_.Redirect("explorer_window");
        ASSERT_TRUE(StartApplication(GetModuleHandleA(nullptr)));
        SetMessageBoxHook(RecordMessage);
        ArcSetPromptHandler(&kPrompts);
    }
    void TearDown() override {
        ArcSetPromptHandler(nullptr);
        EndApplication();
        registry_.Restore();
    }

private:
    tessera::testing::PrivateUserRegistry registry_;
};
::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);

std::string ArchivePath(const char* name) {
    return files::HostPathToNative(std::string(EXPLORER_ARCHIVE_DIR) + "/" + name);
}

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Pumps for a while, so that timers that are due have run.
void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        Pump();
    } while (GetTickCount() - start < milliseconds);
}

std::vector<ExplorerWindow*> Windows() {
    std::vector<ExplorerWindow*> windows;
    for (WindowList::Node* node = App().windows.First(); node; node = node->next) {
        windows.push_back(static_cast<ExplorerWindow*>(node->object));
    }
    return windows;
}

std::string WindowTitle(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string StatusText(HWND status, int part) {
    char text[512] = "";
    SendMessageA(status, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
    return text;
}

int StatusParts(HWND status) { return static_cast<int>(SendMessageA(status, SB_GETPARTS, 0, 0)); }

int ColumnCount(HWND list) {
    return static_cast<int>(SendMessageA(ListView_GetHeader(list), HDM_GETITEMCOUNT, 0, 0));
}

RECT WindowRect(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return rect;
}

// The modal dialogs of the archive commands, cancelled as they appear (a
// thread timer runs inside their message loops); what they showed is kept.
struct ShownDialog {
    std::string title;
    std::string text;  // of its first edit control
    int firstVisibleLine = 0;  // of that edit control
    bool endVisible = false;   // its last character is in view
    bool richEdit = false;     // that control is a rich-edit control
    std::vector<std::string> toolbarButtons;  // texts of the buttons of toolbar 8001
};
std::vector<ShownDialog> g_dialogs;
std::string g_confirmTitle;  // a dialog of this title is confirmed (OK) instead

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (!IsWindowVisible(window) || strcmp(className, "#32770") != 0 || GetPropA(window, "cancelled")) return TRUE;
    SetPropA(window, "cancelled", reinterpret_cast<HANDLE>(1));
    ShownDialog shown;
    shown.title = WindowTitle(window);
    HWND edit = FindWindowExA(window, nullptr, "Edit", nullptr);
    const bool richEdit = !edit && (edit = FindWindowExA(window, nullptr, "RichEdit", nullptr)) != nullptr;
    if (edit) {
        std::vector<char> text(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1);
        GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
        shown.text = text.data();
        shown.firstVisibleLine = static_cast<int>(SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
        RECT client;
        GetClientRect(edit, &client);
        const WPARAM lastChar = text.size() > 1 ? text.size() - 2 : 0;
        if (richEdit) {
            // The rich-edit control answers with the point in a POINTL.
            POINTL point = {-1, -1};
            SendMessageA(edit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), static_cast<LPARAM>(lastChar));
            const POINT at = {point.x, point.y};
            shown.endVisible = PtInRect(&client, at) != FALSE;
        } else {
            const LRESULT last = SendMessageA(edit, EM_POSFROMCHAR, lastChar, 0);
            const POINT at = {static_cast<short>(LOWORD(last)), static_cast<short>(HIWORD(last))};
            shown.endVisible = last != -1 && PtInRect(&client, at);
        }
    }
    shown.richEdit = richEdit;

    if (HWND toolbar = GetDlgItem(window, 8001)) {
        const int count = static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
        for (int at = 0; at < count; ++at) {
            TBBUTTON button = {};
            SendMessageA(toolbar, TB_GETBUTTON, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&button));
            char label[64] = "";
            SendMessageA(toolbar, TB_GETBUTTONTEXTA, static_cast<WPARAM>(button.idCommand), reinterpret_cast<LPARAM>(label));
            shown.toolbarButtons.push_back(std::string(label) + "=" + std::to_string(button.idCommand));
        }
    }
    g_dialogs.push_back(shown);
    PostMessageA(window, WM_COMMAND, shown.title == g_confirmTitle ? IDOK : IDCANCEL, 0);
    return TRUE;
}

void CALLBACK CancelDialogs(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), CancelDialog, 0); }

std::vector<std::string> DialogTitles() {
    std::vector<std::string> titles;
    for (const ShownDialog& dialog : g_dialogs) titles.push_back(dialog.title);
    return titles;
}

class ExplorerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PutProfileString(kSettings, nullptr, nullptr);  // every test starts from the defaults
        App().settings = ProgramSettings();
        App().settings.Load();
        App().settings.assocCheck = 0;
        g_messages.clear();
        g_answer = IDNO;
        g_dialogs.clear();
        g_confirmTitle.clear();
        dialogTimer_ = SetTimer(nullptr, 0, 30, CancelDialogs);
    }
    void TearDown() override {
        KillTimer(nullptr, dialogTimer_);
        for (ExplorerWindow* window : Windows()) SendMessageA(window->Window(), WM_CLOSE, 0, 0);
        Pump();
        EXPECT_EQ(App().windows.Count(), 0u);
    }

    // One explorer window made through the command line.
    ExplorerWindow* OpenWindow(const std::string& arguments = "") {
        EXPECT_TRUE(ProcessCommandLine(("tessera.exe " + arguments).c_str()));
        Pump();
        std::vector<ExplorerWindow*> windows = Windows();
        return windows.empty() ? nullptr : windows.back();
    }

    static void SaveRect(INT32 left, INT32 top, INT32 right, INT32 bottom) {
        INT32 rect[4] = {left, top, right, bottom};
        PutProfileBinary(kSettings, "WindowRect", rect, sizeof rect);
    }

private:
    UINT_PTR dialogTimer_ = 0;
};

TEST_F(ExplorerTest, TwoPathsOpenTwoWindowsAndOnlyTheFirstTakesTheSavedRectangle) {
    SaveRect(40, 30, 640, 530);
    ASSERT_TRUE(ProcessCommandLine(
        ("tessera.exe \"" + ArchivePath("alpha.zip") + "\" \"" + ArchivePath("beta.zip") + "\"").c_str()));
    Pump();
    std::vector<ExplorerWindow*> windows = Windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(WindowTitle(windows[0]->Window()), "Tessera - alpha.zip");
    EXPECT_EQ(WindowTitle(windows[1]->Window()), "Tessera - beta.zip");
    RECT first = WindowRect(windows[0]->Window());
    RECT second = WindowRect(windows[1]->Window());
    EXPECT_EQ(first.left, 40);
    EXPECT_EQ(first.top, 30);
    EXPECT_EQ(first.right, 640);
    EXPECT_EQ(first.bottom, 530);
    EXPECT_FALSE(second.left == 40 && second.top == 30 && second.right == 640 && second.bottom == 530);
}

TEST_F(ExplorerTest, SavedRectangleOutsideTheDesktopIsIgnoredAndClosingSavesTheRectangle) {
    SaveRect(-6000, -6000, -5000, -5200);
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    RECT rect = WindowRect(window->Window());
    EXPECT_GT(rect.right, 0);
    EXPECT_GT(rect.bottom, 0);
    MoveWindow(window->Window(), 50, 60, 700, 500, TRUE);
    HWND hwnd = window->Window();
    SendMessageA(hwnd, WM_COMMAND, CMD_EXIT, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    Pump();
    EXPECT_EQ(App().windows.Count(), 0u);
    INT32 saved[4] = {};
    DWORD size = sizeof saved;
    ASSERT_TRUE(GetProfileBinary(kSettings, "WindowRect", saved, &size));
    EXPECT_EQ(saved[0], 50);
    EXPECT_EQ(saved[1], 60);
    EXPECT_EQ(saved[2], 750);
    EXPECT_EQ(saved[3], 560);
    DWORD maximized = 7;
    ASSERT_TRUE(GetProfileInt(kSettings, "Maximized", &maximized));
    EXPECT_EQ(maximized, 0u);
}

TEST_F(ExplorerTest, CommandLineErrorsShowTheirMessageAndEndWithoutAWindow) {
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"/A:" + ArchivePath("alpha.zip") + " -x file.txt",
         "Invalid option -x for command /A specified. See \"Commands.txt\" for help!"},
        {"/q something", "Invalid command /q specified."},
        {"/E \"" + ArchivePath("missing.zip") + "\"", "An archive has not been specified."},
    };
    for (const Case& test : cases) {
        g_messages.clear();
        EXPECT_FALSE(ProcessCommandLine(("tessera.exe " + test.arguments).c_str())) << test.arguments;
        Pump();
        EXPECT_EQ(App().windows.Count(), 0u) << test.arguments;
        ASSERT_FALSE(g_messages.empty()) << test.arguments;
        EXPECT_EQ(g_messages.back().text, test.message);
        EXPECT_TRUE(g_messages.back().style & MB_ICONSTOP) << test.arguments;
    }
}

TEST_F(ExplorerTest, AddSwitchWithAnArchiveOpensItInOneWindow) {
    ASSERT_TRUE(ProcessCommandLine(("tessera.exe /a:" + ArchivePath("alpha.zip") + " C:\\one.txt").c_str()));
    Pump();
    ASSERT_EQ(App().windows.Count(), 1u);
    EXPECT_EQ(WindowTitle(Windows()[0]->Window()), "Tessera - alpha.zip");
    EXPECT_EQ(DialogTitles(), std::vector<std::string>{"Add"});  // with the files given
}

// The archive commands reach their dialogs from the menu, the toolbar's
// commands and the window's own messages.
TEST_F(ExplorerTest, ArchiveCommandsOpenTheirDialogs) {
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("alpha.zip") + "\"");
    ASSERT_NE(window, nullptr);
    HWND hwnd = window->Window();
    struct Case {
        UINT command;  // 0: WM_USER+5, extract everything
        bool selectAll;
        const char* dialog;
    };
    const Case cases[] = {
        {CMD_EXTRACT, false, "Extract"},
        {0, false, "Extract"},
        {CMD_EXTRACT_SELECTED, true, "Extract"},
        {CMD_DELETE_FILES, true, "Delete"},
        {CMD_ADD, false, "Add"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.dialog);
        g_dialogs.clear();
        if (test.selectAll) SendMessageA(hwnd, WM_COMMAND, CMD_SELECT_ALL, 0);
        if (test.command) {
            SendMessageA(hwnd, WM_COMMAND, test.command, 0);
        } else {
            SendMessageA(hwnd, WM_EXTRACT_ALL, 0, 0);
        }
        Pump();
        EXPECT_EQ(DialogTitles(), std::vector<std::string>{test.dialog});
        EXPECT_EQ(WindowTitle(hwnd), "Tessera - alpha.zip");  // nothing was changed
    }

    // Test runs at once and shows its report.
    g_dialogs.clear();
    SendMessageA(hwnd, WM_COMMAND, CMD_TEST, 0);
    Pump();
    ASSERT_EQ(g_dialogs.size(), 1u);
    EXPECT_EQ(g_dialogs[0].title, "Output");
    EXPECT_NE(g_dialogs[0].text.find("No errors were found"), std::string::npos) << g_dialogs[0].text;

    // The report stays available until the next operation.
    g_dialogs.clear();
    SendMessageA(hwnd, WM_COMMAND, CMD_VIEW_OUTPUT, 0);
    Pump();
    EXPECT_EQ(DialogTitles(), std::vector<std::string>{"Output"});

    // Create asks for the new archive's name; cancelled, the archive stays.
    g_dialogs.clear();
    SendMessageA(hwnd, WM_COMMAND, CMD_CREATE_ARCHIVE, 0);
    Pump();
    EXPECT_EQ(g_dialogs.size(), 1u);
    EXPECT_EQ(WindowTitle(hwnd), "Tessera - alpha.zip");
}

TEST_F(ExplorerTest, HistoryKeepsOneNodePerRepeatDropsForwardNodesAndBackReopensAfterClose) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    HWND hwnd = window->Window();
    const std::string alpha = ArchivePath("alpha.zip"), beta = ArchivePath("beta.zip"), gamma = ArchivePath("gamma.zip");
    ASSERT_TRUE(window->OpenArchive(alpha, true));
    ASSERT_TRUE(window->OpenArchive(alpha, true));
    EXPECT_EQ(window->History().Size(), 1u);
    EXPECT_FALSE(SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, CMD_BACK, 0));
    ASSERT_TRUE(window->OpenArchive(beta, true));
    EXPECT_TRUE(SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, CMD_BACK, 0));

    SendMessageA(hwnd, WM_COMMAND, CMD_BACK, 0);
    EXPECT_EQ(WindowTitle(hwnd), "Tessera - alpha.zip");
    EXPECT_TRUE(SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, CMD_FORWARD, 0));
    ASSERT_TRUE(window->OpenArchive(gamma, true));
    EXPECT_EQ(window->History().Paths(), (std::vector<std::string>{alpha, gamma}));
    EXPECT_FALSE(SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, CMD_FORWARD, 0));

    SendMessageA(hwnd, WM_COMMAND, CMD_CLOSE_ARCHIVE, 0);
    EXPECT_EQ(window->Archive(), nullptr);
    EXPECT_EQ(WindowTitle(hwnd), "Tessera");
    EXPECT_TRUE(SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, CMD_BACK, 0));
    SendMessageA(hwnd, WM_COMMAND, CMD_BACK, 0);
    EXPECT_EQ(WindowTitle(hwnd), "Tessera - gamma.zip");
    EXPECT_EQ(window->History().Paths(), (std::vector<std::string>{alpha, gamma}));
}

TEST_F(ExplorerTest, ArchiveThatFailsToOpenLeavesTheRecentListAndTheHistory) {
    files::ScratchFolder scratch;
    const std::string broken = scratch / "broken.zip";
    const std::vector<uint8_t> good = files::ReadWholeFile(std::string(EXPLORER_ARCHIVE_DIR) + "/gamma.zip");
    files::WriteWholeFile(broken, good.data(), good.size());

    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    const std::string alpha = ArchivePath("alpha.zip");
    ASSERT_TRUE(window->OpenArchive(alpha, true));
    ASSERT_TRUE(window->OpenArchive(broken, true));
    EXPECT_TRUE(SamePath(window->Recent().Slot(0), broken));
    ASSERT_TRUE(window->OpenArchive(alpha, true));

    files::WriteWholeFile(broken, std::string(300, 'x'));  // no longer an archive
    g_messages.clear();
    EXPECT_FALSE(window->OpenArchive(broken, true));
    EXPECT_FALSE(g_messages.empty());  // the engine reported why
    EXPECT_EQ(window->Archive(), nullptr);
    EXPECT_TRUE(SamePath(window->Recent().Slot(0), alpha));
    EXPECT_EQ(window->Recent().Slot(1), "");
    for (const std::string& path : window->History().Paths()) EXPECT_TRUE(SamePath(path, alpha)) << path;
    EXPECT_EQ(window->History().Size(), 2u);
}

TEST_F(ExplorerTest, ArchiveMenuShowsLastArchiveDisabledUntilSomethingWasOpened) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    HMENU archiveMenu = GetSubMenu(GetMenu(window->Window()), 0);
    SendMessageA(window->Window(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(archiveMenu), 0);
    char text[256] = "";
    EXPECT_EQ(GetMenuItemID(archiveMenu, 15), static_cast<UINT>(CMD_LAST_ARCHIVE));
    GetMenuStringA(archiveMenu, 15, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Last archive");
    EXPECT_TRUE(GetMenuState(archiveMenu, 15, MF_BYPOSITION) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(archiveMenu, CMD_CLOSE_ARCHIVE, MF_BYCOMMAND) & MF_GRAYED);

    const std::string alpha = ArchivePath("alpha.zip");
    ASSERT_TRUE(window->OpenArchive(alpha, true));
    SendMessageA(window->Window(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(archiveMenu), 0);
    EXPECT_EQ(GetMenuItemID(archiveMenu, 15), static_cast<UINT>(CMD_RECENT_FIRST));
    GetMenuStringA(archiveMenu, 15, text, sizeof text, MF_BYPOSITION);
    EXPECT_EQ(std::string(text), "&1 " + CompactPath(alpha, 32, true));
    EXPECT_FALSE(GetMenuState(archiveMenu, 15, MF_BYPOSITION) & MF_GRAYED);
    EXPECT_EQ(GetMenuItemID(archiveMenu, 16), 0u);  // the separator before Exit
    EXPECT_FALSE(GetMenuState(archiveMenu, CMD_CLOSE_ARCHIVE, MF_BYCOMMAND) & MF_GRAYED);

    HMENU actions = GetSubMenu(GetMenu(window->Window()), 2);
    SendMessageA(window->Window(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(actions), 2);
    EXPECT_FALSE(GetMenuState(actions, CMD_EXTRACT, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(actions, CMD_TEST, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(actions, CMD_VIEW_OUTPUT, MF_BYCOMMAND) & MF_GRAYED);

    // Menu help: one part with the item's text, restored when the menu closes.
    SendMessageA(window->Window(), WM_MENUSELECT, MAKEWPARAM(CMD_RECENT_FIRST, MF_STRING),
                 reinterpret_cast<LPARAM>(archiveMenu));
    EXPECT_EQ(StatusParts(window->StatusBar()), 1);
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "Opens the archive '" + alpha + "'.");
    SendMessageA(window->Window(), WM_MENUSELECT, MAKEWPARAM(0, MF_POPUP), reinterpret_cast<LPARAM>(archiveMenu));
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "Press ESC key to exit menu mode.");
    SendMessageA(window->Window(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(StatusParts(window->StatusBar()), 3);
}

TEST_F(ExplorerTest, TreeToggleSwitchesColumnsStatusPartsAndTheList) {
    PutProfileInt(kSettings, "NoTree", 1);
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("alpha.zip") + "\"");
    ASSERT_NE(window, nullptr);
    HWND list = window->View().Window();
    EXPECT_TRUE(window->TreeHidden());
    EXPECT_FALSE(IsWindowVisible(window->Pane().Window()));
    EXPECT_EQ(ColumnCount(list), 7);
    EXPECT_EQ(StatusParts(window->StatusBar()), 2);
    EXPECT_EQ(window->View().ItemCount(), 3);  // every file in flat mode

    SendMessageA(window->Window(), WM_COMMAND, CMD_FOLDER_TREE, 0);
    EXPECT_FALSE(window->TreeHidden());
    EXPECT_TRUE(IsWindowVisible(window->Pane().Window()));
    EXPECT_EQ(ColumnCount(list), 6);
    EXPECT_EQ(StatusParts(window->StatusBar()), 3);
    EXPECT_EQ(window->View().ItemCount(), 1);  // the root folder's own file
    EXPECT_GT(TreeView_GetCount(window->Tree().Window()), 1u);
    bool checked = false;
    window->CommandState(CMD_FOLDER_TREE, false, false, &checked);
    EXPECT_TRUE(checked);

    window->RefreshStatusBar();
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "1 Object(s)");
    EXPECT_FALSE(StatusText(window->StatusBar(), 2).empty());  // the selected folder
    EXPECT_NE(StatusText(window->StatusBar(), 1).find("(packed: "), std::string::npos);

    // The pane's close button hides the tree again.
    SendMessageA(window->Pane().Window(), WM_COMMAND, IDC_PANE_CLOSE, 0);
    EXPECT_TRUE(window->TreeHidden());
    EXPECT_EQ(ColumnCount(list), 7);
    EXPECT_EQ(window->View().ItemCount(), 3);
    ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list, 2, LVIS_SELECTED, LVIS_SELECTED);
    window->RefreshStatusBar();
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "2 Object(s) selected");
}

TEST_F(ExplorerTest, SplitterKeepsNinetyPixelsForTreeAndList) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    MoveWindow(window->Window(), 0, 0, 800, 600, TRUE);
    HWND pane = window->Pane().Window();
    RECT paneClient;
    GetClientRect(pane, &paneClient);
    RECT client;
    GetClientRect(window->Window(), &client);
    SendMessageA(pane, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(paneClient.right - 2, 50));
    SendMessageA(pane, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(-500), 50));
    EXPECT_EQ(window->TreeWidth(), 92);
    SendMessageA(pane, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(3000, 50));
    EXPECT_EQ(window->TreeWidth(), client.right - 90 + 2);
    SendMessageA(pane, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(250, 50));
    EXPECT_EQ(window->TreeWidth(), 252);
    SendMessageA(pane, WM_LBUTTONUP, 0, MAKELPARAM(250, 50));
    SendMessageA(pane, WM_MOUSEMOVE, 0, MAKELPARAM(100, 50));  // released: no change
    EXPECT_EQ(window->TreeWidth(), 252);
    RECT paneRect = WindowRect(pane);
    EXPECT_EQ(paneRect.right - paneRect.left, 252);

    // A press away from the edge does not start a drag.
    SendMessageA(pane, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 50));
    SendMessageA(pane, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 50));
    EXPECT_EQ(window->TreeWidth(), 252);
    SendMessageA(pane, WM_LBUTTONUP, 0, MAKELPARAM(300, 50));
}

TEST_F(ExplorerTest, ArchiveOfOnlyFoldersGivesAnEmptyFlatList) {
    PutProfileInt(kSettings, "NoTree", 1);
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("folders.zip") + "\"");
    ASSERT_NE(window, nullptr);
    ASSERT_NE(window->Archive(), nullptr);
    EXPECT_EQ(window->View().ItemCount(), 0);
    EXPECT_EQ(WindowTitle(window->Window()), "Tessera - folders.zip");
    bool checked = false;
    EXPECT_FALSE(window->CommandState(CMD_SELECT_ALL, false, true, &checked));
    EXPECT_TRUE(window->CommandState(CMD_EXTRACT, false, true, &checked));  // entries exist
}

TEST_F(ExplorerTest, OperationFrameAttachesTheLogAndOffersItOnWarnings) {
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("beta.zip") + "\"");
    ASSERT_NE(window, nullptr);
    ASSERT_NE(window->Archive(), nullptr);
    MESSAGEPROC attached = nullptr;
    HRESULT result = window->RunOperation([&](ICompressFormat* archive, HWND owner) {
        EXPECT_EQ(owner, window->Window());
        attached = archive->SetMessageCallback(nullptr, 0);
        archive->SetMessageCallback(attached, reinterpret_cast<LPARAM>(window->Log()));
        OutputLog::Callback(archive, reinterpret_cast<LPARAM>(window->Log()), "warning line\n");
        return S_FALSE;
    });
    EXPECT_EQ(result, S_FALSE);
    EXPECT_EQ(attached, &OutputLog::Callback);
    EXPECT_EQ(window->Archive()->SetMessageCallback(nullptr, 0), nullptr);  // detached again
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].text,
              "The operation has not been completed successfully. Would you like to view the output?");
    EXPECT_TRUE(window->CommandState(CMD_VIEW_OUTPUT, false, true, nullptr));
    EXPECT_EQ(window->View().ItemCount(), 2);  // refreshed and refilled

    g_messages.clear();
    EXPECT_EQ(window->RunOperation([](ICompressFormat*, HWND) { return E_FAIL; }), E_FAIL);
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(ExplorerTest, ToolbarHoldsTheDefaultSetAndRestoresItsSavedState) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    auto commands = [](HWND toolbar) {
        std::vector<int> ids;
        int count = static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
        for (int index = 0; index < count; ++index) {
            TBBUTTON button = {};
            SendMessageA(toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button));
            ids.push_back(button.fsStyle & BTNS_SEP ? 0 : button.idCommand);
        }
        return ids;
    };
    const std::vector<int> defaults = {40044, 40045, 32776, 40012, 32795, 0, 32789, 32787, 32788, 0,
                                       40030, 40028, 40009};
    EXPECT_EQ(commands(window->Toolbar()), defaults);
    EXPECT_FALSE(SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, CMD_EXTRACT, 0));

    SendMessageA(window->Toolbar(), TB_DELETEBUTTON, 2, 0);
    TBBUTTON font = ExplorerToolbar::PlaceableButton(17);
    SendMessageA(window->Toolbar(), TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&font));
    std::vector<int> changed = commands(window->Toolbar());
    DestroyWindow(window->Window());
    Pump();

    window = OpenWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(commands(window->Toolbar()), changed);
    SendMessageA(window->Window(), WM_COMMAND, CMD_RESET_TOOLBAR, 0);
    EXPECT_EQ(commands(window->Toolbar()), defaults);
}

TEST_F(ExplorerTest, AlwaysOnTopFromTheSystemMenuAndTheCounterMessage) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    HMENU systemMenu = GetSystemMenu(window->Window(), FALSE);
    char text[128] = "";
    GetMenuStringA(systemMenu, CMD_ALWAYS_ON_TOP, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "&Always On Top");
    SendMessageA(window->Window(), WM_SYSCOMMAND, CMD_ALWAYS_ON_TOP, 0);
    EXPECT_EQ(App().settings.alwaysOnTop, 1u);
    EXPECT_TRUE(GetMenuState(systemMenu, CMD_ALWAYS_ON_TOP, MF_BYCOMMAND) & MF_CHECKED);
    SendMessageA(window->Window(), WM_SYSCOMMAND, CMD_ALWAYS_ON_TOP, 0);
    EXPECT_EQ(App().settings.alwaysOnTop, 0u);
    EXPECT_FALSE(GetMenuState(systemMenu, CMD_ALWAYS_ON_TOP, MF_BYCOMMAND) & MF_CHECKED);

    App().settings.archivesOpened = 0;
    window->OpenArchive(ArchivePath("gamma.zip"), true);
    window->OpenArchive(ArchivePath("missing.zip"), true);  // attempts count too
    g_messages.clear();
    SendMessageA(window->Window(), WM_COMMAND, CMD_ARCHIVES_OPENED, 0);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].text, "Tessera has been used to open 2 archive(s).");
    EXPECT_TRUE(g_messages[0].style & MB_ICONINFORMATION);
}

TEST_F(ExplorerTest, DroppedArchiveOpensWithoutAHistoryNode) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    const std::string beta = ArchivePath("beta.zip");
    HGLOBAL drop = BuildFileDropBlock({beta});
    ASSERT_NE(drop, nullptr);
    SendMessageA(window->Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);  // freed by the window
    EXPECT_EQ(WindowTitle(window->Window()), "Tessera - beta.zip");
    EXPECT_TRUE(window->History().Empty());
    EXPECT_TRUE(SamePath(window->Recent().Slot(0), beta));

    // Files that are no archive go to the Add command of the open archive.
    g_messages.clear();
    g_dialogs.clear();
    window->HandleDroppedFiles({"C:\\no-such-file.txt", "C:\\another.txt"});
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(DialogTitles(), std::vector<std::string>{"Add"});
    EXPECT_EQ(WindowTitle(window->Window()), "Tessera - beta.zip");

    // An archive that takes no additions says so.
    ASSERT_TRUE(window->OpenArchive(ArchivePath("delta.tar"), true));
    EXPECT_FALSE(window->CommandState(CMD_ADD, false, true, nullptr));
    window->HandleDroppedFiles({"C:\\no-such-file.txt", "C:\\another.txt"});
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].text, "Tessera cannot add files to this archives.");
    EXPECT_TRUE(g_messages[0].style & MB_ICONEXCLAMATION);
}

bool ToolbarEnabled(ExplorerWindow* window, UINT command) {
    return SendMessageA(window->Toolbar(), TB_ISBUTTONENABLED, command, 0) != 0;
}

HTREEITEM TreeChildNamed(HWND tree, HTREEITEM parent, const std::string& name) {
    for (HTREEITEM item = TreeView_GetChild(tree, parent); item; item = TreeView_GetNextSibling(tree, item)) {
        char text[MAX_PATH] = "";
        TVITEMA tvi = {};
        tvi.mask = TVIF_TEXT | TVIF_HANDLE;
        tvi.hItem = item;
        tvi.pszText = text;
        tvi.cchTextMax = sizeof text;
        TreeView_GetItem(tree, &tvi);
        if (name == text) return item;
    }
    return nullptr;
}

bool TreeItemHasButton(HWND tree, HTREEITEM item) {
    TVITEMA tvi = {};
    tvi.mask = TVIF_CHILDREN | TVIF_HANDLE;
    tvi.hItem = item;
    return TreeView_GetItem(tree, &tvi) && tvi.cChildren != 0;
}

// The toolbar and the status bar follow the list at once: a tree folder
// that brings files enables Cut and Copy; Select Group paints the list,
// counts the selection and enables the menus' Cut and Copy.
TEST_F(ExplorerTest, CommandStatesFollowTheTreeFolderAndSelectGroup) {
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("nested.zip") + "\"");
    ASSERT_NE(window, nullptr);
    PumpFor(50);
    EXPECT_EQ(window->View().ItemCount(), 0);  // the root holds folders only
    EXPECT_FALSE(ToolbarEnabled(window, CMD_CUT));
    EXPECT_FALSE(ToolbarEnabled(window, CMD_COPY));
    EXPECT_FALSE(ToolbarEnabled(window, CMD_UP_FOLDER) && window->CommandState(CMD_UP_FOLDER, false, true, nullptr));

    HWND tree = window->Tree().Window();
    HTREEITEM source = TreeChildNamed(tree, TreeView_GetRoot(tree), "src");
    ASSERT_NE(source, nullptr);
    TreeView_SelectItem(tree, source);
    EXPECT_EQ(window->View().ItemCount(), 3);
    EXPECT_TRUE(ToolbarEnabled(window, CMD_CUT));
    EXPECT_TRUE(ToolbarEnabled(window, CMD_COPY));
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "3 Object(s)");
    EXPECT_FALSE(window->CommandState(CMD_CUT, false, true, nullptr));  // nothing selected yet

    HWND list = window->View().Window();
    UpdateWindow(window->Window());
    UpdateWindow(list);
    g_confirmTitle = "Select Group";  // "*.*", the preset of an empty history
    SendMessageA(window->Window(), WM_COMMAND, CMD_SELECT_GROUP, 0);
    EXPECT_EQ(DialogTitles(), std::vector<std::string>{"Select Group"});
    EXPECT_EQ(ListView_GetSelectedCount(list), 3u);
    EXPECT_FALSE(GetUpdateRect(list, nullptr, FALSE));  // painted already
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "3 Object(s) selected");
    EXPECT_TRUE(window->CommandState(CMD_CUT, false, true, nullptr));
    EXPECT_TRUE(window->CommandState(CMD_COPY, false, true, nullptr));

    SendMessageA(window->Window(), WM_COMMAND, CMD_SELECT_NONE, 0);
    EXPECT_EQ(StatusText(window->StatusBar(), 0), "3 Object(s)");
    EXPECT_FALSE(window->CommandState(CMD_COPY, false, true, nullptr));
}

// The tree root offers to expand only when the archive has folders.
TEST_F(ExplorerTest, TreeRootHasAButtonOnlyWithFolders) {
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("delta.tar") + "\"");
    ASSERT_NE(window, nullptr);
    HWND tree = window->Tree().Window();
    ASSERT_NE(TreeView_GetRoot(tree), nullptr);
    EXPECT_FALSE(TreeItemHasButton(tree, TreeView_GetRoot(tree)));
    EXPECT_EQ(window->View().ItemCount(), 1);
    ASSERT_TRUE(window->OpenArchive(ArchivePath("alpha.zip"), true));
    EXPECT_TRUE(TreeItemHasButton(tree, TreeView_GetRoot(tree)));
}

// The folder part of the status bar ends before the size grip and shows a
// name that does not fit cut with "...".
TEST_F(ExplorerTest, StatusFolderPartEndsBeforeTheGripAndCutsLongNames) {
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("nested.zip") + "\"");
    ASSERT_NE(window, nullptr);
    HWND tree = window->Tree().Window();
    const std::string name = "a folder whose name is far too long for the folder part of the status bar";
    HTREEITEM folder = TreeChildNamed(tree, TreeView_GetRoot(tree), name);
    ASSERT_NE(folder, nullptr);
    TreeView_SelectItem(tree, folder);
    HWND status = window->StatusBar();
    MoveWindow(window->Window(), 0, 0, 640, 480, TRUE);
    RECT client, part;
    GetClientRect(status, &client);
    ASSERT_EQ(StatusParts(status), 3);
    SendMessageA(status, SB_GETRECT, 2, reinterpret_cast<LPARAM>(&part));
    EXPECT_LE(part.right, client.right - GetSystemMetrics(SM_CXVSCROLL));
    const std::string shown = StatusText(status, 2);
    ASSERT_GT(shown.size(), 3u);
    EXPECT_EQ(shown.substr(shown.size() - 3), "...");
    EXPECT_EQ(name.compare(0, shown.size() - 3, shown, 0, shown.size() - 3), 0) << shown;
    HDC dc = GetDC(status);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(status, WM_GETFONT, 0, 0)));
    SIZE size = {};
    GetTextExtentPoint32A(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(status, dc);
    EXPECT_LE(size.cx, part.right - part.left - GetSystemMetrics(SM_CXSMICON));

    // A short name is shown whole.
    TreeView_SelectItem(tree, TreeChildNamed(tree, TreeView_GetRoot(tree), "src"));
    EXPECT_EQ(StatusText(status, 2), "src");
}

// The Output window opens at the end of a long log, where the summary is.
TEST_F(ExplorerTest, OutputWindowShowsTheEndOfTheLog) {
    ExplorerWindow* window = OpenWindow("\"" + ArchivePath("beta.zip") + "\"");
    ASSERT_NE(window, nullptr);
    g_answer = IDYES;  // view the output
    window->RunOperation([&](ICompressFormat* archive, HWND) {
        for (int line = 1; line <= 200; ++line) {
            OutputLog::Callback(archive, reinterpret_cast<LPARAM>(window->Log()),
                                ("line " + std::to_string(line) + "\n").c_str());
        }
        OutputLog::Callback(archive, reinterpret_cast<LPARAM>(window->Log()), "summary\n");
        return S_FALSE;
    });
    ASSERT_EQ(DialogTitles(), std::vector<std::string>{"Output"});
    EXPECT_GT(g_dialogs[0].firstVisibleLine, 100);
    EXPECT_TRUE(g_dialogs[0].endVisible);
    EXPECT_TRUE(g_dialogs[0].richEdit);
    EXPECT_EQ(g_dialogs[0].toolbarButtons, (std::vector<std::string>{"&Save=4096", "&Copy=4097", "Cl&ose=2"}));
}

// Disabled buttons are drawn from their own greyed images, which keep the
// drawing's shades instead of one flat colour.
TEST_F(ExplorerTest, ToolbarHasGreyedImagesForDisabledButtons) {
    ExplorerWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(window->Toolbar(), TB_GETDISABLEDIMAGELIST, 0, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), ExplorerToolbar::kButtonCount);
    // Extract, drawn over a colour the art does not use.
    const COLORREF background = RGB(1, 2, 3);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 24, 24);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, canvas);
    RECT all = {0, 0, 24, 24};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ASSERT_TRUE(ImageList_Draw(images, 4, dc, 0, 0, ILD_NORMAL));
    std::set<COLORREF> greys;
    bool allGrey = true;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            const COLORREF pixel = GetPixel(dc, x, y);
            if (pixel == background) continue;
            greys.insert(pixel);
            allGrey = allGrey && GetRValue(pixel) == GetGValue(pixel) && GetGValue(pixel) == GetBValue(pixel);
        }
    }
    SelectObject(dc, previous);
    DeleteObject(canvas);
    DeleteDC(dc);
    EXPECT_TRUE(allGrey);
    EXPECT_GE(greys.size(), 3u);
}

TEST_F(ExplorerTest, OpenDialogFilterListsTheRegisteredFormats) {
    std::string filter = OpenDialogFilter();
    EXPECT_NE(filter.find("|*.zip|"), std::string::npos);
    EXPECT_NE(filter.find("|*.cab|"), std::string::npos);
    EXPECT_EQ(filter.find("(.exe)|*.exe|Self"), std::string::npos);
    const std::string tail = "Self-extracting files (.exe)|*.exe|All supported files|*.zip;";
    EXPECT_NE(filter.find(tail), std::string::npos);
    EXPECT_EQ(filter.substr(filter.size() - 7), ";*.exe|");
}

}  // namespace
