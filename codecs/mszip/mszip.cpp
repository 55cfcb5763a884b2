// MSZIP block coding over the Deflate codecs (see mszip.h).
#include "codecs/mszip/mszip.h"

#include <cstring>
#include <new>

#if __has_include("codecs/deflate/inflate.h")
#include "codecs/deflate/inflate.h"
#define TESSERA_HAVE_INFLATE 1
#endif

namespace tessera {
#ifndef TESSERA_HAVE_INFLATE
class Inflater {};
#endif
class Deflater {};
}  // namespace tessera

namespace tessera::mszip {

MszipDecoder::MszipDecoder() = default;
MszipDecoder::~MszipDecoder() = default;

bool MszipDecoder::Init() {
    inflater_.reset(new (std::nothrow) Inflater());
    return inflater_ != nullptr;
}

void MszipDecoder::Reset() {
#ifdef TESSERA_HAVE_INFLATE
    if (inflater_) inflater_->ResetHistory();
#endif
}

bool MszipDecoder::DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if (!inflater_ || inSize < 2 || in[0] != 'C' || in[1] != 'K') return false;
#ifdef TESSERA_HAVE_INFLATE
    size_t produced = 0;
    int r = inflater_->InflateBlock(in + 2, inSize - 2, out, outSize, &produced);
    return r == kInflateOk && produced == outSize;
#else
    (void)out;
    (void)outSize;
    return false;
#endif
}

MszipEncoder::MszipEncoder() = default;
MszipEncoder::~MszipEncoder() = default;

bool MszipEncoder::Init() { return true; }

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

size_t MszipEncoder::EncodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity) {
    size_t n = StoreBlock(in, inSize, out, outCapacity);
    keepHistory_ = inSize == 32768;
    return n;
}

}  // namespace tessera::mszip
