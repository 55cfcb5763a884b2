// Hostile stored names on extraction: whatever an archive stores, output
// lands below the destination folder, never on a device or in an alternate
// data stream, and a name that cannot be made safe is skipped with a reason.
#include "fake_format.h"

#include "core/long_path.h"
#include "core/path_safety.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tessera::testing::ScratchFolder;

struct Row {
    std::string stored;  // as the format's GetText gives it (backslashes)
    std::string safe;    // relative output path; "" = refused
};

const Row kRows[] = {
    // Escapes
    {"..\\x", "x"},
    {"../x", "x"},
    {"a\\..\\..\\x", "a\\x"},
    {"\\x", "x"},
    {"//x", "x"},
    {"C:\\x", "x"},
    {"C:x", "x"},
    {"C:..\\x", "x"},
    {"C:\\C:..\\x", "x"},
    {"\\\\srv\\share\\x", "srv\\share\\x"},
    {"\\\\?\\C:\\x", "x"},
    {"\\??\\C:\\x", "x"},
    {"\\\\.\\CON", "_CON"},
    {"1:\\x", "x"},
    {"a\\.\\b", "a\\b"},
    // Windows names
    {"CON", "_CON"},
    {"nul.txt", "_nul.txt"},
    {"COM1 ", "_COM1"},
    {"LPT1.log", "_LPT1.log"},
    {"dir\\aux\\f", "dir\\_aux\\f"},
    {"COM10", "COM10"},
    {"CONSOLE", "CONSOLE"},
    {"a.", "a"},
    {"a  ", "a"},
    {"dir.\\f", "dir\\f"},
    {"a:b", "b"},  // a drive-relative path
    {"file:stream", "file_stream"},
    {"x.txt::$DATA", "x.txt__$DATA"},
    {"a::$DATA", "_$DATA"},
    {std::string("a\x01" "b\x1f"), "a_b_"},
    {"*?<>|\"", "______"},
    {"", ""},
    {"..", ""},
    {"\\\\", ""},
    {". . .", ""},
    // Ordinary names stay as they are
    {"dir\\sub\\file.txt", "dir\\sub\\file.txt"},
    {"dir/sub/file.txt", "dir\\sub\\file.txt"},
    {"folder\\", "folder\\"},
    {".hidden", ".hidden"},
};

TEST(PathSafety, Table) {
    for (const Row& row : kRows) {
        char out[MAX_PATH];
        PathVerdict verdict = MakeSafeRelativePath(row.stored.c_str(), out, sizeof out);
        if (row.safe.empty()) {
            EXPECT_EQ(verdict, PathVerdict::kRefused) << row.stored;
        } else {
            EXPECT_NE(verdict, PathVerdict::kRefused) << row.stored;
            EXPECT_EQ(std::string(out), row.safe) << row.stored;
        }
    }
}

// The same names through a whole extraction: every file that appears lies
// inside the destination; unsafe names are logged.
TEST(PathSafety, ExtractionStaysInsideTheDestination) {
    ScratchFolder outer;
    std::string destination = outer / "dest";
    FakeFormat* object = new FakeFormat;
    object->AddRef();
    LogLines log;
    log.Attach(object);
    for (const Row& row : kRows) {
        if (!row.stored.empty()) object->listing.push_back({row.stored});
    }
    ASSERT_EQ(object->List(nullptr), S_OK);
    HRESULT hr = object->Extract(nullptr, OVERWRITE_ALL, TRUE, FALSE, destination.c_str(), nullptr, 0);
    EXPECT_EQ(hr, S_FALSE);  // the changes were reported as warnings
    // Nothing beside the destination in the outer folder.
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((outer / "*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int others = 0;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != ".." && name != "dest") ++others;
    } while (FindNextFileA(find, &found));
    FindClose(find);
    EXPECT_EQ(others, 0);
    EXPECT_TRUE(tessera::testing::FileExists(destination + "\\_CON"));
    EXPECT_TRUE(tessera::testing::FileExists(destination + "\\file_stream"));
    EXPECT_TRUE(log.Contains("Warning: The unsafe name ..\\x is written as x.\n")) << log.All();
    EXPECT_TRUE(log.Contains("(unsafe name)\n")) << log.All();
    object->Release();
}

TEST(PathSafety, LongNames) {
    ScratchFolder folder;
    struct Case {
        size_t length;
        bool written;
    } cases[] = {{100, true}, {255, true}, {256, false}, {259, false}, {260, false}, {300, false}, {65535, false}};
    for (const Case& c : cases) {
        FakeFormat* object = new FakeFormat;
        object->AddRef();
        LogLines log;
        log.Attach(object);
        object->listing.push_back({std::string(c.length, 'n')});
        ASSERT_EQ(object->List(nullptr), S_OK);
        HRESULT hr = object->Extract(nullptr, OVERWRITE_ALL, TRUE, FALSE, folder.Path().c_str(), nullptr, 0);
        EXPECT_EQ(hr, c.written ? S_OK : S_FALSE) << c.length;
        if (!c.written) {
            EXPECT_TRUE(log.Contains("(path too long)\n")) << c.length << log.All();
        }
        object->Release();
    }
    // With no log attached a refused name still keeps the result from
    // looking clean.
    {
        FakeFormat* object = new FakeFormat;
        object->AddRef();
        object->listing.push_back({std::string(300, 'n')});
        ASSERT_EQ(object->List(nullptr), S_OK);
        EXPECT_EQ(object->Extract(nullptr, OVERWRITE_ALL, TRUE, FALSE, folder.Path().c_str(), nullptr, 0), S_FALSE);
        object->Release();
    }
    // Destination + name beyond MAX_PATH although each part is short enough:
    // written through the long form of the path, folders included.
    std::string deep = folder / std::string(200, 'd');
    const std::string file = std::string(80, 'f');
    const std::string nested = std::string(80, 'a') + "\\" + std::string(70, 'b') + "\\" + file;
    FakeFormat* object = new FakeFormat;
    object->AddRef();
    LogLines log;
    log.Attach(object);
    object->listing.push_back({file});
    object->listing.push_back({nested});
    ASSERT_EQ(object->List(nullptr), S_OK);
    EXPECT_EQ(object->Extract(nullptr, OVERWRITE_ALL, TRUE, FALSE, deep.c_str(), nullptr, 0), S_OK) << log.All();
    for (const std::string& name : {file, nested}) {
        const std::string path = deep + "\\" + name;
        EXPECT_GT(path.size(), size_t{MAX_PATH});
        EXPECT_NE(tessera::FileAttributesAt(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
    }
    object->Release();
}

}  // namespace
