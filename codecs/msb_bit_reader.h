// Most-significant-bit-first bit reader shared by the RAR 1.5 and ARJ
// decoders.
//
// Both formats look at the next 16 bits before deciding how many to take, so
// the reader keeps at least 16 valid bits in a 32-bit register. Past the end
// of the input it feeds zero bytes (the encoders may leave the last code's
// look-ahead hanging over the end) but counts them: Overrun() tells the
// decoder when more than a few padding bytes were actually consumed, which is
// how a truncated or hostile stream ends instead of decoding zeros forever.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_io.h"

namespace tessera {

class MsbBitReader {
public:
    explicit MsbBitReader(ByteSource& source) : source_(source) {}

    // The next 16 bits, first bit in bit 15; nothing is consumed.
    uint32_t Peek16() {
        if (count_ < 16) Fill();
        return bits_ >> 16;
    }
    // Drops `n` bits (0..16).
    void Skip(unsigned n) {
        if (count_ < 16) Fill();
        bits_ <<= n;
        count_ -= static_cast<int>(n);
    }
    // Takes `n` bits (0..16) as an unsigned number.
    uint32_t Get(unsigned n) {
        if (n == 0) return 0;
        uint32_t value = Peek16() >> (16 - n);
        Skip(n);
        return value;
    }
    // True when more than `slackBytes` bytes of padding have been consumed.
    bool Overrun(unsigned slackBytes = 4) const {
        int64_t consumedPadding = static_cast<int64_t>(padBytes_) * 8 - count_;
        return consumedPadding > static_cast<int64_t>(slackBytes) * 8;
    }

private:
    void Fill() {
        while (count_ <= 24) {
            if (next_ == end_ && !ended_) {
                next_ = 0;
                end_ = source_.Read(buffer_, sizeof buffer_);
                ended_ = end_ == 0;
            }
            uint32_t byte = 0;
            if (next_ < end_)
                byte = buffer_[next_++];
            else
                ++padBytes_;
            bits_ |= byte << (24 - count_);
            count_ += 8;
        }
    }

    ByteSource& source_;
    uint8_t buffer_[4096];   // on the object, so decoding allocates nothing
    size_t next_ = 0;
    size_t end_ = 0;
    bool ended_ = false;     // the source reported its end: never asked again
    uint32_t bits_ = 0;      // left-aligned: the next bit is bit 31
    int count_ = 0;          // valid bits in bits_
    uint32_t padBytes_ = 0;  // zero bytes fed after the input ended
};

}  // namespace tessera
