// Save (103), Load (125) and Delete (126) selection: a name, offered from
// the saved selections.
#include "selection_name_dialog.h"

#include "command_ids.h"
#include "saved_selections.h"

namespace tescommands {

BOOL SelectionNameDialog::OnInitDialog() {
    CenterDialog(Handle());
    HWND combo = Item(TESCMD_IDC_SELECTION_NAME);
    SendMessageA(combo, CB_LIMITTEXT, MAX_PATH - 1, 0);
    for (const std::string& name : SavedSelectionNames())
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0) SendMessageA(combo, CB_SETCURSEL, 0, 0);
    Enable(IDOK, GetWindowTextLengthA(combo) > 0);
    return TRUE;
}

BOOL SelectionNameDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_SELECTION_NAME:
        if (code == CBN_EDITCHANGE || code == CBN_SELCHANGE)
            Enable(IDOK, code == CBN_SELCHANGE || GetWindowTextLengthA(Item(TESCMD_IDC_SELECTION_NAME)) > 0);
        return TRUE;
    case IDOK:
        name_ = Text(TESCMD_IDC_SELECTION_NAME);
        if (name_.empty()) return TRUE;
        End(IDOK);
        return TRUE;
    }
    return Dialog::OnCommand(id, code, control);
}

}  // namespace tescommands
