// Deflate round trip: compress the input at a level chosen by the first
// byte, inflate the result, and demand the input back; a second encoder with
// another history must write the same bytes. Bit 6 of that byte
// selects the cabinet block mode (blocks of a size the input chooses).
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
    if ((data[-1] & 0x40) != 0) {
        static uint8_t packed[32768 + 5], out[32768];
        const size_t step = size ? 1 + (data[0] * 131u) % 32768 : 1;
        deflater.ResetBlockHistory();
        inflater.ResetHistory();
        for (size_t start = 0; start < size; start += step) {
            const size_t n = size - start < step ? size - start : step;
            size_t packedSize, produced;
            if (deflater.CompressBlock(data + start, n, packed, sizeof packed, &packedSize, file.level) != tessera::CodecResult::kOk)
                __builtin_trap();
            if (inflater.InflateBlock(packed, packedSize, out, sizeof out, &produced) != tessera::CodecResult::kOk)
                __builtin_trap();
            if (produced != n || std::memcmp(out, data + start, n) != 0) __builtin_trap();
        }
        return 0;
    }
    const tessera::DeflateFile asked = file;
    tessera::MemorySource plain(data, size);
    tessera::VectorSink packed;
    if (deflater.Compress(plain, packed, file) != tessera::CodecResult::kOk) __builtin_trap();
    if (file.uncompressedSize != size || file.compressedSize != packed.bytes.size()) __builtin_trap();
    // The output depends on the input alone, never on what the encoder did
    // before: this one has just compressed the previous input twice.
    static tessera::Deflater other;
    for (int pass = 0; pass < 2; ++pass) {
        tessera::DeflateFile again = asked;
        tessera::MemorySource replay(data, size);
        tessera::VectorSink repacked;
        if (other.Compress(replay, repacked, again) != tessera::CodecResult::kOk) __builtin_trap();
        if (pass == 0 && repacked.bytes != packed.bytes) __builtin_trap();
    }
    if (file.method == 0) {
        if (!file.outputSeekable || packed.bytes.size() != size ||
            (size && std::memcmp(packed.bytes.data(), data, size) != 0))
            __builtin_trap();
        return 0;
    }
    tessera::MemorySource source(packed.bytes.data(), packed.bytes.size());
    tessera::VectorSink out;
    if (inflater.Inflate(source, out) != tessera::CodecResult::kOk) __builtin_trap();
    if (out.bytes.size() != size || (size && std::memcmp(out.bytes.data(), data, size) != 0)) __builtin_trap();
    return 0;
}
