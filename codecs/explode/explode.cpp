// Explode (ZIP method 6), four variants in one loop.
//
// Reading past the end of the entry's data supplies zero bytes, at most
// kMaxPadding of them; needing more stops the decoder with result 5 and a
// used size above the compressed size, so a damaged or truncated entry ends
// at once instead of running on to the declared size.
#include "codecs/explode/explode.h"

#include <cstring>
#include <new>

namespace tessera {
namespace {

using namespace huffman;

constexpr size_t kInputSize = 32768;
constexpr unsigned kMaxPadding = 8;
constexpr unsigned kLiteralBits = 9, kLengthBits = 7;
constexpr size_t kLiteralSize = ArenaSize(256, kLiteralBits, 16);
constexpr size_t kLengthSize = ArenaSize(64, kLengthBits, 16);
constexpr size_t kDistanceSize = ArenaSize(64, 7, 16);  // also covers 8 first-level bits
static_assert(ArenaSize(64, 8, 16) <= kDistanceSize, "distance table space");

struct PlainTemplates {
    Entry symbol[256];
    constexpr PlainTemplates() : symbol() {
        for (uint32_t s = 0; s < 256; ++s) symbol[s] = MakeEntry(s, 0);
    }
};
constexpr PlainTemplates kPlain;

// Inside the decoder: the padding is used up. Reported as a size mismatch.
constexpr CodecResult kOutOfInput = CodecResult::kTruncated;

}  // namespace

Exploder::Exploder()
    : window_(new (std::nothrow) uint8_t[kWindowSize]),
      input_(new (std::nothrow) uint8_t[kInputSize]),
      tables_(new (std::nothrow) Entry[kLiteralSize + kLengthSize + kDistanceSize]) {}

Exploder::~Exploder() = default;

int Exploder::NextByte() {
    if (in_ == inEnd_) {
        size_t n = sourceDone_ ? 0 : source_->Read(input_.get(), kInputSize);
        if (n == 0) {
            sourceDone_ = true;
            if (fakeBytes_ >= kMaxPadding) return -1;
            ++fakeBytes_;
            return 0;
        }
        pulled_ += n;
        in_ = input_.get();
        inEnd_ = in_ + n;
    }
    return *in_++;
}

bool Exploder::NeedBits(unsigned n) {
    while (bitCount_ < n) {
        const int c = NextByte();
        if (c < 0) return false;
        bitBuffer_ |= static_cast<uint64_t>(c) << bitCount_;
        bitCount_ += 8;
    }
    return true;
}

// Reads a tree description and builds its table.
CodecResult Exploder::ReadTree(unsigned codes, unsigned rootBits, Entry* table, size_t capacity) {
    uint8_t lengths[256];
    if (!NeedBits(8)) return kOutOfInput;
    const unsigned bytes = Bits(8) + 1;
    Drop(8);
    unsigned n = 0;
    for (unsigned i = 0; i < bytes; ++i) {
        if (!NeedBits(8)) return kOutOfInput;
        const unsigned count = (Bits(8) >> 4) + 1;
        const uint8_t length = static_cast<uint8_t>((Bits(4)) + 1);
        Drop(8);
        if (count > codes - n) return CodecResult::kBadTree;
        std::memset(lengths + n, length, count);
        n += count;
    }
    if (n != codes) return CodecResult::kBadTree;
    unsigned used;
    return Build(lengths, codes, kPlain.symbol, rootBits, table, capacity, &used);
}

// Decodes one symbol; the codes are stored with every bit complemented.
CodecResult Exploder::Decode(const Entry* table, unsigned rootBits, unsigned* value) {
    if (!NeedBits(kMaxCodeBits)) {
        // Near the end: look up with what there is (the padding is zeros).
        if (bitCount_ == 0) return kOutOfInput;
    }
    const uint64_t inverted = ~bitBuffer_;
    Entry e = table[inverted & ((1u << rootBits) - 1)];
    unsigned consumed = 0;
    if (EntryOp(e) & kOpSubtable) {
        consumed = EntryBits(e);
        const unsigned subBits = EntryOp(e) & 15;
        e = table[EntryValue(e) + ((inverted >> consumed) & ((1u << subBits) - 1))];
    }
    if (EntryOp(e) == kOpInvalid) return CodecResult::kBadData;
    consumed += EntryBits(e);
    if (consumed > bitCount_) return kOutOfInput;
    Drop(consumed);
    *value = EntryValue(e);
    return CodecResult::kOk;
}

bool Exploder::Flush() {
    if (position_ && !sink_->Write(window_.get(), position_)) return false;
    if (position_ == kWindowSize) flushedOnce_ = true;
    position_ = 0;
    return true;
}

CodecResult Exploder::Explode(ByteSource& source, ByteSink& sink, uint16_t flags, uint64_t compressedSize,
                      uint64_t uncompressedSize) {
    usedSize_ = 0;
    if (!window_ || !input_ || !tables_) return CodecResult::kNoMemory;
    source_ = &source;
    sink_ = &sink;
    in_ = inEnd_ = input_.get();
    pulled_ = 0;
    fakeBytes_ = 0;
    sourceDone_ = false;
    bitBuffer_ = 0;
    bitCount_ = 0;
    position_ = 0;
    flushedOnce_ = false;

    const bool literalTree = (flags & 4) != 0;
    const unsigned lowDistanceBits = (flags & 2) ? 7 : 6;
    const unsigned minMatch = literalTree ? 3 : 2;
    const unsigned distanceBits = compressedSize > 200000 ? 8 : 7;
    Entry* literals = tables_.get();
    Entry* lengths = literals + kLiteralSize;
    Entry* distances = lengths + kLengthSize;

    CodecResult result = CodecResult::kOk;
    if (literalTree) result = ReadTree(256, kLiteralBits, literals, kLiteralSize);
    if (result == CodecResult::kOk) result = ReadTree(64, kLengthBits, lengths, kLengthSize);
    if (result == CodecResult::kOk) result = ReadTree(64, distanceBits, distances, kDistanceSize);

    uint8_t* window = window_.get();
    uint64_t left = uncompressedSize;
    while (result == CodecResult::kOk && left) {
        if (!NeedBits(1)) {
            result = kOutOfInput;
            break;
        }
        const bool literal = Bits(1);
        Drop(1);
        if (literal) {
            unsigned c;
            if (literalTree) {
                result = Decode(literals, kLiteralBits, &c);
                if (result != CodecResult::kOk) break;
            } else {
                if (!NeedBits(8)) {
                    result = kOutOfInput;
                    break;
                }
                c = Bits(8);
                Drop(8);
            }
            window[position_++] = static_cast<uint8_t>(c);
            --left;
        } else {
            if (!NeedBits(lowDistanceBits)) {
                result = kOutOfInput;
                break;
            }
            size_t distance = Bits(lowDistanceBits);
            Drop(lowDistanceBits);
            unsigned code;
            result = Decode(distances, distanceBits, &code);
            if (result != CodecResult::kOk) break;
            distance += (size_t{code} << lowDistanceBits) + 1;
            result = Decode(lengths, kLengthBits, &code);
            if (result != CodecResult::kOk) break;
            uint64_t length = code + minMatch;
            if (code == 63) {
                if (!NeedBits(8)) {
                    result = kOutOfInput;
                    break;
                }
                length += Bits(8);
                Drop(8);
            }
            if (length > left) length = left;
            left -= length;
            while (length) {
                // One piece: up to the window's end and the source's wrap.
                size_t n = kWindowSize - position_;
                if (n > length) n = static_cast<size_t>(length);
                uint8_t* dst = window + position_;
                if (!flushedOnce_ && distance > position_) {
                    // Before the first output byte: zeros.
                    if (n > distance - position_) n = distance - position_;
                    std::memset(dst, 0, n);
                } else {
                    const size_t from = (position_ + kWindowSize - distance) % kWindowSize;
                    if (n > kWindowSize - from) n = kWindowSize - from;
                    const uint8_t* src = window + from;
                    for (size_t i = 0; i < n; ++i) dst[i] = src[i];  // may overlap: byte by byte
                }
                position_ += n;
                length -= n;
                if (position_ == kWindowSize && !Flush()) return CodecResult::kAborted;
            }
            continue;
        }
        if (position_ == kWindowSize && !Flush()) return CodecResult::kAborted;
    }
    if (result == CodecResult::kOk && !Flush()) return CodecResult::kAborted;

    // Compressed bytes the data used: fetched, plus padding, minus what is
    // still buffered (whole bytes in the bit buffer included).
    const uint64_t buffered = static_cast<uint64_t>(inEnd_ - in_) + bitCount_ / 8;
    usedSize_ = pulled_ + fakeBytes_ - buffered;
    if (result == kOutOfInput) {
        usedSize_ = pulled_ + fakeBytes_ + 1;  // at least one byte more than there was
        if (usedSize_ <= compressedSize) usedSize_ = compressedSize + 1;
        return CodecResult::kSizeMismatch;
    }
    if (result != CodecResult::kOk) return result;
    if (usedSize_ != compressedSize) return CodecResult::kSizeMismatch;
    return CodecResult::kOk;
}

}  // namespace tessera
