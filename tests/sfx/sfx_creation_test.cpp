// Making self-extracting programs without the window: the option tokens of
// the "/S" form (their order matters), the default program name, the batch
// file, the configuration block and the stub library's kinds and languages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sfx/config_block.h"
#include "sfxlib/sfx_creation.h"
#include "tescore.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

namespace {

using tessera::sfx::ApplyCreationOption;
using tessera::sfx::CreationSettings;
using tessera::win32::ComPtr;
using tessera::win32::ModuleHandle;

const LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

ModuleHandle StubLibrary() {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    std::string path = std::string(binary ? binary : ".") + "/dist/tesstub.dll";
    return ModuleHandle(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

CreationSettings Apply(std::initializer_list<const char*> tokens, ICompressFormat* archive = nullptr,
                       HMODULE library = nullptr) {
    CreationSettings settings = tessera::sfx::DefaultCreationSettings("C:\\data\\archive.cab");
    for (const char* token : tokens) ApplyCreationOption(settings, token, archive, library);
    return settings;
}

TEST(SfxCreation, OptionsApplyInOrder) {
    EXPECT_TRUE(Apply({"-o", "-i"}).overwrite);        // -o before -i: on
    EXPECT_FALSE(Apply({"-i", "-o"}).overwrite);       // after it: off
    EXPECT_FALSE(Apply({"-d", "-x1:setup.exe"}).deleteAfterRun);
    EXPECT_TRUE(Apply({"-x1:setup.exe", "-d"}).deleteAfterRun);
    EXPECT_FALSE(Apply({"-x1"}).run);                  // no colon: running stays off
    EXPECT_FALSE(Apply({"-x1:"}).run);                 // no name either

    CreationSettings s = Apply({"-e4:D:\\target dir", "-x5:cmd /c setup.bat", "-p:D:\\out.exe", "-q"});
    EXPECT_EQ(s.folderBase, 3);
    EXPECT_EQ(s.folderName, "D:\\target dir");
    EXPECT_TRUE(s.run);
    EXPECT_EQ(s.programBase, 4);
    EXPECT_EQ(s.programName, "cmd /c setup.bat");
    EXPECT_EQ(s.outputFile, "D:\\out.exe");
    EXPECT_TRUE(s.quiet);
    EXPECT_EQ(Apply({"-e2"}).folderBase, 1);
    EXPECT_EQ(Apply({"-e2"}).folderName, "");
    EXPECT_EQ(Apply({"-e9:x"}).folderBase, 1);         // out of range: ignored
}

TEST(SfxCreation, DefaultProgramName) {
    const struct {
        const char* archive;
        const char* program;
    } cases[] = {
        {"C:\\a\\archive.tar.zip", "C:\\a\\archive.tar.exe"},
        {"c:\\my.dir\\archive", "c:\\my.dir\\archive.exe"},
        {"c:\\dir\\my archive.cab", "c:\\dir\\my archive.exe"},
        {"c:\\dir\\name.with blank", "c:\\dir\\name.with blank.exe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tessera::sfx::DefaultCreationSettings(c.archive).outputFile, c.program) << c.archive;
    EXPECT_EQ(tessera::sfx::ReplaceExtension("c:\\d\\prog.exe", ".zip"), "c:\\d\\prog.zip");
}

TEST(SfxCreation, BatchFileRepeatsTheSettings) {
    CreationSettings s = tessera::sfx::DefaultCreationSettings("C:\\a\\b.cab");
    s.forSetup = true;
    s.language = kEnglish;
    s.folderBase = 0;
    s.folderName = "\\Setup";
    std::string text = tessera::sfx::BatchFileText(s, "C:\\Tessera\\tessera.exe", "C:\\a\\b.cab");
    EXPECT_EQ(text,
              "@echo off\r\n\"C:\\Tessera\\tessera.exe\" /S \"C:\\a\\b.cab\" \"-p:C:\\a\\b.exe\" -i -l:ENU "
              "\"-e1:\\Setup\" -q\r\nCLS\r\n@echo on\r\n");  // running off: no -x, no -d

    s.run = true;
    s.programBase = 0;
    s.programName = "install.exe";
    s.deleteAfterRun = true;
    text = tessera::sfx::BatchFileText(s, "C:\\T\\tessera.exe", "C:\\a\\b.cab");
    EXPECT_NE(text.find(" \"-x1:install.exe\" -d -q\r\n"), std::string::npos) << text;
}

TEST(SfxCreation, ConfigurationBlockLayout) {
    tessera::sfx::SfxConfig config;
    config.totalSize = 0x01020304;
    config.folderBase = 0;
    config.folderName = "\\Setup";
    config.programBase = 4;
    config.programName = "install.exe /q";
    config.waitAndDelete = true;
    config.overwrite = true;
    std::string block;
    ASSERT_TRUE(tessera::sfx::BuildConfigBlock(config, &block));
    const char expected[] = "TSFX\x04\x03\x02\x01\x00\x06\x04\x0e\x01\x01";
    ASSERT_EQ(block.size(), 24u + 6 + 14);
    EXPECT_EQ(block.compare(0, 14, std::string(expected, 14)), 0);
    EXPECT_EQ(block.substr(14, 10), std::string(10, '\0'));
    EXPECT_EQ(block.substr(24), "\\Setupinstall.exe /q");
    EXPECT_EQ(tessera::sfx::FindMarker(reinterpret_cast<const uint8_t*>(block.data()), 3), -1);
    config.programName.assign(256, 'x');
    EXPECT_FALSE(tessera::sfx::BuildConfigBlock(config, &block));
    EXPECT_EQ(tessera::sfx::JoinBaseAndName("C:\\Temp\\", "\\Setup"), "C:\\Temp\\Setup");
    EXPECT_EQ(tessera::sfx::JoinBaseAndName("C:\\Temp", "Setup"), "C:\\Temp\\Setup");
    EXPECT_EQ(tessera::sfx::JoinBaseAndName("", "\\Setup"), "Setup");
}

// The stub library: every kind a format names exists, the interactive ones
// in German, the setup ones in English; -l chooses among the languages of
// the kind chosen so far.
TEST(SfxCreation, StubLibraryKindsAndLanguages) {
    ModuleHandle library = StubLibrary();
    ASSERT_TRUE(library) << "tesstub.dll not found";
    const struct {
        const char* archive;
        BOOL forSetup;
        LANGID language;
    } kinds[] = {
        {"a.zip", FALSE, kGerman}, {"a.cab", FALSE, kGerman}, {"a.cab", TRUE, kEnglish},
        {"a.ace", FALSE, kGerman}, {"a.ace", TRUE, kEnglish},
    };
    for (const auto& kind : kinds) {
        ComPtr<ICompressFormat> archive;
        ASSERT_EQ(ArcCreateObject(nullptr, kind.archive, archive.put()), S_OK) << kind.archive;
        DWORD id = 0;
        ASSERT_TRUE(archive->GetSfxModuleId(kind.forSetup, &id)) << kind.archive;
        auto languages = tessera::sfx::StubLanguages(library.get(), id);
        ASSERT_EQ(languages.size(), 1u) << kind.archive << " " << kind.forSetup;
        EXPECT_EQ(languages[0], kind.language) << kind.archive << " " << kind.forSetup;

        CreationSettings settings = tessera::sfx::DefaultCreationSettings(kind.archive);
        settings.forSetup = kind.forSetup;
        std::string bytes;
        ASSERT_TRUE(tessera::sfx::BuildStubWithBlock(archive.get(), library.get(), settings, &bytes));
        EXPECT_EQ(bytes.compare(0, 2, "MZ"), 0);
        EXPECT_EQ(tessera::sfx::FindMarker(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                  static_cast<long>(bytes.size() - 24)) << "the stub itself holds the marker";
    }
    ComPtr<ICompressFormat> cab;
    ASSERT_EQ(ArcCreateObject(nullptr, "a.cab", cab.put()), S_OK);
    EXPECT_EQ(Apply({"-i", "-l:enu"}, cab.get(), library.get()).language, kEnglish);
    EXPECT_EQ(Apply({"-l:ENU", "-i"}, cab.get(), library.get()).language, 0);  // German kind first: no ENU
    EXPECT_EQ(Apply({"-l:DEU"}, cab.get(), library.get()).language, kGerman);
    CreationSettings missing = Apply({"-l:XYZ"}, cab.get(), library.get());
    EXPECT_EQ(missing.language, 0);
    missing.language = kEnglish;  // a language the kind lacks: nothing is made
    std::string bytes;
    EXPECT_FALSE(tessera::sfx::BuildStubWithBlock(cab.get(), library.get(), missing, &bytes));
    ComPtr<ICompressFormat> tar;
    ASSERT_EQ(ArcCreateObject(nullptr, "a.tar", tar.put()), S_OK);
    EXPECT_FALSE(tessera::sfx::BuildStubWithBlock(tar.get(), library.get(), Apply({}), &bytes));
}

}  // namespace
