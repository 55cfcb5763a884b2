// The program settings read and written through the settings store (a
// table over every value: the default when missing, the value when present,
// the value written back), the Options sheet driven page by page from a
// timer inside its message loop, and the ".zip" question at start-up on a
// private class root.
#include "application.h"
#include "options_dialog.h"
#include "program_environment.h"
#include "resource_ids.h"
#include "tescore.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <prsht.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace tessera;
using namespace search_tests;

namespace {

const char kSettings[] = "Settings";

std::string SystemTemp() {
    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof folder, folder);
    return folder;
}

void ResetSettings() {
    PutProfileString(kSettings, nullptr, nullptr);
    App().settings = ProgramSettings();
    App().settings.Load();
}

struct SettingsRow {
    const char* name;
    DWORD ProgramSettings::*number;        // or
    std::string ProgramSettings::*text;
    DWORD defaultNumber;
    std::string defaultText;
    DWORD sampleNumber;
    std::string sampleText;   // as stored
    std::string loadedText;   // as the program holds it
};

TEST(ProgramSettingsTest, EveryValueHasItsDefaultItsStoredValueAndIsWrittenBack) {
    using P = ProgramSettings;
    const std::vector<SettingsRow> rows = {
        {"TempPath", nullptr, &P::tempPath, 0, SystemTemp(), 0, "C:\\scratch", "C:\\scratch\\"},
        {"ArchivesOpened", &P::archivesOpened, nullptr, 0, "", 41, "", ""},
        {"Suffix", nullptr, &P::suffix, 0, ".z:.zip:.zoo:.arc:.lzh:.arj:.rar", 0, ".jpg,.png", ".jpg,.png"},
        {"AlwaysOnTop", &P::alwaysOnTop, nullptr, 0, "", 1, "", ""},
        {"AssocCheck", &P::assocCheck, nullptr, 1, "", 0, "", ""},
        {"DefaultFont", &P::defaultFont, nullptr, 1, "", 0, "", ""},
        {"ModifyTime", &P::modifyTime, nullptr, 1, "", 0, "", ""},
        {"OpenAtStartup", &P::openAtStartup, nullptr, 0, "", 1, "", ""},
        {"CutPromt", &P::cutPrompt, nullptr, 1, "", 0, "", ""},
        {"ExploreExtractFolder", &P::exploreExtractFolder, nullptr, 1, "", 0, "", ""},
    };
    for (const SettingsRow& row : rows) {
        SCOPED_TRACE(row.name);
        ResetSettings();
        if (row.number) {
            EXPECT_EQ(App().settings.*row.number, row.defaultNumber);
            PutProfileInt(kSettings, row.name, row.sampleNumber);
            App().settings.Load();
            EXPECT_EQ(App().settings.*row.number, row.sampleNumber);
            App().settings.*row.number = row.sampleNumber + 1;
            App().settings.Save();
            DWORD stored = 0;
            EXPECT_TRUE(GetProfileInt(kSettings, row.name, &stored));
            EXPECT_EQ(stored, row.sampleNumber + 1);
            // A value of more than four bytes is as good as missing.
            PutProfileString(kSettings, row.name, "1234567");
            App().settings = ProgramSettings();
            App().settings.Load();
            EXPECT_EQ(App().settings.*row.number, row.defaultNumber);
        } else {
            EXPECT_EQ(App().settings.*row.text, row.defaultText);
            PutProfileString(kSettings, row.name, row.sampleText.c_str());
            App().settings.Load();
            EXPECT_EQ(App().settings.*row.text, row.loadedText);
            App().settings.Save();
            char stored[MAX_PATH] = "";
            EXPECT_TRUE(GetProfileString(kSettings, row.name, stored));
            EXPECT_EQ(std::string(stored), row.loadedText);
        }
    }
    // "Language" is read at start-up and never written.
    ResetSettings();
    App().settings.Save();
    DWORD language = 0;
    EXPECT_FALSE(GetProfileInt(kSettings, "Language", &language));
}

// --- the sheet ---

std::function<void(HWND)> g_sheetDriver;
int g_sheetVisits = 0;

BOOL CALLBACK DriveSheet(HWND window, LPARAM) {
    char className[32] = "", title[64] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (!IsWindowVisible(window) || strcmp(className, "#32770") != 0) return TRUE;
    if (strncmp(title, "Options", 7) != 0 && strcmp(title, "Tessera") != 0) return TRUE;
    if (GetPropA(window, "driven")) return TRUE;
    SetPropA(window, "driven", reinterpret_cast<HANDLE>(1));
    ++g_sheetVisits;
    if (g_sheetDriver) g_sheetDriver(window);
    return FALSE;
}

void CALLBACK DriveTimer(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), DriveSheet, 0); }

// Runs body while driver handles the first dialog that appears.
void WithDriver(std::function<void(HWND)> driver, const std::function<void()>& body) {
    g_sheetDriver = std::move(driver);
    g_sheetVisits = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 40, DriveTimer);
    body();
    KillTimer(nullptr, timer);
    g_sheetDriver = nullptr;
}

HWND Page(HWND sheet, int index) {
    PropSheet_SetCurSel(sheet, nullptr, index);
    return PropSheet_GetCurrentPageHwnd(sheet);
}

bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

void Click(HWND page, int id) {
    HWND button = GetDlgItem(page, id);
    SendMessageA(button, BM_CLICK, 0, 0);
}

std::string TextOf(HWND page, int id) {
    char text[MAX_PATH + 8] = "";
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

const int kGeneralBoxes[] = {IDC_OPT_ALWAYS_ON_TOP, IDC_OPT_CUT_WITHOUT_ASKING, IDC_OPT_MASK_PASSWORDS,
                             IDC_OPT_OPEN_AT_STARTUP, IDC_OPT_ASSOC_CHECK, IDC_OPT_EXPLORE_EXTRACT};

TEST(OptionsDialogTest, AFreshInstallationShowsTheDefaults) {
    ResetSettings();
    PutProfileString(kSettings, "TextViewer", nullptr);
    std::vector<bool> boxes;
    std::string suffix, temp, viewer;
    bool modifyTime = false;
    WithDriver(
        [&](HWND sheet) {
            HWND general = Page(sheet, 0);
            for (int id : kGeneralBoxes) boxes.push_back(Checked(general, id));
            HWND compression = Page(sheet, 1);
            suffix = TextOf(compression, IDC_OPT_SUFFIX);
            temp = TextOf(compression, IDC_OPT_TEMP_PATH);
            modifyTime = Checked(compression, IDC_OPT_MODIFY_TIME);
            viewer = TextOf(Page(sheet, 2), IDC_OPT_TEXT_VIEWER);
            PropSheet_PressButton(sheet, PSBTN_CANCEL);
        },
        [] { OptionsDialog(nullptr, kGeneralPage); });
    EXPECT_EQ(g_sheetVisits, 1);
    // Always on top, cut without asking, mask, open at start-up, associations, explore.
    EXPECT_EQ(boxes, (std::vector<bool>{false, false, true, false, true, true}));
    EXPECT_EQ(suffix, ".z:.zip:.zoo:.arc:.lzh:.arj:.rar");
    EXPECT_EQ(temp, SystemTemp());
    EXPECT_TRUE(modifyTime);
    EXPECT_EQ(viewer, "");
}

TEST(OptionsDialogTest, EveryControlIsTakenOverOnOk) {
    ResetSettings();
    WithDriver(
        [&](HWND sheet) {
            HWND general = Page(sheet, 0);
            for (int id : kGeneralBoxes) Click(general, id);
            HWND compression = Page(sheet, 1);
            SetDlgItemTextA(compression, IDC_OPT_SUFFIX, ".png,.jpg");
            SetDlgItemTextA(compression, IDC_OPT_TEMP_PATH, "C:\\other temp");
            Click(compression, IDC_OPT_MODIFY_TIME);
            HWND viewer = Page(sheet, 2);
            Click(viewer, IDC_OPT_TEXT_DEFAULT);
            SetDlgItemTextA(viewer, IDC_OPT_HEX_VIEWER, "C:\\tools\\hex.exe");
            PropSheet_PressButton(sheet, PSBTN_OK);
        },
        [] { OptionsDialog(nullptr, kCompressionPage); });
    const ProgramSettings& settings = App().settings;
    EXPECT_EQ(settings.alwaysOnTop, 1u);
    EXPECT_EQ(settings.cutPrompt, 0u);  // "Cut files without asking" now checked
    EXPECT_EQ(settings.openAtStartup, 1u);
    EXPECT_EQ(settings.assocCheck, 0u);
    EXPECT_EQ(settings.exploreExtractFolder, 0u);
    EXPECT_EQ(settings.suffix, ".png,.jpg");
    EXPECT_EQ(settings.tempPath, "C:\\other temp\\");
    EXPECT_EQ(settings.modifyTime, 0u);
    // Written at once; the program settings wait for the exit.
    DWORD mask = 1, alwaysOnTop = 0;
    EXPECT_TRUE(GetProfileInt(kSettings, "MaskPassword", &mask));
    EXPECT_EQ(mask, 0u);
    EXPECT_FALSE(GetProfileInt(kSettings, "AlwaysOnTop", &alwaysOnTop));
    char text[MAX_PATH] = "", hex[MAX_PATH] = "";
    EXPECT_TRUE(GetProfileString(kSettings, "TextViewer", text));
    EXPECT_STREQ(text, "Notepad.exe");
    EXPECT_TRUE(GetProfileString(kSettings, "HexViewer", hex));
    EXPECT_STREQ(hex, "C:\\tools\\hex.exe");

    // Read back by the next opening.
    std::vector<bool> boxes;
    std::string hexShown;
    WithDriver(
        [&](HWND sheet) {
            HWND general = Page(sheet, 0);
            for (int id : kGeneralBoxes) boxes.push_back(Checked(general, id));
            hexShown = TextOf(Page(sheet, 2), IDC_OPT_HEX_VIEWER);
            PropSheet_PressButton(sheet, PSBTN_CANCEL);
        },
        [] { OptionsDialog(nullptr, kGeneralPage); });
    EXPECT_EQ(boxes, (std::vector<bool>{true, true, false, true, false, false}));
    EXPECT_EQ(hexShown, "C:\\tools\\hex.exe");
}

TEST(OptionsDialogTest, AnEmptyTemporaryFolderIsRefused) {
    ResetSettings();
    const std::string before = App().settings.tempPath;
    bool stayedOpen = false;
    WithDriver(
        [&](HWND sheet) {
            HWND compression = Page(sheet, 1);
            SetDlgItemTextA(compression, IDC_OPT_TEMP_PATH, "");
            PropSheet_PressButton(sheet, PSBTN_OK);
            stayedOpen = IsWindow(sheet) && PropSheet_GetCurrentPageHwnd(sheet) != nullptr;
            SetDlgItemTextA(compression, IDC_OPT_TEMP_PATH, "D:\\work");
            PropSheet_PressButton(sheet, PSBTN_OK);
        },
        [] { OptionsDialog(nullptr, kGeneralPage); });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(App().settings.tempPath, "D:\\work\\");
    EXPECT_NE(before, App().settings.tempPath);
}

// --- the ".zip" question ---

struct Answer {
    bool doNotAskAgain;
    int button;
};

// Runs the check with the question answered; what the dialog said.
std::string AnswerCheck(Answer answer, DWORD* result) {
    std::string shown;
    WithDriver(
        [&](HWND dialog) {
            char text[512] = "";
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                GetWindowTextA(child, text, sizeof text);
                if (strstr(text, "ZIP archives")) shown = text;
            }
            CheckDlgButton(dialog, IDC_ASSOC_DONT_ASK, answer.doNotAskAgain ? BST_CHECKED : BST_UNCHECKED);
            PostMessageA(dialog, WM_COMMAND, answer.button, 0);
        },
        [&] { *result = AssociationCheck(nullptr); });
    return shown;
}

TEST(AssociationCheckTest, AsksUntilToldNotTo) {
    PrivateClassesRoot classes;  // no ".zip" at all
    ResetSettings();
    DWORD result = 1;
    std::string text = AnswerCheck({false, IDNO}, &result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(g_sheetVisits, 1);
    EXPECT_EQ(text, "Tessera is not the default viewer for ZIP archives.\nWould you like to associate it with ZIP "
                    "archives?");
    EXPECT_EQ(App().settings.assocCheck, 1u);

    AnswerCheck({false, IDYES}, &result);  // Setup.exe is not beside the test: nothing starts
    EXPECT_EQ(g_sheetVisits, 1);
    EXPECT_EQ(App().settings.assocCheck, 1u);

    AnswerCheck({true, IDNO}, &result);
    EXPECT_EQ(g_sheetVisits, 1);
    EXPECT_EQ(App().settings.assocCheck, 0u);
    AnswerCheck({false, IDNO}, &result);
    EXPECT_EQ(g_sheetVisits, 0) << "asked again after \"do not display this message again\"";
    // Kept to the next start.
    App().settings.Save();
    App().settings = ProgramSettings();
    App().settings.Load();
    EXPECT_EQ(App().settings.assocCheck, 0u);
}

TEST(AssociationCheckTest, StaysQuietWhenZipFilesAreOurs) {
    PrivateClassesRoot classes;
    ResetSettings();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ".zip", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char owner[] = "tessera.FILE";
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(owner), sizeof owner);
    DWORD result = 1;
    AnswerCheck({false, IDNO}, &result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(g_sheetVisits, 0);
    // Another owner is asked about.
    const char other[] = "CompressedFolder";
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other);
    RegCloseKey(key);
    AnswerCheck({false, IDNO}, &result);
    EXPECT_EQ(g_sheetVisits, 1);
}

TEST(AssociationCheckTest, SetupIsStartedFromTheProgramsFolder) {
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string expected = program;
    expected = expected.substr(0, expected.find_last_of('\\') + 1) + "Setup.exe";
    EXPECT_EQ(AssociationProgramPath(), expected);
}

}  // namespace
