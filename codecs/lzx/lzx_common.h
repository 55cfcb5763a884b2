// Constants and tables shared by the LZX decoder and encoder of cabinet
// folders: frames of 32,768 bytes, windows of 2^15 to 2^21 bytes, the
// position-slot table and the tree sizes.
#pragma once

#include <cstdint>

namespace tessera::lzx {

constexpr int kMinWindowBits = 15;
constexpr int kMaxWindowBits = 21;
constexpr uint32_t kFrameSize = 32768;
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr int kNumChars = 256;
constexpr int kNumPrimaryLengths = 7;     // length header 7 means "see the length tree"
constexpr int kNumSecondaryLengths = 249; // symbols of the length tree
constexpr int kPretreeSymbols = 20;
constexpr int kAlignedSymbols = 8;
constexpr int kMaxPositionSlots = 50;     // window 2^21
constexpr int kMaxMainSymbols = kNumChars + kMaxPositionSlots * 8;
constexpr int kMaxCodeLength = 16;
// An encoded frame never needs more than this beyond its plain size.
constexpr uint32_t kMaxFrameGrowth = 6144;
// The E8 call translation size cabinet encoders announce.
constexpr uint32_t kE8TranslationSize = 12000000;

enum BlockType : int { kBlockVerbatim = 1, kBlockAligned = 2, kBlockUncompressed = 3 };

// Position slots per window exponent 15..21.
constexpr int PositionSlots(int windowBits) {
    return windowBits == 21 ? 50 : windowBits == 20 ? 42 : windowBits * 2;
}

// Extra bits and base of every position slot: slots 0-3 have no extra bits,
// then two slots per extra-bit count, capped at 17.
struct PositionTable {
    uint8_t extraBits[kMaxPositionSlots];
    uint32_t base[kMaxPositionSlots];
    constexpr PositionTable() : extraBits(), base() {
        uint32_t b = 0;
        for (int i = 0; i < kMaxPositionSlots; ++i) {
            int e = i < 4 ? 0 : (i - 2) / 2;
            extraBits[i] = static_cast<uint8_t>(e > 17 ? 17 : e);
            base[i] = b;
            b += 1u << extraBits[i];
        }
    }
};
constexpr PositionTable kPositions{};

}  // namespace tessera::lzx
