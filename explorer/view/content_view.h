// ContentView: the report-style list of an explorer window. It shows the
// files of the open archive -- all of them in flat mode, those of one tree
// folder in folder mode -- without copying the entry array: each item holds
// only its entry index, and texts and icons are produced when a cell is
// drawn. Columns, sort key and direction live in the "Settings" section of
// the settings store.
//
// Logical columns: 0 Name, 1 Modified at, 2 Size, 3 Ratio, 4 Packed,
// 5 Path, 6 Type. Path is shown only in flat mode (tree hidden).
//
// Sort direction: the natural comparison (A..Z, small..large, old..new,
// entry order) is used while the direction flag is 0 and reversed while it
// is 1, the meaning the stored "SortAscending" value keeps. "Sort Ascending"
// (40046) therefore clears the flag and "Sort Descending" (40047) sets it,
// so each menu item gives the order its label names.
#pragma once

#include "tescore.h"
#include "win32/handles.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace tesview {

constexpr int kColumnCount = 7;
enum Column {
    kColumnName = 0,
    kColumnModified = 1,
    kColumnSize = 2,
    kColumnRatio = 3,
    kColumnPacked = 4,
    kColumnPath = 5,
    kColumnType = 6,
};
constexpr int kSortOriginal = -1;

struct ColumnDefault {
    int width;
    int position;  // display position among all seven
    int format;    // LVCFMT_LEFT or LVCFMT_RIGHT
};
extern const ColumnDefault kColumnDefaults[kColumnCount];

// Texts of one entry as the list shows them.
std::string DisplayPath(ICompressFormat* archive, const HDRSTRUCT& entry);  // GetText kind 3
std::string LastComponent(const std::string& path);  // after the last "/" or "\"
std::string FolderPart(const std::string& path);     // before it, no separator
std::string ShellDisplayName(const std::string& name);  // name only, no disk access
std::string ShellTypeName(const std::string& name);
int ShellSmallIcon(const std::string& name);
std::string FormatEntryTime(const FILETIME& time);  // short date, blank, time without seconds

class ContentView {
public:
    ContentView() = default;
    ContentView(const ContentView&) = delete;
    ContentView& operator=(const ContentView&) = delete;
    ~ContentView();

    // Creates the list view (SysListView32, id 9999, report style, client
    // edge, shared image lists) as a child of parent. resources is the
    // module with string 24 and bitmap 203. Returns the window or null.
    HWND Create(HWND parent, HINSTANCE resources);
    // Reads "ColumnWidth", "ColumnOrder", "SortBy", "SortAscending", sets
    // the image lists and extended styles and inserts the columns: seven
    // in flat mode, six (without Path) in folder mode.
    void Initialise(bool flatMode);
    HWND Window() const { return list_; }

    // Filling. Both return S_OK or E_UNEXPECTED when an item could not be
    // inserted (the program then closes the archive). The archive object
    // is not referenced: Clear the view before releasing it.
    HRESULT FillFlat(ICompressFormat* archive);
    HRESULT FillFolder(ICompressFormat* archive, IArchiveFolder* folder);
    void Clear();
    ICompressFormat* Archive() const { return archive_; }
    IArchiveFolder* Folder() const { return folder_; }  // null in flat mode

    // Flat mode on adds the Path column, off removes it (WM_USER+3).
    void SetFlatMode(bool flat);
    bool FlatMode() const;

    // Sorting.
    int SortKey() const { return sortKey_; }
    bool Direction() const { return direction_; }
    void SetSortKey(int key);      // -1..6; re-sorts and redraws the header
    void SetDirection(bool flag);  // re-sorts and redraws the header
    void Sort();

    // Columns.
    int ShownColumnCount() const { return static_cast<int>(shown_.size()); }
    int LogicalColumn(int listColumn) const;  // -1 when out of range
    void AddColumn(int logical);
    void RemoveColumn(int logical);
    // Records the widths and display positions of the shown columns and
    // writes "ColumnWidth", "ColumnOrder", "SortBy", "SortAscending".
    // Call while the list still exists (the program's WM_DESTROY).
    void SaveLayout();

    // Notifications from the list (WM_NOTIFY with idFrom 9999): display
    // info, info tip, column click, delete-all-items. Returns true when
    // handled, with the window procedure's result in *result. Right click,
    // begin drag, item changed and double click stay with the program.
    bool HandleNotify(const NMHDR* header, LRESULT* result);

    // Commands 32783-32785 and 32797-32804, 40046, 40047 (view_ids.h).
    // owner: the dialog owner for Select Group. True when handled.
    bool HandleCommand(HWND owner, UINT command);
    // Checked state of the sort menu items (32797-32804, 40046, 40047).
    bool IsCommandChecked(UINT command) const;
    static int SortKeyOfCommand(UINT command, bool* found);

    // Selection commands.
    void SelectAll();
    void SelectNone();
    // Dialog 114 and then the group selection; false when cancelled.
    bool SelectGroup(HWND owner);

    // Entry index of a list item (its item data); SEL_UNUSED when invalid.
    DWORD ItemEntry(int item) const;
    int ItemCount() const;
    // The Name column's text of an item as displayed (with a "+").
    std::string ItemName(int item) const;
    std::string CellText(int item, int logical) const;

private:
    const HDRSTRUCT* Entry(DWORD index) const;
    std::string EntryText(DWORD index, int logical) const;
    void LoadLayout();
    void InsertColumn(int logical);
    void ApplyOrder();
    void RecordLayout();
    void UpdateHeaderArrow();
    HRESULT InsertItem(DWORD index);
    void BeginFill();
    void EndFill();

    HWND list_ = nullptr;
    HINSTANCE resources_ = nullptr;
    tessera::win32::ImageListHandle headerImages_;
    ICompressFormat* archive_ = nullptr;
    IArchiveFolder* folder_ = nullptr;
    int sortKey_ = 0;
    bool direction_ = false;
    int widths_[kColumnCount] = {};
    int order_[kColumnCount] = {};
    std::vector<int> shown_;          // logical column of each list column
    std::string labels_[kColumnCount];
};

}  // namespace tesview
