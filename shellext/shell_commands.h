// The commands of the menus: the ones the engine does directly (extract
// all, add to a ZIP archive, convert a self-extracting archive back) run on
// a thread of their own so that the shell's thread never waits for archive
// work; the ones that need the explorer's dialogs start tessera.exe from
// this library's folder with its command-line options.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tesshell {

// The settings the commands read: section "Settings", values "TempPath"
// (the system's temporary folder when missing; ends in a backslash) and
// "Suffix" (the extensions stored without compression), and the menus'
// option bits (section "Shlext", value "Settings").
std::string TempFolderSetting();
std::string StoreOnlySetting();
DWORD MenuOptionsSetting();

// One selected item: its full path and whether it is a folder.
struct SelectedItem {
    std::string path;
    bool folder = false;
};

// Engine commands, each on its own thread (the library stays loaded and
// counts one live object until it ends). `owner` owns the engine's boxes and
// progress. False when the thread could not be started.
bool StartExtractAll(HWND owner, const std::string& archive, const std::string& destination, bool usePaths);
bool StartAddToZip(HWND owner, const std::string& target, const std::vector<SelectedItem>& items);
bool StartConvert(HWND owner, const std::string& archive, const std::string& target);

// The file paths an add of `items` takes: each selected file, and what lies
// below each selected folder (its folders and files, hidden ones too).
std::vector<std::string> CollectAddPaths(const std::vector<SelectedItem>& items);

// "\"text\"" for a command line.
std::string Quoted(const std::string& text);

// tessera.exe with `parameters` through ShellExecuteA (failures are not
// reported: the shell's own handling shows them).
void ShellExecuteExplorer(HWND owner, const std::string& parameters);
// tessera.exe with `arguments` through CreateProcessA; a failure is shown
// in a box owned by `owner` ("Error occured while executing Tessera: %s").
bool CreateExplorerProcess(HWND owner, const std::string& arguments);

}  // namespace tesshell
