// CommandState (see command_state.h).
#include "command_state.h"

#include "content_view.h"
#include "resource_ids.h"
#include "tescore.h"

namespace tessera {

namespace {

// Commands that neither use nor replace the archive object, and so stay
// available while an operation runs inside a command handler.
bool WorksDuringOperation(UINT command) {
    switch (command) {
    case CMD_EXIT: case CMD_ALWAYS_ON_TOP: case CMD_HELP_ON_HELP: case CMD_WEB_PAGE: case CMD_FEEDBACK:
    case CMD_ABOUT: case CMD_OPTIONS: case CMD_BROWSE_ARCHIVES: case CMD_FONT: case CMD_DEFAULT_FONT:
    case CMD_CUSTOMIZE_TOOLBAR: case CMD_RESET_TOOLBAR: case CMD_ARCHIVES_OPENED:
        return true;
    default:
        return false;
    }
}

}  // namespace

CommandStatus CommandState(UINT command, bool forToolbar, const CommandContext& context) {
    const bool open = context.archiveOpen;
    const bool entries = open && context.entryCount != 0;
    const bool items = context.itemCount > 0;
    const bool selected = context.selectedCount > 0;
    auto cap = [&](DWORD mask) { return open && (context.capabilities & mask) == mask; };
    bool enabled = true;
    bool checked = false;
    switch (command) {
    case CMD_LINK_ON_DESKTOP: case CMD_DELETE_ARCHIVE: case CMD_RENAME_ARCHIVE: case CMD_COPY_ARCHIVE:
    case CMD_MOVE_ARCHIVE: case CMD_ARCHIVE_PROPERTIES:
        enabled = open && context.archiveFileExists;
        break;
    case CMD_OPEN_ARCHIVE:
        enabled = context.formatsRegistered;
        break;
    case CMD_CLOSE_ARCHIVE:
        enabled = open;
        break;
    case CMD_LAST_ARCHIVE:
        enabled = false;
        break;
    case CMD_SELECT_ALL: case CMD_SELECT_NONE: case CMD_SELECT_GROUP: case CMD_ENTRY_PROPERTIES:
        enabled = items;
        break;
    case CMD_COPY:
        enabled = cap(CAP_EXTRACT) && (forToolbar ? items : selected);
        break;
    case CMD_PASTE:
        enabled = cap(CAP_ADD) && (forToolbar || context.clipboardHasFiles);
        break;
    case CMD_CUT:
        enabled = cap(CAP_EXTRACT | CAP_DELETE) && (forToolbar ? items : selected);
        break;
    case CMD_DELETE_FILES: case CMD_DELETE_FOLDER:
        enabled = entries && cap(CAP_DELETE);
        break;
    case CMD_VIEW: case CMD_OPEN_ENTRY: case CMD_EXTRACT_SELECTED:
        enabled = items && cap(CAP_EXTRACT);
        break;
    case CMD_EXTRACT: case CMD_COPY_FOLDER:
        enabled = entries && cap(CAP_EXTRACT);
        break;
    case CMD_CUT_FOLDER:
        enabled = entries && cap(CAP_EXTRACT | CAP_DELETE);
        break;
    case CMD_MAIL: case CMD_PRINT: case CMD_EXTRACT_FOLDER: case CMD_EXPLORE_FOLDER:
        enabled = entries;
        break;
    case CMD_ADD:
        enabled = cap(CAP_ADD) || (cap(CAP_CREATE) && !entries);
        break;
    case CMD_COMMENT:
        enabled = context.archiveFileExists && cap(CAP_GETCOMMENT);
        break;
    case CMD_TEST:
        enabled = entries && cap(CAP_TEST);
        break;
    case CMD_REMOVE_EXE:
        enabled = entries && cap(CAP_REMOVEEXE);
        break;
    case CMD_CREATE_EXE:
        enabled = entries && cap(CAP_MAKEEXE);
        break;
    case CMD_VIEW_OUTPUT:
        enabled = open && context.logHasText;
        break;
    case CMD_ALWAYS_ON_TOP:
        checked = context.alwaysOnTop;
        break;
    case CMD_DEFAULT_FONT:
        checked = context.defaultFont;
        break;
    case CMD_FOLDER_TREE:
        checked = context.treeShown;
        break;
    case CMD_BACK:
        enabled = context.canGoBack;
        break;
    case CMD_FORWARD:
        enabled = context.canGoForward;
        break;
    case CMD_UP_FOLDER:
        enabled = context.treeShown && context.treeFolderHasParent;
        break;
    case CMD_SORT_ASCENDING:
        checked = !context.sortReversed;
        break;
    case CMD_SORT_DESCENDING:
        checked = context.sortReversed;
        break;
    default: {
        bool found = false;
        const int key = tesview::ContentView::SortKeyOfCommand(command, &found);
        checked = found && key == context.sortKey;
        break;
    }
    }
    if (context.operationRunning && !WorksDuringOperation(command)) enabled = false;
    return {enabled, checked};
}

}  // namespace tessera
