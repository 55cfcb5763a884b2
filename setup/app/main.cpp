// Setup.exe: installs the system from the folder it lies in and, copied into
// the installation folder, uninstalls it again. Without options it shows the
// installation wizard (or the maintenance wizard when it lies in an
// installation); "/U" shows the uninstall wizard; "/S" runs either without
// a window and answers with its exit code; "/assoc ZIP", which the program
// asks for, associates ".zip" files with it (setup_options.h).
#include "setup/app/resource_ids.h"
#include "setup/app/wizard.h"
#include "setup/engine/installer.h"
#include "setup/records/setup_options.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

namespace {

using namespace tessera::setup;
using tessera::win32::KernelHandle;
using tessera::win32::ModuleHandle;

std::vector<std::u16string> Arguments() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    auto freeArguments = tessera::win32::OnScopeExit([&] { LocalFree(arguments); });
    std::vector<std::u16string> result;
    for (int i = 1; arguments && i < count; ++i) result.push_back(ToRecordText(arguments[i]));
    return result;
}

// An unattended run says why it failed on its standard error, when it has one.
void Report(const std::wstring& text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE) return;
    const std::string line = ToAnsi(L"Setup: " + text + L"\r\n");
    DWORD written = 0;
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int InstallUnattended(const SetupOptions& options, const SetupContext& context) {
    InstallScope scope = options.scope;
    if (scope == InstallScope::Default) scope = context.elevated ? InstallScope::Machine : InstallScope::CurrentUser;
    if (scope == InstallScope::Machine && !context.elevated) {
        Report(L"installing for all users needs an elevated process");
        return kExitNeedsElevation;
    }
    const std::wstring given = options.folder.empty() ? DefaultInstallationFolder(scope) : ToWide(options.folder);
    wchar_t folder[MAX_PATH];
    const DWORD length = GetFullPathNameW(given.c_str(), MAX_PATH, folder, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        Report(L"the installation folder is not a usable path");
        return kExitUsage;
    }
    InstallationRequest request;
    request.sourceFolder = context.sourceFolder;
    request.installationFolder = folder;
    request.desktopFolder = DesktopFolder();
    request.programsFolder = ProgramsFolder();
    request.scope = scope;
    const InstallationResult result = Install(request);
    if (!result.succeeded()) {
        Report(result.subject + L": " + SystemErrorText(result.error));
        return kExitFailed;
    }
    if (result.linksFailed) Report(L"some shortcuts could not be created");
    if (result.shellExtensionFailed) Report(L"the shell extension could not be registered");
    return kExitDone;
}

int UninstallUnattended(const SetupContext& context) {
    if (!context.uninstallInformation.valid) {
        Report(L"no valid uninstall information: " +
               std::wstring(context.uninstallInformation.problem.begin(), context.uninstallInformation.problem.end()));
        return kExitNoUninstallInfo;
    }
    const UninstallationResult result = Uninstall(context.uninstallInformation, context.programPath);
    for (const std::wstring& file : result.atRestart) Report(file + L": in use, deleted when Windows starts next");
    StartSelfDeletion(context.programPath);
    return result.failed == 0 ? kExitDone : kExitFailed;
}

// The common controls of Windows 95 and NT 4 lack the wizard pages; their
// update program is run when it came with the distribution.
bool CommonControlsUsable(const SetupContext& context) {
    DLLVERSIONINFO version = {};
    version.cbSize = sizeof version;
    HMODULE controls = GetModuleHandleA("comctl32.dll");
    FARPROC entry = controls ? GetProcAddress(controls, "DllGetVersion") : nullptr;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(entry));
    if (!getVersion || FAILED(getVersion(&version))) version.dwMajorVersion = 1, version.dwMinorVersion = 0;
    if (version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 80)) return true;
    const std::wstring update = context.sourceFolder + L"\\50comupd.exe";
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS;
    run.lpFile = update.c_str();
    run.lpParameters = L"/Q";
    run.nShow = SW_SHOWNORMAL;
    if (GetFileAttributesW(update.c_str()) != INVALID_FILE_ATTRIBUTES && ShellExecuteExW(&run)) {
        KernelHandle process(run.hProcess);
        if (process) WaitForSingleObject(process.get(), INFINITE);
        return true;
    }
    char text[1024];
    wsprintfA(text, LoadText(context.resources, IDS_OLD_COMMON_CONTROLS).c_str(), 5, 80,
              static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion));
    ShowMessage(nullptr, text, MB_OK | MB_ICONSTOP);
    return false;
}

int RunSetup(HINSTANCE program) {
    // Libraries come from the system, never from the distribution folder.
    SetDllDirectoryW(L"");
    SetupContext context;
    context.program = program;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return kExitFailed;
    context.programPath = path;
    context.sourceFolder = context.programPath.substr(0, context.programPath.find_last_of(L'\\'));
    context.elevated = IsProcessElevated();

    // Texts and pages in another language, as data only.
    ModuleHandle local(LoadLibraryExW((context.sourceFolder + L"\\TessInstLocal.dll").c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE));
    context.resources = local ? local.get() : program;

    std::u16string problem;
    const auto options = ParseSetupOptions(Arguments(), &problem);
    if (!options) {
        Report(L"not understood: " + ToWide(problem));
        bool unattended = false;
        for (const std::u16string& argument : Arguments()) unattended |= argument == u"/S" || argument == u"/s";
        if (!unattended) ShowMessage(nullptr, LoadText(context.resources, IDS_USAGE), MB_OK | MB_ICONSTOP);
        return kExitUsage;
    }
    context.uninstallInformation = LoadUninstallInformation(context.sourceFolder, DesktopFolder(), ProgramsFolder());

    if (options->action == SetupAction::AssociateZip) {
        const DWORD error = AssociateZip(context.sourceFolder, DesktopFolder(), ProgramsFolder());
        if (error == ERROR_SUCCESS) return kExitDone;
        Report(L"the association failed: " + SystemErrorText(error));
        if (!options->unattended) {
            ShowMessage(nullptr, LoadText(context.resources, IDS_ASSOCIATION_FAILED) + ToAnsi(SystemErrorText(error)),
                        MB_OK | MB_ICONSTOP);
        }
        return kExitFailed;
    }
    if (options->unattended) {
        return options->action == SetupAction::Uninstall ? UninstallUnattended(context)
                                                         : InstallUnattended(*options, context);
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (!CommonControlsUsable(context)) return kExitFailed;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto uninitialize = tessera::win32::OnScopeExit([com] {
        if (SUCCEEDED(com)) CoUninitialize();
    });
    WizardKind kind = WizardKind::Installation;
    if (options->action == SetupAction::Uninstall) kind = WizardKind::Uninstall;
    else if (context.uninstallInformation.valid) kind = WizardKind::Maintenance;
    RunWizard(kind, context);
    return kExitDone;
}

}  // namespace

int WINAPI WinMain(HINSTANCE program, HINSTANCE, LPSTR, int) { return RunSetup(program); }
