// Fuzzes the ARJ decoders: the first byte picks method 1-3 or 4, the next
// four give the declared size. Output must never pass the declared size.
#include <cstdlib>

#include "codecs/arj/arj_decoder.h"

namespace {

class BoundedCount final : public tessera::ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override {
        count += size;
        return count <= (256u << 10);
    }
    uint64_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    bool fastest = data[0] & 1;
    // Sizes above 256 KiB add run time, not coverage.
    uint32_t declared = (data[1] | (data[2] << 8) | (data[3] << 16) | (uint32_t(data[4]) << 24)) & 0x3FFFF;
    static tessera::ArjDecoder decoder;
    tessera::MemorySource source(data + 5, size - 5);
    BoundedCount sink;
    tessera::CodecResult r = fastest ? decoder.DecodeFastest(source, &sink, declared)
                                   : decoder.DecodeStandard(source, &sink, declared);
    if (sink.count > declared) std::abort();
    if (r == tessera::CodecResult::kOk && sink.count != declared) std::abort();
    return 0;
}
