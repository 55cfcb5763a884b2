#include "codecs/deflate/inflate.h"
#include "codec_result_print.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/deflate/deflate.h"
#include "deflate_test_support.h"

namespace tessera {
namespace {

using testing::BitWriter;
using testing::CanonicalCodes;
using testing::SteppedSource;

// ---- Hand-made streams ------------------------------------------------------

// A run-length symbol of the code-length alphabet with its extra bits.
struct LengthSymbol {
    unsigned symbol, extra;
};

std::vector<LengthSymbol> AsSymbols(const std::vector<uint8_t>& lengths) {
    std::vector<LengthSymbol> out;
    for (uint8_t len : lengths) out.push_back({len, 0});
    return out;
}

// Code-length code used by the hand-made dynamic headers: complete, with the
// run codes 16-18 available (0-12: 4 bits, 13-18: 5 bits).
std::vector<uint8_t> DefaultCodeLengthLengths() {
    std::vector<uint8_t> lengths(19, 4);
    for (unsigned s = 13; s < 19; ++s) lengths[s] = 5;
    return lengths;
}

void PutDynamicHeader(BitWriter& w, bool last, unsigned litCount, unsigned distCount,
                      const std::vector<LengthSymbol>& sequence,
                      const std::vector<uint8_t>& codeLengthLengths = DefaultCodeLengthLengths()) {
    static const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    static const unsigned kExtra[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
    w.Put(last, 1).Put(2, 2).Put(litCount - 257, 5).Put(distCount - 1, 5).Put(19 - 4, 4);
    for (unsigned s : kOrder) w.Put(codeLengthLengths[s], 3);
    const auto codes = CanonicalCodes(codeLengthLengths);
    for (const auto& ls : sequence) {
        w.PutCode(codes[ls.symbol], codeLengthLengths[ls.symbol]);
        w.Put(ls.extra, kExtra[ls.symbol]);
    }
}

// Sends symbols with a literal/length code given by its lengths.
void PutSymbols(BitWriter& w, const std::vector<uint8_t>& lengths, std::initializer_list<unsigned> symbols) {
    const auto codes = CanonicalCodes(lengths);
    for (unsigned s : symbols) w.PutCode(codes[s], lengths[s]);
}

void PutFixed(BitWriter& w, unsigned symbol) {
    if (symbol < 144) w.PutCode(0x30 + symbol, 8);
    else if (symbol < 256) w.PutCode(0x190 + symbol - 144, 9);
    else if (symbol < 280) w.PutCode(symbol - 256, 7);
    else w.PutCode(0xC0 + symbol - 280, 8);
}

struct EdgeCase {
    const char* name;
    std::vector<uint8_t> stream;
    CodecResult result;
    std::string output;  // checked when the result is 0
};

std::vector<uint8_t> LitLengths(unsigned count, std::initializer_list<std::pair<unsigned, uint8_t>> set) {
    std::vector<uint8_t> lengths(count, 0);
    for (auto [symbol, len] : set) lengths[symbol] = len;
    return lengths;
}

std::vector<EdgeCase> EdgeCases() {
    std::vector<EdgeCase> cases;
    {  // 288 literal/length codes (224 x 8 bits, 64 x 9 bits) and 32 distance codes (5 bits).
        std::vector<uint8_t> lit(288, 8), dist(32, 5);
        for (unsigned s = 224; s < 288; ++s) lit[s] = 9;
        std::vector<uint8_t> all = lit;
        all.insert(all.end(), dist.begin(), dist.end());
        BitWriter w;
        PutDynamicHeader(w, true, 288, 32, AsSymbols(all));
        PutSymbols(w, lit, {'a', 'b', 257});
        w.PutCode(CanonicalCodes(dist)[1], 5);  // distance 2
        PutSymbols(w, lit, {256});
        cases.push_back({"HLIT 31 and HDIST 31 are decoded", w.Data(), CodecResult::kOk, "ababa"});
    }
    const auto threeCodes = LitLengths(258, {{'a', 1}, {256, 2}, {257, 2}});
    {  // One distance code of one bit: an incomplete set, accepted.
        auto all = threeCodes;
        all.push_back(1);
        BitWriter w;
        PutDynamicHeader(w, true, 258, 1, AsSymbols(all));
        PutSymbols(w, threeCodes, {'a', 257});
        w.PutCode(0, 1);  // distance 1
        PutSymbols(w, threeCodes, {256});
        cases.push_back({"a single distance code is decoded", w.Data(), CodecResult::kOk, "aaaa"});
    }
    {
        auto all = threeCodes;
        all.push_back(0);
        BitWriter w;
        PutDynamicHeader(w, true, 258, 1, AsSymbols(all));
        PutSymbols(w, threeCodes, {'a', 256});
        cases.push_back({"no distance codes with length codes declared", w.Data(), CodecResult::kBadData, ""});
    }
    {
        const auto lit = LitLengths(257, {{'a', 1}, {256, 1}});
        auto all = lit;
        all.push_back(0);
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, AsSymbols(all));
        PutSymbols(w, lit, {'a', 'a', 256});
        cases.push_back({"no distance codes and only literals", w.Data(), CodecResult::kOk, "aa"});
    }
    {
        auto lit = LitLengths(257, {{'a', 1}, {256, 2}});
        lit.push_back(1);
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, AsSymbols(lit));
        cases.push_back({"incomplete literal/length set", w.Data(), CodecResult::kBadData, ""});
    }
    {
        auto lit = LitLengths(257, {{'a', 1}, {'b', 1}, {256, 1}});
        lit.push_back(1);
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, AsSymbols(lit));
        cases.push_back({"over-subscribed literal/length set", w.Data(), CodecResult::kBadBlock, ""});
    }
    {
        auto lit = LitLengths(257, {{'a', 1}, {256, 1}});
        lit.push_back(1);
        lit.push_back(1);
        lit.push_back(1);
        BitWriter w;
        PutDynamicHeader(w, true, 257, 3, AsSymbols(lit));
        cases.push_back({"over-subscribed distance set", w.Data(), CodecResult::kBadBlock, ""});
    }
    {
        std::vector<uint8_t> cl(19, 0);
        cl[16] = cl[17] = cl[18] = 1;
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, {}, cl);
        cases.push_back({"over-subscribed code-length code", w.Data(), CodecResult::kBadBlock, ""});
    }
    {
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, {}, std::vector<uint8_t>(19, 0));
        cases.push_back({"empty code-length code", w.Data(), CodecResult::kBadData, ""});
    }
    {
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, {{16, 0}});
        cases.push_back({"repeat with no previous length", w.Data(), CodecResult::kBadData, ""});
    }
    {
        BitWriter w;
        PutDynamicHeader(w, true, 257, 1, {{18, 127}, {18, 127}});
        cases.push_back({"repeat past the last length", w.Data(), CodecResult::kBadData, ""});
    }
    cases.push_back({"stored block", BitWriter().Put(1, 1).Put(0, 2).Bytes({3, 0, 0xFC, 0xFF, 'a', 'b', 'c'}).Data(),
                     CodecResult::kOk, "abc"});
    cases.push_back({"stored block with NLEN not the complement of LEN",
                     BitWriter().Put(1, 1).Put(0, 2).Bytes({3, 0, 0xFD, 0xFF, 'a', 'b', 'c'}).Data(), CodecResult::kBadData, ""});
    cases.push_back({"stored block shorter than LEN", BitWriter().Put(1, 1).Put(0, 2).Bytes({3, 0, 0xFC, 0xFF, 'a'}).Data(),
                     CodecResult::kBadData, ""});
    cases.push_back({"block type 3", BitWriter().Put(1, 1).Put(3, 2).Put(0, 16).Data(), CodecResult::kBadBlock, ""});
    {
        BitWriter w;
        w.Put(1, 1).Put(1, 2);
        PutFixed(w, 'a');
        PutFixed(w, 257);
        w.PutCode(1, 5);  // distance 2, one byte back too far
        PutFixed(w, 256);
        cases.push_back({"distance before the first output byte", w.Data(), CodecResult::kBadData, ""});
    }
    {
        BitWriter w;
        w.Put(1, 1).Put(1, 2);
        PutFixed(w, 'a');
        PutFixed(w, 286);
        cases.push_back({"literal/length code 286", w.Data(), CodecResult::kBadData, ""});
    }
    {
        BitWriter w;
        w.Put(1, 1).Put(1, 2);
        PutFixed(w, 'a');
        PutFixed(w, 257);
        w.PutCode(30, 5);
        cases.push_back({"distance code 30", w.Data(), CodecResult::kBadData, ""});
    }
    {
        BitWriter w;
        w.Put(0, 1).Put(1, 2);  // not the last block
        PutFixed(w, 'x');
        PutFixed(w, 256);
        cases.push_back({"input ends before the last block", w.Data(), CodecResult::kBadData, ""});
    }
    {
        BitWriter w;
        w.Put(1, 1).Put(1, 2);
        PutFixed(w, 'x');
        PutFixed(w, 'y');
        cases.push_back({"input ends inside a block", w.Data(), CodecResult::kBadData, ""});
    }
    return cases;
}

TEST(Inflate, HandMadeStreamsGiveTheDefinedResults) {
    Inflater inflater;
    for (const auto& c : EdgeCases()) {
        for (size_t step : {size_t{1}, size_t{4096}}) {
            SteppedSource source(c.stream, step);
            VectorSink sink;
            EXPECT_EQ(inflater.Inflate(source, sink), c.result) << c.name << ", step " << step;
            if (c.result == CodecResult::kOk) {
                EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.end()), c.output) << c.name;
            }
        }
    }
}

// ---- Streams of other encoders ----------------------------------------------

struct PeerStream {
    std::string stream, plain, maker;
};

std::vector<PeerStream> PeerStreams() {
    std::vector<PeerStream> streams;
    std::ifstream in(testing::PeerStreamPath("manifest.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        PeerStream s;
        std::getline(fields, s.stream, '\t');
        std::getline(fields, s.plain, '\t');
        std::getline(fields, s.maker, '\t');
        streams.push_back(s);
    }
    return streams;
}

TEST(Inflate, DecodesStreamsOfOtherEncodersWhateverTheInputStep) {
    const auto streams = PeerStreams();
    ASSERT_FALSE(streams.empty()) << "peer streams missing: " << testing::PeerStreamPath("manifest.tsv");
    Inflater inflater;  // one decoder for all, as in a run
    std::set<std::string> makers;
    for (const auto& s : streams) {
        const auto packed = testing::ReadWholeFile(testing::PeerStreamPath(s.stream));
        const auto plain = testing::ReadWholeFile(testing::PeerStreamPath(s.plain));
        makers.insert(s.maker.substr(0, s.maker.find(' ')));
        for (size_t step : {size_t{1}, size_t{13}, packed.size() + 1}) {
            if (step == 1 && packed.size() > 20000) continue;
            SteppedSource source(packed, step);
            VectorSink sink;
            ASSERT_EQ(inflater.Inflate(source, sink), CodecResult::kOk) << s.stream << " step " << step;
            EXPECT_TRUE(sink.bytes == plain) << s.stream << " step " << step;
            EXPECT_EQ(inflater.UnusedInputSize(), 0u) << s.stream;
        }
    }
    for (const char* maker : {"zlib", "gzip", "7zz", "zopfli"}) EXPECT_TRUE(makers.count(maker)) << maker;
}

TEST(Inflate, HandsBackTheBytesAfterTheStream) {
    auto packed = testing::ReadWholeFile(testing::PeerStreamPath("mixed.zlib6.deflate"));
    const size_t streamSize = packed.size();
    const std::string trailer = "TRAILER!";
    packed.insert(packed.end(), trailer.begin(), trailer.end());
    Inflater inflater;
    for (size_t step : {size_t{1}, size_t{7}, size_t{streamSize - 3}, packed.size()}) {
        SteppedSource source(packed, step);
        CountingSink sink;
        ASSERT_EQ(inflater.Inflate(source, sink), CodecResult::kOk) << step;
        // The source may hold more; what Inflate fetched past the end comes back first.
        std::string rest(reinterpret_cast<const char*>(inflater.UnusedInput()), inflater.UnusedInputSize());
        uint8_t more[64];
        for (size_t n; (n = source.Read(more, sizeof more)) > 0;) rest.append(reinterpret_cast<char*>(more), n);
        EXPECT_EQ(rest, trailer) << step;
    }
}

TEST(Inflate, TruncatedAndDamagedStreamsEndInAResult) {
    const auto packed = testing::ReadWholeFile(testing::PeerStreamPath("text.zopfli.deflate"));
    ASSERT_FALSE(packed.empty());
    Inflater inflater;
    for (size_t cut = 0; cut < packed.size(); cut += (packed.size() - cut > 64 ? 97 : 1)) {
        std::vector<uint8_t> part(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
        MemorySource source(part.data(), part.size());
        CountingSink sink;
        EXPECT_EQ(inflater.Inflate(source, sink), CodecResult::kBadData) << "cut at " << cut;
    }
    std::mt19937 random(3);
    for (int i = 0; i < 300; ++i) {
        auto damaged = packed;
        for (int flips = 0; flips < 3; ++flips) damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        MemorySource source(damaged.data(), damaged.size());
        VectorSink sink(1 << 20);
        const CodecResult result = inflater.Inflate(source, sink);
        EXPECT_TRUE(result >= CodecResult::kOk && result <= CodecResult::kBadBlock) << result;
    }
}

TEST(Inflate, StopsAtOnceWhenTheSinkRefuses) {
    // A bomb: 16 MiB of zeros in a few KiB; the sink allows 1 MiB.
    std::vector<uint8_t> zeros(16 << 20);
    MemorySource plain(zeros.data(), zeros.size());
    VectorSink packed;
    Deflater deflater;
    DeflateFile file;
    file.level = 9;
    ASSERT_EQ(deflater.Compress(plain, packed, file), CodecResult::kOk);
    ASSERT_LT(packed.bytes.size(), 32768u);

    // Takes pieces while they fit in 1 MiB; counts any call after it refused.
    struct LimitedSink final : ByteSink {
        bool Write(const uint8_t* data, size_t size) override {
            if (refused || size > (size_t{1} << 20) - accepted) {
                callsAfterRefusal += refused;
                refused = true;
                return false;
            }
            for (size_t i = 0; i < size; ++i) nonZero += data[i] != 0;
            accepted += size;
            return true;
        }
        size_t accepted = 0, nonZero = 0;
        bool refused = false;
        int callsAfterRefusal = 0;
    } sink;
    Inflater inflater;
    MemorySource source(packed.bytes.data(), packed.bytes.size());
    EXPECT_EQ(inflater.Inflate(source, sink), CodecResult::kAborted);
    EXPECT_TRUE(sink.refused);
    EXPECT_EQ(sink.callsAfterRefusal, 0);
    EXPECT_GT(sink.accepted, 0u);
    EXPECT_EQ(sink.nonZero, 0u);
}

TEST(Inflate, CabinetBlocksKeepTheirHistory) {
    const auto blocks = testing::ReadWholeFile(testing::PeerStreamPath("mszip.blocks"));
    const auto text = testing::ReadWholeFile(testing::PeerStreamPath("text.raw"));
    ASSERT_FALSE(blocks.empty());
    Inflater inflater;
    std::vector<uint8_t> out, block(32768);
    inflater.ResetHistory();
    unsigned count = 0;
    for (size_t pos = 0; pos + 8 <= blocks.size(); ++count) {
        const uint32_t packedSize = blocks[pos] | blocks[pos + 1] << 8 | blocks[pos + 2] << 16 | uint32_t{blocks[pos + 3]} << 24;
        const uint32_t plainSize = blocks[pos + 4] | blocks[pos + 5] << 8 | blocks[pos + 6] << 16 | uint32_t{blocks[pos + 7]} << 24;
        pos += 8;
        size_t produced = 0;
        ASSERT_EQ(inflater.InflateBlock(blocks.data() + pos, packedSize, block.data(), block.size(), &produced), CodecResult::kOk)
            << "block " << count;
        EXPECT_EQ(produced, plainSize);
        out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(produced));
        if (count == 1) {
            // Without the first block's history the second one cannot be decoded.
            Inflater fresh;
            fresh.ResetHistory();
            EXPECT_EQ(fresh.InflateBlock(blocks.data() + pos, packedSize, block.data(), block.size(), &produced),
                      CodecResult::kBadData);
        }
        pos += packedSize;
    }
    EXPECT_GT(count, 2u);
    EXPECT_TRUE(out == text);

    // Output beyond the caller's buffer is invalid data.
    const uint32_t firstSize = blocks[0] | blocks[1] << 8 | blocks[2] << 16 | uint32_t{blocks[3]} << 24;
    size_t produced;
    inflater.ResetHistory();
    EXPECT_EQ(inflater.InflateBlock(blocks.data() + 8, firstSize, block.data(), 1000, &produced), CodecResult::kBadData);
}

}  // namespace
}  // namespace tessera
