// Cabinet methods against libmspack, same inputs, same run:
//   cab_bench <corpus folder of make_corpus.py> [sample cabinet folder]
//
// Compression: each input coded as one cabinet folder (frames of 32,768
// bytes) by our LZX encoder at windows 2^15, 2^18, 2^21 and by our MSZIP
// encoder: size and MB/s. Decoding: those folders, and the folders of the
// sample cabinets (the only source of Quantum data), decoded by our
// decoders and by libmspack's, fed block payloads back to back as its own
// cabinet reader feeds them. Speeds are MB/s of uncompressed data from the
// best of several runs in thread CPU time, contenders alternating.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "codecs/lzx/lzx_decoder.h"
#include "codecs/lzx/lzx_encoder.h"
#include "codecs/mszip/mszip.h"
#include "codecs/quantum/quantum_decoder.h"
#include "mspack_streams.h"

namespace {

using tessera::testing::Block;
using tessera::testing::CabinetFolders;
using tessera::testing::Folder;
using tessera::testing::MspackFolderDecoder;
using tessera::testing::ReadFile;

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Best times of two contenders run alternately, each run repeated `inner`
// times (for inputs too small to time once).
void BestTimes(int repeat, int inner, double* times, const std::function<void()>& a,
               const std::function<void()>& b = nullptr) {
    const std::function<void()>* runs[2] = {&a, &b};
    times[0] = times[1] = 1e30;
    for (int i = 0; i < repeat; ++i)
        for (int k = 0; k < 2; ++k) {
            if (!*runs[k]) continue;
            const double start = CpuSeconds();
            for (int j = 0; j < inner; ++j) (*runs[k])();
            times[k] = std::min(times[k], (CpuSeconds() - start) / inner);
        }
}

// Our decoder over a folder; false on failure.
bool OursDecode(const Folder& f, std::vector<uint8_t>& out) {
    out.resize(f.outSize);
    size_t at = 0;
    bool ok = true;
    if (f.method == 3) {
        static tessera::lzx::LzxDecoder lzx[22];
        static bool ready[22];
        if (!ready[f.windowBits]) ready[f.windowBits] = lzx[f.windowBits].Init(f.windowBits);
        auto& d = lzx[f.windowBits];
        d.Reset();
        for (const Block& b : f.blocks) {
            ok = ok && d.DecodeBlock(b.data.data(), b.data.size(), out.data() + at, b.outSize);
            at += b.outSize;
        }
    } else if (f.method == 2) {
        static tessera::quantum::QuantumDecoder qtm[22];
        static bool ready[22];
        if (!ready[f.windowBits]) ready[f.windowBits] = qtm[f.windowBits].Init(f.windowBits);
        auto& d = qtm[f.windowBits];
        d.Reset();
        for (const Block& b : f.blocks) {
            ok = ok && d.DecodeBlock(b.data.data(), b.data.size(), out.data() + at, b.outSize);
            at += b.outSize;
        }
    } else {
        static tessera::mszip::MszipDecoder zip;
        static bool ready = zip.Init();
        zip.Reset();
        for (const Block& b : f.blocks) {
            ok = ok && ready && zip.DecodeBlock(b.data.data(), b.data.size(), out.data() + at, b.outSize);
            at += b.outSize;
        }
    }
    return ok;
}

// Codes `in` as one folder: 3 = LZX at `windowBits`, 1 = MSZIP.
Folder Encode(const std::string& name, const std::vector<uint8_t>& in, int method, int windowBits) {
    Folder f;
    f.name = name;
    f.method = method;
    f.windowBits = windowBits;
    f.outSize = in.size();
    std::vector<uint8_t> frame(tessera::lzx::kFrameSize + tessera::lzx::kMaxFrameGrowth);
    static tessera::lzx::LzxEncoder lzx[22];
    static bool ready[22];
    static tessera::mszip::MszipEncoder zip;
    static bool zipReady = zip.Init();
    if (method == 3) {
        if (!ready[windowBits]) ready[windowBits] = lzx[windowBits].Init(windowBits);
        lzx[windowBits].Reset();
    } else {
        zip.Reset();
    }
    for (size_t pos = 0; pos < in.size(); pos += tessera::lzx::kFrameSize) {
        const size_t n = std::min<size_t>(tessera::lzx::kFrameSize, in.size() - pos);
        const size_t c = method == 3 ? lzx[windowBits].EncodeBlock(in.data() + pos, n, frame.data(), frame.size())
                                     : (zipReady ? zip.EncodeBlock(in.data() + pos, n, frame.data(), frame.size()) : 0);
        f.blocks.push_back({std::vector<uint8_t>(frame.begin(), frame.begin() + c), static_cast<uint32_t>(n)});
    }
    return f;
}

size_t Packed(const Folder& f) {
    size_t n = 0;
    for (const Block& b : f.blocks) n += b.data.size();
    return n;
}

const char* MethodName(const Folder& f) {
    static char name[32];
    if (f.method == 1) return "MSZIP";
    std::snprintf(name, sizeof name, "%s 2^%d", f.method == 2 ? "Quantum" : "LZX", f.windowBits);
    return name;
}

// One decoding row: ours against libmspack on the same folder.
void DecodeRow(const Folder& f, const std::vector<uint8_t>* expected) {
    const std::vector<uint8_t> stream = f.Stream();
    std::vector<uint8_t> ours, theirs;
    const auto method = f.method == 3 ? MspackFolderDecoder::kLzx
                        : f.method == 2 ? MspackFolderDecoder::kQuantum : MspackFolderDecoder::kMszip;
    const bool oursOk = OursDecode(f, ours);
    const bool theirsOk = MspackFolderDecoder::Decode(method, f.windowBits, stream, f.outSize, theirs);
    // Small folders are decoded many times per timed run.
    const int inner = static_cast<int>(std::max<size_t>(1, 4000000 / (f.outSize + 1)));
    double t[2];
    BestTimes(5, inner, t, [&] { OursDecode(f, ours); },
              [&] { MspackFolderDecoder::Decode(method, f.windowBits, stream, f.outSize, theirs); });
    const double mb = f.outSize / 1e6;
    std::string note;
    if (!oursOk) note += " ours failed;";
    if (!theirsOk) note += " libmspack failed;";
    if (oursOk && theirsOk && ours != theirs) note += " outputs differ;";
    if (expected && oursOk && ours != *expected) note += " ours differs from the input;";
    std::printf("| %s | %s | %zu | %.1f | %.1f | %.2f |%s\n", f.name.c_str(), MethodName(f), f.outSize, mb / t[0],
                mb / t[1], t[1] / t[0], note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: cab_bench <corpus folder> [sample cabinet folder]\n");
        return 2;
    }
    const char* names[] = {"text", "binary", "incompressible", "redundant"};
    struct Coded {
        std::vector<uint8_t>* input;
        Folder folder;
    };
    std::vector<std::vector<uint8_t>> inputs;
    std::vector<Coded> coded;
    for (const char* name : names) {
        inputs.push_back(ReadFile(std::string(argv[1]) + "/" + name + ".bin"));
        if (inputs.back().empty()) {
            std::fprintf(stderr, "missing %s\n", name);
            return 1;
        }
    }

    std::printf("## Compression (one folder per input; size in bytes, MB/s, size ratio to MSZIP)\n\n");
    std::printf("| input | method | size | MB/s | size / MSZIP size |\n|---|---|---|---|---|\n");
    const int methods[][2] = {{3, 15}, {3, 18}, {3, 21}, {1, 0}};
    for (size_t k = 0; k < inputs.size(); ++k) {
        const auto& in = inputs[k];
        std::vector<Folder> row;
        std::vector<double> speed;
        for (const auto& m : methods) {
            Folder f;
            double t[2];
            BestTimes(2, 1, t, [&] { f = Encode(names[k], in, m[0], m[1]); });
            speed.push_back(in.size() / 1e6 / t[0]);
            row.push_back(std::move(f));
        }
        const double zipSize = static_cast<double>(Packed(row.back()));
        for (size_t i = 0; i < row.size(); ++i) {
            std::printf("| %s | %s | %zu | %.1f | %.3f |\n", names[k], MethodName(row[i]), Packed(row[i]), speed[i],
                        Packed(row[i]) / zipSize);
            coded.push_back({&inputs[k], std::move(row[i])});
        }
    }

    std::printf("\n## Decoding (MB/s of output; ours against libmspack, same folder)\n\n");
    std::printf("| folder | method | bytes | ours MB/s | libmspack MB/s | speed ours/libmspack |\n|---|---|---|---|---|---|\n");
    for (const Coded& c : coded) DecodeRow(c.folder, c.input);
    if (argc > 2) {
        // Sample cabinets that both decoders read without error.
        const char* samples[] = {"lzx21_large_file.cab", "mszip_multi_folder_large.cab",
                                 "mszip_lzx18_quantum18_3folders.cab"};
        for (const char* s : samples)
            for (const Folder& f : CabinetFolders(std::string(argv[2]) + "/" + s)) DecodeRow(f, nullptr);
    }
    return 0;
}
