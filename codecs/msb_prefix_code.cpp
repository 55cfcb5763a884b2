// Canonical prefix codes, most-significant bit first (see msb_prefix_code.h).
#include "codecs/msb_prefix_code.h"

#include <algorithm>

namespace tessera::prefix_code {

PrefixCodeShape Build(const View& table, const uint8_t* lengths, unsigned count, unsigned tableBits) {
    std::fill(table.counts, table.counts + kMaxLength + 1, uint16_t{0});
    for (unsigned s = 0; s < count; ++s) {
        if (lengths[s] > kMaxLength) return PrefixCodeShape::kInvalid;
        ++table.counts[lengths[s]];
    }
    table.counts[0] = 0;
    std::fill(table.fast, table.fast + (size_t{1} << tableBits), uint16_t{0});
    // Kraft sum in units of 2^-16: a complete code sums to exactly 2^16.
    uint32_t space = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) space += uint32_t{table.counts[len]} << (kMaxLength - len);
    if (space == 0) return PrefixCodeShape::kEmpty;
    if (space != (1u << kMaxLength)) return PrefixCodeShape::kInvalid;

    uint16_t offsets[kMaxLength + 2] = {};
    for (unsigned len = 1; len <= kMaxLength; ++len)
        offsets[len + 1] = static_cast<uint16_t>(offsets[len] + table.counts[len]);
    for (unsigned s = 0; s < count; ++s)
        if (lengths[s]) table.sorted[offsets[lengths[s]]++] = static_cast<uint16_t>(s);

    // Direct entries for the codes that fit the table, in code order.
    uint32_t code = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        for (unsigned k = 0; k < table.counts[len]; ++k, ++code, ++index) {
            if (len > tableBits) continue;
            const uint32_t first = code << (tableBits - len);
            const uint32_t span = 1u << (tableBits - len);
            const uint16_t entry = static_cast<uint16_t>(table.sorted[index] << 5 | len);
            std::fill(table.fast + first, table.fast + first + span, entry);
        }
        code <<= 1;
    }
    return PrefixCodeShape::kComplete;
}

}  // namespace tessera::prefix_code
