// Deflate encoder: hash-chain matching in a 64 KiB window, block-wise
// Huffman coding.
//
// Design notes:
// - The window holds two 32 KiB halves. Matching runs until 262 bytes
//   (longest match + 3 + 1) before the end of the read data; when the
//   position reaches 65,274 the upper half moves down and every hash link is
//   lowered by 32 KiB (links that would fall below 0 become 0, "no entry").
// - Hash chains link strings by a multiplicative hash of their first four
//   bytes, so a chain step almost always finds a match of four bytes or
//   more; a second table without chains remembers the last string with the
//   same three bytes, tried when the chain gave nothing. The chain limits
//   are lower than the classic ones for that reason, at about the same
//   output size.
// - Each symbol of a block is one literal/length byte plus a 16-bit distance
//   (0 for a literal) instead of separate flag bits; the block limits are the
//   same (32,767 symbols).
// - The bit writer collects 32 bits before storing them, low byte first, into
//   a 1 KiB output buffer that goes to the sink when full. Output bytes are
//   the same as with a narrower bit buffer.
// - Trees are length-limited Huffman codes: built with a heap (ties go to the
//   shallower subtree), then, if a code came out too long, lengths are
//   re-dealt by frequency within the limit.
#include "codecs/deflate/deflate.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tessera {
namespace {

constexpr unsigned kWindowHalf = 32768;
constexpr unsigned kWindowBytes = 2 * kWindowHalf;
constexpr unsigned kWindowMask = kWindowHalf - 1;
constexpr unsigned kHashBits = 15;  // chains: strings with the same four bytes (mostly)
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kHash3Bits = 14;  // last string with the same three bytes, no chain
constexpr unsigned kHash3Size = 1u << kHash3Bits;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr unsigned kMaxDistance = kWindowHalf - kMinLookahead;  // 32,506
constexpr unsigned kTooFar = 4096;                              // largest distance of a length-3 match
constexpr unsigned kSymbolBufferSize = 32768;
constexpr unsigned kOutputSize = 1024;
constexpr unsigned kEstimateInterval = 4096;

constexpr unsigned kLiteralCodes = 286;  // 256 literals, end of block, 29 lengths
constexpr unsigned kDistanceCodes = 30;
constexpr unsigned kLengthCodeCodes = 19;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxLengthCodeBits = 7;

struct LevelParameters {
    uint16_t good, lazy, nice, chain;
};
// good: search a quarter of the chain once the previous match is this long;
// lazy: levels 4-9, no new search after a match this long; levels 0-3, the
// longest match whose strings still enter the hash table; nice: a match this
// long ends the search; chain: at most this many chain steps (0: unbounded).
constexpr LevelParameters kLevels[10] = {
    {0, 0, 0, 0},       {4, 4, 8, 4},       {4, 5, 16, 8},        {4, 6, 32, 24},       {4, 4, 16, 12},
    {8, 16, 32, 24},    {8, 16, 128, 80},   {8, 32, 128, 192},    {32, 128, 258, 512},  {32, 258, 258, 1024}};

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kLengthCodeExtra[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t kLengthCodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Lookup tables derived from the RFC's base/extra tables.
struct CodeTables {
    uint8_t lengthCode[256];    // length - 3 -> length code - 257
    uint16_t lengthBase[29];    // first length - 3 of each code
    uint8_t distanceCode[512];  // distance - 1 -> code: < 256 direct, else 256 + ((d - 1) >> 7)
    uint16_t distanceBase[30];  // first distance - 1 of each code
    constexpr CodeTables() : lengthCode(), lengthBase(), distanceCode(), distanceBase() {
        unsigned length = 0;
        for (unsigned code = 0; code < 28; ++code) {
            lengthBase[code] = static_cast<uint16_t>(length);
            for (unsigned n = 0; n < (1u << kLengthExtra[code]); ++n) lengthCode[length++] = static_cast<uint8_t>(code);
        }
        lengthCode[255] = 28;  // length 258 has its own code
        lengthBase[28] = 255;
        unsigned distance = 0;
        for (unsigned code = 0; code < 16; ++code) {
            distanceBase[code] = static_cast<uint16_t>(distance);
            for (unsigned n = 0; n < (1u << kDistanceExtra[code]); ++n) distanceCode[distance++] = static_cast<uint8_t>(code);
        }
        distance >>= 7;
        for (unsigned code = 16; code < 30; ++code) {
            distanceBase[code] = static_cast<uint16_t>(distance << 7);
            for (unsigned n = 0; n < (1u << (kDistanceExtra[code] - 7)); ++n)
                distanceCode[256 + distance++] = static_cast<uint8_t>(code);
        }
    }
};
constexpr CodeTables kCodes;

inline unsigned DistanceCode(unsigned distanceMinus1) {
    return distanceMinus1 < 256 ? kCodes.distanceCode[distanceMinus1]
                                : kCodes.distanceCode[256 + (distanceMinus1 >> 7)];
}

// Output into a caller's bounded buffer (block mode).
class SpanSink final : public ByteSink {
public:
    SpanSink(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (size > capacity_ - size_) return false;
        std::memcpy(out_ + size_, data, size);
        size_ += size;
        return true;
    }
    size_t Size() const { return size_; }

private:
    uint8_t* out_;
    size_t capacity_;
    size_t size_ = 0;
};

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Multiplicative hashes of the four and of the three bytes at p (the window
// has room for a load past the data).
inline unsigned Hash4(const uint8_t* p) {
    return (Load32(p) * 0x9E3779B1u) >> (32 - kHashBits);
}
inline unsigned Hash3(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const uint32_t bytes = Load32(p) >> 8;
#else
    const uint32_t bytes = Load32(p) & 0xFFFFFF;
#endif
    return (bytes * 0x9E3779B1u) >> (32 - kHash3Bits);
}

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Number of equal leading bytes of two little-endian words that differ.
inline unsigned EqualLowBytes(uint64_t difference) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<unsigned>(__builtin_clzll(difference)) >> 3;
#else
    return static_cast<unsigned>(__builtin_ctzll(difference)) >> 3;
#endif
}

uint16_t ReverseBits(unsigned code, unsigned bits) {
    unsigned r = 0;
    for (unsigned i = 0; i < bits; ++i, code >>= 1) r = r << 1 | (code & 1);
    return static_cast<uint16_t>(r);
}

// Canonical codes (bit-reversed, ready to send) from code lengths.
void AssignCodes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
    unsigned lengthCount[kMaxBits + 1] = {};
    for (unsigned i = 0; i < count; ++i) ++lengthCount[lengths[i]];
    lengthCount[0] = 0;
    unsigned next[kMaxBits + 2] = {};
    for (unsigned len = 1, code = 0; len <= kMaxBits; ++len) {
        code = (code + lengthCount[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned i = 0; i < count; ++i)
        codes[i] = lengths[i] ? ReverseBits(next[lengths[i]]++, lengths[i]) : 0;
}

}  // namespace

struct Deflater::Tree {
    uint32_t freq[kLiteralCodes];
    uint8_t length[kLiteralCodes];
    uint16_t code[kLiteralCodes];
    unsigned elements = 0;
    unsigned maxCode = 0;  // highest symbol with a code
};

struct Deflater::Buffers {
    uint8_t window[kWindowBytes + 8];  // + room for the 8-byte compare at the end
    uint16_t head[kHashSize];
    uint16_t head3[kHash3Size];
    uint16_t prev[kWindowHalf];
    uint8_t literal[kSymbolBufferSize];  // literal byte or match length - 3
    uint16_t distance[kSymbolBufferSize];  // 0 for a literal
    uint8_t out[kOutputSize + 8];
    Tree lit, dist, lengthCodes;
    uint8_t staticLitLength[288];
    uint16_t staticLitCode[288];
    uint16_t staticDistCode[kDistanceCodes];
};

int DeflateLevelFromIndex(int index) {
    static const int kByIndex[5] = {9, 8, 6, 3, 0};
    if (index < 0) index = 1;
    if (index > 4) index = 4;
    return kByIndex[index];
}

uint16_t DeflateOptionFlags(int level) {
    if (level <= 2) return 4;
    if (level >= 8) return 2;
    return 0;
}

Deflater::Deflater() : b_(new (std::nothrow) Buffers) {
    if (!b_) return;
    std::memset(b_->window, 0, sizeof(b_->window));
    b_->lit.elements = kLiteralCodes;
    b_->dist.elements = kDistanceCodes;
    b_->lengthCodes.elements = kLengthCodeCodes;
    uint8_t* lengths = b_->staticLitLength;
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    AssignCodes(lengths, 288, b_->staticLitCode);
    uint8_t distLengths[kDistanceCodes];
    std::memset(distLengths, 5, sizeof(distLengths));
    AssignCodes(distLengths, kDistanceCodes, b_->staticDistCode);
}

Deflater::~Deflater() = default;

CodecResult Deflater::Compress(ByteSource& input, ByteSink& output, DeflateFile& file) {
    if (!b_) return CodecResult::kNoMemory;
    historyValid_ = false;
    input_ = &input;
    output_ = &output;
    file_ = &file;
    file.method = 8;
    file.compressedSize = 0;
    file.uncompressedSize = 0;
    file.flags = static_cast<uint16_t>((file.flags & ~6u) | DeflateOptionFlags(file.level));
    StartFile(file.level);
    return RunMatcher();
}

void Deflater::ResetBlockHistory() {
    historyValid_ = false;
}

CodecResult Deflater::CompressBlock(const uint8_t* in, size_t size, uint8_t* out, size_t capacity, size_t* outSize,
                            int level) {
    *outSize = 0;
    if (!b_) return CodecResult::kNoMemory;
    MemorySource source(in, size);
    SpanSink sink(out, capacity);
    DeflateFile file;
    file.level = level;
    file.outputSeekable = false;
    file.internalAttributes = 0;  // no classification
    input_ = &source;
    output_ = &sink;
    file_ = &file;
    if (!historyValid_) {
        StartFile(level);
    } else {
        // Continue behind the previous block: window and hash chains stay.
        blockStart_ = static_cast<long>(strStart_);
        matchLength_ = prevLength_ = kMinMatch - 1;
        inputDone_ = false;
        symbols_ = matches_ = 0;
        bitBuffer_ = 0;
        bitCount_ = 0;
        outPos_ = 0;
        written_ = 0;
        aborted_ = false;
        FillWindow();
    }
    const CodecResult result = RunMatcher();
    *outSize = sink.Size();
    historyValid_ = result == CodecResult::kOk;
    return result;
}

CodecResult Deflater::RunMatcher() {
    if (level_ <= 3)
        CompressFast();
    else
        CompressLazy();
    if (!aborted_) {
        AlignToByte();
        FlushOutput();
    }
    file_->compressedSize = written_;
    return aborted_ ? CodecResult::kAborted : CodecResult::kOk;
}

void Deflater::StartFile(int level) {
    level_ = level < 0 ? 0 : level > 9 ? 9 : static_cast<unsigned>(level);
    goodLength_ = kLevels[level_].good;
    lazyLength_ = kLevels[level_].lazy;
    niceLength_ = kLevels[level_].nice;
    maxChain_ = kLevels[level_].chain;
    std::memset(b_->head, 0, sizeof(b_->head));
    std::memset(b_->head3, 0, sizeof(b_->head3));
    std::memset(b_->lit.freq, 0, sizeof(b_->lit.freq));
    std::memset(b_->dist.freq, 0, sizeof(b_->dist.freq));
    strStart_ = 0;
    lookahead_ = 0;
    blockStart_ = 0;
    matchStart_ = 0;
    matchLength_ = prevLength_ = kMinMatch - 1;
    inputDone_ = false;
    symbols_ = matches_ = 0;
    firstBlock_ = true;
    bitBuffer_ = 0;
    bitCount_ = 0;
    outPos_ = 0;
    written_ = 0;
    aborted_ = false;
    FillWindow();
}

void Deflater::FillWindow() {
    uint8_t* window = b_->window;
    do {
        unsigned more = kWindowBytes - lookahead_ - strStart_;
        if (strStart_ >= kWindowHalf + kMaxDistance) {
            // Slide: the upper half becomes the lower one.
            std::memcpy(window, window + kWindowHalf, kWindowHalf);
            matchStart_ -= kWindowHalf;
            strStart_ -= kWindowHalf;
            blockStart_ -= static_cast<long>(kWindowHalf);
            for (unsigned i = 0; i < kHashSize; ++i)
                b_->head[i] = static_cast<uint16_t>(b_->head[i] >= kWindowHalf ? b_->head[i] - kWindowHalf : 0);
            for (unsigned i = 0; i < kHash3Size; ++i)
                b_->head3[i] = static_cast<uint16_t>(b_->head3[i] >= kWindowHalf ? b_->head3[i] - kWindowHalf : 0);
            for (unsigned i = 0; i < kWindowHalf; ++i)
                b_->prev[i] = static_cast<uint16_t>(b_->prev[i] >= kWindowHalf ? b_->prev[i] - kWindowHalf : 0);
            more += kWindowHalf;
        }
        if (inputDone_ || more == 0) break;
        uint8_t* to = window + strStart_ + lookahead_;
        size_t got = input_->Read(to, more);
        if (got == 0) {
            inputDone_ = true;
            break;
        }
        lookahead_ += static_cast<unsigned>(got);
        file_->uncompressedSize += got;
    } while (lookahead_ < kMinLookahead);
    // Hashes and match lengths read a few words past the end of the input;
    // what lies there must not be left from an earlier file, or the output
    // would depend on what the encoder did before.
    if (inputDone_) {
        const unsigned end = strStart_ + lookahead_;
        const unsigned room = kWindowBytes + 8 - end;
        std::memset(window + end, 0, room < kMaxMatch + 8 ? room : kMaxMatch + 8);
    }
}

inline unsigned Deflater::InsertString(unsigned position) {
    const uint8_t* p = b_->window + position;
    const unsigned hash = Hash4(p);
    const unsigned head = b_->head[hash];
    b_->prev[position & kWindowMask] = static_cast<uint16_t>(head);
    b_->head[hash] = static_cast<uint16_t>(position);
    uint16_t& head3 = b_->head3[Hash3(p)];
    near3_ = head3;
    head3 = static_cast<uint16_t>(position);
    return head;
}

// Whether the chain head or the three-byte table offer a string in reach.
inline bool Deflater::HasCandidate(unsigned chainHead) const {
    const unsigned limit = strStart_ > kMaxDistance ? strStart_ - kMaxDistance : 0;
    return chainHead > limit || near3_ > limit;
}

unsigned Deflater::LongestMatch(unsigned chainHead) {
    const uint8_t* window = b_->window;
    const uint16_t* prev = b_->prev;
    const uint8_t* scan = window + strStart_;
    unsigned chain = maxChain_;  // 0 wraps: only the distance limit ends the walk
    if (prevLength_ >= goodLength_) chain >>= 2;
    unsigned best = prevLength_;
    unsigned nice = niceLength_ > lookahead_ ? lookahead_ : niceLength_;
    const unsigned limit = strStart_ > kMaxDistance ? strStart_ - kMaxDistance : 0;
    const uint16_t scanStart = Load16(scan);
    // Length of the match at `current`, whose first two bytes are equal.
    auto matchLength = [&](unsigned current) {
        const uint8_t* match = window + current;
        unsigned len = 2;
        for (;;) {
            const uint64_t diff = Load64(scan + len) ^ Load64(match + len);
            if (diff) return len + EqualLowBytes(diff);
            len += 8;
            if (len >= kMaxMatch) return kMaxMatch;
        }
    };
    if (chainHead > limit) {
        uint16_t scanEnd = Load16(scan + best - 1);
        unsigned current = chainHead;
        do {
            const uint8_t* match = window + current;
            // Cheap rejections first: the bytes that would extend the best match,
            // then the first two.
            if (Load16(match + best - 1) != scanEnd || Load16(match) != scanStart) continue;
            unsigned len = matchLength(current);
            if (len > kMaxMatch) len = kMaxMatch;
            if (len > best) {
                matchStart_ = current;
                best = len;
                if (len >= nice) break;
                scanEnd = Load16(scan + best - 1);
            }
        } while ((current = prev[current & kWindowMask]) > limit && --chain != 0);
    }
    if (best < kMinMatch && near3_ > limit) {
        // The chains group four bytes; a three-byte match has its own table.
        const uint8_t* match = window + near3_;
        if (Load16(match) == scanStart && match[2] == scan[2]) {
            unsigned len = matchLength(near3_);
            if (len > kMaxMatch) len = kMaxMatch;
            matchStart_ = near3_;
            best = len;
        }
    }
    return best <= lookahead_ ? best : lookahead_;
}

inline bool Deflater::TallyLiteral(uint8_t c) {
    b_->literal[symbols_] = c;
    b_->distance[symbols_] = 0;
    ++symbols_;
    ++b_->lit.freq[c];
    return symbols_ == kSymbolBufferSize - 1 || (level_ > 2 && symbols_ % kEstimateInterval == 0 && EarlyCut());
}

bool Deflater::TallyMatch(unsigned distance, unsigned length) {
    b_->literal[symbols_] = static_cast<uint8_t>(length - kMinMatch);
    b_->distance[symbols_] = static_cast<uint16_t>(distance);
    ++symbols_;
    ++matches_;
    ++b_->lit.freq[kCodes.lengthCode[length - kMinMatch] + 257];
    ++b_->dist.freq[DistanceCode(distance - 1)];
    return symbols_ == kSymbolBufferSize - 1 || (level_ > 2 && symbols_ % kEstimateInterval == 0 && EarlyCut());
}

bool Deflater::EarlyCut() const {
    // Cut the block early when it already compresses well: fewer than half
    // of the symbols are matches and the estimate is below half the input.
    uint64_t bits = uint64_t{symbols_} * 8;
    for (unsigned code = 0; code < kDistanceCodes; ++code)
        bits += uint64_t{b_->dist.freq[code]} * (5 + kDistanceExtra[code]);
    const uint64_t inputBytes = static_cast<uint64_t>(static_cast<long>(strStart_) - blockStart_);
    return matches_ < symbols_ / 2 && bits / 8 < inputBytes / 2;
}

void Deflater::CompressFast() {
    uint8_t* window = b_->window;
    unsigned matchLength = 0;
    for (;;) {
        if (lookahead_ < kMinLookahead) {
            FillWindow();
            if (lookahead_ == 0) break;
        }
        unsigned head = 0;
        if (lookahead_ >= kMinMatch) head = InsertString(strStart_);
        if (lookahead_ >= kMinMatch && HasCandidate(head)) matchLength = LongestMatch(head);
        bool flush;
        if (matchLength >= kMinMatch) {
            flush = TallyMatch(strStart_ - matchStart_, matchLength);
            lookahead_ -= matchLength;
            if (matchLength <= lazyLength_ && lookahead_ >= kMinMatch) {
                --matchLength;
                do InsertString(++strStart_);
                while (--matchLength != 0);
                ++strStart_;
            } else {
                // Too long to insert every string: restart the hash after it.
                strStart_ += matchLength;
                matchLength = 0;
            }
        } else {
            flush = TallyLiteral(window[strStart_]);
            --lookahead_;
            ++strStart_;
        }
        if (flush) {
            FlushBlock(false);
            blockStart_ = strStart_;
            if (aborted_) return;
        }
    }
    FlushBlock(true);
}

void Deflater::CompressLazy() {
    uint8_t* window = b_->window;
    bool matchAvailable = false;
    for (;;) {
        if (lookahead_ < kMinLookahead) {
            FillWindow();
            if (lookahead_ == 0) break;
        }
        unsigned head = 0;
        if (lookahead_ >= kMinMatch) head = InsertString(strStart_);
        prevLength_ = matchLength_;
        const unsigned prevMatch = matchStart_;
        matchLength_ = kMinMatch - 1;
        if (lookahead_ >= kMinMatch && prevLength_ < lazyLength_ && HasCandidate(head)) {
            matchLength_ = LongestMatch(head);
            if (matchLength_ == kMinMatch && strStart_ - matchStart_ > kTooFar) matchLength_ = kMinMatch - 1;
        }
        if (prevLength_ >= kMinMatch && matchLength_ <= prevLength_) {
            // The match found one step back is at least as good: emit it.
            const unsigned maxInsert = strStart_ + lookahead_ - kMinMatch;
            const bool flush = TallyMatch(strStart_ - 1 - prevMatch, prevLength_);
            lookahead_ -= prevLength_ - 1;
            prevLength_ -= 2;
            do {
                if (++strStart_ <= maxInsert) InsertString(strStart_);
            } while (--prevLength_ != 0);
            matchAvailable = false;
            matchLength_ = kMinMatch - 1;
            ++strStart_;
            if (flush) {
                FlushBlock(false);
                blockStart_ = strStart_;
                if (aborted_) return;
            }
        } else if (matchAvailable) {
            if (TallyLiteral(window[strStart_ - 1])) {
                FlushBlock(false);
                blockStart_ = strStart_;
                if (aborted_) return;
            }
            ++strStart_;
            --lookahead_;
        } else {
            matchAvailable = true;
            ++strStart_;
            --lookahead_;
        }
    }
    if (matchAvailable) TallyLiteral(window[strStart_ - 1]);
    FlushBlock(true);
}

void Deflater::BuildTree(Tree& tree, unsigned maxBits) {
    constexpr unsigned kNodes = 2 * kLiteralCodes + 1;
    const unsigned n = tree.elements;
    uint32_t freq[kNodes];
    uint8_t depth[kNodes];
    uint16_t parent[kNodes];
    uint16_t heap[kNodes + 1];
    uint16_t leaves[kLiteralCodes];
    unsigned heapLen = 0, leafCount = 0;
    int maxCode = -1;
    for (unsigned i = 0; i < n; ++i) {
        tree.length[i] = 0;
        freq[i] = tree.freq[i];
        depth[i] = 0;
        if (freq[i]) {
            heap[++heapLen] = static_cast<uint16_t>(i);
            maxCode = static_cast<int>(i);
        }
    }
    // At least two codes, so that every code set is complete (some decoders
    // refuse a lone code).
    while (heapLen < 2) {
        const unsigned node = maxCode < 2 ? static_cast<unsigned>(++maxCode) : 0;
        freq[node] = 1;
        heap[++heapLen] = static_cast<uint16_t>(node);
    }
    tree.maxCode = static_cast<unsigned>(maxCode);
    for (unsigned i = 1; i <= heapLen; ++i) leaves[leafCount++] = heap[i];

    auto smaller = [&](unsigned a, unsigned b) {
        return freq[a] < freq[b] || (freq[a] == freq[b] && depth[a] <= depth[b]);
    };
    auto siftDown = [&](unsigned k) {
        const uint16_t v = heap[k];
        for (unsigned j = k * 2; j <= heapLen; k = j, j *= 2) {
            if (j < heapLen && smaller(heap[j + 1], heap[j])) ++j;
            if (smaller(v, heap[j])) break;
            heap[k] = heap[j];
        }
        heap[k] = v;
    };
    for (unsigned k = heapLen / 2; k >= 1; --k) siftDown(k);

    unsigned next = n;
    while (heapLen >= 2) {
        const unsigned a = heap[1];
        heap[1] = heap[heapLen--];
        siftDown(1);
        const unsigned b = heap[1];
        freq[next] = freq[a] + freq[b];
        depth[next] = static_cast<uint8_t>(std::max(depth[a], depth[b]) + 1);
        parent[a] = parent[b] = static_cast<uint16_t>(next);
        heap[1] = static_cast<uint16_t>(next);
        siftDown(1);
        ++next;
    }
    // Code lengths: depth below the root; parents always come after children.
    uint8_t bits[kNodes];
    const unsigned root = next - 1;
    bits[root] = 0;
    for (unsigned i = root; i-- > n;) bits[i] = static_cast<uint8_t>(bits[parent[i]] + 1);
    unsigned lengthCount[kMaxBits + 2] = {};
    bool overflow = false;
    for (unsigned i = 0; i < leafCount; ++i) {
        const unsigned leaf = leaves[i];
        unsigned len = bits[parent[leaf]] + 1u;
        if (len > maxBits) {
            len = maxBits;
            overflow = true;
        }
        tree.length[leaf] = static_cast<uint8_t>(len);
        ++lengthCount[len];
    }
    if (overflow) {
        // Lengthen the deepest codes above the limit until the set fits,
        // then deal the lengths out again: most frequent symbols shortest.
        uint32_t kraft = 0;
        for (unsigned len = 1; len <= maxBits; ++len) kraft += lengthCount[len] << (maxBits - len);
        while (kraft > (1u << maxBits)) {
            unsigned len = maxBits - 1;
            while (lengthCount[len] == 0) --len;
            --lengthCount[len];
            ++lengthCount[len + 1];
            kraft -= 1u << (maxBits - len - 1);
        }
        // That may overshoot: shorten codes again to fill the code space.
        while (kraft < (1u << maxBits)) {
            unsigned len = maxBits;
            while (lengthCount[len] == 0 || (1u << (maxBits - len)) > (1u << maxBits) - kraft) --len;
            --lengthCount[len];
            ++lengthCount[len - 1];
            kraft += 1u << (maxBits - len);
        }
        std::stable_sort(leaves, leaves + leafCount,
                         [&](uint16_t a, uint16_t b) { return freq[a] > freq[b]; });
        unsigned len = 1, left = lengthCount[1];
        for (unsigned i = 0; i < leafCount; ++i) {
            while (left == 0) left = lengthCount[++len];
            tree.length[leaves[i]] = static_cast<uint8_t>(len);
            --left;
        }
    }
    AssignCodes(tree.length, n, tree.code);
}

// Run-length codes of a tree's code lengths (as the dynamic block header
// sends them): each entry is symbol | extra value << 8.
unsigned Deflater::CountTreeCodes(const Tree& tree, unsigned maxCode, uint16_t* runs) {
    unsigned count = 0;
    for (unsigned i = 0; i <= maxCode;) {
        const uint8_t len = tree.length[i];
        unsigned run = 1;
        while (i + run <= maxCode && tree.length[i + run] == len) ++run;
        i += run;
        if (len == 0) {
            while (run >= 11) {
                const unsigned k = std::min(run, 138u);
                runs[count++] = static_cast<uint16_t>(18 | (k - 11) << 8);
                run -= k;
            }
            if (run >= 3) {
                runs[count++] = static_cast<uint16_t>(17 | (run - 3) << 8);
                run = 0;
            }
            while (run--) runs[count++] = 0;
        } else {
            runs[count++] = len;
            --run;
            while (run >= 3) {
                const unsigned k = std::min(run, 6u);
                runs[count++] = static_cast<uint16_t>(16 | (k - 3) << 8);
                run -= k;
            }
            while (run--) runs[count++] = len;
        }
    }
    return count;
}

void Deflater::FlushBlock(bool last) {
    Tree& lit = b_->lit;
    Tree& dist = b_->dist;
    Tree& lengthCodes = b_->lengthCodes;
    const size_t storedLength = static_cast<size_t>(static_cast<long>(strStart_) - blockStart_);
    const bool inWindow = blockStart_ >= 0;

    if (firstBlock_ && file_->internalAttributes == kInternalAttributesUnset) {
        uint64_t text = 0, binary = 0;
        for (unsigned c = 0; c < 256; ++c) (c >= 7 && c < 128 ? text : binary) += lit.freq[c];
        file_->internalAttributes = (text >> 2) >= binary ? kInternalAttributeText : 0;
    }
    firstBlock_ = false;

    lit.freq[kEndOfBlock] = 1;
    BuildTree(lit, kMaxBits);
    BuildTree(dist, kMaxBits);

    uint16_t litRuns[kLiteralCodes], distRuns[kDistanceCodes];
    const unsigned litRunCount = CountTreeCodes(lit, lit.maxCode, litRuns);
    const unsigned distRunCount = CountTreeCodes(dist, dist.maxCode, distRuns);
    std::memset(lengthCodes.freq, 0, sizeof(lengthCodes.freq));
    for (unsigned i = 0; i < litRunCount; ++i) ++lengthCodes.freq[litRuns[i] & 0xFF];
    for (unsigned i = 0; i < distRunCount; ++i) ++lengthCodes.freq[distRuns[i] & 0xFF];
    BuildTree(lengthCodes, kMaxLengthCodeBits);
    unsigned lastLengthCode = kLengthCodeCodes - 1;
    while (lastLengthCode >= 4 && lengthCodes.length[kLengthCodeOrder[lastLengthCode]] == 0) --lastLengthCode;

    // Sizes in bits: with this block's codes and with the fixed ones.
    uint64_t dynamicBits = 5 + 5 + 4 + 3 * (lastLengthCode + 1);
    for (unsigned s = 0; s < kLengthCodeCodes; ++s)
        dynamicBits += uint64_t{lengthCodes.freq[s]} * (lengthCodes.length[s] + kLengthCodeExtra[s]);
    uint64_t staticBits = 0;
    for (unsigned s = 0; s < kLiteralCodes; ++s) {
        const unsigned extra = s > 256 ? kLengthExtra[s - 257] : 0;
        dynamicBits += uint64_t{lit.freq[s]} * (lit.length[s] + extra);
        staticBits += uint64_t{lit.freq[s]} * (b_->staticLitLength[s] + extra);
    }
    for (unsigned s = 0; s < kDistanceCodes; ++s) {
        dynamicBits += uint64_t{dist.freq[s]} * (dist.length[s] + kDistanceExtra[s]);
        staticBits += uint64_t{dist.freq[s]} * (5 + kDistanceExtra[s]);
    }
    const uint64_t dynamicBytes = (dynamicBits + 3 + 7) / 8;
    const uint64_t staticBytes = (staticBits + 3 + 7) / 8;
    const uint64_t bestBytes = std::min(dynamicBytes, staticBytes);

    const bool nothingWritten = written_ == 0 && outPos_ == 0 && bitCount_ == 0;
    if (last && nothingWritten && storedLength <= bestBytes && file_->outputSeekable && inWindow) {
        // The whole file in one block that does not shrink: keep it as it is.
        PutBytes(b_->window + blockStart_, storedLength);
        file_->method = 0;
    } else if (storedLength + 4 <= bestBytes && inWindow) {
        SendStored(b_->window + blockStart_, storedLength, last);
    } else if (staticBytes == bestBytes) {
        PutBits((1u << 1) | (last ? 1 : 0), 3);
        Tree fixedLit, fixedDist;
        std::memcpy(fixedLit.length, b_->staticLitLength, kLiteralCodes);
        std::memcpy(fixedLit.code, b_->staticLitCode, sizeof(fixedLit.code));
        std::memset(fixedDist.length, 5, kDistanceCodes);
        std::memcpy(fixedDist.code, b_->staticDistCode, sizeof(b_->staticDistCode));
        SendSymbols(fixedLit, fixedDist);
    } else {
        PutBits((2u << 1) | (last ? 1 : 0), 3);
        PutBits(lit.maxCode + 1 - 257, 5);
        PutBits(dist.maxCode + 1 - 1, 5);
        PutBits(lastLengthCode + 1 - 4, 4);
        for (unsigned i = 0; i <= lastLengthCode; ++i) PutBits(lengthCodes.length[kLengthCodeOrder[i]], 3);
        for (unsigned pass = 0; pass < 2; ++pass) {
            const uint16_t* runs = pass == 0 ? litRuns : distRuns;
            const unsigned count = pass == 0 ? litRunCount : distRunCount;
            for (unsigned i = 0; i < count; ++i) {
                const unsigned symbol = runs[i] & 0xFF;
                PutBits(lengthCodes.code[symbol], lengthCodes.length[symbol]);
                if (kLengthCodeExtra[symbol]) PutBits(runs[i] >> 8, kLengthCodeExtra[symbol]);
            }
        }
        SendSymbols(lit, dist);
    }

    std::memset(lit.freq, 0, sizeof(lit.freq));
    std::memset(dist.freq, 0, sizeof(dist.freq));
    symbols_ = matches_ = 0;
}

void Deflater::SendSymbols(const Tree& lit, const Tree& dist) {
    const uint8_t* literal = b_->literal;
    const uint16_t* distance = b_->distance;
    for (unsigned i = 0; i < symbols_; ++i) {
        const unsigned d = distance[i];
        if (d == 0) {
            PutBits(lit.code[literal[i]], lit.length[literal[i]]);
            continue;
        }
        const unsigned length = literal[i];
        const unsigned lengthCode = kCodes.lengthCode[length];
        uint32_t value = lit.code[lengthCode + 257];
        unsigned bits = lit.length[lengthCode + 257];
        value |= static_cast<uint32_t>(length - kCodes.lengthBase[lengthCode]) << bits;
        bits += kLengthExtra[lengthCode];
        PutBits(value, bits);
        const unsigned distCode = DistanceCode(d - 1);
        value = dist.code[distCode];
        bits = dist.length[distCode];
        value |= static_cast<uint32_t>(d - 1 - kCodes.distanceBase[distCode]) << bits;
        bits += kDistanceExtra[distCode];
        PutBits(value, bits);
    }
    PutBits(lit.code[kEndOfBlock], lit.length[kEndOfBlock]);
}

void Deflater::SendStored(const uint8_t* data, size_t size, bool last) {
    // A stored block holds at most 65,535 bytes.
    do {
        const size_t n = std::min<size_t>(size, 0xFFFF);
        const bool final = last && n == size;
        PutBits(final ? 1 : 0, 3);
        AlignToByte();
        PutBits(static_cast<uint32_t>(n), 16);
        PutBits(static_cast<uint32_t>(~n & 0xFFFF), 16);
        PutBytes(data, n);
        data += n;
        size -= n;
    } while (size);
}

inline void Deflater::PutBits(uint32_t value, unsigned count) {
    bitBuffer_ |= uint64_t{value} << bitCount_;
    bitCount_ += count;
    if (bitCount_ >= 32) {
        const uint32_t word = static_cast<uint32_t>(bitBuffer_);
        uint8_t* out = b_->out + outPos_;
        out[0] = static_cast<uint8_t>(word);
        out[1] = static_cast<uint8_t>(word >> 8);
        out[2] = static_cast<uint8_t>(word >> 16);
        out[3] = static_cast<uint8_t>(word >> 24);
        outPos_ += 4;
        bitBuffer_ >>= 32;
        bitCount_ -= 32;
        if (outPos_ >= kOutputSize) FlushOutput();
    }
}

void Deflater::AlignToByte() {
    bitCount_ = (bitCount_ + 7) & ~7u;
    while (bitCount_ >= 8) {
        b_->out[outPos_++] = static_cast<uint8_t>(bitBuffer_);
        bitBuffer_ >>= 8;
        bitCount_ -= 8;
        if (outPos_ >= kOutputSize) FlushOutput();
    }
    bitBuffer_ = 0;
}

void Deflater::PutBytes(const uint8_t* data, size_t size) {
    AlignToByte();
    while (size) {
        const size_t n = std::min(size, kOutputSize - outPos_);
        std::memcpy(b_->out + outPos_, data, n);
        outPos_ += n;
        data += n;
        size -= n;
        if (outPos_ >= kOutputSize) FlushOutput();
    }
}

void Deflater::FlushOutput() {
    if (outPos_ && !aborted_) {
        if (output_->Write(b_->out, outPos_))
            written_ += outPos_;
        else
            aborted_ = true;
    }
    outPos_ = 0;
}

}  // namespace tessera
