// The content view in a real window under Wine: archives written by
// Python's zipfile (make_view_archives.py) are opened through tescore.dll,
// shown by ContentView and FolderTree, and the list, header and tree are
// read back through the controls' own messages. Settings go to a key of
// this test process in the prefix's registry (HKEY_CURRENT_USER is
// redirected there, so tests running beside it cannot disturb it); each
// test starts from the defaults.
#include "combo_history.h"
#include "content_view.h"
#include "folder_tree.h"
#include "select_group.h"
#include "selection_buffer.h"
#include "tescore.h"
#include "private_registry.h"
#include "test_files.h"
#include "view_font.h"
#include "view_ids.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using tesview::ContentView;
using tesview::FolderTree;

namespace {

const char kSettings[] = "Settings";
const char kClassName[] = "TesviewTestParent";

class ViewTest;
ViewTest* g_current = nullptr;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

std::string ArchivePath(const char* name) {
    return tessera::testing::HostPathToNative(std::string(VIEW_ARCHIVE_DIR) + "/" + name);
}

class ViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before the engine opens its product key for the first time.
        registry_.Redirect("explorer_view");
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kClassName;
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        RegisterClassA(&windowClass);
    }

    static void TearDownTestSuite() {
        registry_.Restore();
    }

    void SetUp() override {
        for (const char* name : {"ColumnWidth", "ColumnOrder", "SortBy", "SortAscending", "Font"}) {
            PutProfileString(kSettings, name, nullptr);
        }
        PutProfileString("Settings\\Group", nullptr, nullptr);
        g_current = this;
        parent_ = CreateWindowExA(0, kClassName, "view test", WS_OVERLAPPEDWINDOW, 0, 0, 900, 600,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        ASSERT_NE(view_.Create(parent_, GetModuleHandleA(nullptr)), nullptr);
        MoveWindow(view_.Window(), 250, 0, 640, 560, TRUE);
    }

    void TearDown() override {
        tree_.ClearTree();
        view_.Clear();
        if (archive_) archive_->Release();
        DestroyWindow(parent_);
        g_current = nullptr;
    }

    void CreateTree() {
        ASSERT_NE(tree_.Create(parent_, parent_, GetModuleHandleA(nullptr), &view_), nullptr);
        MoveWindow(tree_.Window(), 0, 0, 240, 560, TRUE);
    }

    void Open(const char* name) {
        ASSERT_EQ(archive_, nullptr);
        ASSERT_EQ(ArcCreateObject(parent_, ArchivePath(name).c_str(), &archive_), S_OK) << name;
        ASSERT_EQ(archive_->List(parent_), S_OK);
    }

    HWND List() const { return view_.Window(); }
    HWND Header() const { return reinterpret_cast<HWND>(SendMessageA(List(), LVM_GETHEADER, 0, 0)); }

    int ColumnCount() const {
        return static_cast<int>(SendMessageA(Header(), HDM_GETITEMCOUNT, 0, 0));
    }

    // Column labels in display order.
    std::vector<std::string> DisplayedLabels() const {
        int count = ColumnCount();
        std::vector<int> order(static_cast<size_t>(count));
        SendMessageA(List(), LVM_GETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
        std::vector<std::string> labels;
        for (int column : order) {
            char text[64] = "";
            LVCOLUMNA lvc = {};
            lvc.mask = LVCF_TEXT;
            lvc.pszText = text;
            lvc.cchTextMax = sizeof text;
            SendMessageA(List(), LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&lvc));
            labels.push_back(text);
        }
        return labels;
    }

    int ListColumnOf(int logical) const {
        for (int i = 0; i < view_.ShownColumnCount(); ++i) {
            if (view_.LogicalColumn(i) == logical) return i;
        }
        return -1;
    }

    int Width(int logical) const {
        return static_cast<int>(SendMessageA(List(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(ListColumnOf(logical)), 0));
    }

    // A cell as the list shows it (asks the view through LVN_GETDISPINFO).
    std::string Cell(int item, int logical) const {
        char text[1100] = "";
        LVITEMA lvi = {};
        lvi.iSubItem = ListColumnOf(logical);
        lvi.pszText = text;
        lvi.cchTextMax = sizeof text;
        SendMessageA(List(), LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi));
        return text;
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int i = 0; i < view_.ItemCount(); ++i) names.push_back(Cell(i, tesview::kColumnName));
        return names;
    }

    std::vector<DWORD> Indices() const {
        std::vector<DWORD> indices;
        for (int i = 0; i < view_.ItemCount(); ++i) indices.push_back(view_.ItemEntry(i));
        return indices;
    }

    std::vector<std::string> Selected() const {
        std::vector<std::string> names;
        int item = -1;
        while ((item = static_cast<int>(SendMessageA(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(item),
                                                     LVNI_SELECTED))) >= 0) {
            names.push_back(Cell(item, tesview::kColumnName));
        }
        return names;
    }

    void Select(int item, bool selected) {
        LVITEMA lvi = {};
        lvi.stateMask = LVIS_SELECTED;
        lvi.state = selected ? LVIS_SELECTED : 0;
        SendMessageA(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi));
    }

    int ItemOf(const std::string& name) const {
        std::vector<std::string> names = Names();
        auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<int>(it - names.begin());
    }

    void ClickColumn(int logical) {
        NMLISTVIEW click = {};
        click.hdr.hwndFrom = List();
        click.hdr.idFrom = TESVIEW_IDC_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = ListColumnOf(logical);
        SendMessageA(parent_, WM_NOTIFY, TESVIEW_IDC_LIST, reinterpret_cast<LPARAM>(&click));
    }

    // The header item showing an image, as (logical column, image), or -1.
    std::pair<int, int> HeaderArrow() const {
        std::pair<int, int> arrow(-1, -1);
        for (int i = 0; i < ColumnCount(); ++i) {
            HDITEMA item = {};
            item.mask = HDI_FORMAT | HDI_IMAGE;
            SendMessageA(Header(), HDM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
            if (item.fmt & HDF_IMAGE) {
                EXPECT_EQ(arrow.first, -1) << "two columns show an arrow";
                arrow = {view_.LogicalColumn(i), item.iImage};
            }
        }
        return arrow;
    }

    std::vector<std::string> TreeChildren(HTREEITEM parent) const {
        std::vector<std::string> names;
        HWND tree = tree_.Window();
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
        while (item) {
            names.push_back(TreeText(item));
            item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
        }
        return names;
    }

    std::string TreeText(HTREEITEM item) const {
        char text[MAX_PATH] = "";
        TVITEMA tvi = {};
        tvi.mask = TVIF_TEXT | TVIF_HANDLE;
        tvi.hItem = item;
        tvi.pszText = text;
        tvi.cchTextMax = sizeof text;
        SendMessageA(tree_.Window(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvi));
        return text;
    }

    HTREEITEM TreeRoot() const {
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree_.Window(), TVM_GETNEXTITEM, TVGN_ROOT, 0));
    }

    HTREEITEM TreeChild(HTREEITEM parent, const std::string& name) const {
        HWND tree = tree_.Window();
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
        while (item && TreeText(item) != name) {
            item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
        }
        return item;
    }

    void SelectNode(HTREEITEM item) {
        SendMessageA(tree_.Window(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }

public:
    // What the owner saw of a tree context menu.
    struct MenuSeen {
        UINT command = 0;
        IArchiveFolder* folder = nullptr;
        UINT defaultItem = 0;
        bool propertiesGrayed = false;
    } menuSeen;

    void OnCommand(UINT command) {
        menuSeen.command = command;
        menuSeen.folder = tree_.CommandFolder();
    }

    void OnInitMenuPopup(HMENU menu) {
        menuSeen.defaultItem = GetMenuDefaultItem(menu, FALSE, 0);
        menuSeen.propertiesGrayed = (GetMenuState(menu, TESVIEW_CMD_FOLDER_PROPERTIES, MF_BYCOMMAND) & MF_GRAYED) != 0;
    }

    LRESULT Notify(const NMHDR* header) {
        LRESULT result = 0;
        if (view_.HandleNotify(header, &result)) return result;
        if (tree_.Window() && tree_.HandleNotify(header, &result)) return result;
        return 0;
    }

protected:
    static tessera::testing::PrivateUserRegistry registry_;
    HWND parent_ = nullptr;
    ContentView view_;
    FolderTree tree_;
    ICompressFormat* archive_ = nullptr;
};

tessera::testing::PrivateUserRegistry ViewTest::registry_;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && g_current) return g_current->Notify(reinterpret_cast<const NMHDR*>(lParam));
    if (message == WM_COMMAND && g_current) g_current->OnCommand(LOWORD(wParam));
    if (message == WM_INITMENUPOPUP && g_current) g_current->OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

using Labels = std::vector<std::string>;

// Seven columns with the tree hidden, six with it shown, in the default
// display order and widths; Path returns to its place when flat mode
// comes back.
TEST_F(ViewTest, ColumnsOfFlatAndFolderMode) {
    view_.Initialise(true);
    EXPECT_EQ(ColumnCount(), 7);
    EXPECT_EQ(DisplayedLabels(), (Labels{"Name", "Size", "Ratio", "Packed", "Modified at", "Type", "Path"}));
    for (int logical = 0; logical < tesview::kColumnCount; ++logical) {
        EXPECT_EQ(Width(logical), tesview::kColumnDefaults[logical].width) << logical;
    }
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    SendMessageA(Header(), HDM_GETITEMA, static_cast<WPARAM>(ListColumnOf(tesview::kColumnSize)), reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(item.fmt & HDF_JUSTIFYMASK, HDF_RIGHT);
    // The sort arrows: bitmap 203 cut into 8-pixel images, arrow on Name.
    auto arrows = reinterpret_cast<HIMAGELIST>(SendMessageA(Header(), HDM_GETIMAGELIST, 0, 0));
    ASSERT_NE(arrows, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(arrows), 2);
    EXPECT_EQ(HeaderArrow(), std::make_pair(static_cast<int>(tesview::kColumnName), 1));

    view_.SetFlatMode(false);
    EXPECT_EQ(ColumnCount(), 6);
    EXPECT_EQ(DisplayedLabels(), (Labels{"Name", "Size", "Ratio", "Packed", "Modified at", "Type"}));
    view_.SetFlatMode(true);
    EXPECT_EQ(DisplayedLabels(), (Labels{"Name", "Size", "Ratio", "Packed", "Modified at", "Type", "Path"}));

    ContentView folderMode;
    ASSERT_NE(folderMode.Create(parent_, GetModuleHandleA(nullptr)), nullptr);
    folderMode.Initialise(false);
    EXPECT_EQ(SendMessageA(reinterpret_cast<HWND>(SendMessageA(folderMode.Window(), LVM_GETHEADER, 0, 0)),
                           HDM_GETITEMCOUNT, 0, 0), 6);
}

// Widths, order and sort survive SaveLayout; a stored width of 0 gives
// the column its default width back.
TEST_F(ViewTest, SavedLayoutAndStoredWidthOfZero) {
    INT32 widths[7] = {0, 111, 0, 55, 0, 200, 0};
    INT32 order[7] = {1, 0, 2, 3, 4, 5, 6};  // Modified at first, Path before Type
    ASSERT_TRUE(PutProfileBinary(kSettings, "ColumnWidth", widths, sizeof widths));
    ASSERT_TRUE(PutProfileBinary(kSettings, "ColumnOrder", order, sizeof order));
    ASSERT_TRUE(PutProfileInt(kSettings, "SortBy", 2));
    ASSERT_TRUE(PutProfileInt(kSettings, "SortAscending", 1));
    view_.Initialise(true);
    EXPECT_EQ(Width(tesview::kColumnName), 130);
    EXPECT_EQ(Width(tesview::kColumnModified), 111);
    EXPECT_EQ(Width(tesview::kColumnSize), 80);
    EXPECT_EQ(Width(tesview::kColumnRatio), 55);
    EXPECT_EQ(DisplayedLabels(), (Labels{"Modified at", "Name", "Size", "Ratio", "Packed", "Path", "Type"}));
    EXPECT_EQ(view_.SortKey(), 2);
    EXPECT_TRUE(view_.Direction());

    SendMessageA(List(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(ListColumnOf(tesview::kColumnType)), 77);
    view_.SetSortKey(tesview::kSortOriginal);
    view_.SaveLayout();
    INT32 stored[7] = {};
    DWORD size = sizeof stored;
    ASSERT_TRUE(GetProfileBinary(kSettings, "ColumnWidth", stored, &size));
    EXPECT_EQ(size, 28u);
    EXPECT_EQ(stored[tesview::kColumnType], 77);
    EXPECT_EQ(stored[tesview::kColumnName], 130);
    size = sizeof stored;
    ASSERT_TRUE(GetProfileBinary(kSettings, "ColumnOrder", stored, &size));
    EXPECT_EQ(std::vector<INT32>(stored, stored + 7), (std::vector<INT32>{1, 0, 2, 3, 4, 5, 6}));
    DWORD value = 0;
    ASSERT_TRUE(GetProfileInt(kSettings, "SortBy", &value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
}

// Flat mode lists every file and no folder entry, shows the encrypted
// entry with a "+", and fills every column; an archive of folders only
// gives an empty list.
TEST_F(ViewTest, FlatListTexts) {
    view_.Initialise(true);
    Open("view-mixed.zip");
    ASSERT_EQ(view_.FillFlat(archive_), S_OK);
    ASSERT_EQ(view_.ItemCount(), 7);
    view_.SetSortKey(tesview::kColumnName);
    EXPECT_EQ(Names(), (Labels{"alpha.doc", "Beta.bin", "delta.TXT", "gamma.txt", "README", "secret.txt+",
                               "zeta.txt"}));
    int gamma = ItemOf("gamma.txt");
    ASSERT_GE(gamma, 0);
    EXPECT_EQ(Cell(gamma, tesview::kColumnPath), "docs\\sub");
    EXPECT_EQ(Cell(gamma, tesview::kColumnSize), "1,75 KB");
    EXPECT_EQ(Cell(ItemOf("zeta.txt"), tesview::kColumnPath), "");
    EXPECT_EQ(Cell(ItemOf("README"), tesview::kColumnSize), "27 Bytes");
    EXPECT_EQ(Cell(ItemOf("Beta.bin"), tesview::kColumnRatio), "0%");
    EXPECT_EQ(Cell(ItemOf("zeta.txt"), tesview::kColumnRatio).back(), '%');

    // The time as stored, in the user locale's short date and time.
    SYSTEMTIME fields = {2017, 7, 0, 7, 7, 7, 0, 0};
    char date[64], clock[64];
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &fields, nullptr, clock, sizeof clock);
    EXPECT_EQ(Cell(ItemOf("Beta.bin"), tesview::kColumnModified), std::string(date) + " " + clock);

    // The entry comment is the item's info tip.
    char tipText[256] = "";
    NMLVGETINFOTIPA tip = {};
    tip.hdr.hwndFrom = List();
    tip.hdr.code = LVN_GETINFOTIPA;
    tip.iItem = ItemOf("alpha.doc");
    tip.pszText = tipText;
    tip.cchTextMax = sizeof tipText;
    LRESULT result;
    EXPECT_TRUE(view_.HandleNotify(&tip.hdr, &result));
    EXPECT_STREQ(tipText, "alpha note");

    view_.Clear();
    archive_->Release();
    archive_ = nullptr;
    Open("view-folders.zip");
    ASSERT_EQ(view_.FillFlat(archive_), S_OK);
    EXPECT_EQ(view_.ItemCount(), 0);
}

// Sorting by every key in both directions, checked against the entry
// fields; Original Order restores the entry order; the column header shows
// the arrow of the sort key, and clicking the sorted column twice returns
// to the first direction.
TEST_F(ViewTest, SortingByEveryKey) {
    view_.Initialise(true);
    Open("view-mixed.zip");
    ASSERT_EQ(view_.FillFlat(archive_), S_OK);
    const HDRSTRUCT* entries = archive_->GetEntries();
    auto lower = [](std::string s) {
        CharLowerA(&s[0]);
        return s;
    };
    // Natural comparison per key, from the entries and the displayed cells.
    auto compare = [&](int key, int itemA, int itemB) -> int {
        DWORD a = view_.ItemEntry(itemA), b = view_.ItemEntry(itemB);
        switch (key) {
        case tesview::kColumnModified: return CompareFileTime(&entries[a].time, &entries[b].time);
        case tesview::kColumnSize: return (entries[a].size > entries[b].size) - (entries[a].size < entries[b].size);
        case tesview::kColumnRatio: return (entries[a].ratio > entries[b].ratio) - (entries[a].ratio < entries[b].ratio);
        case tesview::kColumnPacked:
            return (entries[a].packedSize > entries[b].packedSize) - (entries[a].packedSize < entries[b].packedSize);
        case tesview::kSortOriginal: return (a > b) - (a < b);
        default: {
            std::string x = lower(Cell(itemA, key)), y = lower(Cell(itemB, key));
            if (key == tesview::kColumnName) {  // the "+" is not part of the key
                if (!x.empty() && x.back() == '+') x.pop_back();
                if (!y.empty() && y.back() == '+') y.pop_back();
            }
            return lstrcmpiA(x.c_str(), y.c_str());
        }
        }
    };
    for (int key = tesview::kSortOriginal; key < tesview::kColumnCount; ++key) {
        for (bool flag : {false, true}) {
            view_.SetDirection(flag);
            view_.SetSortKey(key);
            ASSERT_EQ(view_.ItemCount(), 7);
            for (int i = 0; i + 1 < view_.ItemCount(); ++i) {
                int c = compare(key, i, i + 1);
                EXPECT_TRUE(flag ? c >= 0 : c <= 0) << "key " << key << " flag " << flag << " items " << i;
            }
            if (key >= 0) {
                EXPECT_EQ(HeaderArrow(), std::make_pair(key, flag ? 0 : 1)) << key;
            } else {
                EXPECT_EQ(HeaderArrow().first, -1);
            }
        }
    }
    view_.SetDirection(false);
    view_.SetSortKey(tesview::kSortOriginal);
    EXPECT_EQ(Indices(), (std::vector<DWORD>{0, 2, 3, 4, 5, 6, 7}));

    // Sizes are distinct: the two directions are exact mirrors.
    view_.SetSortKey(tesview::kColumnSize);
    std::vector<DWORD> ascending = Indices();
    ClickColumn(tesview::kColumnSize);
    EXPECT_TRUE(view_.Direction());
    std::vector<DWORD> descending = Indices();
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(descending, ascending);
    ClickColumn(tesview::kColumnSize);
    EXPECT_FALSE(view_.Direction());
    EXPECT_EQ(Indices(), ascending);
    // Another column keeps the direction.
    ClickColumn(tesview::kColumnSize);
    ClickColumn(tesview::kColumnName);
    EXPECT_EQ(view_.SortKey(), tesview::kColumnName);
    EXPECT_TRUE(view_.Direction());
    EXPECT_EQ(Cell(0, tesview::kColumnName), "zeta.txt");

    // The menu commands give the order their labels name, and are checked.
    EXPECT_TRUE(view_.HandleCommand(parent_, TESVIEW_CMD_SORT_ASCENDING));
    EXPECT_FALSE(view_.Direction());
    EXPECT_TRUE(view_.IsCommandChecked(TESVIEW_CMD_SORT_ASCENDING));
    EXPECT_FALSE(view_.IsCommandChecked(TESVIEW_CMD_SORT_DESCENDING));
    EXPECT_TRUE(view_.HandleCommand(parent_, TESVIEW_CMD_SORT_DATE));
    EXPECT_EQ(view_.SortKey(), tesview::kColumnModified);
    EXPECT_TRUE(view_.IsCommandChecked(TESVIEW_CMD_SORT_DATE));
    EXPECT_EQ(Cell(0, tesview::kColumnName), "delta.TXT");  // 2015, the oldest
    EXPECT_TRUE(view_.HandleCommand(parent_, TESVIEW_CMD_SORT_DESCENDING));
    EXPECT_TRUE(view_.Direction());
    EXPECT_TRUE(view_.IsCommandChecked(TESVIEW_CMD_SORT_DESCENDING));
    EXPECT_EQ(Cell(static_cast<int>(Indices().size()) - 1, tesview::kColumnName), "delta.TXT");
}

// Select All / None / Group: "*.*" takes names without a dot too, "*.txt"
// not the encrypted "secret.txt+", "*." only names without a dot; the
// existing selection stays unless ignored; the inverted match.
TEST_F(ViewTest, SelectGroupPatterns) {
    view_.Initialise(true);
    Open("view-mixed.zip");
    ASSERT_EQ(view_.FillFlat(archive_), S_OK);
    view_.SetSortKey(tesview::kColumnName);

    tesview::SelectGroupItems(List(), "*.*", true, false);
    EXPECT_EQ(Selected().size(), 7u);
    view_.SelectNone();
    EXPECT_TRUE(Selected().empty());
    tesview::SelectGroupItems(List(), "*.txt", true, false);
    EXPECT_EQ(Selected(), (Labels{"delta.TXT", "gamma.txt", "zeta.txt"}));
    tesview::SelectGroupItems(List(), "*.", false, false);
    EXPECT_EQ(Selected(), (Labels{"delta.TXT", "gamma.txt", "README", "zeta.txt"}));
    tesview::SelectGroupItems(List(), "*.", true, false);
    EXPECT_EQ(Selected(), (Labels{"README"}));
    tesview::SelectGroupItems(List(), "*.txt", true, true);
    EXPECT_EQ(Selected(), (Labels{"alpha.doc", "Beta.bin", "README", "secret.txt+"}));
    view_.SelectAll();
    EXPECT_EQ(Selected().size(), 7u);
}

std::string presetText;
const char* enterText = nullptr;

// Answers the Select Group dialog once it is up: reads the preset, enters
// enterText, unticks "Ignore existing selection" and presses OK.
void CALLBACK AnswerGroupDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = FindWindowA("#32770", "Select Group");
    if (!dialog) return;
    KillTimer(nullptr, id);
    char text[MAX_PATH] = "";
    GetDlgItemTextA(dialog, TESVIEW_IDC_GROUP_PATTERN, text, sizeof text);
    presetText = text;
    SetDlgItemTextA(dialog, TESVIEW_IDC_GROUP_PATTERN, enterText);
    CheckDlgButton(dialog, TESVIEW_IDC_GROUP_NEW, BST_UNCHECKED);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
}

// The Select Group dialog: preset "*.*" on an empty history, then the
// entered pattern goes to the top of the history and the flags are stored.
TEST_F(ViewTest, SelectGroupDialogKeepsHistory) {
    view_.Initialise(true);
    Open("view-mixed.zip");
    ASSERT_EQ(view_.FillFlat(archive_), S_OK);
    view_.SetSortKey(tesview::kColumnName);
    PutProfileString("Settings\\Group", "Item00", "*.bin");

    Select(ItemOf("README"), true);
    enterText = "*.doc";
    SetTimer(nullptr, 0, 50, AnswerGroupDialog);
    EXPECT_TRUE(view_.HandleCommand(parent_, TESVIEW_CMD_SELECT_GROUP));
    EXPECT_EQ(presetText, "*.bin");
    EXPECT_EQ(Selected(), (Labels{"alpha.doc", "README"}));

    char stored[MAX_PATH] = "";
    ASSERT_TRUE(GetProfileString("Settings\\Group", "Item00", stored));
    EXPECT_STREQ(stored, "*.doc");
    ASSERT_TRUE(GetProfileString("Settings\\Group", "Item01", stored));
    EXPECT_STREQ(stored, "*.bin");
    DWORD flag = 7;
    ASSERT_TRUE(GetProfileInt("Settings\\Group", "NewSelection", &flag));
    EXPECT_EQ(flag, 0u);

    // With no history the pattern is preset to "*.*".
    PutProfileString("Settings\\Group", nullptr, nullptr);
    enterText = "*.*";
    SetTimer(nullptr, 0, 50, AnswerGroupDialog);
    EXPECT_TRUE(view_.HandleCommand(parent_, TESVIEW_CMD_SELECT_GROUP));
    EXPECT_EQ(presetText, "*.*");
    EXPECT_EQ(Selected().size(), 7u);
}

// The tree: root named after the archive file, children enumerated when
// expanded and sorted, the list following the selected folder, Up one
// folder, the root's tip from the archive comment.
TEST_F(ViewTest, FolderTreeFollowsSelection) {
    view_.Initialise(false);
    CreateTree();
    Open("view-mixed.zip");
    ASSERT_EQ(tree_.BuildTree(archive_), S_OK);
    HTREEITEM root = TreeRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(TreeText(root), "view-mixed.zip");
    EXPECT_EQ(TreeChildren(root), (Labels{"docs"}));
    view_.SetSortKey(tesview::kColumnName);
    EXPECT_EQ(Names(), (Labels{"Beta.bin", "README", "secret.txt+", "zeta.txt"}));
    EXPECT_FALSE(tree_.CanSelectParent());

    HTREEITEM docs = TreeChild(root, "docs");
    ASSERT_NE(docs, nullptr);
    // Not enumerated before it is expanded.
    EXPECT_TRUE(TreeChildren(docs).empty());
    HTREEITEM sub = TreeChild(docs, "sub");
    ASSERT_NE(sub, nullptr);
    SelectNode(sub);
    EXPECT_EQ(Names(), (Labels{"delta.TXT", "gamma.txt"}));
    EXPECT_EQ(view_.Folder(), tree_.SelectedFolder());
    EXPECT_TRUE(tree_.SelectParent());
    EXPECT_EQ(Names(), (Labels{"alpha.doc"}));

    char tipText[256] = "";
    NMTVGETINFOTIPA tip = {};
    tip.hdr.hwndFrom = tree_.Window();
    tip.hdr.code = TVN_GETINFOTIPA;
    tip.hItem = root;
    tip.lParam = reinterpret_cast<LPARAM>(tree_.NodeFolder(root));
    tip.pszText = tipText;
    tip.cchTextMax = sizeof tipText;
    LRESULT result;
    EXPECT_TRUE(tree_.HandleNotify(&tip.hdr, &result));
    EXPECT_STREQ(tipText, "archive note");

    tree_.ClearTree();
    EXPECT_EQ(TreeRoot(), nullptr);
    EXPECT_EQ(view_.ItemCount(), 0);

    archive_->Release();
    archive_ = nullptr;
    Open("view-folders.zip");
    ASSERT_EQ(tree_.BuildTree(archive_), S_OK);
    EXPECT_EQ(TreeChildren(TreeRoot()), (Labels{"Mid", "one", "zz"}));
    EXPECT_EQ(view_.ItemCount(), 0);
}

// A right click on a tree node opens its context menu ("Folder", default
// item Explorer, Properties only with an own folder entry) and routes the
// choice to the owner with that node as the command's folder.
TEST_F(ViewTest, TreeContextMenuRoutesToOwner) {
    ShowWindow(parent_, SW_SHOW);
    view_.Initialise(false);
    CreateTree();
    Open("view-mixed.zip");
    ASSERT_EQ(tree_.BuildTree(archive_), S_OK);
    HTREEITEM docs = TreeChild(TreeRoot(), "docs");
    ASSERT_NE(docs, nullptr);
    HTREEITEM sub = TreeChild(docs, "sub");
    ASSERT_NE(sub, nullptr);

    for (HTREEITEM item : {sub, docs}) {
        RECT rect = {};
        memcpy(&rect, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the rectangle
        ASSERT_TRUE(SendMessageA(tree_.Window(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect)));
        POINT point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        ClientToScreen(tree_.Window(), &point);
        ASSERT_TRUE(SetCursorPos(point.x, point.y));
        menuSeen = MenuSeen();
        // The menu's own loop reads these: first item, then choose it.
        PostMessageA(parent_, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(parent_, WM_KEYDOWN, VK_RETURN, 0);
        NMHDR click = {tree_.Window(), TESVIEW_IDC_TREE, static_cast<UINT>(NM_RCLICK)};
        SendMessageA(parent_, WM_NOTIFY, TESVIEW_IDC_TREE, reinterpret_cast<LPARAM>(&click));
        EXPECT_EQ(menuSeen.command, static_cast<UINT>(TESVIEW_CMD_EXPLORE_FOLDER));
        EXPECT_EQ(menuSeen.folder, tree_.NodeFolder(item));
        EXPECT_EQ(menuSeen.defaultItem, static_cast<UINT>(TESVIEW_CMD_EXPLORE_FOLDER));
        // "sub" has no entry of its own, "docs/" has.
        EXPECT_EQ(menuSeen.propertiesGrayed, item == sub);
    }
    EXPECT_EQ(tree_.CommandFolder(), tree_.SelectedFolder());
}

// SelectionBuffer from all, selected and focused items, one entry, and a
// tree folder (own entry, files, then sub-folders).
TEST_F(ViewTest, SelectionBufferContents) {
    view_.Initialise(false);
    CreateTree();
    Open("view-mixed.zip");
    ASSERT_EQ(tree_.BuildTree(archive_), S_OK);
    view_.SetSortKey(tesview::kSortOriginal);
    auto indices = [](tesview::SelectionBuffer& buffer) {
        std::vector<DWORD> out;
        for (DWORD i = 0; i < buffer.Count(); ++i) {
            EXPECT_EQ(buffer.Records()[i].found, 0u);
            EXPECT_EQ(buffer.Records()[i].detail, nullptr);
            out.push_back(buffer.Records()[i].index);
        }
        return out;
    };
    tesview::SelectionBuffer buffer;
    EXPECT_TRUE(buffer.Failed());
    view_.SelectAll();
    ASSERT_TRUE(buffer.FromSelected(List()));
    EXPECT_FALSE(buffer.Failed());
    EXPECT_EQ(indices(buffer), (std::vector<DWORD>{0, 3, 5, 6}));

    view_.SelectNone();
    Select(1, true);
    Select(3, true);
    ASSERT_TRUE(buffer.FromSelected(List()));
    EXPECT_EQ(indices(buffer), (std::vector<DWORD>{3, 6}));

    LVITEMA focus = {};
    focus.stateMask = LVIS_FOCUSED;
    focus.state = LVIS_FOCUSED;
    SendMessageA(List(), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&focus));
    ASSERT_TRUE(buffer.FromFocused(List()));
    EXPECT_EQ(indices(buffer), (std::vector<DWORD>{5}));

    ASSERT_TRUE(buffer.FromEntry(4));
    EXPECT_EQ(indices(buffer), (std::vector<DWORD>{4}));

    ASSERT_TRUE(buffer.FromFolder(tree_.NodeFolder(TreeRoot())));
    EXPECT_EQ(indices(buffer), (std::vector<DWORD>{0, 3, 5, 6, 1, 2, 4, 7}));
    ASSERT_TRUE(buffer.FromFolder(tree_.NodeFolder(TreeChild(TreeRoot(), "docs"))));
    EXPECT_EQ(indices(buffer), (std::vector<DWORD>{1, 2, 4, 7}));
}

void CALLBACK PressFontDialogOk(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = FindWindowA("#32770", "Font");
    if (!dialog) return;
    KillTimer(nullptr, id);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

// The "Font" setting is applied to list and tree; without a usable record
// the default-font flag is set; 40040 returns to the system font.
TEST_F(ViewTest, FontFromSettings) {
    view_.Initialise(true);
    CreateTree();
    tesview::ViewFont font;
    font.Attach(List(), tree_.Window());

    DWORD useDefault = 0;
    font.Load(&useDefault);
    EXPECT_EQ(useDefault, 1u);

    LOGFONTA record = {};
    record.lfHeight = -19;
    lstrcpyA(record.lfFaceName, "Tahoma");
    ASSERT_TRUE(PutProfileBinary(kSettings, "Font", &record, sizeof record));
    useDefault = 0;
    font.Load(&useDefault);
    EXPECT_EQ(useDefault, 0u);
    ASSERT_NE(font.Font(), nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(List(), WM_GETFONT, 0, 0)), font.Font());
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(tree_.Window(), WM_GETFONT, 0, 0)), font.Font());
    LOGFONTA applied = {};
    GetObjectA(font.Font(), sizeof applied, &applied);
    EXPECT_EQ(applied.lfHeight, -19);

    EXPECT_TRUE(font.ToggleDefault(parent_, GetModuleHandleA(nullptr), &useDefault));
    EXPECT_EQ(useDefault, 1u);
    EXPECT_EQ(font.Font(), nullptr);
    EXPECT_EQ(SendMessageA(List(), WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)));
    DWORD size = sizeof record;
    EXPECT_TRUE(GetProfileBinary(kSettings, "Font", &record, &size));  // the record stays

    // With the default font in use, 40040 opens the font dialog; OK there
    // leaves the default font and applies and stores the choice.
    PutProfileString(kSettings, "Font", nullptr);
    SetTimer(nullptr, 0, 50, PressFontDialogOk);
    EXPECT_TRUE(font.ToggleDefault(parent_, GetModuleHandleA(nullptr), &useDefault));
    EXPECT_EQ(useDefault, 0u);
    ASSERT_NE(font.Font(), nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(List(), WM_GETFONT, 0, 0)), font.Font());
    size = sizeof record;
    EXPECT_TRUE(GetProfileBinary(kSettings, "Font", &record, &size));
    EXPECT_EQ(size, 60u);
}

}  // namespace
