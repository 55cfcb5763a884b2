#pragma once

#include "add_rows.h"
#include "dialog_support.h"
#include "folder_browser.h"
#include "win32/dialog.h"

#include <string>
#include <vector>

namespace tescommands {

// Select folder (117): the chosen folder, its masks and include options.
class SelectFolderDialog : public tessera::win32::Dialog {
public:
    SelectFolderDialog(HINSTANCE resources, const IncludeOptions& include);
    INT_PTR Run(HWND owner);
    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Masks() const { return masks_; }
    const IncludeOptions& Include() const { return include_; }

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    BOOL OnNotify(NMHDR* header) override;
    void OnDestroy() override;
    void UpdateEmptyOnly();

    HINSTANCE resources_;
    IncludeOptions include_;
    std::string folder_;
    std::vector<std::string> masks_;
    FolderBrowser browser_;
};

}  // namespace tescommands
