// ACE 1.0 decoders: the LZ77 method (technique 1), stored data (technique 0)
// and the comment method used for archive and entry comments.
//
// The LZ77 stream is read as 32-bit little-endian words, most significant bit
// first. Each block carries two prefix codes (main symbols and match lengths)
// given as code widths; symbols of equal width get their codes in the order a
// particular in-place quicksort leaves them, so that sort is part of the
// format and reproduced exactly here. Matches use a 4-entry distance history
// and a ring dictionary (2^20 bytes unless memory is short).
//
// All memory is taken when the decoder object is made; nothing a header says
// changes how much is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"

namespace tessera::ace {

inline constexpr unsigned kAceMainSymbols = 282;    // 256 literals, 4 repeats, 22 distance classes
inline constexpr unsigned kAceLengthSymbols = 255;
inline constexpr unsigned kAceMaxCodeWidth = 11;
inline constexpr unsigned kAceWidthCodeWidth = 7;   // the small code that carries the widths
// A width list may name one symbol past the table's count (9-bit field, capped
// at the count), so tables are sized one larger.
inline constexpr unsigned kAceMaxTableSymbols = kAceMainSymbols + 1;

// Sorts `widths` in place, longest first, moving `symbols` along; the order
// among equal widths is the one the format's own quicksort produces.
void AceSortByWidth(uint8_t* widths, uint16_t* symbols, size_t count);

// Bit reader over 32-bit little-endian words, most significant bit first.
// Past the end of the source it reads zeros; once more than one word of those
// has been consumed, Overrun() reports it and the decoders stop.
class AceBitReader {
public:
    explicit AceBitReader(ByteSource& source) : source_(source) {}

    uint32_t Peek(unsigned count) {  // count <= 32
        if (available_ < count) Fill();
        return count ? static_cast<uint32_t>(bits_ >> (64 - count)) : 0;
    }
    void Skip(unsigned count) {
        if (available_ < count) Fill();
        bits_ <<= count;
        available_ -= count;
        consumed_ += count;
    }
    uint32_t Read(unsigned count) {
        uint32_t value = Peek(count);
        Skip(count);
        return value;
    }
    bool Overrun() const { return consumed_ > realBits_ + kPaddingBits; }

private:
    static constexpr uint64_t kPaddingBits = 32;
    static constexpr size_t kPiece = 4096;  // packed bytes fetched at a time

    void Fill();
    uint32_t NextWord();

    ByteSource& source_;
    uint64_t bits_ = 0;       // next bits, left-aligned
    unsigned available_ = 0;  // valid bits in bits_
    uint64_t consumed_ = 0;   // bits handed out so far
    uint64_t realBits_ = 0;   // bits that came from the source
    uint8_t buffer_[kPiece];
    size_t next_ = 0, end_ = 0;
    bool sourceDone_ = false;
};

// Prefix code of one table: a lookup of 2^width entries indexed by the next
// `width` bits.
class AceCodeTable {
public:
    // Reads a width list for `symbolCount` symbols from the stream and builds
    // the table; false on invalid widths or an over-full code.
    bool Read(AceBitReader& bits, unsigned symbolCount, unsigned maxWidth);
    // Builds from `count` widths (count <= kAceMaxTableSymbols); may change
    // one width as the format requires for codes of fewer than two symbols.
    bool Build(const uint8_t* widths, unsigned count, unsigned maxWidth);
    // The next symbol, or -1 where the code has no entry.
    int Decode(AceBitReader& bits) {
        uint16_t symbol = lookup_[bits.Peek(maxWidth_)];
        if (symbol == kNoSymbol) return -1;
        bits.Skip(widths_[symbol]);
        return symbol;
    }

private:
    static constexpr uint16_t kNoSymbol = 0xFFFF;
    uint16_t lookup_[1u << kAceMaxCodeWidth];
    uint8_t widths_[kAceMaxTableSymbols] = {};
    unsigned maxWidth_ = 0;
};

// Decoder of one archive: the dictionary persists across the entries of a
// solid archive; the distance history and the code tables start afresh with
// every entry.
class AceDecoder {
public:
    // Takes a dictionary of 2^dictionaryBits bytes, halving it while the
    // allocation fails (down to 2^kMinDictionaryBits).
    explicit AceDecoder(unsigned dictionaryBits = 20);
    ~AceDecoder();
    AceDecoder(const AceDecoder&) = delete;
    AceDecoder& operator=(const AceDecoder&) = delete;

    static constexpr unsigned kMinDictionaryBits = 12;

    bool Ready() const { return ring_ != nullptr; }
    unsigned DictionaryBits() const { return dictionaryBits_; }
    // True when an entry with this TECH_PARM fits our dictionary.
    bool FitsDictionary(uint16_t techParm) const { return 10u + (techParm & 15u) <= dictionaryBits_; }

    // Starts an entry. keepState continues a solid run (the dictionary is
    // kept); otherwise it is forgotten.
    void BeginEntry(bool keepState);
    // Marks the window as no longer following the archive (an entry of the
    // solid run was refused or lost): later entries of the run fail with
    // kStaleWindow until BeginEntry(false).
    void MarkStale() { broken_ = true; }

    // Decodes one entry of `size` bytes from its packed data. `out` may be
    // null (testing, or an entry decoded only to keep a solid run in step).
    // Output goes out in pieces of at most 2,048 bytes and never beyond
    // `size`, whatever the packed data holds.
    CodecResult Decode(uint8_t techType, uint16_t techParm, uint32_t size, ByteSource& packed,
                          ByteSink* out);

    // CRC-32 register (started at all ones, not complemented) of the output
    // of the last Decode, as ACE stores it.
    uint32_t CrcRegister() const { return crc_; }
    // Bytes of the last entry produced so far.
    uint32_t Produced() const { return produced_; }

private:
    CodecResult DecodeStored(ByteSource& packed);
    CodecResult DecodeLz77(ByteSource& packed);
    bool Flush(bool all);
    void PutByte(uint8_t byte) {
        ring_[position_] = byte;
        position_ = (position_ + 1) & mask_;
        ++pending_;
        ++produced_;
        if (filled_ < mask_ + 1) ++filled_;
    }

    std::unique_ptr<uint8_t[]> ring_;
    unsigned dictionaryBits_ = 0;
    uint32_t mask_ = 0;
    uint32_t position_ = 0;   // next write position in the ring
    uint32_t filled_ = 0;     // bytes of the ring that hold output (distances may reach back this far)
    uint32_t pending_ = 0;    // bytes written to the ring and not yet handed to the sink
    uint32_t history_[4] = {};  // last four distances, most recent first
    bool broken_ = false;     // an entry of the current solid run failed
    ByteSink* out_ = nullptr;
    uint32_t size_ = 0;
    uint32_t produced_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu;
    std::unique_ptr<AceCodeTable> main_, lengths_;
};

// Longest comment produced: the 15-bit length field's maximum.
inline constexpr size_t kAceMaxCommentLength = 32767;

// Decodes a compressed comment into `out`, which receives at most
// capacity - 1 characters and always a terminating NUL (capacity >= 1).
// `length` receives the characters written. The declared length, the
// capacity and kAceMaxCommentLength all bound the output.
CodecResult DecodeAceComment(const uint8_t* packed, size_t packedSize, char* out, size_t capacity,
                                size_t* length);

}  // namespace tessera::ace
