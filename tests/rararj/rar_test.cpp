// RAR: corpus samples (RAR 1.5 decodes, later versions refused with a
// reason), volumes, solid chains, and hostile blocks and packed data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>

#include "codecs/crc32/crc32.h"
#include "codec_result_print.h"
#include "codecs/rar15/rar15_decoder.h"
#include "corpus.h"
#include "fixtures.h"
#include "formats/arj/arj_archive.h"
#include "formats/rar/rar_archive.h"
#include "test_files.h"

namespace tessera::testing {
namespace {

std::string Slashes(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

RarVolumeOpener OpenerFor(const std::vector<std::string>& parts) {
    return [parts](unsigned index) -> std::unique_ptr<RandomAccessInput> {
        if (index >= parts.size()) return nullptr;
        return OpenFileInput(CorpusPath(parts[index]));
    };
}

TEST(RarCorpus, SamplesDecodeOrAreRefusedWithAReason) {
    TESSERA_REQUIRE_CORPUS();
    for (const CorpusSample& sample : CorpusSamplesOf("rar")) {
        SCOPED_TRACE(sample.file);
        auto input = OpenFileInput(CorpusPath(sample.file));
        ASSERT_TRUE(input);
        RarReader reader(*input, OpenerFor(sample.parts));
        RarStatus status = reader.Open();
        if (sample.expect.rfind("error:", 0) == 0) {
            // RAR 5 and encrypted headers: refused at the start with a reason.
            bool rar5 = sample.expect.find("RAR 5") != std::string::npos;
            EXPECT_EQ(status, rar5 ? RarStatus::kRar5 : RarStatus::kEncryptedHeaders);
            continue;
        }
        ASSERT_EQ(status, RarStatus::kOk);
        bool extractOk = sample.expect == "ok";
        std::map<std::string, uint32_t> crcs;
        std::map<std::string, uint64_t> sizes;
        size_t listed = 0;
        RarEntry e;
        while ((status = reader.Next(&e)) == RarStatus::kOk) {
            ++listed;
            if (e.IsFolder()) continue;
            VectorSink sink(e.unpSize);
            RarEntryOutcome out = reader.Extract(e, &sink);
            if (extractOk) {
                EXPECT_EQ(out.result, RarEntryResult::kOk) << e.name;
                crcs[Slashes(e.name)] = ReferenceCrc32(sink.bytes.data(), sink.bytes.size());
                sizes[Slashes(e.name)] = sink.bytes.size();
            } else if (!e.IsStored()) {
                EXPECT_TRUE(out.result == RarEntryResult::kUnsupportedVersion ||
                            out.result == RarEntryResult::kEncrypted)
                    << e.name;
                EXPECT_TRUE(sink.bytes.empty());
            }
        }
        EXPECT_EQ(status, RarStatus::kEnd);
        EXPECT_GT(listed, 0u);
        if (!extractOk) continue;
        for (const CorpusEntry& expected : sample.entries) {
            SCOPED_TRACE(expected.name);
            ASSERT_TRUE(crcs.count(expected.name));
            EXPECT_EQ(crcs[expected.name], expected.crc32);
            EXPECT_EQ(sizes[expected.name], expected.size);
        }
    }
}

TEST(RarCorpus, TestingWithoutOutputChecksTheCrc) {
    TESSERA_REQUIRE_CORPUS();
    auto input = OpenFileInput(CorpusPath("rar/rar15_packed_3files.rar"));
    ASSERT_TRUE(input);
    RarReader reader(*input, nullptr);
    ASSERT_EQ(reader.Open(), RarStatus::kOk);
    RarEntry e;
    unsigned files = 0;
    while (reader.Next(&e) == RarStatus::kOk) {
        if (e.IsFolder()) continue;
        ++files;
        RarEntryOutcome out = reader.Extract(e, nullptr);
        EXPECT_EQ(out.result, RarEntryResult::kOk);
        EXPECT_EQ(out.crc, e.fileCrc);
    }
    EXPECT_EQ(files, 3u);
}

// A split entry whose later volume is missing, or is not the continuation.
TEST(RarVolumes, MissingOrWrongNextVolumeEndsTheEntry) {
    TESSERA_REQUIRE_CORPUS();
    const std::string dir = "rar/rar_old_volumes_stored/";
    struct Row {
        const char* what;
        std::vector<std::string> parts;  // what the opener offers
        RarEntryResult expect;
    };
    const Row rows[] = {
        {"all volumes", {dir + "rar3-old.rar", dir + "rar3-old.r00", dir + "rar3-old.r01"}, RarEntryResult::kOk},
        {"third missing", {dir + "rar3-old.rar", dir + "rar3-old.r00"}, RarEntryResult::kNextVolumeMissing},
        {"second missing", {dir + "rar3-old.rar"}, RarEntryResult::kNextVolumeMissing},
        {"first again", {dir + "rar3-old.rar", dir + "rar3-old.rar"}, RarEntryResult::kBadVolume},
        {"last in place of the second", {dir + "rar3-old.rar", dir + "rar3-old.r01"}, RarEntryResult::kTruncated},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto input = OpenFileInput(CorpusPath(row.parts[0]));
        RarReader reader(*input, OpenerFor(row.parts));
        ASSERT_EQ(reader.Open(), RarStatus::kOk);
        RarEntry e;
        ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
        ASSERT_TRUE(e.ContinuesInNext());
        VectorSink sink(e.unpSize);
        RarEntryOutcome out = reader.Extract(e, &sink);
        EXPECT_EQ(out.result, row.expect);
        EXPECT_LE(sink.bytes.size(), e.unpSize);
    }
}

// Found by fuzzing: a packed entry whose next volume is the same file; the
// decoder kept reading after the failed volume change.
TEST(RarVolumes, PackedEntryIntoAVolumeThatIsNotItsContinuation) {
    Bytes noise(40, 0x5A);
    Bytes a = RarStart(kRarVolume);
    RarAddFile(a, {"a.txt", noise, 5000, 0, 0x8002, 15, 0x33});
    MemoryInput input(a.data(), a.size());
    unsigned opened = 0;
    RarReader reader(input, [&](unsigned) -> std::unique_ptr<RandomAccessInput> {
        ++opened;
        return std::make_unique<MemoryInput>(a);
    });
    ASSERT_EQ(reader.Open(), RarStatus::kOk);
    RarEntry e;
    ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
    CountingSink sink;
    RarEntryOutcome out = reader.Extract(e, &sink);
    EXPECT_TRUE(out.result == RarEntryResult::kBadVolume || out.result == RarEntryResult::kTruncated);
    EXPECT_LE(opened, 1u);
    EXPECT_LE(sink.count, 5000u);
}

TEST(RarVolumes, OldStyleNames) {
    EXPECT_EQ(RarVolumeName("dir/x.rar", 0), "dir/x.rar");
    EXPECT_EQ(RarVolumeName("dir/x.rar", 1), "dir/x.r00");
    EXPECT_EQ(RarVolumeName("dir/x.rar", 12), "dir/x.r11");
    EXPECT_EQ(RarVolumeName("X.RAR", 101), "X.S00");
    EXPECT_EQ(RarVolumeName("a.b/x", 2), "a.b/x.r01");
    EXPECT_EQ(RarVolumeName("x.rar", 100000), "");
}

// Stored entries in made-up archives: fields, flags and the solid chain.
TEST(RarBlocks, EntryFieldsAndRefusals) {
    Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    uint32_t crc = Crc32(hello.data(), hello.size());
    Bytes a = RarStart(0);
    RarAddFile(a, {"plain.txt", hello, 5, crc});
    RarAddFile(a, {"v20.bin", hello, 5, crc, 0x8000, 20, 0x33});
    RarAddFile(a, {"v20stored.txt", hello, 5, crc, 0x8000, 20, 0x30});
    RarAddFile(a, {"secret.bin", hello, 5, crc, 0x8004, 15, 0x33});
    RarAddFile(a, {"tail.bin", hello, 5, crc, 0x8001, 15, 0x30});
    RarAddFile(a, {"bad.txt", hello, 5, crc ^ 1, 0x8000, 15, 0x30});
    Bytes comment = {0x00, 0x00, 0x75, 0x00, 0x80, 0x0B, 0x00, 0x02, 0x00, 0x00, 0x00, 'c', 'm'};
    a.insert(a.end(), comment.begin(), comment.end());  // another block with data: skipped
    RarAddFile(a, {"after.txt", hello, 5, crc});
    struct Expect {
        const char* name;
        RarEntryResult result;
        unsigned value;
    };
    const Expect expect[] = {{"plain.txt", RarEntryResult::kOk, 0},
                             {"v20.bin", RarEntryResult::kUnsupportedVersion, 20},
                             {"v20stored.txt", RarEntryResult::kOk, 0},
                             {"secret.bin", RarEntryResult::kEncrypted, 0},
                             {"tail.bin", RarEntryResult::kFromPreviousVolume, 0},
                             {"bad.txt", RarEntryResult::kBadCrc, 0},
                             {"after.txt", RarEntryResult::kOk, 0}};
    MemoryInput input(a.data(), a.size());
    RarReader reader(input, nullptr);
    ASSERT_EQ(reader.Open(), RarStatus::kOk);
    for (const Expect& x : expect) {
        RarEntry e;
        ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
        EXPECT_EQ(e.name, x.name);
        EXPECT_TRUE(e.headerCrcOk);
        EXPECT_EQ(e.dosTime, 0x21A86000u);
        VectorSink sink;
        RarEntryOutcome out = reader.Extract(e, &sink);
        EXPECT_EQ(out.result, x.result) << x.name;
        EXPECT_EQ(out.value, x.value);
        if (x.result == RarEntryResult::kOk) {
            EXPECT_EQ(sink.bytes, hello);
        }
    }
    RarEntry e;
    EXPECT_EQ(reader.Next(&e), RarStatus::kEnd);
}

TEST(RarSolid, AFailedEntryBreaksTheChain) {
    Bytes noise(64);
    std::mt19937 rng(3);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    Bytes a = RarStart(kRarSolid);
    RarAddFile(a, {"first.bin", noise, 100, 0x12345678, 0x8000, 15, 0x33});
    RarAddFile(a, {"stored.txt", {'o', 'k'}, 2, Crc32("ok", 2)});
    RarAddFile(a, {"second.bin", noise, 100, 0x12345678, 0x8000, 15, 0x33});
    MemoryInput input(a.data(), a.size());
    RarReader reader(input, nullptr);
    ASSERT_EQ(reader.Open(), RarStatus::kOk);
    EXPECT_TRUE(reader.IsSolid());
    RarEntry e;
    ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
    reader.Skip(e);  // decoded without output: fails, the window is now unusable
    ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
    EXPECT_EQ(reader.Extract(e, nullptr).result, RarEntryResult::kOk);  // stored: independent
    ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
    VectorSink sink;
    EXPECT_EQ(reader.Extract(e, &sink).result, RarEntryResult::kSolidBroken);
    EXPECT_TRUE(sink.bytes.empty());
}

// Hostile block headers: each walk ends with a clean status.
TEST(RarHostile, DamagedBlocksEndTheWalk) {
    Bytes hello = {'h', 'i'};
    Bytes good = RarStart(0);
    RarAddFile(good, {"a.txt", hello, 2, Crc32(hello.data(), 2)});
    const size_t fileAt = 20;  // marker (7) + main header (13)
    struct Row {
        const char* what;
        std::function<void(Bytes&)> damage;
        RarStatus open;
        RarStatus first;  // status of the first Next()
    };
    auto setLe16 = [](Bytes& b, size_t at, uint16_t v) {
        b[at] = static_cast<uint8_t>(v);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    const Row rows[] = {
        {"RAR 5 marker", [](Bytes& b) { b[6] = 1; }, RarStatus::kRar5, RarStatus::kEnd},
        {"seventh marker byte 2", [](Bytes& b) { b[6] = 2; }, RarStatus::kNotArchive, RarStatus::kEnd},
        {"not a marker", [](Bytes& b) { b[0] = 'r'; }, RarStatus::kNotArchive, RarStatus::kEnd},
        {"main header checksum", [](Bytes& b) { b[10] ^= 1; }, RarStatus::kBadMainHeader, RarStatus::kEnd},
        {"main header cut", [](Bytes& b) { b.resize(15); }, RarStatus::kBadMainHeader, RarStatus::kEnd},
        {"block size 0", [&](Bytes& b) { setLe16(b, fileAt + 5, 0); }, RarStatus::kOk, RarStatus::kDamaged},
        {"block size 6", [&](Bytes& b) { setLe16(b, fileAt + 5, 6); }, RarStatus::kOk, RarStatus::kDamaged},
        {"file header shorter than its name", [&](Bytes& b) { setLe16(b, fileAt + 5, 33); }, RarStatus::kOk,
         RarStatus::kDamaged},
        {"block size beyond the file", [&](Bytes& b) { setLe16(b, fileAt + 5, 0xFFFF); }, RarStatus::kOk,
         RarStatus::kDamaged},
        {"block cut to 5 bytes", [&](Bytes& b) { b.resize(fileAt + 5); }, RarStatus::kOk, RarStatus::kDamaged},
        {"header checksum wrong: still used", [&](Bytes& b) { b[fileAt] ^= 1; }, RarStatus::kOk, RarStatus::kOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes file = good;
        row.damage(file);
        MemoryInput input(file.data(), file.size());
        RarWalker walker(input);
        ASSERT_EQ(walker.Open(), row.open);
        if (row.open != RarStatus::kOk) continue;
        RarEntry e;
        EXPECT_EQ(walker.Next(&e), row.first);
        if (row.first == RarStatus::kOk) {
            EXPECT_FALSE(e.headerCrcOk);
        }
        RarStatus last;
        while ((last = walker.Next(&e)) == RarStatus::kOk) {
        }
        EXPECT_NE(last, RarStatus::kOk);
    }

    // Data sizes that wrap or pass the end: the walk never goes backwards.
    Bytes loop = RarStart(0);
    RarAddFile(loop, {"a", {}, 0, 0});
    loop[fileAt + 7] = loop[fileAt + 8] = loop[fileAt + 9] = loop[fileAt + 10] = 0xFF;  // PACK_SIZE
    MemoryInput loopInput(loop.data(), loop.size());
    RarWalker loopWalker(loopInput);
    ASSERT_EQ(loopWalker.Open(), RarStatus::kOk);
    RarEntry e;
    EXPECT_EQ(loopWalker.Next(&e), RarStatus::kOk);
    EXPECT_EQ(loopWalker.Next(&e), RarStatus::kDamaged);
    RarReader reader(loopInput, nullptr);
    ASSERT_EQ(reader.Open(), RarStatus::kOk);
    ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
    e.unpSize = 0xFFFFFFFF;
    EXPECT_EQ(reader.Extract(e, nullptr).result, RarEntryResult::kTruncated);
}

TEST(RarHostile, TruncationAtEveryByte) {
    TESSERA_REQUIRE_CORPUS();
    for (const char* name : {"rar/rar15_comments.rar", "rar/rar15_packed_3files.rar"}) {
        SCOPED_TRACE(name);
        Bytes whole = ReadWholeFile(CorpusPath(name));
        size_t step = whole.size() > 4000 ? 61 : 1;
        for (size_t cut = 0; cut < whole.size(); cut += step) {
            MemoryInput input(whole.data(), cut);
            RarReader reader(input, nullptr);
            if (reader.Open() != RarStatus::kOk) continue;
            RarEntry e;
            RarStatus status;
            while ((status = reader.Next(&e)) == RarStatus::kOk) {
                CountingSink sink;
                RarEntryOutcome out = reader.Extract(e, &sink);
                EXPECT_LE(sink.count, e.unpSize);
                if (e.dataOffset + e.packSize > cut && e.unpSize > 0) {
                    EXPECT_NE(out.result, RarEntryResult::kOk) << "cut " << cut;
                }
            }
            EXPECT_NE(status, RarStatus::kOk);
        }
    }
}

// The decoder alone on hostile packed data: it ends at the declared size or
// at the end of the input, never beyond, and never loops.
TEST(RarHostile, DecoderOnHostilePackedData) {
    std::mt19937 rng(11);
    struct Row {
        const char* what;
        Bytes packed;
        uint64_t size;
    };
    Bytes random(4096);
    for (uint8_t& b : random) b = static_cast<uint8_t>(rng());
    const Row rows[] = {
        {"nothing, 1 MiB declared", {}, 1 << 20},
        {"zeros", Bytes(4096, 0), 0xFFFFFFFFu},
        {"ones", Bytes(4096, 0xFF), 0xFFFFFFFFu},
        {"random", random, 0xFFFFFFFFu},
        {"random, small size", random, 10},
    };
    Rar15Decoder decoder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MemorySource source(row.packed.data(), row.packed.size());
        CountingSink sink;
        CodecResult r = decoder.Decode(source, &sink, row.size, false);
        EXPECT_LE(sink.count, row.size);
        if (r == CodecResult::kOk) {
            EXPECT_EQ(sink.count, row.size);
        } else {
            EXPECT_EQ(r, CodecResult::kTruncated);
        }
        // Solid continuation over the same garbage stays in bounds too.
        MemorySource again(row.packed.data(), row.packed.size());
        CountingSink sink2;
        decoder.Decode(again, &sink2, row.size, true);
        EXPECT_LE(sink2.count, row.size);
    }
}

// Input handed over in pieces of every size decodes the same.
TEST(RarCorpus, DecodingDoesNotDependOnReadSizes) {
    TESSERA_REQUIRE_CORPUS();
    Bytes whole = ReadWholeFile(CorpusPath("rar/rar15_packed_3files.rar"));
    MemoryInput input(whole.data(), whole.size());
    RarWalker walker(input);
    ASSERT_EQ(walker.Open(), RarStatus::kOk);
    RarEntry e;
    while (walker.Next(&e) == RarStatus::kOk && e.packSize == 0) {
    }
    class Trickle final : public ByteSource {
    public:
        Trickle(const uint8_t* p, size_t n, size_t step) : p_(p), n_(n), step_(step) {}
        size_t Read(uint8_t* out, size_t cap) override {
            size_t k = std::min({cap, step_, n_ - at_});
            std::memcpy(out, p_ + at_, k);
            at_ += k;
            return k;
        }

    private:
        const uint8_t* p_;
        size_t n_, step_, at_ = 0;
    };
    for (size_t step : {1u, 3u, 4096u}) {
        Trickle source(whole.data() + e.dataOffset, e.packSize, step);
        VectorSink sink;
        Rar15Decoder decoder;
        ASSERT_EQ(decoder.Decode(source, &sink, e.unpSize, false), CodecResult::kOk);
        EXPECT_EQ(ReferenceCrc32(sink.bytes.data(), sink.bytes.size()), e.fileCrc) << step;
    }
}

}  // namespace
}  // namespace tessera::testing

namespace tessera::testing {
namespace {

// Hostile names reach the engine's path checks exactly as stored (up to a
// NUL), in both walkers: nothing is cut, joined or reinterpreted here.
TEST(Names, HostileNamesAreHandedOnAsStored) {
    const std::string names[] = {"..\\x", "../x", "a\\..\\..\\x", "\\x", "//x", "C:\\x", "C:x",
                                 "C:..\\x", "\\\\srv\\share\\x", "\\\\?\\C:\\x", "CON", "a::$DATA",
                                 std::string(300, 'n')};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 40));
        Bytes r = RarStart(0);
        RarAddFile(r, {name + std::string("\0tail", 5), {}, 0, 0});
        MemoryInput rin(r.data(), r.size());
        RarWalker rw(rin);
        ASSERT_EQ(rw.Open(), RarStatus::kOk);
        RarEntry re;
        ASSERT_EQ(rw.Next(&re), RarStatus::kOk);
        EXPECT_EQ(re.name, name);

        ArjFileFixture file;
        file.name = name;
        Bytes a = ArjArchive({file});
        MemoryInput ain(a.data(), a.size());
        ArjWalker aw(ain);
        ASSERT_EQ(aw.Open(), ArjStatus::kOk);
        ArjHeader ah;
        ASSERT_EQ(aw.Next(&ah), ArjStatus::kOk);
        EXPECT_EQ(ah.name, name);
    }
}

}  // namespace
}  // namespace tessera::testing

namespace tessera::testing {
namespace {

class PieceSink final : public ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override {
        pieces.push_back(size);
        return true;
    }
    std::vector<size_t> pieces;
};

// Stored data goes out in the formats' piece sizes: 32,512 bytes for RAR;
// for ARJ 4,096 bytes, the first piece ending at a multiple of 4,096 of the
// file position.
TEST(StoredPieces, RarAndArjCopyInTheirPieceSizes) {
    Bytes data(100000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    uint32_t crc = Crc32(data.data(), data.size());

    Bytes r = RarStart(0);
    RarAddFile(r, {"big.bin", data, 100000, crc});
    MemoryInput rin(r.data(), r.size());
    RarReader reader(rin, nullptr);
    ASSERT_EQ(reader.Open(), RarStatus::kOk);
    RarEntry e;
    ASSERT_EQ(reader.Next(&e), RarStatus::kOk);
    PieceSink rp;
    EXPECT_EQ(reader.Extract(e, &rp).result, RarEntryResult::kOk);
    EXPECT_EQ(rp.pieces, (std::vector<size_t>{32512, 32512, 32512, 2464}));

    ArjFileFixture file;
    file.name = "big.bin";
    file.data = data;
    file.originalSize = 100000;
    file.crc = crc;
    Bytes a = ArjArchive({file});
    MemoryInput ain(a.data(), a.size());
    ArjWalker walker(ain);
    ASSERT_EQ(walker.Open(), ArjStatus::kOk);
    ArjHeader h;
    ASSERT_EQ(walker.Next(&h), ArjStatus::kOk);
    PieceSink ap;
    ArjDecoder decoder;
    EXPECT_EQ(ArjDecodeEntry(ain, h, decoder, &ap).result, ArjEntryResult::kOk);
    ASSERT_FALSE(ap.pieces.empty());
    EXPECT_EQ((h.dataOffset + ap.pieces[0]) % 4096, 0u);
    for (size_t i = 1; i + 1 < ap.pieces.size(); ++i) EXPECT_EQ(ap.pieces[i], 4096u);
}

}  // namespace
}  // namespace tessera::testing

namespace tessera::testing {
namespace {

// In a solid archive a skipped entry is decoded without output, so the next
// entry sees the same window as after a real extraction. The sample is made
// solid by its main header flag only, so the second entry's bytes are not
// its true content; what matters is that both paths agree.
TEST(RarSolid, SkippedEntriesKeepTheWindowInStep) {
    TESSERA_REQUIRE_CORPUS();
    Bytes file = ReadWholeFile(CorpusPath("rar/rar15_packed_3files.rar"));
    file[10] |= kRarSolid;
    uint16_t crc = Crc32(&file[9], 11) & 0xFFFF;
    file[7] = static_cast<uint8_t>(crc);
    file[8] = static_cast<uint8_t>(crc >> 8);
    auto secondOutput = [&](bool extractFirst) {
        MemoryInput input(file.data(), file.size());
        RarReader reader(input, nullptr);
        EXPECT_EQ(reader.Open(), RarStatus::kOk);
        EXPECT_TRUE(reader.IsSolid());
        RarEntry e;
        unsigned packed = 0;
        VectorSink second;
        while (reader.Next(&e) == RarStatus::kOk) {
            if (e.IsFolder()) continue;
            if (++packed == 1) {
                VectorSink first;
                if (extractFirst)
                    EXPECT_EQ(reader.Extract(e, &first).result, RarEntryResult::kOk);
                else
                    reader.Skip(e);
            } else if (packed == 2) {
                reader.Extract(e, &second);
            }
        }
        return second.bytes;
    };
    Bytes afterExtract = secondOutput(true);
    Bytes afterSkip = secondOutput(false);
    EXPECT_FALSE(afterExtract.empty());
    EXPECT_TRUE(afterExtract == afterSkip);
}

}  // namespace
}  // namespace tessera::testing
