// libmspack as an independent oracle (native builds only): what our LZX
// encoder writes at every window must decode to the same bytes in
// libmspack's LZX decoder as in ours, and cabinets our builder writes must
// extract through libmspack's cabinet reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cab_fixtures.h"
#include "codecs/lzx/lzx_decoder.h"
#include "codecs/lzx/lzx_encoder.h"
#include "codecs/mszip/mszip.h"
#include "codecs/quantum/quantum_decoder.h"
#include "corpus.h"
#include "test_files.h"

#ifdef TESSERA_HAVE_MSPACK
#include "mspack_streams.h"
#endif

namespace tessera::testing {
namespace {

#ifdef TESSERA_HAVE_MSPACK

// Program-like bytes: little-endian records, small counters and E8 calls.
std::vector<uint8_t> BinaryLike(size_t size) {
    std::vector<uint8_t> v;
    std::vector<uint8_t> noise = RandomBytes(size, 77);
    for (uint32_t i = 0; v.size() < size; ++i) {
        uint8_t record[16] = {0x55, 0x8B, 0xEC, 0xE8};
        uint32_t target = 0x1000 + (noise[i % size] << 4);
        std::memcpy(record + 4, &target, 4);
        std::memcpy(record + 8, &i, 4);
        record[12] = noise[(i * 7) % size];
        record[13] = static_cast<uint8_t>(i & 3);
        v.insert(v.end(), record, record + 16);
    }
    v.resize(size);
    return v;
}

TEST(MspackOracle, LzxEncoderOutputDecodesAlikeInBothDecodersAtEveryWindow) {
    struct Input {
        const char* name;
        std::vector<uint8_t> data;
    };
    const std::vector<Input> common = {
        {"text", TextLike(300000)},
        {"binary", BinaryLike(200000)},
        {"incompressible", RandomBytes(100000, 3)},
        {"empty", {}},
    };
    for (int bits = lzx::kMinWindowBits; bits <= lzx::kMaxWindowBits; ++bits) {
        std::vector<Input> inputs = common;
        // A repeat just inside the window: the longest offsets it allows.
        inputs.push_back({"distant repeat", DistantRepeat(8000, (size_t{1} << bits) - 10000)});
        lzx::LzxEncoder encoder;
        lzx::LzxDecoder decoder;
        ASSERT_TRUE(encoder.Init(bits));
        ASSERT_TRUE(decoder.Init(bits));
        for (const Input& input : inputs) {
            SCOPED_TRACE(::testing::Message() << "window 2^" << bits << ", " << input.name);
            encoder.Reset();
            decoder.Reset();
            std::vector<uint8_t> stream, ours, frame(lzx::kFrameSize + lzx::kMaxFrameGrowth), out(lzx::kFrameSize);
            for (size_t pos = 0; pos < input.data.size(); pos += lzx::kFrameSize) {
                size_t n = std::min<size_t>(lzx::kFrameSize, input.data.size() - pos);
                size_t c = encoder.EncodeBlock(input.data.data() + pos, n, frame.data(), frame.size());
                ASSERT_GT(c, 0u);
                stream.insert(stream.end(), frame.begin(), frame.begin() + c);
                ASSERT_TRUE(decoder.DecodeBlock(frame.data(), c, out.data(), n)) << "frame at " << pos;
                ours.insert(ours.end(), out.begin(), out.begin() + n);
            }
            std::vector<uint8_t> theirs;
            EXPECT_TRUE(MspackFolderDecoder::Decode(MspackFolderDecoder::kLzx, bits, stream, input.data.size(), theirs));
            EXPECT_TRUE(ours == input.data);
            EXPECT_TRUE(theirs == input.data);
        }
    }
}

// Every LZX, Quantum and MSZIP folder of the sample cabinets that libmspack
// decodes: ours must give the same bytes, also with a decoder that has just
// decoded another folder (Reset must leave nothing behind that matters).
// Damaged samples need only end cleanly here: libmspack's decoders alone
// are laxer than its cabinet reader (its Quantum decoder turns the plain
// text of one such folder into 191 bytes of something).
TEST(MspackOracle, SampleFoldersDecodeAsInLibmspack) {
    TESSERA_REQUIRE_CORPUS();
    int compared = 0;
    for (const CorpusSample& sample : CorpusSamplesOf("cab")) {
        for (const Folder& f : CabinetFolders(CorpusPath(sample.file))) {
            SCOPED_TRACE(f.name);
            std::vector<uint8_t> theirs;
            const auto method = f.method == 3 ? MspackFolderDecoder::kLzx
                                : f.method == 2 ? MspackFolderDecoder::kQuantum : MspackFolderDecoder::kMszip;
            const bool theirsOk = MspackFolderDecoder::Decode(method, f.windowBits, f.Stream(), f.outSize, theirs);
            lzx::LzxDecoder lzx;
            quantum::QuantumDecoder qtm;
            mszip::MszipDecoder zip;
            const bool ready = f.method == 3 ? lzx.Init(f.windowBits)
                               : f.method == 2 ? qtm.Init(f.windowBits) : zip.Init();
            ASSERT_TRUE(ready);
            for (int pass = 0; pass < 2; ++pass) {
                lzx.Reset();
                qtm.Reset();
                zip.Reset();
                std::vector<uint8_t> ours(f.outSize);
                bool ok = true;
                size_t at = 0;
                for (const Block& b : f.blocks) {
                    if (f.method == 3) ok = ok && lzx.DecodeBlock(b.data.data(), b.data.size(), &ours[at], b.outSize);
                    if (f.method == 2) ok = ok && qtm.DecodeBlock(b.data.data(), b.data.size(), &ours[at], b.outSize);
                    if (f.method == 1) ok = ok && zip.DecodeBlock(b.data.data(), b.data.size(), &ours[at], b.outSize);
                    at += b.outSize;
                }
                if (sample.expect == "ok") {
                    ASSERT_TRUE(theirsOk);
                    EXPECT_TRUE(ok) << "pass " << pass;
                    EXPECT_TRUE(ours == theirs) << "pass " << pass;
                    compared += pass == 0;
                }
            }
        }
    }
    EXPECT_GE(compared, 5);  // MSZIP, LZX 2^15, 2^18, 2^21 and Quantum folders at least
}

// Extracts every file of a cabinet (set) through libmspack into `folder`.
struct Extracted {
    std::string name;
    std::vector<uint8_t> data;
};
bool ExtractWithMspack(const std::vector<std::string>& cabinets, const std::string& folder,
                       std::vector<Extracted>& files) {
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    if (!cabd) return false;
    bool ok = true;
    std::vector<mscabd_cabinet*> opened;
    for (const std::string& path : cabinets) {
        mscabd_cabinet* cab = cabd->open(cabd, path.c_str());
        if (!cab) {
            ok = false;
            break;
        }
        if (!opened.empty() && cabd->append(cabd, opened.back(), cab) != MSPACK_ERR_OK) {
            cabd->close(cabd, cab);  // not linked: closed on its own
            ok = false;
            break;
        }
        opened.push_back(cab);
    }
    if (ok && !opened.empty()) {
        int index = 0;
        for (mscabd_file* f = opened.front()->files; f; f = f->next) {
            std::string out = folder + "/out" + std::to_string(index++);
            if (cabd->extract(cabd, f, out.c_str()) != MSPACK_ERR_OK) {
                ok = false;
                break;
            }
            files.push_back({f->filename, ReadWholeFile(out)});
        }
    }
    // Closing one cabinet of a linked set releases the whole set.
    if (!opened.empty()) cabd->close(cabd, opened.front());
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}

TEST(MspackOracle, CabinetsWeBuildExtractThroughLibmspack) {
    const std::vector<SourceFile> files = {
        {"docs\\text.txt", TextLike(300000)},
        {"random.bin", RandomBytes(70000, 5)},
        {"empty.txt", {}},
        {"program.bin", BinaryLike(120000)},
    };
    struct Case {
        const char* name;
        uint16_t typeWord;
        uint32_t maxSize;
    };
    const Case cases[] = {
        {"none", 0x0000, 0x7FFFFFF},     {"MSZIP", 0x0001, 0x7FFFFFF},      {"LZX 2^15", 0x0F03, 0x7FFFFFF},
        {"LZX 2^18", 0x1203, 0x7FFFFFF}, {"LZX 2^21", 0x1503, 0x7FFFFFF},   {"MSZIP spanned", 0x0001, 100000},
        {"LZX 2^21 spanned", 0x1503, 100000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        BuildResult built = BuildCabinet(scratch.Path(), "made.cab", files, c.typeWord, c.maxSize);
        ASSERT_TRUE(built.ok);
        if (c.maxSize != 0x7FFFFFF) {
            ASSERT_GT(built.cabinets.size(), 1u);
        }
        std::vector<Extracted> got;
        ASSERT_TRUE(ExtractWithMspack(built.cabinets, scratch.Path(), got));
        ASSERT_EQ(got.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(got[i].name, files[i].name);
            EXPECT_TRUE(got[i].data == files[i].data) << files[i].name;
        }
    }
}

#else

TEST(MspackOracle, SkippedWithoutLibmspack) {
    GTEST_SKIP() << "libmspack (libmspack-dev with its static library) not found: no oracle checks";
}

#endif

}  // namespace
}  // namespace tessera::testing
