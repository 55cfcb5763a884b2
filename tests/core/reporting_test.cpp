// Reporting: the log, warning and error paths, the test summary, skip lines,
// system error texts, the password prompt, and progress with its status
// dialog thresholds.
#include "fake_format.h"

#include "core/resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Reporting : ::testing::Test {
    FakeFormat* object = nullptr;
    LogLines log;
    ScriptedPrompts prompts;
    void SetUp() override {
        object = new FakeFormat;
        object->AddRef();
        object->SetPromptHandler(&prompts.handler);
    }
    void TearDown() override { object->Release(); }
};

TEST_F(Reporting, ErrorsGoToBoxAndLog) {
    // Neither owner nor callback: nothing at all.
    EXPECT_EQ(object->ReportError(IDS_ARCHIVE_CANNOT_BE_OPENED, "why"), 1);
    EXPECT_EQ(prompts.boxes, 0);
    log.Attach(object);
    object->ReportError(IDS_ARCHIVE_CANNOT_BE_OPENED, "why");
    EXPECT_EQ(prompts.boxes, 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "Archive cannot be opened: why\n");
    EXPECT_FALSE(object->m_warning);  // errors do not count as warnings
    object->m_owner = reinterpret_cast<HWND>(0x10);
    prompts.boxAnswer = IDOK;
    EXPECT_EQ(object->ReportError(IDS_INTERRUPTED), IDOK);
    ASSERT_EQ(prompts.boxTexts.size(), 1u);
    EXPECT_EQ(prompts.boxTexts[0], "Interrupted.");
    // A text that ends in a line feed gets no second one.
    object->Warn(IDS_ARCHIVE_EMPTY);
    object->Warn(IDS_TEST_NOTHING_TESTED, "x.zip");
    EXPECT_EQ(log.lines[2], "Warning: archive is empty.\n");
    EXPECT_EQ(log.lines[3], "Warning: No files were tested in x.zip.\n");
    EXPECT_TRUE(object->m_warning);
    // A missing string does nothing.
    size_t before = log.lines.size();
    EXPECT_EQ(object->Warn(4111), 0);
    EXPECT_EQ(log.lines.size(), before);
}

TEST_F(Reporting, SystemErrorTextFallsBack) {
    std::string known = object->SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(known.empty());
    EXPECT_EQ(std::string(object->SystemErrorText(0x2345678)), "<error 36984440>");
}

// The summary from the outcome counts: only file entries that were checked
// count as tested; folders and skipped entries never do.
TEST_F(Reporting, TestSummary) {
    struct Case {
        DWORD op;
        DWORD selected;  // 0: all entries
        DWORD processed, failed, unsupported, password, folders;
        std::vector<std::string> lines;
    } cases[] = {
        {OP_TEST, 0, 8, 0, 0, 2, 0,
         {"No errors were found in C:\\t.zip, 8 file(s) were tested.\n",
          "2 file(s) skipped, because the password was either wrong or not entered.\n"}},
        {OP_TEST, 0, 10, 0, 0, 0, 0, {"No errors were found in the compressed files of C:\\t.zip.\n"}},
        {OP_TEST, 0, 6, 1, 3, 0, 0,
         {"At least one error was found in C:\\t.zip.\n",
          "3 file(s) were skipped because of not supported compression or encoding.\n"}},
        {OP_TEST, 0, 0, 0, 0, 10, 0,
         {"Warning: No files were tested in C:\\t.zip.\n",
          "10 file(s) skipped, because the password was either wrong or not entered.\n"}},
        // Both entries unsupported: nothing was tested, whatever the count.
        {OP_TEST, 0, 0, 0, 2, 0, 0,
         {"Warning: No files were tested in C:\\t.zip.\n",
          "2 file(s) were skipped because of not supported compression or encoding.\n"}},
        // Folders only: nothing to check either.
        {OP_TEST, 0, 0, 0, 0, 0, 4, {"Warning: No files were tested in C:\\t.zip.\n"}},
        {OP_TEST, 5, 3, 0, 0, 0, 2, {"No errors were found in C:\\t.zip, 3 file(s) were tested.\n"}},
        {OP_TEST, 0, 9, 0, 1, 0, 0,
         {"No errors were found in C:\\t.zip, 9 file(s) were tested.\n",
          "1 file(s) were skipped because of not supported compression or encoding.\n"}},
        {OP_EXTRACT, 0, 7, 1, 1, 1, 0,
         {"1 file(s) were skipped because of not supported compression or encoding.\n",
          "1 file(s) skipped, because the password was either wrong or not entered.\n"}},
        {OP_EXTRACT, 0, 10, 0, 0, 0, 0, {}},
    };
    LogLines lines;
    for (const Case& c : cases) {
        object->SetMessageCallback(nullptr, 0);
        object->listing.assign(10, FakeEntry{"e"});
        object->List(nullptr);
        object->SetArchivePath("C:\\t.zip");
        std::vector<SELHDRSTRUCT> selection;
        for (DWORD i = 0; i < c.selected; ++i) selection.push_back({i, 0, nullptr});
        object->SetSelection(selection.empty() ? nullptr : selection.data(), c.selected);
        object->m_op = c.op;
        object->m_outcome = ARCOUTCOME();
        object->m_outcome.processed = c.processed;
        object->m_outcome.failed = c.failed;
        object->m_outcome.skippedUnsupported = c.unsupported;
        object->m_outcome.skippedPassword = c.password;
        object->m_outcome.skipped = c.unsupported + c.password;
        object->m_outcome.folders = c.folders;
        lines.lines.clear();
        lines.Attach(object);
        object->m_warning = FALSE;
        object->ReportTestSummary();
        EXPECT_EQ(lines.lines, c.lines);
        EXPECT_EQ(object->m_warning != FALSE, !c.lines.empty());
    }
}

TEST_F(Reporting, SummaryMakesTestReturnSFalse) {
    struct Summarising : FakeFormat {
        HRESULT DoTest() override {
            ReportTestSummary();
            return S_OK;
        }
    };
    auto* tester = new Summarising;
    tester->AddRef();
    LogLines lines;
    lines.Attach(tester);
    EXPECT_EQ(tester->Test(nullptr), S_FALSE);
    tester->Release();
}

TEST_F(Reporting, PasswordPromptThroughTheHandler) {
    struct Answer {
        static int CALLBACK Password(void*, HWND, LPCSTR fileName, BOOL retry, LPSTR password) {
            if (retry) return PASSWORD_RESULT_SKIPALL;
            EXPECT_STREQ(fileName, "secret.txt");
            lstrcpyA(password, "open sesame");
            return PASSWORD_RESULT_OK;
        }
    };
    prompts.handler.Password = Answer::Password;
    lstrcpyA(object->m_outputPath, "C:\\out\\secret.txt");
    EXPECT_EQ(object->PromptPassword(FALSE), PASSWORD_RESULT_OK);
    EXPECT_STREQ(object->GetPassword(), "open sesame");
    EXPECT_EQ(object->PromptPassword(TRUE), PASSWORD_RESULT_SKIPALL);
    EXPECT_STREQ(object->GetPassword(), "open sesame");
}

// A hidden top-level window to own the progress run.
struct OwnerWindow {
    HWND window = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ~OwnerWindow() {
        if (window) DestroyWindow(window);
    }
};

TEST_F(Reporting, SmallProgressOnlyDisablesTheOwner) {
    OwnerWindow owner;
    if (!owner.window) GTEST_SKIP() << "no window station (no display)";
    object->m_owner = owner.window;
    object->Progress(0, 300000);
    EXPECT_EQ(object->m_statusDialog, nullptr);
    EXPECT_FALSE(IsWindowEnabled(owner.window));
    object->Progress(1, 300000);
    object->Progress(2, 0);
    EXPECT_TRUE(IsWindowEnabled(owner.window));
    EXPECT_EQ(object->m_owner, owner.window);
}

TEST_F(Reporting, LargeProgressShowsTheStatusDialog) {
    OwnerWindow owner;
    if (!owner.window) GTEST_SKIP() << "no window station (no display)";
    log.Attach(object);
    object->m_owner = owner.window;
    object->Progress(0, 400000);
    HWND dialog = object->m_statusDialog;
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(object->m_owner, dialog);  // boxes and prompts are owned by the dialog now
    EXPECT_FALSE(IsWindowEnabled(owner.window));
    EXPECT_FALSE(IsWindowVisible(dialog));
    // The animation plays the clip of the engine's resources.
    HWND animation = GetDlgItem(dialog, IDC_STATUS_ANIMATION);
    ASSERT_NE(animation, nullptr);
    EXPECT_TRUE(SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(GetModuleHandleA(nullptr)),
                             reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDA_STATUS))));
    object->Progress(1, 200000);
    EXPECT_TRUE(IsWindowVisible(dialog));
    object->Progress(1, 200000);  // done reaches the total
    EXPECT_TRUE(IsWindowVisible(dialog));
    object->Progress(1, 0);  // the first advance after that hides it
    EXPECT_FALSE(IsWindowVisible(dialog));
    // Cancel twice: one cancel request, one "Interrupted." line.
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(object->m_cancel);
    int interrupted = 0;
    for (const std::string& line : log.lines) interrupted += line == "Interrupted.\n";
    EXPECT_EQ(interrupted, 1);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    object->Progress(2, 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowEnabled(owner.window));
    EXPECT_EQ(object->m_owner, owner.window);
}

TEST_F(Reporting, ConsoleHandlerSuppressesTheStatusDialog) {
    OwnerWindow owner;
    if (!owner.window) GTEST_SKIP() << "no window station (no display)";
    prompts.handler.flags = ARCPROMPT_NOSTATUSDIALOG;
    object->m_owner = owner.window;
    object->Progress(0, 4000000);
    EXPECT_EQ(object->m_statusDialog, nullptr);
    object->Progress(2, 0);
    EXPECT_TRUE(IsWindowEnabled(owner.window));
}

}  // namespace
