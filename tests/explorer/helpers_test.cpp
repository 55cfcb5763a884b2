// The explorer's helpers on their own: path shortening, command-line
// tokens, the file-drop block, the archive history and the splitter's clamp.
#include "archive_history.h"
#include "command_line.h"
#include "compact_path.h"
#include "side_pane.h"

#include <shellapi.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace tessera;

namespace {

TEST(CompactPath, ShortensKeepingRootFirstFolderAndTail) {
    struct Case {
        const char* path;
        size_t limit;
        bool keepName;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\short\\name.zip", 32, true, "C:\\short\\name.zip"},
        {"C:\\Data\\Archives\\2020\\May\\backup.zip", 32, true, "C:\\Data\\...\\2020\\May\\backup.zip"},
        {"C:\\Data\\Archives\\2020\\May\\backup.zip", 26, true, "C:\\Data\\...\\May\\backup.zip"},
        {"C:\\Data\\Archives\\2020\\May\\backup.zip", 18, true, "C:\\...\\backup.zip"},
        {"\\\\server\\share\\projects\\tessera\\build\\out.zip", 32, true, "\\\\server\\share\\...\\build\\out.zip"},
        {"C:\\Data\\Archives\\a-very-long-archive-name.zip", 20, true, "a-very-long-archive-name.zip"},
        {"C:\\Data\\Archives\\a-very-long-archive-name.zip", 20, false, ""},
        {"C:\\Data\\Archives\\name-of-twenty-ch.zip", 22, false, "name-of-twenty-ch.zip"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(CompactPath(test.path, test.limit, test.keepName), test.expected)
            << test.path << " limit " << test.limit;
        EXPECT_LE(CompactPath(test.path, test.limit, false).size(), test.limit) << test.path;
    }
}

TEST(CommandLine, TokensSplitAtBlanksAndQuotes) {
    struct Case {
        const char* line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"tessera.exe", {"tessera.exe"}},
        {"\"C:\\Program Files\\tessera.exe\"  a.zip   b.zip", {"C:\\Program Files\\tessera.exe", "a.zip", "b.zip"}},
        {"t \"/A:C:\\My Files\\x.zip\" -h one.txt", {"t", "/A:C:\\My Files\\x.zip", "-h", "one.txt"}},
        {"t \"unterminated name", {"t", "unterminated name"}},
        {"  ", {}},
    };
    for (const Case& test : cases) EXPECT_EQ(TokenizeCommandLine(test.line), test.tokens) << test.line;
}

TEST(CommandLine, FileDropBlockHasTheShellLayout) {
    HGLOBAL block = BuildFileDropBlock({"C:\\one.txt", "D:\\two\\three.dat"});
    ASSERT_NE(block, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
    DWORD fields[5];
    memcpy(fields, bytes, sizeof fields);
    EXPECT_EQ(fields[0], 20u);
    EXPECT_EQ(fields[4], 0u);
    const char expected[] = "C:\\one.txt\0D:\\two\\three.dat\0";
    EXPECT_EQ(memcmp(bytes + 20, expected, sizeof expected), 0);
    EXPECT_EQ(GlobalSize(block), 20 + sizeof expected);
    GlobalUnlock(block);
    EXPECT_EQ(ReadFileDropBlock(static_cast<HDROP>(block)),
              (std::vector<std::string>{"C:\\one.txt", "D:\\two\\three.dat"}));
    GlobalFree(block);
    EXPECT_EQ(BuildFileDropBlock({}), nullptr);
}

TEST(ArchiveHistory, AddBackForwardRemove) {
    ArchiveHistory history;
    EXPECT_FALSE(history.CanGoBack());
    history.Add("C:\\a.zip");
    history.Add("c:\\A.ZIP");  // same archive: one node
    EXPECT_EQ(history.Size(), 1u);
    history.Add("C:\\b.zip");
    history.Add("C:\\c.zip");
    EXPECT_EQ(history.GoBack(), "C:\\b.zip");
    EXPECT_TRUE(history.CanGoForward());
    history.Add("C:\\d.zip");  // drops c.zip
    EXPECT_EQ(history.Paths(), (std::vector<std::string>{"C:\\a.zip", "C:\\b.zip", "C:\\d.zip"}));
    EXPECT_FALSE(history.CanGoForward());

    history.MarkClosed();  // Back after a close reopens the same archive
    ASSERT_EQ(history.BackList(10).size(), 3u);
    EXPECT_EQ(history.BackList(10)[0]->path, "C:\\d.zip");
    EXPECT_EQ(history.GoBack(), "C:\\d.zip");
    EXPECT_EQ(history.BackList(10).size(), 2u);
    EXPECT_EQ(history.GoBack(), "C:\\b.zip");
    ASSERT_EQ(history.ForwardList(10).size(), 1u);

    history.Remove("C:\\B.zip");  // the current node goes: the next one takes over
    EXPECT_EQ(history.Current()->path, "C:\\d.zip");
    history.Remove("C:\\d.zip");
    EXPECT_EQ(history.Current()->path, "C:\\a.zip");
    history.Remove("C:\\a.zip");
    EXPECT_TRUE(history.Empty());
    EXPECT_EQ(history.Current(), nullptr);
    EXPECT_FALSE(history.CanGoBack());
}

TEST(ArchiveHistory, DropDownListsAreCappedAtTen) {
    ArchiveHistory history;
    for (int index = 0; index < 15; ++index) history.Add("C:\\" + std::to_string(index) + ".zip");
    EXPECT_EQ(history.BackList(10).size(), 10u);
    EXPECT_EQ(history.BackList(10)[0]->path, "C:\\13.zip");
    EXPECT_EQ(history.Select(history.BackList(10)[9]), "C:\\4.zip");
    EXPECT_EQ(history.ForwardList(10).size(), 10u);
    EXPECT_EQ(history.ForwardList(10)[0]->path, "C:\\5.zip");
}

TEST(RecentArchives, MovesToFrontAndDropsTheOldest) {
    RecentArchives recent;
    for (const char* path : {"a", "b", "c", "d", "e"}) recent.Add(path);
    EXPECT_EQ(recent.Slot(0), "e");
    EXPECT_EQ(recent.Slot(3), "b");
    recent.Add("C");  // already there, ignoring case
    EXPECT_EQ(recent.Slot(0), "C");
    EXPECT_EQ(recent.Slot(1), "e");
    EXPECT_EQ(recent.Slot(2), "d");
    EXPECT_EQ(recent.Slot(3), "b");
    recent.Remove("e");
    EXPECT_EQ(recent.Slot(1), "d");
    EXPECT_EQ(recent.Slot(3), "");
}

TEST(SidePane, SplitterKeepsNinetyPixelsOnEachSide) {
    struct Case {
        int x, client, expected;
    };
    const Case cases[] = {{10, 800, 90}, {300, 800, 300}, {790, 800, 710}, {-50, 800, 90}, {100, 150, 90}};
    for (const Case& test : cases) EXPECT_EQ(SidePane::ClampedWidth(test.x, test.client), test.expected) << test.x;
}

}  // namespace
