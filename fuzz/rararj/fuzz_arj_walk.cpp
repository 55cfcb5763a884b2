// Fuzzes the ARJ start search, header walk and entry decoding.
#include <cstdlib>

#include "formats/arj/arj_archive.h"

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
    tessera::MemoryInput input(data, size);
    tessera::ArjWalker walker(input);
    if (walker.Open() != tessera::ArjStatus::kOk) return 0;
    static tessera::ArjDecoder decoder;
    tessera::ArjHeader header;
    unsigned n = 0;
    while (walker.Next(&header) == tessera::ArjStatus::kOk) {
        if (++n > 100000) std::abort();  // the walk must advance
        BoundedCount sink;
        tessera::ArjDecodeEntry(input, header, decoder, &sink);
        if (sink.count > header.originalSize) std::abort();
    }
    return 0;
}
