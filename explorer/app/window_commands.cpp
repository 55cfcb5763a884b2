// WindowCommandHost (see window_commands.h).
#include "window_commands.h"

#include "explorer_window.h"

#include <commctrl.h>

namespace tessera {

tescommands::OperationSettings CommandSettings() {
    const ProgramSettings& program = App().settings;
    tescommands::OperationSettings settings;
    settings.tempFolder = program.tempPath;
    settings.storeOnlyList = program.suffix;
    settings.modifyTime = program.modifyTime ? TRUE : FALSE;
    settings.exploreExtractFolder = program.exploreExtractFolder != 0;
    return settings;
}

WindowCommandHost::WindowCommandHost(ExplorerWindow& window) : window_(window), settings_(CommandSettings()) {}

HWND WindowCommandHost::Owner() { return window_.Window(); }

HINSTANCE WindowCommandHost::Resources() { return App().instance; }

const tescommands::OperationSettings& WindowCommandHost::Settings() { return settings_; }

ICompressFormat* WindowCommandHost::Archive() { return window_.Archive(); }

bool WindowCommandHost::HasSelectedEntries() {
    HWND list = window_.View().Window();
    return list && ListView_GetSelectedCount(list) > 0;
}

bool WindowCommandHost::BuildSelection(tesview::SelectionBuffer* selection) {
    return selection->FromSelected(window_.View().Window());
}

IArchiveFolder* WindowCommandHost::SelectedFolder() {
    return window_.TreeHidden() ? nullptr : window_.Tree().SelectedFolder();
}

HRESULT WindowCommandHost::RunOperation(const tescommands::OperationCall& call, unsigned flags) {
    return window_.RunOperation(call, (flags & tescommands::kOfferLogOnWarnings) != 0,
                                (flags & tescommands::kRefreshOnSuccess) != 0);
}

std::string WindowCommandHost::LogText() { return window_.Log() ? window_.Log()->Text() : std::string(); }

bool WindowCommandHost::AdoptArchive(ICompressFormat* object) { return window_.AdoptArchive(object); }

bool WindowCommandHost::OpenArchive(const char* path, bool addToHistory) {
    return path && window_.OpenArchive(path, addToHistory);
}

void WindowCommandHost::ForgetArchive(const char* path) { window_.ForgetArchive(path ? path : ""); }

void WindowCommandHost::ExploreFolder(const char* folder) {
    ShellExecuteA(window_.Window(), "explore", folder, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tessera
