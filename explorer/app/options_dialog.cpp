#include "options_dialog.h"

#include "application.h"
#include "commands.h"
#include "resource_ids.h"
#include "setup/records/installation_layout.h"
#include "tescore.h"
#include "win32/dialog.h"
#include "win32/handles.h"

#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>

namespace tessera {

namespace {

const char kSettings[] = "Settings";

std::string SystemTempFolder() {
    char folder[MAX_PATH] = "";
    DWORD length = GetTempPathA(sizeof folder, folder);
    return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

// A page of the sheet: any change of a control marks it changed.
class OptionsPage : public win32::Dialog {
protected:
    void Changed() const { PropSheet_Changed(GetParent(Handle()), Handle()); }
    BOOL OnNotify(NMHDR* header) override {
        if (header->code == PSN_APPLY) {
            const bool accepted = Apply();
            SetResult(accepted ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
            return TRUE;
        }
        return FALSE;
    }
    virtual bool Apply() = 0;
};

class GeneralPage : public OptionsPage {
    BOOL OnInitDialog() override {
        const ProgramSettings& settings = App().settings;
        DWORD mask = 1;
        GetProfileInt(kSettings, "MaskPassword", &mask);
        Check(IDC_OPT_ALWAYS_ON_TOP, settings.alwaysOnTop != 0);
        Check(IDC_OPT_CUT_WITHOUT_ASKING, settings.cutPrompt == 0);
        Check(IDC_OPT_MASK_PASSWORDS, mask != 0);
        Check(IDC_OPT_OPEN_AT_STARTUP, settings.openAtStartup != 0);
        Check(IDC_OPT_ASSOC_CHECK, settings.assocCheck != 0);
        Check(IDC_OPT_EXPLORE_EXTRACT, settings.exploreExtractFolder != 0);
        return TRUE;
    }
    BOOL OnCommand(int, int code, HWND) override {
        if (code == BN_CLICKED) Changed();
        return TRUE;
    }
    bool Apply() override {
        ProgramSettings& settings = App().settings;
        PutProfileInt(kSettings, "MaskPassword", Checked(IDC_OPT_MASK_PASSWORDS) ? 1 : 0);
        settings.alwaysOnTop = Checked(IDC_OPT_ALWAYS_ON_TOP) ? 1 : 0;
        settings.cutPrompt = Checked(IDC_OPT_CUT_WITHOUT_ASKING) ? 0 : 1;
        settings.openAtStartup = Checked(IDC_OPT_OPEN_AT_STARTUP) ? 1 : 0;
        settings.assocCheck = Checked(IDC_OPT_ASSOC_CHECK) ? 1 : 0;
        settings.exploreExtractFolder = Checked(IDC_OPT_EXPLORE_EXTRACT) ? 1 : 0;
        return true;
    }
};

class CompressionPage : public OptionsPage {
    BOOL OnInitDialog() override {
        const ProgramSettings& settings = App().settings;
        SendDlgItemMessageA(Handle(), IDC_OPT_SUFFIX, EM_LIMITTEXT, MAX_PATH, 0);
        SendDlgItemMessageA(Handle(), IDC_OPT_TEMP_PATH, EM_LIMITTEXT, MAX_PATH - 1, 0);
        SetText(IDC_OPT_SUFFIX, settings.suffix);
        SetText(IDC_OPT_TEMP_PATH, settings.tempPath);
        Check(IDC_OPT_MODIFY_TIME, settings.modifyTime != 0);
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND) override {
        switch (id) {
        case IDC_OPT_TEMP_BROWSE: {
            std::string folder = Text(IDC_OPT_TEMP_PATH);
            if (tescommands::ChooseFolder(App().instance, Handle(), &folder)) {
                SetText(IDC_OPT_TEMP_PATH, folder);
                Changed();
            }
            return TRUE;
        }
        case IDC_OPT_TEMP_DEFAULT:
            SetText(IDC_OPT_TEMP_PATH, SystemTempFolder());
            Changed();
            return TRUE;
        case IDC_OPT_SUFFIX:
        case IDC_OPT_TEMP_PATH:
            if (code == EN_CHANGE) Changed();
            return TRUE;
        case IDC_OPT_MODIFY_TIME:
            Changed();
            return TRUE;
        }
        return FALSE;
    }
    bool Apply() override {
        std::string folder = Text(IDC_OPT_TEMP_PATH);
        // A temporary folder is needed for every changing operation.
        if (folder.empty()) {
            SetFocus(Item(IDC_OPT_TEMP_PATH));
            return false;
        }
        if (folder.back() != '\\') folder += '\\';
        ProgramSettings& settings = App().settings;
        settings.tempPath = folder;
        settings.suffix = Text(IDC_OPT_SUFFIX);
        settings.modifyTime = Checked(IDC_OPT_MODIFY_TIME) ? 1 : 0;
        return true;
    }
};

class ViewerPage : public OptionsPage {
    BOOL OnInitDialog() override {
        char text[MAX_PATH] = "", hex[MAX_PATH] = "";
        GetProfileString(kSettings, "TextViewer", text);
        GetProfileString(kSettings, "HexViewer", hex);
        SendDlgItemMessageA(Handle(), IDC_OPT_TEXT_VIEWER, EM_LIMITTEXT, MAX_PATH - 1, 0);
        SendDlgItemMessageA(Handle(), IDC_OPT_HEX_VIEWER, EM_LIMITTEXT, MAX_PATH - 1, 0);
        SetText(IDC_OPT_TEXT_VIEWER, text);
        SetText(IDC_OPT_HEX_VIEWER, hex);
        return TRUE;
    }
    void Browse(int field) {
        std::string filter = LoadText(IDS_EXE_FILTER);
        std::replace(filter.begin(), filter.end(), '|', '\0');
        filter.push_back('\0');
        char path[MAX_PATH] = "";
        lstrcpynA(path, Text(field).c_str(), sizeof path);
        OPENFILENAMEA dialog = {};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = Handle();
        dialog.lpstrFilter = filter.c_str();
        dialog.lpstrFile = path;
        dialog.nMaxFile = sizeof path;
        dialog.lpstrDefExt = "exe";
        dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
        if (!GetOpenFileNameA(&dialog)) return;
        SetText(field, path);
        Changed();
    }
    BOOL OnCommand(int id, int code, HWND) override {
        switch (id) {
        case IDC_OPT_TEXT_BROWSE:
            Browse(IDC_OPT_TEXT_VIEWER);
            return TRUE;
        case IDC_OPT_HEX_BROWSE:
            Browse(IDC_OPT_HEX_VIEWER);
            return TRUE;
        case IDC_OPT_TEXT_DEFAULT:
            SetText(IDC_OPT_TEXT_VIEWER, "Notepad.exe");
            Changed();
            return TRUE;
        case IDC_OPT_TEXT_VIEWER:
        case IDC_OPT_HEX_VIEWER:
            if (code == EN_CHANGE) Changed();
            return TRUE;
        }
        return FALSE;
    }
    bool Apply() override {
        PutProfileString(kSettings, "TextViewer", Text(IDC_OPT_TEXT_VIEWER).c_str());
        PutProfileString(kSettings, "HexViewer", Text(IDC_OPT_HEX_VIEWER).c_str());
        return true;
    }
};

// Dialog 127: the question, "Do not display this message again." and
// Yes/No (the close box counts as No).
class AssociateDialog : public win32::Dialog {
public:
    bool DoNotAskAgain() const { return doNotAsk_; }

private:
    BOOL OnInitDialog() override {
        SendDlgItemMessageA(Handle(), IDC_ASSOC_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_QUESTION)), 0);
        MessageBeep(MB_ICONQUESTION);
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        if (id != IDYES && id != IDNO && id != IDCANCEL) return FALSE;
        doNotAsk_ = Checked(IDC_ASSOC_DONT_ASK);
        End(id == IDYES ? IDYES : IDNO);
        return TRUE;
    }
    bool doNotAsk_ = false;
};

}  // namespace

void OptionsDialog(HWND owner, int firstPage) {
    GeneralPage general;
    CompressionPage compression;
    ViewerPage viewer;
    win32::Dialog* objects[] = {&general, &compression, &viewer};
    const UINT templates[] = {IDD_OPTIONS_GENERAL, IDD_OPTIONS_COMPRESSION, IDD_OPTIONS_VIEWER};
    PROPSHEETPAGEA pages[3] = {};
    for (int index = 0; index < 3; ++index) {
        pages[index].dwSize = sizeof pages[index];
        pages[index].hInstance = App().instance;
        pages[index].pszTemplate = MAKEINTRESOURCEA(templates[index]);
        objects[index]->ServePropertyPage(&pages[index]);
    }
    std::string title = LoadText(IDS_OPTIONS);
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_PROPSHEETPAGE;
    sheet.hwndParent = owner;
    sheet.hInstance = App().instance;
    sheet.pszCaption = title.c_str();
    sheet.nPages = 3;
    sheet.nStartPage = static_cast<UINT>(std::clamp(firstPage, 0, 2));
    sheet.ppsp = pages;
    PropertySheetA(&sheet);
}

std::string AssociationProgramPath() {
    char program[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    std::string folder(program, length < sizeof program ? length : 0);
    size_t slash = folder.find_last_of('\\');
    folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    return folder + "Setup.exe";
}

DWORD AssociationCheck(HWND window) {
    ProgramSettings& settings = App().settings;
    if (!settings.assocCheck) return 0;
    std::string owner;
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(HKEY_CLASSES_ROOT, ".zip", 0, KEY_READ, &opened);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return static_cast<DWORD>(result);
    win32::RegistryKey key(opened);
    if (key) {
        char value[MAX_PATH] = "";
        DWORD type = 0, size = sizeof value - 1;
        result = RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        // A key without a default value has no owner, as a missing key.
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return static_cast<DWORD>(result);
        if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
            value[std::min<DWORD>(size, sizeof value - 1)] = '\0';
            owner = value;
        }
    }
    const std::u16string ours16 = setup::kProgramClass;
    const std::string ours(ours16.begin(), ours16.end());  // ASCII
    if (lstrcmpiA(owner.c_str(), ours.c_str()) == 0) return 0;

    AssociateDialog dialog;
    INT_PTR answer = dialog.RunModal(App().instance, IDD_ASSOCIATE, window);
    if (answer != IDYES && answer != IDNO) return 0;
    settings.assocCheck = dialog.DoNotAskAgain() ? 0 : 1;
    if (answer == IDYES) {
        const std::string setup = AssociationProgramPath();
        SHELLEXECUTEINFOA execute = {};
        execute.cbSize = sizeof execute;
        execute.fMask = SEE_MASK_FLAG_NO_UI;
        execute.hwnd = window;
        execute.lpFile = setup.c_str();
        execute.lpParameters = "/assoc ZIP";
        execute.nShow = SW_SHOWNORMAL;
        ShellExecuteExA(&execute);
    }
    return 0;
}

}  // namespace tessera
