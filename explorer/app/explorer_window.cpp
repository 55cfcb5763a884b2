#include "explorer_window.h"

#include "options_dialog.h"

#include "command_line.h"
#include "command_router.h"
#include "compact_path.h"
#include "resource_ids.h"
#include "file_transfer.h"
#include "viewing_commands.h"
#include "window_commands.h"
#include "tescore.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>

namespace tessera {

namespace {

const char kSettings[] = "Settings";

std::string FilePart(const std::string& path) {
    size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string SizeText(unsigned long long value) {
    char buffer[MAX_PATH] = "";
    FormatFileSize(1, static_cast<DWORD>(value), static_cast<DWORD>(value >> 32), buffer);
    return buffer;
}

bool ListItemSelected(HWND list, int item) {
    return (ListView_GetItemState(list, item, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

}  // namespace

ExplorerWindow::~ExplorerWindow() {
    if (archive_) {
        view_.Clear();
        tree_.ClearTree();
        archive_.reset();
    }
    if (App().windows.Contains(this)) App().windows.Remove(this);
}

bool ExplorerWindow::IsUsable() const { return window_ && IsWindow(window_) && IsWindowEnabled(window_); }

bool ExplorerWindow::Create(HWND parent) {
    HINSTANCE instance = App().instance;
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(instance, kClassName, &windowClass)) {
        windowClass = {};
        windowClass.style = CS_DBLCLKS | CS_BYTEALIGNWINDOW;
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TESSERA));
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassA(&windowClass)) return false;
    }
    const bool firstWindow = FindWindowA(kClassName, nullptr) == nullptr;
    HWND window = CreateWindowExA(0, kClassName, "Tessera", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr,
                                  instance, this);
    if (!window) return false;
    ownedByWindow_ = true;
    if (firstWindow) {
        INT32 saved[4] = {};
        DWORD size = sizeof saved;
        RECT desktop, rect, common;
        GetWindowRect(GetDesktopWindow(), &desktop);
        if (GetProfileBinary(kSettings, "WindowRect", saved, &size) && size == sizeof saved) {
            rect = {saved[0], saved[1], saved[2], saved[3]};
            if (IntersectRect(&common, &rect, &desktop)) {
                MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
            }
        }
    }
    DragAcceptFiles(window, TRUE);
    return true;
}

bool ExplorerWindow::PreTranslateMessage(MSG* message) {
    if (!window_ || !accelerators_) return false;
    if (message->hwnd != window_ && !IsChild(window_, message->hwnd)) return false;
    return TranslateAcceleratorA(window_, accelerators_, message) != 0;
}

void ExplorerWindow::Show() {
    if (!IsWindowVisible(window_)) {
        DWORD maximized = 0;
        GetProfileInt(kSettings, "Maximized", &maximized);
        ShowWindow(window_, static_cast<int>(maximized) > 0 ? SW_SHOWMAXIMIZED : SW_SHOWDEFAULT);
    }
    UpdateWindow(window_);
    // Once a run: the first explorer window shown asks about ".zip".
    static bool associationChecked = false;
    if (associationChecked) return;
    associationChecked = true;
    if (DWORD error = AssociationCheck(window_)) {
        char text[512] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                       sizeof text, nullptr);
        ShowMessage(window_, IDS_ASSOC_ERROR, MB_ICONSTOP, text);
    }
}

LRESULT CALLBACK ExplorerWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<ExplorerWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<ExplorerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        // Inside an operation the object lives on until the operation returns.
        if (self->ownedByWindow_ && self->busy_) self->deleteWhenIdle_ = true;
        else if (self->ownedByWindow_) delete self;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return self->WindowProc(window, message, wParam, lParam);
}

LRESULT ExplorerWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate() ? 0 : -1;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_SETFOCUS:
        if (view_.Window()) SetFocus(view_.Window());
        return 0;
    case WM_CLOSE:
        if (CloseArchive(false, true)) DestroyWithoutHiding();
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_MENUSELECT:
        OnMenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
        return 0;
    case WM_INITMENUPOPUP:
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), HIWORD(lParam) != 0);
        return 0;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wParam);
        HandleDroppedFiles(ReadFileDropBlock(drop));
        DragFinish(drop);
        return 0;
    }
    case WM_SYSCOMMAND:
        if (wParam == CMD_ALWAYS_ON_TOP) {
            ToggleAlwaysOnTop();
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == TESVIEW_STATUS_TIMER) {
            ViewChanged();
            return 0;
        }
        break;
    case WM_COMMAND:
        RouteCommand(*this, LOWORD(wParam));
        return 0;
    case WM_TREE_WIDTH:
        treeWidth_ = static_cast<DWORD>(wParam);
        Layout();
        return 0;
    case WM_TREE_HIDDEN:
        OnTreeHidden(wParam != 0);
        return 0;
    case WM_OPEN_ARCHIVE:
        if (wParam) OpenArchive(reinterpret_cast<const char*>(wParam), lParam != 0);
        return 0;
    case WM_EXTRACT_ALL:
        RunArchiveCommand(*this, CMD_EXTRACT);
        return 0;
    case WM_ACTIVATEAPP:
        // Checked after the activation, not inside it.
        if (wParam) PostMessageA(window, WM_CHECK_TEMP_FILES, 0, 0);
        break;
    case WM_CHECK_TEMP_FILES:
        CheckTemporaryFiles();
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool ExplorerWindow::OnCreate() {
    HINSTANCE instance = App().instance;
    App().windows.Add(this, kExplorerWindow);
    listed_ = true;
    GetProfileInt(kSettings, "TreeWidth", &treeWidth_);
    GetProfileInt(kSettings, "NoTree", &noTree_);
    accelerators_ = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));

    if (!view_.Create(window_, instance)) return false;
    if (!toolbar_.Create(window_, instance)) return false;
    status_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)), instance, nullptr);
    if (!status_) return false;
    if (!pane_.Create(window_, instance)) return false;
    view_.Initialise(noTree_ != 0);
    if (!tree_.Create(pane_.Window(), window_, instance, &view_)) return false;
    if (!noTree_) ShowWindow(pane_.Window(), SW_SHOW);

    HMENU systemMenu = GetSystemMenu(window_, FALSE);
    if (systemMenu) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, CMD_ALWAYS_ON_TOP, LoadText(IDS_ALWAYS_ON_TOP).c_str());
    }
    ApplyAlwaysOnTop();
    recent_.Load();
    UpdateToolbarStates();
    SetTitle();
    font_.Attach(view_.Window(), tree_.Window());
    font_.Load(&App().settings.defaultFont);
    Layout();
    return true;
}

void ExplorerWindow::ResetToolbar() {
    toolbar_.Reset();
    UpdateToolbarStates();
}

void ExplorerWindow::CustomizeToolbar() {
    toolbar_.Customize();
    UpdateToolbarStates();
}

void ExplorerWindow::DestroyWithoutHiding() {
    // DestroyWindow hides a visible window first, and Wine's X11 driver holds
    // the hiding of a captioned top-level window until the window manager
    // has acknowledged its mapping: up to 2 s, all of it when no window
    // manager runs. A window without WS_VISIBLE (what WM_SETREDRAW FALSE
    // leaves) is destroyed at once; the windows beneath repaint its area.
    RECT area;
    GetWindowRect(window_, &area);
    SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
    DestroyWindow(window_);
    RedrawWindow(nullptr, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void ExplorerWindow::OnDestroy() {
    KillTimer(window_, TESVIEW_STATUS_TIMER);
    CloseArchive(false, false);
    recent_.Save();
    history_.Clear();
    view_.SaveLayout();
    tree_.ClearTree();
    toolbar_.Destroy();
    if (status_) {
        // The status bar does not own its icon.
        win32::IconHandle folderIcon(reinterpret_cast<HICON>(SendMessageA(status_, SB_GETICON, 2, 0)));
        DestroyWindow(status_);
    }
    status_ = nullptr;
    pane_.Destroy();

    const LONG style = GetWindowLongA(window_, GWL_STYLE);
    if (!(style & (WS_MAXIMIZE | WS_MINIMIZE))) {
        RECT rect;
        GetWindowRect(window_, &rect);
        INT32 saved[4] = {rect.left, rect.top, rect.right, rect.bottom};
        PutProfileBinary(kSettings, "WindowRect", saved, sizeof saved);
    }
    PutProfileInt(kSettings, "Maximized", static_cast<DWORD>(style & WS_MAXIMIZE));
    if (listed_) App().windows.Remove(this);
    listed_ = false;
    PutProfileInt(kSettings, "TreeWidth", treeWidth_);
    PutProfileInt(kSettings, "NoTree", noTree_);
}

void ExplorerWindow::Layout() {
    if (!window_ || !view_.Window()) return;
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right;
    const int top = toolbar_.Place(width);
    int bottom = client.bottom;
    if (status_) {
        SendMessageA(status_, WM_SIZE, 0, 0);
        RECT rect;
        GetWindowRect(status_, &rect);
        bottom -= rect.bottom - rect.top;
    }
    const int height = std::max(0, bottom - top);
    if (!noTree_) {
        const int paneWidth = static_cast<int>(treeWidth_);
        MoveWindow(pane_.Window(), 0, top, paneWidth, height, TRUE);
        MoveWindow(view_.Window(), paneWidth, top, std::max(0, width - paneWidth), height, TRUE);
    } else {
        MoveWindow(view_.Window(), 0, top, width, height, TRUE);
    }
    if (!inMenu_) ResetStatusParts();
}

void ExplorerWindow::ResetStatusParts() {
    if (!status_) return;
    RECT client;
    GetClientRect(window_, &client);
    // The last part ends where the size grip begins.
    const int end = std::max(0, static_cast<int>(client.right) - StatusGripWidth());
    int parts[3] = {std::min(200, end), std::max(std::min(200, end), end - 200), end};
    if (noTree_) {
        parts[1] = end;
        SendMessageA(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    } else {
        SendMessageA(status_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
        ShowStatusFolder();
    }
}

int ExplorerWindow::StatusGripWidth() const {
    const bool grip = status_ && (GetWindowLongA(status_, GWL_STYLE) & SBARS_SIZEGRIP);
    return grip ? GetSystemMetrics(SM_CXVSCROLL) + GetSystemMetrics(SM_CXEDGE) : 0;
}

void ExplorerWindow::ShowStatusFolder() {
    if (!status_ || inMenu_ || noTree_) return;
    RECT part = {};
    SendMessageA(status_, SB_GETRECT, 2, reinterpret_cast<LPARAM>(&part));
    int width = part.right - part.left - 2 * kStatusTextMargin;
    if (SendMessageA(status_, SB_GETICON, 2, 0)) width -= GetSystemMetrics(SM_CXSMICON) + kStatusTextMargin;
    const std::string text = FitTextToWidth(status_, statusFolder_, width);
    SendMessageA(status_, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string FitTextToWidth(HWND control, const std::string& text, int width) {
    if (text.empty()) return text;
    HDC dc = GetDC(control);
    if (!dc) return text;
    HGDIOBJ previous = nullptr;
    if (auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0))) previous = SelectObject(dc, font);
    std::string fitted = text;
    SIZE size = {};
    if (GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size) && size.cx > width) {
        static const char kEllipsis[] = "...";
        SIZE ellipsis = {};
        GetTextExtentPoint32A(dc, kEllipsis, 3, &ellipsis);
        int fit = 0;
        if (width > ellipsis.cx) {
            GetTextExtentExPointA(dc, text.c_str(), static_cast<int>(text.size()), width - ellipsis.cx, &fit,
                                  nullptr, &size);
        }
        fitted = text.substr(0, static_cast<size_t>(std::max(0, fit))) + kEllipsis;
    }
    if (previous) SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return fitted;
}

void ExplorerWindow::SetStatusText(const std::string& text) {
    if (status_) SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string ExplorerWindow::Title() const {
    std::string title = "Tessera";
    if (archive_) {
        const char* path = archive_->GetArchivePath();
        title += " - " + FilePart(path ? path : "");
    }
    return title;
}

void ExplorerWindow::SetTitle() { SetWindowTextA(window_, Title().c_str()); }

void ExplorerWindow::ToggleAlwaysOnTop() {
    App().settings.alwaysOnTop = !App().settings.alwaysOnTop;
    ApplyAlwaysOnTop();
}

void ExplorerWindow::ChooseListFont() {
    font_.Choose(window_, App().instance, &App().settings.defaultFont);
    UpdateToolbarStates();
}

void ExplorerWindow::ToggleDefaultListFont() {
    font_.ToggleDefault(window_, App().instance, &App().settings.defaultFont);
    UpdateToolbarStates();
}

std::string ExplorerWindow::GoBack() { return history_.GoBack(); }

std::string ExplorerWindow::GoForward() { return history_.GoForward(); }

void ExplorerWindow::ApplyAlwaysOnTop() {
    SetWindowPos(window_, App().settings.alwaysOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    HMENU systemMenu = GetSystemMenu(window_, FALSE);
    if (systemMenu) {
        CheckMenuItem(systemMenu, CMD_ALWAYS_ON_TOP,
                      MF_BYCOMMAND | (App().settings.alwaysOnTop ? MF_CHECKED : MF_UNCHECKED));
    }
}

// ---------------------------------------------------------------------------
// Archives

HRESULT ExplorerWindow::FillView() {
    HRESULT result;
    if (noTree_) {
        SetStatusText(LoadText(IDS_CREATING_LIST));
        result = view_.FillFlat(archive_.get());
    } else {
        SetStatusText(LoadText(IDS_CREATING_TREE));
        result = tree_.BuildTree(archive_.get());
    }
    SetStatusText(std::string());
    return result;
}

bool ExplorerWindow::OpenArchive(const std::string& requested, bool addToHistory) {
    ++App().settings.archivesOpened;
    win32::ComPtr<ICompressFormat> object;
    if (FAILED(ArcCreateObject(window_, requested.c_str(), object.put())) || !object) {
        recent_.Remove(requested);
        history_.Remove(requested);
        UpdateToolbarStates();
        return false;
    }
    win32::WaitCursor wait;
    if (!CloseArchive(false, true)) return false;
    const char* objectPath = object->GetArchivePath();
    const std::string path = objectPath && *objectPath ? objectPath : requested;
    log_ = std::make_unique<OutputLog>();
    archive_ = std::move(object);
    tescommands::TempFileTracker::Attach(archive_.get(), App().settings.tempPath);

    if (SUCCEEDED(archive_->List(window_)) && SUCCEEDED(FillView())) {
        if (addToHistory) history_.Add(path);
        recent_.Add(path);
        SetTitle();
        UpdateToolbarStates();
        SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
        return true;
    }
    // Closed first, so that only this archive's history node is touched.
    CloseArchive(true, false);
    history_.Remove(path);
    recent_.Remove(path);
    if (path != requested) {
        history_.Remove(requested);
        recent_.Remove(requested);
    }
    UpdateToolbarStates();
    return false;
}

bool ExplorerWindow::CloseArchive(bool repaint, bool allowRefusal) {
    if (!archive_) return true;
    if (busy_) {
        // An operation of this archive is running: it may only be cancelled.
        archive_->Cancel();
        if (allowRefusal) return false;
        archive_->SetMessageCallback(nullptr, 0);  // the log goes now
    } else if (!tescommands::CloseTemporaryFiles(TempContext(), CommandSettings(), allowRefusal)) {
        return false;
    }
    if (!archive_) return true;  // closed while the changed files were put back
    tescommands::TempFileTracker::Detach(archive_.get());
    view_.Clear();
    tree_.ClearTree();
    history_.MarkClosed();
    SetStatusText(LoadText(IDS_CLOSING_ARCHIVE));
    log_.reset();
    archive_.reset();
    SetStatusText(std::string());
    RefreshStatusBar();
    if (repaint) {
        SetTitle();
        UpdateToolbarStates();
    }
    return true;
}

void ExplorerWindow::Refresh(bool force) {
    if (!archive_) return;
    const DWORD before = archive_->GetEntryCount();
    if (FAILED(archive_->List(window_))) {
        const std::string path = archive_->GetArchivePath() ? archive_->GetArchivePath() : "";
        CloseArchive(true, false);
        recent_.Remove(path);
        history_.Remove(path);
    } else if (force || archive_->GetEntryCount() != before) {
        if (FAILED(FillView())) CloseArchive(true, false);
    }
    UpdateToolbarStates();
    SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
}

HRESULT ExplorerWindow::RunOperation(const std::function<HRESULT(ICompressFormat*, HWND)>& operation, bool offerLog,
                                     bool refresh) {
    if (!archive_) return E_FAIL;
    // The operation's own reference: the window may close the archive (or
    // go) while the operation runs.
    win32::ComPtr<ICompressFormat> archive = archive_;
    ++busy_;
    log_->Clear();
    archive->SetMessageCallback(OutputLog::Callback, reinterpret_cast<LPARAM>(log_.get()));
    HRESULT result = operation(archive.get(), window_);
    archive->SetMessageCallback(nullptr, 0);
    --busy_;
    archive.reset();
    if (deleteWhenIdle_ && !busy_) {  // the window went during the operation
        delete this;
        return result;
    }
    if (!window_) return result;
    if (offerLog && result == S_FALSE &&
        ShowMessage(window_, IDS_VIEW_OUTPUT_QUESTION, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        ShowOutputWindow();
    }
    if (refresh && SUCCEEDED(result)) Refresh(true);
    return result;
}

bool ExplorerWindow::AdoptArchive(ICompressFormat* object) {
    if (!object || !CloseArchive(false, true)) return false;
    log_ = std::make_unique<OutputLog>();
    archive_ = win32::ComPtr<ICompressFormat>(object);  // the caller's reference
    tescommands::TempFileTracker::Attach(archive_.get(), App().settings.tempPath);
    // Nothing is listed yet: the file appears with the first Add.
    if (archive_->GetArchivePath() && *archive_->GetArchivePath()) history_.Add(archive_->GetArchivePath());
    SetTitle();
    UpdateToolbarStates();
    SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
    return true;
}

void ExplorerWindow::ForgetArchive(const std::string& path) {
    CloseArchive(true, false);
    history_.Remove(path);
    recent_.Remove(path);
    UpdateToolbarStates();
}

void ExplorerWindow::ArchiveMoved(const std::string& oldPath, const std::string& newPath) {
    history_.Replace(oldPath, newPath);
    recent_.Replace(oldPath, newPath);
    if (archive_) archive_->SetArchivePath(newPath.c_str());
    if (!noTree_) tree_.RenameRoot(newPath.c_str());
    SetTitle();
    UpdateToolbarStates();
}

tescommands::TempContext ExplorerWindow::TempContext() {
    tescommands::TempContext context;
    context.owner = window_;
    context.resources = App().instance;
    context.archive = archive_.get();
    context.run = [this](const tescommands::OperationCall& call, unsigned flags) {
        return RunOperation(call, (flags & tescommands::kOfferLogOnWarnings) != 0,
                            (flags & tescommands::kRefreshOnSuccess) != 0);
    };
    return context;
}

void ExplorerWindow::CheckTemporaryFiles() {
    if (!archive_ || busy_ || !IsWindowEnabled(window_)) return;
    tescommands::CheckTemporaryFiles(TempContext(), CommandSettings());
}

void ExplorerWindow::DragEntriesOut(bool treeFolder) {
    if (!archive_ || busy_) return;
    std::vector<DWORD> indices;
    std::string folderPath;
    tesview::SelectionBuffer selection;
    if (treeFolder) {
        IArchiveFolder* folder = tree_.SelectedFolder();
        if (!folder || !selection.FromFolder(folder)) return;
        folderPath = tescommands::FolderDisplayPath(folder);
        if (folderPath.empty()) return;  // the root is the archive itself
    } else if (!selection.FromSelected(view_.Window())) {
        return;
    }
    for (DWORD at = 0; at < selection.Count(); ++at) indices.push_back(selection.Records()[at].index);
    tescommands::DragEntriesOut(TempContext(), indices, folderPath, window_);
}

void ExplorerWindow::ShowOutputWindow() {
    tescommands::ShowOutputWindow(window_, App().instance, log_ ? log_->Text() : std::string());
}

// ---------------------------------------------------------------------------
// Command states

bool ExplorerWindow::ArchiveFileExists() const {
    if (!archive_ || !archive_->GetArchivePath()) return false;
    WIN32_FIND_DATAA found;
    return static_cast<bool>(win32::FindHandle(FindFirstFileA(archive_->GetArchivePath(), &found)));
}

CommandContext ExplorerWindow::CurrentCommandContext(bool fileExists, bool forMenu) const {
    CommandContext context;
    context.formatsRegistered = ArcGetFormatCount() != 0;
    context.archiveOpen = static_cast<bool>(archive_);
    context.archiveFileExists = fileExists;
    if (archive_) {
        context.entryCount = archive_->GetEntryCount();
        for (DWORD bit = 1; bit != 0; bit <<= 1) {
            if (archive_->HasCapability(bit)) context.capabilities |= bit;
        }
    }
    context.itemCount = view_.ItemCount();
    context.selectedCount = view_.Window() ? static_cast<int>(ListView_GetSelectedCount(view_.Window())) : 0;
    context.operationRunning = busy_ != 0;
    // Only the menus look at the clipboard; the toolbar is not refreshed
    // when its content changes.
    context.clipboardHasFiles = forMenu && IsClipboardFormatAvailable(CF_HDROP);
    context.logHasText = log_ && log_->HasText();
    context.canGoBack = history_.CanGoBack();
    context.canGoForward = history_.CanGoForward();
    context.treeShown = !noTree_;
    context.treeFolderHasParent = !noTree_ && tree_.CanSelectParent();
    context.alwaysOnTop = App().settings.alwaysOnTop != 0;
    context.defaultFont = App().settings.defaultFont != 0;
    context.sortKey = view_.SortKey();
    context.sortReversed = view_.Direction();
    return context;
}

bool ExplorerWindow::CommandState(UINT command, bool forToolbar, bool fileExists, bool* checked) const {
    const CommandStatus status =
        tessera::CommandState(command, forToolbar, CurrentCommandContext(fileExists, !forToolbar));
    if (checked) *checked = status.checked;
    return status.enabled;
}

void ExplorerWindow::ViewChanged() {
    KillTimer(window_, TESVIEW_STATUS_TIMER);
    RefreshStatusBar();
    UpdateToolbarStates();
}

void ExplorerWindow::UpdateToolbarStates() {
    if (toolbar_.Window()) toolbar_.ApplyStates(CurrentCommandContext(ArchiveFileExists(), false));
}

void ExplorerWindow::UpdateMenuStates(HMENU menu) {
    const CommandContext context = CurrentCommandContext(ArchiveFileExists(), true);
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        UINT id = GetMenuItemID(menu, position);
        if (id == 0 || id == static_cast<UINT>(-1) || id == CMD_FOLDER_PROPERTIES) continue;
        const CommandStatus status = tessera::CommandState(id, false, context);
        EnableMenuItem(menu, position, MF_BYPOSITION | (status.enabled ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(menu, position, MF_BYPOSITION | (status.checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

void ExplorerWindow::UpdateRecentMenu(HMENU archiveMenu) {
    for (UINT id = CMD_LAST_ARCHIVE; id <= CMD_RECENT_LAST; ++id) DeleteMenu(archiveMenu, id, MF_BYCOMMAND);
    const UINT firstPosition = 15;
    UINT position = firstPosition;
    for (int slot = 0; slot < RecentArchives::kSlots; ++slot) {
        if (recent_.Slot(slot).empty()) continue;
        char text[MAX_PATH + 16];
        snprintf(text, sizeof text, "&%d %s", slot + 1, CompactPath(recent_.Slot(slot), 32, true).c_str());
        InsertMenuA(archiveMenu, position++, MF_BYPOSITION | MF_STRING, CMD_RECENT_FIRST + slot, text);
    }
    if (position == firstPosition) {
        InsertMenuA(archiveMenu, position, MF_BYPOSITION | MF_STRING | MF_GRAYED, CMD_LAST_ARCHIVE,
                    LoadText(IDS_LAST_ARCHIVE).c_str());
    }
}

void ExplorerWindow::OnInitMenuPopup(HMENU menu, bool systemMenu) {
    if (systemMenu) {
        CheckMenuItem(menu, CMD_ALWAYS_ON_TOP, MF_BYCOMMAND | (App().settings.alwaysOnTop ? MF_CHECKED : MF_UNCHECKED));
        return;
    }
    HMENU bar = GetMenu(window_);
    if (bar && menu == GetSubMenu(bar, 0)) UpdateRecentMenu(menu);
    UpdateMenuStates(menu);
}

void ExplorerWindow::OnMenuSelect(UINT item, UINT flags, HMENU menu) {
    if (!status_) return;
    if (flags == 0xFFFF && !menu) {
        inMenu_ = false;
        ResetStatusParts();
        SetStatusText(std::string());
        SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
        return;
    }
    if (!inMenu_) {
        inMenu_ = true;
        int whole = -1;
        SendMessageA(status_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&whole));
    }
    std::string text;
    if (flags & MF_POPUP) {
        text = LoadText(IDS_MENU_HELP);
    } else if (item >= CMD_RECENT_FIRST && item <= CMD_RECENT_LAST) {
        text = FormatText(IDS_OPEN_RECENT, recent_.Slot(static_cast<int>(item - CMD_RECENT_FIRST)).c_str());
    } else if (!(flags & MF_SEPARATOR) && item != 0) {
        text = LoadText(item);
    }
    SetStatusText(text);
}

void ExplorerWindow::RefreshStatusBar() {
    if (!status_ || inMenu_) return;
    std::string counts, sizes, folder;
    HICON icon = nullptr;
    if (archive_ && archive_->GetEntryCount() != 0) {
        HWND list = view_.Window();
        const HDRSTRUCT* entries = archive_->GetEntries();
        const DWORD entryCount = archive_->GetEntryCount();
        const UINT selectedCount = ListView_GetSelectedCount(list);
        const int itemCount = view_.ItemCount();
        unsigned long long size = 0, packed = 0;
        bool packedKnown = true;
        UINT counted = 0;
        for (int item = 0; item < itemCount; ++item) {
            if (selectedCount && !ListItemSelected(list, item)) continue;
            ++counted;
            DWORD index = view_.ItemEntry(item);
            if (!entries || index >= entryCount) continue;
            size += entries[index].size;
            if (entries[index].packedSize == SIZE_UNKNOWN) packedKnown = false;
            else packed += entries[index].packedSize;
        }
        counts = FormatText(selectedCount ? IDS_OBJECTS_SELECTED : IDS_OBJECTS, counted);
        sizes = FormatText(IDS_SIZE_PACKED, SizeText(size).c_str(), packedKnown ? SizeText(packed).c_str() : "?");
        if (!noTree_) {
            HWND treeWindow = tree_.Window();
            HTREEITEM selected = treeWindow ? TreeView_GetSelection(treeWindow) : nullptr;
            if (selected) {
                // The folder's name as the tree shows it (the root: the archive).
                char name[MAX_PATH] = "";
                TVITEMA item = {};
                item.mask = TVIF_TEXT;
                item.hItem = selected;
                item.pszText = name;
                item.cchTextMax = sizeof name;
                TreeView_GetItem(treeWindow, &item);
                folder = name;
                SHFILEINFOA info = {};
                if (SHGetFileInfoA("folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                                   SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_SMALLICON)) {
                    icon = info.hIcon;
                }
            }
        }
    }
    SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(counts.c_str()));
    SendMessageA(status_, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(sizes.c_str()));
    // The status bar does not own its icons: the one it showed goes here.
    win32::IconHandle previous(reinterpret_cast<HICON>(SendMessageA(status_, SB_GETICON, 2, 0)));
    SendMessageA(status_, SB_SETICON, 2, reinterpret_cast<LPARAM>(icon));
    previous.reset();
    statusFolder_ = folder;
    ShowStatusFolder();
}

// ---------------------------------------------------------------------------
// Tree pane

void ExplorerWindow::OnTreeHidden(bool hidden) {
    win32::WaitCursor wait;
    noTree_ = hidden ? 1 : 0;
    if (hidden) tree_.ClearTree();
    view_.SetFlatMode(hidden);
    ShowWindow(pane_.Window(), hidden ? SW_HIDE : SW_SHOW);
    Layout();
    if (archive_ && FAILED(FillView())) CloseArchive(true, false);
    UpdateWindow(window_);
    ResetStatusParts();
    UpdateToolbarStates();
    SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
}

// ---------------------------------------------------------------------------
// Notifications

LRESULT ExplorerWindow::OnNotify(NMHDR* header) {
    LRESULT result = 0;
    if (header->hwndFrom == view_.Window()) {
        switch (header->code) {
        case NM_RCLICK:
            ShowListContextMenu();
            return 0;
        case LVN_BEGINDRAG:
            DragEntriesOut(false);
            return 0;
        case LVN_ITEMCHANGED:
            SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
            return 0;
        case NM_DBLCLK:
            RouteCommand(*this, CMD_OPEN_ENTRY);
            return 0;
        default:
            view_.HandleNotify(header, &result);
            return result;
        }
    }
    if (header->hwndFrom == tree_.Window()) {
        if (header->code == TVN_BEGINDRAGA || header->code == TVN_BEGINDRAGW) {
            const auto* drag = reinterpret_cast<const NMTREEVIEWA*>(header);
            TreeView_SelectItem(tree_.Window(), drag->itemNew.hItem);
            DragEntriesOut(true);
            return 0;
        }
        tree_.HandleNotify(header, &result);
        // A new tree folder has refilled the list.
        if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) ViewChanged();
        return result;
    }
    if (header->hwndFrom == toolbar_.Window()) {
        switch (header->code) {
        case TBN_DROPDOWN:
            ShowHistoryMenu(static_cast<UINT>(reinterpret_cast<NMTOOLBARA*>(header)->iItem));
            return TBDDRET_DEFAULT;
        case TBN_RESET:
            ResetToolbar();
            return 0;
        case TBN_TOOLBARCHANGE:
            UpdateToolbarStates();
            return 0;
        default:
            return toolbar_.AnswerCustomize(header);
        }
    }
    return 0;
}

void ExplorerWindow::ShowListContextMenu() {
    HWND list = view_.Window();
    POINT screen;
    GetCursorPos(&screen);
    POINT client = screen;
    ScreenToClient(list, &client);
    LVHITTESTINFO hit = {};
    hit.pt = client;
    const bool onItem = ListView_HitTest(list, &hit) >= 0;
    win32::MenuHandle menus;
    HMENU popup = nullptr;
    if (onItem) {
        menus.reset(LoadMenuA(App().instance, MAKEINTRESOURCEA(IDR_CONTEXT_MENUS)));
        popup = menus ? GetSubMenu(menus.get(), 0) : nullptr;
        if (popup) SetMenuDefaultItem(popup, CMD_OPEN_ENTRY, FALSE);
    } else if (GetMenu(window_)) {
        popup = GetSubMenu(GetMenu(window_), 4);
    }
    if (popup) TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, window_, nullptr);
}

void ExplorerWindow::ShowHistoryMenu(UINT command) {
    std::vector<ArchiveHistory::Position> nodes =
        command == CMD_BACK ? history_.BackList(10) : history_.ForwardList(10);
    if (nodes.empty()) return;
    win32::MenuHandle menu(CreatePopupMenu());
    if (!menu) return;
    for (size_t index = 0; index < nodes.size(); ++index) {
        char text[MAX_PATH + 16];
        snprintf(text, sizeof text, "&%i %s", static_cast<int>(index + 1), FilePart(nodes[index]->path).c_str());
        AppendMenuA(menu.get(), MF_STRING, index + 1, text);
    }
    const RECT rect = toolbar_.ButtonScreenRect(command);
    int chosen = TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY, rect.left,
                                rect.bottom, 0, window_, nullptr);
    menu.reset();
    if (chosen > 0 && static_cast<size_t>(chosen) <= nodes.size()) {
        OpenArchive(history_.Select(nodes[chosen - 1]), true);
    }
}

// ---------------------------------------------------------------------------
// Dropped files

void ExplorerWindow::StartAddCommand(HDROP files) {
    std::vector<std::string> names;
    {
        win32::LockedGlobal<const DROPFILES> block(files);
        if (block) names = tescommands::DroppedPaths(block.get());
    }
    StartAddCommand(names);
}

void ExplorerWindow::StartAddCommand(const std::vector<std::string>& files) {
    if (!archive_) CreateForDroppedFiles(files);
    if (!archive_) return;
    WindowCommandHost host(*this);
    tescommands::AddFilesCommand(host, files);
    UpdateToolbarStates();
}

void ExplorerWindow::CreateForDroppedFiles(const std::vector<std::string>& files) {
    // The Create dialog opens in the first file's folder.
    std::string folder;
    if (!files.empty()) {
        const size_t separator = files[0].find_last_of("\\/");
        if (separator != std::string::npos) folder = files[0].substr(0, separator);
    }
    WindowCommandHost host(*this);
    tescommands::CreateArchiveCommand(host, folder.empty() ? nullptr : folder.c_str(), true);
}

void ExplorerWindow::HandleDroppedFiles(const std::vector<std::string>& dropped) {
    std::vector<std::string> names = dropped;
    if (names.empty() || (archive_ && !RefuseOwnFiles(*this, &names))) return;
    if (names.size() == 1 && OpenArchive(names[0], false)) return;
    if (!archive_) {
        CreateForDroppedFiles(names);
        if (!archive_) return;
    }
    if (!CommandState(CMD_ADD, false, ArchiveFileExists(), nullptr)) {
        SetForegroundWindow(window_);
        ShowMessage(window_, IDS_CANNOT_ADD, MB_ICONEXCLAMATION);
        return;
    }
    StartAddCommand(names);
}

}  // namespace tessera
