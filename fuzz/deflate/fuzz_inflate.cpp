// Inflate on arbitrary input, in both modes: a whole stream through a source
// cut into pieces of a size the input chooses, and cabinet-style blocks that
// keep the window between them. Output is bounded by the sinks.
#include <cstddef>
#include <cstdint>

#include "codecs/deflate/inflate.h"

namespace {

class PiecewiseSource final : public tessera::ByteSource {
public:
    PiecewiseSource(const uint8_t* data, size_t size, size_t step) : data_(data), size_(size), step_(step) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t n = size_ - position_;
        if (n > capacity) n = capacity;
        if (n > step_) n = step_;
        for (size_t i = 0; i < n; ++i) buffer[i] = data_[position_ + i];
        position_ += n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_, step_, position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessera::Inflater inflater;  // reused across inputs, as across the entries of a run
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    if ((mode & 1) == 0) {
        PiecewiseSource source(data, size, (mode >> 1) ? (mode >> 1) : 4096);
        tessera::VectorSink sink(1 << 20);
        const tessera::CodecResult result = inflater.Inflate(source, sink);
        if (result < tessera::CodecResult::kAborted || result > tessera::CodecResult::kBadBlock) __builtin_trap();
        if (result == tessera::CodecResult::kOk && inflater.UnusedInputSize() > size) __builtin_trap();
    } else {
        // Two blocks: the input split where the mode byte says.
        static uint8_t out[32768];
        const size_t split = size * (mode >> 1) / 128;
        size_t produced;
        inflater.ResetHistory();
        if (inflater.InflateBlock(data, split, out, sizeof out, &produced) == tessera::CodecResult::kOk) {
            if (produced > sizeof out) __builtin_trap();
            inflater.InflateBlock(data + split, size - split, out, sizeof out, &produced);
            if (produced > sizeof out) __builtin_trap();
        }
    }
    return 0;
}
