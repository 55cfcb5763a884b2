// LZX encoder for cabinet folders.
//
// Each call codes one frame (one CFDATA block of up to 32,768 bytes) as one
// verbatim block, or as an uncompressed block when that is smaller, and
// ends it on a 16-bit boundary as the decoder expects. Matches are found
// with hash chains over a history of the window and the frames after it;
// the repeated offsets R0-R2 are tried first because they cost no offset
// bits, and a longer match wins only when its extra bytes outweigh its
// extra offset bits. The E8
// call translation is not used (its header bit is 0), so the output does
// not depend on what the data is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "codecs/lzx/lzx_common.h"

namespace tessera::lzx {

class LzxEncoder {
public:
    explicit LzxEncoder(std::pmr::memory_resource* memory = std::pmr::get_default_resource());

    // False when windowBits is outside 15..21 or memory is exhausted.
    bool Init(int windowBits);
    bool OutOfMemory() const { return outOfMemory_; }

    // Starts a new folder.
    void Reset();

    // Codes one frame of `inSize` (1 to 32,768) bytes; returns the bytes
    // written, at most inSize + 6,144, or 0 if `outCapacity` is too small.
    size_t EncodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity);

private:
    struct Token {
        uint16_t mainSymbol;
        int16_t lengthSymbol;  // -1: none
        uint8_t extraCount;
        uint32_t extraValue;
    };
    struct Match {
        uint32_t length, offset;
        int extraBits;  // offset bits beyond the main symbol; 0 for repeated offsets
    };
    void Slide();
    uint32_t Hash5(const uint8_t* p) const;
    static uint32_t Hash3(const uint8_t* p);
    void Insert(uint32_t pos);
    uint32_t MatchLength(uint32_t pos, uint32_t candidate, uint32_t limit) const;
    Match Find(uint32_t p, uint32_t start, uint32_t end, int maxChain) const;
    void Tokenize(uint32_t start, uint32_t end);
    void AddMatch(uint32_t length, uint32_t offset);

    bool outOfMemory_ = false;
    int windowBits_ = 0;
    uint32_t windowSize_ = 0;
    uint32_t historySize_ = 0;
    int mainSymbols_ = 0;
    int hashBits_ = 0;
    std::pmr::vector<uint8_t> history_;   // the window and room for more frames, and a few bytes of slack
    std::pmr::vector<int32_t> head_;      // hash of 5 bytes -> latest position
    std::pmr::vector<int32_t> nearHead_;  // hash of 3 bytes -> latest position
    std::pmr::vector<int32_t> prev_;      // position -> previous with the same 5-byte hash
    std::pmr::vector<Token> tokens_;
    std::pmr::vector<uint8_t> scratch_;   // one coded frame
    uint32_t pos_ = 0;                    // next position in history_
    uint64_t total_ = 0;                  // bytes coded since Reset()
    bool headerWritten_ = false;
    uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
    uint8_t mainLengths_[kMaxMainSymbols] = {};
    uint8_t lengthLengths_[kNumSecondaryLengths] = {};
};

}  // namespace tessera::lzx
