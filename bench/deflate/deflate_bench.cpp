// Deflate, Inflate and CRC-32 against zlib and libdeflate, same inputs, same
// run: deflate_bench <corpus folder> (made by make_corpus.py).
//
// Compression: our five levels (9, 8, 6, 3, 0) beside zlib and libdeflate at
// 9, 8, 6, 3, 1. Inflate: the streams zlib made at level 6, decoded by each.
// Speeds are MB/s of uncompressed data, best of several timed repetitions.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codecs/crc32/crc32.h"
#include "codecs/deflate/deflate.h"
#include "codecs/deflate/inflate.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t buffer[1 << 16];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

// Best time of `repeat` runs, at least 0.2 s of runs in total.
double Seconds(const std::function<void()>& run, int repeat = 3) {
    double best = 1e30, total = 0;
    for (int i = 0; i < repeat || total < 0.2; ++i) {
        const auto start = Clock::now();
        run();
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, s);
        total += s;
        if (i > 50) break;
    }
    return best;
}

// Copies into a buffer the caller sized, as zlib writes into its output.
class BufferSink final : public tessera::ByteSink {
public:
    explicit BufferSink(std::vector<uint8_t>& out) : out_(out) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (size > out_.size() - used) return false;
        std::memcpy(out_.data() + used, data, size);
        used += size;
        return true;
    }
    size_t used = 0;

private:
    std::vector<uint8_t>& out_;
};

size_t OursDeflate(tessera::Deflater& d, const std::vector<uint8_t>& in, std::vector<uint8_t>& out, int level) {
    tessera::MemorySource source(in.data(), in.size());
    BufferSink sink(out);
    tessera::DeflateFile file;
    file.level = level;
    file.outputSeekable = false;
    d.Compress(source, sink, file);
    return sink.used;
}

size_t ZlibDeflate(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    const size_t n = z.total_out;
    deflateEnd(&z);
    return n;
}

size_t ZlibInflate(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(inSize);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    const size_t n = z.total_out;
    inflateEnd(&z);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: deflate_bench <corpus folder>\n");
        return 2;
    }
    const char* names[] = {"text", "binary", "incompressible", "redundant"};
    const int ourLevels[] = {9, 8, 6, 3, 0};
    const int peerLevels[] = {9, 8, 6, 3, 1};
    tessera::Deflater deflater;
    tessera::Inflater inflater;

    std::printf("## Compression (size in bytes, ratio to zlib, MB/s, speed ratio to zlib)\n\n");
    std::printf("| input | ours lvl | ours size | zlib lvl | zlib size | size ours/zlib | libdeflate size | ours MB/s | zlib MB/s | libdeflate MB/s | speed ours/zlib |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::vector<std::vector<uint8_t>> inputs, zlib6;
    for (const char* name : names) {
        inputs.push_back(ReadFile(std::string(argv[1]) + "/" + name + ".bin"));
        const auto& in = inputs.back();
        if (in.empty()) {
            std::fprintf(stderr, "missing %s\n", name);
            return 1;
        }
        const double mb = in.size() / 1e6;
        std::vector<uint8_t> out(in.size() + in.size() / 100 + 1024);
        for (int i = 0; i < 5; ++i) {
            size_t ours = 0, zlib = 0, ld = 0;
            const double tOurs = Seconds([&] { ours = OursDeflate(deflater, in, out, ourLevels[i]); });
            const double tZlib = Seconds([&] { zlib = ZlibDeflate(in, out, peerLevels[i]); });
            libdeflate_compressor* c = libdeflate_alloc_compressor(peerLevels[i]);
            const double tLd = Seconds([&] { ld = libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size()); });
            libdeflate_free_compressor(c);
            std::printf("| %s | %d | %zu | %d | %zu | %.4f | %zu | %.1f | %.1f | %.1f | %.2f |\n", name, ourLevels[i], ours,
                        peerLevels[i], zlib, double(ours) / zlib, ld, mb / tOurs, mb / tZlib, mb / tLd, tZlib / tOurs);
        }
        out.resize(ZlibDeflate(in, out, 6));
        zlib6.push_back(out);
    }

    std::printf("\n## Inflate of zlib's level-6 streams (MB/s of output)\n\n");
    std::printf("| input | ours | zlib | libdeflate | ours/zlib |\n|---|---|---|---|---|\n");
    for (size_t k = 0; k < inputs.size(); ++k) {
        const auto& in = inputs[k];
        const auto& packed = zlib6[k];
        std::vector<uint8_t> out(in.size());
        const double mb = in.size() / 1e6;
        bool ok = true;
        const double tOurs = Seconds([&] {
            tessera::MemorySource source(packed.data(), packed.size());
            BufferSink sink(out);
            ok = inflater.Inflate(source, sink) == tessera::kInflateOk && sink.used == in.size();
        });
        ok = ok && out == in;
        const double tZlib = Seconds([&] { ZlibInflate(packed.data(), packed.size(), out); });
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        const double tLd = Seconds([&] {
            size_t n;
            libdeflate_deflate_decompress(d, packed.data(), packed.size(), out.data(), out.size(), &n);
        });
        libdeflate_free_decompressor(d);
        std::printf("| %s | %.1f | %.1f | %.1f | %.2f%s |\n", names[k], mb / tOurs, mb / tZlib, mb / tLd, tZlib / tOurs,
                    ok ? "" : " (MISMATCH)");
    }

    std::printf("\n## CRC-32 and memcpy (GB/s, on the text input)\n\n");
    const auto& text = inputs[0];
    const double gb = text.size() / 1e9;
    volatile uint32_t sink = 0;
    const double tOurs = Seconds([&] { sink = sink + tessera::Crc32(text.data(), text.size()); }, 5);
    const double tZlib = Seconds([&] { sink = sink + static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size()))); }, 5);
    const double tLd = Seconds([&] { sink = sink + libdeflate_crc32(0, text.data(), text.size()); }, 5);
    if (tessera::Crc32(text.data(), text.size()) != crc32(0, text.data(), static_cast<uInt>(text.size())))
        std::printf("CRC MISMATCH\n");
    std::vector<uint8_t> copy(text.size());
    const double tCopy = Seconds([&] { std::memcpy(copy.data(), text.data(), text.size()); }, 5);
    std::printf("| ours | zlib | libdeflate | memcpy | ours/zlib |\n|---|---|---|---|---|\n");
    std::printf("| %.2f | %.2f | %.2f | %.2f | %.2f |\n", gb / tOurs, gb / tZlib, gb / tLd, gb / tCopy, tZlib / tOurs);
    return 0;
}
