// Create: a save dialog over the formats that can make a new archive; the
// new, empty object becomes the window's archive. Add: the Add dialog and
// the Add operation, with or without the explorer window.
#include "add_dialog.h"
#include "command_ids.h"
#include "commands.h"
#include "dialog_support.h"
#include "win32/com_ptr.h"
#include "win32/dialog.h"

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

// The save dialog's extra area: presets the "show Add" check box and reads
// it when a name is accepted (the area for dropped files has no box).
class CreateExtraArea : public tessera::win32::Dialog {
public:
    explicit CreateExtraArea(bool showAdd) : showAdd_(showAdd) {}
    bool ShowAdd() const { return showAdd_; }

private:
    BOOL OnInitDialog() override {
        Check(TESCMD_IDC_CREATE_SHOW_ADD, showAdd_);
        return TRUE;
    }
    BOOL OnNotify(NMHDR* header) override {
        if (header->code == CDN_FILEOK && Item(TESCMD_IDC_CREATE_SHOW_ADD))
            showAdd_ = Checked(TESCMD_IDC_CREATE_SHOW_ADD);
        return FALSE;
    }

    bool showAdd_;
};

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
    CreateExtraArea extra(newAdd != 0);

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
    extra.ServeFileDialogArea(&dialog);
    if (!GetSaveFileNameA(&dialog)) return;

    PutProfileString(kSettings, "CreateDir", FolderOf(path).c_str());
    if (!forDroppedFiles) PutProfileInt(kSettings, "NewAdd", extra.ShowAdd());

    tessera::win32::ComPtr<ICompressFormat> object;
    if (FAILED(ArcCreateObject(host.Owner(), path, object.put())) || !object) return;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (!host.AdoptArchive(object.get())) return;
        object.detach();  // the window's archive now
        if (!forDroppedFiles && extra.ShowAdd()) AddFilesCommand(host, {});
        return;
    }
    object.reset();
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
    tessera::win32::ComPtr<ICompressFormat> archive;
    HRESULT result = ArcCreateObject(desktop, archivePath, archive.put());
    if (FAILED(result) || !archive) return FAILED(result) ? result : E_FAIL;
    if (GetFileAttributesA(archivePath) != INVALID_FILE_ATTRIBUTES) {
        result = archive->List(desktop);
        if (FAILED(result)) return result;
    }
    AddDialog dialog(resources, archive.get(), files);
    if (dialog.Run(nullptr) != IDOK) return E_ABORT;  // the user cancelled
    return dialog.RunAdd(desktop, archive.get(), settings.tempFolder, settings.storeOnlyList, settings.modifyTime);
}

}  // namespace tescommands
