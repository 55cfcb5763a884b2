// Extract, Delete and Test: which entries take part (all, the selected list
// items, or everything at and below a tree folder), the dialogs that ask,
// and the operation run through the window's frame.
#include "command_ids.h"
#include "commands.h"
#include "combo_history.h"
#include "dialog_support.h"
#include "extract_dialogs.h"
#include "folder_browser.h"
#include "win32/scope.h"

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
    : resources_(resources), parent_(std::move(parent)) {}

INT_PTR NewFolderDialog::Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_NEW_FOLDER, owner); }

BOOL NewFolderDialog::OnInitDialog() {
    CenterDialog(Handle());
    SetText(TESCMD_IDC_NEW_FOLDER_PARENT, parent_);
    SendMessageA(Item(TESCMD_IDC_NEW_FOLDER_NAME), EM_LIMITTEXT, MAX_PATH - 1, 0);
    Enable(IDOK, false);
    return TRUE;
}

BOOL NewFolderDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_NEW_FOLDER_NAME:
        if (code == EN_CHANGE) Enable(IDOK, GetWindowTextLengthA(Item(TESCMD_IDC_NEW_FOLDER_NAME)) > 0);
        return TRUE;
    case IDOK: {
        std::string path = parent_;
        if (!path.empty() && path.back() != '\\') path.push_back('\\');
        path += Text(TESCMD_IDC_NEW_FOLDER_NAME);
        if (!CreateDirectoryA(path.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            ShowMessage(Handle(),
                        FormatText(LoadText(resources_, TESCMD_IDS_FOLDER_CANNOT_BE_CREATED), path.c_str(),
                                   SystemErrorText(error).c_str()),
                        MB_OK | MB_ICONERROR);
            return TRUE;
        }
        SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, path.c_str(), nullptr);
        created_ = path;
        End(IDOK);
        return TRUE;
    }
    }
    return Dialog::OnCommand(id, code, control);
}

// --- Extract (112) ---

ExtractDialog::ExtractDialog(HINSTANCE resources, ExtractChoices* choices)
    : resources_(resources), choices_(choices) {}

INT_PTR ExtractDialog::Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_EXTRACT, owner); }

BOOL ExtractDialog::OnInitDialog() {
    CenterDialog(Handle());
    browser_.Attach(Item(TESCMD_IDC_FOLDER_BROWSER));
    HWND combo = Item(TESCMD_IDC_EXTRACT_DESTINATION);
    SendMessageA(combo, CB_LIMITTEXT, MAX_PATH - 1, 0);
    tesview::ComboHistory history(combo, kExtractHistory);
    if (history.Load() > 0) SendMessageA(combo, CB_SETCURSEL, 0, 0);
    Enable(TESCMD_IDC_SCOPE_SELECTED, choices_->selectedAllowed);
    Enable(TESCMD_IDC_SCOPE_FOLDER, choices_->folderAllowed);
    CheckRadioButton(Handle(), TESCMD_IDC_SCOPE_ALL, TESCMD_IDC_SCOPE_FOLDER, choices_->scope);
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

BOOL ExtractDialog::OnNotify(NMHDR* header) {
    if (header->idFrom == TESCMD_IDC_FOLDER_BROWSER &&
        (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW)) {
        std::string path = browser_.SelectedPath();
        if (!path.empty()) {
            SetText(TESCMD_IDC_EXTRACT_DESTINATION, path);
            UpdateOk();
        }
        Enable(TESCMD_IDC_NEW_FOLDER, !path.empty());
        return TRUE;
    }
    LRESULT result = 0;
    if (!browser_.HandleNotify(header, &result)) return FALSE;
    SetResult(result);
    return TRUE;
}

BOOL ExtractDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_EXTRACT_DESTINATION:
        if (code == CBN_EDITCHANGE) UpdateOk();
        if (code == CBN_SELCHANGE)
            PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(TESCMD_IDC_EXTRACT_DESTINATION, CBN_EDITCHANGE), 0);
        return TRUE;
    case TESCMD_IDC_NEW_FOLDER: {
        NewFolderDialog newFolder(resources_, browser_.SelectedPath());
        if (newFolder.Run(Handle()) == IDOK) {
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
        End(IDOK);
        return TRUE;
    }
    }
    return Dialog::OnCommand(id, code, control);
}

// The options are kept whichever way the dialog closes.
void ExtractDialog::OnDestroy() {
    choices_->usePaths = Checked(TESCMD_IDC_EXTRACT_USE_PATHS);
    choices_->overwrite = Checked(TESCMD_IDC_EXTRACT_OVERWRITE);
    choices_->onlyNewer = Checked(TESCMD_IDC_EXTRACT_SKIP_OLDER);
    PutProfileInt(kExtractSection, "UsePath", choices_->usePaths);
    PutProfileInt(kExtractSection, "Overwrite", choices_->overwrite);
    PutProfileInt(kExtractSection, "SkipOlder", choices_->onlyNewer);
    browser_.Detach();
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
    : resources_(resources), choices_(choices) {}

INT_PTR DeleteDialog::Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_DELETE, owner); }

BOOL DeleteDialog::OnInitDialog() {
    CenterDialog(Handle());
    Enable(TESCMD_IDC_SCOPE_SELECTED, choices_->selectedAllowed);
    Enable(TESCMD_IDC_SCOPE_FOLDER, choices_->folderAllowed);
    CheckRadioButton(Handle(), TESCMD_IDC_SCOPE_ALL, TESCMD_IDC_SCOPE_FOLDER, choices_->scope);
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

BOOL DeleteDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_SCOPE_ALL:
    case TESCMD_IDC_SCOPE_SELECTED:
    case TESCMD_IDC_SCOPE_FOLDER:
        if (code == BN_CLICKED) UpdateBackup();
        return TRUE;
    case IDOK:
        choices_->scope = Checked(TESCMD_IDC_SCOPE_SELECTED) ? TESCMD_IDC_SCOPE_SELECTED
                          : Checked(TESCMD_IDC_SCOPE_FOLDER) ? TESCMD_IDC_SCOPE_FOLDER
                                                             : TESCMD_IDC_SCOPE_ALL;
        if (choices_->scope != TESCMD_IDC_SCOPE_ALL) backup_ = Checked(TESCMD_IDC_DELETE_BACKUP);
        choices_->backup = choices_->scope != TESCMD_IDC_SCOPE_ALL && backup_;
        PutProfileInt(kDeleteSection, "Backup", backup_);
        End(IDOK);
        return TRUE;
    }
    return Dialog::OnCommand(id, code, control);
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
    tessera::win32::WaitCursor wait;
    HRESULT result = host.RunOperation([](ICompressFormat* object, HWND owner) { return object->Test(owner); }, 0);
    if (result != E_ABORT) ShowOutputWindow(host.Owner(), host.Resources(), host.LogText());
}

}  // namespace tescommands
