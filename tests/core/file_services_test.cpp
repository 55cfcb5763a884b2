// File services: replacing an archive (with and without backup, and when the
// replacement fails), creating archive and target files, copying with
// injected write faults, and preparing the destination folder.
#include "fake_format.h"

#include "core/file_io.h"
#include "tescore_testing.h"
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

struct Fixture : ::testing::Test {
    ScratchFolder folder;
    FakeFormat* object = nullptr;
    LogLines log;
    ScriptedPrompts prompts;
    void SetUp() override {
        object = new FakeFormat;
        object->AddRef();
        log.Attach(object);
        object->SetPromptHandler(&prompts.handler);
    }
    void TearDown() override { object->Release(); }
    std::string At(const std::string& name) { return folder / name; }
};

using ReplaceArchive = Fixture;

TEST_F(ReplaceArchive, BackupTakesTheOldArchive) {
    struct Case {
        const char* archive;
        const char* backup;
    } cases[] = {{"Data.zip", "Data.bak"}, {"Data", "Data.bak"}, {"my.data v2", "my.data v2.bak"}};
    for (const Case& c : cases) {
        WriteWholeFile(At(c.archive), "old");
        WriteWholeFile(At(c.backup), "older backup");
        WriteWholeFile(At("new.tmp"), "new");
        object->m_backup = TRUE;
        log.lines.clear();
        EXPECT_TRUE(object->ReplaceArchive(At(c.archive).c_str(), At("new.tmp").c_str())) << c.archive;
        EXPECT_EQ(Text(At(c.archive)), "new");
        EXPECT_EQ(Text(At(c.backup)), "old");
        EXPECT_FALSE(FileExists(At("new.tmp")));
        EXPECT_TRUE(log.Contains("Replacing old archive...")) << log.All();
        EXPECT_TRUE(log.Contains(std::string("Creating backup copy '") + c.backup + "'...")) << log.All();
    }
}

TEST_F(ReplaceArchive, WithoutBackupReplacesInOneStep) {
    WriteWholeFile(At("Data.zip"), "old");
    WriteWholeFile(At("new.tmp"), "new");
    object->m_backup = FALSE;
    EXPECT_TRUE(object->ReplaceArchive(At("Data.zip").c_str(), At("new.tmp").c_str()));
    EXPECT_EQ(Text(At("Data.zip")), "new");
    EXPECT_FALSE(FileExists(At("new.tmp")));
    EXPECT_FALSE(FileExists(At("Data.bak")));
}

// The replacement fails: nothing is lost, the temporary file is named in the
// message and still there. Without backup a folder stands in the archive's
// place; with backup a folder blocks the backup name.
TEST_F(ReplaceArchive, FailureKeepsBothFiles) {
    const std::string giveUp = "Error replacing the old archive with a temporary file.\nPlease try to do this step "
                               "manually! Temporary file: ";
    {
        std::string archive = At("Dir.zip");
        CreateDirectoryA(archive.c_str(), nullptr);
        WriteWholeFile(archive + "\\inside", "old");
        WriteWholeFile(At("new.tmp"), "new");
        object->m_backup = FALSE;
        EXPECT_FALSE(object->ReplaceArchive(archive.c_str(), At("new.tmp").c_str()));
        EXPECT_EQ(Text(At("new.tmp")), "new");
        EXPECT_EQ(Text(archive + "\\inside"), "old");
        EXPECT_TRUE(log.Contains("Archive cannot be deleted: ")) << log.All();
        EXPECT_TRUE(log.Contains(giveUp + At("new.tmp") + ".")) << log.All();
    }
    {
        log.lines.clear();
        WriteWholeFile(At("Data.zip"), "old");
        CreateDirectoryA(At("Data.bak").c_str(), nullptr);
        WriteWholeFile(At("Data.bak\\inside"), "x");
        object->m_backup = TRUE;
        EXPECT_FALSE(object->ReplaceArchive(At("Data.zip").c_str(), At("new.tmp").c_str()));
        EXPECT_EQ(Text(At("Data.zip")), "old");
        EXPECT_EQ(Text(At("new.tmp")), "new");
        EXPECT_TRUE(log.Contains(At("Data.bak") + " cannot be deleted: ")) << log.All();
        EXPECT_TRUE(log.Contains(giveUp + At("new.tmp") + ".")) << log.All();
    }
}

TEST_F(ReplaceArchive, MissingOldArchiveIsNoObstacle) {
    WriteWholeFile(At("new.tmp"), "new");
    object->m_backup = TRUE;
    EXPECT_TRUE(object->ReplaceArchive(At("Fresh.zip").c_str(), At("new.tmp").c_str()));
    EXPECT_EQ(Text(At("Fresh.zip")), "new");
}

using ArchiveFiles = Fixture;

TEST_F(ArchiveFiles, CreateAsksBeforeReplacing) {
    WriteWholeFile(At("out.exe"), "old");
    object->m_owner = reinterpret_cast<HWND>(0x10);  // questions need an owner; the handler answers
    prompts.boxAnswer = IDNO;
    EXPECT_EQ(object->CreateArchiveFile(At("out.exe").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(object->m_cancel);
    EXPECT_EQ(Text(At("out.exe")), "old");
    ASSERT_EQ(prompts.boxTexts.size(), 1u);
    EXPECT_EQ(prompts.boxTexts[0], At("out.exe") + "\n\nThis file already exists. Do you want to overwrite it?");
    prompts.boxAnswer = IDYES;
    HANDLE file = object->CreateArchiveFile(At("out.exe").c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(Text(At("out.exe")), "");
}

TEST_F(ArchiveFiles, OpenFailureIsReported) {
    object->SetArchivePath(At("absent.zip").c_str());
    EXPECT_FALSE(object->OpenArchiveFileForTest());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("Archive cannot be opened: ", 0), 0u) << log.lines[0];
}

// Copies a file with CopyData while the Nth write fails.
struct CopyRun {
    bool result;
    std::string copied;
};
CopyRun CopyWithFault(Fixture& f, DWORD nth, DWORD error) {
    std::string data(100000, 'x');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    WriteWholeFile(f.At("from"), data);
    HANDLE from = CreateFileA(f.At("from").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE to = CreateFileA(f.At("to").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetWriteFault(nth, error);
    CopyRun run;
    run.result = f.object->CopyData(from, to, static_cast<DWORD>(data.size()), 'C');
    SetWriteFault(0);
    CloseHandle(from);
    CloseHandle(to);
    run.copied = Text(f.At("to"));
    EXPECT_TRUE(!run.result || run.copied == data);
    return run;
}

using CopyData = Fixture;

TEST_F(CopyData, DiskFullRetryThenCancel) {
    object->m_owner = reinterpret_cast<HWND>(0x10);
    prompts.boxAnswer = IDRETRY;
    CopyRun retried = CopyWithFault(*this, 2, ERROR_DISK_FULL);
    EXPECT_TRUE(retried.result);
    ASSERT_EQ(prompts.boxTexts.size(), 1u);
    EXPECT_EQ(prompts.boxTexts[0], "There is not enough disk space on C:\\.\n\nClick 'Retry' to repeat the write process.");

    prompts.boxAnswer = IDCANCEL;
    object->m_cancel = false;
    EXPECT_FALSE(CopyWithFault(*this, 3, ERROR_DISK_FULL).result);
    EXPECT_TRUE(object->m_cancel);

    object->m_cancel = false;
    log.lines.clear();
    EXPECT_FALSE(CopyWithFault(*this, 1, ERROR_ACCESS_DENIED).result);
    EXPECT_FALSE(object->m_cancel);
    EXPECT_TRUE(log.Contains("Error writing a temporary file: ")) << log.All();
}

TEST_F(CopyData, WithoutOwnerDiskFullEnds) {
    // No owner: the question answers IDOK, which is not Retry.
    EXPECT_FALSE(CopyWithFault(*this, 1, ERROR_DISK_FULL).result);
    EXPECT_EQ(prompts.boxes, 0);
    EXPECT_TRUE(object->m_cancel);
}

// A standing fault is armed by every operation as it starts: here the first
// write of an extraction fails with "access denied".
TEST_F(CopyData, StandingFaultArmedByTheOperation) {
    object->listing = {{"a.txt"}, {"b.txt"}};
    ASSERT_EQ(object->List(nullptr), S_OK);
    ASSERT_EQ(ArcTestingSetFileFault(ARC_FAULT_WRITE, 1, ERROR_ACCESS_DENIED), S_OK);
    HRESULT hr = object->Extract(nullptr, OVERWRITE_ALL, TRUE, FALSE, folder.Path().c_str(), nullptr, 0);
    ArcTestingSetFileFault(ARC_FAULT_WRITE, 0, 0);
    EXPECT_EQ(ArcTestingSetFileFault(2, 1, 0), E_INVALIDARG);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(log.Contains("File cannot be written: ")) << log.All();
    EXPECT_EQ(Text(At("a.txt")), "");
    EXPECT_EQ(Text(At("b.txt")), "data");
}

using Destination = Fixture;

TEST_F(Destination, CreatesEveryLevel) {
    std::string target = At("one\\two\\three");
    EXPECT_TRUE(object->PrepareDestination(target.c_str()));
    EXPECT_EQ(std::string(object->m_destination), target + "\\");
    EXPECT_TRUE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(log.Contains("Creating: " + At("one") + "\n"));
    EXPECT_TRUE(log.Contains("Creating: " + target + "\n"));
    log.lines.clear();
    EXPECT_TRUE(object->PrepareDestination((target + "\\").c_str()));
    EXPECT_TRUE(log.lines.empty());  // nothing new to create
    WriteWholeFile(At("file"), "x");
    EXPECT_FALSE(object->PrepareDestination(At("file\\sub").c_str()));
}

// Windows takes "/" as a separator too: "C:/out", "/out" (rooted on the
// current drive) and "//server/share" forms must not make the root itself a
// folder to create.
TEST_F(Destination, ForwardSlashesAndRootedPaths) {
    std::string slashed = At("fwd") + "/one/two";
    EXPECT_TRUE(object->PrepareDestination(slashed.c_str())) << log.All();
    EXPECT_TRUE(GetFileAttributesA(At("fwd\\one\\two").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    char drive[MAX_PATH];
    ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, drive));
    ASSERT_TRUE(SetCurrentDirectoryA(At("").substr(0, 3).c_str()));
    std::string rooted = At("rooted/sub").substr(2);  // "\\...\\rooted/sub", no drive
    for (char& c : rooted) if (c == '\\') c = '/';
    EXPECT_TRUE(object->PrepareDestination(rooted.c_str())) << log.All();
    SetCurrentDirectoryA(drive);
    EXPECT_TRUE(GetFileAttributesA(At("rooted\\sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

using TargetFiles = Fixture;

TEST_F(TargetFiles, ReplaceReadOnlyAndSetTimeAndAttributes) {
    WriteWholeFile(At("t.txt"), "old");
    SetFileAttributesA(At("t.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    lstrcpyA(object->m_outputPath, At("t.txt").c_str());
    EXPECT_EQ(object->CreateTargetFile(), S_OK);
    ASSERT_TRUE(object->WriteOutput("new", 3));
    FakeEntry entry;
    FILETIME when = LocalTime(2001, 2, 3, 4);
    object->BeginEntryTimeForTest(when, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    object->FinishTargetFile();
    EXPECT_EQ(object->m_outputFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Text(At("t.txt")), "new");
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(At("t.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    FILETIME utc;
    LocalFileTimeToFileTime(&when, &utc);
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &utc), 0);
    SetFileAttributesA(At("t.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    CreateDirectoryA(At("dir").c_str(), nullptr);
    lstrcpyA(object->m_outputPath, At("dir").c_str());
    EXPECT_EQ(object->CreateTargetFile(), S_FALSE);
}

}  // namespace
