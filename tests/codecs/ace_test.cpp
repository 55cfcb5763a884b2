// ACE 1.0 decoders on hand-built streams: the width sort's order, the bit
// reader, and hostile LZ77 and comment input.
#include "codecs/ace/ace_lz77.h"
#include "codec_result_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ace/ace_fixtures.h"

namespace tessera::ace {
namespace {

using namespace fixtures;

TEST(AceCodec, WidthSortKeepsTheFormatsOrderAmongEqualWidths) {
    // The published quicksort leaves equal keys in this order, not the stable one.
    uint8_t keys[] = {1, 0, 0, 1, 2, 0, 0};
    uint16_t symbols[] = {0, 1, 2, 3, 4, 5, 6};
    AceSortByWidth(keys, symbols, 7);
    EXPECT_EQ(std::vector<uint8_t>(keys, keys + 7), (std::vector<uint8_t>{2, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint16_t>(symbols, symbols + 7), (std::vector<uint16_t>{4, 0, 3, 5, 6, 2, 1}));
}

TEST(AceCodec, BitReaderTakesWordsMostSignificantBitFirst) {
    const uint8_t data[] = {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A};
    MemorySource source(data, sizeof data);
    AceBitReader bits(source);
    EXPECT_EQ(bits.Read(4), 0x1u);
    EXPECT_EQ(bits.Read(24), 0x234567u);
    EXPECT_EQ(bits.Read(8), 0x89u);  // across the word boundary
    EXPECT_EQ(bits.Read(28), 0xABCDEF0u);
    EXPECT_FALSE(bits.Overrun());
    bits.Read(32);  // one word of zeros past the end is allowed
    EXPECT_FALSE(bits.Overrun());
    bits.Read(1);
    EXPECT_TRUE(bits.Overrun());
}

struct DecodeRun {
    CodecResult result;
    std::vector<uint8_t> output;
    uint32_t crc;
};

// Decodes with the packed data handed over `step` bytes at a time.
class SteppedSource final : public ByteSource {
public:
    SteppedSource(const std::vector<uint8_t>& data, size_t step) : data_(data), step_(step) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t n = std::min({capacity, step_, data_.size() - at_});
        std::copy(data_.begin() + at_, data_.begin() + at_ + n, buffer);
        at_ += n;
        return n;
    }

private:
    const std::vector<uint8_t>& data_;
    size_t step_, at_ = 0;
};

DecodeRun DecodeAll(AceDecoder& decoder, const std::vector<uint8_t>& packed, uint32_t size, uint8_t type = 1,
              size_t step = 4096, bool keep = false) {
    decoder.BeginEntry(keep);
    SteppedSource source(packed, step);
    VectorSink sink(1 << 20);
    DecodeRun run;
    run.result = decoder.Decode(type, 0, size, source, &sink);
    run.output = sink.bytes;
    run.crc = decoder.CrcRegister();
    return run;
}

TEST(AceCodec, LiteralsMatchesAndDistanceHistoryAtEveryInputStep) {
    // "abcd", a new distance, then each of the four repeat places.
    Lz77Writer w;
    w.Block(9);
    for (char c : std::string("abcd")) w.Literal(static_cast<uint8_t>(c));
    w.Match(3, 0);     // 4 back, length 2: "ab"     history 3,0,0,0
    w.Match(1, 1);     // 2 back, length 3: "aba"    history 1,3,0,0
    w.Symbol(257);     // place 1 (3): base 2
    w.Length(0);       //   "ab"... history 3,1,0,0
    w.Symbol(256);     // place 0 (3) again, base 2 + 1
    w.Length(1);
    w.Symbol(259);     // place 3 (0): 1 back, base 3
    w.Length(2);       //   5 bytes
    std::vector<uint8_t> packed = w.bits.Finish();
    std::string expect = "abcd";
    auto copy = [&](size_t back, size_t n) {
        for (size_t k = 0; k < n; ++k) expect += expect[expect.size() - back];
    };
    copy(4, 2);
    copy(2, 3);
    copy(4, 2);
    copy(4, 3);
    copy(1, 5);
    AceDecoder decoder;
    for (size_t step : {1, 3, 4096}) {
        DecodeRun run = DecodeAll(decoder, packed, static_cast<uint32_t>(expect.size()), 1, step);
        ASSERT_EQ(run.result, CodecResult::kOk) << step;
        EXPECT_EQ(std::string(run.output.begin(), run.output.end()), expect) << step;
        EXPECT_EQ(run.crc, Crc32Update(0xFFFFFFFFu, expect.data(), expect.size()));
    }
}

TEST(AceCodec, HostileStreamsEndInTheirDefinedResults) {
    auto literalsThen = [](std::vector<uint8_t> mainWidths, std::vector<unsigned> symbols) {
        Lz77Writer w(std::move(mainWidths));
        w.Block(static_cast<unsigned>(symbols.size()));
        for (unsigned s : symbols) w.Symbol(s);
        return w.bits.Finish();
    };
    std::vector<uint8_t> nines(kAceMainSymbols, 9);
    std::vector<uint8_t> with282(nines);
    with282.push_back(9);  // the list may name one symbol past the table

    Lz77Writer before;
    before.Block(2);
    before.Literal('x');
    before.Match(5, 0);  // 6 back after one byte

    Lz77Writer emptyBlocks;
    for (int k = 0; k < 3; ++k) emptyBlocks.Block(0);

    struct Case {
        const char* name;
        std::vector<uint8_t> packed;
        uint32_t size;
        CodecResult expect;
    } cases[] = {
        {"distance before the first byte", before.bits.Finish(), 10, CodecResult::kBadData},
        {"over-subscribed main code", literalsThen(std::vector<uint8_t>(kAceMainSymbols, 8), {'a'}), 4,
         CodecResult::kBadData},
        {"width above 11 bits", literalsThen(std::vector<uint8_t>(kAceMainSymbols, 12), {}), 4,
         CodecResult::kBadData},
        {"symbol 282 of an ACE 1.0 table", literalsThen(with282, {'a', 282}), 4, CodecResult::kBadData},
        {"blocks of no symbols until the data ends", emptyBlocks.bits.Finish(), 4, CodecResult::kTruncated},
        {"no data at all", {}, 4, CodecResult::kTruncated},
        {"more symbols than the declared size", literalsThen(nines, {'a', 'b', 'c', 'd', 'e'}), 3,
         CodecResult::kOk},
    };
    AceDecoder decoder;
    for (const Case& c : cases) {
        DecodeRun run = DecodeAll(decoder, c.packed, c.size);
        EXPECT_EQ(run.result, c.expect) << c.name;
        EXPECT_LE(run.output.size(), c.size) << c.name;
    }

    // An incomplete code: three symbols of width 2 leave a quarter of the
    // table empty, and reaching it is invalid data.
    std::vector<uint8_t> three(kAceMainSymbols, 0);
    three['a'] = three['b'] = three['c'] = 2;
    Lz77Writer w(three);
    w.Block(2);
    w.Literal('a');
    w.bits.Put(3, 2);  // the unused code 11
    EXPECT_EQ(DecodeAll(decoder, w.bits.Finish(), 4).result, CodecResult::kBadData);

    // A code of one symbol: it takes one bit when read, but fills the table
    // only as far as its stored width (5 bits: 64 of 2,048 entries).
    std::vector<uint8_t> single(kAceMainSymbols, 0);
    single['a'] = 5;
    Lz77Writer one(single);
    one.Block(3);
    one.bits.Put(0, 1);   // 'a'
    one.bits.Put(0, 1);   // 'a'
    one.bits.Put(1, 5);   // 00001...: entry 64 and up, outside the filled part
    one.bits.Put(0, 16);
    DecodeRun lone = DecodeAll(decoder, one.bits.Finish(), 3);
    EXPECT_EQ(lone.result, CodecResult::kBadData);
    EXPECT_EQ(std::string(lone.output.begin(), lone.output.end()), "aa");  // what came before the damage

    // Every cut of a good stream ends cleanly; cuts that lose more than the
    // word of zeros the reader may pad with cannot give the right data.
    FileSpec good = Lz77File("x", 200);
    for (size_t cut = 0; cut < good.packed.size(); ++cut) {
        std::vector<uint8_t> part(good.packed.begin(), good.packed.begin() + cut);
        DecodeRun run = DecodeAll(decoder, part, good.size);
        EXPECT_LE(run.output.size(), good.size);
        if (cut + 8 <= good.packed.size()) {
            EXPECT_FALSE(run.result == CodecResult::kOk && run.crc == good.crcRegister) << cut;
        }
    }
}

TEST(AceCodec, SolidRunKeepsTheWindowAndRefusesAfterAFailure) {
    AceDecoder decoder;
    FileSpec first = StoredFile("a", "hello, world");
    ASSERT_EQ(DecodeAll(decoder, first.packed, first.size, 0).result, CodecResult::kOk);
    Lz77Writer w;  // copies the first entry's bytes
    w.Block(1);
    w.Match(11, 10);  // 12 back, length 12
    std::vector<uint8_t> packed = w.bits.Finish();
    DecodeRun run = DecodeAll(decoder, packed, 12, 1, 4096, true);
    ASSERT_EQ(run.result, CodecResult::kOk);
    EXPECT_EQ(std::string(run.output.begin(), run.output.end()), "hello, world");
    // The same stream without the earlier entry reaches before the start.
    EXPECT_EQ(DecodeAll(decoder, packed, 12, 1, 4096, false).result, CodecResult::kBadData);
    // After that failure the run is stale until a fresh start.
    EXPECT_EQ(DecodeAll(decoder, first.packed, first.size, 0, 4096, true).result, CodecResult::kStaleWindow);
    EXPECT_EQ(DecodeAll(decoder, first.packed, first.size, 0, 4096, false).result, CodecResult::kOk);
    // Methods of ACE 2.0 and later are refused.
    EXPECT_EQ(DecodeAll(decoder, first.packed, first.size, 2).result, CodecResult::kUnknownMethod);
}

TEST(AceCodec, DictionaryLargerThanOursIsRefused) {
    AceDecoder decoder(20);
    ASSERT_TRUE(decoder.Ready());
    EXPECT_TRUE(decoder.FitsDictionary(10));   // 1 MiB
    EXPECT_FALSE(decoder.FitsDictionary(12));  // 4 MiB
    MemorySource source(nullptr, 0);
    decoder.BeginEntry(false);
    EXPECT_EQ(decoder.Decode(1, 12, 10, source, nullptr), CodecResult::kDictionaryTooLarge);
}

TEST(AceCodec, CommentsDecodeAndStayInsideTheirBuffer) {
    // "abcab" + copy: the context 'a'+'b' was last followed at position 2.
    std::vector<unsigned> symbols = {'a', 'b', 'c', 'a', 'b', 256 + 1};  // copies 3
    std::vector<uint8_t> packed = PackedComment(8, symbols);
    char out[64];
    size_t length = 0;
    ASSERT_EQ(DecodeAceComment(packed.data(), packed.size(), out, sizeof out, &length), CodecResult::kOk);
    EXPECT_STREQ(out, "abcabcab");
    EXPECT_EQ(length, 8u);

    struct Case {
        const char* name;
        std::vector<uint8_t> packed;
        size_t capacity;
        CodecResult expect;
        const char* text;
    } cases[] = {
        {"cut to the buffer", packed, 5, CodecResult::kOk, "abca"},
        {"declared 32767, data ends", PackedComment(32767, {'a', 'b'}), 64, CodecResult::kTruncated, nullptr},
        {"copy with nothing before it", PackedComment(4, {256}), 64, CodecResult::kBadData, ""},
        {"long copy cut at the declared length", PackedComment(4, {'a', 281}), 64, CodecResult::kOk, "aaaa"},
        {"empty input", {}, 64, CodecResult::kOk, ""},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.capacity + 8, '#');
        CodecResult result = DecodeAceComment(c.packed.data(), c.packed.size(), buffer.data(), c.capacity, &length);
        EXPECT_EQ(result, c.expect) << c.name;
        EXPECT_LT(length, c.capacity) << c.name;
        EXPECT_EQ(buffer[length], '\0') << c.name;
        for (size_t k = c.capacity; k < buffer.size(); ++k) ASSERT_EQ(buffer[k], '#') << c.name;
        if (c.text) {
            EXPECT_STREQ(buffer.data(), c.text) << c.name;
        }
    }
}

}  // namespace
}  // namespace tessera::ace
