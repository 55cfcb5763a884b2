#include "codecs/unshrink/unshrink.h"
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

struct Unshrunk {
    CodecResult result;
    std::string text;
};

Unshrunk UnshrinkAll(Unshrinker& unshrinker, const std::vector<uint8_t>& data, uint64_t size, size_t step = 3) {
    SteppedSource source(data, step);
    VectorSink sink(64 << 20);
    Unshrunk u;
    u.result = unshrinker.Unshrink(source, sink, size);
    u.text.assign(sink.bytes.begin(), sink.bytes.end());
    return u;
}

// Codes of the given widths, least significant bit first.
std::vector<uint8_t> Codes(std::initializer_list<std::pair<unsigned, unsigned>> codes) {
    BitWriter w;
    for (const auto& c : codes) w.Put(c.first, c.second);
    w.AlignToByte();
    return w.Data();
}

TEST(Unshrink, SampleArchivesOfSeveralWritersExtractToTheirCrcs) {
    TESSERA_REQUIRE_CORPUS();
    Unshrinker unshrinker;  // one decoder for the run
    unsigned members = 0, archives = 0;
    for (const auto& sample : testing::CorpusSamplesOf("zip")) {
        bool seen = false;
        for (const auto& m : testing::ZipMembers(testing::ReadWholeFile(testing::CorpusPath(sample.file)))) {
            if (m.method != 1) continue;
            SCOPED_TRACE(sample.file + ": " + m.name);
            SteppedSource source(m.data, m.data.size() < 5000 ? 5 : 1 << 20);
            VectorSink sink(64 << 20);
            EXPECT_EQ(unshrinker.Unshrink(source, sink, m.size), CodecResult::kOk);
            EXPECT_EQ(sink.bytes.size(), m.size);
            EXPECT_EQ(Crc32(sink.bytes.data(), sink.bytes.size()), m.crc);
            ++members;
            seen = true;
        }
        archives += seen;
    }
    EXPECT_GE(archives, 5u);  // PKZIP 1.x, hwzip and others
    EXPECT_GE(members, 10u);
}

TEST(Unshrink, NewCodesControlCodesAndPartialClearing) {
    Unshrinker unshrinker;
    struct Row {
        const char* what;
        std::vector<uint8_t> data;
        uint64_t size;
        CodecResult result;
        std::string text;  // what reached the sink (nothing more once the data is invalid)
    };
    const Row rows[] = {
        // A, B, 257 = "AB", then 259 before it exists: "AB" + its own first byte.
        {"a code used as it is made", Codes({{'A', 9}, {'B', 9}, {257, 9}, {259, 9}}), 7, CodecResult::kOk, "ABABABA"},
        {"wider codes after 256,1", Codes({{'A', 9}, {256, 9}, {1, 9}, {'B', 10}, {257, 10}}), 4, CodecResult::kOk,
         "ABAB"},
        // After the clear, 257 ("AB", a leaf) is free again and becomes "BC".
        {"partial clear frees leaves for reuse",
         Codes({{'A', 9}, {'B', 9}, {256, 9}, {2, 9}, {'C', 9}, {257, 9}}), 5, CodecResult::kOk, "ABCBC"},
        // "AB" (257) is the prefix of "ABC" (258): the clear keeps it, frees 258.
        {"prefixes survive a partial clear",
         Codes({{'A', 9}, {'B', 9}, {257, 9}, {'C', 9}, {256, 9}, {2, 9}, {'D', 9}, {257, 9}, {258, 9}}), 10,
         CodecResult::kOk, "ABABCDABCD"},
        {"output stops at the declared size", Codes({{'A', 9}, {'B', 9}, {257, 9}}), 3, CodecResult::kOk, "ABA"},
        {"an unknown control code", Codes({{'A', 9}, {256, 9}, {3, 9}}), 4, CodecResult::kBadData, ""},
        {"wider than 13 bits", Codes({{256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11}, {256, 12}, {1, 12},
                                      {256, 13}, {1, 13}}), 4, CodecResult::kBadData, ""},
        {"a code neither in use nor next", Codes({{'A', 9}, {300, 9}}), 4, CodecResult::kBadData, ""},
        {"a new code first", Codes({{257, 9}}), 4, CodecResult::kBadData, ""},
        {"input ends early", Codes({{'A', 9}, {'B', 9}}), 5, CodecResult::kTruncated, "AB"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const Unshrunk u = UnshrinkAll(unshrinker, r.data, r.size);
        EXPECT_EQ(u.result, r.result);
        EXPECT_EQ(u.text, r.text);
    }
}

// Codes whose prefixes form a loop (possible only in hostile data, through a
// partial clear) end as invalid data instead of looping.
TEST(Unshrink, PrefixLoopsEndAsInvalidData) {
    Unshrinker unshrinker;
    // 257 = "AB" is freed by the clear while it is the previous code; the
    // next new code takes 257 itself with 257 as its prefix.
    const auto data = Codes({{'A', 9}, {'B', 9}, {257, 9}, {256, 9}, {2, 9}, {257, 9}, {257, 9}});
    const Unshrunk u = UnshrinkAll(unshrinker, data, 100);
    EXPECT_NE(u.result, CodecResult::kOk);
}

}  // namespace
}  // namespace tessera
