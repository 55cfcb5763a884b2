// The Options property sheet (General, Compression, Viewer) and the check
// at start-up whether ".zip" files open with this program.
#pragma once

#include <windows.h>

#include <string>

namespace tessera {

// Pages in the order the sheet shows them.
enum OptionsPage { kGeneralPage = 0, kCompressionPage = 1, kViewerPage = 2 };

// Modal. Changes the program settings in memory; "MaskPassword",
// "TextViewer" and "HexViewer" are written at once.
void OptionsDialog(HWND owner, int firstPage);

// With "AssocCheck" on: when the default value of the ".zip" class key is
// not the class the installer gives it (setup::kProgramClass), asks (dialog 127) whether to associate and, on Yes,
// starts "Setup.exe /assoc ZIP" from the program's folder. 0, or the
// registry error that kept the key from being read.
DWORD AssociationCheck(HWND window);

// The path the check starts on Yes (tests look at it).
std::string AssociationProgramPath();

}  // namespace tessera
