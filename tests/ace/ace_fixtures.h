// Tiny ACE archives and LZ77 streams built field by field for the tests and
// the fuzz seeds. The LZ77 writer spells out code widths the simple way (every
// width as a 4-bit delta code, no zero runs) and takes each symbol's code from
// the same fill order the format defines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/ace/ace_lz77.h"
#include "codecs/crc32/crc32.h"

namespace tessera::ace::fixtures {

// MSB-first bits packed into 32-bit little-endian words.
class BitWriter {
public:
    void Put(uint32_t value, unsigned count) {
        for (unsigned k = count; k-- > 0;) {
            word_ = word_ << 1 | ((value >> k) & 1);
            if (++used_ == 32) Flush();
        }
    }
    std::vector<uint8_t> Finish() {
        if (used_ > 0) {
            word_ <<= 32 - used_;
            used_ = 32;
            Flush();
        }
        return bytes_;
    }

private:
    void Flush() {
        for (int k = 0; k < 4; ++k) bytes_.push_back(static_cast<uint8_t>(word_ >> (8 * k)));
        word_ = 0;
        used_ = 0;
    }
    std::vector<uint8_t> bytes_;
    uint32_t word_ = 0;
    unsigned used_ = 0;
};

struct Code {
    uint32_t bits = 0;
    unsigned width = 0;
};

// Codes as a lookup table of 2^maxWidth entries assigns them: symbols sorted
// longest first fill the table from its end of the order, starting at entry 0.
inline std::vector<Code> CodesFor(const std::vector<uint8_t>& widths, unsigned maxWidth) {
    std::vector<uint8_t> keys(widths);
    std::vector<uint16_t> order(widths.size());
    for (size_t s = 0; s < order.size(); ++s) order[s] = static_cast<uint16_t>(s);
    AceSortByWidth(keys.data(), order.data(), keys.size());
    std::vector<Code> codes(widths.size());
    uint32_t entry = 0;
    size_t used = 0;
    while (used < keys.size() && keys[used]) ++used;
    for (size_t k = used; k-- > 0;) {
        if (keys[k] > maxWidth) break;  // an invalid list: the decoder refuses it anyway
        codes[order[k]] = {entry >> (maxWidth - keys[k]), keys[k]};
        entry += 1u << (maxWidth - keys[k]);
    }
    return codes;
}

// Writes a width list: 9-bit count, lowest width 0, 15 literal delta values,
// every delta coded in 4 bits.
inline void PutWidths(BitWriter& out, const std::vector<uint8_t>& widths) {
    out.Put(static_cast<uint32_t>(widths.size() - 1), 9);
    out.Put(0, 4);
    out.Put(15, 4);
    std::vector<uint8_t> widthWidths(16, 4);
    for (int v = 0; v < 16; ++v) out.Put(4, 3);
    std::vector<Code> codes = CodesFor(widthWidths, kAceWidthCodeWidth);
    uint8_t previous = 0;
    for (size_t s = 0; s < widths.size(); ++s) {
        unsigned delta = s == 0 ? widths[0] : (widths[s] + 15 - previous) % 15;
        out.Put(codes[delta].bits, codes[delta].width);
        previous = widths[s];
    }
}

// One LZ77 block writer with fixed tables: every main symbol 0..281 of width
// 9 and every length 0..255 of width 8 (unless other widths are given).
class Lz77Writer {
public:
    explicit Lz77Writer(std::vector<uint8_t> mainWidths = std::vector<uint8_t>(kAceMainSymbols, 9),
                        std::vector<uint8_t> lengthWidths = std::vector<uint8_t>(256, 8))
        : mainWidths_(std::move(mainWidths)), lengthWidths_(std::move(lengthWidths)) {}

    void Block(unsigned symbolCount) {
        PutWidths(bits, mainWidths_);
        PutWidths(bits, lengthWidths_);
        bits.Put(symbolCount, 15);
        main_ = CodesFor(mainWidths_, kAceMaxCodeWidth);
        lengths_ = CodesFor(lengthWidths_, kAceMaxCodeWidth);
    }
    void Symbol(unsigned s) { bits.Put(main_[s].bits, main_[s].width); }
    void Length(unsigned l) { bits.Put(lengths_[l].bits, lengths_[l].width); }
    void Literal(uint8_t c) { Symbol(c); }
    // A new distance (bytes back minus one) and the length code.
    void Match(uint32_t distance, unsigned lengthCode) {
        if (distance < 2) {
            Symbol(260 + distance);
        } else {
            unsigned top = 31 - __builtin_clz(distance);
            Symbol(261 + top);
            bits.Put(distance - (1u << top), top);
        }
        Length(lengthCode);
    }
    BitWriter bits;

private:
    std::vector<uint8_t> mainWidths_, lengthWidths_;
    std::vector<Code> main_, lengths_;
};

inline void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v));
    Put16(b, static_cast<uint16_t>(v >> 16));
}

// Frames header bytes (from HEAD_TYPE on) with HEAD_CRC and HEAD_SIZE.
inline std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    Put16(out, static_cast<uint16_t>(Crc32Update(0xFFFFFFFFu, body.data(), body.size()) & 0xFFFF));
    Put16(out, static_cast<uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline std::vector<uint8_t> MainHeader(uint16_t flags, uint8_t volume = 0,
                                       const std::vector<uint8_t>& packedComment = {}) {
    std::vector<uint8_t> b;
    b.push_back(0);
    Put16(b, flags);
    for (char c : std::string("**ACE**")) b.push_back(static_cast<uint8_t>(c));
    b.push_back(10);  // version to extract
    b.push_back(10);  // version created
    b.push_back(0);   // host
    b.push_back(volume);
    Put32(b, 0x2A2C6000);  // time
    for (int k = 0; k < 8; ++k) b.push_back(0);
    b.push_back(0);  // no AV string
    if (flags & 0x0002) {
        Put16(b, static_cast<uint16_t>(packedComment.size()));
        b.insert(b.end(), packedComment.begin(), packedComment.end());
    }
    return Frame(b);
}

struct FileSpec {
    std::string name;
    std::vector<uint8_t> packed;  // the data area
    uint32_t size = 0;            // unpacked size
    uint32_t crcRegister = 0;     // CRC-32 register of the unpacked data
    uint8_t techType = 0;
    uint16_t techParm = 0;
    uint16_t flags = 0;           // besides 0x0001, which is always set
    uint32_t attributes = 0x20;
    std::vector<uint8_t> packedComment;
    int64_t packedSizeOverride = -1;  // a PSIZE that does not match the data
};

inline std::vector<uint8_t> FileHeader(const FileSpec& f) {
    std::vector<uint8_t> b;
    b.push_back(1);
    uint16_t flags = static_cast<uint16_t>(f.flags | 0x0001 | (f.packedComment.empty() ? 0 : 0x0002));
    Put16(b, flags);
    Put32(b, f.packedSizeOverride >= 0 ? static_cast<uint32_t>(f.packedSizeOverride)
                                       : static_cast<uint32_t>(f.packed.size()));
    Put32(b, f.size);
    Put32(b, 0x2A2C6000);
    Put32(b, f.attributes);
    Put32(b, f.crcRegister);
    b.push_back(f.techType);
    b.push_back(0);
    Put16(b, f.techParm);
    Put16(b, 0);
    Put16(b, static_cast<uint16_t>(f.name.size()));
    b.insert(b.end(), f.name.begin(), f.name.end());
    if (!f.packedComment.empty()) {
        Put16(b, static_cast<uint16_t>(f.packedComment.size()));
        b.insert(b.end(), f.packedComment.begin(), f.packedComment.end());
    }
    std::vector<uint8_t> out = Frame(b);
    out.insert(out.end(), f.packed.begin(), f.packed.end());
    return out;
}

inline FileSpec StoredFile(const std::string& name, const std::string& text) {
    FileSpec f;
    f.name = name;
    f.packed.assign(text.begin(), text.end());
    f.size = static_cast<uint32_t>(text.size());
    f.crcRegister = Crc32Update(0xFFFFFFFFu, text.data(), text.size());
    return f;
}

// "abcabcabc..." of `size` bytes as one literal run and one match.
inline FileSpec Lz77File(const std::string& name, uint32_t size) {
    Lz77Writer w;
    w.Block(4);
    w.Literal('a');
    w.Literal('b');
    w.Literal('c');
    w.Match(2, size - 3 - 2);  // 3 back, base length 2
    std::string text;
    for (uint32_t k = 0; k < size; ++k) text += static_cast<char>('a' + k % 3);
    FileSpec f;
    f.name = name;
    f.packed = w.bits.Finish();
    f.size = size;
    f.crcRegister = Crc32Update(0xFFFFFFFFu, text.data(), text.size());
    f.techType = 1;
    f.techParm = 0;
    return f;
}

inline std::vector<uint8_t> Archive(uint16_t mainFlags, const std::vector<FileSpec>& files, uint8_t volume = 0) {
    std::vector<uint8_t> out = MainHeader(mainFlags, volume);
    for (const FileSpec& f : files) {
        std::vector<uint8_t> h = FileHeader(f);
        out.insert(out.end(), h.begin(), h.end());
    }
    return out;
}

// A comment as the comment method stores it: 15-bit length, one width list
// for the 282 symbols, then the codes. `symbols` are literal characters
// (below 256) or copies (256 + n copies n + 2 characters).
inline std::vector<uint8_t> PackedComment(unsigned declaredLength, const std::vector<unsigned>& symbols) {
    BitWriter out;
    out.Put(declaredLength, 15);
    std::vector<uint8_t> widths(kAceMainSymbols, 9);
    PutWidths(out, widths);
    std::vector<Code> codes = CodesFor(widths, kAceMaxCodeWidth);
    for (unsigned s : symbols) out.Put(codes[s].bits, codes[s].width);
    return out.Finish();
}

}  // namespace tessera::ace::fixtures
