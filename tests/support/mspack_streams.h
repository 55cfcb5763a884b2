// libmspack's block decoders (LZX, Quantum, MSZIP) over memory, for the
// native oracle tests and the cabinet benchmark only; never part of the
// product. The decoders are internal to the library: they are reached
// through the static library (libmspack.a) with the declarations below.
//
// A folder is handed over the way libmspack's own cabinet reader feeds its
// decoders: the data blocks' payloads back to back, with one 0xFF byte after
// every Quantum block (the Quantum decoder re-synchronises on it).
// CabinetFolders() lifts the folders out of a single sample cabinet.
#pragma once

#include <mspack.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t buffer[1 << 16];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

// One cabinet folder: its method word and blocks.
struct Block {
    std::vector<uint8_t> data;
    uint32_t outSize;
};
struct Folder {
    std::string name;
    int method = 0;  // 1 MSZIP, 2 Quantum, 3 LZX
    int windowBits = 0;
    std::vector<Block> blocks;
    size_t outSize = 0;
    // Payloads back to back, as libmspack's reader hands them to a decoder.
    std::vector<uint8_t> Stream() const {
        std::vector<uint8_t> s;
        for (const Block& b : blocks) {
            s.insert(s.end(), b.data.begin(), b.data.end());
            if (method == 2) s.push_back(0xFF);
        }
        return s;
    }
};

// The folders of a single cabinet (no reserve handling beyond the sizes,
// no spanning: split blocks drop the folder).
inline std::vector<Folder> CabinetFolders(const std::string& path) {
    std::vector<Folder> folders;
    std::vector<uint8_t> cab = ReadFile(path);
    auto u16 = [&](size_t p) { return p + 2 <= cab.size() ? uint32_t(cab[p] | cab[p + 1] << 8) : 0u; };
    auto u32 = [&](size_t p) { return u16(p) | u16(p + 2) << 16; };
    if (cab.size() < 36 || std::memcmp(cab.data(), "MSCF", 4) != 0) return folders;
    const uint32_t count = u16(26), flags = u16(30);
    size_t pos = 36, folderReserve = 0, dataReserve = 0;
    if (flags & 4) {
        folderReserve = cab[pos + 2];
        dataReserve = cab[pos + 3];
        pos += 4 + u16(pos);
    }
    for (int bit = 1; bit <= 2; bit <<= 1)
        if (flags & bit)
            for (int s = 0; s < 2; ++s) {
                while (pos < cab.size() && cab[pos]) ++pos;
                ++pos;
            }
    for (uint32_t i = 0; i < count && pos + 8 <= cab.size(); ++i, pos += 8 + folderReserve) {
        Folder f;
        f.name = path.substr(path.find_last_of('/') + 1) + "#" + std::to_string(i);
        const uint32_t kind = u16(pos + 6);
        f.method = kind & 15;
        f.windowBits = (kind >> 8) & 31;
        size_t p = u32(pos);
        for (uint32_t b = 0, n = u16(pos + 4); b < n; ++b) {
            const uint32_t cbData = u16(p + 4), cbUncomp = u16(p + 6);
            p += 8 + dataReserve;
            if (cbUncomp == 0 || p + cbData > cab.size()) {
                f.blocks.clear();
                break;
            }
            f.blocks.push_back({std::vector<uint8_t>(cab.begin() + p, cab.begin() + p + cbData), cbUncomp});
            f.outSize += cbUncomp;
            p += cbData;
        }
        if (!f.blocks.empty() && f.method >= 1 && f.method <= 3) folders.push_back(std::move(f));
    }
    return folders;
}

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
