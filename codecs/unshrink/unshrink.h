// Unshrink: the decoder of ZIP method 1 (Shrink), as the PKWARE application
// note describes it.
//
// Shrink is LZW with codes of 9 to 13 bits, read least significant bit
// first. Codes 0-255 are the bytes; code 256 escapes a control code: 1
// widens the codes by one bit, 2 is a partial clear, which frees every code
// that is no other code's prefix. A new code (the previous code's string and
// the first byte of the current one) takes the lowest free code above 256;
// when none is free, nothing is added. Freed codes keep their prefix and byte
// until they are reused, so a code added with a just-freed prefix still
// spells the string it was made with until that prefix is taken again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"

namespace tessera {

class Unshrinker {
public:
    static constexpr unsigned kCodes = 8192;  // 13-bit codes

    Unshrinker();
    ~Unshrinker();
    Unshrinker(const Unshrinker&) = delete;
    Unshrinker& operator=(const Unshrinker&) = delete;

    // Decodes one entry into `sink`, stopping after `uncompressedSize` bytes.
    // kTruncated when the input ends first; kBadData for an invalid code or
    // control code; kNoMemory when the tables cannot be allocated.
    CodecResult Unshrink(ByteSource& source, ByteSink& sink, uint64_t uncompressedSize);

private:
    bool Allocate();
    void PartialClear();
    // The lowest free code from `nextFree_` on (kCodes when none).
    unsigned FindFree(unsigned from) const;

    std::unique_ptr<uint16_t[]> prefix_;  // kNoPrefix for codes never assigned
    std::unique_ptr<uint8_t[]> suffix_;
    std::unique_ptr<uint8_t[]> used_;     // 1 while a code is in use
    std::unique_ptr<uint8_t[]> string_;   // one decoded string, built backwards
    std::unique_ptr<uint8_t[]> output_;   // output buffer
    unsigned nextFree_ = 257;
};

}  // namespace tessera
