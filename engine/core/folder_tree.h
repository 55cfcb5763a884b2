// The folder tree of an archive's flat entry list, as the explorer shows it:
// folders with their subfolders and files (entry numbers), built once from a
// snapshot of the entries and handed out as IArchiveFolder.
#pragma once

#include "tescore.h"

#include <windows.h>

// Turns the stored name of entry `index` into its display path (backslash
// separators, no trailing backslash) in a buffer of GETTEXT_BUFFER
// characters. Returning false leaves the entry out of the tree.
using FolderTreeNameProc = bool (*)(void* context, const HDRSTRUCT& entry, DWORD index, char* path);

// Display path of an entry name (text already, as the readers give it):
// slashes to backslashes, a trailing backslash removed. False for an empty
// or missing name.
bool DefaultFolderTreeName(void* context, const HDRSTRUCT& entry, DWORD index, char* path);

// Builds the tree of `count` entries and stores its root, answering
// IArchiveFolder, in *out. The tree copies what it needs (names, entry
// numbers), so it stays valid after the entry list goes, although entry
// numbers only mean something while that list lives. The whole tree lives as
// long as any of its folders or enumerators is referenced.
// E_INVALIDARG for a null out (or entries with a non-zero count),
// E_OUTOFMEMORY when the tree cannot be allocated.
HRESULT CreateArchiveFolderTree(const HDRSTRUCT* entries, DWORD count, IUnknown** out,
                                FolderTreeNameProc convertName = DefaultFolderTreeName,
                                void* context = nullptr);

// The tree of an archive object's current entry list, with the names
// converted by the object's own GetText kind 3 (its format's separators and
// code page).
HRESULT CreateArchiveFolderTree(ICompressFormat* archive, IUnknown** out);
