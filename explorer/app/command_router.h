// The explorer window's command routing. A menu, accelerator or toolbar
// command is checked against its state, offered to the content view
// (selection and sorting), and then run: the window's own commands through
// its public operations, the archive commands through the commands library
// with the window as their host.
#pragma once

#include <windows.h>

#include <string>

namespace tessera {

class ExplorerWindow;

// WM_COMMAND of the window (and the list's double click as Open entry).
void RouteCommand(ExplorerWindow& window, UINT command);
// Extract, Delete, Test, Create, Add and the Output window; every other
// command keeps its enabled state and does nothing. The toolbar states
// follow.
void RunArchiveCommand(ExplorerWindow& window, UINT command);
// The filter list of the Open dialog, '|' separated.
std::string OpenDialogFilter();

}  // namespace tessera
