// LZX encoder for cabinet folders (see lzx_encoder.h).
//
// Tunables: kMaxChain candidates are followed per position (more finds
// longer matches at the cost of speed); a hash match shorter than
// kMinHashMatch is not worth its offset bits; matches reaching kNiceLength
// end the search early. Code lengths are limited to 16 bits (4-bit pretree
// lengths to 15) by halving the frequencies until the code fits.
#include "codecs/lzx/lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codecs/exceptions.h"

namespace tessera::lzx {
namespace {

// Hash heads: one per window position, up to 2^20 of them (4 MiB at the
// largest window), so that in a large window a chain holds mostly true
// 3-byte matches and not colliding positions, each one a cache miss in a
// history of megabytes.
constexpr int kMaxHashBits = 20;
constexpr int kMaxChain = 48;
constexpr uint32_t kMinHashMatch = 3;
constexpr uint32_t kNiceLength = 128;
// Bytes past the history's end that a word-wide comparison may read.
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
// a tree with one used symbol is given a second one.
void BuildLengths(const uint32_t* frequency, int n, int maxLength, uint8_t* lengths, bool allowEmpty) {
    // Fixed-size work space: no allocation per frame.
    uint32_t f[kMaxMainSymbols];
    std::memcpy(f, frequency, sizeof(uint32_t) * static_cast<size_t>(n));
    int used = 0;
    for (int i = 0; i < n; ++i) used += f[i] != 0;
    if (used == 0 && allowEmpty) {
        std::memset(lengths, 0, static_cast<size_t>(n));
        return;
    }
    for (int i = 0; used < 2 && i < n; ++i)
        if (!f[i]) {
            f[i] = 1;
            ++used;
        }
    struct Node {
        uint32_t weight;
        int left, right;  // children, -1 for leaves
    };
    using Item = std::pair<uint32_t, int>;  // weight, node
    Node nodes[2 * kMaxMainSymbols];
    int leafOf[kMaxMainSymbols];
    Item heap[kMaxMainSymbols];
    int depth[2 * kMaxMainSymbols];
    auto greater = [](const Item& a, const Item& b) { return a.first != b.first ? a.first > b.first : a.second > b.second; };
    for (;;) {
        int count = 0, items = 0;
        for (int i = 0; i < n; ++i) {
            leafOf[i] = -1;
            if (!f[i]) continue;
            leafOf[i] = count;
            heap[items++] = Item(f[i], count);
            nodes[count++] = {f[i], -1, -1};
        }
        std::make_heap(heap, heap + items, greater);
        while (items > 1) {
            std::pop_heap(heap, heap + items, greater);
            Item a = heap[--items];
            std::pop_heap(heap, heap + items, greater);
            Item b = heap[--items];
            nodes[count] = {a.first + b.first, a.second, b.second};
            heap[items++] = Item(a.first + b.first, count++);
            std::push_heap(heap, heap + items, greater);
        }
        // Depths from the root (the last node), parents before children.
        depth[count - 1] = 0;
        for (int i = count - 1; i >= 0; --i)
            if (nodes[i].left >= 0) depth[nodes[i].left] = depth[nodes[i].right] = depth[i] + 1;
        int longest = 0;
        for (int i = 0; i < n; ++i) {
            int d = leafOf[i] < 0 ? 0 : depth[leafOf[i]];
            lengths[i] = static_cast<uint8_t>(d);
            longest = std::max(longest, d);
        }
        if (longest <= maxLength) return;
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

LzxEncoder::LzxEncoder(std::pmr::memory_resource* memory)
    : history_(memory), head_(memory), prev_(memory), tokens_(memory), scratch_(memory) {}

bool LzxEncoder::Init(int windowBits) {
    outOfMemory_ = false;
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return false;
    windowBits_ = windowBits;
    windowSize_ = 1u << windowBits;
    mainSymbols_ = kNumChars + PositionSlots(windowBits) * 8;
    TESSERA_TRY {
        history_.assign(size_t{2} * windowSize_ + kHistorySlack, 0);
        hashBits_ = std::min(windowBits, kMaxHashBits);
        head_.assign(size_t{1} << hashBits_, -1);
        prev_.assign(size_t{2} * windowSize_, -1);
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
    for (uint32_t i = 0; i < windowSize_; ++i) {
        int32_t p = prev_[i + shift];
        prev_[i] = p >= static_cast<int32_t>(shift) ? p - static_cast<int32_t>(shift) : -1;
    }
    pos_ = windowSize_;
}

uint32_t LzxEncoder::Hash3(const uint8_t* p) const {
    const uint32_t key = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
    return (key * 2654435761u) >> (32 - hashBits_);
}

void LzxEncoder::Insert(uint32_t pos) {
    uint32_t h = Hash3(history_.data() + pos);
    prev_[pos] = head_[h];
    head_[h] = static_cast<int32_t>(pos);
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
        slot = 3;
        while (slot + 1 < kMaxPositionSlots && kPositions.base[slot + 1] <= formatted) ++slot;
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

// Longest match at p within the frame [start, end): the repeated offsets
// first (a tie goes to them), then the hash chain.
LzxEncoder::Match LzxEncoder::Find(uint32_t p, uint32_t start, uint32_t end) const {
    const uint8_t* data = history_.data();
    const uint32_t limit = std::min<uint32_t>(kMaxMatch, end - p);
    const uint64_t available = total_ + (p - start);
    Match best{0, 0};
    for (uint32_t r : {r0_, r1_, r2_}) {
        if (r > available || r > p) continue;
        uint32_t n = MatchLength(p, p - r, limit);
        if (n > best.length && n >= kMinMatch) best = {n, r};
    }
    if (limit < kMinHashMatch || p + 2 >= end || best.length >= kNiceLength || best.length == limit) return best;
    const uint32_t maxOffset = windowSize_ - 3;
    const int32_t* prev = prev_.data();
    int32_t c = head_[Hash3(data + p)];
    for (int chain = 0; c >= 0 && chain < kMaxChain; ++chain, c = prev[c]) {
        const uint32_t candidate = static_cast<uint32_t>(c);
        const uint32_t offset = p - candidate;
        if (offset == 0) continue;
        if (offset > maxOffset || offset > available) break;
        // A candidate can only do better if it matches one byte further;
        // the four bytes ending there are compared at once.
        if (best.length >= 3 ? Load32(data + candidate + best.length - 3) != Load32(data + p + best.length - 3)
                             : data[candidate + best.length] != data[p + best.length])
            continue;
        const uint32_t n = MatchLength(p, candidate, limit);
        if (n > best.length && n >= kMinHashMatch) {
            best = {n, offset};
            if (n >= kNiceLength || n == limit) break;
        }
    }
    return best;
}

// Greedy matching with one step of lazy evaluation over history_[start, end).
void LzxEncoder::Tokenize(uint32_t start, uint32_t end) {
    tokens_.clear();
    const uint8_t* data = history_.data();
    uint32_t p = start;
    Match current = Find(p, start, end);
    while (p < end) {
        if (current.length >= kMinMatch && current.length < kNiceLength && p + 1 < end) {
            if (p + 2 < end) Insert(p);
            const Match next = Find(p + 1, start, end);
            if (next.length > current.length + 1) {
                // A literal, and the match one byte later is the next
                // candidate (p + 1 is not inserted yet: nothing changed).
                tokens_.push_back(Token{data[p], -1, 0, 0});
                ++p;
                current = next;
                continue;
            }
            AddMatch(current.length, current.offset);
            for (uint32_t k = 1; k < current.length; ++k)
                if (p + k + 2 < end) Insert(p + k);
            p += current.length;
        } else if (current.length >= kMinMatch) {
            AddMatch(current.length, current.offset);
            for (uint32_t k = 0; k < current.length; ++k)
                if (p + k + 2 < end) Insert(p + k);
            p += current.length;
        } else {
            tokens_.push_back(Token{data[p], -1, 0, 0});
            if (p + 2 < end) Insert(p);
            ++p;
        }
        if (p < end) current = Find(p, start, end);
    }
}

size_t LzxEncoder::EncodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity) {
    if (inSize == 0 || inSize > kFrameSize || windowSize_ == 0) return 0;
    if (pos_ + inSize > size_t{2} * windowSize_) Slide();
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
