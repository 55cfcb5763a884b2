// The ACE format class through ArcCreateObject (Windows build, under Wine):
// the corpus samples listed, extracted and tested to their recorded CRCs or
// refused as expected; solid archives and volume sets; the volume question
// answered through the prompt handler; self-extracting programs made and
// undone; result codes of skipped entries; hostile archives built here.
#include "tescore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "engine_session.h"
#include "test_files.h"
#include "tests/ace/ace_fixtures.h"

namespace {

using namespace tessera::ace::fixtures;
using tessera::testing::CorpusPath;
using tessera::testing::FileExists;
using tessera::testing::ReadWholeFile;
using tessera::testing::ReferenceCrc32;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

// --- answers to the engine's questions ---

// Boxes are recorded; a Retry/Cancel question takes its answer from `retry`
// (called with how many times it was asked), everything else gets OK.
struct Answers {
    std::vector<std::string> boxes;
    std::function<int(int)> retry;
    int asked = 0;
};
Answers* g_answers = nullptr;

int CALLBACK ShowMessage(void*, HWND, LPCSTR text, LPCSTR, UINT style) {
    if (!g_answers) return IDOK;
    g_answers->boxes.push_back(text);
    if ((style & MB_TYPEMASK) == MB_RETRYCANCEL) {
        ++g_answers->asked;
        return g_answers->retry ? g_answers->retry(g_answers->asked) : IDCANCEL;
    }
    return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}
int CALLBACK OverwriteYes(void*, HWND, ARCOVERWRITEPROMPT*) { return OVERWRITE_RESULT_YES; }
BOOL CALLBACK NoShift(void*) { return FALSE; }
const ARCPROMPTHANDLER kHandler = {nullptr, ShowMessage, OverwriteYes, nullptr, nullptr, NoShift,
                                   ARCPROMPT_NOSTATUSDIALOG};

using tessera::testing::FileMap;
using tessera::testing::FilesBelow;
using tessera::testing::OwnerWindow;

// One archive object with its log.
struct AceObject : tessera::testing::OpenedArchive {
    explicit AceObject(const std::string& path, bool withLog = true) : OpenedArchive(path, &kHandler, withLog) {}
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

// Copies the volumes of a corpus set into `folder`; returns the first one's path.
std::string CopySet(const tessera::testing::CorpusSample& sample, const ScratchFolder& folder) {
    for (const std::string& part : sample.parts) {
        std::vector<uint8_t> bytes = ReadWholeFile(CorpusPath(part));
        WriteWholeFile(folder / BaseName(part), bytes.data(), bytes.size());
    }
    return folder / BaseName(sample.parts.at(0));
}

const tessera::testing::CorpusSample* Sample(const std::string& fileContains) {
    static std::vector<tessera::testing::CorpusSample> samples = tessera::testing::CorpusSamplesOf("ace");
    for (const auto& s : samples)
        if (Contains(s.file, fileContains)) return &s;
    return nullptr;
}

std::string WriteArchive(const ScratchFolder& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = folder / name;
    WriteWholeFile(path, bytes.data(), bytes.size());
    return path;
}

// ---------------------------------------------------------------------------
// The corpus

TEST(AceEngine, CorpusSamplesListExtractAndTestAsRecorded) {
    TESSERA_REQUIRE_CORPUS();
    Answers answers;
    g_answers = &answers;
    for (const auto& sample : tessera::testing::CorpusSamplesOf("ace")) {
        SCOPED_TRACE(sample.file);
        const std::string& file = sample.file;
        AceObject a(CorpusPath(file));
        ASSERT_EQ(a.created, S_OK);
        HRESULT listed = a.List();
        ScratchFolder out;
        HRESULT extracted = a.Extract(out.Path());
        FileMap files = FilesBelow(out.Path());
        if (Contains(file, "out_of_bounds")) {  // a malformed header: an error, never success
            EXPECT_EQ(listed, S_FALSE) << a.log;
            EXPECT_TRUE(Contains(a.log, "Archive is damaged")) << a.log;
            EXPECT_NE(extracted, S_OK);
            continue;
        }
        if (Contains(file, "dirtraversal")) {  // "../../../../../../../tmp/unace-dir-traversal", then cut short
            EXPECT_EQ(listed, S_FALSE) << a.log;
            EXPECT_EQ(extracted, S_FALSE) << a.log;
            EXPECT_EQ(files.size(), 1u);
            EXPECT_EQ(files.count("tmp/unace-dir-traversal"), 1u) << a.log;
            continue;
        }
        ASSERT_EQ(listed, S_OK) << a.log;
        DWORD totalSize = 0, packed = 0, folders = 0, count = 0;
        a.object->GetTotals(&totalSize, &packed, &folders, &count);
        EXPECT_EQ(count, sample.entries.size());
        if (Contains(file, "encrypted") || Contains(file, "ace20")) {
            // Listed, but refused entry by entry: nothing written, S_FALSE.
            EXPECT_EQ(extracted, S_FALSE) << a.log;
            EXPECT_TRUE(files.empty());
            EXPECT_TRUE(Contains(a.log, Contains(file, "ace20") ? "method 2 is unknown." : "decryption not supported"))
                << a.log;
            EXPECT_TRUE(Contains(a.log, "file(s) were skipped because of not supported compression")) << a.log;
            continue;
        }
        EXPECT_EQ(extracted, S_OK) << a.log;
        ASSERT_EQ(files.size(), sample.entries.size()) << a.log;
        for (const auto& e : sample.entries) {
            auto it = files.find(e.name);
            ASSERT_NE(it, files.end()) << e.name;
            EXPECT_EQ(it->second, std::make_pair(e.size, e.crc32)) << e.name;
        }
        a.log.clear();
        EXPECT_EQ(a.object->Test(nullptr), S_FALSE);  // the summary goes through the warning path
        EXPECT_TRUE(Contains(a.log, "No errors were found in the compressed files of")) << a.log;
        EXPECT_EQ(a.object->GetArchivePath(), CorpusPath(file));  // back on the first volume
    }
    EXPECT_TRUE(answers.boxes.empty());  // nothing asked, no error box without an owner
    g_answers = nullptr;
}

TEST(AceEngine, CommentsOfArchiveAndEntries) {
    TESSERA_REQUIRE_CORPUS();
    AceObject a(CorpusPath("ace/ace10_lz77_archive_and_file_comment.ace"));
    ASSERT_EQ(a.List(), S_OK) << a.log;
    ASSERT_NE(a.Entry(0).comment, nullptr);
    char text[GETTEXT_BUFFER];
    EXPECT_EQ(a.object->GetText(TEXT_COMMENT, reinterpret_cast<DWORD_PTR>(a.Entry(0).comment), text), S_OK);
    EXPECT_STREQ(text, "file comment");
    char comment[64];
    EXPECT_EQ(a.object->GetComment(nullptr, comment, sizeof comment), S_OK);
    EXPECT_STREQ(comment, "main comment");
    EXPECT_EQ(a.object->GetComment(nullptr, comment, 5), S_OK);  // cut to the buffer
    EXPECT_STREQ(comment, "main");
    EXPECT_EQ(a.object->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>("dir\\name\\"), text), S_OK);
    EXPECT_STREQ(text, "dir\\name");
    EXPECT_EQ(a.object->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(""), text), E_FAIL);
    EXPECT_EQ(a.object->GetText(TEXT_METHOD, 1, text), E_FAIL);
    EXPECT_STREQ(text, "");
    DWORD id = 0;
    EXPECT_TRUE(a.object->GetSfxModuleId(FALSE, &id));
    EXPECT_EQ(id, 110u);
    EXPECT_TRUE(a.object->GetSfxModuleId(TRUE, &id));
    EXPECT_EQ(id, 111u);
    EXPECT_TRUE(a.object->HasCapability(CAP_MAKEEXE | CAP_ENTRYCOMMENTS | CAP_GETCOMMENT | CAP_TEST));
}

TEST(AceEngine, SolidArchiveWritesOnlyTheSelectedThirdEntry) {
    TESSERA_REQUIRE_CORPUS();
    const auto* sample = Sample("ace10_lz77_solid.ace");
    ASSERT_NE(sample, nullptr);
    AceObject a(CorpusPath(sample->file));
    ASSERT_EQ(a.List(), S_OK) << a.log;
    DWORD third = 0;
    for (DWORD i = 0, files = 0; i < a.object->GetEntryCount(); ++i)
        if (!(a.Entry(i).attributes & FILE_ATTRIBUTE_DIRECTORY) && ++files == 3) third = i;
    ASSERT_GT(third, 1u);
    std::string name = a.Entry(third).name;
    std::replace(name.begin(), name.end(), '\\', '/');
    SELHDRSTRUCT selection = {third, 0, nullptr};
    ScratchFolder out;
    EXPECT_EQ(a.Extract(out.Path(), &selection, 1), S_OK) << a.log;
    EXPECT_EQ(selection.found, 1u);
    FileMap files = FilesBelow(out.Path());
    ASSERT_EQ(files.size(), 1u);
    for (const auto& e : sample->entries) {
        if (e.name == name) {
            EXPECT_EQ(files[name], std::make_pair(e.size, e.crc32));
        }
    }
    EXPECT_EQ(files.count(name), 1u);
}

// ---------------------------------------------------------------------------
// Volumes

TEST(AceEngine, MissingVolumeIsAskedForThroughThePromptHandler) {
    TESSERA_REQUIRE_CORPUS();
    const auto* sample = Sample("ace10_lz77_multivolume");
    ASSERT_NE(sample, nullptr);
    OwnerWindow owner;
    ScratchFolder set;
    std::string first = CopySet(*sample, set);
    const std::string last = set / BaseName(sample->parts.back());
    const std::vector<uint8_t> lastBytes = ReadWholeFile(last);

    // Each row: the answers to the question, whether the volume comes back
    // before the answer, and what the listing returns.
    struct Case {
        const char* name;
        std::function<int(int)> retry;
        bool restore;  // put the volume back on the first question
        HWND owner;
        HRESULT expected;
        int asked;
    };
    const Case cases[] = {
        {"retry after the volume is back", [](int) { return IDRETRY; }, true, owner.Handle(), S_OK, 1},
        {"cancel at once", [](int) { return IDCANCEL; }, false, owner.Handle(), E_ABORT, 1},
        {"retry three times, then cancel", [](int n) { return n <= 3 ? IDRETRY : IDCANCEL; }, false, owner.Handle(),
         E_ABORT, 4},
        {"no owner: nobody is asked", nullptr, false, nullptr, E_ABORT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(last.c_str());
        Answers answers;
        answers.retry = [&](int n) {
            if (c.restore) WriteWholeFile(last, lastBytes.data(), lastBytes.size());
            return c.retry(n);
        };
        g_answers = &answers;
        AceObject a(first);
        EXPECT_EQ(a.List(c.owner), c.expected) << a.log;
        EXPECT_EQ(answers.asked, c.asked);
        EXPECT_TRUE(Contains(a.log, "This archive is required to complete the operation.")) << a.log;
        EXPECT_STREQ(a.object->GetArchivePath(), first.c_str());
        if (c.expected == S_OK) {
            ScratchFolder out;
            EXPECT_EQ(a.Extract(out.Path(), nullptr, 0, c.owner), S_OK) << a.log;
            EXPECT_EQ(FilesBelow(out.Path()).size(), sample->entries.size());
        }
        g_answers = nullptr;
    }
    WriteWholeFile(last, lastBytes.data(), lastBytes.size());
}

TEST(AceEngine, NextVolumeThatDoesNotContinueTheEntryEndsTheWalk) {
    TESSERA_REQUIRE_CORPUS();
    const auto* sample = Sample("ace_stored_multivolume");
    ASSERT_NE(sample, nullptr);
    ScratchFolder set;
    std::string first = CopySet(*sample, set);
    // The "next volume" is the first one again: it starts with its own first entry.
    std::vector<uint8_t> bytes = ReadWholeFile(first);
    WriteWholeFile(set / BaseName(sample->parts[1]), bytes.data(), bytes.size());
    AceObject a(first);
    EXPECT_EQ(a.List(), S_FALSE) << a.log;
    EXPECT_TRUE(Contains(a.log, "Archive is damaged: next volume does not continue the entry.")) << a.log;
    ScratchFolder out;
    EXPECT_EQ(a.Extract(out.Path()), S_FALSE) << a.log;
    a.log.clear();
    EXPECT_EQ(a.object->Test(nullptr), S_FALSE);
    EXPECT_TRUE(Contains(a.log, "At least one error was found in")) << a.log;
}

// ---------------------------------------------------------------------------
// Self-extracting programs

TEST(AceEngine, MakeExeAndRemoveExeRoundTrip) {
    TESSERA_REQUIRE_CORPUS();
    const std::vector<uint8_t> original = ReadWholeFile(CorpusPath("ace/ace10_lz77_solid.ace"));
    ScratchFolder folder;
    std::string plain = WriteArchive(folder, "plain.ace", original);
    DWORD entries = 0;
    {
        AceObject a(plain);
        ASSERT_EQ(a.List(), S_OK);
        entries = a.object->GetEntryCount();
    }
    for (size_t moduleSize : {size_t{30000}, size_t{70000}}) {
        SCOPED_TRACE(moduleSize);
        std::vector<uint8_t> module(moduleSize);
        for (size_t k = 0; k < module.size(); ++k) module[k] = static_cast<uint8_t>(k * 7 + 3);
        module[0] = 'M', module[1] = 'Z';
        AceObject a(plain);
        std::string exe = folder / "made.exe";
        ASSERT_EQ(a.object->MakeEXE(nullptr, folder.Path().c_str(), exe.c_str(), module.data(),
                                    static_cast<DWORD>(module.size())),
                  S_OK)
            << a.log;
        std::vector<uint8_t> expected = module;
        expected.insert(expected.end(), original.begin(), original.end());
        std::vector<uint8_t> made = ReadWholeFile(exe);
        ASSERT_EQ(made, expected);
        // Opened under an ACE name, the program is searched for its archive:
        // found within 64 KiB, not beyond.
        std::string renamed = WriteArchive(folder, "made_sfx.ace", made);
        AceObject b(renamed);
        if (moduleSize > 65536) {
            BOOL noArchive = FALSE;
            EXPECT_EQ(b.object->Check(nullptr, &noArchive), E_FAIL);  // a quiet probe
            EXPECT_TRUE(noArchive);
            EXPECT_EQ(b.log, "");
            EXPECT_EQ(b.List(), E_FAIL);
            EXPECT_TRUE(Contains(b.log, "It does not seam to be a valid ACE files.")) << b.log;
            continue;
        }
        BOOL flag = TRUE;
        EXPECT_EQ(b.object->Check(nullptr, &flag), S_OK);
        ASSERT_EQ(b.List(), S_OK) << b.log;
        EXPECT_EQ(b.object->GetEntryCount(), entries);
        std::string back = folder / "back.ace";
        ASSERT_EQ(b.object->RemoveEXE(nullptr, folder.Path().c_str(), back.c_str()), S_OK) << b.log;
        EXPECT_EQ(ReadWholeFile(back), original);
    }
}

// ---------------------------------------------------------------------------
// Result codes and hostile archives built here

// The entries of a small archive: a stored file, an LZ77 file, a folder.
std::vector<FileSpec> ThreeEntries() {
    FileSpec folder;
    folder.name = "sub";
    folder.attributes = 0x10;
    FileSpec lz = Lz77File("sub\\lz.txt", 250);
    return {StoredFile("one.txt", "first entry"), folder, lz};
}

TEST(AceEngine, EntriesNotExtractedNeverGiveSOk) {
    ScratchFolder folder;
    FileSpec encrypted = StoredFile("secret.txt", "sealed");
    encrypted.flags = 0x4000;
    FileSpec method2 = StoredFile("blocked.txt", "v2");
    method2.techType = 2;
    FileSpec bigDictionary = Lz77File("big.txt", 100);
    bigDictionary.techParm = 12;  // 4 MiB
    FileSpec badCrc = StoredFile("crc.txt", "checked");
    badCrc.crcRegister ^= 1;
    struct Case {
        const char* name;
        FileSpec odd;
        const char* message;
    };
    const Case cases[] = {
        {"encrypted", encrypted, "decryption not supported"},
        {"unknown method", method2, "method 2 is unknown."},
        {"dictionary too large", bigDictionary, "There is not enough memory (RAM) to complete this operation."},
        {"bad checksum", badCrc, "Bad checksum"},
    };
    for (bool withLog : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (withLog ? " (with log)" : " (no log)"));
            std::vector<uint8_t> bytes = Archive(0, {StoredFile("a.txt", "alpha"), c.odd, StoredFile("z.txt", "omega")});
            std::string path = WriteArchive(folder, "odd.ace", bytes);
            AceObject a(path, withLog);
            ASSERT_EQ(a.List(), S_OK) << a.log;
            ScratchFolder out;
            EXPECT_EQ(a.Extract(out.Path()), S_FALSE) << a.log;
            // The others are extracted all the same.
            EXPECT_TRUE(FileExists(out / "a.txt"));
            EXPECT_TRUE(FileExists(out / "z.txt"));
            if (withLog) {
                EXPECT_TRUE(Contains(a.log, c.message)) << a.log;
            }
            EXPECT_EQ(a.object->Test(nullptr), S_FALSE);
        }
    }
}

TEST(AceEngine, HostileNamesStayInsideTheDestination) {
    const char* names[] = {"..\\x1",  "../x2",          "a\\..\\..\\x3", "\\x4",        "//x5",
                           "C:\\x6",  "C:x7",           "C:..\\x8",      "C:\\C:..\\x9", "\\\\srv\\share\\x10",
                           "\\\\?\\C:\\x11", "\\??\\C:\\x12", "1:\\x13"};
    std::vector<FileSpec> files;
    for (const char* name : names) files.push_back(StoredFile(name, name));
    ScratchFolder scratch;
    std::string path = WriteArchive(scratch, "names.ace", Archive(0, files));
    std::string destination = scratch / "dest";
    AceObject a(path);
    ASSERT_EQ(a.List(), S_OK) << a.log;
    EXPECT_EQ(a.Extract(destination), S_FALSE) << a.log;  // each changed name is logged as a warning
    FileMap all = FilesBelow(scratch.Path());
    int inside = 0;
    for (const auto& [name, sizeAndCrc] : all) {
        if (name == "names.ace") continue;
        EXPECT_EQ(name.rfind("dest/", 0), 0u) << name;
        ++inside;
    }
    EXPECT_EQ(inside, static_cast<int>(std::size(names))) << a.log;
    for (const char* outside : {"C:\\x6", "C:\\x11", "C:\\x12", "\\x4", "C:\\x7"}) EXPECT_FALSE(FileExists(outside));
}

TEST(AceEngine, TruncatedArchivesEndWithAnError) {
    std::vector<uint8_t> whole = Archive(0, ThreeEntries());
    ScratchFolder folder;
    for (size_t cut = 1; cut < whole.size(); ++cut) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + cut);
        std::string path = WriteArchive(folder, "cut.ace", part);
        AceObject a(path);
        HRESULT listed = a.List();
        ScratchFolder out;
        HRESULT extracted = a.Extract(out.Path());
        // A cut exactly between two entries leaves a shorter, intact archive;
        // every other cut is reported.
        if (listed == S_OK && extracted == S_OK) {
            EXPECT_LT(a.object->GetEntryCount(), 3u) << cut;
            continue;
        }
        EXPECT_TRUE(FAILED(listed) || listed == S_FALSE || extracted == S_FALSE) << cut;
        EXPECT_TRUE(Contains(a.log, "Archive is damaged") || Contains(a.log, "does not seam to be a valid") ||
                    Contains(a.log, "Invalid compressed data"))
            << cut << a.log;
    }
}

TEST(AceEngine, DamagedArchivesAreReportedAndNeverSucceed) {
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        const char* message;
    };
    const Case cases[] = {
        {"flipped data byte", [] {
             std::vector<uint8_t> b = Archive(0, ThreeEntries());
             const std::string data = "first entry";  // the stored entry's data
             auto at = std::search(b.begin(), b.end(), data.begin(), data.end());
             at[4] ^= 0x40;
             return b;
         }, "Bad checksum"},
        {"bad header CRC of the second entry", [] {
             std::vector<FileSpec> f = ThreeEntries();
             std::vector<uint8_t> b = MainHeader(0);
             std::vector<uint8_t> h1 = FileHeader(f[0]), h2 = FileHeader(f[1]);
             h2[0] ^= 1;
             b.insert(b.end(), h1.begin(), h1.end());
             b.insert(b.end(), h2.begin(), h2.end());
             return b;
         }, "Archive is damaged: bad header checksum."},
        {"size far beyond the data", [] {
             FileSpec f = StoredFile("huge.txt", "ten bytes!");
             f.size = 0xFFFFFFFF;
             return Archive(0, {f});
         }, "Archive is damaged"},
        {"data size beyond the file", [] {
             FileSpec f = StoredFile("past.txt", "short");
             f.packedSizeOverride = 0xFFFFFFF0;
             return Archive(0, {f});
         }, "Archive is damaged: unexpected end of archive."},
        {"header of another type running past the file", [] {
             std::vector<uint8_t> b = MainHeader(0);
             std::vector<uint8_t> body = {5, 0x01, 0x00};
             Put32(body, 0x7FFFFFFF);
             std::vector<uint8_t> h = Frame(body);
             b.insert(b.end(), h.begin(), h.end());
             return b;
         }, "Archive is damaged"},
        {"match before the first byte", [] {
             Lz77Writer w;
             w.Block(2);
             w.Literal('a');
             w.Match(40, 0);
             FileSpec f;
             f.name = "early.txt";
             f.packed = w.bits.Finish();
             f.size = 3;
             f.techType = 1;
             return Archive(0, {f});
         }, "Invalid compressed data to use this method: LZ77"},
        {"over-full code", [] {
             std::vector<uint8_t> widths(tessera::ace::kAceMainSymbols, 1);
             Lz77Writer w(widths);
             w.Block(1);
             FileSpec f;
             f.name = "full.txt";
             f.packed = w.bits.Finish();
             f.size = 10;
             f.techType = 1;
             return Archive(0, {f});
         }, "Invalid compressed data to use this method: LZ77"},
    };
    ScratchFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = WriteArchive(folder, "damaged.ace", c.make());
        AceObject a(path);
        HRESULT listed = a.List();
        ScratchFolder out;
        HRESULT extracted = a.Extract(out.Path());
        EXPECT_NE(extracted, S_OK) << a.log;
        a.log.clear();
        HRESULT tested = a.object->Test(nullptr);
        EXPECT_TRUE(listed == S_FALSE || Contains(a.log, "At least one error was found")) << a.log;
        EXPECT_NE(tested, S_OK);
        if (c.message) {
            EXPECT_TRUE(Contains(a.log, c.message)) << a.log;
        }
        for (const auto& [name, sizeAndCrc] : FilesBelow(out.Path())) EXPECT_LE(sizeAndCrc.first, 250u) << name;
    }
}

TEST(AceEngine, ArchiveThatCannotBeOpenedOrHoldsNoArchiveFails) {
    ScratchFolder folder;
    AceObject missing(folder / "absent.ace");
    EXPECT_EQ(missing.List(), E_FAIL);
    EXPECT_TRUE(Contains(missing.log, "Archive cannot be opened: ")) << missing.log;
    std::string text = WriteArchive(folder, "text.ace", std::vector<uint8_t>(3000, 'x'));
    AceObject notAce(text);
    EXPECT_EQ(notAce.List(), E_FAIL);
    EXPECT_TRUE(Contains(notAce.log, "File cannot be opened: It does not seam to be a valid ACE files.")) << notAce.log;
    char comment[16] = "unchanged";
    EXPECT_EQ(notAce.object->GetComment(nullptr, comment, sizeof comment), E_FAIL);
}

TEST(AceEngine, ReadErrorEndsTheOperation) {
    ScratchFolder folder;
    std::string path = WriteArchive(folder, "read.ace", Archive(0, ThreeEntries()));
    // Every read of the extraction in turn fails, up to the first run whose
    // fault lies beyond its last read.
    bool reachedClean = false;
    for (int nth = 1; nth <= 64 && !reachedClean; ++nth) {
        SCOPED_TRACE(nth);
        AceObject a(path);
        ASSERT_EQ(a.List(), S_OK) << a.log;
        tessera::testing::SetEngineFileFault(ARC_FAULT_READ, std::to_string(nth).c_str());
        ScratchFolder out;
        HRESULT extracted = a.Extract(out.Path());
        tessera::testing::SetEngineFileFault(ARC_FAULT_READ, nullptr);
        if (extracted == S_OK && !Contains(a.log, "Error reading archive")) {
            reachedClean = true;
            continue;
        }
        EXPECT_TRUE(FAILED(extracted) || extracted == S_FALSE) << a.log;
        EXPECT_TRUE(Contains(a.log, "Error reading archive")) << a.log;
    }
    EXPECT_TRUE(reachedClean);
}

// Write failures while extracting a solid archive: a disk-full question
// answered through the prompt handler, and another write error, after which
// the failed entry is still decoded (without output) so the later entries of
// the solid run come out right.
TEST(AceEngine, WriteFailuresInASolidArchive) {
    TESSERA_REQUIRE_CORPUS();
    const auto* sample = Sample("ace10_lz77_solid.ace");
    ASSERT_NE(sample, nullptr);
    OwnerWindow owner;
    struct Case {
        const char* name;
        const char* fault;  // the first write fails with this error ("1,ERROR")
        int answer;         // to the disk-full question
        HRESULT expected;
        size_t files;       // complete files afterwards
    };
    const Case cases[] = {
        {"disk full, retry", "1,112", IDRETRY, S_OK, 3},
        {"disk full, cancel", "1,112", IDCANCEL, E_ABORT, 0},
        {"access denied", "1,5", IDOK, S_FALSE, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answers answers;
        answers.retry = [&](int) { return c.answer; };
        g_answers = &answers;
        AceObject a(CorpusPath(sample->file));
        ASSERT_EQ(a.List(), S_OK);
        ScratchFolder out;
        tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, c.fault);
        HRESULT hr = a.Extract(out.Path(), nullptr, 0, owner.Handle());
        tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, nullptr);
        EXPECT_EQ(hr, c.expected) << a.log;
        size_t complete = 0;
        FileMap files = FilesBelow(out.Path());
        for (const auto& e : sample->entries) {
            auto it = files.find(e.name);
            if (it != files.end() && it->second == std::make_pair(e.size, e.crc32)) ++complete;
        }
        EXPECT_EQ(complete, c.files) << a.log;
        if (c.expected == E_ABORT) {
            EXPECT_TRUE(files.empty());  // the partly written file is removed
        }
        g_answers = nullptr;
    }
}

// A solid archive whose middle entry is damaged: the first still decodes,
// the later ones are refused rather than decoded from a stale dictionary,
// whether the middle one is selected or not, and whether its damage shows
// as invalid data or only as a wrong checksum.
TEST(AceEngine, SolidArchiveWithADamagedMiddleEntry) {
    struct Damage {
        const char* name;
        std::function<void(FileSpec&)> apply;
    };
    const Damage damages[] = {
        {"invalid data", [](FileSpec& f) { std::fill(f.packed.begin(), f.packed.end(), 0xFF); }},
        {"wrong checksum only", [](FileSpec& f) { f.crcRegister ^= 0x100; }},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        std::vector<FileSpec> files = {Lz77File("1.txt", 200), Lz77File("2.txt", 220), Lz77File("3.txt", 240)};
        d.apply(files[1]);
        ScratchFolder folder;
        std::string path = WriteArchive(folder, "solid.ace", Archive(0x8000, files));
        AceObject a(path);
        ASSERT_EQ(a.List(), S_OK) << a.log;
        ScratchFolder all;
        EXPECT_EQ(a.Extract(all.Path()), S_FALSE) << a.log;
        EXPECT_EQ(ReadWholeFile(all / "1.txt").size(), 200u);
        EXPECT_TRUE(Contains(a.log, "an earlier entry of the solid archive failed")) << a.log;
        a.log.clear();
        SELHDRSTRUCT third = {2, 0, nullptr};
        ScratchFolder one;
        EXPECT_EQ(a.Extract(one.Path(), &third, 1), S_FALSE) << a.log;
        EXPECT_TRUE(Contains(a.log, "an earlier entry of the solid archive failed")) << a.log;
    }
}

}  // namespace
