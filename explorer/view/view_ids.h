// Numbers the content view shares with the program around it. The view
// library owns none of the program's resources: it loads them from the
// instance handle the program passes in (ContentView::Create,
// FolderTree::Create, SelectGroupDialog, ViewFont), so the program's string
// table, menus and bitmaps stay in one place. The program's resource script
// must therefore provide:
//
//   STRINGTABLE  24  "Name|Modified at|Size|Ratio|Packed|Path|Type|"
//                     (column labels, split at "|", by logical column)
//   STRINGTABLE  62  "Font cannot be created. Choose another font!"
//   BITMAP      203  header sort arrows: two images 8 pixels wide, cyan
//                     (RGB 0,255,255) transparent; image 0 shown while the
//                     direction flag is 1, image 1 while it is 0. Optional:
//                     without it the header shows no arrows.
//   MENU        301  context menus; the popups named "Root" and "Folder"
//                     (found by name, else by position 1 and 2)
//   DIALOG      114  "Select Group": include view/tesview.rc in the
//                     program's script (it uses the ids below)
//
// Commands the view sends to, or accepts from, its owner window (WM_COMMAND)
// are listed with their numbers below.
//
// Wiring in the explorer window:
//   create:   view.Create(window, instance); view.Initialise(noTree);
//             tree.Create(sidePane, window, instance, &view);
//             font.Attach(view.Window(), tree.Window()); font.Load(&defaultFont)
//   notify:   list (9999): the program's own codes first (right click, begin
//             drag, item changed, double click), then view.HandleNotify; tree
//             (9994): the side pane forwards its WM_NOTIFY to the window,
//             begin drag is the program's, the rest tree.HandleNotify
//   command:  view.HandleCommand(window, id) for select and sort commands;
//             40036 font.Choose, 40040 font.ToggleDefault, 40074
//             tree.SelectParent; 40019-40022, 40060, 40063 act on
//             tree.CommandFolder() (SelectionBuffer::FromFolder)
//   states:   view.IsCommandChecked for 32797-32804, 40046, 40047; 40074
//             enabled when the tree is shown and tree.CanSelectParent();
//             WM_INITMENUPOPUP leaves 40060 alone (the tree sets it)
//   fill:     tree hidden: view.FillFlat(archive); shown: tree.BuildTree
//   close:    view.Clear(); tree.ClearTree() before releasing the archive
//   WM_USER+3: view.SetFlatMode(hidden); when hiding, tree.ClearTree()
//   destroy:  view.SaveLayout(); tree.ClearTree() while the windows exist
#pragma once

// Child window ids.
#define TESVIEW_IDC_LIST 9999
#define TESVIEW_IDC_TREE 9994

// Resources loaded from the program's instance.
#define TESVIEW_IDS_COLUMN_LABELS 24
#define TESVIEW_IDS_FONT_FAILED 62
#define TESVIEW_IDB_SORT_ARROWS 203
#define TESVIEW_IDR_CONTEXT_MENUS 301
#define TESVIEW_IDD_SELECT_GROUP 114

// Controls of dialog 114.
#define TESVIEW_IDC_GROUP_PATTERN 1140   // "&Filename:" combo box
#define TESVIEW_IDC_GROUP_NEW 1141       // "Ignore e&xisting selection"
#define TESVIEW_IDC_GROUP_INVERT 1142    // "Select only files that do not &match"

// Commands ContentView::HandleCommand answers (sort keys, direction,
// selection) -- the program routes these to the view.
#define TESVIEW_CMD_SELECT_ALL 32783
#define TESVIEW_CMD_SELECT_NONE 32784
#define TESVIEW_CMD_SELECT_GROUP 32785
#define TESVIEW_CMD_SORT_NAME 32797      // logical column 0
#define TESVIEW_CMD_SORT_SIZE 32798      // 2
#define TESVIEW_CMD_SORT_RATIO 32799     // 3
#define TESVIEW_CMD_SORT_PACKED 32800    // 4
#define TESVIEW_CMD_SORT_TYPE 32801      // 6
#define TESVIEW_CMD_SORT_DATE 32802      // 1
#define TESVIEW_CMD_SORT_PATH 32803      // 5
#define TESVIEW_CMD_SORT_ORIGINAL 32804  // -1
#define TESVIEW_CMD_SORT_ASCENDING 40046   // clears the direction flag (natural order)
#define TESVIEW_CMD_SORT_DESCENDING 40047  // sets the direction flag (reversed order)

// Commands of the tree's context menus. FolderTree sends every choice to
// its owner as WM_COMMAND; while the owner handles it,
// FolderTree::CommandFolder() is the node the menu was opened on.
#define TESVIEW_CMD_CLOSE_ARCHIVE 32777   // posted when a folder fill fails
#define TESVIEW_CMD_EXTRACT_FOLDER 40019
#define TESVIEW_CMD_DELETE_FOLDER 40020
#define TESVIEW_CMD_COPY_FOLDER 40021
#define TESVIEW_CMD_CUT_FOLDER 40022
#define TESVIEW_CMD_FOLDER_PROPERTIES 40060  // enabled by the tree itself
#define TESVIEW_CMD_EXPLORE_FOLDER 40063     // the menus' default item
#define TESVIEW_CMD_FONT 40036
#define TESVIEW_CMD_DEFAULT_FONT 40040
#define TESVIEW_CMD_UP_FOLDER 40074

// Timer the folder tree starts on its owner after filling the list (the
// owner refreshes its status bar on it).
#define TESVIEW_STATUS_TIMER 1
