// LZX round trip: the first byte picks the window, the rest is coded frame
// by frame and must decode to the same bytes within the output bound.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/lzx/lzx_decoder.h"
#include "codecs/lzx/lzx_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static tessera::lzx::LzxEncoder encoders[7];
    static tessera::lzx::LzxDecoder decoders[7];
    static bool ready[7];
    int w = data[0] % 7;
    if (!ready[w]) ready[w] = encoders[w].Init(15 + w) && decoders[w].Init(15 + w);
    encoders[w].Reset();
    decoders[w].Reset();
    ++data;
    --size;
    // Small inputs are stretched by repetition so frames fill and matches
    // reach back across them; at the two smallest windows sometimes far
    // enough for the encoder to move its history down.
    std::vector<uint8_t> input(data, data + size);
    const size_t stretch = (data[0] & 2) && w < 2 ? 400000 : 100000;
    if (!input.empty() && data[0] & 1)
        while (input.size() < stretch) input.insert(input.end(), data, data + size);
    std::vector<uint8_t> coded(tessera::lzx::kFrameSize + tessera::lzx::kMaxFrameGrowth), out(tessera::lzx::kFrameSize);
    for (size_t pos = 0; pos < input.size(); pos += tessera::lzx::kFrameSize) {
        size_t n = input.size() - pos < tessera::lzx::kFrameSize ? input.size() - pos : tessera::lzx::kFrameSize;
        size_t c = encoders[w].EncodeBlock(input.data() + pos, n, coded.data(), coded.size());
        if (c == 0 || c > n + tessera::lzx::kMaxFrameGrowth) std::abort();
        if (!decoders[w].DecodeBlock(coded.data(), c, out.data(), n)) std::abort();
        if (std::memcmp(out.data(), input.data() + pos, n) != 0) std::abort();
    }
    return 0;
}
