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
//   tescmd a ARCHIVE [-l0..4] [-u|-f] [-m] [-pPASSWORD] [-s LIST] [-b] [-t] [-P|-R|-j] [-8] [-v SIZE] FILES...
//   tescmd d ARCHIVE [-b] [-t] NAMES...
//   tescmd c ARCHIVE [-m TEXT]
//   tescmd attr ARCHIVE NAME ATTRIBUTES [COMMENT]
//   tescmd sfx ARCHIVE [-p:OUT.exe] [-i] [-l:LNG] [-e1..-e4[:FOLDER]] [-x1..-x5:PROGRAM] [-d] [-o]
//   tescmd sfx ARCHIVE MODULE-FILE OUT.exe
//   tescmd unsfx ARCHIVE OUT
//
// `a` stores the paths of FILES relative to the current folder, as they were
// given (a folder with everything below it; a path outside the current
// folder whole, without its drive); -R, -P and -j choose the engine's other
// naming modes.
//
// Exit codes: 0 done, and for t, x and e every selected entry was processed
// and checked clean; 1 done, but entries were skipped (unsupported,
// password not given, existing file kept) or, for the other commands,
// warnings were logged; 2 an entry failed (checksum, damaged data, a write
// error) or the archive could not be opened or written; 3 cancelled;
// 7 usage. For t, x and e the code comes from the engine's outcome counts
// (IArchiveOutcome), never from the log text.
//
// For tests: TESSERA_FAULT_WRITE and TESSERA_FAULT_READ ("N" or "N,ERROR")
// make the Nth write or read of the engine's operation fail with ERROR
// (ArcTestingSetFileFault); the engine itself reads no environment.
#include "add_file_list.h"
#include "sfxlib/sfx_creation.h"
#include "tescore.h"
#include "tescore_testing.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The archive object: released when the last owner lets go.
using Archive = tessera::win32::ComPtr<ICompressFormat>;

const int kExitOk = 0;
const int kExitWarnings = 1;  // done, but entries were skipped or warnings logged
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
    "  tescmd a ARCHIVE [options] FILES     add files and folders (folders with their content)\n"
    "  tescmd d ARCHIVE [-b] [-t] NAMES     delete entries\n"
    "  tescmd c ARCHIVE                     print the archive comment\n"
    "  tescmd c ARCHIVE -m TEXT             set the archive comment (empty TEXT removes it)\n"
    "  tescmd attr ARCHIVE NAME ATTR [TEXT] set an entry's attributes (hex, or letters of RHSA)\n"
    "                                       and its comment (kept when TEXT is left out)\n"
    "  tescmd sfx ARCHIVE [options]         make a self-extracting program with a stub of tesstub.dll\n"
    "  tescmd sfx ARCHIVE MODULE OUT.exe    write MODULE followed by the archive to OUT.exe\n"
    "  tescmd unsfx ARCHIVE OUT             write the archive without its program part to OUT\n"
    "options of sfx (those of the program's /S form):\n"
    "  -p:OUT.exe  the program to write (default: the archive's name with .exe)\n"
    "  -i          the stub for setup programs (no questions, starts and waits)\n"
    "  -l:LNG      stub language by its abbreviation (DEU, ENU; after -i)\n"
    "  -e1..-e4    extract to the temporary, current, Windows or the named folder;\n"
    "              :FOLDER right behind names the folder (below the base for -e1..-e3)\n"
    "  -x1..-x5:P  run P after extracting, from the extract, temporary, current,\n"
    "              Windows folder, or P is a whole command line (-x5)\n"
    "  -d          delete the extracted files after P ends (after -x)\n"
    "  -o          overwrite without asking (interactive stubs; after -i)\n"
    "options of x and e:\n"
    "  -oDIR       destination folder (default: the current folder)\n"
    "  -y          overwrite existing files\n"
    "  -n          never overwrite existing files\n"
    "              (default: skip existing files and say so)\n"
    "  -u          extract only entries newer than the existing files\n"
    "  -pPASSWORD  password for encrypted entries\n"
    "options of a:\n"
    "  -l0..-l4    level: 0 maximum, 1 very good, 2 normal (default), 3 low, 4 none;\n"
    "              cabinets: 0 LZX (maximal memory), 1 LZX (less memory),\n"
    "              2 LZX (minimal memory), 3 MSZIP, 4 none\n"
    "  -u          update: add new files, replace entries whose file is newer\n"
    "  -f          freshen: only replace entries whose file is newer\n"
    "  -m          move: delete the added files afterwards\n"
    "  -pPASSWORD  encrypt the added files\n"
    "  -s LIST     store without compression files ending in one of LIST (\".zip;.jpg\")\n"
    "  -b          keep the old archive as a backup (.bak)\n"
    "  -t          give the archive the time of its newest entry\n"
    "  -P          store full paths (without the drive)\n"
    "  -R          store paths relative to the folder all FILES share\n"
    "  -j          store file names only, without folders\n"
    "              (default: paths relative to the current folder, as FILES give them;\n"
    "              a path outside that folder is stored whole, without the drive)\n"
    "  -8          store 8.3 names\n"
    "  -v SIZE     split into volumes of SIZE bytes (k or m for KB, MB), formats\n"
    "              that span: ARCHIVE data.cab gives data01.cab, data02.cab, ...\n"
    "NAMES select entries by their path in the archive (as 'l' shows it).\n"
    "exit codes:\n"
    "  0  done; t, x, e: every selected entry processed and checked clean\n"
    "  1  done, but entries were skipped (unsupported, no password, existing file kept),\n"
    "     or, for the other commands, warnings were logged\n"
    "  2  an entry failed (bad checksum, damaged data, write error),\n"
    "     or the archive could not be opened or written\n"
    "  3  cancelled\n"
    "  7  usage\n";

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

// The code of an extract or test: from what the engine says happened to
// the entries. The result code alone cannot tell: a test always ends with
// its summary as a warning line, and a run in which every entry was
// skipped (nothing could be processed) answers E_FAIL.
int OutcomeExitCode(const Archive& archive, HRESULT hr) {
    if (hr == E_ABORT) return kExitCancelled;
    tessera::win32::ComPtr<IArchiveOutcome> view;
    if (FAILED(archive.As(IID_IArchiveOutcome, &view))) return ExitCode(hr);
    ARCOUTCOME outcome = {};
    outcome.cbSize = sizeof outcome;
    HRESULT got = view->GetOutcome(&outcome);
    if (FAILED(got)) return ExitCode(hr);
    if (outcome.failed != 0 || outcome.damaged != 0 || outcome.missing != 0) return kExitFailed;
    if (FAILED(hr) && hr != E_FAIL) return ExitCode(hr);  // no memory, not offered, ...
    if (outcome.skipped != 0) return kExitWarnings;
    return SUCCEEDED(hr) ? kExitOk : kExitFailed;
}

// Faults a test asked for through the environment (see the header).
void ArmFaultsForTests() {
    const struct {
        const char* variable;
        DWORD kind;
    } faults[] = {{"TESSERA_FAULT_WRITE", ARC_FAULT_WRITE}, {"TESSERA_FAULT_READ", ARC_FAULT_READ}};
    for (const auto& fault : faults) {
        const char* value = getenv(fault.variable);
        if (!value) continue;
        char* end = nullptr;
        unsigned long nth = strtoul(value, &end, 10);
        unsigned long error = (end && *end == ',') ? strtoul(end + 1, nullptr, 10) : 0;
        ArcTestingSetFileFault(fault.kind, static_cast<DWORD>(nth), static_cast<DWORD>(error));
    }
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
// The archive object of a path. The factory takes every ".exe" for a
// self-extracting ZIP archive; any other self-extracting program is
// recognised by its content: an object of each plain format that has a
// self-extracting variant is asked to find its archive in the file.
HRESULT CreateArchiveObject(const char* path, Archive* archive) {
    HRESULT hr = ArcCreateObject(nullptr, path, archive->put());
    if (SUCCEEDED(hr)) return hr;
    FORMATINFO found;
    UINT foundId = 0;
    if (FAILED(ArcGetFormatOf(path, &found, &foundId)) || !(found.variant & 0xFF)) return hr;
    UINT count = ArcGetFormatCount();
    for (UINT id = 1; id < count; ++id) {
        FORMATINFO row, plain;
        if (id == foundId || FAILED(ArcGetFormatAt(id, &row)) || !(row.variant & 0xFF) ||
            lstrcmpiA(row.extension, found.extension) != 0 || FAILED(ArcGetFormatAt(id - 1, &plain)))
            continue;
        // The plain format's object, made for a stand-in name (the factory
        // does not look into plain archives), then pointed at the file.
        std::string standIn = std::string("archive") + plain.extension;
        Archive candidate;
        if (FAILED(ArcCreateObject(nullptr, standIn.c_str(), candidate.put()))) continue;
        candidate->SetArchivePath(path);
        BOOL searched = FALSE;
        if (candidate->Check(nullptr, &searched) == S_OK) {
            *archive = std::move(candidate);
            return S_OK;
        }
    }
    return hr;
}

Archive OpenArchive(const char* path, HRESULT* result) {
    Archive archive;
    HRESULT hr = CreateArchiveObject(path, &archive);
    if (FAILED(hr)) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        *result = hr;
        return Archive();
    }
    archive->SetMessageCallback(PrintLog, 0);
    if (g_answers.havePassword) archive->SetPassword(g_answers.password.c_str());
    hr = archive->List(nullptr);
    *result = hr;
    if (FAILED(hr)) return Archive();
    return archive;
}

std::string DisplayPath(const Archive& archive, const HDRSTRUCT& entry) {
    char text[GETTEXT_BUFFER + 1] = "";
    archive->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(entry.name), text);
    return text;
}

int List(const char* path) {
    HRESULT hr;
    Archive archive = OpenArchive(path, &hr);
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
    return ExitCode(hr);
}

int Test(const char* path) {
    HRESULT hr;
    Archive archive = OpenArchive(path, &hr);
    if (!archive) return ExitCode(hr);
    hr = archive->Test(nullptr);
    int code = OutcomeExitCode(archive, hr);
    return code;
}

struct ExtractOptions {
    std::string destination;
    int overwrite = OVERWRITE_ASK;
    bool onlyNewer = false;
    std::vector<std::string> names;
};

int Extract(const char* path, bool usePaths, const ExtractOptions& options) {
    HRESULT hr;
    Archive archive = OpenArchive(path, &hr);
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
        return kExitWarnings;
    }
    hr = archive->Extract(nullptr, options.overwrite, usePaths, options.onlyNewer, options.destination.c_str(),
                          selection.empty() ? nullptr : selection.data(), static_cast<DWORD>(selection.size()));
    int code = OutcomeExitCode(archive, hr);
    return (code == kExitOk && missing) ? kExitWarnings : code;
}

// Prints the archive comment (nothing when there is none).
int Comment(const char* path) {
    Archive archive;
    if (FAILED(CreateArchiveObject(path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    std::vector<char> text(65536, '\0');
    HRESULT hr = archive->GetComment(nullptr, text.data(), static_cast<DWORD>(text.size()));
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
    tessera::win32::FileHandle file(
        CreateFileA(modulePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        fprintf(stderr, "tescmd: %s: cannot be opened\n", modulePath);
        return kExitFailed;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file.get(), &high);
    std::vector<char> module(high == 0 && size != INVALID_FILE_SIZE ? size : 0);
    DWORD got = 0;
    bool read = high == 0 && size != INVALID_FILE_SIZE &&
                (size == 0 || (ReadFile(file.get(), module.data(), size, &got, nullptr) && got == size));
    file.reset();
    if (!read) {
        fprintf(stderr, "tescmd: %s: cannot be read\n", modulePath);
        return kExitFailed;
    }
    Archive archive;
    if (FAILED(CreateArchiveObject(path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    HRESULT hr = archive->MakeEXE(nullptr, TempFolder().c_str(), out, module.data(), size);
    return ExitCode(hr);
}

// Makes a self-extracting program with a stub of tesstub.dll, the options
// being those of the program's /S form.
int MakeExeFromStubLibrary(const char* path, char** options, int count) {
    Archive archive;
    if (FAILED(CreateArchiveObject(path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    if (FAILED(archive->List(nullptr))) return kExitFailed;  // the totals go into the block
    tessera::win32::ModuleHandle library = tessera::sfx::LoadStubLibrary();
    if (!library) {
        fprintf(stderr, "tescmd: tesstub.dll cannot be loaded\n");
        return kExitFailed;
    }
    tessera::sfx::CreationSettings settings = tessera::sfx::DefaultCreationSettings(archive->GetArchivePath());
    for (int i = 0; i < count; ++i) tessera::sfx::ApplyCreationOption(settings, options[i], archive.get(), library.get());
    HRESULT hr = tessera::sfx::CreateSelfExtractor(archive.get(), library.get(), settings, nullptr, TempFolder().c_str());
    if (hr == tessera::sfx::kNoStub) {
        fprintf(stderr, "tescmd: %s: tesstub.dll has no self-extractor of this kind and language\n", path);
        return kExitFailed;
    }
    if (SUCCEEDED(hr)) printf("%s\n", settings.outputFile.c_str());
    return ExitCode(hr);
}

// Writes the archive without the self-extractor module in front of it.
int RemoveExe(const char* path, const char* out) {
    Archive archive;
    if (FAILED(CreateArchiveObject(path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return kExitFailed;
    }
    archive->SetMessageCallback(PrintLog, 0);
    HRESULT hr = archive->RemoveEXE(nullptr, TempFolder().c_str(), out);
    return ExitCode(hr);
}


// The folder of an archive path: temporary files are made beside the
// archive, so the finished archive replaces the old one by a rename.
std::string FolderOf(const char* path) {
    char full[MAX_PATH];
    LPSTR name = nullptr;
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH || !name) return TempFolder();
    *name = '\0';
    return full;
}

// Creates the archive object without listing (the archive may not exist yet).
Archive CreateObject(const char* path) {
    Archive archive;
    if (FAILED(CreateArchiveObject(path, &archive))) {
        fprintf(stderr, "tescmd: %s: not an archive of a known format\n", path);
        return Archive();
    }
    archive->SetMessageCallback(PrintLog, 0);
    return archive;
}

struct AddOptions {
    UINT level = 2;
    bool update = false;
    bool freshen = false;
    bool move = false;
    bool backup = false;
    bool newestTime = false;
    bool fullPaths = false;
    bool relativePaths = false;
    bool namesOnly = false;
    bool shortNames = false;
    bool split = false;
    UINT volumeSize = 0;
    std::string storeOnly;
    std::vector<std::string> files;
};

// Appends a path and, for a folder, everything below it.
void CollectFiles(const std::string& path, std::vector<std::string>* out) {
    out->push_back(path);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    WIN32_FIND_DATAA found;
    std::vector<std::string> names;
    {
        tessera::win32::FindHandle find(FindFirstFileA((path + "\\*").c_str(), &found));
        if (!find) return;
        do {
            if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..")) names.push_back(found.cFileName);
        } while (FindNextFileA(find.get(), &found));
    }
    for (const std::string& name : names) CollectFiles(path + "\\" + name, out);
}


// The stored name of a full path: the part below the current folder, or for
// a path outside it the whole path without its drive; '/' between folders
// and after a folder, the form of a ZIP name (the cabinet writer turns the
// slashes into its own backslashes).
std::string NameBelowCurrentFolder(const std::string& fullPath, bool shortNames) {
    auto shortForm = [shortNames](const std::string& path) {
        char shorter[MAX_PATH];
        DWORD length = shortNames ? GetShortPathNameA(path.c_str(), shorter, MAX_PATH) : 0;
        return length > 0 && length < MAX_PATH ? std::string(shorter, length) : path;
    };
    char current[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
    std::string folder = length > 0 && length < MAX_PATH ? shortForm(std::string(current, length)) : std::string();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    std::string path = shortForm(fullPath);
    std::string name;
    if (!folder.empty() && path.size() >= folder.size() &&
        CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path.c_str(), static_cast<int>(folder.size()),
                       folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL) {
        name = path.substr(folder.size());
    } else {
        size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
        while (start < path.size() && path[start] == '\\') ++start;
        name = path.substr(start);
    }
    for (char& c : name)
        if (c == '\\') c = '/';
    DWORD attributes = GetFileAttributesA(fullPath.c_str());
    if (!name.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        name += '/';
    return name;
}

int Add(const char* path, const AddOptions& options) {
    std::vector<std::string> paths;
    for (const std::string& file : options.files) {
        char full[MAX_PATH];
        DWORD length = GetFullPathNameA(file.c_str(), MAX_PATH, full, nullptr);
        if (length == 0 || length >= MAX_PATH || GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "tescmd: %s: no such file or folder\n", file.c_str());
            continue;
        }
        std::string fullPath(full, length);
        while (fullPath.size() > 3 && (fullPath.back() == '\\' || fullPath.back() == '/')) fullPath.pop_back();
        CollectFiles(fullPath, &paths);
    }
    if (paths.empty()) {
        fprintf(stderr, "tescmd: nothing to add\n");
        return kExitFailed;
    }
    Archive archive = CreateObject(path);
    if (!archive) return kExitFailed;
    if (g_answers.havePassword) archive->SetPassword(g_answers.password.c_str());
    // The default names its files itself; -P, -R and -j leave it to the engine.
    const bool ownNames = !options.fullPaths && !options.relativePaths && !options.namesOnly;
    std::vector<std::string> names;
    std::vector<const char*> storedNames;
    if (ownNames) {
        for (const std::string& file : paths) names.push_back(NameBelowCurrentFolder(file, options.shortNames));
        for (const std::string& name : names) storedNames.push_back(name.c_str());
    }
    std::vector<BYTE> list = BuildAddFileList(paths, storedNames);
    HRESULT hr = archive->Add(nullptr, options.move, options.shortNames, options.backup, options.level,
                              options.update, options.freshen, ownNames || options.fullPaths, options.relativePaths,
                              options.split, options.volumeSize, options.newestTime, options.storeOnly.c_str(),
                              FolderOf(path).c_str(), reinterpret_cast<const ADDFILEINFO*>(list.data()));
    return ExitCode(hr);
}

// The selection records of the entries named (by display path or stored
// name); reports names that match nothing.
std::vector<SELHDRSTRUCT> SelectEntries(const Archive& archive, const std::vector<std::string>& names,
                                        bool* missing) {
    std::vector<SELHDRSTRUCT> selection;
    const HDRSTRUCT* entries = archive->GetEntries();
    DWORD count = archive->GetEntryCount();
    for (const std::string& name : names) {
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
            *missing = true;
        }
    }
    return selection;
}

int Delete(const char* path, const std::vector<std::string>& names, bool backup, bool newestTime) {
    HRESULT hr;
    Archive archive = OpenArchive(path, &hr);
    if (!archive) return ExitCode(hr);
    bool missing = false;
    std::vector<SELHDRSTRUCT> selection = SelectEntries(archive, names, &missing);
    if (selection.empty()) {
        return kExitFailed;
    }
    hr = archive->Delete(nullptr, backup, newestTime, FolderOf(path).c_str(), selection.data(),
                         static_cast<DWORD>(selection.size()));
    int code = ExitCode(hr);
    return (code == kExitOk && missing) ? kExitWarnings : code;
}

int SetComment(const char* path, const char* text) {
    Archive archive = CreateObject(path);
    if (!archive) return kExitFailed;
    HRESULT hr = archive->SetComment(nullptr, FolderOf(path).c_str(), text);
    return ExitCode(hr);
}

// "0x21", "33" or letters of R, H, S, A.
bool ParseAttributes(const char* text, DWORD* attributes) {
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (end && *end == '\0' && end != text) {
        *attributes = static_cast<DWORD>(value);
        return true;
    }
    DWORD letters = 0;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case 'r': case 'R': letters |= FILE_ATTRIBUTE_READONLY; break;
        case 'h': case 'H': letters |= FILE_ATTRIBUTE_HIDDEN; break;
        case 's': case 'S': letters |= FILE_ATTRIBUTE_SYSTEM; break;
        case 'a': case 'A': letters |= FILE_ATTRIBUTE_ARCHIVE; break;
        case '-': break;
        default: return false;
        }
    }
    *attributes = letters;
    return true;
}

int SetAttributes(const char* path, const char* name, const char* attributeText, const char* comment) {
    DWORD attributes = 0;
    if (!ParseAttributes(attributeText, &attributes)) return Usage("attributes are hex or letters of RHSA");
    HRESULT hr;
    Archive archive = OpenArchive(path, &hr);
    if (!archive) return ExitCode(hr);
    bool missing = false;
    std::vector<SELHDRSTRUCT> selection = SelectEntries(archive, {name}, &missing);
    if (selection.empty()) {
        return kExitFailed;
    }
    // One ENTRYPROPS record per entry: the attributes, then the comment.
    std::vector<std::vector<char>> records;
    for (SELHDRSTRUCT& record : selection) {
        const HDRSTRUCT& entry = archive->GetEntries()[record.index];
        char kept[GETTEXT_BUFFER + 1] = "";
        if (!comment && entry.comment) archive->GetText(TEXT_COMMENT, reinterpret_cast<DWORD_PTR>(entry.comment), kept);
        const char* text = comment ? comment : kept;
        std::vector<char> props(sizeof(DWORD) + strlen(text) + 1);
        memcpy(props.data(), &attributes, sizeof attributes);
        memcpy(props.data() + sizeof attributes, text, strlen(text) + 1);
        records.push_back(std::move(props));
        record.detail = records.back().data();
    }
    hr = archive->UpdateEntries(nullptr, FolderOf(path).c_str(), selection.data(),
                                static_cast<DWORD>(selection.size()));
    return ExitCode(hr);
}

// "65536", "64k", "2m": a volume size of at most 4 GB - 1.
bool ParseVolumeSize(const char* text, UINT* size) {
    char* end = nullptr;
    unsigned long long value = strtoull(text, &end, 10);
    if (!end || end == text || text[0] == '-') return false;
    if (*end == 'k' || *end == 'K') {
        value *= 1024;
        ++end;
    } else if (*end == 'm' || *end == 'M') {
        value *= 1048576;
        ++end;
    }
    if (*end != '\0' || value == 0 || value > 0xFFFFFFFFull) return false;
    *size = static_cast<UINT>(value);
    return true;
}

// Options of `a`; returns false with a usage problem.
bool ParseAddOptions(int argc, char** argv, AddOptions* options, const char** problem) {
    for (int i = 3; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            options->files.push_back(arg);
        } else if (arg[1] == 'l' && arg[2] >= '0' && arg[2] <= '4' && arg[3] == '\0') {
            options->level = static_cast<UINT>(arg[2] - '0');
        } else if (arg[1] == 'p') {
            g_answers.password = arg + 2;
            g_answers.havePassword = !g_answers.password.empty();
        } else if (!strcmp(arg, "-s")) {
            if (++i >= argc) {
                *problem = "-s needs a list";
                return false;
            }
            options->storeOnly = argv[i];
        } else if (!strcmp(arg, "-u")) {
            options->update = true;
        } else if (!strcmp(arg, "-f")) {
            options->freshen = true;
        } else if (!strcmp(arg, "-m")) {
            options->move = true;
        } else if (!strcmp(arg, "-b")) {
            options->backup = true;
        } else if (!strcmp(arg, "-t")) {
            options->newestTime = true;
        } else if (!strcmp(arg, "-P")) {
            options->fullPaths = true;
        } else if (!strcmp(arg, "-R")) {
            options->relativePaths = true;
        } else if (!strcmp(arg, "-j")) {
            options->namesOnly = true;
        } else if (!strcmp(arg, "-8")) {
            options->shortNames = true;
        } else if (!strcmp(arg, "-v")) {
            if (++i >= argc || !ParseVolumeSize(argv[i], &options->volumeSize)) {
                *problem = "-v needs a size in bytes (or with k or m)";
                return false;
            }
            options->split = true;
        } else {
            *problem = "unknown option";
            return false;
        }
    }
    if (options->update && options->freshen) {
        *problem = "-u and -f exclude each other";
        return false;
    }
    if (options->fullPaths + options->relativePaths + options->namesOnly > 1) {
        *problem = "-P, -R and -j exclude each other";
        return false;
    }
    if (options->files.empty()) {
        *problem = "no files given";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(nullptr);
    ArcSetPromptHandler(&kAnswers);
    ArmFaultsForTests();
    std::string command = argv[1];
    if (command == "formats") return argc == 2 ? Formats() : Usage("formats takes no arguments");
    if (command != "l" && command != "t" && command != "x" && command != "e" && command != "c" && command != "sfx" &&
        command != "unsfx" && command != "a" && command != "d" && command != "attr")
        return Usage("unknown command");
    if (argc < 3) return Usage("no archive given");
    if (command == "c") {
        if (argc == 3) return Comment(argv[2]);
        if (argc == 5 && !strcmp(argv[3], "-m")) return SetComment(argv[2], argv[4]);
        return Usage("c takes ARCHIVE [-m TEXT]");
    }
    if (command == "sfx") {
        if (argc == 5 && argv[3][0] != '-') return MakeExe(argv[2], argv[3], argv[4]);
        return MakeExeFromStubLibrary(argv[2], argv + 3, argc - 3);
    }
    if (command == "unsfx") return argc == 4 ? RemoveExe(argv[2], argv[3]) : Usage("unsfx takes ARCHIVE OUT");
    if (command == "attr") {
        if (argc != 5 && argc != 6) return Usage("attr takes ARCHIVE NAME ATTRIBUTES [COMMENT]");
        return SetAttributes(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    }
    if (command == "a") {
        AddOptions options;
        const char* problem = nullptr;
        if (!ParseAddOptions(argc, argv, &options, &problem)) return Usage(problem);
        return Add(argv[2], options);
    }
    if (command == "d") {
        bool backup = false, newestTime = false;
        std::vector<std::string> names;
        for (int i = 3; i < argc; ++i) {
            if (!strcmp(argv[i], "-b")) backup = true;
            else if (!strcmp(argv[i], "-t")) newestTime = true;
            else if (argv[i][0] == '-' && argv[i][1]) return Usage("unknown option");
            else names.push_back(argv[i]);
        }
        if (names.empty()) return Usage("d takes ARCHIVE NAMES");
        return Delete(argv[2], names, backup, newestTime);
    }
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
            // Absolute once here, not resolved again for every file written.
            char full[MAX_PATH];
            const DWORD length = GetFullPathNameA(arg + 2, MAX_PATH, full, nullptr);
            options.destination = length > 0 && length < MAX_PATH ? std::string(full, length) : std::string(arg + 2);
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
