// Setup.exe as an administrator runs it unattended: a distribution folder
// made of the build's Setup.exe and a few files is installed for the
// machine and for the current user, recognised as an installation, and
// uninstalled by the installed copy, whose batch file then removes the
// program and the folder. The user's desktop and Programs folders are
// redirected to scratch folders for the test (as folder redirection does).
#include "setup/engine/installer.h"
#include "setup_test_support.h"
#include "test_files.h"
#include "win32/handles.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace tessera::setup;
using namespace tessera::setup::testing;
using tessera::testing::HostPathToNative;
using tessera::testing::ScratchFolder;
using tessera::win32::KernelHandle;

bool WaitUntilGone(const std::wstring& path, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        if (!Exists(path)) return true;
        Sleep(100);
    }
    return !Exists(path);
}

class SetupProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const char* binary = std::getenv("TESSERA_BINARY_DIR");
        ASSERT_NE(binary, nullptr) << "TESSERA_BINARY_DIR not set";
        for (const wchar_t* name : {L"dist", L"desktop", L"programs"})
            CreateDirectoryW((Root() + L"\\" + name).c_str(), nullptr);
        MakeDistribution(Root() + L"\\dist", Wide(HostPathToNative(std::string(binary) + "/dist/Setup.exe")));
    }
    void TearDown() override { CoUninitialize(); }

    std::wstring Root() const { return Wide(scratch_.Path()); }
    std::wstring DistributedSetup() const { return Root() + L"\\dist\\Setup.exe"; }

    ScratchFolder scratch_;
    RedirectedShellFolder desktop_{L"Desktop", Root() + L"\\desktop"};
    RedirectedShellFolder programs_{L"Programs", Root() + L"\\programs"};
};

TEST_F(SetupProgramTest, InstallsAndUninstallsUnattendedForTheMachineAndForTheUser) {
    struct Case {
        const wchar_t* option;
        HKEY root;
    };
    for (const Case& c : {Case{L"/ALLUSERS", HKEY_LOCAL_MACHINE}, Case{L"/PERUSER", HKEY_CURRENT_USER}}) {
        SCOPED_TRACE(std::string(c.option, c.option + wcslen(c.option)));
        const InstalledSystem system = {Root() + L"\\Program Files\\Tessera", Root() + L"\\desktop",
                                        Root() + L"\\programs", c.root};
        ForgetRegistry(c.root);
        ASSERT_EQ(RunProgram(DistributedSetup(), L"/S " + std::wstring(c.option) + L" \"/D=" + system.folder + L"\""),
                  kExitDone);
        ExpectInstalled(system);
        // A second start of the installed copy is a maintenance start.
        EXPECT_TRUE(LoadUninstallInformation(system.folder, DesktopFolder(), ProgramsFolder()).valid);
        // The program asks the installed copy for the ".zip" association.
        const std::wstring zipClass = ToWide(kZipClassKey);
        const std::optional<std::wstring> owner = RegistryString(c.root, zipClass, nullptr);
        ASSERT_EQ(RunProgram(system.folder + L"\\Setup.exe", L"/assoc ZIP"), kExitDone);
        EXPECT_EQ(RegistryString(c.root, zipClass, nullptr), std::wstring(L"Tessera.File"));

        ASSERT_EQ(RunProgram(system.folder + L"\\Setup.exe", L"/U /S"), kExitDone);
        // Its batch file deletes the program once it has ended, then the folder.
        EXPECT_TRUE(WaitUntilGone(system.folder, 30000));
        ExpectRemoved(system);
        EXPECT_EQ(RegistryString(c.root, zipClass, nullptr), owner);
        for (const std::wstring& name : kDistributionFiles)
            EXPECT_TRUE(Exists(Root() + L"\\dist\\" + name)) << "the distribution lost a file";
    }
}

TEST_F(SetupProgramTest, UninstallWithoutInformationDeletesNothing) {
    EXPECT_EQ(RunProgram(DistributedSetup(), L"/U /S"), kExitNoUninstallInfo);
    for (const std::wstring& name : kDistributionFiles) EXPECT_TRUE(Exists(Root() + L"\\dist\\" + name));
    EXPECT_EQ(RunProgram(DistributedSetup(), L"/S /X"), kExitUsage);
}

}  // namespace
