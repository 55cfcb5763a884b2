#include "setup/app/wizard.h"

#include "setup/app/resource_ids.h"
#include "setup/app/status_indicator.h"
#include "win32/dialog.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>

#include <memory>
#include <vector>

namespace tessera::setup {
namespace {

using win32::FileHandle;
using win32::FontHandle;
using win32::ImageListHandle;

std::string Format(const std::string& pattern, const std::string& first, const std::string& second) {
    const int size = std::snprintf(nullptr, 0, pattern.c_str(), first.c_str(), second.c_str());
    if (size < 0) return pattern;
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(&text[0], text.size(), pattern.c_str(), first.c_str(), second.c_str());
    text.resize(static_cast<size_t>(size));
    return text;
}

// The content of a text file with the line ends an edit control wants.
std::string ReadTextFile(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (1 << 20)) return {};
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
    bytes.resize(read);
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) text += '\r';
        text += bytes[i];
    }
    return text;
}

// What the pages of one run share.
struct WizardState {
    const SetupContext& context;
    WizardKind kind;
    FontHandle titleFont;
    std::wstring folder;
    InstallScope scope = InstallScope::Machine;
};

// A wizard page: its buttons when it becomes active, Next and Finish as
// questions whose false answer keeps the page.
class WizardPage : public win32::Dialog {
public:
    explicit WizardPage(WizardState& state) : state_(state) {}

    HPROPSHEETPAGE Create(UINT templateId, UINT title, UINT subtitle) {
        PROPSHEETPAGEA page = {};
        page.dwSize = sizeof page;
        page.hInstance = state_.context.resources;
        page.pszTemplate = MAKEINTRESOURCEA(templateId);
        if (title) {
            page.dwFlags = PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
            page.pszHeaderTitle = MAKEINTRESOURCEA(title);
            page.pszHeaderSubTitle = MAKEINTRESOURCEA(subtitle);
        } else {
            page.dwFlags = PSP_HIDEHEADER;
        }
        ServePropertyPage(&page);
        return CreatePropertySheetPageA(&page);
    }

protected:
    virtual DWORD Buttons() const = 0;
    virtual bool OnNext() { return true; }
    virtual bool OnFinish() { return true; }

    BOOL OnNotify(NMHDR* header) override {
        switch (header->code) {
        case PSN_SETACTIVE:
            SetButtons(Buttons());
            SetResult(0);
            return TRUE;
        case PSN_WIZNEXT: SetResult(OnNext() ? 0 : -1); return TRUE;
        case PSN_WIZFINISH: SetResult(OnFinish() ? FALSE : TRUE); return TRUE;
        }
        return FALSE;
    }

    void SetButtons(DWORD buttons) const { PropSheet_SetWizButtons(GetParent(Handle()), buttons); }
    std::string Text(UINT id) const { return LoadText(state_.context.resources, id); }
    int Message(UINT id, UINT flags) const { return ShowMessage(GetParent(Handle()), Text(id), flags); }

    WizardState& state_;
};

class WelcomePage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override { return PSWIZB_NEXT; }
    BOOL OnInitDialog() override {
        SendMessageA(Item(IDC_WELCOME_TITLE), WM_SETFONT, reinterpret_cast<WPARAM>(state_.titleFont.get()), TRUE);
        SendMessageA(Item(IDC_FINISHED_TITLE), WM_SETFONT, reinterpret_cast<WPARAM>(state_.titleFont.get()), TRUE);
        return TRUE;
    }
};

class LicensePage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override { return PSWIZB_BACK | (Checked(IDC_ACCEPT) ? PSWIZB_NEXT : 0); }
    BOOL OnInitDialog() override {
        const std::wstring license = state_.context.sourceFolder + L"\\License.txt";
        SetWindowTextA(Item(IDC_LICENSE_TEXT), ReadTextFile(license).c_str());
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND control) override {
        if (id == IDC_ACCEPT && code == BN_CLICKED) {
            SetButtons(Buttons());
            return TRUE;
        }
        return WizardPage::OnCommand(id, code, control);
    }
};

class FolderPage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override { return PSWIZB_BACK | PSWIZB_NEXT; }
    BOOL OnInitDialog() override {
        const bool machine = state_.context.elevated;
        Check(IDC_ALL_USERS, machine);
        Check(IDC_JUST_ME, !machine);
        Enable(IDC_ALL_USERS, machine);
        if (!machine) SetText(IDC_ELEVATION_NOTE, Text(IDS_NEEDS_ELEVATION));
        ShowDefault();
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND control) override {
        if ((id == IDC_ALL_USERS || id == IDC_JUST_ME) && code == BN_CLICKED) {
            ShowDefault();
            return TRUE;
        }
        if (id == IDC_BROWSE && code == BN_CLICKED) {
            Browse();
            return TRUE;
        }
        return WizardPage::OnCommand(id, code, control);
    }
    bool OnNext() override {
        wchar_t typed[MAX_PATH] = L"";
        GetDlgItemTextW(Handle(), IDC_FOLDER, typed, MAX_PATH);
        wchar_t full[MAX_PATH] = L"";
        const DWORD length = typed[0] ? GetFullPathNameW(typed, MAX_PATH, full, nullptr) : 0;
        if (length == 0 || length >= MAX_PATH) {
            Message(IDS_NO_FOLDER, MB_OK | MB_ICONSTOP);
            return false;
        }
        state_.folder = full;
        state_.scope = Checked(IDC_JUST_ME) ? InstallScope::CurrentUser : InstallScope::Machine;
        return true;
    }

private:
    void ShowDefault() {
        const InstallScope scope = Checked(IDC_JUST_ME) ? InstallScope::CurrentUser : InstallScope::Machine;
        SetDlgItemTextW(Handle(), IDC_FOLDER, (DefaultInstallationFolder(scope) + L"\\").c_str());
    }
    void Browse() {
        const std::string title = Text(IDS_BROWSE_TITLE);
        char chosen[MAX_PATH] = "";
        BROWSEINFOA browse = {};
        browse.hwndOwner = Handle();
        browse.pszDisplayName = chosen;
        browse.lpszTitle = title.c_str();
        browse.ulFlags = BIF_RETURNONLYFSDIRS;
        win32::TaskMemory<ITEMIDLIST> item(SHBrowseForFolderA(&browse));
        if (!item || !SHGetPathFromIDListA(item.get(), chosen)) return;
        std::string path = chosen;
        if (path.empty()) return;
        if (path.back() != '\\') path += '\\';
        const bool named = StrStrIA(path.c_str(), "Tessera") != nullptr;
        if (!named && Message(IDS_APPEND_TESSERA, MB_YESNO | MB_ICONQUESTION) == IDYES) path += "Tessera\\";
        SetText(IDC_FOLDER, path);
    }
};

class ReadyPage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override { return PSWIZB_BACK | PSWIZB_NEXT; }
    BOOL OnNotify(NMHDR* header) override {
        if (header->code == PSN_SETACTIVE) {
            SetIndicatorState(Item(IDC_COPY_STATUS), StepState::NotStarted);
            SetIndicatorState(Item(IDC_LINKS_STATUS), StepState::NotStarted);
        }
        return WizardPage::OnNotify(header);
    }
    bool OnNext() override {
        SetButtons(0);
        InstallationRequest request;
        request.sourceFolder = state_.context.sourceFolder;
        request.installationFolder = state_.folder;
        request.desktopFolder = DesktopFolder();
        request.programsFolder = ProgramsFolder();
        request.scope = state_.scope;
        InstallationResult result;
        {
            win32::WaitCursor wait;
            result = Install(request, [this](InstallStep step, StepState stepState) {
                SetIndicatorState(Item(step == InstallStep::CopyFiles ? IDC_COPY_STATUS : IDC_LINKS_STATUS), stepState);
            });
        }
        if (result.succeeded()) return true;
        ShowMessage(GetParent(Handle()),
                    Format(Text(IDS_INSTALL_FAILED), ToAnsi(result.subject), ToAnsi(SystemErrorText(result.error))),
                    MB_OK | MB_ICONSTOP);
        SetButtons(Buttons());
        return false;
    }
};

class FinishedPage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override { return PSWIZB_FINISH; }
    BOOL OnInitDialog() override {
        SendMessageA(Item(IDC_FINISHED_TITLE), WM_SETFONT, reinterpret_cast<WPARAM>(state_.titleFont.get()), TRUE);
        return TRUE;
    }
};

class MaintenancePage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override { return Checked(IDC_CHOOSE_UNINSTALL) ? PSWIZB_NEXT : 0; }
    BOOL OnCommand(int id, int code, HWND control) override {
        if (id == IDC_CHOOSE_UNINSTALL && code == BN_CLICKED) {
            Check(IDC_CHOOSE_UNINSTALL, true);
            SetButtons(Buttons());
            return TRUE;
        }
        return WizardPage::OnCommand(id, code, control);
    }
};

class UninstallPage : public WizardPage {
public:
    using WizardPage::WizardPage;

protected:
    DWORD Buttons() const override {
        return (state_.kind == WizardKind::Maintenance ? PSWIZB_BACK : 0) | PSWIZB_FINISH;
    }
    bool OnFinish() override {
        const SetupContext& context = state_.context;
        if (!context.uninstallInformation.valid) {
            Message(IDS_NO_UNINSTALL_INFORMATION, MB_OK | MB_ICONSTOP);
            return true;
        }
        UninstallationResult result;
        {
            win32::WaitCursor wait;
            result = Uninstall(context.uninstallInformation, context.programPath);
        }
        if (!result.atRestart.empty()) Message(IDS_DELETED_AT_RESTART, MB_OK | MB_ICONINFORMATION);
        Message(IDS_UNINSTALLED, MB_OK | MB_ICONEXCLAMATION);
        StartSelfDeletion(context.programPath);
        return true;
    }
};

// Bold Verdana of 12 points, made from the system's message font.
FontHandle MakeTitleFont() {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTA font = metrics.lfMessageFont;
    font.lfWeight = FW_BOLD;
    lstrcpynA(font.lfFaceName, "Verdana Bold", LF_FACESIZE);
    HDC screen = GetDC(nullptr);
    font.lfHeight = -MulDiv(12, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return FontHandle(CreateFontIndirectA(&font));
}

}  // namespace

std::string LoadText(HINSTANCE resources, UINT id) {
    char text[1024] = "";
    const int length = LoadStringA(resources, id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

int ShowMessage(HWND owner, const std::string& text, UINT flags) {
    return MessageBoxA(owner, text.c_str(), "Tessera", flags);
}

std::string ToAnsi(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

void RunWizard(WizardKind kind, const SetupContext& context) {
    WizardState state{context, kind, MakeTitleFont(), {}, InstallScope::Machine};
    ImageListHandle steps(ImageList_LoadImageA(context.resources, MAKEINTRESOURCEA(IDB_STEPS), 12, 0,
                                               RGB(0, 255, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION));
    RegisterStatusIndicator(context.program, steps.get());

    std::vector<std::unique_ptr<WizardPage>> pages;
    std::vector<HPROPSHEETPAGE> handles;
    auto add = [&](std::unique_ptr<WizardPage> page, UINT templateId, UINT title, UINT subtitle) {
        if (HPROPSHEETPAGE handle = page->Create(templateId, title, subtitle)) handles.push_back(handle);
        pages.push_back(std::move(page));
    };
    switch (kind) {
    case WizardKind::Installation:
        add(std::make_unique<WelcomePage>(state), IDD_WELCOME, 0, 0);
        add(std::make_unique<LicensePage>(state), IDD_LICENSE, IDS_LICENSE_TITLE, IDS_LICENSE_SUBTITLE);
        add(std::make_unique<FolderPage>(state), IDD_FOLDER, IDS_FOLDER_TITLE, IDS_FOLDER_SUBTITLE);
        add(std::make_unique<ReadyPage>(state), IDD_READY, IDS_READY_TITLE, IDS_READY_SUBTITLE);
        add(std::make_unique<FinishedPage>(state), IDD_FINISHED, 0, 0);
        break;
    case WizardKind::Maintenance:
        add(std::make_unique<MaintenancePage>(state), IDD_MAINTENANCE, IDS_MAINTENANCE_TITLE, IDS_MAINTENANCE_SUBTITLE);
        add(std::make_unique<UninstallPage>(state), IDD_UNINSTALL, IDS_UNINSTALL_TITLE, IDS_UNINSTALL_SUBTITLE);
        break;
    case WizardKind::Uninstall:
        add(std::make_unique<UninstallPage>(state), IDD_UNINSTALL, IDS_UNINSTALL_TITLE, IDS_UNINSTALL_SUBTITLE);
        break;
    }
    if (handles.size() != pages.size()) {
        for (HPROPSHEETPAGE handle : handles) DestroyPropertySheetPage(handle);
        return;
    }
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_USEICONID;
    sheet.hInstance = context.resources;
    sheet.pszIcon = MAKEINTRESOURCEA(IDI_SETUP);
    sheet.pszbmWatermark = MAKEINTRESOURCEA(IDB_WATERMARK);
    sheet.pszbmHeader = MAKEINTRESOURCEA(IDB_HEADER);
    sheet.nPages = static_cast<UINT>(handles.size());
    sheet.phpage = handles.data();
    PropertySheetA(&sheet);  // takes the pages over
}

}  // namespace tessera::setup
