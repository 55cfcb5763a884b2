// The RAR and ARJ format classes through the engine's public interface
// (Windows build, run under Wine): the corpus samples listed, extracted and
// tested to their recorded CRCs or refused cleanly, old-style RAR volume
// sets (complete and with a volume missing), entry selection in a solid
// chain, the failure tables, names that try to leave the destination,
// cut or looping headers, injected read and write faults, and cancel.
#include "tescore.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "codecs/crc32/crc32.h"
#include "corpus.h"
#include "engine_session.h"
#include "fixtures.h"
#include "formats/rar/rar_archive.h"
#include "test_files.h"

namespace {

using tessera::testing::ArjArchive;
using tessera::testing::ArjFileFixture;
using tessera::testing::Bytes;
using tessera::testing::RarAddFile;
using tessera::testing::RarStart;
using tessera::testing::ReadWholeFile;
using tessera::testing::ReferenceCrc32;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

using Archive = tessera::testing::OpenedArchive;
using tessera::testing::FileMap;
using tessera::testing::LogHas;
using tessera::testing::FilesBelow;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// Every corpus sample: listed, extracted and tested. Samples expected to be
// fine come out with their recorded CRCs; newer packing versions and
// encryption are refused with S_FALSE and the reason in the log.
TEST(RarArjEngine, CorpusSamples) {
    TESSERA_REQUIRE_CORPUS();
    for (const char* format : {"rar", "arj"}) {
        for (const auto& sample : tessera::testing::CorpusSamplesOf(format)) {
            SCOPED_TRACE(sample.file);
            Archive a(tessera::testing::CorpusPath(sample.file));
            ASSERT_EQ(a.created, S_OK);
            HRESULT listed = a.List();
            // Garbled ARJ entries are listed and then refused one by one.
            bool garbled = sample.file.find("garbled") != std::string::npos;
            if (sample.expect.rfind("error:", 0) == 0 && !garbled) {  // RAR 5, encrypted headers
                EXPECT_EQ(listed, E_FAIL) << a.log;
                continue;
            }
            ASSERT_TRUE(SUCCEEDED(listed)) << std::hex << listed << a.log;
            bool split = !sample.parts.empty();
            bool refused = sample.expect != "ok" || garbled;
            DWORD files = 0;
            a.object->GetTotals(nullptr, nullptr, nullptr, &files);
            if (!split) { EXPECT_GE(files, sample.entries.size()); }  // the manifest leaves out links
            ScratchFolder out;
            HRESULT extracted = a.Extract(out.Path());
            HRESULT tested = a.Test();
            if (refused) {
                EXPECT_EQ(extracted, S_FALSE) << a.log;
                EXPECT_EQ(tested, S_FALSE) << a.log;
                EXPECT_TRUE(LogHas(a.log, "is unknown.") || LogHas(a.log, "decryption not supported")) << a.log;
                EXPECT_TRUE(LogHas(a.log, "file(s) were skipped")) << a.log;
                continue;
            }
            if (sample.file.find("arj_multivolume") != std::string::npos) {
                // ARJ volumes are not joined: the part is read, with a warning.
                EXPECT_EQ(extracted, S_FALSE) << a.log;
                EXPECT_TRUE(LogHas(a.log, "multi-part archive information ignored")) << a.log;
                continue;
            }
            bool links = files > sample.entries.size();
            EXPECT_EQ(extracted, links ? S_FALSE : S_OK) << a.log;
            if (links) { EXPECT_TRUE(LogHas(a.log, "method 'symbolic link' not supported")) << a.log; }
            EXPECT_EQ(tested, S_FALSE) << a.log;  // the test summary is always a warning
            EXPECT_TRUE(LogHas(a.log, "No errors were found")) << a.log;
            FileMap written = FilesBelow(out.Path());
            EXPECT_EQ(written.size(), sample.entries.size());
            for (const auto& e : sample.entries) {
                if (e.name.rfind("hex:", 0) == 0) continue;
                auto it = written.find(e.name);
                if (it == written.end()) it = written.find(Lower(e.name));  // DOS names differ in case only
                ASSERT_NE(it, written.end()) << e.name;
                EXPECT_EQ(it->second, std::make_pair(e.size, e.crc32)) << e.name;
            }
        }
    }
}

// Old-style volumes: an entry split over three volumes comes out whole; with
// the last volume missing it is reported and ends with an error.
TEST(RarArjEngine, RarVolumes) {
    TESSERA_REQUIRE_CORPUS();
    const std::string dir = "rar/rar_old_volumes_stored/";
    if (!tessera::testing::FileExists(tessera::testing::CorpusPath(dir + "rar3-old.r01"))) GTEST_SKIP();
    ScratchFolder set;
    for (const char* part : {"rar3-old.rar", "rar3-old.r00"}) {
        Bytes bytes = ReadWholeFile(tessera::testing::CorpusPath(dir + part));
        WriteWholeFile(set / part, bytes.data(), bytes.size());
    }
    Archive a(set / "rar3-old.rar");
    ASSERT_TRUE(SUCCEEDED(a.List())) << a.log;
    ScratchFolder out;
    EXPECT_EQ(a.Extract(out.Path()), S_FALSE) << a.log;
    EXPECT_TRUE(LogHas(a.log, "rar3-old.r01' cannot be opened")) << a.log;
    FileMap files = FilesBelow(out.Path());
    auto big = files.find("vols/bigfile.txt");
    ASSERT_NE(big, files.end());
    EXPECT_LT(big->second.first, 205000u);
    EXPECT_EQ(a.Test(), S_FALSE);
    EXPECT_TRUE(LogHas(a.log, "At least one error was found")) << a.log;
}

// A solid chain made of real RAR 1.5 data: the first entry packed as in the
// corpus, the second the same packed bytes decoded on from the first's
// window. Extracting the second alone must give what extracting both gives,
// which it only does when the first is decoded (without output) on the way.
TEST(RarArjEngine, RarSolidSelection) {
    TESSERA_REQUIRE_CORPUS();
    Bytes source = ReadWholeFile(tessera::testing::CorpusPath("rar/rar15_packed_3files.rar"));
    ASSERT_FALSE(source.empty());
    tessera::MemoryInput input(source.data(), source.size());
    tessera::RarWalker walker(input);
    ASSERT_EQ(walker.Open(), tessera::RarStatus::kOk);
    tessera::RarEntry first;
    do {  // the first file with data
        ASSERT_EQ(walker.Next(&first), tessera::RarStatus::kOk);
    } while (first.IsFolder() || first.unpSize == 0);
    ASSERT_FALSE(first.IsStored());
    Bytes packed(source.begin() + first.dataOffset, source.begin() + first.dataOffset + first.packSize);
    uint32_t size = static_cast<uint32_t>(first.unpSize);

    Bytes solid = RarStart(tessera::kRarSolid);
    RarAddFile(solid, {"one.bin", packed, size, first.fileCrc, 0x8000, 15, first.method});
    RarAddFile(solid, {"two.bin", packed, size, first.fileCrc, 0x8000, 15, first.method});
    ScratchFolder scratch;
    WriteWholeFile(scratch / "solid.rar", solid.data(), solid.size());

    Archive all(scratch / "solid.rar");
    ASSERT_EQ(all.List(), S_OK) << all.log;
    ScratchFolder outAll;
    all.Extract(outAll.Path());
    FileMap both = FilesBelow(outAll.Path());
    ASSERT_EQ(both.count("one.bin"), 1u) << all.log;
    EXPECT_EQ(both["one.bin"].second, first.fileCrc);
    ASSERT_EQ(both.count("two.bin"), 1u) << all.log;

    Archive one(scratch / "solid.rar");
    ASSERT_EQ(one.List(), S_OK);
    SELHDRSTRUCT pick = {1, 0, nullptr};
    ScratchFolder outOne;
    one.Extract(outOne.Path(), &pick, 1);
    EXPECT_EQ(pick.found, 1u);
    FileMap alone = FilesBelow(outOne.Path());
    ASSERT_EQ(alone.size(), 1u) << one.log;
    EXPECT_EQ(alone["two.bin"], both["two.bin"]);
    // Decoded from a fresh window it would repeat the first entry exactly.
    EXPECT_NE(alone["two.bin"].second, first.fileCrc);

    // A damaged entry in the middle: what follows in the chain is reported
    // and never decoded from the broken window.
    Bytes noise(4000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + (i >> 3));
    Bytes broken = RarStart(tessera::kRarSolid);
    RarAddFile(broken, {"one.bin", packed, size, first.fileCrc, 0x8000, 15, first.method});
    RarAddFile(broken, {"mid.bin", noise, 50000, 0x12345678, 0x8000, 15, first.method});
    RarAddFile(broken, {"two.bin", packed, size, both["two.bin"].second, 0x8000, 15, first.method});
    WriteWholeFile(scratch / "broken.rar", broken.data(), broken.size());
    Archive b(scratch / "broken.rar");
    ASSERT_EQ(b.List(), S_OK);
    ScratchFolder outBroken;
    EXPECT_EQ(b.Extract(outBroken.Path()), S_FALSE);
    EXPECT_TRUE(LogHas(b.log, "File in archive #3 is damaged.")) << b.log;
    FileMap after = FilesBelow(outBroken.Path());
    EXPECT_EQ(after["one.bin"].second, first.fileCrc);
    EXPECT_EQ(after.count("two.bin"), 0u);  // nothing decoded, nothing written
}

// One made-up archive per row of the RAR failure table.
TEST(RarArjEngine, RarFailureTable) {
    Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    uint32_t crc = ReferenceCrc32(hello.data(), hello.size());
    Bytes big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    uint32_t bigCrc = ReferenceCrc32(big.data(), big.size());
    auto one = [&](uint16_t mainFlags, const tessera::testing::RarFileFixture& entry) {
        Bytes a = RarStart(mainFlags);
        RarAddFile(a, entry);
        return a;
    };
    Bytes badMarker = one(0, {"a.txt", hello, 5, crc});
    badMarker[6] = 0x01;
    Bytes badMain = one(0, {"a.txt", hello, 5, crc});
    badMain[7] ^= 0xFF;
    Bytes badFileHeader = one(0, {"a.txt", hello, 5, crc});
    badFileHeader[20] ^= 0xFF;  // HEAD_CRC of the file header
    Bytes loop = one(0, {"a.txt", hello, 5, crc});
    loop[20 + 5] = 3;  // HEAD_SIZE below 7
    loop[20 + 6] = 0;
    struct Row {
        const char* what;
        Bytes archive;
        HRESULT list, extract;
        const char* log;          // expected in the log
        const char* file;         // expected to be written, or null
    };
    const Row rows[] = {
        {"seventh marker byte 1", badMarker, E_FAIL, E_FAIL, "does not seam to be a valid RAR files", nullptr},
        {"main header checksum", badMain, E_FAIL, E_FAIL, "Archive is damaged", nullptr},
        {"file header checksum", badFileHeader, S_FALSE, S_FALSE, "File in archive #1 is damaged.", "a.txt"},
        {"header size below 7", loop, S_FALSE, S_FALSE, "is damaged", nullptr},
        {"from previous volume, solid", one(0x0008, {"a.txt", hello, 5, crc, 0x8001}), S_OK, E_FAIL,
         "The first volume is required", nullptr},
        {"unpack version 20", one(0, {"a.bin", hello, 5, crc, 0x8000, 20, 0x33}), S_OK, S_FALSE,
         "method 20 is unknown.", nullptr},
        {"unpack version 29", one(0, {"a.bin", hello, 5, crc, 0x8000, 29, 0x35}), S_OK, S_FALSE,
         "method 29 is unknown.", nullptr},
        {"encrypted", one(0, {"a.bin", hello, 5, crc, 0x8004}), S_OK, S_FALSE, "decryption not supported", nullptr},
        {"stored 100,000 bytes", one(0, {"big.bin", big, 100000, bigCrc}), S_OK, S_OK, "Extracting big.bin", "big.bin"},
        {"bad data CRC", one(0, {"a.txt", hello, 5, crc ^ 1}), S_OK, S_FALSE, "Bad checksum", "a.txt"},
        {"size far above the data", one(0, {"a.txt", hello, 0xFFFFFFF0u, crc}), S_OK, S_FALSE, "is damaged", "a.txt"},
        {"packed data that is noise", one(0, {"n.bin", big, 1000000, crc, 0x8000, 15, 0x33}), S_OK, S_FALSE,
         "Extracting n.bin", "n.bin"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchFolder scratch;
        WriteWholeFile(scratch / "t.rar", row.archive.data(), row.archive.size());
        Archive a(scratch / "t.rar");
        EXPECT_EQ(a.List(), row.list) << a.log;
        ScratchFolder out;
        EXPECT_EQ(a.Extract(out.Path()), row.extract) << a.log;
        EXPECT_TRUE(LogHas(a.log, row.log)) << a.log;
        FileMap files = FilesBelow(out.Path());
        if (row.file) {
            EXPECT_EQ(files.count(row.file), 1u);
        } else {
            EXPECT_TRUE(files.empty());
        }
        if (row.extract == S_OK) { EXPECT_EQ(files[row.file], std::make_pair(uint64_t{100000}, bigCrc)); }
        if (SUCCEEDED(row.list)) {
            HRESULT tested = a.Test();
            EXPECT_EQ(tested, row.extract == E_FAIL ? E_FAIL : S_FALSE) << a.log;
            if (row.extract == S_FALSE) { EXPECT_TRUE(LogHas(a.log, "file(s) were skipped") || LogHas(a.log, "At least one error")); }
        }
        // The check tells whether the file holds a RAR archive at all (how a
        // program or a file without a known name is recognised).
        BOOL probe = FALSE;
        const HRESULT checked = a.object->Check(nullptr, &probe);
        EXPECT_EQ(SUCCEEDED(checked), probe != FALSE);
        if (SUCCEEDED(row.list)) {
            EXPECT_EQ(checked, S_OK);
        }
    }
}

// One made-up archive per row of the ARJ failure table and start search.
TEST(RarArjEngine, ArjFailureTable) {
    Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    uint32_t crc = ReferenceCrc32(hello.data(), hello.size());
    ArjFileFixture file;
    file.name = "a.txt";
    file.data = hello;
    file.originalSize = 5;
    file.crc = crc;
    auto with = [&](auto change) {
        ArjFileFixture f = file;
        change(f);
        return ArjArchive({f});
    };
    auto behind = [&](size_t junk, bool stray) {
        Bytes a(junk, 'x');
        if (stray && junk >= 8) {
            a[junk - 8] = 0x60;
            a[junk - 7] = 0xEA;
            a[junk - 6] = 4;
        }
        Bytes arj = ArjArchive({file});
        a.insert(a.end(), arj.begin(), arj.end());
        return a;
    };
    ArjFileFixture folder;
    folder.name = "dir/";
    folder.fileType = 3;
    Bytes damaged = ArjArchive({file});
    damaged[damaged.size() - 4 - 5 - 6] ^= 0xFF;  // inside the file header's CRC
    struct Row {
        const char* what;
        Bytes archive;
        HRESULT list, extract;
        DWORD entries;
        const char* log;
        const char* file;
    };
    const Row rows[] = {
        {"plain", ArjArchive({file}), S_OK, S_OK, 1, "Extracting a.txt", "a.txt"},
        {"20,000 bytes in, behind a stray id", behind(20000, true), S_OK, S_OK, 1, "Extracting a.txt", "a.txt"},
        {"25,000 bytes in", behind(25000, false), E_FAIL, E_FAIL, 0, "does not seam to be a valid ARJ files", nullptr},
        {"no file headers", ArjArchive({}), S_OK, S_OK, 0, "", nullptr},
        {"folder entry", ArjArchive({folder, file}), S_OK, S_OK, 2, "Extracting a.txt", "a.txt"},
        {"needs version 4", with([](ArjFileFixture& f) { f.minVersion = 4; }), S_OK, S_FALSE, 1,
         "requires ARJ v4.0, supported is v3.0", nullptr},
        {"garbled", with([](ArjFileFixture& f) { f.flags = 1; }), S_OK, S_FALSE, 1, "decryption not supported", nullptr},
        {"method 5", with([](ArjFileFixture& f) { f.method = 5; }), S_OK, S_FALSE, 1, "method 5 is unknown.", nullptr},
        {"method 4 from version 1", with([](ArjFileFixture& f) { f.method = 4; f.archiverVersion = 1; }), S_OK,
         S_FALSE, 1, "method 4 is unknown.", nullptr},
        {"file type 4", with([](ArjFileFixture& f) { f.fileType = 4; }), S_OK, S_FALSE, 1, "method 4 is unknown.", nullptr},
        {"bad data CRC", with([](ArjFileFixture& f) { f.crc ^= 1; }), S_OK, S_FALSE, 1, "Bad checksum", "a.txt"},
        {"size far above the data", with([](ArjFileFixture& f) { f.originalSize = 0xFFFFFFF0u; f.method = 1; }), S_OK,
         S_FALSE, 1, "Invalid compressed data to use this method: a.txt", nullptr},
        {"file header CRC", damaged, S_FALSE, S_FALSE, 0, "is damaged", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchFolder scratch;
        WriteWholeFile(scratch / "t.arj", row.archive.data(), row.archive.size());
        Archive a(scratch / "t.arj");
        EXPECT_EQ(a.List(), row.list) << a.log;
        EXPECT_EQ(a.object->GetEntryCount(), row.entries);
        ScratchFolder out;
        EXPECT_EQ(a.Extract(out.Path()), row.extract) << a.log;
        EXPECT_TRUE(LogHas(a.log, row.log)) << a.log;
        FileMap files = FilesBelow(out.Path());
        if (row.file) {
            EXPECT_EQ(files.count(row.file), 1u) << a.log;
        } else {
            EXPECT_TRUE(files.empty());
        }
        if (row.extract == S_OK && row.file) { EXPECT_EQ(files[row.file], std::make_pair(uint64_t{5}, crc)); }
        if (std::string(row.what) == "folder entry") {
            EXPECT_EQ(a.object->GetEntries()[0].attributes, 0x10u);
            EXPECT_EQ(a.object->GetEntries()[1].attributes, 0x20u);
            DWORD folders = 0, filesCount = 0;
            a.object->GetTotals(nullptr, nullptr, &folders, &filesCount);
            EXPECT_EQ(folders, 1u);
            EXPECT_EQ(filesCount, 1u);
        }
        if (SUCCEEDED(row.list)) {
            HRESULT tested = a.Test();
            EXPECT_EQ(tested, S_FALSE) << a.log;
            if (row.extract == S_FALSE) { EXPECT_TRUE(LogHas(a.log, "file(s) were skipped") || LogHas(a.log, "At least one error")); }
        }
    }
}

// Names that try to leave the destination stay inside it.
TEST(RarArjEngine, HostileNamesStayInside) {
    Bytes hello = {'h', 'i'};
    uint32_t crc = ReferenceCrc32(hello.data(), hello.size());
    const char* names[] = {"..\\..\\evil.txt", "../evil.txt",      "C:\\evil.txt",        "C:evil.txt",
                           "\\evil.txt",         "//evil.txt",       "a\\..\\..\\evil.txt", "C:..\\evil.txt",
                           "\\\\srv\\share\\evil.txt", "\\\\?\\C:\\evil.txt"};
    for (bool arj : {false, true}) {
        Bytes archive;
        if (arj) {
            std::vector<ArjFileFixture> files;
            for (const char* n : names) {
                ArjFileFixture f;
                f.name = n;
                f.data = hello;
                f.originalSize = 2;
                f.crc = crc;
                files.push_back(f);
            }
            archive = ArjArchive(files);
        } else {
            archive = RarStart(0);
            for (const char* n : names) RarAddFile(archive, {n, hello, 2, crc});
        }
        ScratchFolder scratch;
        std::string path = scratch / (arj ? "h.arj" : "h.rar");
        WriteWholeFile(path, archive.data(), archive.size());
        Archive a(path);
        ASSERT_EQ(a.List(), S_OK) << a.log;
        std::string dest = scratch / "deep\\out";
        CreateDirectoryA((scratch / "deep").c_str(), nullptr);
        a.Extract(dest);
        EXPECT_FALSE(tessera::testing::FileExists(scratch / "evil.txt"));
        EXPECT_FALSE(tessera::testing::FileExists(scratch / "deep\\evil.txt"));
        EXPECT_FALSE(tessera::testing::FileExists("C:\\evil.txt"));
        FileMap inside = FilesBelow(dest);
        for (const auto& f : inside) EXPECT_EQ(f.second.first, 2u) << f.first;
    }
}

// Every archive cut at every length: each operation ends with a defined
// result, and only whole entries come out as success.
TEST(RarArjEngine, TruncatedArchives) {
    Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    uint32_t crc = ReferenceCrc32(hello.data(), hello.size());
    Bytes rar = RarStart(0);
    RarAddFile(rar, {"a.txt", hello, 5, crc});
    RarAddFile(rar, {"b.txt", hello, 5, crc});
    ArjFileFixture f;
    f.name = "a.txt";
    f.data = hello;
    f.originalSize = 5;
    f.crc = crc;
    Bytes arj = ArjArchive({f, f});
    ScratchFolder scratch;
    for (bool isArj : {false, true}) {
        const Bytes& whole = isArj ? arj : rar;
        for (size_t cut = 0; cut < whole.size(); cut += 3) {
            SCOPED_TRACE(cut);
            std::string path = scratch / (isArj ? "cut.arj" : "cut.rar");
            WriteWholeFile(path, whole.data(), cut);
            Archive a(path);
            HRESULT listed = a.List();
            if (FAILED(listed)) continue;
            ScratchFolder out;
            HRESULT extracted = a.Extract(out.Path());
            EXPECT_TRUE(extracted == S_OK || extracted == S_FALSE || extracted == E_FAIL) << std::hex << extracted;
            for (const auto& file : FilesBelow(out.Path()))
                if (extracted == S_OK) { EXPECT_EQ(file.second, std::make_pair(uint64_t{5}, crc)) << file.first; }
        }
    }
}

// Read and write failures injected through the engine's file layer, and a
// cancel from the status line: every run ends with a failure result or
// S_FALSE and its message, never S_OK.
ICompressFormat* g_cancelTarget = nullptr;
void CALLBACK CancelOnExtract(HWND, LPCSTR text) {
    if (g_cancelTarget && std::string(text).rfind("Extracting ", 0) == 0) g_cancelTarget->Cancel();
}

TEST(RarArjEngine, FaultsAndCancel) {
    Bytes big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    uint32_t crc = ReferenceCrc32(big.data(), big.size());
    Bytes rar = RarStart(0);
    RarAddFile(rar, {"a.bin", big, 100000, crc});
    RarAddFile(rar, {"b.bin", big, 100000, crc});
    ArjFileFixture f;
    f.name = "a.bin";
    f.data = big;
    f.originalSize = 100000;
    f.crc = crc;
    ArjFileFixture g = f;
    g.name = "b.bin";
    Bytes arj = ArjArchive({f, g});
    for (bool isArj : {false, true}) {
        SCOPED_TRACE(isArj ? "arj" : "rar");
        ScratchFolder scratch;
        std::string path = scratch / (isArj ? "f.arj" : "f.rar");
        const Bytes& bytes = isArj ? arj : rar;
        WriteWholeFile(path, bytes.data(), bytes.size());
        bool reachedClean = false;
        for (int nth = 1; nth < 100 && !reachedClean; ++nth) {
            SCOPED_TRACE(nth);
            Archive a(path);
            ASSERT_EQ(a.List(), S_OK);
            tessera::testing::SetEngineFileFault(ARC_FAULT_READ, std::to_string(nth).c_str());
            ScratchFolder out;
            HRESULT hr = a.Extract(out.Path());
            tessera::testing::SetEngineFileFault(ARC_FAULT_READ, "0");
            if (hr == S_OK && !LogHas(a.log, "Error reading archive")) {
                reachedClean = true;  // the fault lay beyond the last read
                continue;
            }
            EXPECT_TRUE(hr == S_FALSE || hr == E_FAIL) << std::hex << hr << a.log;
            EXPECT_TRUE(LogHas(a.log, "Error reading archive")) << a.log;
        }
        EXPECT_TRUE(reachedClean);

        struct Row {
            const char* fault;
            HRESULT result;
            const char* log;
        };
        const Row rows[] = {{"2,5", S_FALSE, "File cannot be written"}, {"1", E_ABORT, "Interrupted."}};
        for (const Row& row : rows) {
            Archive a(path);
            ASSERT_EQ(a.List(), S_OK);
            tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, row.fault);
            ScratchFolder out;
            EXPECT_EQ(a.Extract(out.Path()), row.result) << a.log;
            tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, "0");
            EXPECT_TRUE(LogHas(a.log, row.log)) << a.log;
        }

        Archive c(path);
        ASSERT_EQ(c.List(), S_OK);
        tessera::testing::SetEngineFileFault(ARC_FAULT_READ, nullptr);
        tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, nullptr);
        g_cancelTarget = c.object;
        c.object->SetStatusCallback(CancelOnExtract);
        ScratchFolder out;
        EXPECT_EQ(c.Extract(out.Path()), E_ABORT) << c.log;
        g_cancelTarget = nullptr;
        EXPECT_LE(FilesBelow(out.Path()).size(), 1u);
    }
}

}  // namespace
