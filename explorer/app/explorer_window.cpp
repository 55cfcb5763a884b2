#include "explorer_window.h"

#include "command_line.h"
#include "compact_path.h"
#include "resource_ids.h"
#include "window_commands.h"
#include "tescore.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tessera {

namespace {

const char kSettings[] = "Settings";

// Wait cursor for the life of the object.
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// Every button the toolbar can show: image and label index equal the index.
const TBBUTTON kButtons[ExplorerWindow::kToolbarButtonCount] = {
    {0, CMD_BACK, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_DROPDOWN, {}, 0, 0},
    {1, CMD_FORWARD, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_DROPDOWN, {}, 0, 1},
    {2, CMD_OPEN_ARCHIVE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 2},
    {3, CMD_ADD, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 3},
    {4, CMD_EXTRACT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 4},
    {5, CMD_CUT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 5},
    {6, CMD_COPY, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 6},
    {7, CMD_PASTE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 7},
    {8, CMD_BROWSE_ARCHIVES, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 8},
    {9, CMD_PRINT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 9},
    {10, CMD_MAIL, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 10},
    {11, CMD_OPTIONS, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 11},
    {12, CMD_COMMENT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 12},
    {13, CMD_FOLDER_TREE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 13},
    {14, CMD_VIEW, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 14},
    {15, CMD_ARCHIVE_PROPERTIES, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 15},
    {16, CMD_DELETE_FILES, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 16},
    {17, CMD_FONT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 17},
    {18, CMD_UP_FOLDER, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 18},
};
// Default set: indexes into kButtons, -1 a separator.
const int kDefaultButtons[] = {0, 1, 2, 3, 4, -1, 5, 6, 7, -1, 8, 9, 10};

const TBBUTTON kSeparator = {0, 0, TBSTATE_ENABLED, BTNS_SEP, {}, 0, 0};

const TBBUTTON* ButtonOfCommand(int command) {
    for (const TBBUTTON& button : kButtons) {
        if (button.idCommand == command) return &button;
    }
    return nullptr;
}

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

// The label of toolbar button `index`: the labels string holds them all,
// separated by '|'.
std::string ButtonLabel(int index) {
    const std::string labels = LoadText(IDS_TOOLBAR_LABELS);
    size_t start = 0;
    for (int skipped = 0; skipped < index && start < labels.size(); ++skipped) {
        const size_t end = labels.find('|', start);
        start = end == std::string::npos ? labels.size() : end + 1;
    }
    return labels.substr(start, labels.find('|', start) - start);
}

}  // namespace

ExplorerWindow::~ExplorerWindow() {
    if (archive_) {
        view_.Clear();
        tree_.ClearTree();
        archive_->Release();
        archive_ = nullptr;
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
    // The association check of the options comes with the Options dialog;
    // an error it returns is shown as message 4142.
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
    case WM_ACTIVATEAPP:
        // Viewed entries' temporary files are checked for changes here once
        // viewing through temporary files exists.
        break;
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
            App().settings.alwaysOnTop = !App().settings.alwaysOnTop;
            ApplyAlwaysOnTop();
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
        OnCommand(LOWORD(wParam));
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
        CommandHook(CMD_EXTRACT);
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
    if (!CreateToolbar()) return false;
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

bool ExplorerWindow::CreateToolbar() {
    HINSTANCE instance = App().instance;
    rebar_ = CreateWindowExA(WS_EX_TOOLWINDOW, REBARCLASSNAMEA, "",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                                 RBS_BANDBORDERS | CCS_NODIVIDER,
                             0, 0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REBAR)), instance,
                             nullptr);
    toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS |
                                   CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_ADJUSTABLE,
                               0, 0, 0, 0, rebar_ ? rebar_ : window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TOOLBAR)), instance, nullptr);
    if (!toolbar_) return false;
    // Notifications and commands come straight to this window.
    SendMessageA(toolbar_, TB_SETPARENT, reinterpret_cast<WPARAM>(window_), 0);
    SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    toolbarImages_ = ImageList_LoadImageA(instance, MAKEINTRESOURCEA(IDB_TOOLBAR), 24, 0, RGB(255, 0, 255),
                                          IMAGE_BITMAP, LR_CREATEDIBSECTION);
    toolbarHotImages_ = ImageList_LoadImageA(instance, MAKEINTRESOURCEA(IDB_TOOLBAR_HOT), 24, 0, RGB(255, 0, 255),
                                             IMAGE_BITMAP, LR_CREATEDIBSECTION);
    // Drawn greyed rather than left to the toolbar, which flattens an image
    // to a grey silhouette.
    toolbarDisabledImages_ = ImageList_LoadImageA(instance, MAKEINTRESOURCEA(IDB_TOOLBAR_DISABLED), 24, 0,
                                                  RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (toolbarImages_) SendMessageA(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages_));
    if (toolbarDisabledImages_) {
        SendMessageA(toolbar_, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarDisabledImages_));
    }
    if (toolbarHotImages_) SendMessageA(toolbar_, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarHotImages_));

    // Labels: string 46, "|" separated, as one double-zero-terminated list.
    std::string labels = LoadText(IDS_TOOLBAR_LABELS);
    std::replace(labels.begin(), labels.end(), '|', '\0');
    labels.push_back('\0');
    SendMessageA(toolbar_, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(labels.c_str()));

    HKEY product = GetSectionKey(nullptr);
    TBSAVEPARAMSA save = {product, kSettings, "ToolBarState"};
    if (!product || !SendMessageA(toolbar_, TB_SAVERESTORE, FALSE, reinterpret_cast<LPARAM>(&save)) ||
        SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0) == 0) {
        ResetToolbar();
    }
    SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);

    if (rebar_) {
        DWORD size = static_cast<DWORD>(SendMessageA(toolbar_, TB_GETBUTTONSIZE, 0, 0));
        REBARBANDINFOA band = {};
        band.cbSize = sizeof band;
        band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE;
        band.fStyle = RBBS_CHILDEDGE;
        band.hwndChild = toolbar_;
        band.cxMinChild = 0;
        band.cyMinChild = HIWORD(size);
        band.cx = 400;
        SendMessageA(rebar_, RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
    }
    return true;
}

void ExplorerWindow::ResetToolbar() {
    while (SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0) > 0) SendMessageA(toolbar_, TB_DELETEBUTTON, 0, 0);
    for (int index : kDefaultButtons) {
        const TBBUTTON& button = index < 0 ? kSeparator : kButtons[index];
        SendMessageA(toolbar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    }
    UpdateToolbarStates();
}

const TBBUTTON& ExplorerWindow::PlaceableButton(int index) { return kButtons[index]; }

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
    if (toolbar_) {
        HKEY product = GetSectionKey(nullptr);
        TBSAVEPARAMSA save = {product, kSettings, "ToolBarState"};
        if (product) SendMessageA(toolbar_, TB_SAVERESTORE, TRUE, reinterpret_cast<LPARAM>(&save));
        DestroyWindow(toolbar_);
        toolbar_ = nullptr;
    }
    if (rebar_) DestroyWindow(rebar_);
    rebar_ = nullptr;
    if (toolbarImages_) ImageList_Destroy(toolbarImages_);
    if (toolbarHotImages_) ImageList_Destroy(toolbarHotImages_);
    if (toolbarDisabledImages_) ImageList_Destroy(toolbarDisabledImages_);
    toolbarImages_ = toolbarHotImages_ = toolbarDisabledImages_ = nullptr;
    if (status_) DestroyWindow(status_);
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
    int top = 0;
    if (rebar_) {
        MoveWindow(rebar_, 0, 0, width, 0, TRUE);  // the rebar takes its own height
        RECT rect;
        GetWindowRect(rebar_, &rect);
        top = rect.bottom - rect.top;
    } else if (toolbar_) {
        top = HIWORD(static_cast<DWORD>(SendMessageA(toolbar_, TB_GETBUTTONSIZE, 0, 0))) + 2;
        MoveWindow(toolbar_, 0, 0, width, top, TRUE);
    }
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
        result = view_.FillFlat(archive_);
    } else {
        SetStatusText(LoadText(IDS_CREATING_TREE));
        result = tree_.BuildTree(archive_);
    }
    SetStatusText(std::string());
    return result;
}

bool ExplorerWindow::OpenArchive(const std::string& requested, bool addToHistory) {
    ++App().settings.archivesOpened;
    ICompressFormat* object = nullptr;
    if (FAILED(ArcCreateObject(window_, requested.c_str(), &object)) || !object) {
        recent_.Remove(requested);
        history_.Remove(requested);
        UpdateToolbarStates();
        return false;
    }
    WaitCursor wait;
    if (!CloseArchive(false, true)) {
        object->Release();
        return false;
    }
    const char* objectPath = object->GetArchivePath();
    const std::string path = objectPath && *objectPath ? objectPath : requested;
    log_ = std::make_unique<OutputLog>();
    archive_ = object;
    // The per-archive temporary folder for viewing and dragging is derived
    // here once viewing through temporary files exists.
    tempFolder_.clear();

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
    }
    // Viewed entries' temporary files are checked here (and may refuse the
    // close) once viewing through temporary files exists.
    view_.Clear();
    tree_.ClearTree();
    history_.MarkClosed();
    SetStatusText(LoadText(IDS_CLOSING_ARCHIVE));
    log_.reset();
    archive_->Release();
    archive_ = nullptr;
    tempFolder_.clear();
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
    ICompressFormat* archive = archive_;
    archive->AddRef();
    ++busy_;
    log_->Clear();
    archive->SetMessageCallback(OutputLog::Callback, reinterpret_cast<LPARAM>(log_.get()));
    HRESULT result = operation(archive, window_);
    archive->SetMessageCallback(nullptr, 0);
    --busy_;
    archive->Release();
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
    archive_ = object;
    tempFolder_.clear();
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

void ExplorerWindow::ShowOutputWindow() {
    tescommands::ShowOutputWindow(window_, App().instance, log_ ? log_->Text() : std::string());
}

// ---------------------------------------------------------------------------
// Command states

bool ExplorerWindow::ArchiveFileExists() const {
    if (!archive_ || !archive_->GetArchivePath()) return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(archive_->GetArchivePath(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

CommandContext ExplorerWindow::CurrentCommandContext(bool fileExists, bool forMenu) const {
    CommandContext context;
    context.formatsRegistered = ArcGetFormatCount() != 0;
    context.archiveOpen = archive_ != nullptr;
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
    if (!toolbar_) return;
    const CommandContext context = CurrentCommandContext(ArchiveFileExists(), false);
    const int count = static_cast<int>(SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TBBUTTON button = {};
        if (!SendMessageA(toolbar_, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button))) continue;
        if (button.fsStyle & BTNS_SEP) continue;
        const CommandStatus status = tessera::CommandState(static_cast<UINT>(button.idCommand), true, context);
        SendMessageA(toolbar_, TB_ENABLEBUTTON, button.idCommand, MAKELONG(status.enabled, 0));
        SendMessageA(toolbar_, TB_CHECKBUTTON, button.idCommand, MAKELONG(status.checked, 0));
    }
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
    HICON previous = reinterpret_cast<HICON>(SendMessageA(status_, SB_GETICON, 2, 0));
    SendMessageA(status_, SB_SETICON, 2, reinterpret_cast<LPARAM>(icon));
    if (previous) DestroyIcon(previous);
    statusFolder_ = folder;
    ShowStatusFolder();
}

// ---------------------------------------------------------------------------
// Tree pane

void ExplorerWindow::OnTreeHidden(bool hidden) {
    WaitCursor wait;
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
            // Dragging entries out comes with the clipboard and drag commands.
            return 0;
        case LVN_ITEMCHANGED:
            SetTimer(window_, TESVIEW_STATUS_TIMER, 1, nullptr);
            return 0;
        case NM_DBLCLK:
            OnCommand(CMD_OPEN_ENTRY);
            return 0;
        default:
            view_.HandleNotify(header, &result);
            return result;
        }
    }
    if (header->hwndFrom == tree_.Window()) {
        if (header->code == TVN_BEGINDRAGA || header->code == TVN_BEGINDRAGW) return 0;
        tree_.HandleNotify(header, &result);
        // A new tree folder has refilled the list.
        if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) ViewChanged();
        return result;
    }
    if (header->hwndFrom == toolbar_) {
        switch (header->code) {
        case TBN_DROPDOWN:
            ShowHistoryMenu(static_cast<UINT>(reinterpret_cast<NMTOOLBARA*>(header)->iItem));
            return TBDDRET_DEFAULT;
        case TBN_QUERYINSERT:
        case TBN_QUERYDELETE:
            return TRUE;
        case TBN_GETBUTTONINFOA: {
            auto* info = reinterpret_cast<NMTOOLBARA*>(header);
            if (info->iItem < 0 || info->iItem >= kToolbarButtonCount) return FALSE;
            info->tbButton = kButtons[info->iItem];
            const std::string label = ButtonLabel(info->iItem);
            if (info->pszText && info->cchText > 0) lstrcpynA(info->pszText, label.c_str(), info->cchText);
            return TRUE;
        }
        case TBN_GETBUTTONINFOW: {
            auto* info = reinterpret_cast<NMTOOLBARW*>(header);
            if (info->iItem < 0 || info->iItem >= kToolbarButtonCount) return FALSE;
            info->tbButton = kButtons[info->iItem];
            const std::string label = ButtonLabel(info->iItem);
            if (info->pszText && info->cchText > 0) {
                MultiByteToWideChar(CP_ACP, 0, label.c_str(), -1, info->pszText, info->cchText);
                info->pszText[info->cchText - 1] = 0;
            }
            return TRUE;
        }
        case TBN_RESTORE: {
            auto* restore = reinterpret_cast<NMTBRESTORE*>(header);
            if (restore->iItem < 0) return 0;  // the header: go on restoring
            const TBBUTTON* button = ButtonOfCommand(restore->tbButton.idCommand);
            if (button) restore->tbButton = *button;
            else if (restore->tbButton.idCommand == 0) restore->tbButton = kSeparator;
            return 0;
        }
        case TBN_RESET:
            ResetToolbar();
            return 0;
        case TBN_TOOLBARCHANGE:
            UpdateToolbarStates();
            return 0;
        case TBN_INITCUSTOMIZE:
            return TBNRF_HIDEHELP;
        default:
            break;
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
    HMENU menus = nullptr;
    HMENU popup = nullptr;
    if (onItem) {
        menus = LoadMenuA(App().instance, MAKEINTRESOURCEA(IDR_CONTEXT_MENUS));
        popup = menus ? GetSubMenu(menus, 0) : nullptr;
        if (popup) SetMenuDefaultItem(popup, CMD_OPEN_ENTRY, FALSE);
    } else if (GetMenu(window_)) {
        popup = GetSubMenu(GetMenu(window_), 4);
    }
    if (popup) TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, window_, nullptr);
    if (menus) DestroyMenu(menus);
}

void ExplorerWindow::ShowHistoryMenu(UINT command) {
    std::vector<ArchiveHistory::Position> nodes =
        command == CMD_BACK ? history_.BackList(10) : history_.ForwardList(10);
    if (nodes.empty()) return;
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    for (size_t index = 0; index < nodes.size(); ++index) {
        char text[MAX_PATH + 16];
        snprintf(text, sizeof text, "&%i %s", static_cast<int>(index + 1), FilePart(nodes[index]->path).c_str());
        AppendMenuA(menu, MF_STRING, index + 1, text);
    }
    RECT rect = {};
    SendMessageA(toolbar_, TB_GETRECT, command, reinterpret_cast<LPARAM>(&rect));
    MapWindowPoints(toolbar_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    int chosen = TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY, rect.left,
                                rect.bottom, 0, window_, nullptr);
    DestroyMenu(menu);
    if (chosen > 0 && static_cast<size_t>(chosen) <= nodes.size()) {
        OpenArchive(history_.Select(nodes[chosen - 1]), true);
    }
}

// ---------------------------------------------------------------------------
// Commands

void ExplorerWindow::CommandHook(UINT command) {
    // The archive commands run modally; the host lives as long as one.
    WindowCommandHost host(*this);
    switch (command) {
    case CMD_EXTRACT:
        tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_ALL, nullptr);
        break;
    case CMD_EXTRACT_SELECTED:
        tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr);
        break;
    case CMD_EXTRACT_FOLDER:
        tescommands::ExtractCommand(host, TESCMD_IDC_SCOPE_FOLDER, tree_.CommandFolder());
        break;
    case CMD_DELETE_FILES:
        tescommands::DeleteCommand(host, TESCMD_IDC_SCOPE_SELECTED, nullptr);
        break;
    case CMD_DELETE_FOLDER:
        tescommands::DeleteCommand(host, TESCMD_IDC_SCOPE_FOLDER, tree_.CommandFolder());
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
    case CMD_VIEW_OUTPUT:
        ShowOutputWindow();
        break;
    default:
        // Archive-file commands, viewing, clipboard, self-extractors,
        // properties, printing, mail and options are not part of the
        // program yet: they keep their enabled state and do nothing.
        break;
    }
    UpdateToolbarStates();
}

void ExplorerWindow::StartAddCommand(HDROP files) {
    std::vector<std::string> names;
    if (const auto* block = static_cast<const DROPFILES*>(GlobalLock(files))) {
        names = tescommands::DroppedPaths(block);
        GlobalUnlock(files);
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

void ExplorerWindow::HandleDroppedFiles(const std::vector<std::string>& names) {
    if (names.empty()) return;
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

std::string ExplorerWindow::OpenDialogFilter() {
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

void ExplorerWindow::ShowOpenDialog() {
    std::string filter = OpenDialogFilter();
    std::replace(filter.begin(), filter.end(), '|', '\0');
    filter.push_back('\0');
    std::string title = LoadText(IDS_OPEN_TITLE);
    char folder[MAX_PATH] = "";
    GetProfileString(kSettings, "OpenDir", folder);
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
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
    OpenArchive(chosen, true);
}

namespace {

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CenterDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

void ExplorerWindow::ShowAbout() {
    DialogBoxParamA(App().instance, MAKEINTRESOURCEA(IDD_ABOUT), window_, AboutProcedure, 0);
}

void ExplorerWindow::OnCommand(UINT command) {
    bool checked = false;
    // Accelerators reach commands the menus would show disabled.
    if (command != CMD_EXIT && command != CMD_CLOSE_ARCHIVE &&
        !CommandState(command, false, ArchiveFileExists(), &checked)) {
        return;
    }
    if (view_.HandleCommand(window_, command)) {
        // Selections and sorting change what is shown: paint the list now
        // (a dialog may just have closed over it) and follow with the
        // status bar and the command states.
        RedrawWindow(view_.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ViewChanged();
        return;
    }
    switch (command) {
    case CMD_OPEN_ARCHIVE:
        ShowOpenDialog();
        break;
    case CMD_CLOSE_ARCHIVE:
        CloseArchive(true, true);
        break;
    case CMD_EXIT:
        SendMessageA(window_, WM_CLOSE, 0, 0);
        break;
    case CMD_ALWAYS_ON_TOP:
        App().settings.alwaysOnTop = !App().settings.alwaysOnTop;
        ApplyAlwaysOnTop();
        break;
    case CMD_HELP_ON_HELP:
        WinHelpA(window_, nullptr, HELP_HELPONHELP, 0);
        break;
    case CMD_WEB_PAGE:
        ShellExecuteA(window_, "open", "https://www.quellsoft.example/tessera/", nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case CMD_FEEDBACK:
        ShellExecuteA(window_, "open", "mailto:tessera@quellsoft.example", nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case CMD_ABOUT:
        ShowAbout();
        break;
    case CMD_FONT:
        font_.Choose(window_, App().instance, &App().settings.defaultFont);
        UpdateToolbarStates();
        break;
    case CMD_DEFAULT_FONT:
        font_.ToggleDefault(window_, App().instance, &App().settings.defaultFont);
        UpdateToolbarStates();
        break;
    case CMD_FOLDER_TREE:
        SendMessageA(window_, WM_TREE_HIDDEN, noTree_ ? 0 : 1, 0);
        break;
    case CMD_UP_FOLDER:
        tree_.SelectParent();
        UpdateToolbarStates();
        break;
    case CMD_BACK: {
        std::string path = history_.GoBack();
        if (!path.empty()) OpenArchive(path, true);
        break;
    }
    case CMD_FORWARD: {
        std::string path = history_.GoForward();
        if (!path.empty()) OpenArchive(path, true);
        break;
    }
    case CMD_CUSTOMIZE_TOOLBAR:
        SendMessageA(toolbar_, TB_CUSTOMIZE, 0, 0);
        UpdateToolbarStates();
        break;
    case CMD_RESET_TOOLBAR:
        ResetToolbar();
        break;
    case CMD_ARCHIVES_OPENED:
        ShowMessage(window_, IDS_ARCHIVES_OPENED, MB_ICONINFORMATION, static_cast<int>(App().settings.archivesOpened));
        break;
    case CMD_BROWSE_ARCHIVES:
        // The Browse Archives window (a new SearchWindow each time) plugs in
        // here; it is not part of the program yet.
        break;
    default:
        if (command >= CMD_RECENT_FIRST && command <= CMD_RECENT_LAST) {
            std::string path = recent_.Slot(static_cast<int>(command - CMD_RECENT_FIRST));
            if (!path.empty()) OpenArchive(path, true);
            break;
        }
        CommandHook(command);
        break;
    }
}

}  // namespace tessera
