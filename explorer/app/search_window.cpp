#include "search_window.h"

#include "content_view.h"
#include "explorer_window.h"
#include "file_transfer.h"
#include "options_dialog.h"
#include "properties.h"
#include "resource_ids.h"
#include "temp_files.h"
#include "window_commands.h"
#include "wildcard.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>

namespace tessera {

namespace {

const char kSearch[] = "Search";
constexpr int kColumns = 5;
constexpr int kDefaultWidths[kColumns] = {180, 180, 120, 120, 180};
enum { kColumnName, kColumnArchive, kColumnType, kColumnTime, kColumnPath };
// The worker has ended; the window closes its handle.
constexpr UINT WM_SEARCH_FINISHED = WM_APP + 1;
// Folders deeper than this are not entered (paths end at MAX_PATH anyway).
constexpr int kMaximumDepth = 128;

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

namespace {

// Found entries open, view, drag and show properties through the archive
// record's own object; its operations run without a window's frame.
tescommands::TempContext FoundEntryContext(FoundArchive* found) {
    tescommands::TempContext context;
    context.owner = found->owner;
    context.resources = App().instance;
    context.archive = found->archive.get();
    return context;
}

}  // namespace

void FoundArchive::Release() {
    if (InterlockedDecrement(&references) != 0) return;
    // Only an archive whose entries were opened has temporary files, and
    // that happens on the window's thread.
    if (tescommands::TempFileTracker::Of(archive.get())) {
        tescommands::CloseTemporaryFiles(FoundEntryContext(this), CommandSettings(), false);
        tescommands::TempFileTracker::Detach(archive.get());
    }
    delete this;
}

bool HasExeExtension(const std::string& path) {
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of(" /\\", dot) != std::string::npos) return false;
    return lstrcmpiA(path.c_str() + dot, ".exe") == 0;
}

bool EntryMatches(const SearchCriteria& criteria, const HDRSTRUCT& entry, const std::string& displayPath) {
    if (criteria.onlyEncrypted && entry.flags == 0) return false;
    if (!criteria.nameMask.empty() || !criteria.pathMask.empty()) {
        size_t slash = displayPath.find_last_of("/\\");
        std::string name = slash == std::string::npos ? displayPath : displayPath.substr(slash + 1);
        std::string folder = slash == std::string::npos ? std::string() : displayPath.substr(0, slash + 1);
        if (!criteria.nameMask.empty() && !tesview::WildcardMatch(name.c_str(), criteria.nameMask.c_str(), true)) {
            return false;
        }
        if (!criteria.pathMask.empty()) {
            // In a path a backslash separates folders; the matcher would take
            // it as an escape, so it is escaped itself. "docs" names the
            // folder as well as "docs\" does.
            std::string mask;
            for (char c : criteria.pathMask) {
                if (c == '\\') mask += '\\';
                mask += c;
            }
            std::string bare = folder.empty() ? folder : folder.substr(0, folder.size() - 1);
            if (!tesview::WildcardMatch(folder.c_str(), mask.c_str(), true) &&
                !(!bare.empty() && tesview::WildcardMatch(bare.c_str(), mask.c_str(), true))) {
                return false;
            }
        }
    }
    if (criteria.beforeSet && CompareFileTime(&entry.time, &criteria.before) >= 0) return false;
    if (criteria.afterSet && CompareFileTime(&entry.time, &criteria.after) <= 0) return false;
    return true;
}

// --- ArchiveSearch ---

// The engine's prompts on the worker thread: no dialog, the text kept for
// the status line, every question answered with its safe choice.
struct SearchPrompts {
    static int CALLBACK Message(void* context, HWND, LPCSTR text, LPCSTR, UINT style) {
        auto* search = static_cast<ArchiveSearch*>(context);
        if (text && search->lastMessage_.empty()) {
            search->lastMessage_ = text;
            std::replace(search->lastMessage_.begin(), search->lastMessage_.end(), '\n', ' ');
            std::replace(search->lastMessage_.begin(), search->lastMessage_.end(), '\r', ' ');
        }
        switch (style & MB_TYPEMASK) {
        case MB_OK:
            return IDOK;
        case MB_YESNO:
            return IDNO;
        default:
            return IDCANCEL;
        }
    }
    static int CALLBACK Overwrite(void*, HWND, ARCOVERWRITEPROMPT*) { return OVERWRITE_RESULT_CANCEL; }
    static int CALLBACK Password(void*, HWND, LPCSTR, BOOL, LPSTR) { return PASSWORD_RESULT_CANCEL; }
    static int CALLBACK Rename(void*, HWND, LPCSTR, LPSTR) { return RENAME_RESULT_CANCEL; }
    static BOOL CALLBACK Shift(void*) { return FALSE; }
};

ArchiveSearch::ArchiveSearch(SearchCriteria criteria) : criteria_(std::move(criteria)) {
    InitializeCriticalSection(&lock_);
}

ArchiveSearch::~ArchiveSearch() { DeleteCriticalSection(&lock_); }

void ArchiveSearch::Stop() {
    stopped_.store(true);
    EnterCriticalSection(&lock_);
    if (current_) current_->Cancel();
    LeaveCriticalSection(&lock_);
}

void ArchiveSearch::Run(SearchSink& sink) {
    const ARCPROMPTHANDLER prompts = {this,
                                      SearchPrompts::Message,
                                      SearchPrompts::Overwrite,
                                      SearchPrompts::Password,
                                      SearchPrompts::Rename,
                                      SearchPrompts::Shift,
                                      ARCPROMPT_NOSTATUSDIALOG};
    const ARCPROMPTHANDLER* previous = ArcSetThreadPromptHandler(&prompts);
    visited_.clear();
    for (const std::string& folder : criteria_.startFolders) {
        if (Stopped()) break;
        Walk(folder, sink, 0);
    }
    ArcSetThreadPromptHandler(previous);
}

bool ArchiveSearch::MarkVisited(const std::string& folder) {
    win32::FileHandle handle(CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    // A folder that cannot be identified is walked; the depth limit bounds it.
    if (!handle || !GetFileInformationByHandle(handle.get(), &information)) return true;
    const std::pair<DWORD, ULONGLONG> id(
        information.dwVolumeSerialNumber,
        (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow);
    return visited_.insert(id).second;
}

void ArchiveSearch::Walk(const std::string& folder, SearchSink& sink, int depth) {
    if (Stopped() || depth > kMaximumDepth || !MarkVisited(folder)) return;
    sink.FolderEntered(folder);
    std::vector<std::string> files, folders;
    WIN32_FIND_DATAA found;
    win32::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find) return;
    do {
        if (Stopped()) return;
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) continue;
        std::string path = folder + "\\" + found.cFileName;
        if (path.size() >= MAX_PATH) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Junctions and symbolic links are never entered.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) folders.push_back(path);
        } else {
            files.push_back(path);
        }
    } while (FindNextFileA(find.get(), &found));
    find.reset();
    auto byName = [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    for (const std::string& path : files) {
        if (Stopped()) return;
        Visit(path, sink);
    }
    if (!criteria_.subFolders) return;
    for (const std::string& path : folders) {
        if (Stopped()) return;
        Walk(path, sink, depth + 1);
    }
}

void ArchiveSearch::Visit(const std::string& path, SearchSink& sink) {
    if (!criteria_.includeExe && HasExeExtension(path)) return;
    lastMessage_.clear();
    ICompressFormat* object = nullptr;
    if (FAILED(ArcCreateObject(nullptr, path.c_str(), &object)) || !object) return;  // not an archive
    auto* record = new FoundArchive;
    record->archive = win32::ComPtr<ICompressFormat>(object);
    record->path = path;
    record->owner = criteria_.owner;
    object->SetStatusCallback(nullptr);
    sink.ArchiveEntered(path);

    EnterCriticalSection(&lock_);
    current_ = object;
    LeaveCriticalSection(&lock_);
    HRESULT listed = Stopped() ? E_ABORT : object->List(nullptr);
    EnterCriticalSection(&lock_);
    current_ = nullptr;
    LeaveCriticalSection(&lock_);

    if (FAILED(listed)) {
        if (listed != E_ABORT && !Stopped()) sink.ArchiveSkipped(path, lastMessage_);
    } else {
        const DWORD count = object->GetEntryCount();
        const HDRSTRUCT* entries = object->GetEntries();
        for (DWORD index = 0; entries && index < count && !Stopped(); ++index) {
            const HDRSTRUCT& entry = entries[index];
            if (criteria_.onlyEncrypted && entry.flags == 0) continue;
            std::string displayPath = tesview::DisplayPath(object, entry);
            if (!EntryMatches(criteria_, entry, displayPath)) continue;
            record->AddReference();
            sink.EntryFound(new FoundEntry{record, index, displayPath, entry.time,
                                           entry.comment ? entry.comment : ""});
        }
        sink.ArchiveLeft();
    }
    record->Release();
}

// --- SearchWindow ---

SearchWindow::SearchWindow() = default;

SearchWindow::~SearchWindow() {
    if (search_) search_->Stop();
    if (worker_) WaitForSingleObject(worker_.get(), INFINITE);
}

bool SearchWindow::Create(HWND) {
    if (!CreateModeless(App().instance, IDD_SEARCH, nullptr)) return false;
    App().windows.Add(this, kSearchWindow);
    listed_ = true;
    return true;
}

bool SearchWindow::PreTranslateMessage(MSG* message) {
    HWND dialog = Handle();
    if (!dialog || (message->hwnd != dialog && !IsChild(dialog, message->hwnd))) return false;
    return IsDialogMessageA(dialog, message) != 0;
}

void SearchWindow::Show() {
    ShowWindow(Handle(), SW_SHOWNORMAL);
    UpdateWindow(Handle());
}

LRESULT SearchWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The dialog procedure serves the window; this is never its procedure.
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL SearchWindow::OnInitDialog() {
    HWND dialog = Handle();
    HICON icon = LoadIconA(App().instance, MAKEINTRESOURCEA(IDI_TESSERA));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    RECT client;
    GetClientRect(dialog, &client);
    collapsedClientHeight_ = client.bottom;

    SendDlgItemMessageA(dialog, IDC_SEARCH_NAME, EM_LIMITTEXT, MAX_PATH - 1, 0);
    SendDlgItemMessageA(dialog, IDC_SEARCH_PATH, EM_LIMITTEXT, MAX_PATH - 1, 0);
    DWORD subFolders = 1, includeExe = 0;
    GetProfileInt(kSearch, "SubFolders", &subFolders);
    GetProfileInt(kSearch, "IncludeEXE", &includeExe);
    Check(IDC_SEARCH_SUBFOLDERS, subFolders != 0);
    Check(IDC_SEARCH_INCLUDE_EXE, includeExe != 0);
    SetStartFolder(std::string());
    CreateDatePickers();
    CreateLowerPart();

    RECT frame;
    GetWindowRect(dialog, &frame);
    DWORD width = static_cast<DWORD>(frame.right - frame.left);
    GetProfileInt(kSearch, "WindowWidth", &width);
    int shownWidth = std::max(static_cast<int>(width), kMinimumWidth);
    SetWindowPos(dialog, App().settings.alwaysOnTop ? HWND_TOPMOST : nullptr, 0, 0, shownWidth, kCollapsedHeight,
                 SWP_NOMOVE | SWP_NOACTIVATE | (App().settings.alwaysOnTop ? 0 : SWP_NOZORDER));
    UpdateStartButton();
    return TRUE;
}

void SearchWindow::CreateDatePickers() {
    HWND dialog = Handle();
    auto make = [&](int id, int label, int top) -> HWND {
        RECT rect = {72, top, 72 + 110, top + 12};
        MapDialogRect(dialog, &rect);
        HWND picker = CreateWindowExA(0, DATETIMEPICK_CLASSA, "",
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | DTS_SHORTDATEFORMAT | DTS_SHOWNONE,
                                      rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, dialog,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), App().instance, nullptr);
        if (!picker) {
            Enable(label, false);
            return nullptr;
        }
        SendMessageA(picker, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
        SendMessageA(picker, DTM_SETSYSTEMTIME, GDT_NONE, 0);
        // In the tab order right after its label.
        SetWindowPos(picker, Item(label), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return picker;
    };
    before_ = make(IDC_SEARCH_BEFORE, IDC_SEARCH_BEFORE_LABEL, 83);
    after_ = make(IDC_SEARCH_AFTER, IDC_SEARCH_AFTER_LABEL, 99);
}

void SearchWindow::CreateLowerPart() {
    HWND dialog = Handle();
    results_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                               WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS, 0, 0,
                               0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SEARCH_RESULTS)),
                               App().instance, nullptr);
    status_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | SBARS_SIZEGRIP, 0, 0, 0, 0, dialog,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SEARCH_STATUS)), App().instance,
                              nullptr);
    if (!results_) return;
    ListView_SetExtendedListViewStyle(results_, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_INFOTIP);
    SHFILEINFOA information = {};
    auto images = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
        "file", FILE_ATTRIBUTE_NORMAL, &information, sizeof information,
        SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (images) ListView_SetImageList(results_, images, LVSIL_SMALL);

    INT32 widths[kColumns], order[kColumns];
    for (int column = 0; column < kColumns; ++column) {
        widths[column] = kDefaultWidths[column];
        order[column] = column;
    }
    DWORD size = sizeof widths;
    INT32 saved[kColumns];
    if (GetProfileBinary(kSearch, "ColumnWidth", saved, &size) && size == sizeof saved) {
        std::copy(saved, saved + kColumns, widths);
    }
    size = sizeof saved;
    if (GetProfileBinary(kSearch, "ColumnOrder", saved, &size) && size == sizeof saved) {
        // Only a permutation of the columns is taken.
        bool seen[kColumns] = {};
        bool valid = true;
        for (int value : saved) {
            if (value < 0 || value >= kColumns || seen[value]) valid = false;
            else seen[value] = true;
        }
        if (valid) std::copy(saved, saved + kColumns, order);
    }
    std::string labels = LoadText(IDS_SEARCH_COLUMNS);
    size_t start = 0;
    for (int column = 0; column < kColumns; ++column) {
        size_t bar = labels.find('|', start);
        std::string label = labels.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        start = bar == std::string::npos ? labels.size() : bar + 1;
        LVCOLUMNA item = {};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        item.fmt = LVCFMT_LEFT;
        item.cx = std::max(0, static_cast<int>(widths[column]));
        item.pszText = &label[0];
        item.iSubItem = column;
        ListView_InsertColumn(results_, column, &item);
    }
    int intOrder[kColumns];
    std::copy(order, order + kColumns, intOrder);
    ListView_SetColumnOrderArray(results_, kColumns, intOrder);
    if (status_) {
        int parts[2] = {kMinimumWidth / 2, -1};
        SendMessageA(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    }
}

void SearchWindow::SetStartFolder(const std::string& path) {
    startFolder_ = path;
    std::string shown = path;
    if (shown.empty()) {
        // The computer folder that holds every drive.
        LPITEMIDLIST drives = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives)) && drives) {
            win32::TaskMemory<ITEMIDLIST> owned(drives);
            SHFILEINFOA information = {};
            if (SHGetFileInfoA(reinterpret_cast<LPCSTR>(drives), 0, &information, sizeof information,
                               SHGFI_PIDL | SHGFI_DISPLAYNAME)) {
                shown = information.szDisplayName;
            }
        }
    }
    SetText(IDC_SEARCH_FOLDER, shown);
}

void SearchWindow::BrowseForStartFolder() {
    std::string title = LoadText(IDS_SEARCH_FOLDER_TITLE);
    char display[MAX_PATH] = "";
    BROWSEINFOA browse = {};
    browse.hwndOwner = Handle();
    browse.pszDisplayName = display;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (!chosen) return;
    win32::TaskMemory<ITEMIDLIST> owned(chosen);
    char path[MAX_PATH] = "";
    if (SHGetPathFromIDListA(chosen, path) && path[0]) {
        std::string folder = path;
        while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
        if (folder.size() == 3 && folder.back() == '\\') folder.pop_back();  // "C:\" walks as "C:"
        SetStartFolder(folder);
        if (folder.size() == 2) SetText(IDC_SEARCH_FOLDER, folder + "\\");
    } else {
        SetStartFolder(std::string());
    }
}

void SearchWindow::UpdateStartButton() {
    auto pickerSet = [](HWND picker) {
        SYSTEMTIME time;
        return picker && SendMessageA(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time)) == GDT_VALID;
    };
    const bool criterion = GetWindowTextLengthA(Item(IDC_SEARCH_NAME)) > 0 ||
                           GetWindowTextLengthA(Item(IDC_SEARCH_PATH)) > 0 || pickerSet(before_) ||
                           pickerSet(after_) || Checked(IDC_SEARCH_ENCRYPTED);
    Enable(IDOK, criterion && !searching_.load() && !worker_);
}

void SearchWindow::SetStatus(int part, const std::string& text) {
    if (status_) SendMessageA(status_, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text.c_str()));
}

void SearchWindow::Expand(bool expand) {
    if (expand == expanded_) return;
    HWND dialog = Handle();
    RECT frame;
    GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left;
    if (expand) {
        DWORD extra = 0;
        GetProfileInt(kSearch, "ExpandedHeight", &extra);
        expanded_ = true;
        const int height = std::max(kCollapsedHeight + static_cast<int>(std::min<DWORD>(extra, 4096)),
                                    kMinimumExpandedHeight);
        SetWindowPos(dialog, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(results_, SW_SHOW);
        ShowWindow(status_, SW_SHOW);
    } else {
        if (!IsIconic(dialog) && !IsZoomed(dialog)) {
            PutProfileInt(kSearch, "ExpandedHeight",
                          static_cast<DWORD>(std::max(0, static_cast<int>(frame.bottom - frame.top) - kCollapsedHeight)));
        }
        expanded_ = false;
        ShowWindow(results_, SW_HIDE);
        ShowWindow(status_, SW_HIDE);
        SetWindowPos(dialog, nullptr, 0, 0, width, kCollapsedHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout();
}

void SearchWindow::Layout() {
    HWND dialog = Handle();
    RECT client;
    GetClientRect(dialog, &client);
    // The buttons keep to the right edge; the two text fields grow with it.
    RECT button = {316, 7, 316 + 53, 7};
    MapDialogRect(dialog, &button);
    const int margin = static_cast<int>(button.top);
    const int buttonLeft = std::max(static_cast<int>(client.right - (button.right - button.left)) - margin,
                                    static_cast<int>(button.left));
    for (int id : {IDOK, IDC_SEARCH_STOP, IDC_SEARCH_NEW_SEARCH}) {
        HWND item = Item(id);
        RECT rect;
        GetWindowRect(item, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        SetWindowPos(item, nullptr, buttonLeft, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (int id : {IDC_SEARCH_NAME, IDC_SEARCH_PATH}) {
        HWND item = Item(id);
        RECT rect;
        GetWindowRect(item, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        SetWindowPos(item, nullptr, 0, 0, std::max(50, buttonLeft - margin - static_cast<int>(rect.left)),
                     rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!expanded_ || !results_ || !status_) return;
    SendMessageA(status_, WM_SIZE, 0, 0);
    RECT bar;
    GetWindowRect(status_, &bar);
    const int barHeight = bar.bottom - bar.top;
    int parts[2] = {std::max(100, static_cast<int>(client.right) / 2), -1};
    SendMessageA(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    const int top = collapsedClientHeight_;
    SetWindowPos(results_, nullptr, 0, top, client.right, std::max(0, static_cast<int>(client.bottom) - top - barHeight),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void SearchWindow::StartSearch() {
    if (searching_.load() || worker_) return;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (!expanded_) Expand(true);

    SearchCriteria criteria;
    criteria.owner = Handle();
    if (!startFolder_.empty()) {
        criteria.startFolders.push_back(startFolder_);
    } else {
        char drives[512] = "";
        DWORD length = GetLogicalDriveStringsA(sizeof drives, drives);
        for (const char* drive = drives; length && length < sizeof drives && *drive; drive += strlen(drive) + 1) {
            UINT type = GetDriveTypeA(drive);
            if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) continue;
            std::string root = drive;
            if (!root.empty() && root.back() == '\\') root.pop_back();
            criteria.startFolders.push_back(root);
        }
    }
    criteria.subFolders = Checked(IDC_SEARCH_SUBFOLDERS);
    criteria.includeExe = Checked(IDC_SEARCH_INCLUDE_EXE);
    criteria.nameMask = Text(IDC_SEARCH_NAME).substr(0, MAX_PATH - 1);
    criteria.pathMask = Text(IDC_SEARCH_PATH).substr(0, MAX_PATH - 1);
    criteria.onlyEncrypted = Checked(IDC_SEARCH_ENCRYPTED);
    // The pickers choose days: "before" a day keeps what is older than its
    // first moment, "after" a day what is newer than its last.
    auto day = [](HWND picker, bool end, FILETIME* time) {
        SYSTEMTIME chosen;
        if (!picker || SendMessageA(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&chosen)) != GDT_VALID) {
            return false;
        }
        chosen.wHour = chosen.wMinute = chosen.wSecond = chosen.wMilliseconds = 0;
        if (!SystemTimeToFileTime(&chosen, time)) return false;
        if (end) {
            ULARGE_INTEGER value = {{time->dwLowDateTime, time->dwHighDateTime}};
            value.QuadPart += 24ULL * 60 * 60 * 10000000 - 1;
            time->dwLowDateTime = value.LowPart;
            time->dwHighDateTime = value.HighPart;
        }
        return true;
    };
    criteria.beforeSet = day(before_, false, &criteria.before);
    criteria.afterSet = day(after_, true, &criteria.after);
    ClearResults();
    skipped_ = 0;

    search_ = std::make_unique<ArchiveSearch>(std::move(criteria));
    searching_.store(true);
    Enable(IDOK, false);
    Enable(IDC_SEARCH_BROWSE, false);
    Enable(IDC_SEARCH_STOP, true);
    SetStatus(0, LoadText(IDS_SEARCH_INITIALIZING));
    SetStatus(1, LoadText(IDS_SEARCH_SEARCHING));
    DWORD id = 0;
    worker_.reset(CreateThread(nullptr, 0, WorkerMain, this, CREATE_SUSPENDED, &id));
    if (!worker_) {
        searching_.store(false);
        search_.reset();
        FinishSearch();
    } else {
        // Below the window's thread, so that painting and Stop stay prompt
        // while the worker reads and decodes.
        SetThreadPriority(worker_.get(), THREAD_PRIORITY_BELOW_NORMAL);
        ResumeThread(worker_.get());
    }
    SetCursor(previous);
}

DWORD WINAPI SearchWindow::WorkerMain(void* parameter) {
    auto* self = static_cast<SearchWindow*>(parameter);
    self->search_->Run(*self);
    self->searching_.store(false);
    PostMessageA(self->Handle(), WM_SEARCH_FINISHED, 0, 0);
    return 0;
}

void SearchWindow::FinishSearch() {
    searching_.store(false);
    if (worker_) {
        WaitForSingleObject(worker_.get(), INFINITE);
        worker_.reset();
    }
    search_.reset();
    SetStatus(0, FormatText(IDS_SEARCH_FOUND, results_ ? ListView_GetItemCount(results_) : 0));
    SetStatus(1, skipped_ ? FormatText(IDS_SEARCH_SKIPPED_COUNT, skipped_) : std::string());
    Enable(IDC_SEARCH_STOP, false);
    Enable(IDC_SEARCH_BROWSE, true);
    UpdateStartButton();
}

void SearchWindow::StopSearch() {
    searching_.store(false);
    if (search_) search_->Stop();
    Enable(IDC_SEARCH_STOP, false);
}

void SearchWindow::WaitForWorker() {
    // The worker talks to the list and the status bar by sent messages:
    // serve them while waiting.
    while (worker_) {
        HANDLE handle = worker_.get();
        DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, 1, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (message.hwnd == Handle() && message.message == WM_SEARCH_FINISHED) continue;
            // No input while waiting: a second New search or a close would
            // wait inside this one.
            if ((message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
                (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) ||
                (message.message >= WM_NCMOUSEMOVE && message.message <= WM_NCMBUTTONDBLCLK)) {
                continue;
            }
            if (App().windows.PreTranslate(&message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (worker_) FinishSearch();
}

void SearchWindow::NewSearch() {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SetText(IDC_SEARCH_NAME, "");
    SetText(IDC_SEARCH_PATH, "");
    if (before_) SendMessageA(before_, DTM_SETSYSTEMTIME, GDT_NONE, 0);
    if (after_) SendMessageA(after_, DTM_SETSYSTEMTIME, GDT_NONE, 0);
    Check(IDC_SEARCH_ENCRYPTED, false);
    if (expanded_) Expand(false);
    StopSearch();
    WaitForWorker();
    UpdateStartButton();
    ClearResults();
    SetStatus(0, "");
    SetStatus(1, "");
    SetCursor(previous);
}

void SearchWindow::ClearResults() {
    if (results_) ListView_DeleteAllItems(results_);
}

void SearchWindow::ReleaseRow(FoundEntry* row) {
    if (!row) return;
    row->archive->Release();
    delete row;
}

const FoundEntry* SearchWindow::Row(int item) const {
    LVITEMA query = {};
    query.mask = LVIF_PARAM;
    query.iItem = item;
    if (!results_ || !ListView_GetItem(results_, &query)) return nullptr;
    return reinterpret_cast<const FoundEntry*>(query.lParam);
}

std::vector<int> SearchWindow::SelectedItems() const {
    std::vector<int> items;
    for (int item = -1; results_ && (item = ListView_GetNextItem(results_, item, LVNI_SELECTED)) >= 0;) {
        items.push_back(item);
    }
    return items;
}

// --- worker reports (worker thread; sent messages reach the window's thread) ---

void SearchWindow::FolderEntered(const std::string& folder) { SetStatus(0, folder); }

void SearchWindow::ArchiveEntered(const std::string& path) { SetStatus(1, NameOf(path)); }

void SearchWindow::ArchiveLeft() { SetStatus(1, LoadText(IDS_SEARCH_SEARCHING)); }

void SearchWindow::ArchiveSkipped(const std::string& path, const std::string& reason) {
    InterlockedIncrement(&skipped_);
    SetStatus(1, FormatText(IDS_SEARCH_SKIPPED, NameOf(path).c_str(), reason.c_str()));
}

void SearchWindow::EntryFound(FoundEntry* entry) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = results_ ? ListView_GetItemCount(results_) : 0;
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.iImage = I_IMAGECALLBACK;
    item.lParam = reinterpret_cast<LPARAM>(entry);
    if (!results_ || ListView_InsertItem(results_, &item) < 0) ReleaseRow(entry);
}

// --- sorting ---

namespace {

struct SortContext {
    int column;
    bool ascending;
};

std::string ColumnText(const FoundEntry& row, int column) {
    switch (column) {
    case kColumnName:
        return tesview::LastComponent(row.displayPath);
    case kColumnArchive:
        return row.archive->path;
    case kColumnType:
        return tesview::ShellTypeName(tesview::LastComponent(row.displayPath));
    case kColumnTime:
        return tesview::FormatEntryTime(row.time);
    case kColumnPath:
        return tesview::FolderPart(row.displayPath);
    }
    return std::string();
}

int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM parameter) {
    const auto& context = *reinterpret_cast<const SortContext*>(parameter);
    const auto& a = *reinterpret_cast<const FoundEntry*>(first);
    const auto& b = *reinterpret_cast<const FoundEntry*>(second);
    int order = context.column == kColumnTime
                    ? CompareFileTime(&a.time, &b.time)
                    : lstrcmpiA(ColumnText(a, context.column).c_str(), ColumnText(b, context.column).c_str());
    if (order == 0) order = a.index < b.index ? -1 : a.index > b.index ? 1 : 0;
    return context.ascending ? order : -order;
}

}  // namespace

void SearchWindow::SortBy(int column) {
    if (!results_ || column < 0 || column >= kColumns) return;
    sortAscending_ = column == sortColumn_ ? !sortAscending_ : true;
    sortColumn_ = column;
    SortContext context = {column, sortAscending_};
    ListView_SortItems(results_, CompareRows, reinterpret_cast<LPARAM>(&context));
}

// --- commands ---

void SearchWindow::OpenFoundArchive() {
    std::vector<int> items = SelectedItems();
    if (items.empty()) {
        int focused = results_ ? ListView_GetNextItem(results_, -1, LVNI_FOCUSED) : -1;
        if (focused < 0) return;
        items.push_back(focused);
    }
    const FoundEntry* row = Row(items.front());
    if (!row) return;
    std::string path = row->archive->path;
    auto* window = static_cast<ExplorerWindow*>(App().windows.FindOrCreate(kExplorerWindow));
    if (!window) return;
    window->OpenArchive(path, true);
    window->Show();
    SetForegroundWindow(window->Window());
}

const FoundEntry* SearchWindow::CommandRow() const {
    if (!results_) return nullptr;
    int item = ListView_GetNextItem(results_, -1, LVNI_FOCUSED);
    if (item < 0 || !(ListView_GetItemState(results_, item, LVIS_SELECTED) & LVIS_SELECTED)) {
        item = ListView_GetNextItem(results_, -1, LVNI_SELECTED);
    }
    return item < 0 ? nullptr : Row(item);
}

void SearchWindow::ShowFoundEntryProperties(const FoundEntry& row) {
    FoundArchive* found = row.archive;
    ICompressFormat* archive = found->archive.get();
    const DWORD countBefore = archive->GetEntryCount();
    if (!tescommands::ShowEntryProperties(FoundEntryContext(found), CommandSettings(), row.index)) return;
    // The archive changed: list it again; when that fails or its entries
    // moved, the rows no longer fit and the search runs again.
    HRESULT listed = archive->List(Handle());
    if (FAILED(listed) || archive->GetEntryCount() != countBefore) {
        if (!searching_.load() && !worker_) StartSearch();
        return;
    }
    const HDRSTRUCT* entries = archive->GetEntries();
    const int count = ListView_GetItemCount(results_);
    for (int item = 0; entries && item < count; ++item) {
        auto* shown = const_cast<FoundEntry*>(Row(item));
        if (!shown || shown->archive != found || shown->index >= countBefore) continue;
        const HDRSTRUCT& entry = entries[shown->index];
        shown->displayPath = tesview::DisplayPath(archive, entry);
        shown->time = entry.time;
        shown->comment = entry.comment ? entry.comment : "";
    }
    InvalidateRect(results_, nullptr, TRUE);
}

void SearchWindow::DragFoundEntries() {
    // One archive's entries at a time: those of the focused row's archive.
    const FoundEntry* lead = CommandRow();
    if (!lead) return;
    std::vector<DWORD> indices;
    for (int item : SelectedItems()) {
        const FoundEntry* row = Row(item);
        if (row && row->archive == lead->archive) indices.push_back(row->index);
    }
    if (indices.empty()) indices.push_back(lead->index);
    tescommands::DragEntriesOut(FoundEntryContext(lead->archive), indices, std::string(), Handle());
}

void SearchWindow::RunFoundEntryCommand(UINT command) {
    if (command == CMD_FOUND_OPEN_ARCHIVE) {
        OpenFoundArchive();
        return;
    }
    const FoundEntry* row = CommandRow();
    if (!row) return;
    FoundArchive* found = row->archive;
    ICompressFormat* archive = found->archive.get();
    switch (command) {
    case CMD_FOUND_OPEN:
    case CMD_FOUND_VIEW:
        // The archive's temporary folder is made on its first use.
        if (!tescommands::TempFileTracker::Of(archive) &&
            !tescommands::TempFileTracker::Attach(archive, App().settings.tempPath)) {
            return;
        }
        tescommands::OpenEntry(FoundEntryContext(found), row->index, command == CMD_FOUND_OPEN);
        break;
    case CMD_FOUND_PROPERTIES:
        ShowFoundEntryProperties(*row);
        break;
    case 0:
        if (!tescommands::TempFileTracker::Of(archive) &&
            !tescommands::TempFileTracker::Attach(archive, App().settings.tempPath)) {
            return;
        }
        DragFoundEntries();
        break;
    }
}

void SearchWindow::ShowResultsMenu(POINT at) {
    win32::MenuHandle menus(LoadMenuA(App().instance, MAKEINTRESOURCEA(IDR_CONTEXT_MENUS)));
    HMENU popup = menus ? GetSubMenu(menus.get(), 3) : nullptr;
    if (!popup) return;
    const bool any = ListView_GetSelectedCount(results_) > 0;
    for (UINT command : {CMD_FOUND_OPEN, CMD_FOUND_VIEW, CMD_FOUND_OPEN_ARCHIVE, CMD_FOUND_PROPERTIES}) {
        EnableMenuItem(popup, command, MF_BYCOMMAND | (any ? MF_ENABLED : MF_GRAYED));
    }
    SetMenuDefaultItem(popup, CMD_FOUND_OPEN, FALSE);
    UINT command = static_cast<UINT>(
        TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, Handle(), nullptr));
    if (command) RunFoundEntryCommand(command);
}

void SearchWindow::SaveLayout() {
    HWND dialog = Handle();
    if (!IsIconic(dialog) && !IsZoomed(dialog)) {
        RECT frame;
        GetWindowRect(dialog, &frame);
        PutProfileInt(kSearch, "WindowWidth", static_cast<DWORD>(frame.right - frame.left));
    }
    if (results_) {
        INT32 widths[kColumns], order[kColumns];
        int intOrder[kColumns] = {0, 1, 2, 3, 4};
        ListView_GetColumnOrderArray(results_, kColumns, intOrder);
        for (int column = 0; column < kColumns; ++column) {
            widths[column] = ListView_GetColumnWidth(results_, column);
            order[column] = intOrder[column];
        }
        PutProfileBinary(kSearch, "ColumnOrder", order, sizeof order);
        PutProfileBinary(kSearch, "ColumnWidth", widths, sizeof widths);
    }
    PutProfileInt(kSearch, "SubFolders", Checked(IDC_SEARCH_SUBFOLDERS) ? 1 : 0);
    PutProfileInt(kSearch, "IncludeEXE", Checked(IDC_SEARCH_INCLUDE_EXE) ? 1 : 0);
}

BOOL SearchWindow::OnCommand(int id, int code, HWND) {
    switch (id) {
    case IDOK:
        if (IsWindowEnabled(Item(IDOK))) StartSearch();
        return TRUE;
    case IDC_SEARCH_STOP:
        StopSearch();
        return TRUE;
    case IDC_SEARCH_NEW_SEARCH:
        NewSearch();
        return TRUE;
    case IDC_SEARCH_BROWSE:
        BrowseForStartFolder();
        return TRUE;
    case IDCANCEL:
        SaveLayout();
        NewSearch();
        DestroyWindow(Handle());
        return TRUE;
    case IDC_SEARCH_NAME:
    case IDC_SEARCH_PATH:
        if (code == EN_CHANGE) UpdateStartButton();
        return TRUE;
    case IDC_SEARCH_ENCRYPTED:
        UpdateStartButton();
        return TRUE;
    case CMD_FOUND_OPEN:
    case CMD_FOUND_VIEW:
    case CMD_FOUND_OPEN_ARCHIVE:
    case CMD_FOUND_PROPERTIES:
        RunFoundEntryCommand(static_cast<UINT>(id));
        return TRUE;
    }
    return FALSE;
}

BOOL SearchWindow::OnNotify(NMHDR* header) {
    if (header->idFrom == IDC_SEARCH_BEFORE || header->idFrom == IDC_SEARCH_AFTER) {
        if (header->code == DTN_DATETIMECHANGE) UpdateStartButton();
        return FALSE;
    }
    if (header->hwndFrom != results_) return FALSE;
    switch (header->code) {
    case LVN_GETDISPINFOA: {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        const auto* row = reinterpret_cast<const FoundEntry*>(info->item.lParam);
        if (!row) return TRUE;
        if (info->item.mask & LVIF_TEXT) {
            std::string text = ColumnText(*row, info->item.iSubItem);
            if (info->item.iSubItem == kColumnName) text = tesview::ShellDisplayName(text);
            lstrcpynA(info->item.pszText, text.c_str(), info->item.cchTextMax);
        }
        if (info->item.mask & LVIF_IMAGE) {
            info->item.iImage = tesview::ShellSmallIcon(tesview::LastComponent(row->displayPath));
        }
        return TRUE;
    }
    case LVN_GETINFOTIPA: {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPA*>(header);
        const FoundEntry* row = Row(tip->iItem);
        if (row && !row->comment.empty() && tip->pszText && tip->cchTextMax > 0) {
            lstrcpynA(tip->pszText, row->comment.c_str(), tip->cchTextMax);
        }
        return TRUE;
    }
    case LVN_DELETEITEM:
        ReleaseRow(reinterpret_cast<FoundEntry*>(reinterpret_cast<NMLISTVIEW*>(header)->lParam));
        return TRUE;
    case LVN_COLUMNCLICK:
        SortBy(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        return TRUE;
    case NM_DBLCLK:
        if (ListView_GetSelectedCount(results_) > 0) RunFoundEntryCommand(CMD_FOUND_OPEN);
        return TRUE;
    case NM_RCLICK: {
        POINT at;
        GetCursorPos(&at);
        ShowResultsMenu(at);
        return TRUE;
    }
    case LVN_BEGINDRAG:
        RunFoundEntryCommand(0);  // dragging found entries out
        return TRUE;
    }
    return FALSE;
}

BOOL SearchWindow::OnMessage(UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        // At once, not by the posted Cancel of the dialog manager.
        OnCommand(IDCANCEL, BN_CLICKED, nullptr);
        return TRUE;
    case WM_SEARCH_FINISHED:
        if (worker_) FinishSearch();
        return TRUE;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize.x = kMinimumWidth;
        limits->ptMinTrackSize.y = expanded_ ? kMinimumExpandedHeight : kCollapsedHeight;
        if (!expanded_) limits->ptMaxTrackSize.y = kCollapsedHeight;
        return TRUE;
    }
    case WM_SIZE:
        Layout();
        return TRUE;
    }
    return FALSE;
}

void SearchWindow::OnDestroy() {
    if (search_) search_->Stop();
    WaitForWorker();
    ClearResults();
    if (listed_) {
        listed_ = false;
        App().windows.Remove(this);
    }
}

void SearchWindow::OnDetached() { delete this; }

SearchWindow* NewSearchWindow() {
    auto* window = new SearchWindow();
    if (!window->Create(nullptr)) {
        delete window;
        return nullptr;
    }
    window->Show();
    return window;
}

}  // namespace tessera
