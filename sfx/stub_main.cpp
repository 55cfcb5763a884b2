// The self-extractor stub: start-up, the dialogs of both flavours, the
// unattended mode, and the run that extracts, starts the configured program
// and cleans up.
//
// Flavours: TESSERA_SFX_SETUP builds the setup flavour (no questions, a
// progress window, English texts); without it the interactive one (the
// main dialog, German texts). The format's reader comes from the linked
// *_extract.cpp.
//
// Switches beyond the dialogs, for scripted deployment:
//   -y          extract to the configured folder without any window,
//               overwriting, and start the configured program; messages go
//               to standard error
//   -o<folder>  destination folder (with -y, or pre-filled in the dialog)
// The exit code is 0 after a complete run, 1 after a failure, 2 after a
// cancel.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <csignal>
#include <string>
#include <vector>

#include "core/path_safety.h"
#include "sfx/config_block.h"
#include "sfx/stub.h"
#include "sfx/stub_ids.h"
#include "win32/dialog.h"
#include "win32/handles.h"

namespace tessera::sfx {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCancelled = 2;
constexpr char kTitle[] = "Tessera";
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
#endif

#ifdef TESSERA_SFX_SETUP
constexpr bool kSetupFlavour = true;
#else
constexpr bool kSetupFlavour = false;
#endif

// --- start-up ---------------------------------------------------------------

// A program run from a download folder lies next to whatever was downloaded
// with it: before any library is loaded, the search is cut down to the
// system folder.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

// Libraries beyond kernel32 and user32 are loaded by full path from the
// system folder, not imported.
HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
    lstrcatA(path, "\\");
    lstrcatA(path, name);
    return LoadLibraryA(path);
}

template <class Function>
Function SystemFunction(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

struct StubContext {
    std::string path;
    win32::FileHandle file;
    uint64_t origin = 0;
    SfxConfig config;
    HMODULE shell = nullptr;
};

struct Switches {
    bool unattended = false;
    bool hasDestination = false;
    std::string destination;
};

// The tokens after the program name; quotes group and are removed.
Switches ParseSwitches(const char* commandLine) {
    std::vector<std::string> tokens;
    const char* p = commandLine;
    bool first = true;
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        std::string token;
        bool quoted = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
            if (*p == '"') quoted = !quoted;
            else token += *p;
        }
        if (!first) tokens.push_back(token);
        first = false;
    }
    Switches switches;
    for (const std::string& token : tokens) {
        if (token.size() < 2 || (token[0] != '-' && token[0] != '/')) continue;
        char letter = static_cast<char>(token[1] | 0x20);
        if (letter == 'y' && token.size() == 2) switches.unattended = true;
        if (letter == 'o' && token.size() > 2) {
            switches.hasDestination = true;
            switches.destination = token.substr(2);
        }
    }
    return switches;
}

std::string SystemFolder(UINT (WINAPI* get)(LPSTR, UINT)) {
    char folder[MAX_PATH];
    UINT length = get(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

UINT WINAPI TempFolder(LPSTR buffer, UINT size) { return GetTempPathA(size, buffer); }
UINT WINAPI CurrentFolder(LPSTR buffer, UINT size) { return GetCurrentDirectoryA(size, buffer); }

std::string BaseFolder(uint8_t base) {
    switch (base) {
    case kFolderTemporary: return SystemFolder(TempFolder);
    case kFolderCurrent: return SystemFolder(CurrentFolder);
    case kFolderWindows: return SystemFolder(GetWindowsDirectoryA);
    default: return std::string();
    }
}

std::string DestinationOf(const SfxConfig& config) {
    if (config.folderBase == kFolderComplete) return config.folderName;
    std::string folder = JoinBaseAndName(BaseFolder(config.folderBase), config.folderName);
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

std::string FileNamePart(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The command line of the program to start. A program taken from the
// extracted files stays inside them whatever its name says; a path with a
// blank is quoted so that no shorter path is tried in its place.
std::string ProgramCommandLine(const SfxConfig& config, const std::string& destination) {
    if (config.programBase == kProgramCommandLine) return config.programName;
    std::string path;
    if (config.programBase == kProgramInDestination) {
        char safe[MAX_PATH];
        if (MakeSafeRelativePath(config.programName.c_str(), safe, sizeof safe) == PathVerdict::kRefused)
            return std::string();
        path = JoinBaseAndName(destination, safe);
    } else {
        const uint8_t folderBases[] = {0, kFolderTemporary, kFolderCurrent, kFolderWindows};
        path = JoinBaseAndName(BaseFolder(folderBases[config.programBase]), config.programName);
    }
    if (path.find(' ') != std::string::npos && path[0] != '"') path = "\"" + path + "\"";
    return path;
}

// The program's own file, its configuration block and the archive origin.
// False when the block cannot be had (message 1 follows).
bool ReadConfiguration(StubContext& stub) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    stub.path.assign(path, length);
    stub.file.reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!stub.file) return false;
    std::vector<uint8_t> head(kMarkerSearchLimit);
    DWORD got = 0;
    if (!ReadFile(stub.file.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr)) return false;
    long marker = FindMarker(head.data(), got);
    if (marker < 0) return false;
    uint8_t header[kBlockHeaderSize];
    LARGE_INTEGER at;
    at.QuadPart = marker;
    if (!SetFilePointerEx(stub.file.get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(stub.file.get(), header, sizeof header, &got, nullptr) || got != sizeof header)
        return false;
    size_t folderLength = 0, programLength = 0;
    ParseBlockHeader(header, &stub.config, &folderLength, &programLength);
    if (stub.config.folderBase > kFolderComplete || stub.config.programBase > kProgramCommandLine) return false;
    char texts[512];
    size_t textLength = folderLength + programLength;
    if (textLength && (!ReadFile(stub.file.get(), texts, static_cast<DWORD>(textLength), &got, nullptr) ||
                       got != textLength))
        return false;
    stub.config.folderName.assign(texts, folderLength);
    stub.config.programName.assign(texts + folderLength, programLength);
    stub.origin = static_cast<uint64_t>(marker) + kBlockHeaderSize + textLength;
    return true;
}

// --- the run ------------------------------------------------------------------

// Extracts into `destination`, then starts the program when asked to, waits
// for it and deletes what was extracted when the block says so.
int ExtractAndRun(const StubContext& stub, RunView& view, const std::string& destination, bool overwrite, bool ask,
                  bool startProgram) {
    view.cancelRequested = false;
    Extraction run(stub.file.get(), stub.path, stub.origin, destination, overwrite, ask, view);
    if (!run.CreateDestination()) {
        run.DeleteRecorded();
        return kExitFailed;
    }
    if (!ExtractAppendedArchive(run)) {
        view.ShowDeleting();
        run.DeleteRecorded();
        return run.Cancelled() ? kExitCancelled : kExitFailed;
    }
    // Entries that failed were reported; what came out stays, but nothing is
    // started on an incomplete set.
    if (run.EntryFailed()) return kExitFailed;
    if (!startProgram || stub.config.programName.empty()) return kExitOk;

    std::string command = ProgramCommandLine(stub.config, destination);
    std::string program = command;
    if (!program.empty() && program[0] == '"') program = program.substr(1, program.find('"', 1) - 1);
    view.ShowProgramStart(FileNamePart(program));
    std::vector<char> commandLine(command.begin(), command.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (command.empty() ||
        !CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        run.Message(IDS_CANNOT_EXECUTE, static_cast<int>(GetLastError()), command.c_str());
        return kExitFailed;
    }
    win32::KernelHandle process(started.hProcess), thread(started.hThread);
    if (!stub.config.waitAndDelete) return kExitOk;
    HANDLE waitFor = process.get();
    while (!view.cancelRequested) {
        DWORD woke = MsgWaitForMultipleObjects(1, &waitFor, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) break;  // the program ended (or the wait failed)
        view.Pump();
    }
    view.ShowDeleting();
    run.DeleteRecorded();
    return kExitOk;
}

// Lets a dialog handle what is pending; a quit message is put back.
void PumpMessages(HWND dialog) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (dialog && IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void ShowError(HWND owner, const std::string& text) {
    char title[128] = "";
    if (owner) GetWindowTextA(owner, title, sizeof title);
    MessageBoxA(owner, text.c_str(), owner ? (title[0] ? title : nullptr) : kTitle, MB_OK | MB_ICONERROR);
}

// --- unattended ---------------------------------------------------------------

void WriteToStandardError(const std::string& text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = text + "\r\n";
    DWORD written = 0;
    if (error && error != INVALID_HANDLE_VALUE)
        WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    else
        OutputDebugStringA(line.c_str());
}

class UnattendedView final : public RunView {
public:
    void ShowMessage(const std::string& text) override { WriteToStandardError(text); }
    void ShowCurrentFile(const std::string&) override {}
    void SetProgress(uint32_t) override {}
    void Pump() override {}
    OverwriteAnswer AskOverwrite(const std::string&) override { return OverwriteAnswer::kYes; }
};

// --- setup flavour --------------------------------------------------------------

class SetupDialog final : public win32::Dialog, public RunView {
public:
    explicit SetupDialog(uint32_t totalSize) : totalSize_(totalSize) {}

    void ShowMessage(const std::string& text) override { ShowError(Handle(), text); }
    void ShowCurrentFile(const std::string&) override {}
    void SetProgress(uint32_t units) override { SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETPOS, units, 0); }
    void Pump() override { PumpMessages(Handle()); }
    OverwriteAnswer AskOverwrite(const std::string&) override { return OverwriteAnswer::kYes; }
    void ShowProgramStart(const std::string&) override { ShowWindow(Handle(), SW_HIDE); }

protected:
    BOOL OnInitDialog() override {
        SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETRANGE32, 0, totalSize_ / 32768);
        SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETSTEP, 1, 0);
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        if (id == IDC_ABORT || id == IDCANCEL) {
            EnableWindow(Item(IDC_ABORT), FALSE);
            cancelRequested = true;
            return TRUE;
        }
        return FALSE;
    }

private:
    uint32_t totalSize_;
};

// --- interactive flavour --------------------------------------------------------

class OverwriteDialog final : public win32::Dialog {
public:
    explicit OverwriteDialog(const std::string& path) : path_(path) {}

protected:
    BOOL OnInitDialog() override {
        SetText(IDC_QUESTION_PATH, path_);
        SendDlgItemMessageA(Handle(), IDC_QUESTION_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconA(nullptr, MAKEINTRESOURCEA(32514))), 0);
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        switch (id) {
        case IDYES:
        case IDNO:
        case IDC_YES_TO_ALL:
        case IDC_QUESTION_CANCEL: End(id); return TRUE;
        case IDCANCEL: End(IDC_QUESTION_CANCEL); return TRUE;  // the close box
        default: return FALSE;
        }
    }

private:
    std::string path_;
};

class MainDialog final : public win32::Dialog, public RunView {
public:
    MainDialog(const StubContext& stub, const std::string& destination) : stub_(stub), destination_(destination) {}
    int ExitCode() const { return exitCode_; }

    void ShowMessage(const std::string& text) override { ShowError(Handle(), text); }
    void ShowCurrentFile(const std::string& text) override { SetText(IDC_CURRENT_FILE, text); }
    void SetProgress(uint32_t units) override { SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETPOS, units, 0); }
    void Pump() override { PumpMessages(Handle()); }
    OverwriteAnswer AskOverwrite(const std::string& path) override {
        OverwriteDialog question(path);
        switch (question.RunModal(GetModuleHandleA(nullptr), IDD_OVERWRITE, Handle())) {
        case IDYES: return OverwriteAnswer::kYes;
        case IDC_YES_TO_ALL: return OverwriteAnswer::kYesToAll;
        case IDNO: return OverwriteAnswer::kNo;
        default: return OverwriteAnswer::kCancel;
        }
    }
    void ShowProgramStart(const std::string& fileName) override {
        ShowWindow(Item(IDC_PROGRESS), SW_HIDE);
        SetText(IDC_WAIT_TEXT, FormatMessage(IDS_WAITING_FOR, fileName.c_str()));
        ShowWindow(Item(IDC_WAIT_TEXT), SW_SHOW);
    }
    void ShowDeleting() override {
        SetText(IDC_WAIT_TEXT, FormatMessage(IDS_DELETING_TEMPORARY));
        ShowWindow(Item(IDC_WAIT_TEXT), SW_SHOW);
        UpdateWindow(Handle());
    }

protected:
    BOOL OnInitDialog() override {
        SetText(IDC_FOLDER, destination_);
        Check(IDC_OVERWRITE_ALL, stub_.config.overwrite);
        if (!stub_.config.programName.empty()) {
            // The box's own text is the pattern for the program's name.
            std::string pattern = Text(IDC_RUN_PROGRAM);
            std::string name = FileNamePart(ProgramCommandLine(stub_.config, destination_));
            if (!name.empty() && name.back() == '"') name.pop_back();
            char text[512];
            wsprintfA(text, pattern.c_str(), name.c_str());
            SetText(IDC_RUN_PROGRAM, text);
            Check(IDC_RUN_PROGRAM, true);
            ShowWindow(Item(IDC_RUN_PROGRAM), SW_SHOW);
        }
        SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETRANGE32, 0, stub_.config.totalSize / 32768);
        SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETSTEP, 1, 0);
        return TRUE;
    }

    BOOL OnCommand(int id, int, HWND) override {
        switch (id) {
        case IDOK:
            if (!running_) Extract();
            return TRUE;
        case IDC_CHANGE_FOLDER:
            if (!running_) ChooseFolder();
            return TRUE;
        case IDC_ABORT:
            EnableWindow(Item(IDC_ABORT), FALSE);
            cancelRequested = true;
            return TRUE;
        case IDCANCEL:
            // Escape and the close box during a run cancel it instead.
            if (running_) cancelRequested = true;
            else End(IDCANCEL);
            return TRUE;
        default: return FALSE;
        }
    }

private:
    static constexpr int kLocked[] = {IDOK, IDCANCEL, IDC_CHANGE_FOLDER, IDC_FOLDER, IDC_OVERWRITE_ALL,
                                      IDC_RUN_PROGRAM};

    void Lock(bool running) {
        running_ = running;
        for (int id : kLocked) Enable(id, !running);
        Enable(IDC_ABORT, running);
        ShowWindow(Item(IDC_PROGRESS), running ? SW_SHOW : SW_HIDE);
        if (!running) ShowWindow(Item(IDC_WAIT_TEXT), SW_HIDE);
        EnableMenuItem(GetSystemMenu(Handle(), FALSE), SC_CLOSE, MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
        SendDlgItemMessageA(Handle(), IDC_PROGRESS, PBM_SETPOS, 0, 0);
    }

    void Extract() {
        std::string destination = Text(IDC_FOLDER);
        bool overwrite = Checked(IDC_OVERWRITE_ALL);
        bool start = !stub_.config.programName.empty() && Checked(IDC_RUN_PROGRAM);
        Lock(true);
        exitCode_ = ExtractAndRun(stub_, *this, destination, overwrite, true, start);
        SetText(IDC_CURRENT_FILE, "");
        Lock(false);
        if (exitCode_ == kExitOk) End(IDOK);
    }

    void ChooseFolder() {
        using BrowseFn = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOA);
        using PathFn = BOOL(WINAPI*)(LPCITEMIDLIST, LPSTR);
        using FreeFn = void(WINAPI*)(LPITEMIDLIST);
        auto browse = SystemFunction<BrowseFn>(stub_.shell, "SHBrowseForFolderA");
        auto pathOf = SystemFunction<PathFn>(stub_.shell, "SHGetPathFromIDListA");
        auto free = SystemFunction<FreeFn>(stub_.shell, "ILFree");
        if (!browse || !pathOf || !free) return;
        std::string title = FormatMessage(IDS_SELECT_FOLDER);
        char chosen[MAX_PATH] = "";
        BROWSEINFOA info = {};
        info.hwndOwner = Handle();
        info.pszDisplayName = chosen;
        info.lpszTitle = title.c_str();
        info.ulFlags = BIF_RETURNONLYFSDIRS;
        LPITEMIDLIST list = browse(&info);
        if (!list) return;
        if (pathOf(list, chosen)) SetText(IDC_FOLDER, chosen);
        free(list);
    }

    const StubContext& stub_;
    std::string destination_;
    bool running_ = false;
    int exitCode_ = kExitOk;
};

// A failed allocation ends a stub through abort(): quietly, with exit code
// 3, and without the runtime's message box that would wait for a human.
void EndQuietly(int) { ExitProcess(3); }

int RunStub(const char* commandLine) {
    RestrictDllSearch();
    std::signal(SIGABRT, EndQuietly);
    HMODULE controls = LoadSystemLibrary("comctl32.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (auto init = SystemFunction<InitFn>(controls, "InitCommonControlsEx")) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        init(&classes);
    }
    Switches switches = ParseSwitches(commandLine);
    StubContext stub;
    if (!ReadConfiguration(stub)) {
        std::string text = FormatMessage(IDS_DAMAGED);
        if (switches.unattended) WriteToStandardError(text);
        else ShowError(nullptr, text);
        return kExitFailed;
    }
    std::string destination = switches.hasDestination ? switches.destination : DestinationOf(stub.config);
    if (switches.unattended) {
        UnattendedView view;
        return ExtractAndRun(stub, view, destination, true, false, true);
    }
    if (kSetupFlavour) {
        SetupDialog dialog(stub.config.totalSize);
        if (!dialog.CreateModeless(GetModuleHandleA(nullptr), IDD_MAIN, nullptr)) return kExitFailed;
        ShowWindow(dialog.Handle(), SW_SHOW);
        UpdateWindow(dialog.Handle());
        return ExtractAndRun(stub, dialog, destination, true, false, !stub.config.programName.empty());
    }
    stub.shell = LoadSystemLibrary("shell32.dll");
    MainDialog dialog(stub, destination);
    dialog.RunModal(GetModuleHandleA(nullptr), IDD_MAIN, nullptr);
    return dialog.ExitCode();
}

}  // namespace

}  // namespace tessera::sfx

// The program starts here, without the C runtime's start-up code (most of a
// stub's size otherwise): a stub constructs no static objects and ends
// through ExitProcess. The stack is realigned for the compiler's sake.
extern "C" __attribute__((force_align_arg_pointer)) void StubStart() {
    ExitProcess(static_cast<UINT>(tessera::sfx::RunStub(GetCommandLineA())));
}
