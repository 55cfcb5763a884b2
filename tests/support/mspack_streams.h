// libmspack's block decoders (LZX, Quantum, MSZIP) over memory, for the
// native oracle tests and the cabinet benchmark only; never part of the
// product. The decoders are internal to the library: they are reached
// through the static library (libmspack.a) with the declarations below.
//
// A folder is handed over the way libmspack's own cabinet reader feeds its
// decoders: the data blocks' payloads back to back, with one 0xFF byte after
// every Quantum block (the Quantum decoder re-synchronises on it).
#pragma once

#include <mspack.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
struct lzxd_stream;
struct qtmd_stream;
struct mszipd_stream;
lzxd_stream* lzxd_init(mspack_system* system, mspack_file* input, mspack_file* output, int window_bits,
                       int reset_interval, int input_buffer_size, off_t output_length, char is_delta);
void lzxd_set_output_length(lzxd_stream* lzx, off_t output_length);
int lzxd_decompress(lzxd_stream* lzx, off_t out_bytes);
void lzxd_free(lzxd_stream* lzx);
qtmd_stream* qtmd_init(mspack_system* system, mspack_file* input, mspack_file* output, int window_bits,
                       int input_buffer_size);
int qtmd_decompress(qtmd_stream* qtm, off_t out_bytes);
void qtmd_free(qtmd_stream* qtm);
mszipd_stream* mszipd_init(mspack_system* system, mspack_file* input, mspack_file* output, int input_buffer_size,
                           int repair_mode);
int mszipd_decompress(mszipd_stream* zip, off_t out_bytes);
void mszipd_free(mszipd_stream* zip);
}

namespace tessera::testing {

// One decode of a folder by a libmspack decoder into memory.
class MspackFolderDecoder {
public:
    enum Method { kMszip, kQuantum, kLzx };

    // `blocks`: the folder's block payloads back to back (with the 0xFF
    // after each Quantum block); `windowBits` for LZX and Quantum.
    // Returns false when libmspack reports an error.
    static bool Decode(Method method, int windowBits, const std::vector<uint8_t>& blocks, size_t outSize,
                       std::vector<uint8_t>& out) {
        Memory memory;
        memory.in = blocks.data();
        memory.inSize = blocks.size();
        out.clear();
        out.reserve(outSize);
        memory.out = &out;
        mspack_system system = MakeSystem();
        auto* file = reinterpret_cast<mspack_file*>(&memory);
        const int buffer = 4096;  // as libmspack's cabinet reader
        int result = MSPACK_ERR_ARGS;
        const off_t size = static_cast<off_t>(outSize);
        if (method == kLzx) {
            lzxd_stream* s = lzxd_init(&system, file, file, windowBits, 0, buffer, size, 0);
            if (s) {
                result = lzxd_decompress(s, size);
                lzxd_free(s);
            }
        } else if (method == kQuantum) {
            qtmd_stream* s = qtmd_init(&system, file, file, windowBits, buffer);
            if (s) {
                result = qtmd_decompress(s, size);
                qtmd_free(s);
            }
        } else {
            mszipd_stream* s = mszipd_init(&system, file, file, buffer, 0);
            if (s) {
                result = mszipd_decompress(s, size);
                mszipd_free(s);
            }
        }
        return result == MSPACK_ERR_OK && out.size() == outSize;
    }

private:
    struct Memory {
        const uint8_t* in = nullptr;
        size_t inSize = 0;
        size_t inPos = 0;
        std::vector<uint8_t>* out = nullptr;
    };
    static Memory* Of(mspack_file* f) { return reinterpret_cast<Memory*>(f); }
    static void Message(mspack_file*, const char*, ...) {}
    static mspack_system MakeSystem() {
        mspack_system s{};
        s.open = [](mspack_system*, const char*, int) -> mspack_file* { return nullptr; };
        s.close = [](mspack_file*) {};
        s.read = [](mspack_file* f, void* buffer, int bytes) -> int {
            Memory* m = Of(f);
            size_t n = m->inSize - m->inPos;
            if (n > static_cast<size_t>(bytes)) n = static_cast<size_t>(bytes);
            if (n) std::memcpy(buffer, m->in + m->inPos, n);
            m->inPos += n;
            return static_cast<int>(n);
        };
        s.write = [](mspack_file* f, void* buffer, int bytes) -> int {
            const auto* p = static_cast<const uint8_t*>(buffer);
            Of(f)->out->insert(Of(f)->out->end(), p, p + bytes);
            return bytes;
        };
        s.seek = [](mspack_file*, off_t, int) -> int { return -1; };
        s.tell = [](mspack_file* f) -> off_t { return static_cast<off_t>(Of(f)->inPos); };
        s.message = Message;
        s.alloc = [](mspack_system*, size_t bytes) -> void* { return std::malloc(bytes); };
        s.free = [](void* p) { std::free(p); };
        s.copy = [](void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); };
        return s;
    }
};

}  // namespace tessera::testing
