// Explode: the decoder of ZIP method 6 (Implode), as the PKWARE application
// note describes it.
//
// The entry's flags choose the variant: bit 1 an 8 KiB dictionary (7 raw low
// distance bits) instead of 4 KiB (6 bits); bit 2 a literal tree and a
// minimum match of 3 instead of raw literals and a minimum match of 2. The
// trees are Shannon-Fano codes sent as runs of bit lengths, read with every
// input bit complemented. Output goes through the same 32 KiB window scheme
// as Inflate; until the window has been flushed once, a match reaching before
// the first output byte yields zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"
#include "codecs/deflate/huffman_table.h"

namespace tessera {

enum ExplodeResult : int {
    kExplodeOk = 0,
    kExplodeBadCode = 1,         // an invalid code, or an incomplete tree
    kExplodeOversubscribed = 2,  // a tree with more codes than its lengths allow
    kExplodeNoMemory = 3,
    kExplodeBadTree = 4,         // a tree description whose counts do not add up
    kExplodeSizeMismatch = 5,    // the data ended elsewhere than the compressed size says
    kExplodeAborted = -1,        // the sink refused output
};

class Exploder {
public:
    static constexpr size_t kWindowSize = 32768;

    Exploder();
    ~Exploder();
    Exploder(const Exploder&) = delete;
    Exploder& operator=(const Exploder&) = delete;

    // Decodes one entry: `source` delivers at most the entry's compressed
    // bytes, `uncompressedSize` bytes are produced. After the last byte the
    // input must be used up exactly; otherwise the result is 5 and UsedSize
    // tells how many compressed bytes the data took (more than
    // `compressedSize` when it needed bytes past the end: then at most a few
    // zero bytes were supplied before decoding stopped).
    CodecResult Explode(ByteSource& source, ByteSink& sink, uint16_t flags, uint64_t compressedSize,
                uint64_t uncompressedSize);
    uint64_t UsedSize() const { return usedSize_; }

private:
    CodecResult ReadTree(unsigned codes, unsigned rootBits, huffman::Entry* table, size_t capacity);
    bool NeedBits(unsigned n);
    int NextByte();
    unsigned Bits(unsigned n) const { return static_cast<unsigned>(bitBuffer_) & ((1u << n) - 1); }
    void Drop(unsigned n) { bitBuffer_ >>= n; bitCount_ -= n; }
    CodecResult Decode(const huffman::Entry* table, unsigned rootBits, unsigned* value);
    bool Flush();

    std::unique_ptr<uint8_t[]> window_;
    std::unique_ptr<uint8_t[]> input_;
    std::unique_ptr<huffman::Entry[]> tables_;

    ByteSource* source_ = nullptr;
    ByteSink* sink_ = nullptr;
    const uint8_t* in_ = nullptr;
    const uint8_t* inEnd_ = nullptr;
    uint64_t pulled_ = 0;       // bytes taken from the source
    unsigned fakeBytes_ = 0;    // zero bytes supplied past the end
    bool sourceDone_ = false;
    uint64_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;
    size_t position_ = 0;
    bool flushedOnce_ = false;
    uint64_t usedSize_ = 0;
};

}  // namespace tessera
