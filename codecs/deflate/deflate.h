// Deflate encoder (RFC 1951) for ZIP method 8.
//
// One Deflater serves a whole run of files: its window (64 KiB), hash and
// chain tables (32,768 16-bit entries each, and 16,384 for three-byte
// strings), symbol buffers and output buffer are allocated once. Per file it
// matches greedily (levels 0-3) or lazily (levels 4-9), cuts blocks when the symbol
// buffer fills or an early estimate shows the block compresses well, and
// writes each block stored, with the fixed codes or with its own codes,
// whichever is smallest. A file that does not shrink at all in one block is
// written as is (method 0) when the caller can still rewrite its header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"

namespace tessera {

// The compression list "Maximum (slowest)|Very good|Normal|Low (very fast)|None|"
// by index: 9, 8, 6, 3, 0. An index above 4 counts as 4, -1 as 1.
int DeflateLevelFromIndex(int index);

// The deflate option of the general purpose flags (bits 1-2) for a level:
// 4 ("Fast") for levels 0-2, 2 ("Maximum") for 8-9, 0 ("Normal") otherwise.
uint16_t DeflateOptionFlags(int level);

// Internal file attribute bit 0: the data looks like text.
constexpr uint16_t kInternalAttributeText = 1;
constexpr uint16_t kInternalAttributesUnset = 0xFFFF;

struct DeflateFile {
    // In.
    int level = 6;                 // 0-9
    bool outputSeekable = true;    // the header can be rewritten: a file may fall back to method 0
    // In/out.
    uint16_t flags = 0;            // general purpose flags; bits 1-2 receive the deflate option
    uint16_t internalAttributes = kInternalAttributesUnset;  // unset: classified on the first block
    // Out.
    uint16_t method = 8;           // 8, or 0 when the data was written as it is
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
};

class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses everything `input` delivers into `output`.
    CodecResult Compress(ByteSource& input, ByteSink& output, DeflateFile& file);

    // Block mode for cabinet MSZIP: every data block of a folder is one
    // complete Deflate stream (its last block marked final, ending on a byte
    // boundary) whose matches may reach into the blocks before it. Call
    // ResetBlockHistory at the start of every folder, then CompressBlock for
    // each block of at most 32,768 input bytes in order. `out` needs room
    // for the block's stream: 32,768 + 5 bytes always suffice; less room
    // gives CodecResult::kAborted (and the history must then be reset). A
    // Compress call in between also resets it.
    void ResetBlockHistory();
    CodecResult CompressBlock(const uint8_t* in, size_t size, uint8_t* out, size_t capacity, size_t* outSize,
                      int level);

private:
    struct Buffers;
    struct Tree;

    void StartFile(int level);
    CodecResult RunMatcher();
    void FillWindow();
    unsigned InsertString(unsigned position);
    bool HasCandidate(unsigned chainHead) const;
    unsigned LongestMatch(unsigned chainHead);
    void CompressFast();
    void CompressLazy();
    bool TallyLiteral(uint8_t c);
    bool TallyMatch(unsigned distance, unsigned length);
    bool EarlyCut() const;
    void FlushBlock(bool last);
    void BuildTree(Tree& tree, unsigned maxBits);
    unsigned CountTreeCodes(const Tree& tree, unsigned maxCode, uint16_t* runs);
    void SendTree(const Tree& tree, unsigned maxCode);
    void SendSymbols(const Tree& lit, const Tree& dist);
    void SendStored(const uint8_t* data, size_t size, bool last);
    void PutBits(uint32_t value, unsigned count);
    void AlignToByte();
    void PutBytes(const uint8_t* data, size_t size);
    void FlushOutput();

    std::unique_ptr<Buffers> b_;
    ByteSource* input_ = nullptr;
    ByteSink* output_ = nullptr;
    DeflateFile* file_ = nullptr;

    // Level parameters.
    unsigned level_ = 6, goodLength_ = 0, lazyLength_ = 0, niceLength_ = 0, maxChain_ = 0;

    // Matcher state.
    unsigned strStart_ = 0;       // current position in the window
    unsigned lookahead_ = 0;      // valid bytes from strStart_ on
    long blockStart_ = 0;         // window position of the block's first byte; negative once slid out
    unsigned matchStart_ = 0;
    unsigned near3_ = 0;          // last earlier string with the same three bytes as the one inserted last
    unsigned matchLength_ = 0;
    unsigned prevLength_ = 0;
    bool inputDone_ = false;

    // Symbols of the current block.
    unsigned symbols_ = 0;        // entries in the literal/distance buffers
    unsigned matches_ = 0;        // of which matches
    bool firstBlock_ = true;

    // Output.
    uint64_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;
    size_t outPos_ = 0;
    uint64_t written_ = 0;        // bytes handed to the sink for this file
    bool aborted_ = false;
    bool historyValid_ = false;   // block mode: the window holds the folder's previous blocks
};

}  // namespace tessera
