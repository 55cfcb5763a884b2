#include "codecs/deflate/deflate.h"
#include "codec_result_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/deflate/inflate.h"
#include "deflate_test_support.h"

namespace tessera {
namespace {

using testing::RandomBytes;
using testing::SteppedSource;

struct NamedInput {
    const char* name;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> Words(size_t size, uint32_t seed) {
    static const char* kWords[] = {"archive", "entry", "the", "window", "of", "deflate", "and", "header",
                                   "a", "block", "stored", "to", "compressed", "size", "\n", "is"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) {
        text += kWords[random() % 16];
        text += random() % 7 ? " " : ".\r\n";
    }
    return {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size)};
}

std::vector<NamedInput> Inputs() {
    std::vector<NamedInput> inputs;
    inputs.push_back({"text", Words(300000, 1)});
    std::vector<uint8_t> binary;
    for (uint32_t i = 0; binary.size() < 200000; ++i) {
        const uint32_t v = i * 2654435761u >> (i % 13);
        for (int b = 0; b < 4; ++b) binary.push_back(static_cast<uint8_t>(v >> (8 * b)));
        binary.push_back(static_cast<uint8_t>(i % 3));
    }
    inputs.push_back({"binary", binary});
    inputs.push_back({"incompressible", RandomBytes(150000, 2)});
    inputs.push_back({"empty", {}});
    inputs.push_back({"zeros", std::vector<uint8_t>(300000, 0)});
    // The same random block again just inside the largest distance: only
    // distant matches help.
    auto distant = RandomBytes(32000, 3);
    distant.insert(distant.end(), distant.begin(), distant.end());
    inputs.push_back({"distant matches", distant});
    return inputs;
}

struct Compressed {
    CodecResult result;
    DeflateFile file;
    std::vector<uint8_t> bytes;
};

Compressed Compress(Deflater& deflater, const std::vector<uint8_t>& data, int level, bool seekable,
                    size_t step = 100000) {
    SteppedSource source(data, step);
    VectorSink sink;
    Compressed c;
    c.file.level = level;
    c.file.outputSeekable = seekable;
    c.result = deflater.Compress(source, sink, c.file);
    c.bytes = std::move(sink.bytes);
    return c;
}

TEST(Deflate, RoundTripsAtEveryLevelAndDecodesWithZlib) {
    Deflater deflater;  // one encoder for every file, as in a run
    Inflater inflater;
    for (const auto& input : Inputs()) {
        for (int index = 0; index <= 4; ++index) {
            const int level = DeflateLevelFromIndex(index);
            const auto c = Compress(deflater, input.data, level, false, 4093);
            const std::string where = std::string(input.name) + " level " + std::to_string(level);
            ASSERT_EQ(c.result, CodecResult::kOk) << where;
            ASSERT_EQ(c.file.method, 8) << where;
            EXPECT_EQ(c.file.compressedSize, c.bytes.size()) << where;
            EXPECT_EQ(c.file.uncompressedSize, input.data.size()) << where;
            MemorySource source(c.bytes.data(), c.bytes.size());
            VectorSink sink;
            ASSERT_EQ(inflater.Inflate(source, sink), CodecResult::kOk) << where;
            EXPECT_TRUE(sink.bytes == input.data) << where;
#ifdef TESSERA_TEST_ZLIB
            std::vector<uint8_t> zlibOut;
            EXPECT_TRUE(testing::ZlibInflate(c.bytes, &zlibOut) && zlibOut == input.data) << where;
#endif
        }
    }
}

// Files are compressed on several threads, each encoder taking whichever
// file comes next: a file's bytes must not depend on what its encoder did
// before. Matches near the end of a short input are measured into what a
// longer one left in the window; two letters make such matches likely.
TEST(Deflate, AReusedEncoderWritesWhatAFreshOneWrites) {
    auto twoLetters = [](size_t size, uint32_t seed) {
        std::vector<uint8_t> bytes = RandomBytes(size, seed);
        for (uint8_t& b : bytes) b = (b & 1) ? 'a' : 'b';
        return bytes;
    };
    const std::vector<uint8_t> earlier = twoLetters(70000, 7);
    std::vector<NamedInput> later = Inputs();
    for (uint32_t seed = 10; seed < 16; ++seed) later.push_back({"two letters", twoLetters(997 * seed, seed)});
    for (int index = 0; index <= 4; ++index) {
        const int level = DeflateLevelFromIndex(index);
        Deflater used;
        for (const auto& input : later) {
            Deflater fresh;
            const auto expected = Compress(fresh, input.data, level, true);
            ASSERT_EQ(Compress(used, earlier, level, true).result, CodecResult::kOk);
            const auto reused = Compress(used, input.data, level, true);
            EXPECT_TRUE(reused.bytes == expected.bytes) << input.name << " " << input.data.size() << " level " << level;
        }
    }
}

TEST(Deflate, LevelNamesOptionFlagsAndReuseOfFlags) {
    EXPECT_EQ(DeflateLevelFromIndex(0), 9);
    EXPECT_EQ(DeflateLevelFromIndex(1), 8);
    EXPECT_EQ(DeflateLevelFromIndex(2), 6);
    EXPECT_EQ(DeflateLevelFromIndex(3), 3);
    EXPECT_EQ(DeflateLevelFromIndex(4), 0);
    EXPECT_EQ(DeflateLevelFromIndex(9), 0);
    EXPECT_EQ(DeflateLevelFromIndex(-1), 8);
    Deflater deflater;
    const auto text = Words(5000, 4);
    const struct {
        int level;
        uint16_t option;
    } kCases[] = {{9, 2}, {8, 2}, {7, 0}, {6, 0}, {3, 0}, {2, 4}, {1, 4}, {0, 4}};
    for (const auto& c : kCases) {
        MemorySource source(text.data(), text.size());
        CountingSink sink;
        DeflateFile file;
        file.level = c.level;
        file.flags = 0x0809 | 6;  // other bits stay, bits 1-2 are replaced
        ASSERT_EQ(deflater.Compress(source, sink, file), CodecResult::kOk);
        EXPECT_EQ(file.flags, 0x0809 | c.option) << c.level;
    }
}

// Walks the block headers of a stream: true when every block is stored.
bool AllBlocksStored(const std::vector<uint8_t>& stream, unsigned* blocks) {
    size_t pos = 0;
    *blocks = 0;
    for (bool last = false; !last; ++*blocks) {
        if (pos + 5 > stream.size()) return false;
        last = stream[pos] & 1;
        if (((stream[pos] >> 1) & 3) != 0) return false;
        const size_t len = stream[pos + 1] | stream[pos + 2] << 8;
        pos += 5 + len;
    }
    return pos == stream.size();
}

TEST(Deflate, IncompressibleDataIsStored) {
    Deflater deflater;
    const auto small = RandomBytes(1000, 5);
    auto c = Compress(deflater, small, 6, true);
    EXPECT_EQ(c.file.method, 0);  // the whole file as it is
    EXPECT_TRUE(c.bytes == small);
    EXPECT_EQ(c.file.compressedSize, 1000u);

    const auto large = RandomBytes(100000, 6);
    c = Compress(deflater, large, 6, true);
    EXPECT_EQ(c.file.method, 8);
    unsigned blocks;
    EXPECT_TRUE(AllBlocksStored(c.bytes, &blocks));
    EXPECT_GT(blocks, 1u);

    const std::vector<uint8_t> empty;
    c = Compress(deflater, empty, 6, true);
    EXPECT_EQ(c.file.method, 0);
    EXPECT_EQ(c.file.compressedSize, 0u);
    c = Compress(deflater, empty, 6, false);  // a stream cannot switch methods
    EXPECT_EQ(c.file.method, 8);
    EXPECT_FALSE(c.bytes.empty());
}

TEST(Deflate, ClassifiesTextOnTheFirstBlock) {
    Deflater deflater;
    // Text with every second byte below 7 or above 127.
    std::vector<uint8_t> binary = Words(20000, 7);
    const auto noise = RandomBytes(binary.size(), 11);
    for (size_t i = 0; i < binary.size(); i += 2) binary[i] = static_cast<uint8_t>(noise[i] % 2 ? noise[i] % 7 : 128 | noise[i]);
    const struct {
        const char* name;
        std::vector<uint8_t> data;
        uint16_t before, after;
    } kCases[] = {
        {"letters", Words(20000, 8), kInternalAttributesUnset, kInternalAttributeText},
        {"many control and high bytes", binary, kInternalAttributesUnset, 0},
        {"already set", Words(20000, 8), 0, 0},
    };
    for (const auto& c : kCases) {
        MemorySource source(c.data.data(), c.data.size());
        CountingSink sink;
        DeflateFile file;
        file.internalAttributes = c.before;
        ASSERT_EQ(deflater.Compress(source, sink, file), CodecResult::kOk);
        EXPECT_EQ(file.internalAttributes, c.after) << c.name;
    }
}

TEST(Deflate, CabinetBlocksUseTheHistoryOfTheFolder) {
    const auto text = Words(200000, 12);
    Deflater deflater;
    Inflater inflater;
    for (int level : {0, 3, 6, 9}) {
        deflater.ResetBlockHistory();
        inflater.ResetHistory();
        std::vector<uint8_t> packed(32768 + 5), plain(32768), out;
        size_t historyPackedTotal = 0;
        for (size_t start = 0; start < text.size(); start += 32768) {
            const size_t n = std::min<size_t>(32768, text.size() - start);
            size_t packedSize = 0, produced = 0;
            ASSERT_EQ(deflater.CompressBlock(text.data() + start, n, packed.data(), packed.size(), &packedSize, level),
                      CodecResult::kOk);
            historyPackedTotal += packedSize;
            ASSERT_EQ(inflater.InflateBlock(packed.data(), packedSize, plain.data(), plain.size(), &produced), CodecResult::kOk);
            ASSERT_EQ(produced, n);
            out.insert(out.end(), plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(n));
#ifdef TESSERA_TEST_ZLIB
            // zlib agrees, given the previous 32 KiB as its dictionary.
            z_stream z{};
            ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
            const size_t history = std::min<size_t>(start, 32768);
            if (history) inflateSetDictionary(&z, text.data() + start - history, static_cast<uInt>(history));
            z.next_in = packed.data();
            z.avail_in = static_cast<uInt>(packedSize);
            z.next_out = plain.data();
            z.avail_out = static_cast<uInt>(plain.size());
            EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
            EXPECT_EQ(z.total_out, n);
            inflateEnd(&z);
#endif
        }
        EXPECT_TRUE(out == text) << level;
        // Without history every block starts from nothing and comes out larger.
        size_t aloneTotal = 0;
        for (size_t start = 0; start < text.size(); start += 32768) {
            deflater.ResetBlockHistory();
            size_t packedSize = 0;
            deflater.CompressBlock(text.data() + start, std::min<size_t>(32768, text.size() - start), packed.data(),
                                   packed.size(), &packedSize, level);
            aloneTotal += packedSize;
        }
        EXPECT_LT(historyPackedTotal, aloneTotal) << level;
    }
    // Incompressible data fits the documented bound.
    const auto noise = RandomBytes(32768, 13);
    std::vector<uint8_t> packed(32768 + 5);
    size_t packedSize = 0;
    deflater.ResetBlockHistory();
    EXPECT_EQ(deflater.CompressBlock(noise.data(), noise.size(), packed.data(), packed.size(), &packedSize, 6), CodecResult::kOk);
}

TEST(Deflate, StopsWhenTheSinkRefuses) {
    Deflater deflater;
    const auto data = RandomBytes(500000, 9);
    MemorySource source(data.data(), data.size());
    VectorSink sink(20000);
    DeflateFile file;
    EXPECT_EQ(deflater.Compress(source, sink, file), CodecResult::kAborted);
    EXPECT_LE(sink.bytes.size(), 20000u);
    // The encoder is fine for the next file.
    const auto text = Words(10000, 10);
    const auto c = Compress(deflater, text, 6, false);
    Inflater inflater;
    MemorySource packed(c.bytes.data(), c.bytes.size());
    VectorSink out;
    ASSERT_EQ(inflater.Inflate(packed, out), CodecResult::kOk);
    EXPECT_TRUE(out.bytes == text);
}

}  // namespace
}  // namespace tessera
