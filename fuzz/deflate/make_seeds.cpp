// Writes the seed inputs of the Deflate-family fuzz targets with our own
// encoders: fuzz/deflate/make_seeds <seed folder>. Small on purpose.
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/deflate/deflate.h"

namespace {

void Write(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::vector<uint8_t> Text(size_t size, unsigned seed) {
    static const char* kWords[] = {"entry ", "window ", "the ", "block ", "stored\n", "a ", "of ", "size "};
    std::string s;
    for (unsigned i = seed; s.size() < size; i = i * 1103515245u + 12345u) s += kWords[(i >> 16) % 8];
    return {s.begin(), s.begin() + static_cast<std::ptrdiff_t>(size)};
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level) {
    tessera::Deflater deflater;
    tessera::MemorySource source(data.data(), data.size());
    tessera::VectorSink sink;
    tessera::DeflateFile file;
    file.level = level;
    file.outputSeekable = false;
    deflater.Compress(source, sink, file);
    return sink.bytes;
}

// Implode data: 64 six-bit codes for lengths and distances (and 256 eight-bit
// literal codes with flag bit 2), written least significant bit first with
// every code bit complemented.
class ImplodeWriter {
public:
    explicit ImplodeWriter(uint16_t flags) : flags_(flags) {
        if (flags & 4) Tree(256, 7);
        Tree(64, 5);
        Tree(64, 5);
    }
    void Literal(uint8_t c) {
        Bits(1, 1);
        if (flags_ & 4) Code(c, 8); else Bits(c, 8);
    }
    void Match(unsigned distance, unsigned length) {
        const unsigned low = (flags_ & 2) ? 7 : 6;
        Bits(0, 1);
        Bits((distance - 1) & ((1u << low) - 1), low);
        Code((distance - 1) >> low, 6);
        const unsigned code = length - ((flags_ & 4) ? 3 : 2);
        Code(code < 63 ? code : 63, 6);
        if (code >= 63) Bits(code - 63, 8);
    }
    std::vector<uint8_t> Data() const { return bytes_; }

private:
    void Tree(unsigned codes, unsigned lengthMinus1) {
        Bits(codes / 16 - 1, 8);
        for (unsigned i = 0; i < codes / 16; ++i) Bits(0xF0 | lengthMinus1, 8);
    }
    void Code(unsigned symbol, unsigned bits) {
        for (unsigned i = bits; i-- > 0;) Bits(~(symbol >> i) & 1, 1);
    }
    void Bits(unsigned value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            if (used_ == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << used_);
            used_ = (used_ + 1) % 8;
        }
    }
    uint16_t flags_;
    std::vector<uint8_t> bytes_;
    unsigned used_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    int n = 0;
    for (int level : {0, 3, 6, 9}) {
        for (size_t size : {40, 600}) {
            auto stream = Deflate(Text(size, static_cast<unsigned>(level + size)), level);
            stream.insert(stream.begin(), 0x00);
            Write(dir + "/inflate/seed" + std::to_string(n++), stream);
        }
    }
    std::vector<uint8_t> noise(300);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 167 + (i >> 3));
    auto stored = Deflate(noise, 6);
    stored.insert(stored.begin(), 0x00);
    Write(dir + "/inflate/stored", stored);
    auto first = Deflate(Text(300, 1), 6), second = Deflate(Text(200, 1), 6);
    std::vector<uint8_t> blocks = {static_cast<uint8_t>(1 | (first.size() * 128 / (first.size() + second.size())) << 1)};
    blocks.insert(blocks.end(), first.begin(), first.end());
    blocks.insert(blocks.end(), second.begin(), second.end());
    Write(dir + "/inflate/blocks", blocks);

    for (uint16_t flags : {0, 2, 4, 6}) {
        ImplodeWriter w(flags);
        const std::string text = "implode implode implode, explode";
        for (char c : text.substr(0, 8)) w.Literal(static_cast<uint8_t>(c));
        w.Match(8, 16);
        w.Match(3, 70);
        for (char c : text.substr(24)) w.Literal(static_cast<uint8_t>(c));
        auto data = w.Data();
        const size_t produced = 8 + 16 + 70 + (text.size() - 24);
        data.insert(data.begin(), {static_cast<uint8_t>(flags), static_cast<uint8_t>(produced), static_cast<uint8_t>(produced >> 8)});
        Write(dir + "/explode/seed" + std::to_string(flags), data);
    }

    for (int level : {0, 1, 4, 6, 9}) {
        auto input = Text(500, static_cast<unsigned>(level));
        input.insert(input.begin(), static_cast<uint8_t>(level | 0x80));
        Write(dir + "/deflate_roundtrip/seed" + std::to_string(level), input);
    }
    return 0;
}
