// ARJ decoders for methods 1-3 (standard) and 4 (fastest).
//
// Bounds: code-length counts larger than their alphabets, zero runs past the
// end of a length list, single-symbol codes naming a symbol outside the
// alphabet and code-length sets that do not fill the code space exactly are
// all rejected as bad data; a match may reach back no further than the bytes
// produced so far and never beyond the window. Output stops at the declared
// size, and decoding fails once more than a few padding bytes past the end of
// the compressed data are consumed.
#include "codecs/arj/arj_decoder.h"

#include <algorithm>
#include <cstring>

#include "codecs/msb_bit_reader.h"
#include "codecs/msb_prefix_code.h"

namespace tessera {
namespace {

constexpr unsigned kCharSymbols = 510;  // 256 literals + lengths 3..256
constexpr unsigned kPosSymbols = 17;
constexpr unsigned kLenSymbols = 19;    // the code-length code
constexpr unsigned kMaxCodeBits = 16;

// One code table. A set of one symbol is stored with no code bits at all
// and kept as `single_`; every other set must fill its code space exactly.
class HuffmanTable {
public:
    bool Build(const uint8_t* lengths, unsigned count, unsigned tableBits) {
        single_ = -1;
        return code_.Build(lengths, count, tableBits) == PrefixCodeShape::kComplete;
    }

    void SetSingle(unsigned symbol) { single_ = static_cast<int>(symbol); }

    unsigned Decode(MsbBitReader& in) const {
        if (single_ >= 0) return static_cast<unsigned>(single_);
        unsigned length = 0;
        const int symbol = code_.Decode(in.Peek16(), length);  // a complete code always matches
        in.Skip(length);
        return static_cast<unsigned>(symbol);
    }

private:
    MsbPrefixCode<kCharSymbols, 12> code_;
    int single_ = -1;
};

// The window doubles as the output buffer: written out whenever it is full
// and at the end.
class WindowOutput {
public:
    WindowOutput(std::vector<uint8_t>& window, ByteSink* sink, uint64_t size)
        : w_(window.data()), sink_(sink), size_(size) {}

    bool Done() const { return produced_ >= size_; }
    bool Failed() const { return failed_; }

    void Put(uint8_t byte) {
        w_[pos_++] = byte;
        ++produced_;
        if (pos_ == ArjDecoder::kWindowSize) Flush();
    }

    // Copies `length` bytes from `distance` bytes back (1 = the last byte).
    bool Copy(uint32_t distance, uint32_t length) {
        if (distance > produced_ || distance > ArjDecoder::kWindowSize) return false;
        if (length > size_ - produced_) length = static_cast<uint32_t>(size_ - produced_);
        uint32_t from = pos_ >= distance ? pos_ - distance : pos_ + ArjDecoder::kWindowSize - distance;
        for (uint32_t i = 0; i < length; ++i) {
            w_[pos_++] = w_[from++];
            if (from == ArjDecoder::kWindowSize) from = 0;
            if (pos_ == ArjDecoder::kWindowSize) Flush();
        }
        produced_ += length;
        return true;
    }

    void Flush() {
        if (pos_ && sink_ && !failed_ && !sink_->Write(w_, pos_)) failed_ = true;
        pos_ = 0;
    }

private:
    uint8_t* w_;
    ByteSink* sink_;
    uint64_t size_;
    uint64_t produced_ = 0;
    uint32_t pos_ = 0;
    bool failed_ = false;
};

// Reads a length list of the code-length or position code: 3-bit lengths,
// where 7 grows by one per following 1 bit. With `zeroRunAfter3`, two bits
// after the third length give a run of zero lengths.
bool ReadShortLengths(MsbBitReader& in, HuffmanTable& table, unsigned symbols,
                      unsigned countBits, bool zeroRunAfter3) {
    uint8_t lengths[kLenSymbols] = {};
    unsigned n = in.Get(countBits);
    if (n == 0) {
        unsigned symbol = in.Get(countBits);
        if (symbol >= symbols) return false;
        table.SetSingle(symbol);
        return true;
    }
    if (n > symbols) return false;
    unsigned i = 0;
    while (i < n) {
        uint32_t peek = in.Peek16();
        unsigned len = peek >> 13;
        if (len == 7) {
            for (uint32_t mask = 1u << 12; peek & mask; mask >>= 1)
                if (++len > kMaxCodeBits) return false;
        }
        in.Skip(len < 7 ? 3 : len - 3);
        lengths[i++] = static_cast<uint8_t>(len);
        if (zeroRunAfter3 && i == 3) {
            unsigned zeros = in.Get(2);
            if (i + zeros > symbols) return false;
            while (zeros--) lengths[i++] = 0;
        }
    }
    return table.Build(lengths, symbols, 8);
}

bool ReadCharLengths(MsbBitReader& in, const HuffmanTable& lenCode, HuffmanTable& table) {
    uint8_t lengths[kCharSymbols] = {};
    unsigned n = in.Get(9);
    if (n == 0) {
        unsigned symbol = in.Get(9);
        if (symbol >= kCharSymbols) return false;
        table.SetSingle(symbol);
        return true;
    }
    if (n > kCharSymbols) return false;
    unsigned i = 0;
    while (i < n) {
        unsigned c = lenCode.Decode(in);
        if (c <= 2) {
            unsigned zeros = c == 0 ? 1 : c == 1 ? in.Get(4) + 3 : in.Get(9) + 20;
            if (i + zeros > kCharSymbols) return false;
            while (zeros--) lengths[i++] = 0;
        } else {
            lengths[i++] = static_cast<uint8_t>(c - 2);
        }
    }
    return table.Build(lengths, kCharSymbols, 12);
}

}  // namespace

struct ArjDecoder::Tables {
    HuffmanTable lenCode;
    HuffmanTable charCode;
    HuffmanTable posCode;
};

ArjDecoder::ArjDecoder() : window_(kWindowSize), tables_(new Tables) {}
ArjDecoder::~ArjDecoder() = default;

CodecResult ArjDecoder::DecodeStandard(ByteSource& source, ByteSink* sink, uint64_t originalSize) {
    MsbBitReader in(source);
    WindowOutput out(window_, sink, originalSize);
    HuffmanTable& lenCode = tables_->lenCode;
    HuffmanTable& charCode = tables_->charCode;
    HuffmanTable& posCode = tables_->posCode;
    uint32_t blockLeft = 0;
    while (!out.Done()) {
        if (in.Overrun()) return CodecResult::kTruncated;
        if (out.Failed()) return CodecResult::kAborted;
        if (blockLeft == 0) {
            blockLeft = in.Get(16);
            if (blockLeft == 0) blockLeft = 0x10000;  // a 16-bit count that wrapped
            if (!ReadShortLengths(in, lenCode, kLenSymbols, 5, true) ||
                !ReadCharLengths(in, lenCode, charCode) ||
                !ReadShortLengths(in, posCode, kPosSymbols, 5, false))
                return in.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;
        }
        --blockLeft;
        unsigned c = charCode.Decode(in);
        if (c < 256) {
            out.Put(static_cast<uint8_t>(c));
            continue;
        }
        uint32_t length = c - 253;
        unsigned j = posCode.Decode(in);
        uint32_t distance = j == 0 ? 0 : (1u << (j - 1)) + in.Get(j - 1);
        if (!out.Copy(distance + 1, length))
            return in.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;
    }
    out.Flush();
    if (out.Failed()) return CodecResult::kAborted;
    return CodecResult::kOk;
}

namespace {

// k leading 1 bits (at most `maxOnes`, a 0 bit ends them earlier), then
// `baseBits` + k bits x: the value (2^k - 1) << baseBits plus x.
uint32_t ReadPrefixed(MsbBitReader& in, unsigned maxOnes, unsigned baseBits) {
    unsigned k = 0;
    while (k < maxOnes && in.Get(1)) ++k;
    return (((1u << k) - 1) << baseBits) + in.Get(baseBits + k);
}

}  // namespace

CodecResult ArjDecoder::DecodeFastest(ByteSource& source, ByteSink* sink, uint64_t originalSize) {
    MsbBitReader in(source);
    WindowOutput out(window_, sink, originalSize);
    while (!out.Done()) {
        if (in.Overrun()) return CodecResult::kTruncated;
        if (out.Failed()) return CodecResult::kAborted;
        uint32_t value = ReadPrefixed(in, 7, 0);
        if (value == 0) {
            out.Put(static_cast<uint8_t>(in.Get(8)));
            continue;
        }
        uint32_t distance = ReadPrefixed(in, 4, 9);
        if (!out.Copy(distance + 1, value + 2))
            return in.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;
    }
    out.Flush();
    if (out.Failed()) return CodecResult::kAborted;
    return CodecResult::kOk;
}

}  // namespace tessera
