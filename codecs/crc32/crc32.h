// CRC-32 as used by ZIP, gzip, RAR, ARJ and ACE.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera {

// The byte-wise table (reflected polynomial 0xEDB88320); the ZIP cipher
// steps its keys with it one byte at a time.
extern const uint32_t kCrc32Table[256];

inline uint32_t Crc32UpdateByte(uint32_t crc, uint8_t byte) {
    return kCrc32Table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// Updates a running CRC-32 with `size` bytes. No complement inside: start
// with 0xFFFFFFFF and complement the final value (ZIP, gzip).
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

// The CRC-32 of one block as ZIP and gzip store it.
inline uint32_t Crc32(const void* data, size_t size) {
    return ~Crc32Update(0xFFFFFFFFu, data, size);
}

}  // namespace tessera
