// MSZIP: the Deflate method of cabinet folders.
//
// Each CFDATA block holds "CK" and one Deflate stream ending with a final
// block; its matches may reach back into the blocks before it in the same
// folder (32 KiB of history), so the blocks of a folder are coded in order
// and Reset() starts a new folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tessera {
class Inflater;
class Deflater;
}

namespace tessera::mszip {

// "CK", a stored block's header (one byte of block bits, LEN and NLEN) and
// slack: the most an encoded block exceeds its input.
constexpr uint32_t kMaxGrowth = 12;

class MszipDecoder {
public:
    MszipDecoder();
    ~MszipDecoder();
    bool Init();
    void Reset();
    // Decodes one block into exactly `outSize` bytes; false when the block
    // lacks "CK" or does not decode to that size.
    bool DecodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

private:
    std::unique_ptr<Inflater> inflater_;
};

class MszipEncoder {
public:
    MszipEncoder();
    ~MszipEncoder();
    bool Init();
    void Reset();
    // Encodes one block (at most 32,768 bytes); returns the bytes written,
    // 0 when `outCapacity` is too small. A block shorter than 32,768 bytes
    // ends the history (only a folder's last block may be short).
    size_t EncodeBlock(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity);

private:
    std::unique_ptr<Deflater> deflater_;
    bool keepHistory_ = false;
};

}  // namespace tessera::mszip
