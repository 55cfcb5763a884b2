// Unshrink on arbitrary input. The first two bytes are the declared
// uncompressed size; the rest is the data.
#include <cstddef>
#include <cstdint>

#include "codecs/unshrink/unshrink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessera::Unshrinker unshrinker;
    if (size < 2) return 0;
    const uint64_t declared = data[0] | data[1] << 8;
    tessera::MemorySource source(data + 2, size - 2);
    tessera::CountingSink sink;
    const tessera::CodecResult result = unshrinker.Unshrink(source, sink, declared);
    if (result != tessera::CodecResult::kOk && result != tessera::CodecResult::kBadData &&
        result != tessera::CodecResult::kTruncated)
        __builtin_trap();
    if (sink.count > declared) __builtin_trap();
    if ((result == tessera::CodecResult::kOk) != (sink.count == declared)) __builtin_trap();
    return 0;
}
