#include "folder_browser.h"

#include "win32/com_ptr.h"

#include <cwchar>
#include <vector>

namespace tescommands {

namespace {

using tessera::win32::ComPtr;

ComPtr<IShellFolder> BindFolder(LPCITEMIDLIST pidl) {
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put()))) return {};
    if (!pidl || pidl->mkid.cb == 0) return desktop;
    ComPtr<IShellFolder> folder;
    if (FAILED(desktop->BindToObject(pidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.put()))))
        folder.reset();
    return folder;
}

}  // namespace

bool FolderBrowser::Attach(HWND tree) {
    Detach();
    tree_ = tree;
    SHFILEINFOA info = {};
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (images) TreeView_SetImageList(tree_, images, TVSIL_NORMAL);
    tessera::win32::TaskMemory<ITEMIDLIST> desktop;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, desktop.put())) || !desktop) return false;
    HTREEITEM root = Insert(TVI_ROOT, std::move(desktop));
    if (!root) return false;
    TreeView_Expand(tree_, root, TVE_EXPAND);
    HTREEITEM first = TreeView_GetChild(tree_, root);
    if (first) TreeView_Expand(tree_, first, TVE_EXPAND);
    return true;
}

void FolderBrowser::Detach() {
    if (tree_ && IsWindow(tree_)) {
        // No selection first, so that deleting moves no selection onto
        // nodes already freed.
        TreeView_SelectItem(tree_, nullptr);
        TreeView_DeleteAllItems(tree_);  // TVN_DELETEITEM frees the nodes
    }
    tree_ = nullptr;
}

FolderBrowser::Node* FolderBrowser::NodeOf(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA data = {};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    if (!TreeView_GetItem(tree_, &data)) return nullptr;
    return reinterpret_cast<Node*>(data.lParam);
}

HTREEITEM FolderBrowser::Insert(HTREEITEM parent, tessera::win32::TaskMemory<ITEMIDLIST> absolute) {
    SHFILEINFOA info = {};
    SHGetFileInfoA(reinterpret_cast<LPCSTR>(absolute.get()), 0, &info, sizeof info,
                   SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    SHFILEINFOA open = {};
    SHGetFileInfoA(reinterpret_cast<LPCSTR>(absolute.get()), 0, &open, sizeof open,
                   SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON);
    Node* node = new Node{std::move(absolute), false};
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    insert.item.pszText = info.szDisplayName;
    insert.item.iImage = info.iIcon;
    insert.item.iSelectedImage = open.iIcon;
    insert.item.cChildren = 1;  // settled when the node is first expanded
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (!item) delete node;
    return item;
}

void FolderBrowser::Enumerate(HTREEITEM item) {
    Node* node = NodeOf(item);
    if (!node || node->enumerated) return;
    node->enumerated = true;
    ComPtr<IShellFolder> folder = BindFolder(node->pidl.get());
    int added = 0;
    if (folder) {
        ComPtr<IEnumIDList> items;
        if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS, items.put()) == S_OK && items) {
            tessera::win32::TaskMemory<ITEMIDLIST> child;
            ULONG fetched = 0;
            while (items->Next(1, child.put(), &fetched) == S_OK && fetched == 1) {
                SFGAOF attributes = SFGAO_FOLDER | SFGAO_STREAM;
                LPCITEMIDLIST one = child.get();
                if (SUCCEEDED(folder->GetAttributesOf(1, &one, &attributes)) && (attributes & SFGAO_FOLDER) &&
                    !(attributes & SFGAO_STREAM)) {
                    tessera::win32::TaskMemory<ITEMIDLIST> absolute(ILCombine(node->pidl.get(), child.get()));
                    if (absolute && Insert(item, std::move(absolute))) ++added;
                }
            }
        }
    }
    if (added) {
        TreeView_SortChildren(tree_, item, FALSE);
    } else {
        TVITEMA data = {};
        data.mask = TVIF_CHILDREN;
        data.hItem = item;
        data.cChildren = 0;
        TreeView_SetItem(tree_, &data);
    }
}

bool FolderBrowser::HandleNotify(const NMHDR* header, LRESULT* result) {
    if (!tree_ || header->hwndFrom != tree_) return false;
    *result = 0;
    if (header->code == TVN_ITEMEXPANDINGA || header->code == TVN_ITEMEXPANDINGW) {
        const NMTREEVIEWA* view = reinterpret_cast<const NMTREEVIEWA*>(header);
        if (view->action & TVE_EXPAND) Enumerate(view->itemNew.hItem);
        return true;
    }
    if (header->code == TVN_DELETEITEMA || header->code == TVN_DELETEITEMW) {
        const NMTREEVIEWA* view = reinterpret_cast<const NMTREEVIEWA*>(header);
        delete reinterpret_cast<Node*>(view->itemOld.lParam);
        return true;
    }
    return false;
}

std::string FolderBrowser::PathOf(HTREEITEM item) const {
    Node* node = NodeOf(item);
    char path[MAX_PATH];
    if (!node || !SHGetPathFromIDListA(node->pidl.get(), path)) return std::string();
    return path;
}

std::string FolderBrowser::SelectedPath() const { return tree_ ? PathOf(TreeView_GetSelection(tree_)) : std::string(); }

bool FolderBrowser::SelectPath(const char* path) {
    if (!tree_) return false;
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put()))) return false;
    std::vector<wchar_t> wide(MAX_PATH);
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), MAX_PATH);
    tessera::win32::TaskMemory<ITEMIDLIST> target;
    HRESULT parsed = desktop->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, target.put(), nullptr);
    desktop.reset();
    if (FAILED(parsed) || !target) return false;
    bool found = false;
    HTREEITEM item = TreeView_GetRoot(tree_);
    while (item) {
        Node* node = NodeOf(item);
        if (!node) break;
        if (ILIsEqual(node->pidl.get(), target.get())) {
            TreeView_SelectItem(tree_, item);
            TreeView_EnsureVisible(tree_, item);
            found = true;
            break;
        }
        Enumerate(item);
        TreeView_Expand(tree_, item, TVE_EXPAND);
        HTREEITEM next = nullptr;
        for (HTREEITEM child = TreeView_GetChild(tree_, item); child; child = TreeView_GetNextSibling(tree_, child)) {
            Node* childNode = NodeOf(child);
            if (childNode && (ILIsEqual(childNode->pidl.get(), target.get()) ||
                              ILIsParent(childNode->pidl.get(), target.get(), FALSE))) {
                next = child;
                break;
            }
        }
        item = next;
    }
    return found;
}

void FolderBrowser::RefreshSelected() {
    HTREEITEM item = tree_ ? TreeView_GetSelection(tree_) : nullptr;
    Node* node = NodeOf(item);
    if (!node) return;
    HTREEITEM child;
    while ((child = TreeView_GetChild(tree_, item)) != nullptr) TreeView_DeleteItem(tree_, child);
    node->enumerated = false;
    TVITEMA data = {};
    data.mask = TVIF_CHILDREN | TVIF_STATE;
    data.hItem = item;
    data.cChildren = 1;
    data.stateMask = TVIS_EXPANDEDONCE;
    data.state = 0;
    TreeView_SetItem(tree_, &data);
    Enumerate(item);
    TreeView_Expand(tree_, item, TVE_EXPAND);
}

}  // namespace tescommands
