// Making a self-extracting program from an open archive: the creation
// settings, the stub library "tesstub.dll" (stubs as resources of type
// "SFX", named by the id the format gives, one per language), the option
// tokens of the "/S" start-up form, and the build itself. Shared by the
// explorer's "Create .exe file" and "/S" and by tescmd.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tescore.h"
#include "win32/handles.h"

namespace tessera::sfx {

struct CreationSettings {
    std::string outputFile;
    bool forSetup = false;
    LANGID language = 0;       // 0: the user's language when the stub has it, else the stub's first
    uint8_t folderBase = 1;    // 0 temporary, 1 current, 2 Windows, 3 another folder
    std::string folderName;
    bool run = false;
    uint8_t programBase = 0;   // 0 extract folder, 1 temporary, 2 current, 3 Windows, 4 another folder
    std::string programName;
    bool deleteAfterRun = false;
    bool overwrite = false;
    bool quiet = false;
};

// The library with the stubs, loaded as data (so a 64-bit program reads the
// 32-bit stubs too); null when it cannot be loaded.
win32::ModuleHandle LoadStubLibrary();

// The languages in which `library` holds the stub `resourceId`.
std::vector<LANGID> StubLanguages(HMODULE library, DWORD resourceId);

// The system's three-letter abbreviation of a language ("DEU", "ENU").
std::string LanguageAbbreviation(LANGID language);

// `path` with its extension (from the last '.' that has no blank, '/' or
// '\' after it) replaced by `extension`, or `extension` appended.
std::string ReplaceExtension(const std::string& path, const char* extension);

// Settings of the "/S" form before its options: the defaults for `archivePath`.
CreationSettings DefaultCreationSettings(const std::string& archivePath);

// Applies one option token ("-d", "-e1:name", "-i", "-l:DEU", "-o", "-p:file",
// "-q", "-x1:file"); other tokens are ignored. The stub kind of the archive
// decides which languages "-l:" can choose from.
void ApplyCreationOption(CreationSettings& settings, const std::string& token, ICompressFormat* archive,
                         HMODULE library);

// The batch file that repeats a creation: the program `programPath` run
// with "/S", the archive and the options of `settings`.
std::string BatchFileText(const CreationSettings& settings, const std::string& programPath,
                          const std::string& archivePath);

// The stub image followed by the configuration block; false when the
// format has no stub or the library lacks it in the chosen language.
bool BuildStubWithBlock(ICompressFormat* archive, HMODULE library, const CreationSettings& settings,
                        std::string* bytes);

// What CreateSelfExtractor answers when the format has no stub or the
// library lacks it in the chosen language (nothing has been said then).
extern const HRESULT kNoStub;

// Builds the program through the archive's MakeEXE.
HRESULT CreateSelfExtractor(ICompressFormat* archive, HMODULE library, const CreationSettings& settings,
                            HWND owner, const char* tempFolder);

}  // namespace tessera::sfx
