// Browse Archives on the tree of make_search_tree.py: the search by name
// mask, path mask, dates and only-encrypted against a table of the rows it
// must find (a damaged archive and a file with an archive's extension are
// skipped, the link back up the tree is not followed), the window's run
// with Stop, and opening a found entry's archive in an explorer window.
#include "application.h"
#include "command_line.h"
#include "explorer_window.h"
#include "program_environment.h"
#include "resource_ids.h"
#include "search_window.h"
#include "test_files.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace tessera;
using namespace search_tests;

namespace {

std::string TreePath(const char* name) {
    return tessera::testing::HostPathToNative(std::string(SEARCH_TREE_DIR) + "/" + name);
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// What the worker reported, as "archive|entry path" rows.
class RecordingSink : public SearchSink {
public:
    ~RecordingSink() override {
        for (FoundEntry* entry : entries_) {
            entry->archive->Release();
            delete entry;
        }
    }
    void FolderEntered(const std::string& folder) override { folders.push_back(folder); }
    void ArchiveEntered(const std::string&) override {}
    void ArchiveLeft() override {}
    void ArchiveSkipped(const std::string& path, const std::string& reason) override {
        skipped.insert(FileName(path));
        reasons.push_back(reason);
    }
    void EntryFound(FoundEntry* entry) override {
        entries_.push_back(entry);
        rows.push_back(FileName(entry->archive->path) + "|" + entry->displayPath);
    }

    std::vector<std::string> folders;
    std::vector<std::string> rows;
    std::set<std::string> skipped;
    std::vector<std::string> reasons;

private:
    std::vector<FoundEntry*> entries_;
};

FILETIME LocalDay(WORD year, WORD month, WORD day) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    FILETIME result = {};
    SystemTimeToFileTime(&time, &result);
    return result;
}

struct SearchCase {
    const char* what;
    const char* name;
    const char* path;
    bool subFolders;
    bool includeExe;
    WORD beforeYear;  // 0: no date
    WORD afterYear;
    bool onlyEncrypted;
    std::vector<std::string> rows;
};

TEST(ArchiveSearchTest, FindsTheEntriesOfEveryFormatThatMatch) {
    const std::vector<SearchCase> cases = {
        {"name mask through every folder", "*.txt", "", true, false, 0, 0, false,
         {"top.zip|readme.txt", "top.zip|docs\\a.txt", "archive.tar|docs\\notes.txt", "setup.exe.zip|install.txt",
          "set.tgz|docs\\c.txt", "pack.cab|cabinet.txt", "secret.zip|plain.txt", "secret.zip|key.txt"}},
        {"self-extractors included", "*.txt", "", true, true, 0, 0, false,
         {"top.zip|readme.txt", "top.zip|docs\\a.txt", "archive.tar|docs\\notes.txt", "setup.exe.zip|install.txt",
          "tool.exe|guide.txt", "set.tgz|docs\\c.txt", "pack.cab|cabinet.txt", "secret.zip|plain.txt",
          "secret.zip|key.txt"}},
        {"name and path mask", "*.txt", "docs", true, false, 0, 0, false,
         {"top.zip|docs\\a.txt", "archive.tar|docs\\notes.txt", "set.tgz|docs\\c.txt"}},
        {"path mask with its separator", "", "src\\", true, false, 0, 0, false, {"top.zip|src\\main.c"}},
        {"upper-case name mask", "README.*", "", true, false, 0, 0, false, {"top.zip|readme.txt"}},
        {"no subfolders", "*", "", false, false, 0, 0, false,
         {"top.zip|readme.txt", "top.zip|docs\\a.txt", "top.zip|docs\\b.doc", "top.zip|src\\main.c",
          "archive.tar|docs\\notes.txt", "archive.tar|data.bin", "setup.exe.zip|install.txt"}},
        {"only encrypted", "", "", true, false, 0, 0, true, {"secret.zip|key.txt"}},
        {"modified before 2004", "", "", true, false, 2004, 0, false, {"top.zip|readme.txt"}},
        {"modified after 2016", "", "", true, false, 0, 2016, false,
         {"top.zip|src\\main.c", "archive.tar|data.bin"}},
        {"between 2009 and 2012", "", "", true, false, 2012, 2009, false,
         {"top.zip|docs\\a.txt", "set.tgz|docs\\c.txt"}},
        {"nothing matches", "*.none", "", true, false, 0, 0, false, {}},
    };
    for (const SearchCase& test : cases) {
        SCOPED_TRACE(test.what);
        SearchCriteria criteria;
        criteria.startFolders = {TreePath("tree")};
        criteria.nameMask = test.name;
        criteria.pathMask = test.path;
        criteria.subFolders = test.subFolders;
        criteria.includeExe = test.includeExe;
        criteria.onlyEncrypted = test.onlyEncrypted;
        if (test.beforeYear) {
            criteria.beforeSet = true;
            criteria.before = LocalDay(test.beforeYear, 1, 1);
        }
        if (test.afterYear) {
            criteria.afterSet = true;
            criteria.after = LocalDay(test.afterYear, 1, 1);
        }
        Messages().clear();
        RecordingSink sink;
        ArchiveSearch search(criteria);
        search.Run(sink);
        std::vector<std::string> found = sink.rows, expected = test.rows;
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        // Duplicates would mean a folder walked twice.
        EXPECT_EQ(found, expected);
        // The factory takes both by their extension; neither lists.
        EXPECT_EQ(sink.skipped, (std::set<std::string>{"damaged.zip", "fake.zip"}));
        // The worker's prompts never reach the process's handler.
        EXPECT_TRUE(Messages().empty()) << (Messages().empty() ? "" : Messages().front());
        std::set<std::string> distinct(sink.folders.begin(), sink.folders.end());
        EXPECT_EQ(distinct.size(), sink.folders.size()) << "a folder was entered twice";
        EXPECT_EQ(sink.folders.size(), test.subFolders ? 3u : 1u);  // tree, nested, deeper; the link is not
    }
}

// Two searches at once, each on its own thread with its own archive
// objects (the cabinet among them), find what one search alone finds.
TEST(ArchiveSearchTest, TwoSearchesAtOnceFindTheSameRows) {
    SearchCriteria criteria;
    criteria.startFolders = {TreePath("tree")};
    criteria.nameMask = "*";
    auto run = [&] {
        RecordingSink sink;
        ArchiveSearch search(criteria);
        search.Run(sink);
        std::sort(sink.rows.begin(), sink.rows.end());
        return sink.rows;
    };
    const std::vector<std::string> alone = run();
    ASSERT_EQ(alone.size(), 11u);
    struct Worker {
        std::function<std::vector<std::string>()> run;
        std::vector<std::vector<std::string>> results;
        static DWORD WINAPI Main(void* self) {
            auto* worker = static_cast<Worker*>(self);
            for (int round = 0; round < 5; ++round) worker->results.push_back(worker->run());
            return 0;
        }
    };
    Worker first{run, {}}, second{run, {}};
    HANDLE threads[2] = {CreateThread(nullptr, 0, Worker::Main, &first, 0, nullptr),
                         CreateThread(nullptr, 0, Worker::Main, &second, 0, nullptr)};
    ASSERT_NE(threads[0], nullptr);
    ASSERT_NE(threads[1], nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 60000), WAIT_OBJECT_0);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    for (const Worker* worker : {&first, &second}) {
        ASSERT_EQ(worker->results.size(), 5u);
        for (const auto& rows : worker->results) EXPECT_EQ(rows, alone);
    }
    EXPECT_TRUE(Messages().empty());
}

TEST(ArchiveSearchTest, TellsSelfExtractingCandidatesByTheirLastExtension) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"setup.exe", true}, {"SETUP.EXE", true}, {"setup.exe.zip", false}, {"dir.exe\\file", false},
        {"name.ex e", false}, {"exe", false}, {"a.exe ", false}, {"c:\\x.y\\tool.Exe", true}};
    for (const auto& [path, exe] : cases) EXPECT_EQ(HasExeExtension(path), exe) << path;
}

TEST(ArchiveSearchTest, MatchesNameAndFolderPartsSeparately) {
    HDRSTRUCT entry = {};
    SearchCriteria criteria;
    criteria.nameMask = "*.txt";
    criteria.pathMask = "docs";
    EXPECT_TRUE(EntryMatches(criteria, entry, "docs\\a.txt"));
    EXPECT_FALSE(EntryMatches(criteria, entry, "a.txt"));
    EXPECT_FALSE(EntryMatches(criteria, entry, "docs\\more\\a.txt"));
    EXPECT_FALSE(EntryMatches(criteria, entry, "docs.txt"));
    criteria.pathMask = "docs\\*";
    EXPECT_TRUE(EntryMatches(criteria, entry, "docs\\more\\a.txt"));
    // Equal times never pass a date condition.
    criteria = SearchCriteria();
    entry.time = LocalDay(2010, 6, 1);
    criteria.beforeSet = criteria.afterSet = true;
    criteria.before = criteria.after = entry.time;
    EXPECT_FALSE(EntryMatches(criteria, entry, "a"));
    criteria.afterSet = false;
    EXPECT_FALSE(EntryMatches(criteria, entry, "a"));
    criteria.before = LocalDay(2010, 6, 2);
    EXPECT_TRUE(EntryMatches(criteria, entry, "a"));
}

class SearchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        PutProfileString("Search", nullptr, nullptr);
        App().settings = ProgramSettings();
        App().settings.Load();
        App().settings.assocCheck = 0;
        Messages().clear();
        window_ = NewSearchWindow();
        ASSERT_NE(window_, nullptr);
        dialog_ = window_->Window();
    }
    void TearDown() override {
        for (WindowList::Node* node = App().windows.First(); node;) {
            WindowList::Node* next = node->next;
            if (node->kind == kExplorerWindow) {
                DestroyWindow(static_cast<ExplorerWindow*>(node->object)->Window());
            } else {
                SendMessageA(static_cast<SearchWindow*>(node->object)->Window(), WM_CLOSE, 0, 0);
            }
            node = next;
        }
        Pump();
    }

    bool Live() const { return IsWindow(dialog_) != FALSE; }
    bool Idle() const { return IsWindowEnabled(GetDlgItem(dialog_, IDC_SEARCH_BROWSE)) != FALSE; }
    void Type(int id, const char* text) { SetDlgItemTextA(dialog_, id, text); }
    void Press(int id) { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    std::string Status(int part) const {
        char text[512] = "";
        SendMessageA(window_->StatusBar(), SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
        return text;
    }
    std::string Cell(int item, int column) const {
        char text[512] = "";
        ListView_GetItemText(window_->Results(), item, column, text, sizeof text);
        return text;
    }
    int Rows() const { return ListView_GetItemCount(window_->Results()); }

    SearchWindow* window_ = nullptr;
    HWND dialog_ = nullptr;
};

TEST_F(SearchWindowTest, SearchesTheTreeAndListsTheRows) {
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDOK))) << "no criterion yet";
    EXPECT_FALSE(window_->Expanded());
    EXPECT_TRUE(IsDlgButtonChecked(dialog_, IDC_SEARCH_SUBFOLDERS));
    RECT frame;
    GetWindowRect(dialog_, &frame);
    EXPECT_EQ(frame.bottom - frame.top, SearchWindow::kCollapsedHeight);
    EXPECT_GE(frame.right - frame.left, SearchWindow::kMinimumWidth);

    window_->SetStartFolder(TreePath("tree"));
    Type(IDC_SEARCH_NAME, "*.txt");
    Type(IDC_SEARCH_PATH, "docs");
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
    Press(IDOK);
    EXPECT_TRUE(window_->Expanded());
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 30000));
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(Status(0), "3 object(s) found");
    EXPECT_EQ(Status(1), "2 damaged archive(s) skipped");
    GetWindowRect(dialog_, &frame);
    EXPECT_GE(frame.bottom - frame.top, SearchWindow::kMinimumExpandedHeight);

    // Columns: Name, In archive, Type, Modified at, Path; sorted by a header click.
    window_->SortBy(0);
    EXPECT_EQ(Cell(0, 0).substr(0, 1), "a");
    EXPECT_EQ(Cell(0, 1), TreePath("tree") + "\\top.zip");
    EXPECT_EQ(Cell(0, 4), "docs");
    EXPECT_FALSE(Cell(0, 3).empty());
    window_->SortBy(0);
    EXPECT_EQ(Cell(0, 0).substr(0, 5), "notes");

    // New search: inputs reset, results gone, window collapsed, Start off.
    Press(IDC_SEARCH_NEW_SEARCH);
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(window_->Expanded());
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
}

TEST_F(SearchWindowTest, StopAnswersWithinASecondAndKeepsTheRowsFound) {
    window_->SetStartFolder(TreePath("many"));
    Type(IDC_SEARCH_NAME, "*.txt");
    Press(IDOK);
    PumpUntil([&] { return Rows() > 0 || Idle(); }, 30000);
    if (Idle()) GTEST_SKIP() << "the search of 3000 archives ended at its first rows; nothing to stop";
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDC_SEARCH_STOP)));
    const DWORD start = GetTickCount();
    Press(IDC_SEARCH_STOP);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDC_SEARCH_STOP)));
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 5000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_GT(Rows(), 0);
    EXPECT_LT(Rows(), 3000 * 20);
    EXPECT_EQ(Status(0), std::to_string(Rows()) + " object(s) found");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDOK)));
}

TEST_F(SearchWindowTest, NewSearchAndClosingStopTheWorkerAndTheLayoutIsKept) {
    window_->SetStartFolder(TreePath("many"));
    Type(IDC_SEARCH_NAME, "*");
    CheckDlgButton(dialog_, IDC_SEARCH_SUBFOLDERS, BST_UNCHECKED);
    Press(IDOK);
    PumpUntil([&] { return Rows() > 0 || Idle(); }, 30000);
    if (Idle()) GTEST_SKIP() << "the search of 3000 archives ended at its first rows; nothing to stop";
    const DWORD start = GetTickCount();
    Press(IDC_SEARCH_NEW_SEARCH);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(GetWindowTextLengthA(GetDlgItem(dialog_, IDC_SEARCH_NAME)), 0);

    // Closed while searching (hiding the window may take a while under a
    // display without a window manager, so no time is measured here).
    Type(IDC_SEARCH_NAME, "*");
    Press(IDOK);
    PumpFor(400);
    SendMessageA(dialog_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(Live());
    EXPECT_FALSE(App().windows.Contains(window_));
    DWORD subFolders = 1, width = 0;
    EXPECT_TRUE(GetProfileInt("Search", "SubFolders", &subFolders));
    EXPECT_EQ(subFolders, 0u);
    EXPECT_TRUE(GetProfileInt("Search", "WindowWidth", &width));
    EXPECT_GE(width, static_cast<DWORD>(SearchWindow::kMinimumWidth));
    INT32 order[5] = {}, widths[5] = {};
    DWORD size = sizeof order;
    EXPECT_TRUE(GetProfileBinary("Search", "ColumnOrder", order, &size));
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(order[4], 4);
    size = sizeof widths;
    EXPECT_TRUE(GetProfileBinary("Search", "ColumnWidth", widths, &size));
    EXPECT_EQ(widths[0], 180);
}

TEST_F(SearchWindowTest, OpenArchiveShowsTheFoundEntrysArchiveInAnExplorerWindow) {
    window_->SetStartFolder(TreePath("tree"));
    Type(IDC_SEARCH_NAME, "main.c");
    Press(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 30000));
    ASSERT_EQ(Rows(), 1);
    ListView_SetItemState(window_->Results(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageA(dialog_, WM_COMMAND, CMD_FOUND_OPEN_ARCHIVE, 0);
    ExplorerWindow* explorer = nullptr;
    for (WindowList::Node* node = App().windows.First(); node; node = node->next) {
        if (node->kind == kExplorerWindow) explorer = static_cast<ExplorerWindow*>(node->object);
    }
    ASSERT_NE(explorer, nullptr);
    ASSERT_NE(explorer->Archive(), nullptr);
    EXPECT_EQ(lstrcmpiA(explorer->Archive()->GetArchivePath(), (TreePath("tree") + "\\top.zip").c_str()), 0);
    EXPECT_TRUE(IsWindowVisible(explorer->Window()));
    ASSERT_EQ(explorer->History().Size(), 1u);
}

TEST_F(SearchWindowTest, AViewedFoundEntryHasATemporaryCopyThatGoesWithItsRows) {
    tessera::testing::ScratchFolder scratch;
    App().settings.tempPath = scratch.Path() + "\\";
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    const std::string viewer = std::string(system) + "\\attrib.exe";  // reads and ends
    PutProfileString("Settings", "TextViewer", viewer.c_str());
    window_->SetStartFolder(TreePath("tree"));
    Type(IDC_SEARCH_NAME, "a.txt");
    Press(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 30000));
    ASSERT_EQ(Rows(), 1);
    ListView_SetItemState(window_->Results(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageA(dialog_, WM_COMMAND, CMD_FOUND_VIEW, 0);
    const std::string copy = scratch / "top\\docs\\a.txt";
    EXPECT_TRUE(tessera::testing::FileExists(copy));
    EXPECT_TRUE(Messages().empty()) << (Messages().empty() ? "" : Messages().front());
    // The last row of the archive gone: its temporary folder goes too.
    Press(IDC_SEARCH_NEW_SEARCH);
    EXPECT_FALSE(tessera::testing::FileExists(copy));
    EXPECT_EQ(GetFileAttributesA((scratch / "top").c_str()), INVALID_FILE_ATTRIBUTES);
    PutProfileString("Settings", "TextViewer", nullptr);
}

TEST_F(SearchWindowTest, TheStartUpSwitchOpensAnotherWindowOnItsFolder) {
    const std::string line = "tessera.exe /F \"" + TreePath("tree") + "\\\"";
    ASSERT_TRUE(ProcessCommandLine(line.c_str()));
    SearchWindow* opened = nullptr;
    for (WindowList::Node* node = App().windows.First(); node; node = node->next) {
        if (node->kind == kSearchWindow && node->object != window_) opened = static_cast<SearchWindow*>(node->object);
    }
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(IsWindowVisible(opened->Window()));
    char shown[MAX_PATH] = "";
    GetDlgItemTextA(opened->Window(), IDC_SEARCH_FOLDER, shown, sizeof shown);
    EXPECT_EQ(shown, TreePath("tree"));
}

}  // namespace
