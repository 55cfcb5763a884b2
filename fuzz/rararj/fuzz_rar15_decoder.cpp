// Fuzzes the RAR 1.5 decoder: the first four bytes give the declared size,
// the fifth whether a second, solid-continued decode follows over the second
// half of the input. Output is counted and must never pass the declared size.
#include <cstdlib>

#include "codecs/rar15/rar15_decoder.h"

namespace {

class BoundedCount final : public tessera::ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override {
        count += size;
        return count <= (256u << 10);  // keep runs fast: stop after 256 KiB
    }
    uint64_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    // Sizes above 256 KiB add run time, not coverage.
    uint32_t declared = (data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t(data[3]) << 24)) & 0x3FFFF;
    bool solid = data[4] & 1;
    data += 5;
    size -= 5;
    static tessera::Rar15Decoder decoder;
    size_t first = solid ? size / 2 : size;
    tessera::MemorySource a(data, first);
    BoundedCount sink;
    tessera::CodecResult r = decoder.Decode(a, &sink, declared, false);
    if (sink.count > declared) std::abort();
    if (r == tessera::CodecResult::kOk && sink.count != declared) std::abort();
    if (solid) {
        tessera::MemorySource b(data + first, size - first);
        BoundedCount sink2;
        decoder.Decode(b, &sink2, declared, true);
        if (sink2.count > declared) std::abort();
    }
    return 0;
}
