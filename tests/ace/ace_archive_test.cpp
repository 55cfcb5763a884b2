// ACE archives end to end through the portable reader: the sample corpus
// (plain, solid, multi-volume, comments, ACE 2.0 and encrypted refusals) and
// hostile archives built field by field.
#include "formats/ace/ace_archive.h"
#include "codec_result_print.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "test_files.h"
#include "tests/ace/ace_fixtures.h"

namespace tessera::ace {
namespace {

using namespace fixtures;
using testing::CorpusPath;
using testing::CorpusSamplesOf;

// Volumes from files; on a case-sensitive file system ".C00" is also looked
// for as ".c00".
class FileOpener final : public AceVolumeOpener {
public:
    std::unique_ptr<RandomAccessInput> OpenVolume(const std::string& name, unsigned) override {
        opened.push_back(name);
        std::string lower = name;
        size_t dot = lower.find_last_of('.');
        if (dot != std::string::npos)
            std::transform(lower.begin() + dot, lower.end(), lower.begin() + dot, ::tolower);
        for (const std::string& candidate : {name, lower}) {
            if (testing::FileExists(candidate)) return std::make_unique<MemoryInput>(testing::ReadWholeFile(candidate));
        }
        return nullptr;
    }
    std::vector<std::string> opened;
};

// Volumes from memory by name.
class MemoryOpener final : public AceVolumeOpener {
public:
    std::unique_ptr<RandomAccessInput> OpenVolume(const std::string& name, unsigned) override {
        opened.push_back(name);
        auto it = files.find(name);
        if (it == files.end()) return nullptr;
        return std::make_unique<MemoryInput>(it->second);
    }
    std::map<std::string, std::vector<uint8_t>> files;
    std::vector<std::string> opened;
};

struct Decoded {
    AceEntry entry;
    AceEntryOutcome outcome;
};

struct Walked {
    AceStatus open = AceStatus::kOk;
    AceStatus end = AceStatus::kOk;  // how the walk ended
    std::vector<Decoded> entries;
};

// Lists and tests the whole archive as extraction would: every entry decoded
// in order, without output.
Walked TestArchive(AceVolumeOpener& opener, const std::string& path, AceDecoder& decoder) {
    Walked w;
    AceArchiveReader reader(opener);
    w.open = reader.Open(path);
    if (w.open != AceStatus::kOk) return w;
    for (;;) {
        Decoded d;
        w.end = reader.NextEntry(d.entry);
        if (w.end != AceStatus::kOk) break;
        VectorSink sink(d.entry.header.size);
        d.outcome = reader.DecodeEntry(decoder, d.entry, &sink);
        EXPECT_LE(sink.bytes.size(), d.entry.header.size);
        w.entries.push_back(std::move(d));
    }
    return w;
}

std::string SlashName(const std::string& stored) {
    std::string s = stored;
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

TEST(AceCorpus, SamplesDecodeToTheirRecordedChecksumsOrAreRefusedCleanly) {
    TESSERA_REQUIRE_CORPUS();
    AceDecoder decoder;
    ASSERT_EQ(decoder.DictionaryBits(), 20u);
    int checked = 0;
    for (const testing::CorpusSample& sample : CorpusSamplesOf("ace")) {
        SCOPED_TRACE(sample.file);
        FileOpener opener;
        Walked w = TestArchive(opener, CorpusPath(sample.file), decoder);
        const std::string& file = sample.file;
        if (file.find("out_of_bounds") != std::string::npos) {
            EXPECT_EQ(w.open, AceStatus::kOk);
            EXPECT_EQ(w.end, AceStatus::kDamaged);
            continue;
        }
        if (file.find("dirtraversal") != std::string::npos) {
            // One empty entry named "../../../../../../../tmp/unace-dir-traversal".
            ASSERT_EQ(w.entries.size(), 1u);
            bool stripped = false;
            EXPECT_EQ(AceSafeRelativePath(w.entries[0].entry.header.name, &stripped), "tmp\\unace-dir-traversal");
            EXPECT_TRUE(stripped);
            continue;
        }
        ASSERT_EQ(w.open, AceStatus::kOk);
        EXPECT_EQ(w.end, AceStatus::kEnd);
        if (!sample.parts.empty()) {
            EXPECT_EQ(opener.opened.size(), sample.parts.size());
        }
        // Regular files of the listing against the manifest.
        std::map<std::string, const Decoded*> byName;
        for (const Decoded& d : w.entries)
            if (!d.entry.header.IsFolder()) byName[SlashName(d.entry.header.name)] = &d;
        ASSERT_EQ(byName.size(), sample.entries.size());
        for (const testing::CorpusEntry& e : sample.entries) {
            SCOPED_TRACE(e.name);
            auto it = byName.find(e.name);
            ASSERT_NE(it, byName.end());
            const Decoded& d = *it->second;
            EXPECT_EQ(d.entry.header.size, e.size);
            if (file.find("encrypted") != std::string::npos) {
                EXPECT_TRUE(d.outcome.encrypted);
            } else if (file.find("ace20") != std::string::npos) {
                EXPECT_EQ(d.outcome.codec, CodecResult::kUnknownMethod);  // "method 2 is unknown."
                EXPECT_EQ(d.entry.header.techType, 2);
            } else {
                EXPECT_TRUE(d.outcome.Ok()) << CodecResultText(d.outcome.codec) << " / "
                                            << AceStatusText(d.outcome.input);
                EXPECT_EQ(~d.outcome.crcFound, e.crc32);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 0);
}

TEST(AceCorpus, CommentsDecode) {
    TESSERA_REQUIRE_CORPUS();
    for (const char* name : {"ace/ace10_lz77_archive_and_file_comment.ace", "ace/ace10_lz77_comments_patch.ace"}) {
        SCOPED_TRACE(name);
        FileOpener opener;
        AceArchiveReader reader(opener);
        ASSERT_EQ(reader.Open(CorpusPath(name)), AceStatus::kOk);
        ASSERT_TRUE(reader.Main().HasComment());
        std::vector<const std::vector<uint8_t>*> comments = {&reader.Main().packedComment};
        AceEntry entry;
        ASSERT_EQ(reader.NextEntry(entry), AceStatus::kOk);
        ASSERT_TRUE(entry.header.HasComment());
        comments.push_back(&entry.header.packedComment);
        const char* expect[] = {"main comment", "file comment"};  // as the archives' maker wrote them
        for (size_t k = 0; k < comments.size(); ++k) {
            std::vector<char> text(kAceMaxCommentLength + 1);
            size_t length = 0;
            EXPECT_EQ(DecodeAceComment(comments[k]->data(), comments[k]->size(), text.data(), text.size(), &length),
                      CodecResult::kOk);
            EXPECT_STREQ(text.data(), expect[k]);
        }
    }
}

TEST(AceCorpus, SolidArchiveDecodesOnlyTheThirdEntryAfterPassingTheFirstTwo) {
    TESSERA_REQUIRE_CORPUS();
    FileOpener opener;
    AceArchiveReader reader(opener);
    ASSERT_EQ(reader.Open(CorpusPath("ace/ace10_lz77_solid.ace")), AceStatus::kOk);
    ASSERT_TRUE(reader.Main().IsSolid());
    AceDecoder decoder;
    int files = 0;
    AceEntry entry;
    while (reader.NextEntry(entry) == AceStatus::kOk) {
        if (entry.header.IsFolder()) continue;
        ++files;
        VectorSink sink;
        AceEntryOutcome outcome = reader.DecodeEntry(decoder, entry, files == 3 ? &sink : nullptr);
        EXPECT_TRUE(outcome.Ok()) << files;
        if (files == 3) {
            EXPECT_EQ(~outcome.crcFound, testing::ReferenceCrc32(sink.bytes.data(), sink.bytes.size()));
            EXPECT_EQ(sink.bytes.size(), entry.header.size);
        }
    }
    EXPECT_EQ(files, 3);
}

// ---------------------------------------------------------------------------
// Volume names and the main header search

TEST(AceVolumes, NamesContinueTheSequence) {
    struct Case {
        const char* name;
        const char* next;
    } cases[] = {
        {"data.ace", "data.C00"},        {"data.C00", "data.C01"},        {"data.c41", "data.C42"},
        {"data.C99", "data.100"},        {"data.100", "data.101"},        {"data.999", "data.1000"},
        {"data.1000", "data.1001"},      {"data", "data.C00"},            {"my.dir\\data", "my.dir\\data.C00"},
        {"a b.c d", "a b.c d.C00"},      {"x.99999", ""},                 {"data.exe", "data.C00"},
    };
    for (const Case& c : cases) EXPECT_EQ(AceNextVolumeName(c.name), c.next) << c.name;
}

TEST(AceVolumes, MainHeaderIsFoundBehindAPrefixWithin64KiB) {
    std::vector<uint8_t> archive = Archive(0, {StoredFile("a.txt", "alpha")});
    struct Case {
        size_t prefix;
        bool decoy;  // a "**ACE**" with a bad header in front of the real one
        AceStatus expect;
    } cases[] = {
        {0, false, AceStatus::kOk},
        {30000, true, AceStatus::kOk},
        {65536 - 14, false, AceStatus::kOk},  // signature ends at the last byte searched
        {65536 - 13, false, AceStatus::kNoArchive},
        {70000, false, AceStatus::kNoArchive},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file(c.prefix, 0x90);
        if (c.decoy) {
            const char fake[] = "\x12\x34\x20\x00\x00\x00\x00**ACE**";
            std::copy(fake, fake + sizeof fake - 1, file.begin() + 100);
        }
        file.insert(file.end(), archive.begin(), archive.end());
        MemoryInput volume(file.data(), file.size());
        AceHeaderWalk walk(volume);
        AceMainHeader main;
        EXPECT_EQ(walk.FindMainHeader(main), c.expect) << c.prefix;
        if (c.expect == AceStatus::kOk) {
            EXPECT_EQ(main.start, c.prefix);
            AceFileHeader h;
            EXPECT_EQ(walk.NextFileHeader(h), AceStatus::kOk);
            EXPECT_EQ(h.name, "a.txt");
        }
    }
}

// ---------------------------------------------------------------------------
// Hostile input

TEST(AceHostile, StoredNamesStayUnderTheDestination) {
    struct Case {
        const char* stored;
        const char* safe;
    } cases[] = {
        {"..\\x", "x"},         {"../x", "x"},           {"a\\..\\..\\x", "a\\x"},  {"\\x", "x"},
        {"//x", "x"},           {"C:\\x", "x"},          {"C:x", "x"},              {"C:..\\x", "x"},
        {"C:\\C:..\\x", "x"},   {"\\\\srv\\share\\x", "srv\\share\\x"},             {"\\\\?\\C:\\x", "x"},
        {"\\??\\C:\\x", "x"},   {"1:\\x", "x"},          {".. \\x", "x"},           {"...\\x", "x"},
    };
    for (const Case& c : cases) {
        bool stripped = false;
        EXPECT_EQ(AceSafeRelativePath(c.stored, &stripped), c.safe) << c.stored;
        EXPECT_TRUE(stripped) << c.stored;
    }
    bool stripped = true;
    EXPECT_EQ(AceSafeRelativePath("dir\\sub\\file.txt", &stripped), "dir\\sub\\file.txt");
    EXPECT_FALSE(stripped);
}

// A small archive: a stored entry and an LZ77 entry.
std::vector<uint8_t> SmallArchive(uint16_t mainFlags = 0) {
    return Archive(mainFlags, {StoredFile("one.txt", "first entry"), Lz77File("two.txt", 200)});
}

Walked TestMemory(const std::vector<uint8_t>& archive) {
    MemoryOpener opener;
    opener.files["t.ace"] = archive;
    AceDecoder decoder;
    return TestArchive(opener, "t.ace", decoder);
}

bool AllOk(const Walked& w, size_t entries) {
    if (w.open != AceStatus::kOk || w.end != AceStatus::kEnd || w.entries.size() != entries) return false;
    for (const Decoded& d : w.entries)
        if (!d.outcome.Ok()) return false;
    return true;
}

TEST(AceHostile, TruncationAtEveryByteEndsWithAnError) {
    std::vector<uint8_t> archive = SmallArchive();
    ASSERT_TRUE(AllOk(TestMemory(archive), 2));
    const size_t firstEnd = MainHeader(0).size() + FileHeader(StoredFile("one.txt", "first entry")).size();
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        Walked w = TestMemory(std::vector<uint8_t>(archive.begin(), archive.begin() + cut));
        if (cut == firstEnd) {  // a cut between entries leaves a shorter, sound archive
            EXPECT_TRUE(AllOk(w, 1));
            continue;
        }
        EXPECT_FALSE(AllOk(w, 2)) << cut;
        EXPECT_FALSE(AllOk(w, 1)) << cut;
    }
}

TEST(AceHostile, DamagedFieldsAreReported) {
    std::vector<uint8_t> archive = SmallArchive();
    const size_t mainSize = MainHeader(0).size();
    const size_t firstSize = FileHeader(StoredFile("one.txt", "first entry")).size();
    const size_t secondHeader = mainSize + firstSize;

    auto changed = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> a = archive;
        std::copy(bytes.begin(), bytes.end(), a.begin() + at);
        return a;
    };
    auto reframed = [&](size_t headerAt, size_t field, std::vector<uint8_t> bytes) {
        // Changes a field of a header and fixes its check so the value is believed.
        std::vector<uint8_t> a = changed(headerAt + 4 + field, bytes);
        uint16_t size = static_cast<uint16_t>(a[headerAt + 2] | a[headerAt + 3] << 8);
        uint16_t crc = AceHeaderCrc(a.data() + headerAt + 4, size);
        a[headerAt] = static_cast<uint8_t>(crc);
        a[headerAt + 1] = static_cast<uint8_t>(crc >> 8);
        return a;
    };

    // Stored data of the first entry follows its header; flip one byte.
    std::vector<uint8_t> flipped = archive;
    flipped[secondHeader - 3] ^= 0x20;
    Walked w = TestMemory(flipped);
    ASSERT_EQ(w.entries.size(), 2u);
    EXPECT_EQ(w.entries[0].outcome.codec, CodecResult::kOk);
    EXPECT_FALSE(w.entries[0].outcome.CrcMatches());  // "Bad checksum ..."
    EXPECT_TRUE(w.entries[1].outcome.Ok());

    struct Case {
        const char* name;
        std::vector<uint8_t> archive;
        AceStatus walkEnd;  // how the walk ends
        size_t entries;     // entries read before
    } cases[] = {
        {"bad header check of the second entry", changed(secondHeader, {0x00, 0x00}), AceStatus::kBadHeaderCrc, 1},
        {"header size 0", changed(secondHeader + 2, {0, 0}), AceStatus::kDamaged, 1},
        {"PSIZE beyond the file", reframed(secondHeader, 3, {0xF0, 0xFF, 0xFF, 0xFF}), AceStatus::kTruncated, 1},
        {"PSIZE that wraps 32 bits", reframed(secondHeader, 3, {0xFF, 0xFF, 0xFF, 0xFF}), AceStatus::kTruncated, 1},
        {"name longer than the header", reframed(secondHeader, 29, {0xFF, 0x7F}), AceStatus::kDamaged, 1},
        {"data without the data-size flag", reframed(secondHeader, 1, {0x00, 0x00}), AceStatus::kDamaged, 1},
        {"header size past the end", changed(secondHeader + 2, {0xFF, 0xFF}), AceStatus::kTruncated, 1},
    };
    for (const Case& c : cases) {
        Walked r = TestMemory(c.archive);
        EXPECT_EQ(r.open, AceStatus::kOk) << c.name;
        EXPECT_EQ(r.end, c.walkEnd) << c.name;
        EXPECT_EQ(r.entries.size(), c.entries) << c.name;
    }

    // A header longer than the 2,040 bytes kept: checked over its whole
    // length, its comment cut to the room left.
    FileSpec longHeader = StoredFile("long.txt", "data");
    longHeader.packedComment.assign(3000, 0x55);
    std::vector<uint8_t> withLong = Archive(0, {longHeader, StoredFile("next.txt", "more")});
    {
        MemoryInput volume(withLong.data(), withLong.size());
        AceHeaderWalk walk(volume);
        AceMainHeader main;
        ASSERT_EQ(walk.FindMainHeader(main), AceStatus::kOk);
        AceFileHeader h;
        ASSERT_EQ(walk.NextFileHeader(h), AceStatus::kOk);
        EXPECT_EQ(h.packedComment.size(), kAceHeaderKept - 31 - 8 - 2);
        ASSERT_EQ(walk.NextFileHeader(h), AceStatus::kOk);
        EXPECT_EQ(h.name, "next.txt");
    }
    std::vector<uint8_t> lateFlip = withLong;
    lateFlip[mainSize + 4 + 2500] ^= 1;  // beyond the kept bytes
    EXPECT_EQ(TestMemory(lateFlip).end, AceStatus::kBadHeaderCrc);

    // Huge SIZE on 10 bytes of stored data: no allocation from the field,
    // an error at the end of the input.
    FileSpec huge = StoredFile("huge", "0123456789");
    huge.size = 0xFFFFFFFFu;
    Walked h = TestMemory(Archive(0, {huge}));
    ASSERT_EQ(h.entries.size(), 1u);
    EXPECT_EQ(h.entries[0].outcome.codec, CodecResult::kTruncated);

    // A run of tiny headers of an unknown type: every step moves on, the walk
    // ends at the end of the file.
    std::vector<uint8_t> tiny = MainHeader(0);
    for (int k = 0; k < 5000; ++k) {
        std::vector<uint8_t> h3 = Frame({7, 0, 0});
        tiny.insert(tiny.end(), h3.begin(), h3.end());
    }
    Walked t = TestMemory(tiny);
    EXPECT_EQ(t.end, AceStatus::kEnd);
    EXPECT_TRUE(t.entries.empty());
}

TEST(AceHostile, SolidRunsAndVolumesNeverDecodeFromAStaleWindow) {
    // A solid archive whose middle entry is corrupt: the entries after it fail.
    FileSpec bad = Lz77File("two.txt", 200);
    bad.packed[0] ^= 0xFF;
    std::vector<uint8_t> solid =
        Archive(kAceFlagSolid, {StoredFile("one.txt", "first entry"), bad, Lz77File("three.txt", 100)});
    Walked w = TestMemory(solid);
    ASSERT_EQ(w.entries.size(), 3u);
    EXPECT_TRUE(w.entries[0].outcome.Ok());
    EXPECT_FALSE(w.entries[1].outcome.Ok());
    EXPECT_EQ(w.entries[2].outcome.codec, CodecResult::kStaleWindow);

    // An entry passed over without decoding in a solid archive.
    {
        MemoryOpener opener;
        opener.files["s.ace"] = Archive(kAceFlagSolid, {StoredFile("one.txt", "first entry"), Lz77File("b", 100)});
        AceArchiveReader reader(opener);
        ASSERT_EQ(reader.Open("s.ace"), AceStatus::kOk);
        AceEntry e;
        AceDecoder decoder;
        ASSERT_EQ(reader.NextEntry(e), AceStatus::kOk);
        ASSERT_EQ(reader.NextEntry(e), AceStatus::kOk);
        EXPECT_EQ(reader.DecodeEntry(decoder, e, nullptr).codec, CodecResult::kStaleWindow);
    }

    // A split entry: part one in s.ace, part two in s.C00, then one more entry.
    FileSpec whole = StoredFile("big.txt", "0123456789abcdefghij");
    FileSpec part1 = whole, part2 = whole;
    part1.packed.assign(whole.packed.begin(), whole.packed.begin() + 8);
    part1.flags = kAceFlagContinuedInNext;
    part2.packed.assign(whole.packed.begin() + 8, whole.packed.end());
    part2.flags = kAceFlagContinuedFromPrevious;
    FileSpec other = part2;
    other.name = "other.txt";
    std::vector<uint8_t> first = Archive(kAceFlagMultiVolume, {part1});
    std::vector<uint8_t> second = Archive(kAceFlagMultiVolume, {part2, StoredFile("after.txt", "after")}, 1);

    struct Case {
        const char* name;
        std::map<std::string, std::vector<uint8_t>> files;
        AceStatus input;  // for the split entry
        size_t entries;
    } cases[] = {
        {"set complete", {{"s.ace", first}, {"s.C00", second}}, AceStatus::kOk, 2},
        {"next volume missing", {{"s.ace", first}}, AceStatus::kVolumeMissing, 1},
        {"next volume does not continue the entry",
         {{"s.ace", first}, {"s.C00", Archive(kAceFlagMultiVolume, {other}, 1)}}, AceStatus::kWrongVolume, 1},
        {"next volume is the first one again", {{"s.ace", first}, {"s.C00", first}}, AceStatus::kWrongVolume, 1},
        {"next volume holds no archive", {{"s.ace", first}, {"s.C00", std::vector<uint8_t>(100, 0)}},
         AceStatus::kWrongVolume, 1},
    };
    for (const Case& c : cases) {
        MemoryOpener opener;
        opener.files = c.files;
        AceDecoder decoder;
        Walked r = TestArchive(opener, "s.ace", decoder);
        ASSERT_EQ(r.open, AceStatus::kOk) << c.name;
        ASSERT_EQ(r.entries.size(), c.entries) << c.name;
        EXPECT_EQ(r.entries[0].outcome.input, c.input) << c.name;
        EXPECT_EQ(r.entries[0].outcome.Ok(), c.input == AceStatus::kOk) << c.name;
        if (c.input == AceStatus::kOk) {
            EXPECT_EQ(r.entries[0].entry.packedTotal, whole.packed.size());
            EXPECT_EQ(r.entries[0].entry.parts, 2u);
            EXPECT_TRUE(r.entries[1].outcome.Ok());
        } else {
            EXPECT_NE(r.end, AceStatus::kOk) << c.name;
        }
    }

    // Listing passes over the split entry without its data: the walk goes on
    // in the volume where the entry ends.
    MemoryOpener opener;
    opener.files = {{"s.ace", first}, {"s.C00", second}};
    AceArchiveReader reader(opener);
    ASSERT_EQ(reader.Open("s.ace"), AceStatus::kOk);
    std::vector<std::string> names;
    for (;;) {
        AceEntry fresh;
        if (reader.NextEntry(fresh) != AceStatus::kOk) break;
        names.push_back(fresh.header.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"big.txt", "after.txt"}));
    EXPECT_EQ(reader.CurrentVolumeName(), "s.C00");
}

}  // namespace
}  // namespace tessera::ace
