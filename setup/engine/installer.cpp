#include "setup/engine/installer.h"

#include "win32/com_ptr.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <utility>

namespace tessera::setup {
namespace {

using win32::ComPtr;
using win32::FileHandle;
using win32::FindHandle;
using win32::ModuleHandle;
using win32::RegistryKey;

constexpr wchar_t kDisplayName[] = L"Tessera 3.0";
constexpr wchar_t kProgramFile[] = L"tessera.exe";
constexpr wchar_t kSetupFile[] = L"Setup.exe";
constexpr wchar_t kReadmeFile[] = L"Readme.htm";
constexpr wchar_t kShellExtensionFile[] = L"tesshell.dll";
// The 64-bit shell extension of the 32-bit product, below the installation
// folder; the 64-bit shell of 64-bit Windows loads only this one.
constexpr wchar_t kNativeShellExtensionFolder[] = L"x64";
// How long regsvr32 may take before its registration counts as failed.
constexpr DWORD kRegistrarTimeout = 60000;
constexpr int kUninstallIconIndex = 2;
// Uninstall information larger than this is not ours (a real one holds a
// few dozen records of at most 1,052 bytes).
constexpr LONGLONG kLargestUninstallFile = 4 << 20;

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return ToWide(JoinPath(ToRecordText(folder), ToRecordText(name)));
}

std::wstring WithoutBackslash(const std::wstring& path) {
    return ToWide(WithoutTrailingBackslash(ToRecordText(path)));
}

HKEY RootKey(uint32_t root) { return root == kRootCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The files and folders below a folder, as paths relative to it; folders
// before what they hold.
struct SourceTree {
    std::vector<std::wstring> folders;
    std::vector<std::wstring> files;
};

DWORD CollectTree(const std::wstring& base, const std::wstring& relative, SourceTree& tree) {
    const std::wstring pattern = Join(relative.empty() ? base : Join(base, relative), L"*");
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (!find) return GetLastError();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // not ours to copy
            tree.folders.push_back(path);
            if (DWORD error = CollectTree(base, path, tree)) return error;
        } else {
            tree.files.push_back(path);
        }
    } while (FindNextFileW(find.get(), &found));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

bool KeyIsEmpty(HKEY key) {
    DWORD subkeys = 0, values = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

std::wstring ReadString(HKEY root, const wchar_t* key, const wchar_t* name);

bool SetKeyString(HKEY key, const wchar_t* name, const std::wstring& data) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Gives an extension that Setup associated back to the owner it had before
// (none: the machine's association shows again). An extension someone else
// has taken over since keeps its new owner.
bool HandBackExtension(HKEY root, const std::wstring& classKey) {
    RegistryKey key;
    const LONG status = RegOpenKeyExW(root, classKey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    const std::wstring owner = ReadString(root, classKey.c_str(), nullptr);
    const std::wstring previous = ReadString(root, classKey.c_str(), ToWide(kPreviousOwnerValue).c_str());
    bool done = true;
    if (_wcsicmp(owner.c_str(), ToWide(kProgramClass).c_str()) == 0) {
        done = previous.empty() ? RegDeleteValueW(key.get(), nullptr) == ERROR_SUCCESS
                                : SetKeyString(key.get(), nullptr, previous);
    }
    RegDeleteValueW(key.get(), ToWide(kPreviousOwnerValue).c_str());
    if (KeyIsEmpty(key.get())) {
        key.reset();
        RegDeleteKeyW(root, classKey.c_str());
    }
    return done;
}

// Carries out one record; false when it could not be (a missing file or
// key counts as done, a folder still holding the user's files too).
bool CarryOut(const UninstallRecord& record, const std::wstring& keepFile, UninstallationResult& result) {
    const std::wstring path = ToWide(record.path);
    switch (record.type) {
    case RecordType::FileToDelete: {
        if (!keepFile.empty() && SamePath(record.path, ToRecordText(keepFile))) return true;
        if (DeleteFileW(path.c_str())) return true;
        DWORD error = GetLastError();
        if (IsMissing(error)) return true;
        if (error == ERROR_ACCESS_DENIED) {
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
                SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
                if (DeleteFileW(path.c_str())) return true;
                error = GetLastError();
            }
        }
        // In use (a running program, a loaded library): gone at the next start.
        if ((error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION) &&
            MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            result.atRestart.push_back(path);
            return true;
        }
        return false;
    }
    case RecordType::FolderToRemove: {
        if (RemoveDirectoryW(path.c_str())) return true;
        const DWORD error = GetLastError();
        return IsMissing(error) || error == ERROR_DIR_NOT_EMPTY;
    }
    case RecordType::ValueToDelete: {
        RegistryKey key;
        LONG status = RegOpenKeyExW(RootKey(record.rootKey), path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                    key.put());
        if (status == ERROR_FILE_NOT_FOUND) return true;
        if (status != ERROR_SUCCESS) return false;
        status = RegDeleteValueW(key.get(), ToWide(record.valueName).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
        // A key Setup wrote values into goes when its last value does.
        if (KeyIsEmpty(key.get())) {
            key.reset();
            RegDeleteKeyW(RootKey(record.rootKey), path.c_str());
        }
        return true;
    }
    case RecordType::KeyToDelete: {
        const LONG status = RegDeleteKeyW(RootKey(record.rootKey), path.c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    case RecordType::AssociationToRestore: return HandBackExtension(RootKey(record.rootKey), path);
    case RecordType::Invalid: break;
    }
    return false;
}

void CarryOutAll(const std::vector<UninstallRecord>& records, const std::wstring& keepFile,
                 UninstallationResult& result) {
    for (const UninstallRecord& record : records) {
        if (!CarryOut(record, keepFile, result)) ++result.failed;
    }
}

// Writes the uninstall file; ERROR_SUCCESS or why not.
DWORD SaveUninstallFile(const std::wstring& path, const std::vector<UninstallRecord>& records) {
    const auto bytes = WriteUninstallFile(records);
    if (!bytes) return ERROR_FILENAME_EXCED_RANGE;
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &written, nullptr) ||
        written != bytes->size() || !FlushFileBuffers(file.get())) {
        const DWORD error = GetLastError();
        return error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error;
    }
    return ERROR_SUCCESS;
}

// Calls DllRegisterServer or DllUnregisterServer of the shell extension
// when it lies in the folder; false only when the call failed.
bool CallShellExtension(const std::wstring& folder, const char* function) {
    const std::wstring path = Join(folder, kShellExtensionFile);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    ModuleHandle library(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return false;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library.get(), function)));
    return !entry || SUCCEEDED(entry());
}

// A 32-bit process on 64-bit Windows.
bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Registers (or unregisters) a 64-bit library through the 64-bit
// regsvr32.exe: a 32-bit process cannot load it, and only "Sysnative"
// names the real System32 folder to it (the file system redirector turns
// System32 into SysWOW64). ERROR_SUCCESS, or why not.
DWORD RunNativeRegistrar(const std::wstring& library, bool unregister) {
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ERROR_PATH_NOT_FOUND;
    const std::wstring registrar = Join(windows, L"Sysnative\\regsvr32.exe");
    std::wstring command = L"\"" + registrar + (unregister ? L"\" /u /s \"" : L"\" /s \"") + library + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(registrar.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return GetLastError();
    win32::KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, kRegistrarTimeout) != WAIT_OBJECT_0) return WAIT_TIMEOUT;
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code)) return GetLastError();
    // regsvr32 ends with 0 when the library's entry point succeeded.
    return code == 0 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
}

// Registers the 64-bit shell extension when it lies in the installation and
// Setup runs on 64-bit Windows; false only when that failed (what it got
// written is taken back).
bool RegisterNativeShellExtension(const std::wstring& installationFolder) {
    if (!RunsUnderWow64()) return true;
    const std::wstring library = Join(Join(installationFolder, kNativeShellExtensionFolder), kShellExtensionFile);
    if (GetFileAttributesW(library.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    if (RunNativeRegistrar(library, false) == ERROR_SUCCESS) return true;
    RunNativeRegistrar(library, true);
    return false;
}

bool SaveShortcut(const std::wstring& file, const std::wstring& target, const std::wstring& arguments,
                  const std::wstring& iconFile, const std::wstring& workingFolder) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()))))
        return false;
    link->SetPath(target.c_str());
    link->SetArguments(arguments.c_str());
    link->SetWorkingDirectory(workingFolder.c_str());
    if (!iconFile.empty()) link->SetIconLocation(iconFile.c_str(), kUninstallIconIndex);
    ComPtr<IPersistFile> persist;
    if (FAILED(link.As(IID_IPersistFile, &persist))) return false;
    return SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

// COM for the shell link object, balanced on every path.
class ComApartment {
public:
    ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialized_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized_;
};

// One installation: what it made so far, and how to undo it.
class Installation {
public:
    Installation(const InstallationRequest& request, const StepObserver& observe)
        : request_(request), observe_(observe), target_(WithoutBackslash(request.installationFolder)) {}

    InstallationResult Run() {
        bool done = CopyFiles();
        if (done) {
            CreateLinks();  // a shortcut that fails is reported, not fatal
            done = WriteRegistry() && WriteUninstallInformation();
        }
        if (!done) {
            Undo();
            return result_;
        }
        if (!CallShellExtension(target_, "DllRegisterServer")) result_.shellExtensionFailed = true;
        if (!RegisterNativeShellExtension(target_)) result_.shellExtensionFailed = true;
        return result_;
    }

private:
    void Observe(InstallStep step, StepState state) const {
        if (observe_) observe_(step, state);
    }

    bool Fail(DWORD error, std::wstring subject) {
        result_.error = error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
        result_.subject = std::move(subject);
        return false;
    }

    // Creates the folder and the missing ones above it; those made are
    // removed again when the installation is undone.
    bool MakeFolder(const std::wstring& folder) {
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            made_.push_back(folder);
            return true;
        }
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS) {
            return (GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                   Fail(ERROR_ALREADY_EXISTS, folder);
        }
        const size_t separator = folder.find_last_of(L'\\');
        if (error != ERROR_PATH_NOT_FOUND || separator == std::wstring::npos || separator < 3)
            return Fail(error, folder);
        if (!MakeFolder(folder.substr(0, separator))) return false;
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            made_.push_back(folder);
            return true;
        }
        return Fail(GetLastError(), folder);
    }

    bool CopyFiles() {
        Observe(InstallStep::CopyFiles, StepState::InProgress);
        const std::wstring source = WithoutBackslash(request_.sourceFolder);
        const std::u16string target16 = ToRecordText(target_);
        // Copying a folder into itself or below itself never ends well.
        if (!IsPlainAbsolutePath(target16) || target16.size() <= 3 || SamePath(target16, ToRecordText(source)) ||
            IsBelow(target16, ToRecordText(source))) {
            Observe(InstallStep::CopyFiles, StepState::Failed);
            return Fail(ERROR_BAD_PATHNAME, target_);
        }
        SourceTree tree;
        if (DWORD error = CollectTree(source, L"", tree)) {
            Observe(InstallStep::CopyFiles, StepState::Failed);
            return Fail(error, source);
        }
        bool copied = MakeFolder(target_);
        for (size_t i = 0; copied && i < tree.folders.size(); ++i) copied = MakeFolder(Join(target_, tree.folders[i]));
        for (size_t i = 0; copied && i < tree.files.size(); ++i) {
            const std::wstring from = Join(source, tree.files[i]);
            const std::wstring to = Join(target_, tree.files[i]);
            if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
                copied = Fail(GetLastError(), to);
            } else {
                // A read-only copy would stop the next installation over this one.
                SetFileAttributesW(to.c_str(), GetFileAttributesW(to.c_str()) & ~FILE_ATTRIBUTE_READONLY);
                records_.push_back(UninstallRecord::File(ToRecordText(to)));
            }
        }
        // The folders after their files, the deepest first.
        for (auto folder = tree.folders.rbegin(); copied && folder != tree.folders.rend(); ++folder)
            records_.push_back(UninstallRecord::Folder(ToRecordText(Join(target_, *folder))));
        Observe(InstallStep::CopyFiles, copied ? StepState::Done : StepState::Failed);
        return copied;
    }

    void CreateLinks() {
        Observe(InstallStep::CreateLinks, StepState::InProgress);
        const std::wstring program = Join(target_, kProgramFile);
        const std::wstring setup = Join(target_, kSetupFile);
        bool saved = Link(Join(request_.desktopFolder, ToWide(kDesktopShortcutName)), program, L"", L"");
        const std::wstring group = ProgramGroupFolder(request_.programsFolder);
        const bool groupExisted = GetFileAttributesW(group.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (groupExisted || CreateDirectoryW(group.c_str(), nullptr)) {
            saved &= Link(Join(group, ToWide(kProgramShortcutName)), program, L"", L"");
            saved &= Link(Join(group, ToWide(kReadmeShortcutName)), Join(target_, kReadmeFile), L"", L"");
            saved &= Link(Join(group, ToWide(kUninstallShortcutName)), setup, L"/U", setup);
            records_.push_back(UninstallRecord::Folder(ToRecordText(group)));
            SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, group.c_str(), nullptr);
        } else {
            saved = false;
        }
        SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, request_.desktopFolder.c_str(), nullptr);
        result_.linksFailed = !saved;
        Observe(InstallStep::CreateLinks, saved ? StepState::Done : StepState::Failed);
    }

    bool Link(const std::wstring& file, const std::wstring& target, const std::wstring& arguments,
              const std::wstring& iconFile) {
        if (!SaveShortcut(file, target, arguments, iconFile, target_)) return false;
        records_.push_back(UninstallRecord::File(ToRecordText(file)));
        return true;
    }

    bool SetString(HKEY key, const wchar_t* name, const std::wstring& data, const std::wstring& keyPath) {
        const LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        return status == ERROR_SUCCESS ||
               Fail(static_cast<DWORD>(status), keyPath + L"\\" + (name ? name : L"(default)"));
    }

    bool WriteRegistry() {
        const uint32_t root = request_.scope == InstallScope::CurrentUser ? kRootCurrentUser : kRootLocalMachine;
        const std::wstring rootName = root == kRootCurrentUser ? L"HKEY_CURRENT_USER\\" : L"HKEY_LOCAL_MACHINE\\";
        const std::wstring appPaths = ToWide(kAppPathsKey);
        RegistryKey key;
        LONG status = RegCreateKeyExW(RootKey(root), appPaths.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                      key.put(), nullptr);
        if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status), rootName + appPaths);
        records_.push_back(UninstallRecord::RegistryKey(root, kAppPathsKey));
        if (!SetString(key.get(), nullptr, Join(target_, kProgramFile), rootName + appPaths) ||
            !SetString(key.get(), L"Path", target_ + L"\\", rootName + appPaths))
            return false;

        const std::wstring uninstall = ToWide(kUninstallKey);
        status = RegCreateKeyExW(RootKey(root), uninstall.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                 nullptr);
        if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status), rootName + uninstall);
        records_.push_back(UninstallRecord::RegistryValue(root, kUninstallKey, kDisplayNameValue));
        if (!SetString(key.get(), L"DisplayName", kDisplayName, rootName + uninstall)) return false;
        records_.push_back(UninstallRecord::RegistryValue(root, kUninstallKey, kUninstallStringValue));
        return SetString(key.get(), L"UninstallString", L"\"" + Join(target_, kSetupFile) + L"\" /U",
                         rootName + uninstall);
    }

    bool WriteUninstallInformation() {
        const std::wstring path = Join(target_, ToWide(kUninstallFileName));
        const bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        records_.push_back(UninstallRecord::File(ToRecordText(path)));
        const DWORD error = SaveUninstallFile(path, records_);
        if (error == ERROR_SUCCESS) return true;
        // Not made: an earlier installation's file (or whatever stands there) stays.
        if (existed) records_.pop_back();
        return Fail(error, path);
    }

    void Undo() {
        UninstallationResult ignored;
        CarryOutAll(records_, {}, ignored);
        for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) RemoveDirectoryW(folder->c_str());
        records_.clear();
    }

    const InstallationRequest& request_;
    const StepObserver& observe_;
    const std::wstring target_;
    std::vector<UninstallRecord> records_;  // in the order made
    std::vector<std::wstring> made_;        // folders created, outermost first
    InstallationResult result_;
};

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

std::wstring ReadString(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t data[MAX_PATH] = L"";
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    RegistryKey opened;
    if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    data[size / sizeof(wchar_t)] = L'\0';
    return data;
}

}  // namespace

InstallationResult Install(const InstallationRequest& request, const StepObserver& observe) {
    ComApartment com;
    return Installation(request, observe).Run();
}

UninstallInformation LoadUninstallInformation(const std::wstring& installationFolder,
                                              const std::wstring& desktopFolder, const std::wstring& programsFolder) {
    UninstallInformation information;
    // The folder as the records name it: long names, not 8.3 ones.
    wchar_t longFolder[MAX_PATH];
    DWORD length = GetLongPathNameW(installationFolder.c_str(), longFolder, MAX_PATH);
    const std::wstring folder = length > 0 && length < MAX_PATH ? longFolder : installationFolder;
    FileHandle file(CreateFileW(Join(folder, ToWide(kUninstallFileName)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        information.problem = "no uninstall information";
        return information;
    }
    if (size.QuadPart > kLargestUninstallFile) {
        information.problem = "uninstall information too large";
        return information;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(bytes.size());
    if (wanted != 0 && (!ReadFile(file.get(), bytes.data(), wanted, &read, nullptr) || read != wanted)) {
        information.problem = "uninstall information unreadable";
        return information;
    }
    auto records = ReadUninstallFile(bytes);
    if (!records) {
        information.problem = "uninstall information damaged";
        return information;
    }
    const InstallationFolders folders = {ToRecordText(WithoutBackslash(folder)),
                                         ToRecordText(WithoutBackslash(desktopFolder)),
                                         ToRecordText(ProgramGroupFolder(programsFolder))};
    if (!RecordsWithinInstallation(*records, folders, &information.problem)) return information;
    information.records = std::move(*records);
    information.valid = true;
    return information;
}

UninstallationResult Uninstall(const UninstallInformation& information, const std::wstring& keepFile) {
    UninstallationResult result;
    if (!information.valid) return result;
    // The shell extensions let go of their registration while their files
    // are still there: ours in-process, the 64-bit one (in its folder of
    // its own) through the 64-bit regsvr32 on 64-bit Windows.
    for (const UninstallRecord& record : information.records) {
        const std::wstring path = ToWide(record.path);
        const size_t separator = path.find_last_of(L'\\');
        if (record.type != RecordType::FileToDelete || separator == std::wstring::npos ||
            _wcsicmp(path.c_str() + separator + 1, kShellExtensionFile) != 0)
            continue;
        const std::wstring folder = path.substr(0, separator);
        const size_t parent = folder.find_last_of(L'\\');
        const bool native = parent != std::wstring::npos &&
                            _wcsicmp(folder.c_str() + parent + 1, kNativeShellExtensionFolder) == 0;
        if (!native) {
            ComApartment com;
            CallShellExtension(folder, "DllUnregisterServer");
        } else if (RunsUnderWow64() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            RunNativeRegistrar(path, true);
        }
    }
    CarryOutAll(information.records, keepFile, result);
    return result;
}

DWORD AssociateZip(const std::wstring& installationFolder, const std::wstring& desktopFolder,
                   const std::wstring& programsFolder) {
    UninstallInformation information = LoadUninstallInformation(installationFolder, desktopFolder, programsFolder);
    if (!information.valid) return ERROR_FILE_NOT_FOUND;
    const std::wstring folder = WithoutBackslash(installationFolder);
    const std::wstring program = Join(folder, kProgramFile);
    const std::wstring programClass = ToWide(kProgramClassKey);
    const std::wstring zipClass = ToWide(kZipClassKey);
    const uint32_t root = RecordedRegistryRoot(information.records) == kRootLocalMachine ? kRootLocalMachine
                                                                                          : kRootCurrentUser;
    const HKEY classes = RootKey(root);

    // What undoes the association, in the order it is carried out: the
    // class's keys deepest first, then the extension handed back.
    std::vector<UninstallRecord> added;
    for (const char16_t* subkey : kProgramClassSubkeys)
        added.push_back(UninstallRecord::RegistryKey(root, kProgramClassKey + std::u16string(subkey)));
    added.push_back(UninstallRecord::RegistryKey(root, kProgramClassKey));
    added.push_back(UninstallRecord::Association(root, kZipClassKey));
    auto undo = [&] {
        UninstallationResult ignored;
        CarryOutAll(added, {}, ignored);
    };
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"\\shell\\open\\command", L"\"" + program + L"\" \"%1\""},
        {L"\\shell\\open", L"&Open"},
        {L"\\shell", L"open"},
        {L"\\DefaultIcon", program + L",0"},
        {L"", L"ZIP archive"},
    };
    for (const auto& [subkey, data] : values) {
        RegistryKey key;
        LONG status = RegCreateKeyExW(classes, (programClass + subkey).c_str(), 0, nullptr, 0,
                                      KEY_SET_VALUE, nullptr, key.put(), nullptr);
        if (status == ERROR_SUCCESS && !SetKeyString(key.get(), nullptr, data)) status = ERROR_WRITE_FAULT;
        if (status != ERROR_SUCCESS) {
            undo();
            return static_cast<DWORD>(status);
        }
    }

    // The extension: its owner so far is kept, once (a second association keeps the first owner).
    RegistryKey extension;
    LONG status = RegCreateKeyExW(classes, zipClass.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                  nullptr, extension.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        undo();
        return static_cast<DWORD>(status);
    }
    const std::wstring owner = ReadString(classes, zipClass.c_str(), nullptr);
    const bool ours = _wcsicmp(owner.c_str(), ToWide(kProgramClass).c_str()) == 0;
    if (!ours && !owner.empty() && !SetKeyString(extension.get(), ToWide(kPreviousOwnerValue).c_str(), owner)) {
        undo();
        return ERROR_WRITE_FAULT;
    }
    if (!SetKeyString(extension.get(), nullptr, ToWide(kProgramClass))) {
        undo();
        return ERROR_WRITE_FAULT;
    }
    extension.reset();

    std::vector<UninstallRecord> records = information.records;
    for (const UninstallRecord& record : added) {
        if (std::find(records.begin(), records.end(), record) == records.end()) records.push_back(record);
    }
    const DWORD error = SaveUninstallFile(Join(folder, ToWide(kUninstallFileName)), records);
    if (error != ERROR_SUCCESS) {
        undo();
        SaveUninstallFile(Join(folder, ToWide(kUninstallFileName)), information.records);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return error;
}

bool StartSelfDeletion(const std::wstring& program) {
    wchar_t temporary[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temporary);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::wstring batch = Join(temporary, L"Complete_Tessera_Uninstallation.bat");
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    const std::wstring text = L":repeat\r\n@del \"" + program + L"\"\r\n@if exist \"" + program +
                              L"\" goto repeat\r\n@rmdir \"" + folder + L"\"\r\n@del \"%~f0\"\r\n";
    // The command interpreter reads batch files in the OEM code page.
    const int size = WideCharToMultiByte(CP_OEMCP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_OEMCP, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    {
        FileHandle file(CreateFileW(batch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size())
            return false;
    }
    std::wstring command = L"\"" + batch + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | IDLE_PRIORITY_CLASS,
                        nullptr, temporary, &startup, &process))
        return false;
    win32::KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    return true;
}

std::wstring DesktopFolder() { return ShellFolder(CSIDL_DESKTOPDIRECTORY); }
std::wstring ProgramsFolder() { return ShellFolder(CSIDL_PROGRAMS); }
std::wstring ProgramGroupFolder(const std::wstring& programsFolder) {
    return Join(programsFolder, ToWide(kProgramGroupName));
}

std::wstring DefaultInstallationFolder(InstallScope scope) {
    const HKEY root = scope == InstallScope::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    std::wstring earlier = ReadString(root, ToWide(kAppPathsKey).c_str(), L"Path");
    if (!earlier.empty()) return WithoutBackslash(earlier);
    if (scope == InstallScope::CurrentUser) {
        const std::wstring local = ShellFolder(CSIDL_LOCAL_APPDATA);
        if (!local.empty()) return Join(Join(local, L"Programs"), L"Tessera");
    } else {
        const std::wstring programFiles =
            ReadString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir");
        if (!programFiles.empty()) return Join(programFiles, L"Tessera");
    }
    return L"C:\\Tessera";
}

bool IsProcessElevated() {
    win32::KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

std::wstring SystemErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    auto freeBuffer = win32::OnScopeExit([&] { LocalFree(buffer); });
    std::wstring text = length ? std::wstring(buffer, length) : L"Error " + std::to_wstring(error);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text;
}

}  // namespace tessera::setup
