// Select All / None / Group on a list view, and the Select Group dialog
// (dialog 114, settings section "Settings\Group").
#pragma once

#include <windows.h>

#include <string>

namespace tesview {

void SetAllSelected(HWND list, bool selected);

// Marks every item whose Name text (column 0 as displayed) matches pattern
// (ignoring case), or does not match when invert is set; with
// ignoreExisting off, items already selected stay selected.
void SelectGroupItems(HWND list, const char* pattern, bool ignoreExisting, bool invert);

struct GroupChoice {
    std::string pattern;
    bool ignoreExisting = true;  // "NewSelection"
    bool invert = false;         // "Deselect"
};
// Shows dialog 114 from resources; on OK stores the flags and the history
// and returns true with the choice.
bool RunSelectGroupDialog(HWND owner, HINSTANCE resources, GroupChoice* choice);

}  // namespace tesview
