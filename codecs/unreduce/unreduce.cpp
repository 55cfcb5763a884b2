// Unreduce (ZIP methods 2-5): follower sets, then DLE-coded matches.
#include "codecs/unreduce/unreduce.h"

#include <cstring>
#include <new>

#include "codecs/lsb_bit_reader.h"

namespace tessera {
namespace {

constexpr uint8_t kDle = 144;
constexpr unsigned kSetCapacity = 32;  // a 6-bit count, at most 32 by the format

// Bits of an index into a follower set of `count` bytes.
unsigned IndexBits(unsigned count) {
    unsigned bits = 1;
    while ((1u << bits) < count) ++bits;
    return bits;
}

}  // namespace

Unreducer::Unreducer() = default;
Unreducer::~Unreducer() = default;

CodecResult Unreducer::Unreduce(ByteSource& source, ByteSink& sink, unsigned factor, uint64_t uncompressedSize) {
    if (factor < 1 || factor > 4) return CodecResult::kUnknownMethod;
    if (uncompressedSize == 0) return CodecResult::kOk;  // nothing to decode, whatever the data holds
    if (!window_) window_.reset(new (std::nothrow) uint8_t[kWindowSize]);
    if (!followers_) followers_.reset(new (std::nothrow) uint8_t[256 * kSetCapacity]);
    if (!window_ || !followers_) return CodecResult::kNoMemory;
    std::memset(window_.get(), 0, kWindowSize);

    LsbBitReader bits(source);
    uint8_t setSize[256];
    for (int set = 255; set >= 0; --set) {
        const unsigned count = bits.Get(6);
        if (count > kSetCapacity) return CodecResult::kBadData;
        setSize[set] = static_cast<uint8_t>(count);
        for (unsigned i = 0; i < count; ++i) followers_[set * kSetCapacity + i] = static_cast<uint8_t>(bits.Get(8));
    }
    if (bits.Exhausted()) return CodecResult::kTruncated;

    const unsigned lengthMask = 0x7Fu >> (factor - 1);
    uint64_t remaining = uncompressedSize;
    size_t position = 0;  // next window slot; the window goes to the sink each time it fills
    auto put = [&](uint8_t byte) {
        window_[position] = byte;
        position = (position + 1) & (kWindowSize - 1);
        --remaining;
        return position != 0 || sink.Write(window_.get(), kWindowSize);
    };

    enum { kLiteral, kAfterDle, kLengthByte, kDistanceByte } state = kLiteral;
    uint8_t last = 0;
    unsigned matchByte = 0;
    unsigned length = 0;
    while (remaining > 0) {
        // Stage one: the next byte through the previous byte's follower set.
        uint8_t byte;
        const unsigned count = setSize[last];
        if (count == 0 || bits.Get(1) == 1) {
            byte = static_cast<uint8_t>(bits.Get(8));
        } else {
            const unsigned index = bits.Get(IndexBits(count));
            if (index >= count && !bits.Exhausted()) return CodecResult::kBadData;
            byte = followers_[last * kSetCapacity + (index < count ? index : 0)];
        }
        if (bits.Exhausted()) break;
        last = byte;

        // Stage two: literals, DLE escapes and matches.
        switch (state) {
        case kLiteral:
            if (byte == kDle) {
                state = kAfterDle;
            } else if (!put(byte)) {
                return CodecResult::kAborted;
            }
            break;
        case kAfterDle:
            if (byte == 0) {
                if (!put(kDle)) return CodecResult::kAborted;
                state = kLiteral;
            } else {
                matchByte = byte;
                length = byte & lengthMask;
                state = length == lengthMask ? kLengthByte : kDistanceByte;
            }
            break;
        case kLengthByte:
            length += byte;
            state = kDistanceByte;
            break;
        case kDistanceByte: {
            const size_t distance = ((static_cast<size_t>(matchByte) >> (8 - factor)) << 8) + byte + 1;
            size_t from = (position - distance) & (kWindowSize - 1);
            for (unsigned n = length + 3; n > 0 && remaining > 0; --n) {
                const uint8_t copied = window_[from];
                from = (from + 1) & (kWindowSize - 1);
                if (!put(copied)) return CodecResult::kAborted;
            }
            state = kLiteral;
            break;
        }
        }
    }
    if (position > 0 && !sink.Write(window_.get(), position)) return CodecResult::kAborted;
    return remaining == 0 ? CodecResult::kOk : CodecResult::kTruncated;
}

}  // namespace tessera
