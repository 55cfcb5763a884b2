// Unreduce: the decoder of ZIP methods 2-5 (Reduce with compression factors
// 1-4), as the PKWARE application note describes it.
//
// Two stages. The bit stream (least significant bit first) starts with 256
// follower sets, for byte 255 down to 0: a 6-bit count and that many bytes.
// Each byte is then sent either as 8 raw bits (after a 1 bit, or always when
// the previous byte's follower set is empty) or, after a 0 bit, as an index
// into that set. The bytes so decoded form the second stage: byte 144 (DLE)
// followed by 0 stands for 144 itself; followed by anything else it starts a
// match whose length and distance share bits according to the factor (up to
// 4,096 bytes back). A match reaching before the first output byte copies
// zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"

namespace tessera {

class Unreducer {
public:
    static constexpr size_t kWindowSize = 8192;  // a power of two above the 4,096-byte reach

    Unreducer();
    ~Unreducer();
    Unreducer(const Unreducer&) = delete;
    Unreducer& operator=(const Unreducer&) = delete;

    // Decodes one entry of compression factor `factor` (1-4, i.e. method - 1)
    // into `sink`, stopping after `uncompressedSize` bytes. kTruncated when
    // the input ends first; kBadData for an index outside its follower set;
    // kUnknownMethod for a factor outside 1-4.
    CodecResult Unreduce(ByteSource& source, ByteSink& sink, unsigned factor, uint64_t uncompressedSize);

private:
    std::unique_ptr<uint8_t[]> window_;       // kWindowSize bytes of output, flushed as it fills
    std::unique_ptr<uint8_t[]> followers_;    // 256 sets of up to 32 bytes
};

}  // namespace tessera
