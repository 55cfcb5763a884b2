// Select folder (117): a folder typed or picked in the shell's tree, with
// masks and include options; both texts keep their histories under "Add".
#include "select_folder_dialog.h"

#include "command_ids.h"
#include "combo_history.h"
#include "saved_selections.h"

#include <algorithm>

namespace tescommands {

namespace {
const char kAddSection[] = "Add";
const char kFilterHistory[] = "Add\\Filter";
}

SelectFolderDialog::SelectFolderDialog(HINSTANCE resources, const IncludeOptions& include)
    : resources_(resources), include_(include) {}

INT_PTR SelectFolderDialog::Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_SELECT_FOLDER, owner); }

BOOL SelectFolderDialog::OnInitDialog() {
    CenterDialog(Handle());
    browser_.Attach(Item(TESCMD_IDC_FOLDER_BROWSER));
    HWND folders = Item(TESCMD_IDC_SELECT_FOLDER_PATH);
    SendMessageA(folders, CB_LIMITTEXT, MAX_PATH - 1, 0);
    if (tesview::ComboHistory(folders, kAddSection).Load() > 0) SendMessageA(folders, CB_SETCURSEL, 0, 0);
    HWND masks = Item(TESCMD_IDC_SELECT_FOLDER_MASK);
    SendMessageA(masks, CB_LIMITTEXT, MAX_PATH - 1, 0);
    tesview::ComboHistory(masks, kFilterHistory).Load();
    SetWindowTextA(masks, "*.*");
    Check(TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS, include_.subFolders);
    Check(TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY, include_.subFolders && include_.folderEntries && include_.emptyFoldersOnly);
    Check(TESCMD_IDC_SELECT_FOLDER_HIDDEN, include_.systemHidden);
    UpdateEmptyOnly();
    Enable(IDOK, GetWindowTextLengthA(folders) > 0);
    return TRUE;
}

void SelectFolderDialog::UpdateEmptyOnly() {
    Enable(TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY, Checked(TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS) && include_.folderEntries);
}

BOOL SelectFolderDialog::OnNotify(NMHDR* header) {
    if (header->idFrom == TESCMD_IDC_FOLDER_BROWSER &&
        (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW)) {
        std::string path = browser_.SelectedPath();
        if (!path.empty()) {
            SetText(TESCMD_IDC_SELECT_FOLDER_PATH, path);
            Enable(IDOK, true);
        }
        return TRUE;
    }
    LRESULT result = 0;
    if (!browser_.HandleNotify(header, &result)) return FALSE;
    SetResult(result);
    return TRUE;
}

BOOL SelectFolderDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_SELECT_FOLDER_PATH:
        if (code == CBN_EDITCHANGE || code == CBN_SELCHANGE)
            Enable(IDOK, code == CBN_SELCHANGE || GetWindowTextLengthA(Item(TESCMD_IDC_SELECT_FOLDER_PATH)) > 0);
        return TRUE;
    case TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS:
        Check(TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY, false);
        UpdateEmptyOnly();
        return TRUE;
    case IDOK: {
        std::string text = Text(TESCMD_IDC_SELECT_FOLDER_PATH);
        std::replace(text.begin(), text.end(), '/', '\\');
        std::string path;
        HRESULT resolved = ResolveShellPath(text, &path);
        if (FAILED(resolved)) {
            ShowMessage(Handle(), SystemErrorText(static_cast<DWORD>(resolved)), MB_OK | MB_ICONERROR);
            return TRUE;
        }
        const std::string mask = Text(TESCMD_IDC_SELECT_FOLDER_MASK);
        masks_ = ParseMasks(mask);
        if (!masks_.empty()) tesview::ComboHistory(Item(TESCMD_IDC_SELECT_FOLDER_MASK), kFilterHistory).Use(mask.c_str());
        tesview::ComboHistory(Item(TESCMD_IDC_SELECT_FOLDER_PATH), kAddSection).Use(text.c_str());
        folder_ = path;
        include_.subFolders = Checked(TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS);
        include_.emptyFoldersOnly = include_.subFolders && include_.folderEntries &&
                                    Checked(TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY);
        include_.systemHidden = Checked(TESCMD_IDC_SELECT_FOLDER_HIDDEN);
        End(IDOK);
        return TRUE;
    }
    }
    return Dialog::OnCommand(id, code, control);
}

void SelectFolderDialog::OnDestroy() { browser_.Detach(); }

}  // namespace tescommands
