// Splits fuzzer input into cabinet-style blocks: each block is a 2-byte
// output size (taken modulo 32,769), a 2-byte input size and its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera::fuzz {

struct BlockCursor {
    const uint8_t* data;
    size_t size;
    bool Next(const uint8_t** in, size_t* inSize, size_t* outSize) {
        if (size < 4) return false;
        *outSize = static_cast<size_t>(data[0] | data[1] << 8) % 32769u;
        size_t n = static_cast<size_t>(data[2] | data[3] << 8);
        data += 4;
        size -= 4;
        if (n > size) n = size;
        *in = data;
        *inSize = n;
        data += n;
        size -= n;
        return true;
    }
};

}  // namespace tessera::fuzz
