// CShellExt: the context menu of files and folders, the menu after a drag
// with the right mouse button onto a folder, and the archive comment page
// of the property sheet.
#pragma once

#include <windows.h>

namespace tesshell {

// A new CShellExt asked for `iid`.
HRESULT CreateShellExt(REFIID iid, void** out);

}  // namespace tesshell
