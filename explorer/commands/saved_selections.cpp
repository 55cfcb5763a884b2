// The Add options in the settings and the saved selections: sections
// "Add\" + eight hexadecimal digits under the product key.
#include "saved_selections.h"

#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>

namespace tescommands {

namespace {

const char kAddSection[] = "Add";
constexpr DWORD kMaxSavedSelections = 10000;

DWORD ReadValue(const std::string& section, const char* name, DWORD fallback) {
    DWORD value = fallback;
    GetProfileInt(section.c_str(), name, &value);
    return value;
}

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string SelectionSection(DWORD number) {
    char name[32];
    snprintf(name, sizeof name, "Add\\%08lX", static_cast<unsigned long>(number));
    return name;
}

bool IsHexName(const char* name) {
    if (strlen(name) != 8) return false;
    for (const char* p = name; *p; ++p) {
        if (!isxdigit(static_cast<unsigned char>(*p))) return false;
    }
    return true;
}

// The saved selections: section suffix -> display name.
std::vector<std::pair<std::string, std::string>> SavedSelections() {
    std::vector<std::pair<std::string, std::string>> found;
    HKEY product = GetSectionKey(nullptr);  // kept by the engine; not closed here
    tessera::win32::RegistryKey add;
    if (!product || RegOpenKeyExA(product, kAddSection, 0, KEY_READ, add.put()) != ERROR_SUCCESS) return found;
    char name[MAX_PATH];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(add.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        // The histories ("Filter") and anything else that is no saved
        // selection are skipped.
        if (!IsHexName(name)) continue;
        char display[MAX_PATH] = "";
        if (GetProfileString((std::string("Add\\") + name).c_str(), "DisplayName", display))
            found.emplace_back(name, display);
    }
    return found;
}

std::string FindSelectionSection(const std::string& displayName) {
    for (const auto& selection : SavedSelections()) {
        if (SameText(selection.second, displayName)) return std::string("Add\\") + selection.first;
    }
    return std::string();
}

bool SectionExists(const std::string& section) {
    HKEY product = GetSectionKey(nullptr);
    tessera::win32::RegistryKey key;
    return product && RegOpenKeyExA(product, section.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

}  // namespace

void LoadAddOptions(const std::string& section, AddOptions* options) {
    options->level = ReadValue(section, "Compression", options->level);
    options->update = ReadValue(section, "Update", options->update) != 0;
    options->freshen = ReadValue(section, "Freshen", options->freshen) != 0;
    options->fullPaths = ReadValue(section, "UsePath", options->fullPaths) != 0;
    options->partialPaths = ReadValue(section, "PartialPath", options->partialPaths) != 0;
    options->shortNames = ReadValue(section, "DosFormat", options->shortNames) != 0;
    options->move = ReadValue(section, "Move", options->move) != 0;
    options->backup = ReadValue(section, "Backup", options->backup) != 0;
    if (options->update && options->freshen) options->freshen = false;
    if (options->fullPaths) options->partialPaths = false;
}

void SaveAddOptions(const std::string& section, const AddOptions& options) {
    const char* s = section.c_str();
    PutProfileInt(s, "Compression", options.level);
    PutProfileInt(s, "Update", options.update);
    PutProfileInt(s, "Freshen", options.freshen);
    PutProfileInt(s, "UsePath", options.fullPaths);
    PutProfileInt(s, "PartialPath", options.partialPaths);
    PutProfileInt(s, "DosFormat", options.shortNames);
    PutProfileInt(s, "Move", options.move);
    PutProfileInt(s, "Backup", options.backup);
}

std::vector<std::string> SavedSelectionNames() {
    std::vector<std::string> names;
    for (const auto& selection : SavedSelections()) names.push_back(selection.second);
    return names;
}

bool SaveSelection(const std::string& name, const AddOptions& options, const std::vector<std::string>& rows) {
    if (name.empty()) return false;
    std::string section = FindSelectionSection(name);
    for (DWORD number = 0; section.empty() && number < kMaxSavedSelections; ++number) {
        if (!SectionExists(SelectionSection(number))) section = SelectionSection(number);
    }
    if (section.empty()) return false;  // all 10000 names in use
    PutProfileString(section.c_str(), nullptr, nullptr);
    SaveAddOptions(section, options);
    PutProfileString(section.c_str(), "DisplayName", name.c_str());
    for (size_t i = 0; i < rows.size(); ++i) {
        char value[16];
        snprintf(value, sizeof value, "%08lX", static_cast<unsigned long>(i));
        PutProfileString(section.c_str(), value, rows[i].c_str());
    }
    return true;
}

bool LoadSelection(const std::string& name, AddOptions* options, std::vector<std::string>* rows) {
    const std::string section = FindSelectionSection(name);
    if (section.empty()) return false;
    LoadAddOptions(section, options);
    rows->clear();
    tessera::win32::RegistryKey key(GetSectionKey(section.c_str()));
    if (!key) return true;
    std::vector<std::pair<unsigned long, std::string>> values;
    for (DWORD index = 0;; ++index) {
        char valueName[MAX_PATH];
        BYTE data[MAX_PATH + 1];
        DWORD nameLength = sizeof valueName, dataLength = sizeof data - 1, type = 0;
        LONG status = RegEnumValueA(key.get(), index, valueName, &nameLength, nullptr, &type, data, &dataLength);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ || !IsHexName(valueName)) continue;
        data[dataLength] = 0;
        values.emplace_back(strtoul(valueName, nullptr, 16), reinterpret_cast<char*>(data));
    }
    key.reset();
    std::sort(values.begin(), values.end());
    for (const auto& value : values) {
        std::string path;
        if (SUCCEEDED(ResolveShellPath(value.second, &path))) rows->push_back(path);
    }
    return true;
}

bool DeleteSelection(const std::string& name) {
    const std::string section = FindSelectionSection(name);
    return !section.empty() && PutProfileString(section.c_str(), nullptr, nullptr);
}

HRESULT ResolveShellPath(const std::string& text, std::string* path) {
    tessera::win32::ComPtr<IShellFolder> desktop;
    HRESULT result = SHGetDesktopFolder(desktop.put());
    if (FAILED(result)) return result;
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    tessera::win32::TaskMemory<ITEMIDLIST> item;
    result = desktop->ParseDisplayName(nullptr, nullptr, wide, nullptr, item.put(), nullptr);
    desktop.reset();
    if (FAILED(result)) return result;
    char resolved[MAX_PATH];
    const bool fileSystem = SHGetPathFromIDListA(item.get(), resolved) != FALSE;
    if (!fileSystem || GetFileAttributesA(resolved) == INVALID_FILE_ATTRIBUTES)
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    *path = resolved;
    return S_OK;
}

void LoadIncludeOptions(const std::string& section, IncludeOptions* include) {
    include->subFolders = ReadValue(section, "SubFolders", include->subFolders) != 0;
    include->emptyFoldersOnly = ReadValue(section, "EmptyFolders", include->emptyFoldersOnly) != 0;
    include->systemHidden = ReadValue(section, "SystemHidden", include->systemHidden) != 0;
}

void SaveIncludeOptions(const std::string& section, const IncludeOptions& include) {
    const char* s = section.c_str();
    PutProfileInt(s, "SubFolders", include.subFolders);
    // Without folder entries the dialog never offered the choice.
    if (include.folderEntries) PutProfileInt(s, "EmptyFolders", include.emptyFoldersOnly);
    PutProfileInt(s, "SystemHidden", include.systemHidden);
}

}  // namespace tescommands
