// What the Setup tests share: a small distribution folder, reading back
// registry values and shortcuts, and the checks of an installation that is
// complete or entirely gone.
#pragma once

#include "setup/records/installation_layout.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessera::setup::testing {

std::wstring Wide(const std::string& text);

// The files of the distribution made by MakeDistribution, relative to it.
extern const std::vector<std::wstring> kDistributionFiles;
// Writes those files (Setup.exe from `setupProgram` when given, else a
// stand-in) into `folder`, which exists.
void MakeDistribution(const std::wstring& folder, const std::wstring& setupProgram = {});

// Runs a program to its end; its exit code, or -1 when it did not start or
// did not end within `milliseconds`.
int RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD milliseconds = 120000);

bool Exists(const std::wstring& path);
std::optional<std::wstring> RegistryString(HKEY root, const std::wstring& key, const wchar_t* value);
bool KeyExists(HKEY root, const std::wstring& key);

struct Shortcut {
    std::wstring target, arguments, iconFile;
    int iconIndex = -1;
};
std::optional<Shortcut> ReadShortcut(const std::wstring& file);

struct InstalledSystem {
    std::wstring folder;    // the installation folder
    std::wstring desktop;   // the desktop folder the shortcut went to
    std::wstring programs;  // the Programs folder the group went to
    HKEY root = HKEY_LOCAL_MACHINE;
};
// Every file, shortcut, value and record an installation makes.
void ExpectInstalled(const InstalledSystem& system);
// Nothing of it is left, but the installation folder itself with the files
// named in `left` (what the uninstaller's batch file deletes after it).
void ExpectRemoved(const InstalledSystem& system, const std::vector<std::wstring>& left = {});

// Points a shell folder of the current user ("Desktop", "Programs")
// elsewhere while it lives, as folder redirection does.
class RedirectedShellFolder {
public:
    RedirectedShellFolder(const wchar_t* name, const std::wstring& folder);
    ~RedirectedShellFolder();
    RedirectedShellFolder(const RedirectedShellFolder&) = delete;
    RedirectedShellFolder& operator=(const RedirectedShellFolder&) = delete;

private:
    void Set(const std::wstring& folder);
    const wchar_t* name_;
    std::optional<std::wstring> previous_;
};

// Deletes every trace an installation could have left in the registry
// (for a clean start after a failed test).
void ForgetRegistry(HKEY root);

}  // namespace tessera::setup::testing
