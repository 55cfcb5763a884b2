// Inflate (RFC 1951) over a 32 KiB window that doubles as the output buffer.
//
// Design notes:
// - Bits come from a 64-bit accumulator. While at least eight input bytes are
//   buffered it is topped up with one unaligned load (the bits above the
//   count are always the true next input bits, so or-ing them in again is
//   harmless); near the end of the buffer it is filled byte by byte.
// - When the source is used up, zero bytes are appended so a table lookup can
//   look past the last code; consuming any of them is "input ended early".
// - Output goes into one linear buffer: 32 KiB of history followed by the
//   output area. When the write position passes the end of the area, the
//   new bytes go to the sink and the last 32 KiB move to the front, so every
//   match source lies contiguously before its destination and a distance is
//   valid exactly when it does not exceed the write position.
// - Bytes past the write position are not history, so match copies move
//   whole words and may write up to 15 bytes beyond the match; the buffer
//   has slack for that and for the literals decoded in one step.
// - Stored blocks larger than the buffered input are read from the source
//   straight into the output buffer.
#include "codecs/deflate/inflate.h"

#include <cstring>
#include <new>

namespace tessera {
namespace {

using namespace huffman;

constexpr size_t kHistory = Inflater::kWindowSize;
constexpr size_t kOutputArea = 224 * 1024;
constexpr size_t kBufferLimit = kHistory + kOutputArea;  // the sink gets the area when pos reaches this
constexpr size_t kBufferSlack = 4 + 258 + 16 + 10;         // literals of one step, a match, copy overshoot
constexpr size_t kDirectStored = 4096;  // stored bytes read straight into the buffer from this many on
constexpr size_t kKeep = 8;  // input bytes kept before the buffer: the accumulator's source
constexpr size_t kInputSize = 32768;

constexpr unsigned kFixedLitBits = 9, kFixedDistBits = 8, kLengthCodeBits = 7;
constexpr unsigned kDynLitBits = 10, kDynDistBits = 8;

constexpr size_t kFixedLitSize = ArenaSize(288, kFixedLitBits, 9);
constexpr size_t kFixedDistSize = ArenaSize(30, kFixedDistBits, 8);
constexpr size_t kDynLitSize = ArenaSize(288, kDynLitBits, 15);
constexpr size_t kDynDistSize = ArenaSize(32, kDynDistBits, 15);
constexpr size_t kLengthCodeSize = ArenaSize(19, kLengthCodeBits, 7);

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                    33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t kMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                                0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

// Entry templates per alphabet: what each symbol decodes to.
struct Templates {
    Entry lit[288];
    Entry dist[32];
    Entry plain[19];
    constexpr Templates() : lit(), dist(), plain() {
        for (uint32_t s = 0; s < 256; ++s) lit[s] = MakeEntry(s, kOpLiteral);
        lit[256] = MakeEntry(0, kOpEnd);
        for (uint32_t s = 257; s < 286; ++s) lit[s] = MakeEntry(kLengthBase[s - 257], kLengthExtra[s - 257]);
        lit[286] = lit[287] = MakeEntry(0, kOpInvalid);  // codes 286/287 take part in the code but are invalid
        for (uint32_t s = 0; s < 30; ++s) dist[s] = MakeEntry(kDistBase[s], kDistExtra[s]);
        dist[30] = dist[31] = MakeEntry(0, kOpInvalid);
        for (uint32_t s = 0; s < 19; ++s) plain[s] = MakeEntry(s, 0);
    }
};
constexpr Templates kTemplates;

// Folds the extra bits into the first-level entries of lengths and distances
// whose code and extra bits fit in the index: the entry then stands for one
// exact length or distance (no extra bits left) and consumes both at once.
void ResolveExtraBits(Entry* table, unsigned rootBits) {
    const uint32_t size = 1u << rootBits;
    for (uint32_t i = 0; i < size; ++i) {
        const Entry e = table[i];
        const uint32_t extra = EntryOp(e), len = EntryBits(e);
        if (extra == 0 || extra > 15 || len + extra > rootBits) continue;
        table[i] = MakeEntry(EntryValue(e) + ((i >> len) & ((1u << extra) - 1)), 0, len + extra);
    }
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline void Copy8(uint8_t* dst, const uint8_t* src) {
    uint64_t v;
    std::memcpy(&v, src, 8);
    std::memcpy(dst, &v, 8);
}

inline void Store64(uint8_t* dst, uint64_t v) { std::memcpy(dst, &v, 8); }

// Copies a match whose source lies before its destination. Writes whole
// words: up to 15 bytes past dst + length may be overwritten.
inline void CopyMatch(uint8_t* dst, size_t distance, size_t length) {
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 8) {
        do {
            Copy8(dst, src);
            Copy8(dst + 8, src + 8);
            dst += 16;
            src += 16;
        } while (dst < end);
    } else if (distance == 1) {
        const uint64_t v = 0x0101010101010101ull * src[0];
        do {
            Store64(dst, v);
            Store64(dst + 8, v);
            dst += 16;
        } while (dst < end);
    } else {
        // Each word's first `distance` bytes are right; the rest is
        // rewritten by the next word.
        do {
            Copy8(dst, src);
            dst += distance;
            src += distance;
        } while (dst < end);
    }
}

// Output into a caller's bounded buffer (block mode).
class SpanSink final : public ByteSink {
public:
    SpanSink(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (size > capacity_ - size_) return false;
        if (size) std::memcpy(out_ + size_, data, size);
        size_ += size;
        return true;
    }
    size_t Size() const { return size_; }

private:
    uint8_t* out_;
    size_t capacity_;
    size_t size_ = 0;
};

}  // namespace

Inflater::Inflater()
    : window_(new (std::nothrow) uint8_t[kBufferLimit + kBufferSlack]),
      input_(new (std::nothrow) uint8_t[kKeep + kInputSize]),
      tables_(new (std::nothrow) Entry[kFixedLitSize + kFixedDistSize + kDynLitSize + kDynDistSize +
                                       kLengthCodeSize]) {
    if (tables_) {
        fixedLit_ = tables_.get();
        fixedDist_ = fixedLit_ + kFixedLitSize;
        dynLit_ = fixedDist_ + kFixedDistSize;
        dynDist_ = dynLit_ + kDynLitSize;
        lengthCodes_ = dynDist_ + kDynDistSize;
    }
    if (window_) std::memset(window_.get(), 0, kBufferLimit + kBufferSlack);
    if (input_) std::memset(input_.get(), 0, kKeep);
}

Inflater::~Inflater() = default;

void Inflater::ResetHistory() {
    position_ = 0;
    flushStart_ = 0;
}

CodecResult Inflater::Inflate(ByteSource& source, ByteSink& sink) {
    return Run(source, sink, false);
}

CodecResult Inflater::InflateBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity,
                           size_t* outSize) {
    MemorySource source(in, inSize);
    SpanSink sink(out, outCapacity);
    const CodecResult result = Run(source, sink, true);
    *outSize = sink.Size();
    return result == CodecResult::kAborted ? CodecResult::kBadData : result;
}

CodecResult Inflater::Run(ByteSource& source, ByteSink& sink, bool keepHistory) {
    unusedData_ = nullptr;
    unusedSize_ = 0;
    if (!window_ || !input_ || !tables_) return CodecResult::kNoMemory;
    source_ = &source;
    sink_ = &sink;
    bitBuffer_ = 0;
    bitCount_ = 0;
    fakeBytes_ = 0;
    sourceDone_ = false;
    in_ = inEnd_ = input_.get() + kKeep;
    if (!keepHistory) ResetHistory();
    flushStart_ = position_;

    for (bool last = false; !last;) {
        if (!SlowRefill()) return CodecResult::kBadData;
        last = bitBuffer_ & 1;
        const unsigned type = (bitBuffer_ >> 1) & 3;
        Drop(3);
        CodecResult result;
        switch (type) {
            case 0: result = StoredBlock(); break;
            case 1: result = FixedBlock(); break;
            case 2: result = DynamicBlock(); break;
            default: return CodecResult::kBadBlock;
        }
        if (result != CodecResult::kOk) return result;
    }
    if (InputExhaustedEarly()) return CodecResult::kBadData;
    if (!FlushWindow()) return CodecResult::kAborted;

    // Whole bytes still in the accumulator were fetched but not used.
    const size_t unusedInAccumulator = (bitCount_ - 8 * fakeBytes_) / 8;
    unusedData_ = in_ - unusedInAccumulator;
    unusedSize_ = static_cast<size_t>(inEnd_ - unusedData_);
    return CodecResult::kOk;
}

bool Inflater::ReadMore() {
    if (sourceDone_) return false;
    // Keep the last bytes: the accumulator may hold them, and UnusedInput
    // must be able to hand them back.
    std::memmove(input_.get(), inEnd_ - kKeep, kKeep);
    uint8_t* start = input_.get() + kKeep;
    size_t n = source_->Read(start, kInputSize);
    in_ = start;
    inEnd_ = start + n;
    if (n == 0) sourceDone_ = true;
    return n != 0;
}

bool Inflater::SlowRefill() {
    while (bitCount_ <= 56) {
        if (in_ == inEnd_ && !ReadMore()) {
            ++fakeBytes_;  // a zero byte past the end
            bitCount_ += 8;
            continue;
        }
        bitBuffer_ |= uint64_t{*in_++} << bitCount_;
        bitCount_ += 8;
    }
    return !InputExhaustedEarly();
}

bool Inflater::FlushWindow() {
    uint8_t* win = window_.get();
    if (position_ > flushStart_ && !sink_->Write(win + flushStart_, position_ - flushStart_)) return false;
    if (position_ >= kBufferLimit) {
        std::memmove(win, win + position_ - kHistory, kHistory);
        position_ = kHistory;
    }
    flushStart_ = position_;
    return true;
}

CodecResult Inflater::StoredBlock() {
    Drop(bitCount_ % 8);
    if (!SlowRefill()) return CodecResult::kBadData;
    const uint32_t len = bitBuffer_ & 0xFFFF;
    const uint32_t nlen = (bitBuffer_ >> 16) & 0xFFFF;
    Drop(32);
    if (len != (~nlen & 0xFFFF)) return CodecResult::kBadData;

    uint8_t* win = window_.get();
    size_t left = len;
    // First the whole bytes still in the accumulator, then straight from the buffer.
    while (left && bitCount_ >= 8) {
        if (InputExhaustedEarly() || bitCount_ - 8 < 8 * fakeBytes_) return CodecResult::kBadData;
        win[position_++] = static_cast<uint8_t>(bitBuffer_);
        Drop(8);
        --left;
        if (position_ >= kBufferLimit && !FlushWindow()) return CodecResult::kAborted;
    }
    if (left) {
        // The accumulator is empty now; bits above the count mirror bytes
        // that are read directly below.
        bitBuffer_ = 0;
        bitCount_ = 0;
        if (fakeBytes_) return CodecResult::kBadData;
    }
    while (left) {
        size_t room = kBufferLimit - position_;
        if (in_ == inEnd_ && left >= kDirectStored && !sourceDone_) {
            // Nothing buffered: let the source write into the output buffer.
            const size_t n = source_->Read(win + position_, left < room ? left : room);
            if (n == 0) {
                sourceDone_ = true;
                return CodecResult::kBadData;
            }
            position_ += n;
            left -= n;
        } else {
            if (in_ == inEnd_ && !ReadMore()) return CodecResult::kBadData;
            size_t n = static_cast<size_t>(inEnd_ - in_);
            if (n > left) n = left;
            if (n > room) n = room;
            std::memcpy(win + position_, in_, n);
            in_ += n;
            position_ += n;
            left -= n;
        }
        if (position_ >= kBufferLimit && !FlushWindow()) return CodecResult::kAborted;
    }
    return CodecResult::kOk;
}

CodecResult Inflater::FixedBlock() {
    if (!fixedBuilt_) {
        uint8_t lengths[288];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        unsigned codes;
        if (Build(lengths, 288, kTemplates.lit, kFixedLitBits, fixedLit_, kFixedLitSize, &codes) != kComplete)
            return CodecResult::kNoMemory;
        std::memset(lengths, 5, 30);
        // 30 of 32 five-bit codes: incomplete, accepted here.
        if (Build(lengths, 30, kTemplates.dist, kFixedDistBits, fixedDist_, kFixedDistSize, &codes) > kIncomplete)
            return CodecResult::kNoMemory;
        ResolveExtraBits(fixedLit_, kFixedLitBits);
        ResolveExtraBits(fixedDist_, kFixedDistBits);
        fixedBuilt_ = true;
    }
    return DecodeCodes(fixedLit_, kFixedLitBits, fixedDist_, kFixedDistBits);
}

CodecResult Inflater::DynamicBlock() {
    if (!SlowRefill()) return CodecResult::kBadData;
    const unsigned litCount = (bitBuffer_ & 0x1F) + 257;
    const unsigned distCount = ((bitBuffer_ >> 5) & 0x1F) + 1;
    const unsigned lengthCodeCount = ((bitBuffer_ >> 10) & 0xF) + 4;
    Drop(14);
    if (litCount > 288 || distCount > 32) return CodecResult::kBadData;

    uint8_t lengths[288 + 32] = {};
    if (!SlowRefill()) return CodecResult::kBadData;  // 19 x 3 = 57 bits at most
    for (unsigned i = 0; i < lengthCodeCount; ++i) {
        lengths[kCodeLengthOrder[i]] = bitBuffer_ & 7;
        Drop(3);
    }
    unsigned codes;
    CodecResult result = Build(lengths, 19, kTemplates.plain, kLengthCodeBits, lengthCodes_, kLengthCodeSize, &codes);
    if (result != kComplete) return result;
    if (codes == 0) return CodecResult::kBadData;

    // Literal/length and distance code lengths as one run-length coded sequence.
    std::memset(lengths, 0, 19);
    const unsigned total = litCount + distCount;
    for (unsigned n = 0; n < total;) {
        if (!SlowRefill()) return CodecResult::kBadData;
        const Entry e = lengthCodes_[bitBuffer_ & kMask[kLengthCodeBits]];
        if (EntryOp(e) == kOpInvalid) return CodecResult::kBadData;
        Drop(EntryBits(e));
        const unsigned symbol = EntryValue(e);
        if (symbol < 16) {
            lengths[n++] = static_cast<uint8_t>(symbol);
            continue;
        }
        unsigned repeat;
        uint8_t value = 0;
        if (symbol == 16) {
            if (n == 0) return CodecResult::kBadData;  // nothing to repeat
            value = lengths[n - 1];
            repeat = 3 + (bitBuffer_ & 3);
            Drop(2);
        } else if (symbol == 17) {
            repeat = 3 + (bitBuffer_ & 7);
            Drop(3);
        } else {
            repeat = 11 + (bitBuffer_ & 0x7F);
            Drop(7);
        }
        if (repeat > total - n) return CodecResult::kBadData;
        std::memset(lengths + n, value, repeat);
        n += repeat;
    }
    if (InputExhaustedEarly()) return CodecResult::kBadData;

    // An incomplete literal/length set comes back as invalid data and is refused with it.
    result = Build(lengths, litCount, kTemplates.lit, kDynLitBits, dynLit_, kDynLitSize, &codes);
    if (result != kComplete) return result;
    if (codes == 0) return CodecResult::kBadData;
    // An incomplete distance set is accepted (a single distance code is common).
    result = Build(lengths + litCount, distCount, kTemplates.dist, kDynDistBits, dynDist_, kDynDistSize, &codes);
    if (result != kComplete && result != kIncomplete) return result;
    if (codes == 0 && litCount > 257) return CodecResult::kBadData;
    ResolveExtraBits(dynLit_, kDynLitBits);
    ResolveExtraBits(dynDist_, kDynDistBits);
    return DecodeCodes(dynLit_, kDynLitBits, dynDist_, kDynDistBits);
}

CodecResult Inflater::DecodeCodes(const Entry* lit, unsigned litBits, const Entry* dist, unsigned distBits) {
    uint8_t* const win = window_.get();
    const uint32_t litMask = kMask[litBits];
    const uint32_t distMask = kMask[distBits];
    // The hot state lives in locals; it is written back around the rare calls.
    uint64_t bits = bitBuffer_;
    unsigned count = bitCount_;
    const uint8_t* in = in_;
    const uint8_t* inEnd = inEnd_;
    size_t pos = position_;
    auto save = [&] {
        bitBuffer_ = bits;
        bitCount_ = count;
        in_ = in;
        position_ = pos;
    };
    auto load = [&] {
        bits = bitBuffer_;
        count = bitCount_;
        in = in_;
        inEnd = inEnd_;
        pos = position_;
    };

    // After every refill at least 56 bits are buffered: enough for up to
    // three first-level literals, or a literal/length code with its extra
    // bits and a distance code with its extra bits (15 + 5 + 15 + 13 = 48).
    // The refill only adds bits above the count, so an entry looked up
    // before it stays valid.
    auto refill = [&]() -> bool {
        if (inEnd - in >= 8) {
            bits |= Load64(in) << count;
            in += (63 - count) >> 3;
            count |= 56;
            return true;
        }
        save();
        const bool ok = SlowRefill();
        load();
        return ok;
    };

    if (!refill()) return CodecResult::kBadData;
    Entry e = lit[bits & litMask];
    for (;;) {
        if (pos >= kBufferLimit) {
            save();
            if (!FlushWindow()) return CodecResult::kAborted;
            load();
        }
        if (e & (kOpLiteral << 8)) {
            // Runs of literals: up to three per refill (a first-level
            // literal code has at most 10 bits).
            bits >>= EntryBits(e);
            count -= EntryBits(e);
            win[pos++] = static_cast<uint8_t>(EntryValue(e));
            e = lit[bits & litMask];
            if (e & (kOpLiteral << 8)) {
                bits >>= EntryBits(e);
                count -= EntryBits(e);
                win[pos++] = static_cast<uint8_t>(EntryValue(e));
                e = lit[bits & litMask];
                if (e & (kOpLiteral << 8)) {
                    bits >>= EntryBits(e);
                    count -= EntryBits(e);
                    win[pos++] = static_cast<uint8_t>(EntryValue(e));
                    e = lit[bits & litMask];
                }
            }
            if (!refill()) return CodecResult::kBadData;
            continue;
        }
        if (e & (kOpSubtable << 8)) {
            bits >>= EntryBits(e);
            count -= EntryBits(e);
            e = lit[EntryValue(e) + (bits & ((1u << (EntryOp(e) & 15)) - 1))];
        }
        bits >>= EntryBits(e);
        count -= EntryBits(e);
        uint32_t op = EntryOp(e);
        if (op == kOpLiteral) {  // a literal with a long code
            win[pos++] = static_cast<uint8_t>(EntryValue(e));
            if (!refill()) return CodecResult::kBadData;
            e = lit[bits & litMask];
            continue;
        }
        if (op >= 16) {
            save();
            return op == kOpEnd ? CodecResult::kOk : CodecResult::kBadData;
        }
        uint32_t length = EntryValue(e);
        if (op) {  // extra bits not folded into the entry
            length += static_cast<uint32_t>(bits) & ((1u << op) - 1);
            bits >>= op;
            count -= op;
        }

        e = dist[bits & distMask];
        if (e & (kOpSubtable << 8)) {
            bits >>= EntryBits(e);
            count -= EntryBits(e);
            e = dist[EntryValue(e) + (bits & ((1u << (EntryOp(e) & 15)) - 1))];
        }
        bits >>= EntryBits(e);
        count -= EntryBits(e);
        op = EntryOp(e);
        if (op >= 16) {
            save();
            return CodecResult::kBadData;
        }
        const size_t distance = EntryValue(e) + (static_cast<uint32_t>(bits) & ((1u << op) - 1));
        bits >>= op;
        count -= op;
        if (distance > pos) {  // before the first output byte
            save();
            return CodecResult::kBadData;
        }
        // The next entry is looked up before the copy so the two overlap.
        if (!refill()) return CodecResult::kBadData;
        e = lit[bits & litMask];
        CopyMatch(win + pos, distance, length);
        pos += length;
    }
}

}  // namespace tessera
