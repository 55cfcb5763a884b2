// tescore.dll from the outside: the format registry, the factory and the
// exported names, as a program linking the library sees them.
#include "tescore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corpus.h"
#include "engine_session.h"
#include "test_files.h"

namespace {

TEST(Registry, CountAndRows) {
    EXPECT_EQ(ArcGetFormatCount(), 15u);
    FORMATINFO info;
    memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(ArcGetFormatAt(15, &info), E_INVALIDARG);
    EXPECT_EQ(info.capabilities, 0xABABABABu);  // untouched
    ASSERT_EQ(ArcGetFormatAt(7, &info), S_OK);
    EXPECT_EQ(info.formatId, 7u);
    EXPECT_STREQ(info.extension, ".exe");
    EXPECT_EQ(info.variant, 0x101u);
    char description[64] = "";
    LoadStringA(GetModuleHandleA("tescore.dll"), info.descriptionId, description, sizeof description);
    EXPECT_STREQ(description, "Self-extracting RAR files");
    DWORD previousVariant = 0x101;
    for (UINT id = 0; id < 15; ++id) {
        ASSERT_EQ(ArcGetFormatAt(id, &info), S_OK);
        EXPECT_EQ(info.formatId, id);
        // A self-extracting row follows its plain format.
        if (info.variant) {
            EXPECT_EQ(previousVariant, 0u) << id;
        }
        previousVariant = info.variant;
    }
}

TEST(Registry, LookupByExtension) {
    struct Case {
        const char* path;
        HRESULT result;
        UINT id;
    } cases[] = {
        {"BACKUP.ZIP", S_OK, 0},
        {"setup.EXE", S_OK, 1},
        {"a.tar.gz", S_OK, 9},
        {"a.Z", S_OK, 11},
        {"C:\\x\\y.tgz", S_OK, 10},
        {"b.TAZ", S_OK, 12},
        {"c.arj", S_OK, 13},
        {"dir.old\\archive", E_FAIL, 0},
        {"dir.old/archive", E_FAIL, 0},
        {"my.zip file", E_FAIL, 0},
        {"noextension", E_FAIL, 0},
        {"a.zip.", E_FAIL, 0},
    };
    for (const Case& c : cases) {
        FORMATINFO info;
        UINT id = 99;
        EXPECT_EQ(ArcGetFormatOf(c.path, &info, &id), c.result) << c.path;
        if (c.result == S_OK) {
            EXPECT_EQ(id, c.id) << c.path;
            EXPECT_EQ(info.formatId, c.id) << c.path;
            EXPECT_EQ(ArcGetFormatOf(c.path, &info, nullptr), S_OK);
        } else {
            EXPECT_EQ(id, 99u) << c.path;
        }
    }
}

// Vtable pointer of an object: which format class the factory chose.
const void* ClassOf(ICompressFormat* object) { return *reinterpret_cast<void* const*>(object); }

struct ShiftAnswer {
    ARCPROMPTHANDLER handler = {};
    bool shift = false;
    ShiftAnswer() {
        handler.context = this;
        handler.IsShiftDown = Shift;
        ArcSetPromptHandler(&handler);
    }
    ~ShiftAnswer() { ArcSetPromptHandler(nullptr); }
    static BOOL CALLBACK Shift(void* context) { return static_cast<ShiftAnswer*>(context)->shift; }
};

TEST(Factory, ShiftOpensTgzAsGzip) {
    ShiftAnswer keys;
    ICompressFormat* gz = nullptr;
    ICompressFormat* tgz = nullptr;
    ICompressFormat* tgzShift = nullptr;
    ICompressFormat* tazShift = nullptr;
    ASSERT_EQ(ArcCreateObject(nullptr, "a.gz", &gz), S_OK);
    ASSERT_EQ(ArcCreateObject(nullptr, "a.tgz", &tgz), S_OK);
    keys.shift = true;
    ASSERT_EQ(ArcCreateObject(nullptr, "a.tgz", &tgzShift), S_OK);
    ASSERT_EQ(ArcCreateObject(nullptr, "a.taz", &tazShift), S_OK);
    EXPECT_NE(ClassOf(tgz), ClassOf(gz));
    EXPECT_EQ(ClassOf(tgzShift), ClassOf(gz));
    EXPECT_EQ(ClassOf(tazShift), ClassOf(gz));
    // The object keeps the row of its path either way.
    EXPECT_TRUE(tgzShift->HasCapability(0xC0));
    EXPECT_STREQ(tgzShift->GetArchivePath(), "a.tgz");
    EXPECT_EQ(tgzShift->GetOption(), 0u);
    for (ICompressFormat* object : {gz, tgz, tgzShift, tazShift}) EXPECT_EQ(object->Release(), 0u);
}

TEST(Factory, ObjectsAndFailures) {
    ICompressFormat* object = reinterpret_cast<ICompressFormat*>(1);
    EXPECT_EQ(ArcCreateObject(nullptr, "nothing.txt", &object), E_FAIL);
    EXPECT_EQ(object, reinterpret_cast<ICompressFormat*>(1));  // untouched
    // An .exe that holds no ZIP archive fails the check and leaves nothing.
    object = nullptr;
    EXPECT_EQ(ArcCreateObject(nullptr, "C:\\no\\such\\setup.exe", &object), E_FAIL);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(ArcCreateObject(nullptr, "C:\\x\\a.zip", &object), S_OK);
    void* same = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_ICompressFormat, &same), S_OK);
    EXPECT_EQ(same, object);
    object->Release();
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IArchiveFolder, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(object->GetPlainExtension(), nullptr);
    EXPECT_EQ(object->Release(), 0u);
}

// A self-extracting program of any format, and a file whose name no format
// claims, open by their content: the object lists what the archive under
// its own name lists.
TEST(Factory, ProgramsAndUnnamedFilesOpenByContent) {
    TESSERA_REQUIRE_CORPUS();
    const char* samples[] = {"zip/comment_entry_comment.zip",   "ace/ace10_lz77_archive_and_file_comment.ace",
                             "cab/mszip_gcab.cab",              "rar/rar15_packed_3files.rar",
                             "arj/arj_method1.arj",             "tar/gnu_longname.tar",
                             "gz/gzip113_fname.gz"};
    tessera::testing::ScratchFolder scratch;
    for (const char* sample : samples) {
        SCOPED_TRACE(sample);
        const std::vector<uint8_t> bytes = tessera::testing::ReadWholeFile(tessera::testing::CorpusPath(sample));
        tessera::testing::OpenedArchive named(tessera::testing::CorpusPath(sample));
        ASSERT_EQ(named.created, S_OK);
        ASSERT_TRUE(SUCCEEDED(named.List()));
        const std::string stem = std::string(std::strrchr(sample, '/') + 1);
        const bool selfExtracting = stem.find(".tar") == std::string::npos && stem.find(".gz") == std::string::npos;
        // TAR and gzip have no self-extracting programs; every format goes
        // without a name it is known by.
        std::vector<std::string> copies = {scratch / (stem + ".data")};
        if (selfExtracting) copies.push_back(scratch / (stem + ".exe"));
        for (const std::string& copy : copies) {
            tessera::testing::WriteWholeFile(copy, bytes.data(), bytes.size());
            tessera::testing::OpenedArchive probed(copy);
            ASSERT_EQ(probed.created, S_OK) << copy;
            EXPECT_TRUE(SUCCEEDED(probed.List())) << copy << probed.log;
            EXPECT_EQ(probed.Names(), named.Names()) << copy;
        }
    }
    // Neither a program nor a file of another kind that holds no archive.
    const std::string junk(4096, 'j');
    for (const char* name : {"junk.exe", "junk.data"}) {
        tessera::testing::WriteWholeFile(scratch / name, junk.data(), junk.size());
        ICompressFormat* object = nullptr;
        EXPECT_EQ(ArcCreateObject(nullptr, (scratch / name).c_str(), &object), E_FAIL) << name;
        EXPECT_EQ(object, nullptr);
    }
}

TEST(Exports, PlainNames) {
    HMODULE engine = GetModuleHandleA("tescore.dll");
    ASSERT_NE(engine, nullptr);
    for (const char* name : {"ArcCreateObject", "ArcGetFormatCount", "ArcGetFormatAt", "ArcGetFormatOf",
                             "GetSectionKey", "GetProfileInt", "GetProfileString", "GetProfileBinary",
                             "PutProfileInt", "PutProfileString", "PutProfileBinary", "ShowRenameDialog",
                             "FormatFileSize", "FormatFileTime", "CenterDialog", "ArcSetPromptHandler",
                             "ArcSetThreadPromptHandler"}) {
        EXPECT_NE(GetProcAddress(engine, name), nullptr) << name;
    }
}

}  // namespace
