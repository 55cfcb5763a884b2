// The options of Add as the settings keep them -- the Add dialog's own under
// "Add", a saved selection's under its section -- and the saved selections:
// a name, those options and the rows, in sections "Add\" + eight
// hexadecimal digits. No window is involved.
#pragma once

#include "add_rows.h"
#include "tescore.h"

#include <string>
#include <vector>

namespace tescommands {

struct AddOptions {
    DWORD level = 0;            // "Compression": index into GetText(5) names
    bool update = false;        // "Update"
    bool freshen = false;       // "Freshen"
    bool fullPaths = false;     // "UsePath"
    bool partialPaths = true;   // "PartialPath"
    bool shortNames = false;    // "DosFormat"
    bool move = false;          // "Move"
    bool backup = false;        // "Backup"
    bool split = false;         // not stored
    DWORD volumeSize = 0;       // not stored
    IncludeOptions include;     // "SubFolders", "EmptyFolders", "SystemHidden"
};

// The first eight options (those a saved selection keeps too).
void LoadAddOptions(const std::string& section, AddOptions* options);
void SaveAddOptions(const std::string& section, const AddOptions& options);
// "SubFolders", "EmptyFolders" (kept only where the format stores folder
// entries) and "SystemHidden"; what is not stored keeps its value.
void LoadIncludeOptions(const std::string& section, IncludeOptions* include);
void SaveIncludeOptions(const std::string& section, const IncludeOptions& include);

// Saved selections: "Add\" + eight hexadecimal digits, holding
// "DisplayName", the first eight options and one value per row.
std::vector<std::string> SavedSelectionNames();
bool SaveSelection(const std::string& name, const AddOptions& options, const std::vector<std::string>& rows);
// False when no selection has that name; rows that no longer resolve are
// skipped.
bool LoadSelection(const std::string& name, AddOptions* options, std::vector<std::string>* rows);
bool DeleteSelection(const std::string& name);

// Resolves text as a shell item with a file-system path.
HRESULT ResolveShellPath(const std::string& text, std::string* path);

}  // namespace tescommands
