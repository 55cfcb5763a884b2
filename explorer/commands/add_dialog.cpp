// The Add dialog: a list of files and folders to add (shell items shown with
// their icons and details), the options of the operation, and the file list
// handed to the engine on OK.
#include "add_dialog.h"

#include "add_file_list.h"

#include "command_ids.h"
#include "combo_history.h"
#include "password_dialog.h"
#include "select_folder_dialog.h"
#include "select_group.h"
#include "selection_name_dialog.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace tescommands {

namespace {

const char kAddSection[] = "Add";
const char kSettings[] = "Settings";
constexpr int kColumnCount = 5;
const int kDefaultWidths[kColumnCount] = {180, 180, 90, 150, 120};
constexpr int kMinTrackWidth = 578;
constexpr int kMinTrackHeight = 392;

std::string FileNamePart(const std::string& path) {
    std::string::size_type slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path) {
    std::string::size_type slash = path.find_last_of('\\');
    if (slash == std::string::npos) return std::string();
    return path.substr(0, slash == 2 && path[1] == ':' ? 3 : slash);
}

}  // namespace

std::string AddDialog::RowKey(const std::string& path) {
    std::string key = path;
    if (!key.empty()) CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

struct AddDialog::Row {
    std::string path;
    ULONGLONG size;     // 0 for folders
    FILETIME modified;  // last write, UTC
};

AddDialog::AddDialog(HINSTANCE resources, ICompressFormat* archive, std::vector<std::string> dropped)
    : resources_(resources), archive_(archive), dropped_(std::move(dropped)) {}

AddDialog::~AddDialog() = default;

INT_PTR AddDialog::Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_ADD, owner); }

BOOL AddDialog::OnInitDialog() {
    CenterDialog(Handle());
    hasEntries_ = archive_->GetEntryCount() > 0;

    // Children's places for resizing, before anything moves.
    RECT client;
    GetClientRect(Handle(), &client);
    initialClient_ = {client.right, client.bottom};
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    GetWindowRect(list, &listRect_);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&listRect_), 2);
    for (HWND child = GetWindow(Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&rect), 2);
        children_.emplace_back(child, rect);
    }

    const bool encrypt = archive_->HasCapability(CAP_ENCRYPT) != FALSE;
    const char* password = archive_->GetPassword();
    Check(TESCMD_IDC_ADD_ENCRYPT, encrypt && password && *password);
    Enable(TESCMD_IDC_ADD_ENCRYPT, encrypt);
    Enable(TESCMD_IDC_ADD_PASSWORD, encrypt);

    HWND levels = Item(TESCMD_IDC_ADD_LEVEL);
    char names[GETTEXT_BUFFER] = {};
    if (SUCCEEDED(archive_->GetText(TEXT_LEVELS, 0, names))) {
        for (const char* name = names; *name && name < names + sizeof names; name += strlen(name) + 1)
            SendMessageA(levels, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }

    HWND actions = Item(TESCMD_IDC_ADD_ACTION);
    std::string labels[3];
    const auto count = SplitBars(LoadText(resources_, TESCMD_IDS_ACTIONS), labels, 3);
    for (std::string::size_type i = 0; i < count; ++i)
        SendMessageA(actions, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(labels[i].c_str()));
    Enable(TESCMD_IDC_ADD_ACTION, hasEntries_);
    Enable(TESCMD_IDC_ADD_ACTION_LABEL, hasEntries_);

    LoadAddOptions(kAddSection, &options_);
    LoadIncludeOptions(kAddSection, &options_.include);
    options_.include.folderEntries = archive_->HasCapability(CAP_FOLDERENTRIES) != FALSE;
    if (!options_.include.folderEntries || !options_.include.subFolders) options_.include.emptyFoldersOnly = false;
    stored_ = options_;
    // Update and freshen need entries to compare with.
    if (!hasEntries_) options_.update = options_.freshen = false;
    ApplyOptionsToControls();

    SetUpColumns();
    RECT rect;
    DWORD size = sizeof rect;
    if (GetProfileBinary(kAddSection, "WindowRect", &rect, &size) && size == sizeof rect &&
        rect.right - rect.left >= kMinTrackWidth && rect.bottom - rect.top >= kMinTrackHeight) {
        MoveWindow(Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
    }
    Resize();
    DragAcceptFiles(Handle(), TRUE);
    Enable(IDHELP, false);
    AddDropped(dropped_);
    UpdateButtons();
    return TRUE;
}

void AddDialog::ApplyOptionsToControls() {
    HWND levels = Item(TESCMD_IDC_ADD_LEVEL);
    const LRESULT levelCount = SendMessageA(levels, CB_GETCOUNT, 0, 0);
    SendMessageA(levels, CB_SETCURSEL, options_.level < static_cast<DWORD>(levelCount) ? options_.level : 0, 0);
    int action = 0;
    if (hasEntries_) action = options_.update ? 1 : options_.freshen ? 2 : 0;
    SendMessageA(Item(TESCMD_IDC_ADD_ACTION), CB_SETCURSEL, action, 0);
    Check(TESCMD_IDC_ADD_FULL_PATHS, options_.fullPaths);
    Check(TESCMD_IDC_ADD_PARTIAL_PATHS, !options_.fullPaths && options_.partialPaths);
    UpdateOkLabel();
}

void AddDialog::ReadControls() {
    const LRESULT level = SendMessageA(Item(TESCMD_IDC_ADD_LEVEL), CB_GETCURSEL, 0, 0);
    options_.level = level > 0 ? static_cast<DWORD>(level) : 0;
    if (hasEntries_) {
        const LRESULT action = SendMessageA(Item(TESCMD_IDC_ADD_ACTION), CB_GETCURSEL, 0, 0);
        options_.update = action == 1;
        options_.freshen = action == 2;
    }
    options_.fullPaths = Checked(TESCMD_IDC_ADD_FULL_PATHS);
    options_.partialPaths = Checked(TESCMD_IDC_ADD_PARTIAL_PATHS);
}

void AddDialog::UpdateOkLabel() {
    const LRESULT action = hasEntries_ ? SendMessageA(Item(TESCMD_IDC_ADD_ACTION), CB_GETCURSEL, 0, 0) : 0;
    const UINT id = action == 1 ? TESCMD_IDS_UPDATE_BUTTON : action == 2 ? TESCMD_IDS_FRESHEN_BUTTON : TESCMD_IDS_ADD_BUTTON;
    SetText(IDOK, LoadText(resources_, id));
}

void AddDialog::SetUpColumns() {
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    SHFILEINFOA info = {};
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (images) ListView_SetImageList(list, images, LVSIL_SMALL);
    std::string labels[kColumnCount];
    SplitBars(LoadText(resources_, TESCMD_IDS_ADD_COLUMNS), labels, kColumnCount);
    int widths[kColumnCount];
    DWORD size = sizeof widths;
    if (!GetProfileBinary(kAddSection, "ColumnWidth", widths, &size) || size != sizeof widths)
        memcpy(widths, kDefaultWidths, sizeof widths);
    for (int i = 0; i < kColumnCount; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        column.fmt = i == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = widths[i] > 0 ? widths[i] : kDefaultWidths[i];
        column.pszText = const_cast<char*>(labels[i].c_str());
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    int order[kColumnCount];
    size = sizeof order;
    if (GetProfileBinary(kAddSection, "ColumnOrder", order, &size) && size == sizeof order) {
        bool valid = true;
        for (int i = 0; i < kColumnCount; ++i) valid = valid && order[i] >= 0 && order[i] < kColumnCount;
        if (valid) ListView_SetColumnOrderArray(list, kColumnCount, order);
    }
}

void AddDialog::SaveLayout() {
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    int widths[kColumnCount], order[kColumnCount];
    for (int i = 0; i < kColumnCount; ++i) widths[i] = ListView_GetColumnWidth(list, i);
    PutProfileBinary(kAddSection, "ColumnWidth", widths, sizeof widths);
    if (ListView_GetColumnOrderArray(list, kColumnCount, order))
        PutProfileBinary(kAddSection, "ColumnOrder", order, sizeof order);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (GetWindowPlacement(Handle(), &placement) && !IsZoomed(Handle()) && !IsIconic(Handle())) {
        RECT rect;
        GetWindowRect(Handle(), &rect);
        PutProfileBinary(kAddSection, "WindowRect", &rect, sizeof rect);
    }
}

// The list grows with the dialog; what lies right of it moves right, what
// lies below it moves down.
void AddDialog::Resize() {
    RECT client;
    GetClientRect(Handle(), &client);
    const int dx = client.right - initialClient_.cx, dy = client.bottom - initialClient_.cy;
    HDWP positions = BeginDeferWindowPos(static_cast<int>(children_.size()));
    for (const auto& child : children_) {
        RECT rect = child.second;
        if (child.first == Item(TESCMD_IDC_ADD_LIST)) {
            rect.right += dx;
            rect.bottom += dy;
        } else {
            if (rect.left >= listRect_.right) OffsetRect(&rect, dx, 0);
            if (rect.top >= listRect_.bottom) OffsetRect(&rect, 0, dy);
        }
        if (positions)
            positions = DeferWindowPos(positions, child.first, nullptr, rect.left, rect.top, rect.right - rect.left,
                                       rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (positions) EndDeferWindowPos(positions);
    InvalidateRect(Handle(), nullptr, TRUE);
}

void AddDialog::AddRow(const std::string& path) {
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    const int count = ListView_GetItemCount(list);
    const std::string key = RowKey(path);
    if (rowKeys_.count(key)) return;  // already a row
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return;
    SHFILEINFOA info = {};
    SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_TYPENAME);
    Row* row = new Row{path, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                       data.ftLastWriteTime};
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) row->size = 0;
    rowKeys_.insert(key);
    std::string name = FileNamePart(path), folder = FolderPart(path);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = count;
    item.pszText = const_cast<char*>(name.c_str());
    item.iImage = info.iIcon;
    item.lParam = reinterpret_cast<LPARAM>(row);
    const int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) {
        rowKeys_.erase(key);
        delete row;
        return;
    }
    char size[MAX_PATH] = "", time[MAX_PATH] = "";
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        FormatFileSize(0, data.nFileSizeLow, data.nFileSizeHigh, size);
    FormatFileTime(&data.ftLastWriteTime, time, 2, 1);
    const char* texts[] = {folder.c_str(), size, info.szTypeName, time};
    for (int column = 1; column < kColumnCount; ++column) {
        LVITEMA sub = {};
        sub.iSubItem = column;
        sub.pszText = const_cast<char*>(texts[column - 1]);
        SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
    }
}

void AddDialog::AddDropped(const std::vector<std::string>& paths) {
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (const std::string& path : paths) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;  // no file-system item
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::vector<std::string> rows;
            AddFolderContents(path, {}, options_.include, &rows);
            for (const std::string& row : rows) AddRow(row);
        } else {
            AddRow(path);
        }
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateButtons();
}

std::vector<std::string> AddDialog::Rows() const {
    std::vector<std::string> rows;
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    const int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; ++i) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        if (SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
            rows.push_back(reinterpret_cast<Row*>(item.lParam)->path);
    }
    return rows;
}

void AddDialog::ReplaceRows(const std::vector<std::string>& paths) {
    ListView_DeleteAllItems(Item(TESCMD_IDC_ADD_LIST));
    for (const std::string& path : paths) AddRow(path);
    UpdateButtons();
}

void AddDialog::RemoveSelectedRows() {
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    for (int i = ListView_GetItemCount(list) - 1; i >= 0; --i) {
        if (ListView_GetItemState(list, i, LVIS_SELECTED)) ListView_DeleteItem(list, i);
    }
    UpdateButtons();
}

void AddDialog::UpdateButtons() {
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    Enable(IDOK, ListView_GetItemCount(list) > 0);
    Enable(TESCMD_IDC_ADD_REMOVE, ListView_GetSelectedCount(list) > 0);
}

void AddDialog::SelectFiles() {
    std::vector<char> buffer(32768, '\0');
    char folder[MAX_PATH] = "";
    GetProfileString(kSettings, "AddDir", folder);
    const std::string title = LoadText(resources_, TESCMD_IDS_SELECT_FILES);
    const std::string filter = FilterFromBars(LoadText(resources_, TESCMD_IDS_ALL_FILES_FILTER));
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Handle();
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrInitialDir = *folder ? folder : nullptr;
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   OFN_NODEREFERENCELINKS;
    if (!GetOpenFileNameA(&dialog)) return;
    // One file: its full path. Several: the folder, then the names.
    std::vector<std::string> parts;
    for (const char* part = buffer.data(); *part; part += strlen(part) + 1) parts.push_back(part);
    if (parts.empty()) return;
    std::vector<std::string> paths;
    std::string chosenFolder;
    if (parts.size() == 1) {
        paths.push_back(parts[0]);
        chosenFolder = FolderPart(parts[0]);
    } else {
        chosenFolder = parts[0];
        std::string prefix = chosenFolder;
        if (prefix.back() != '\\') prefix.push_back('\\');
        for (size_t i = 1; i < parts.size(); ++i) paths.push_back(prefix + parts[i]);
    }
    for (const std::string& path : paths) AddRow(path);
    PutProfileString(kSettings, "AddDir", chosenFolder.c_str());
    UpdateButtons();
}

void AddDialog::SelectFolder() {
    SelectFolderDialog select(resources_, options_.include);
    if (select.Run(Handle()) != IDOK) return;
    std::vector<std::string> rows;
    AddFolderContents(select.Folder(), select.Masks(), select.Include(), &rows);
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (const std::string& row : rows) AddRow(row);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateButtons();
}

void AddDialog::ShowOptionsMenu() {
    tessera::win32::MenuHandle menus(LoadMenuA(resources_, MAKEINTRESOURCEA(TESCMD_IDR_ADD_MENUS)));
    if (!menus) return;
    HMENU menu = GetSubMenu(menus.get(), 1);
    auto set = [menu](UINT id, bool enabled, bool checked) {
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    };
    const IncludeOptions& include = options_.include;
    set(TESCMD_CMD_MOVE, archive_->HasCapability(CAP_DELETESOURCES) != FALSE, options_.move);
    set(TESCMD_CMD_BACKUP, hasEntries_, hasEntries_ && options_.backup);
    set(TESCMD_CMD_SHORT_NAMES, archive_->HasCapability(CAP_SHORTNAMES) != FALSE, options_.shortNames);
    set(TESCMD_CMD_INCLUDE_SUBFOLDERS, true, include.subFolders);
    set(TESCMD_CMD_INCLUDE_EMPTY_ONLY, include.subFolders && include.folderEntries, include.emptyFoldersOnly);
    set(TESCMD_CMD_INCLUDE_HIDDEN, true, include.systemHidden);
    set(TESCMD_CMD_SPLIT, archive_->HasCapability(CAP_SPLIT) != FALSE, options_.split);
    RECT button;
    GetWindowRect(Item(TESCMD_IDC_ADD_EXTENDED), &button);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, button.left, button.bottom, 0, Handle(), nullptr);
}

void AddDialog::ShowRowsMenu(LPARAM position) {
    tessera::win32::MenuHandle menus(LoadMenuA(resources_, MAKEINTRESOURCEA(TESCMD_IDR_ADD_MENUS)));
    if (!menus) return;
    HMENU menu = GetSubMenu(menus.get(), 0);
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    const bool rows = ListView_GetItemCount(list) > 0;
    for (UINT id : {TESCMD_CMD_ROWS_SELECT_ALL, TESCMD_CMD_ROWS_INVERT, TESCMD_CMD_ROWS_SELECT_GROUP,
                    TESCMD_CMD_SELECTION_SAVE, TESCMD_CMD_SELECTION_LOAD, TESCMD_CMD_SELECTION_DELETE})
        EnableMenuItem(menu, id, MF_BYCOMMAND | (rows ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(menu, TESCMD_IDC_ADD_REMOVE,
                   MF_BYCOMMAND | (ListView_GetSelectedCount(list) > 0 ? MF_ENABLED : MF_GRAYED));
    POINT point = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (position == static_cast<LPARAM>(-1)) {
        RECT rect;
        GetWindowRect(list, &rect);
        point = {rect.left, rect.top};
    }
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, Handle(), nullptr);
}

void AddDialog::OnOptionsCommand(int id) {
    IncludeOptions& include = options_.include;
    switch (id) {
    case TESCMD_CMD_MOVE: options_.move = !options_.move; break;
    case TESCMD_CMD_BACKUP: options_.backup = !options_.backup; break;
    case TESCMD_CMD_SHORT_NAMES: options_.shortNames = !options_.shortNames; break;
    case TESCMD_CMD_INCLUDE_SUBFOLDERS:
        include.subFolders = !include.subFolders;
        if (!include.subFolders) include.emptyFoldersOnly = false;
        break;
    case TESCMD_CMD_INCLUDE_EMPTY_ONLY:
        if (include.subFolders && include.folderEntries) include.emptyFoldersOnly = !include.emptyFoldersOnly;
        break;
    case TESCMD_CMD_INCLUDE_HIDDEN: include.systemHidden = !include.systemHidden; break;
    case TESCMD_CMD_SPLIT: {
        DWORD volumeSize = options_.volumeSize;
        BOOL split = options_.split;
        if (archive_->SplitDialog(Handle(), &volumeSize, &split) == S_OK) {
            options_.volumeSize = volumeSize;
            options_.split = split != FALSE;
        }
        break;
    }
    }
}

void AddDialog::SaveSelectionCommand() {
    SelectionNameDialog name(resources_, TESCMD_IDD_SAVE_SELECTION);
    if (name.Run(Handle()) != IDOK) return;
    ReadControls();
    SaveSelection(name.Name(), options_, Rows());
}

void AddDialog::LoadSelectionCommand() {
    SelectionNameDialog name(resources_, TESCMD_IDD_LOAD_SELECTION);
    if (name.Run(Handle()) != IDOK) return;
    AddOptions loaded = options_;
    std::vector<std::string> rows;
    if (!LoadSelection(name.Name(), &loaded, &rows)) return;
    options_ = loaded;
    if (!hasEntries_) options_.update = options_.freshen = false;
    ApplyOptionsToControls();
    ReplaceRows(rows);
}

void AddDialog::DeleteSelectionCommand() {
    SelectionNameDialog name(resources_, TESCMD_IDD_DELETE_SELECTION);
    if (name.Run(Handle()) == IDOK) DeleteSelection(name.Name());
}

namespace {

struct SortContext {
    HWND list;
    int column;
    bool descending;
};

const AddDialog::Row* RowAt(HWND list, int index) {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    return SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))
               ? reinterpret_cast<const AddDialog::Row*>(item.lParam)
               : nullptr;
}

// Size and time by value, the other columns by their text.
int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM context) {
    const SortContext* sort = reinterpret_cast<const SortContext*>(context);
    int result = 0;
    const AddDialog::Row* a = RowAt(sort->list, static_cast<int>(first));
    const AddDialog::Row* b = RowAt(sort->list, static_cast<int>(second));
    if (a && b && sort->column == 2) {
        result = a->size < b->size ? -1 : a->size > b->size ? 1 : 0;
    } else if (a && b && sort->column == 4) {
        result = CompareFileTime(&a->modified, &b->modified);
    } else {
        char textA[MAX_PATH] = "", textB[MAX_PATH] = "";
        ListView_GetItemText(sort->list, static_cast<int>(first), sort->column, textA, sizeof textA);
        ListView_GetItemText(sort->list, static_cast<int>(second), sort->column, textB, sizeof textB);
        result = lstrcmpiA(textA, textB);
    }
    return sort->descending ? -result : result;
}

}  // namespace

void AddDialog::SortBy(int column) {
    sortDescending_ = column == sortColumn_ ? !sortDescending_ : false;
    sortColumn_ = column;
    SortContext context = {Item(TESCMD_IDC_ADD_LIST), column, sortDescending_};
    ListView_SortItemsEx(context.list, CompareRows, reinterpret_cast<LPARAM>(&context));
}

bool AddDialog::OnOk() {
    tessera::win32::WaitCursor wait;
    const char* password = archive_->GetPassword();
    if (Checked(TESCMD_IDC_ADD_ENCRYPT) && !(password && *password)) {
        PasswordDialog ask(resources_, archive_);
        if (ask.Run(Handle()) != IDOK) return false;
    }
    const std::string archivePath = archive_->GetArchivePath() ? archive_->GetArchivePath() : "";
    HWND list = Item(TESCMD_IDC_ADD_LIST);
    std::vector<std::string> paths;
    for (int i = ListView_GetItemCount(list) - 1; i >= 0; --i) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) continue;
        const std::string& path = reinterpret_cast<Row*>(item.lParam)->path;
        if (lstrcmpiA(path.c_str(), archivePath.c_str()) == 0) {
            ListView_DeleteItem(list, i);
            ShowMessage(Handle(), LoadText(resources_, TESCMD_IDS_ARCHIVE_ITSELF), MB_OK | MB_ICONWARNING);
            continue;
        }
        paths.insert(paths.begin(), path);
    }
    UpdateButtons();
    if (paths.empty()) return false;
    try {
        fileList_ = BuildAddFileList(paths);
    } catch (const std::bad_alloc&) {
        ShowMessage(Handle(), LoadText(resources_, TESCMD_IDS_OUT_OF_MEMORY), MB_OK | MB_ICONERROR);
        return false;
    }
    ReadControls();
    return true;
}

void AddDialog::OnDestroy() {
    ReadControls();
    AddOptions saved = options_;
    // What the dialog could not offer stays as the user last chose it.
    if (!hasEntries_) {
        saved.update = stored_.update;
        saved.freshen = stored_.freshen;
        saved.backup = stored_.backup;
    }
    SaveAddOptions(kAddSection, saved);
    SaveIncludeOptions(kAddSection, options_.include);
    SaveLayout();
    ListView_DeleteAllItems(Item(TESCMD_IDC_ADD_LIST));  // LVN_DELETEITEM frees the rows
}

BOOL AddDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (!children_.empty()) Resize();
        return TRUE;
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = kMinTrackWidth;
        info->ptMinTrackSize.y = kMinTrackHeight;
        return TRUE;
    }
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wParam);
        std::vector<std::string> paths;
        const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            char path[MAX_PATH];
            if (DragQueryFileA(drop, i, path, MAX_PATH)) paths.push_back(path);
        }
        DragFinish(drop);
        AddDropped(paths);
        return TRUE;
    }
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == Item(TESCMD_IDC_ADD_LIST)) {
            ShowRowsMenu(lParam);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

BOOL AddDialog::OnNotify(NMHDR* header) {
    if (header->idFrom != TESCMD_IDC_ADD_LIST) return FALSE;
    if (header->code == LVN_DELETEITEM) {
        Row* row = reinterpret_cast<Row*>(reinterpret_cast<const NMLISTVIEW*>(header)->lParam);
        if (row) rowKeys_.erase(RowKey(row->path));
        delete row;
    } else if (header->code == LVN_ITEMCHANGED) {
        UpdateButtons();
    } else if (header->code == LVN_COLUMNCLICK) {
        SortBy(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
    } else if (header->code == LVN_KEYDOWN && reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == VK_DELETE) {
        RemoveSelectedRows();
    }
    return TRUE;
}

BOOL AddDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_ADD_ACTION:
        if (code == CBN_SELCHANGE) UpdateOkLabel();
        return TRUE;
    case TESCMD_IDC_ADD_FULL_PATHS:
        if (Checked(TESCMD_IDC_ADD_FULL_PATHS)) Check(TESCMD_IDC_ADD_PARTIAL_PATHS, false);
        return TRUE;
    case TESCMD_IDC_ADD_PARTIAL_PATHS:
        if (Checked(TESCMD_IDC_ADD_PARTIAL_PATHS)) Check(TESCMD_IDC_ADD_FULL_PATHS, false);
        return TRUE;
    case TESCMD_IDC_ADD_ENCRYPT:
        if (!Checked(TESCMD_IDC_ADD_ENCRYPT)) archive_->SetPassword("");
        return TRUE;
    case TESCMD_IDC_ADD_PASSWORD: {
        PasswordDialog ask(resources_, archive_);
        if (ask.Run(Handle()) == IDOK) Check(TESCMD_IDC_ADD_ENCRYPT, true);
        return TRUE;
    }
    case TESCMD_IDC_ADD_SELECT_FILES: SelectFiles(); return TRUE;
    case TESCMD_IDC_ADD_SELECT_FOLDER: SelectFolder(); return TRUE;
    case TESCMD_IDC_ADD_REMOVE: RemoveSelectedRows(); return TRUE;
    case TESCMD_IDC_ADD_EXTENDED: ShowOptionsMenu(); return TRUE;
    case TESCMD_CMD_MOVE:
    case TESCMD_CMD_BACKUP:
    case TESCMD_CMD_SHORT_NAMES:
    case TESCMD_CMD_INCLUDE_SUBFOLDERS:
    case TESCMD_CMD_INCLUDE_EMPTY_ONLY:
    case TESCMD_CMD_INCLUDE_HIDDEN:
    case TESCMD_CMD_SPLIT:
        OnOptionsCommand(id);
        return TRUE;
    case TESCMD_CMD_ROWS_SELECT_ALL: tesview::SetAllSelected(Item(TESCMD_IDC_ADD_LIST), true); return TRUE;
    case TESCMD_CMD_ROWS_INVERT: {
        HWND list = Item(TESCMD_IDC_ADD_LIST);
        for (int i = ListView_GetItemCount(list) - 1; i >= 0; --i)
            ListView_SetItemState(list, i, ListView_GetItemState(list, i, LVIS_SELECTED) ^ LVIS_SELECTED,
                                  LVIS_SELECTED);
        return TRUE;
    }
    case TESCMD_CMD_ROWS_SELECT_GROUP: {
        tesview::GroupChoice choice;
        if (tesview::RunSelectGroupDialog(Handle(), resources_, &choice))
            tesview::SelectGroupItems(Item(TESCMD_IDC_ADD_LIST), choice.pattern.c_str(), choice.ignoreExisting,
                                      choice.invert);
        return TRUE;
    }
    case TESCMD_CMD_SELECTION_SAVE: SaveSelectionCommand(); return TRUE;
    case TESCMD_CMD_SELECTION_LOAD: LoadSelectionCommand(); return TRUE;
    case TESCMD_CMD_SELECTION_DELETE: DeleteSelectionCommand(); return TRUE;
    case IDOK:
        if (OnOk()) End(IDOK);
        return TRUE;
    }
    return Dialog::OnCommand(id, code, control);
}

HRESULT AddDialog::RunAdd(HWND owner, ICompressFormat* archive, const std::string& tempFolder,
                          const std::string& storeOnly, BOOL modifyTime) const {
    const AddOptions& o = options_;
    const BOOL move = o.move && archive->HasCapability(CAP_DELETESOURCES);
    const BOOL shortNames = o.shortNames && archive->HasCapability(CAP_SHORTNAMES);
    const BOOL backup = o.backup && hasEntries_;
    const BOOL split = o.split && archive->HasCapability(CAP_SPLIT);
    return archive->Add(owner, move, shortNames, backup, o.level, o.update, o.freshen, o.fullPaths, o.partialPaths,
                        split, o.volumeSize, modifyTime, storeOnly.c_str(), tempFolder.c_str(), FileList());
}

}  // namespace tescommands
