// Create .exe file (dialog 132), Remove .exe module and the "/S" start-up
// form. The stubs come from tesstub.dll; the making itself (settings, stub,
// configuration block, MakeEXE) is sfxlib's.
#include "commands.h"
#include "command_ids.h"
#include "dialog_support.h"
#include "folder_browser.h"
#include "sfxlib/sfx_creation.h"
#include "win32/com_ptr.h"
#include "win32/dialog.h"
#include "win32/handles.h"


namespace tescommands {

namespace {

using tessera::sfx::CreationSettings;

std::string FileNamePart(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempFolder() {
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

std::string LanguageName(LANGID language) {
    char name[128] = "";
    GetLocaleInfoA(MAKELCID(language, SORT_DEFAULT), LOCALE_SLANGUAGE, name, sizeof name);
    return name;
}

// Builds the program; with a host through its operation frame (output log,
// offer of the log on warnings). True on success.
bool Build(ICompressFormat* archive, HMODULE library, const CreationSettings& settings, CommandHost* host,
           HWND owner) {
    std::string temp = host ? host->Settings().tempFolder : TempFolder();
    auto call = [&](ICompressFormat* object, HWND window) {
        return tessera::sfx::CreateSelfExtractor(object, library, settings, window, temp.c_str());
    };
    HRESULT hr = host ? host->RunOperation(call, kOfferLogOnWarnings) : call(archive, owner);
    return hr != tessera::sfx::kNoStub && SUCCEEDED(hr);
}

// Browse for folder (116): the shell's folders in a tree, the folder
// chosen so far in the "&Last folder:" field, which may also be typed.
class BrowseFolderDialog : public tessera::win32::Dialog {
public:
    BrowseFolderDialog(HINSTANCE resources, const std::string& folder) : resources_(resources), folder_(folder) {}
    INT_PTR Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_BROWSE_FOLDER, owner); }
    const std::string& Folder() const { return folder_; }

private:
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        browser_.Attach(Item(TESCMD_IDC_FOLDER_BROWSER));
        HWND last = Item(TESCMD_IDC_BROWSE_LAST_FOLDER);
        SendMessageA(last, CB_LIMITTEXT, MAX_PATH - 1, 0);
        if (!folder_.empty()) {
            SendMessageA(last, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder_.c_str()));
            SetText(TESCMD_IDC_BROWSE_LAST_FOLDER, folder_);
            browser_.SelectPath(folder_.c_str());
        }
        return TRUE;
    }
    BOOL OnNotify(NMHDR* header) override {
        if (header->idFrom == TESCMD_IDC_FOLDER_BROWSER &&
            (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW)) {
            std::string path = browser_.SelectedPath();
            if (!path.empty()) SetText(TESCMD_IDC_BROWSE_LAST_FOLDER, path);
            return TRUE;
        }
        LRESULT result = 0;
        if (!browser_.HandleNotify(header, &result)) return FALSE;
        SetResult(result);
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND control) override {
        if (id == IDOK) {
            folder_ = Text(TESCMD_IDC_BROWSE_LAST_FOLDER);
            if (!folder_.empty()) End(IDOK);
            return TRUE;
        }
        return Dialog::OnCommand(id, code, control);
    }
    void OnDestroy() override { browser_.Detach(); }

    HINSTANCE resources_;
    std::string folder_;
    FolderBrowser browser_;
};

class CreateExeDialog : public tessera::win32::Dialog {
public:
    CreateExeDialog(HINSTANCE resources, ICompressFormat* archive, CommandHost* host)
        : resources_(resources), archive_(archive), host_(host), library_(tessera::sfx::LoadStubLibrary()) {
        settings_ = tessera::sfx::DefaultCreationSettings(archive->GetArchivePath());
    }
    INT_PTR Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_CREATE_EXE, owner); }

private:
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        SetText(TESCMD_IDC_SFX_FILE, settings_.outputFile);
        FillCombo(TESCMD_IDC_SFX_FOLDER_BASE, TESCMD_IDS_FOLDER_BASES, settings_.folderBase);
        FillCombo(TESCMD_IDC_SFX_PROGRAM_BASE, TESCMD_IDS_PROGRAM_BASES, settings_.programBase);
        Check(TESCMD_IDC_SFX_DEFAULT, true);
        FillLanguages();
        UpdateStates();
        return TRUE;
    }

    BOOL OnCommand(int id, int code, HWND control) override {
        switch (id) {
        case TESCMD_IDC_SFX_DEFAULT:
        case TESCMD_IDC_SFX_SETUP:
            if (code == BN_CLICKED) {
                settings_.forSetup = Checked(TESCMD_IDC_SFX_SETUP);
                if (settings_.forSetup) Check(TESCMD_IDC_SFX_OVERWRITE, false);
                FillLanguages();
                UpdateStates();
            }
            return TRUE;
        case TESCMD_IDC_SFX_RUN:
            UpdateStates();
            return TRUE;
        case TESCMD_IDC_SFX_PROGRAM_NAME:
            if (code == EN_CHANGE) UpdateStates();
            return TRUE;
        case TESCMD_IDC_SFX_FILE:
            if (code == EN_CHANGE) Enable(TESCMD_IDC_SFX_TEST, false);
            return TRUE;
        case TESCMD_IDC_SFX_CHANGE_FOLDER:
            ChangeFolder();
            return TRUE;
        case IDOK:
            Create();
            return TRUE;
        case TESCMD_IDC_SFX_TEST:
            TestProgram();
            return TRUE;
        case TESCMD_IDC_SFX_AUTOMATE:
            ReadControls();
            WriteBatchFile();
            return TRUE;
        default:
            return Dialog::OnCommand(id, code, control);
        }
    }

    void FillCombo(int id, UINT textId, int selected) {
        std::string parts[8];
        std::string::size_type count = SplitBars(LoadText(resources_, textId), parts, 8);
        for (std::string::size_type i = 0; i < count; ++i)
            SendDlgItemMessageA(Handle(), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(parts[i].c_str()));
        SendDlgItemMessageA(Handle(), id, CB_SETCURSEL, selected, 0);
    }

    LANGID SelectedLanguage() const {
        LRESULT index = SendDlgItemMessageA(Handle(), TESCMD_IDC_SFX_LANGUAGES, CB_GETCURSEL, 0, 0);
        if (index == CB_ERR) return GetUserDefaultLangID();
        return static_cast<LANGID>(SendDlgItemMessageA(Handle(), TESCMD_IDC_SFX_LANGUAGES, CB_GETITEMDATA, index, 0));
    }

    // The languages of the stub kind now chosen; the language chosen
    // before stays selected when this kind has it too.
    void FillLanguages() {
        HWND combo = Item(TESCMD_IDC_SFX_LANGUAGES);
        LANGID remembered = SendMessageA(combo, CB_GETCOUNT, 0, 0) > 0 ? SelectedLanguage() : GetUserDefaultLangID();
        SendMessageA(combo, CB_RESETCONTENT, 0, 0);
        DWORD id = 0;
        if (!library_ || !archive_->GetSfxModuleId(settings_.forSetup, &id)) return;
        for (LANGID language : tessera::sfx::StubLanguages(library_.get(), id)) {
            LRESULT index = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LanguageName(language).c_str()));
            SendMessageA(combo, CB_SETITEMDATA, index, language);
        }
        SendMessageA(combo, CB_SETCURSEL, 0, 0);
        LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT index = 0; index < count; ++index)
            if (static_cast<LANGID>(SendMessageA(combo, CB_GETITEMDATA, index, 0)) == remembered)
                SendMessageA(combo, CB_SETCURSEL, index, 0);
    }

    void UpdateStates() {
        bool run = Checked(TESCMD_IDC_SFX_RUN);
        Enable(TESCMD_IDC_SFX_PROGRAM_BASE, run);
        Enable(TESCMD_IDC_SFX_PROGRAM_PLUS, run);
        Enable(TESCMD_IDC_SFX_PROGRAM_NAME, run);
        bool named = GetWindowTextLengthA(Item(TESCMD_IDC_SFX_PROGRAM_NAME)) > 0;
        Enable(TESCMD_IDC_SFX_DELETE, run && named);
        Enable(TESCMD_IDC_SFX_OVERWRITE, !Checked(TESCMD_IDC_SFX_SETUP));
    }

    void ReadControls() {
        settings_.outputFile = Text(TESCMD_IDC_SFX_FILE);
        settings_.forSetup = Checked(TESCMD_IDC_SFX_SETUP);
        settings_.language = SelectedLanguage();
        settings_.folderBase = static_cast<uint8_t>(
            SendDlgItemMessageA(Handle(), TESCMD_IDC_SFX_FOLDER_BASE, CB_GETCURSEL, 0, 0) & 3);
        settings_.folderName = Text(TESCMD_IDC_SFX_FOLDER_NAME);
        settings_.run = Checked(TESCMD_IDC_SFX_RUN);
        LRESULT base = SendDlgItemMessageA(Handle(), TESCMD_IDC_SFX_PROGRAM_BASE, CB_GETCURSEL, 0, 0);
        settings_.programBase = static_cast<uint8_t>(base >= 0 && base <= 4 ? base : 0);
        settings_.programName = Text(TESCMD_IDC_SFX_PROGRAM_NAME);
        settings_.deleteAfterRun = IsWindowEnabled(Item(TESCMD_IDC_SFX_DELETE)) && Checked(TESCMD_IDC_SFX_DELETE);
        settings_.overwrite = !settings_.forSetup && Checked(TESCMD_IDC_SFX_OVERWRITE);
    }

    // The output file's folder, chosen in dialog 116; the file's name stays.
    void ChangeFolder() {
        std::string file = Text(TESCMD_IDC_SFX_FILE);
        size_t slash = file.find_last_of("\\/");
        BrowseFolderDialog browse(resources_, slash == std::string::npos ? std::string() : file.substr(0, slash));
        if (browse.Run(Handle()) != IDOK) return;
        std::string folder = browse.Folder();
        if (folder.back() != '\\') folder += '\\';
        SetText(TESCMD_IDC_SFX_FILE, folder + FileNamePart(file));
    }

    void Create() {
        ReadControls();
        if (!Build(archive_, library_.get(), settings_, host_, Handle())) return;
        Enable(TESCMD_IDC_SFX_TEST, true);
        ShowMessage(Handle(),
                    FormatText(LoadText(resources_, TESCMD_IDS_SFX_CREATED), FileNamePart(settings_.outputFile).c_str()),
                    MB_ICONINFORMATION);
    }

    void TestProgram() {
        std::string command = "\"" + settings_.outputFile + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            return;
        }
        DWORD error = GetLastError();
        Enable(TESCMD_IDC_SFX_TEST, false);
        ShowMessage(Handle(),
                    FormatText(LoadText(resources_, TESCMD_IDS_CANNOT_EXECUTE), FileNamePart(settings_.outputFile).c_str(),
                               SystemErrorText(error).c_str()),
                    MB_ICONSTOP);
    }

    void WriteBatchFile() {
        char path[MAX_PATH];
        if (!ChooseFileToSave(Handle(), LoadText(resources_, TESCMD_IDS_BATCH_FILTER), "bat", path)) return;
        char program[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
        std::string text = tessera::sfx::BatchFileText(settings_, std::string(program, length < MAX_PATH ? length : 0),
                                                       archive_->GetArchivePath());
        tessera::win32::FileHandle file(
            CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        bool ok = file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
        file.reset();
        if (!ok) {
            ShowMessage(Handle(), FormatText(LoadText(resources_, TESCMD_IDS_ERROR_CREATING_FILE), FileNamePart(path).c_str()),
                        MB_ICONSTOP);
            return;
        }
        ShowMessage(Handle(), FormatText(LoadText(resources_, TESCMD_IDS_BATCH_CREATED), FileNamePart(path).c_str()),
                    MB_ICONINFORMATION);
    }

    HINSTANCE resources_;
    ICompressFormat* archive_;
    CommandHost* host_;
    tessera::win32::ModuleHandle library_;
    CreationSettings settings_;
};

}  // namespace

void CreateExeCommand(CommandHost& host) {
    ICompressFormat* archive = host.Archive();
    if (!archive) return;
    CreateExeDialog dialog(host.Resources(), archive, &host);
    dialog.Run(host.Owner());
}

void RemoveExeCommand(CommandHost& host) {
    ICompressFormat* archive = host.Archive();
    if (!archive) return;
    std::string target = tessera::sfx::ReplaceExtension(archive->GetArchivePath(), archive->GetPlainExtension());
    std::string temp = host.Settings().tempFolder;
    HRESULT hr = host.RunOperation(
        [&](ICompressFormat* object, HWND owner) { return object->RemoveEXE(owner, temp.c_str(), target.c_str()); },
        kOfferLogOnWarnings);
    if (hr == S_OK)
        ShowMessage(host.Owner(),
                    FormatText(LoadText(host.Resources(), TESCMD_IDS_ARCHIVE_CREATED), FileNamePart(target).c_str()),
                    MB_ICONINFORMATION);
}

void CreateExeFromCommandLine(HINSTANCE resources, const std::string& archivePath,
                              const std::vector<std::string>& options) {
    tessera::win32::ComPtr<ICompressFormat> archive;
    HWND desktop = GetDesktopWindow();
    if (FAILED(ArcCreateObject(desktop, archivePath.c_str(), archive.put())) || FAILED(archive->List(desktop))) return;
    if (options.empty()) {
        CreateExeDialog dialog(resources, archive.get(), nullptr);
        dialog.Run(nullptr);
        return;
    }
    tessera::win32::ModuleHandle library = tessera::sfx::LoadStubLibrary();
    CreationSettings settings = tessera::sfx::DefaultCreationSettings(archive->GetArchivePath());
    for (const std::string& token : options) {
        char letter = token.size() > 1 ? static_cast<char>(token[1] | 0x20) : ' ';
        if (token[0] == '-' && letter >= 'd' && letter <= 'x')
            tessera::sfx::ApplyCreationOption(settings, token, archive.get(), library.get());
    }
    if (!Build(archive.get(), library.get(), settings, nullptr, nullptr) || settings.quiet) return;
    ShowMessage(nullptr, FormatText(LoadText(resources, TESCMD_IDS_SFX_CREATED), FileNamePart(settings.outputFile).c_str()),
                MB_ICONINFORMATION);
}

bool ChooseFolder(HINSTANCE resources, HWND owner, std::string* folder) {
    BrowseFolderDialog dialog(resources, *folder);
    if (dialog.Run(owner) != IDOK) return false;
    *folder = dialog.Folder();
    return true;
}

}  // namespace tescommands
