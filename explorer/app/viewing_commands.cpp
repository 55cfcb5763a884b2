// Viewing, clipboard, printing, mail, link, archive-file and property
// commands of the explorer window (see viewing_commands.h).
#include "viewing_commands.h"

#include "application.h"
#include "command_ids.h"
#include "dialog_support.h"
#include "explorer_window.h"
#include "file_transfer.h"
#include "mail.h"
#include "print_list.h"
#include "properties.h"
#include "resource_ids.h"
#include "viewing_ids.h"
#include "window_commands.h"
#include "tescore.h"
#include "win32/com_ptr.h"
#include "win32/scope.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>

namespace tessera {

namespace {

std::string ArchivePath(ExplorerWindow& window) {
    ICompressFormat* archive = window.Archive();
    return archive && archive->GetArchivePath() ? archive->GetArchivePath() : std::string();
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void ShowError(HWND owner, UINT id, DWORD error) {
    ShowMessageText(owner, FormatText(id, tescommands::SystemErrorText(error).c_str()), MB_OK | MB_ICONERROR);
}

// The focused list item's entry, else the first selected one's.
DWORD FocusedEntry(ExplorerWindow& window) {
    HWND list = window.View().Window();
    int item = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    if (item < 0) item = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    return item < 0 ? SEL_UNUSED : window.View().ItemEntry(item);
}

std::vector<DWORD> SelectedEntries(ExplorerWindow& window) {
    std::vector<DWORD> indices;
    tesview::SelectionBuffer selection;
    if (!selection.FromSelected(window.View().Window())) return indices;
    for (DWORD at = 0; at < selection.Count(); ++at) indices.push_back(selection.Records()[at].index);
    return indices;
}

// The tree's command folder: its entries and its path ("\" for the root,
// which stands for the whole temporary folder).
bool TreeFolderEntries(ExplorerWindow& window, std::vector<DWORD>* indices, std::string* folderPath) {
    IArchiveFolder* folder = window.Tree().CommandFolder();
    tesview::SelectionBuffer selection;
    if (!folder || !selection.FromFolder(folder)) return false;
    for (DWORD at = 0; at < selection.Count(); ++at) indices->push_back(selection.Records()[at].index);
    *folderPath = tescommands::FolderDisplayPath(folder);
    if (folderPath->empty()) *folderPath = "\\";
    return !indices->empty();
}

// ---------------------------------------------------------------------------
// Archive file

void RenameArchive(ExplorerWindow& window) {
    const std::string path = ArchivePath(window);
    char newPath[MAX_PATH] = "";
    if (ShowRenameDialog(window.Window(), path.c_str(), newPath) != RENAME_RESULT_OK) return;
    if (lstrcmpiA(path.c_str(), newPath) == 0 && path == newPath) return;
    if (!MoveFileA(path.c_str(), newPath)) {
        ShowError(window.Window(), TESCMD_IDS_ARCHIVE_CANNOT_BE_RENAMED, GetLastError());
        return;
    }
    window.ArchiveMoved(path, newPath);
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) SetWindowTextA(dialog, reinterpret_cast<const char*>(data));
    return 0;
}

// The folder chosen in "Browse for folder", or "".
std::string ChooseFolder(HWND owner, UINT titleId, UINT promptId, const std::string& name) {
    const std::string title = LoadText(titleId);
    const std::string prompt = FormatText(promptId, name.c_str());
    char display[MAX_PATH] = "";
    BROWSEINFOA browse = {};
    browse.hwndOwner = owner;
    browse.pszDisplayName = display;
    browse.lpszTitle = prompt.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(title.c_str());
    win32::TaskMemory<ITEMIDLIST> chosen(SHBrowseForFolderA(&browse));
    char folder[MAX_PATH] = "";
    if (!chosen || !SHGetPathFromIDListA(chosen.get(), folder)) return std::string();
    return folder;
}

void CopyOrMoveArchive(ExplorerWindow& window, bool move) {
    const std::string path = ArchivePath(window);
    const std::string name = FileName(path);
    const std::string folder = move ? ChooseFolder(window.Window(), TESCMD_IDS_MOVE_TITLE, TESCMD_IDS_MOVE_PROMPT, name)
                                    : ChooseFolder(window.Window(), TESCMD_IDS_COPY_TITLE, TESCMD_IDS_COPY_PROMPT, name);
    if (folder.empty()) return;
    std::string from = path + '\0';
    std::string to = folder + '\0';
    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = window.Window();
    operation.wFunc = move ? FO_MOVE : FO_COPY;
    operation.pFrom = from.c_str();
    operation.pTo = to.c_str();
    operation.fFlags = FOF_ALLOWUNDO;
    if (SHFileOperationA(&operation) != 0 || operation.fAnyOperationsAborted) return;
    std::string target = folder;
    if (!target.empty() && target.back() != '\\') target += '\\';
    target += name;
    if (move && GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        window.ArchiveMoved(path, target);
    }
}

void DeleteArchive(ExplorerWindow& window) {
    const std::string path = ArchivePath(window);
    std::string from = path + '\0';
    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = window.Window();
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO;
    if (SHFileOperationA(&operation) != 0 || operation.fAnyOperationsAborted) return;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) window.ForgetArchive(path);
}

void LinkOnDesktop(ExplorerWindow& window) {
    const std::string path = ArchivePath(window);
    char desktop[MAX_PATH] = "";
    bool ok = SHGetSpecialFolderPathA(window.Window(), desktop, CSIDL_DESKTOPDIRECTORY, TRUE) != FALSE;
    if (ok) {
        win32::ComPtr<IShellLinkA> link;
        win32::ComPtr<IPersistFile> file;
        std::string name = FileName(path);
        const std::string linkPath = std::string(desktop) + "\\" + name + ".lnk";
        wchar_t wide[MAX_PATH] = L"";
        ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                        reinterpret_cast<void**>(link.put()))) &&
             SUCCEEDED(link->SetPath(path.c_str())) && SUCCEEDED(link->SetWorkingDirectory(FolderOf(path).c_str())) &&
             SUCCEEDED(link.As(IID_IPersistFile, &file)) &&
             MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH) > 0 &&
             SUCCEEDED(file->Save(wide, TRUE));
    }
    if (!ok) ShowMessageText(window.Window(), LoadText(TESCMD_IDS_LINK_FAILED), MB_OK | MB_ICONERROR);
}

void PrintList(ExplorerWindow& window) {
    tescommands::TempFileTracker* tracker = tescommands::TempFileTracker::Of(window.Archive());
    if (!tracker) return;
    std::string name = FileName(ArchivePath(window));
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    std::string text;
    {
        win32::WaitCursor wait;
        text = ListPrintText(window);
    }
    tescommands::PrintText(window.Window(), App().instance, tracker->Folder(), name, text);
}

}  // namespace

std::string ListPrintText(ExplorerWindow& window) {
    HWND list = window.View().Window();
    const int columns = window.View().ShownColumnCount();
    int averageWidth = 7;
    if (HDC dc = GetDC(list)) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
        TEXTMETRICA metrics;
        if (GetTextMetricsA(dc, &metrics) && metrics.tmAveCharWidth > 0) averageWidth = metrics.tmAveCharWidth;
        SelectObject(dc, old);
        ReleaseDC(list, dc);
    }
    // In the order the columns are shown.
    std::vector<int> order(static_cast<size_t>(columns));
    for (int at = 0; at < columns; ++at) order[static_cast<size_t>(at)] = at;
    if (columns > 0) ListView_GetColumnOrderArray(list, columns, order.data());
    std::vector<std::string> titles;
    std::vector<int> widths;
    for (int column : order) {
        char title[256] = "";
        LVCOLUMNA info = {};
        info.mask = LVCF_TEXT | LVCF_WIDTH;
        info.pszText = title;
        info.cchTextMax = sizeof title;
        SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
        titles.push_back(title);
        widths.push_back(info.cx / averageWidth);
    }
    std::vector<std::vector<std::string>> rows;
    const int items = window.View().ItemCount();
    for (int item = 0; item < items; ++item) {
        std::vector<std::string> row;
        for (int column : order) {
            const int logical = window.View().LogicalColumn(column);
            row.push_back(logical == tesview::kColumnName ? window.View().ItemName(item)
                                                          : window.View().CellText(item, logical));
        }
        rows.push_back(row);
    }
    return tescommands::PrintListText(titles, widths, rows);
}

bool RefuseOwnFiles(ExplorerWindow& window, std::vector<std::string>* files) {
    const std::string archive = ArchivePath(window);
    tescommands::TempFileTracker* tracker = tescommands::TempFileTracker::Of(window.Archive());
    const std::string folder = tracker ? tracker->Folder() + "\\" : std::string();
    bool refused = false;
    for (size_t at = 0; at < files->size();) {
        const std::string& file = (*files)[at];
        const bool own = (!archive.empty() && lstrcmpiA(file.c_str(), archive.c_str()) == 0) ||
                         (tracker && (lstrcmpiA(file.c_str(), tracker->Folder().c_str()) == 0 ||
                                      (file.size() > folder.size() &&
                                       CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, file.c_str(),
                                                      static_cast<int>(folder.size()), folder.c_str(),
                                                      static_cast<int>(folder.size())) == CSTR_EQUAL)));
        if (own) {
            refused = true;
            files->erase(files->begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            ++at;
        }
    }
    if (refused) ShowMessageText(window.Window(), LoadText(TESCMD_IDS_ARCHIVE_ITSELF), MB_OK | MB_ICONWARNING);
    return !files->empty();
}

bool RunViewingCommand(ExplorerWindow& window, UINT command) {
    HWND owner = window.Window();
    const tescommands::OperationSettings settings = CommandSettings();
    switch (command) {
    case CMD_OPEN_ENTRY:
    case CMD_VIEW: {
        const DWORD entry = FocusedEntry(window);
        if (entry != SEL_UNUSED) tescommands::OpenEntry(window.TempContext(), entry, command == CMD_OPEN_ENTRY);
        return true;
    }
    case CMD_COPY:
        tescommands::CopyEntriesToClipboard(window.TempContext(), SelectedEntries(window), std::string());
        return true;
    case CMD_CUT:
        tescommands::CutEntries(window.TempContext(), settings, SelectedEntries(window), std::string());
        return true;
    case CMD_COPY_FOLDER:
    case CMD_CUT_FOLDER: {
        std::vector<DWORD> indices;
        std::string folderPath;
        if (!TreeFolderEntries(window, &indices, &folderPath)) return true;
        if (command == CMD_COPY_FOLDER) tescommands::CopyEntriesToClipboard(window.TempContext(), indices, folderPath);
        else tescommands::CutEntries(window.TempContext(), settings, indices, folderPath);
        return true;
    }
    case CMD_PASTE: {
        std::vector<std::string> files;
        if (tescommands::ClipboardFiles(owner, App().instance, &files) && RefuseOwnFiles(window, &files)) {
            window.StartAddCommand(files);
        }
        return true;
    }
    case CMD_ENTRY_PROPERTIES:
    case CMD_FOLDER_PROPERTIES: {
        DWORD entry = SEL_UNUSED;
        if (command == CMD_ENTRY_PROPERTIES) {
            entry = FocusedEntry(window);
        } else if (IArchiveFolder* folder = window.Tree().CommandFolder()) {
            entry = folder->GetEntryIndex();
        }
        if (entry == SEL_UNUSED || entry == FOLDER_NO_ENTRY) return true;
        if (tescommands::ShowEntryProperties(window.TempContext(), settings, entry)) window.Refresh(true);
        return true;
    }
    case CMD_ARCHIVE_PROPERTIES:
    case CMD_COMMENT:
        if (tescommands::ShowArchiveProperties(window.TempContext(), settings, command == CMD_COMMENT)) {
            window.Refresh(true);
        }
        return true;
    case CMD_PRINT:
        PrintList(window);
        return true;
    case CMD_MAIL:
        tescommands::MailFile(owner, App().instance, ArchivePath(window));
        return true;
    case CMD_LINK_ON_DESKTOP:
        LinkOnDesktop(window);
        return true;
    case CMD_RENAME_ARCHIVE:
        RenameArchive(window);
        return true;
    case CMD_COPY_ARCHIVE:
        CopyOrMoveArchive(window, false);
        return true;
    case CMD_MOVE_ARCHIVE:
        CopyOrMoveArchive(window, true);
        return true;
    case CMD_DELETE_ARCHIVE:
        DeleteArchive(window);
        return true;
    default:
        return false;
    }
}

}  // namespace tessera
