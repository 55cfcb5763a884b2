// Setup's command line. Portable.
//
//   Setup                 the installation wizard, or the maintenance wizard
//                         when valid uninstall information lies beside it
//   Setup /U              the uninstall wizard
//   Setup /S [/D=FOLDER] [/PERUSER|/ALLUSERS]
//                         an unattended installation into FOLDER (default:
//                         the default folder of the chosen kind)
//   Setup /U /S           an unattended uninstallation
//   Setup /assoc ZIP      makes the program beside Setup the current user's
//                         program for ".zip" files (the program asks for it)
//
// An unattended run asks nothing, shows nothing and answers with its exit
// code. A first argument that does not start with "/" is ignored, as before.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessera::setup {

enum class SetupAction { Install, Uninstall, AssociateZip };
// Who an installation is for: the machine (Program Files, HKEY_LOCAL_MACHINE;
// needs an elevated process) or the current user (the user's local
// application folder, HKEY_CURRENT_USER; needs no elevation).
enum class InstallScope { Default, Machine, CurrentUser };

struct SetupOptions {
    SetupAction action = SetupAction::Install;
    bool unattended = false;
    InstallScope scope = InstallScope::Default;
    std::u16string folder;  // /D=
};

// The options of the arguments after the program name; nothing when an
// argument is not understood (`problem` names it).
std::optional<SetupOptions> ParseSetupOptions(const std::vector<std::u16string>& arguments,
                                              std::u16string* problem = nullptr);

// Exit codes of an unattended run.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;           // the installation or uninstallation failed (and was rolled back)
constexpr int kExitUsage = 2;            // the command line was not understood
constexpr int kExitNoUninstallInfo = 3;  // no valid uninstall information beside the program
constexpr int kExitNeedsElevation = 4;   // machine-wide asked for without an elevated process

}  // namespace tessera::setup
