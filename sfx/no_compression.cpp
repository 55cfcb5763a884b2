// The cabinet engines' method table names the compressors beside the
// decompressors. A stub only ever decompresses, so instead of the encoders
// (a third of a cabinet stub) it links these stand-ins, which end the
// program if anything should ever reach them.
#include <cstdlib>

#include "codecs/deflate/deflate.h"
#include "codecs/lzx/lzx_encoder.h"

namespace tessera {

struct Deflater::Buffers {};

Deflater::Deflater() { std::abort(); }
Deflater::~Deflater() = default;
CodecResult Deflater::Compress(ByteSource&, ByteSink&, DeflateFile&) { std::abort(); }

namespace lzx {

LzxEncoder::LzxEncoder(std::pmr::memory_resource* memory)
    : history_(memory), head_(memory), nearHead_(memory), prev_(memory), tokens_(memory), scratch_(memory) {
    std::abort();
}
bool LzxEncoder::Init(int) { std::abort(); }
void LzxEncoder::Reset() { std::abort(); }
size_t LzxEncoder::EncodeBlock(const uint8_t*, size_t, uint8_t*, size_t) { std::abort(); }

}  // namespace lzx
}  // namespace tessera
