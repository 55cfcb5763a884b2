// The canonical prefix table shared by the ARJ and LZX decoders.
#include "codecs/msb_prefix_code.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessera {
namespace {

TEST(MsbPrefixCode, ShapeOfEveryKindOfLengthSet) {
    struct Row {
        const char* name;
        std::vector<uint8_t> lengths;
        PrefixCodeShape shape;
    } rows[] = {
        {"complete", {1, 2, 3, 3}, PrefixCodeShape::kComplete},
        {"all zero", {0, 0, 0}, PrefixCodeShape::kEmpty},
        {"one symbol of one bit", {0, 1, 0}, PrefixCodeShape::kInvalid},
        {"over-full", {1, 1, 2}, PrefixCodeShape::kInvalid},
        {"under-full", {1, 2}, PrefixCodeShape::kInvalid},
        {"length 17", {1, 17}, PrefixCodeShape::kInvalid},
    };
    for (const Row& row : rows) {
        MsbPrefixCode<8, 4> code;
        EXPECT_EQ(code.Build(row.lengths.data(), static_cast<unsigned>(row.lengths.size())), row.shape) << row.name;
    }
    MsbPrefixCode<4, 4> small;
    const uint8_t five[] = {1, 2, 3, 4, 4};
    EXPECT_EQ(small.Build(five, 5), PrefixCodeShape::kInvalid) << "more symbols than the table holds";
}

// Codes from 1 to 16 bits, with a direct table of 4 bits: the long ones go
// through the walk over the counts and must come out the same.
TEST(MsbPrefixCode, ShortAndLongCodesDecodeInCanonicalOrder) {
    std::vector<uint8_t> lengths;
    for (uint8_t len = 1; len <= 15; ++len) lengths.push_back(len);
    lengths.push_back(16);
    lengths.push_back(16);  // lengths 1..15 once and 16 twice fill the space exactly
    std::swap(lengths[0], lengths[5]);  // symbol 0 gets 6 bits, symbol 5 one bit
    MsbPrefixCode<32, 4> code;
    ASSERT_EQ(code.Build(lengths.data(), static_cast<unsigned>(lengths.size())), PrefixCodeShape::kComplete);

    // Canonical codes: within a length by symbol; each length's first code
    // follows the last code of the shorter ones.
    uint32_t next = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        for (unsigned s = 0; s < lengths.size(); ++s) {
            if (lengths[s] != len) continue;
            const uint32_t peek = next << (16 - len) | ((1u << (16 - len)) - 1);  // the bits after it all ones
            unsigned got = 0;
            EXPECT_EQ(code.Decode(peek, got), static_cast<int>(s)) << "length " << len;
            EXPECT_EQ(got, len);
            ++next;
        }
        next <<= 1;
    }
    MsbPrefixCode<4, 4> empty;
    const uint8_t zeros[] = {0, 0};
    ASSERT_EQ(empty.Build(zeros, 2), PrefixCodeShape::kEmpty);
    unsigned got = 0;
    EXPECT_EQ(empty.Decode(0x1234, got), -1);
}

}  // namespace
}  // namespace tessera
