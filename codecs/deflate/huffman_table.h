// Canonical Huffman decoding tables, shared by Inflate and Explode.
//
// A table is a first-level array indexed by the next `rootBits` input bits
// (taken least significant bit first, as both formats send codes), plus
// sub-tables for the longer codes. Every entry is one 32-bit word:
//   bits 0-7   how many input bits the entry consumes (the code length, or
//              for a sub-table link the first-level bits)
//   bits 8-15  the operation: 0-15 a length/distance base with that many
//              extra bits (or a plain symbol in code-length and Explode
//              tables), kOpLiteral, kOpEnd, kOpSubtable | sub-table bits,
//              kOpInvalid
//   bits 16-31 the value: literal byte, base, symbol or sub-table offset
// All tables live in one arena handed in by the owner, sized once in set-up,
// so building never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/codec_result.h"

namespace tessera::huffman {

using Entry = uint32_t;

constexpr uint32_t kOpLiteral = 0x10;
constexpr uint32_t kOpEnd = 0x20;
constexpr uint32_t kOpSubtable = 0x40;  // low 4 bits: index bits of the sub-table
constexpr uint32_t kOpInvalid = 0x80;
constexpr unsigned kMaxCodeBits = 16;  // Explode allows 16, Deflate 15

constexpr Entry MakeEntry(uint32_t value, uint32_t op, uint32_t bits = 0) {
    return value << 16 | op << 8 | bits;
}
inline uint32_t EntryBits(Entry e) { return e & 0xFF; }
inline uint32_t EntryOp(Entry e) { return (e >> 8) & 0xFF; }
inline uint32_t EntryValue(Entry e) { return e >> 16; }

// Results of Build, in the codecs' vocabulary: a decoder that does not
// accept an incomplete set passes the result on unchanged.
inline constexpr CodecResult kComplete = CodecResult::kOk;            // every code space filled
inline constexpr CodecResult kIncomplete = CodecResult::kBadData;     // built, but some bit
                                                                      // patterns are kOpInvalid
inline constexpr CodecResult kOversubscribed = CodecResult::kBadBlock;  // nothing usable built
inline constexpr CodecResult kNoSpace = CodecResult::kNoMemory;  // arena too small (cannot
                                                                 // happen with the sizes below)

// Arena sizes that hold any non-over-subscribed set: a sub-table has at most
// 2^(maxBits - rootBits) entries and there is at most one per code longer
// than rootBits.
constexpr size_t ArenaSize(unsigned codes, unsigned rootBits, unsigned maxBits) {
    return (size_t{1} << rootBits) + size_t{codes} * (size_t{1} << (maxBits - rootBits));
}

// Builds a table for `count` symbols with the given code lengths (0 = symbol
// unused, at most kMaxCodeBits). `templates[i]` is the entry of symbol i
// without its bit count (MakeEntry(value, op)). `*codes` receives the number
// of symbols with a code (0 means an empty set, reported as kIncomplete).
CodecResult Build(const uint8_t* lengths, unsigned count, const Entry* templates, unsigned rootBits,
          Entry* arena, size_t capacity, unsigned* codes);

}  // namespace tessera::huffman
