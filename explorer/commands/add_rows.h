// What becomes a row of the Add dialog when a folder is chosen or dropped,
// and the engine's file list built from the rows.
#pragma once

#include "tescore.h"

#include <string>
#include <vector>

namespace tescommands {

struct IncludeOptions {
    bool subFolders = true;         // "&Subfolders"
    bool emptyFoldersOnly = false;  // "&Empty folders only"
    bool systemHidden = true;       // "System and &hidden files"
    bool folderEntries = false;     // the format stores folder entries (capability 0x20000)
};

// The comma-separated masks of "Select folder"; blanks are part of a mask.
// "*.*" and "*" (and an empty text) mean no mask: an empty list.
std::vector<std::string> ParseMasks(const std::string& text);

// Appends the rows for the contents of folder (never folder itself):
// every file that matches one of the masks (all files without masks);
// with subFolders, each sub-folder's contents first, then the sub-folder
// as a row of its own when the format stores folder entries and the name
// matches the masks -- all of them, or with emptyFoldersOnly only those
// whose enumeration yields nothing, so that exactly the folders that no
// file would bring into the archive get an entry.
void AddFolderContents(const std::string& folder, const std::vector<std::string>& masks,
                       const IncludeOptions& options, std::vector<std::string>* rows);


}  // namespace tescommands
