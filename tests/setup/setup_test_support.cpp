#include "setup_test_support.h"

#include "setup/engine/installer.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace tessera::setup::testing {

int RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD milliseconds) {
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    tessera::win32::KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

using win32::ComPtr;
using win32::FileHandle;
using win32::RegistryKey;

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

const std::vector<std::wstring> kDistributionFiles = {L"Setup.exe", L"tessera.exe", L"License.txt", L"Readme.htm",
                                                      L"docs\\guide.txt", L"docs\\deep\\notes.txt"};

void MakeDistribution(const std::wstring& folder, const std::wstring& setupProgram) {
    CreateDirectoryW((folder + L"\\docs").c_str(), nullptr);
    CreateDirectoryW((folder + L"\\docs\\deep").c_str(), nullptr);
    for (const std::wstring& name : kDistributionFiles) {
        const std::wstring path = folder + L"\\" + name;
        if (name == L"Setup.exe" && !setupProgram.empty()) {
            ASSERT_TRUE(CopyFileW(setupProgram.c_str(), path.c_str(), FALSE)) << GetLastError();
            continue;
        }
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file) << GetLastError();
        const std::string content = "content of " + std::string(name.begin(), name.end());
        DWORD written = 0;
        WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    }
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::wstring> RegistryString(HKEY root, const std::wstring& key, const wchar_t* value) {
    RegistryKey opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) return std::nullopt;
    wchar_t data[1024] = L"";
    DWORD size = sizeof data - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(opened.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    data[size / sizeof(wchar_t)] = L'\0';
    return std::wstring(data);
}

bool KeyExists(HKEY root, const std::wstring& key) {
    RegistryKey opened;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) == ERROR_SUCCESS;
}

std::optional<Shortcut> ReadShortcut(const std::wstring& file) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()))))
        return std::nullopt;
    ComPtr<IPersistFile> persist;
    if (FAILED(link.As(IID_IPersistFile, &persist)) || FAILED(persist->Load(file.c_str(), STGM_READ)))
        return std::nullopt;
    Shortcut shortcut;
    wchar_t text[MAX_PATH] = L"";
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) shortcut.target = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(text, MAX_PATH))) shortcut.arguments = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &shortcut.iconIndex))) shortcut.iconFile = text;
    return shortcut;
}

namespace {

const std::wstring kAppPaths = ToWide(kAppPathsKey);
const std::wstring kUninstall = ToWide(kUninstallKey);

std::wstring Group(const InstalledSystem& system) { return ProgramGroupFolder(system.programs); }

}  // namespace

void ExpectInstalled(const InstalledSystem& system) {
    for (const std::wstring& name : kDistributionFiles)
        EXPECT_TRUE(Exists(system.folder + L"\\" + name)) << std::string(name.begin(), name.end());
    EXPECT_TRUE(Exists(system.folder + L"\\Uninstall.dat"));

    EXPECT_EQ(RegistryString(system.root, kAppPaths, nullptr), system.folder + L"\\tessera.exe");
    EXPECT_EQ(RegistryString(system.root, kAppPaths, L"Path"), system.folder + L"\\");
    EXPECT_EQ(RegistryString(system.root, kUninstall, L"DisplayName"), std::wstring(L"Tessera 3.0"));
    EXPECT_EQ(RegistryString(system.root, kUninstall, L"UninstallString"),
              L"\"" + system.folder + L"\\Setup.exe\" /U");

    struct Expected {
        std::wstring file, target, arguments;
        int iconIndex;  // -1: the default
    };
    const Expected shortcuts[] = {
        {system.desktop + L"\\Tessera.lnk", system.folder + L"\\tessera.exe", L"", -1},
        {Group(system) + L"\\Tessera 3.0.lnk", system.folder + L"\\tessera.exe", L"", -1},
        {Group(system) + L"\\Product Information.lnk", system.folder + L"\\Readme.htm", L"", -1},
        {Group(system) + L"\\Uninstall Tessera.lnk", system.folder + L"\\Setup.exe", L"/U", 2},
    };
    for (const Expected& expected : shortcuts) {
        auto shortcut = ReadShortcut(expected.file);
        ASSERT_TRUE(shortcut) << "no shortcut " << std::string(expected.file.begin(), expected.file.end());
        EXPECT_EQ(_wcsicmp(shortcut->target.c_str(), expected.target.c_str()), 0)
            << std::string(shortcut->target.begin(), shortcut->target.end());
        EXPECT_EQ(shortcut->arguments, expected.arguments);
        if (expected.iconIndex >= 0) {
            EXPECT_EQ(shortcut->iconIndex, expected.iconIndex);
            EXPECT_EQ(_wcsicmp(shortcut->iconFile.c_str(), expected.target.c_str()), 0);
        }
    }
}

void ExpectRemoved(const InstalledSystem& system, const std::vector<std::wstring>& left) {
    for (const std::wstring& name : kDistributionFiles) {
        const bool kept = std::find(left.begin(), left.end(), name) != left.end();
        EXPECT_EQ(Exists(system.folder + L"\\" + name), kept) << std::string(name.begin(), name.end());
    }
    EXPECT_FALSE(Exists(system.folder + L"\\Uninstall.dat"));
    EXPECT_FALSE(Exists(system.folder + L"\\docs"));
    EXPECT_FALSE(Exists(system.desktop + L"\\Tessera.lnk"));
    EXPECT_FALSE(Exists(Group(system)));
    EXPECT_FALSE(KeyExists(system.root, kAppPaths));
    EXPECT_FALSE(KeyExists(system.root, kUninstall));
}

namespace {
const wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
}  // namespace

RedirectedShellFolder::RedirectedShellFolder(const wchar_t* name, const std::wstring& folder) : name_(name) {
    previous_ = RegistryString(HKEY_CURRENT_USER, kUserShellFolders, name);
    Set(folder);
}

RedirectedShellFolder::~RedirectedShellFolder() {
    if (previous_) {
        Set(*previous_);
        return;
    }
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), name_);
}

void RedirectedShellFolder::Set(const std::wstring& folder) {
    RegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key.get(), name_, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

void ForgetRegistry(HKEY root) {
    RegDeleteKeyW(root, kAppPaths.c_str());
    RegDeleteKeyW(root, kUninstall.c_str());
}

}  // namespace tessera::setup::testing
