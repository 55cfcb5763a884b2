// CFDATA checksum (see cab_format.h).
#include "engine/cabinet/cab_format.h"

namespace tessera::cab {

uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t sum = seed;
    size_t words = size / 4;
    for (size_t i = 0; i < words; ++i) sum ^= Get32(data + 4 * i);
    const uint8_t* tail = data + 4 * words;
    uint32_t last = 0;
    switch (size & 3) {
    case 3: last = uint32_t{tail[0]} << 16 | uint32_t{tail[1]} << 8 | tail[2]; break;
    case 2: last = uint32_t{tail[0]} << 8 | tail[1]; break;
    case 1: last = tail[0]; break;
    default: break;
    }
    return sum ^ last;
}

uint32_t BlockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp, const uint8_t* reserve,
                       uint8_t reserveSize) {
    uint8_t header[4 + 255];
    Put16(header, cbData);
    Put16(header + 2, cbUncomp);
    for (uint8_t i = 0; i < reserveSize; ++i) header[4 + i] = reserve[i];
    return Checksum(header, 4u + reserveSize, Checksum(data, cbData, 0));
}

}  // namespace tessera::cab
