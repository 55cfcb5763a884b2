// The gzip member loop: files made by GNU gzip, the corpus samples (gzip and
// tar.gz), and damaged members.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "formats/gzip/gzip_reader.h"
#include "formats/tar/tar_reader.h"
#include "test_files.h"
#include "tgz_test_util.h"

namespace tessera::gzip {
namespace {

using testing::ReferenceCrc32;

GzipDecodeResult Decode(const std::vector<uint8_t>& file, std::vector<uint8_t>& out) {
    MemorySource source(file.data(), file.size());
    VectorSink sink(1u << 26);
    GzipDecodeResult r = DecodeGzipFile(source, sink);
    out = std::move(sink.bytes);
    return r;
}

#ifndef _WIN32
// Single and concatenated members from GNU gzip, names stored or not: the
// whole content comes out as one stream.
TEST(GzipDecode, GnuGzipSingleAndConcatenatedMembers) {
    testing::ScratchFolder scratch;
    std::string script = "cd '" + scratch.Path() + "' && head -c 100000 /dev/urandom > r && seq 1 30000 > s && : > e && "
                         "gzip -c -N r > one.gz && gzip -c -n -9 s > s.gz && gzip -c e > e.gz && "
                         "cat one.gz s.gz e.gz > three.gz";
    ASSERT_EQ(std::system(("sh -c \"" + script + "\"").c_str()), 0);
    std::vector<uint8_t> r = testing::ReadWholeFile(scratch / "r"), s = testing::ReadWholeFile(scratch / "s");
    std::vector<uint8_t> both = r;
    both.insert(both.end(), s.begin(), s.end());
    const std::pair<const char*, const std::vector<uint8_t>*> rows[] = {{"one.gz", &r}, {"s.gz", &s}, {"three.gz", &both}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        std::vector<uint8_t> out;
        GzipDecodeResult res = Decode(testing::ReadWholeFile(scratch / row.first), out);
        EXPECT_EQ(res.status, GzipStatus::Ok);
        EXPECT_FALSE(res.trailingData);
        EXPECT_EQ(out, *row.second);
        EXPECT_EQ(res.bytesOut, row.second->size());
    }
}
#endif

TEST(GzipCorpus, SamplesDecodeToTheirEntries) {
    TESSERA_REQUIRE_CORPUS();
    for (const auto& sample : testing::CorpusSamplesOf("gz")) {
        SCOPED_TRACE(sample.file);
        std::vector<uint8_t> out;
        GzipDecodeResult r = Decode(testing::ReadWholeFile(testing::CorpusPath(sample.file)), out);
        EXPECT_EQ(r.status, GzipStatus::Ok);
        ASSERT_EQ(sample.entries.size(), 1u);
        EXPECT_EQ(out.size(), sample.entries[0].size);
        EXPECT_EQ(ReferenceCrc32(out.data(), out.size()), sample.entries[0].crc32);
    }
}

TEST(GzipCorpus, TarGzSamplesYieldTheirFiles) {
    TESSERA_REQUIRE_CORPUS();
    for (const auto& sample : testing::CorpusSamplesOf("tgz")) {
        SCOPED_TRACE(sample.file);
        std::vector<uint8_t> tar;
        GzipDecodeResult r = Decode(testing::ReadWholeFile(testing::CorpusPath(sample.file)), tar);
        EXPECT_EQ(r.status, GzipStatus::Ok);
        EXPECT_EQ(r.trailingData, sample.file.find("trailing_garbage") != std::string::npos);

        MemorySource source(tar.data(), tar.size());
        tar::TarReader reader(source);
        tar::TarEntry e;
        std::map<std::string, std::pair<uint64_t, uint32_t>> files;
        tar::TarStatus status;
        while ((status = reader.Next(e)) == tar::TarStatus::Entry) {
            if (e.kind != tar::EntryKind::File) continue;
            std::vector<uint8_t> data(static_cast<size_t>(e.size));
            ASSERT_EQ(reader.ReadData(data.data(), data.size()), data.size());
            files[e.name] = {data.size(), ReferenceCrc32(data.data(), data.size())};
        }
        EXPECT_EQ(status, tar::TarStatus::End);
        ASSERT_EQ(files.size(), sample.entries.size());
        for (const auto& expected : sample.entries) {
            if (expected.name.rfind("hex:", 0) == 0) continue;  // not UTF-8: matched by size and CRC below
            auto it = files.find(expected.name);
            ASSERT_NE(it, files.end()) << expected.name;
            EXPECT_EQ(it->second, std::make_pair(expected.size, expected.crc32)) << expected.name;
        }
    }
}

// Damaged members: every row must end in its own defined status.
TEST(GzipHostile, DefinedResultForEveryRow) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    std::vector<uint8_t> good = testing::GzipStoredMember(text, kFlagName, "fox.txt");
    auto edited = [&](size_t fromEnd, uint8_t x) {
        std::vector<uint8_t> m = good;
        m[m.size() - fromEnd] ^= x;
        return m;
    };
    std::vector<uint8_t> isizeHuge = good;
    for (size_t i = 1; i <= 4; ++i) isizeHuge[isizeHuge.size() - i] = 0xFF;
    std::vector<uint8_t> method7 = good;
    method7[2] = 7;
    std::vector<uint8_t> twoMembers = good;
    std::vector<uint8_t> second = testing::GzipStoredMember("second");
    twoMembers.insert(twoMembers.end(), second.begin(), second.end());
    std::vector<uint8_t> badSecond = twoMembers;
    badSecond[badSecond.size() - 5] ^= 1;  // CRC of the second member
    std::vector<uint8_t> zeroPadded = good;
    zeroPadded.resize(zeroPadded.size() + 512);
    std::vector<uint8_t> badBlock = good;
    badBlock[18] = 0x07;  // block type 3
    std::vector<uint8_t> badFhcrc = testing::GzipStoredMember(text, kFlagHeaderCrc);
    badFhcrc[10] ^= 1;

    struct Row {
        const char* what;
        std::vector<uint8_t> file;
        GzipStatus status;
        uint64_t bytesOut;
        bool trailing;
    };
    const Row rows[] = {
        {"intact", good, GzipStatus::Ok, text.size(), false},
        {"flipped data byte", edited(9, 0x20), GzipStatus::BadCrc, text.size(), false},
        {"flipped trailer CRC", edited(8, 1), GzipStatus::BadCrc, text.size(), false},
        {"ISIZE 0xFFFFFFFF", isizeHuge, GzipStatus::BadLength, text.size(), false},
        {"method 7", method7, GzipStatus::UnknownMethod, 0, false},
        {"reserved block type", badBlock, GzipStatus::BadData, 0, false},
        {"wrong FHCRC", badFhcrc, GzipStatus::BadHeaderCrc, 0, false},
        {"two members", twoMembers, GzipStatus::Ok, text.size() + 6, false},
        {"bad CRC in the second member", badSecond, GzipStatus::BadCrc, text.size() + 6, false},
        {"zero padding after the member", zeroPadded, GzipStatus::Ok, text.size(), true},
        {"empty file", {}, GzipStatus::Truncated, 0, false},
        {"not gzip", std::vector<uint8_t>(100, 'A'), GzipStatus::NotGzip, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> out;
        GzipDecodeResult r = Decode(row.file, out);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.bytesOut, row.bytesOut);
        EXPECT_EQ(r.trailingData, row.trailing);
        if (row.status == GzipStatus::BadCrc) {
            EXPECT_NE(r.storedCrc, r.computedCrc);
        }
        if (row.status == GzipStatus::UnknownMethod) {
            EXPECT_EQ(r.method, 7);
        }
    }

    // Every cut of a member is a failure, never success with short output.
    for (size_t cut = 0; cut < good.size(); ++cut) {
        std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut)), out;
        GzipDecodeResult r = Decode(part, out);
        EXPECT_TRUE(r.status == GzipStatus::Truncated || r.status == GzipStatus::BadData ||
                    (cut == 1 && r.status == GzipStatus::NotGzip))
            << cut << " " << static_cast<int>(r.status);
    }
}

}  // namespace
}  // namespace tessera::gzip
