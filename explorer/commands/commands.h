// The archive commands of the explorer window: Extract, Delete, Test,
// Create and Add, with their dialogs (tescommands.rc), plus the Output
// window and the windowless form of Add that start-up uses.
//
// The commands reach the window only through CommandHost. Wiring in the
// explorer window:
//   build:    explorer/CMakeLists.txt adds view/ before commands/ (the
//             commands add the view themselves when it is missing) and
//             links tescommands; the resource compiler needs
//             explorer/commands and explorer/view on its include path.
//   resources: the program's script includes tescommands.rc (and
//             tesview.rc); CommandHost::Resources() returns the program's
//             instance. tescommands.rc holds dialogs 101, 103, 108, 109,
//             111, 112, 115, 116, 117, 118, 122, 125, 126, 132, menu 311 (popups
//             "Add" and "Opt", apart from the window's menu 301) and the
//             strings 11, 21, 22, 23, 34, 35, 42, 45, 49, 52, 54, 60, 61,
//             64, 65, 66, 67, 68, 69, 70;
//             the program's own table must not define those numbers.
//             Engine messages (4096 and up) are loaded from tescore.dll.
//   RunOperation: the frame of every changing or extracting operation --
//             attach the OutputLog, call with the window as owner, detach;
//             kOfferLogOnWarnings: on S_FALSE ask question 50 and on Yes
//             ShowOutputWindow; kRefreshOnSuccess: a non-negative result
//             refreshes the view (forced). Extract passes only the first,
//             Test neither (it shows the Output window itself).
//   32795, WM_USER+5, "/E":  ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr)
//   40043:                   ExtractCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr)
//   40019 (tree):            ExtractCommand(host, TESCMD_IDC_SCOPE_FOLDER, tree.CommandFolder())
//   32793:                   DeleteCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr)
//   40020 (tree):            DeleteCommand(host, TESCMD_IDC_SCOPE_FOLDER, tree.CommandFolder())
//   40016:                   TestCommand(host)
//   32770:                   CreateArchiveCommand(host, nullptr, false)
//   drop, no archive open:   CreateArchiveCommand(host, folderOfFirstFile, true)
//   40012:                   AddFilesCommand(host, {})
//   drop, archive open:      AddFilesCommand(host, DroppedPaths(block))
//   "/A:archive -h files":   AddWithoutWindow(instance, archive, files, settings)
//   40034, Yes to question 50: ShowOutputWindow(window, instance, log text)
//   40033:                   CreateExeCommand(host)
//   40032:                   RemoveExeCommand(host)
//   "/S archive [options]":  CreateExeFromCommandLine(instance, archive, options)
//   The commands run only while no other operation of the window is in
//   progress (they are modal); the archive object is the host's throughout.
#pragma once

#include "tescore.h"
#include "selection_buffer.h"

#include <shellapi.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

namespace tescommands {

// Program settings the operations take (section "Settings", read at
// start-up): "TempPath", "ModifyTime", "Suffix", "ExploreExtractFolder".
struct OperationSettings {
    std::string tempFolder;      // with a trailing "\"
    std::string storeOnlyList;   // extensions never compressed
    BOOL modifyTime = TRUE;      // archive time from its newest file
    bool exploreExtractFolder = true;
};

// One archive operation: called with the archive object and the window as
// owner.
using OperationCall = std::function<HRESULT(ICompressFormat* archive, HWND owner)>;

enum OperationFlags : unsigned {
    kOfferLogOnWarnings = 0x1,  // S_FALSE asks question 50 and may show the log
    kRefreshOnSuccess = 0x2,    // a non-negative result refreshes the view (forced)
};

// What the commands need from the explorer window.
class CommandHost {
public:
    virtual ~CommandHost() = default;

    virtual HWND Owner() = 0;           // the explorer window
    virtual HINSTANCE Resources() = 0;  // module holding tescommands.rc
    virtual const OperationSettings& Settings() = 0;

    // The open archive (no reference added), or null.
    virtual ICompressFormat* Archive() = 0;
    // Whether the list has selected items, and the SELHDRSTRUCT array of
    // them in list order (SelectionBuffer::FromSelected on the list).
    virtual bool HasSelectedEntries() = 0;
    virtual bool BuildSelection(tesview::SelectionBuffer* selection) = 0;
    // The folder selected in the tree (no reference added); null in flat
    // mode.
    virtual IArchiveFolder* SelectedFolder() = 0;

    // The operation frame: attach the window's OutputLog (emptied) as the
    // object's message callback, call, detach; then as the flags say.
    // Returns the call's result.
    virtual HRESULT RunOperation(const OperationCall& call, unsigned flags) = 0;
    // The text the OutputLog gathered during the last operation.
    virtual std::string LogText() = 0;

    // Closes the current archive (a refusal returns false and keeps it),
    // then makes `object` the window's archive without listing it; the
    // window takes over the caller's reference only on success.
    virtual bool AdoptArchive(ICompressFormat* object) = 0;
    // Opens the archive at path as the window's archive.
    virtual bool OpenArchive(const char* path, bool addToHistory) = 0;
    // After the archive file was deleted (or deleting failed): remove path
    // from the recent archives and the history and close the archive.
    virtual void ForgetArchive(const char* path) = 0;
    // Opens folder in the shell (verb "explore", normal window).
    virtual void ExploreFolder(const char* folder) = 0;
};

// Extract command. scopePreset: TESCMD_IDC_SCOPE_ALL, _SELECTED or
// _FOLDER; folder: the tree node for _FOLDER, else null (then the tree's
// selected folder is the target).
void ExtractCommand(CommandHost& host, int scopePreset, IArchiveFolder* folder);
void DeleteCommand(CommandHost& host, int scopePreset, IArchiveFolder* folder);
void TestCommand(CommandHost& host);

// Create .exe file (40033): dialog 132 on the open archive.
void CreateExeCommand(CommandHost& host);
// Remove .exe module (40032): the archive without its program part, beside
// it with the format's plain extension.
void RemoveExeCommand(CommandHost& host);
// The start-up form "/S": without options the dialog (no owner, no output
// log), with options a windowless creation. The program ends afterwards.
void CreateExeFromCommandLine(HINSTANCE resources, const std::string& archivePath,
                              const std::vector<std::string>& options);

// Create command (32770). initialFolder: the dialog's folder, or null for
// "Settings"/"CreateDir". forDroppedFiles: the variant with template 111,
// no Add dialog afterwards, and an existing file simply opened.
void CreateArchiveCommand(CommandHost& host, const char* initialFolder, bool forDroppedFiles);
// Add command: the Add dialog with the dropped files (if any) as rows,
// then Add in the operation frame and a forced refresh.
void AddFilesCommand(CommandHost& host, const std::vector<std::string>& droppedFiles);
// "/A:archive -h files": no window. Creates the object, lists it, shows the
// Add dialog without owner and adds. Returns the Add result (E_ABORT after
// Cancel, a failure when the archive cannot be opened).
HRESULT AddWithoutWindow(HINSTANCE resources, const char* archivePath,
                         const std::vector<std::string>& files, const OperationSettings& settings);

// The paths of a file-drop block (narrow or wide names).
std::vector<std::string> DroppedPaths(const DROPFILES* block);

// The Output window (dialog 118): the text, "&Save", "&Copy", "Cl&ose".
void ShowOutputWindow(HWND owner, HINSTANCE resources, const std::string& text);

// The "Browse for folder" dialog (116) starting at *folder; true and the
// chosen folder in *folder on OK.
bool ChooseFolder(HINSTANCE resources, HWND owner, std::string* folder);

}  // namespace tescommands
