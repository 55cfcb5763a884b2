// The interactive stub driven through its window, as a user would: the
// German texts of the main dialog and of the overwrite question, the
// destination typed into the folder field, a run stopped at the question
// (everything extracted so far is deleted again and the dialog stays open)
// and a second run that completes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sfxlib/sfx_creation.h"
#include "tescore.h"
#include "test_files.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

namespace {

using tessera::testing::FileExists;
using tessera::testing::ReadWholeFile;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

void Put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// A ZIP of stored entries, written field by field.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string zip, directory;
    for (const auto& [name, data] : entries) {
        uint32_t crc = tessera::testing::ReferenceCrc32(data.data(), data.size());
        uint32_t offset = static_cast<uint32_t>(zip.size());
        std::string common;
        Put16(common, 10);  // version needed
        Put16(common, 0);   // flags
        Put16(common, 0);   // stored
        Put16(common, 0x6000);
        Put16(common, 0x5B8B);
        Put32(common, crc);
        Put32(common, static_cast<uint32_t>(data.size()));
        Put32(common, static_cast<uint32_t>(data.size()));
        Put16(common, static_cast<uint32_t>(name.size()));
        Put16(common, 0);
        Put32(zip, 0x04034B50);
        zip += common + name + data;
        Put32(directory, 0x02014B50);
        Put16(directory, 20);
        directory += common;
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0x20);
        Put32(directory, offset);
        directory += name;
    }
    uint32_t directoryAt = static_cast<uint32_t>(zip.size());
    zip += directory;
    Put32(zip, 0x06054B50);
    Put32(zip, 0);
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put32(zip, static_cast<uint32_t>(directory.size()));
    Put32(zip, directoryAt);
    Put16(zip, 0);
    return zip;
}

// The self-extracting program of `zipPath` with the German ZIP stub.
bool MakeProgram(const std::string& zipPath, const std::string& programPath) {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    std::string libraryPath = std::string(binary ? binary : ".") + "/dist/tesstub.dll";
    tessera::win32::ModuleHandle library(LoadLibraryExA(libraryPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    tessera::win32::ComPtr<ICompressFormat> archive;
    if (!library || FAILED(ArcCreateObject(nullptr, zipPath.c_str(), archive.put())) ||
        FAILED(archive->List(nullptr)))
        return false;
    tessera::sfx::CreationSettings settings = tessera::sfx::DefaultCreationSettings(zipPath);
    settings.outputFile = programPath;
    std::string temp = tessera::testing::HostPathToNative("/tmp");
    return tessera::sfx::CreateSelfExtractor(archive.get(), library.get(), settings, nullptr, temp.c_str()) == S_OK;
}

// A program started in `folder`; ended when the test leaves it running,
// whichever way the test leaves.
class StartedProgram {
public:
    ~StartedProgram() { End(); }
    bool Start(std::string command, const std::string& folder) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                            &started))
            return false;
        process_.reset(started.hProcess);
        thread_.reset(started.hThread);
        id_ = started.dwProcessId;
        return true;
    }
    void End() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
    }
    DWORD Id() const { return id_; }
    HANDLE Process() const { return process_.get(); }

private:
    tessera::win32::KernelHandle process_, thread_;
    DWORD id_ = 0;
};

struct Search {
    DWORD process;
    const char* title;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char text[128] = "", kind[32] = "";
    GetWindowTextA(window, text, sizeof text);
    GetClassNameA(window, kind, sizeof kind);
    if (owner == s->process && IsWindowVisible(window) && !strcmp(kind, "#32770") && !strcmp(text, s->title)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// A dialog of `process` with `title`, waited for up to 30 seconds.
HWND WaitForDialog(DWORD process, const char* title) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        Search search{process, title, nullptr};
        EnumWindows(MatchDialog,
            reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(100);
    }
    return nullptr;
}

std::string ItemText(HWND dialog, int id) {
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Waits until the control is enabled again (the run has ended).
bool WaitEnabled(HWND dialog, int id) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (IsWindowEnabled(GetDlgItem(dialog, id))) return true;
        Sleep(100);
    }
    return false;
}

TEST(SfxDialog, InteractiveStubThroughItsWindow) {
    ScratchFolder folder;
    const std::string first(200000, 'a'), second = "the file that already exists, new content\r\n";
    std::string zip = StoredZip({{"sub/first.txt", first}, {"second.txt", second}});
    WriteWholeFile(folder / "in.zip", zip);
    ASSERT_TRUE(MakeProgram(folder / "in.zip", folder / "in.exe"));

    // The destination exists and holds second.txt: the question comes after
    // sub\first.txt has been extracted.
    std::string destination = folder / "dest";
    CreateDirectoryA(destination.c_str(), nullptr);
    WriteWholeFile(destination + "\\second.txt", std::string("old\r\n"));

    std::string command = "\"" + (folder / "in.exe") + "\"";
    StartedProgram program;
    ASSERT_TRUE(program.Start(command, folder.Path()));

    HWND dialog = WaitForDialog(program.Id(), "Tessera");
    ASSERT_TRUE(dialog) << "the main dialog did not appear";
    EXPECT_EQ(ItemText(dialog, IDOK), "&Entpacken");
    EXPECT_EQ(ItemText(dialog, IDCANCEL), "&Schlie\xdf" "en");
    EXPECT_EQ(ItemText(dialog, 1003), "&Ordner \xe4" "ndern...");
    EXPECT_EQ(ItemText(dialog, 1000), "Dateien ohne Nachfrage &\xfc" "berschreiben");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 3)));  // "&Abbrechen" until a run starts
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1007)));  // no program configured

    // First run: stopped at the question with "A&bbrechen".
    SetDlgItemTextA(dialog, 1002, destination.c_str());
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    HWND question = WaitForDialog(program.Id(), "\xdc" "berschreiben best\xe4" "tigen");
    ASSERT_TRUE(question) << "no overwrite question";
    EXPECT_EQ(ItemText(question, 1002), destination + "\\second.txt");
    EXPECT_EQ(ItemText(question, 6), "&Ja");
    EXPECT_EQ(ItemText(question, 1093), "Ja bei &allen");
    EXPECT_EQ(ItemText(question, 7), "&Nein");
    EXPECT_TRUE(FileExists(destination + "\\sub\\first.txt"));  // written before the question
    PostMessageA(question, WM_COMMAND, 1011, 0);
    ASSERT_TRUE(WaitEnabled(dialog, IDOK));
    EXPECT_FALSE(FileExists(destination + "\\sub\\first.txt")) << "a cancelled run left a file";
    EXPECT_FALSE(FileExists(destination + "\\sub")) << "a cancelled run left its folder";
    auto old = ReadWholeFile(destination + "\\second.txt");
    EXPECT_EQ(std::string(old.begin(), old.end()), "old\r\n");
    EXPECT_EQ(WaitForSingleObject(program.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the dialog closed";

    // Second run: "&Ja" overwrites, the run completes and the program ends.
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    question = WaitForDialog(program.Id(), "\xdc" "berschreiben best\xe4" "tigen");
    ASSERT_TRUE(question);
    PostMessageA(question, WM_COMMAND, IDYES, 0);
    DWORD ended = WaitForSingleObject(program.Process(), 30000);
    program.End();
    ASSERT_EQ(ended, static_cast<DWORD>(WAIT_OBJECT_0)) << "the dialog stayed open after a complete run";
    DWORD code = 99;
    GetExitCodeProcess(program.Process(), &code);
    EXPECT_EQ(code, 0u);
    auto written = ReadWholeFile(destination + "\\sub\\first.txt");
    EXPECT_EQ(std::string(written.begin(), written.end()), first);
    written = ReadWholeFile(destination + "\\second.txt");
    EXPECT_EQ(std::string(written.begin(), written.end()), second);
}

}  // namespace

namespace {

// The program's "/S" form without options: dialog 132 on the archive, its
// settings, "Cr&eate" and the message that follows.
TEST(SfxDialog, CreateExeDialogOfTheProgram) {
    ScratchFolder folder;
    WriteWholeFile(folder / "in.zip", StoredZip({{"readme.txt", "text\r\n"}}));
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    ASSERT_TRUE(binary);
    std::string command = "\"" + tessera::testing::HostPathToNative(std::string(binary) + "/dist/tessera.exe") +
                          "\" /S \"" + (folder / "in.zip") + "\"";
    StartedProgram program;
    ASSERT_TRUE(program.Start(command, folder.Path()));

    HWND dialog = WaitForDialog(program.Id(), "Create .exe file");
    ASSERT_TRUE(dialog) << "dialog 132 did not appear";
    EXPECT_EQ(ItemText(dialog, 1053), folder / "in.exe");  // the archive's name with .exe
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1061), static_cast<UINT>(BST_CHECKED));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1064)));  // "&Test" before a creation
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1057)));  // running is off
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1070, CB_GETCOUNT, 0, 0), 1);  // the ZIP stub: German only
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1070, CB_GETITEMDATA, 0, 0), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1055, CB_GETCURSEL, 0, 0), 1);  // "Current directory"

    // "C&hange Folder...": the program goes into the folder chosen in 116.
    std::string other = folder / "other";
    CreateDirectoryA(other.c_str(), nullptr);
    PostMessageA(dialog, WM_COMMAND, 1069, 0);
    HWND browse = WaitForDialog(program.Id(), "Browse for folder");
    ASSERT_TRUE(browse) << "dialog 116 did not appear";
    EXPECT_EQ(ItemText(browse, 1176), folder.Path());  // the "&Last folder:" field
    SetDlgItemTextA(browse, 1176, other.c_str());
    PostMessageA(browse, WM_COMMAND, IDOK, 0);
    for (int attempt = 0; attempt < 100 && ItemText(dialog, 1053) != other + "\\in.exe"; ++attempt) Sleep(100);
    EXPECT_EQ(ItemText(dialog, 1053), other + "\\in.exe");
    SetDlgItemTextA(dialog, 1053, (folder / "in.exe").c_str());

    // Extract to another folder, then create.
    SendDlgItemMessageA(dialog, 1055, CB_SETCURSEL, 3, 0);
    std::string target = folder / "unpacked";
    SetDlgItemTextA(dialog, 1054, target.c_str());
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    HWND message = WaitForDialog(program.Id(), "Tessera");
    ASSERT_TRUE(message) << "no message after Create";
    char text[256] = "";
    GetDlgItemTextA(message, 0xFFFF, text, sizeof text);  // the message box's text
    EXPECT_STREQ(text, "Self-extracting archive 'in.exe' has been created successfully.");
    PostMessageA(message, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitEnabled(dialog, 1064)) << "\"&Test\" stays disabled after a creation";
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    DWORD ended = WaitForSingleObject(program.Process(), 30000);
    program.End();
    ASSERT_EQ(ended, static_cast<DWORD>(WAIT_OBJECT_0)) << "the program did not end with the dialog";

    // The program made extracts to the folder chosen in the dialog.
    std::string run = "\"" + (folder / "in.exe") + "\" -y";
    StartedProgram extractor;
    ASSERT_TRUE(extractor.Start(run, folder.Path()));
    ASSERT_EQ(WaitForSingleObject(extractor.Process(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(FileExists(target + "\\readme.txt"));
}

}  // namespace

namespace {

BOOL CALLBACK FirstVisibleWindow(HWND window, LPARAM context) {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    if (owner == s->process && IsWindowVisible(window) && strstr(text, s->title)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// "Remove .exe module" in the explorer window on a self-extracting ZIP:
// the archive beside it, byte for byte the one the program was made from,
// and message 70.
TEST(SfxDialog, RemoveExeModuleOfTheProgram) {
    // The program would ask about ".zip" first, in this fresh prefix.
    ASSERT_TRUE(PutProfileInt("Settings", "AssocCheck", 0));
    ScratchFolder folder;
    std::string zip = StoredZip({{"readme.txt", "text\r\n"}, {"sub/more.txt", "more\r\n"}});
    WriteWholeFile(folder / "source.zip", zip);
    ASSERT_TRUE(MakeProgram(folder / "source.zip", folder / "prog.exe"));
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    ASSERT_TRUE(binary);
    std::string command = "\"" + tessera::testing::HostPathToNative(std::string(binary) + "/dist/tessera.exe") +
                          "\" \"" + (folder / "prog.exe") + "\"";
    StartedProgram program;
    ASSERT_TRUE(program.Start(command, folder.Path()));
    Search search{program.Id(), "prog.exe", nullptr};
    for (int attempt = 0; attempt < 300 && !search.found; ++attempt) {
        EnumWindows(FirstVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(100);
    }
    ASSERT_TRUE(search.found) << "no explorer window on prog.exe";
    Sleep(1000);  // the list is filled after the window shows
    PostMessageA(search.found, WM_COMMAND, 40032, 0);
    HWND message = WaitForDialog(program.Id(), "Tessera");
    ASSERT_TRUE(message) << "no message after Remove .exe module";
    char text[256] = "";
    GetDlgItemTextA(message, 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "Archive 'prog.zip' has been created successfully. ");
    PostMessageA(message, WM_COMMAND, IDOK, 0);
    Sleep(500);
    PostMessageA(search.found, WM_CLOSE, 0, 0);
    WaitForSingleObject(program.Process(), 30000);
    program.End();
    auto back = ReadWholeFile(folder / "prog.zip");
    EXPECT_TRUE(std::string(back.begin(), back.end()) == zip) << "the archive differs from the one the program was made from";
}

}  // namespace
