// The cabinet format class through the engine's public interface (Windows
// build, run under Wine): the corpus cabinets listed, extracted and tested to
// their recorded CRCs or refused without a success result, a cabinet set
// whose next cabinet is missing, a cabinet inside a program, names that try
// to leave the destination, and the texts of the class.
#include "tescore.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "engine_session.h"
#include "test_files.h"

namespace {

using tessera::testing::ReadWholeFile;
using tessera::testing::ReferenceCrc32;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;
using Bytes = std::vector<uint8_t>;

// Message boxes: Retry/Cancel questions are counted and answered with
// `retryAnswer`; everything else with OK.
struct Answers {
    int retryAnswer = IDCANCEL;
    int retryQuestions = 0;
    std::string lastQuestion;
};
int CALLBACK Box(void* context, HWND, LPCSTR text, LPCSTR, UINT style) {
    auto* answers = static_cast<Answers*>(context);
    if (!answers || (style & MB_TYPEMASK) != MB_RETRYCANCEL) return IDOK;
    ++answers->retryQuestions;
    answers->lastQuestion = text;
    return answers->retryAnswer;
}

using Archive = tessera::testing::OpenedArchive;
using tessera::testing::FileMap;
using tessera::testing::FilesBelow;
using tessera::testing::LogHas;

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A single-folder cabinet of stored files (one data block, no checksum).
Bytes StoredCabinet(const std::vector<std::pair<std::string, std::string>>& files) {
    Bytes records, data;
    for (const auto& f : files) {
        Put32(records, static_cast<uint32_t>(f.second.size()));
        Put32(records, static_cast<uint32_t>(data.size()));
        Put16(records, 0);       // folder
        Put16(records, 0x5A21);  // 2025-01-01
        Put16(records, 0x6000);  // 12:00
        Put16(records, 0x20);
        records.insert(records.end(), f.first.begin(), f.first.end());
        records.push_back(0);
        data.insert(data.end(), f.second.begin(), f.second.end());
    }
    const uint32_t filesAt = 36 + 8, dataAt = filesAt + static_cast<uint32_t>(records.size());
    Bytes cab = {'M', 'S', 'C', 'F'};
    Put32(cab, 0);
    Put32(cab, dataAt + 8 + static_cast<uint32_t>(data.size()));
    Put32(cab, 0);
    Put32(cab, filesAt);
    Put32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    Put16(cab, 1);
    Put16(cab, static_cast<uint32_t>(files.size()));
    Put16(cab, 0);
    Put16(cab, 0x1234);
    Put16(cab, 0);
    Put32(cab, dataAt);  // folder: its data, one block, stored
    Put16(cab, 1);
    Put16(cab, 0);
    cab.insert(cab.end(), records.begin(), records.end());
    Put32(cab, 0);
    Put16(cab, static_cast<uint32_t>(data.size()));
    Put16(cab, static_cast<uint32_t>(data.size()));
    cab.insert(cab.end(), data.begin(), data.end());
    return cab;
}

// Every corpus cabinet: listed with unknown packed sizes, extracted and
// tested. Good ones come out with their recorded CRCs; damaged ones never
// end with S_OK, and whatever they leave on disk is whole.
TEST(CabEngine, CorpusSamples) {
    TESSERA_REQUIRE_CORPUS();
    for (const auto& sample : tessera::testing::CorpusSamplesOf("cab")) {
        SCOPED_TRACE(sample.file);
        Archive a(tessera::testing::CorpusPath(sample.file));
        ASSERT_EQ(a.created, S_OK);
        bool good = sample.expect == "ok";
        HRESULT listed = a.List();
        if (good) {
            ASSERT_EQ(listed, S_OK) << a.log;
            DWORD files = 0, packed = 0;
            a.object->GetTotals(nullptr, &packed, nullptr, &files);
            EXPECT_EQ(files, sample.entries.size());
            EXPECT_EQ(packed, SIZE_UNKNOWN);
            for (DWORD i = 0; i < a.object->GetEntryCount(); ++i)
                EXPECT_EQ(a.object->GetEntries()[i].packedSize, SIZE_UNKNOWN);
        }
        ScratchFolder out;
        HRESULT extracted = a.Extract(out.Path());
        HRESULT tested = a.Test();
        FileMap written = FilesBelow(out.Path());
        std::map<std::string, std::pair<uint64_t, uint32_t>> expected;
        for (const auto& e : sample.entries) expected[e.name] = {e.size, e.crc32};
        if (good && LogHas(a.log, "(path too long)")) {
            // A 255-character name does not fit below the scratch folder.
            EXPECT_EQ(extracted, S_FALSE) << a.log;
            EXPECT_TRUE(LogHas(a.log, "No errors were found")) << a.log;
        } else if (good) {
            EXPECT_EQ(extracted, S_OK) << a.log;
            EXPECT_EQ(tested, S_FALSE) << a.log;  // the test summary is a warning
            EXPECT_TRUE(LogHas(a.log, "No errors were found")) << a.log;
            EXPECT_EQ(written.size(), expected.size());
        } else {
            EXPECT_NE(extracted, S_OK) << a.log;
            EXPECT_NE(tested, S_OK) << a.log;
            EXPECT_FALSE(LogHas(a.log, "No errors were found")) << a.log;
        }
        for (const auto& w : written) {
            std::string name = w.first;
            auto it = expected.find(name);
            if (it == expected.end()) {  // the manifest keeps the stored separators
                for (char& c : name)
                    if (c == '/') c = '\\';
                it = expected.find(name);
            }
            if (good) { ASSERT_NE(it, expected.end()) << w.first; }
            if (it != expected.end()) { EXPECT_EQ(w.second, it->second) << w.first; }
        }
    }
}

// A set whose second cabinet is missing: the user is asked (Retry/Cancel,
// naming the file); Cancel stops the operation, endless Retry ends too, and
// without a user the operation ends with S_FALSE. Nothing partial is left.
TEST(CabEngine, SpannedSetWithNextCabinetMissing) {
    TESSERA_REQUIRE_CORPUS();
    const std::string first = "cab/spanned_none_2parts/test_read_format_cab_multi.p1.cab";
    Bytes bytes = ReadWholeFile(tessera::testing::CorpusPath(first));
    ASSERT_FALSE(bytes.empty());
    ScratchFolder scratch;
    std::string path = scratch / "test_read_format_cab_multi.p1.cab";
    WriteWholeFile(path, bytes.data(), bytes.size());
    struct Row {
        int answer;
        HWND owner;
    } rows[] = {{IDCANCEL, GetDesktopWindow()}, {IDRETRY, GetDesktopWindow()}, {IDCANCEL, nullptr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        Answers answers;
        answers.retryAnswer = row.answer;
        ARCPROMPTHANDLER handler = tessera::testing::kQuietAnswers;
        handler.context = &answers;
        handler.ShowMessage = Box;
        Archive a(path, &handler);
        ASSERT_EQ(a.created, S_OK);
        ScratchFolder out;
        HRESULT extracted = a.Extract(out.Path(), nullptr, 0, row.owner);
        HRESULT tested = a.Test(row.owner);
        EXPECT_TRUE(FilesBelow(out.Path()).empty());
        EXPECT_TRUE(LogHas(a.log, "test_read_format_cab_multi.p2.cab")) << a.log;
        if (!row.owner) {
            // Listing shows what the present cabinet starts, with a warning.
            EXPECT_EQ(a.List(row.owner), S_FALSE) << a.log;
            EXPECT_EQ(a.object->GetEntryCount(), 1u);
            EXPECT_EQ(extracted, S_FALSE) << a.log;
            EXPECT_EQ(tested, S_FALSE) << a.log;
            EXPECT_TRUE(LogHas(a.log, "At least one error")) << a.log;
            EXPECT_EQ(answers.retryQuestions, 0);
        } else if (row.answer == IDCANCEL) {
            EXPECT_EQ(extracted, E_ABORT) << a.log;
            EXPECT_EQ(tested, E_ABORT) << a.log;
            EXPECT_EQ(answers.retryQuestions, 2);  // once per operation
            EXPECT_TRUE(LogHas(answers.lastQuestion, "test_read_format_cab_multi.p2.cab")) << answers.lastQuestion;
        } else {
            EXPECT_NE(extracted, S_OK) << a.log;
            EXPECT_NE(tested, S_OK) << a.log;
            EXPECT_GE(answers.retryQuestions, 2);
            EXPECT_LE(answers.retryQuestions, 2 * 16);
        }
    }
}

// A selection: only the chosen entries are written, one of them to the
// path its record names; an entry of a later folder is reached past the others.
TEST(CabEngine, Selection) {
    TESSERA_REQUIRE_CORPUS();
    Archive a(tessera::testing::CorpusPath("cab/mszip_lzx18_quantum18_3folders.cab"));
    ASSERT_EQ(a.created, S_OK);
    ASSERT_EQ(a.List(), S_OK) << a.log;
    ASSERT_EQ(a.object->GetEntryCount(), 3u);
    ScratchFolder out;
    std::string elsewhere = out / "renamed.bin";
    SELHDRSTRUCT selection[2] = {{2, 0, nullptr}, {0, 0, const_cast<char*>(elsewhere.c_str())}};
    EXPECT_EQ(a.Extract(out.Path(), selection, 2), S_OK) << a.log;
    EXPECT_EQ(selection[0].found, 1u);
    EXPECT_EQ(selection[1].found, 1u);
    FileMap written = FilesBelow(out.Path());
    ASSERT_EQ(written.size(), 2u);
    std::string third = a.object->GetEntries()[2].name;
    for (char& c : third)
        if (c == '\\') c = '/';
    EXPECT_EQ(written.count(third), 1u) << third;
    EXPECT_EQ(written.count("renamed.bin"), 1u);
}

// Cancel while the first file is under way: the operation ends as
// cancelled and leaves no partial file.
ICompressFormat* g_cancelTarget = nullptr;
void CALLBACK CancelOnFirstFile(HWND, LPCSTR text) {
    if (g_cancelTarget && std::string(text).rfind("Extracting ", 0) == 0) g_cancelTarget->Cancel();
}
TEST(CabEngine, CancelLeavesNoPartialFile) {
    Bytes cab = StoredCabinet({{"big.txt", std::string(30000, 'z')}, {"next.txt", "n"}});
    ScratchFolder scratch;
    std::string path = scratch / "c.cab";
    WriteWholeFile(path, cab.data(), cab.size());
    Archive a(path);
    ASSERT_EQ(a.List(), S_OK) << a.log;
    g_cancelTarget = a.object;
    a.object->SetStatusCallback(CancelOnFirstFile);
    std::string out = scratch / "out";
    EXPECT_EQ(a.Extract(out), E_ABORT) << a.log;
    g_cancelTarget = nullptr;
    EXPECT_TRUE(FilesBelow(out).empty());
    EXPECT_TRUE(LogHas(a.log, "Interrupted.")) << a.log;
}

// The cabinet of a self-extracting program is found up to 196,604 bytes in.
TEST(CabEngine, CabinetInsideAProgram) {
    Bytes cab = StoredCabinet({{"a.txt", "inside"}});
    struct Row {
        size_t offset;
        const char* name;
    } rows[] = {{0, "p.cab"}, {20000, "p.cab"}, {196603, "p.cab"}, {196604, "p.cab"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.offset) + row.name);
        Bytes file(row.offset, 'M');
        file.insert(file.end(), cab.begin(), cab.end());
        ScratchFolder scratch;
        std::string path = scratch / row.name;
        WriteWholeFile(path, file.data(), file.size());
        Archive a(path);
        ASSERT_EQ(a.created, S_OK);
        BOOL found = FALSE;
        if (row.offset >= 196604) {
            EXPECT_EQ(a.object->Check(nullptr, &found), E_FAIL);
            EXPECT_TRUE(found);  // the file could be searched
            EXPECT_EQ(a.List(), E_FAIL);
            EXPECT_TRUE(LogHas(a.log, "does not seam to be a valid")) << a.log;
            continue;
        }
        EXPECT_EQ(a.object->Check(nullptr, &found), S_OK);
        EXPECT_TRUE(found);
        ASSERT_EQ(a.List(), S_OK) << a.log;
        ASSERT_EQ(a.object->GetEntryCount(), 1u);
        std::string out = scratch / "out";
        EXPECT_EQ(a.Extract(out), S_OK) << a.log;
        EXPECT_EQ(ReadWholeFile(out + "\\a.txt"), Bytes({'i', 'n', 's', 'i', 'd', 'e'}));
    }
}

// A cabinet of another format version is refused as not a cabinet.
TEST(CabEngine, OtherVersionRefused) {
    Bytes cab = StoredCabinet({{"a.txt", "x"}});
    cab[24] = 2;  // version 1.2
    ScratchFolder scratch;
    std::string path = scratch / "v.cab";
    WriteWholeFile(path, cab.data(), cab.size());
    Archive a(path);
    ASSERT_EQ(a.created, S_OK);
    EXPECT_EQ(a.List(), E_FAIL);
    EXPECT_EQ(a.Extract(scratch / "out"), E_FAIL);
    EXPECT_TRUE(LogHas(a.log, "does not seam to be a valid")) << a.log;
    EXPECT_FALSE(tessera::testing::FileExists(scratch / "out\\a.txt"));
}

// Names that try to leave the destination stay inside it.
TEST(CabEngine, HostileNamesStayInside) {
    const char* names[] = {"..\\..\\evil.txt", "../evil.txt", "C:\\evil.txt", "C:evil.txt", "\\evil.txt",
                           "a\\..\\..\\evil.txt", "\\\\srv\\share\\evil.txt"};
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* n : names) files.push_back({n, "hi"});
    Bytes cab = StoredCabinet(files);
    ScratchFolder scratch;
    std::string path = scratch / "h.cab";
    WriteWholeFile(path, cab.data(), cab.size());
    Archive a(path);
    ASSERT_EQ(a.List(), S_OK) << a.log;
    EXPECT_EQ(a.object->GetEntryCount(), sizeof names / sizeof names[0]);
    CreateDirectoryA((scratch / "deep").c_str(), nullptr);
    std::string dest = scratch / "deep\\out";
    a.Extract(dest);
    EXPECT_FALSE(tessera::testing::FileExists(scratch / "evil.txt"));
    EXPECT_FALSE(tessera::testing::FileExists(scratch / "deep\\evil.txt"));
    EXPECT_FALSE(tessera::testing::FileExists("C:\\evil.txt"));
    for (const auto& f : FilesBelow(dest)) EXPECT_EQ(f.second.first, 2u) << f.first;
}

// The level names (kind 5), stored names (kind 3) and the self-extractor modules.
TEST(CabEngine, TextsAndModules) {
    Bytes cab = StoredCabinet({{"dir\\f.txt", "x"}});
    ScratchFolder scratch;
    std::string path = scratch / "t.cab";
    WriteWholeFile(path, cab.data(), cab.size());
    Archive a(path);
    ASSERT_EQ(a.created, S_OK);
    char text[GETTEXT_BUFFER];
    ASSERT_EQ(a.object->GetText(TEXT_LEVELS, 0, text), S_OK);
    std::vector<std::string> levels;
    for (const char* p = text; *p; p += lstrlenA(p) + 1) levels.push_back(p);
    EXPECT_EQ(levels, (std::vector<std::string>{"LZX (maximal memory)", "LZX (less memory)", "LZX (minimal memory)",
                                                "MSZIP (for compatiblity)", "None"}));
    EXPECT_EQ(a.object->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>("dir\\sub\\"), text), S_OK);
    EXPECT_STREQ(text, "dir\\sub");
    EXPECT_EQ(a.object->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(""), text), E_INVALIDARG);
    EXPECT_EQ(a.object->GetText(TEXT_VERSION, 0, text), E_INVALIDARG);
    DWORD id = 0;
    EXPECT_TRUE(a.object->GetSfxModuleId(FALSE, &id));
    EXPECT_EQ(id, 1005u);
    EXPECT_TRUE(a.object->GetSfxModuleId(TRUE, &id));
    EXPECT_EQ(id, 1004u);
}

}  // namespace
