// Folder tree of an entry list. Every entry path is split at backslashes and
// walked from the root: folder components find or make a child node (names
// compared ignoring case, the first spelling wins), the last component of a
// file entry becomes a file cell, and a folder entry gives its node the entry
// number.
//
// Finding a child by name goes through one ordered index per tree, keyed by
// parent and name in lstrcmpiA order: a linear search of the siblings made
// archives with tens of thousands of folders in one place take minutes.
//
// All nodes of one tree share one reference count, held by the tree: a caller
// may keep any folder (or an enumerator) after dropping the root, and the
// parent links and file cells it reaches stay valid until the last reference
// to any part of the tree is gone.
#include "core/folder_tree.h"

#include "win32/com_ptr.h"

#include <cstring>
#include <new>
#include <set>

namespace {

constexpr DWORD kFolderAttribute = FILE_ATTRIBUTE_DIRECTORY;  // 0x10

struct FileCell {
    DWORD entry;
    FileCell* next;
};

class FolderTree;

class FolderNode final : public IArchiveFolder {
public:
    FolderNode(FolderTree* tree, FolderNode* parent, const char* name, size_t length);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IArchiveFolder
    HRESULT STDMETHODCALLTYPE EnumFolders(DWORD unused, IEnumArchiveFolders** out) override;
    HRESULT STDMETHODCALLTYPE EnumFiles(DWORD unused, IEnumArchiveFiles** out) override;
    DWORD STDMETHODCALLTYPE GetFolderCount() override { return folderCount_; }
    DWORD STDMETHODCALLTYPE GetFileCount() override { return fileCount_; }
    HRESULT STDMETHODCALLTYPE GetParent(IArchiveFolder** parent) override;
    DWORD STDMETHODCALLTYPE GetEntryIndex() override { return entry_; }
    LPCSTR STDMETHODCALLTYPE GetName() override { return name_; }

    // Building.
    void AppendChild(FolderNode* child);
    void AppendFile(FileCell* cell);
    void SetEntry(DWORD entry) { entry_ = entry; }

    FolderNode* parent() const { return parent_; }
    const char* name() const { return name_; }
    FolderNode* firstChild() const { return firstChild_; }
    FolderNode* nextSibling() const { return nextSibling_; }
    FileCell* firstFile() const { return firstFile_; }
    FolderNode* nextInTree = nullptr;  // every node of the tree, for freeing

private:
    FolderTree* tree_;
    FolderNode* parent_;  // null for the root
    FolderNode* firstChild_ = nullptr;
    FolderNode* lastChild_ = nullptr;
    FolderNode* nextSibling_ = nullptr;
    DWORD folderCount_ = 0;
    FileCell* firstFile_ = nullptr;
    FileCell* lastFile_ = nullptr;
    DWORD fileCount_ = 0;
    DWORD entry_ = FOLDER_NO_ENTRY;
    char name_[MAX_PATH];
};

// A child folder as the index looks it up.
struct ChildKey {
    const FolderNode* parent;
    const char* name;
};

// Orders folders by parent, then by name ignoring case as lstrcmpiA does.
struct ChildOrder {
    using is_transparent = void;
    static bool Less(const FolderNode* pa, const char* na, const FolderNode* pb, const char* nb) {
        if (pa != pb) return pa < pb;
        return lstrcmpiA(na, nb) < 0;
    }
    bool operator()(const FolderNode* a, const FolderNode* b) const {
        return Less(a->parent(), a->name(), b->parent(), b->name());
    }
    bool operator()(const FolderNode* a, const ChildKey& b) const {
        return Less(a->parent(), a->name(), b.parent, b.name);
    }
    bool operator()(const ChildKey& a, const FolderNode* b) const {
        return Less(a.parent, a.name, b->parent(), b->name());
    }
};

// Owns the nodes and the file-cell store (one cell per entry at most).
class FolderTree {
public:
    ~FolderTree() {
        while (nodes_) {
            FolderNode* next = nodes_->nextInTree;
            delete nodes_;
            nodes_ = next;
        }
        delete[] cells_;
    }

    bool Init(DWORD capacity) {
        cells_ = new (std::nothrow) FileCell[capacity ? capacity : 1];
        capacity_ = capacity;
        root_ = NewNode(nullptr, "", 0);
        return cells_ && root_;
    }

    FolderNode* NewNode(FolderNode* parent, const char* name, size_t length) {
        FolderNode* node = new (std::nothrow) FolderNode(this, parent, name, length);
        if (node) {
            node->nextInTree = nodes_;
            nodes_ = node;
        }
        return node;
    }

    FileCell* NewCell(DWORD entry) {
        if (used_ >= capacity_) return nullptr;
        FileCell* cell = &cells_[used_++];
        cell->entry = entry;
        cell->next = nullptr;
        return cell;
    }

    // The child of parent called name (ignoring case), or null.
    FolderNode* FindChild(const FolderNode* parent, const char* name) const {
        auto found = index_.find(ChildKey{parent, name});
        return found == index_.end() ? nullptr : *found;
    }
    // May throw std::bad_alloc.
    void IndexChild(FolderNode* child) { index_.insert(child); }
    // Building is done: the index is not needed any more.
    void DropIndex() { std::set<FolderNode*, ChildOrder>().swap(index_); }

    FolderNode* root() const { return root_; }
    ULONG AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG Release() {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG refs_ = 0;
    FolderNode* nodes_ = nullptr;
    FolderNode* root_ = nullptr;
    FileCell* cells_ = nullptr;
    DWORD capacity_ = 0;
    DWORD used_ = 0;
    std::set<FolderNode*, ChildOrder> index_;
};

// Enumerator over a chain (child folders or file cells). Holds the tree
// through its folder for as long as it lives.
template <class Interface, class Item, class Link>
class ChainEnum final : public Interface {
public:
    ChainEnum(FolderNode* folder, const Link* first)
        : folder_(tessera::win32::ComPtr<FolderNode>::Share(folder)), first_(first), current_(first) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, OwnIid())) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!items && count) return E_POINTER;
        ULONG delivered = 0;
        for (; delivered < count && current_; ++delivered) {
            items[delivered] = Deliver(current_);
            current_ = Advance(current_);
        }
        if (fetched) *fetched = delivered;
        return delivered == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override {
        current_ = first_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    static const IID& OwnIid();
    static Item Deliver(const Link* link);
    static const Link* Advance(const Link* link);

    LONG refs_ = 1;
    tessera::win32::ComPtr<FolderNode> folder_;  // keeps the tree alive
    const Link* first_;
    const Link* current_;
};

using FolderEnum = ChainEnum<IEnumArchiveFolders, IArchiveFolder*, FolderNode>;
using FileEnum = ChainEnum<IEnumArchiveFiles, DWORD, FileCell>;

template <>
const IID& FolderEnum::OwnIid() {
    return IID_IEnumArchiveFolders;
}
template <>
IArchiveFolder* FolderEnum::Deliver(const FolderNode* node) {
    auto* folder = const_cast<FolderNode*>(node);
    folder->AddRef();
    return folder;
}
template <>
const FolderNode* FolderEnum::Advance(const FolderNode* node) {
    return node->nextSibling();
}

template <>
const IID& FileEnum::OwnIid() {
    return IID_IEnumArchiveFiles;
}
template <>
DWORD FileEnum::Deliver(const FileCell* cell) {
    return cell->entry;
}
template <>
const FileCell* FileEnum::Advance(const FileCell* cell) {
    return cell->next;
}

FolderNode::FolderNode(FolderTree* tree, FolderNode* parent, const char* name, size_t length)
    : tree_(tree), parent_(parent) {
    if (length >= sizeof name_) length = sizeof name_ - 1;
    std::memcpy(name_, name, length);
    name_[length] = '\0';
}

HRESULT FolderNode::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IArchiveFolder)) {
        *out = static_cast<IArchiveFolder*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG FolderNode::AddRef() {
    return tree_->AddRef();
}

ULONG FolderNode::Release() {
    return tree_->Release();
}

HRESULT FolderNode::EnumFolders(DWORD, IEnumArchiveFolders** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) FolderEnum(this, firstChild_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT FolderNode::EnumFiles(DWORD, IEnumArchiveFiles** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) FileEnum(this, firstFile_);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT FolderNode::GetParent(IArchiveFolder** parent) {
    if (parent) *parent = parent_;
    return parent_ ? S_OK : S_FALSE;
}

void FolderNode::AppendChild(FolderNode* child) {
    if (lastChild_)
        lastChild_->nextSibling_ = child;
    else
        firstChild_ = child;
    lastChild_ = child;
    ++folderCount_;
}

void FolderNode::AppendFile(FileCell* cell) {
    if (lastFile_)
        lastFile_->next = cell;
    else
        firstFile_ = cell;
    lastFile_ = cell;
    ++fileCount_;
}

// Places one entry, given its display path, in the tree. Empty components
// (doubled or leading backslashes) are passed over; a path without any
// component adds nothing.
bool AddEntry(FolderTree& tree, const char* path, DWORD index, bool isFolder) {
    FolderNode* node = tree.root();
    const char* p = path;
    while (*p) {
        while (*p == '\\') ++p;
        if (!*p) break;
        const char* end = p;
        while (*end && *end != '\\') ++end;
        const char* rest = end;
        while (*rest == '\\') ++rest;
        const bool last = *rest == '\0';
        const size_t length = static_cast<size_t>(end - p);

        if (last && !isFolder) {
            FileCell* cell = tree.NewCell(index);
            if (!cell) return false;
            node->AppendFile(cell);
            return true;
        }
        char name[MAX_PATH];
        const size_t kept = length < sizeof name ? length : sizeof name - 1;
        std::memcpy(name, p, kept);
        name[kept] = '\0';
        FolderNode* child = tree.FindChild(node, name);
        if (!child) {
            child = tree.NewNode(node, name, kept);
            if (!child) return false;
            try {
                tree.IndexChild(child);
            } catch (const std::bad_alloc&) {
                return false;
            }
            node->AppendChild(child);
        }
        if (last) child->SetEntry(index);
        node = child;
        p = rest;
    }
    return true;
}

// Name conversion through the archive object that owns the entries.
bool ArchiveFolderTreeName(void* context, const HDRSTRUCT& entry, DWORD, char* path) {
    auto* archive = static_cast<ICompressFormat*>(context);
    path[0] = '\0';
    return archive->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(entry.name), path) >= 0 &&
           path[0] != '\0';
}

}  // namespace

bool DefaultFolderTreeName(void*, const HDRSTRUCT& entry, DWORD, char* path) {
    path[0] = '\0';
    if (!entry.name || !entry.name[0]) return false;
    const size_t length = std::strlen(entry.name);
    if (length >= MAX_PATH) return false;
    std::memcpy(path, entry.name, length + 1);  // entry names are text already
    size_t n = 0;
    for (; path[n]; ++n) {
        if (path[n] == '/') path[n] = '\\';
    }
    if (n > 0 && path[n - 1] == '\\') path[n - 1] = '\0';
    return path[0] != '\0';
}

HRESULT CreateArchiveFolderTree(const HDRSTRUCT* entries, DWORD count, IUnknown** out,
                                FolderTreeNameProc convertName, void* context) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!entries && count) return E_INVALIDARG;
    if (!convertName) convertName = DefaultFolderTreeName;

    // The building reference.
    auto tree = tessera::win32::ComPtr<FolderTree>::Share(new (std::nothrow) FolderTree);
    if (!tree || !tree->Init(count)) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) {
        char path[GETTEXT_BUFFER];
        if (!convertName(context, entries[i], i, path)) continue;
        path[GETTEXT_BUFFER - 1] = '\0';
        if (!AddEntry(*tree.get(), path, i, (entries[i].attributes & kFolderAttribute) != 0)) return E_OUTOFMEMORY;
    }
    tree->DropIndex();
    return tree->root()->QueryInterface(IID_IArchiveFolder, reinterpret_cast<void**>(out));
}

HRESULT CreateArchiveFolderTree(ICompressFormat* archive, IUnknown** out) {
    if (!archive) {
        if (out) *out = nullptr;
        return E_INVALIDARG;
    }
    return CreateArchiveFolderTree(archive->GetEntries(), archive->GetEntryCount(), out,
                                   ArchiveFolderTreeName, archive);
}
