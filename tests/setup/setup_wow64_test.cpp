// The 32-bit Setup.exe on 64-bit Windows (wow64_check.sh runs this test in a
// 64-bit prefix, itself a 32-bit program like Setup): the build's
// distribution folder installed unattended registers its own shell
// extension in the 32-bit registry view and the 64-bit one of its "x64"
// folder in the 64-bit view, where the 64-bit shell looks; uninstalling
// takes both registrations back before the files go.
#include "clsids.h"
#include "setup/engine/installer.h"
#include "setup_test_support.h"
#include "test_files.h"
#include "win32/handles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

using namespace tessera::setup;
using namespace tessera::setup::testing;
using tessera::testing::HostPathToNative;
using tessera::testing::ScratchFolder;
using tessera::win32::KernelHandle;
using tessera::win32::RegistryKey;

// A key's default string in one registry view; nothing when the key is missing.
std::optional<std::wstring> DefaultString(HKEY root, const std::wstring& key, REGSAM view) {
    RegistryKey opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t data[MAX_PATH + 1] = L"";
    DWORD size = sizeof data - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(opened.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    data[size / sizeof(wchar_t)] = L'\0';
    return std::wstring(data);
}

bool WaitUntilGone(const std::wstring& path, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        if (!Exists(path)) return true;
        Sleep(100);
    }
    return !Exists(path);
}

TEST(SetupOn64BitWindows, RegistersBothShellExtensionsAndUnregistersThemOnUninstall) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64) << "not a 32-bit process on 64-bit Windows";
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    ASSERT_NE(binary, nullptr) << "TESSERA_BINARY_DIR not set";
    const std::wstring dist = Wide(HostPathToNative(std::string(binary) + "/dist"));
    ASSERT_TRUE(Exists(dist + L"\\x64\\tesshell.dll")) << "the distribution folder has no 64-bit shell extension";

    ScratchFolder scratch;
    const std::wstring folder = Wide(scratch.Path()) + L"\\Tessera";
    // The extension registers itself for the machine when it runs elevated, else for the user.
    const HKEY hive = IsProcessElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::string clsid = tesshell::kShellExtClsidText;
    const std::wstring server = L"Software\\Classes\\CLSID\\" + Wide(clsid) + L"\\InprocServer32";
    const std::wstring menu = L"Software\\Classes\\*\\shellex\\ContextMenuHandlers\\Tessera";
    ASSERT_FALSE(DefaultString(hive, server, KEY_WOW64_64KEY)) << "the prefix holds an earlier registration";

    ASSERT_EQ(RunProgram(dist + L"\\Setup.exe", L"/S \"/D=" + folder + L"\"", 180000), kExitDone);
    EXPECT_TRUE(Exists(folder + L"\\x64\\tesshell.dll"));
    EXPECT_TRUE(Exists(folder + L"\\x64\\tescore.dll"));
    EXPECT_EQ(DefaultString(hive, server, KEY_WOW64_64KEY), folder + L"\\x64\\tesshell.dll");
    EXPECT_EQ(DefaultString(hive, server, KEY_WOW64_32KEY), folder + L"\\tesshell.dll");
    EXPECT_EQ(DefaultString(hive, menu, KEY_WOW64_64KEY), Wide(clsid));

    ASSERT_EQ(RunProgram(folder + L"\\Setup.exe", L"/U /S", 180000), kExitDone);
    EXPECT_TRUE(WaitUntilGone(folder, 30000));
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
        EXPECT_FALSE(DefaultString(hive, server, view));
        EXPECT_FALSE(DefaultString(hive, menu, view));
    }
}

// A 64-bit extension the 64-bit regsvr32 cannot load (here the 32-bit
// library in its place) is reported; the installation stands, and nothing
// of the extension is left in the 64-bit view.
TEST(SetupOn64BitWindows, ReportsA64BitExtensionThatCannotBeRegistered) {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    ASSERT_NE(binary, nullptr) << "TESSERA_BINARY_DIR not set";
    ScratchFolder scratch;
    const std::wstring root = Wide(scratch.Path());
    for (const wchar_t* name : {L"\\dist", L"\\dist\\x64", L"\\desktop", L"\\programs"})
        ASSERT_TRUE(CreateDirectoryW((root + name).c_str(), nullptr));
    MakeDistribution(root + L"\\dist");
    const std::wstring wrongLibrary = Wide(HostPathToNative(std::string(binary) + "/dist/tesshell.dll"));
    ASSERT_TRUE(CopyFileW(wrongLibrary.c_str(), (root + L"\\dist\\x64\\tesshell.dll").c_str(), FALSE));

    const HKEY hive = IsProcessElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::wstring server =
        L"Software\\Classes\\CLSID\\" + Wide(tesshell::kShellExtClsidText) + L"\\InprocServer32";
    InstallationRequest request;
    request.sourceFolder = root + L"\\dist";
    request.installationFolder = root + L"\\Tessera";
    request.desktopFolder = root + L"\\desktop";
    request.programsFolder = root + L"\\programs";
    request.scope = hive == HKEY_LOCAL_MACHINE ? InstallScope::Machine : InstallScope::CurrentUser;
    const InstallationResult result = Install(request);
    ASSERT_TRUE(result.succeeded()) << result.error;
    EXPECT_TRUE(result.shellExtensionFailed);
    EXPECT_TRUE(Exists(request.installationFolder + L"\\x64\\tesshell.dll"));
    EXPECT_FALSE(DefaultString(hive, server, KEY_WOW64_64KEY));

    const UninstallInformation information =
        LoadUninstallInformation(request.installationFolder, request.desktopFolder, request.programsFolder);
    ASSERT_TRUE(information.valid) << information.problem;
    EXPECT_EQ(Uninstall(information).failed, 0u);
    // The folder itself is left to Setup's batch file.
    EXPECT_FALSE(Exists(request.installationFolder + L"\\x64"));
}

}  // namespace
