// Unreduce on arbitrary input. The first byte chooses the factor (1-4), the
// next two the declared uncompressed size; the rest is the data.
#include <cstddef>
#include <cstdint>

#include "codecs/unreduce/unreduce.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessera::Unreducer unreducer;
    if (size < 3) return 0;
    const unsigned factor = 1 + (data[0] & 3);
    const uint64_t declared = data[1] | data[2] << 8;
    tessera::MemorySource source(data + 3, size - 3);
    tessera::CountingSink sink;
    const tessera::CodecResult result = unreducer.Unreduce(source, sink, factor, declared);
    if (result != tessera::CodecResult::kOk && result != tessera::CodecResult::kBadData &&
        result != tessera::CodecResult::kTruncated)
        __builtin_trap();
    if (sink.count > declared) __builtin_trap();
    if ((result == tessera::CodecResult::kOk) != (sink.count == declared)) __builtin_trap();
    return 0;
}
