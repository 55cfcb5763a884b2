// Entries leaving the archive as files: the file-drop block, the clipboard
// commands (Copy, Cut, Paste) and dragging entries out with a data object
// that extracts them only when the drop target asks for them.
//
// Like temp_files.h, every piece takes the archive object and entry
// numbers (TempContext), not a window of the program:
//
//   drag of list rows / result rows:
//       DragEntriesOut(context, indices, "", window)
//   drag of a tree folder:
//       DragEntriesOut(context, folderEntries, FolderDisplayPath(folder), window)
//   the data object alone (tests, other drag sources):
//       CreateDelayedFileDrop(producer, &object)
#pragma once

#include "temp_files.h"

#include <objidl.h>

#include <functional>
#include <string>
#include <vector>

namespace tescommands {

// The system's file-drop block (DROPFILES, narrow names, each ending in a
// zero byte, one more zero at the end) in shareable movable global memory;
// null without memory. The caller owns it.
HGLOBAL MakeFileDropBlock(const std::vector<std::string>& paths);

// The display path of a tree folder inside the archive ("a\b"; "" for the
// root).
std::string FolderDisplayPath(IArchiveFolder* folder);

// Extracts the entries into the archive's temporary folder (paths kept,
// only newer) and gives the paths a transfer offers: one per entry, or,
// with a folderPath, the single path of that folder in the temporary
// folder ("\\" for the tree's root: the temporary folder itself). False
// when the extraction failed.
bool ExtractForTransfer(const TempContext& context, const std::vector<DWORD>& indices,
                        const std::string& folderPath, std::vector<std::string>* paths);

// Copy (32787) and Cut (32789), and Copy folder / Cut folder (40021,
// 40022) with a folderPath: extract, then place the file-drop block on the
// clipboard. False when nothing was placed.
bool CopyEntriesToClipboard(const TempContext& context, const std::vector<DWORD>& indices,
                            const std::string& folderPath);
// Cut: after the copy, question 107 while "CutPromt" is on, then Delete of
// the entries in the operation frame (refreshing). True when deleted.
bool CutEntries(const TempContext& context, const OperationSettings& settings, const std::vector<DWORD>& indices,
                const std::string& folderPath);
// The file names of the clipboard's file-drop data; false when it has none
// or cannot be opened (then error 10 was shown).
bool ClipboardFiles(HWND owner, HINSTANCE resources, std::vector<std::string>* files);

// Gives the paths to offer; false when there are none (extraction failed).
using FileProducer = std::function<bool(std::vector<std::string>* paths)>;
// The drag's data object: one format, the file-drop block in global memory.
// producer runs once, on the first GetData after the drop (while the mouse
// is captured the drag still runs and GetData fails).
HRESULT CreateDelayedFileDrop(FileProducer producer, IDataObject** object);

// Drags the entries out (copy and move allowed); acceptingWindow takes no
// dropped files meanwhile. Returns the drop effect (DROPEFFECT_NONE when
// cancelled).
DWORD DragEntriesOut(const TempContext& context, const std::vector<DWORD>& indices, const std::string& folderPath,
                     HWND acceptingWindow);

}  // namespace tescommands
