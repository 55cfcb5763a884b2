// RAR 1.5 decoding loop.
//
// Each step reads a flag bit or two from the current flag byte and decodes a
// literal, a short match or a long match; after a run of literals the stream
// may switch to a literal-only mode with its own escape for short matches.
// The fixed code tables below are part of the method's definition: a
// code table is a list of 16-bit limits (one per code length, starting at
// `firstBits`) and, per length, the symbol number of its first code.
//
// Bounds: every table index is masked to 0..255 (a hostile stream can make
// the code tables yield 256), every window access is masked to the 64 KiB
// window, at most 32 KiB + one match (< 300 bytes) is pending in the window
// before it is flushed, and decoding ends at the declared size or once the
// packed data is used up by more than a few padding bytes.
#include "codecs/rar15/rar15_decoder.h"

#include <cstring>

#include "codecs/msb_bit_reader.h"

namespace tessera {
namespace {

struct CodeTable {
    unsigned firstBits;
    uint32_t limits[12];  // ends with 0xffff, above any masked 16-bit peek
    uint32_t firstSymbol[13];
};

// Match lengths.
const CodeTable kLength1 = {2,
                            {0x8000, 0xa000, 0xc000, 0xd000, 0xe000, 0xea00, 0xee00, 0xf000,
                             0xf200, 0xf200, 0xffff},
                            {0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32}};
const CodeTable kLength2 = {3,
                            {0xa000, 0xc000, 0xd000, 0xe000, 0xea00, 0xee00, 0xf000, 0xf200,
                             0xf240, 0xffff},
                            {0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36}};
// Places in the adaptive orders, from flat to steep.
const CodeTable kPlace0 = {4,
                           {0x8000, 0xc000, 0xe000, 0xf200, 0xf200, 0xf200, 0xf200, 0xf200,
                            0xffff},
                           {0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33}};
const CodeTable kPlace1 = {5,
                           {0x2000, 0xc000, 0xe000, 0xf000, 0xf200, 0xf200, 0xf7e0, 0xffff},
                           {0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127}};
const CodeTable kPlace2 = {5,
                           {0x1000, 0x2400, 0x8000, 0xc000, 0xfa00, 0xffff},
                           {0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0}};
const CodeTable kPlace3 = {6,
                           {0x0800, 0x2400, 0xee00, 0xfe80, 0xffff},
                           {0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0}};
const CodeTable kPlace4 = {8, {0xff00, 0xffff}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0}};

// Short-match codes: an 8-bit pattern and how many of its leading bits count.
// Code 1 (first table) or 3 (second table) is 3 or 4 bits long depending on
// a toggle the stream can flip.
struct ShortCodes {
    uint8_t pattern[15];
    uint8_t bits[15];
    unsigned toggled;
};
const ShortCodes kShort1 = {{0x00, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xfe, 0xff, 0xc0, 0x80,
                             0x90, 0x98, 0x9c, 0xb0},
                            {1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4},
                            1};
const ShortCodes kShort2 = {{0x00, 0x40, 0x60, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xc0, 0x80,
                             0x90, 0x98, 0x9c, 0xb0},
                            {2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4},
                            3};

constexpr uint32_t kWindowMask = Rar15Decoder::kWindowSize - 1;
constexpr uint32_t kFlushThreshold = 0x8000;

}  // namespace

Rar15Decoder::Rar15Decoder() : window_(kWindowSize) { ResetAll(); }

// Gives every entry of an order the rank group of its position (eight groups
// of 32) and points each group's next free place at its first position.
void Rar15Decoder::Renumber(uint16_t* order, uint8_t* rankStart) {
    for (unsigned i = 0; i < 256; ++i)
        order[i] = static_cast<uint16_t>((order[i] & 0xff00u) | (7u - i / 32));
    std::memset(rankStart, 0, 256);
    for (unsigned rank = 0; rank < 7; ++rank) rankStart[rank] = static_cast<uint8_t>((7 - rank) * 32);
}

void Rar15Decoder::ResetAll() {
    std::memset(window_.data(), 0, window_.size());
    pos_ = 0;
    for (unsigned i = 0; i < 256; ++i) {
        literalOrder_[i] = static_cast<uint16_t>(i << 8);
        distanceB_[i] = static_cast<uint16_t>(i << 8);
        distanceA_[i] = static_cast<uint16_t>(i);
        flagOrder_[i] = static_cast<uint16_t>(((256 - i) & 0xff) << 8);
    }
    std::memset(literalRank_, 0, sizeof literalRank_);
    std::memset(distanceRankB_, 0, sizeof distanceRankB_);
    std::memset(flagRank_, 0, sizeof flagRank_);
    Renumber(distanceB_, distanceRankB_);
    avgLiteralPlace_ = 0x3500;
    avgPlaceB_ = avgShortLen_ = avgLongLen_ = avgLongLen3_ = 0;
    literalRun_ = altShortTable_ = 0;
    maxDistance3_ = 0x2001;
    literalWeight_ = matchWeight_ = 0x80;
    std::memset(oldDist_, 0, sizeof oldDist_);
    oldDistPos_ = lastDist_ = lastLength_ = 0;
}

struct Rar15Decoder::Run {
    Rar15Decoder& d;
    MsbBitReader in;
    ByteSink* sink;
    uint64_t size;
    uint64_t produced = 0;  // bytes put into the window (may pass `size`)
    uint64_t emitted = 0;   // bytes handed to the sink
    uint32_t pending = 0;   // window bytes not yet flushed
    uint32_t flagBits = 0;  // current flag byte, next flag in bit 7
    int flagsLeft = 0;
    bool literalMode = false;  // the literal-only mode
    unsigned repeatCount = 0;  // consecutive "repeat last match" codes

    Run(Rar15Decoder& decoder, ByteSource& source, ByteSink* out, uint64_t unpacked)
        : d(decoder), in(source), sink(out), size(unpacked) {}

    uint32_t DecodeNum(const CodeTable& table) {
        uint32_t value = in.Peek16() & 0xfff0;
        unsigned i = 0;
        unsigned bits = table.firstBits;
        while (table.limits[i] <= value) {
            ++i;
            ++bits;
        }
        in.Skip(bits);
        uint32_t base = i ? table.limits[i - 1] : 0;
        return ((value - base) >> (16 - bits)) + table.firstSymbol[bits];
    }

    void PutByte(uint8_t byte) {
        d.window_[d.pos_] = byte;
        d.pos_ = (d.pos_ + 1) & kWindowMask;
        ++produced;
        ++pending;
    }

    void Copy(uint32_t distance, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i) {
            d.window_[d.pos_] = d.window_[(d.pos_ - distance) & kWindowMask];
            d.pos_ = (d.pos_ + 1) & kWindowMask;
        }
        produced += length;
        pending += length;
    }

    void RememberMatch(uint32_t distance, uint32_t length) {
        d.oldDist_[d.oldDistPos_] = distance;
        d.oldDistPos_ = (d.oldDistPos_ + 1) & 3;
        d.lastLength_ = length;
        d.lastDist_ = distance;
    }

    // Writes the pending window bytes, cut at the declared size; bytes a
    // last match put beyond that size stay in the window only.
    bool Flush() {
        uint32_t start = (d.pos_ - pending) & kWindowMask;
        uint32_t count = pending;
        pending = 0;
        if (count > size - emitted) count = static_cast<uint32_t>(size - emitted);
        if (count == 0) return true;
        emitted += count;
        if (!sink) return true;
        uint32_t first = kWindowSize - start;
        if (first >= count) return sink->Write(&d.window_[start], count);
        return sink->Write(&d.window_[start], first) &&
               sink->Write(d.window_.data(), count - first);
    }

    void NextFlags() {
        uint32_t place = DecodeNum(kPlace2) & 0xff;
        uint32_t entry;
        uint32_t target;
        for (;;) {
            entry = d.flagOrder_[place];
            flagBits = entry >> 8;
            target = d.flagRank_[entry & 0xff]++;
            ++entry;
            if (entry & 0xff) break;
            Renumber(d.flagOrder_, d.flagRank_);
        }
        d.flagOrder_[place] = d.flagOrder_[target];
        d.flagOrder_[target] = static_cast<uint16_t>(entry);
    }

    bool NextFlag() {
        if (--flagsLeft < 0) {
            NextFlags();
            flagsLeft = 7;
        }
        bool set = (flagBits & 0x80) != 0;
        flagBits = (flagBits << 1) & 0xff;
        return set;
    }

    void Literal() {
        uint32_t peek = in.Peek16();
        uint32_t place;
        if (d.avgLiteralPlace_ > 0x75ff)
            place = DecodeNum(kPlace4);
        else if (d.avgLiteralPlace_ > 0x5dff)
            place = DecodeNum(kPlace3);
        else if (d.avgLiteralPlace_ > 0x35ff)
            place = DecodeNum(kPlace2);
        else if (d.avgLiteralPlace_ > 0x0dff)
            place = DecodeNum(kPlace1);
        else
            place = DecodeNum(kPlace0);
        place &= 0xff;
        if (literalMode) {
            // Place 0 (or 256) escapes: leave the mode, or a short match.
            if (place == 0 && peek > 0xfff) place = 0x100;
            if (place == 0) {
                uint32_t bits = in.Peek16();
                in.Skip(1);
                if (bits & 0x8000) {
                    d.literalRun_ = 0;
                    literalMode = false;
                    return;
                }
                uint32_t length = (bits & 0x4000) ? 4 : 3;
                in.Skip(1);
                uint32_t distance = DecodeNum(kPlace2);
                distance = (distance << 5) | (in.Peek16() >> 11);
                in.Skip(5);
                Copy(distance, length);
                return;
            }
            --place;
        } else if (d.literalRun_++ >= 16 && flagsLeft == 0) {
            literalMode = true;
        }
        d.avgLiteralPlace_ += place;
        d.avgLiteralPlace_ -= d.avgLiteralPlace_ >> 8;
        d.literalWeight_ += 16;
        if (d.literalWeight_ > 0xff) {
            d.literalWeight_ = 0x90;
            d.matchWeight_ >>= 1;
        }
        PutByte(static_cast<uint8_t>(d.literalOrder_[place] >> 8));

        uint32_t entry;
        uint32_t target;
        for (;;) {
            entry = d.literalOrder_[place];
            target = d.literalRank_[entry & 0xff]++;
            ++entry;
            if ((entry & 0xff) <= 0xa1) break;
            Renumber(d.literalOrder_, d.literalRank_);
        }
        d.literalOrder_[place] = d.literalOrder_[target];
        d.literalOrder_[target] = static_cast<uint16_t>(entry);
    }

    void ShortMatch() {
        d.literalRun_ = 0;
        uint32_t peek = in.Peek16();
        if (repeatCount == 2) {
            in.Skip(1);
            if (peek >= 0x8000) {
                Copy(d.lastDist_, d.lastLength_);
                return;
            }
            peek = (peek << 1) & 0xffff;
            repeatCount = 0;
        }
        uint32_t byte = peek >> 8;
        const ShortCodes& codes = d.avgShortLen_ < 37 ? kShort1 : kShort2;
        unsigned code = 0;
        unsigned bits = 0;
        for (; code < 15; ++code) {
            bits = code == codes.toggled ? d.altShortTable_ + 3 : codes.bits[code];
            uint32_t mask = ~(0xffu >> bits) & 0xff;
            if (((byte ^ codes.pattern[code]) & mask) == 0) break;
        }
        // Both tables are complete, so a code always matches.
        if (code == 15) code = 14;
        in.Skip(bits);

        if (code >= 9) {
            if (code == 9) {
                ++repeatCount;
                Copy(d.lastDist_, d.lastLength_);
                return;
            }
            if (code == 14) {
                repeatCount = 0;
                uint32_t length = DecodeNum(kLength2) + 5;
                uint32_t distance = (in.Peek16() >> 1) | 0x8000;
                in.Skip(15);
                d.lastLength_ = length;
                d.lastDist_ = distance;
                Copy(distance, length);
                return;
            }
            repeatCount = 0;
            uint32_t distance = d.oldDist_[(d.oldDistPos_ - (code - 9)) & 3];
            uint32_t length = DecodeNum(kLength1) + 2;
            if (length == 0x101 && code == 10) {
                d.altShortTable_ ^= 1;
                return;
            }
            if (distance > 256) ++length;
            if (distance >= d.maxDistance3_) ++length;
            RememberMatch(distance, length);
            Copy(distance, length);
            return;
        }

        repeatCount = 0;
        d.avgShortLen_ += code;
        d.avgShortLen_ -= d.avgShortLen_ >> 4;
        uint32_t place = DecodeNum(kPlace2) & 0xff;
        uint32_t distance = d.distanceA_[place];
        if (place > 0) {  // move one place towards the front
            d.distanceA_[place] = d.distanceA_[place - 1];
            d.distanceA_[place - 1] = static_cast<uint16_t>(distance);
        }
        uint32_t length = code + 2;
        ++distance;
        RememberMatch(distance, length);
        Copy(distance, length);
    }

    void LongMatch() {
        d.literalRun_ = 0;
        d.matchWeight_ += 16;
        if (d.matchWeight_ > 0xff) {
            d.matchWeight_ = 0x90;
            d.literalWeight_ >>= 1;
        }
        uint32_t oldAvgLen = d.avgLongLen_;

        uint32_t peek = in.Peek16();
        uint32_t length;
        if (d.avgLongLen_ >= 122) {
            length = DecodeNum(kLength2);
        } else if (d.avgLongLen_ >= 64) {
            length = DecodeNum(kLength1);
        } else if (peek < 0x100) {
            length = peek;
            in.Skip(16);
        } else {
            length = 0;
            while (((peek << length) & 0x8000) == 0) ++length;
            in.Skip(length + 1);
        }
        d.avgLongLen_ += length;
        d.avgLongLen_ -= d.avgLongLen_ >> 5;

        uint32_t place;
        if (d.avgPlaceB_ > 0x28ff)
            place = DecodeNum(kPlace2);
        else if (d.avgPlaceB_ > 0x6ff)
            place = DecodeNum(kPlace1);
        else
            place = DecodeNum(kPlace0);
        d.avgPlaceB_ += place;
        d.avgPlaceB_ -= d.avgPlaceB_ >> 8;
        place &= 0xff;

        uint32_t entry;
        uint32_t target;
        for (;;) {
            entry = d.distanceB_[place];
            target = d.distanceRankB_[entry & 0xff]++;
            ++entry;
            if (entry & 0xff) break;
            Renumber(d.distanceB_, d.distanceRankB_);
        }
        d.distanceB_[place] = d.distanceB_[target];
        d.distanceB_[target] = static_cast<uint16_t>(entry);

        uint32_t distance = ((entry & 0xff00) | (in.Peek16() >> 8)) >> 1;
        in.Skip(7);

        uint32_t oldAvgLen3 = d.avgLongLen3_;
        if (length != 1 && length != 4) {
            if (length == 0 && distance <= d.maxDistance3_) {
                ++d.avgLongLen3_;
                d.avgLongLen3_ -= d.avgLongLen3_ >> 8;
            } else if (d.avgLongLen3_ > 0) {
                --d.avgLongLen3_;
            }
        }
        length += 3;
        if (distance >= d.maxDistance3_) ++length;
        if (distance <= 256) length += 8;
        if (oldAvgLen3 > 0xb0 || (d.avgLiteralPlace_ >= 0x2a00 && oldAvgLen < 0x40))
            d.maxDistance3_ = 0x7f00;
        else
            d.maxDistance3_ = 0x2001;
        RememberMatch(distance, length);
        Copy(distance, length);
    }

    CodecResult Go() {
        if (size > 0) {
            NextFlags();
            flagsLeft = 8;
        }
        while (produced < size) {
            if (in.Overrun()) {
                Flush();
                return CodecResult::kTruncated;
            }
            if (pending >= kFlushThreshold && !Flush()) return CodecResult::kAborted;
            if (literalMode) {
                Literal();
                continue;
            }
            bool matchesWin = d.matchWeight_ > d.literalWeight_;
            if (NextFlag()) {
                if (matchesWin)
                    LongMatch();
                else
                    Literal();
            } else if (NextFlag()) {
                if (matchesWin)
                    Literal();
                else
                    LongMatch();
            } else {
                ShortMatch();
            }
        }
        if (!Flush()) return CodecResult::kAborted;
        return CodecResult::kOk;
    }
};

CodecResult Rar15Decoder::Decode(ByteSource& source, ByteSink* sink, uint64_t unpackedSize,
                                 bool continueSolid) {
    if (!continueSolid) ResetAll();
    Run run(*this, source, sink, unpackedSize);
    return run.Go();
}

}  // namespace tessera
