// Hostile cabinets: each row damages a cabinet we wrote in one way and
// names the error kind the reader must end with. Every row must also end
// (no hang), close every handle and stay inside its buffers (the native
// build runs this under ASan/UBSan).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "cab_fixtures.h"
#include "cab_test_io.h"
#include "engine/cabinet/cab_format.h"
#include "test_files.h"

namespace tessera::testing {
namespace {

using cab::Get16;
using cab::Get32;
using cab::Put16;
using cab::Put32;

// Offsets of the records of a cabinet without neighbours or reserve.
uint32_t FolderAt(int i) { return cab::kHeaderSize + 8u * static_cast<uint32_t>(i); }
uint32_t FirstFileAt(const std::vector<uint8_t>& c) { return Get32(&c[16]); }
uint32_t FirstBlockAt(const std::vector<uint8_t>& c) { return Get32(&c[FolderAt(0)]); }

constexpr int kAnyError = -1;

struct HostileCase {
    const char* name;
    uint16_t type;  // the method of the cabinet that gets damaged
    std::function<void(std::vector<uint8_t>&)> damage;
    int expectedKind;
};

std::vector<HostileCase> Cases() {
    return {
        {"no folders", 0x0000, [](auto& c) { Put16(&c[26], 0); }, cab::kErrorCorruptCabinet},
        {"no files", 0x0000, [](auto& c) { Put16(&c[28], 0); }, cab::kErrorCorruptCabinet},
        {"folder index out of range", 0x0000, [](auto& c) { Put16(&c[FirstFileAt(c) + 8], 7); }, cab::kErrorCorruptCabinet},
        {"file continues to a next cabinet that is not announced", 0x0000,
         [](auto& c) {
             Put16(&c[FirstFileAt(c) + 8], cab::kFolderContinuedToNext);
             Put32(&c[FirstFileAt(c)], 5000000);
         },
         cab::kErrorCorruptCabinet},
        {"file offset past the folder", 0x0001, [](auto& c) { Put32(&c[FirstFileAt(c) + 4], 0x7FFFFFF0); }, cab::kErrorCorruptCabinet},
        {"file size past the folder", 0x1203, [](auto& c) { Put32(&c[FirstFileAt(c)], 0xFFFFFFFF); }, cab::kErrorCorruptCabinet},
        {"file records past the end", 0x0000, [](auto& c) { Put32(&c[16], 0x7FFFFF00); }, cab::kErrorCorruptCabinet},
        {"data blocks past the end", 0x0000, [](auto& c) { Put32(&c[FolderAt(0)], 0x7FFFFF00); }, cab::kErrorCorruptCabinet},
        {"no data blocks", 0x0001, [](auto& c) { Put16(&c[FolderAt(0) + 4], 0); }, cab::kErrorCorruptCabinet},
        {"block larger than any method writes", 0x1203,
         [](auto& c) { Put16(&c[FirstBlockAt(c) + 4], cab::kMaxCompressedBlock + 1); }, cab::kErrorCorruptCabinet},
        {"block unpacking to more than 32768", 0x0000,
         [](auto& c) {
             Put32(&c[FirstBlockAt(c)], 0);
             Put16(&c[FirstBlockAt(c) + 6], 40000);
         },
         cab::kErrorCorruptCabinet},
        {"maximum reserve sizes on a short file", 0x0000,
         [](auto& c) {
             const uint8_t reserve[4] = {0xFF, 0xFF, 0xFF, 0xFF};
             c.insert(c.begin() + cab::kHeaderSize, reserve, reserve + 4);
             Put16(&c[30], Get16(&c[30]) | cab::kFlagReserve);
         },
         cab::kErrorCorruptCabinet},
        {"compression type 4", 0x0000, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x0004); }, cab::kErrorBadCompressionType},
        {"compression type 15", 0x0000, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x000F); }, cab::kErrorBadCompressionType},
        {"LZX window 14", 0x0F03, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x0E03); }, cab::kErrorDecompressorFailure},
        {"LZX window 22", 0x0F03, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x1603); }, cab::kErrorDecompressorFailure},
        {"Quantum window 9", 0x0000, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x0902); }, cab::kErrorDecompressorFailure},
        {"Quantum window 22", 0x0000, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x1602); }, cab::kErrorDecompressorFailure},
        {"flipped data byte", 0x0001, [](auto& c) { c[FirstBlockAt(c) + 20] ^= 0x40; }, cab::kErrorCorruptCabinet},
        {"version 1.2", 0x0000, [](auto& c) { c[24] = 2; }, cab::kErrorUnknownVersion},
        {"provisional signature", 0x0000, [](auto& c) { std::memcpy(c.data(), "!CAB", 4); }, cab::kErrorNotACabinet},
        {"MSZIP block without CK", 0x0001,
         [](auto& c) {
             Put32(&c[FirstBlockAt(c)], 0);
             c[FirstBlockAt(c) + 8] = 'X';
         },
         cab::kErrorDecompressorFailure},
        {"LZX block of random bytes", 0x1503,
         [](auto& c) {
             uint32_t b = FirstBlockAt(c);
             Put32(&c[b], 0);
             std::vector<uint8_t> noise = RandomBytes(Get16(&c[b + 4]), 77);
             std::memcpy(&c[b + 8], noise.data(), noise.size());
         },
         cab::kErrorDecompressorFailure},
        {"LZX data read as Quantum", 0x1503, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x1502); }, kAnyError},
        {"stored data read as LZX", 0x0000, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x1003); }, kAnyError},
        {"stored data read as Quantum", 0x0000, [](auto& c) { Put16(&c[FolderAt(0) + 6], 0x0A02); }, kAnyError},
    };
}

std::vector<SourceFile> SmallSources() {
    return {{"text.txt", TextLike(45000)}, {"noise.bin", RandomBytes(3000, 21)}};
}

TEST(CabReaderHostile, DamagedCabinetsEndWithTheirErrorKind) {
    ScratchFolder dir;
    for (const HostileCase& row : Cases()) {
        SCOPED_TRACE(row.name);
        BuildResult built = BuildCabinet(dir.Path(), "base.cab", SmallSources(), row.type);
        ASSERT_TRUE(built.ok);
        std::vector<uint8_t> bytes = ReadWholeFile(built.cabinets[0]);
        row.damage(bytes);
        std::string path = dir / "damaged.cab";
        WriteWholeFile(path, bytes.data(), bytes.size());
        CabTestIo io;
        CabWalk walk;
        cab::ErrorRecord record = WalkCabinet(path, walk, io);
        if (row.expectedKind != kAnyError) {
            EXPECT_TRUE(record.error);
            EXPECT_EQ(record.kind, row.expectedKind);
        }
        if (row.expectedKind == cab::kErrorUnknownVersion) {
            EXPECT_EQ(record.detail, 0x0102);
        }
        EXPECT_EQ(io.openCount, io.closeCount);
        for (const ExtractedFile& f : walk.files) {
            EXPECT_LE(f.data.size(), f.size);
        }
    }
}

TEST(CabReaderHostile, TruncatedCabinetsFailAtEveryBoundary) {
    ScratchFolder dir;
    for (uint16_t type : {uint16_t{0x0000}, uint16_t{0x0001}, uint16_t{0x1503}}) {
        BuildResult built = BuildCabinet(dir.Path(), "base.cab", SmallSources(), type);
        ASSERT_TRUE(built.ok);
        std::vector<uint8_t> bytes = ReadWholeFile(built.cabinets[0]);
        const uint32_t files = FirstFileAt(bytes), data = FirstBlockAt(bytes);
        for (uint32_t cut : {0u, 10u, 35u, 36u, 40u, files, files + 5, files + 16, data, data + 4, data + 8, data + 100,
                             static_cast<uint32_t>(bytes.size() - 1)}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " cut at " << cut);
            std::string path = dir / "cut.cab";
            WriteWholeFile(path, bytes.empty() ? nullptr : bytes.data(), cut);
            CabTestIo io;
            CabWalk walk;
            cab::ErrorRecord record = WalkCabinet(path, walk, io);
            EXPECT_TRUE(record.error);
            EXPECT_TRUE(record.kind == cab::kErrorNotACabinet || record.kind == cab::kErrorCorruptCabinet) << record.kind;
            EXPECT_EQ(io.openCount, io.closeCount);
        }
    }
}

// Sets: a missing next cabinet is asked for again only while the callback
// answers 0, and never more than the reader's limit; a cabinet that names
// itself as its successor is refused as the wrong cabinet.
TEST(CabReaderHostile, BrokenSetsEndWithoutEndlessRetries) {
    ScratchFolder dir;
    const std::vector<SourceFile> sources = {{"big.bin", RandomBytes(150000, 31)}};
    BuildResult built = BuildCabinet(dir.Path(), "", sources, 0x0000, 65536);
    ASSERT_TRUE(built.ok);
    ASSERT_GE(built.cabinets.size(), 3u);
    std::vector<uint8_t> first = ReadWholeFile(built.cabinets[0]);
    std::vector<uint8_t> second = ReadWholeFile(built.cabinets[1]);
    std::remove(built.cabinets[1].c_str());

    struct Row {
        const char* name;
        int answer;
        bool selfReference;
        int expectedKind;
        size_t expectedAsks;
    } rows[] = {
        {"missing, user cancels", -1, false, cab::kErrorUserAbort, 1},
        {"missing, callback keeps retrying", 0, false, cab::kErrorCabinetNotFound,
         static_cast<size_t>(cab::CabReader::kMaxNextCabinetAttempts)},
        {"next cabinet is the first one again", 0, true, cab::kErrorWrongCabinet,
         static_cast<size_t>(cab::CabReader::kMaxNextCabinetAttempts)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.selfReference) WriteWholeFile(built.cabinets[1], first.data(), first.size());
        CabTestIo io;
        CabWalk walk;
        walk.nextCabinetAnswer = row.answer;
        cab::ErrorRecord record = WalkCabinet(built.cabinets[0], walk, io);
        EXPECT_EQ(record.kind, row.expectedKind);
        EXPECT_EQ(walk.nextCabinetErrors.size(), row.expectedAsks);
        if (walk.nextCabinetErrors.size() > 1) {
            EXPECT_EQ(walk.nextCabinetErrors[1], row.expectedKind);
        }
        ASSERT_EQ(walk.files.size(), 1u);
        EXPECT_TRUE(walk.files[0].closed);
        EXPECT_EQ(walk.files[0].closeError, row.expectedKind);
        EXPECT_EQ(io.openCount, io.closeCount);
    }
    // With the right cabinet back in place the set reads whole.
    WriteWholeFile(built.cabinets[1], second.data(), second.size());
    CabTestIo io;
    CabWalk walk;
    EXPECT_FALSE(WalkCabinet(built.cabinets[0], walk, io).error);
    ASSERT_EQ(walk.files.size(), 1u);
    EXPECT_TRUE(walk.files[0].data == sources[0].data);
}

}  // namespace
}  // namespace tessera::testing
