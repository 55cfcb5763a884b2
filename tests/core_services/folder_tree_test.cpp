// Folder tree of an entry list: the shape built from stored names, and the
// COM-style folder and enumerator objects that hand it out.
#include <gtest/gtest.h>

#include "core/compress_format.h"
#include "core/folder_tree.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

struct Entry {
    const char* name;
    DWORD attributes;
};

// Entry records whose names point into the table (as an archive's do into
// its pool).
std::vector<HDRSTRUCT> MakeEntries(const std::vector<Entry>& table) {
    std::vector<HDRSTRUCT> entries(table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        entries[i].name = const_cast<LPSTR>(table[i].name);
        entries[i].attributes = table[i].attributes;
    }
    return entries;
}

IArchiveFolder* BuildTree(const std::vector<HDRSTRUCT>& entries) {
    IUnknown* tree = nullptr;
    EXPECT_EQ(CreateArchiveFolderTree(entries.data(), static_cast<DWORD>(entries.size()), &tree), S_OK);
    IArchiveFolder* root = nullptr;
    if (tree) {
        EXPECT_EQ(tree->QueryInterface(IID_IArchiveFolder, reinterpret_cast<void**>(&root)), S_OK);
        tree->Release();
    }
    return root;
}

// A folder as text: name, "#entry" when the archive stores one for it, the
// file entry numbers in [], the subfolders in {}.
std::string Dump(IArchiveFolder* folder) {
    std::string text = folder->GetName();
    if (folder->GetEntryIndex() != FOLDER_NO_ENTRY) text += "#" + std::to_string(folder->GetEntryIndex());

    IEnumArchiveFiles* files = nullptr;
    EXPECT_EQ(folder->EnumFiles(0, &files), S_OK);
    std::string fileList;
    DWORD entry;
    ULONG fetched;
    while (files->Next(1, &entry, &fetched) == S_OK) fileList += (fileList.empty() ? "" : ",") + std::to_string(entry);
    files->Release();
    if (!fileList.empty()) text += "[" + fileList + "]";

    IEnumArchiveFolders* folders = nullptr;
    EXPECT_EQ(folder->EnumFolders(0, &folders), S_OK);
    std::string children;
    IArchiveFolder* child;
    DWORD childCount = 0;
    while (folders->Next(1, &child, nullptr) == S_OK) {
        IArchiveFolder* parent = nullptr;
        EXPECT_EQ(child->GetParent(&parent), S_OK);
        EXPECT_EQ(parent, folder);
        children += (children.empty() ? "" : " ") + Dump(child);
        child->Release();
        ++childCount;
    }
    folders->Release();
    EXPECT_EQ(childCount, folder->GetFolderCount());
    if (!children.empty()) text += "{" + children + "}";
    return text;
}

TEST(FolderTree, ShapesOfEntryLists) {
    const struct {
        const char* what;
        std::vector<Entry> entries;
        const char* tree;
    } cases[] = {
        {"folders only implied by a file's path", {{"a/b/c.txt", 0}}, "{a{b[0]}}"},
        {"folder names differing in case share the first spelling",
         {{"A/x.txt", 0}, {"a/y.txt", 0}, {"a/B/z", 0}, {"A/b/w", 0}},
         "{A[0,1]{B[2,3]}}"},
        {"a folder entry after its files", {{"d/f1", 0}, {"d/f2", 0}, {"d/", kFolder}}, "{d#2[0,1]}"},
        {"a folder entry before its files", {{"d/", kFolder}, {"d/f1", 0}}, "{d#0[1]}"},
        {"files and folders at several levels",
         {{"readme.txt", 0},
          {"src/", kFolder},
          {"src/main.c", 0},
          {"src/lib/", kFolder},
          {"src/lib/x.c", 0},
          {"docs/a.txt", 0}},
         "[0]{src#1[2]{lib#3[4]} docs[5]}"},
        {"backslash separators as some formats store them", {{"p\\q\\r.txt", 0}, {"p\\q", kFolder}}, "{p{q#1[0]}}"},
        {"empty names and empty components",
         {{"", 0}, {"//lead.txt", 0}, {"a//b.txt", 0}, {nullptr, 0}, {"/", kFolder}},
         "[1]{a[2]}"},
        {"a file and a folder of the same name", {{"a", 0}, {"a/b", 0}}, "[0]{a[1]}"},
        {"the same folder entry twice", {{"x/", kFolder}, {"X", kFolder}}, "{x#1}"},
        {"no entries", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<HDRSTRUCT> entries = MakeEntries(c.entries);
        IArchiveFolder* root = BuildTree(entries);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(Dump(root), c.tree);
        EXPECT_EQ(root->Release(), 0u);
    }
}

TEST(FolderTree, ManySiblingFoldersInScatteredOrder) {
    // Every folder is named twice, the second time in other case, with the
    // entries in no particular order.
    const int folders = 3000;
    std::vector<std::string> names;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < folders; ++i) {
            const int n = (i * 1237) % folders;
            names.push_back((pass ? "DIR" : "dir") + std::to_string(n) + "/f" + std::to_string(pass));
        }
    }
    std::vector<HDRSTRUCT> entries(names.size());
    for (size_t i = 0; i < names.size(); ++i) entries[i].name = &names[i][0];
    IArchiveFolder* root = BuildTree(entries);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetFolderCount(), static_cast<DWORD>(folders));

    IEnumArchiveFolders* children = nullptr;
    ASSERT_EQ(root->EnumFolders(0, &children), S_OK);
    IArchiveFolder* child;
    DWORD index = 0;
    while (children->Next(1, &child, nullptr) == S_OK) {
        // Insertion order, first spelling, both files.
        EXPECT_EQ(std::string(child->GetName()), "dir" + std::to_string((index * 1237) % folders));
        EXPECT_EQ(child->GetFileCount(), 2u);
        DWORD files[2] = {};
        IEnumArchiveFiles* cells = nullptr;
        ASSERT_EQ(child->EnumFiles(0, &cells), S_OK);
        EXPECT_EQ(cells->Next(2, files, nullptr), S_OK);
        EXPECT_EQ(files[0], index);
        EXPECT_EQ(files[1], index + folders);
        cells->Release();
        child->Release();
        ++index;
    }
    EXPECT_EQ(index, static_cast<DWORD>(folders));
    children->Release();
    root->Release();
}

TEST(FolderTree, NamesComeFromTheConverterGiven) {
    // An archive object converts with its own GetText; a converter may also
    // leave entries out.
    const std::vector<HDRSTRUCT> entries = MakeEntries({{"A.B.C", 0}, {"skip", 0}, {"A.D", 0}});
    auto dotsAsSeparators = [](void* context, const HDRSTRUCT& entry, DWORD index, char* path) {
        ++*static_cast<int*>(context);
        if (index == 1) return false;
        lstrcpynA(path, entry.name, GETTEXT_BUFFER);
        for (char* p = path; *p; ++p)
            if (*p == '.') *p = '\\';
        return true;
    };
    int calls = 0;
    IUnknown* tree = nullptr;
    ASSERT_EQ(CreateArchiveFolderTree(entries.data(), 3, &tree, dotsAsSeparators, &calls), S_OK);
    EXPECT_EQ(calls, 3);
    IArchiveFolder* root = nullptr;
    ASSERT_EQ(tree->QueryInterface(IID_IArchiveFolder, reinterpret_cast<void**>(&root)), S_OK);
    tree->Release();
    EXPECT_EQ(Dump(root), "{A[2]{B[0]}}");
    root->Release();
}

// A format whose stored names separate folders with colons: only its own
// GetText kind 3 knows that.
class ColonFormat final : public CCompressFormat {
public:
    explicit ColonFormat(std::vector<Entry> table) : table_(std::move(table)) {}

    HRESULT DoList() override {
        HRESULT hr = AllocEntries(64, static_cast<DWORD>(table_.size()));
        if (FAILED(hr)) return hr;
        for (const Entry& e : table_) {
            HDRSTRUCT& entry = m_entries[m_totals.entries++];
            entry.name = PoolString(e.name, static_cast<DWORD>(std::strlen(e.name)));
            entry.attributes = e.attributes;
        }
        TrimPool();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override {
        buffer[0] = '\0';
        const char* name = reinterpret_cast<const char*>(value);
        if (kind != TEXT_PATH) return E_INVALIDARG;
        if (!name || !*name || *name == '!') return E_INVALIDARG;  // '!': unconvertible
        lstrcpynA(buffer, name, MAX_PATH);
        for (char* p = buffer; *p; ++p)
            if (*p == ':') *p = '\\';
        return S_OK;
    }

private:
    std::vector<Entry> table_;
};

TEST(FolderTree, ArchiveObjectConvertsItsOwnNames) {
    auto* archive = new ColonFormat({{"a:b:c.txt", 0}, {"!bad", 0}, {"a:", kFolder}, {"x.txt", 0}});
    ASSERT_EQ(archive->List(nullptr), S_OK);
    IUnknown* tree = nullptr;
    ASSERT_EQ(CreateArchiveFolderTree(archive, &tree), S_OK);
    IArchiveFolder* root = nullptr;
    ASSERT_EQ(tree->QueryInterface(IID_IArchiveFolder, reinterpret_cast<void**>(&root)), S_OK);
    tree->Release();
    EXPECT_EQ(Dump(root), "[3]{a#2{b[0]}}");
    root->Release();
    archive->Release();
}

// Entry names are text already (the readers convert what archives store):
// the tree takes their bytes as they are, whatever the code page.
TEST(FolderTree, EntryNamesAreTakenAsText) {
    const std::vector<HDRSTRUCT> entries = MakeEntries({{"\xC3\x84pfel/k\xC3\xA4se.txt", 0}});
    IArchiveFolder* root = BuildTree(entries);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Dump(root), "{\xC3\x84pfel[0]}");
    root->Release();
}

TEST(FolderTree, ArgumentsAreChecked) {
    IUnknown* tree = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CreateArchiveFolderTree(nullptr, 3, &tree), E_INVALIDARG);
    EXPECT_EQ(tree, nullptr);
    const std::vector<HDRSTRUCT> entries = MakeEntries({{"a", 0}});
    EXPECT_EQ(CreateArchiveFolderTree(entries.data(), 1, nullptr), E_INVALIDARG);
}

class FolderObjects : public ::testing::Test {
protected:
    void SetUp() override {
        entries_ = MakeEntries({{"f0", 0}, {"f1", 0}, {"f2", 0}, {"d0/x", 0}, {"d1/y", 0}, {"d1/z", 0}});
        root_ = BuildTree(entries_);
        ASSERT_NE(root_, nullptr);
    }
    void TearDown() override {
        if (root_) root_->Release();
    }

    std::vector<HDRSTRUCT> entries_;
    IArchiveFolder* root_ = nullptr;
};

TEST_F(FolderObjects, QueryInterfaceAndParents) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(root_->QueryInterface(IID_IEnumArchiveFiles, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(root_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(root_));
    unknown->Release();

    IArchiveFolder* parent = root_;
    EXPECT_EQ(root_->GetParent(&parent), S_FALSE);
    EXPECT_EQ(parent, nullptr);
    EXPECT_STREQ(root_->GetName(), "");
    EXPECT_EQ(root_->GetEntryIndex(), FOLDER_NO_ENTRY);
    EXPECT_EQ(root_->GetFolderCount(), 2u);
    EXPECT_EQ(root_->GetFileCount(), 3u);

    IEnumArchiveFolders* folders = nullptr;
    ASSERT_EQ(root_->EnumFolders(0, &folders), S_OK);
    IEnumArchiveFolders* sameFolders = nullptr;
    EXPECT_EQ(folders->QueryInterface(IID_IEnumArchiveFolders, reinterpret_cast<void**>(&sameFolders)), S_OK);
    EXPECT_EQ(sameFolders, folders);
    sameFolders->Release();
    EXPECT_EQ(folders->QueryInterface(IID_IArchiveFolder, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    folders->Release();
}

TEST_F(FolderObjects, EnumeratorsDeliverInBatches) {
    IEnumArchiveFiles* files = nullptr;
    ASSERT_EQ(root_->EnumFiles(0, &files), S_OK);
    DWORD got[8] = {};
    ULONG fetched = 99;
    EXPECT_EQ(files->Next(2, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(got[0], 0u);
    EXPECT_EQ(got[1], 1u);
    // More asked than are left: what there is, and S_FALSE.
    EXPECT_EQ(files->Next(5, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], 2u);
    EXPECT_EQ(files->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(files->Skip(1), E_NOTIMPL);
    IEnumArchiveFiles* clone = reinterpret_cast<IEnumArchiveFiles*>(1);
    EXPECT_EQ(files->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(files->Reset(), S_OK);
    EXPECT_EQ(files->Next(3, got, nullptr), S_OK);
    EXPECT_EQ(got[2], 2u);
    files->Release();

    IEnumArchiveFolders* folders = nullptr;
    ASSERT_EQ(root_->EnumFolders(0, &folders), S_OK);
    IArchiveFolder* children[4] = {};
    EXPECT_EQ(folders->Next(4, children, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_STREQ(children[0]->GetName(), "d0");
    EXPECT_STREQ(children[1]->GetName(), "d1");
    EXPECT_EQ(children[1]->GetFileCount(), 2u);
    EXPECT_EQ(folders->Skip(1), E_NOTIMPL);
    EXPECT_EQ(folders->Reset(), S_OK);
    IArchiveFolder* again = nullptr;
    EXPECT_EQ(folders->Next(1, &again, &fetched), S_OK);
    EXPECT_EQ(again, children[0]);
    again->Release();
    children[0]->Release();
    children[1]->Release();
    folders->Release();
}

TEST_F(FolderObjects, SubfolderOutlivesTheRoot) {
    IEnumArchiveFolders* folders = nullptr;
    ASSERT_EQ(root_->EnumFolders(0, &folders), S_OK);
    IArchiveFolder* children[2] = {};
    ASSERT_EQ(folders->Next(2, children, nullptr), S_OK);
    children[0]->Release();
    IArchiveFolder* d1 = children[1];

    // The caller drops the root first; the subfolder, its files and its
    // parent link stay valid while the subfolder is held.
    root_->Release();
    root_ = nullptr;
    folders->Release();
    EXPECT_EQ(Dump(d1), "d1[4,5]");
    IArchiveFolder* parent = nullptr;
    ASSERT_EQ(d1->GetParent(&parent), S_OK);
    EXPECT_EQ(parent->GetFileCount(), 3u);
    EXPECT_EQ(d1->Release(), 0u);
}

}  // namespace
