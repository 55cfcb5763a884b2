// Cabinet file format 1.3: record sizes, flags, the compression type word and
// the CFDATA checksum, shared by the reader and the builder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera::cab {

constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kFolderSize = 8;
constexpr uint32_t kFileSize = 16;
constexpr uint32_t kDataHeaderSize = 8;
constexpr uint8_t kVersionMinor = 3;
constexpr uint8_t kVersionMajor = 1;

constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;

constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

constexpr uint32_t kMaxNameLength = 255;     // names in headers and file records
constexpr uint32_t kBlockSize = 32768;       // uncompressed bytes of a CFDATA block
constexpr uint32_t kMaxBlockGrowth = 6144;   // the largest growth of any method
constexpr uint32_t kMaxCompressedBlock = kBlockSize + kMaxBlockGrowth;

// Compression type word: method in bits 0-3, Quantum level 4-7, window 8-12.
enum Method : int { kMethodNone = 0, kMethodMszip = 1, kMethodQuantum = 2, kMethodLzx = 3, kMethodUnset = 15 };
constexpr int MethodOf(uint16_t type) { return type & 0x000F; }
constexpr int WindowBitsOf(uint16_t type) { return (type >> 8) & 0x1F; }

constexpr uint16_t kTypeNone = 0x0000;
constexpr uint16_t kTypeMszip = 0x0001;
constexpr uint16_t MakeLzxType(int windowBits) { return static_cast<uint16_t>(windowBits << 8 | kMethodLzx); }

// The CFDATA checksum: XOR of the little-endian 32-bit words of `data`, a
// 1-3 byte tail folded in with its first byte highest. Chained: the result
// over the data seeds the pass over the block header.
uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed);

// The csum field of a block: data, then cbData, cbUncomp and the reserve.
uint32_t BlockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp, const uint8_t* reserve,
                       uint8_t reserveSize);

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p) {
    return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

}  // namespace tessera::cab
