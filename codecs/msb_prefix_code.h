// Canonical prefix codes read most-significant bit first, as ARJ and LZX
// store them: codes are assigned in order of (length, symbol), and the
// decoder looks at the next 16 bits of input.
//
// Codes up to `tableBits` long resolve in one lookup; longer ones walk the
// code-length counts. Deflate (bits read from the least significant end,
// with operation codes in its entries) and ACE (codes assigned from the
// longest down, incomplete sets allowed) build their own tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera {

enum class PrefixCodeShape {
    kComplete,  // the lengths fill the code space exactly
    kEmpty,     // every length is 0: decoding fails on first use
    kInvalid,   // over- or under-full, or a length above 16
};

namespace prefix_code {

constexpr unsigned kMaxLength = 16;

// What the build and the slow walk share; the storage belongs to the table.
struct View {
    uint16_t* counts;   // kMaxLength + 1 entries: codes of each length
    uint16_t* sorted;   // symbols in code order
    uint16_t* fast;     // 2^tableBits entries: symbol << 5 | length, 0 = longer code
};

PrefixCodeShape Build(const View& table, const uint8_t* lengths, unsigned count, unsigned tableBits);
// A code longer than the direct table: the symbol, or -1 when none matches.
// The first code of each length follows from the counts of the shorter ones.
inline int DecodeLong(const uint16_t* counts, const uint16_t* sorted, uint32_t peek16, unsigned& length) {
    uint32_t first = 0;
    uint32_t index = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        const uint32_t code = peek16 >> (16 - len);
        if (code - first < counts[len]) {
            length = len;
            return sorted[index + code - first];
        }
        index += counts[len];
        first = (first + counts[len]) << 1;
    }
    return -1;
}

}  // namespace prefix_code

// One table for up to `MaxSymbols` symbols whose direct part has at most
// 2^MaxTableBits entries.
template <unsigned MaxSymbols, unsigned MaxTableBits>
class MsbPrefixCode {
    static_assert(MaxSymbols < 2048 && MaxTableBits <= prefix_code::kMaxLength, "entries hold symbol << 5 | length");

public:
    // `count` <= MaxSymbols lengths (0 = unused symbol), `tableBits` <= MaxTableBits.
    PrefixCodeShape Build(const uint8_t* lengths, unsigned count, unsigned tableBits = MaxTableBits) {
        if (count > MaxSymbols || tableBits > MaxTableBits) return PrefixCodeShape::kInvalid;
        tableBits_ = tableBits;
        return prefix_code::Build({counts_, sorted_, fast_}, lengths, count, tableBits);
    }

    // The symbol whose code starts the 16 bits of `peek16` (first bit in bit
    // 15) and its code length; -1 when there is none (an empty table).
    int Decode(uint32_t peek16, unsigned& length) const {
        const uint16_t entry = fast_[peek16 >> (16 - tableBits_)];
        if (entry) {
            length = entry & 31;
            return entry >> 5;
        }
        return prefix_code::DecodeLong(counts_, sorted_, peek16, length);
    }

private:
    unsigned tableBits_ = MaxTableBits;
    uint16_t counts_[prefix_code::kMaxLength + 1] = {};
    uint16_t sorted_[MaxSymbols] = {};
    uint16_t fast_[size_t{1} << MaxTableBits] = {};
};

}  // namespace tessera
