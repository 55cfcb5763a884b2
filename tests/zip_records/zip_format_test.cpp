// The ZIP format class through tescore.dll, as a program uses it: List fills
// the entry records and totals, Check and GetComment answer as the format
// defines, GetText names versions, methods and paths, and every directory
// problem arrives as the catalogue's message in the caller's log.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "corpus.h"
#include "tescore.h"
#include "test_files.h"
#include "zip_fixtures.h"

namespace tessera::testing {
namespace {

struct Opened {
    ICompressFormat* object = nullptr;
    std::vector<std::string> log;
    ~Opened() {
        if (object) object->Release();
    }
    std::string Log() const {
        std::string all;
        for (const std::string& line : log) all += line;
        return all;
    }
};

void CALLBACK Collect(ICompressFormat*, LPARAM user, LPCSTR text) {
    reinterpret_cast<Opened*>(user)->log.push_back(text);
}

// Creates the object for `path` with a log attached; false when the factory refuses.
bool Open(const std::string& path, Opened* opened) {
    if (FAILED(ArcCreateObject(nullptr, path.c_str(), &opened->object))) return false;
    opened->object->SetMessageCallback(Collect, reinterpret_cast<LPARAM>(opened));
    return true;
}

std::string Text(ICompressFormat* object, int kind, DWORD_PTR value, HRESULT* hr = nullptr) {
    char buffer[GETTEXT_BUFFER];
    HRESULT result = object->GetText(kind, value, buffer);
    if (hr) *hr = result;
    return buffer;
}

TEST(ZipFormat, ListFillsEntriesAndTotals) {
    ScratchFolder scratch;
    Fixture f = BuildZip({{"secret.txt", std::string(112, 's'), 8, 0x0003},
                          {"dir/", "", 0, 0, 0x10},
                          {"dir/note.txt", std::string(200, 'n'), 0, 0, 0x21, "entry comment"}},
                         {"", false, "archive comment"});
    const std::string path = scratch / "sample.zip";
    WriteWholeFile(path, f.bytes);
    Opened zip;
    ASSERT_TRUE(Open(path, &zip));
    ASSERT_EQ(zip.object->List(nullptr), S_OK) << zip.Log();
    ASSERT_EQ(zip.object->GetEntryCount(), 3u);
    const HDRSTRUCT* e = zip.object->GetEntries();
    EXPECT_STREQ(e[0].name, "secret.txt");
    EXPECT_EQ(e[0].flags, 1u);
    EXPECT_EQ(e[0].packedSize, 100u);  // the encryption header is not counted
    EXPECT_EQ(e[0].size, 112u);
    EXPECT_EQ(e[0].ratio, 11);        // MulDiv(100, 12, 112)
    EXPECT_EQ(e[0].method, 0x10008u);
    EXPECT_EQ(e[0].host, 11u);
    EXPECT_EQ(e[0].version, 22u);
    EXPECT_EQ(e[0].comment, nullptr);
    EXPECT_EQ(e[1].attributes, 0x10u);
    EXPECT_STREQ(e[2].comment, "entry comment");
    EXPECT_EQ(e[2].ratio, 0);
    SYSTEMTIME t;
    ASSERT_TRUE(FileTimeToSystemTime(&e[2].time, &t));  // no time-zone change
    EXPECT_EQ(t.wYear, 2025);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wHour, 12);
    DWORD total = 0, packed = 0, folders = 0, files = 0;
    zip.object->GetTotals(&total, &packed, &folders, &files);
    EXPECT_EQ(total, 312u);
    EXPECT_EQ(packed, 300u);
    EXPECT_EQ(folders, 1u);
    EXPECT_EQ(files, 2u);

    EXPECT_EQ(Text(zip.object, TEXT_VERSION, e[0].version), "PK 2.02");
    EXPECT_EQ(Text(zip.object, TEXT_VERSION, 20), "PK 2.00");
    EXPECT_EQ(Text(zip.object, TEXT_METHOD, e[0].method), "Deflate (Maximum)");
    EXPECT_EQ(Text(zip.object, TEXT_METHOD, 9), "Enhanced Deflate");
    EXPECT_EQ(Text(zip.object, TEXT_PATH, reinterpret_cast<DWORD_PTR>(e[1].name)), "dir");
    EXPECT_EQ(Text(zip.object, TEXT_PATH, reinterpret_cast<DWORD_PTR>(e[2].name)), "dir\\note.txt");
    HRESULT hr = S_OK;
    EXPECT_EQ(Text(zip.object, TEXT_PATH, reinterpret_cast<DWORD_PTR>(""), &hr), "");
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(Text(zip.object, TEXT_COMMENT, reinterpret_cast<DWORD_PTR>(e[2].comment)), "entry comment");
    char levels[GETTEXT_BUFFER];
    ASSERT_EQ(zip.object->GetText(TEXT_LEVELS, 0, levels), S_OK);
    std::vector<std::string> names;
    for (const char* p = levels; *p; p += lstrlenA(p) + 1) names.push_back(p);
    EXPECT_EQ(names, (std::vector<std::string>{"Maximum (slowest)", "Very good", "Normal", "Low (very fast)", "None"}));
    EXPECT_EQ(Text(zip.object, 9, 0, &hr), "");
    EXPECT_EQ(hr, E_INVALIDARG);

    char comment[8];
    EXPECT_EQ(zip.object->GetComment(nullptr, comment, sizeof comment), S_OK);
    EXPECT_STREQ(comment, "archive");  // cut to the buffer
}

// Directory problems reach the log as the catalogue's texts, and the hooks
// answer with the level they reached.
TEST(ZipFormat, ProblemsAreReported) {
    ScratchFolder scratch;
    Fixture cut = BuildZip({{"first.txt", std::string(100, 'a')}, {"second.txt", "b"}});
    cut.bytes.erase(0, 40);
    Fixture zeroOffset = BuildZip({{"p.txt", "prefixed"}}, {std::string(700, 'P'), true});
    PatchU32(&zeroOffset.bytes, zeroOffset.endPosition + 16, 0);
    Fixture later = BuildZip({{"a.txt", "a"}});
    PatchU16(&later.bytes, later.endPosition + 4, 3);
    Fixture bomb = BuildZip({{"a.txt", std::string(100, 'a')}, {"b.txt", "b"}});
    PatchU32(&bomb.bytes, bomb.centralPositions[1] + 42, 0);
    Fixture truncated = BuildZip({{"a.txt", "a"}}, {"", false, "0123456789"});
    PatchU16(&truncated.bytes, truncated.endPosition + 20, 15);
    const struct {
        const char* file;
        std::string bytes;
        HRESULT list;
        const char* message;
    } cases[] = {
        // Missing leading bytes: listed with the warning (the first entry's
        // header is gone with them).
        {"cut.zip", cut.bytes, S_FALSE, "Missing 40 bytes in archive (try to process anyway)."},
        {"zero-offset.zip", zeroOffset.bytes, S_FALSE, "Archive is damaged: "},
        {"later.zip", later.bytes, E_FAIL, "is a multi-part archive. Disk #3 was inserted, but the last disk is required!"},
        {"bomb.zip", bomb.bytes, E_FAIL, "File in archive #2 is damaged."},
        {"empty.zip", BuildZip({}).bytes, S_FALSE, "Warning: archive is empty."},
        {"junk.zip", std::string(3000, 'j'), E_FAIL, "File cannot be opened: It does not seam to be a valid "},
    };
    for (const auto& c : cases) {
        const std::string path = scratch / c.file;
        WriteWholeFile(path, c.bytes);
        Opened zip;
        ASSERT_TRUE(Open(path, &zip)) << c.file;
        EXPECT_EQ(zip.object->List(nullptr), c.list) << c.file;
        EXPECT_NE(zip.Log().find(c.message), std::string::npos) << c.file << ": " << zip.Log();
        if (c.list == S_FALSE && std::string(c.file) != "empty.zip") {
            EXPECT_EQ(zip.object->GetEntryCount(), std::string(c.file) == "cut.zip" ? 2u : 1u) << c.file;
        }
    }

    const std::string path = scratch / "truncated.zip";
    WriteWholeFile(path, truncated.bytes);
    Opened zip;
    ASSERT_TRUE(Open(path, &zip));
    char comment[64];
    EXPECT_EQ(zip.object->GetComment(nullptr, comment, sizeof comment), S_FALSE);
    EXPECT_STREQ(comment, "0123456789");
    EXPECT_NE(zip.Log().find("Warning: Comment truncated (missing 5 bytes)."), std::string::npos) << zip.Log();
    BOOL flag = FALSE;
    EXPECT_EQ(zip.object->Check(nullptr, &flag), S_OK);
    EXPECT_TRUE(flag);
}

// A program file is a self-extracting ZIP only when ZIP data follows it.
TEST(ZipFormat, SelfExtractingCheck) {
    ScratchFolder scratch;
    const std::string stub = "MZ" + std::string(2000, '\x90');
    Fixture sfx = BuildZip({{"setup.ini", "[x]"}}, {stub, false});
    WriteWholeFile(scratch / "good.exe", sfx.bytes);
    WriteWholeFile(scratch / "plain.exe", stub);
    Opened good;
    ASSERT_TRUE(Open(scratch / "good.exe", &good));
    EXPECT_EQ(good.object->List(nullptr), S_OK);  // the prefix is a warning level without text
    ASSERT_EQ(good.object->GetEntryCount(), 1u);
    EXPECT_STREQ(good.object->GetEntries()[0].name, "setup.ini");
    Opened plain;
    EXPECT_FALSE(Open(scratch / "plain.exe", &plain));
    EXPECT_TRUE(plain.log.empty());
}

// ZIP64 samples of several writers list with the sizes of the manifest.
TEST(ZipFormat, CorpusZip64AndAes) {
    TESSERA_REQUIRE_CORPUS();
    unsigned zip64Samples = 0;
    for (const CorpusSample& sample : CorpusSamplesOf("zip")) {
        if (sample.file.find("zip64") == std::string::npos) continue;
        SCOPED_TRACE(sample.file);
        ++zip64Samples;
        Opened zip64;
        ASSERT_TRUE(Open(CorpusPath(sample.file), &zip64));
        EXPECT_EQ(zip64.object->List(nullptr), S_OK) << zip64.Log();
        ASSERT_EQ(zip64.object->GetEntryCount(), sample.entries.size());
        std::multiset<uint64_t> listed, expected;
        for (size_t i = 0; i < sample.entries.size(); ++i) {
            listed.insert(zip64.object->GetEntries()[i].size);
            expected.insert(sample.entries[i].size);
        }
        EXPECT_EQ(listed, expected);
    }
    EXPECT_GE(zip64Samples, 5u);
    Opened aes;
    ASSERT_TRUE(Open(CorpusPath("zip/unsupported_winzip_aes.zip"), &aes));
    EXPECT_EQ(aes.object->List(nullptr), S_OK) << aes.Log();
    ASSERT_EQ(aes.object->GetEntryCount(), 2u);
    EXPECT_EQ(Text(aes.object, TEXT_METHOD, aes.object->GetEntries()[0].method), "Method 99");
}

}  // namespace
}  // namespace tessera::testing
