// Deflate, Inflate and CRC-32 against zlib and libdeflate, same inputs, same
// run: deflate_bench <corpus folder> [compress|inflate|crc] (the corpus made
// by make_corpus.py; the optional word runs one section only).
//
// Compression: our five levels (9, 8, 6, 3, 0) beside zlib and libdeflate at
// 9, 8, 6, 3, 1. Inflate: the streams zlib made at level 6, decoded by each.
// Speeds are MB/s of uncompressed data from the best of several runs in
// thread CPU time, contenders alternating.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codecs/crc32/crc32.h"
#include "codecs/deflate/deflate.h"
#include "codecs/deflate/inflate.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t buffer[1 << 16];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

// CPU time of the calling thread: the machine may be shared, and waiting
// for a processor must not count.
double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Best times of two contenders (three with `c`), run alternately so that a
// change in machine load hits all of them alike.
void BestTimes(int repeat, double* times, const std::function<void()>& a, const std::function<void()>& b,
               const std::function<void()>& c = nullptr) {
    const std::function<void()>* runs[3] = {&a, &b, &c};
    for (int k = 0; k < 3; ++k) times[k] = 1e30;
    for (int i = 0; i < repeat; ++i)
        for (int k = 0; k < 3; ++k) {
            if (!*runs[k]) continue;
            const double start = CpuSeconds();
            (*runs[k])();
            times[k] = std::min(times[k], CpuSeconds() - start);
        }
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
        std::fprintf(stderr, "usage: deflate_bench <corpus folder> [compress|inflate|crc]\n");
        return 2;
    }
    const std::string only = argc > 2 ? argv[2] : "";
    const bool runCompress = only.empty() || only == "compress";
    const bool runInflate = only.empty() || only == "inflate";
    const bool runCrc = only.empty() || only == "crc";
    const char* names[] = {"text", "binary", "incompressible", "redundant"};
    const int ourLevels[] = {9, 8, 6, 3, 0};
    const int peerLevels[] = {9, 8, 6, 3, 1};
    tessera::Deflater deflater;
    tessera::Inflater inflater;

    if (runCompress) std::printf("## Compression (size in bytes, ratio to zlib, MB/s, speed ratio to zlib)\n\n");
    if (runCompress) std::printf("| input | ours lvl | ours size | zlib lvl | zlib size | size ours/zlib | libdeflate size | ours MB/s | zlib MB/s | libdeflate MB/s | speed ours/zlib |\n");
    if (runCompress) std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
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
        for (int i = 0; runCompress && i < 5; ++i) {
            size_t ours = 0, zlib = 0, ld = 0;
            libdeflate_compressor* c = libdeflate_alloc_compressor(peerLevels[i]);
            double t[3];
            BestTimes(3, t, [&] { ours = OursDeflate(deflater, in, out, ourLevels[i]); },
                      [&] { zlib = ZlibDeflate(in, out, peerLevels[i]); },
                      [&] { ld = libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size()); });
            libdeflate_free_compressor(c);
            const double tOurs = t[0], tZlib = t[1], tLd = t[2];
            std::printf("| %s | %d | %zu | %d | %zu | %.4f | %zu | %.1f | %.1f | %.1f | %.2f |\n", name, ourLevels[i], ours,
                        peerLevels[i], zlib, double(ours) / zlib, ld, mb / tOurs, mb / tZlib, mb / tLd, tZlib / tOurs);
        }
        out.resize(ZlibDeflate(in, out, 6));
        zlib6.push_back(out);
    }

    if (runInflate) std::printf("\n## Inflate of zlib's level-6 streams (MB/s of output)\n\n");
    if (runInflate) std::printf("| input | ours | zlib | libdeflate | ours/zlib |\n|---|---|---|---|---|\n");
    for (size_t k = 0; runInflate && k < inputs.size(); ++k) {
        const auto& in = inputs[k];
        const auto& packed = zlib6[k];
        std::vector<uint8_t> out(in.size());
        const double mb = in.size() / 1e6;
        bool ok = true;
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        double t[3];
        BestTimes(
            7, t,
            [&] {
                tessera::MemorySource source(packed.data(), packed.size());
                BufferSink sink(out);
                ok = ok && inflater.Inflate(source, sink) == tessera::CodecResult::kOk && sink.used == in.size();
            },
            [&] { ZlibInflate(packed.data(), packed.size(), out); },
            [&] {
                size_t n;
                libdeflate_deflate_decompress(d, packed.data(), packed.size(), out.data(), out.size(), &n);
            });
        libdeflate_free_decompressor(d);
        const double tOurs = t[0], tZlib = t[1], tLd = t[2];
        {
            tessera::MemorySource source(packed.data(), packed.size());
            BufferSink sink(out);
            ok = ok && inflater.Inflate(source, sink) == tessera::CodecResult::kOk && out == in;
        }
        std::printf("| %s | %.1f | %.1f | %.1f | %.2f%s |\n", names[k], mb / tOurs, mb / tZlib, mb / tLd, tZlib / tOurs,
                    ok ? "" : " (MISMATCH)");
    }

    if (!runCrc) return 0;
    std::printf("\n## CRC-32 and memcpy (GB/s, on the text input)\n\n");
    const auto& text = inputs[0];
    const double gb = text.size() / 1e9;
    volatile uint32_t sink = 0;
    std::vector<uint8_t> copy(text.size());
    double t[3], tc[3];
    BestTimes(9, t, [&] { sink = sink + tessera::Crc32(text.data(), text.size()); },
              [&] { sink = sink + static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size()))); },
              [&] { sink = sink + libdeflate_crc32(0, text.data(), text.size()); });
    BestTimes(9, tc, [&] { std::memcpy(copy.data(), text.data(), text.size()); }, nullptr);
    const double tOurs = t[0], tZlib = t[1], tLd = t[2], tCopy = tc[0];
    if (tessera::Crc32(text.data(), text.size()) != crc32(0, text.data(), static_cast<uInt>(text.size())))
        std::printf("CRC MISMATCH\n");
    std::printf("| ours | zlib | libdeflate | memcpy | ours/zlib |\n|---|---|---|---|---|\n");
    std::printf("| %.2f | %.2f | %.2f | %.2f | %.2f |\n", gb / tOurs, gb / tZlib, gb / tLd, gb / tCopy, tZlib / tOurs);
    return 0;
}
