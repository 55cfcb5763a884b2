// Select All / None / Group. Items are changed only when their state
// differs, so the list sends no needless item-changed notifications.
#include "select_group.h"

#include "combo_history.h"
#include "tescore.h"
#include "view_ids.h"
#include "wildcard.h"

#include <commctrl.h>

namespace tesview {
namespace {

const char kGroupSection[] = "Settings\\Group";

bool IsSelected(HWND list, int item) {
    return (SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void SetSelected(HWND list, int item, bool selected) {
    LVITEMA lvi = {};
    lvi.stateMask = LVIS_SELECTED;
    lvi.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi));
}

// Restores the cursor it replaced when it goes.
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

INT_PTR CALLBACK GroupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        DWORD newSelection = 1, deselect = 0;
        GetProfileInt(kGroupSection, "NewSelection", &newSelection);
        GetProfileInt(kGroupSection, "Deselect", &deselect);
        CheckDlgButton(dialog, TESVIEW_IDC_GROUP_NEW, newSelection ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, TESVIEW_IDC_GROUP_INVERT, deselect ? BST_CHECKED : BST_UNCHECKED);
        HWND combo = GetDlgItem(dialog, TESVIEW_IDC_GROUP_PATTERN);
        SendMessageA(combo, CB_LIMITTEXT, MAX_PATH, 0);
        ComboHistory history(combo, kGroupSection);
        if (history.Load() == 0) {
            SetWindowTextA(combo, "*.*");
        } else {
            SendMessageA(combo, CB_SETCURSEL, 0, 0);
        }
        CenterDialog(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* choice = reinterpret_cast<GroupChoice*>(GetWindowLongPtrA(dialog, DWLP_USER));
            HWND combo = GetDlgItem(dialog, TESVIEW_IDC_GROUP_PATTERN);
            char text[MAX_PATH + 1] = "";
            GetWindowTextA(combo, text, sizeof text);
            choice->pattern = text;
            choice->ignoreExisting = IsDlgButtonChecked(dialog, TESVIEW_IDC_GROUP_NEW) == BST_CHECKED;
            choice->invert = IsDlgButtonChecked(dialog, TESVIEW_IDC_GROUP_INVERT) == BST_CHECKED;
            PutProfileInt(kGroupSection, "NewSelection", choice->ignoreExisting ? 1 : 0);
            PutProfileInt(kGroupSection, "Deselect", choice->invert ? 1 : 0);
            ComboHistory(combo, kGroupSection).Use(text);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void SetAllSelected(HWND list, bool selected) {
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        if (IsSelected(list, i) != selected) SetSelected(list, i, selected);
    }
}

void SelectGroupItems(HWND list, const char* pattern, bool ignoreExisting, bool invert) {
    WaitCursor wait;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[GETTEXT_BUFFER + 2] = "";
        LVITEMA lvi = {};
        lvi.iSubItem = 0;
        lvi.pszText = text;
        lvi.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
        bool match = WildcardMatch(text, pattern, true);
        if (invert) match = !match;
        bool was = IsSelected(list, i);
        bool wanted = match || (!ignoreExisting && was);
        if (wanted != was) SetSelected(list, i, wanted);
    }
}

bool RunSelectGroupDialog(HWND owner, HINSTANCE resources, GroupChoice* choice) {
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(TESVIEW_IDD_SELECT_GROUP), owner, GroupDialogProc,
                           reinterpret_cast<LPARAM>(choice)) == IDOK;
}

}  // namespace tesview
