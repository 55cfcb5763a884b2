// Writing cabinets through the engine's interface (Windows build, under
// Wine): the five settings' compression type words, failures and
// cancellation that leave an old cabinet byte for byte and no temporary
// file, the backup of the old cabinet, the names of a set, skipped files,
// the self-extractor conversions both ways, and the split options dialog
// answered in-process. What peers make of our cabinets is checked by
// peers.sh.
#include "tescore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "add_file_list.h"
#include "engine_session.h"
#include "test_files.h"

namespace {

using tessera::testing::FileExists;
using tessera::testing::LogHas;
using tessera::testing::ReadWholeFile;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;
using Bytes = std::vector<uint8_t>;
using Archive = tessera::testing::OpenedArchive;

uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }


struct AddRequest {
    UINT level = 3;
    BOOL backup = FALSE;
    BOOL update = FALSE;
    BOOL storePaths = FALSE;
    BOOL split = FALSE;
    UINT volumeSize = 0;
};

HRESULT Add(ICompressFormat* object, const std::vector<BYTE>& list, const std::string& tempFolder,
            const AddRequest& r = AddRequest()) {
    return object->Add(nullptr, FALSE, FALSE, r.backup, r.level, r.update, FALSE, r.storePaths, FALSE, r.split,
                       r.volumeSize, FALSE, "", tempFolder.c_str(), reinterpret_cast<const ADDFILEINFO*>(list.data()));
}

// Names in `folder` that the engine's temporary files would have.
std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const char* pattern : {"\\tsr*", "\\tsc*"}) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do found.push_back(data.cFileName);
        while (FindNextFileA(find, &data));
        FindClose(find);
    }
    return found;
}

// Source files in `scratch`\src: a.txt, b.bin (random, 150,000 bytes).
struct Sources {
    ScratchFolder scratch;
    std::string a, b, temp;
    Sources() {
        CreateDirectoryA((scratch / "src").c_str(), nullptr);
        CreateDirectoryA((scratch / "temp").c_str(), nullptr);
        temp = scratch / "temp\\";
        a = scratch / "src\\a.txt";
        b = scratch / "src\\b.bin";
        WriteWholeFile(a, std::string(5000, 'a'));
        Bytes random(150000);
        uint32_t x = 12345;
        for (uint8_t& c : random) c = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 23);
        WriteWholeFile(b, random.data(), random.size());
    }
};

// The level index gives the compression type word of the cabinet's folders.
TEST(CabWrite, LevelsGiveTheirCompressionTypes) {
    const struct {
        UINT level;
        uint16_t type;
    } rows[] = {{0, 0x1503}, {1, 0x1203}, {2, 0x0F03}, {3, 0x0001}, {4, 0x0000}, {9, 0x0000}, {0xFFFFFFFF, 0x1503}};
    Sources s;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.level);
        std::string path = s.scratch / "level.cab";
        DeleteFileA(path.c_str());
        Archive a(path);
        ASSERT_EQ(a.created, S_OK);
        AddRequest r;
        r.level = row.level;
        ASSERT_EQ(Add(a.object, BuildAddFileList({s.a}), s.temp, r), S_OK) << a.log;
        Bytes cab = ReadWholeFile(path);
        ASSERT_GE(cab.size(), 44u);
        EXPECT_EQ(Get16(cab, 36 + 6), row.type);
        Archive back(path);
        ASSERT_EQ(back.List(), S_OK) << back.log;
        EXPECT_EQ(back.Names(), (std::vector<std::string>{"a.txt"}));
        EXPECT_EQ(back.Test(), S_FALSE) << back.log;  // the summary is a warning
        EXPECT_TRUE(LogHas(back.log, "No errors were found")) << back.log;
    }
}

ICompressFormat* g_cancelTarget;
void CALLBACK CancelAtB(HWND, LPCSTR text) {
    if (std::strncmp(text, "Compressing b.bin", 17) == 0) g_cancelTarget->Cancel();
}

// Every failure and a cancel leave the old cabinet as it was and no
// temporary file behind.
TEST(CabWrite, FailureLeavesTheOldCabinetAndNoTemporaryFile) {
    Sources s;
    CreateDirectoryA((s.scratch / "src\\other").c_str(), nullptr);
    std::string twin = s.scratch / "src\\other\\a.txt";
    WriteWholeFile(twin, "another a.txt");
    struct Case {
        const char* label;
        std::vector<std::string> files;
        AddRequest request;
        bool cancel;
        HRESULT result;
        const char* message;
    } cases[] = {
        {"same stored name twice", {s.a, twin}, {}, false, E_FAIL, "in archive repeated"},
        {"only a folder", {s.scratch / "src\\other"}, {}, false, E_FAIL, "Nothing to do!"},
        {"cancelled while compressing", {s.a, s.b}, {}, true, E_ABORT, ""},
        {"cancelled while spanning", {s.b}, {4, FALSE, FALSE, FALSE, TRUE, 65536}, true, E_ABORT, ""},
        {"volume below 64 KB", {s.a}, {3, FALSE, FALSE, FALSE, TRUE, 65535}, false, E_FAIL,
         "must be between 64 KB and 2 GB"},
        {"update", {s.a}, {3, FALSE, TRUE}, false, E_NOTIMPL, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string path = s.scratch / "old.cab";
        {
            DeleteFileA(path.c_str());
            Archive a(path);
            ASSERT_EQ(Add(a.object, BuildAddFileList({s.b}), s.temp), S_OK) << a.log;
        }
        Bytes before = ReadWholeFile(path);
        Archive a(path);
        g_cancelTarget = a.object;
        if (c.cancel) a.object->SetStatusCallback(CancelAtB);
        EXPECT_EQ(Add(a.object, BuildAddFileList(c.files), s.temp, c.request), c.result) << a.log;
        EXPECT_TRUE(LogHas(a.log, c.message)) << a.log;
        EXPECT_EQ(ReadWholeFile(path), before);
        EXPECT_TRUE(TemporaryFiles(s.scratch.Path()).empty());
        EXPECT_TRUE(TemporaryFiles(s.temp).empty());
        EXPECT_FALSE(FileExists(s.scratch / "old01.cab"));
    }
}

// With backup the old cabinet becomes NAME.bak; without, it is replaced.
TEST(CabWrite, BackupKeepsTheOldCabinet) {
    Sources s;
    std::string path = s.scratch / "Data.cab";
    {
        Archive a(path);
        ASSERT_EQ(Add(a.object, BuildAddFileList({s.b}), s.temp), S_OK) << a.log;
    }
    Bytes old = ReadWholeFile(path);
    {
        Archive a(path);
        AddRequest r;
        r.backup = TRUE;
        ASSERT_EQ(Add(a.object, BuildAddFileList({s.a}), s.temp, r), S_OK) << a.log;
        EXPECT_TRUE(LogHas(a.log, "Creating backup copy 'Data.bak'")) << a.log;
    }
    EXPECT_EQ(ReadWholeFile(s.scratch / "Data.bak"), old);
    Archive now(path);
    ASSERT_EQ(now.List(), S_OK);
    EXPECT_EQ(now.Names(), (std::vector<std::string>{"a.txt"}));
    EXPECT_TRUE(TemporaryFiles(s.scratch.Path()).empty());
}

// A set is named NAME01.EXT, NAME02.EXT ...; a name without extension
// gives NAME01, NAME02 ...; the archive's own name is not written.
TEST(CabWrite, SetsAreNamedByNumber) {
    const struct {
        const char* archive;
        const char* first;
        const char* second;
        const char* third;
    } rows[] = {{"data.cab", "data01.cab", "data02.cab", "data03.cab"}, {"backup", "backup01", "backup02", "backup03"}};
    Sources s;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.archive);
        // The factory knows formats by extension: an object made for a
        // cabinet name is pointed at the name without one.
        Archive a(s.scratch / "stand-in.cab");
        ASSERT_EQ(a.created, S_OK);
        a.object->SetArchivePath((s.scratch / row.archive).c_str());
        AddRequest r;
        r.level = 4;
        r.split = TRUE;
        r.volumeSize = 65536;
        ASSERT_EQ(Add(a.object, BuildAddFileList({s.a, s.b}), s.temp, r), S_OK) << a.log;
        EXPECT_FALSE(FileExists(s.scratch / row.archive));
        for (const char* name : {row.first, row.second, row.third}) {
            Bytes cab = ReadWholeFile(s.scratch / name);
            ASSERT_GE(cab.size(), 36u) << name;
            EXPECT_LE(cab.size(), 65536u) << name;
        }
        Archive first(s.scratch / "stand-in.cab");
        first.object->SetArchivePath((s.scratch / row.first).c_str());
        ASSERT_EQ(first.List(), S_OK) << first.log;
        EXPECT_EQ(first.Names(), (std::vector<std::string>{"a.txt", "b.bin"}));
        std::string out = s.scratch / (std::string(row.archive) + ".out");
        EXPECT_EQ(first.Extract(out), S_OK) << first.log;
        EXPECT_EQ(ReadWholeFile(out + "\\b.bin"), ReadWholeFile(s.b));
    }
}

// Files that cannot be stored are skipped with a report; the rest is written.
TEST(CabWrite, UnstorableFilesAreSkippedAndReported) {
    Sources s;
    std::string longName(256, 'n');
    std::string path = s.scratch / "skip.cab";
    Archive a(path);
    std::vector<BYTE> list = BuildAddFileList({s.scratch / "src\\missing.txt", s.a, s.b}, {nullptr, longName.c_str(), nullptr});
    EXPECT_EQ(Add(a.object, list, s.temp), S_FALSE) << a.log;
    EXPECT_TRUE(LogHas(a.log, "Error opening this file")) << a.log;
    EXPECT_TRUE(LogHas(a.log, "path too long")) << a.log;
    Archive back(path);
    ASSERT_EQ(back.List(), S_OK) << back.log;
    EXPECT_EQ(back.Names(), (std::vector<std::string>{"b.bin"}));
}

// A program made of a module and the cabinet, and the cabinet taken out of
// it again: positions count from the program's start one way, from the
// cabinet's the other. Failed conversions leave nothing, and never touch
// the source.
TEST(CabWrite, ProgramRoundTrip) {
    Sources s;
    std::string cabPath = s.scratch / "one.cab";
    {
        Archive a(cabPath);
        AddRequest r;
        r.level = 0;
        ASSERT_EQ(Add(a.object, BuildAddFileList({s.a, s.b}), s.temp, r), S_OK) << a.log;
    }
    Bytes cab = ReadWholeFile(cabPath);
    Bytes module(20000);
    for (size_t i = 0; i < module.size(); ++i) module[i] = static_cast<uint8_t>(i * 7);
    module[0] = 'M';
    module[1] = 'Z';
    std::string program = s.scratch / "one.exe";
    {
        Archive a(cabPath);
        EXPECT_EQ(a.object->MakeEXE(nullptr, s.temp.c_str(), program.c_str(), module.data(),
                                    static_cast<DWORD>(module.size())),
                  S_OK)
            << a.log;
        EXPECT_EQ(a.object->MakeEXE(nullptr, s.temp.c_str(), (s.scratch / "no\\such\\dir.exe").c_str(),
                                    module.data(), static_cast<DWORD>(module.size())),
                  E_FAIL);
        EXPECT_FALSE(FileExists(s.scratch / "no\\such\\dir.exe"));
    }
    Bytes made = ReadWholeFile(program);
    Bytes expected = module;
    expected.insert(expected.end(), cab.begin(), cab.end());
    EXPECT_EQ(made, expected);

    Archive p(s.scratch / "stand-in.cab");
    p.object->SetArchivePath(program.c_str());
    BOOL searched = FALSE;
    ASSERT_EQ(p.object->Check(nullptr, &searched), S_OK);
    ASSERT_EQ(p.List(), S_OK) << p.log;
    EXPECT_EQ(p.Names(), (std::vector<std::string>{"a.txt", "b.bin"}));
    std::string out = s.scratch / "out";
    EXPECT_EQ(p.Extract(out), S_OK) << p.log;
    EXPECT_EQ(ReadWholeFile(out + "\\b.bin"), ReadWholeFile(s.b));
    std::string back = s.scratch / "back.cab";
    EXPECT_EQ(p.object->RemoveEXE(nullptr, s.temp.c_str(), back.c_str()), S_OK) << p.log;
    EXPECT_EQ(ReadWholeFile(back), cab);
    // Onto itself: refused, and the program stays whole.
    EXPECT_EQ(p.object->RemoveEXE(nullptr, s.temp.c_str(), program.c_str()), E_FAIL);
    EXPECT_EQ(ReadWholeFile(program), expected);
}

// --- the split options dialog, answered in-process ---

struct SplitScript {
    std::function<void(HWND)> act;  // sets the controls and presses OK
    std::vector<std::string> messages;
    bool sawDialog = false;
};
SplitScript* g_script;

int CALLBACK RecordMessage(void*, HWND, LPCSTR text, LPCSTR, UINT) {
    if (g_script) g_script->messages.push_back(text);
    return IDOK;
}
const ARCPROMPTHANDLER kRecordingAnswers = {nullptr, RecordMessage, nullptr, nullptr, nullptr, nullptr,
                                            ARCPROMPT_NOSTATUSDIALOG};

BOOL CALLBACK FindSplitDialog(HWND window, LPARAM found) {
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, "Split archive") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK DriveSplitDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindSplitDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;  // not up yet
    KillTimer(nullptr, timer);
    g_script->sawDialog = true;
    size_t before = g_script->messages.size();
    g_script->act(dialog);
    // Refused: the dialog stays; give up.
    if (g_script->messages.size() != before) SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Sets a check box or radio button as a click would.
void Choose(HWND dialog, int id, bool checked = true) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
    if (checked && id != 1050) {  // radio buttons: the others of the group go off
        static const std::vector<std::vector<int>> groups = {{1051, 1052}, {1055, 1056, 1057, 1058}};
        for (const auto& group : groups)
            for (int other : group)
                if (std::find(group.begin(), group.end(), id) != group.end() && other != id)
                    CheckDlgButton(dialog, other, BST_UNCHECKED);
    }
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

const int kActivate = 1050, kDisk = 1051, kOther = 1052, kSize = 1053, kKb = 1055, k1000 = 1056, kBytes = 1057,
          kMb = 1058;

HRESULT RunSplitDialog(ICompressFormat* object, SplitScript& script, DWORD* size, BOOL* split) {
    g_script = &script;
    SetTimer(nullptr, 0, 20, DriveSplitDialog);
    HRESULT hr = object->SplitDialog(nullptr, size, split);
    g_script = nullptr;
    return hr;
}

// The sizes accepted and refused, and what each choice gives.
TEST(CabWrite, SplitDialogBounds) {
    ScratchFolder scratch;
    Archive a(scratch / "split.cab", &kRecordingAnswers);
    ASSERT_EQ(a.created, S_OK);
    const char* range = "The size of the medium must be between 64 KB and 2 GB.";
    const struct {
        const char* number;  // null: the disk choice; "off": not activated
        int unit;
        bool accepted;
        DWORD size;
    } rows[] = {
        {"65536", kBytes, true, 65536},         {"65535", kBytes, false, 0},
        {"64", kKb, true, 65536},               {"63", kKb, false, 0},
        {"134217727", kBytes, true, 134217727}, {"134217728", kBytes, false, 0},
        {"128", kMb, false, 0},                 {"127", kMb, true, 133169152},
        {"66", k1000, true, 66000},             {"", kBytes, false, 0},
        {"4294967296", kBytes, false, 0},       {"4194304", kKb, false, 0},
        {nullptr, 0, true, 1457664},            {"off", 0, true, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.number ? row.number : "disk");
        SplitScript script;
        script.act = [&](HWND dialog) {
            bool off = row.number && std::strcmp(row.number, "off") == 0;
            Choose(dialog, kActivate, !off);
            if (!off && !row.number) Choose(dialog, kDisk);
            if (!off && row.number) {
                Choose(dialog, kOther);
                Choose(dialog, row.unit);
                SetDlgItemTextA(dialog, kSize, row.number);
            }
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        };
        DWORD size = 3 * 1048576;
        BOOL split = TRUE;
        HRESULT hr = RunSplitDialog(a.object, script, &size, &split);
        ASSERT_TRUE(script.sawDialog);
        if (row.accepted) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(size, row.size);
            EXPECT_EQ(split, row.size != 0);
            EXPECT_TRUE(script.messages.empty());
        } else {
            EXPECT_EQ(hr, E_ABORT);
            EXPECT_EQ(script.messages, (std::vector<std::string>{range}));
            EXPECT_EQ(size, 3u * 1048576);  // unchanged
        }
    }
}

// What the dialog shows for the current size.
TEST(CabWrite, SplitDialogShowsTheCurrentSize) {
    ScratchFolder scratch;
    Archive a(scratch / "split.cab", &kRecordingAnswers);
    const struct {
        DWORD size;
        BOOL split;
        bool active, disk;
        int unit;
        const char* number;
    } rows[] = {
        {0, FALSE, false, true, kKb, "64"},          {1457664, TRUE, true, true, kKb, "64"},
        {1505280, TRUE, true, true, kKb, "64"},      {3145728, TRUE, true, false, kMb, "3"},
        {66560, TRUE, true, false, kKb, "65"},       {66000, TRUE, true, false, k1000, "66"},
        {65537, TRUE, true, false, kBytes, "65537"}, {3145728, FALSE, false, true, kKb, "64"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        bool active = !row.active, disk = !row.disk, sizeEnabled = row.active;
        int unit = 0;
        std::string number;
        SplitScript script;
        script.act = [&](HWND dialog) {
            active = IsDlgButtonChecked(dialog, kActivate) == BST_CHECKED;
            disk = IsDlgButtonChecked(dialog, kDisk) == BST_CHECKED;
            for (int id : {kKb, k1000, kBytes, kMb})
                if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) unit = id;
            char text[32] = "";
            GetDlgItemTextA(dialog, kSize, text, sizeof text);
            number = text;
            sizeEnabled = IsWindowEnabled(GetDlgItem(dialog, kSize)) != FALSE;
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        };
        DWORD size = row.size;
        BOOL split = row.split;
        EXPECT_EQ(RunSplitDialog(a.object, script, &size, &split), E_ABORT);
        EXPECT_EQ(active, row.active);
        EXPECT_EQ(disk, row.disk);
        EXPECT_EQ(unit, row.unit);
        EXPECT_EQ(number, row.number);
        EXPECT_EQ(sizeEnabled, row.active && !row.disk);
    }
}

}  // namespace
