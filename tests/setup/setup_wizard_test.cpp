// The wizards of Setup.exe as a user goes through them (under Xvfb): the
// installation wizard page by page -- welcome, license (Next only once
// accepted), folder (just for the user, into a scratch folder), ready,
// finished, after a first try that fails on a locked file and stays on the
// ready page -- then the maintenance wizard of the installed copy, which
// uninstalls, and the uninstall wizard ("/U") of a folder holding no
// installation, which deletes nothing. The test drives the program from outside through the
// property sheet's messages, as an accessibility tool would.
#include "setup/app/resource_ids.h"
#include "setup/engine/installer.h"
#include "setup_test_support.h"
#include "test_files.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using namespace tessera::setup;
using namespace tessera::setup::testing;
using tessera::testing::HostPathToNative;
using tessera::testing::ScratchFolder;
using tessera::win32::KernelHandle;

constexpr int kNextButton = 0x3024;  // the wizard's Next button

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds = 20000) {
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}

struct WindowSearch {
    DWORD process;
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    if (owner != search->process || !IsWindowVisible(window) ||
        (search->caption && strcmp(text, search->caption) != 0))
        return TRUE;
    search->found = window;
    return FALSE;
}

// A visible top-level window of the process with the caption, or any when
// the caption is null.
HWND FindProcessWindow(DWORD process, const char* caption) {
    WindowSearch search = {process, caption, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// With TESSERA_SETUP_SCREENSHOTS naming a folder, the screen under the
// wizard is saved there as NAME.bmp (scripts/setup_screenshots turns them
// into the pictures of the pages).
void Snapshot(HWND sheet, const char* name) {
    const char* folder = std::getenv("TESSERA_SETUP_SCREENSHOTS");
    if (!folder || !sheet) return;
    Sleep(700);  // let the page paint
    RECT area;
    GetWindowRect(sheet, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    auto releaseScreen = tessera::win32::OnScopeExit([&] { ReleaseDC(nullptr, screen); });
    HDC memory = CreateCompatibleDC(screen);
    auto deleteMemory = tessera::win32::OnScopeExit([&] { DeleteDC(memory); });
    tessera::win32::BitmapHandle picture(
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!picture) return;
    HGDIOBJ previous = SelectObject(memory, picture.get());
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(static_cast<const char*>(bits), stride * static_cast<DWORD>(height));
    tessera::testing::WriteWholeFile(std::string(folder) + "\\" + name + ".bmp", bytes);
}

class RunningSetup {
public:
    explicit RunningSetup(const std::wstring& program, const std::wstring& arguments = {}) {
        std::wstring command = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            return;
        process_.reset(process.hProcess);
        KernelHandle thread(process.hThread);
        id_ = process.dwProcessId;
        WaitFor([&] { return (sheet_ = FindProcessWindow(id_, nullptr)) != nullptr; });
    }
    ~RunningSetup() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
    }
    RunningSetup(const RunningSetup&) = delete;
    RunningSetup& operator=(const RunningSetup&) = delete;

    HWND Sheet() const { return sheet_; }
    // The current page once it holds the control.
    HWND PageWith(int control) const {
        HWND page = nullptr;
        WaitFor([&] {
            page = reinterpret_cast<HWND>(SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
            return page && GetDlgItem(page, control);
        });
        return page && GetDlgItem(page, control) ? page : nullptr;
    }
    bool NextEnabled() const { return IsWindowEnabled(GetDlgItem(sheet_, kNextButton)) != FALSE; }
    void Press(int button) const { PostMessageA(sheet_, PSM_PRESSBUTTON, button, 0); }
    // Answers the message box titled "Tessera" with OK; its text.
    std::string AnswerMessage() const {
        HWND box = nullptr;
        WaitFor([&] { return (box = FindProcessWindow(id_, "Tessera")) != nullptr; });
        if (!box) return {};
        char text[512] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message's static control
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    }
    int ExitCode() const {
        if (!process_ || WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return static_cast<int>(code);
    }

private:
    KernelHandle process_;
    DWORD id_ = 0;
    HWND sheet_ = nullptr;
};

TEST(SetupWizard, InstallsPageByPageThenUninstallsThroughMaintenance) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    ASSERT_NE(binary, nullptr);
    ScratchFolder scratch;
    const std::wstring root = Wide(scratch.Path());
    for (const wchar_t* name : {L"dist", L"desktop", L"programs"})
        CreateDirectoryW((root + L"\\" + name).c_str(), nullptr);
    const std::string dist = std::string(binary) + "/dist/";
    MakeDistribution(root + L"\\dist", Wide(HostPathToNative(dist + "Setup.exe")));
    ASSERT_TRUE(CopyFileW(Wide(HostPathToNative(dist + "License.txt")).c_str(), (root + L"\\dist\\License.txt").c_str(),
                          FALSE));
    RedirectedShellFolder desktop(L"Desktop", root + L"\\desktop");
    RedirectedShellFolder programs(L"Programs", root + L"\\programs");
    const InstalledSystem system = {root + L"\\Mine\\Tessera", root + L"\\desktop", root + L"\\programs",
                                    HKEY_CURRENT_USER};
    ForgetRegistry(HKEY_CURRENT_USER);

    {
        RunningSetup setup(root + L"\\dist\\Setup.exe");
        ASSERT_TRUE(setup.Sheet()) << "no wizard";
        ASSERT_TRUE(setup.PageWith(IDC_WELCOME_TITLE));
        Snapshot(setup.Sheet(), "welcome");
        setup.Press(PSBTN_NEXT);

        HWND license = setup.PageWith(IDC_ACCEPT);
        ASSERT_TRUE(license);
        char text[64] = "";
        GetDlgItemTextA(license, IDC_LICENSE_TEXT, text, sizeof text);
        EXPECT_EQ(std::string(text).rfind("TESSERA SOFTWARE LICENSE AGREEMENT\r\n", 0), 0u) << text;
        EXPECT_TRUE(WaitFor([&] { return !setup.NextEnabled(); }, 3000)) << "Next before the license is accepted";
        SendMessageA(GetDlgItem(license, IDC_ACCEPT), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return setup.NextEnabled(); }));
        Snapshot(setup.Sheet(), "license");
        setup.Press(PSBTN_NEXT);

        HWND folder = setup.PageWith(IDC_FOLDER);
        ASSERT_TRUE(folder);
        SendMessageA(GetDlgItem(folder, IDC_JUST_ME), BM_CLICK, 0, 0);
        Snapshot(setup.Sheet(), "folder");
        SetDlgItemTextW(folder, IDC_FOLDER, (system.folder + L"\\").c_str());
        setup.Press(PSBTN_NEXT);

        ASSERT_TRUE(setup.PageWith(IDC_COPY_STATUS));
        Snapshot(setup.Sheet(), "ready");
        {
            // A file that cannot be read: the failure is shown, undone, and the page stays.
            tessera::win32::FileHandle locked(CreateFileW((root + L"\\dist\\docs\\guide.txt").c_str(), GENERIC_READ,
                                                          0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(locked);
            setup.Press(PSBTN_NEXT);
            EXPECT_EQ(setup.AnswerMessage().rfind("Tessera could not be installed", 0), 0u);
            EXPECT_TRUE(setup.PageWith(IDC_COPY_STATUS));
            EXPECT_FALSE(Exists(system.folder));
        }
        setup.Press(PSBTN_NEXT);
        ASSERT_TRUE(setup.PageWith(IDC_FINISHED_TITLE)) << "the installation did not finish";
        Snapshot(setup.Sheet(), "finished");
        setup.Press(PSBTN_FINISH);
        EXPECT_EQ(setup.ExitCode(), kExitDone);
    }
    ExpectInstalled(system);

    {
        RunningSetup setup(system.folder + L"\\Setup.exe");
        HWND maintenance = setup.PageWith(IDC_CHOOSE_UNINSTALL);
        ASSERT_TRUE(maintenance) << "no maintenance wizard";
        EXPECT_TRUE(WaitFor([&] { return !setup.NextEnabled(); }, 3000)) << "Next before a choice";
        SendMessageA(GetDlgItem(maintenance, IDC_CHOOSE_UNINSTALL), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return setup.NextEnabled(); }));
        Snapshot(setup.Sheet(), "maintenance");
        setup.Press(PSBTN_NEXT);
        ASSERT_TRUE(setup.PageWith(IDC_UNINSTALL_QUESTION));
        Snapshot(setup.Sheet(), "uninstall");
        setup.Press(PSBTN_FINISH);
        EXPECT_EQ(setup.AnswerMessage(), "Tessera has been successfully uninstalled.");
        EXPECT_EQ(setup.ExitCode(), kExitDone);
    }
    EXPECT_TRUE(WaitFor([&] { return !Exists(system.folder); }, 30000));
    ExpectRemoved(system);

    // "/U" where nothing was installed: Finish says so and deletes nothing.
    {
        RunningSetup setup(root + L"\\dist\\Setup.exe", L"/U");
        ASSERT_TRUE(setup.PageWith(IDC_UNINSTALL_QUESTION)) << "no uninstall wizard";
        setup.Press(PSBTN_FINISH);
        EXPECT_EQ(setup.AnswerMessage(),
                  "The installation wizard cannot uninstall the application, because uninstallation information were "
                  "not found.");
        EXPECT_EQ(setup.ExitCode(), kExitDone);
    }
    for (const std::wstring& name : kDistributionFiles) EXPECT_TRUE(Exists(root + L"\\dist\\" + name));
    CoUninitialize();
}

}  // namespace
