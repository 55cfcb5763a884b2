// Quantum decoder on arbitrary frames: the first byte picks the window (2^10 to
// 2^21), the rest is a sequence of blocks; decoding stops at the first
// invalid one.
#include <vector>

#include "codecs/quantum/quantum_decoder.h"
#include "fuzz_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static tessera::quantum::QuantumDecoder decoders[12];
    static bool ready[12];
    int w = data[0] % 12;
    if (!ready[w]) ready[w] = decoders[w].Init(10 + w);
    tessera::quantum::QuantumDecoder& d = decoders[w];
    d.Reset();
    std::vector<uint8_t> out(32768);
    tessera::fuzz::BlockCursor blocks{data + 1, size - 1};
    const uint8_t* in;
    size_t inSize, outSize;
    while (blocks.Next(&in, &inSize, &outSize))
        if (!d.DecodeBlock(in, inSize, out.data(), outSize)) break;
    return 0;
}
