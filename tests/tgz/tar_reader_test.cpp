// TAR header walk: archives made by GNU tar in its three formats, the corpus
// samples, and hand-built hostile headers.
#include "formats/tar/tar_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corpus.h"
#include "test_files.h"
#include "tgz_test_util.h"

namespace tessera::tar {
namespace {

using testing::ReferenceCrc32;

struct Walked {
    TarStatus end = TarStatus::End;
    unsigned damagedHeaders = 0;
    std::vector<TarEntry> entries;
    std::vector<std::vector<uint8_t>> data;
};

// Walks a whole archive, reading each entry's data in pieces of `step`
// (only the data of every other entry when `seekable`, so the rest is
// passed over).
Walked Walk(const std::vector<uint8_t>& archive, size_t step = 7000, bool seekable = false) {
    MemorySource plain(archive.data(), archive.size());
    MemoryInput seekableSource(archive.data(), archive.size());
    std::unique_ptr<TarReader> readerPtr = seekable ? std::make_unique<TarReader>(seekableSource)
                                                    : std::make_unique<TarReader>(plain);
    TarReader& reader = *readerPtr;
    Walked w;
    TarEntry e;
    std::vector<uint8_t> piece(step);
    while ((w.end = reader.Next(e)) == TarStatus::Entry) {
        w.entries.push_back(e);
        w.data.emplace_back();
        if (seekable && w.entries.size() % 2 == 0) continue;
        size_t n;
        while ((n = reader.ReadData(piece.data(), piece.size())) > 0)
            w.data.back().insert(w.data.back().end(), piece.begin(), piece.begin() + static_cast<long>(n));
        if (reader.Truncated()) {
            w.end = TarStatus::Truncated;
            break;
        }
    }
    w.damagedHeaders = reader.DamagedHeaders();
    return w;
}

#ifndef _WIN32
// Archives made at test time by GNU tar from a small tree with every kind of
// member the walk has to tell apart.
class GnuTarFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(GnuTarFormats, ListsNamesKindsSizesAndContents) {
    std::string format = GetParam();
    testing::ScratchFolder scratch;
    std::string root = scratch / "t";
    // ustar holds at most 155 + 100 characters split at a '/'.
    std::string deep = "d/" + std::string(90, 'p') + "/" + std::string(60, 'q');
    std::string longName = format == "ustar" ? deep + "/short.txt" : deep + "/" + std::string(120, 'n') + ".txt";
    std::string script = "set -e; mkdir -p '" + root + "' && cd '" + root + "' && mkdir -p d/empty '" + deep +
                         "' && : > d/empty.txt && head -c 513 /dev/urandom > d/f513 && "
                         "head -c 70000 /dev/urandom > '" + longName + "' && ln -s f513 d/sym && "
                         "ln d/f513 d/hard && mkfifo d/fifo && TZ=UTC touch -h -d '2021-03-04 05:06:07' d/* && "
                         "tar --format=" + format + " -cf ../a.tar d";
    ASSERT_EQ(std::system(("sh -c \"" + script + "\" 2>/dev/null").c_str()), 0) << script;

    std::vector<uint8_t> archive = testing::ReadWholeFile(scratch / "a.tar");
    Walked w = Walk(archive);
    ASSERT_EQ(w.end, TarStatus::End);
    // Passing over every other entry's data finds the same headers.
    Walked skipping = Walk(archive, 7000, true);
    ASSERT_EQ(skipping.entries.size(), w.entries.size());
    for (size_t i = 0; i < w.entries.size(); ++i) EXPECT_EQ(skipping.entries[i].dataOffset, w.entries[i].dataOffset);
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < w.entries.size(); ++i) byName[w.entries[i].name] = i;
    EXPECT_EQ(byName.size(), w.entries.size()) << "extension headers must not be listed";

    auto entry = [&](const std::string& name) -> const TarEntry* {
        auto it = byName.find(name);
        return it == byName.end() ? nullptr : &w.entries[it->second];
    };
    auto contentOf = [&](const std::string& name) { return w.data[byName.at(name)]; };

    for (const char* folder : {"d/", "d/empty/"}) {
        ASSERT_TRUE(entry(folder)) << folder;
        EXPECT_EQ(entry(folder)->kind, EntryKind::Folder);
    }
    ASSERT_TRUE(entry("d/empty.txt"));
    EXPECT_EQ(entry("d/empty.txt")->size, 0u);
    EXPECT_EQ(entry("d/empty.txt")->mtime, 1614834367);  // 2021-03-04 05:06:07 UTC

    ASSERT_TRUE(entry("d/f513"));
    EXPECT_EQ(entry("d/f513")->dataOffset % kBlockSize, 0u);

    ASSERT_TRUE(entry(longName)) << longName;
    EXPECT_EQ(contentOf(longName), testing::ReadWholeFile(root + "/" + longName));

    ASSERT_TRUE(entry("d/sym"));
    EXPECT_EQ(entry("d/sym")->kind, EntryKind::SymbolicLink);
    EXPECT_EQ(entry("d/sym")->linkName, "f513");
    // Whichever name of the hard-linked file tar meets second is stored as
    // a link to the first.
    ASSERT_TRUE(entry("d/hard"));
    const TarEntry* first = entry("d/f513");
    const TarEntry* second = entry("d/hard");
    if (first->kind == EntryKind::HardLink) std::swap(first, second);
    EXPECT_EQ(first->kind, EntryKind::File);
    EXPECT_EQ(w.data[byName.at(first->name)], testing::ReadWholeFile(root + "/d/f513"));
    EXPECT_EQ(second->kind, EntryKind::HardLink);
    EXPECT_EQ(second->linkName, first->name);
    ASSERT_TRUE(entry("d/fifo"));
    EXPECT_EQ(entry("d/fifo")->kind, EntryKind::Fifo);
}

INSTANTIATE_TEST_SUITE_P(Tar, GnuTarFormats, ::testing::Values("ustar", "gnu", "pax"));
#endif

TEST(TarCorpus, SamplesYieldTheirFiles) {
    TESSERA_REQUIRE_CORPUS();
    for (const auto& sample : testing::CorpusSamplesOf("tar")) {
        SCOPED_TRACE(sample.file);
        Walked w = Walk(testing::ReadWholeFile(testing::CorpusPath(sample.file)));
        EXPECT_EQ(w.end, TarStatus::End);
        std::map<std::string, std::pair<uint64_t, uint32_t>> files;
        for (size_t i = 0; i < w.entries.size(); ++i)
            if (w.entries[i].kind == EntryKind::File)
                files[w.entries[i].name] = {w.data[i].size(), ReferenceCrc32(w.data[i].data(), w.data[i].size())};
        ASSERT_EQ(files.size(), sample.entries.size());
        for (const auto& expected : sample.entries) {
            auto it = files.find(expected.name);
            ASSERT_NE(it, files.end()) << expected.name;
            EXPECT_EQ(it->second.first, expected.size) << expected.name;
            EXPECT_EQ(it->second.second, expected.crc32) << expected.name;
        }
    }
}

// Hand-built headers: each row is something a naive walk gets wrong.
TEST(TarHostile, DefinedResultForEveryRow) {
    using testing::TarHeader;
    auto concat = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    std::vector<uint8_t> end(1024, 0);
    std::vector<uint8_t> ten(10, 'x');
    auto badSum = TarHeader("a", 3);
    badSum[0] ^= 1;
    auto noDigitsSum = TarHeader("a", 3);
    std::fill(noDigitsSum.begin() + 148, noDigitsSum.begin() + 156, ' ');
    auto binaryHuge = TarHeader("big", 0, '0', [](std::vector<uint8_t>& h) {
        std::fill(h.begin() + 124, h.begin() + 136, 0);
        h[124] = 0x80;
        h[128] = 0x40;  // 2^62: the walk must not try to allocate or skip it
    });
    auto binaryOverflow = TarHeader("big", 0, '0', [](std::vector<uint8_t>& h) {
        std::fill(h.begin() + 124, h.begin() + 136, 0xFF);
        h[124] = 0x80;
    });
    auto negativeSize = TarHeader("neg", 0, '0', [](std::vector<uint8_t>& h) {
        std::fill(h.begin() + 124, h.begin() + 136, 0xFF);
    });
    auto longLinkHuge = TarHeader("././@LongLink", 0, 'L', [](std::vector<uint8_t>& h) {
        std::memcpy(&h[124], "77777777777", 11);
    });
    auto paxHuge = TarHeader("pax", 0, 'x', [](std::vector<uint8_t>& h) { std::memcpy(&h[124], "37777777777", 11); });

    auto cutHeader = TarHeader("a", 0);
    cutHeader.resize(300);

    struct Row {
        const char* what;
        std::vector<uint8_t> archive;
        TarStatus end;
        size_t entries;
        uint64_t dataSeen;  // data bytes handed out in total
        unsigned damaged = 0;  // headers the walk had to look past
    };
    const Row rows[] = {
        {"empty input", {}, TarStatus::End, 0, 0},
        {"first block all zero", end, TarStatus::End, 0, 0},
        {"size 77777777777 on 10 bytes", concat({TarHeader("a", 077777777777ull), ten}), TarStatus::Truncated, 1, 10},
        {"base-256 size 2^62 on 10 bytes", concat({binaryHuge, ten}), TarStatus::Truncated, 1, 10},
        {"base-256 size beyond 63 bits", concat({binaryOverflow, end}), TarStatus::BadHeader, 0, 0},
        {"negative base-256 size", concat({negativeSize, end}), TarStatus::BadHeader, 0, 0},
        {"bad header checksum", concat({TarHeader("ok", 1), std::vector<uint8_t>(512, 'y'), badSum, end}),
         TarStatus::End, 1, 1, 1},
        {"checksum field without digits", concat({noDigitsSum, end}), TarStatus::End, 0, 0, 1},
        {"damaged header in the middle: the members after it are found",
         concat({TarHeader("a", 1), std::vector<uint8_t>(512, 'y'), badSum, std::vector<uint8_t>(512, 'z'),
                 TarHeader("b", 2), std::vector<uint8_t>(512, 'w'), TarHeader("c", 0), end}),
         TarStatus::End, 3, 3, 1},
        {"damage up to the end of the input", concat({TarHeader("a", 0), badSum, std::vector<uint8_t>(2048, 'q')}),
         TarStatus::End, 1, 0, 1},
        {"long name header of 8 GiB", concat({longLinkHuge, end}), TarStatus::BadHeader, 0, 0},
        {"pax header of 4 GiB", concat({paxHuge, end}), TarStatus::BadHeader, 0, 0},
        {"header cut short", cutHeader, TarStatus::Truncated, 0, 0},
        {"entry of 513 bytes, next header after two blocks",
         concat({TarHeader("a", 513), std::vector<uint8_t>(1024, 'z'), TarHeader("b", 0), end}), TarStatus::End, 2, 513},
        {"garbage after the end block", concat({TarHeader("a", 0), end, std::vector<uint8_t>(512, 'g')}),
         TarStatus::End, 1, 0},
        {"no end blocks", TarHeader("a", 0), TarStatus::End, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Walked w = Walk(row.archive);
        EXPECT_EQ(w.end, row.end);
        EXPECT_EQ(w.entries.size(), row.entries);
        EXPECT_EQ(w.damagedHeaders, row.damaged);
        uint64_t seen = 0;
        for (const auto& d : w.data) seen += d.size();
        EXPECT_EQ(seen, row.dataSeen);
        // Passing over the data instead of reading it ends the same way.
        Walked skipped = Walk(row.archive, 7000, true);
        EXPECT_EQ(skipped.end, row.end);
        EXPECT_EQ(skipped.entries.size(), row.entries);
    }
}

TEST(TarHeaderFields, NumbersAndNames) {
    using testing::TarHeader;
    // Octal with leading blanks and a NUL or blank terminator, as old writers
    // left them; an all-blank mtime is 0.
    auto spaced = TarHeader("spaced", 0, '0', [](std::vector<uint8_t>& h) {
        std::memcpy(&h[124], "     12 \0\0\0\0", 12);
        std::memcpy(&h[136], "            ", 12);
    });
    auto binary = TarHeader("bin", 0, '0', [](std::vector<uint8_t>& h) {
        std::fill(h.begin() + 124, h.begin() + 136, 0);
        h[124] = 0x80;
        h[135] = 3;
        std::fill(h.begin() + 136, h.begin() + 148, 0xFF);  // mtime -1 in base-256
    });
    auto full100 = TarHeader(std::string(100, 'n'), 0);
    auto prefixed = TarHeader("name.txt", 0, '0', [](std::vector<uint8_t>& h) {
        std::memcpy(&h[345], "some/prefix", 11);
    });
    auto gnuMagic = TarHeader("gnu.txt", 0, '0', [](std::vector<uint8_t>& h) {
        std::memcpy(&h[257], "ustar  ", 8);
        std::memcpy(&h[345], "notaprefix", 10);  // atime/ctime in GNU headers
    });
    auto slashFolder = TarHeader("dir/", 0, '0');
    auto escaping = TarHeader("../x", 0);
    std::string pax = "28 path=p/a/x-long-name.txt\n";
    auto paxHeader = TarHeader("PaxHeaders/x", pax.size(), 'x');
    std::vector<uint8_t> paxData(512, 0);
    std::memcpy(paxData.data(), pax.data(), pax.size());

    std::vector<uint8_t> archive;
    for (const auto& part : {spaced, std::vector<uint8_t>(512, 's'), binary, std::vector<uint8_t>(512, 'b'), full100,
                             prefixed, gnuMagic, slashFolder, escaping, paxHeader, paxData, TarHeader("x", 0)})
        archive.insert(archive.end(), part.begin(), part.end());
    archive.resize(archive.size() + 1024);

    Walked w = Walk(archive, 5);
    ASSERT_EQ(w.end, TarStatus::End);
    ASSERT_EQ(w.entries.size(), 8u);
    EXPECT_EQ(w.entries[0].size, 10u);
    EXPECT_EQ(w.entries[0].mtime, 0);
    EXPECT_EQ(w.entries[1].size, 3u);
    EXPECT_EQ(w.entries[1].mtime, -1);
    EXPECT_EQ(w.entries[2].name, std::string(100, 'n'));
    EXPECT_EQ(w.entries[3].name, "some/prefix/name.txt");
    EXPECT_EQ(w.entries[4].name, "gnu.txt");
    EXPECT_EQ(w.entries[5].kind, EntryKind::Folder);
    EXPECT_EQ(w.entries[6].name, "../x");  // delivered as stored; the engine core makes it safe
    EXPECT_EQ(w.entries[7].name, "p/a/x-long-name.txt");
}

// Every cut of a small valid archive ends in a defined status, never more
// data than the archive holds.
TEST(TarHostile, EveryTruncationEndsCleanly) {
    using testing::TarHeader;
    std::vector<uint8_t> archive;
    std::string longName(150, 'L');
    auto longHeader = TarHeader("././@LongLink", longName.size() + 1, 'L');
    std::vector<uint8_t> longData(512, 0);
    std::memcpy(longData.data(), longName.data(), longName.size());
    for (const auto& part : {TarHeader("a", 700), std::vector<uint8_t>(1024, 'a'), longHeader, longData,
                             TarHeader("short", 5), std::vector<uint8_t>(512, 'b'), std::vector<uint8_t>(1024, 0)})
        archive.insert(archive.end(), part.begin(), part.end());
    Walked whole = Walk(archive);
    ASSERT_EQ(whole.end, TarStatus::End);
    ASSERT_EQ(whole.entries.size(), 2u);
    EXPECT_EQ(whole.entries[1].name, longName);
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        std::vector<uint8_t> part(archive.begin(), archive.begin() + static_cast<long>(cut));
        Walked w = Walk(part);
        // Member boundaries: before "a", before the long name, after "short",
        // after the first end block.
        bool atBoundary = cut == 0 || cut == 1536 || cut == 3584 || cut >= 4096;
        EXPECT_EQ(w.end, atBoundary ? TarStatus::End : TarStatus::Truncated) << cut;
        EXPECT_EQ(Walk(part, 7000, true).end, w.end) << cut;
    }
}

}  // namespace
}  // namespace tessera::tar
