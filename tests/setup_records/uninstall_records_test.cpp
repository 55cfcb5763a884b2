// The uninstall file: round trips, the order of the records, and the strict
// reading that rejects a file as a whole when one record is out of shape.
#include "setup/records/uninstall_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using tessera::setup::kRootCurrentUser;
using tessera::setup::kRootLocalMachine;
using tessera::setup::ReadUninstallFile;
using tessera::setup::RecordType;
using tessera::setup::UninstallRecord;
using tessera::setup::WriteUninstallFile;

// Bytes built field by field, independent of the writer.
struct FileBuilder {
    std::vector<uint8_t> bytes;
    FileBuilder() { Text(u"TESSERA_UNINSTALL_INFORMATION"); }
    FileBuilder& U32(uint32_t v) {
        for (int s = 0; s < 32; s += 8) bytes.push_back(static_cast<uint8_t>(v >> s));
        return *this;
    }
    FileBuilder& Text(const std::u16string& text) {
        for (char16_t c : text) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(static_cast<uint8_t>(c >> 8));
        }
        return *this;
    }
    FileBuilder& Field(const std::u16string& text) {
        std::u16string padded = text;
        padded.resize(260, u'\0');
        return Text(padded);
    }
    FileBuilder& Zeros(size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
};

const std::vector<UninstallRecord> kInstallation = {
    UninstallRecord::File(u"C:\\Program Files\\Tessera\\tessera.exe"),
    UninstallRecord::File(u"C:\\Users\\me\\Desktop\\Tessera.lnk"),
    UninstallRecord::Folder(u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0"),
    UninstallRecord::RegistryKey(kRootLocalMachine,
                                 u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tessera.exe"),
    UninstallRecord::RegistryValue(kRootCurrentUser,
                                   u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessera",
                                   u"DisplayName"),
    UninstallRecord::Association(kRootCurrentUser, u"Software\\Classes\\.zip"),
};

TEST(UninstallRecords, RoundTripKeepsTheOrderTheRecordsWereMadeIn) {
    auto bytes = WriteUninstallFile(kInstallation);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 58u + 3 * (8 + 520) + 2 * (8 + 524) + (8 + 1044));
    auto records = ReadUninstallFile(*bytes);
    ASSERT_TRUE(records);
    EXPECT_EQ(*records, kInstallation);
}

TEST(UninstallRecords, FileHoldsTheNewestRecordFirst) {
    auto bytes = WriteUninstallFile({UninstallRecord::File(u"C:\\T\\a"), UninstallRecord::Folder(u"C:\\T\\b")});
    ASSERT_TRUE(bytes);
    FileBuilder expected;
    expected.U32(2).U32(520).Field(u"C:\\T\\b").U32(1).U32(520).Field(u"C:\\T\\a");
    EXPECT_EQ(*bytes, expected.bytes);
}

TEST(UninstallRecords, ReadsAHandBuiltFileAndSkipsUnknownTypes) {
    FileBuilder file;
    file.U32(4).U32(524).U32(kRootLocalMachine).Field(u"Software\\K");
    file.U32(77).U32(3).Zeros(3);  // a later version's record: skipped
    file.U32(3).U32(1044).U32(kRootCurrentUser).Field(u"Software\\U").Field(u"DisplayName");
    file.U32(1).U32(520).Field(u"C:\\T\\first");
    auto records = ReadUninstallFile(file.bytes);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 3u);
    EXPECT_EQ((*records)[0], UninstallRecord::File(u"C:\\T\\first"));
    EXPECT_EQ((*records)[1], UninstallRecord::RegistryValue(kRootCurrentUser, u"Software\\U", u"DisplayName"));
    EXPECT_EQ((*records)[2], UninstallRecord::RegistryKey(kRootLocalMachine, u"Software\\K"));
}

TEST(UninstallRecords, EmptyListIsTheMarkerAlone) {
    auto bytes = WriteUninstallFile({});
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, FileBuilder().bytes);
    auto records = ReadUninstallFile(*bytes);
    ASSERT_TRUE(records);
    EXPECT_TRUE(records->empty());
}

TEST(UninstallRecords, RejectsMalformedFilesAsAWhole) {
    // Each file starts with a good record, so a reader that keeps what it
    // read before the fault fails the row.
    auto good = [] {
        FileBuilder b;
        b.U32(1).U32(520).Field(u"C:\\T\\good");
        return b;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"type 1 of length 100", good().U32(1).U32(100).Zeros(100).bytes});
    {
        auto b = good().U32(1).U32(520).Field(u"C:\\T\\x");
        b.bytes.pop_back();
        cases.push_back({"last record one byte short", b.bytes});
    }
    cases.push_back({"one byte after the last record", good().Zeros(1).bytes});
    cases.push_back({"header cut after the type", good().U32(1).bytes});
    cases.push_back({"length past the end", good().U32(2).U32(0xFFFFFFF0u).Zeros(16).bytes});
    cases.push_back({"unknown type overrunning", good().U32(9).U32(50).Zeros(49).bytes});
    cases.push_back({"type 0", good().U32(0).U32(0).bytes});
    cases.push_back({"type 3 with a key's length", good().U32(3).U32(524).U32(kRootLocalMachine).Field(u"K").bytes});
    cases.push_back({"type 5 of a file's length", good().U32(5).U32(520).Field(u"K").bytes});
    cases.push_back({"type 4 with a value's length",
                     good().U32(4).U32(1044).U32(kRootLocalMachine).Field(u"K").Field(u"V").bytes});
    {
        FileBuilder b = good();
        b.U32(1).U32(520).Text(std::u16string(260, u'a'));
        cases.push_back({"path without a terminator", b.bytes});
    }
    {
        FileBuilder b = good();
        b.bytes[2] = 'X';
        cases.push_back({"wrong marker", b.bytes});
    }
    {
        FileBuilder b;
        b.bytes.resize(57);
        cases.push_back({"marker cut short", b.bytes});
    }
    cases.push_back({"empty file", {}});
    for (const Case& c : cases) {
        EXPECT_FALSE(ReadUninstallFile(c.bytes)) << c.name;
    }
    EXPECT_TRUE(ReadUninstallFile(good().bytes));
}

TEST(UninstallRecords, WriterRefusesTextsThatDoNotFitTheirField) {
    EXPECT_TRUE(WriteUninstallFile({UninstallRecord::File(u"C:\\" + std::u16string(256, u'a'))}));  // 259 units
    EXPECT_FALSE(WriteUninstallFile({UninstallRecord::File(u"C:\\" + std::u16string(257, u'a'))}));
    EXPECT_FALSE(
        WriteUninstallFile({UninstallRecord::RegistryValue(kRootLocalMachine, u"K", std::u16string(300, u'v'))}));
    EXPECT_FALSE(WriteUninstallFile({UninstallRecord::File(std::u16string(u"C:\\a\0b", 6))}));
    EXPECT_FALSE(WriteUninstallFile({UninstallRecord{}}));
}

}  // namespace
