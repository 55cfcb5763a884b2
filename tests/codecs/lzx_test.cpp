// LZX, Quantum and MSZIP block codecs: round trips of our LZX encoder over
// every window, the E8 call translation on a hand-built frame, and frames
// that must be refused.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codecs/lzx/lzx_decoder.h"
#include "codecs/lzx/lzx_encoder.h"
#include "codecs/mszip/mszip.h"
#include "codecs/quantum/quantum_decoder.h"

namespace tessera {
namespace {

std::vector<uint8_t> Noise(size_t n, uint32_t x) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return v;
}

std::vector<uint8_t> Words(size_t n) {
    static const char* words[] = {"call ", "\xE8\x00\x10\x00\x00", "jump ", "window ", "frame\n", "tree "};
    std::vector<uint8_t> v;
    for (uint32_t x = 1; v.size() < n; x = x * 1103515245u + 12345u) {
        const char* w = words[(x >> 16) % 6];
        v.insert(v.end(), w, w + std::strlen(w));
    }
    v.resize(n);
    return v;
}

// A random block, then other data, then the block again `distance` bytes on.
std::vector<uint8_t> FarRepeat(size_t distance) {
    std::vector<uint8_t> v = Noise(distance, 5), head(v.begin(), v.begin() + 20000);
    v.insert(v.end(), head.begin(), head.end());
    return v;
}

// A random block of `period` bytes over and over up to `n` bytes: every
// match reaches back `period` bytes, also across the points where the
// encoder moves its history down.
std::vector<uint8_t> Periodic(size_t period, size_t n) {
    const std::vector<uint8_t> block = Noise(period, 7);
    std::vector<uint8_t> v;
    while (v.size() < n) v.insert(v.end(), block.begin(), block.end());
    v.resize(n);
    return v;
}

TEST(Lzx, EncoderRoundTripsEveryWindowWithinTheOutputBound) {
    struct Input {
        const char* name;
        std::vector<uint8_t> data;
    };
    for (int bits = lzx::kMinWindowBits; bits <= lzx::kMaxWindowBits; ++bits) {
        std::vector<Input> inputs = {
            {"zeros", std::vector<uint8_t>(70000, 0)},
            {"noise", Noise(40000, 3)},
            {"words", Words(100000)},
        };
        // Offsets close to the largest a window allows (a few windows only:
        // the input is as large as the window).
        if (bits == 15 || bits == 18 || bits == 21) inputs.push_back({"repeat near the window end", FarRepeat((size_t{1} << bits) - 3000)});
        // Long enough for the history to move several times (small windows
        // only: it moves after the window plus at least 256 KiB).
        if (bits <= 16) inputs.push_back({"periodic past history moves", Periodic((size_t{1} << bits) - 3000, 1200000)});
        lzx::LzxEncoder encoder;
        lzx::LzxDecoder decoder;
        ASSERT_TRUE(encoder.Init(bits));
        ASSERT_TRUE(decoder.Init(bits));
        for (const Input& input : inputs) {
            SCOPED_TRACE(::testing::Message() << "window " << bits << ", " << input.name);
            encoder.Reset();
            decoder.Reset();
            std::vector<uint8_t> coded(lzx::kFrameSize + lzx::kMaxFrameGrowth), out(lzx::kFrameSize);
            size_t total = 0;
            for (size_t pos = 0; pos < input.data.size(); pos += lzx::kFrameSize) {
                size_t n = std::min<size_t>(lzx::kFrameSize, input.data.size() - pos);
                size_t c = encoder.EncodeBlock(input.data.data() + pos, n, coded.data(), coded.size());
                ASSERT_GT(c, 0u);
                ASSERT_LE(c, n + lzx::kMaxFrameGrowth);
                total += c;
                ASSERT_TRUE(decoder.DecodeBlock(coded.data(), c, out.data(), n)) << "frame at " << pos;
                ASSERT_EQ(std::memcmp(out.data(), input.data.data() + pos, n), 0) << "frame at " << pos;
            }
            const bool compressible = input.name[0] == 'z' || input.name[0] == 'w' || input.name[0] == 'p';
            if (compressible) {
                EXPECT_LT(total, input.data.size() / 2);
            }
        }
    }
}

// MSB-first bits in 16-bit little-endian words, for hand-built frames.
class Bits {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            word_ = static_cast<uint16_t>(word_ << 1 | ((value >> i) & 1));
            if (++n_ == 16) Flush();
        }
    }
    void Align() {
        if (n_) Put(0, 16 - n_);
    }
    void Bytes(const std::vector<uint8_t>& b) { out.insert(out.end(), b.begin(), b.end()); }
    std::vector<uint8_t> out;

private:
    void Flush() {
        out.push_back(static_cast<uint8_t>(word_));
        out.push_back(static_cast<uint8_t>(word_ >> 8));
        word_ = 0;
        n_ = 0;
    }
    uint16_t word_ = 0;
    int n_ = 0;
};

// One uncompressed block of `data` with the E8 header set.
std::vector<uint8_t> UncompressedFrame(const std::vector<uint8_t>& data, uint32_t e8Size) {
    Bits b;
    b.Put(1, 1);
    b.Put(e8Size >> 16, 16);
    b.Put(e8Size & 0xFFFF, 16);
    b.Put(lzx::kBlockUncompressed, 3);
    b.Put(static_cast<uint32_t>(data.size()) >> 8, 16);
    b.Put(static_cast<uint32_t>(data.size()) & 0xFF, 8);
    b.Align();  // 57 bits: the padding ends the fourth word
    b.Bytes({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    b.Bytes(data);
    return b.out;
}

TEST(Lzx, E8TranslationSparesTheLastTenBytesOfAFrame) {
    std::vector<uint8_t> data(32, 0x90);
    const uint8_t call[5] = {0xE8, 0xE8, 0x03, 0x00, 0x00};  // absolute 1000
    std::memcpy(&data[5], call, 5);
    std::memcpy(&data[22], call, 5);  // starts inside the last 10 bytes
    lzx::LzxDecoder decoder;
    ASSERT_TRUE(decoder.Init(15));
    std::vector<uint8_t> frame = UncompressedFrame(data, 12000000), out(data.size());
    ASSERT_TRUE(decoder.DecodeBlock(frame.data(), frame.size(), out.data(), out.size()));
    std::vector<uint8_t> expected = data;
    expected[6] = 0xE3;  // 1000 - 5: relative to the call's own position
    EXPECT_EQ(out, expected);
}

TEST(Lzx, InvalidFramesAreRefusedAndStayRefused) {
    struct Row {
        const char* name;
        std::vector<uint8_t> frame;
        size_t outSize;
    };
    auto header = [](int type, uint32_t length) {
        Bits b;
        b.Put(0, 1);
        b.Put(static_cast<uint32_t>(type), 3);
        b.Put(length >> 8, 16);
        b.Put(length & 0xFF, 8);
        return b;
    };
    Bits emptyTree = header(lzx::kBlockVerbatim, 100);
    for (int i = 0; i < 5; ++i) emptyTree.Put(0, 16);  // an all-zero pretree
    emptyTree.Align();
    Bits type0 = header(0, 100), type5 = header(5, 100);
    type0.Align();
    type5.Align();
    std::vector<uint8_t> shortRaw = UncompressedFrame(std::vector<uint8_t>(50, 1), 0);
    shortRaw.resize(shortRaw.size() - 20);
    const Row rows[] = {
        {"empty pretree", emptyTree.out, 100},
        {"block type 0", type0.out, 100},
        {"block type 5", type5.out, 100},
        {"uncompressed block longer than its input", shortRaw, 50},
        {"nothing at all", {}, 32768},
        {"output larger than a frame", UncompressedFrame(std::vector<uint8_t>(50, 1), 0), 32769},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        lzx::LzxDecoder decoder;
        ASSERT_TRUE(decoder.Init(16));
        std::vector<uint8_t> out(32769);
        EXPECT_FALSE(decoder.DecodeBlock(row.frame.data(), row.frame.size(), out.data(), row.outSize));
        std::vector<uint8_t> good = UncompressedFrame(std::vector<uint8_t>(10, 2), 0);
        EXPECT_FALSE(decoder.DecodeBlock(good.data(), good.size(), out.data(), 10));
    }
    lzx::LzxDecoder decoder;
    EXPECT_FALSE(decoder.Init(14));
    EXPECT_FALSE(decoder.Init(22));
}

TEST(Quantum, RandomFramesEndCleanly) {
    for (int bits = quantum::kMinWindowBits; bits <= quantum::kMaxWindowBits; ++bits) {
        quantum::QuantumDecoder decoder;
        ASSERT_TRUE(decoder.Init(bits));
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            decoder.Reset();
            std::vector<uint8_t> in = Noise(100 + seed * 37, seed * 7919 + bits), out(32768);
            // Either a full frame or a refusal; never more, never a hang.
            (void)decoder.DecodeBlock(in.data(), in.size(), out.data(), out.size());
        }
    }
    quantum::QuantumDecoder decoder;
    EXPECT_FALSE(decoder.Init(9));
    EXPECT_FALSE(decoder.Init(22));
}

TEST(Mszip, BlocksRoundTripWithHistoryAndNeedTheirSignature) {
    mszip::MszipEncoder encoder;
    mszip::MszipDecoder decoder;
    ASSERT_TRUE(encoder.Init());
    ASSERT_TRUE(decoder.Init());
    for (const std::vector<uint8_t>& input : {Words(100000), Noise(40000, 9), std::vector<uint8_t>(70000, 0)}) {
        encoder.Reset();
        decoder.Reset();
        std::vector<uint8_t> coded(32768 + mszip::kMaxGrowth), out(32768);
        for (size_t pos = 0; pos < input.size(); pos += 32768) {
            size_t n = std::min<size_t>(32768, input.size() - pos);
            size_t c = encoder.EncodeBlock(input.data() + pos, n, coded.data(), coded.size());
            ASSERT_GT(c, 0u);
            ASSERT_LE(c, n + mszip::kMaxGrowth);
            ASSERT_TRUE(decoder.DecodeBlock(coded.data(), c, out.data(), n));
            ASSERT_EQ(std::memcmp(out.data(), input.data() + pos, n), 0);
        }
    }
    std::vector<uint8_t> coded(100), out(10);
    uint8_t ten[10] = {};
    decoder.Reset();
    size_t c = encoder.EncodeBlock(ten, 10, coded.data(), coded.size());
    coded[1] = 'X';
    EXPECT_FALSE(decoder.DecodeBlock(coded.data(), c, out.data(), 10));
}

}  // namespace
}  // namespace tessera
