// Quantum decoder for cabinet folders (see quantum_decoder.h).
//
// The arithmetic coder works on 16-bit registers H (high), L (low) and C
// (code); each symbol narrows [L, H] by the model's cumulative frequencies
// and the registers shift left while their top bits agree, with the usual
// underflow fix when they straddle the middle. Models add 8 to a symbol's
// frequency per use and are halved above 3,800, every 50th time by a full
// re-sort by frequency. Input past the end of a block reads as zero bits; a
// frame that needs more than a few of them, a match reaching before the
// first decoded byte or past the frame end, is invalid.
#include "codecs/quantum/quantum_decoder.h"

#include <new>

#include "codecs/exceptions.h"

namespace tessera::quantum {
namespace {

// Match offsets: position slots with their base and extra bits.
struct Tables {
    uint32_t positionBase[42];
    uint8_t positionExtra[42];
    uint8_t lengthBase[27];
    uint8_t lengthExtra[27];
    constexpr Tables() : positionBase(), positionExtra(), lengthBase(), lengthExtra() {
        uint32_t offset = 0;
        for (int i = 0; i < 42; ++i) {
            positionBase[i] = offset;
            positionExtra[i] = static_cast<uint8_t>((i < 2 ? 0 : i - 2) >> 1);
            offset += 1u << positionExtra[i];
        }
        offset = 0;
        for (int i = 0; i < 26; ++i) {
            lengthBase[i] = static_cast<uint8_t>(offset);
            lengthExtra[i] = static_cast<uint8_t>((i < 2 ? 0 : i - 2) >> 2);
            offset += 1u << lengthExtra[i];
        }
        lengthBase[26] = 254;
        lengthExtra[26] = 0;
    }
};
constexpr Tables kTables{};

constexpr size_t kMaxOverrunBytes = 4;

}  // namespace

struct QuantumDecoder::Coder {
    const uint8_t* in;
    size_t size;
    size_t pos = 0;       // next byte
    uint32_t buffer = 0;  // pending bits, left-aligned
    int count = 0;
    uint32_t high = 0xFFFF, low = 0, code = 0;

    Coder(const uint8_t* data, size_t n) : in(data), size(n) {}
    uint32_t Read(int n) {  // n <= 24
        if (n == 0) return 0;
        while (count < n) {
            uint32_t byte = pos < size ? in[pos] : 0;
            ++pos;
            buffer |= byte << (24 - count);
            count += 8;
        }
        uint32_t v = buffer >> (32 - n);
        buffer <<= n;
        count -= n;
        return v;
    }
    bool Overrun() const { return pos > size + kMaxOverrunBytes; }
};

QuantumDecoder::QuantumDecoder(std::pmr::memory_resource* memory) : window_(memory) {}

bool QuantumDecoder::Init(int windowBits) {
    outOfMemory_ = false;
    failed_ = true;
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return false;
    windowBits_ = windowBits;
    windowSize_ = 1u << windowBits;
    TESSERA_TRY {
        window_.assign(windowSize_, 0);
    } TESSERA_CATCH(const std::bad_alloc&) {
        outOfMemory_ = true;
        return false;
    }
    Reset();
    return true;
}

void QuantumDecoder::InitModel(Model& model, Symbol* storage, int start, int count) {
    model.entries = count;
    model.shiftsLeft = 4;
    model.symbols = storage;
    for (int i = 0; i <= count; ++i) {
        storage[i].symbol = static_cast<uint16_t>(start + i);
        storage[i].cumulative = static_cast<uint16_t>(count - i);
    }
}

void QuantumDecoder::Reset() {
    if (windowSize_ == 0) return;
    failed_ = false;
    // The window is not cleared: a match may reach back only over bytes
    // decoded since this reset (offset <= totalOut_).
    windowPos_ = 0;
    totalOut_ = 0;
    int slots = windowBits_ * 2;
    for (int i = 0; i < 4; ++i) InitModel(literals_[i], literalSyms_[i], 64 * i, 64);
    InitModel(match3_, match3Syms_, 0, slots > 24 ? 24 : slots);
    InitModel(match4_, match4Syms_, 0, slots > 36 ? 36 : slots);
    InitModel(matchLong_, matchLongSyms_, 0, slots);
    InitModel(lengthModel_, lengthSyms_, 0, 27);
    InitModel(selector_, selectorSyms_, 0, 7);
}

void QuantumDecoder::Rescale(Model& model) {
    Symbol* s = model.symbols;
    const int n = model.entries;
    if (--model.shiftsLeft) {
        // Halve the cumulative values, keeping them strictly decreasing.
        for (int i = n - 1; i >= 0; --i) {
            s[i].cumulative = static_cast<uint16_t>(s[i].cumulative >> 1);
            if (s[i].cumulative <= s[i + 1].cumulative) s[i].cumulative = static_cast<uint16_t>(s[i + 1].cumulative + 1);
        }
        return;
    }
    model.shiftsLeft = 50;
    // To plain frequencies (halved, never zero), sort them in decreasing
    // order with a stable-as-specified exchange sort, and sum back up.
    for (int i = 0; i < n; ++i) {
        uint16_t f = static_cast<uint16_t>(s[i].cumulative - s[i + 1].cumulative + 1);
        s[i].cumulative = static_cast<uint16_t>(f >> 1);
    }
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (s[i].cumulative < s[j].cumulative) {
                Symbol t = s[i];
                s[i] = s[j];
                s[j] = t;
            }
    for (int i = n - 1; i >= 0; --i) s[i].cumulative = static_cast<uint16_t>(s[i].cumulative + s[i + 1].cumulative);
}

int QuantumDecoder::Decode(Coder& c, Model& model) {
    Symbol* s = model.symbols;
    uint32_t range = ((c.high - c.low) & 0xFFFF) + 1;
    uint32_t total = s[0].cumulative;
    uint32_t target = ((((c.code - c.low + 1) & 0xFFFF) * total - 1) / range) & 0xFFFF;
    int i = 1;
    while (i < model.entries && s[i].cumulative > target) ++i;
    int symbol = s[i - 1].symbol;

    c.high = (c.low + (s[i - 1].cumulative * range) / total - 1) & 0xFFFF;
    c.low = (c.low + (s[i].cumulative * range) / total) & 0xFFFF;

    while (i > 0) {
        --i;
        s[i].cumulative = static_cast<uint16_t>(s[i].cumulative + 8);
    }
    if (s[0].cumulative > 3800) Rescale(model);

    for (;;) {
        if ((c.low & 0x8000) != (c.high & 0x8000)) {
            if ((c.low & 0x4000) && !(c.high & 0x4000)) {
                c.code ^= 0x4000;
                c.low &= 0x3FFF;
                c.high |= 0x4000;
            } else {
                break;
            }
        }
        c.low = (c.low << 1) & 0xFFFF;
        c.high = ((c.high << 1) | 1) & 0xFFFF;
        c.code = ((c.code << 1) | c.Read(1)) & 0xFFFF;
    }
    return symbol;
}

bool QuantumDecoder::DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if (failed_ || outSize > kFrameSize) {
        failed_ = true;
        return false;
    }
    if (outSize == 0) return true;
    Coder c(in, inSize);
    c.code = c.Read(16);
    uint8_t* window = window_.data();
    const uint32_t mask = windowSize_ - 1;
    size_t produced = 0;
    while (produced < outSize) {
        if (c.Overrun()) break;
        int selector = Decode(c, selector_);
        if (selector < 4) {
            uint8_t byte = static_cast<uint8_t>(Decode(c, literals_[selector]));
            window[windowPos_] = byte;
            windowPos_ = (windowPos_ + 1) & mask;
            out[produced++] = byte;
            ++totalOut_;
            continue;
        }
        uint32_t length, slot;
        if (selector == 4) {
            slot = static_cast<uint32_t>(Decode(c, match3_));
            length = 3;
        } else if (selector == 5) {
            slot = static_cast<uint32_t>(Decode(c, match4_));
            length = 4;
        } else {
            uint32_t ls = static_cast<uint32_t>(Decode(c, lengthModel_));
            length = kTables.lengthBase[ls] + c.Read(kTables.lengthExtra[ls]) + 5;
            slot = static_cast<uint32_t>(Decode(c, matchLong_));
        }
        uint32_t offset = kTables.positionBase[slot] + c.Read(kTables.positionExtra[slot]) + 1;
        if (length > outSize - produced || offset > windowSize_ || offset > totalOut_) break;
        uint32_t src = (windowPos_ + windowSize_ - offset) & mask;
        for (uint32_t k = 0; k < length; ++k) {
            uint8_t byte = window[(src + k) & mask];
            window[windowPos_] = byte;
            windowPos_ = (windowPos_ + 1) & mask;
            out[produced++] = byte;
        }
        totalOut_ += length;
    }
    if (produced != outSize || c.Overrun()) {
        failed_ = true;
        return false;
    }
    return true;
}

}  // namespace tessera::quantum
