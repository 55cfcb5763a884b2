// Unshrink (ZIP method 1): LZW with partial clearing.
#include "codecs/unshrink/unshrink.h"

#include <cstring>
#include <new>

#include "codecs/lsb_bit_reader.h"

namespace tessera {
namespace {

constexpr unsigned kControlCode = 256;
constexpr unsigned kFirstFreeCode = 257;
constexpr unsigned kMinCodeBits = 9;
constexpr unsigned kMaxCodeBits = 13;
constexpr uint16_t kNoPrefix = 0xFFFF;
constexpr size_t kOutputSize = 32768;

// Fills a fresh array from a nothrow new; false when it could not be had.
template <typename T>
bool Make(std::unique_ptr<T[]>* array, size_t count) {
    if (!*array) array->reset(new (std::nothrow) T[count]);
    return *array != nullptr;
}

}  // namespace

Unshrinker::Unshrinker() = default;
Unshrinker::~Unshrinker() = default;

bool Unshrinker::Allocate() {
    return Make(&prefix_, kCodes) && Make(&suffix_, kCodes) && Make(&used_, kCodes) && Make(&string_, kCodes) &&
           Make(&output_, kOutputSize);
}

void Unshrinker::PartialClear() {
    // A code is kept when a code in use names it as its prefix.
    std::unique_ptr<uint8_t[]>& isPrefix = string_;  // free between two strings
    std::memset(isPrefix.get(), 0, kCodes);
    for (unsigned code = kFirstFreeCode; code < kCodes; ++code)
        if (used_[code] && prefix_[code] != kNoPrefix) isPrefix[prefix_[code]] = 1;
    for (unsigned code = kFirstFreeCode; code < kCodes; ++code)
        if (!isPrefix[code]) used_[code] = 0;
    nextFree_ = FindFree(kFirstFreeCode);
}

unsigned Unshrinker::FindFree(unsigned from) const {
    while (from < kCodes && used_[from]) ++from;
    return from;
}

CodecResult Unshrinker::Unshrink(ByteSource& source, ByteSink& sink, uint64_t uncompressedSize) {
    if (!Allocate()) return CodecResult::kNoMemory;
    for (unsigned code = 0; code < kCodes; ++code) {
        prefix_[code] = kNoPrefix;
        suffix_[code] = static_cast<uint8_t>(code);
        used_[code] = code < kFirstFreeCode ? 1 : 0;
    }
    nextFree_ = kFirstFreeCode;

    LsbBitReader bits(source);
    unsigned codeBits = kMinCodeBits;
    uint64_t remaining = uncompressedSize;
    size_t pending = 0;  // bytes in output_
    auto flush = [&]() {
        const bool ok = pending == 0 || sink.Write(output_.get(), pending);
        pending = 0;
        return ok;
    };
    unsigned previous = kCodes;  // none yet
    while (remaining > 0) {
        unsigned code = bits.Get(codeBits);
        if (bits.Exhausted()) break;
        if (code == kControlCode) {
            const unsigned control = bits.Get(codeBits);
            if (bits.Exhausted()) break;
            if (control == 1 && codeBits < kMaxCodeBits) {
                ++codeBits;
            } else if (control == 2) {
                PartialClear();
            } else {
                return CodecResult::kBadData;
            }
            continue;
        }
        // The string of the code, built from its end; a code not yet in use
        // can only be the one about to be added (the previous string plus its
        // own first byte).
        size_t start = kCodes;
        unsigned walk = code;
        const bool pendingCode = !used_[code];
        if (pendingCode) {
            if (previous == kCodes || code != nextFree_) return CodecResult::kBadData;
            walk = previous;
            --start;  // the last byte is filled in once the first is known
        }
        for (;;) {
            if (start == 0) return CodecResult::kBadData;  // a prefix chain that loops
            string_[--start] = suffix_[walk];
            if (walk < kControlCode) break;
            walk = prefix_[walk];
            if (walk == kNoPrefix) return CodecResult::kBadData;
        }
        const uint8_t first = string_[start];
        if (pendingCode) string_[kCodes - 1] = first;

        if (previous != kCodes && nextFree_ < kCodes) {
            prefix_[nextFree_] = static_cast<uint16_t>(previous);
            suffix_[nextFree_] = first;
            used_[nextFree_] = 1;
            nextFree_ = FindFree(nextFree_ + 1);
        }
        previous = code;

        size_t length = kCodes - start;
        if (length > remaining) length = static_cast<size_t>(remaining);
        remaining -= length;
        const uint8_t* from = string_.get() + start;
        while (length > 0) {
            size_t n = kOutputSize - pending < length ? kOutputSize - pending : length;
            std::memcpy(output_.get() + pending, from, n);
            pending += n;
            from += n;
            length -= n;
            if (pending == kOutputSize && !flush()) return CodecResult::kAborted;
        }
    }
    if (!flush()) return CodecResult::kAborted;
    return remaining == 0 ? CodecResult::kOk : CodecResult::kTruncated;
}

}  // namespace tessera
