// MSZIP block coding over the Deflate codecs (see mszip.h).
#include "codecs/mszip/mszip.h"

#include <cstring>
#include <new>

#include "codecs/byte_io.h"
#include "codecs/deflate/deflate.h"
#include "codecs/deflate/inflate.h"

namespace tessera::mszip {

MszipDecoder::MszipDecoder() = default;
MszipDecoder::~MszipDecoder() = default;

bool MszipDecoder::Init() {
    inflater_.reset(new (std::nothrow) Inflater());
    return inflater_ != nullptr;
}

void MszipDecoder::Reset() {
    if (inflater_) inflater_->ResetHistory();
}

bool MszipDecoder::DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if (!inflater_ || inSize < 2 || in[0] != 'C' || in[1] != 'K') return false;
    size_t produced = 0;
    const CodecResult r = inflater_->InflateBlock(in + 2, inSize - 2, out, outSize, &produced);
    return r == CodecResult::kOk && produced == outSize;
}

MszipEncoder::MszipEncoder() = default;
MszipEncoder::~MszipEncoder() = default;

bool MszipEncoder::Init() {
    deflater_.reset(new (std::nothrow) Deflater());
    return deflater_ != nullptr;
}

void MszipEncoder::Reset() { keepHistory_ = false; }

// One stored Deflate block: "CK", the block bits (final, type 0) padded to a
// byte, LEN and NLEN, then the bytes.
static size_t StoreBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity) {
    if (outCapacity < inSize + 7) return 0;
    out[0] = 'C';
    out[1] = 'K';
    out[2] = 0x01;
    out[3] = static_cast<uint8_t>(inSize);
    out[4] = static_cast<uint8_t>(inSize >> 8);
    out[5] = static_cast<uint8_t>(~inSize);
    out[6] = static_cast<uint8_t>(~inSize >> 8);
    if (inSize) std::memcpy(out + 7, in, inSize);
    return inSize + 7;
}

namespace {

// Takes output up to a fixed capacity; refusing more stops the encoder.
class BoundedSink final : public ByteSink {
public:
    BoundedSink(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (size > capacity_ - size_) return false;
        std::memcpy(out_ + size_, data, size);
        size_ += size;
        return true;
    }
    size_t size_ = 0;

private:
    uint8_t* out_;
    size_t capacity_;
};

}  // namespace

// Each block is compressed as a Deflate stream of its own: the encoder
// offers no preset history, so blocks do not refer to earlier ones (valid
// MSZIP; the decoder keeps history for blocks that do). A block that does
// not shrink is stored.
size_t MszipEncoder::EncodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity) {
    keepHistory_ = inSize == 32768;
    if (deflater_ && outCapacity > 2 && inSize > 0) {
        MemorySource source(in, inSize);
        size_t limit = outCapacity - 2 < inSize + 5 ? outCapacity - 2 : inSize + 5;
        BoundedSink sink(out + 2, limit);
        DeflateFile file;
        file.level = 6;
        file.outputSeekable = false;
        if (deflater_->Compress(source, sink, file) == CodecResult::kOk && file.method == 8 && sink.size_ < inSize) {
            out[0] = 'C';
            out[1] = 'K';
            return sink.size_ + 2;
        }
    }
    return StoreBlock(in, inSize, out, outCapacity);
}

}  // namespace tessera::mszip
