// gzip member headers: every flag, hostile lengths, names derived from the
// archive's file name.
#include "formats/gzip/gzip_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_files.h"
#include "tgz_test_util.h"

namespace tessera::gzip {
namespace {

HeaderStatus Parse(const std::vector<uint8_t>& bytes, GzipHeader& header, size_t bufferSize = 32768) {
    MemorySource source(bytes.data(), bytes.size());
    GzipInput input(source, bufferSize);
    return ReadGzipHeader(input, header);
}

TEST(GzipHeader, EveryFlagLocatesNameCommentAndData) {
    std::vector<uint8_t> extra = {'A', 'B', 3, 0, 1, 2, 3, 'C', 'D', 0, 0};
    std::vector<uint8_t> m = testing::GzipMemberHeader(
        kFlagExtra | kFlagName | kFlagComment | kFlagHeaderCrc, 0x5F5E1000u, &extra, "dir/name.txt", "a comment");
    m.push_back(0x99);  // first byte of the compressed data
    for (size_t bufferSize : {1u, 3u, 32768u}) {
        GzipHeader h;
        ASSERT_EQ(Parse(m, h, bufferSize), HeaderStatus::Ok);
        EXPECT_EQ(h.method, kMethodDeflate);
        EXPECT_EQ(h.mtime, 0x5F5E1000u);
        EXPECT_EQ(h.os, 3);
        EXPECT_EQ(h.name, "dir/name.txt");
        EXPECT_EQ(h.comment, "a comment");
        EXPECT_EQ(h.headerSize, m.size() - 1);
    }

    // A wrong FHCRC is damage; every cut inside the header is truncation.
    std::vector<uint8_t> bad = m;
    bad[bad.size() - 2] ^= 0xFF;
    GzipHeader h;
    EXPECT_EQ(Parse(bad, h), HeaderStatus::BadHeaderCrc);
    for (size_t cut = 0; cut + 1 < m.size(); ++cut) {
        std::vector<uint8_t> part(m.begin(), m.begin() + static_cast<long>(cut));
        HeaderStatus expected = cut == 0 ? HeaderStatus::Empty : cut == 1 ? HeaderStatus::NotGzip : HeaderStatus::Truncated;
        EXPECT_EQ(Parse(part, h), expected) << cut;
    }
}

TEST(GzipHeader, HostileLengths) {
    // XLEN of 65,535 on a short file; a name far longer than the kept text;
    // a wrong signature.
    std::vector<uint8_t> bigExtra(65535, 'x');
    std::vector<uint8_t> extraCut = testing::GzipMemberHeader(kFlagExtra, 0, &bigExtra);
    extraCut.resize(100);
    GzipHeader h;
    EXPECT_EQ(Parse(extraCut, h), HeaderStatus::Truncated);

    std::string longName(100000, 'n');
    std::vector<uint8_t> m = testing::GzipMemberHeader(kFlagName | kFlagComment, 0, nullptr, longName, "c");
    ASSERT_EQ(Parse(m, h), HeaderStatus::Ok);
    EXPECT_EQ(h.name.size(), kMaxTextLength);
    EXPECT_EQ(h.comment, "c");
    EXPECT_EQ(h.headerSize, m.size());

    m[1] = 0x8C;
    EXPECT_EQ(Parse(m, h), HeaderStatus::NotGzip);
}

#ifndef _WIN32
// gzip -N stores the name and time, gzip -n neither.
TEST(GzipHeader, GnuGzipNameAndTime) {
    testing::ScratchFolder scratch;
    std::string script = "cd '" + scratch.Path() + "' && printf hello > 'the file.txt' && TZ=UTC touch -d '2020-01-02 03:04:05' 'the file.txt' && "
                         "gzip -c -N 'the file.txt' > named.gz && gzip -c -n 'the file.txt' > bare.gz";
    ASSERT_EQ(std::system(("sh -c \"" + script + "\"").c_str()), 0);
    GzipHeader h;
    ASSERT_EQ(Parse(testing::ReadWholeFile(scratch / "named.gz"), h), HeaderStatus::Ok);
    EXPECT_TRUE(h.hasName);
    EXPECT_EQ(h.name, "the file.txt");
    EXPECT_EQ(h.mtime, 1577934245u);
    EXPECT_EQ(h.headerSize, 10u + 13u);
    ASSERT_EQ(Parse(testing::ReadWholeFile(scratch / "bare.gz"), h), HeaderStatus::Ok);
    EXPECT_FALSE(h.hasName);
    EXPECT_EQ(h.mtime, 0u);
    EXPECT_EQ(h.headerSize, 10u);
}
#endif

TEST(GzipHeader, NameFromArchivePath) {
    const std::pair<const char*, const char*> rows[] = {
        {"C:\\backup\\data.tar.gz", "data.tar"}, {"/x/backup.tar.gz", "backup.tar"}, {"notes", "notes"},
        {"dir.v2\\notes", "notes"},             {"my.old file", "my.old file"},   {"a b.gz", "a b"},
        {".gz", ".gz"},                          {"archive.Z", "archive"},
    };
    for (const auto& row : rows) EXPECT_EQ(NameFromArchivePath(row.first), row.second) << row.first;
}

}  // namespace
}  // namespace tessera::gzip
