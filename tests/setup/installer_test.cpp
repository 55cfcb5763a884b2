// The installation engine in this process, into scratch folders and the
// current user's registry: a complete installation and its removal, the
// rollback of failed ones, damaged or hostile uninstall information that
// deletes nothing, files in use left for the next start.
#include "setup/engine/installer.h"
#include "setup_test_support.h"
#include "test_files.h"
#include "win32/handles.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using namespace tessera::setup;
using namespace tessera::setup::testing;
using tessera::testing::ScratchFolder;
using tessera::win32::FileHandle;

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ForgetRegistry(HKEY_CURRENT_USER);
        for (const wchar_t* name : {L"dist", L"desktop", L"programs"})
            CreateDirectoryW((Root() + L"\\" + name).c_str(), nullptr);
        MakeDistribution(Root() + L"\\dist");
        system_ = {Root() + L"\\Installed Tessera", Root() + L"\\desktop", Root() + L"\\programs", HKEY_CURRENT_USER};
    }
    void TearDown() override {
        ForgetRegistry(HKEY_CURRENT_USER);
        CoUninitialize();
    }

    std::wstring Root() const { return Wide(scratch_.Path()); }
    InstallationRequest Request() const {
        return {Root() + L"\\dist", system_.folder, system_.desktop, system_.programs, InstallScope::CurrentUser};
    }
    UninstallInformation Information() const {
        return LoadUninstallInformation(system_.folder, system_.desktop, system_.programs);
    }
    void WriteUninstallFile(const std::vector<uint8_t>& bytes) {
        FileHandle file(CreateFileW((system_.folder + L"\\Uninstall.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    // Everything except the installation folder itself, and the folder empty.
    void ExpectNothingInstalled() {
        ExpectRemoved(system_);
        EXPECT_FALSE(Exists(system_.folder));
    }

    ScratchFolder scratch_;
    InstalledSystem system_;
};

TEST_F(InstallerTest, InstallsEverythingAndUninstallsItAgain) {
    std::vector<std::pair<InstallStep, StepState>> steps;
    const InstallationResult result =
        Install(Request(), [&](InstallStep step, StepState state) { steps.emplace_back(step, state); });
    ASSERT_TRUE(result.succeeded()) << result.error;
    EXPECT_FALSE(result.linksFailed);
    const std::vector<std::pair<InstallStep, StepState>> expectedSteps = {
        {InstallStep::CopyFiles, StepState::InProgress},
        {InstallStep::CopyFiles, StepState::Done},
        {InstallStep::CreateLinks, StepState::InProgress},
        {InstallStep::CreateLinks, StepState::Done}};
    EXPECT_EQ(steps, expectedSteps);
    ExpectInstalled(system_);

    // The records in the order they were made: the folders after what they
    // held, the registry, the uninstall file last.
    UninstallInformation information = Information();
    ASSERT_TRUE(information.valid) << information.problem;
    const std::vector<UninstallRecord>& records = information.records;
    ASSERT_EQ(records.size(), kDistributionFiles.size() + 2 + 4 + 1 + 3 + 1);
    auto position = [&](const UninstallRecord& wanted) {
        return std::find(records.begin(), records.end(), wanted) - records.begin();
    };
    const std::u16string folder = ToRecordText(system_.folder);
    const std::u16string group = ToRecordText(ProgramGroupFolder(system_.programs));
    EXPECT_LT(position(UninstallRecord::File(folder + u"\\docs\\deep\\notes.txt")),
              position(UninstallRecord::Folder(folder + u"\\docs\\deep")));
    EXPECT_LT(position(UninstallRecord::Folder(folder + u"\\docs\\deep")),
              position(UninstallRecord::Folder(folder + u"\\docs")));
    EXPECT_LT(position(UninstallRecord::File(group + u"\\Uninstall Tessera.lnk")),
              position(UninstallRecord::Folder(group)));
    EXPECT_EQ(records[records.size() - 4], UninstallRecord::RegistryKey(kRootCurrentUser, kAppPathsKey));
    EXPECT_EQ(records.back(), UninstallRecord::File(folder + u"\\Uninstall.dat"));

    const std::wstring setup = system_.folder + L"\\Setup.exe";
    const UninstallationResult removal = Uninstall(information, setup);
    EXPECT_EQ(removal.failed, 0u);
    EXPECT_TRUE(removal.atRestart.empty());
    ExpectRemoved(system_, {L"Setup.exe"});
}

TEST_F(InstallerTest, FailedCopyUndoesEverything) {
    // A distribution file another process holds without sharing cannot be read.
    FileHandle locked(CreateFileW((Root() + L"\\dist\\docs\\guide.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    const InstallationResult result = Install(Request());
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(result.subject, system_.folder + L"\\docs\\guide.txt");
    ExpectNothingInstalled();
}

TEST_F(InstallerTest, UnwritableUninstallFileUndoesEverything) {
    // The last step fails: a folder stands where the uninstall file goes.
    ASSERT_TRUE(CreateDirectoryW(system_.folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((system_.folder + L"\\Uninstall.dat").c_str(), nullptr));
    const InstallationResult result = Install(Request());
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.subject, system_.folder + L"\\Uninstall.dat");
    for (const std::wstring& name : kDistributionFiles) EXPECT_FALSE(Exists(system_.folder + L"\\" + name));
    EXPECT_FALSE(Exists(system_.desktop + L"\\Tessera.lnk"));
    EXPECT_FALSE(Exists(ProgramGroupFolder(system_.programs)));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ToWide(kAppPathsKey)));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ToWide(kUninstallKey)));
    // What was there before stays.
    EXPECT_TRUE(Exists(system_.folder + L"\\Uninstall.dat"));
}

TEST_F(InstallerTest, DamagedOrHostileUninstallInformationDeletesNothing) {
    ASSERT_TRUE(Install(Request()).succeeded());
    UninstallInformation good = Information();
    ASSERT_TRUE(good.valid);
    auto goodBytes = tessera::setup::WriteUninstallFile(good.records);
    ASSERT_TRUE(goodBytes);

    // A file of the user's beside the installation, which a hostile record names.
    const std::wstring bystander = Root() + L"\\bystander.txt";
    { FileHandle file(CreateFileW(bystander.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)); }

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    {
        auto records = good.records;
        records.insert(records.begin(), UninstallRecord::File(ToRecordText(bystander)));
        cases.push_back({"a file outside the installation", *tessera::setup::WriteUninstallFile(records)});
    }
    {
        auto records = good.records;
        records.push_back(UninstallRecord::File(ToRecordText(system_.folder) + u"\\..\\bystander.txt"));
        cases.push_back({"a path climbing out", *tessera::setup::WriteUninstallFile(records)});
    }
    {
        auto bytes = *goodBytes;
        const uint8_t record[8] = {1, 0, 0, 0, 100, 0, 0, 0};
        bytes.insert(bytes.end(), record, record + 8);
        bytes.insert(bytes.end(), 100, 0);
        cases.push_back({"a type 1 record of length 100", bytes});
    }
    {
        auto bytes = *goodBytes;
        bytes.pop_back();
        cases.push_back({"one byte short", bytes});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUninstallFile(c.bytes);
        const UninstallInformation information = Information();
        EXPECT_FALSE(information.valid);
        Uninstall(information);
        EXPECT_TRUE(Exists(bystander));
        WriteUninstallFile(*goodBytes);
        ExpectInstalled(system_);
    }
    Uninstall(Information());
    ExpectRemoved(system_);
}

TEST_F(InstallerTest, FileInUseIsDeletedAtTheNextStart) {
    ASSERT_TRUE(Install(Request()).succeeded());
    const std::wstring busy = system_.folder + L"\\tessera.exe";
    FileHandle running(CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(running);
    const UninstallationResult result = Uninstall(Information());
    EXPECT_EQ(result.failed, 0u);
    ASSERT_EQ(result.atRestart.size(), 1u);
    EXPECT_EQ(result.atRestart[0], busy);
    // Windows keeps the list of what to delete at the next start here.
    tessera::win32::RegistryKey sessionManager;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, sessionManager.put()),
              ERROR_SUCCESS);
    std::vector<wchar_t> pending(65536);
    DWORD size = static_cast<DWORD>(pending.size() * sizeof(wchar_t));
    ASSERT_EQ(RegQueryValueExW(sessionManager.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(pending.data()), &size),
              ERROR_SUCCESS);
    const std::wstring operations(pending.data(), size / sizeof(wchar_t));
    EXPECT_NE(operations.find(L"tessera.exe"), std::wstring::npos);
    RegDeleteValueW(sessionManager.get(), L"PendingFileRenameOperations");
    running.reset();
    EXPECT_TRUE(Exists(busy));
    DeleteFileW(busy.c_str());
    ExpectRemoved(system_);
}

TEST_F(InstallerTest, RegistersTheShellExtensionAndUnregistersItBeforeDeletingIt) {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    ASSERT_NE(binary, nullptr);
    const std::wstring standIn =
        Wide(tessera::testing::HostPathToNative(std::string(binary) + "/tests/setup/shell_stand_in/tesshell.dll"));
    ASSERT_TRUE(CopyFileW(standIn.c_str(), (Root() + L"\\dist\\tesshell.dll").c_str(), FALSE));
    const std::wstring registration = L"Software\\Tessera Tests\\Shell Extension";
    RegDeleteKeyW(HKEY_CURRENT_USER, registration.c_str());

    const InstallationResult result = Install(Request());
    ASSERT_TRUE(result.succeeded());
    EXPECT_FALSE(result.shellExtensionFailed);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, registration));

    const UninstallationResult removal = Uninstall(Information());
    EXPECT_EQ(removal.failed, 0u);
    EXPECT_TRUE(removal.atRestart.empty()) << "the library was still loaded";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, registration));
    EXPECT_FALSE(Exists(system_.folder + L"\\tesshell.dll"));
    ExpectRemoved(system_);
}

TEST_F(InstallerTest, AssociatesZipFilesAndUninstallingHandsThemBack) {
    // A machine-wide installation associates in the machine's classes.
    InstallationRequest request = Request();
    request.scope = InstallScope::Machine;
    system_.root = HKEY_LOCAL_MACHINE;
    ForgetRegistry(HKEY_LOCAL_MACHINE);
    const std::wstring zipClass = ToWide(kZipClassKey);
    const std::optional<std::wstring> before = RegistryString(HKEY_LOCAL_MACHINE, zipClass, nullptr);
    auto setOwner = [&](const std::wstring& owner) {
        tessera::win32::RegistryKey extension;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, zipClass.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  extension.put(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(extension.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(owner.c_str()),
                       static_cast<DWORD>((owner.size() + 1) * sizeof(wchar_t)));
    };
    const std::wstring other = L"Other.Archiver";
    setOwner(other);

    ASSERT_TRUE(Install(request).succeeded());
    for (int time = 0; time < 2; ++time) {  // a second association changes nothing
        ASSERT_EQ(AssociateZip(system_.folder, system_.desktop, system_.programs), static_cast<DWORD>(ERROR_SUCCESS));
    }
    // As the program's association check reads it.
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L".zip", nullptr), std::wstring(L"Tessera.File"));
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Tessera.File\\shell\\open\\command", nullptr),
              L"\"" + system_.folder + L"\\tessera.exe\" \"%1\"");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, zipClass, L"Tessera.PreviousOwner"), other);
    UninstallInformation information = Information();
    ASSERT_TRUE(information.valid) << information.problem;
    EXPECT_EQ(std::count(information.records.begin(), information.records.end(),
                         UninstallRecord::Association(kRootLocalMachine, kZipClassKey)),
              1);
    ExpectInstalled(system_);

    Uninstall(information);
    ExpectRemoved(system_);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, zipClass, nullptr), other);
    EXPECT_FALSE(RegistryString(HKEY_LOCAL_MACHINE, zipClass, L"Tessera.PreviousOwner"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ToWide(kProgramClassKey)));
    if (before) {
        setOwner(*before);
    } else {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, zipClass.c_str());
    }
}

TEST(DefaultInstallationFolder, EarlierInstallationThenProgramFiles) {
    const std::wstring appPaths = ToWide(kAppPathsKey);
    wchar_t programFiles[MAX_PATH] = L"";
    DWORD size = sizeof programFiles;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir",
                           RRF_RT_REG_SZ, nullptr, programFiles, &size),
              ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, appPaths.c_str());
    EXPECT_EQ(DefaultInstallationFolder(InstallScope::Machine), std::wstring(programFiles) + L"\\Tessera");

    {
        tessera::win32::RegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, appPaths.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        const wchar_t earlier[] = L"D:\\Tools\\Tessera\\";
        RegSetValueExW(key.get(), L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(earlier), sizeof earlier);
    }
    EXPECT_EQ(DefaultInstallationFolder(InstallScope::Machine), L"D:\\Tools\\Tessera");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, appPaths.c_str());

    wchar_t local[MAX_PATH] = L"";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)));
    ForgetRegistry(HKEY_CURRENT_USER);
    EXPECT_EQ(DefaultInstallationFolder(InstallScope::CurrentUser), std::wstring(local) + L"\\Programs\\Tessera");
}

}  // namespace
