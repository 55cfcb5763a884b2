// FolderBrowser: a tree view of the shell namespace rooted at the desktop,
// showing only folders with the system's small icons. Children are
// enumerated the first time a node expands; the root and its first child
// are expanded at once. Used by the Extract and Select folder dialogs.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "win32/handles.h"

namespace tescommands {

class FolderBrowser {
public:
    FolderBrowser() = default;
    ~FolderBrowser() { Detach(); }
    FolderBrowser(const FolderBrowser&) = delete;
    FolderBrowser& operator=(const FolderBrowser&) = delete;

    bool Attach(HWND tree);
    // Frees every node (call before the tree is destroyed, or let the
    // destructor do it after the tree is gone).
    void Detach();
    // TVN_ITEMEXPANDING and TVN_DELETEITEM of the tree. Returns true when the
    // notification was the tree's.
    bool HandleNotify(const NMHDR* header, LRESULT* result);

    // The file-system path of the selected node; empty when none is
    // selected or it is no file-system folder.
    std::string SelectedPath() const;
    std::string PathOf(HTREEITEM item) const;
    // Expands the namespace down to path and selects it.
    bool SelectPath(const char* path);
    // Enumerates the selected node's children again (after a new folder).
    void RefreshSelected();

private:
    struct Node {
        tessera::win32::TaskMemory<ITEMIDLIST> pidl;  // absolute
        bool enumerated;
    };
    HTREEITEM Insert(HTREEITEM parent, tessera::win32::TaskMemory<ITEMIDLIST> absolute);
    void Enumerate(HTREEITEM item);
    Node* NodeOf(HTREEITEM item) const;

    HWND tree_ = nullptr;
};

}  // namespace tescommands
