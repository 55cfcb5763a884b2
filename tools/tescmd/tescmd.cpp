// tescmd: a console program on the engine. It never shows a window: it
// installs its own answers to the engine's questions (overwrite mode and
// password from the command line, every other question answered no or
// cancel) and prints the engine's log lines to stderr.
//
//   tescmd formats
//   tescmd l ARCHIVE
//   tescmd t ARCHIVE [-pPASSWORD]
//   tescmd x ARCHIVE [-oDIR] [-y|-n] [-pPASSWORD] [-u] [NAMES...]
//   tescmd e ARCHIVE [-oDIR] [-y|-n] [-pPASSWORD] [-u] [NAMES...]
//   tescmd c ARCHIVE
//   tescmd sfx ARCHIVE MODULE-FILE OUT.exe
//   tescmd unsfx ARCHIVE OUT
//
// Exit codes: 0 done, 1 done with warnings, 2 failed, 3 cancelled, 7 usage.
#include "tescore.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kExitOk = 0;
const int kExitWarnings = 1;
const int kExitFailed = 2;
const int kExitCancelled = 3;
const int kExitUsage = 7;

const char kUsage[] =
    "usage: tescmd COMMAND ...\n"
    "  tescmd formats                       list the formats the engine knows\n"
    "  tescmd l ARCHIVE                     list the entries\n"
    "  tescmd t ARCHIVE [-pPASSWORD]        test the entries\n"
    "  tescmd x ARCHIVE [options] [NAMES]   extract with folder names\n"
    "  tescmd e ARCHIVE [options] [NAMES]   extract without folder names\n"
    "  tescmd c ARCHIVE                     print the archive comment\n"
    "  tescmd sfx ARCHIVE MODULE OUT.exe    write MODULE followed by the archive to OUT.exe\n"
    "  tescmd unsfx ARCHIVE OUT             write the archive without its program part to OUT\n"
    "options of x and e:\n"
    "  -oDIR       destination folder (default: the current folder)\n"
    "  -y          overwrite existing files\n"
    "  -n          never overwrite existing files\n"
    "              (default: skip existing files and say so)\n"
    "  -u          extract only entries newer than the existing files\n"
    "  -pPASSWORD  password for encrypted entries\n"
    "NAMES select entries by their path in the archive (as 'l' shows it).\n"
    "exit codes: 0 done, 1 done with warnings, 2 failed, 3 cancelled, 7 usage\n";

int Usage(const char* problem) {
    if (problem) fprintf(stderr, "tescmd: %s\n", problem);
    fputs(kUsage, stderr);
    return kExitUsage;
}

// --- answers to the engine's questions ---

struct Answers {
    std::string password;
    bool havePassword = false;
};
Answers g_answers;

int CALLBACK AnswerMessage(void*, HWND, LPCSTR text, LPCSTR, UINT style) {
    fprintf(stderr, "%s\n", text);
    switch (style & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return IDCANCEL;
    }
}

int CALLBACK AnswerOverwrite(void*, HWND, ARCOVERWRITEPROMPT* prompt) {
    fprintf(stderr, "tescmd: %s exists, skipped (use -y to overwrite)\n", prompt->path);
    return OVERWRITE_RESULT_NO;
}

int CALLBACK AnswerPassword(void*, HWND, LPCSTR fileName, BOOL retry, LPSTR password) {
    if (g_answers.havePassword && !retry) {
        lstrcpynA(password, g_answers.password.c_str(), ARC_PASSWORD_MAX + 1);
        return PASSWORD_RESULT_OK;
    }
    fprintf(stderr, "tescmd: %s: %s, skipped\n", fileName,
            g_answers.havePassword ? "wrong password" : "password needed (use -p)");
    return PASSWORD_RESULT_SKIP;
}

int CALLBACK AnswerRename(void*, HWND, LPCSTR path, LPSTR newPath) {
    lstrcpynA(newPath, path, MAX_PATH);
    return RENAME_RESULT_CANCEL;
}

BOOL CALLBACK NoShift(void*) { return FALSE; }

const ARCPROMPTHANDLER kAnswers = {nullptr,      AnswerMessage, AnswerOverwrite,         AnswerPassword,
                                   AnswerRename, NoShift,       ARCPROMPT_NOSTATUSDIALOG};

void CALLBACK PrintLog(ICompressFormat*, LPARAM, LPCSTR text) { fputs(text, stderr); }

int ExitCode(HRESULT hr) {
    if (hr == E_NOTIMPL) fputs("tescmd: the format does not offer this operation\n", stderr);
    if (hr == S_OK) return kExitOk;
    if (hr == S_FALSE) return kExitWarnings;
    if (hr == E_ABORT) return kExitCancelled;
    return kExitFailed;
}

// --- commands ---

int Formats() {
    HMODULE engine = GetModuleHandleA("tescore.dll");
    UINT count = ArcGetFormatCount();
    for (UINT i = 0; i < count; ++i) {
        FORMATINFO info;
        if (FAILED(ArcGetFormatAt(i, &info))) return kExitFailed;
        char description[256] = "";
        LoadStringA(engine, info.descriptionId, description, sizeof description);
        printf("%lu\t%s\t%s\t0x%lx\t0x%lx\n", static_cast<unsigned long>(info.formatId), info.extension, description,
               static_cast<unsigned long>(info.capabilities), static_cast<unsigned long>(info.variant));
    }
    return kExitOk;
}

// Makes and lists the archive object; prints why when that fails.
ICompressFormat* OpenArchive(const char* path, HRESULT* result) {
    ICompressFormat* archive = nullptr;
    HRESULT hr = ArcCreateObject(nullptr, path, &archive);
    if (FAILED(hr)) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        *result = hr;
        return nullptr;
    }
    archive->SetMessageCallback(PrintLog, 0);
    if (g_answers.havePassword) archive->SetPassword(g_answers.password.c_str());
    hr = archive->List(nullptr);
    *result = hr;
    if (FAILED(hr)) {
        archive->Release();
        return nullptr;
    }
    return archive;
}

std::string DisplayPath(ICompressFormat* archive, const HDRSTRUCT& entry) {
    char text[GETTEXT_BUFFER + 1] = "";
    archive->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(entry.name), text);
    return text;
}

int List(const char* path) {
    HRESULT hr;
    ICompressFormat* archive = OpenArchive(path, &hr);
    if (!archive) return ExitCode(hr);
    const HDRSTRUCT* entries = archive->GetEntries();
    DWORD count = archive->GetEntryCount();
    for (DWORD i = 0; i < count; ++i) {
        const HDRSTRUCT& e = entries[i];
        char packed[16] = "?";
        char ratio[16] = "?";
        if (e.packedSize != SIZE_UNKNOWN) snprintf(packed, sizeof packed, "%lu", static_cast<unsigned long>(e.packedSize));
        if (e.ratio != RATIO_UNKNOWN) snprintf(ratio, sizeof ratio, "%ld", static_cast<long>(e.ratio));
        SYSTEMTIME t = {};
        FileTimeToSystemTime(&e.time, &t);
        char method[GETTEXT_BUFFER + 1] = "";
        archive->GetText(TEXT_METHOD, e.method, method);
        printf("%08lx\t%lu\t%s\t%s\t%04u-%02u-%02u %02u:%02u:%02u\t%s\t%c\t%s\n",
               static_cast<unsigned long>(e.attributes), static_cast<unsigned long>(e.size), packed, ratio, t.wYear,
               t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, method, (e.flags & HDR_ENCRYPTED) ? '+' : '-',
               DisplayPath(archive, e).c_str());
    }
    DWORD size = 0, packedTotal = 0, folders = 0, files = 0;
    archive->GetTotals(&size, &packedTotal, &folders, &files);
    char packed[16] = "?";
    if (packedTotal != SIZE_UNKNOWN) snprintf(packed, sizeof packed, "%lu", static_cast<unsigned long>(packedTotal));
    printf("totals\t%lu\t%lu\t%lu\t%s\n", static_cast<unsigned long>(files), static_cast<unsigned long>(folders),
           static_cast<unsigned long>(size), packed);
    archive->Release();
    return ExitCode(hr);
}

int Test(const char* path) {
    HRESULT hr;
    ICompressFormat* archive = OpenArchive(path, &hr);
    if (!archive) return ExitCode(hr);
    hr = archive->Test(nullptr);
    archive->Release();
    return ExitCode(hr);
}

struct ExtractOptions {
    std::string destination;
    int overwrite = OVERWRITE_ASK;
    bool onlyNewer = false;
    std::vector<std::string> names;
};

int Extract(const char* path, bool usePaths, const ExtractOptions& options) {
    HRESULT hr;
    ICompressFormat* archive = OpenArchive(path, &hr);
    if (!archive) return ExitCode(hr);
    bool missing = false;
    std::vector<SELHDRSTRUCT> selection;
    const HDRSTRUCT* entries = archive->GetEntries();
    DWORD count = archive->GetEntryCount();
    for (const std::string& name : options.names) {
        bool found = false;
        for (DWORD i = 0; i < count; ++i) {
            if (lstrcmpiA(DisplayPath(archive, entries[i]).c_str(), name.c_str()) == 0 ||
                (entries[i].name && lstrcmpiA(entries[i].name, name.c_str()) == 0)) {
                selection.push_back({i, 0, nullptr});
                found = true;
            }
        }
        if (!found) {
            fprintf(stderr, "tescmd: %s: no such entry\n", name.c_str());
            missing = true;
        }
    }
    if (!options.names.empty() && selection.empty()) {
        archive->Release();
        return kExitWarnings;
    }
    hr = archive->Extract(nullptr, options.overwrite, usePaths, options.onlyNewer, options.destination.c_str(),
                          selection.empty() ? nullptr : selection.data(), static_cast<DWORD>(selection.size()));
    archive->Release();
    int code = ExitCode(hr);
    return (code == kExitOk && missing) ? kExitWarnings : code;
}

// Prints the archive comment (nothing when there is none).
int Comment(const char* path) {
    ICompressFormat* archive = nullptr;
    if (FAILED(ArcCreateObject(nullptr, path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    std::vector<char> text(65536, '\0');
    HRESULT hr = archive->GetComment(nullptr, text.data(), static_cast<DWORD>(text.size()));
    archive->Release();
    if (SUCCEEDED(hr) && text[0]) printf("%s\n", text.data());
    return ExitCode(hr);
}

// The folder the engine may use for temporary files.
std::string TempFolder() {
    char folder[MAX_PATH] = "";
    DWORD length = GetTempPathA(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? folder : ".\\";
}

// Makes a self-extracting program from the archive and a module file.
int MakeExe(const char* path, const char* modulePath, const char* out) {
    HANDLE file = CreateFileA(modulePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "tescmd: %s: cannot be opened\n", modulePath);
        return kExitFailed;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    std::vector<char> module(high == 0 && size != INVALID_FILE_SIZE ? size : 0);
    DWORD got = 0;
    bool read = high == 0 && size != INVALID_FILE_SIZE &&
                (size == 0 || (ReadFile(file, module.data(), size, &got, nullptr) && got == size));
    CloseHandle(file);
    if (!read) {
        fprintf(stderr, "tescmd: %s: cannot be read\n", modulePath);
        return kExitFailed;
    }
    ICompressFormat* archive = nullptr;
    if (FAILED(ArcCreateObject(nullptr, path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    HRESULT hr = archive->MakeEXE(nullptr, TempFolder().c_str(), out, module.data(), size);
    archive->Release();
    return ExitCode(hr);
}

// Writes the archive without the self-extractor module in front of it.
int RemoveExe(const char* path, const char* out) {
    ICompressFormat* archive = nullptr;
    if (FAILED(ArcCreateObject(nullptr, path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    HRESULT hr = archive->RemoveEXE(nullptr, TempFolder().c_str(), out);
    archive->Release();
    return ExitCode(hr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(nullptr);
    ArcSetPromptHandler(&kAnswers);
    std::string command = argv[1];
    if (command == "formats") return argc == 2 ? Formats() : Usage("formats takes no arguments");
    if (command != "l" && command != "t" && command != "x" && command != "e" && command != "c" && command != "sfx" &&
        command != "unsfx")
        return Usage("unknown command");
    if (argc < 3) return Usage("no archive given");
    if (command == "c") return argc == 3 ? Comment(argv[2]) : Usage("unexpected argument");
    if (command == "sfx") return argc == 5 ? MakeExe(argv[2], argv[3], argv[4]) : Usage("sfx takes ARCHIVE MODULE OUT");
    if (command == "unsfx") return argc == 4 ? RemoveExe(argv[2], argv[3]) : Usage("unsfx takes ARCHIVE OUT");
    const char* archive = argv[2];
    ExtractOptions options;
    bool extracting = command == "x" || command == "e";
    for (int i = 3; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == 'p' && command != "l") {
            g_answers.password = arg + 2;
            g_answers.havePassword = true;
        } else if (!extracting) {
            return Usage("unexpected argument");
        } else if (arg[0] == '-' && arg[1] == 'o' && arg[2]) {
            options.destination = arg + 2;
        } else if (!strcmp(arg, "-y")) {
            options.overwrite = OVERWRITE_ALL;
        } else if (!strcmp(arg, "-n")) {
            options.overwrite = OVERWRITE_NEVER;
        } else if (!strcmp(arg, "-u")) {
            options.onlyNewer = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return Usage("unknown option");
        } else {
            options.names.push_back(arg);
        }
    }
    if (command == "l") return List(archive);
    if (command == "t") return Test(archive);
    return Extract(archive, command == "x", options);
}
