// MSZIP decoder on arbitrary blocks of one folder (history carried over).
#include <vector>

#include "codecs/mszip/mszip.h"
#include "fuzz_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessera::mszip::MszipDecoder decoder;
    static bool ready = decoder.Init();
    if (!ready) return 0;
    decoder.Reset();
    std::vector<uint8_t> out(32768);
    tessera::fuzz::BlockCursor blocks{data, size};
    const uint8_t* in;
    size_t inSize, outSize;
    while (blocks.Next(&in, &inSize, &outSize))
        if (!decoder.DecodeBlock(in, inSize, out.data(), outSize)) break;
    return 0;
}
