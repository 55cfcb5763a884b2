// Viewing entries through temporary files, the write-back of changed ones,
// the clipboard, the drag's data object, printing, mail, archive-file
// commands and the comment page -- in explorer windows of this process
// under Wine, on copies of the test archives in a scratch folder. Dialogs
// are answered by a thread timer that finds them by their title.
#include "application.h"
#include "command_line.h"
#include "explorer_window.h"
#include "file_transfer.h"
#include "mail.h"
#include "print_list.h"
#include "resource_ids.h"
#include "temp_files.h"
#include "tescore.h"
#include "test_files.h"
#include "viewing_commands.h"
#include "viewing_ids.h"
#include "win32/com_ptr.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace tessera;
namespace files = tessera::testing;

namespace {

const char kSettings[] = "Settings";

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Dialogs seen, and how to answer them: by title, an action on the dialog
// (default: Cancel).
struct SeenDialog {
    std::string title;
    std::string texts;  // its static texts, joined by "|"
};
std::vector<SeenDialog> g_seen;
std::map<std::string, std::function<void(HWND)>> g_answers;
int g_otherwise = IDCANCEL;  // the answer to dialogs without an entry there

BOOL CALLBACK CollectText(HWND child, LPARAM data) {
    char name[32] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 || lstrcmpiA(name, "Edit") == 0) {
        *reinterpret_cast<std::string*>(data) += WindowText(child) + "|";
    }
    return TRUE;
}

BOOL CALLBACK AnswerDialog(HWND window, LPARAM) {
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    if (!IsWindowVisible(window) || strcmp(name, "#32770") != 0 || GetPropA(window, "answered")) return TRUE;
    SetPropA(window, "answered", reinterpret_cast<HANDLE>(1));
    SeenDialog seen{WindowText(window), ""};
    EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&seen.texts));
    g_seen.push_back(seen);
    auto answer = g_answers.find(seen.title);
    if (answer != g_answers.end()) answer->second(window);
    else PostMessageA(window, WM_COMMAND, g_otherwise, 0);
    return TRUE;
}

void CALLBACK AnswerDialogs(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), AnswerDialog, 0); }

std::function<void(HWND)> Press(int id) {
    return [id](HWND dialog) { PostMessageA(dialog, WM_COMMAND, id, 0); };
}

int CountSeen(const std::string& title) {
    int count = 0;
    for (const SeenDialog& seen : g_seen) count += seen.title == title;
    return count;
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char buffer[4096];
    size_t read;
    while ((read = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, read);
    fclose(file);
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The bytes of one entry of the archive at path, read through the engine.
std::string EntryBytes(const std::string& archivePath, const char* entryName, const std::string& scratch) {
    win32::ComPtr<ICompressFormat> archive;
    if (FAILED(ArcCreateObject(nullptr, archivePath.c_str(), archive.put())) || FAILED(archive->List(nullptr))) {
        return "<no archive>";
    }
    for (DWORD index = 0; index < archive->GetEntryCount(); ++index) {
        if (strcmp(archive->GetEntries()[index].name, entryName) != 0) continue;
        const std::string folder = scratch + "\\check";
        CreateDirectoryA(folder.c_str(), nullptr);
        SELHDRSTRUCT selection = {index, 0, nullptr};
        if (FAILED(archive->Extract(nullptr, 1, FALSE, FALSE, folder.c_str(), &selection, 1))) return "<failed>";
        const char* slash = strrchr(entryName, '/');
        const std::string path = folder + "\\" + (slash ? slash + 1 : entryName);
        std::string bytes = FileBytes(path);
        DeleteFileA(path.c_str());
        return bytes;
    }
    return "<no entry>";
}

int CALLBACK RecordMessage(void*, HWND, LPCSTR text, LPCSTR, UINT) {
    g_seen.push_back({"engine", text ? text : ""});
    return IDOK;
}
char g_renameTo[MAX_PATH] = "";
int CALLBACK RenameTo(void*, HWND, LPCSTR, LPSTR newPath) {
    lstrcpynA(newPath, g_renameTo, MAX_PATH);
    return RENAME_RESULT_OK;
}
const ARCPROMPTHANDLER kPrompts = {nullptr, RecordMessage, nullptr, nullptr, RenameTo, nullptr,
                                   ARCPROMPT_NOSTATUSDIALOG};

class ViewingTest : public ::testing::Test {
protected:
    void SetUp() override {
        PutProfileString(kSettings, nullptr, nullptr);
        App().settings = ProgramSettings();
        App().settings.Load();
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        snprintf(scratchBuffer_, sizeof scratchBuffer_, "%stessera_viewing_%lu_%s", temp, GetCurrentProcessId(),
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        scratch_ = scratchBuffer_;
        tescommands::DeleteFolderTree(scratch_);
        CreateDirectoryA(scratch_.c_str(), nullptr);
        tempPath_ = scratch_ + "\\temp\\";
        CreateDirectoryA(tempPath_.c_str(), nullptr);
        App().settings.tempPath = tempPath_;
        g_seen.clear();
        g_answers.clear();
        g_otherwise = IDCANCEL;
        previousPrompts_ = ArcSetPromptHandler(&kPrompts);
        timer_ = SetTimer(nullptr, 0, 30, AnswerDialogs);
    }
    void TearDown() override {
        g_answers.clear();
        for (WindowList::Node* node = App().windows.First(); node; node = App().windows.First()) {
            HWND window = static_cast<ExplorerWindow*>(node->object)->Window();
            SendMessageA(window, WM_CLOSE, 0, 0);
            Pump();
            if (IsWindow(window)) DestroyWindow(window);
            Pump();
        }
        KillTimer(nullptr, timer_);
        ArcSetPromptHandler(previousPrompts_);
        tescommands::DeleteFolderTree(scratch_);
    }

    // A copy of a test archive in the scratch folder.
    std::string Copy(const char* name, const char* as = nullptr) {
        const std::string source = files::HostPathToNative(std::string(EXPLORER_ARCHIVE_DIR) + "/" + name);
        const std::string target = scratch_ + "\\" + (as ? as : name);
        EXPECT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source;
        return target;
    }
    ExplorerWindow* Open(const std::string& path) {
        EXPECT_TRUE(ProcessCommandLine(("tessera.exe \"" + path + "\"").c_str()));
        Pump();
        WindowList::Node* last = nullptr;
        for (WindowList::Node* node = App().windows.First(); node; node = node->next) last = node;
        return last ? static_cast<ExplorerWindow*>(last->object) : nullptr;
    }
    // unzip reads it after the tests (peers.sh).
    static void KeepForPeers(const std::string& path, const char* name) {
        const std::string folder = files::HostPathToNative(std::string(EXPLORER_ARCHIVE_DIR) + "/peer");
        CreateDirectoryA(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileA(path.c_str(), (folder + "\\" + name).c_str(), FALSE)) << name;
    }
    static DWORD EntryIndex(ICompressFormat* archive, const char* name) {
        for (DWORD index = 0; index < archive->GetEntryCount(); ++index) {
            if (strcmp(archive->GetEntries()[index].name, name) == 0) return index;
        }
        return SEL_UNUSED;
    }
    // Selects (and focuses) the list rows of these entries only.
    static void SelectEntries(ExplorerWindow* window, const std::vector<DWORD>& entries) {
        HWND list = window->View().Window();
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int item = 0; item < window->View().ItemCount(); ++item) {
            for (DWORD entry : entries) {
                if (window->View().ItemEntry(item) == entry) {
                    ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
                }
            }
        }
    }
    // Makes the temporary file look edited: new bytes, a later time.
    static void Edit(const std::string& path, const std::string& bytes) {
        WriteBytes(path, bytes);
        FILETIME later;
        GetSystemTimeAsFileTime(&later);
        ULARGE_INTEGER value = {{later.dwLowDateTime, later.dwHighDateTime}};
        value.QuadPart += 10ull * 60 * 10000000;  // ten minutes on
        later = {value.LowPart, value.HighPart};
        HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetFileTime(file, nullptr, nullptr, &later);
        CloseHandle(file);
    }
    // View through a viewer that only reads and ends.
    void UseQuietViewers() {
        char system[MAX_PATH] = "";
        GetSystemDirectoryA(system, sizeof system);
        const std::string viewer = std::string(system) + "\\attrib.exe";
        PutProfileString(kSettings, "TextViewer", viewer.c_str());
        PutProfileString(kSettings, "HexViewer", viewer.c_str());
    }

    std::string scratch_, tempPath_;

private:
    char scratchBuffer_[MAX_PATH] = "";
    UINT_PTR timer_ = 0;
    const ARCPROMPTHANDLER* previousPrompts_ = nullptr;
};

TEST(TextDecision, First80BytesDecide) {
    const std::string plain = std::string("line one\tcolumn\r\nline two\n") + std::string(60, 'x');
    const std::string zeroLate = std::string(80, 'a') + std::string(1, '\0');
    const std::string zeroEarly = std::string("ab") + std::string(1, '\0') + "cd";
    const std::string control = "text\x01more";
    struct Case {
        const std::string& bytes;
        bool text;
    } cases[] = {{plain, true}, {zeroLate, true}, {zeroEarly, false}, {control, false}};
    for (const Case& test : cases) {
        EXPECT_EQ(tescommands::LooksLikeText(reinterpret_cast<const BYTE*>(test.bytes.data()), test.bytes.size()),
                  test.text)
            << test.bytes.size();
    }
}

TEST(PrintedList, CellsArePaddedToTheColumnAndCutWithDots) {
    const std::string text = tescommands::PrintListText(
        {"Name", "Size"}, {10, 0}, {{"short.txt", "12"}, {"a-rather-long-name.txt", "1.234.567"}});
    // Name: 10 characters; Size: its title + 3 = 7.
    EXPECT_EQ(text,
              "Name      Size   \r\n"
              "-----------------\r\n"
              "short.txt 12     \r\n"
              "a-rathe...1.23...\r\n");
}

TEST(MailErrors, NamesFollowTheCodesWithSevenLeftOut) {
    const struct {
        ULONG code;
        const char* name;
    } cases[] = {{1, "user aborted"}, {6, "access denied"}, {7, ""}, {8, "too many sessions"},
                 {11, "attachment not found"}, {26, "not supported"}, {0, ""}, {27, ""}};
    for (const auto& test : cases) EXPECT_EQ(tescommands::MailErrorName(test.code), test.name) << test.code;
}

TEST_F(ViewingTest, ViewingTwiceKeepsOneRecordAndYesPutsTheEditedFileBack) {
    UseQuietViewers();
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ICompressFormat* archive = window->Archive();
    const DWORD entry = EntryIndex(archive, "docs/notes.txt");
    ASSERT_NE(entry, SEL_UNUSED);
    tescommands::TempFileTracker* tracker = tescommands::TempFileTracker::Of(archive);
    ASSERT_NE(tracker, nullptr);
    EXPECT_EQ(tracker->Folder(), tempPath_ + "alpha");
    ASSERT_TRUE(tescommands::OpenEntry(window->TempContext(), entry, false));
    ASSERT_TRUE(tescommands::OpenEntry(window->TempContext(), entry, false));
    ASSERT_EQ(tracker->Records().size(), 1u);
    const std::string temporary = tracker->Records()[0].path;
    EXPECT_EQ(temporary, tempPath_ + "alpha\\docs\\notes.txt");
    EXPECT_EQ(FileBytes(temporary), "notes");

    Edit(temporary, "edited notes");
    g_answers["Modified temporary file"] = Press(IDYES);
    SendMessageA(window->Window(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(CountSeen("Modified temporary file"), 1);
    EXPECT_EQ(EntryBytes(path, "docs/notes.txt", scratch_), "edited notes");
    KeepForPeers(path, "writeback.zip");
    // Put back: the next activation does not ask again.
    SendMessageA(window->Window(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(CountSeen("Modified temporary file"), 1);
    // Closing the archive takes the temporary folder with it.
    SendMessageA(window->Window(), WM_COMMAND, CMD_CLOSE_ARCHIVE, 0);
    Pump();
    EXPECT_FALSE(Exists(tempPath_ + "alpha"));
}

TEST_F(ViewingTest, NoDeletesTheChangedFileAndCancelKeepsTheWindowOpen) {
    UseQuietViewers();
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ICompressFormat* archive = window->Archive();
    ASSERT_TRUE(tescommands::OpenEntry(window->TempContext(), EntryIndex(archive, "readme.txt"), false));
    ASSERT_TRUE(tescommands::OpenEntry(window->TempContext(), EntryIndex(archive, "docs/guide.txt"), false));
    const std::string readme = tempPath_ + "alpha\\readme.txt", guide = tempPath_ + "alpha\\docs\\guide.txt";
    Edit(readme, "changed readme");
    Edit(guide, "changed guide");

    // Closing: Cancel at the first changed file keeps window and archive.
    g_answers["Modified temporary file"] = Press(IDCANCEL);
    HWND hwnd = window->Window();
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    Pump();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_NE(window->Archive(), nullptr);
    EXPECT_EQ(CountSeen("Modified temporary file"), 1);

    // No to both: the files go and are not asked about again.
    g_answers["Modified temporary file"] = Press(IDNO);
    SendMessageA(hwnd, WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(CountSeen("Modified temporary file"), 3);
    EXPECT_FALSE(Exists(readme));
    EXPECT_FALSE(Exists(guide));
    EXPECT_TRUE(tescommands::TempFileTracker::Of(window->Archive())->Records().empty());
    SendMessageA(hwnd, WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(CountSeen("Modified temporary file"), 3);
    std::string original;
    for (int repeat = 0; repeat < 100; ++repeat) original += "alpha ";
    EXPECT_EQ(EntryBytes(path, "readme.txt", scratch_), original);
}

TEST_F(ViewingTest, CopyPutsTheExtractedPathsOnTheClipboardAndPasteOffersThemToAdd) {
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ICompressFormat* archive = window->Archive();
    SelectEntries(window, {EntryIndex(archive, "readme.txt")});
    SendMessageA(window->Window(), WM_COMMAND, CMD_COPY, 0);
    Pump();
    ASSERT_TRUE(OpenClipboard(nullptr));
    std::vector<std::string> names;
    if (HANDLE data = GetClipboardData(CF_HDROP)) {
        auto* block = static_cast<DROPFILES*>(GlobalLock(data));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->pFiles, 20u);
        EXPECT_FALSE(block->fWide);
        names = tescommands::DroppedPaths(block);
        GlobalUnlock(data);
    }
    CloseClipboard();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], tempPath_ + "alpha\\readme.txt");
    EXPECT_TRUE(Exists(names[0]));

    // Pasting files of the archive's own temporary folder is refused;
    // other files go to the Add dialog.
    SendMessageA(window->Window(), WM_COMMAND, CMD_PASTE, 0);
    Pump();
    EXPECT_EQ(CountSeen("Add"), 0);
    const std::string outside = scratch_ + "\\outside.txt";
    WriteBytes(outside, "outside");
    HGLOBAL block = tescommands::MakeFileDropBlock({outside});
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_HDROP, block);
    CloseClipboard();
    g_answers["Add"] = [](HWND dialog) {
        HWND list = GetDlgItem(dialog, 1016);
        char text[MAX_PATH] = "";
        ListView_GetItemText(list, 0, 0, text, sizeof text);
        g_seen.push_back({"Add row", text});
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    SendMessageA(window->Window(), WM_COMMAND, CMD_PASTE, 0);
    Pump();
    ASSERT_EQ(CountSeen("Add"), 1);
    EXPECT_EQ(g_seen.back().texts, "outside.txt");
}

TEST_F(ViewingTest, CutWithoutTheQuestionDeletesTheEntriesAfterCopying) {
    PutProfileInt(kSettings, "CutPromt", 0);
    const std::string path = Copy("beta.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ICompressFormat* archive = window->Archive();
    SendMessageA(window->Window(), WM_TREE_HIDDEN, 1, 0);  // flat: every entry in the list
    Pump();
    SelectEntries(window, {EntryIndex(archive, "one.txt"), EntryIndex(archive, "sub/three.txt")});
    SendMessageA(window->Window(), WM_COMMAND, CMD_CUT, 0);
    Pump();
    EXPECT_EQ(CountSeen("Cut"), 0);
    archive = window->Archive();
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->GetEntryCount(), 1u);
    EXPECT_EQ(EntryIndex(archive, "two.txt"), 0u);
    EXPECT_TRUE(Exists(tempPath_ + "beta\\sub\\three.txt"));  // what the clipboard points to
}

TEST_F(ViewingTest, TheDragsDataObjectExtractsOnlyWhenAskedAfterTheDrop) {
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ICompressFormat* archive = window->Archive();
    const DWORD entry = EntryIndex(archive, "readme.txt");
    int produced = 0;
    win32::ComPtr<IDataObject> data;
    const tescommands::TempContext context = window->TempContext();
    ASSERT_HRESULT_SUCCEEDED(tescommands::CreateDelayedFileDrop(
        [&](std::vector<std::string>* paths) {
            ++produced;
            return tescommands::ExtractForTransfer(context, {entry}, "", paths);
        },
        data.put()));
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(data->QueryGetData(&format), S_OK);
    STGMEDIUM medium = {};
    SetCapture(window->Window());  // the drag still runs
    EXPECT_TRUE(FAILED(data->GetData(&format, &medium)));
    ReleaseCapture();
    EXPECT_EQ(produced, 0);
    EXPECT_FALSE(Exists(tempPath_ + "alpha\\readme.txt"));
    for (int ask = 0; ask < 2; ++ask) {
        ASSERT_HRESULT_SUCCEEDED(data->GetData(&format, &medium));
        auto* block = static_cast<DROPFILES*>(GlobalLock(medium.hGlobal));
        const std::vector<std::string> names = tescommands::DroppedPaths(block);
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0], tempPath_ + "alpha\\readme.txt");
    }
    EXPECT_EQ(produced, 1);
    EXPECT_TRUE(Exists(tempPath_ + "alpha\\readme.txt"));
}

TEST_F(ViewingTest, TwoArchivesOfOneNameGetTheirOwnTemporaryFolders) {
    const std::string zip = Copy("gamma.zip", "a.zip");
    const std::string tar = Copy("delta.tar", "a.tar");
    win32::ComPtr<ICompressFormat> first, second;
    ASSERT_HRESULT_SUCCEEDED(ArcCreateObject(nullptr, zip.c_str(), first.put()));
    ASSERT_HRESULT_SUCCEEDED(ArcCreateObject(nullptr, tar.c_str(), second.put()));
    // A file of the plain name is someone else's: it stays.
    WriteBytes(tempPath_ + "a_1", "not ours");
    tescommands::TempFileTracker* one = tescommands::TempFileTracker::Attach(first.get(), tempPath_);
    tescommands::TempFileTracker* two = tescommands::TempFileTracker::Attach(second.get(), tempPath_);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->Folder(), tempPath_ + "a");
    EXPECT_EQ(two->Folder(), tempPath_ + "a_2");
    tescommands::TempFileTracker::Detach(first.get());
    tescommands::TempFileTracker::Detach(second.get());
    EXPECT_FALSE(Exists(tempPath_ + "a"));
    EXPECT_FALSE(Exists(tempPath_ + "a_2"));
    EXPECT_EQ(FileBytes(tempPath_ + "a_1"), "not ours");
}

TEST_F(ViewingTest, ThePrintedListHasTheColumnsOfTheList) {
    const std::string path = Copy("gamma.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    const std::string text = ListPrintText(*window);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].compare(0, 4, "Name"), 0) << lines[0];
    EXPECT_EQ(lines[1], std::string(lines[0].size(), '-'));
    EXPECT_EQ(lines[2].compare(0, 9, "gamma.txt"), 0) << lines[2];
    EXPECT_EQ(lines[2].size(), lines[0].size());
    EXPECT_NE(lines[0].find("Modified at"), std::string::npos);
}

TEST_F(ViewingTest, RenamingAndDeletingTheArchiveFileUpdateHistoryAndRecentArchives) {
    const std::string path = Copy("gamma.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    const std::string renamed = scratch_ + "\\renamed.zip";
    lstrcpynA(g_renameTo, renamed.c_str(), MAX_PATH);
    SendMessageA(window->Window(), WM_COMMAND, CMD_RENAME_ARCHIVE, 0);
    Pump();
    EXPECT_TRUE(Exists(renamed));
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(std::string(window->Archive()->GetArchivePath()), renamed);
    EXPECT_EQ(window->Recent().Slot(0), renamed);
    ASSERT_NE(window->History().Current(), nullptr);
    EXPECT_EQ(window->History().Current()->path, renamed);
    EXPECT_EQ(WindowText(window->Window()), "Tessera - renamed.zip");

    // The shell's confirmation is answered Yes.
    g_otherwise = IDYES;
    SendMessageA(window->Window(), WM_COMMAND, CMD_DELETE_ARCHIVE, 0);
    Pump();
    g_otherwise = IDCANCEL;
    ASSERT_FALSE(Exists(renamed));
    EXPECT_EQ(window->Archive(), nullptr);
    EXPECT_TRUE(window->Recent().Slot(0).empty());
    EXPECT_EQ(window->History().Current(), nullptr);
}

TEST_F(ViewingTest, TheCommentPageWritesTheArchiveComment) {
    const std::string path = Copy("gamma.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    g_answers["Properties for gamma.zip"] = [](HWND sheet) {
        HWND page = PropSheet_GetCurrentPageHwnd(sheet);
        HWND edit = GetDlgItem(page, TESCMD_IDC_COMMENT_TEXT);
        SetWindowTextA(edit, "A comment\r\nin two lines");
        SendMessageA(edit, EM_SETMODIFY, TRUE, 0);
        PropSheet_Changed(sheet, page);
        PropSheet_PressButton(sheet, PSBTN_OK);
    };
    g_answers["gamma.zip Properties"] = g_answers["Properties for gamma.zip"];
    SendMessageA(window->Window(), WM_COMMAND, CMD_COMMENT, 0);
    Pump();
    win32::ComPtr<ICompressFormat> check;
    ASSERT_HRESULT_SUCCEEDED(ArcCreateObject(nullptr, path.c_str(), check.put()));
    ASSERT_HRESULT_SUCCEEDED(check->List(nullptr));
    char comment[256] = "";
    ASSERT_HRESULT_SUCCEEDED(check->GetComment(nullptr, comment, sizeof comment));
    EXPECT_NE(std::string(comment).find("A comment"), std::string::npos) << comment;
    EXPECT_NE(std::string(comment).find("in two lines"), std::string::npos) << comment;
    check.reset();
    KeepForPeers(path, "comment.zip");
}

// Mail through a double of the mail library's entry points.
struct MailRecord {
    ULONG logonResult = SUCCESS_SUCCESS, sendResult = SUCCESS_SUCCESS;
    std::string attachment, subject;
    int logoffs = 0;
} g_mail;

ULONG WINAPI FakeLogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE session) {
    *session = 7;
    return g_mail.logonResult;
}
ULONG WINAPI FakeSend(LHANDLE, ULONG_PTR, lpMapiMessage message, FLAGS, ULONG) {
    if (message->nFileCount == 1) g_mail.attachment = message->lpFiles[0].lpszPathName;
    g_mail.subject = message->lpszSubject ? message->lpszSubject : "";
    return g_mail.sendResult;
}
ULONG WINAPI FakeLogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG) {
    ++g_mail.logoffs;
    return SUCCESS_SUCCESS;
}

TEST_F(ViewingTest, MailAttachesTheArchiveAndNamesTheMailError) {
    const std::string path = Copy("gamma.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    const tescommands::MailFunctions fake = {FakeLogon, FakeSend, FakeLogoff};
    tescommands::SetMailFunctionsForTesting(&fake);
    g_answers["Tessera"] = Press(IDOK);
    struct Case {
        ULONG logon, send;
        bool sent;
        const char* message;
    } cases[] = {
        {SUCCESS_SUCCESS, SUCCESS_SUCCESS, true, nullptr},
        {SUCCESS_SUCCESS, MAPI_E_ATTACHMENT_NOT_FOUND, false, "Tessera was unable to send the mail (attachment not found)."},
        {MAPI_E_LOGIN_FAILURE, SUCCESS_SUCCESS, false, "Tessera was unable to send the mail (logon: logon failure)."},
    };
    for (const Case& test : cases) {
        g_mail = MailRecord();
        g_mail.logonResult = test.logon;
        g_mail.sendResult = test.send;
        g_seen.clear();
        SendMessageA(window->Window(), WM_COMMAND, CMD_MAIL, 0);
        Pump();
        if (test.logon == SUCCESS_SUCCESS) {
            EXPECT_EQ(g_mail.attachment, path);
            EXPECT_EQ(g_mail.logoffs, 1);
        }
        if (test.message) {
            ASSERT_EQ(g_seen.size(), 1u) << test.message;
            EXPECT_NE(g_seen[0].texts.find(test.message), std::string::npos) << g_seen[0].texts;
        } else {
            EXPECT_TRUE(g_seen.empty());
        }
    }
    tescommands::SetMailFunctionsForTesting(nullptr);
}

}  // namespace

namespace {

TEST_F(ViewingTest, AFailedWriteBackKeepsTheFileAndItsFolderAndSaysWhere) {
    UseQuietViewers();
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(tescommands::OpenEntry(window->TempContext(), EntryIndex(window->Archive(), "readme.txt"), false));
    const std::string temporary = tempPath_ + "alpha\\readme.txt";
    Edit(temporary, "my edit");
    // Another program holds the archive: it cannot be rewritten now.
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    g_answers["Modified temporary file"] = Press(IDYES);
    g_answers["Tessera"] = Press(IDOK);
    SendMessageA(window->Window(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    CloseHandle(lock);
    ASSERT_EQ(CountSeen("Modified temporary file"), 1);
    bool told = false;
    for (const SeenDialog& seen : g_seen) told |= seen.title == "Tessera" && seen.texts.find(temporary) != std::string::npos;
    EXPECT_TRUE(told);
    EXPECT_EQ(FileBytes(temporary), "my edit");
    SendMessageA(window->Window(), WM_COMMAND, CMD_CLOSE_ARCHIVE, 0);
    Pump();
    EXPECT_EQ(FileBytes(temporary), "my edit");  // the folder stayed with the edit
    EXPECT_NE(EntryBytes(path, "readme.txt", scratch_), "my edit");
}

TEST_F(ViewingTest, EntryPropertiesChangeTheAttributesThroughUpdateEntries) {
    const std::string path = Copy("gamma.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    SelectEntries(window, {0});
    auto setHidden = [](HWND sheet) {
        HWND page = PropSheet_GetCurrentPageHwnd(sheet);
        g_seen.push_back({"General", WindowText(GetDlgItem(page, TESCMD_IDC_ENTRY_NAME))});
        CheckDlgButton(page, TESCMD_IDC_PROP_HIDDEN, BST_CHECKED);
        PropSheet_Changed(sheet, page);
        PropSheet_PressButton(sheet, PSBTN_OK);
    };
    g_answers["Properties for gamma.txt"] = setHidden;
    g_answers["gamma.txt Properties"] = setHidden;
    SendMessageA(window->Window(), WM_COMMAND, CMD_ENTRY_PROPERTIES, 0);
    Pump();
    ASSERT_EQ(CountSeen("General"), 1);
    win32::ComPtr<ICompressFormat> check;
    ASSERT_HRESULT_SUCCEEDED(ArcCreateObject(nullptr, path.c_str(), check.put()));
    ASSERT_HRESULT_SUCCEEDED(check->List(nullptr));
    ASSERT_EQ(check->GetEntryCount(), 1u);
    EXPECT_TRUE(check->GetEntries()[0].attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(window->Archive()->GetEntries()[0].attributes & FILE_ATTRIBUTE_HIDDEN);  // refreshed
}

TEST_F(ViewingTest, CutAsksUntilNeverAskIsCheckedAndNoIsThenDisabled) {
    const std::string path = Copy("beta.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    SelectEntries(window, {EntryIndex(window->Archive(), "one.txt")});
    bool noEnabled = true;
    g_answers["Cut"] = [&noEnabled](HWND dialog) {
        SendMessageA(GetDlgItem(dialog, TESCMD_IDC_CUT_NEVER_ASK), BM_CLICK, 0, 0);
        noEnabled = IsWindowEnabled(GetDlgItem(dialog, IDNO)) != FALSE;
        PostMessageA(dialog, WM_COMMAND, IDYES, 0);
    };
    SendMessageA(window->Window(), WM_COMMAND, CMD_CUT, 0);
    Pump();
    EXPECT_EQ(CountSeen("Cut"), 1);
    EXPECT_FALSE(noEnabled);
    DWORD ask = 1;
    ASSERT_TRUE(GetProfileInt(kSettings, "CutPromt", &ask));
    EXPECT_EQ(ask, 0u);
    EXPECT_EQ(EntryIndex(window->Archive(), "one.txt"), SEL_UNUSED);
}

TEST_F(ViewingTest, ViewingWithoutAViewerAsksForTheTextOrTheBinaryOne) {
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    g_answers["Tessera"] = Press(IDNO);
    ASSERT_FALSE(tescommands::OpenEntry(window->TempContext(), EntryIndex(window->Archive(), "readme.txt"), false));
    ASSERT_EQ(CountSeen("Tessera"), 1);
    EXPECT_NE(g_seen.back().texts.find("You have to choose a viewer for text files. Continue?"), std::string::npos);
    // The same file made binary.
    WriteBytes(tempPath_ + "alpha\\readme.txt", std::string("MZ\0\0binary", 10));
    ASSERT_FALSE(tescommands::OpenEntry(window->TempContext(), EntryIndex(window->Archive(), "readme.txt"), false));
    ASSERT_EQ(CountSeen("Tessera"), 2);
    EXPECT_NE(g_seen.back().texts.find("You have to choose a viewer for binary files. Continue?"), std::string::npos);
}

TEST_F(ViewingTest, CopyFolderOffersTheFolderItselfInTheTemporaryFolder) {
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    HWND tree = window->Tree().Window();
    HTREEITEM root = TreeView_GetRoot(tree);
    TreeView_Expand(tree, root, TVE_EXPAND);
    HTREEITEM docs = TreeView_GetChild(tree, root);
    ASSERT_NE(docs, nullptr);
    TreeView_SelectItem(tree, docs);
    Pump();
    SendMessageA(window->Window(), WM_COMMAND, CMD_COPY_FOLDER, 0);
    Pump();
    ASSERT_TRUE(OpenClipboard(nullptr));
    std::vector<std::string> names;
    if (HANDLE data = GetClipboardData(CF_HDROP)) {
        auto* block = static_cast<DROPFILES*>(GlobalLock(data));
        names = tescommands::DroppedPaths(block);
        GlobalUnlock(data);
    }
    CloseClipboard();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], tempPath_ + "alpha\\docs");
    EXPECT_EQ(FileBytes(tempPath_ + "alpha\\docs\\notes.txt"), "notes");
}

}  // namespace

namespace {

// The screen area of a window as a 24-bit BMP file.
void SaveWindowPicture(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(stride * static_cast<DWORD>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return;
    fwrite(&header, sizeof header, 1, file);
    fwrite(&info, sizeof info, 1, file);
    fwrite(pixels.data(), 1, pixels.size(), file);
    fclose(file);
}

// Not a test: pictures of the dialogs of these commands for a person to
// look at, written to the folder in TESSERA_PICTURES (run with
// --gtest_also_run_disabled_tests).
TEST_F(ViewingTest, DISABLED_Pictures) {
    char folderBuffer[MAX_PATH] = "";
    if (!GetEnvironmentVariableA("TESSERA_PICTURES", folderBuffer, sizeof folderBuffer)) GTEST_SKIP();
    static std::string folder;
    folder = folderBuffer;
    UseQuietViewers();
    const std::string path = Copy("alpha.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    ShowWindow(window->Window(), SW_SHOWNORMAL);
    MoveWindow(window->Window(), 0, 0, 640, 420, TRUE);
    Pump();
    SaveWindowPicture(window->Window(), folder + "\\window.bmp");
    auto picture = [](const char* name, int answer) {
        return [name, answer](HWND dialog) {
            // Wine hands the painted surface to the X server a little later.
            for (int round = 0; round < 5; ++round) {
                Pump();
                Sleep(100);
            }
            SaveWindowPicture(dialog, folder + "\\" + name + ".bmp");
            if (answer == -1) PropSheet_PressButton(dialog, PSBTN_CANCEL);
            else PostMessageA(dialog, WM_COMMAND, answer, 0);
        };
    };
    ASSERT_TRUE(tescommands::OpenEntry(window->TempContext(), EntryIndex(window->Archive(), "docs/notes.txt"), false));
    Edit(tempPath_ + "alpha\\docs\\notes.txt", "edited");
    g_answers["Modified temporary file"] = picture("modified_file", IDNO);
    SendMessageA(window->Window(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    SelectEntries(window, {EntryIndex(window->Archive(), "readme.txt")});
    g_answers["Cut"] = picture("cut_question", IDNO);
    SendMessageA(window->Window(), WM_COMMAND, CMD_CUT, 0);
    Pump();
    g_answers["Output"] = picture("output", IDCANCEL);
    window->RunOperation([](ICompressFormat* archive, HWND) {
        (void)archive;
        return S_OK;
    });
    window->ShowOutputWindow();
    Pump();
    SelectEntries(window, {EntryIndex(window->Archive(), "readme.txt")});
    g_answers["Properties for readme.txt"] = picture("entry_properties", -1);
    g_answers["readme.txt Properties"] = picture("entry_properties", -1);
    SendMessageA(window->Window(), WM_COMMAND, CMD_ENTRY_PROPERTIES, 0);
    Pump();
    g_answers["Properties for alpha.zip"] = picture("archive_properties", -1);
    g_answers["alpha.zip Properties"] = picture("archive_properties", -1);
    SendMessageA(window->Window(), WM_COMMAND, CMD_ARCHIVE_PROPERTIES, 0);
    Pump();
    g_answers["Properties for alpha.zip"] = picture("archive_comment", -1);
    g_answers["alpha.zip Properties"] = picture("archive_comment", -1);
    SendMessageA(window->Window(), WM_COMMAND, CMD_COMMENT, 0);
    Pump();
    PutProfileString(kSettings, "TextViewer", "");
    SelectEntries(window, {EntryIndex(window->Archive(), "readme.txt")});
    g_answers["Tessera"] = picture("viewer_question", IDNO);
    SendMessageA(window->Window(), WM_COMMAND, CMD_VIEW, 0);
    Pump();
    const tescommands::MailFunctions fake = {FakeLogon, FakeSend, FakeLogoff};
    tescommands::SetMailFunctionsForTesting(&fake);
    g_mail = MailRecord();
    g_mail.sendResult = MAPI_E_NETWORK_FAILURE;
    g_answers["Tessera"] = picture("mail_error", IDOK);
    SendMessageA(window->Window(), WM_COMMAND, CMD_MAIL, 0);
    Pump();
    tescommands::SetMailFunctionsForTesting(nullptr);
    // The printing dialog while the printing program runs; Abort.
    g_answers["Printing"] = picture("printing", IDCANCEL);
    g_otherwise = IDCANCEL;
    SendMessageA(window->Window(), WM_COMMAND, CMD_PRINT, 0);
    Pump();
    for (const SeenDialog& seen : g_seen) printf("seen: %s\n", seen.title.c_str());
}

}  // namespace

namespace {

TEST_F(ViewingTest, LinkOnDesktopPointsAtTheArchive) {
    const std::string path = Copy("gamma.zip");
    ExplorerWindow* window = Open(path);
    ASSERT_NE(window, nullptr);
    char desktop[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE));
    const std::string link = std::string(desktop) + "\\gamma.zip.lnk";
    DeleteFileA(link.c_str());
    SendMessageA(window->Window(), WM_COMMAND, CMD_LINK_ON_DESKTOP, 0);
    Pump();
    ASSERT_TRUE(Exists(link));
    win32::ComPtr<IShellLinkA> shellLink;
    win32::ComPtr<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                              reinterpret_cast<void**>(shellLink.put())));
    ASSERT_HRESULT_SUCCEEDED(shellLink.As(IID_IPersistFile, &file));
    wchar_t wide[MAX_PATH] = L"";
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    ASSERT_HRESULT_SUCCEEDED(file->Load(wide, STGM_READ));
    char target[MAX_PATH] = "";
    ASSERT_HRESULT_SUCCEEDED(shellLink->GetPath(target, MAX_PATH, nullptr, 0));
    EXPECT_EQ(lstrcmpiA(target, path.c_str()), 0) << target;
    file.reset();
    shellLink.reset();
    DeleteFileA(link.c_str());
}

}  // namespace
