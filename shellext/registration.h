// DllRegisterServer and DllUnregisterServer: the two classes as in-process
// servers of this library, CShellExt as context-menu handler of files and
// folders, drag-and-drop handler of folders and drives and property-sheet
// handler of the archive types that carry a comment, CFindArchivesExt as a
// static Find extension. Per user (HKCU\Software\...) unless the caller runs
// elevated, then machine-wide (HKLM\Software\...), in the registry view of
// this library's own architecture.
#pragma once

#include <windows.h>

namespace tesshell {

// Whether the calling thread's token (an impersonation token when there is
// one, else the process's) is elevated.
bool CallerIsElevated();

HRESULT RegisterServer();
// Removes every key RegisterServer wrote, and the parents it had to create
// for them once they are empty again; keys that were there before stay.
HRESULT UnregisterServer();

}  // namespace tesshell
