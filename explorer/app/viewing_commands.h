// The explorer window's commands on entries as files and on the archive
// file itself: Open, View, Copy, Cut, Paste, the tree's Copy and Cut
// folder, Print, Mail recipient, Link on Desktop, Rename, Copy, Move and
// Delete archive, and the archive and entry property sheets.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tessera {

class ExplorerWindow;

// False when command is none of the above.
bool RunViewingCommand(ExplorerWindow& window, UINT command);

// Files that must not be added to the window's archive: the archive itself
// and files of its own temporary folder. They are removed from files and
// the "archive itself" warning is shown once. False when none are left.
bool RefuseOwnFiles(ExplorerWindow& window, std::vector<std::string>* files);

// The printed list of the window's entry list (see PrintListText).
std::string ListPrintText(ExplorerWindow& window);

}  // namespace tessera
