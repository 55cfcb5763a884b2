// LZX decoder on arbitrary frames: the first byte picks the window (2^15 to
// 2^21), the rest is a sequence of blocks; decoding stops at the first
// invalid one, or after 80 frames (past a wrap of the largest window): a
// few kilobytes of redundant input can otherwise expand to megabytes and
// slow every run.
#include <vector>

#include "codecs/lzx/lzx_decoder.h"
#include "fuzz_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static tessera::lzx::LzxDecoder decoders[7];
    static bool ready[7];
    int w = data[0] % 7;
    if (!ready[w]) ready[w] = decoders[w].Init(15 + w);
    tessera::lzx::LzxDecoder& d = decoders[w];
    d.Reset();
    std::vector<uint8_t> out(32768);
    tessera::fuzz::BlockCursor blocks{data + 1, size - 1};
    const uint8_t* in;
    size_t inSize, outSize;
    for (int frames = 0; frames < 80 && blocks.Next(&in, &inSize, &outSize); ++frames)
        if (!d.DecodeBlock(in, inSize, out.data(), outSize)) break;
    return 0;
}
