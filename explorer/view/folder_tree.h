// FolderTree: the folder tree of the side pane. Its nodes carry the
// engine's folder nodes (IArchiveFolder, one reference per tree node,
// released when the node is deleted); children are enumerated when a node
// is first expanded. Selecting a node fills the ContentView with that
// folder's files.
#pragma once

#include "tescore.h"

#include <commctrl.h>

namespace tesview {

class ContentView;

class FolderTree {
public:
    FolderTree() = default;
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;
    ~FolderTree();

    // Creates the tree (SysTreeView32, id 9994, lines, buttons, root lines,
    // info tips) as a child of parent (the side pane). owner is the
    // explorer window: it receives the context-menu commands, the status
    // timer and the fifth menu-bar popup is taken from its menu. resources
    // holds menu 301. Returns the window or null.
    HWND Create(HWND parent, HWND owner, HINSTANCE resources, ContentView* view);
    HWND Window() const { return tree_; }

    // Clears the tree, builds it from GetFolderTree of archive, expands and
    // selects the root (which fills the list). Returns S_OK, the failure of
    // GetFolderTree, E_UNEXPECTED when the root cannot be inserted, or the
    // list's fill result.
    HRESULT BuildTree(ICompressFormat* archive);
    // Deletes every node (releasing the folder nodes); the list is not
    // refilled while this runs.
    void ClearTree();

    // Notifications from the tree (WM_NOTIFY with idFrom 9994): expanding,
    // selection changed, delete item, info tip, right click. Begin drag
    // stays with the program (NodeFolder gives the folder). True when
    // handled, with the result in *result.
    bool HandleNotify(const NMHDR* header, LRESULT* result);

    // The folder node of a tree item (no reference added), or null.
    IArchiveFolder* NodeFolder(HTREEITEM item) const;
    IArchiveFolder* SelectedFolder() const;
    // The node a context-menu command is about: the node the menu was
    // opened on while its command is being sent, else the selected node.
    IArchiveFolder* CommandFolder() const;
    bool CommandIsRoot() const;
    // The archive file has a new name: the root node shows it.
    void RenameRoot(const char* archivePath);
    // Up one folder (40074): selects the parent of the selected node.
    // False when there is none.
    bool SelectParent();
    bool CanSelectParent() const;

private:
    HTREEITEM InsertNode(HTREEITEM parent, IArchiveFolder* folder, const char* text, int image,
                         int selectedImage);
    void ExpandChildren(HTREEITEM item);
    void OnSelectionChanged(HTREEITEM item);
    void OnInfoTip(NMTVGETINFOTIPA* tip);
    void OnRightClick();

    HWND tree_ = nullptr;
    HWND owner_ = nullptr;
    HINSTANCE resources_ = nullptr;
    ContentView* view_ = nullptr;
    ICompressFormat* archive_ = nullptr;
    bool clearing_ = false;
    HRESULT fillResult_ = S_OK;
    HTREEITEM commandItem_ = nullptr;
};

}  // namespace tesview
