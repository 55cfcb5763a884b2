// Making a self-extracting program (see sfx_creation.h).
#include "sfxlib/sfx_creation.h"

#include "sfx/config_block.h"

namespace tessera::sfx {

const HRESULT kNoStub = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);

namespace {

const char kStubLibrary[] = "tesstub.dll";
const char kStubType[] = "SFX";

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<LANGID>*>(list)->push_back(language);
    return TRUE;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, lstrlenA(prefix), prefix) == 0; }

}  // namespace

win32::ModuleHandle LoadStubLibrary() {
    return win32::ModuleHandle(LoadLibraryExA(kStubLibrary, nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

std::vector<LANGID> StubLanguages(HMODULE library, DWORD resourceId) {
    std::vector<LANGID> languages;
    if (library)
        EnumResourceLanguagesA(library, kStubType, MAKEINTRESOURCEA(resourceId), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::string LanguageAbbreviation(LANGID language) {
    char text[16] = "";
    GetLocaleInfoA(MAKELCID(language, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, text, sizeof text);
    return text;
}

std::string ReplaceExtension(const std::string& path, const char* extension) {
    size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && path.find_first_of(" /\\", dot) != std::string::npos) dot = std::string::npos;
    return (dot == std::string::npos ? path : path.substr(0, dot)) + extension;
}

CreationSettings DefaultCreationSettings(const std::string& archivePath) {
    CreationSettings settings;
    settings.outputFile = ReplaceExtension(archivePath, ".exe");
    return settings;
}

void ApplyCreationOption(CreationSettings& settings, const std::string& token, ICompressFormat* archive,
                         HMODULE library) {
    if (token.size() < 2 || token[0] != '-') return;
    char letter = static_cast<char>(token[1] | 0x20);
    std::string rest = token.substr(2);
    switch (letter) {
    case 'd': settings.deleteAfterRun = settings.run; break;
    case 'e':
        if (!rest.empty() && rest[0] >= '1' && rest[0] <= '4') {
            settings.folderBase = static_cast<uint8_t>(rest[0] - '1');
            if (rest.size() > 1 && rest[1] == ':') settings.folderName = rest.substr(2);
        }
        break;
    case 'i': settings.forSetup = true; break;
    case 'l': {
        if (!StartsWith(rest, ":")) break;
        DWORD id = 0;
        if (!archive || !archive->GetSfxModuleId(settings.forSetup, &id)) break;
        for (LANGID language : StubLanguages(library, id))
            if (lstrcmpiA(LanguageAbbreviation(language).c_str(), rest.c_str() + 1) == 0) settings.language = language;
        break;
    }
    case 'o': settings.overwrite = !settings.forSetup; break;
    case 'p':
        if (rest.empty()) settings.outputFile = ReplaceExtension(archive ? archive->GetArchivePath() : "", ".exe");
        else if (rest[0] == ':') settings.outputFile = rest.substr(1);
        break;
    case 'q': settings.quiet = true; break;
    case 'x':
        if (rest.size() > 2 && rest[0] >= '1' && rest[0] <= '5' && rest[1] == ':') {
            settings.run = true;
            settings.programBase = static_cast<uint8_t>(rest[0] - '1');
            settings.programName = rest.substr(2);
        }
        break;
    default: break;
    }
}

std::string BatchFileText(const CreationSettings& settings, const std::string& programPath,
                          const std::string& archivePath) {
    std::string text = "@echo off\r\n";
    text += "\"" + programPath + "\" /S \"" + archivePath + "\"";
    if (!settings.outputFile.empty()) text += " \"-p:" + settings.outputFile + "\"";
    if (settings.forSetup) text += " -i";
    LANGID language = settings.language ? settings.language : GetUserDefaultLangID();
    text += " -l:" + LanguageAbbreviation(language);
    text += " \"-e" + std::to_string(settings.folderBase + 1);
    if (!settings.folderName.empty()) text += ":" + settings.folderName;
    text += "\"";
    if (settings.run && !settings.programName.empty())
        text += " \"-x" + std::to_string(settings.programBase + 1) + ":" + settings.programName + "\"";
    if (settings.deleteAfterRun) text += " -d";
    if (settings.overwrite) text += " -o";
    text += " -q";
    text += "\r\nCLS\r\n@echo on\r\n";
    return text;
}

bool BuildStubWithBlock(ICompressFormat* archive, HMODULE library, const CreationSettings& settings,
                        std::string* bytes) {
    DWORD id = 0;
    if (!archive || !library || !archive->GetSfxModuleId(settings.forSetup, &id)) return false;
    SfxConfig config;
    archive->GetTotals(reinterpret_cast<DWORD*>(&config.totalSize), nullptr, nullptr, nullptr);
    config.folderBase = settings.folderBase;
    config.folderName = settings.folderName;
    bool running = settings.run && !settings.programName.empty();
    config.programBase = settings.programBase;
    config.programName = running ? settings.programName : std::string();
    config.waitAndDelete = running && settings.deleteAfterRun;
    config.overwrite = settings.overwrite;
    std::string block;
    if (!BuildConfigBlock(config, &block)) return false;

    // The user's language is only the first choice: a stub that exists in
    // other languages only is still found.
    LANGID language = settings.language;
    if (language == 0) {
        std::vector<LANGID> languages = StubLanguages(library, id);
        language = GetUserDefaultLangID();
        bool present = false;
        for (LANGID offered : languages) present = present || offered == language;
        if (!present && !languages.empty()) language = languages.front();
    }
    HRSRC resource = FindResourceExA(library, kStubType, MAKEINTRESOURCEA(id), language);
    DWORD size = resource ? SizeofResource(library, resource) : 0;
    HGLOBAL loaded = resource ? LoadResource(library, resource) : nullptr;
    const void* image = loaded ? LockResource(loaded) : nullptr;
    if (!image || size < 4) return false;
    bytes->assign(static_cast<const char*>(image), size);
    bytes->append(block);
    return true;
}

HRESULT CreateSelfExtractor(ICompressFormat* archive, HMODULE library, const CreationSettings& settings,
                            HWND owner, const char* tempFolder) {
    std::string bytes;
    if (!BuildStubWithBlock(archive, library, settings, &bytes)) return kNoStub;
    return archive->MakeEXE(owner, tempFolder, settings.outputFile.c_str(), bytes.data(),
                            static_cast<DWORD>(bytes.size()));
}

}  // namespace tessera::sfx
