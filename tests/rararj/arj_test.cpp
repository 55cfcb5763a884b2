// ARJ: corpus samples, archives made by the arj program, the start search,
// and hostile headers and bit streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>

#include "codecs/crc32/crc32.h"
#include "codec_result_print.h"
#include "corpus.h"
#include "fixtures.h"
#include "formats/arj/arj_archive.h"
#include "test_files.h"

namespace tessera::testing {
namespace {

struct Listed {
    ArjHeader header;
    ArjEntryOutcome outcome;
    Bytes output;
};

// Walks an archive and decodes every entry; returns the final walk status.
ArjStatus WalkAndDecode(RandomAccessInput& input, std::vector<Listed>* entries) {
    ArjWalker walker(input);
    ArjStatus status = walker.Open();
    if (status != ArjStatus::kOk) return status;
    ArjDecoder decoder;
    ArjHeader h;
    while ((status = walker.Next(&h)) == ArjStatus::kOk) {
        Listed item;
        item.header = h;
        // Bounded sink: output never needs more than the declared size.
        VectorSink sink(h.originalSize);
        item.outcome = ArjDecodeEntry(input, h, decoder, &sink);
        item.output = std::move(sink.bytes);
        entries->push_back(std::move(item));
    }
    return status;
}

std::string Slashes(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

TEST(ArjCorpus, SamplesDecodeToTheirRecordedChecksums) {
    TESSERA_REQUIRE_CORPUS();
    for (const CorpusSample& sample : CorpusSamplesOf("arj")) {
        SCOPED_TRACE(sample.file);
        auto input = OpenFileInput(CorpusPath(sample.file));
        ASSERT_TRUE(input);
        std::vector<Listed> entries;
        EXPECT_EQ(WalkAndDecode(*input, &entries), ArjStatus::kEnd);
        std::map<std::string, const Listed*> byName;
        for (const Listed& e : entries) byName[Slashes(e.header.name)] = &e;
        bool garbled = sample.file.find("garbled") != std::string::npos;
        for (const CorpusEntry& expected : sample.entries) {
            SCOPED_TRACE(expected.name);
            auto it = byName.find(expected.name);
            ASSERT_NE(it, byName.end());
            const Listed& got = *it->second;
            if (garbled) {
                // Encrypted entries are refused with a reason, not decoded.
                EXPECT_EQ(ArjCheckEntry(got.header).refusal, ArjRefusal::kGarbled);
                EXPECT_EQ(got.outcome.result, ArjEntryResult::kUnsupported);
                continue;
            }
            EXPECT_EQ(got.outcome.result, ArjEntryResult::kOk);
            EXPECT_EQ(got.output.size(), expected.size);
            EXPECT_EQ(got.outcome.crc, expected.crc32);
            EXPECT_EQ(ReferenceCrc32(got.output.data(), got.output.size()), expected.crc32);
        }
    }
}

#ifndef _WIN32
// Data that exercises literals, short and long matches and window wraps.
Bytes MakeContent(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out;
    const char* words[] = {"archive ", "window ", "decoder ", "\r\n", "tessera ", "huffman ", "0123456789"};
    while (out.size() < size) {
        unsigned pick = rng() % 10;
        if (pick < 6) {
            const char* w = words[rng() % 7];
            out.insert(out.end(), w, w + std::strlen(w));
        } else if (pick < 8) {
            out.push_back(static_cast<uint8_t>(rng()));
        } else if (out.size() > 30000) {
            size_t from = out.size() - 20000 - rng() % 6000;  // a far match
            for (size_t i = 0; i < 40 && out.size() < size; ++i) out.push_back(out[from + i]);
        }
    }
    out.resize(size);
    return out;
}

TEST(ArjInterop, ArchivesMadeByArjDecode) {
    if (std::system("arj >/dev/null 2>&1") != 0) GTEST_SKIP() << "arj is not installed";
    ScratchFolder dir;
    struct File {
        std::string name;
        Bytes data;
    };
    std::vector<File> files = {{"empty.bin", {}},
                               {"one.txt", {'x'}},
                               {"text.txt", MakeContent(100000, 1)},
                               {"random.bin", {}},
                               {"zeros.bin", Bytes(70000, 0)}};
    std::mt19937 rng(7);
    for (int i = 0; i < 30000; ++i) files[3].data.push_back(static_cast<uint8_t>(rng()));
    for (const File& f : files) {
        static const uint8_t none = 0;
        WriteWholeFile(dir / f.name, f.data.empty() ? &none : f.data.data(), f.data.size());
    }
    for (int method = 0; method <= 4; ++method) {
        SCOPED_TRACE("method " + std::to_string(method));
        std::string archive = dir / ("m" + std::to_string(method) + ".arj");
        std::string command = "cd '" + dir.Path() + "' && arj a -m" + std::to_string(method) +
                              " -y '" + archive + "' *.txt *.bin >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        auto input = OpenFileInput(archive);
        ASSERT_TRUE(input);
        std::vector<Listed> entries;
        EXPECT_EQ(WalkAndDecode(*input, &entries), ArjStatus::kEnd);
        EXPECT_EQ(entries.size(), files.size());
        for (const File& f : files) {
            SCOPED_TRACE(f.name);
            bool found = false;
            for (const Listed& e : entries) {
                if (e.header.name != f.name) continue;
                found = true;
                EXPECT_EQ(e.outcome.result, ArjEntryResult::kOk);
                EXPECT_TRUE(e.output == f.data);
            }
            EXPECT_TRUE(found);
        }
    }
}

// Paths below the archived folder and garbled (encrypted) entries, as the
// arj tool writes them: the first decode with their folder names, the second
// is refused with its reason instead of being decoded into garbage.
TEST(ArjInterop, FolderPathsAndGarbledEntries) {
    if (std::system("arj >/dev/null 2>&1") != 0) GTEST_SKIP() << "arj is not installed";
    ScratchFolder dir;
    Bytes inner = MakeContent(5000, 3);
    Bytes top = {'h', 'e', 'l', 'l', 'o', '\n'};
    ASSERT_EQ(std::system(("mkdir '" + (dir / "tree") + "' '" + (dir / "tree/sub") + "'").c_str()), 0);
    WriteWholeFile(dir / "tree/sub/inner.txt", inner.data(), inner.size());
    WriteWholeFile(dir / "tree/top.txt", top.data(), top.size());
    std::string tree = "cd '" + (dir / "tree") + "' && ";
    ASSERT_EQ(std::system((tree + "arj a -r -m1 -y ../paths.arj '*' >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system((tree + "arj a -gsecret -y ../garbled.arj top.txt >/dev/null 2>&1").c_str()), 0);

    auto paths = OpenFileInput(dir / "paths.arj");
    ASSERT_TRUE(paths);
    std::vector<Listed> entries;
    EXPECT_EQ(WalkAndDecode(*paths, &entries), ArjStatus::kEnd);
    std::map<std::string, const Listed*> byName;
    for (const Listed& e : entries) byName[Slashes(e.header.name)] = &e;
    ASSERT_EQ(byName.count("sub/inner.txt"), 1u);
    ASSERT_EQ(byName.count("top.txt"), 1u);
    EXPECT_EQ(byName["sub/inner.txt"]->outcome.result, ArjEntryResult::kOk);
    EXPECT_TRUE(byName["sub/inner.txt"]->output == inner);
    EXPECT_TRUE(byName["top.txt"]->output == top);

    auto garbled = OpenFileInput(dir / "garbled.arj");
    ASSERT_TRUE(garbled);
    entries.clear();
    EXPECT_EQ(WalkAndDecode(*garbled, &entries), ArjStatus::kEnd);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(ArjCheckEntry(entries[0].header).refusal, ArjRefusal::kGarbled);
    EXPECT_EQ(entries[0].outcome.result, ArjEntryResult::kUnsupported);
}
#endif

TEST(ArjStart, SearchFindsArchivesBehindOtherDataWithinTheLimit) {
    Bytes stored = {'h', 'e', 'l', 'l', 'o'};
    ArjFileFixture file{"a.txt", stored, 5, Crc32(stored.data(), 5)};
    Bytes archive = ArjArchive({file});
    struct Row {
        const char* what;
        size_t prefix;
        bool strayPair;  // a 60 EA pair with a header size but a bad CRC in front
        bool found;
    };
    const Row rows[] = {
        {"at the start", 0, false, true},
        {"20,000 bytes in", 20000, false, true},
        {"behind a stray id", 100, true, true},
        {"24,999 bytes in", 24999, false, true},
        {"25,000 bytes in", 25000, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file(row.prefix, 'Z');
        if (row.strayPair) {
            file[10] = 0x60;
            file[11] = 0xEA;
            file[12] = 20;
            file[13] = 0;
        }
        file.insert(file.end(), archive.begin(), archive.end());
        MemoryInput input(file.data(), file.size());
        ArjWalker walker(input);
        ASSERT_EQ(walker.Open(), row.found ? ArjStatus::kOk : ArjStatus::kNotArchive);
        if (!row.found) continue;
        EXPECT_EQ(walker.ArchiveStart(), row.prefix);
        ArjHeader h;
        ASSERT_EQ(walker.Next(&h), ArjStatus::kOk);
        EXPECT_EQ(h.name, "a.txt");
        EXPECT_EQ(walker.Next(&h), ArjStatus::kEnd);
    }
}

TEST(ArjHeaders, EntryFieldsAndRefusals) {
    Bytes data = {'d', 'a', 't', 'a'};
    uint32_t crc = Crc32(data.data(), data.size());
    std::vector<ArjFileFixture> files = {
        {"dir", {}, 0, 0, 0, 3},
        {"new.bin", data, 4, crc, 0, 0, 0, 4},
        {"secret.bin", data, 4, crc, 0, 0, kArjGarbled},
        {"m5.bin", data, 4, crc, 5},
        {"m4v1.bin", data, 4, crc, 4, 0, 0, 1, 1},
        {"label", data, 4, crc, 0, 4},
        {"sub/ok.txt", data, 4, crc, 0, 1},
    };
    Bytes archive = ArjArchive(files);
    MemoryInput input(archive.data(), archive.size());
    ArjWalker walker(input);
    ASSERT_EQ(walker.Open(), ArjStatus::kOk);
    struct Expect {
        ArjRefusal refusal;
        unsigned value;
        uint32_t attributes;
    };
    const Expect expect[] = {{ArjRefusal::kFolder, 3, 0x10},  {ArjRefusal::kVersion, 4, 0x20},
                             {ArjRefusal::kGarbled, 0, 0x20}, {ArjRefusal::kMethod, 5, 0x20},
                             {ArjRefusal::kMethod, 4, 0x20},  {ArjRefusal::kFileType, 4, 0x20},
                             {ArjRefusal::kNone, 0, 0x20}};
    ArjDecoder decoder;
    for (const Expect& e : expect) {
        ArjHeader h;
        ASSERT_EQ(walker.Next(&h), ArjStatus::kOk);
        SCOPED_TRACE(h.name);
        ArjCheck check = ArjCheckEntry(h);
        EXPECT_EQ(check.refusal, e.refusal);
        EXPECT_EQ(check.value, e.value);
        EXPECT_EQ(h.Attributes(), e.attributes);
        EXPECT_EQ(h.dosDateTime, 0x21A86000u);
        VectorSink sink;
        ArjEntryOutcome out = ArjDecodeEntry(input, h, decoder, &sink);
        EXPECT_EQ(out.result, e.refusal == ArjRefusal::kNone ? ArjEntryResult::kOk
                                                             : ArjEntryResult::kUnsupported);
    }
    ArjHeader h;
    EXPECT_EQ(walker.Next(&h), ArjStatus::kEnd);

    Bytes empty = ArjArchive({});
    MemoryInput emptyInput(empty.data(), empty.size());
    ArjWalker emptyWalker(emptyInput);
    ASSERT_EQ(emptyWalker.Open(), ArjStatus::kOk);
    EXPECT_EQ(emptyWalker.Next(&h), ArjStatus::kEnd);
}

// Hostile headers: every row must end the walk (or the entry) cleanly.
TEST(ArjHostile, DamagedHeadersEndTheWalk) {
    Bytes data = {'a', 'b', 'c'};
    ArjFileFixture good{"x", data, 3, Crc32(data.data(), 3)};
    Bytes mainFrame = ArjArchive({});
    mainFrame.resize(mainFrame.size() - 4);  // without the end marker
    struct Row {
        const char* what;
        std::function<Bytes()> make;
        ArjStatus walk;               // the status after the first file header
        ArjEntryResult entry;         // for rows whose header is read
    };
    auto withFile = [&](std::function<void(Bytes&)> damageBasic, std::function<void(Bytes&)> damageFrame) {
        Bytes basic = ArjBasicHeader(good);
        if (damageBasic) damageBasic(basic);
        Bytes frame = ArjFrame(basic);
        if (damageFrame) damageFrame(frame);
        Bytes out = mainFrame;
        out.insert(out.end(), frame.begin(), frame.end());
        out.insert(out.end(), data.begin(), data.end());
        out.push_back(0x60);
        out.push_back(0xEA);
        PutLe16(out, 0);
        return out;
    };
    const Row rows[] = {
        {"bad basic header CRC", [&] { return withFile(nullptr, [](Bytes& f) { f[f.size() - 4] ^= 1; }); },
         ArjStatus::kDamaged, ArjEntryResult::kOk},
        {"basic header size 2,349", [&] { return withFile([](Bytes& b) { b.resize(2349, 0); }, nullptr); },
         ArjStatus::kDamaged, ArjEntryResult::kOk},
        {"wrong header id", [&] { return withFile(nullptr, [](Bytes& f) { f[0] = 0x61; }); },
         ArjStatus::kDamaged, ArjEntryResult::kOk},
        {"extended header beyond the file",
         [&] { return withFile(nullptr, [](Bytes& f) { f[f.size() - 2] = 0xFF; f[f.size() - 1] = 0xFF; }); },
         ArjStatus::kDamaged, ArjEntryResult::kOk},
        {"first header size beyond the basic header",
         [&] { return withFile([](Bytes& b) { b[0] = 200; }, nullptr); }, ArjStatus::kDamaged,
         ArjEntryResult::kOk},
        {"compressed size beyond the file",
         [&] { return withFile([](Bytes& b) { b[12] = b[13] = b[14] = b[15] = 0xFF; }, nullptr); },
         ArjStatus::kOk, ArjEntryResult::kTruncated},
        {"original size 0xFFFFFFFF on 3 stored bytes",
         [&] { return withFile([](Bytes& b) { b[16] = b[17] = b[18] = b[19] = 0xFF; }, nullptr); },
         ArjStatus::kOk, ArjEntryResult::kTruncated},
        {"original size 0xFFFFFFFF, method 1",
         [&] { return withFile([](Bytes& b) { b[5] = 1; b[16] = b[17] = b[18] = b[19] = 0xFF; }, nullptr); },
         ArjStatus::kOk, ArjEntryResult::kTruncated},
        {"original size 0xFFFFFFFF, method 4 (\"abc\" codes a far match)",
         [&] { return withFile([](Bytes& b) { b[5] = 4; b[16] = b[17] = b[18] = b[19] = 0xFF; }, nullptr); },
         ArjStatus::kOk, ArjEntryResult::kBadData},
        {"stored size above the original size",
         [&] { return withFile([](Bytes& b) { b[16] = 2; }, nullptr); }, ArjStatus::kOk,
         ArjEntryResult::kBadData},
        {"flipped data byte", [&] { Bytes f = withFile(nullptr, nullptr); f[f.size() - 5] ^= 0x20; return f; },
         ArjStatus::kOk, ArjEntryResult::kBadCrc},
    };
    ArjDecoder decoder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file = row.make();
        MemoryInput input(file.data(), file.size());
        ArjWalker walker(input);
        ASSERT_EQ(walker.Open(), ArjStatus::kOk);
        ArjHeader h;
        ArjStatus status = walker.Next(&h);
        EXPECT_EQ(status, row.walk);
        if (status != ArjStatus::kOk) {
            EXPECT_EQ(walker.Next(&h), ArjStatus::kEnd);  // the walk stays over
            continue;
        }
        VectorSink sink(1 << 20);
        EXPECT_EQ(ArjDecodeEntry(input, h, decoder, &sink).result, row.entry);
        EXPECT_LE(sink.bytes.size(), 3u);
        while ((status = walker.Next(&h)) == ArjStatus::kOk) {
        }
    }
}

// Every cut of a real archive (made of all methods) ends cleanly.
TEST(ArjHostile, TruncationAtEveryByte) {
    TESSERA_REQUIRE_CORPUS();
    for (const char* name : {"arj/arj_stored_small.arj", "arj/arj020b_method1.arj"}) {
        SCOPED_TRACE(name);
        Bytes whole = ReadWholeFile(CorpusPath(name));
        ArjDecoder decoder;
        size_t step = whole.size() > 4000 ? 37 : 1;
        for (size_t cut = 0; cut < whole.size(); cut += step) {
            MemoryInput input(whole.data(), cut);
            ArjWalker walker(input);
            if (walker.Open() != ArjStatus::kOk) continue;
            ArjHeader h;
            ArjStatus status;
            while ((status = walker.Next(&h)) == ArjStatus::kOk) {
                CountingSink sink;
                ArjEntryOutcome out = ArjDecodeEntry(input, h, decoder, &sink);
                EXPECT_LE(sink.count, h.originalSize);
                if (h.dataOffset + h.compressedSize > cut) {
                    EXPECT_NE(out.result, ArjEntryResult::kOk) << "cut " << cut;
                }
            }
            EXPECT_EQ(status, ArjStatus::kDamaged) << "cut " << cut;
        }
    }
}

// Bit streams for the standard decoder, written MSB first field by field.
class BitWriter {
public:
    void Put(uint32_t value, unsigned bits) {
        for (unsigned i = bits; i-- > 0;) {
            acc_ = (acc_ << 1) | ((value >> i) & 1);
            if (++n_ == 8) {
                out_.push_back(static_cast<uint8_t>(acc_));
                acc_ = n_ = 0;
            }
        }
    }
    Bytes Done() {
        Bytes out = out_;
        if (n_) out.push_back(static_cast<uint8_t>(acc_ << (8 - n_)));
        return out;
    }

private:
    Bytes out_;
    uint32_t acc_ = 0;
    unsigned n_ = 0;
};

// A block header whose code-length code gives every one of symbols 0..3 two bits.
void LenCodeFourSymbols(BitWriter& w) {
    w.Put(4, 5);           // four lengths
    for (int i = 0; i < 3; ++i) w.Put(2, 3);
    w.Put(0, 2);           // no zero run after the third
    w.Put(2, 3);
}

TEST(ArjHostile, DecoderRejectsImpossibleStreams) {
    struct Row {
        const char* what;
        std::function<Bytes()> stream;
        int method;
        uint32_t size;
        CodecResult expect;
    };
    const Row rows[] = {
        {"length-code count above 19", [] { BitWriter w; w.Put(1, 16); w.Put(20, 5); return w.Done(); }, 1, 10,
         CodecResult::kBadData},
        {"single length-code symbol out of range",
         [] { BitWriter w; w.Put(1, 16); w.Put(0, 5); w.Put(25, 5); return w.Done(); }, 1, 10, CodecResult::kBadData},
        {"incomplete length code",
         [] { BitWriter w; w.Put(1, 16); w.Put(2, 5); w.Put(1, 3); w.Put(0, 3); return w.Done(); }, 1, 10,
         CodecResult::kBadData},
        {"code length above 16",
         [] { BitWriter w; w.Put(1, 16); w.Put(1, 5); w.Put(0xFFFF, 16); return w.Done(); }, 1, 10,
         CodecResult::kBadData},
        {"character count above 510",
         [] { BitWriter w; w.Put(1, 16); LenCodeFourSymbols(w); w.Put(511, 9); return w.Done(); }, 1, 10,
         CodecResult::kBadData},
        {"zero run past 510 characters",
         [] {
             BitWriter w; w.Put(1, 16); LenCodeFourSymbols(w); w.Put(510, 9);
             for (int i = 0; i < 2; ++i) { w.Put(2, 2); w.Put(500, 9); }  // symbol 2: getbits(9) + 20 zeros
             return w.Done();
         }, 1, 10, CodecResult::kBadData},
        {"single character symbol out of range",
         [] { BitWriter w; w.Put(1, 16); LenCodeFourSymbols(w); w.Put(0, 9); w.Put(511, 9); return w.Done(); }, 1,
         10, CodecResult::kBadData},
        {"match before the first byte",
         [] {
             BitWriter w; w.Put(1, 16); LenCodeFourSymbols(w);
             w.Put(0, 9); w.Put(300, 9);          // every character is symbol 300: a match of 47
             w.Put(0, 5); w.Put(0, 5);            // every position is 0: distance 1
             return w.Done();
         }, 1, 10, CodecResult::kBadData},
        {"empty input, 1 MiB expected", [] { return Bytes(); }, 1, 1 << 20, CodecResult::kTruncated},
        {"all ones (count 31)", [] { return Bytes(64, 0xFF); }, 1, 1 << 20, CodecResult::kBadData},
        {"fastest: distance beyond the output",
         [] { BitWriter w; w.Put(0, 1); w.Put('a', 8); w.Put(1, 1); w.Put(0, 1); w.Put(0, 1); w.Put(0, 1); w.Put(5, 9);
              return w.Done(); }, 4, 10, CodecResult::kBadData},
        {"fastest: empty input, 1 MiB expected", [] { return Bytes(); }, 4, 1 << 20, CodecResult::kTruncated},
        {"fastest: all ones", [] { return Bytes(64, 0xFF); }, 4, 1 << 20, CodecResult::kBadData},
    };
    ArjDecoder decoder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes stream = row.stream();
        MemorySource source(stream.data(), stream.size());
        VectorSink sink;
        CodecResult r = row.method == 4 ? decoder.DecodeFastest(source, &sink, row.size)
                                      : decoder.DecodeStandard(source, &sink, row.size);
        EXPECT_EQ(r, row.expect);
        EXPECT_LE(sink.bytes.size(), 64u * 1024);
    }
}

// A hand-made method 4 stream, to pin the code layout down independently of arj.
TEST(ArjFastest, HandMadeStreamDecodes) {
    BitWriter w;
    for (char c : std::string("abc")) {
        w.Put(0, 1);
        w.Put(static_cast<uint8_t>(c), 8);
    }
    w.Put(0b110, 3);  // two 1 bits then 0: k = 2
    w.Put(1, 2);      // value 2^2 - 1 + 1 = 4: length 6
    w.Put(0, 1);      // distance k = 0
    w.Put(2, 9);      // distance 2: copy from 3 back
    Bytes bytes = w.Done();
    MemorySource src(bytes.data(), bytes.size());
    VectorSink sink;
    ArjDecoder decoder;
    ASSERT_EQ(decoder.DecodeFastest(src, &sink, 9), CodecResult::kOk);
    EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.end()), "abcabcabc");
}

}  // namespace
}  // namespace tessera::testing
