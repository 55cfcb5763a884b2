// Temporary files of an open archive: the archive's own temporary folder,
// the files extracted into it to be opened, viewed, copied or dragged, and
// the write-back of those the user changed meanwhile.
//
// Every piece takes the archive object (and entry numbers), never a window
// of the program, so that any window showing entries of an archive -- the
// explorer window, the search results -- can open and view them:
//
//   on opening:  TempFileTracker::Attach(archive, settings.tempFolder)
//   Open/View:   OpenEntry(context, entryIndex, open)
//   activation:  CheckTemporaryFiles(context, settings)
//   closing:     CloseTemporaryFiles(context, settings, refusable), then
//                TempFileTracker::Detach(archive) before the last Release
//
// The tracker lives in the archive object's user-data slot (SetOption).
#pragma once

#include "commands.h"
#include "tescore.h"

#include <functional>
#include <string>
#include <vector>

namespace tescommands {

// Runs one operation of the archive: a window passes its operation frame
// (CommandHost::RunOperation); an empty runner calls it directly with the
// context's owner.
using OperationRunner = std::function<HRESULT(const OperationCall& call, unsigned flags)>;

// What the temporary-file functions work with.
struct TempContext {
    HWND owner = nullptr;          // owner of dialogs and operations
    HINSTANCE resources = nullptr; // module holding tescommands.rc
    ICompressFormat* archive = nullptr;
    OperationRunner run;           // may be empty
};

HRESULT RunInContext(const TempContext& context, const OperationCall& call, unsigned flags);

class TempFileTracker {
public:
    struct Record {
        std::string path;        // full path of the temporary file
        bool known = false;      // the file existed right after extraction
        DWORD entryIndex = SEL_UNUSED;
        std::string storedName;  // of that entry when tracked: indices move with updates
        FILETIME time = {};      // last write time as last seen by the program
        ULARGE_INTEGER size = {};
    };

    // Gives the archive a tracker with a temporary folder of its own inside
    // tempPath (a "\" added when missing): the archive's file name without
    // extension, or "%s_%d" with 1, 2, ... when a file or folder of that name
    // exists or another open archive of this process holds it. The folder is
    // made at once, so that no other process takes the same name. Replaces
    // (and detaches) a tracker the object had.
    static TempFileTracker* Attach(ICompressFormat* archive, const std::string& tempPath);
    // The archive's tracker, or null.
    static TempFileTracker* Of(ICompressFormat* archive);
    // Removes the tracker and deletes the temporary folder with everything
    // in it, unless it holds a changed file that could not be put back.
    static void Detach(ICompressFormat* archive);

    // The folder, without a trailing "\".
    const std::string& Folder() const { return folder_; }
    // Where entry `index` lands when extracted with paths.
    std::string EntryPath(ICompressFormat* archive, DWORD index) const;
    // Records path (once; tracking it again refreshes known, time and size).
    void Track(ICompressFormat* archive, const std::string& path, DWORD entryIndex);
    std::vector<Record>& Records() { return records_; }
    // A changed file could not be put back: the folder stays on Detach.
    void KeepFolder() { keepFolder_ = true; }
    bool KeepsFolder() const { return keepFolder_; }
    // Re-entry guard of CheckTemporaryFiles (its dialog activates windows).
    bool checking = false;

private:
    TempFileTracker() = default;
    ~TempFileTracker();

    std::string folder_;
    std::vector<Record> records_;
    bool keepFolder_ = false;
};

// The entries an Open, View, Copy or drag of `indices` extracts: each file
// entry itself, and for a folder entry every entry at and below its path.
std::vector<DWORD> EntriesWithContents(ICompressFormat* archive, const std::vector<DWORD>& indices);

// Extracts the entries (folders with their contents) into the archive's
// temporary folder, paths kept, only newer, through the context's runner.
// Returns the Extract result (E_FAIL without a tracker).
HRESULT ExtractToTemporaryFolder(const TempContext& context, const std::vector<DWORD>& indices);

// Open (40014) or View (32794) of one entry: extract it, track it, then
// the shell's default verb (open) or the configured viewer (view). False
// when nothing was opened.
bool OpenEntry(const TempContext& context, DWORD entryIndex, bool open);

// True when the first 80 bytes (or fewer) hold only text.
bool LooksLikeText(const BYTE* bytes, size_t count);

// Called when the user answers Yes to "You have to choose a viewer ..."; it
// should show the viewer page of the options. Null: nothing is shown.
using ViewerOptionsHook = void (*)(HWND owner);
void SetViewerOptionsHook(ViewerOptionsHook hook);

// Asks about each tracked file changed since it was extracted (dialog 123):
// Yes puts it back with Add (freshen), No deletes it, Cancel stops. False
// after Cancel.
bool CheckTemporaryFiles(const TempContext& context, const OperationSettings& settings);
// Before closing: checks the files and then drops every record. False (the
// close is refused) only when refusable and the user cancelled.
bool CloseTemporaryFiles(const TempContext& context, const OperationSettings& settings, bool refusable);

// Deletes a folder with all its files and sub-folders. False when something
// stayed.
bool DeleteFolderTree(const std::string& folder);

}  // namespace tescommands
