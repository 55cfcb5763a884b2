// Deflate round trip: compress the input at a level chosen by the first
// byte, inflate the result, and demand the input back.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/deflate/deflate.h"
#include "codecs/deflate/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessera::Deflater deflater;
    static tessera::Inflater inflater;
    if (size < 1) return 0;
    tessera::DeflateFile file;
    file.level = data[0] % 10;
    file.outputSeekable = (data[0] & 0x80) != 0;
    ++data;
    --size;
    tessera::MemorySource plain(data, size);
    tessera::VectorSink packed;
    if (deflater.Compress(plain, packed, file) != tessera::kDeflateOk) __builtin_trap();
    if (file.uncompressedSize != size || file.compressedSize != packed.bytes.size()) __builtin_trap();
    if (file.method == 0) {
        if (!file.outputSeekable || packed.bytes.size() != size ||
            (size && std::memcmp(packed.bytes.data(), data, size) != 0))
            __builtin_trap();
        return 0;
    }
    tessera::MemorySource source(packed.bytes.data(), packed.bytes.size());
    tessera::VectorSink out;
    if (inflater.Inflate(source, out) != tessera::kInflateOk) __builtin_trap();
    if (out.bytes.size() != size || (size && std::memcmp(out.bytes.data(), data, size) != 0)) __builtin_trap();
    return 0;
}
