#include "command_router.h"

#include "application.h"
#include "explorer_window.h"
#include "resource_ids.h"
#include "options_dialog.h"
#include "search_window.h"
#include "viewing_commands.h"
#include "window_commands.h"
#include "tescore.h"
#include "win32/dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>

namespace tessera {

namespace {

const char kSettings[] = "Settings";

// About: centred, closed by OK or Cancel.
class AboutDialog : public win32::Dialog {
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND control) override {
        if (id != IDOK) return Dialog::OnCommand(id, code, control);
        End(IDOK);
        return TRUE;
    }
};

// The Open dialog over the registered formats, from the folder last used.
void ShowOpenDialog(ExplorerWindow& window) {
    std::string filter = OpenDialogFilter();
    std::replace(filter.begin(), filter.end(), '|', '\0');
    filter.push_back('\0');
    std::string title = LoadText(IDS_OPEN_TITLE);
    char folder[MAX_PATH] = "";
    GetProfileString(kSettings, "OpenDir", folder);
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window.Window();
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrInitialDir = folder[0] ? folder : nullptr;
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&dialog)) return;
    std::string chosen = path;
    size_t at = chosen.find_last_of("\\/");
    PutProfileString(kSettings, "OpenDir", at == std::string::npos ? "" : chosen.substr(0, at).c_str());
    window.OpenArchive(chosen, true);
}

// path is a copy: opening changes the history and the recent list it may
// come from.
void OpenIfAny(ExplorerWindow& window, std::string path) {
    if (!path.empty()) window.OpenArchive(path, true);
}

}  // namespace

std::string OpenDialogFilter() {
    std::string filter, patterns;
    const UINT count = ArcGetFormatCount();
    for (UINT index = 0; index < count; ++index) {
        FORMATINFO info = {};
        if (FAILED(ArcGetFormatAt(index, &info)) || lstrcmpiA(info.extension, ".exe") == 0) continue;
        std::string description = LoadText(info.descriptionId);
        char line[2 * MAX_PATH + 600];
        snprintf(line, sizeof line, "%s (%s)|*%s|", description.c_str(), info.extension, info.extension);
        filter += line;
        if (!patterns.empty()) patterns += ";";
        patterns += std::string("*") + info.extension;
    }
    return filter + FormatText(IDS_OPEN_FILTER_TAIL, patterns.c_str());
}

void RunArchiveCommand(ExplorerWindow& window, UINT command) {
    // The archive commands run modally; the host lives as long as one.
    WindowCommandHost host(window);
    switch (command) {
    case CMD_EXTRACT:
        tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr);
        break;
    case CMD_EXTRACT_SELECTED:
        tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr);
        break;
    case CMD_EXTRACT_FOLDER:
        tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_FOLDER, window.Tree().CommandFolder());
        break;
    case CMD_DELETE_FILES:
        tescommands::DeleteCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr);
        break;
    case CMD_DELETE_FOLDER:
        tescommands::DeleteCommand(host, TESCMD_IDC_SCOPE_FOLDER, window.Tree().CommandFolder());
        break;
    case CMD_TEST:
        tescommands::TestCommand(host);
        break;
    case CMD_CREATE_ARCHIVE:
        tescommands::CreateArchiveCommand(host, nullptr, false);
        break;
    case CMD_ADD:
        tescommands::AddFilesCommand(host, {});
        break;
    case CMD_CREATE_EXE:
        tescommands::CreateExeCommand(host);
        break;
    case CMD_REMOVE_EXE:
        tescommands::RemoveExeCommand(host);
        break;
    case CMD_VIEW_OUTPUT:
        window.ShowOutputWindow();
        break;
    default:
        // Options keep their enabled state and do nothing.
        RunViewingCommand(window, command);
        break;
    }
    window.UpdateToolbarStates();
}

void RouteCommand(ExplorerWindow& window, UINT command) {
    HWND owner = window.Window();
    bool checked = false;
    // Accelerators reach commands the menus would show disabled.
    if (command != CMD_EXIT && command != CMD_CLOSE_ARCHIVE &&
        !window.CommandState(command, false, window.ArchiveFileExists(), &checked)) {
        return;
    }
    if (window.View().HandleCommand(owner, command)) {
        // Selections and sorting change what is shown: paint the list now
        // (a dialog may just have closed over it) and follow with the
        // status bar and the command states.
        RedrawWindow(window.View().Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        window.ViewChanged();
        return;
    }
    switch (command) {
    case CMD_OPEN_ARCHIVE:
        ShowOpenDialog(window);
        break;
    case CMD_CLOSE_ARCHIVE:
        window.CloseArchive(true, true);
        break;
    case CMD_EXIT:
        SendMessageA(owner, WM_CLOSE, 0, 0);
        break;
    case CMD_ALWAYS_ON_TOP:
        window.ToggleAlwaysOnTop();
        break;
    case CMD_HELP_ON_HELP:
        WinHelpA(owner, nullptr, HELP_HELPONHELP, 0);
        break;
    case CMD_WEB_PAGE:
        ShellExecuteA(owner, "open", "https://www.quellsoft.example/tessera/", nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case CMD_FEEDBACK:
        ShellExecuteA(owner, "open", "mailto:tessera@quellsoft.example", nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case CMD_ABOUT: {
        AboutDialog about;
        about.RunModal(App().instance, IDD_ABOUT, owner);
        break;
    }
    case CMD_FONT:
        window.ChooseListFont();
        break;
    case CMD_DEFAULT_FONT:
        window.ToggleDefaultListFont();
        break;
    case CMD_FOLDER_TREE:
        SendMessageA(owner, WM_TREE_HIDDEN, window.TreeHidden() ? 0 : 1, 0);
        break;
    case CMD_UP_FOLDER:
        window.Tree().SelectParent();
        window.UpdateToolbarStates();
        break;
    case CMD_BACK:
        OpenIfAny(window, window.GoBack());
        break;
    case CMD_FORWARD:
        OpenIfAny(window, window.GoForward());
        break;
    case CMD_CUSTOMIZE_TOOLBAR:
        window.CustomizeToolbar();
        break;
    case CMD_RESET_TOOLBAR:
        window.ResetToolbar();
        break;
    case CMD_ARCHIVES_OPENED:
        ShowMessage(owner, IDS_ARCHIVES_OPENED, MB_ICONINFORMATION, static_cast<int>(App().settings.archivesOpened));
        break;
    case CMD_BROWSE_ARCHIVES:
        NewSearchWindow();
        break;
    case CMD_OPTIONS:
        OptionsDialog(owner, kGeneralPage);
        break;
    default:
        if (command >= CMD_RECENT_FIRST && command <= CMD_RECENT_LAST) {
            OpenIfAny(window, window.Recent().Slot(static_cast<int>(command - CMD_RECENT_FIRST)));
            break;
        }
        RunArchiveCommand(window, command);
        break;
    }
}

}  // namespace tessera
