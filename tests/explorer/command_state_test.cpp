// The command states as a pure function of the window's context: one table
// over every command of the menus and the toolbar, in six contexts.
#include "command_state.h"
#include "resource_ids.h"
#include "tescore.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

using namespace tessera;

namespace {

const DWORD kZipCaps = CAP_CREATE | CAP_ADD | CAP_EXTRACT | CAP_TEST | CAP_DELETE | CAP_GETCOMMENT | CAP_MAKEEXE;
const DWORD kTarCaps = CAP_EXTRACT | CAP_TEST;

// The contexts, in the order of the expectation strings:
//   E  an empty window
//   Z  a ZIP archive, two items, none selected
//   S  a ZIP with an .exe module, one item selected, files on the clipboard,
//      a log, history both ways, a sub-folder in the tree, sorted by size
//      in reverse, always on top
//   F  a ZIP whose tree folder shows no items (folders only)
//   T  a TAR whose file is gone, flat list, one item selected
//   B  S while an operation runs
CommandContext Context(char which) {
    CommandContext context;
    context.formatsRegistered = true;
    context.treeShown = true;
    if (which == 'E') return context;
    context.archiveOpen = true;
    context.archiveFileExists = true;
    context.entryCount = 3;
    context.capabilities = kZipCaps;
    context.itemCount = 2;
    switch (which) {
    case 'Z':
        context.defaultFont = true;
        break;
    case 'S':
    case 'B':
        context.capabilities |= CAP_REMOVEEXE;
        context.selectedCount = 1;
        context.clipboardHasFiles = true;
        context.logHasText = true;
        context.canGoBack = context.canGoForward = true;
        context.treeFolderHasParent = true;
        context.sortKey = 2;
        context.sortReversed = true;
        context.alwaysOnTop = true;
        context.operationRunning = which == 'B';
        break;
    case 'F':
        context.itemCount = 0;
        context.defaultFont = true;
        break;
    case 'T':
        context.archiveFileExists = false;
        context.entryCount = context.itemCount = context.selectedCount = 1;
        context.capabilities = kTarCaps;
        context.clipboardHasFiles = true;
        context.treeShown = false;
        break;
    }
    return context;
}

const char kContexts[] = "EZSFTB";

struct Row {
    UINT command;
    const char* menu;     // enabled in the menus, per context: '1' or '0'
    const char* toolbar;  // enabled on the toolbar when it differs, else null
    const char* checked;  // checked (both), null when never
};

const Row kRows[] = {
    {CMD_LINK_ON_DESKTOP, "011100", nullptr, nullptr},
    {CMD_DELETE_ARCHIVE, "011100", nullptr, nullptr},
    {CMD_CREATE_ARCHIVE, "111110", nullptr, nullptr},
    {CMD_RENAME_ARCHIVE, "011100", nullptr, nullptr},
    {CMD_COPY_ARCHIVE, "011100", nullptr, nullptr},
    {CMD_MOVE_ARCHIVE, "011100", nullptr, nullptr},
    {CMD_ARCHIVE_PROPERTIES, "011100", nullptr, nullptr},
    {CMD_OPEN_ARCHIVE, "111110", nullptr, nullptr},
    {CMD_CLOSE_ARCHIVE, "011110", nullptr, nullptr},
    {CMD_LAST_ARCHIVE, "000000", nullptr, nullptr},
    {CMD_RECENT_FIRST, "111110", nullptr, nullptr},
    {CMD_RECENT_FIRST + 1, "111110", nullptr, nullptr},
    {CMD_RECENT_FIRST + 2, "111110", nullptr, nullptr},
    {CMD_RECENT_LAST, "111110", nullptr, nullptr},
    {CMD_SELECT_ALL, "011010", nullptr, nullptr},
    {CMD_SELECT_NONE, "011010", nullptr, nullptr},
    {CMD_SELECT_GROUP, "011010", nullptr, nullptr},
    {CMD_COPY, "001010", "011010", nullptr},
    {CMD_PASTE, "001000", "011100", nullptr},
    {CMD_CUT, "001000", "011000", nullptr},
    {CMD_DELETE_FILES, "011100", nullptr, nullptr},
    {CMD_VIEW, "011010", nullptr, nullptr},
    {CMD_EXTRACT, "011110", nullptr, nullptr},
    {CMD_EXIT, "111111", nullptr, nullptr},
    {TESVIEW_CMD_SORT_NAME, "111110", nullptr, "110110"},
    {TESVIEW_CMD_SORT_SIZE, "111110", nullptr, "001001"},
    {TESVIEW_CMD_SORT_RATIO, "111110", nullptr, "000000"},
    {TESVIEW_CMD_SORT_PACKED, "111110", nullptr, "000000"},
    {TESVIEW_CMD_SORT_TYPE, "111110", nullptr, "000000"},
    {TESVIEW_CMD_SORT_DATE, "111110", nullptr, "000000"},
    {TESVIEW_CMD_SORT_PATH, "111110", nullptr, "000000"},
    {TESVIEW_CMD_SORT_ORIGINAL, "111110", nullptr, "000000"},
    {CMD_ALWAYS_ON_TOP, "111111", nullptr, "001001"},
    {CMD_HELP_ON_HELP, "111111", nullptr, nullptr},
    {CMD_WEB_PAGE, "111111", nullptr, nullptr},
    {CMD_FEEDBACK, "111111", nullptr, nullptr},
    {CMD_MAIL, "011110", nullptr, nullptr},
    {CMD_ADD, "011100", nullptr, nullptr},
    {CMD_OPEN_ENTRY, "011010", nullptr, nullptr},
    {CMD_COMMENT, "011100", nullptr, nullptr},
    {CMD_TEST, "011110", nullptr, nullptr},
    {CMD_EXTRACT_FOLDER, "011110", nullptr, nullptr},
    {CMD_DELETE_FOLDER, "011100", nullptr, nullptr},
    {CMD_COPY_FOLDER, "011110", nullptr, nullptr},
    {CMD_CUT_FOLDER, "011100", nullptr, nullptr},
    {CMD_OPTIONS, "111111", nullptr, nullptr},
    {CMD_PRINT, "011110", nullptr, nullptr},
    {CMD_BROWSE_ARCHIVES, "111111", nullptr, nullptr},
    {CMD_REMOVE_EXE, "001000", nullptr, nullptr},
    {CMD_CREATE_EXE, "011100", nullptr, nullptr},
    {CMD_VIEW_OUTPUT, "001000", nullptr, nullptr},
    {CMD_ABOUT, "111111", nullptr, nullptr},
    {CMD_FONT, "111111", nullptr, nullptr},
    {CMD_DEFAULT_FONT, "111111", nullptr, "010100"},
    {CMD_FOLDER_TREE, "111110", nullptr, "111101"},
    {CMD_ENTRY_PROPERTIES, "011010", nullptr, nullptr},
    {CMD_EXTRACT_SELECTED, "011010", nullptr, nullptr},
    {CMD_BACK, "001000", nullptr, nullptr},
    {CMD_FORWARD, "001000", nullptr, nullptr},
    {CMD_SORT_ASCENDING, "111110", nullptr, "110110"},
    {CMD_SORT_DESCENDING, "111110", nullptr, "001001"},
    {CMD_FOLDER_PROPERTIES, "111110", nullptr, nullptr},
    {CMD_EXPLORE_FOLDER, "011110", nullptr, nullptr},
    {CMD_CUSTOMIZE_TOOLBAR, "111111", nullptr, nullptr},
    {CMD_RESET_TOOLBAR, "111111", nullptr, nullptr},
    {CMD_ARCHIVES_OPENED, "111111", nullptr, nullptr},
    {CMD_UP_FOLDER, "001000", nullptr, nullptr},
};

std::string States(UINT command, bool forToolbar, bool checked) {
    std::string states;
    for (const char* which = kContexts; *which; ++which) {
        const CommandStatus status = CommandState(command, forToolbar, Context(*which));
        states += (checked ? status.checked : status.enabled) ? '1' : '0';
    }
    return states;
}

void CollectIds(HMENU menu, std::set<UINT>* ids) {
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        char name[32] = "";
        GetMenuStringA(menu, position, name, sizeof name, MF_BYPOSITION);
        // The popup of the Browse Archives results is that window's own.
        if (strcmp(name, "Search") == 0) continue;
        if (HMENU sub = GetSubMenu(menu, position)) {
            CollectIds(sub, ids);
        } else if (UINT id = GetMenuItemID(menu, position); id != 0 && id != static_cast<UINT>(-1)) {
            ids->insert(id);
        }
    }
}

TEST(CommandState, EveryCommandInEveryContext) {
    for (const Row& row : kRows) {
        SCOPED_TRACE("command " + std::to_string(row.command) + ", contexts " + kContexts);
        EXPECT_EQ(States(row.command, false, false), row.menu);
        EXPECT_EQ(States(row.command, true, false), row.toolbar ? row.toolbar : row.menu);
        const std::string checked = row.checked ? row.checked : "000000";
        EXPECT_EQ(States(row.command, false, true), checked);
        EXPECT_EQ(States(row.command, true, true), checked);
    }

    // The table holds every command of the menu bar and the context menus.
    std::set<UINT> inTable;
    for (const Row& row : kRows) inTable.insert(row.command);
    std::set<UINT> inMenus;
    for (int id : {IDR_MAIN_MENU, IDR_CONTEXT_MENUS}) {
        HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
        ASSERT_NE(menu, nullptr);
        CollectIds(menu, &inMenus);
        DestroyMenu(menu);
    }
    for (UINT id : inMenus) EXPECT_TRUE(inTable.count(id)) << "menu command " << id << " is not in the table";
}

}  // namespace
