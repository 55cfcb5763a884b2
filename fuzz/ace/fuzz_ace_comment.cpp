// Fuzzes the ACE comment decoder with a buffer whose size the first byte
// chooses; bytes after the buffer must stay untouched.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/ace/ace_lz77.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t capacity = data[0] == 0xFF ? tessera::ace::kAceMaxCommentLength + 1 : size_t{data[0]} + 1;
    std::vector<char> buffer(capacity + 16, '\x5A');
    size_t length = 0;
    tessera::ace::DecodeAceComment(data + 1, size - 1, buffer.data(), capacity, &length);
    if (length >= capacity || buffer[length] != '\0') __builtin_trap();
    for (size_t k = capacity; k < buffer.size(); ++k)
        if (buffer[k] != '\x5A') __builtin_trap();
    return 0;
}
