// Registration of the shell extension: see registration.h.
//
// Every key the extension writes is "owned": it is created with its values
// and deleted whole. Parents that did not exist before (a fresh user's
// Software\Classes has no "*" or "Directory") are created on the way; the
// shallowest of them are recorded in the extension's own CLSID key so that
// unregistering removes them again once they hold nothing else, and never
// a parent that was there before.
//
// On 64-bit Windows both libraries are registered side by side. Their CLSID
// keys live apart (one per registry view), but most class keys ("*",
// "Directory", ...) are one key for both views: when the other library is
// still registered, unregistering leaves such shared keys to it and hands
// it the record of the parents they need removed later.
#include "registration.h"

#include "clsids.h"
#include "module.h"
#include "tescore.h"
#include "win32/handles.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace tesshell {
namespace {

using tessera::win32::KernelHandle;
using tessera::win32::RegistryKey;

// The view of this library's architecture (the 32-bit library registers
// itself where a 32-bit process looks, the 64-bit one in the native view).
constexpr REGSAM kView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
// The other architecture's view (the same as ours on a 32-bit system).
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr wchar_t kCreatedParentsValue[] = L"Tessera created keys";

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Value {
    std::wstring name;  // empty: the key's default value
    std::wstring data;
};
struct OwnedKey {
    std::wstring path;  // below the hive
    std::vector<std::pair<std::wstring, std::vector<Value>>> subkeys;  // "" is the key itself
};

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

std::vector<OwnedKey> OwnedKeys(const std::wstring& modulePath) {
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring shellExt = Wide(kShellExtClsidText);
    const std::wstring findExt = Wide(kFindArchivesClsidText);
    const std::vector<Value> server = {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}};
    std::vector<OwnedKey> keys = {
        {classes + L"CLSID\\" + shellExt, {{L"", {{L"", L"Tessera shell extension"}}}, {L"InprocServer32", server}}},
        {classes + L"CLSID\\" + findExt, {{L"", {{L"", L"Tessera archive search"}}}, {L"InprocServer32", server}}},
        {classes + L"*\\shellex\\ContextMenuHandlers\\Tessera", {{L"", {{L"", shellExt}}}}},
        {classes + L"Directory\\shellex\\ContextMenuHandlers\\Tessera", {{L"", {{L"", shellExt}}}}},
        {classes + L"Directory\\shellex\\DragDropHandlers\\Tessera", {{L"", {{L"", shellExt}}}}},
        {classes + L"Drive\\shellex\\DragDropHandlers\\Tessera", {{L"", {{L"", shellExt}}}}},
    };
    // The property page shows an archive's comment: the plain formats that have one.
    std::vector<std::wstring> extensions;
    for (UINT index = 0; index < ArcGetFormatCount(); ++index) {
        FORMATINFO info;
        if (FAILED(ArcGetFormatAt(index, &info)) || (info.variant & 0xFF) || !(info.capabilities & CAP_GETCOMMENT))
            continue;
        std::wstring extension = Wide(info.extension);
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end()) continue;
        extensions.push_back(extension);
        keys.push_back({classes + L"SystemFileAssociations\\" + extension + L"\\shellex\\PropertySheetHandlers\\Tessera",
                        {{L"", {{L"", shellExt}}}}});
    }
    keys.push_back({L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static\\TesseraFindArchives",
                    {{L"", {{L"", findExt}}}, {L"0", {{L"", L"&Archives..."}}}}});
    return keys;
}

bool KeyExists(HKEY hive, const std::wstring& path) {
    RegistryKey key;
    return RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | kView, key.put()) == ERROR_SUCCESS;
}

// The shallowest ancestor of `path` that does not exist yet (or "" when
// every ancestor exists).
std::wstring FirstMissingParent(HKEY hive, const std::wstring& path) {
    for (size_t end = path.find(L'\\'); end != std::wstring::npos; end = path.find(L'\\', end + 1)) {
        std::wstring parent = path.substr(0, end);
        if (!KeyExists(hive, parent)) return parent;
    }
    return std::wstring();
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& root) {
    if (path.size() < root.size() || _wcsnicmp(path.c_str(), root.c_str(), root.size()) != 0) return false;
    return path.size() == root.size() || path[root.size()] == L'\\';
}

std::vector<std::wstring> ReadCreatedParents(HKEY hive, const std::wstring& recordKey, REGSAM view = kView) {
    std::vector<std::wstring> parents;
    RegistryKey key;
    if (RegOpenKeyExW(hive, recordKey.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return parents;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), kCreatedParentsValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size > 65536)
        return parents;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key.get(), kCreatedParentsValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS)
        return parents;
    for (const wchar_t* p = text.data(); *p; p += wcslen(p) + 1) parents.emplace_back(p);
    return parents;
}

LSTATUS WriteCreatedParents(HKEY key, const std::vector<std::wstring>& parents) {
    std::wstring block;
    for (const std::wstring& parent : parents) block += parent + L'\0';
    block += L'\0';
    return RegSetValueExW(key, kCreatedParentsValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                          static_cast<DWORD>(block.size() * sizeof(wchar_t)));
}

LSTATUS WriteKey(HKEY hive, const std::wstring& path, const std::vector<Value>& values, RegistryKey* created) {
    RegistryKey key;
    LSTATUS status = RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_WRITE | kView, nullptr, key.put(), nullptr);
    for (const Value& value : values) {
        if (status != ERROR_SUCCESS) break;
        status = RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.data.c_str()),
                                static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
    }
    if (created && status == ERROR_SUCCESS) *created = std::move(key);
    return status;
}

std::pair<std::wstring, std::wstring> SplitParent(const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return {std::wstring(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// Deletes `path` when it holds neither subkeys nor values.
bool DeleteIfEmpty(HKEY hive, const std::wstring& path) {
    {
        RegistryKey key;
        if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | kView, key.put()) != ERROR_SUCCESS) return false;
        DWORD subkeys = 0, values = 0;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subkeys != 0 || values != 0)
            return false;
    }
    return RegDeleteKeyExW(hive, path.c_str(), kView, 0) == ERROR_SUCCESS;
}

LSTATUS DeleteOwnedKey(HKEY hive, const std::wstring& path) {
    auto [parentPath, name] = SplitParent(path);
    RegistryKey parent;
    LSTATUS status = RegOpenKeyExW(hive, parentPath.c_str(), 0, KEY_ALL_ACCESS | kView, parent.put());
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeW(parent.get(), name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// Whether the other architecture's library is registered (its class in its
// own view). Asked after our own class key is gone, so on a 32-bit system,
// where both views are one, the answer is no.
bool OtherLibraryRegistered(HKEY hive, const std::wstring& classKey) {
    RegistryKey key;
    return RegOpenKeyExW(hive, (classKey + L"\\InprocServer32").c_str(), 0, KEY_READ | kOtherView, key.put()) ==
           ERROR_SUCCESS;
}

// Whether the other library still needs our key `path`: it is one key for
// both views (a value written through ours is seen through the other), or
// the other view does not show it at all -- then which key the other
// library's process reaches cannot be told from here (some registries share
// a class key with 32-bit processes but hide it from the 32-bit view of a
// 64-bit one), and the key stays for the library unregistered last.
bool NeededByOtherLibrary(HKEY hive, const std::wstring& path) {
    RegistryKey ours, theirs;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | kView, ours.put()) != ERROR_SUCCESS)
        return false;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE | kOtherView, theirs.put()) != ERROR_SUCCESS)
        return true;
    static const wchar_t kProbe[] = L"Tessera view probe";
    const DWORD one = 1;
    if (RegSetValueExW(ours.get(), kProbe, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) !=
        ERROR_SUCCESS)
        return true;
    const bool seen = RegQueryValueExW(theirs.get(), kProbe, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegDeleteValueW(ours.get(), kProbe);
    return seen;
}

// Adds `parents` to the other library's record.
void HandOverCreatedParents(HKEY hive, const std::wstring& classKey, const std::vector<std::wstring>& parents) {
    std::vector<std::wstring> merged = ReadCreatedParents(hive, classKey, kOtherView);
    for (const std::wstring& parent : parents)
        if (std::find(merged.begin(), merged.end(), parent) == merged.end()) merged.push_back(parent);
    RegistryKey key;
    if (RegOpenKeyExW(hive, classKey.c_str(), 0, KEY_SET_VALUE | kOtherView, key.put()) == ERROR_SUCCESS)
        WriteCreatedParents(key.get(), merged);
}

HRESULT Unregister(HKEY hive) {
    const std::vector<OwnedKey> keys = OwnedKeys(std::wstring());
    const std::wstring& classKey = keys.front().path;
    const std::vector<std::wstring> createdParents = ReadCreatedParents(hive, classKey);
    LSTATUS failure = ERROR_SUCCESS;
    bool otherLibrary = false;
    bool keptShared = false;
    for (size_t index = 0; index < keys.size(); ++index) {
        const OwnedKey& owned = keys[index];
        // The two class keys come first; then it is known whether the other
        // library still needs the shared keys.
        if (index == 2) otherLibrary = OtherLibraryRegistered(hive, classKey);
        if (index >= 2 && otherLibrary && NeededByOtherLibrary(hive, owned.path)) {
            keptShared = true;
            continue;
        }
        LSTATUS status = DeleteOwnedKey(hive, owned.path);
        if (status != ERROR_SUCCESS) failure = status;
        // Up the parents this registration made, while they are empty.
        for (std::wstring parent = SplitParent(owned.path).first; !parent.empty();
             parent = SplitParent(parent).first) {
            bool ours = std::any_of(createdParents.begin(), createdParents.end(),
                                    [&](const std::wstring& root) { return IsAtOrBelow(parent, root); });
            if (!ours || !DeleteIfEmpty(hive, parent)) break;
        }
    }
    if (keptShared && !createdParents.empty()) HandOverCreatedParents(hive, classKey, createdParents);
    return failure == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(failure);
}

HKEY CallersHive() { return CallerIsElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

}  // namespace

bool CallerIsElevated() {
    KernelHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

HRESULT RegisterServer() {
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return E_FAIL;
    const HKEY hive = CallersHive();
    const std::vector<OwnedKey> keys = OwnedKeys(modulePath);

    // Which parents are missing, before anything is created; an earlier
    // registration's record is kept.
    std::vector<std::wstring> createdParents = ReadCreatedParents(hive, keys.front().path);
    for (const OwnedKey& owned : keys) {
        std::wstring parent = FirstMissingParent(hive, owned.path);
        if (!parent.empty() && std::find(createdParents.begin(), createdParents.end(), parent) == createdParents.end())
            createdParents.push_back(parent);
    }

    LSTATUS status = ERROR_SUCCESS;
    for (size_t index = 0; index < keys.size() && status == ERROR_SUCCESS; ++index) {
        const OwnedKey& owned = keys[index];
        for (const auto& [subkey, values] : owned.subkeys) {
            std::wstring path = subkey.empty() ? owned.path : owned.path + L"\\" + subkey;
            RegistryKey created;
            status = WriteKey(hive, path, values, &created);
            // The record goes first, so that a registration that fails
            // half-way is undone completely.
            if (status == ERROR_SUCCESS && index == 0 && subkey.empty())
                status = WriteCreatedParents(created.get(), createdParents);
            if (status != ERROR_SUCCESS) break;
        }
    }
    if (status != ERROR_SUCCESS) {
        Unregister(hive);
        return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

HRESULT UnregisterServer() { return Unregister(CallersHive()); }

}  // namespace tesshell
