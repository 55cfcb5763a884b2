// LZX encoder for cabinet folders (see lzx_encoder.h).
//
// Code lengths are limited to 16 bits (4-bit pretree lengths to 15) by
// halving the frequencies until the code fits.
#include "codecs/lzx/lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codecs/exceptions.h"

namespace tessera::lzx {
namespace {

// Chains link positions with the same hash of five bytes; one head per
// window position, up to 2^20 of them, so that a chain holds mostly true
// matches and not colliding positions, each one a cache miss in a history
// of megabytes. Three- and four-byte matches pay only near by, so for them
// a table without chains keeps the latest position of each three bytes.
constexpr int kMaxHashBits = 20;
constexpr int kNearHashBits = 14;
constexpr uint32_t kNearOffset = 1u << 12;
// Chain candidates followed per search, and for the search one byte
// further that decides whether a match gives way to a literal. Once a
// match reaches kGoodLength a quarter of the budget is left; one reaching
// kNiceLength ends the search, and one reaching kMaxLazy is taken without
// looking one byte further.
constexpr int kMaxChain = 12;
constexpr int kLazyChain = 6;
constexpr uint32_t kGoodLength = 32;
constexpr uint32_t kNiceLength = 128;
constexpr uint32_t kMaxLazy = 32;
// Matches are weighed by the literals they replace, at this many bits a
// literal, against their offset's extra bits; the match one byte further
// must win by more than kLazyMargin bits to displace the current one.
constexpr int kLiteralBits = 6;
constexpr int kLazyMargin = 4;
// After kSkipAfter literals in a row (compressed or random data) only every
// few positions is searched: one more skipped per 2^kSkipShift literals, at
// most kMaxSkip.
constexpr uint32_t kSkipAfter = 256;
constexpr uint32_t kSkipShift = 5;
constexpr uint32_t kMaxSkip = 8;
// The history holds the window and at least this much more, so that small
// windows do not slide (move the window and rebase every link) each frame.
constexpr uint32_t kMinSlideDistance = 1u << 18;
// Bytes past the history's end that word-wide loads may read.
constexpr size_t kHistorySlack = 8;

// MSB-first bits packed into 16-bit little-endian words, gathered in a
// 64-bit accumulator so that a code costs a shift and an or, not a loop.
class BitWriter {
public:
    BitWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
    void Put(uint32_t value, int count) {  // count <= 32, value < 2^count
        accumulator_ = accumulator_ << count | value;
        bits_ += count;
        while (bits_ >= 16) {
            bits_ -= 16;
            Word(static_cast<uint16_t>(accumulator_ >> bits_));
        }
    }
    // Pads the current word with zeros (nothing when aligned).
    void Align() {
        if (bits_) Put(0, 16 - bits_);
    }
    bool Aligned() const { return bits_ == 0; }
    void Byte(uint8_t b) {
        if (size_ < capacity_) out_[size_] = b;
        ++size_;
    }
    size_t Size() const { return size_; }
    bool Overflow() const { return size_ > capacity_; }

private:
    void Word(uint16_t word) {
        if (size_ + 2 <= capacity_) {
            out_[size_] = static_cast<uint8_t>(word);
            out_[size_ + 1] = static_cast<uint8_t>(word >> 8);
            size_ += 2;
        } else {
            Byte(static_cast<uint8_t>(word));
            Byte(static_cast<uint8_t>(word >> 8));
        }
    }
    uint8_t* out_;
    size_t capacity_;
    size_t size_ = 0;
    uint64_t accumulator_ = 0;
    int bits_ = 0;
};

size_t LoadWord(const uint8_t* p) {
    size_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

uint32_t Load32(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Huffman code lengths, at most maxLength, for `n` symbols. Symbols with
// zero frequency get length 0. The decoder accepts only complete codes, so
// a tree with one used symbol is given a second one. The code is built in
// place over the used symbols sorted by frequency (two queues, leaves and
// merged nodes, both in ascending weight: no heap); a code that comes out
// too long is built again with the frequencies halved.
void BuildLengths(const uint32_t* frequency, int n, int maxLength, uint8_t* lengths, bool allowEmpty) {
    std::memset(lengths, 0, static_cast<size_t>(n));
    // Fixed-size work space: no allocation per frame.
    uint32_t f[kMaxMainSymbols];
    std::memcpy(f, frequency, sizeof(uint32_t) * static_cast<size_t>(n));
    int used = 0;
    for (int i = 0; i < n; ++i) used += f[i] != 0;
    if (used == 0 && allowEmpty) return;
    for (int i = 0; used < 2 && i < n; ++i)
        if (!f[i]) {
            f[i] = 1;
            ++used;
        }
    uint64_t order[kMaxMainSymbols];  // frequency << 16 | symbol
    uint32_t a[kMaxMainSymbols];
    for (;;) {
        int m = 0;
        for (int i = 0; i < n; ++i)
            if (f[i]) order[m++] = uint64_t{f[i]} << 16 | static_cast<uint32_t>(i);
        std::sort(order, order + m);
        for (int i = 0; i < m; ++i) a[i] = static_cast<uint32_t>(order[i] >> 16);
        // Merge: a[next] becomes the weight of internal node `next`, and a
        // merged node's slot then holds the index of its parent.
        a[0] += a[1];
        int root = 0, leaf = 2;
        for (int next = 1; next < m - 1; ++next) {
            if (leaf >= m || a[root] < a[leaf]) {
                a[next] = a[root];
                a[root++] = static_cast<uint32_t>(next);
            } else {
                a[next] = a[leaf++];
            }
            if (leaf >= m || (root < next && a[root] < a[leaf])) {
                a[next] += a[root];
                a[root++] = static_cast<uint32_t>(next);
            } else {
                a[next] += a[leaf++];
            }
        }
        // Depths of the internal nodes from the root (the last one) ...
        a[m - 2] = 0;
        for (int next = m - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
        // ... then of the leaves: each level's free slots hold leaves,
        // deepest leaves for the smallest weights.
        int available = 1, usedAtDepth = 0, depth = 0, node = m - 2, next = m - 1;
        while (available > 0) {
            while (node >= 0 && a[node] == static_cast<uint32_t>(depth)) {
                ++usedAtDepth;
                --node;
            }
            while (available > usedAtDepth) {
                a[next--] = static_cast<uint32_t>(depth);
                --available;
            }
            available = 2 * usedAtDepth;
            ++depth;
            usedAtDepth = 0;
        }
        if (static_cast<int>(a[0]) <= maxLength) {
            for (int i = 0; i < m; ++i) lengths[order[i] & 0xFFFF] = static_cast<uint8_t>(a[i]);
            return;
        }
        for (int i = 0; i < n; ++i)
            if (f[i]) f[i] = (f[i] + 1) / 2;
    }
}

// Tree lengths as the decoder reads them: a pretree, then per symbol the
// difference to the previous length (mod 17) or a run of zeros.
void WriteLengths(BitWriter& bits, const uint8_t* previous, const uint8_t* lengths, int first, int last) {
    struct Code {
        uint8_t symbol, extraBits;
        uint8_t extra;
    };
    Code codes[kMaxMainSymbols];
    int count = 0;
    for (int x = first; x < last;) {
        if (lengths[x] == 0) {
            int run = 1;
            while (x + run < last && lengths[x + run] == 0 && run < 51) ++run;
            if (run >= 20) {
                codes[count++] = {18, 5, static_cast<uint8_t>(run - 20)};
                x += run;
                continue;
            }
            if (run >= 4) {
                codes[count++] = {17, 4, static_cast<uint8_t>(run - 4)};
                x += run;
                continue;
            }
        }
        codes[count++] = {static_cast<uint8_t>((previous[x] + 17 - lengths[x]) % 17), 0, 0};
        ++x;
    }
    uint32_t frequency[kPretreeSymbols] = {};
    for (int i = 0; i < count; ++i) ++frequency[codes[i].symbol];
    uint8_t preLengths[kPretreeSymbols];
    BuildLengths(frequency, kPretreeSymbols, 15, preLengths, false);
    uint16_t preCodes[kPretreeSymbols];
    {
        // Canonical codes, as the decoder assigns them.
        uint16_t code = 0;
        for (int len = 1; len <= 15; ++len) {
            for (int s = 0; s < kPretreeSymbols; ++s)
                if (preLengths[s] == len) preCodes[s] = code++;
            code = static_cast<uint16_t>(code << 1);
        }
    }
    for (int s = 0; s < kPretreeSymbols; ++s) bits.Put(preLengths[s], 4);
    for (int i = 0; i < count; ++i) {
        const Code& c = codes[i];
        bits.Put(preCodes[c.symbol], preLengths[c.symbol]);
        if (c.extraBits) bits.Put(c.extra, c.extraBits);
    }
}

void CanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        for (int s = 0; s < n; ++s)
            if (lengths[s] == len) codes[s] = static_cast<uint16_t>(code++);
        code <<= 1;
    }
}

}  // namespace

namespace {

// Slot of a formatted offset (offset + 2): two slots per power of two,
// until the extra bits stop growing at 17 and the slots at 2^17 apart.
uint32_t PositionSlot(uint32_t formatted) {
    if (formatted >= (1u << 18)) return 36 + ((formatted - (1u << 18)) >> 17);
    const uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(formatted));
    return 2 * top + ((formatted >> (top - 1)) & 1);
}

// Extra bits of a new offset's position slot.
int ExtraBits(uint32_t offset) {
    const int top = 31 - __builtin_clz(offset + 2);
    return std::min(std::max(top - 1, 0), 17);
}

}  // namespace

LzxEncoder::LzxEncoder(std::pmr::memory_resource* memory)
    : history_(memory), head_(memory), nearHead_(memory), prev_(memory), tokens_(memory), scratch_(memory) {}

bool LzxEncoder::Init(int windowBits) {
    outOfMemory_ = false;
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return false;
    windowBits_ = windowBits;
    windowSize_ = 1u << windowBits;
    mainSymbols_ = kNumChars + PositionSlots(windowBits) * 8;
    TESSERA_TRY {
        historySize_ = windowSize_ + std::max(windowSize_, kMinSlideDistance);
        history_.assign(historySize_ + kHistorySlack, 0);
        hashBits_ = std::min(windowBits, kMaxHashBits);
        head_.assign(size_t{1} << hashBits_, -1);
        nearHead_.assign(size_t{1} << kNearHashBits, -1);
        prev_.assign(historySize_, -1);
        tokens_.reserve(kFrameSize);
        scratch_.assign(kFrameSize + kMaxFrameGrowth + 64, 0);
    } TESSERA_CATCH(const std::bad_alloc&) {
        outOfMemory_ = true;
        return false;
    }
    Reset();
    return true;
}

void LzxEncoder::Reset() {
    std::fill(head_.begin(), head_.end(), -1);
    std::fill(nearHead_.begin(), nearHead_.end(), -1);
    pos_ = 0;
    total_ = 0;
    headerWritten_ = false;
    r0_ = r1_ = r2_ = 1;
    std::memset(mainLengths_, 0, sizeof(mainLengths_));
    std::memset(lengthLengths_, 0, sizeof(lengthLengths_));
}

// Keeps the last window of history at the front of the buffer.
void LzxEncoder::Slide() {
    const uint32_t shift = pos_ - windowSize_;
    std::memmove(history_.data(), history_.data() + shift, windowSize_);
    for (auto& h : head_) h = h >= static_cast<int32_t>(shift) ? h - static_cast<int32_t>(shift) : -1;
    for (auto& h : nearHead_) h = h >= static_cast<int32_t>(shift) ? h - static_cast<int32_t>(shift) : -1;
    for (uint32_t i = 0; i < windowSize_; ++i) {
        int32_t p = prev_[i + shift];
        prev_[i] = p >= static_cast<int32_t>(shift) ? p - static_cast<int32_t>(shift) : -1;
    }
    pos_ = windowSize_;
}

// The five bytes at p (little-endian load, the other three shifted out).
uint32_t LzxEncoder::Hash5(const uint8_t* p) const {
    uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    return static_cast<uint32_t>(((bytes << 24) * 0x9E3779B97F4A7C15ull) >> (64 - hashBits_));
}

uint32_t LzxEncoder::Hash3(const uint8_t* p) {
    return ((Load32(p) & 0xFFFFFF) * 2654435761u) >> (32 - kNearHashBits);
}

// Called for positions at least four bytes before the frame's end; a fifth
// byte past it only weakens the hash, never the check of a match.
void LzxEncoder::Insert(uint32_t pos) {
    const uint8_t* p = history_.data() + pos;
    uint32_t h = Hash5(p);
    prev_[pos] = head_[h];
    head_[h] = static_cast<int32_t>(pos);
    nearHead_[Hash3(p)] = static_cast<int32_t>(pos);
}

uint32_t LzxEncoder::MatchLength(uint32_t pos, uint32_t candidate, uint32_t limit) const {
    // Eight bytes at a time; history_ has slack past its end for the last
    // load, and the count is clamped to the limit.
    const uint8_t* a = history_.data() + pos;
    const uint8_t* b = history_.data() + candidate;
    uint32_t n = 0;
    while (n < limit) {
        const size_t difference = LoadWord(a + n) ^ LoadWord(b + n);
        if (difference) {
            n += static_cast<uint32_t>(__builtin_ctzll(difference)) / 8;  // little-endian loads
            return std::min(n, limit);
        }
        n += sizeof(size_t);
    }
    return limit;
}

void LzxEncoder::AddMatch(uint32_t length, uint32_t offset) {
    Token t{};
    uint32_t slot;
    if (offset == r0_) {
        slot = 0;
    } else if (offset == r1_) {
        slot = 1;
        std::swap(r0_, r1_);
    } else if (offset == r2_) {
        slot = 2;
        std::swap(r0_, r2_);
    } else {
        uint32_t formatted = offset + 2;
        slot = PositionSlot(formatted);
        t.extraCount = kPositions.extraBits[slot];
        t.extraValue = formatted - kPositions.base[slot];
        r2_ = r1_;
        r1_ = r0_;
        r0_ = offset;
    }
    uint32_t header = length - kMinMatch;
    t.lengthSymbol = -1;
    if (header >= kNumPrimaryLengths) {
        t.lengthSymbol = static_cast<int16_t>(header - kNumPrimaryLengths);
        header = kNumPrimaryLengths;
    }
    t.mainSymbol = static_cast<uint16_t>(kNumChars + (slot << 3) + header);
    tokens_.push_back(t);
}


// The best match at p within the frame [start, end): the repeated offsets
// first (they cost no offset bits), then the nearest position with the same
// three bytes, then the chain of positions with the same four bytes. A
// longer match replaces a shorter one only when the bytes it adds outweigh
// the extra offset bits it costs.
LzxEncoder::Match LzxEncoder::Find(uint32_t p, uint32_t start, uint32_t end, int maxChain) const {
    const uint8_t* data = history_.data();
    const uint32_t limit = std::min<uint32_t>(kMaxMatch, end - p);
    const uint64_t available = total_ + (p - start);
    Match best{0, 0, 0};
    for (uint32_t r : {r0_, r1_, r2_}) {
        if (r > available || r > p) continue;
        uint32_t n = MatchLength(p, p - r, limit);
        if (n > best.length && n >= kMinMatch) best = {n, r, 0};
    }
    if (p + 3 >= end || best.length >= kNiceLength || best.length == limit) return best;
    const uint32_t maxOffset = static_cast<uint32_t>(std::min<uint64_t>(windowSize_ - 3, available));
    auto consider = [&](uint32_t candidate, uint32_t n) {
        const uint32_t offset = p - candidate;
        const int extra = ExtraBits(offset);
        if (static_cast<int>(n) * kLiteralBits - extra > static_cast<int>(best.length) * kLiteralBits - best.extraBits)
            best = {n, offset, extra};
    };
    const int32_t near = nearHead_[Hash3(data + p)];
    if (near >= 0 && p - static_cast<uint32_t>(near) <= std::min(kNearOffset, maxOffset)) {
        const uint32_t n = MatchLength(p, static_cast<uint32_t>(near), limit);
        if (n >= 3 && n > best.length) consider(static_cast<uint32_t>(near), n);
    }
    const int32_t* prev = prev_.data();
    int32_t c = head_[Hash5(data + p)];
    int budget = best.length >= kGoodLength ? maxChain / 4 : maxChain;
    for (int chain = 0; c >= 0 && chain < budget; ++chain, c = prev[c]) {
        const uint32_t candidate = static_cast<uint32_t>(c);
        if (p - candidate > maxOffset) break;
        // A candidate can only do better if it matches one byte further;
        // the four bytes ending there are compared at once.
        const uint32_t probe = best.length >= 3 ? best.length - 3 : 0;
        if (Load32(data + candidate + probe) != Load32(data + p + probe)) continue;
        const uint32_t n = MatchLength(p, candidate, limit);
        if (n <= best.length || n < 4) continue;
        consider(candidate, n);
        if (best.length >= kNiceLength || best.length == limit) break;
        if (best.length >= kGoodLength) budget = std::min(budget, chain + 1 + maxChain / 4);
    }
    return best;
}

// Matching with one step of lazy evaluation over history_[start, end):
// a match gives way to a literal when the match one byte later scores
// clearly better.
void LzxEncoder::Tokenize(uint32_t start, uint32_t end) {
    tokens_.clear();
    const uint8_t* data = history_.data();
    auto score = [](const Match& m) { return static_cast<int>(m.length) * kLiteralBits - m.extraBits; };
    uint32_t p = start;
    uint32_t literalRun = 0;
    Match current = Find(p, start, end, kMaxChain);
    while (p < end) {
        if (current.length >= kMinMatch) {
            literalRun = 0;
            if (current.length < kMaxLazy && p + 1 < end) {
                if (p + 3 < end) Insert(p);
                const Match next = Find(p + 1, start, end, kLazyChain);
                if (score(next) > score(current) + kLazyMargin) {
                    // A literal, and the match one byte later is the next
                    // candidate (p + 1 is not inserted yet: nothing changed).
                    tokens_.push_back(Token{data[p], -1, 0, 0});
                    ++p;
                    current = next;
                    continue;
                }
            } else if (p + 3 < end) {
                Insert(p);
            }
            AddMatch(current.length, current.offset);
            for (uint32_t k = 1; k < current.length; ++k)
                if (p + k + 3 < end) Insert(p + k);
            p += current.length;
        } else {
            tokens_.push_back(Token{data[p], -1, 0, 0});
            if (p + 3 < end) Insert(p);
            ++p;
            // Long runs without a match (compressed or random data) are
            // searched ever more sparsely; the bytes skipped are literals
            // and are not entered in the tables.
            if (++literalRun > kSkipAfter) {
                const uint32_t skip = std::min({(literalRun - kSkipAfter) >> kSkipShift, kMaxSkip, end - p});
                for (uint32_t k = 0; k < skip; ++k) tokens_.push_back(Token{data[p + k], -1, 0, 0});
                p += skip;
                literalRun += skip;
            }
        }
        if (p < end) current = Find(p, start, end, kMaxChain);
    }
}

size_t LzxEncoder::EncodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity) {
    if (inSize == 0 || inSize > kFrameSize || windowSize_ == 0) return 0;
    if (pos_ + inSize > historySize_) Slide();
    const uint32_t start = pos_;
    const uint32_t end = pos_ + static_cast<uint32_t>(inSize);
    std::memcpy(history_.data() + start, in, inSize);

    const uint32_t savedR[3] = {r0_, r1_, r2_};
    Tokenize(start, end);

    uint32_t mainFrequency[kMaxMainSymbols] = {};
    uint32_t lengthFrequency[kNumSecondaryLengths] = {};
    for (const Token& t : tokens_) {
        ++mainFrequency[t.mainSymbol];
        if (t.lengthSymbol >= 0) ++lengthFrequency[t.lengthSymbol];
    }
    uint8_t mainLengths[kMaxMainSymbols] = {};
    uint8_t lengthLengths[kNumSecondaryLengths] = {};
    BuildLengths(mainFrequency, mainSymbols_, kMaxCodeLength, mainLengths, false);
    BuildLengths(lengthFrequency, kNumSecondaryLengths, kMaxCodeLength, lengthLengths, true);
    uint16_t mainCodes[kMaxMainSymbols] = {};
    uint16_t lengthCodes[kNumSecondaryLengths] = {};
    CanonicalCodes(mainLengths, mainSymbols_, mainCodes);
    CanonicalCodes(lengthLengths, kNumSecondaryLengths, lengthCodes);

    BitWriter bits(scratch_.data(), scratch_.size());
    if (!headerWritten_) bits.Put(0, 1);  // no E8 translation
    bits.Put(kBlockVerbatim, 3);
    bits.Put(static_cast<uint32_t>(inSize >> 8), 16);
    bits.Put(static_cast<uint32_t>(inSize & 0xFF), 8);
    WriteLengths(bits, mainLengths_, mainLengths, 0, kNumChars);
    WriteLengths(bits, mainLengths_, mainLengths, kNumChars, mainSymbols_);
    WriteLengths(bits, lengthLengths_, lengthLengths, 0, kNumSecondaryLengths);
    for (const Token& t : tokens_) {
        bits.Put(mainCodes[t.mainSymbol], mainLengths[t.mainSymbol]);
        if (t.lengthSymbol >= 0) bits.Put(lengthCodes[t.lengthSymbol], lengthLengths[t.lengthSymbol]);
        if (t.extraCount) bits.Put(t.extraValue, t.extraCount);
        if (bits.Overflow()) break;
    }
    bits.Align();

    size_t size = bits.Size();
    const uint8_t* coded = scratch_.data();
    if (!bits.Overflow() && size <= inSize + 16) {
        std::memcpy(mainLengths_, mainLengths, sizeof(mainLengths));
        std::memcpy(lengthLengths_, lengthLengths, sizeof(lengthLengths));
    } else {
        // Uncompressed block: the header, 1-16 bits of padding to a word,
        // R0-R2, the bytes, and a padding byte after an odd count. Trees
        // and history carry on unchanged; the offsets are those before.
        r0_ = savedR[0];
        r1_ = savedR[1];
        r2_ = savedR[2];
        BitWriter raw(scratch_.data(), scratch_.size());
        if (!headerWritten_) raw.Put(0, 1);
        raw.Put(kBlockUncompressed, 3);
        raw.Put(static_cast<uint32_t>(inSize >> 8), 16);
        raw.Put(static_cast<uint32_t>(inSize & 0xFF), 8);
        if (raw.Aligned()) raw.Put(0, 16);
        else raw.Align();
        for (uint32_t r : savedR)
            for (int i = 0; i < 4; ++i) raw.Byte(static_cast<uint8_t>(r >> (8 * i)));
        for (size_t i = 0; i < inSize; ++i) raw.Byte(in[i]);
        if (inSize & 1) raw.Byte(0);
        size = raw.Size();
    }
    if (size > outCapacity) {
        r0_ = savedR[0];
        r1_ = savedR[1];
        r2_ = savedR[2];
        return 0;
    }
    std::memcpy(out, coded, size);
    headerWritten_ = true;
    pos_ = end;
    total_ += inSize;
    return size;
}

}  // namespace tessera::lzx
