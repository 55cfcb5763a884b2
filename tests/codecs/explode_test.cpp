#include "codecs/explode/explode.h"
#include "codec_result_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/crc32/crc32.h"
#include "corpus.h"
#include "deflate_test_support.h"

namespace tessera {
namespace {

using testing::BitWriter;
using testing::SteppedSource;
using testing::ZipMember;

struct Exploded {
    CodecResult result;
    uint64_t used;
    std::vector<uint8_t> bytes;
};

Exploded ExplodeAll(Exploder& exploder, const std::vector<uint8_t>& data, uint16_t flags, uint64_t packedSize,
             uint64_t size, size_t step = 1 << 20) {
    SteppedSource source(data, step);
    VectorSink sink(64 << 20);
    Exploded e;
    e.result = exploder.Explode(source, sink, flags, packedSize, size);
    e.used = exploder.UsedSize();
    e.bytes = std::move(sink.bytes);
    return e;
}

std::vector<ZipMember> ImplodedMembers() {
    std::vector<ZipMember> members;
    for (const auto& sample : testing::CorpusSamplesOf("zip"))
        for (auto& m : testing::ZipMembers(testing::ReadWholeFile(testing::CorpusPath(sample.file))))
            if (m.method == 6) members.push_back(std::move(m));
    return members;
}

TEST(Explode, SampleArchivesOfEveryVariantExtractToTheirCrcs) {
    TESSERA_REQUIRE_CORPUS();
    const auto members = ImplodedMembers();
    Exploder exploder;  // one decoder for the run
    unsigned variants[8] = {};
    for (const auto& m : members) {
        const auto e = ExplodeAll(exploder, m.data, m.flags, m.data.size(), m.size, m.data.size() < 5000 ? 7 : 1 << 20);
        EXPECT_EQ(e.result, CodecResult::kOk) << m.name;
        EXPECT_EQ(e.bytes.size(), m.size) << m.name;
        EXPECT_EQ(Crc32(e.bytes.data(), e.bytes.size()), m.crc) << m.name;
        ++variants[m.flags & 6];
    }
    EXPECT_GT(variants[0], 0u);  // 4 KiB, two trees
    EXPECT_GT(variants[6], 0u);  // 8 KiB, three trees
}

TEST(Explode, DataEndingElsewhereThanTheSizeSaysGivesResult5) {
    TESSERA_REQUIRE_CORPUS();
    const auto members = ImplodedMembers();
    ASSERT_FALSE(members.empty());
    Exploder exploder;
    for (const auto& m : members) {
        if (m.data.size() < 200 || m.data.size() > 20000) continue;
        // One byte more than the data uses: extracted, used size below the field.
        auto longer = m.data;
        longer.push_back(0);
        auto e = ExplodeAll(exploder, longer, m.flags, longer.size(), m.size);
        EXPECT_EQ(e.result, CodecResult::kSizeMismatch) << m.name;
        EXPECT_EQ(e.used, m.data.size()) << m.name;
        EXPECT_EQ(Crc32(e.bytes.data(), e.bytes.size()), m.crc) << m.name;
        // Two bytes short: the decoder runs past the end, used size above it.
        std::vector<uint8_t> shorter(m.data.begin(), m.data.end() - 2);
        e = ExplodeAll(exploder, shorter, m.flags, shorter.size(), m.size);
        EXPECT_EQ(e.result, CodecResult::kSizeMismatch) << m.name;
        EXPECT_GT(e.used, shorter.size()) << m.name;
    }
}

TEST(Explode, TruncatedOrDamagedDataNeverRunsAway) {
    TESSERA_REQUIRE_CORPUS();
    const auto members = ImplodedMembers();
    Exploder exploder;
    std::mt19937 random(12);
    for (const auto& m : members) {
        if (m.data.size() > 20000) continue;
        for (size_t cut = 0; cut < m.data.size(); cut += 1 + m.data.size() / 40) {
            std::vector<uint8_t> part(m.data.begin(), m.data.begin() + static_cast<std::ptrdiff_t>(cut));
            const auto e = ExplodeAll(exploder, part, m.flags, part.size(), m.size);
            EXPECT_NE(e.result, CodecResult::kOk) << m.name << " cut " << cut;
        }
        for (int i = 0; i < 20; ++i) {
            auto damaged = m.data;
            damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            const auto e = ExplodeAll(exploder, damaged, m.flags, damaged.size(), m.size);
            EXPECT_TRUE(e.result >= CodecResult::kOk && e.result <= CodecResult::kSizeMismatch) << e.result;
            EXPECT_LE(e.bytes.size(), m.size);
        }
    }
    // A huge declared size on ten bytes: ends at the end of the input.
    const std::vector<uint8_t> tiny = {3, 0xF5, 0xF5, 0xF5, 0xF5, 3, 0xF5, 0xF5, 0xF5, 0xF5};
    const auto e = ExplodeAll(exploder, tiny, 0, tiny.size(), 0xFFFFFFFFu);
    EXPECT_EQ(e.result, CodecResult::kSizeMismatch);
    EXPECT_LT(e.bytes.size(), 1000u);
}

// Tree description of 64 codes of 6 bits: four bytes "16 codes of length 6".
void PutSixBitTree(BitWriter& w) { w.Put(3, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8); }

// A 6-bit code as the data holds it: first bit first, every bit complemented.
void PutSixBitCode(BitWriter& w, unsigned symbol) { w.PutCode(~symbol & 0x3F, 6); }

TEST(Explode, HandMadeStreams) {
    Exploder exploder;
    {
        // 4 KiB, two trees: a match of 3 from 5 bytes back before any output
        // gives zeros, then the literal 'A'.
        BitWriter w;
        PutSixBitTree(w);  // lengths
        PutSixBitTree(w);  // distances
        w.Put(0, 1).Put(4, 6);  // match, low distance bits: distance 4 + 0 * 64 + 1
        PutSixBitCode(w, 0);    // distance code 0
        PutSixBitCode(w, 1);    // length code 1: 1 + 2
        w.Put(1, 1).Put('A', 8);
        const auto e = ExplodeAll(exploder, w.Data(), 0, w.Data().size(), 4);
        EXPECT_EQ(e.result, CodecResult::kOk);
        EXPECT_EQ(std::string(e.bytes.begin(), e.bytes.end()), std::string("\0\0\0A", 4));
    }
    {
        // A literal tree whose counts add up to 255: 15 x 16 + 15.
        BitWriter w;
        w.Put(15, 8);
        for (int i = 0; i < 15; ++i) w.Put(0xF7, 8);
        w.Put(0xE7, 8);
        const auto e = ExplodeAll(exploder, w.Data(), 6, w.Data().size(), 10);
        EXPECT_EQ(e.result, CodecResult::kBadTree);
    }
    {
        // An over-subscribed length tree: 64 codes of 5 bits.
        BitWriter w;
        w.Put(3, 8).Put(0xF4, 8).Put(0xF4, 8).Put(0xF4, 8).Put(0xF4, 8);
        PutSixBitTree(w);
        const auto e = ExplodeAll(exploder, w.Data(), 0, w.Data().size(), 10);
        EXPECT_EQ(e.result, CodecResult::kBadBlock);
    }
}

}  // namespace
}  // namespace tessera
