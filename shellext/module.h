// Server-wide state of tesshell.dll: its module handle, the count of live
// objects that decides whether the shell may unload it, its own folder and
// its string table; and the guard that keeps C++ exceptions inside the DLL.
#pragma once

#include <windows.h>

#include <new>
#include <string>

namespace tesshell {

HINSTANCE ModuleInstance();

// Live objects: class factories, extension objects, open property pages and
// running commands. Changed from the shell's thread and from command threads.
void LockModule();
void UnlockModule();
LONG LiveObjectCount();

// The folder of tesshell.dll, ending in a backslash (ANSI).
std::string ModuleFolder();
// The program started for the commands that need the explorer's dialogs:
// tessera.exe beside this library (above it for the 64-bit library in the
// "x64" folder of the 32-bit product), never one found on a search path.
std::string ExplorerProgramPath();

// A string of this library's table ("" when missing).
std::string LoadText(UINT id);
// printf-style formatting into a std::string.
std::string FormatText(const char* format, ...);

// Runs a COM method body: an exception never reaches the shell.
template <class Body>
HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// One object counted for as long as it lives.
class ModuleReference {
public:
    ModuleReference() noexcept { LockModule(); }
    ~ModuleReference() { UnlockModule(); }
    ModuleReference(const ModuleReference&) noexcept { LockModule(); }
    ModuleReference& operator=(const ModuleReference&) noexcept { return *this; }
};

}  // namespace tesshell
