// The CRC-32 of the stubs (reflected polynomial 0xEDB88320), byte by byte
// from a table made by the compiler. It stands in for codecs/crc32, whose
// folding path for newer processors would double a stub's size for speed a
// stub does not need.
#include "codecs/crc32/crc32.h"

namespace tessera {

namespace {

struct Table {
    uint32_t entries[256];
};

constexpr Table MakeTable() {
    Table table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entries[n] = c;
    }
    return table;
}

constexpr Table kTable = MakeTable();

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size--) crc = kTable.entries[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace tessera
