// Decoders of the ARJ compression methods.
//
// Methods 1 to 3 share one decoder: LZ77 over a 26,624-byte window with
// static canonical Huffman codes sent per block (a character/length code of
// 510 symbols and a position code of 17 symbols, both sent through a 19-symbol
// code-length code). Method 4 ("fastest") codes lengths and distances with
// simple unary-prefixed numbers. Both write through the window, which is
// also the output piece size.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/byte_io.h"

namespace tessera {

enum class ArjResult {
    kOk,         // exactly the declared number of bytes was produced
    kBadData,    // an impossible code table, symbol or distance
    kTruncated,  // the compressed data ended well before the output was complete
    kAborted,    // the sink refused a write (cancel or write error)
};

class ArjDecoder {
public:
    static constexpr uint32_t kWindowSize = 26624;

    ArjDecoder();
    ~ArjDecoder();

    // Decode one entry's compressed data from `source` (which ends where the
    // entry's compressed size ends) into exactly `originalSize` bytes.
    // A null sink decodes without output.
    ArjResult DecodeStandard(ByteSource& source, ByteSink* sink, uint64_t originalSize);  // 1-3
    ArjResult DecodeFastest(ByteSource& source, ByteSink* sink, uint64_t originalSize);   // 4

private:
    struct Tables;  // the three code tables of methods 1-3

    std::vector<uint8_t> window_;
    std::unique_ptr<Tables> tables_;
};

}  // namespace tessera
