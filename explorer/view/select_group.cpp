// Select All / None / Group. Items are changed only when their state
// differs, so the list sends no needless item-changed notifications.
#include "select_group.h"

#include "combo_history.h"
#include "tescore.h"
#include "view_ids.h"
#include "wildcard.h"
#include "win32/dialog.h"
#include "win32/scope.h"

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

// Select Group (dialog 114): a pattern with its history and two choices,
// all kept under "Settings\Group".
class GroupDialog : public tessera::win32::Dialog {
public:
    explicit GroupDialog(GroupChoice* choice) : choice_(choice) {}

private:
    BOOL OnInitDialog() override {
        DWORD newSelection = 1, deselect = 0;
        GetProfileInt(kGroupSection, "NewSelection", &newSelection);
        GetProfileInt(kGroupSection, "Deselect", &deselect);
        Check(TESVIEW_IDC_GROUP_NEW, newSelection != 0);
        Check(TESVIEW_IDC_GROUP_INVERT, deselect != 0);
        HWND combo = Item(TESVIEW_IDC_GROUP_PATTERN);
        SendMessageA(combo, CB_LIMITTEXT, MAX_PATH, 0);
        if (ComboHistory(combo, kGroupSection).Load() == 0) {
            SetWindowTextA(combo, "*.*");
        } else {
            SendMessageA(combo, CB_SETCURSEL, 0, 0);
        }
        CenterDialog(Handle());
        return TRUE;
    }

    BOOL OnCommand(int id, int code, HWND control) override {
        if (id != IDOK) return Dialog::OnCommand(id, code, control);
        const std::string pattern = Text(TESVIEW_IDC_GROUP_PATTERN);
        choice_->pattern = pattern;
        choice_->ignoreExisting = Checked(TESVIEW_IDC_GROUP_NEW);
        choice_->invert = Checked(TESVIEW_IDC_GROUP_INVERT);
        PutProfileInt(kGroupSection, "NewSelection", choice_->ignoreExisting ? 1 : 0);
        PutProfileInt(kGroupSection, "Deselect", choice_->invert ? 1 : 0);
        ComboHistory(Item(TESVIEW_IDC_GROUP_PATTERN), kGroupSection).Use(pattern.c_str());
        End(IDOK);
        return TRUE;
    }

    GroupChoice* choice_;
};

}  // namespace

void SetAllSelected(HWND list, bool selected) {
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        if (IsSelected(list, i) != selected) SetSelected(list, i, selected);
    }
}

void SelectGroupItems(HWND list, const char* pattern, bool ignoreExisting, bool invert) {
    tessera::win32::WaitCursor wait;
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
    GroupDialog dialog(choice);
    return dialog.RunModal(resources, TESVIEW_IDD_SELECT_GROUP, owner) == IDOK;
}

}  // namespace tesview
