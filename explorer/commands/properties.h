// The property sheets of an entry and of the archive file. Both take the
// archive object (and an entry number), not a window of the program, so
// that the explorer window and the search results share them.
#pragma once

#include "temp_files.h"

namespace tescommands {

// Entry properties (40042 for the focused list item, 40060 for a tree
// folder's own entry, and for a found entry): "General" (dialog 121) and,
// when the format keeps entry comments, "Comment" (dialog 113). Applying
// changed attributes or comment calls UpdateEntries through the context's
// runner without refreshing. True when the entry was changed: the caller
// refreshes its view.
bool ShowEntryProperties(const TempContext& context, const OperationSettings& settings, DWORD entryIndex);

// Archive properties (32774; commentPage for 40015): "General" (dialog
// 102) and, when the format has archive comments, "Comment" (dialog 113),
// writable through SetComment when the format can. True when the archive
// was changed.
bool ShowArchiveProperties(const TempContext& context, const OperationSettings& settings, bool commentPage);

// The name of a host system number as the entry sheet shows it.
std::string HostSystemName(DWORD host);

}  // namespace tescommands
