// SelectionBuffer: the SELHDRSTRUCT array a command hands to Extract,
// Delete or UpdateEntries (entry index, found flag 0, no destination
// override). It is built from list items, one entry, or a tree folder.
#pragma once

#include "tescore.h"

#include <vector>

namespace tesview {

class SelectionBuffer {
public:
    // Each builder replaces the contents and returns false (and Failed())
    // when the array could not be completed.
    bool FromFocused(HWND list);   // the focused list item only
    bool FromSelected(HWND list);  // all selected items, in list order
    bool FromEntry(DWORD index);
    // Every entry at and below folder: the folder's own entry when it has
    // one, its files, then each child folder the same way, in enumeration
    // order.
    bool FromFolder(IArchiveFolder* folder);

    SELHDRSTRUCT* Records() { return records_.empty() ? nullptr : records_.data(); }
    DWORD Count() const { return static_cast<DWORD>(records_.size()); }
    bool Failed() const { return failed_; }

private:
    void Add(DWORD index);
    bool AddFolder(IArchiveFolder* folder, bool countOnly, DWORD* count);

    std::vector<SELHDRSTRUCT> records_;
    bool failed_ = true;
};

}  // namespace tesview
