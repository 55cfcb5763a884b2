// Least-significant-bit-first bit reader of the PKZIP 1.x decoders (Shrink
// and Reduce): the first bit of the stream is bit 0 of its first byte.
//
// There is no padding: a read that needs bits past the end of the input
// answers 0 and marks the reader exhausted, and the decoder ends the entry
// as truncated. The decoders stop reading once their output is complete, so
// a stream never needs bits beyond its last code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/byte_io.h"

namespace tessera {

class LsbBitReader {
public:
    explicit LsbBitReader(ByteSource& source) : source_(source) {}

    // Takes `n` bits (0..16), the first one in bit 0 of the value.
    uint32_t Get(unsigned n) {
        while (count_ < n) {
            if (next_ == end_) {
                next_ = 0;
                end_ = source_.Read(buffer_, sizeof buffer_);
                if (end_ == 0) {
                    exhausted_ = true;
                    return 0;
                }
            }
            bits_ |= static_cast<uint32_t>(buffer_[next_++]) << count_;
            count_ += 8;
        }
        const uint32_t value = bits_ & ((1u << n) - 1);
        bits_ >>= n;
        count_ -= n;
        return value;
    }
    // A read ran past the end of the input.
    bool Exhausted() const { return exhausted_; }

private:
    ByteSource& source_;
    uint8_t buffer_[4096];
    size_t next_ = 0;
    size_t end_ = 0;
    uint32_t bits_ = 0;
    unsigned count_ = 0;
    bool exhausted_ = false;
};

}  // namespace tessera
