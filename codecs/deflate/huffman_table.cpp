// Builds the two-level decoding tables described in huffman_table.h.
//
// Codes are assigned canonically (shorter codes first, symbols in order within
// a length). Because the formats send a code's first bit in the lowest input
// bit, an entry sits at the bit-reversed code and is repeated for every
// pattern of the unused higher index bits.
#include "codecs/deflate/huffman_table.h"

namespace tessera::huffman {
namespace {

uint32_t ReverseBits(uint32_t code, unsigned bits) {
    uint32_t r = 0;
    for (unsigned i = 0; i < bits; ++i, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

}  // namespace

CodecResult Build(const uint8_t* lengths, unsigned count, const Entry* templates, unsigned rootBits,
          Entry* arena, size_t capacity, unsigned* codes) {
    unsigned lengthCount[kMaxCodeBits + 1] = {};
    for (unsigned i = 0; i < count; ++i) {
        if (lengths[i] > kMaxCodeBits) return kOversubscribed;
        ++lengthCount[lengths[i]];
    }
    lengthCount[0] = 0;
    *codes = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) *codes += lengthCount[len];

    // Over-subscription check: count the code space left at each length.
    int32_t left = 1;
    unsigned maxLength = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        left = left * 2 - static_cast<int32_t>(lengthCount[len]);
        if (left < 0) return kOversubscribed;
        if (lengthCount[len]) maxLength = len;
    }

    const size_t rootSize = size_t{1} << rootBits;
    if (rootSize > capacity) return kNoSpace;
    const Entry invalid = MakeEntry(0, kOpInvalid, 1);
    for (size_t i = 0; i < rootSize; ++i) arena[i] = invalid;
    size_t used = rootSize;

    // Symbols sorted by code length, stable in symbol order.
    unsigned offsets[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) offsets[len + 1] = offsets[len] + lengthCount[len];
    uint16_t sorted[1 << 9];  // no alphabet has more than 288 symbols
    if (count > sizeof(sorted) / sizeof(sorted[0])) return kNoSpace;
    for (unsigned i = 0; i < count; ++i)
        if (lengths[i]) sorted[offsets[lengths[i]]++] = static_cast<uint16_t>(i);

    unsigned remaining[kMaxCodeBits + 1];
    for (unsigned len = 0; len <= kMaxCodeBits; ++len) remaining[len] = lengthCount[len];

    const uint32_t rootMask = static_cast<uint32_t>(rootSize - 1);
    uint32_t code = 0;  // canonical code, first bit most significant
    unsigned index = 0;
    uint32_t currentPrefix = UINT32_MAX;
    Entry* sub = nullptr;
    unsigned subBits = 0;
    for (unsigned len = 1; len <= maxLength; ++len, code <<= 1) {
        for (unsigned n = 0; n < lengthCount[len]; ++n, ++code, --remaining[len]) {
            const Entry entry = templates[sorted[index++]];
            const uint32_t reversed = ReverseBits(code, len);
            if (len <= rootBits) {
                for (uint32_t i = reversed; i < rootSize; i += uint32_t{1} << len) arena[i] = entry | len;
                continue;
            }
            const uint32_t prefix = reversed & rootMask;
            if (prefix != currentPrefix) {
                // A new sub-table: as many index bits as it takes for the
                // remaining codes to fill it (or the longest code, for an
                // incomplete set).
                unsigned bits = len - rootBits;
                int32_t slots = int32_t{1} << bits;
                while (bits + rootBits < maxLength) {
                    slots -= static_cast<int32_t>(remaining[bits + rootBits]);
                    if (slots <= 0) break;
                    ++bits;
                    slots <<= 1;
                }
                const size_t size = size_t{1} << bits;
                if (size > capacity - used || used > 0xFFFF) return kNoSpace;
                sub = arena + used;
                for (size_t i = 0; i < size; ++i) sub[i] = invalid;
                arena[prefix] = MakeEntry(static_cast<uint32_t>(used), kOpSubtable | bits, rootBits);
                used += size;
                currentPrefix = prefix;
                subBits = bits;
            }
            const unsigned tail = len - rootBits;
            if (tail > subBits) return kOversubscribed;  // cannot happen for a checked set
            for (uint32_t i = reversed >> rootBits; i < (uint32_t{1} << subBits); i += uint32_t{1} << tail)
                sub[i] = entry | tail;
        }
    }
    return left > 0 ? kIncomplete : kComplete;
}

}  // namespace tessera::huffman
