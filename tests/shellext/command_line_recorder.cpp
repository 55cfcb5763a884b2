// Stands in for tessera.exe beside a copy of the shell extension: writes
// the command line it was started with to "<its own path>.args" and ends.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 10) return 1;
    const std::string target = std::string(path) + ".args";
    const std::string partial = target + ".partial";
    const char* commandLine = GetCommandLineA();
    HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, commandLine, static_cast<DWORD>(lstrlenA(commandLine)), &written, nullptr);
    CloseHandle(file);
    // Whole or not at all for the test that waits for it.
    return MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
