// The block reader and the two end-record searches: which blocks are read,
// in what order, and where the record is found, at the size edges.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "zip/zip_directory.h"
#include "zip/zip_input.h"

namespace tessera::testing {
namespace {

using namespace tessera::zip;

// Memory input that logs every read and can fail the reads of one range.
class LoggingInput final : public RandomAccessInput {
public:
    explicit LoggingInput(std::vector<uint8_t> data) : data_(std::move(data)), memory_(data_.data(), data_.size()) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        reads.emplace_back(offset, size);
        if (offset < failFrom + failLength && offset + size > failFrom) {
            *got = 0;
            return false;
        }
        return memory_.ReadAt(offset, buffer, size, got);
    }
    uint64_t Size() const override { return data_.size(); }
    std::vector<std::pair<uint64_t, size_t>> reads;
    uint64_t failFrom = 0, failLength = 0;

private:
    std::vector<uint8_t> data_;
    MemoryInput memory_;
};

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return data;
}

// `size` bytes of filler with an empty end record at `position`.
std::vector<uint8_t> WithEndRecordAt(size_t size, size_t position) {
    std::vector<uint8_t> data(size, 0xAA);
    const uint8_t sig[] = {'P', 'K', 5, 6};
    for (size_t i = 0; i < 4; ++i) data[position + i] = sig[i];
    for (size_t i = 4; i < 22 && position + i < size; ++i) data[position + i] = 0;
    return data;
}

TEST(ZipBlockReader, ReadsAcrossAlignedBlocks) {
    const std::vector<uint8_t> data = Pattern(100000);
    LoggingInput input(data);
    BlockReader reader(input);
    ASSERT_TRUE(reader.Allocate());
    const struct {
        int64_t position;
        size_t size;
        ReadStatus status;
    } cases[] = {
        {0, 10, ReadStatus::Ok},          {32760, 20, ReadStatus::Ok},   {32768, 4, ReadStatus::Ok},
        {5, 70000, ReadStatus::Ok},       {99990, 10, ReadStatus::Ok},   {99990, 11, ReadStatus::ShortRead},
        {100000, 1, ReadStatus::ShortRead}, {200000, 1, ReadStatus::ShortRead},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(c.size);
        ASSERT_EQ(reader.Seek(c.position), ReadStatus::Ok) << c.position;
        EXPECT_EQ(reader.Read(out.data(), out.size()), c.status) << c.position;
        if (c.status == ReadStatus::Ok) {
            EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + c.position)) << c.position;
        }
    }
    // Every refill read one aligned block.
    for (const auto& r : input.reads) {
        EXPECT_EQ(r.first % 32768, 0u);
        EXPECT_EQ(r.second, 32768u);
    }
    // A seek inside the current block reads nothing.
    reader.Seek(40000);
    size_t before = input.reads.size();
    reader.Seek(32768);
    reader.Seek(65535);
    EXPECT_EQ(input.reads.size(), before);
    EXPECT_EQ(reader.NextByte(), data[65535]);
    EXPECT_EQ(reader.NextByte(), data[65536]);  // refill at the block edge
    EXPECT_EQ(reader.Position(), 65537u);

    EXPECT_EQ(reader.Seek(-1), ReadStatus::NegativePosition);
    input.failFrom = 65536;
    input.failLength = 1;
    reader.Seek(0);
    std::vector<uint8_t> out(70000);
    EXPECT_EQ(reader.Read(out.data(), out.size()), ReadStatus::ReadError);
}

TEST(ZipBlockReader, EntrySourceStopsAtItsCountAndAtTheEnd) {
    const std::vector<uint8_t> data = Pattern(50000);
    MemoryInput input(data.data(), data.size());
    BlockReader reader(input);
    ASSERT_TRUE(reader.Allocate());
    reader.Seek(30000);
    EntryDataSource limited(reader, 5000);
    std::vector<uint8_t> out(8000);
    EXPECT_EQ(limited.Read(out.data(), out.size()), 5000u);
    EXPECT_EQ(limited.Read(out.data(), out.size()), 0u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 5000, data.begin() + 30000));
    EXPECT_EQ(reader.Position(), 35000u);

    // A declared size far beyond the file: the data ends with the file.
    reader.Seek(49990);
    EntryDataSource huge(reader, 0xFFFFFFFFu);
    EXPECT_EQ(huge.Read(out.data(), out.size()), 10u);
    EXPECT_EQ(huge.Read(out.data(), out.size()), 0u);
    EXPECT_FALSE(huge.Failed());
}

TEST(ZipEndSearch, ReadingSearchBlocksAndEdges) {
    using Reads = std::vector<std::pair<uint64_t, size_t>>;
    const struct {
        const char* what;
        size_t size;
        size_t position;  // of the planted record; SIZE_MAX: none
        bool found;
        Reads reads;      // empty: not checked
    } cases[] = {
        {"smallest archive", 22, 0, true, {{0, 22}}},
        {"exactly 32768 bytes is read whole", 32768, 32768 - 22, true, {{0, 32768}}},
        {"exactly 32768 bytes, record at 0", 32768, 0, true, {{0, 32768}}},
        {"tail 0: two whole blocks, the last 64 KiB", 65536, 0, true, {{32768, 32768}, {0, 32768}}},
        {"tail 0 three blocks: the first is never read", 98304, 100, false, {{65536, 32768}, {32768, 32768}}},
        {"tail over 18 is read first", 65536 + 40, 65536 + 40 - 22, true, {{65536, 40}}},
        {"tail up to 18 is not read", 65536 + 10, 65536 + 10 - 22, true, {{32768, 32768}}},
        {"signature straddling two blocks", 65536 + 100, 65536 - 2, true, {{65536, 100}, {32768, 32768}}},
        {"under 64 KiB: one block behind the tail", 40000, 0, true, {{32768, 7232}, {0, 32768}}},
        {"outside the last 64 KiB", 200000, 130000, false, {}},
        {"signature without room for the record", 1000, 1000 - 21, false, {}},
        {"no signature", 70000, SIZE_MAX, false, {}},
        {"too small for a record", 21, SIZE_MAX, false, {}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> data =
            c.position == SIZE_MAX ? std::vector<uint8_t>(c.size, 0xAA) : WithEndRecordAt(c.size, c.position);
        LoggingInput input(data);
        BlockReader reader(input);
        ASSERT_TRUE(reader.Allocate());
        uint64_t position = 0;
        SearchResult result = FindEndRecordForReading(reader, &position);
        EXPECT_EQ(result, c.found ? SearchResult::Found : SearchResult::NotFound) << c.what;
        if (c.found) {
            EXPECT_EQ(position, c.position) << c.what;
        }
        if (!c.reads.empty()) {
            EXPECT_EQ(input.reads, c.reads) << c.what;
        }
        // The record is readable through the reader right after the search.
        if (c.found) {
            uint8_t record[22];
            ASSERT_EQ(reader.Seek(static_cast<int64_t>(position)), ReadStatus::Ok);
            EXPECT_EQ(reader.Read(record, 22), ReadStatus::Ok) << c.what;
            EndRecord end;
            EXPECT_TRUE(ParseEndRecord(record, &end)) << c.what;
        }
    }
    // A read error is not "not found".
    LoggingInput failing(WithEndRecordAt(70000, 0));
    failing.failFrom = 0;
    failing.failLength = 70000;
    BlockReader reader(failing);
    ASSERT_TRUE(reader.Allocate());
    uint64_t position = 0;
    EXPECT_EQ(FindEndRecordForReading(reader, &position), SearchResult::ReadError);
}

TEST(ZipEndSearch, UpdatingSearchCoversTheWholeFile) {
    const struct {
        const char* what;
        size_t size;
        size_t position;
        bool found;
    } cases[] = {
        {"far from the end", 100000, 5, true},
        {"straddling two 4 KiB blocks", 100000, 100000 - 4096 * 3 - 2, true},
        {"file under 4 KiB", 1000, 0, true},
        {"last possible place", 5000, 5000 - 22, true},
        {"no room for the record", 5000, 5000 - 21, false},
    };
    for (const auto& c : cases) {
        LoggingInput input(WithEndRecordAt(c.size, c.position));
        uint64_t position = 0;
        EXPECT_EQ(FindEndRecordForUpdating(input, &position), c.found ? SearchResult::Found : SearchResult::NotFound)
            << c.what;
        if (c.found) {
            EXPECT_EQ(position, c.position) << c.what;
        }
        for (const auto& r : input.reads) EXPECT_LE(r.second, 4096u) << c.what;
    }
}

}  // namespace
}  // namespace tessera::testing
