// The menus' commands: see shell_commands.h.
#include "shell_commands.h"

#include "add_file_list.h"
#include "module.h"
#include "resource.h"
#include "tescore.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <shellapi.h>

#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace tesshell {
namespace {

using tessera::win32::ComPtr;

// One engine command and everything it needs, owned by its thread.
struct EngineJob {
    enum class Kind { kExtract, kAdd, kConvert } kind = Kind::kExtract;
    HWND owner = nullptr;
    std::string archive;      // the archive read, or the archive added to
    std::string destination;  // extract: the folder; convert: the new archive
    bool usePaths = true;
    std::vector<SelectedItem> items;  // add
    ModuleReference live;
};

// The engine keeps some state per process (the cabinet reader's current
// object, the prompt handler): its commands run one after another.
std::mutex g_engineCommands;

void RunJob(EngineJob& job) {
    std::lock_guard<std::mutex> oneAtATime(g_engineCommands);
    ComPtr<ICompressFormat> archive;
    if (FAILED(ArcCreateObject(job.owner, job.archive.c_str(), archive.put())) || !archive) return;
    switch (job.kind) {
    case EngineJob::Kind::kExtract:
        if (FAILED(archive->List(job.owner))) return;
        archive->Extract(job.owner, OVERWRITE_ASK, job.usePaths, FALSE, job.destination.c_str(), nullptr, 0);
        break;
    case EngineJob::Kind::kAdd: {
        std::vector<std::string> paths = CollectAddPaths(job.items);
        if (paths.empty()) return;
        std::vector<BYTE> list = BuildAddFileList(paths);
        archive->Add(job.owner, FALSE, FALSE, FALSE, 0xFFFFFFFFu, FALSE, FALSE, TRUE, TRUE, FALSE, 0, FALSE,
                     StoreOnlySetting().c_str(), TempFolderSetting().c_str(),
                     reinterpret_cast<const ADDFILEINFO*>(list.data()));
        break;
    }
    case EngineJob::Kind::kConvert:
        archive->RemoveEXE(job.owner, TempFolderSetting().c_str(), job.destination.c_str());
        break;
    }
}

DWORD WINAPI JobThread(void* parameter) {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&JobThread), &self);
    {
        std::unique_ptr<EngineJob> job(static_cast<EngineJob*>(parameter));
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        try {
            RunJob(*job);
        } catch (...) {
            // Out of memory while collecting: the command does nothing.
        }
        if (SUCCEEDED(com)) CoUninitialize();
    }
    // The reference taken above keeps this code loaded until the thread is gone.
    if (self) FreeLibraryAndExitThread(self, 0);
    return 0;
}

bool Start(std::unique_ptr<EngineJob> job) {
    tessera::win32::KernelHandle thread(CreateThread(nullptr, 0, JobThread, job.get(), 0, nullptr));
    if (!thread) return false;
    job.release();  // the thread owns it now
    return true;
}

void Collect(const std::string& folder, std::vector<std::string>& paths) {
    WIN32_FIND_DATAA data;
    tessera::win32::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!find) return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        paths.push_back(path);
        // Links to folders are added as what they are, not followed.
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            Collect(path, paths);
    } while (FindNextFileA(find.get(), &data));
}

}  // namespace

std::string TempFolderSetting() {
    char buffer[MAX_PATH] = "";
    if (!GetProfileString("Settings", "TempPath", buffer) || buffer[0] == '\0') {
        DWORD length = GetTempPathA(MAX_PATH, buffer);
        if (length == 0 || length >= MAX_PATH) buffer[0] = '\0';
    }
    std::string folder = buffer;
    if (!folder.empty() && folder.size() < MAX_PATH - 1 && folder.back() != '\\') folder += '\\';
    return folder;
}

std::string StoreOnlySetting() {
    char buffer[MAX_PATH] = "";
    if (!GetProfileString("Settings", "Suffix", buffer)) return ".z:.zip:.zoo:.arc:.lzh:.arj:.rar";
    return buffer;
}

DWORD MenuOptionsSetting() {
    DWORD value = 0xFFFF;
    if (!GetProfileInt("Shlext", "Settings", &value)) value = 0xFFFF;
    return value;
}

bool StartExtractAll(HWND owner, const std::string& archive, const std::string& destination, bool usePaths) {
    std::unique_ptr<EngineJob> job(new EngineJob);
    job->kind = EngineJob::Kind::kExtract;
    job->owner = owner;
    job->archive = archive;
    job->destination = destination;
    job->usePaths = usePaths;
    return Start(std::move(job));
}

bool StartAddToZip(HWND owner, const std::string& target, const std::vector<SelectedItem>& items) {
    std::unique_ptr<EngineJob> job(new EngineJob);
    job->kind = EngineJob::Kind::kAdd;
    job->owner = owner;
    job->archive = target;
    job->items = items;
    return Start(std::move(job));
}

bool StartConvert(HWND owner, const std::string& archive, const std::string& target) {
    std::unique_ptr<EngineJob> job(new EngineJob);
    job->kind = EngineJob::Kind::kConvert;
    job->owner = owner;
    job->archive = archive;
    job->destination = target;
    return Start(std::move(job));
}

std::vector<std::string> CollectAddPaths(const std::vector<SelectedItem>& items) {
    std::vector<std::string> paths;
    for (const SelectedItem& item : items) {
        if (item.folder) Collect(item.path, paths);
        else paths.push_back(item.path);
    }
    return paths;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void ShellExecuteExplorer(HWND owner, const std::string& parameters) {
    const std::string program = ExplorerProgramPath();
    if (program.empty()) return;
    ShellExecuteA(owner, nullptr, program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

bool CreateExplorerProcess(HWND owner, const std::string& arguments) {
    const std::string program = ExplorerProgramPath();
    std::string commandLine = Quoted(program) + " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The program is named in full: CreateProcessA searches nothing.
    if (!program.empty() && CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                           nullptr, &startup, &process)) {
        tessera::win32::KernelHandle thread(process.hThread), child(process.hProcess);
        return true;
    }
    const DWORD error = program.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
    char* system = nullptr;
    std::string reason;
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPSTR>(&system), 0, nullptr) &&
        system) {
        reason = system;
        LocalFree(system);
    } else {
        reason = FormatText("Error %lu", static_cast<unsigned long>(error));
    }
    const std::string text = FormatText(LoadText(IDS_EXECUTE_FAILED).c_str(), reason.c_str());
    // Never an unowned box on the shell's thread.
    if (owner) MessageBoxA(owner, text.c_str(), "Tessera", MB_OK | MB_ICONSTOP);
    else OutputDebugStringA(text.c_str());
    return false;
}

}  // namespace tesshell
