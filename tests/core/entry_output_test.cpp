// Where and whether an entry is written on extraction: overwrite modes and
// every answer of the overwrite prompt, only-newer extraction, extraction
// without folder names, and a caller's own output path.
#include "fake_format.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tessera::testing::FileExists;
using tessera::testing::ReadWholeFile;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

std::string Text(const std::string& path) {
    std::vector<uint8_t> data = ReadWholeFile(path);
    return std::string(data.begin(), data.end());
}

void SetWriteTime(const std::string& path, FILETIME local) {
    FILETIME utc;
    LocalFileTimeToFileTime(&local, &utc);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &utc);
    CloseHandle(file);
}

struct Extraction {
    ScratchFolder folder;
    FakeFormat* object;
    LogLines log;
    ScriptedPrompts prompts;
    Extraction(std::vector<FakeEntry> entries) {
        object = new FakeFormat;
        object->AddRef();
        object->listing = std::move(entries);
        object->SetPromptHandler(&prompts.handler);
        log.Attach(object);
        EXPECT_EQ(object->List(nullptr), S_OK);
    }
    ~Extraction() { object->Release(); }
    std::string At(const std::string& name) { return folder / name; }
    // An existing target with the given content and time.
    void Existing(const std::string& name, FILETIME time) {
        std::string path = At(name);
        CreateDirectoryA(path.substr(0, path.rfind('\\')).c_str(), nullptr);
        WriteWholeFile(path, "old");
        SetWriteTime(path, time);
    }
    HRESULT Run(int mode, BOOL usePaths = TRUE, BOOL onlyNewer = FALSE, SELHDRSTRUCT* sel = nullptr, DWORD count = 0) {
        return object->Extract(nullptr, mode, usePaths, onlyNewer, folder.Path().c_str(), sel, count);
    }
};

const FILETIME kEntryTime = LocalTime(2020, 1, 1);

TEST(EntryOutput, OverwriteModesAndAnswers) {
    struct Case {
        const char* what;
        int mode;
        std::vector<int> answers;
        bool firstWritten, secondWritten;
        int prompts;
        int modeAfter;
        bool cancelled;
    } cases[] = {
        {"overwrite all", OVERWRITE_ALL, {}, true, true, 0, OVERWRITE_ALL, false},
        {"never", OVERWRITE_NEVER, {}, false, false, 0, OVERWRITE_NEVER, false},
        {"other value", 7, {}, true, true, 0, 7, false},
        {"yes, no", OVERWRITE_ASK, {OVERWRITE_RESULT_YES, OVERWRITE_RESULT_NO}, true, false, 2, OVERWRITE_ASK, false},
        {"yes to all", OVERWRITE_ASK, {OVERWRITE_RESULT_YESTOALL}, true, true, 1, OVERWRITE_ALL, false},
        {"no, yes", OVERWRITE_ASK, {OVERWRITE_RESULT_NO, OVERWRITE_RESULT_YES}, false, true, 2, OVERWRITE_ASK, false},
        {"no to all", OVERWRITE_ASK, {OVERWRITE_RESULT_NOTOALL}, false, false, 1, OVERWRITE_NEVER, false},
        {"cancel", OVERWRITE_ASK, {OVERWRITE_RESULT_CANCEL}, false, false, 1, OVERWRITE_ASK, true},
    };
    for (const Case& c : cases) {
        Extraction x({{"dir/f.txt", 4, FILE_ATTRIBUTE_ARCHIVE, kEntryTime}, {"dir/g.txt", 4, FILE_ATTRIBUTE_ARCHIVE, kEntryTime}});
        x.Existing("dir\\f.txt", LocalTime(2010, 1, 1));
        x.Existing("dir\\g.txt", LocalTime(2010, 1, 1));
        x.prompts.overwriteAnswers = c.answers;
        EXPECT_EQ(x.Run(c.mode), S_OK) << c.what;
        EXPECT_EQ(Text(x.At("dir\\f.txt")), c.firstWritten ? "data" : "old") << c.what;
        EXPECT_EQ(Text(x.At("dir\\g.txt")), c.secondWritten ? "data" : "old") << c.what;
        EXPECT_EQ(x.prompts.overwrites, c.prompts) << c.what;
        EXPECT_EQ(x.object->m_overwriteMode, c.modeAfter) << c.what;
        EXPECT_EQ(x.object->m_cancel, c.cancelled) << c.what;
        // Every target kept counts as skipped; a cancel is no skip.
        const DWORD kept = c.cancelled ? 0 : !c.firstWritten + !c.secondWritten;
        EXPECT_EQ(x.object->Outcome().skippedExisting, kept) << c.what;
        EXPECT_EQ(x.object->Outcome().skipped, kept) << c.what;
    }
}

TEST(EntryOutput, RenameWritesUnderTheChosenName) {
    Extraction x({{"f.txt", 4, FILE_ATTRIBUTE_ARCHIVE, kEntryTime}});
    x.Existing("f.txt", LocalTime(2010, 1, 1));
    WriteWholeFile(x.At("taken.txt"), "taken");
    // The first new name exists as well: the prompt comes again for it.
    x.prompts.overwriteAnswers = {OVERWRITE_RESULT_RENAME, OVERWRITE_RESULT_RENAME};
    struct Renamer {
        static int CALLBACK Answer(void* context, HWND, ARCOVERWRITEPROMPT* prompt) {
            auto* x = static_cast<Extraction*>(context);
            ++x->prompts.overwrites;
            std::string next = x->prompts.overwrites == 1 ? "taken.txt" : "free.txt";
            lstrcpyA(prompt->path, x->At(next).c_str());
            return OVERWRITE_RESULT_RENAME;
        }
    };
    x.prompts.handler.context = &x;
    x.prompts.handler.Overwrite = Renamer::Answer;
    EXPECT_EQ(x.Run(OVERWRITE_ASK), S_OK);
    EXPECT_EQ(x.prompts.overwrites, 2);
    EXPECT_EQ(Text(x.At("f.txt")), "old");
    EXPECT_EQ(Text(x.At("taken.txt")), "taken");
    EXPECT_EQ(Text(x.At("free.txt")), "data");
}

TEST(EntryOutput, OnlyNewerSkipsUpToDateTargets) {
    Extraction x({{"new.txt", 4, FILE_ATTRIBUTE_ARCHIVE, kEntryTime}, {"old.txt", 4, FILE_ATTRIBUTE_ARCHIVE, kEntryTime}});
    x.Existing("new.txt", LocalTime(2030, 1, 1));
    x.Existing("old.txt", LocalTime(2010, 1, 1));
    EXPECT_EQ(x.Run(OVERWRITE_ALL, TRUE, TRUE), S_OK);
    EXPECT_EQ(x.object->opSeen, static_cast<DWORD>(OP_UPDATE));
    EXPECT_EQ(Text(x.At("new.txt")), "old");
    EXPECT_EQ(Text(x.At("old.txt")), "data");
    EXPECT_TRUE(x.log.Contains("Skipping new.txt" + std::string(13, ' ') + " (target up-to-date)\n")) << x.log.All();
    EXPECT_EQ(x.prompts.overwrites, 0);
}

TEST(EntryOutput, SameTimeCountsAsUpToDate) {
    Extraction x({{"same.txt", 4, FILE_ATTRIBUTE_ARCHIVE, kEntryTime}});
    x.Existing("same.txt", kEntryTime);
    EXPECT_EQ(x.Run(OVERWRITE_ALL, TRUE, TRUE), S_OK);
    EXPECT_EQ(Text(x.At("same.txt")), "old");
}

TEST(EntryOutput, WithoutFolderNamesEverythingLandsInTheDestination) {
    Extraction x({{"a/", 0, FILE_ATTRIBUTE_DIRECTORY}, {"a/b/c.txt"}, {"d.txt"}});
    EXPECT_EQ(x.Run(OVERWRITE_ALL, FALSE), S_OK);
    EXPECT_EQ(Text(x.At("c.txt")), "data");
    EXPECT_EQ(Text(x.At("d.txt")), "data");
    EXPECT_FALSE(FileExists(x.At("a")));
    EXPECT_TRUE(x.log.Contains("Extracting c.txt\n"));
}

TEST(EntryOutput, WithFolderNamesFoldersAreCreated) {
    Extraction x({{"a/", 0, FILE_ATTRIBUTE_DIRECTORY}, {"a/b/c.txt"}, {"e/"}});
    x.object->listing[2].attributes = FILE_ATTRIBUTE_DIRECTORY;
    x.object->List(nullptr);
    EXPECT_EQ(x.Run(OVERWRITE_ALL, TRUE), S_OK);
    EXPECT_EQ(Text(x.At("a\\b\\c.txt")), "data");
    EXPECT_TRUE(GetFileAttributesA(x.At("e").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(x.log.Contains("Creating: " + x.At("a\\b") + "\n")) << x.log.All();
}

TEST(EntryOutput, SelectionDetailIsTheOutputPath) {
    Extraction x({{"a/b.txt"}, {"c.txt"}});
    ScratchFolder elsewhere;
    std::string target = elsewhere / "renamed.txt";
    SELHDRSTRUCT selection[] = {{0, 0, const_cast<char*>(target.c_str())}};
    EXPECT_EQ(x.Run(OVERWRITE_ALL, TRUE, FALSE, selection, 1), S_OK);
    EXPECT_EQ(Text(target), "data");
    EXPECT_FALSE(FileExists(x.At("a\\b.txt")));
    EXPECT_FALSE(FileExists(x.At("c.txt")));
    EXPECT_EQ(selection[0].found, 1u);
}

TEST(EntryOutput, TestModeWritesNothing) {
    Extraction x({{"a/b.txt"}});
    FakeFormat* o = x.object;
    o->m_op = OP_TEST;
    EXPECT_TRUE(o->BeginEntryOutput("a/b.txt", kEntryTime, 0x20, 4, nullptr));
    EXPECT_TRUE(x.log.Contains("Testing a\\b.txt\n"));
    EXPECT_FALSE(FileExists(x.At("a")));
}

}  // namespace

// Folders are looked at once per run of entries in the same folder; entries
// that jump between folders sharing a prefix, and a second extraction after
// the folders were removed, must still find every folder made.
TEST(EntryOutput, FoldersAreMadeWhateverTheOrderOfTheEntries) {
    Extraction x({{"a/b/1.txt"}, {"a/2.txt"}, {"ab/3.txt"}, {"a/b/c/4.txt"}, {"a/5.txt"}, {"a/b/6.txt"}});
    const char* const files[] = {"a\\b\\1.txt", "a\\2.txt", "ab\\3.txt", "a\\b\\c\\4.txt", "a\\5.txt", "a\\b\\6.txt"};
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first extraction" : "after the folders were removed");
        EXPECT_EQ(x.Run(OVERWRITE_ALL), S_OK) << x.log.All();
        for (const char* file : files) EXPECT_EQ(Text(x.At(file)), "data") << file;
        for (const char* file : files) DeleteFileA(x.At(file).c_str());
        for (const char* folder : {"a\\b\\c", "a\\b", "a", "ab"}) RemoveDirectoryA(x.At(folder).c_str());
        ASSERT_FALSE(FileExists(x.At("a")));
    }
}
