// Selection of entries, the entry pool, and the two list helpers of Add
// (store-only extensions, common path depth).
#include "add_file_list.h"
#include "fake_format.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

FakeFormat* Listed(std::vector<FakeEntry> entries) {
    auto* object = new FakeFormat;
    object->AddRef();
    object->listing = std::move(entries);
    EXPECT_EQ(object->List(nullptr), S_OK);
    return object;
}

TEST(Selection, ByteTotalsAndMatching) {
    FakeFormat* object = Listed({{"a.txt", 10}, {"B/c.txt", 20}, {"d.txt", 40}, {"e.txt", 80}});
    object->SetSelection(nullptr, 0);
    EXPECT_TRUE(object->m_allSelected);
    EXPECT_EQ(object->m_bytesSelected, 150u);
    EXPECT_EQ(object->m_bytesUpToLast, 150u);
    EXPECT_TRUE(object->IsSelected("anything"));
    EXPECT_EQ(object->m_currentDetail, nullptr);

    const char* override = "C:\\elsewhere\\c.txt";
    SELHDRSTRUCT selection[] = {{SEL_UNUSED, 0, nullptr}, {1, 0, const_cast<char*>(override)}, {2, 0, nullptr}};
    object->SetSelection(selection, 3);
    EXPECT_FALSE(object->m_allSelected);
    EXPECT_EQ(object->m_bytesSelected, 60u);
    EXPECT_EQ(object->m_bytesUpToLast, 70u);  // entries 0..2
    EXPECT_TRUE(object->IsSelected("b/C.TXT"));  // ignoring case
    EXPECT_EQ(object->m_currentDetail, override);
    EXPECT_EQ(selection[1].found, 1u);
    EXPECT_FALSE(object->IsSelected("e.txt"));
    EXPECT_EQ(selection[2].found, 0u);

    LogLines log;
    log.Attach(object);
    EXPECT_EQ(object->ReportMissing(), 1u);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "Warning: Could not find d.txt in the archive.\n");
    object->Release();
}

TEST(Selection, MissingEntryGivesSFalse) {
    tessera::testing::ScratchFolder folder;
    FakeFormat* object = Listed({{"a.txt"}, {"b.txt"}});
    LogLines log;
    log.Attach(object);
    SELHDRSTRUCT selection[] = {{0, 0, nullptr}, {1, 0, nullptr}};
    object->hookResult = S_OK;
    object->walkLimit = 1;  // b.txt is never reached
    EXPECT_EQ(object->Extract(nullptr, OVERWRITE_ALL, TRUE, FALSE, folder.Path().c_str(), selection, 2), S_FALSE);
    EXPECT_TRUE(log.Contains("Warning: Could not find b.txt in the archive.\n"));
    object->Release();
}

TEST(Pool, BlocksChainAndOversizedRequestsFail) {
    FakeFormat* object = Listed({});
    ASSERT_EQ(object->AllocEntries(16, 300), S_OK);  // (16 + record) * 300 bytes
    std::vector<char*> pieces;
    for (int i = 0; i < 2000; ++i) {
        auto* p = static_cast<char*>(object->PoolAlloc(13));
        ASSERT_NE(p, nullptr);
        memset(p, i & 0xFF, 13);
        pieces.push_back(p);
    }
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(static_cast<unsigned char>(pieces[i][12]), i & 0xFF);
    EXPECT_EQ(object->PoolAlloc(10 * 1024 * 1024), nullptr);
    object->TrimPool();
    EXPECT_NE(object->PoolAlloc(8), nullptr);
    object->Release();
}

TEST(AddLists, MatchesExtensionList) {
    struct Case {
        const char* name;
        const char* list;
        bool expected;
    } cases[] = {
        {"x.ZIP", ".zip;.cab", true},  {"x.txt", ".zip;.cab", false}, {"x.cab", ".zip;.cab", true},
        {"x.txt", "", true},           {"x.txt", ".zip;", true},      {"x.cab", ".zip:.cab", true},
        {"zip", ".zip", false},        {"a.tar.gz", ".gz", true},     {"x.zipx", ".zip", false},
        {"photo.JPG", ".png;.jpg;.gif", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FakeFormat::MatchesExtensionList(c.name, c.list), c.expected) << c.name << " in " << c.list;
    }
}


TEST(AddLists, CommonPathDepth) {
    struct Case {
        std::vector<std::string> paths;
        DWORD depth;
    } cases[] = {
        {{"C:\\a\\b\\f.txt"}, 2},
        {{"C:\\a\\b\\f.txt", "C:\\a\\b\\g.txt"}, 2},
        {{"C:\\a\\b\\f.txt", "C:\\a\\c\\g.txt"}, 1},
        {{"C:\\a\\b\\f.txt", "D:\\x\\g.txt"}, 0},
        {{"C:\\data\\one\\f.txt", "C:\\data\\other\\g.txt"}, 1},  // "one"/"other" share "o" only
        {{"\\\\a\\b\\f.txt", "C:\\a\\b\\c\\g.txt"}, 2},
        {{"C:\\A\\f.txt", "C:\\a\\g.txt"}, 1},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> packed = BuildAddFileList(c.paths);
        EXPECT_EQ(FakeFormat::CommonPathDepth(reinterpret_cast<const ADDFILEINFO*>(packed.data())), c.depth)
            << c.paths[0];
    }
}

TEST(AddLists, AddComputesDepthOnlyWithRelativePaths) {
    FakeFormat* object = Listed({});
    std::vector<BYTE> packed = BuildAddFileList({"C:\\a\\b\\f.txt", "C:\\a\\b\\c\\g.txt"});
    auto* files = reinterpret_cast<const ADDFILEINFO*>(packed.data());
    EXPECT_EQ(object->Add(nullptr, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, "", "C:\\", files), S_OK);
    EXPECT_EQ(object->m_commonDepth, 2u);
    EXPECT_TRUE(object->m_usePaths);  // relative paths store paths
    EXPECT_EQ(object->m_files, files);
    EXPECT_EQ(object->Add(nullptr, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, "", "C:\\", files), S_OK);
    EXPECT_EQ(object->m_commonDepth, 0u);
    EXPECT_FALSE(object->m_usePaths);
    object->Release();
}

}  // namespace
