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
#include "codecs/codec_result.h"

namespace tessera {

class ArjDecoder {
public:
    static constexpr uint32_t kWindowSize = 26624;

    ArjDecoder();
    ~ArjDecoder();

    // Decode one entry's compressed data from `source` (which ends where the
    // entry's compressed size ends) into exactly `originalSize` bytes.
    // A null sink decodes without output.
    CodecResult DecodeStandard(ByteSource& source, ByteSink* sink, uint64_t originalSize);  // 1-3
    CodecResult DecodeFastest(ByteSource& source, ByteSink* sink, uint64_t originalSize);   // 4

private:
    struct Tables;  // the three code tables of methods 1-3

    std::vector<uint8_t> window_;
    std::unique_ptr<Tables> tables_;
};

}  // namespace tessera
