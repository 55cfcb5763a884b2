// ExplorerWindow: the program's main window for one archive -- the folder
// tree in the side pane, the entry list, a toolbar in a rebar and a status
// bar -- with its history, recent archives and command states. Its commands
// are routed by command_router.h; the toolbar is ExplorerToolbar.
#pragma once

#include "application.h"
#include "archive_history.h"
#include "command_state.h"
#include "explorer_toolbar.h"
#include "content_view.h"
#include "folder_tree.h"
#include "output_log.h"
#include "side_pane.h"
#include "temp_files.h"
#include "view_font.h"
#include "win32/com_ptr.h"

#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessera {

// The text as it fits in width pixels of the control's font: cut and ended
// with "..." when it is wider.
std::string FitTextToWidth(HWND control, const std::string& text, int width);

class ExplorerWindow : public TopLevelWindow {
public:
    static constexpr char kClassName[] = "TesseraWindowClass";
    static constexpr int kStatusTextMargin = 4;  // pixels on each side of a part's text

    ExplorerWindow() = default;
    ExplorerWindow(const ExplorerWindow&) = delete;
    ExplorerWindow& operator=(const ExplorerWindow&) = delete;
    ~ExplorerWindow() override;

    bool IsUsable() const override;
    bool Create(HWND parent) override;
    bool PreTranslateMessage(MSG* message) override;
    void Show() override;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    HWND Window() const { return window_; }
    HWND StatusBar() const { return status_; }
    HWND Toolbar() const { return toolbar_.Window(); }
    HWND Rebar() const { return toolbar_.Rebar(); }
    const SidePane& Pane() const { return pane_; }
    tesview::ContentView& View() { return view_; }
    tesview::FolderTree& Tree() { return tree_; }
    ICompressFormat* Archive() const { return archive_.get(); }
    const OutputLog* Log() const { return log_.get(); }
    const ArchiveHistory& History() const { return history_; }
    const RecentArchives& Recent() const { return recent_; }
    bool TreeHidden() const { return noTree_ != 0; }
    int TreeWidth() const { return static_cast<int>(treeWidth_); }
    std::string Title() const;

    // Opening, refreshing and closing the archive.
    bool OpenArchive(const std::string& path, bool addToHistory);
    // False when the close was refused (an operation is running).
    bool CloseArchive(bool repaint, bool allowRefusal);
    void Refresh(bool force);

    // The frame of every changing or extracting operation: the log attached
    // (and emptied), the operation called with this window as owner, the log
    // detached, the log offered on S_FALSE (offerLog), the view refreshed
    // (forced) when the result is not negative (refresh). Returns the
    // operation's result.
    HRESULT RunOperation(const std::function<HRESULT(ICompressFormat* archive, HWND owner)>& operation,
                         bool offerLog = true, bool refresh = true);
    // A new archive object made by Create, taken over without listing; false
    // (and the reference stays the caller's) when the close was refused.
    bool AdoptArchive(ICompressFormat* object);
    // The archive file is gone: close it and drop it from history and recent.
    void ForgetArchive(const std::string& path);
    // The archive file was renamed or moved: history, recent archives, title,
    // the tree's root and the object's path follow.
    void ArchiveMoved(const std::string& oldPath, const std::string& newPath);
    // What the temporary-file functions need: this window as owner, the
    // archive, and the operation frame.
    tescommands::TempContext TempContext();
    // Changed temporary files offered back (the application became active).
    void CheckTemporaryFiles();
    // Drags the selected list rows, or the tree's command folder, out.
    void DragEntriesOut(bool treeFolder);

    // What the command states depend on, as the window shows it now
    // (forMenu: with the clipboard's content).
    CommandContext CurrentCommandContext(bool archiveFileExists, bool forMenu) const;
    // The enabled state (and *checked) of a command in the current context.
    bool CommandState(UINT command, bool forToolbar, bool archiveFileExists, bool* checked) const;
    // The list, its selection, the tree folder or the archive changed: the
    // status bar and the toolbar states follow (at once, and on timer 1,
    // which the list's and the tree's notifications start).
    void ViewChanged();
    bool ArchiveFileExists() const;
    void UpdateToolbarStates();
    void UpdateMenuStates(HMENU menu);
    void UpdateRecentMenu(HMENU archiveMenu);
    void RefreshStatusBar();
    void ResetStatusParts();
    // The status bar's parts end before its size grip, this wide.
    int StatusGripWidth() const;

    // Dropped files (WM_DROPFILES and the files of "/A").
    void HandleDroppedFiles(const std::vector<std::string>& names);
    // The Add dialog with the given files ("/A" and drops); without an open
    // archive the Create dialog for dropped files comes first.
    void StartAddCommand(HDROP files);
    void StartAddCommand(const std::vector<std::string>& files);

    // Operations of the window's own commands (command_router.h).
    void ToggleAlwaysOnTop();
    void ChooseListFont();
    void ToggleDefaultListFont();
    // The archive one step back or forward in the history; empty at its end.
    std::string GoBack();
    std::string GoForward();
    void CustomizeToolbar();
    // The toolbar's default set.
    void ResetToolbar();
    void ShowOutputWindow();

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool OnCreate();
    void OnDestroy();
    void DestroyWithoutHiding();
    LRESULT OnNotify(NMHDR* header);
    void OnMenuSelect(UINT item, UINT flags, HMENU menu);
    void OnInitMenuPopup(HMENU menu, bool systemMenu);
    void OnTreeHidden(bool hidden);
    void Layout();
    HRESULT FillView();
    void SetStatusText(const std::string& text);
    // The folder part: statusFolder_, cut with "..." to the part's width.
    void ShowStatusFolder();
    void SetTitle();
    void ApplyAlwaysOnTop();
    void ShowHistoryMenu(UINT command);
    void ShowListContextMenu();
    void CreateForDroppedFiles(const std::vector<std::string>& files);

    HWND window_ = nullptr;
    HACCEL accelerators_ = nullptr;
    ExplorerToolbar toolbar_;
    HWND status_ = nullptr;
    SidePane pane_;
    tesview::ContentView view_;
    tesview::FolderTree tree_;
    tesview::ViewFont font_;
    DWORD noTree_ = 0;
    DWORD treeWidth_ = 200;
    win32::ComPtr<ICompressFormat> archive_;
    std::unique_ptr<OutputLog> log_;
    std::string statusFolder_;  // the folder part's whole text
    ArchiveHistory history_;
    RecentArchives recent_;
    bool listed_ = false;        // in the window list
    bool ownedByWindow_ = false; // deleted when the window goes
    bool inMenu_ = false;
    int busy_ = 0;               // operations running
    bool deleteWhenIdle_ = false;  // the window went while an operation ran
};

}  // namespace tessera
