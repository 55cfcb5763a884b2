// What an installation consists of -- the shortcut names, the registry keys
// and values Setup writes -- and the check an uninstall makes before it
// deletes anything: every record of the uninstall information must name
// something an installation into the recorded folders creates. Portable.
#pragma once

#include "setup/records/uninstall_records.h"

#include <string>
#include <vector>

namespace tessera::setup {

inline constexpr char16_t kUninstallFileName[] = u"Uninstall.dat";
inline constexpr char16_t kDesktopShortcutName[] = u"Tessera.lnk";
inline constexpr char16_t kProgramGroupName[] = u"Tessera 3.0";
inline constexpr char16_t kProgramShortcutName[] = u"Tessera 3.0.lnk";
inline constexpr char16_t kReadmeShortcutName[] = u"Product Information.lnk";
inline constexpr char16_t kUninstallShortcutName[] = u"Uninstall Tessera.lnk";

inline constexpr char16_t kAppPathsKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tessera.exe";
inline constexpr char16_t kAppPathsFolderValue[] = u"Path";
inline constexpr char16_t kUninstallKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessera";
inline constexpr char16_t kDisplayNameValue[] = u"DisplayName";
inline constexpr char16_t kUninstallStringValue[] = u"UninstallString";

// The ".zip" association ("Setup /assoc ZIP"), in the installation's root:
// the program's class and the extension's key, which keeps the owner it had
// before in a value of its own.
inline constexpr char16_t kProgramClass[] = u"Tessera.File";
inline constexpr char16_t kProgramClassKey[] = u"Software\\Classes\\Tessera.File";
inline constexpr char16_t kZipClassKey[] = u"Software\\Classes\\.zip";
inline constexpr char16_t kPreviousOwnerValue[] = u"Tessera.PreviousOwner";
// The keys below the program's class, deepest first (the order they are deleted in).
inline constexpr const char16_t* kProgramClassSubkeys[] = {u"\\shell\\open\\command", u"\\shell\\open",
                                                          u"\\shell", u"\\DefaultIcon"};

// The folders an installation writes into, each an absolute path without a
// trailing backslash.
struct InstallationFolders {
    std::u16string installation;
    std::u16string desktop;       // the user's desktop folder
    std::u16string programGroup;  // Programs folder \ "Tessera 3.0"
};

// A drive-letter path whose parts are all real names: no "." or ".." parts,
// no empty parts, no "/", no second ":", no wildcard, quote, pipe or
// control character, no part ending in a dot or blank (Windows would drop
// them and name another file). A trailing backslash is allowed.
bool IsPlainAbsolutePath(const std::u16string& path);

// Paths compared as Windows does for ASCII letters (case-insensitive);
// a trailing backslash does not count.
bool SamePath(const std::u16string& a, const std::u16string& b);
// `path` lies strictly below `folder`.
bool IsBelow(const std::u16string& path, const std::u16string& folder);

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
std::u16string WithoutTrailingBackslash(std::u16string path);

// Whether every record names something an installation into `folders`
// creates: files and folders below the installation folder, the shortcuts
// and the program group by their names, the App Paths key and the two
// uninstall values, all in one registry root (the current user's or the
// machine's), with the ".zip" association (the program's class keys and
// the extension to hand back). When not, `why` says which
// record failed.
bool RecordsWithinInstallation(const std::vector<UninstallRecord>& records, const InstallationFolders& folders,
                               std::string* why = nullptr);

// The registry root of the installation's keys (kRootLocalMachine for a
// machine-wide installation, kRootCurrentUser for one of the current user);
// 0 when the records name none.
uint32_t RecordedRegistryRoot(const std::vector<UninstallRecord>& records);

}  // namespace tessera::setup
