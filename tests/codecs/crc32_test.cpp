#include "codecs/crc32/crc32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_files.h"

namespace tessera {
namespace {

TEST(Crc32, MatchesCheckValueAndBitwiseOracleAtEveryLength) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the published check value
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (size_t n = 0; n <= data.size(); ++n)
        EXPECT_EQ(Crc32(data.data(), n), testing::ReferenceCrc32(data.data(), n)) << n;
}

TEST(Crc32, LongBuffersAtEveryOffsetAndLengthMatchTheOracle) {
    // Covers the folding path (64 bytes and more) with its 16-byte tail.
    std::vector<uint8_t> data(3000);
    uint32_t x = 12345;
    for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t n = 50; n + offset <= data.size(); n += 37)
            ASSERT_EQ(Crc32(data.data() + offset, n), testing::ReferenceCrc32(data.data() + offset, n)) << offset << " " << n;
    uint32_t crc = Crc32Update(0xFFFFFFFFu, data.data(), 1000);
    crc = Crc32Update(crc, data.data() + 1000, 2000);
    EXPECT_EQ(~crc, testing::ReferenceCrc32(data.data(), 3000));
}

TEST(Crc32, UpdateIsResumableAtAnySplit) {
    std::string text = "The quick brown fox jumps over the lazy dog";
    for (size_t split = 0; split <= text.size(); ++split) {
        uint32_t crc = Crc32Update(0xFFFFFFFFu, text.data(), split);
        crc = Crc32Update(crc, text.data() + split, text.size() - split);
        EXPECT_EQ(~crc, 0x414FA339u) << split;
    }
}

}  // namespace
}  // namespace tessera
