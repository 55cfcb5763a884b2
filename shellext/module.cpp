// Server-wide state: see module.h.
#include "module.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tesshell {
namespace {

HINSTANCE g_module = nullptr;
LONG g_liveObjects = 0;

}  // namespace

HINSTANCE ModuleInstance() { return g_module; }
void LockModule() { InterlockedIncrement(&g_liveObjects); }
void UnlockModule() { InterlockedDecrement(&g_liveObjects); }
LONG LiveObjectCount() { return InterlockedCompareExchange(&g_liveObjects, 0, 0); }

std::string ModuleFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string ExplorerProgramPath() {
    const std::string folder = ModuleFolder();
    if (folder.empty()) return folder;
    const std::string beside = folder + "tessera.exe";
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    // The 64-bit library of the 32-bit product lies in the installation's "x64" folder.
    const size_t slash = folder.find_last_of("\\/", folder.size() - 2);
    if (slash != std::string::npos && _stricmp(folder.c_str() + slash + 1, "x64\\") == 0)
        return folder.substr(0, slash + 1) + "tessera.exe";
    return beside;
}

std::string LoadText(UINT id) {
    char buffer[512];
    int length = LoadStringA(g_module, id, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

std::string FormatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

}  // namespace tesshell

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        tesshell::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
