// Inflate: the decoder of Deflate streams (RFC 1951), ZIP method 8, gzip and
// cabinet MSZIP.
//
// One Inflater serves a whole run (an extraction or test of many entries): it
// allocates its window, input buffer and table space once, and the tables of
// the fixed codes are built on the first fixed block and kept until the
// object goes. The window is also the output buffer: the sink receives the
// output in pieces of up to about 224 KiB and the remainder at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/deflate/huffman_table.h"

namespace tessera {

enum InflateResult : int {
    kInflateOk = 0,
    kInflateBadData = 1,    // invalid data, a code set that may not be incomplete or empty,
                            // a distance before the first output byte, or the input ended early
    kInflateBadBlock = 2,   // block type 3 (reserved) or an over-subscribed code set
    kInflateNoMemory = 3,   // the decoder's buffers could not be allocated
    kInflateAborted = -1,   // the sink refused output (cancel or write failure)
};

class Inflater {
public:
    static constexpr size_t kWindowSize = 32768;

    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Decodes one complete stream (up to and including its final block) from
    // `source` into `sink`. The window starts empty; a distance reaching before
    // the first output byte is invalid data.
    CodecResult Inflate(ByteSource& source, ByteSink& sink);

    // Input the last Inflate fetched from its source but did not use (for
    // gzip: the trailer and whatever follows). Valid until the next call.
    const uint8_t* UnusedInput() const { return unusedData_; }
    size_t UnusedInputSize() const { return unusedSize_; }

    // Block mode for cabinet MSZIP. Each data block of a folder holds one
    // Deflate stream ending with a final block, whose matches may reach back
    // into the blocks before it (up to 32 KiB). Call ResetHistory at the start
    // of every folder, then InflateBlock for each block in order: it decodes
    // `in` (without the "CK" signature) into `out`, which must hold the
    // block's whole output; more output than `outCapacity` is invalid data.
    // The window carries over to the next call; after a failed block the
    // history is unusable until the next ResetHistory.
    void ResetHistory();
    CodecResult InflateBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity,
                     size_t* outSize);

private:
    CodecResult Run(ByteSource& source, ByteSink& sink, bool keepHistory);
    CodecResult StoredBlock();
    CodecResult FixedBlock();
    CodecResult DynamicBlock();
    CodecResult DecodeCodes(const huffman::Entry* lit, unsigned litBits, const huffman::Entry* dist,
                    unsigned distBits);
    bool SlowRefill();    // tops up the accumulator; false once bits past the end were used
    bool ReadMore();      // refills the input buffer from the source
    bool FlushWindow();   // false when the sink refused
    void Drop(unsigned n) { bitBuffer_ >>= n; bitCount_ -= n; }
    bool InputExhaustedEarly() const { return bitCount_ < 8 * fakeBytes_; }

    // Set-up buffers (allocated once; null after a failed allocation).
    std::unique_ptr<uint8_t[]> window_;  // 32 KiB history + output area + slack for one decoding step
    std::unique_ptr<uint8_t[]> input_;   // kept tail + read buffer
    std::unique_ptr<huffman::Entry[]> tables_;
    huffman::Entry* fixedLit_ = nullptr;   // fixed codes: built once, kept
    huffman::Entry* fixedDist_ = nullptr;
    huffman::Entry* dynLit_ = nullptr;     // dynamic block tables, rebuilt per block
    huffman::Entry* dynDist_ = nullptr;
    huffman::Entry* lengthCodes_ = nullptr;
    bool fixedBuilt_ = false;

    // Per-stream state.
    ByteSource* source_ = nullptr;
    ByteSink* sink_ = nullptr;
    uint64_t bitBuffer_ = 0;      // bits not yet used, next bit lowest
    unsigned bitCount_ = 0;       // valid bits in bitBuffer_ (fake zero bytes included)
    unsigned fakeBytes_ = 0;      // zero bytes appended after the source ended
    const uint8_t* in_ = nullptr;     // next unread byte of input_
    const uint8_t* inEnd_ = nullptr;
    size_t position_ = 0;         // write position in the window; all bytes before it are history
    size_t flushStart_ = 0;       // first window byte not yet given to the sink
    bool sourceDone_ = false;     // the source reported its end
    const uint8_t* unusedData_ = nullptr;
    size_t unusedSize_ = 0;
};

}  // namespace tessera
