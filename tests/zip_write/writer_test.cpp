// The portable pieces of the ZIP writer: stored names made from paths, and
// the record bytes read back by the record parsers.
#include <gtest/gtest.h>

#include "zip/zip_writer.h"

namespace tessera::zip {
namespace {

TEST(ZipWriter, StoredNamesFromPaths) {
    struct Case {
        const char* path;
        unsigned drop;
        bool keepFolders;
        bool folder;
        const char* name;
    } cases[] = {
        {"C:\\data\\docs\\a.txt", 0, false, false, "a.txt"},
        {"C:\\data\\docs\\a.txt", 0, true, false, "data/docs/a.txt"},
        {"C:\\data\\docs\\a.txt", 1, true, false, "docs/a.txt"},
        {"C:\\data\\docs\\a.txt", 9, true, false, "a.txt"},  // never more than the folders
        {"C:\\data\\docs", 1, true, true, "docs/"},
        {"C:\\data\\docs\\", 0, false, true, "docs/"},
        {"\\\\server\\share\\x.bin", 0, true, false, "server/share/x.bin"},
        {"C:relative\\x", 0, true, false, "relative/x"},
        {"C:\\a\\..\\.\\b\\c.txt", 0, true, false, "a/b/c.txt"},  // no component climbs
        {"/unix/style/name", 0, true, false, "unix/style/name"},
        {"C:\\", 0, true, true, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StoredNameFromPath(c.path, c.drop, c.keepFolders, c.folder), c.name) << c.path;
    }
}

TEST(ZipWriter, RecordBytesReadBack) {
    LocalHeader local = FirstLocalHeader(kMethodDeflate, 0x6B3C, 0x5A21, true, 1234, 0);
    FinishLocalHeader(&local, kMethodStored, 0xCAFEBABE, 1246, 1234);
    const std::string bytes = LocalRecordBytes(local, "dir/name.txt", "xx");
    ASSERT_EQ(bytes.size(), kLocalHeaderSize + 12 + 2);
    LocalHeader back;
    ASSERT_TRUE(ParseLocalHeader(reinterpret_cast<const uint8_t*>(bytes.data()), &back));
    EXPECT_EQ(back.method, kMethodStored);
    EXPECT_EQ(back.versionNeeded, kVersionNeededStored);
    EXPECT_EQ(back.flags, kFlagEncrypted | kFlagDescriptor);  // an encrypted entry keeps bit 3
    EXPECT_EQ(back.crc, 0xCAFEBABEu);
    EXPECT_EQ(back.compressedSize, 1246u);
    EXPECT_EQ(back.nameLength, 12);
    EXPECT_EQ(back.extraLength, 2);
    EXPECT_EQ(bytes.substr(kLocalHeaderSize), "dir/name.txtxx");

    const std::string end = EndRecordBytes(3, 150, 4096, "note");
    ASSERT_EQ(end.size(), kEndRecordSize + 4);
    EndRecord record;
    ASSERT_TRUE(ParseEndRecord(reinterpret_cast<const uint8_t*>(end.data()), &record));
    EXPECT_EQ(record.totalEntries, 3);
    EXPECT_EQ(record.entriesOnDisk, 3);
    EXPECT_EQ(record.centralSize, 150u);
    EXPECT_EQ(record.centralOffset, 4096u);
    EXPECT_EQ(record.commentLength, 4);
    EXPECT_EQ(end.substr(kEndRecordSize), "note");
}

TEST(ZipWriter, DosStampsOrderByDateThenTime) {
    EXPECT_LT(DosStamp(0x5A21, 0xFFFF), DosStamp(0x5A22, 0));
    EXPECT_LT(DosStamp(0x5A21, 1), DosStamp(0x5A21, 2));
}

}  // namespace
}  // namespace tessera::zip
