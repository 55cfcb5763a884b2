// CFindArchivesExt: the Find menu's entry that opens the explorer's archive
// search window.
#pragma once

#include <windows.h>

namespace tesshell {

HRESULT CreateFindArchivesExt(REFIID iid, void** out);

}  // namespace tesshell
