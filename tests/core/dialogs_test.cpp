// The engine's own dialogs, driven the way a user would: a timer of the test
// thread runs inside the dialog's modal loop, reads the controls, types and
// presses buttons. Skipped without a display.
#include "core/prompts.h"
#include "core/resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Runs `script` on the dialog titled `title` once it is up.
struct DialogScript {
    static DialogScript* current;
    std::string title;
    std::function<void(HWND)> script;
    bool ran = false;
    UINT_PTR timer = 0;
    DialogScript(std::string t, std::function<void(HWND)> s) : title(std::move(t)), script(std::move(s)) {
        current = this;
        timer = SetTimer(nullptr, 0, 20, Tick);
    }
    ~DialogScript() {
        KillTimer(nullptr, timer);
        current = nullptr;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        DialogScript* self = current;
        if (!self || self->ran) return;
        HWND dialog = FindWindowA(MAKEINTATOM(32770), self->title.c_str());
        if (!dialog) return;
        self->ran = true;
        self->script(dialog);
    }
};
DialogScript* DialogScript::current = nullptr;

bool HaveDisplay() {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
}

std::string Text(HWND dialog, int control) {
    char text[MAX_PATH] = "";
    GetDlgItemTextA(dialog, control, text, sizeof text);
    return text;
}

bool OkEnabledWith(HWND dialog, int edit, const char* text) {
    SetDlgItemTextA(dialog, edit, text);
    return IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
}

TEST(Dialogs, RenameChecksTheNewName) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    char result[MAX_PATH] = "";
    DialogScript script("Rename", [](HWND dialog) {
        EXPECT_EQ(Text(dialog, IDC_RN_FROM), "report");
        EXPECT_EQ(Text(dialog, IDC_RN_FROMEXT), ".txt");
        EXPECT_EQ(Text(dialog, IDC_RN_TOEXT), ".txt");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));  // unchanged name
        EXPECT_FALSE(OkEnabledWith(dialog, IDC_RN_TO, "sum:mary"));
        EXPECT_FALSE(OkEnabledWith(dialog, IDC_RN_TO, "sum?mary"));
        EXPECT_FALSE(OkEnabledWith(dialog, IDC_RN_TO, ""));
        EXPECT_TRUE(OkEnabledWith(dialog, IDC_RN_TO, "REPORT"));  // case counts
        EXPECT_TRUE(OkEnabledWith(dialog, IDC_RN_TO, "summary"));
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(ShowRenameDialog(nullptr, "C:\\a\\report.txt", result), RENAME_RESULT_OK);
    EXPECT_TRUE(script.ran);
    EXPECT_STREQ(result, "C:\\a\\summary.txt");

    DialogScript cancel("Rename", [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_RN_TO, "other");
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowRenameDialog(nullptr, "C:\\a\\report.txt", result), RENAME_RESULT_CANCEL);
    EXPECT_STREQ(result, "C:\\a\\report.txt");
}

TEST(Dialogs, OverwriteOfAVanishedTargetShowsUnknown) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    ARCOVERWRITEPROMPT prompt = {};
    lstrcpyA(prompt.path, "C:\\no\\such\\folder\\gone.txt");
    prompt.size = 1536;
    GetSystemTimeAsFileTime(&prompt.time);
    struct Case {
        int button;
        int result;
    } cases[] = {{IDYES, OVERWRITE_RESULT_YES},
                 {IDC_OW_YESALL, OVERWRITE_RESULT_YESTOALL},
                 {IDCANCEL, OVERWRITE_RESULT_NO},
                 {IDC_OW_CANCEL, OVERWRITE_RESULT_CANCEL}};
    for (const Case& c : cases) {
        int button = c.button;
        DialogScript script("Overwrite", [button](HWND dialog) {
            EXPECT_EQ(Text(dialog, IDC_OW_TEXT), "C:\\no\\such\\folder\\gone.txt already exists.");
            EXPECT_EQ(Text(dialog, IDC_OW_OLD_SIZE), "(Unknown)");
            EXPECT_EQ(Text(dialog, IDC_OW_OLD_TIME), "(Unknown)");
            EXPECT_FALSE(Text(dialog, IDC_OW_NEW_SIZE).empty());
            PostMessageA(dialog, WM_COMMAND, button, 0);
        });
        EXPECT_EQ(PromptOverwriteDialog(nullptr, nullptr, &prompt), c.result);
        EXPECT_TRUE(script.ran);
    }
}

TEST(Dialogs, PasswordOkNeedsText) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    char password[ARC_PASSWORD_MAX + 1] = "";
    DialogScript script("Enter password", [](HWND dialog) {
        EXPECT_EQ(Text(dialog, IDC_PW_FILE), "secret.txt");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
        EXPECT_TRUE(OkEnabledWith(dialog, IDC_PW_EDIT, "pw"));
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PW_EDIT, EM_GETLIMITTEXT, 0, 0), ARC_PASSWORD_MAX);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(PromptPasswordDialog(nullptr, nullptr, "secret.txt", FALSE, password), PASSWORD_RESULT_OK);
    EXPECT_STREQ(password, "pw");
    DialogScript retry("Incorrect password", [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDC_PW_SKIP, 0); });
    EXPECT_EQ(PromptPasswordDialog(nullptr, nullptr, "secret.txt", TRUE, password), PASSWORD_RESULT_SKIP);
    EXPECT_TRUE(retry.ran);
}

}  // namespace
