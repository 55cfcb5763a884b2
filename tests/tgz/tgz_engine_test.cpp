// The TAR, gzip and TAR-in-gzip format classes through the engine's public
// interface (Windows build, run under Wine): the corpus samples listed and
// extracted, links skipped, unsafe names kept inside the destination, the
// failure table, entry times, header names at their limits, the temporary
// TAR of a .tgz, and Shift opening a .tgz or .taz as its gzip member.
#include "tescore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "engine_session.h"
#include "test_files.h"
#include "tgz_test_util.h"

namespace {

using tessera::testing::ReadWholeFile;
using tessera::testing::ReferenceCrc32;
using tessera::testing::ScratchFolder;

using tessera::testing::FilesBelow;
using tessera::testing::kQuietAnswers;
using tessera::testing::OpenedArchive;

// Shift as the test says; every other question answered quietly.
bool g_shift = false;
BOOL CALLBACK Shift(void*) { return g_shift; }
ARCPROMPTHANDLER AnswersWithShift() {
    ARCPROMPTHANDLER answers = kQuietAnswers;
    answers.IsShiftDown = Shift;
    return answers;
}
const ARCPROMPTHANDLER kAnswers = AnswersWithShift();

struct Archive : OpenedArchive {
    explicit Archive(const std::string& path, bool collectLog = true) : OpenedArchive(path, &kAnswers, collectLog) {}
    HRESULT ExtractAll(const std::string& folder) { return Extract(folder); }
};

TEST(TgzEngine, CorpusSamplesListAndExtract) {
    TESSERA_REQUIRE_CORPUS();
    for (const char* format : {"tar", "gz", "tgz"}) {
        for (const auto& sample : tessera::testing::CorpusSamplesOf(format)) {
            SCOPED_TRACE(sample.file);
            std::string path = tessera::testing::CorpusPath(sample.file);
            // ".tar.gz" opens as gzip (its last extension); the TAR inside is
            // read through a copy named ".tgz".
            ScratchFolder copy;
            if (std::string(format) == "tgz" && path.substr(path.size() - 4) != ".tgz") {
                std::vector<uint8_t> bytes = ReadWholeFile(path);
                path = copy / "sample.tgz";
                tessera::testing::WriteWholeFile(path, bytes.data(), bytes.size());
            }
            Archive a(path);
            ASSERT_EQ(a.created, S_OK);
            HRESULT listed = a.List();
            EXPECT_TRUE(listed == S_OK || (listed == S_FALSE && sample.file.find("trailing") != std::string::npos))
                << std::hex << listed << a.log;
            ScratchFolder out;
            HRESULT extracted = a.ExtractAll(out.Path());
            EXPECT_TRUE(SUCCEEDED(extracted)) << std::hex << extracted << a.log;
            tessera::testing::FileMap files = FilesBelow(out.Path());
            if (std::string(format) == "gz") {
                // The one entry, under its listed name.
                ASSERT_EQ(files.size(), 1u);
                EXPECT_EQ(files.begin()->first, a.Names().at(0));
                EXPECT_EQ(files.begin()->second, std::make_pair(sample.entries[0].size, sample.entries[0].crc32));
                continue;
            }
            EXPECT_EQ(files.size(), sample.entries.size());
            for (const auto& e : sample.entries) {
                if (e.name.rfind("hex:", 0) == 0) continue;  // OEM name: compared by count only
                auto it = files.find(e.name);
                ASSERT_NE(it, files.end()) << e.name;
                EXPECT_EQ(it->second, std::make_pair(e.size, e.crc32)) << e.name;
            }
        }
    }
}

// A TAR made here: a folder, a file, a symbolic link, names that try to
// leave the destination.
TEST(TgzEngine, TarLinksSkippedAndUnsafeNamesContained) {
    using tessera::testing::TarHeader;
    std::vector<uint8_t> tar;
    auto add = [&](const std::vector<uint8_t>& block) { tar.insert(tar.end(), block.begin(), block.end()); };
    auto addData = [&](const std::string& text) {
        std::vector<uint8_t> block(512, 0);
        std::memcpy(block.data(), text.data(), text.size());
        add(block);
    };
    add(TarHeader("dir/", 0, '5'));
    add(TarHeader("dir/a.txt", 5));
    addData("hello");
    add(TarHeader("dir/link", 0, '2', [](std::vector<uint8_t>& h) { std::memcpy(&h[157], "a.txt", 5); }));
    add(TarHeader("../escape.txt", 3));
    addData("bad");
    add(TarHeader("/abs.txt", 3));
    addData("abs");
    tar.resize(tar.size() + 1024);

    ScratchFolder scratch;
    std::string archive = scratch / "t.tar";
    tessera::testing::WriteWholeFile(archive, tar.data(), tar.size());
    Archive a(archive);
    ASSERT_EQ(a.List(), S_OK) << a.log;
    ASSERT_EQ(a.object->GetEntryCount(), 5u);
    DWORD size = 0, packed = 0, folders = 0, files = 0;
    a.object->GetTotals(&size, &packed, &folders, &files);
    EXPECT_EQ(folders, 1u);
    EXPECT_EQ(a.object->GetEntries()[0].attributes, 0x10u);
    EXPECT_EQ(a.object->GetEntries()[1].attributes, 0x20u);

    std::string dest = scratch / "out";
    CreateDirectoryA(dest.c_str(), nullptr);
    EXPECT_EQ(a.ExtractAll(dest), S_FALSE) << a.log;  // the link is skipped with a warning
    EXPECT_NE(a.log.find("symbolic link"), std::string::npos) << a.log;
    tessera::testing::FileMap out = FilesBelow(scratch.Path());
    EXPECT_EQ(out.count("out/dir/a.txt"), 1u);
    EXPECT_EQ(out.count("out/dir/link"), 0u);
    EXPECT_EQ(out.count("escape.txt"), 0u);  // nothing beside the destination
    for (const auto& f : out)
        EXPECT_TRUE(f.first == "t.tar" || f.first.rfind("out/", 0) == 0) << f.first;

    // Without anyone collecting the log the result still tells that a
    // selected entry (the link, the unsafe names) is not there.
    Archive quiet(archive, false);
    ASSERT_EQ(quiet.List(), S_OK);
    EXPECT_EQ(quiet.ExtractAll(scratch / "quiet"), S_FALSE);
}

// A failing read of the archive is reported and fails the listing, in
// either walk of the TAR listing and in the gzip member loop.
TEST(TgzEngine, ReadErrorsAreReported) {
    using tessera::testing::TarHeader;
    std::vector<uint8_t> tar = TarHeader("a.txt", 0);
    tar.resize(512 + 1024, 0);
    std::string tarText(tar.begin(), tar.end());
    std::vector<uint8_t> gz = tessera::testing::GzipStoredMember(tarText);
    ScratchFolder scratch;
    tessera::testing::WriteWholeFile(scratch / "r.tar", tar.data(), tar.size());
    tessera::testing::WriteWholeFile(scratch / "r.tgz", gz.data(), gz.size());
    for (const char* name : {"r.tar", "r.tgz"}) {
        for (const char* nth : {"1", "2"}) {
            SCOPED_TRACE(std::string(name) + " read " + nth);
            Archive a(scratch / name);
            tessera::testing::SetEngineFileFault(ARC_FAULT_READ, nth);
            HRESULT hr = a.List();
            tessera::testing::SetEngineFileFault(ARC_FAULT_READ, nullptr);
            EXPECT_EQ(hr, E_FAIL) << a.log;
            EXPECT_NE(a.log.find("Error reading archive"), std::string::npos) << a.log;
        }
    }
}

// Damaged archives: what is listed, what the log says, how the operation ends.
TEST(TgzEngine, DamageTable) {
    using tessera::testing::TarHeader;
    std::vector<uint8_t> tar = TarHeader("a.txt", 700);
    tar.resize(512 * 3, 'a');
    std::vector<uint8_t> b = TarHeader("b.txt", 0);
    tar.insert(tar.end(), b.begin(), b.end());
    tar.resize(tar.size() + 1024, 0);
    std::vector<uint8_t> cutInData(tar.begin(), tar.begin() + 900);
    std::vector<uint8_t> badSum = tar;
    badSum[1536 + 1] ^= 1;  // the name of b.txt
    std::vector<uint8_t> badFirst = tar;
    badFirst[1] ^= 1;  // the name of a.txt: the walk finds b.txt behind a.txt's data
    std::vector<uint8_t> huge = tar;
    std::vector<uint8_t> hugeHeader = TarHeader("a.txt", 077777777777ull);
    std::copy(hugeHeader.begin(), hugeHeader.end(), huge.begin());
    std::string tarText(tar.begin(), tar.end());
    std::vector<uint8_t> tgz = tessera::testing::GzipStoredMember(tarText);
    std::vector<uint8_t> tgzCut(tgz.begin(), tgz.begin() + static_cast<long>(tgz.size() / 2));
    std::vector<uint8_t> tgzFlip = tgz;
    tgzFlip[tgzFlip.size() / 2] ^= 0x40;  // a data byte of a.txt: only the member's CRC shows it

    struct Row {
        const char* file;
        std::vector<uint8_t> bytes;
        HRESULT list;
        DWORD entries;
        const char* logText;
    };
    const Row rows[] = {
        {"cut.tar", cutInData, S_FALSE, 1, "unexpected end of the archive"},
        {"sum.tar", badSum, S_FALSE, 1, "header checksum is wrong"},
        {"first.tar", badFirst, S_FALSE, 1, "header checksum is wrong"},
        {"huge.tar", huge, S_FALSE, 1, "unexpected end of the archive"},
        {"cut.tgz", tgzCut, E_FAIL, 0, "Invalid compressed data"},
        {"flip.tgz", tgzFlip, E_FAIL, 0, "Bad checksum"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        ScratchFolder scratch;
        tessera::testing::WriteWholeFile(scratch / row.file, row.bytes.data(), row.bytes.size());
        Archive a(scratch / row.file);
        EXPECT_EQ(a.List(), row.list) << a.log;
        EXPECT_EQ(a.object->GetEntryCount(), row.entries);
        EXPECT_NE(a.log.find(row.logText), std::string::npos) << a.log;
        if (row.list == E_FAIL) {  // nothing to extract either: the failure is reported again
            a.log.clear();
            ScratchFolder out;
            EXPECT_TRUE(FAILED(a.ExtractAll(out.Path()))) << a.log;
            EXPECT_NE(a.log.find(row.logText), std::string::npos) << a.log;
        }
    }
}

// A failed write ends that entry only: the TAR walk goes on to the next.
TEST(TgzEngine, TarWriteFailureSparesTheOtherEntries) {
    using tessera::testing::TarHeader;
    std::vector<uint8_t> tar;
    for (const char* name : {"one.txt", "two.txt"}) {
        std::vector<uint8_t> h = TarHeader(name, 3);
        tar.insert(tar.end(), h.begin(), h.end());
        std::vector<uint8_t> data(512, 0);
        std::memcpy(data.data(), name, 3);
        tar.insert(tar.end(), data.begin(), data.end());
    }
    tar.resize(tar.size() + 1024, 0);
    ScratchFolder scratch;
    tessera::testing::WriteWholeFile(scratch / "w.tar", tar.data(), tar.size());
    Archive a(scratch / "w.tar");
    ASSERT_EQ(a.List(), S_OK);
    std::string dest = scratch / "out";
    CreateDirectoryA(dest.c_str(), nullptr);
    tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, "1,5");  // access denied on the first write
    a.ExtractAll(dest);
    tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, nullptr);
    EXPECT_NE(a.log.find("File cannot be written"), std::string::npos) << a.log;
    ASSERT_TRUE(tessera::testing::FileExists(dest + "\\two.txt")) << a.log;
    std::vector<uint8_t> two = ReadWholeFile(dest + "\\two.txt");
    EXPECT_EQ(std::string(two.begin(), two.end()), "two");
}

TEST(TgzEngine, GzipFailureTableAndNames) {
    const std::string text = "gzip through the engine";
    std::vector<uint8_t> good = tessera::testing::GzipStoredMember(text);
    std::vector<uint8_t> badCrc = good;
    badCrc[badCrc.size() - 8] ^= 1;
    std::vector<uint8_t> method7 = good;
    method7[2] = 7;
    std::vector<uint8_t> notGzip(64, 'x');

    struct Row {
        const char* file;
        std::vector<uint8_t> bytes;
        HRESULT list, extract;
        const char* logText;    // expected in the log
        const char* entryName;  // listed name, null: nothing listed
        bool written;
    };
    const Row rows[] = {
        {"backup.tar.gz", good, S_OK, S_OK, "", "backup.tar", true},
        {"crc.gz", badCrc, S_OK, S_FALSE, "Bad checksum ", "crc", true},
        {"m7.gz", method7, S_OK, S_FALSE, "method 7 is unknown.", "m7", false},
        {"junk.gz", notGzip, E_FAIL, E_FAIL, "does not seam to be a valid GZ files", nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        ScratchFolder scratch;
        std::string path = scratch / row.file;
        tessera::testing::WriteWholeFile(path, row.bytes.data(), row.bytes.size());
        Archive a(path);
        ASSERT_EQ(a.created, S_OK);
        EXPECT_EQ(a.List(), row.list) << a.log;
        if (row.entryName) {
            ASSERT_EQ(a.Names(), std::vector<std::string>{row.entryName});
            EXPECT_EQ(a.object->GetEntries()[0].size, text.size());
        }
        std::string dest = scratch / "out";
        CreateDirectoryA(dest.c_str(), nullptr);
        EXPECT_EQ(a.ExtractAll(dest), row.extract) << a.log;
        EXPECT_NE(a.log.find(row.logText), std::string::npos) << a.log;
        if (row.entryName) {
            EXPECT_EQ(tessera::testing::FileExists(dest + "\\" + row.entryName), row.written);
        }
    }
}

// The gzip FNAME is a stored name like any other: it cannot leave the
// destination.
TEST(TgzEngine, GzipNameStaysInsideTheDestination) {
    for (const char* stored : {"../evil.txt", "/evil.txt", "C:\\evil.txt", "..\\..\\evil.txt"}) {
        SCOPED_TRACE(stored);
        std::vector<uint8_t> gz = tessera::testing::GzipStoredMember("x", 0x08, stored);
        ScratchFolder scratch;
        tessera::testing::WriteWholeFile(scratch / "n.gz", gz.data(), gz.size());
        std::string dest = scratch / "out";
        CreateDirectoryA(dest.c_str(), nullptr);
        Archive a(scratch / "n.gz");
        ASSERT_EQ(a.List(), S_OK);
        EXPECT_EQ(a.Names(), std::vector<std::string>{stored});
        a.ExtractAll(dest);
        tessera::testing::FileMap files = FilesBelow(scratch.Path());
        for (const auto& f : files) EXPECT_TRUE(f.first == "n.gz" || f.first.rfind("out/", 0) == 0) << f.first;
        EXPECT_FALSE(tessera::testing::FileExists("C:\\evil.txt"));
    }
}

// A TAR block of data: `text` padded with zeros.
std::vector<uint8_t> DataBlock(const std::string& text) {
    std::vector<uint8_t> block(512, 0);
    std::memcpy(block.data(), text.data(), text.size());
    return block;
}

// The UTC instant of a calendar time, built without the engine's arithmetic.
FILETIME UtcInstant(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

uint64_t Ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The last-write time of a file as the file system keeps it (UTC).
FILETIME LastWrite(const std::string& path) {
    FILETIME t = {};
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        GetFileTime(h, nullptr, nullptr, &t);
        CloseHandle(h);
    }
    return t;
}

// TAR mtime and gzip MTIME count seconds from 1970 in UTC: the listed time is
// that instant in local time, and the extracted file carries the instant
// itself, as tar and gunzip set it.
TEST(TgzEngine, EntryTimesAreTheStoredUtcInstant) {
    using tessera::testing::TarHeader;
    std::vector<uint8_t> tar = TarHeader("t.txt", 2, '0', [](std::vector<uint8_t>& h) {
        std::snprintf(reinterpret_cast<char*>(&h[136]), 12, "%011o", 1623760496u);  // 2021-06-15 12:34:56 UTC
    });
    std::vector<uint8_t> data = DataBlock("hi");
    tar.insert(tar.end(), data.begin(), data.end());
    tar.resize(tar.size() + 1024, 0);
    std::vector<uint8_t> gz = tessera::testing::GzipStoredMember("hi");  // MTIME 1600000000

    struct Row {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* entry;
        FILETIME utc;
    };
    const Row rows[] = {
        {"t.tar", tar, "t.txt", UtcInstant(2021, 6, 15, 12, 34, 56)},
        {"t.gz", gz, "t", UtcInstant(2020, 9, 13, 12, 26, 40)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        ScratchFolder scratch;
        tessera::testing::WriteWholeFile(scratch / row.file, row.bytes.data(), row.bytes.size());
        Archive a(scratch / row.file);
        ASSERT_EQ(a.List(), S_OK) << a.log;
        ASSERT_EQ(a.Names(), std::vector<std::string>{row.entry});
        FILETIME listed = {};
        ASSERT_TRUE(LocalFileTimeToFileTime(&a.object->GetEntries()[0].time, &listed));
        EXPECT_EQ(Ticks(listed), Ticks(row.utc));
        std::string dest = scratch / "out";
        CreateDirectoryA(dest.c_str(), nullptr);
        ASSERT_EQ(a.ExtractAll(dest), S_OK) << a.log;
        EXPECT_EQ(Ticks(LastWrite(dest + "\\" + row.entry)), Ticks(row.utc));
    }
}

// Header names at their limits: a plain-file entry whose name ends in "/" is
// a folder, a name filling all 100 bytes of its field is read whole, and an
// archive whose first block is zero holds nothing.
TEST(TgzEngine, TarNamesAtTheirLimits) {
    using tessera::testing::TarHeader;
    const std::string full = std::string(96, 'n') + ".txt";
    std::vector<uint8_t> tar = TarHeader("folder/", 0, '0');
    std::vector<uint8_t> h = TarHeader(full, 5);
    std::vector<uint8_t> data = DataBlock("whole");
    tar.insert(tar.end(), h.begin(), h.end());
    tar.insert(tar.end(), data.begin(), data.end());
    tar.resize(tar.size() + 1024, 0);
    ASSERT_NE(tar[512 + 99], 0);  // no NUL in the name field

    ScratchFolder scratch;
    tessera::testing::WriteWholeFile(scratch / "n.tar", tar.data(), tar.size());
    Archive a(scratch / "n.tar");
    ASSERT_EQ(a.List(), S_OK) << a.log;
    ASSERT_EQ(a.Names(), (std::vector<std::string>{"folder/", full}));
    EXPECT_EQ(a.object->GetEntries()[0].attributes, 0x10u);
    EXPECT_EQ(a.object->GetEntries()[1].attributes, 0x20u);
    EXPECT_EQ(a.object->GetEntries()[1].size, 5u);
    DWORD size = 0, packed = 0, folders = 0, files = 0;
    a.object->GetTotals(&size, &packed, &folders, &files);
    EXPECT_EQ(folders, 1u);
    EXPECT_EQ(files, 1u);
    std::string dest = scratch / "out";
    CreateDirectoryA(dest.c_str(), nullptr);
    ASSERT_EQ(a.ExtractAll(dest), S_OK) << a.log;
    DWORD attributes = GetFileAttributesA((dest + "\\folder").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << attributes;
    std::vector<uint8_t> whole = ReadWholeFile(dest + "\\" + full);
    EXPECT_EQ(std::string(whole.begin(), whole.end()), "whole");

    // The empty archive tar writes: ten zero blocks.
    std::vector<uint8_t> empty(10240, 0);
    tessera::testing::WriteWholeFile(scratch / "e.tar", empty.data(), empty.size());
    Archive e(scratch / "e.tar");
    EXPECT_EQ(e.List(), S_OK) << e.log;
    EXPECT_EQ(e.object->GetEntryCount(), 0u);
    EXPECT_EQ(e.log.find("rror"), std::string::npos) << e.log;
    std::string emptyDest = scratch / "empty";
    CreateDirectoryA(emptyDest.c_str(), nullptr);
    EXPECT_EQ(e.ExtractAll(emptyDest), S_OK) << e.log;
}

int CountTemporaryTars() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((std::string(folder) + "tgz*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileA(find, &data));
    FindClose(find);
    return n;
}

TEST(TgzEngine, TemporaryTarReusedAndDeleted) {
    using tessera::testing::TarHeader;
    std::vector<uint8_t> tar = TarHeader("inner.txt", 2);
    tar.resize(512 * 2 + 1024, 0);
    tar[512] = 'h';
    tar[513] = 'i';
    std::string tarText(tar.begin(), tar.end());
    std::vector<uint8_t> tgz = tessera::testing::GzipStoredMember(tarText);
    ScratchFolder scratch;
    std::string path = scratch / "a.tgz";
    tessera::testing::WriteWholeFile(path, tgz.data(), tgz.size());

    int before = CountTemporaryTars();
    {
        Archive a(path);
        ASSERT_EQ(a.List(), S_OK) << a.log;
        ASSERT_EQ(a.List(), S_OK) << a.log;
        EXPECT_EQ(a.Names(), std::vector<std::string>{"inner.txt"});
        EXPECT_EQ(CountTemporaryTars(), before + 1);
    }
    EXPECT_EQ(CountTemporaryTars(), before);

    // With Shift held the factory opens the gzip member itself, for either
    // extension; without it a .taz is a TAR like a .tgz.
    std::string taz = scratch / "b.taz";
    tessera::testing::WriteWholeFile(taz, tgz.data(), tgz.size());
    for (const std::string& file : {path, taz}) {
        SCOPED_TRACE(file);
        g_shift = true;
        {
            Archive a(file);
            EXPECT_EQ(a.List(), S_OK) << a.log;
            EXPECT_EQ(a.Names(), std::vector<std::string>{file == taz ? "b" : "a"});
        }
        g_shift = false;
        Archive a(file);
        EXPECT_EQ(a.List(), S_OK) << a.log;
        EXPECT_EQ(a.Names(), std::vector<std::string>{"inner.txt"});
    }

    // A damaged member lists nothing and reports the decoder's error.
    std::vector<uint8_t> damaged = tgz;
    damaged[10] = 0x07;  // block type 3
    tessera::testing::WriteWholeFile(path, damaged.data(), damaged.size());
    Archive d(path);
    EXPECT_TRUE(FAILED(d.List()));
    EXPECT_EQ(d.object->GetEntryCount(), 0u);
    EXPECT_NE(d.log.find("Invalid compressed data"), std::string::npos) << d.log;
    ScratchFolder out;
    EXPECT_TRUE(FAILED(d.ExtractAll(out.Path()))) << d.log;
}

}  // namespace
