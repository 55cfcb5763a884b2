// The ZIP writing hooks through tescore.dll: the decisions of the update
// (nothing to do, duplicate names, the store-only list, empty files and
// folders, backups) and its failure paths. Every failure, at whatever step it
// happens, must leave the old archive byte for byte as it was and no
// temporary file behind; the only exception is a replace that fails, which
// keeps the finished temporary file and names it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "add_file_list.h"
#include "corpus.h"
#include "engine_session.h"
#include "tescore.h"
#include "test_files.h"

namespace tessera::testing {
namespace {

struct Session {
    ICompressFormat* object = nullptr;
    std::vector<std::string> log;
    int cancelAtLine = 0;  // calls Cancel when this log line arrives (0: never)
    int lines = 0;
    ~Session() {
        if (object) object->Release();
    }
    std::string Log() const {
        std::string all;
        for (const std::string& line : log) all += line;
        return all;
    }
    bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
};

void CALLBACK Collect(ICompressFormat* object, LPARAM user, LPCSTR text) {
    Session* session = reinterpret_cast<Session*>(user);
    session->log.push_back(text);
    if (session->cancelAtLine && ++session->lines == session->cancelAtLine) object->Cancel();
}

bool Open(const std::string& path, Session* session) {
    if (FAILED(ArcCreateObject(nullptr, path.c_str(), &session->object))) return false;
    session->object->SetMessageCallback(Collect, reinterpret_cast<LPARAM>(session));
    return true;
}

// The next operation's injected file faults ("0" disarms).
void ArmFaults(const char* write, const char* read) {
    tessera::testing::SetEngineFileFault(ARC_FAULT_WRITE, write);
    tessera::testing::SetEngineFileFault(ARC_FAULT_READ, read);
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

struct AddArgs {
    UINT level = 2;
    BOOL update = FALSE;
    BOOL freshen = FALSE;
    BOOL relativePaths = TRUE;
    BOOL backup = FALSE;
    BOOL move = FALSE;
    BOOL newestTime = FALSE;
    std::string storeOnly;
    std::string tempFolder;  // default: the archive's folder
};


HRESULT Add(Session* session, const std::string& archive, const std::vector<std::string>& paths,
            const AddArgs& args = AddArgs()) {
    std::vector<BYTE> list = BuildAddFileList(paths);
    const std::string temp = args.tempFolder.empty() ? FolderOf(archive) : args.tempFolder;
    return session->object->Add(nullptr, args.move, FALSE, args.backup, args.level, args.update, args.freshen, FALSE,
                                args.relativePaths, FALSE, 0, args.newestTime, args.storeOnly.c_str(), temp.c_str(),
                                reinterpret_cast<const ADDFILEINFO*>(list.data()));
}

HRESULT AddTo(const std::string& archive, const std::vector<std::string>& paths, const AddArgs& args = AddArgs(),
              std::string* log = nullptr) {
    Session session;
    if (!Open(archive, &session)) return E_FAIL;
    HRESULT hr = Add(&session, archive, paths, args);
    if (log) *log = session.Log();
    return hr;
}

// Names in a folder, "." and ".." left out.
std::vector<std::string> FolderContents(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..")) names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

bool HasTemporaryFile(const std::string& folder) {
    for (const std::string& name : FolderContents(folder))
        if (_strnicmp(name.c_str(), "tsr", 3) == 0) return true;
    return false;
}

struct Listed {
    std::string name;
    DWORD method, size, packed, attributes;
};

std::vector<Listed> ListArchive(const std::string& archive) {
    std::vector<Listed> entries;
    Session session;
    if (!Open(archive, &session) || FAILED(session.object->List(nullptr))) return entries;
    const HDRSTRUCT* e = session.object->GetEntries();
    for (DWORD i = 0; i < session.object->GetEntryCount(); ++i)
        entries.push_back({e[i].name, e[i].method & 0xFFFF, e[i].size, e[i].packedSize, e[i].attributes});
    return entries;
}

const Listed* Find(const std::vector<Listed>& entries, const std::string& name) {
    for (const Listed& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

// The archive's directory reads back cleanly (the data itself is checked by
// the peers in peers.sh).
HRESULT ListCleanly(const std::string& archive, std::string* log) {
    Session session;
    if (!Open(archive, &session)) return E_FAIL;
    HRESULT hr = session.object->List(nullptr);
    *log = session.Log();
    return hr;
}

FILETIME SecondsFrom(const FILETIME& start, int seconds) {
    ULARGE_INTEGER t;
    t.LowPart = start.dwLowDateTime;
    t.HighPart = start.dwHighDateTime;
    t.QuadPart += static_cast<LONGLONG>(seconds) * 10000000LL;
    return {t.LowPart, t.HighPart};
}

void SetWriteTimeTo(const std::string& path, const FILETIME& when) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &when);
    CloseHandle(file);
}

void SetWriteTime(const std::string& path, int secondsFromNow) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetWriteTimeTo(path, SecondsFrom(now, secondsFromNow));
}

// A folder with sources and an archive made from some of them.
struct Workspace {
    ScratchFolder scratch;
    std::string src, archive;
    Workspace() {
        src = scratch / "src";
        CreateDirectoryA(src.c_str(), nullptr);
        CreateDirectoryA((src + "\\sub").c_str(), nullptr);
        std::string text;
        for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 89) + " of some text\n";
        WriteWholeFile(src + "\\text.txt", text);
        WriteWholeFile(src + "\\sub\\more.txt", text.substr(1000));
        std::string noise;
        uint32_t x = 12345;
        for (int i = 0; i < 200000; ++i) {
            x = x * 1103515245u + 12345u;
            noise.push_back(static_cast<char>(x >> 24));
        }
        WriteWholeFile(src + "\\noise.bin", noise);
        archive = scratch / "data.zip";
    }
    std::string Src(const std::string& name) const { return src + "\\" + name; }
    // The folder and everything in it, as a program lists it for adding.
    std::vector<std::string> Tree() const {
        return {src, Src("text.txt"), Src("noise.bin"), Src("sub"), Src("sub\\more.txt")};
    }
};

TEST(ZipUpdate, NothingToDoLeavesTheArchiveByteIdentical) {
    Workspace w;
    ArmFaults("0", "0");
    ASSERT_EQ(AddTo(w.archive, w.Tree()), S_OK);
    const std::vector<uint8_t> before = ReadWholeFile(w.archive);
    for (BOOL freshen : {FALSE, TRUE}) {
        AddArgs args;
        args.update = !freshen;
        args.freshen = freshen;
        std::string log;
        EXPECT_EQ(AddTo(w.archive, w.Tree(), args, &log), E_FAIL);
        EXPECT_NE(log.find("Nothing to do! Maybe the archive is up-to-date."), std::string::npos) << log;
        EXPECT_EQ(ReadWholeFile(w.archive), before);
        EXPECT_FALSE(HasTemporaryFile(w.scratch.Path()));
    }
    // A newer file is taken.
    SetWriteTime(w.Src("text.txt"), 3600);
    AddArgs update;
    update.update = TRUE;
    std::string log;
    EXPECT_EQ(AddTo(w.archive, w.Tree(), update, &log), S_OK) << log;
    EXPECT_NE(log.find("Updating src\\text.txt"), std::string::npos) << log;
    EXPECT_NE(log.find("Copying src\\noise.bin"), std::string::npos) << log;
}

TEST(ZipUpdate, NamesDifferingOnlyInCaseAreRefused) {
    Workspace w;
    ArmFaults("0", "0");
    CreateDirectoryA(w.Src("other").c_str(), nullptr);
    WriteWholeFile(w.Src("other\\TEXT.TXT"), "another file");
    AddArgs namesOnly;
    namesOnly.relativePaths = FALSE;
    // Into a new archive: nothing is written.
    std::string log;
    EXPECT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("other\\TEXT.TXT")}, namesOnly, &log), E_FAIL);
    EXPECT_NE(log.find("Name 'TEXT.TXT' in archive repeated. To prevent this error, save folder info!"),
              std::string::npos)
        << log;
    EXPECT_FALSE(FileExists(w.archive));
    // Into an existing one: unchanged. The same file named twice is no clash.
    ASSERT_EQ(AddTo(w.archive, {w.Src("noise.bin"), w.Src("noise.bin")}, namesOnly), S_OK);
    EXPECT_EQ(ListArchive(w.archive).size(), 1u);
    const std::vector<uint8_t> before = ReadWholeFile(w.archive);
    EXPECT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("other\\TEXT.TXT")}, namesOnly), E_FAIL);
    EXPECT_EQ(ReadWholeFile(w.archive), before);
    EXPECT_FALSE(HasTemporaryFile(w.scratch.Path()));
    // A name that an old entry has in another case replaces that entry.
    ASSERT_EQ(AddTo(w.archive, {w.Src("other\\TEXT.TXT")}, namesOnly), S_OK);
    ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt")}, namesOnly, &log), S_OK);
    EXPECT_NE(log.find("Updating TEXT.TXT"), std::string::npos) << log;
    std::vector<Listed> entries = ListArchive(w.archive);
    ASSERT_EQ(entries.size(), 2u);
    ASSERT_NE(Find(entries, "TEXT.TXT"), nullptr);
    EXPECT_EQ(Find(entries, "TEXT.TXT")->size, ReadWholeFile(w.Src("text.txt")).size());
}

TEST(ZipUpdate, StoreOnlyListAppliesExceptAtTheStrongestLevel) {
    struct Case {
        UINT level;
        const char* list;
        DWORD method;
    } cases[] = {
        {2, ".zip;.jpg", 0},  // Photo.JPG matches .jpg whatever the case
        {1, ".jpg", 0},
        {0, ".zip;.jpg", 8},  // "Maximum (slowest)" ignores the list
        {2, "", 8},
        {2, ";", 8},
        {2, ".png;.gif", 8},
    };
    for (const Case& c : cases) {
        Workspace w;
        ArmFaults("0", "0");
        std::string text;
        for (int i = 0; i < 500; ++i) text += "compressible ";
        WriteWholeFile(w.Src("Photo.JPG"), text);
        AddArgs args;
        args.level = c.level;
        args.storeOnly = c.list;
        ASSERT_EQ(AddTo(w.archive, {w.Src("Photo.JPG"), w.Src("text.txt")}, args), S_OK);
        std::vector<Listed> entries = ListArchive(w.archive);
        ASSERT_NE(Find(entries, "Photo.JPG"), nullptr);
        EXPECT_EQ(Find(entries, "Photo.JPG")->method, c.method) << "level " << c.level << " list " << c.list;
        EXPECT_EQ(Find(entries, "text.txt")->method, 8u);
    }
}

TEST(ZipUpdate, EmptyFilesAndFoldersAreStored) {
    Workspace w;
    ArmFaults("0", "0");
    CreateDirectoryA(w.Src("emptydir").c_str(), nullptr);
    WriteWholeFile(w.Src("empty.txt"), "");
    ASSERT_EQ(AddTo(w.archive, {w.src, w.Src("emptydir"), w.Src("empty.txt")}), S_OK);
    std::vector<Listed> entries = ListArchive(w.archive);
    for (const char* name : {"src/", "src/emptydir/", "src/empty.txt"}) {
        const Listed* e = Find(entries, name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(e->method, 0u) << name;
        EXPECT_EQ(e->size, 0u) << name;
        EXPECT_EQ(e->packed, 0u) << name;
    }
    EXPECT_TRUE(Find(entries, "src/emptydir/")->attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Files are compressed on as many threads as the setting allows, ahead of
// the writer; the archive must come out byte for byte the same whatever the
// count. The mix: many small files (workers run ahead), a file whose output
// is larger than what one file may queue (its worker waits for the writer),
// an empty file, a folder, a stored extension, and an update that replaces
// entries between copied ones.
TEST(ZipUpdate, AnyNumberOfThreadsWritesTheSameArchive) {
    Workspace w;
    ArmFaults("0", "0");
    std::vector<std::string> files = w.Tree();
    std::vector<std::string> small;
    for (int i = 0; i < 40; ++i) {
        small.push_back(w.Src("small" + std::to_string(i) + (i % 7 == 0 ? ".png" : ".txt")));
        std::string text;
        for (int line = 0; line < 20 + i * 37; ++line) text += "entry " + std::to_string(i * line % 101) + "\n";
        WriteWholeFile(small.back(), text);
    }
    files.insert(files.end(), small.begin(), small.end());
    std::string large;
    uint32_t x = 987654321u;
    for (int i = 0; i < 2 * 1024 * 1024; ++i) {
        x = x * 1664525u + 1013904223u;
        large.push_back(static_cast<char>(i % 3 ? x >> 24 : 'a'));
    }
    WriteWholeFile(w.Src("large.bin"), large);
    WriteWholeFile(w.Src("empty.txt"), "");
    files.push_back(w.Src("large.bin"));
    files.push_back(w.Src("empty.txt"));
    // Fixed times: every run must see the same files.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const FILETIME old = SecondsFrom(now, -86400), newer = SecondsFrom(now, -3600);
    for (const std::string& file : files) SetWriteTimeTo(file, old);

    AddArgs args;
    args.storeOnly = ".png";
    std::vector<uint8_t> first, firstUpdated;
    for (DWORD threads : {1u, 2u, 7u}) {
        SCOPED_TRACE(threads);
        ASSERT_TRUE(PutProfileInt("Settings", "CompressionThreads", threads));
        const std::string archive = w.scratch / ("threads" + std::to_string(threads) + ".zip");
        ASSERT_EQ(AddTo(archive, files, args), S_OK);
        const std::vector<uint8_t> made = ReadWholeFile(archive);
        // Every other small file is newer: the update copies and compresses by turns.
        for (size_t i = 0; i < small.size(); i += 2) SetWriteTimeTo(small[i], newer);
        AddArgs update = args;
        update.update = TRUE;
        ASSERT_EQ(AddTo(archive, files, update), S_OK);
        for (size_t i = 0; i < small.size(); i += 2) SetWriteTimeTo(small[i], old);
        const std::vector<uint8_t> updated = ReadWholeFile(archive);
        if (first.empty()) {
            first = made;
            firstUpdated = updated;
            EXPECT_EQ(ListArchive(archive).size(), files.size());
            EXPECT_NE(made, updated);
        } else {
            EXPECT_TRUE(made == first);
            EXPECT_TRUE(updated == firstUpdated);
        }
    }
    PutProfileInt("Settings", "CompressionThreads", 0);
}

TEST(ZipUpdate, BackupTakesTheExtensionsPlace) {
    for (const char* name : {"Data.zip", "Data"}) {
        Workspace w;
        ArmFaults("0", "0");
        const std::string archive = w.scratch / name;
        {
            Session session;
            ASSERT_TRUE(Open(w.scratch / "Data.zip", &session));
            session.object->SetArchivePath(archive.c_str());
            ASSERT_EQ(Add(&session, archive, {w.Src("text.txt")}), S_OK) << session.Log();
        }
        const std::vector<uint8_t> first = ReadWholeFile(archive);
        WriteWholeFile(w.scratch / "Data.bak", "an older backup");
        Session session;
        ASSERT_TRUE(Open(w.scratch / "Data.zip", &session));
        session.object->SetArchivePath(archive.c_str());
        AddArgs args;
        args.backup = TRUE;
        ASSERT_EQ(Add(&session, archive, {w.Src("noise.bin")}, args), S_OK) << session.Log();
        EXPECT_TRUE(session.Logged("Creating backup copy 'Data.bak'...")) << session.Log();
        EXPECT_EQ(ReadWholeFile(w.scratch / "Data.bak"), first) << name;
        std::vector<uint8_t> now = ReadWholeFile(archive);
        EXPECT_GT(now.size(), first.size());
    }
}

// Runs `operation` with the k-th write (or read, or log line: cancel) failing,
// for k = 1, 2, ... until the operation no longer fails. Each failure must
// leave the archive as it was and no temporary file; the first success ends
// the walk (so every step of the run has failed once).
enum class Fault { WriteDiskFull, WriteDenied, Read, Cancel };

template <typename Operation>
void FailEveryStep(const Workspace& w, Fault fault, Operation operation) {
    const std::vector<uint8_t> before = ReadWholeFile(w.archive);
    int failures = 0;
    for (int k = 1; k < 400; ++k) {
        char spec[32];
        wsprintfA(spec, fault == Fault::WriteDenied ? "%d,5" : "%d", k);
        ArmFaults(fault == Fault::WriteDiskFull || fault == Fault::WriteDenied ? spec : "0",
                  fault == Fault::Read ? spec : "0");
        Session session;
        ASSERT_TRUE(Open(w.archive, &session));
        if (fault == Fault::Cancel) session.cancelAtLine = k;
        const HRESULT hr = operation(&session);
        ArmFaults("0", "0");
        if (SUCCEEDED(hr)) {
            EXPECT_GT(failures, 0);
            std::string log;
            EXPECT_EQ(ListCleanly(w.archive, &log), S_OK) << log;
            return;
        }
        ++failures;
        if (fault == Fault::Cancel || fault == Fault::WriteDiskFull) {
            EXPECT_EQ(hr, E_ABORT) << "step " << k;
        }
        ASSERT_EQ(ReadWholeFile(w.archive), before) << "step " << k << "\n" << session.Log();
        ASSERT_FALSE(HasTemporaryFile(w.scratch.Path())) << "step " << k << "\n" << session.Log();
    }
    ADD_FAILURE() << "the operation never succeeded";
}

TEST(ZipUpdate, AFailureAtAnyStepLeavesTheArchiveUnchanged) {
    for (Fault fault : {Fault::WriteDiskFull, Fault::WriteDenied, Fault::Read, Fault::Cancel}) {
        Workspace w;
        ArmFaults("0", "0");
        // An archive behind a program prefix, so the prefix copy fails too.
        ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("noise.bin")}), S_OK);
        {
            Session session;
            ASSERT_TRUE(Open(w.archive, &session));
            std::string module(3000, 'M');
            ASSERT_EQ(session.object->MakeEXE(nullptr, w.scratch.Path().c_str(), (w.scratch / "prog.exe").c_str(),
                                              module.data(), static_cast<DWORD>(module.size())),
                      S_OK);
        }
        DeleteFileA(w.archive.c_str());
        MoveFileA((w.scratch / "prog.exe").c_str(), w.archive.c_str());
        SetWriteTime(w.Src("text.txt"), 3600);
        SCOPED_TRACE(static_cast<int>(fault));
        // Update: one entry replaced, one copied, one new file compressed.
        FailEveryStep(w, fault, [&](Session* session) {
            AddArgs args;
            args.update = TRUE;
            return Add(session, w.archive, {w.Src("text.txt"), w.Src("noise.bin"), w.Src("sub\\more.txt")}, args);
        });
        // Delete, and the comment.
        FailEveryStep(w, fault, [&](Session* session) {
            const int cancelAt = session->cancelAtLine;
            session->cancelAtLine = 0;  // the listing is not a step of the update
            if (FAILED(session->object->List(nullptr))) return E_FAIL;
            session->cancelAtLine = cancelAt;
            SELHDRSTRUCT selection = {0, 0, nullptr};
            return session->object->Delete(nullptr, FALSE, FALSE, w.scratch.Path().c_str(), &selection, 1);
        });
        FailEveryStep(w, fault, [&](Session* session) {
            return session->object->SetComment(nullptr, w.scratch.Path().c_str(), "a comment");
        });
    }
}

// The disk-full question goes to the prompt handler: Retry writes again and
// the update completes; Cancel ends it with the archive untouched.
int g_diskFullAnswer = IDCANCEL;
int g_diskFullQuestions = 0;
int CALLBACK AnswerDiskFull(void*, HWND, LPCSTR text, LPCSTR, UINT style) {
    if ((style & MB_TYPEMASK) != MB_RETRYCANCEL || !strstr(text, "There is not enough disk space on ")) return IDOK;
    ++g_diskFullQuestions;
    return g_diskFullAnswer;
}

TEST(ZipUpdate, DiskFullAsksRetryOrCancel) {
    for (int answer : {IDRETRY, IDCANCEL}) {
        Workspace w;
        ArmFaults("0", "0");
        ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt")}), S_OK);
        const std::vector<uint8_t> before = ReadWholeFile(w.archive);
        OwnerWindow owner;
        if (!owner.Handle()) {
            GTEST_SKIP() << "no window can be made here (no display)";
        }
        ARCPROMPTHANDLER answers = kQuietAnswers;
        answers.ShowMessage = AnswerDiskFull;
        const ARCPROMPTHANDLER* previous = ArcSetPromptHandler(&answers);
        g_diskFullAnswer = answer;
        g_diskFullQuestions = 0;
        ArmFaults("4", "0");
        Session session;
        ASSERT_TRUE(Open(w.archive, &session));
        std::vector<BYTE> list = BuildAddFileList({w.Src("noise.bin"), w.Src("sub\\more.txt")});
        const HRESULT hr = session.object->Add(owner.Handle(), FALSE, FALSE, FALSE, 2, FALSE, FALSE, FALSE, TRUE,
                                               FALSE, 0, FALSE, "", w.scratch.Path().c_str(),
                                               reinterpret_cast<const ADDFILEINFO*>(list.data()));
        ArmFaults("0", "0");
        ArcSetPromptHandler(previous);
        EXPECT_EQ(g_diskFullQuestions, 1);
        if (answer == IDRETRY) {
            EXPECT_EQ(hr, S_OK) << session.Log();
            EXPECT_EQ(ListArchive(w.archive).size(), 3u);
        } else {
            EXPECT_EQ(hr, E_ABORT) << session.Log();
            EXPECT_EQ(ReadWholeFile(w.archive), before);
        }
        EXPECT_FALSE(HasTemporaryFile(w.scratch.Path()));
    }
}

TEST(ZipUpdate, EncryptedUpdateFailsCleanlyToo) {
    Workspace w;
    ArmFaults("0", "0");
    ASSERT_EQ(AddTo(w.archive, {w.Src("noise.bin")}), S_OK);
    FailEveryStep(w, Fault::WriteDiskFull, [&](Session* session) {
        session->object->SetPassword("secret");
        return Add(session, w.archive, {w.Src("text.txt")});
    });
}

TEST(ZipUpdate, ADamagedArchiveIsNotRewritten) {
    Workspace w;
    ArmFaults("0", "0");
    ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("noise.bin")}), S_OK);
    std::vector<uint8_t> bytes = ReadWholeFile(w.archive);
    bytes[30] ^= 0x20;  // the first local name no longer matches its central one
    WriteWholeFile(w.archive, bytes.data(), bytes.size());
    std::string log;
    EXPECT_EQ(AddTo(w.archive, {w.Src("sub\\more.txt")}, AddArgs(), &log), E_FAIL);
    EXPECT_NE(log.find("Archive is damaged: "), std::string::npos) << log;
    EXPECT_EQ(ReadWholeFile(w.archive), bytes);
    EXPECT_FALSE(HasTemporaryFile(w.scratch.Path()));
}

// An archive of `count` empty stored entries, written field by field.
std::string EmptyEntries(unsigned count) {
    std::string local, central;
    // Little-endian fields; a zero run may be longer than 4 bytes.
    auto put = [](std::string* out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out->push_back(i < 4 ? static_cast<char>(value >> (8 * i)) : '\0');
    };
    for (unsigned i = 0; i < count; ++i) {
        char name[16];
        wsprintfA(name, "e%05u", i);
        const uint32_t offset = static_cast<uint32_t>(local.size());
        put(&local, 0x04034B50, 4);
        put(&local, 10, 2);
        put(&local, 0, 20);  // flags, method, time, date, CRC, sizes
        put(&local, 6, 2);
        put(&local, 0, 2);
        local += name;
        put(&central, 0x02014B50, 4);
        put(&central, 10, 2);
        put(&central, 10, 2);
        put(&central, 0, 20);
        put(&central, 6, 2);
        put(&central, 0, 12);  // extra, comment, disk, attributes
        put(&central, offset, 4);
        central += name;
    }
    std::string end;
    put(&end, 0x06054B50, 4);
    put(&end, 0, 4);
    put(&end, count, 2);
    put(&end, count, 2);
    put(&end, static_cast<uint32_t>(central.size()), 4);
    put(&end, static_cast<uint32_t>(local.size()), 4);
    put(&end, 0, 2);
    return local + central + end;
}

// An update that would need ZIP64 -- more than 65,535 entries, or an archive
// that already has ZIP64 records -- is refused with its message, and the
// archive stays as it was.
TEST(ZipUpdate, WhatWouldNeedZip64IsRefusedCleanly) {
    Workspace w;
    ArmFaults("0", "0");
    const std::string full = EmptyEntries(0xFFFF);
    WriteWholeFile(w.archive, full.data(), full.size());
    ASSERT_EQ(ListArchive(w.archive).size(), 0xFFFFu);
    std::string log;
    EXPECT_EQ(AddTo(w.archive, {w.Src("text.txt")}, AddArgs(), &log), E_FAIL);
    EXPECT_NE(log.find("Archive cannot be written: "), std::string::npos) << log;
    EXPECT_TRUE(ReadWholeFile(w.archive) == std::vector<uint8_t>(full.begin(), full.end()));
    EXPECT_FALSE(HasTemporaryFile(w.scratch.Path()));

    if (CorpusSamplesOf("zip").empty()) {
        GTEST_SKIP() << "sample corpus not found: the ZIP64 archive case is skipped";
    }
    const std::vector<uint8_t> zip64 = ReadWholeFile(CorpusPath("zip/zip64_forced_infozip.zip"));
    ASSERT_FALSE(zip64.empty());
    WriteWholeFile(w.archive, zip64.data(), zip64.size());
    log.clear();
    EXPECT_EQ(AddTo(w.archive, {w.Src("text.txt")}, AddArgs(), &log), E_FAIL);
    EXPECT_NE(log.find("requires PK v4.5, supported is v2.0"), std::string::npos) << log;
    EXPECT_EQ(ReadWholeFile(w.archive), zip64);
    EXPECT_FALSE(HasTemporaryFile(w.scratch.Path()));
}

TEST(ZipUpdate, TemporaryFolderThatCannotTakeAFile) {
    Workspace w;
    ArmFaults("0", "0");
    ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt")}), S_OK);
    const std::vector<uint8_t> before = ReadWholeFile(w.archive);
    AddArgs args;
    args.tempFolder = w.scratch / "no such folder";
    std::string log;
    EXPECT_EQ(AddTo(w.archive, {w.Src("noise.bin")}, args, &log), E_FAIL);
    EXPECT_NE(log.find("Temporary file cannot be created: "), std::string::npos) << log;
    EXPECT_EQ(ReadWholeFile(w.archive), before);
}

TEST(ZipUpdate, AFileThatCannotBeOpenedIsSkipped) {
    Workspace w;
    ArmFaults("0", "0");
    ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("noise.bin")}), S_OK);
    SetWriteTime(w.Src("text.txt"), 3600);
    HANDLE locked = CreateFileA(w.Src("text.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    AddArgs args;
    args.update = TRUE;
    std::string log;
    // The archive is rewritten without the locked file's new data: done, with warnings.
    EXPECT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("sub\\more.txt")}, args, &log), S_FALSE);
    CloseHandle(locked);
    EXPECT_NE(log.find("Error opening this file: "), std::string::npos) << log;
    EXPECT_NE(log.find("Copying text.txt (could not be updated)"), std::string::npos) << log;
    std::vector<Listed> entries = ListArchive(w.archive);
    EXPECT_EQ(entries.size(), 3u);
    EXPECT_NE(Find(entries, "sub/more.txt"), nullptr);
    EXPECT_EQ(ListCleanly(w.archive, &log), S_OK) << log;
}

TEST(ZipUpdate, AFailedReplaceKeepsTheFinishedTemporaryFile) {
    Workspace w;
    ArmFaults("0", "0");
    ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt")}), S_OK);
    const std::vector<uint8_t> before = ReadWholeFile(w.archive);
    // Open without delete sharing: the archive cannot be replaced.
    HANDLE holder = CreateFileA(w.archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::string log;
    HRESULT hr = AddTo(w.archive, {w.Src("noise.bin")}, AddArgs(), &log);
    CloseHandle(holder);
    if (SUCCEEDED(hr)) {
        GTEST_SKIP() << "this system replaced a file that is open";
    }
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(ReadWholeFile(w.archive), before);
    const size_t at = log.find("Please try to do this step manually! Temporary file: ");
    ASSERT_NE(at, std::string::npos) << log;
    std::string temp = log.substr(at + strlen("Please try to do this step manually! Temporary file: "));
    temp = temp.substr(0, temp.find_last_of('.'));
    ASSERT_TRUE(FileExists(temp)) << temp;
    // A ".tmp" name has no format: read a copy as ZIP.
    const std::string copy = w.scratch / "kept.zip";
    ASSERT_TRUE(CopyFileA(temp.c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(ListArchive(copy).size(), 2u);
}

FILETIME LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    FILETIME local, utc;
    SystemTimeToFileTime(&t, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

TEST(ZipUpdate, ArchiveTimeFromTheNewestFileEntry) {
    Workspace w;
    ArmFaults("0", "0");
    SetWriteTimeTo(w.Src("text.txt"), LocalTime(2019, 3, 4, 10, 20));
    SetWriteTimeTo(w.Src("noise.bin"), LocalTime(2021, 6, 1, 8, 30));
    SetWriteTimeTo(w.Src("sub"), LocalTime(2024, 1, 1, 0, 0));  // folders do not count
    AddArgs args;
    args.newestTime = TRUE;
    ASSERT_EQ(AddTo(w.archive, {w.Src("text.txt"), w.Src("noise.bin"), w.Src("sub")}, args), S_OK);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(w.archive.c_str(), GetFileExInfoStandard, &data));
    const FILETIME want = LocalTime(2021, 6, 1, 8, 30);
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &want), 0);
}

TEST(ZipUpdate, MovingDeletesWhatWasAddedAndOnlyEmptyFolders) {
    Workspace w;
    ArmFaults("0", "0");
    // The shell must not ask for confirmation in a test.
    static const ARCPROMPTHANDLER quiet = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           ARCPROMPT_NOSTATUSDIALOG};
    const ARCPROMPTHANDLER* previous = ArcSetPromptHandler(&quiet);
    CreateDirectoryA(w.Src("gone").c_str(), nullptr);
    CreateDirectoryA(w.Src("keep").c_str(), nullptr);
    WriteWholeFile(w.Src("gone\\a.txt"), "moved away");
    WriteWholeFile(w.Src("keep\\b.txt"), "moved away too");
    WriteWholeFile(w.Src("keep\\stays.txt"), "never named");
    WriteWholeFile(w.Src("keep\\locked.txt"), "cannot be read");
    HANDLE locked = CreateFileA(w.Src("keep\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    AddArgs args;
    args.move = TRUE;
    std::string log;
    const HRESULT hr = AddTo(w.archive,
                             {w.Src("gone"), w.Src("gone\\a.txt"), w.Src("keep\\b.txt"), w.Src("keep\\locked.txt")},
                             args, &log);
    CloseHandle(locked);
    ArcSetPromptHandler(previous);
    EXPECT_EQ(hr, S_FALSE) << log;  // done; the locked file was skipped
    EXPECT_NE(log.find("Deleting added files..."), std::string::npos) << log;
    EXPECT_FALSE(FileExists(w.Src("gone\\a.txt")));
    EXPECT_EQ(GetFileAttributesA(w.Src("gone").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(FileExists(w.Src("keep\\b.txt")));
    EXPECT_TRUE(FileExists(w.Src("keep\\stays.txt")));
    EXPECT_TRUE(FileExists(w.Src("keep\\locked.txt")));  // not in the archive, so not deleted
    std::vector<Listed> entries = ListArchive(w.archive);
    EXPECT_EQ(entries.size(), 3u);
}

}  // namespace
}  // namespace tessera::testing
