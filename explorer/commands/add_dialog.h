// The Add dialog (101): the files and folders to add, the options of the
// operation, and the engine's file list on OK. Its helpers have their own
// files: the Password, Select folder and selection-name dialogs and the
// saved selections.
#pragma once

#include "add_rows.h"
#include "dialog_support.h"
#include "saved_selections.h"
#include "tescore.h"
#include "win32/dialog.h"

#include <set>
#include <string>
#include <vector>

namespace tescommands {

class AddDialog : public tessera::win32::Dialog {
public:
    AddDialog(HINSTANCE resources, ICompressFormat* archive, std::vector<std::string> dropped);
    ~AddDialog() override;
    INT_PTR Run(HWND owner);

    // After OK.
    const AddOptions& Options() const { return options_; }
    const ADDFILEINFO* FileList() const { return reinterpret_cast<const ADDFILEINFO*>(fileList_.data()); }
    // Add with the dialog's choices and the program settings.
    HRESULT RunAdd(HWND owner, ICompressFormat* archive, const std::string& tempFolder,
                   const std::string& storeOnly, BOOL modifyTime) const;

    struct Row;  // one file or folder of the list (the item's data)

private:
    BOOL OnInitDialog() override;
    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnCommand(int id, int code, HWND control) override;
    BOOL OnNotify(NMHDR* header) override;
    void OnDestroy() override;

    void SetUpColumns();
    void SaveLayout();
    void Resize();
    // Paths compared without regard to case, as the file system does.
    static std::string RowKey(const std::string& path);
    void AddRow(const std::string& path);
    void AddDropped(const std::vector<std::string>& paths);
    std::vector<std::string> Rows() const;
    void ReplaceRows(const std::vector<std::string>& paths);
    void RemoveSelectedRows();
    void UpdateButtons();
    void UpdateOkLabel();
    void ApplyOptionsToControls();
    void ReadControls();
    void SelectFiles();
    void SelectFolder();
    void ShowOptionsMenu();
    void ShowRowsMenu(LPARAM position);
    void OnOptionsCommand(int id);
    void SaveSelectionCommand();
    void LoadSelectionCommand();
    void DeleteSelectionCommand();
    void SortBy(int column);
    bool OnOk();

    HINSTANCE resources_;
    ICompressFormat* archive_;
    std::vector<std::string> dropped_;
    AddOptions options_;
    AddOptions stored_;          // as read, for values the dialog may not change
    bool hasEntries_ = false;
    std::vector<BYTE> fileList_;
    std::set<std::string> rowKeys_;  // RowKey of every row, to add each path once
    int sortColumn_ = -1;
    bool sortDescending_ = false;
    // Resizing: the client size at creation and each child's place then.
    SIZE initialClient_ = {};
    RECT listRect_ = {};
    std::vector<std::pair<HWND, RECT>> children_;
};

}  // namespace tescommands
