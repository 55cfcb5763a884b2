// The Add dialog (101) with its helpers: the password dialog (115), Select
// folder (117), the saved-selection name dialogs (103, 125, 126) and the
// saved selections themselves (sections "Add\%08lX").
#pragma once

#include "add_rows.h"
#include "dialog_support.h"
#include "folder_browser.h"
#include "tescore.h"
#include "win32/dialog.h"

#include <set>
#include <string>
#include <vector>

namespace tescommands {

struct AddOptions {
    DWORD level = 0;            // "Compression": index into GetText(5) names
    bool update = false;        // "Update"
    bool freshen = false;       // "Freshen"
    bool fullPaths = false;     // "UsePath"
    bool partialPaths = true;   // "PartialPath"
    bool shortNames = false;    // "DosFormat"
    bool move = false;          // "Move"
    bool backup = false;        // "Backup"
    bool split = false;         // not stored
    DWORD volumeSize = 0;       // not stored
    IncludeOptions include;     // "SubFolders", "EmptyFolders", "SystemHidden"
};

// The first eight options (those a saved selection keeps too).
void LoadAddOptions(const std::string& section, AddOptions* options);
void SaveAddOptions(const std::string& section, const AddOptions& options);

// Saved selections: "Add\" + eight hexadecimal digits, holding
// "DisplayName", the first eight options and one value per row.
std::vector<std::string> SavedSelectionNames();
bool SaveSelection(const std::string& name, const AddOptions& options, const std::vector<std::string>& rows);
// False when no selection has that name; rows that no longer resolve are
// skipped.
bool LoadSelection(const std::string& name, AddOptions* options, std::vector<std::string>* rows);
bool DeleteSelection(const std::string& name);

// Resolves text as a shell item with a file-system path.
HRESULT ResolveShellPath(const std::string& text, std::string* path);

// Password (115): on OK the object's password is set.
class PasswordDialog : public tessera::win32::Dialog {
public:
    PasswordDialog(HINSTANCE resources, ICompressFormat* archive);
    INT_PTR Run(HWND owner);

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    void OnDestroy() override;
    void ApplyMask();

    HINSTANCE resources_;
    ICompressFormat* archive_;
};

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

// Save (103), Load (125) or Delete (126) selection: a name.
class SelectionNameDialog : public tessera::win32::Dialog {
public:
    SelectionNameDialog(HINSTANCE resources, UINT id) : resources_(resources), id_(id) {}
    INT_PTR Run(HWND owner) { return RunModal(resources_, id_, owner); }
    const std::string& Name() const { return name_; }

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;

    HINSTANCE resources_;
    UINT id_;
    std::string name_;
};

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
