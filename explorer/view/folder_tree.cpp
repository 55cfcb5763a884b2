// FolderTree: tree items hold referenced IArchiveFolder nodes (item data);
// TVN_DELETEITEM releases them. A node's children are inserted the first
// time it expands, then sorted by name with a locale-aware, case-sensitive
// comparison.
#include "folder_tree.h"

#include "content_view.h"
#include "view_ids.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <shellapi.h>

#include <cstring>
#include <string>

namespace tesview {
namespace {

int CALLBACK CompareFolders(LPARAM first, LPARAM second, LPARAM) {
    auto* a = reinterpret_cast<IArchiveFolder*>(first);
    auto* b = reinterpret_cast<IArchiveFolder*>(second);
    if (!a || !b) return 0;
    return lstrcmpA(a->GetName(), b->GetName());
}

// Shell display name and icons of a name, looked up without disk access.
struct ShellLook {
    std::string name;
    int image = 0;
    int selectedImage = 0;
};

ShellLook LookUp(const char* path, DWORD attributes, bool openIcon) {
    ShellLook look;
    SHFILEINFOA info = {};
    if (SHGetFileInfoA(path, attributes, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_DISPLAYNAME)) {
        look.name = info.szDisplayName;
    }
    UINT icon = SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
    info = {};
    if (SHGetFileInfoA(path, attributes, &info, sizeof info, icon)) look.image = info.iIcon;
    look.selectedImage = look.image;
    if (openIcon) {
        info = {};
        if (SHGetFileInfoA(path, attributes, &info, sizeof info, icon | SHGFI_OPENICON)) {
            look.selectedImage = info.iIcon;
        }
    }
    return look;
}

std::string AfterLastSlash(const char* text) {
    const char* slash = strrchr(text, '\\');
    const char* other = strrchr(text, '/');
    if (!slash || (other && other > slash)) slash = other;
    return slash ? slash + 1 : text;
}

class BusyScope {
public:
    explicit BusyScope(HWND capture) {
        SetCapture(capture);
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
    }
    ~BusyScope() {
        ReleaseCapture();
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

}  // namespace

FolderTree::~FolderTree() {
    if (tree_ && IsWindow(tree_)) ClearTree();
}

HWND FolderTree::Create(HWND parent, HWND owner, HINSTANCE resources, ContentView* view) {
    owner_ = owner;
    resources_ = resources;
    view_ = view;
    tree_ = CreateWindowExA(0, WC_TREEVIEWA, "",
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | TVS_HASLINES |
                                TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_INFOTIP,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(TESVIEW_IDC_TREE)),
                            resources, nullptr);
    if (tree_) {
        SHFILEINFOA info = {};
        auto system = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
            "folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
            SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
        if (system) SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(system));
    }
    return tree_;
}

void FolderTree::ClearTree() {
    if (!tree_) return;
    // The list may show a folder of this tree: it goes with the nodes.
    if (view_ && view_->Folder()) view_->Clear();
    clearing_ = true;
    SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    clearing_ = false;
    archive_ = nullptr;
    commandItem_ = nullptr;
}

HTREEITEM FolderTree::InsertNode(HTREEITEM parent, IArchiveFolder* folder, const char* text, int image,
                                 int selectedImage) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<char*>(text);
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.lParam = reinterpret_cast<LPARAM>(folder);
    insert.item.cChildren = folder->GetFolderCount() != 0 ? 1 : 0;
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

HRESULT FolderTree::BuildTree(ICompressFormat* archive) {
    SendMessageA(tree_, WM_SETREDRAW, FALSE, 0);
    ClearTree();
    struct RedrawOn {
        HWND tree;
        ~RedrawOn() {
            SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(tree, nullptr, TRUE);
        }
    } redraw{tree_};
    if (!archive) return E_INVALIDARG;

    const char* path = archive->GetArchivePath();
    if (!path) path = "";
    ShellLook look = LookUp(path, FILE_ATTRIBUTE_NORMAL, false);
    if (look.name.empty()) look.name = AfterLastSlash(path);

    tessera::win32::ComPtr<IUnknown> unknown;
    HRESULT result = archive->GetFolderTree(unknown.put());
    if (FAILED(result)) return result;
    if (!unknown) return E_UNEXPECTED;
    tessera::win32::ComPtr<IArchiveFolder> rootReference;
    result = unknown.As(IID_IArchiveFolder, &rootReference);
    if (FAILED(result) || !rootReference) return FAILED(result) ? result : E_UNEXPECTED;
    IArchiveFolder* root = rootReference.get();

    archive_ = archive;
    TVINSERTSTRUCTA insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<char*>(look.name.c_str());
    insert.item.iImage = look.image;
    insert.item.iSelectedImage = look.image;
    insert.item.lParam = reinterpret_cast<LPARAM>(root);
    // A "+" only where expanding shows something.
    insert.item.cChildren = root->GetFolderCount() != 0 ? 1 : 0;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (!item) {
        archive_ = nullptr;
        return E_UNEXPECTED;
    }
    rootReference.detach();  // the root item holds it now
    fillResult_ = S_OK;
    SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    if (view_ && view_->Folder() != root && SUCCEEDED(fillResult_)) {
        // The root was selected already (a tree without other nodes):
        // fill the list for it directly.
        OnSelectionChanged(item);
    }
    return fillResult_;
}

IArchiveFolder* FolderTree::NodeFolder(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA tvi = {};
    tvi.mask = TVIF_PARAM | TVIF_HANDLE;
    tvi.hItem = item;
    if (!SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvi))) return nullptr;
    return reinterpret_cast<IArchiveFolder*>(tvi.lParam);
}

IArchiveFolder* FolderTree::SelectedFolder() const {
    return NodeFolder(reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0)));
}

IArchiveFolder* FolderTree::CommandFolder() const {
    return commandItem_ ? NodeFolder(commandItem_) : SelectedFolder();
}

bool FolderTree::CommandIsRoot() const {
    HTREEITEM item = commandItem_ ? commandItem_
                                  : reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
    return item && !SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item));
}

bool FolderTree::CanSelectParent() const {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
    return item && SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item));
}

bool FolderTree::SelectParent() {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return false;
    auto parent = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
    if (!parent) return false;
    return SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(parent)) != 0;
}

void FolderTree::ExpandChildren(HTREEITEM item) {
    IArchiveFolder* folder = NodeFolder(item);
    if (!folder || folder->GetFolderCount() == 0) return;
    if (SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))) return;  // done before
    BusyScope busy(tree_);
    tessera::win32::ComPtr<IEnumArchiveFolders> children;
    if (FAILED(folder->EnumFolders(0, children.put())) || !children) return;
    tessera::win32::ComPtr<IArchiveFolder> child;
    ULONG fetched = 0;
    while (children->Next(1, child.put(), &fetched) == S_OK && fetched == 1) {
        const char* name = child->GetName();
        if (!name) name = "";
        ShellLook look = LookUp(name, FILE_ATTRIBUTE_DIRECTORY, true);
        if (look.name.empty()) look.name = AfterLastSlash(name);
        // The tree item takes over the enumerator's reference.
        if (InsertNode(item, child.get(), look.name.c_str(), look.image, look.selectedImage)) child.detach();
    }
    TVSORTCB sort = {};
    sort.hParent = item;
    sort.lpfnCompare = CompareFolders;
    SendMessageA(tree_, TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
}

void FolderTree::OnSelectionChanged(HTREEITEM item) {
    if (clearing_ || !view_) return;
    IArchiveFolder* folder = NodeFolder(item);
    if (!folder) return;
    HRESULT result = view_->FillFolder(archive_, folder);
    if (owner_) SetTimer(owner_, TESVIEW_STATUS_TIMER, 1, nullptr);
    if (FAILED(result)) {
        fillResult_ = result;
        // Outside BuildTree nobody returns the failure: the program closes
        // the archive on this command.
        if (owner_) PostMessageA(owner_, WM_COMMAND, TESVIEW_CMD_CLOSE_ARCHIVE, 0);
    }
}

void FolderTree::OnInfoTip(NMTVGETINFOTIPA* tip) {
    if (!tip->pszText || tip->cchTextMax <= 0 || !archive_) return;
    IArchiveFolder* folder = reinterpret_cast<IArchiveFolder*>(tip->lParam);
    if (!folder) folder = NodeFolder(tip->hItem);
    if (!folder) return;
    IArchiveFolder* parent = nullptr;
    if (folder->GetParent(&parent) == S_FALSE) {
        if (!archive_->HasCapability(CAP_GETCOMMENT)) return;
        std::string comment(GETTEXT_BUFFER, '\0');
        if (SUCCEEDED(archive_->GetComment(owner_, &comment[0], static_cast<DWORD>(comment.size())))) {
            lstrcpynA(tip->pszText, comment.c_str(), tip->cchTextMax);
        }
        return;
    }
    DWORD index = folder->GetEntryIndex();
    const HDRSTRUCT* entries = archive_->GetEntries();
    if (index == FOLDER_NO_ENTRY || !entries || index >= archive_->GetEntryCount()) return;
    if (entries[index].comment) lstrcpynA(tip->pszText, entries[index].comment, tip->cchTextMax);
}

void FolderTree::OnRightClick() {
    POINT screen;
    GetCursorPos(&screen);
    TVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(tree_, &hit.pt);
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (item && !(hit.flags & TVHT_ONITEM)) item = nullptr;

    tessera::win32::MenuHandle menus;
    HMENU popup = nullptr;
    if (item) {
        menus.reset(LoadMenuA(resources_, MAKEINTRESOURCEA(TESVIEW_IDR_CONTEXT_MENUS)));
        if (!menus) return;
        bool root = !SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item));
        const char* wanted = root ? "Root" : "Folder";
        int count = GetMenuItemCount(menus.get());
        for (int i = 0; i < count && !popup; ++i) {
            char name[64] = "";
            GetMenuStringA(menus.get(), static_cast<UINT>(i), name, sizeof name, MF_BYPOSITION);
            if (lstrcmpiA(name, wanted) == 0) popup = GetSubMenu(menus.get(), i);
        }
        if (!popup) popup = GetSubMenu(menus.get(), root ? 1 : 2);
        if (!popup) return;
        SetMenuDefaultItem(popup, TESVIEW_CMD_EXPLORE_FOLDER, FALSE);
        IArchiveFolder* folder = NodeFolder(item);
        bool ownEntry = folder && folder->GetEntryIndex() != FOLDER_NO_ENTRY;
        EnableMenuItem(popup, TESVIEW_CMD_FOLDER_PROPERTIES, MF_BYCOMMAND | (ownEntry ? MF_ENABLED : MF_GRAYED));
    } else {
        HMENU bar = owner_ ? GetMenu(owner_) : nullptr;
        popup = bar ? GetSubMenu(bar, 4) : nullptr;
        if (!popup) return;
    }
    UINT command = static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN,
                                                    screen.x, screen.y, 0, owner_, nullptr));
    menus.reset();
    if (command && owner_) {
        commandItem_ = item;
        SendMessageA(owner_, WM_COMMAND, command, 0);
        commandItem_ = nullptr;
    }
}

bool FolderTree::HandleNotify(const NMHDR* header, LRESULT* result) {
    if (!header || header->hwndFrom != tree_) return false;
    *result = 0;
    switch (header->code) {
    case TVN_ITEMEXPANDINGA: {
        auto* view = reinterpret_cast<const NMTREEVIEWA*>(header);
        if (view->action & TVE_EXPAND) ExpandChildren(view->itemNew.hItem);
        return true;
    }
    case TVN_SELCHANGEDA: {
        auto* view = reinterpret_cast<const NMTREEVIEWA*>(header);
        OnSelectionChanged(view->itemNew.hItem);
        return true;
    }
    case TVN_DELETEITEMA: {
        auto* view = reinterpret_cast<const NMTREEVIEWA*>(header);
        // The node's reference goes with the node.
        tessera::win32::ComPtr<IArchiveFolder> reference(reinterpret_cast<IArchiveFolder*>(view->itemOld.lParam));
        return true;
    }
    case TVN_GETINFOTIPA:
        OnInfoTip(reinterpret_cast<NMTVGETINFOTIPA*>(const_cast<NMHDR*>(header)));
        return true;
    case NM_RCLICK:
        OnRightClick();
        *result = TRUE;
        return true;
    default:
        return false;
    }
}

void FolderTree::RenameRoot(const char* archivePath) {
    HTREEITEM root = TreeView_GetRoot(tree_);
    if (!root || !archivePath) return;
    ShellLook look = LookUp(archivePath, FILE_ATTRIBUTE_NORMAL, false);
    if (look.name.empty()) look.name = AfterLastSlash(archivePath);
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = root;
    item.pszText = const_cast<char*>(look.name.c_str());
    SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

}  // namespace tesview
