// ACE 1.0 LZ77, stored and comment decoding (see ace_lz77.h for the layout).
#include "codecs/ace/ace_lz77.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codecs/crc32/crc32.h"

namespace tessera::ace {

// ---------------------------------------------------------------------------
// Bit reader

uint32_t AceBitReader::NextWord() {
    if (end_ - next_ < 4 && !sourceDone_) {
        size_t left = end_ - next_;
        std::memmove(buffer_, buffer_ + next_, left);
        next_ = 0;
        end_ = left;
        while (end_ < 4) {
            size_t got = source_.Read(buffer_ + end_, kPiece - end_);
            if (got == 0) {
                sourceDone_ = true;
                break;
            }
            end_ += got;
        }
    }
    size_t left = end_ - next_;
    if (left == 0) return 0;  // padding past the end; not counted as data
    uint8_t word[4] = {0, 0, 0, 0};
    size_t take = left < 4 ? left : 4;  // a short last word is padded with zeros
    std::memcpy(word, buffer_ + next_, take);
    next_ += take;
    realBits_ += 32;
    return static_cast<uint32_t>(word[0]) | static_cast<uint32_t>(word[1]) << 8 |
           static_cast<uint32_t>(word[2]) << 16 | static_cast<uint32_t>(word[3]) << 24;
}

void AceBitReader::Fill() {
    while (available_ <= 32) {
        bits_ |= static_cast<uint64_t>(NextWord()) << (32 - available_);
        available_ += 32;
    }
}

// ---------------------------------------------------------------------------
// Code tables

// The quicksort of the format's definition: pivot is the last key of the
// range, two-element ranges are settled by a compare. Equal keys end up in
// whatever order this leaves them, and the codes depend on that order.
static void SortRange(uint8_t* keys, uint16_t* values, int left, int right) {
    int i = left, j = right;
    const uint8_t pivot = keys[right];
    do {
        while (i <= right && keys[i] > pivot) ++i;
        while (j >= left && keys[j] < pivot) --j;
        if (i <= j) {
            std::swap(keys[i], keys[j]);
            std::swap(values[i], values[j]);
            ++i;
            --j;
        }
    } while (i < j);
    if (left < j) {
        if (left < j - 1) {
            SortRange(keys, values, left, j);
        } else if (keys[left] < keys[j]) {
            std::swap(keys[left], keys[j]);
            std::swap(values[left], values[j]);
        }
    }
    if (right > i) {
        if (i < right - 1) {
            SortRange(keys, values, i, right);
        } else if (keys[i] < keys[right]) {
            std::swap(keys[i], keys[right]);
            std::swap(values[i], values[right]);
        }
    }
}

void AceSortByWidth(uint8_t* widths, uint16_t* symbols, size_t count) {
    if (count > 0) SortRange(widths, symbols, 0, static_cast<int>(count) - 1);
}

bool AceCodeTable::Build(const uint8_t* widths, unsigned count, unsigned maxWidth) {
    if (count == 0 || count > kAceMaxTableSymbols || maxWidth > kAceMaxCodeWidth) return false;
    maxWidth_ = maxWidth;
    std::memset(widths_, 0, sizeof widths_);
    std::memcpy(widths_, widths, count);

    uint8_t keys[kAceMaxTableSymbols];
    uint16_t order[kAceMaxTableSymbols];
    std::memcpy(keys, widths, count);
    for (unsigned s = 0; s < count; ++s) order[s] = static_cast<uint16_t>(s);
    AceSortByWidth(keys, order, count);

    unsigned used = 0;
    while (used < count && keys[used] != 0) ++used;
    if (used < 2) {
        // A code of one symbol (or none) still takes one bit per symbol; the
        // table is filled by the symbol's sorted width as it stood.
        widths_[order[0]] = 1;
        if (used == 0) used = 1;
    }

    const uint32_t total = 1u << maxWidth;
    uint32_t filled = 0;
    for (unsigned k = used; k-- > 0;) {
        if (keys[k] > maxWidth) return false;
        uint32_t span = 1u << (maxWidth - keys[k]);
        if (span > total - filled) return false;  // more entries than 2^maxWidth: invalid code
        for (uint32_t e = 0; e < span; ++e) lookup_[filled + e] = order[k];
        filled += span;
    }
    for (uint32_t e = filled; e < total; ++e) lookup_[e] = kNoSymbol;
    return true;
}

bool AceCodeTable::Read(AceBitReader& bits, unsigned symbolCount, unsigned maxWidth) {
    unsigned count = bits.Read(9) + 1;  // highest symbol with a width, plus one
    if (count > symbolCount + 1) count = symbolCount + 1;
    const unsigned lowest = bits.Read(4);
    const unsigned escape = bits.Read(4);  // values 0..escape-1 literal, escape = run of zeros

    uint8_t widthWidths[16];
    for (unsigned v = 0; v <= escape; ++v) widthWidths[v] = static_cast<uint8_t>(bits.Read(3));
    AceCodeTable widthCode;
    if (!widthCode.Build(widthWidths, escape + 1, kAceWidthCodeWidth)) return false;

    uint8_t widths[kAceMaxTableSymbols];
    unsigned n = 0;
    while (n < count) {
        int value = widthCode.Decode(bits);
        if (value < 0 || bits.Overrun()) return false;
        if (static_cast<unsigned>(value) < escape) {
            widths[n++] = static_cast<uint8_t>(value);
        } else {
            unsigned run = bits.Read(4) + 4;
            if (run > count - n) run = count - n;
            std::memset(widths + n, 0, run);
            n += run;
        }
    }
    if (escape > 0) {
        for (unsigned s = 1; s < count; ++s) widths[s] = static_cast<uint8_t>((widths[s] + widths[s - 1]) % escape);
    }
    for (unsigned s = 0; s < count; ++s) {
        if (widths[s] != 0) widths[s] = static_cast<uint8_t>(widths[s] + lowest);
    }
    return Build(widths, count, maxWidth);
}

// ---------------------------------------------------------------------------
// Decoder

AceDecoder::AceDecoder(unsigned dictionaryBits) {
    for (unsigned bits = dictionaryBits; bits >= kMinDictionaryBits; --bits) {
        ring_.reset(new (std::nothrow) uint8_t[size_t{1} << bits]);
        if (ring_) {
            dictionaryBits_ = bits;
            mask_ = (uint32_t{1} << bits) - 1;
            break;
        }
    }
    main_.reset(new (std::nothrow) AceCodeTable);
    lengths_.reset(new (std::nothrow) AceCodeTable);
    if (!main_ || !lengths_) ring_.reset();
}

AceDecoder::~AceDecoder() = default;

void AceDecoder::BeginEntry(bool keepState) {
    // The distance history starts empty with every entry, solid or not: solid
    // archives written by ACE itself only decode that way.
    std::memset(history_, 0, sizeof history_);
    if (keepState) return;
    position_ = 0;
    filled_ = 0;
    broken_ = false;
}

bool AceDecoder::Flush(bool all) {
    // The ring is at least 4 KiB and is emptied every 2 KiB (plus one match),
    // so pending bytes are never overwritten before they leave.
    while (pending_ >= 2048 || (all && pending_ > 0)) {
        uint32_t start = (position_ - pending_) & mask_;
        uint32_t piece = std::min<uint32_t>(pending_, 2048);
        piece = std::min<uint32_t>(piece, mask_ + 1 - start);
        crc_ = Crc32Update(crc_, ring_.get() + start, piece);
        if (out_ && !out_->Write(ring_.get() + start, piece)) return false;
        pending_ -= piece;
    }
    return true;
}

CodecResult AceDecoder::Decode(uint8_t techType, uint16_t techParm, uint32_t size, ByteSource& packed,
                                  ByteSink* out) {
    out_ = out;
    size_ = size;
    produced_ = 0;
    pending_ = 0;
    crc_ = 0xFFFFFFFFu;
    CodecResult result;
    if (!Ready()) {
        result = CodecResult::kDictionaryTooLarge;
    } else if (broken_) {
        result = CodecResult::kStaleWindow;
    } else if (techType == 0) {
        result = DecodeStored(packed);
    } else if (techType == 1) {
        result = FitsDictionary(techParm) ? DecodeLz77(packed) : CodecResult::kDictionaryTooLarge;
    } else {
        result = CodecResult::kUnknownMethod;
    }
    // What was decoded before damage still goes out (and into the CRC).
    if (result != CodecResult::kAborted && !Flush(true)) result = CodecResult::kAborted;
    if (result != CodecResult::kOk) broken_ = true;  // the window no longer follows the archive
    out_ = nullptr;
    return result;
}

CodecResult AceDecoder::DecodeStored(ByteSource& packed) {
    uint8_t piece[2048];
    while (produced_ < size_) {
        size_t want = std::min<uint32_t>(sizeof piece, size_ - produced_);
        size_t got = packed.Read(piece, want);
        if (got == 0) return CodecResult::kTruncated;
        for (size_t k = 0; k < got; ++k) PutByte(piece[k]);
        if (!Flush(false)) return CodecResult::kAborted;
    }
    return CodecResult::kOk;
}

CodecResult AceDecoder::DecodeLz77(ByteSource& packed) {
    AceBitReader bits(packed);
    uint32_t blockLeft = 0;  // main symbols left in the current block
    while (produced_ < size_) {
        if (blockLeft == 0) {
            if (!main_->Read(bits, kAceMainSymbols, kAceMaxCodeWidth) ||
                !lengths_->Read(bits, kAceLengthSymbols, kAceMaxCodeWidth))
                return bits.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;
            blockLeft = bits.Read(15);
            if (bits.Overrun()) return CodecResult::kTruncated;
            continue;
        }
        --blockLeft;
        int symbol = main_->Decode(bits);
        if (symbol < 0) return bits.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;
        if (symbol < 256) {
            PutByte(static_cast<uint8_t>(symbol));
        } else {
            uint32_t distance, length;
            if (symbol < 260) {
                unsigned place = static_cast<unsigned>(symbol) - 256;
                distance = history_[place];
                for (unsigned k = place; k > 0; --k) history_[k] = history_[k - 1];
                history_[0] = distance;
                length = place < 2 ? 2 : 3;
            } else if (symbol < static_cast<int>(kAceMainSymbols)) {
                unsigned extra = static_cast<unsigned>(symbol) - 260;  // 0 or 1 bits carry themselves
                distance = extra < 2 ? extra : bits.Read(extra - 1) + (uint32_t{1} << (extra - 1));
                history_[3] = history_[2];
                history_[2] = history_[1];
                history_[1] = history_[0];
                history_[0] = distance;
                length = distance > 8191 ? 4 : distance > 255 ? 3 : 2;
            } else {
                return CodecResult::kBadData;  // past the table of this method
            }
            int lengthSymbol = lengths_->Decode(bits);
            if (lengthSymbol < 0) return bits.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;
            length += static_cast<uint32_t>(lengthSymbol);
            if (distance >= filled_) return CodecResult::kBadData;  // before the first byte of output
            length = std::min(length, size_ - produced_);
            uint32_t from = (position_ - distance - 1) & mask_;
            for (uint32_t k = 0; k < length; ++k) {
                PutByte(ring_[from]);
                from = (from + 1) & mask_;
            }
        }
        if (bits.Overrun()) return CodecResult::kTruncated;
        if (pending_ >= 2048 && !Flush(false)) return CodecResult::kAborted;
    }
    return CodecResult::kOk;
}

// ---------------------------------------------------------------------------
// Comments

CodecResult DecodeAceComment(const uint8_t* packed, size_t packedSize, char* out, size_t capacity,
                                size_t* length) {
    *length = 0;
    if (capacity == 0) return CodecResult::kAborted;
    out[0] = '\0';
    MemorySource source(packed, packedSize);
    AceBitReader bits(source);
    size_t want = bits.Read(15);
    want = std::min({want, capacity - 1, kAceMaxCommentLength});
    if (want == 0) return CodecResult::kOk;
    AceCodeTable table;
    if (!table.Read(bits, kAceMainSymbols, kAceMaxCodeWidth))
        return bits.Overrun() ? CodecResult::kTruncated : CodecResult::kBadData;

    // Positions that last followed each sum of the two preceding characters.
    uint16_t lastSeen[511] = {};
    CodecResult result = CodecResult::kOk;
    size_t n = 0;
    while (n < want) {
        size_t from = 0;
        if (n >= 2) {
            unsigned context = static_cast<uint8_t>(out[n - 1]) + static_cast<uint8_t>(out[n - 2]);
            from = lastSeen[context];
            lastSeen[context] = static_cast<uint16_t>(n);
        }
        int symbol = table.Decode(bits);
        if (bits.Overrun()) {
            result = CodecResult::kTruncated;
            break;
        }
        if (symbol < 0 || symbol >= static_cast<int>(kAceMainSymbols)) {
            result = CodecResult::kBadData;
            break;
        }
        if (symbol < 256) {
            out[n++] = static_cast<char>(symbol);
            continue;
        }
        if (from >= n) {  // nothing to copy from yet
            result = CodecResult::kBadData;
            break;
        }
        size_t count = std::min<size_t>(static_cast<size_t>(symbol) - 254, want - n);
        for (size_t k = 0; k < count; ++k, ++n) out[n] = out[from + k];
    }
    out[n] = '\0';
    *length = n;
    return result;
}

}  // namespace tessera::ace
