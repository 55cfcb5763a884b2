// The enabled and checked states of the explorer window's commands: one
// rule set for the menus and the toolbar, a pure function of what the
// window is showing. The window takes a CommandContext whenever the
// archive, the list, its selection or the tree folder change and applies
// the answers to the toolbar; before a menu opens, to its items.
#pragma once

#include <windows.h>

namespace tessera {

struct CommandContext {
    bool formatsRegistered = false;  // ArcGetFormatCount is not 0
    bool archiveOpen = false;
    bool archiveFileExists = false;  // an archive is open and its file is found
    DWORD entryCount = 0;            // GetEntryCount of the open archive
    DWORD capabilities = 0;          // the HasCapability bits of the open archive
    int itemCount = 0;               // items in the list
    int selectedCount = 0;           // selected items in the list
    bool operationRunning = false;   // an archive operation is under way
    bool clipboardHasFiles = false;  // a file list is on the clipboard
    bool logHasText = false;         // the output log of the open archive
    bool canGoBack = false;
    bool canGoForward = false;
    bool treeShown = false;
    bool treeFolderHasParent = false;  // the selected tree node is not the root
    bool alwaysOnTop = false;
    bool defaultFont = false;
    int sortKey = 0;              // logical column, -1 for the original order
    bool sortReversed = false;    // the direction flag of the list
};

struct CommandStatus {
    bool enabled;
    bool checked;
};

// forToolbar: the toolbar's rule (Cut and Copy need items, not a selection;
// Paste does not look at the clipboard).
CommandStatus CommandState(UINT command, bool forToolbar, const CommandContext& context);

}  // namespace tessera
