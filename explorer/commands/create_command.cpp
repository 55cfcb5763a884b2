// Create: a save dialog over the formats that can make a new archive; the
// new, empty object becomes the window's archive. Add: the Add dialog and
// the Add operation, with or without the explorer window.
#include "add_dialog.h"
#include "command_ids.h"
#include "commands.h"
#include "dialog_support.h"

#include <commdlg.h>

#include <cstdio>

namespace tescommands {

namespace {

const char kSettings[] = "Settings";

// One filter line per format that can create archives: "%s (*%s)|*%s|".
std::string CreateFilters() {
    std::string filters;
    HMODULE engine = GetModuleHandleA("tescore.dll");
    const UINT count = ArcGetFormatCount();
    for (UINT i = 0; i < count; ++i) {
        FORMATINFO info = {};
        if (FAILED(ArcGetFormatAt(i, &info)) || !(info.capabilities & CAP_CREATE)) continue;
        char description[MAX_PATH] = "";
        if (engine) LoadStringA(engine, info.descriptionId, description, sizeof description);
        char line[3 * MAX_PATH + 16];
        snprintf(line, sizeof line, "%s (*%s)|*%s|", description, info.extension, info.extension);
        filters += line;
    }
    return FilterFromBars(filters);
}

struct CreateExtra {
    bool showAdd = false;
};

// Hook of the save dialog's extra area: presets and reads the check box.
UINT_PTR CALLBACK CreateHook(HWND child, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const OPENFILENAMEA* dialog = reinterpret_cast<const OPENFILENAMEA*>(lParam);
        SetWindowLongPtrA(child, DWLP_USER, dialog->lCustData);
        const CreateExtra* extra = reinterpret_cast<const CreateExtra*>(dialog->lCustData);
        CheckDlgButton(child, TESCMD_IDC_CREATE_SHOW_ADD, extra->showAdd ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_FILEOK) {
        CreateExtra* extra = reinterpret_cast<CreateExtra*>(GetWindowLongPtrA(child, DWLP_USER));
        if (extra && GetDlgItem(child, TESCMD_IDC_CREATE_SHOW_ADD))
            extra->showAdd = IsDlgButtonChecked(child, TESCMD_IDC_CREATE_SHOW_ADD) == BST_CHECKED;
    }
    return FALSE;
}

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of('\\');
    if (slash == std::string::npos) return std::string();
    return path.substr(0, slash == 2 ? 3 : slash);
}

}  // namespace

void CreateArchiveCommand(CommandHost& host, const char* initialFolder, bool forDroppedFiles) {
    HINSTANCE resources = host.Resources();
    char folder[MAX_PATH] = "";
    if (initialFolder && *initialFolder) {
        lstrcpynA(folder, initialFolder, MAX_PATH);
    } else {
        GetProfileString(kSettings, "CreateDir", folder);
    }
    DWORD newAdd = 0;
    GetProfileInt(kSettings, "NewAdd", &newAdd);
    CreateExtra extra;
    extra.showAdd = newAdd != 0;

    const std::string title = LoadText(resources, TESCMD_IDS_CREATE);
    const std::string filters = CreateFilters();
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = host.Owner();
    dialog.hInstance = resources;
    dialog.lpstrFilter = filters.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = *folder ? folder : nullptr;
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = "zip";
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
    dialog.lpTemplateName = MAKEINTRESOURCEA(forDroppedFiles ? TESCMD_IDD_CREATE_EXTRA_DROPPED : TESCMD_IDD_CREATE_EXTRA);
    dialog.lpfnHook = CreateHook;
    dialog.lCustData = reinterpret_cast<LPARAM>(&extra);
    if (!GetSaveFileNameA(&dialog)) return;

    PutProfileString(kSettings, "CreateDir", FolderOf(path).c_str());
    if (!forDroppedFiles) PutProfileInt(kSettings, "NewAdd", extra.showAdd);

    ICompressFormat* object = nullptr;
    if (FAILED(ArcCreateObject(host.Owner(), path, &object)) || !object) return;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (!host.AdoptArchive(object)) {
            object->Release();
            return;
        }
        if (!forDroppedFiles && extra.showAdd) AddFilesCommand(host, {});
        return;
    }
    object->Release();
    if (forDroppedFiles ||
        ShowMessage(host.Owner(), LoadText(resources, TESCMD_IDS_ALREADY_EXISTS), MB_YESNO | MB_ICONQUESTION) == IDYES)
        host.OpenArchive(path, true);
}

void AddFilesCommand(CommandHost& host, const std::vector<std::string>& droppedFiles) {
    ICompressFormat* archive = host.Archive();
    if (!archive) return;
    AddDialog dialog(host.Resources(), archive, droppedFiles);
    if (dialog.Run(host.Owner()) != IDOK) return;
    const OperationSettings& settings = host.Settings();
    host.RunOperation(
        [&](ICompressFormat* object, HWND owner) {
            return dialog.RunAdd(owner, object, settings.tempFolder, settings.storeOnlyList, settings.modifyTime);
        },
        kOfferLogOnWarnings | kRefreshOnSuccess);
}

HRESULT AddWithoutWindow(HINSTANCE resources, const char* archivePath, const std::vector<std::string>& files,
                         const OperationSettings& settings) {
    HWND desktop = GetDesktopWindow();
    ICompressFormat* archive = nullptr;
    HRESULT result = ArcCreateObject(desktop, archivePath, &archive);
    if (FAILED(result) || !archive) return FAILED(result) ? result : E_FAIL;
    if (GetFileAttributesA(archivePath) != INVALID_FILE_ATTRIBUTES) {
        result = archive->List(desktop);
        if (FAILED(result)) {
            archive->Release();
            return result;
        }
    }
    AddDialog dialog(resources, archive, files);
    if (dialog.Run(nullptr) == IDOK) {
        result = dialog.RunAdd(desktop, archive, settings.tempFolder, settings.storeOnlyList, settings.modifyTime);
    } else {
        result = E_ABORT;  // the user cancelled
    }
    archive->Release();
    return result;
}

}  // namespace tescommands
