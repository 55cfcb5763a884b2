// The ZIP class extracting and testing through tescore.dll (Windows build,
// under Wine): archives of zip, 7zz and Python's zipfile come out as the
// bytes unzip produced from them; the corpus samples behave as their
// manifest says (methods without a decoder and strong encryption skipped,
// never a plain success; ZIP64 read); hand-made archives cover the
// skips and their result codes, damage, names that try to leave the
// destination, the password prompt and cancelling.
#include "tescore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "corpus.h"
#include "engine_session.h"
#include "test_files.h"
#include "zip_engine_support.h"
#include "zip_fixtures.h"

namespace tessera::testing {
namespace {

const HRESULT kNotTested = static_cast<HRESULT>(0x7FFFFFFF);

std::string Write(const ScratchFolder& scratch, const std::string& name, const std::string& bytes) {
    const std::string path = scratch / name;
    WriteWholeFile(path, bytes);
    return path;
}

// --- archives of other tools ---

TEST(ZipEngine, PeerArchivesComeOutAsUnzipExtractsThem) {
    const std::vector<PeerArchive> archives = PeerArchives();
    ASSERT_FALSE(archives.empty()) << "peer archives missing: " << PeerArchivePath("manifest.tsv");
    std::vector<std::string> makers;
    for (const PeerArchive& peer : archives) {
        SCOPED_TRACE(peer.file + " (" + peer.maker + ")");
        makers.push_back(peer.maker);
        OpenedArchive zip(PeerArchivePath(peer.file));
        ASSERT_EQ(zip.created, S_OK);
        if (!peer.password.empty()) zip.object->SetPassword(peer.password.c_str());
        ScratchFolder out;
        if (peer.expect == "refused") {
            EXPECT_NE(zip.Test(), S_OK) << zip.log;
            EXPECT_NE(zip.Extract(out.Path()), S_OK) << zip.log;
            EXPECT_TRUE(LogHas(zip.log, "requires PK v4.5, supported is v2.0")) << zip.log;
            EXPECT_TRUE(FilesBelow(out.Path()).empty());
            continue;
        }
        ASSERT_EQ(zip.List(), S_OK) << zip.log;
        EXPECT_EQ(zip.Test(), S_FALSE) << zip.log;  // the summary is a warning line
        EXPECT_TRUE(LogHas(zip.log, "No errors were found in the compressed files")) << zip.log;
        if (peer.expect.rfind("count=", 0) == 0) {
            EXPECT_EQ(std::to_string(zip.object->GetEntryCount()), peer.expect.substr(6));
            continue;
        }
        EXPECT_EQ(zip.Extract(out.Path()), S_OK) << zip.log;
        const FileMap ours = FilesBelow(out.Path());
        const FileMap reference = FilesBelow(PeerArchivePath(peer.file + ".ref"));
        EXPECT_FALSE(reference.empty());
        EXPECT_TRUE(ours == reference) << zip.log;
        // Empty folders are entries of their own.
        if (GetFileAttributesA(PeerArchivePath(peer.file + ".ref/empty folder").c_str()) != INVALID_FILE_ATTRIBUTES) {
            EXPECT_NE(GetFileAttributesA((out / "empty folder").c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
    for (const char* maker : {"zip -0", "zip -9", "zip -P", "zip to a pipe", "zip -fz", "7zz Deflate", "7zz Copy",
                              "python zipfile", "python zipfile force_zip64", "python zipfile, 65,600 entries", "7zz, 65,600 files in 40 folders",
                              "prefix + zip", "prefix + zip -A"})
        EXPECT_NE(std::find(makers.begin(), makers.end(), maker), makers.end()) << maker << " not seen";
}

// --- the corpus ---

// Every ZIP sample: what is extracted or tested matches the manifest's
// sizes and CRCs; a sample whose entries use a method, version or
// encryption without a decoder here, or that is damaged, never ends with
// S_OK, and says why.
TEST(ZipEngine, CorpusSamplesBehaveAsTheManifestSays) {
    TESSERA_REQUIRE_CORPUS();
    std::vector<CorpusSample> samples = CorpusSamplesOf("zip");
    for (const CorpusSample& s : CorpusSamplesOf("zip-sfx")) samples.push_back(s);
    for (const CorpusSample& sample : samples) {
        SCOPED_TRACE(sample.file);
        OpenedArchive zip(CorpusPath(sample.file));
        if (zip.created != S_OK) {
            // Only a program file of another system (an ELF stub) is not recognised.
            EXPECT_EQ(sample.file.substr(sample.file.size() - 4), ".bin");
            continue;
        }
        if (!sample.password.empty()) zip.object->SetPassword(sample.password.c_str());
        zip.List();
        ScratchFolder out;
        const HRESULT tested = zip.Test();
        const HRESULT extracted = zip.Extract(out.Path());
        std::multimap<std::pair<uint64_t, uint32_t>, std::string> expected;
        for (const CorpusEntry& e : sample.entries)
            if (e.name.empty() || e.name.back() != '/') expected.emplace(std::make_pair(e.size, e.crc32), e.name);
        const FileMap written = FilesBelow(out.Path());
        for (const auto& w : written) {
            auto it = expected.find(w.second);
            // A member with a wrong CRC is kept, and reported.
            if (it == expected.end() && sample.expect != "ok" && LogHas(zip.log, "Bad checksum")) continue;
            ASSERT_NE(it, expected.end()) << w.first << " is not a file of the archive\n" << zip.log;
            expected.erase(it);
        }
        const bool skipped = LogHas(zip.log, "not supported") || LogHas(zip.log, "requires PK");
        // ZIP64 samples were once refused here; every peer reads them.
        const bool readable = sample.expect == "ok" || sample.expect.find("ZIP64") != std::string::npos;
        if (readable) {
            EXPECT_FALSE(skipped) << zip.log;
        }
        if (readable && !skipped) {
            EXPECT_EQ(extracted, S_OK) << zip.log;
            EXPECT_EQ(tested, S_FALSE) << zip.log;
            EXPECT_TRUE(LogHas(zip.log, "No errors were found")) << zip.log;
            EXPECT_TRUE(expected.empty()) << expected.size() << " file(s) not extracted\n" << zip.log;
        } else {
            EXPECT_NE(extracted, S_OK) << zip.log;
            EXPECT_NE(tested, S_OK) << zip.log;
            EXPECT_FALSE(LogHas(zip.log, "No errors were found in the compressed files")) << zip.log;
            // Methods 7, 9, 10 and above have no decoder; strong encryption
            // is refused; the rest is damage the log names.
            const bool explained = skipped || LogHas(zip.log, "Bad checksum") ||
                                   LogHas(zip.log, "Password either wrong") || LogHas(zip.log, "damaged") ||
                                   LogHas(zip.log, "decryption not supported");
            EXPECT_TRUE(explained) << zip.log;
        }
    }
}

// --- hand-made archives: skips, damage and their result codes ---

// Deflate data made of one stored block, so that hand-made entries can use
// method 8 without an encoder.
std::string StoredDeflate(const std::string& plain) {
    std::string d(1, '\x01');
    const uint16_t n = static_cast<uint16_t>(plain.size());
    d += static_cast<char>(n & 0xFF);
    d += static_cast<char>(n >> 8);
    d += static_cast<char>(~n & 0xFF);
    d += static_cast<char>((~n >> 8) & 0xFF);
    return d + plain;
}

// Sets CRC and uncompressed size of entry `i` in both headers.
void SetPlain(Fixture* f, size_t i, uint32_t crc, uint32_t size) {
    PatchU32(&f->bytes, f->localPositions[i] + 14, crc);
    PatchU32(&f->bytes, f->localPositions[i] + 22, size);
    PatchU32(&f->bytes, f->centralPositions[i] + 16, crc);
    PatchU32(&f->bytes, f->centralPositions[i] + 24, size);
}

struct Case {
    const char* name;
    std::string (*make)();
    HRESULT extract;               // result of Extract
    HRESULT test;                  // result of Test (kNotTested: the same as Extract)
    std::vector<const char*> log;  // texts the log holds
    std::vector<const char*> files;  // what Extract leaves (all of it)
};

std::string DeflateEntry(const std::string& name, const std::string& plain, uint32_t declaredSize) {
    Fixture f = BuildZip({{name, StoredDeflate(plain), 8}});
    SetPlain(&f, 0, ReferenceCrc32(plain.data(), plain.size()), declaredSize);
    return f.bytes;
}

const Case kCases[] = {
    {"every entry method 7: nothing processed",
     [] { return BuildZip({{"a.txt", "xx", 7}, {"b.txt", "yy", 7}}).bytes; }, E_FAIL, kNotTested,
     {"Skipping a.txt", "(method 'Tokenize' not supported)", "2 file(s) were skipped because of not supported"},
     {}},
    {"method 7 beside a stored entry", [] { return BuildZip({{"a.txt", "xx", 7}, {"b.txt", "stored"}}).bytes; },
     S_FALSE, kNotTested, {"(method 'Tokenize' not supported)", "1 file(s) were skipped"}, {"b.txt"}},
    {"invalid Shrink data", [] { return BuildZip({{"s.txt", std::string(4, '\xFF'), 1}}).bytes; }, S_FALSE,
     kNotTested, {"Invalid compressed data to use this method: Unshrink"}, {}},
    {"method 9 and method 12", [] { return BuildZip({{"e.bin", "xx", 9}, {"u.bin", "yy", 12}, {"ok.txt", "ok"}}).bytes; },
     S_FALSE, kNotTested, {"(method 'Enhanced Deflate' not supported)", "(method 12 is unknown.)"}, {"ok.txt"}},
    // The version an entry claims decides nothing: what it uses does.
    {"version needed 6.3 on a stored entry",
     [] {
         Fixture f = BuildZip({{"new.txt", "v63"}, {"old.txt", "v10"}});
         PatchU16(&f.bytes, f.localPositions[0] + 4, 63);
         PatchU16(&f.bytes, f.centralPositions[0] + 6, 63);
         return f.bytes;
     },
     S_OK, S_FALSE, {"No errors were found in the compressed files"}, {"new.txt", "old.txt"}},
    {"patched data",
     [] {
         Fixture f = BuildZip({{"patch.txt", "v27"}, {"old.txt", "v10"}});
         PatchU16(&f.bytes, f.localPositions[0] + 6, 0x20);
         PatchU16(&f.bytes, f.centralPositions[0] + 8, 0x20);
         return f.bytes;
     },
     S_FALSE, kNotTested, {"(requires PK v2.7, supported is v2.0)"}, {"old.txt"}},
    {"deflate entry", [] { return DeflateEntry("d.txt", std::string(3000, 'd'), 3000); }, S_OK, S_FALSE,
     {"No errors were found in the compressed files"}, {"d.txt"}},
    {"more output than declared stops at the declared size",
     [] { return DeflateEntry("bomb.bin", std::string(3000, 'b'), 100); }, S_FALSE, kNotTested,
     {"Invalid compressed data to use this method: Inflate"}, {}},
    {"less output than declared", [] { return DeflateEntry("short.bin", std::string(100, 's'), 3000); },
     S_FALSE, kNotTested, {"Invalid compressed data to use this method: Inflate"}, {}},
    {"a flipped stored byte",
     [] {
         Fixture f = BuildZip({{"crc.txt", "checksummed data"}});
         f.bytes[f.localPositions[0] + 30 + 7] ^= 1;
         return f.bytes;
     },
     S_FALSE, kNotTested, {"Bad checksum", "At least one error was found"}, {"crc.txt"}},
    {"central offset 0 behind a prefix",
     [] {
         Fixture f = BuildZip({{"p.txt", "prefixed"}}, {std::string(700, 'P'), true});
         PatchU32(&f.bytes, f.endPosition + 16, 0);
         return f.bytes;
     },
     S_FALSE, kNotTested, {"Archive is damaged: "}, {"p.txt"}},
    {"local name differs from the central one",
     [] {
         Fixture f = BuildZip({{"real.txt", "data"}});
         f.bytes[f.localPositions[0] + 30] = 'f';
         return f.bytes;
     },
     E_FAIL, kNotTested, {"File in archive #1 is damaged."}, {}},
    {"two central entries sharing one local entry",
     [] {
         Fixture f = BuildZip({{"one.txt", "shared"}, {"two.txt", "shared"}});
         PatchU32(&f.bytes, f.centralPositions[1] + 42, static_cast<uint32_t>(f.localPositions[0]));
         return f.bytes;
     },
     E_FAIL, kNotTested, {"File in archive #1 is damaged.", "File in archive #2 is damaged."}, {}},
    {"an entry reaching past the directory",
     [] {
         Fixture f = BuildZip({{"big.txt", "small"}, {"fine.txt", "fine"}});
         PatchU32(&f.bytes, f.centralPositions[0] + 20, 0x7FFFFFF0);
         return f.bytes;
     },
     E_FAIL, kNotTested, {"File in archive #1 is damaged."}, {"fine.txt"}},
    {"local header missing",
     [] {
         Fixture f = BuildZip({{"gone.txt", "data"}, {"here.txt", "data"}});
         f.bytes[f.localPositions[0]] = 'X';
         return f.bytes;
     },
     E_FAIL, kNotTested, {"File #1 was not found in archive."}, {"here.txt"}},
    {"bytes between the directory and the end record",
     [] {
         Fixture f = BuildZip({{"n.txt", "note"}});
         f.bytes.insert(f.endPosition, "JUNK");
         PatchU32(&f.bytes, f.endPosition + 4 + 12, static_cast<uint32_t>(f.endPosition + 4 - f.centralStart));
         return f.bytes;
     },
     S_FALSE, kNotTested, {"Note: Could not find expected end-header signature."}, {"n.txt"}},
    {"empty archive", [] { return BuildZip({}).bytes; }, E_FAIL, kNotTested, {"Warning: archive is empty."}, {}},
};

TEST(ZipEngine, SkipsDamageAndTheirResults) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        const std::string path = Write(scratch, "case.zip", c.make());
        OpenedArchive zip(path);
        ASSERT_EQ(zip.created, S_OK);
        zip.List();
        const HRESULT tested = zip.Test();
        EXPECT_EQ(tested, c.test == kNotTested ? c.extract : c.test) << zip.log;
        const std::string out = scratch / "out";
        EXPECT_EQ(zip.Extract(out), c.extract) << zip.log;
        for (const char* text : c.log) EXPECT_TRUE(LogHas(zip.log, text)) << text << "\n" << zip.log;
        std::vector<std::string> files;
        for (const auto& f : FilesBelow(out)) files.push_back(f.first);
        EXPECT_EQ(files, std::vector<std::string>(c.files.begin(), c.files.end())) << zip.log;
    }
}

// Stored names that point elsewhere land below the destination, with a
// line in the log; nothing is written beside it.
TEST(ZipEngine, UnsafeNamesStayBelowTheDestination) {
    const std::vector<std::string> names = {"../up.txt", "/abs.txt", "C:drive.txt", "C:/root.txt", "CON",
                                            "a/../../esc.txt", "..\\back.txt", "nul.txt", "d/./../../x.txt"};
    std::vector<FixtureEntry> entries;
    for (const std::string& n : names) entries.push_back({n, "payload of " + n});
    ScratchFolder scratch;
    const std::string path = Write(scratch, "unsafe.zip", BuildZip(entries).bytes);
    const std::string destination = scratch / "nest";
    CreateDirectoryA(destination.c_str(), nullptr);
    OpenedArchive zip(path);
    ASSERT_EQ(zip.List(), S_OK) << zip.log;
    EXPECT_EQ(zip.Extract(destination + "\\dest"), S_FALSE) << zip.log;
    std::vector<std::string> beside = NamesIn(scratch.Path());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"nest", "unsafe.zip"}));
    EXPECT_EQ(NamesIn(destination), std::vector<std::string>{"dest"});
    const FileMap written = FilesBelow(destination + "\\dest");
    EXPECT_EQ(written.size(), names.size()) << zip.log;
    for (const auto& w : written) {
        EXPECT_EQ(w.first.find(".."), std::string::npos) << w.first;
        EXPECT_NE(w.first, "CON");
        EXPECT_NE(w.first, "nul.txt");
    }
    for (const char* n : {"..\\up.txt", "CON", "C:drive.txt"})
        EXPECT_TRUE(LogHas(zip.log, (std::string("Warning: The unsafe name ") + n + " is written as").c_str()))
            << n << "\n" << zip.log;
}

// A self-extracting program whose first entry is found only with the
// prefix counted and the rest only without it (offsets mixed by a faulty
// tool): the shift is dropped after the first entry and taken up again.
TEST(ZipEngine, SelfExtractingOffsetsEitherWay) {
    for (bool absolute : {false, true}) {
        SCOPED_TRACE(absolute ? "absolute offsets" : "offsets from the ZIP data");
        ScratchFolder scratch;
        Fixture f = BuildZip({{"first.txt", "one"}, {"dir/second.txt", "two"}}, {std::string(4096, 'M'), absolute});
        const std::string path = Write(scratch, "setup.exe", f.bytes);
        OpenedArchive zip(path);
        ASSERT_EQ(zip.created, S_OK);
        ASSERT_EQ(zip.List(), S_OK) << zip.log;
        EXPECT_EQ(zip.Extract(scratch / "out"), S_OK) << zip.log;
        EXPECT_EQ(FilesBelow(scratch / "out").size(), 2u) << zip.log;
    }
}

// --- the password prompt ---

struct PasswordScript {
    std::vector<std::pair<int, std::string>> answers;  // answered in order; then skip
    size_t next = 0;
    std::vector<BOOL> retries;  // what each prompt was asked with
};

int CALLBACK ScriptedPassword(void* context, HWND, LPCSTR, BOOL retry, LPSTR password) {
    auto* script = static_cast<PasswordScript*>(context);
    script->retries.push_back(retry);
    if (script->next >= script->answers.size()) return PASSWORD_RESULT_SKIP;
    const auto& answer = script->answers[script->next++];
    lstrcpynA(password, answer.second.c_str(), ARC_PASSWORD_MAX + 1);
    return answer.first;
}

TEST(ZipEngine, PasswordPromptTriesSkipsAndCancel) {
    const std::string archive = PeerArchivePath("zip-password.zip");
    ASSERT_TRUE(FileExists(archive));
    const int ok = PASSWORD_RESULT_OK, skipAll = PASSWORD_RESULT_SKIPALL,
              cancel = PASSWORD_RESULT_CANCEL;
    struct Row {
        const char* name;
        std::vector<std::pair<int, std::string>> answers;
        std::vector<BOOL> prompts;  // retry flag of each prompt shown
        HRESULT result;
        bool allFiles;  // every file extracted (else: none of the encrypted ones)
    };
    const Row rows[] = {
        {"right password at the first prompt, kept for the rest", {{ok, "tessera"}}, {FALSE}, S_OK, true},
        {"wrong, then right", {{ok, "wrong"}, {ok, "tessera"}}, {FALSE, TRUE}, S_OK, true},
        {"three wrong answers skip the entry, skip all the rest",
         {{ok, "a"}, {ok, "b"}, {ok, "c"}, {skipAll, ""}}, {FALSE, TRUE, TRUE, FALSE}, S_FALSE, false},
        {"skip all at once", {{skipAll, ""}}, {FALSE}, S_FALSE, false},
        {"cancel", {{cancel, ""}}, {FALSE}, E_ABORT, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PasswordScript script;
        script.answers = row.answers;
        ARCPROMPTHANDLER answers = kQuietAnswers;
        answers.context = &script;
        answers.Password = ScriptedPassword;
        OpenedArchive zip(archive, &answers);
        ASSERT_EQ(zip.List(), S_OK) << zip.log;
        DWORD encrypted = 0;
        for (DWORD i = 0; i < zip.object->GetEntryCount(); ++i) encrypted += zip.Entry(i).flags & 1;
        ASSERT_GT(encrypted, 2u);
        ScratchFolder out;
        EXPECT_EQ(zip.Extract(out.Path()), row.result) << zip.log;
        EXPECT_EQ(script.retries, row.prompts) << zip.log;
        const FileMap written = FilesBelow(out.Path());
        const FileMap reference = FilesBelow(PeerArchivePath("zip-password.zip.ref"));
        if (row.allFiles) {
            EXPECT_TRUE(written == reference) << zip.log;
        } else {
            // Only the empty file (not encrypted) may be there.
            for (const auto& w : written) EXPECT_EQ(w.second.first, 0u) << w.first;
        }
        if (row.result == S_FALSE) {
            EXPECT_TRUE(LogHas(zip.log, "file(s) skipped, because the password was either wrong or not entered."));
        }
    }
}

// --- cancelling ---

struct CancelOn {
    std::string trigger;
    std::string log;
};
void CALLBACK CancelWhenSeen(ICompressFormat* object, LPARAM user, LPCSTR text) {
    auto* c = reinterpret_cast<CancelOn*>(user);
    c->log += text;
    if (std::string(text).find(c->trigger) != std::string::npos) object->Cancel();
}

// Cancelled while a member is open: no partial file, nothing after it.
TEST(ZipEngine, CancelLeavesNoPartialFile) {
    for (const char* archive : {"zip-0.zip", "zip-9.zip"}) {
        SCOPED_TRACE(archive);
        OpenedArchive zip(PeerArchivePath(archive));
        ASSERT_EQ(zip.List(), S_OK) << zip.log;
        CancelOn cancel{"Extracting zeros.bin", ""};
        zip.object->SetMessageCallback(CancelWhenSeen, reinterpret_cast<LPARAM>(&cancel));
        ScratchFolder out;
        EXPECT_EQ(zip.Extract(out.Path()), E_ABORT) << cancel.log;
        EXPECT_TRUE(LogHas(cancel.log, "Interrupted.")) << cancel.log;
        const FileMap written = FilesBelow(out.Path());
        EXPECT_EQ(written.count("docs/deep/zeros.bin"), 0u) << cancel.log;
        const FileMap reference = FilesBelow(PeerArchivePath(std::string(archive) + ".ref"));
        for (const auto& w : written) EXPECT_EQ(w.second, reference.at(w.first)) << w.first;
    }
}

// A write that fails part-way through a member: another error loses that
// member only (its partial file goes); a full disk with nobody to answer
// Retry cancels the run. Faults are armed through the engine's file layer.
TEST(ZipEngine, FailedWritesLeaveNoPartialFile) {
    struct Row {
        const char* fault;  // the Nth write fails with this error
        HRESULT result;
        const char* log;
        size_t lost;  // files missing against unzip's extraction
    };
    const Row rows[] = {
        {"3,5", S_FALSE, "File cannot be written", 1},
        {"3,112", E_ABORT, "Interrupted.", 0},
    };
    const FileMap reference = FilesBelow(PeerArchivePath("zip-9.zip.ref"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        OpenedArchive zip(PeerArchivePath("zip-9.zip"));
        ASSERT_EQ(zip.List(), S_OK) << zip.log;
        ScratchFolder out;
        tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, row.fault);
        const HRESULT result = zip.Extract(out.Path());
        tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, nullptr);
        EXPECT_EQ(result, row.result) << zip.log;
        EXPECT_TRUE(LogHas(zip.log, row.log)) << zip.log;
        const FileMap written = FilesBelow(out.Path());
        for (const auto& w : written) EXPECT_EQ(w.second, reference.at(w.first)) << w.first;
        if (row.result == S_FALSE) {
            EXPECT_EQ(written.size() + row.lost, reference.size()) << zip.log;
        }
    }
}

}  // namespace
}  // namespace tessera::testing
