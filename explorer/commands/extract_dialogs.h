// The dialogs of Extract (112, with New folder 109) and Delete (122).
#pragma once

#include "dialog_support.h"
#include "folder_browser.h"
#include "win32/dialog.h"

#include <string>

namespace tescommands {

// c:/out -> C:\out\ : backslashes, a trailing "\" (while there is room),
// the first character upper-cased.
std::string NormaliseDestination(std::string text);

struct ExtractChoices {
    std::string destination;  // after OK: normalised, ends in "\"
    int scope = 0;            // TESCMD_IDC_SCOPE_*
    bool usePaths = true;
    bool overwrite = false;
    bool onlyNewer = false;
    bool selectedAllowed = false;
    bool folderAllowed = false;
    bool onlyNewerAllowed = false;
};

class ExtractDialog : public tessera::win32::Dialog {
public:
    ExtractDialog(HINSTANCE resources, ExtractChoices* choices);
    INT_PTR Run(HWND owner);

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    BOOL OnNotify(NMHDR* header) override;
    void OnDestroy() override;
    void UpdateOk();

    HINSTANCE resources_;
    ExtractChoices* choices_;
    FolderBrowser browser_;
};

// Creates a folder below parent; Created() is its path after OK.
class NewFolderDialog : public tessera::win32::Dialog {
public:
    NewFolderDialog(HINSTANCE resources, std::string parent);
    INT_PTR Run(HWND owner);
    const std::string& Created() const { return created_; }

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;

    HINSTANCE resources_;
    std::string parent_;
    std::string created_;
};

struct DeleteChoices {
    int scope = 0;
    bool backup = false;
    bool selectedAllowed = false;
    bool folderAllowed = false;
};

class DeleteDialog : public tessera::win32::Dialog {
public:
    DeleteDialog(HINSTANCE resources, DeleteChoices* choices);
    INT_PTR Run(HWND owner);

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    void UpdateBackup();

    HINSTANCE resources_;
    DeleteChoices* choices_;
    bool backup_ = false;  // the user's choice while "Entire archive" hides it
};

}  // namespace tescommands
