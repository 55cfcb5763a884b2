// ZIP records: byte-exact parse/serialize, method names and version text, the
// header values the writer puts in, and archives made of our records read by
// the peer tools.
#include <gtest/gtest.h>


#include "codecs/crc32/crc32.h"
#include "test_files.h"
#include "zip/zip_records.h"
#include "zip_fixtures.h"

namespace tessera::testing {
namespace {

using namespace tessera::zip;

const uint8_t* At(const std::string& bytes, size_t position) {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + position;
}

TEST(ZipRecords, ParseAndSerializeAreByteExact) {
    Fixture f = BuildZip({{"a.txt", "hello", 0, 0, 0x20, "entry comment"},
                          {"dir/", "", 0, 0, 0x10},
                          {"b.bin", std::string(300, 'x'), 8, 2, 0x21, "", true}},
                         {"", false, "archive comment"});
    for (size_t i = 0; i < f.localPositions.size(); ++i) {
        LocalHeader local;
        ASSERT_TRUE(ParseLocalHeader(At(f.bytes, f.localPositions[i]), &local));
        uint8_t again[kLocalHeaderSize];
        SerializeLocalHeader(local, again);
        EXPECT_EQ(0, std::memcmp(again, At(f.bytes, f.localPositions[i]), sizeof again)) << i;

        CentralHeader central;
        ASSERT_TRUE(ParseCentralHeader(At(f.bytes, f.centralPositions[i]), &central));
        uint8_t centralAgain[kCentralHeaderSize];
        SerializeCentralHeader(central, centralAgain);
        EXPECT_EQ(0, std::memcmp(centralAgain, At(f.bytes, f.centralPositions[i]), sizeof centralAgain)) << i;
        EXPECT_EQ(central.localOffset, f.localPositions[i]);
    }
    CentralHeader third;
    ParseCentralHeader(At(f.bytes, f.centralPositions[2]), &third);
    EXPECT_EQ(third.method, 8);
    EXPECT_EQ(third.flags, 0x0A);
    EXPECT_EQ(third.externalAttributes, 0x21u);
    EXPECT_EQ(third.crc, ReferenceCrc32(std::string(300, 'x').data(), 300));

    EndRecord end;
    ASSERT_TRUE(ParseEndRecord(At(f.bytes, f.endPosition), &end));
    EXPECT_EQ(end.totalEntries, 3);
    EXPECT_EQ(end.centralOffset, f.centralStart);
    EXPECT_EQ(end.centralSize, f.endPosition - f.centralStart);
    EXPECT_EQ(end.commentLength, 15);
    uint8_t endAgain[kEndRecordSize];
    SerializeEndRecord(end, endAgain);
    EXPECT_EQ(0, std::memcmp(endAgain, At(f.bytes, f.endPosition), sizeof endAgain));

    // The descriptor of the third entry sits right after its 300 data bytes.
    DataDescriptor d;
    size_t descriptorAt = f.localPositions[2] + 30 + 5 + 300;
    ASSERT_TRUE(ParseDataDescriptor(At(f.bytes, descriptorAt), &d));
    EXPECT_EQ(d.compressedSize, 300u);
    uint8_t dAgain[kDescriptorSize];
    SerializeDataDescriptor(d, dAgain);
    EXPECT_EQ(0, std::memcmp(dAgain, At(f.bytes, descriptorAt), sizeof dAgain));

    // Wrong signatures are refused by every parser.
    LocalHeader l;
    CentralHeader c;
    EndRecord e;
    EXPECT_FALSE(ParseLocalHeader(At(f.bytes, f.centralPositions[0]), &l));
    EXPECT_FALSE(ParseCentralHeader(At(f.bytes, f.localPositions[0]), &c));
    EXPECT_FALSE(ParseEndRecord(At(f.bytes, f.centralPositions[0]), &e));
    EXPECT_FALSE(ParseDataDescriptor(At(f.bytes, f.localPositions[0]), &d));
}

TEST(ZipRecords, MethodNamesAndVersionText) {
    const struct {
        uint32_t word;
        const char* name;
    } cases[] = {
        {0, "Store"}, {1, "Shrink"}, {2, "Reduce (Factor 1)"}, {3, "Reduce (Factor 2)"},
        {4, "Reduce (Factor 3)"}, {5, "Reduce (Factor 4)"}, {6, "Implode"}, {7, "Tokenize"},
        {8, "Deflate (Normal)"}, {0x10008, "Deflate (Maximum)"}, {0x20008, "Deflate (Fast)"},
        {0x30008, "Deflate (Super Fast)"}, {9, "Enhanced Deflate"}, {10, "DCL Implode"},
        {11, "Method 11"}, {99, "Method 99"}, {0x1000C, "Method 12"},
    };
    for (const auto& c : cases) EXPECT_EQ(MethodName(c.word), c.name) << c.word;
    // Flag bits 1-2 become bits 16-17 of the method word.
    EXPECT_EQ(MethodWord(8, 0x0002), 0x10008u);
    EXPECT_EQ(MethodWord(8, 0x0007), 0x30008u);
    EXPECT_EQ(MethodName(MethodWord(8, 0x0004)), "Deflate (Fast)");

    EXPECT_EQ(VersionText(20), "PK 2.00");
    EXPECT_EQ(VersionText(22), "PK 2.02");
    EXPECT_EQ(VersionText(63), "PK 6.03");
    EXPECT_EQ(VersionText(0), "PK 0.00");
}

TEST(ZipRecords, WriterValues) {
    // First write, before the data.
    LocalHeader deflated = FirstLocalHeader(8, 0x6000, 0x5A21, false, 1000, 5);
    EXPECT_EQ(deflated.versionNeeded, 20);
    EXPECT_EQ(deflated.flags, 8);
    EXPECT_EQ(deflated.crc, 0u);
    EXPECT_EQ(deflated.compressedSize, 0u);
    LocalHeader stored = FirstLocalHeader(0, 0x6000, 0x5A21, false, 1000, 5);
    EXPECT_EQ(stored.versionNeeded, 10);
    EXPECT_EQ(stored.compressedSize, 1000u);
    LocalHeader encrypted = FirstLocalHeader(8, 0x6123, 0x5A21, true, 1000, 5);
    EXPECT_EQ(encrypted.flags, 9);
    EXPECT_EQ(encrypted.crc, 0x61230000u);  // the check byte is the high byte of the time

    // Rewrite after the data: bit 3 goes unless the entry is encrypted; the
    // encoder's fallback to stored changes the version needed.
    FinishLocalHeader(&deflated, 0, 0x12345678, 1000, 1000);
    EXPECT_EQ(deflated.flags, 0);
    EXPECT_EQ(deflated.method, 0);
    EXPECT_EQ(deflated.versionNeeded, 10);
    EXPECT_FALSE(WritesDescriptor(deflated.flags));
    FinishLocalHeader(&encrypted, 8, 0x12345678, 612, 1000);
    EXPECT_EQ(encrypted.flags, 9);
    EXPECT_EQ(encrypted.versionNeeded, 20);
    EXPECT_TRUE(WritesDescriptor(encrypted.flags));

    EXPECT_EQ(VersionMadeByFor(false, false), 0x0B16);
    EXPECT_EQ(VersionMadeByFor(true, true), 20);
    EXPECT_EQ(VersionMadeByFor(true, false), 22);
    EXPECT_TRUE(HasDosFlag(20));
    EXPECT_FALSE(HasDosFlag(0x0B16));
    EXPECT_EQ(ExternalAttributesFor(0x2120, true), 0x20u);
    EXPECT_EQ(ExternalAttributesFor(0x2120, false), 0x2120u);
    EXPECT_EQ(InternalAttributesFor(8, true), 1);
    EXPECT_EQ(InternalAttributesFor(0, true), 0);
    EXPECT_EQ(InternalAttributesFor(8, false), 0);

    CentralHeader c = CentralFromLocal(encrypted, 0x0B16, 1, 0x20, 4096, 7);
    EXPECT_EQ(c.flags, 9);
    EXPECT_EQ(c.localOffset, 4096u);
    EXPECT_EQ(c.commentLength, 7);
    EXPECT_EQ(c.extraLength, 0);
    EXPECT_EQ(c.diskStart, 0);
    EXPECT_EQ(c.internalAttributes, 1);
    EXPECT_EQ(CentralRecordSize(c), 46u + 5 + 7);
    EndRecord end = MakeEndRecord(3, 150, 4200, 0);
    EXPECT_EQ(end.thisDisk, 0);
    EXPECT_EQ(end.centralDisk, 0);
    EXPECT_EQ(end.entriesOnDisk, 3);
    EXPECT_EQ(end.totalEntries, 3);
}

TEST(ZipRecords, ZipSixtyFourAndStrongEncryptionAreRecognised) {
    CentralHeader h;
    h.versionNeeded = 20;
    EXPECT_FALSE(CentralNeedsZip64(h, nullptr, 0));
    const uint8_t zip64Extra[] = {0x0A, 0x00, 0x04, 0x00, 1, 2, 3, 4, 0x01, 0x00, 0x00, 0x00};
    EXPECT_TRUE(CentralNeedsZip64(h, zip64Extra, sizeof zip64Extra));
    // A block whose size runs past the field ends the walk.
    const uint8_t brokenExtra[] = {0x0A, 0x00, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00};
    EXPECT_FALSE(CentralNeedsZip64(h, brokenExtra, sizeof brokenExtra));
    h.compressedSize = kSentinel32;
    EXPECT_TRUE(CentralNeedsZip64(h, nullptr, 0));
    h = CentralHeader();
    h.versionNeeded = 45;
    EXPECT_TRUE(CentralNeedsZip64(h, nullptr, 0));
    h.versionNeeded = 51;  // AES, not ZIP64
    EXPECT_FALSE(CentralNeedsZip64(h, nullptr, 0));
    EXPECT_TRUE(UsesStrongEncryption(0x41, 8));
    EXPECT_TRUE(UsesStrongEncryption(0x01, 99));
    EXPECT_FALSE(UsesStrongEncryption(0x09, 8));
}

// Full-width fields: a header field holding its sentinel takes the next
// value of the ZIP64 extra block, in the fixed order; a missing value fails.
TEST(ZipRecords, Zip64ValuesComeFromTheExtraFieldWhereTheHeaderHoldsSentinels) {
    auto block = [](std::initializer_list<uint64_t> values, std::initializer_list<uint8_t> tail = {}) {
        std::vector<uint8_t> b = {0x0A, 0x00, 0x04, 0x00, 9, 9, 9, 9};  // another block first
        b.insert(b.end(), {0x01, 0x00, 0, 0});
        for (uint64_t v : values)
            for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        b.insert(b.end(), tail);
        b[10] = static_cast<uint8_t>(b.size() - 12);
        return b;
    };
    const uint64_t big = uint64_t{5} << 32, bigger = uint64_t{6} << 32, far = uint64_t{7} << 32;
    struct Row {
        const char* what;
        uint32_t size, packed, offset;
        uint16_t disk;
        std::vector<uint8_t> extra;
        bool ok;
        WideFields want;
    };
    const Row rows[] = {
        {"no sentinels", 10, 5, 100, 0, {}, true, {10, 5, 100, 0}},
        {"compressed size only", 10, kSentinel32, 100, 0, block({big}), true, {10, big, 100, 0}},
        {"all four", kSentinel32, kSentinel32, kSentinel32, kSentinel16, block({big, bigger, far}, {3, 0, 0, 0}), true,
         {big, bigger, far, 3}},
        {"offset only", 10, 5, kSentinel32, 0, block({far}), true, {10, 5, far, 0}},
        {"sentinel without a block", kSentinel32, 5, 100, 0, {}, false, {}},
        {"block too short for two values", kSentinel32, kSentinel32, 100, 0, block({big}), false, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CentralHeader h;
        h.uncompressedSize = r.size;
        h.compressedSize = r.packed;
        h.localOffset = r.offset;
        h.diskStart = r.disk;
        WideFields got;
        EXPECT_EQ(WideCentralFields(h, r.extra.data(), r.extra.size(), &got), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(got.uncompressedSize, r.want.uncompressedSize);
        EXPECT_EQ(got.compressedSize, r.want.compressedSize);
        EXPECT_EQ(got.localOffset, r.want.localOffset);
        EXPECT_EQ(got.diskStart, r.want.diskStart);
    }
    // A local header's block holds both sizes whenever it holds one.
    LocalHeader local;
    local.uncompressedSize = 10;
    local.compressedSize = kSentinel32;
    const std::vector<uint8_t> both = block({big, bigger});
    WideFields got;
    ASSERT_TRUE(WideLocalFields(local, both.data(), both.size(), &got));
    EXPECT_EQ(got.uncompressedSize, 10u);
    EXPECT_EQ(got.compressedSize, bigger);
    const std::vector<uint8_t> one = block({big});
    ASSERT_TRUE(WideLocalFields(local, one.data(), one.size(), &got));
    EXPECT_EQ(got.compressedSize, big);

    // The ZIP64 end record and locator, byte for byte.
    Zip64EndRecord record;
    record.recordSize = 44;
    record.versionMadeBy = 45;
    record.versionNeeded = 45;
    record.thisDisk = 1;
    record.centralDisk = 2;
    record.entriesOnDisk = 70000;
    record.totalEntries = 70001;
    record.centralSize = big;
    record.centralOffset = far;
    uint8_t bytes[kZip64EndRecordSize];
    SerializeZip64EndRecord(record, bytes);
    Zip64EndRecord back;
    ASSERT_TRUE(ParseZip64EndRecord(bytes, &back));
    EXPECT_EQ(back.totalEntries, 70001u);
    EXPECT_EQ(back.centralSize, big);
    EXPECT_EQ(back.centralOffset, far);
    EXPECT_EQ(back.centralDisk, 2u);
    EXPECT_EQ(GetU64(bytes + 40), big);
    Zip64Locator locator;
    locator.endOffset = far;
    locator.totalDisks = 1;
    uint8_t locatorBytes[kZip64LocatorSize];
    SerializeZip64Locator(locator, locatorBytes);
    Zip64Locator locatorBack;
    ASSERT_TRUE(ParseZip64Locator(locatorBytes, &locatorBack));
    EXPECT_EQ(locatorBack.endOffset, far);
    bytes[0] = 'X';
    EXPECT_FALSE(ParseZip64EndRecord(bytes, &back));
}

#ifndef _WIN32
// An archive made only of the records the writer builds, the way the update
// writes it to a disk file (header rewritten, no descriptor) and to a stream
// (bit 3 kept, descriptor after the data), must test clean with the peers.
TEST(ZipRecords, WrittenRecordsPassThePeers) {
    if (!HaveTool("unzip") || !HaveTool("7zz")) GTEST_SKIP() << "unzip or 7zz not installed";
    ScratchFolder scratch;
    const std::string prefix(700, 'S');  // a module in front: offsets are absolute
    std::string out = prefix;
    std::string central;
    const struct {
        const char* name;
        std::string data;
        bool stream;
        bool dos;
    } files[] = {{"plain.txt", "some text\r\n", false, false},
                 {"sub/streamed.bin", std::string(5000, '\x7f'), true, false},
                 {"DOSNAME.TXT", "x", false, true},
                 {"empty.dat", "", true, true}};
    uint16_t count = 0;
    for (const auto& f : files) {
        uint32_t size = static_cast<uint32_t>(f.data.size());
        uint16_t nameLength = static_cast<uint16_t>(std::strlen(f.name));
        LocalHeader local = FirstLocalHeader(kMethodStored, 0x6000, 0x5A21, false, size, nameLength);
        uint32_t offset = static_cast<uint32_t>(out.size());
        uint8_t bytes[kLocalHeaderSize];
        SerializeLocalHeader(local, bytes);
        out.append(reinterpret_cast<char*>(bytes), sizeof bytes);
        out += f.name;
        out += f.data;
        uint32_t crc = Crc32(f.data.data(), f.data.size());
        if (f.stream) {
            // Not a disk file: the header stays, the values follow the data.
            local.crc = crc;
            DataDescriptor d{crc, size, size};
            uint8_t db[kDescriptorSize];
            SerializeDataDescriptor(d, db);
            out.append(reinterpret_cast<char*>(db), sizeof db);
        } else {
            FinishLocalHeader(&local, kMethodStored, crc, size, size);
            SerializeLocalHeader(local, bytes);
            out.replace(offset, sizeof bytes, reinterpret_cast<char*>(bytes), sizeof bytes);
        }
        CentralHeader c = CentralFromLocal(local, VersionMadeByFor(f.dos, true), InternalAttributesFor(0, false),
                                           ExternalAttributesFor(0x20, f.dos), offset, 0);
        AppendCentralRecord(c, f.name, "", "", offset, &central);
        ++count;
    }
    uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    uint8_t endBytes[kEndRecordSize];
    SerializeEndRecord(MakeEndRecord(count, static_cast<uint32_t>(central.size()), centralOffset, 0), endBytes);
    out.append(reinterpret_cast<char*>(endBytes), sizeof endBytes);
    const std::string path = scratch / "ours.zip";
    WriteWholeFile(path, out);
    EXPECT_TRUE(RunCommand("unzip -tqq '" + path + "'"));
    EXPECT_TRUE(RunCommand("7zz t -bso0 -bsp0 '" + path + "'"));
    // Host and version made by as the peer reads them.
    EXPECT_TRUE(RunCommand("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                           "v=[(i.create_system,i.create_version) for i in z.infolist()]; "
                           "sys.exit(v!=[(11,22),(11,22),(0,20),(0,20)])\" '" + path + "'"));
}
#endif

}  // namespace
}  // namespace tessera::testing
