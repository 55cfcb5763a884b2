// LZX decoder for cabinet folders.
//
// A folder is one LZX stream cut into frames of 32,768 bytes; each CFDATA
// block carries exactly one frame, so every call decodes one block into its
// cbUncomp bytes. Window, trees, repeated offsets and a block in progress
// run on from call to call until Reset() starts a new folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "codecs/lzx/lzx_common.h"
#include "codecs/msb_prefix_code.h"

namespace tessera::lzx {

class LzxDecoder {
public:
    explicit LzxDecoder(std::pmr::memory_resource* memory = std::pmr::get_default_resource());

    // Allocates the window; false when windowBits is outside 15..21 or the
    // memory is exhausted (then `OutOfMemory()` tells which).
    bool Init(int windowBits);
    bool OutOfMemory() const { return outOfMemory_; }

    // Starts a new folder: empty window, zero tree lengths, offsets 1, 1, 1.
    void Reset();

    // Decodes one frame from `in` into exactly `outSize` (at most 32,768)
    // bytes. False for invalid data; the decoder then stays failed until
    // Reset().
    bool DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

private:
    struct Bits;
    bool ReadLengths(Bits& bits, uint8_t* lengths, int first, int last);
    bool ReadBlockHeader(Bits& bits);
    bool DecodeFrame(Bits& bits, uint32_t frameSize);
    void TranslateE8(uint8_t* data, uint32_t size) const;

    bool outOfMemory_ = false;
    int windowBits_ = 0;
    uint32_t windowSize_ = 0;
    int mainSymbols_ = 0;
    std::pmr::vector<uint8_t> window_;

    // Stream state, reset per folder.
    bool failed_ = false;
    bool headerRead_ = false;
    uint32_t e8FileSize_ = 0;   // 0: no E8 translation
    bool e8Started_ = false;    // a block has coded the byte 0xE8
    uint32_t windowPos_ = 0;
    uint64_t totalOut_ = 0;     // bytes decoded since Reset()
    uint32_t framesDone_ = 0;
    uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
    int blockType_ = 0;
    uint32_t blockRemaining_ = 0;
    uint32_t blockLength_ = 0;

    uint8_t mainLengths_[kMaxMainSymbols] = {};
    uint8_t lengthLengths_[kNumSecondaryLengths] = {};
    uint8_t alignedLengths_[kAlignedSymbols] = {};
    // Every tree must be complete, or empty where the block never uses it
    // (an empty tree fails on first use).
    MsbPrefixCode<kPretreeSymbols, 8> pretree_;
    MsbPrefixCode<kMaxMainSymbols, 12> mainTree_;
    MsbPrefixCode<kNumSecondaryLengths, 12> lengthTree_;
    MsbPrefixCode<kAlignedSymbols, 7> alignedTree_;  // lengths of 3 bits: every code fits
};

}  // namespace tessera::lzx
