// Installation and uninstallation without a window: the wizards and the
// unattended runs of Setup.exe drive these functions, and so do the tests.
//
// An installation copies every file below the source folder into the
// installation folder, creates the shortcuts, writes the registry values
// and records each thing it made as an uninstall record; last it writes
// the records to "Uninstall.dat". When a file cannot be copied, a key or
// value cannot be written or the records cannot be saved, everything done
// so far is undone (the records made so far are replayed) and the failure
// is returned with the system's error code: a half-installed system without
// uninstall information is never left behind. Shortcuts are extras: one
// that cannot be saved is reported and the installation goes on.
//
// An uninstallation reads "Uninstall.dat", checks that every record names
// something an installation into those folders creates (a damaged or edited
// file deletes nothing) and replays the records in the order they were made.
// A file in use is scheduled for deletion at the next start of Windows.
//
// The shell extension tesshell.dll in the installation folder is registered
// in-process through its DllRegisterServer after a successful installation.
// A 32-bit Setup on 64-bit Windows also registers the 64-bit one in the
// folder "x64" (the 64-bit shell loads no other) through the 64-bit
// regsvr32.exe; its file record in "Uninstall.dat" makes the uninstallation
// unregister it the same way ("/u") before anything is deleted.
#pragma once

#include "setup/records/installation_layout.h"
#include "setup/records/setup_options.h"
#include "setup/records/uninstall_records.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessera::setup {

// UTF-16 texts of the records and the wide API's strings are the same units.
inline std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string ToRecordText(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// The two steps the ready page shows, and the states of their indicators
// (the indices of the step images).
enum class InstallStep { CopyFiles, CreateLinks };
enum class StepState : uint8_t { Done = 0, InProgress = 2, Failed = 3, NotStarted = 255 };
using StepObserver = std::function<void(InstallStep, StepState)>;

struct InstallationRequest {
    std::wstring sourceFolder;        // the distribution folder (Setup.exe's own)
    std::wstring installationFolder;  // created when missing
    std::wstring desktopFolder;
    std::wstring programsFolder;      // the program group is made below it
    InstallScope scope = InstallScope::Machine;  // which registry root
};

struct InstallationResult {
    DWORD error = ERROR_SUCCESS;  // why the installation failed (and was undone)
    std::wstring subject;         // the file, folder or key it failed on
    bool linksFailed = false;     // a shortcut could not be saved
    bool shellExtensionFailed = false;  // a tesshell.dll refused its registration
    bool succeeded() const { return error == ERROR_SUCCESS; }
};

InstallationResult Install(const InstallationRequest& request, const StepObserver& observe = {});

// What "Uninstall.dat" in `installationFolder` holds, when it is valid and
// every record lies within the installation (see RecordsWithinInstallation).
struct UninstallInformation {
    bool valid = false;
    std::string problem;  // why not, for the log of an unattended run
    std::vector<UninstallRecord> records;
};
UninstallInformation LoadUninstallInformation(const std::wstring& installationFolder,
                                              const std::wstring& desktopFolder,
                                              const std::wstring& programsFolder);

struct UninstallationResult {
    size_t failed = 0;                      // records that could not be carried out
    std::vector<std::wstring> atRestart;    // files in use, deleted when Windows starts next
};
// Carries out the records in the order they were made; `keepFile` (the
// running Setup.exe, deleted afterwards by its batch file) is left alone.
UninstallationResult Uninstall(const UninstallInformation& information, const std::wstring& keepFile = {});

// Makes the program of an installation the program for ".zip" files, in
// the installation's registry root (the machine's classes or the current
// user's): its class "Tessera.File" with icon and open command, the
// extension's previous owner kept beside it. The installation's uninstall
// information (which must be valid) gains the records that undo it, so that
// uninstalling hands the extension back; when they cannot be saved the
// association is undone. ERROR_SUCCESS, or why it failed.
DWORD AssociateZip(const std::wstring& installationFolder, const std::wstring& desktopFolder,
                   const std::wstring& programsFolder);

// Writes "Complete_Tessera_Uninstallation.bat" to the temporary folder and
// starts it hidden: it waits until `program` has ended, deletes it, removes
// its folder when empty and deletes itself.
bool StartSelfDeletion(const std::wstring& program);

// The folders and defaults of the machine Setup runs on.
std::wstring DesktopFolder();
std::wstring ProgramsFolder();
std::wstring ProgramGroupFolder(const std::wstring& programsFolder);
std::wstring DefaultInstallationFolder(InstallScope scope);
bool IsProcessElevated();

// The system's text of an error code, without the final line break.
std::wstring SystemErrorText(DWORD error);

}  // namespace tessera::setup
