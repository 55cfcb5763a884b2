// The result of one codec call, shared by every decoder and encoder here.
//
// The first values keep the numbers the ZIP decoders have always answered
// (0 success, 1 invalid data, 2 over-subscribed code set or reserved block,
// 3 out of memory, 4 bad tree description, 5 size mismatch): a table build
// result passes through unchanged, and callers key their error levels on
// them. The rest are what the other formats' decoders can tell apart.
#pragma once

namespace tessera {

enum class CodecResult : int {
    kOk = 0,
    kBadData = 1,             // an invalid code, symbol, distance or table description
    kBadBlock = 2,            // a code set with more codes than its lengths allow, or a
                              // reserved block type
    kNoMemory = 3,            // the codec's buffers or tables could not be allocated
    kBadTree = 4,             // a tree description whose counts do not add up
    kSizeMismatch = 5,        // the data ended elsewhere than its compressed size says
    kTruncated = 6,           // the input ended well before the output was complete
    kUnknownMethod = 7,       // a method or technique this codec does not implement
    kDictionaryTooLarge = 8,  // the data needs a bigger window than the codec has
    kStaleWindow = 9,         // an earlier entry of a solid run did not decode
    kAborted = -1,            // the sink refused output (cancel or write failure)
};

// A short English phrase for logs and test failures (user-facing messages
// are chosen by the formats, not here).
constexpr const char* CodecResultText(CodecResult result) {
    switch (result) {
        case CodecResult::kOk: return "ok";
        case CodecResult::kBadData: return "invalid compressed data";
        case CodecResult::kBadBlock: return "over-subscribed code set or reserved block";
        case CodecResult::kNoMemory: return "out of memory";
        case CodecResult::kBadTree: return "invalid tree description";
        case CodecResult::kSizeMismatch: return "compressed size does not match the data";
        case CodecResult::kTruncated: return "unexpected end of compressed data";
        case CodecResult::kUnknownMethod: return "unknown method";
        case CodecResult::kDictionaryTooLarge: return "dictionary too large";
        case CodecResult::kStaleWindow: return "an earlier entry of the solid archive failed";
        case CodecResult::kAborted: return "aborted";
    }
    return "?";
}

}  // namespace tessera
