// Explode on arbitrary input. The first byte chooses the variant (flag bits
// 1 and 2), the next two the declared uncompressed size; the rest is the data.
#include <cstddef>
#include <cstdint>

#include "codecs/explode/explode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessera::Exploder exploder;
    if (size < 3) return 0;
    const uint16_t flags = data[0] & 6;
    const uint64_t declared = data[1] | data[2] << 8;
    data += 3;
    size -= 3;
    tessera::MemorySource source(data, size);
    tessera::CountingSink sink;
    const tessera::CodecResult result = exploder.Explode(source, sink, flags, size, declared);
    if (result < tessera::CodecResult::kAborted || result > tessera::CodecResult::kSizeMismatch) __builtin_trap();
    if (sink.count > declared) __builtin_trap();
    if (result == tessera::CodecResult::kOk && (sink.count != declared || exploder.UsedSize() != size)) __builtin_trap();
    return 0;
}
