// Extract, Delete and Test: which entries take part (all, the selected list
// items, or everything at and below a tree folder), the dialogs that ask,
// and the operation run through the window's frame.
#include "command_ids.h"
#include "commands.h"
#include "combo_history.h"
#include "dialog_support.h"
#include "extract_dialogs.h"
#include "folder_browser.h"

#include <cctype>

namespace tescommands {

namespace {

const char kExtractSection[] = "Extract";
const char kExtractHistory[] = "Extract\\Folder";
const char kDeleteSection[] = "Settings\\Delete";

bool IsRootFolder(IArchiveFolder* folder) {
    IArchiveFolder* parent = nullptr;
    return folder->GetParent(&parent) != S_OK;
}

DWORD ReadFlag(const char* section, const char* name, DWORD fallback) {
    DWORD value = fallback;
    GetProfileInt(section, name, &value);
    return value;
}

// Scope allowed flags and the preset correction shared by Extract and
// Delete.
struct Scope {
    IArchiveFolder* folder = nullptr;
    bool selectedAllowed = false;
    bool folderAllowed = false;
    int preset = TESCMD_IDC_SCOPE_ALL;
};

Scope DecideScope(CommandHost& host, int preset, IArchiveFolder* folder) {
    Scope scope;
    scope.folder = folder ? folder : host.SelectedFolder();
    scope.folderAllowed = scope.folder && !IsRootFolder(scope.folder);
    scope.selectedAllowed = host.HasSelectedEntries();
    scope.preset = preset;
    if (preset == TESCMD_IDC_SCOPE_SELECTED && !scope.selectedAllowed) scope.preset = TESCMD_IDC_SCOPE_ALL;
    if (preset == TESCMD_IDC_SCOPE_FOLDER && !scope.folderAllowed) scope.preset = TESCMD_IDC_SCOPE_ALL;
    if (preset != TESCMD_IDC_SCOPE_SELECTED && preset != TESCMD_IDC_SCOPE_FOLDER) scope.preset = TESCMD_IDC_SCOPE_ALL;
    return scope;
}

// The selection for a scope other than "all"; false when it could not be
// built (the command then ends silently).
bool BuildScopeSelection(CommandHost& host, int scope, IArchiveFolder* folder, tesview::SelectionBuffer* selection) {
    if (scope == TESCMD_IDC_SCOPE_SELECTED) return host.BuildSelection(selection) && !selection->Failed();
    return folder && selection->FromFolder(folder);
}

}  // namespace

std::string NormaliseDestination(std::string text) {
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    if (!text.empty() && text.back() != '\\' && text.size() < MAX_PATH - 1) text.push_back('\\');
    if (!text.empty()) {
        char first[2] = {text[0], '\0'};
        CharUpperA(first);
        text[0] = first[0];
    }
    return text;
}

// --- New folder (109) ---

NewFolderDialog::NewFolderDialog(HINSTANCE resources, std::string parent)
    : ModalDialog(resources, TESCMD_IDD_NEW_FOLDER), parent_(std::move(parent)) {}

BOOL NewFolderDialog::OnInit() {
    CenterDialog(dialog_);
    SetDlgItemTextA(dialog_, TESCMD_IDC_NEW_FOLDER_PARENT, parent_.c_str());
    SendMessageA(Item(TESCMD_IDC_NEW_FOLDER_NAME), EM_LIMITTEXT, MAX_PATH - 1, 0);
    Enable(IDOK, false);
    return TRUE;
}

BOOL NewFolderDialog::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case TESCMD_IDC_NEW_FOLDER_NAME:
        if (HIWORD(wParam) == EN_CHANGE) Enable(IDOK, GetWindowTextLengthA(Item(TESCMD_IDC_NEW_FOLDER_NAME)) > 0);
        return TRUE;
    case IDOK: {
        std::string path = parent_;
        if (!path.empty() && path.back() != '\\') path.push_back('\\');
        path += Text(TESCMD_IDC_NEW_FOLDER_NAME);
        if (!CreateDirectoryA(path.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            ShowMessage(dialog_,
                        FormatText(LoadText(resources_, TESCMD_IDS_FOLDER_CANNOT_BE_CREATED), path.c_str(),
                                   SystemErrorText(error).c_str()),
                        MB_OK | MB_ICONERROR);
            return TRUE;
        }
        SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, path.c_str(), nullptr);
        created_ = path;
        EndDialog(dialog_, IDOK);
        return TRUE;
    }
    case IDCANCEL:
        EndDialog(dialog_, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

// --- Extract (112) ---

ExtractDialog::ExtractDialog(HINSTANCE resources, ExtractChoices* choices)
    : ModalDialog(resources, TESCMD_IDD_EXTRACT), choices_(choices) {}

BOOL ExtractDialog::OnInit() {
    CenterDialog(dialog_);
    browser_.Attach(Item(TESCMD_IDC_FOLDER_BROWSER));
    HWND combo = Item(TESCMD_IDC_EXTRACT_DESTINATION);
    SendMessageA(combo, CB_LIMITTEXT, MAX_PATH - 1, 0);
    tesview::ComboHistory history(combo, kExtractHistory);
    if (history.Load() > 0) SendMessageA(combo, CB_SETCURSEL, 0, 0);
    Enable(TESCMD_IDC_SCOPE_SELECTED, choices_->selectedAllowed);
    Enable(TESCMD_IDC_SCOPE_FOLDER, choices_->folderAllowed);
    CheckRadioButton(dialog_, TESCMD_IDC_SCOPE_ALL, TESCMD_IDC_SCOPE_FOLDER, choices_->scope);
    choices_->usePaths = ReadFlag(kExtractSection, "UsePath", 1) != 0;
    choices_->overwrite = ReadFlag(kExtractSection, "Overwrite", 0) != 0;
    choices_->onlyNewer = ReadFlag(kExtractSection, "SkipOlder", 0) != 0;
    Check(TESCMD_IDC_EXTRACT_USE_PATHS, choices_->usePaths);
    Check(TESCMD_IDC_EXTRACT_OVERWRITE, choices_->overwrite);
    Check(TESCMD_IDC_EXTRACT_SKIP_OLDER, choices_->onlyNewer);
    Enable(TESCMD_IDC_EXTRACT_SKIP_OLDER, choices_->onlyNewerAllowed);
    Enable(IDHELP, false);
    UpdateOk();
    return TRUE;
}

void ExtractDialog::UpdateOk() {
    HWND combo = Item(TESCMD_IDC_EXTRACT_DESTINATION);
    bool text = GetWindowTextLengthA(combo) > 0;
    Enable(IDOK, text);
}

BOOL ExtractDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        LRESULT result = 0;
        if (header->idFrom == TESCMD_IDC_FOLDER_BROWSER &&
            (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW)) {
            std::string path = browser_.SelectedPath();
            if (!path.empty()) {
                SetDlgItemTextA(dialog_, TESCMD_IDC_EXTRACT_DESTINATION, path.c_str());
                UpdateOk();
            }
            Enable(TESCMD_IDC_NEW_FOLDER, !path.empty());
            return TRUE;
        }
        if (browser_.HandleNotify(header, &result)) {
            SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case TESCMD_IDC_EXTRACT_DESTINATION:
            if (HIWORD(wParam) == CBN_EDITCHANGE) UpdateOk();
            if (HIWORD(wParam) == CBN_SELCHANGE) PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(TESCMD_IDC_EXTRACT_DESTINATION, CBN_EDITCHANGE), 0);
            return TRUE;
        case TESCMD_IDC_NEW_FOLDER: {
            NewFolderDialog newFolder(resources_, browser_.SelectedPath());
            if (newFolder.Run(dialog_) == IDOK) {
                browser_.RefreshSelected();
                browser_.SelectPath(newFolder.Created().c_str());
            }
            return TRUE;
        }
        case IDOK: {
            choices_->scope = Checked(TESCMD_IDC_SCOPE_SELECTED) ? TESCMD_IDC_SCOPE_SELECTED
                              : Checked(TESCMD_IDC_SCOPE_FOLDER) ? TESCMD_IDC_SCOPE_FOLDER
                                                                 : TESCMD_IDC_SCOPE_ALL;
            std::string text = Text(TESCMD_IDC_EXTRACT_DESTINATION);
            if (text.empty()) return TRUE;
            choices_->destination = NormaliseDestination(text);
            tesview::ComboHistory history(Item(TESCMD_IDC_EXTRACT_DESTINATION), kExtractHistory);
            history.Use(choices_->destination.c_str());
            EndDialog(dialog_, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog_, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        // The options are kept whichever way the dialog closes.
        choices_->usePaths = Checked(TESCMD_IDC_EXTRACT_USE_PATHS);
        choices_->overwrite = Checked(TESCMD_IDC_EXTRACT_OVERWRITE);
        choices_->onlyNewer = Checked(TESCMD_IDC_EXTRACT_SKIP_OLDER);
        PutProfileInt(kExtractSection, "UsePath", choices_->usePaths);
        PutProfileInt(kExtractSection, "Overwrite", choices_->overwrite);
        PutProfileInt(kExtractSection, "SkipOlder", choices_->onlyNewer);
        browser_.Detach();
        return FALSE;
    }
    return FALSE;
}

void ExtractCommand(CommandHost& host, int scopePreset, IArchiveFolder* folder) {
    ICompressFormat* archive = host.Archive();
    if (!archive) return;
    Scope scope = DecideScope(host, scopePreset, folder);
    ExtractChoices choices;
    choices.scope = scope.preset;
    choices.selectedAllowed = scope.selectedAllowed;
    choices.folderAllowed = scope.folderAllowed;
    choices.onlyNewerAllowed = archive->HasCapability(CAP_EXTRACTNEWER) != FALSE;
    ExtractDialog dialog(host.Resources(), &choices);
    if (dialog.Run(host.Owner()) != IDOK) return;

    tesview::SelectionBuffer selection;
    SELHDRSTRUCT* records = nullptr;
    DWORD count = 0;
    if (choices.scope != TESCMD_IDC_SCOPE_ALL) {
        if (!BuildScopeSelection(host, choices.scope, scope.folder, &selection)) return;
        records = selection.Records();
        count = selection.Count();
    }
    const BOOL onlyNewer = choices.onlyNewer && choices.onlyNewerAllowed;
    const std::string destination = choices.destination;
    HRESULT result = host.RunOperation(
        [&](ICompressFormat* object, HWND owner) {
            return object->Extract(owner, choices.overwrite ? OVERWRITE_ALL : OVERWRITE_ASK, choices.usePaths,
                                   onlyNewer, destination.c_str(), records, count);
        },
        kOfferLogOnWarnings);
    if (result >= 0 && host.Settings().exploreExtractFolder) host.ExploreFolder(destination.c_str());
}

// --- Delete (122) ---

DeleteDialog::DeleteDialog(HINSTANCE resources, DeleteChoices* choices)
    : ModalDialog(resources, TESCMD_IDD_DELETE), choices_(choices) {}

BOOL DeleteDialog::OnInit() {
    CenterDialog(dialog_);
    Enable(TESCMD_IDC_SCOPE_SELECTED, choices_->selectedAllowed);
    Enable(TESCMD_IDC_SCOPE_FOLDER, choices_->folderAllowed);
    CheckRadioButton(dialog_, TESCMD_IDC_SCOPE_ALL, TESCMD_IDC_SCOPE_FOLDER, choices_->scope);
    backup_ = ReadFlag(kDeleteSection, "Backup", 0) != 0;
    Check(TESCMD_IDC_DELETE_BACKUP, backup_);
    Enable(IDHELP, false);
    UpdateBackup();
    return TRUE;
}

// "Make backup copy" means nothing when the archive itself goes; the
// user's choice comes back when another scope is chosen.
void DeleteDialog::UpdateBackup() {
    const bool entire = Checked(TESCMD_IDC_SCOPE_ALL);
    if (entire && IsWindowEnabled(Item(TESCMD_IDC_DELETE_BACKUP))) backup_ = Checked(TESCMD_IDC_DELETE_BACKUP);
    Check(TESCMD_IDC_DELETE_BACKUP, entire ? false : backup_);
    Enable(TESCMD_IDC_DELETE_BACKUP, !entire);
}

BOOL DeleteDialog::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case TESCMD_IDC_SCOPE_ALL:
    case TESCMD_IDC_SCOPE_SELECTED:
    case TESCMD_IDC_SCOPE_FOLDER:
        if (HIWORD(wParam) == BN_CLICKED) UpdateBackup();
        return TRUE;
    case IDOK:
        choices_->scope = Checked(TESCMD_IDC_SCOPE_SELECTED) ? TESCMD_IDC_SCOPE_SELECTED
                          : Checked(TESCMD_IDC_SCOPE_FOLDER) ? TESCMD_IDC_SCOPE_FOLDER
                                                             : TESCMD_IDC_SCOPE_ALL;
        if (choices_->scope != TESCMD_IDC_SCOPE_ALL) backup_ = Checked(TESCMD_IDC_DELETE_BACKUP);
        choices_->backup = choices_->scope != TESCMD_IDC_SCOPE_ALL && backup_;
        PutProfileInt(kDeleteSection, "Backup", backup_);
        EndDialog(dialog_, IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog_, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

void DeleteCommand(CommandHost& host, int scopePreset, IArchiveFolder* folder) {
    ICompressFormat* archive = host.Archive();
    if (!archive) return;
    Scope scope = DecideScope(host, scopePreset, folder);
    DeleteChoices choices;
    choices.scope = scope.preset;
    choices.selectedAllowed = scope.selectedAllowed;
    choices.folderAllowed = scope.folderAllowed;
    DeleteDialog dialog(host.Resources(), &choices);
    if (dialog.Run(host.Owner()) != IDOK) return;

    if (choices.scope == TESCMD_IDC_SCOPE_ALL) {
        const std::string path = archive->GetArchivePath();
        if (!DeleteFileA(path.c_str())) {
            const DWORD error = GetLastError();
            ShowMessage(host.Owner(),
                        FormatText(LoadText(host.Resources(), TESCMD_IDS_ARCHIVE_CANNOT_BE_DELETED),
                                   SystemErrorText(error).c_str()),
                        MB_OK | MB_ICONWARNING);
        }
        host.ForgetArchive(path.c_str());
        return;
    }
    tesview::SelectionBuffer selection;
    if (!BuildScopeSelection(host, choices.scope, scope.folder, &selection)) return;
    const OperationSettings& settings = host.Settings();
    host.RunOperation(
        [&](ICompressFormat* object, HWND owner) {
            return object->Delete(owner, choices.backup, settings.modifyTime, settings.tempFolder.c_str(),
                                  selection.Records(), selection.Count());
        },
        kOfferLogOnWarnings | kRefreshOnSuccess);
}

// --- Test ---

void TestCommand(CommandHost& host) {
    if (!host.Archive()) return;
    WaitCursor wait;
    HRESULT result = host.RunOperation([](ICompressFormat* object, HWND owner) { return object->Test(owner); }, 0);
    if (result != E_ABORT) ShowOutputWindow(host.Owner(), host.Resources(), host.LogText());
}

}  // namespace tescommands
