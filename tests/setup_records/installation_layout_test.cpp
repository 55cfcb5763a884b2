// The check before an uninstall deletes anything: every record must name
// what an installation into the recorded folders creates.
#include "setup/records/installation_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tessera::setup;

const InstallationFolders kFolders = {u"C:\\Program Files\\Tessera", u"C:\\Users\\me\\Desktop",
                                      u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0"};

std::vector<UninstallRecord> AnInstallation(uint32_t root) {
    return {
        UninstallRecord::File(u"C:\\Program Files\\Tessera\\tessera.exe"),
        UninstallRecord::File(u"C:\\Program Files\\Tessera\\sub\\x.txt"),
        UninstallRecord::Folder(u"C:\\Program Files\\Tessera\\sub"),
        UninstallRecord::File(u"c:\\users\\ME\\desktop\\tessera.LNK"),
        UninstallRecord::File(u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0\\Tessera 3.0.lnk"),
        UninstallRecord::File(u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0\\Product Information.lnk"),
        UninstallRecord::File(u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0\\Uninstall Tessera.lnk"),
        UninstallRecord::Folder(u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0"),
        UninstallRecord::RegistryKey(root, kAppPathsKey),
        UninstallRecord::RegistryValue(root, kUninstallKey, kDisplayNameValue),
        UninstallRecord::RegistryValue(root, kUninstallKey, kUninstallStringValue),
        UninstallRecord::File(u"C:\\Program Files\\Tessera\\Uninstall.dat"),
        // The ".zip" association, later.
        UninstallRecord::RegistryKey(root, u"Software\\Classes\\Tessera.File\\shell\\open\\command"),
        UninstallRecord::RegistryKey(root, u"Software\\Classes\\Tessera.File\\DefaultIcon"),
        UninstallRecord::RegistryKey(root, u"Software\\Classes\\Tessera.File"),
        UninstallRecord::Association(root, u"Software\\Classes\\.zip"),
    };
}

TEST(InstallationLayout, AcceptsWhatAnInstallationRecords) {
    for (uint32_t root : {kRootLocalMachine, kRootCurrentUser}) {
        std::string why;
        EXPECT_TRUE(RecordsWithinInstallation(AnInstallation(root), kFolders, &why)) << why;
        EXPECT_EQ(RecordedRegistryRoot(AnInstallation(root)), root);
    }
}

TEST(InstallationLayout, RefusesARecordOutsideTheInstallation) {
    struct Case {
        const char* name;
        UninstallRecord record;
        const char* blamed = "record 4";  // the one inserted
    };
    const Case cases[] = {
        {"system file", UninstallRecord::File(u"C:\\Windows\\system32\\kernel32.dll")},
        {"the folder's neighbour", UninstallRecord::File(u"C:\\Program Files\\Tessera2\\x.exe")},
        {"climbing out", UninstallRecord::File(u"C:\\Program Files\\Tessera\\..\\..\\Windows\\x.dll")},
        {"dot part", UninstallRecord::File(u"C:\\Program Files\\Tessera\\.\\x")},
        {"forward slashes", UninstallRecord::File(u"C:\\Program Files\\Tessera/../x")},
        {"trailing dot part", UninstallRecord::File(u"C:\\Program Files\\Tessera\\..   \\x")},
        {"stream", UninstallRecord::File(u"C:\\Program Files\\Tessera\\x:stream")},
        {"device form", UninstallRecord::File(u"\\\\?\\C:\\Program Files\\Tessera\\x")},
        {"share", UninstallRecord::File(u"\\\\server\\share\\Tessera\\x")},
        {"relative", UninstallRecord::File(u"Tessera\\x")},
        {"the installation folder as a file", UninstallRecord::File(u"C:\\Program Files\\Tessera")},
        {"another desktop file", UninstallRecord::File(u"C:\\Users\\me\\Desktop\\notes.txt")},
        {"another group file", UninstallRecord::File(u"C:\\Users\\me\\Start Menu\\Programs\\Tessera 3.0\\x.lnk")},
        {"the desktop folder", UninstallRecord::Folder(u"C:\\Users\\me\\Desktop")},
        {"the Programs folder", UninstallRecord::Folder(u"C:\\Users\\me\\Start Menu\\Programs")},
        {"a system folder", UninstallRecord::Folder(u"C:\\Windows")},
        {"another key", UninstallRecord::RegistryKey(kRootLocalMachine, u"Software\\Microsoft\\Windows")},
        {"the uninstall key whole", UninstallRecord::RegistryKey(kRootLocalMachine, kUninstallKey)},
        {"another value", UninstallRecord::RegistryValue(kRootLocalMachine, kUninstallKey, u"Other")},
        {"a value of another key", UninstallRecord::RegistryValue(kRootLocalMachine, kAppPathsKey, u"Path")},
        // The first registry record sets the root; the installation's own come after it.
        {"a second root", UninstallRecord::RegistryKey(kRootCurrentUser, kAppPathsKey), "record 10"},
        {"the user's classes", UninstallRecord::RegistryKey(kRootCurrentUser, kProgramClassKey), "record 10"},
        {"another class", UninstallRecord::RegistryKey(kRootLocalMachine, u"Software\\Classes\\exefile")},
        {"another class below", UninstallRecord::RegistryKey(kRootLocalMachine, u"Software\\Classes\\Tessera.File\\x")},
        {"another extension", UninstallRecord::Association(kRootLocalMachine, u"Software\\Classes\\.exe")},
        {"the user's extension", UninstallRecord::Association(kRootCurrentUser, kZipClassKey), "record 10"},
    };
    for (const Case& c : cases) {
        std::vector<UninstallRecord> records = AnInstallation(kRootLocalMachine);
        records.insert(records.begin() + 3, c.record);
        std::string why;
        EXPECT_FALSE(RecordsWithinInstallation(records, kFolders, &why)) << c.name;
        EXPECT_NE(why.find(c.blamed), std::string::npos) << c.name << ": " << why;
    }
}

TEST(InstallationLayout, RefusesOtherRootsAndRootFolders) {
    std::vector<UninstallRecord> classesRoot = {UninstallRecord::RegistryKey(0x80000000u, kAppPathsKey)};
    EXPECT_FALSE(RecordsWithinInstallation(classesRoot, kFolders));
    for (const char16_t* folder : {u"C:\\", u"C:", u"", u"C:\\Windows\\..", u"\\\\srv\\share"}) {
        InstallationFolders folders = kFolders;
        folders.installation = folder;
        std::vector<UninstallRecord> records = {UninstallRecord::File(u"C:\\Windows\\x.dll")};
        EXPECT_FALSE(RecordsWithinInstallation(records, folders));
    }
}

TEST(InstallationLayout, PathHelpers) {
    EXPECT_TRUE(IsPlainAbsolutePath(u"C:\\"));
    EXPECT_TRUE(IsPlainAbsolutePath(u"d:\\a b\\c.d\\"));
    EXPECT_FALSE(IsPlainAbsolutePath(u"C:\\a\\\\b"));
    EXPECT_FALSE(IsPlainAbsolutePath(u"C:\\a\\b\x01"));
    EXPECT_TRUE(SamePath(u"C:\\A\\", u"c:\\a"));
    EXPECT_FALSE(SamePath(u"C:\\A\\b", u"C:\\A"));
    EXPECT_TRUE(IsBelow(u"C:\\A\\b", u"C:\\a\\"));
    EXPECT_FALSE(IsBelow(u"C:\\A", u"C:\\A\\"));
    EXPECT_FALSE(IsBelow(u"C:\\Ab", u"C:\\A"));
    EXPECT_EQ(JoinPath(u"C:\\", u"x"), u"C:\\x");
    EXPECT_EQ(JoinPath(u"C:\\a\\", u"x"), u"C:\\a\\x");
}

}  // namespace
