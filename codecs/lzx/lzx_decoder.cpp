// LZX decoder for cabinet folders (see lzx_decoder.h).
//
// Input policy: the bit reader hands out zero words past the end of a block;
// a frame that consumed more than one such word, or whose matches or blocks
// run past the frame end, is invalid. Every match is checked against the
// bytes decoded since the folder began, so nothing is read from a part of
// the window that was never written.
#include "codecs/lzx/lzx_decoder.h"

#include <cstring>
#include <new>

#include "codecs/exceptions.h"

namespace tessera::lzx {

// ------------------------------------------------------------- bit reader

// 16-bit little-endian words, bits taken from the most significant end.
struct LzxDecoder::Bits {
    const uint8_t* in;
    size_t size;
    size_t pos = 0;
    uint32_t buffer = 0;  // next bits, left-aligned
    int count = 0;        // valid bits in buffer

    Bits(const uint8_t* data, size_t n) : in(data), size(n) {}
    void Ensure(int n) {
        while (count < n) {
            uint32_t word = 0;
            if (pos + 1 < size) word = in[pos] | uint32_t{in[pos + 1]} << 8;
            else if (pos < size) word = in[pos];
            pos += 2;
            buffer |= word << (16 - count);
            count += 16;
        }
    }
    uint32_t Peek16() { Ensure(16); return buffer >> 16; }
    void Remove(int n) { buffer <<= n; count -= n; }
    uint32_t Read(int n) {  // n <= 16
        if (n == 0) return 0;
        Ensure(n);
        uint32_t v = buffer >> (32 - n);
        Remove(n);
        return v;
    }
    uint32_t ReadLong(int n) {  // n <= 32
        return n > 16 ? (Read(16) << (n - 16)) | Read(n - 16) : Read(n);
    }
    template <class Code>
    int Symbol(const Code& code) {
        unsigned length = 0;
        const int s = code.Decode(Peek16(), length);
        if (s >= 0) Remove(static_cast<int>(length));
        return s;
    }
    // Bits of input consumed so far.
    uint64_t Consumed() const { return uint64_t{pos} * 8 - static_cast<uint64_t>(count); }
    bool Overrun() const { return pos > size + 8; }
    // Byte alignment before an uncompressed block: drops the rest of the
    // current 16-bit word, or a whole word when already aligned.
    void AlignForRaw() {
        Ensure(16);
        if (count > 16) pos -= 2;
        buffer = 0;
        count = 0;
    }
};

// ---------------------------------------------------------------- decoder

LzxDecoder::LzxDecoder(std::pmr::memory_resource* memory)
    : window_(memory) {}

bool LzxDecoder::Init(int windowBits) {
    outOfMemory_ = false;
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return false;
    windowBits_ = windowBits;
    windowSize_ = 1u << windowBits;
    mainSymbols_ = kNumChars + PositionSlots(windowBits) * 8;
    TESSERA_TRY {
        window_.assign(windowSize_, 0);
    } TESSERA_CATCH(const std::bad_alloc&) {
        outOfMemory_ = true;
        return false;
    }
    Reset();
    return true;
}

void LzxDecoder::Reset() {
    failed_ = windowSize_ == 0;
    headerRead_ = false;
    e8FileSize_ = 0;
    e8Started_ = false;
    windowPos_ = 0;
    totalOut_ = 0;
    framesDone_ = 0;
    r0_ = r1_ = r2_ = 1;
    blockType_ = 0;
    blockRemaining_ = 0;
    blockLength_ = 0;
    std::memset(mainLengths_, 0, sizeof(mainLengths_));
    std::memset(lengthLengths_, 0, sizeof(lengthLengths_));
}

// Tree lengths are sent as differences (mod 17) from the previous block's,
// through a 20-symbol pretree with run codes 17 (short zero run), 18 (long
// zero run) and 19 (short run of one value).
bool LzxDecoder::ReadLengths(Bits& bits, uint8_t* lengths, int first, int last) {
    uint8_t pre[kPretreeSymbols];
    for (int i = 0; i < kPretreeSymbols; ++i) pre[i] = static_cast<uint8_t>(bits.Read(4));
    if (pretree_.Build(pre, kPretreeSymbols) == PrefixCodeShape::kInvalid) return false;
    int x = first;
    while (x < last) {
        int z = bits.Symbol(pretree_);
        if (z < 0) return false;
        if (z == 17 || z == 18) {
            int run = z == 17 ? static_cast<int>(bits.Read(4)) + 4 : static_cast<int>(bits.Read(5)) + 20;
            while (run-- > 0 && x < last) lengths[x++] = 0;
        } else if (z == 19) {
            int run = static_cast<int>(bits.Read(1)) + 4;
            int d = bits.Symbol(pretree_);
            if (d < 0 || d > 16) return false;
            // One value, taken from the first length of the run, for all.
            uint8_t value = static_cast<uint8_t>((lengths[x] + 17 - d) % 17);
            while (run-- > 0 && x < last) lengths[x++] = value;
        } else {
            lengths[x] = static_cast<uint8_t>((lengths[x] + 17 - z) % 17);
            ++x;
        }
        if (bits.Overrun()) return false;
    }
    return true;
}

bool LzxDecoder::ReadBlockHeader(Bits& bits) {
    // An odd-sized uncompressed block is followed by one padding byte.
    if (blockType_ == kBlockUncompressed && (blockLength_ & 1)) {
        if (bits.pos >= bits.size) return false;
        ++bits.pos;
    }
    if (bits.Overrun()) return false;
    blockType_ = static_cast<int>(bits.Read(3));
    uint32_t high = bits.Read(16);
    blockLength_ = high << 8 | bits.Read(8);
    blockRemaining_ = blockLength_;
    switch (blockType_) {
    case kBlockAligned:
        for (int i = 0; i < kAlignedSymbols; ++i) alignedLengths_[i] = static_cast<uint8_t>(bits.Read(3));
        if (alignedTree_.Build(alignedLengths_, kAlignedSymbols) == PrefixCodeShape::kInvalid) return false;
        [[fallthrough]];
    case kBlockVerbatim:
        if (!ReadLengths(bits, mainLengths_, 0, kNumChars)) return false;
        if (!ReadLengths(bits, mainLengths_, kNumChars, mainSymbols_)) return false;
        if (mainTree_.Build(mainLengths_, mainSymbols_) != PrefixCodeShape::kComplete) return false;
        if (mainLengths_[0xE8]) e8Started_ = true;
        if (!ReadLengths(bits, lengthLengths_, 0, kNumSecondaryLengths)) return false;
        if (lengthTree_.Build(lengthLengths_, kNumSecondaryLengths) == PrefixCodeShape::kInvalid) return false;
        return true;
    case kBlockUncompressed: {
        e8Started_ = true;
        bits.AlignForRaw();
        if (bits.pos + 12 > bits.size) return false;
        uint32_t r[3];
        for (int i = 0; i < 3; ++i) {
            const uint8_t* p = bits.in + bits.pos + 4 * i;
            r[i] = p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
        }
        bits.pos += 12;
        r0_ = r[0];
        r1_ = r[1];
        r2_ = r[2];
        return true;
    }
    default:
        return false;
    }
}

bool LzxDecoder::DecodeFrame(Bits& bits, uint32_t frameSize) {
    uint8_t* window = window_.data();
    const uint32_t mask = windowSize_ - 1;
    uint32_t left = frameSize;
    while (left > 0) {
        if (blockRemaining_ == 0 && !ReadBlockHeader(bits)) return false;
        uint32_t run = blockRemaining_ < left ? blockRemaining_ : left;

        if (blockType_ == kBlockUncompressed) {
            if (bits.size - (bits.pos < bits.size ? bits.pos : bits.size) < run) return false;
            std::memcpy(window + windowPos_, bits.in + bits.pos, run);
            bits.pos += run;
            windowPos_ += run;
            totalOut_ += run;
            blockRemaining_ -= run;
            left -= run;
            continue;
        }

        // Verbatim or aligned: symbols until the run is used up. A match may
        // not pass the end of the block or of the frame.
        const bool aligned = blockType_ == kBlockAligned;
        while (run > 0) {
            // Far past the input (the frame is invalid anyway): stop now
            // rather than decode the rest of the frame from zero bits.
            if (bits.Overrun()) return false;
            int main = bits.Symbol(mainTree_);
            if (main < 0) return false;
            if (main < kNumChars) {
                window[windowPos_++] = static_cast<uint8_t>(main);
                ++totalOut_;
                --run;
                continue;
            }
            main -= kNumChars;
            uint32_t length = static_cast<uint32_t>(main & 7);
            if (length == kNumPrimaryLengths) {
                int footer = bits.Symbol(lengthTree_);
                if (footer < 0) return false;
                length += static_cast<uint32_t>(footer);
            }
            length += kMinMatch;
            int slot = main >> 3;
            uint32_t offset;
            if (slot == 0) {
                offset = r0_;
            } else if (slot == 1) {
                offset = r1_;
                r1_ = r0_;
                r0_ = offset;
            } else if (slot == 2) {
                offset = r2_;
                r2_ = r0_;
                r0_ = offset;
            } else {
                int extra = kPositions.extraBits[slot];
                offset = kPositions.base[slot] - 2;
                if (aligned && extra >= 3) {
                    offset += bits.ReadLong(extra - 3) << 3;
                    int a = bits.Symbol(alignedTree_);
                    if (a < 0) return false;
                    offset += static_cast<uint32_t>(a);
                } else {
                    offset += bits.ReadLong(extra);
                }
                r2_ = r1_;
                r1_ = r0_;
                r0_ = offset;
            }
            if (length > run) return false;
            if (offset == 0 || offset > windowSize_ || offset > totalOut_) return false;
            uint8_t* d = window + windowPos_;
            if (offset >= length && offset <= windowPos_) {
                std::memcpy(d, d - offset, length);
            } else if (offset <= windowPos_) {
                // Byte by byte, so overlapping runs repeat their pattern.
                const uint8_t* s = d - offset;
                for (uint32_t i = 0; i < length; ++i) d[i] = s[i];
            } else {
                uint32_t src = windowPos_ + windowSize_ - offset;
                for (uint32_t i = 0; i < length; ++i) d[i] = window[(src + i) & mask];
            }
            windowPos_ += length;
            totalOut_ += length;
            run -= length;
        }
        uint32_t done = (blockRemaining_ < left ? blockRemaining_ : left);
        blockRemaining_ -= done;
        left -= done;
    }
    return true;
}

void LzxDecoder::TranslateE8(uint8_t* data, uint32_t size) const {
    const int32_t fileSize = static_cast<int32_t>(e8FileSize_);
    const int32_t start = static_cast<int32_t>(framesDone_ * kFrameSize);
    for (uint32_t i = 0; i < size - 10;) {
        if (data[i] != 0xE8) {
            ++i;
            continue;
        }
        int32_t current = start + static_cast<int32_t>(i);
        uint8_t* p = data + i + 1;
        int32_t absolute = static_cast<int32_t>(p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
        if (absolute >= -current && absolute < fileSize) {
            int32_t relative = absolute >= 0 ? absolute - current : absolute + fileSize;
            uint32_t r = static_cast<uint32_t>(relative);
            p[0] = static_cast<uint8_t>(r);
            p[1] = static_cast<uint8_t>(r >> 8);
            p[2] = static_cast<uint8_t>(r >> 16);
            p[3] = static_cast<uint8_t>(r >> 24);
        }
        i += 5;
    }
}

bool LzxDecoder::DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if (failed_ || outSize > kFrameSize || windowPos_ + outSize > windowSize_) {
        failed_ = true;
        return false;
    }
    if (outSize == 0) return true;
    Bits bits(in, inSize);
    if (!headerRead_) {
        if (bits.Read(1)) {
            uint32_t high = bits.Read(16);
            e8FileSize_ = high << 16 | bits.Read(16);
        }
        headerRead_ = true;
    }
    uint32_t start = windowPos_;
    // A block in progress of uncompressed data continues at the first byte.
    if (!DecodeFrame(bits, static_cast<uint32_t>(outSize)) || bits.Consumed() > (uint64_t{inSize} + 2) * 8) {
        failed_ = true;
        return false;
    }
    std::memcpy(out, window_.data() + start, outSize);
    if (e8Started_ && e8FileSize_ && framesDone_ < 32768 && outSize > 10) TranslateE8(out, static_cast<uint32_t>(outSize));
    ++framesDone_;
    if (windowPos_ == windowSize_) windowPos_ = 0;
    return true;
}

}  // namespace tessera::lzx
