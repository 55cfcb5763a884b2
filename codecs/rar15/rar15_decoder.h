// Decoder of the RAR 1.5 method (unpack version 15).
//
// The method is an LZ77 variant over a 64 KiB window whose literals, match
// positions and flag bytes are coded with fixed prefix-code tables while the
// symbol order behind them adapts (move-towards-front lists with per-rank
// counters). Everything it needs lives in this object, allocated once; one
// object serves all entries of an archive, which is how solid archives keep
// the window and the adaptive state from one entry to the next.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"

namespace tessera {

class Rar15Decoder {
public:
    static constexpr uint32_t kWindowSize = 0x10000;

    Rar15Decoder();

    // Decodes one entry. `source` must end where the entry's packed data ends
    // (the decoder reads a few bytes of look-ahead past the last code).
    // Exactly `unpackedSize` bytes go to `sink`; a null sink decodes without
    // output, to keep a solid archive's window in step. With
    // `continueSolid` the window and the adaptive tables of the previous
    // call are kept; otherwise everything starts afresh.
    CodecResult Decode(ByteSource& source, ByteSink* sink, uint64_t unpackedSize,
                       bool continueSolid);

private:
    struct Run;  // the per-call decoding loop

    void ResetAll();
    static void Renumber(uint16_t* order, uint8_t* rankStart);

    std::vector<uint8_t> window_;
    uint32_t pos_ = 0;  // next window position written

    // Adaptive symbol orders: high byte the symbol, low byte its rank group.
    uint16_t literalOrder_[256];  // literals
    uint16_t distanceA_[256];     // short-match distances (plain values)
    uint16_t distanceB_[256];     // long-match distance high bits
    uint16_t flagOrder_[256];     // flag bytes
    uint8_t literalRank_[256];    // next free place per rank group
    uint8_t distanceRankB_[256];
    uint8_t flagRank_[256];

    // Running averages that pick the code tables.
    uint32_t avgLiteralPlace_ = 0;
    uint32_t avgPlaceB_ = 0;
    uint32_t avgShortLen_ = 0;
    uint32_t avgLongLen_ = 0;
    uint32_t avgLongLen3_ = 0;
    uint32_t literalWeight_ = 0;  // literal vs. long-match preference
    uint32_t matchWeight_ = 0;
    uint32_t maxDistance3_ = 0;   // distance beyond which long matches grow
    uint32_t literalRun_ = 0;     // literals since the last match
    uint32_t altShortTable_ = 0;  // toggles the length of one short code

    uint32_t oldDist_[4] = {};
    uint32_t oldDistPos_ = 0;
    uint32_t lastDist_ = 0;
    uint32_t lastLength_ = 0;
};

}  // namespace tessera
