#include "codecs/unreduce/unreduce.h"
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

// A Reduce stream: follower sets (all empty but `sets`), then the stage-two
// bytes, each sent raw unless the previous byte's set holds it.
std::vector<uint8_t> ReduceStream(const std::vector<uint8_t>& stageTwo,
                                  const std::vector<std::pair<uint8_t, std::string>>& sets = {}) {
    std::string follower[256];
    for (const auto& s : sets) follower[s.first] = s.second;
    BitWriter w;
    for (int set = 255; set >= 0; --set) {
        w.Put(static_cast<uint32_t>(follower[set].size()), 6);
        for (char c : follower[set]) w.Put(static_cast<uint8_t>(c), 8);
    }
    uint8_t last = 0;
    for (uint8_t byte : stageTwo) {
        const std::string& set = follower[last];
        const size_t index = set.find(static_cast<char>(byte));
        if (set.empty()) {
            w.Put(byte, 8);
        } else if (index == std::string::npos) {
            w.Put(1, 1).Put(byte, 8);
        } else {
            unsigned bits = 1;
            while ((1u << bits) < set.size()) ++bits;
            w.Put(0, 1).Put(static_cast<uint32_t>(index), bits);
        }
        last = byte;
    }
    w.AlignToByte();
    return w.Data();
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

struct Unreduced {
    CodecResult result;
    std::string text;
};

Unreduced UnreduceAll(Unreducer& unreducer, const std::vector<uint8_t>& data, unsigned factor, uint64_t size) {
    SteppedSource source(data, 3);
    VectorSink sink(64 << 20);
    Unreduced u;
    u.result = unreducer.Unreduce(source, sink, factor, size);
    u.text.assign(sink.bytes.begin(), sink.bytes.end());
    return u;
}

TEST(Unreduce, SampleArchivesOfEveryFactorExtractToTheirCrcs) {
    TESSERA_REQUIRE_CORPUS();
    Unreducer unreducer;  // one decoder for the run
    unsigned factors[6] = {};
    for (const auto& sample : testing::CorpusSamplesOf("zip")) {
        for (const auto& m : testing::ZipMembers(testing::ReadWholeFile(testing::CorpusPath(sample.file)))) {
            if (m.method < 2 || m.method > 5) continue;
            SCOPED_TRACE(sample.file + ": " + m.name);
            SteppedSource source(m.data, m.data.size() < 5000 ? 5 : 1 << 20);
            VectorSink sink(64 << 20);
            EXPECT_EQ(unreducer.Unreduce(source, sink, m.method - 1u, m.size), CodecResult::kOk);
            EXPECT_EQ(sink.bytes.size(), m.size);
            EXPECT_EQ(Crc32(sink.bytes.data(), sink.bytes.size()), m.crc);
            ++factors[m.method];
        }
    }
    for (unsigned method = 2; method <= 5; ++method) EXPECT_GT(factors[method], 0u) << "method " << method;
}

// Matches in every factor: the DLE byte's low bits are the length (all ones:
// a length byte follows), its high bits the distance's high byte.
TEST(Unreduce, LiteralsEscapesAndMatchesOfEveryFactor) {
    Unreducer unreducer;
    for (unsigned factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE(factor);
        const uint8_t mask = static_cast<uint8_t>(0x7F >> (factor - 1));
        const uint8_t highShift = static_cast<uint8_t>(8 - factor);
        struct Row {
            const char* what;
            std::vector<uint8_t> stageTwo;
            uint64_t size;
            CodecResult result;
            std::string text;
        };
        std::string longText = "xy" + std::string(mask + 10 + 3, 'x');
        for (size_t i = 2; i < longText.size(); ++i) longText[i] = longText[i - 2];
        std::string far(256 + 3, 'q');
        far[0] = 'F';
        far[1] = 'G';
        far.resize(256 + 3 + 3);
        far[259] = 'F';
        far[260] = 'G';
        far[261] = 'q';
        std::vector<uint8_t> farStream = Bytes("FG");
        farStream.insert(farStream.end(), 257, 'q');
        // Back 259 bytes (high part 1, low byte 2), three bytes long.
        farStream.insert(farStream.end(), {144, static_cast<uint8_t>(1 << highShift), 2});
        farStream.resize(farStream.size());
        const Row rows[] = {
            {"literals", Bytes("plain"), 5, CodecResult::kOk, "plain"},
            {"144 escaped", {'a', 144, 0, 'b'}, 3, CodecResult::kOk, "a\x90" "b"},
            {"a match three back", {'a', 'b', 'c', 144, 3, 2}, 9, CodecResult::kOk, "abcabcabc"},
            {"a long match with its length byte", {'x', 'y', 144, mask, 10, 1}, longText.size(), CodecResult::kOk,
             longText},
            {"a far match", farStream, far.size(), CodecResult::kOk, far},
            {"a match before the start copies zeros", {'z', 144, 0 + 1, 9}, 5, CodecResult::kOk,
             std::string("z\0\0\0\0", 5)},
            {"output stops at the declared size", {'a', 'b', 'c', 144, 3, 2}, 5, CodecResult::kOk, "abcab"},
            {"input ends early", Bytes("ab"), 5, CodecResult::kTruncated, "ab"},
            {"an empty entry reads nothing", Bytes("ab"), 0, CodecResult::kOk, ""},
        };
        for (const Row& r : rows) {
            SCOPED_TRACE(r.what);
            const Unreduced u = UnreduceAll(unreducer, ReduceStream(r.stageTwo), factor, r.size);
            EXPECT_EQ(u.result, r.result);
            EXPECT_EQ(u.text, r.text);
        }
    }
}

TEST(Unreduce, FollowerSetsAndTheirIndexes) {
    Unreducer unreducer;
    // Byte 0 (the start) follows with "xyz"; 'z' follows with "abcde".
    const std::vector<std::pair<uint8_t, std::string>> sets = {{0, "xyz"}, {'z', "abcde"}};
    Unreduced u = UnreduceAll(unreducer, ReduceStream(Bytes("zeQ"), sets), 1, 3);
    EXPECT_EQ(u.result, CodecResult::kOk);
    EXPECT_EQ(u.text, "zeQ");

    // Index 3 of a three-byte set does not exist.
    BitWriter w;
    for (int set = 255; set >= 0; --set) {
        w.Put(set == 0 ? 3 : 0, 6);
        if (set == 0) w.Put('x', 8).Put('y', 8).Put('z', 8);
    }
    w.Put(0, 1).Put(3, 2).AlignToByte();
    u = UnreduceAll(unreducer, w.Data(), 1, 1);
    EXPECT_EQ(u.result, CodecResult::kBadData);

    // A set count above 32 is not a Reduce stream.
    BitWriter big;
    big.Put(33, 6).AlignToByte();
    EXPECT_EQ(UnreduceAll(unreducer, big.Data(), 1, 1).result, CodecResult::kBadData);
    EXPECT_EQ(UnreduceAll(unreducer, big.Data(), 5, 1).result, CodecResult::kUnknownMethod);
}

}  // namespace
}  // namespace tessera
