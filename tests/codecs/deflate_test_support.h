// Helpers shared by the Inflate, Deflate, cipher and Explode tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codecs/byte_io.h"
#include "test_files.h"

#ifdef TESSERA_TEST_ZLIB
#include <zlib.h>
#endif

namespace tessera::testing {

// Hands out at most `step` bytes per Read, so decoders are shown not to
// depend on how their input is cut.
class SteppedSource final : public ByteSource {
public:
    SteppedSource(const std::vector<uint8_t>& data, size_t step) : data_(data), step_(step) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        const size_t n = std::min({capacity, step_, data_.size() - position_});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(position_), n, buffer);
        position_ += n;
        return n;
    }

private:
    const std::vector<uint8_t>& data_;
    size_t step_, position_ = 0;
};

// Least-significant-bit-first writer for building Deflate/Implode streams by
// hand: Put for fields, PutCode for Huffman codes (sent first bit first).
class BitWriter {
public:
    BitWriter& Put(uint32_t value, unsigned bits) {
        for (unsigned i = 0; i < bits; ++i) PutBit((value >> i) & 1);
        return *this;
    }
    BitWriter& PutCode(uint32_t code, unsigned bits) {
        for (unsigned i = bits; i-- > 0;) PutBit((code >> i) & 1);
        return *this;
    }
    BitWriter& AlignToByte() {
        used_ = 0;
        return *this;
    }
    BitWriter& Bytes(std::initializer_list<uint8_t> bytes) {
        AlignToByte();
        bytes_.insert(bytes_.end(), bytes);
        return *this;
    }
    const std::vector<uint8_t>& Data() const { return bytes_; }

private:
    void PutBit(unsigned bit) {
        if (used_ == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(bit << used_);
        used_ = (used_ + 1) % 8;
    }
    std::vector<uint8_t> bytes_;
    unsigned used_ = 0;
};

// Canonical codes (first bit most significant) for a set of code lengths.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    unsigned count[17] = {};
    for (uint8_t len : lengths) ++count[len];
    count[0] = 0;
    uint32_t next[17] = {};
    for (unsigned len = 1, code = 0; len <= 16; ++len) next[len] = code = (code + count[len - 1]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = next[lengths[i]]++;
    return codes;
}

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data(size);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    return data;
}

// Folder of the peer-made Deflate streams (made at build time).
inline std::string PeerStreamPath(const std::string& name) {
    const char* dir = std::getenv("TESSERA_BINARY_DIR");
    return HostPathToNative(std::string(dir ? dir : ".") + "/deflate-peers/" + name);
}

// One entry of a ZIP file as its central directory describes it, with its
// (still encrypted or compressed) data: enough for the codec tests to reach
// member data in the sample archives without the ZIP reader.
struct ZipMember {
    std::string name;
    uint16_t flags = 0, method = 0, time = 0;
    uint32_t crc = 0;
    uint64_t size = 0;
    std::vector<uint8_t> data;
};

inline std::vector<ZipMember> ZipMembers(const std::vector<uint8_t>& zip) {
    auto u16 = [&](size_t p) { return static_cast<uint32_t>(zip[p] | zip[p + 1] << 8); };
    auto u32 = [&](size_t p) { return u16(p) | u16(p + 2) << 16; };
    std::vector<ZipMember> members;
    if (zip.size() < 22) return members;
    size_t end = zip.size() - 22;
    while (end > 0 && u32(end) != 0x06054B50) --end;
    if (u32(end) != 0x06054B50) return members;
    size_t p = u32(end + 16);
    const size_t directoryEnd = size_t{u32(end + 12)} + p;
    const size_t prefix = end > directoryEnd ? end - directoryEnd : 0;  // self-extractor stub in front
    p += prefix;
    for (unsigned i = 0, n = u16(end + 10); i < n && p + 46 <= zip.size() && u32(p) == 0x02014B50; ++i) {
        if (p + 46 + u16(p + 28) > zip.size()) break;
        ZipMember m;
        m.flags = static_cast<uint16_t>(u16(p + 8));
        m.method = static_cast<uint16_t>(u16(p + 10));
        m.time = static_cast<uint16_t>(u16(p + 12));
        m.crc = u32(p + 16);
        const uint32_t packed = u32(p + 20);
        m.size = u32(p + 24);
        const size_t nameLength = u16(p + 28);
        m.name.assign(zip.begin() + static_cast<std::ptrdiff_t>(p + 46),
                      zip.begin() + static_cast<std::ptrdiff_t>(p + 46 + nameLength));
        const size_t local = u32(p + 42) + prefix;
        p += 46 + nameLength + u16(p + 30) + u16(p + 32);
        if (local + 30 > zip.size()) continue;
        const size_t data = local + 30 + u16(local + 26) + u16(local + 28);
        if (data + packed <= zip.size())
            m.data.assign(zip.begin() + static_cast<std::ptrdiff_t>(data),
                          zip.begin() + static_cast<std::ptrdiff_t>(data + packed));
        members.push_back(std::move(m));
    }
    return members;
}

#ifdef TESSERA_TEST_ZLIB
// zlib's inflate of a raw Deflate stream; false when it reports an error.
inline bool ZlibInflate(const std::vector<uint8_t>& packed, std::vector<uint8_t>* out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out->clear();
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    uint8_t buffer[65536];
    int r;
    do {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        r = inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (r == Z_OK);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

inline std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level, int strategy) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}
#endif

}  // namespace tessera::testing
