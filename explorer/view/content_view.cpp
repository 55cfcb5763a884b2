// ContentView: list items carry entry indices only; every cell text is made
// when the list asks for it (LVN_GETDISPINFO). Sorting compares entries
// through the archive's entry array; the string keys of one sort (names,
// folder parts, shell type names) are computed once per sort instead of
// once per comparison.
#include "content_view.h"

#include "select_group.h"
#include "view_ids.h"
#include "win32/com_ptr.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tesview {

const ColumnDefault kColumnDefaults[kColumnCount] = {
    {130, 0, LVCFMT_LEFT},   // Name
    {120, 4, LVCFMT_LEFT},   // Modified at
    {80, 1, LVCFMT_RIGHT},   // Size
    {50, 2, LVCFMT_RIGHT},   // Ratio
    {80, 3, LVCFMT_RIGHT},   // Packed
    {180, 6, LVCFMT_LEFT},   // Path
    {100, 5, LVCFMT_LEFT},   // Type
};

namespace {

const char kSettings[] = "Settings";
const char* const kFallbackLabels[kColumnCount] = {"Name", "Modified at", "Size", "Ratio",
                                                   "Packed", "Path", "Type"};
// Columns are inserted in this order; Path only in flat mode.
const int kInsertOrder[kColumnCount] = {0, 1, 2, 3, 4, 6, 5};

struct SortCommand {
    UINT command;
    int key;
};
const SortCommand kSortCommands[] = {
    {TESVIEW_CMD_SORT_NAME, kColumnName},     {TESVIEW_CMD_SORT_DATE, kColumnModified},
    {TESVIEW_CMD_SORT_SIZE, kColumnSize},     {TESVIEW_CMD_SORT_RATIO, kColumnRatio},
    {TESVIEW_CMD_SORT_PACKED, kColumnPacked}, {TESVIEW_CMD_SORT_PATH, kColumnPath},
    {TESVIEW_CMD_SORT_TYPE, kColumnType},     {TESVIEW_CMD_SORT_ORIGINAL, kSortOriginal},
};

void CopyText(const std::string& text, char* out, int capacity) {
    if (!out || capacity <= 0) return;
    size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
    memcpy(out, text.data(), n);
    out[n] = '\0';
}

// The comparison state of one LVM_SORTITEMS run.
struct SortContext {
    const HDRSTRUCT* entries;
    DWORD count;
    int key;
    bool reverse;
    std::vector<std::string> keys;  // by entry index, for the text keys
};

int CompareUnsigned(DWORD a, DWORD b) { return a < b ? -1 : (a > b ? 1 : 0); }

int CALLBACK CompareItems(LPARAM first, LPARAM second, LPARAM contextParam) {
    const auto* context = reinterpret_cast<const SortContext*>(contextParam);
    DWORD a = static_cast<DWORD>(first), b = static_cast<DWORD>(second);
    if (a >= context->count || b >= context->count) return 0;
    const HDRSTRUCT& x = context->entries[a];
    const HDRSTRUCT& y = context->entries[b];
    int result = 0;
    switch (context->key) {
    case kColumnName:
    case kColumnPath:
    case kColumnType:
        result = lstrcmpiA(context->keys[a].c_str(), context->keys[b].c_str());
        break;
    case kColumnModified: result = CompareFileTime(&x.time, &y.time); break;
    case kColumnSize: result = CompareUnsigned(x.size, y.size); break;
    case kColumnRatio: result = x.ratio < y.ratio ? -1 : (x.ratio > y.ratio ? 1 : 0); break;
    case kColumnPacked: result = CompareUnsigned(x.packedSize, y.packedSize); break;
    default: result = CompareUnsigned(a, b); break;
    }
    return context->reverse ? -result : result;
}

// Wait cursor with the mouse captured by a window, undone at scope end.
class BusyScope {
public:
    explicit BusyScope(HWND capture) {
        if (capture) SetCapture(capture);
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
    }
    ~BusyScope() {
        ReleaseCapture();
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

}  // namespace

// --- entry texts ---

std::string DisplayPath(ICompressFormat* archive, const HDRSTRUCT& entry) {
    if (!entry.name) return std::string();
    char buffer[GETTEXT_BUFFER] = "";
    if (archive && SUCCEEDED(archive->GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(entry.name), buffer))) {
        buffer[GETTEXT_BUFFER - 1] = '\0';
        return buffer;
    }
    return entry.name;
}

std::string LastComponent(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ShellDisplayName(const std::string& name) {
    SHFILEINFOA info = {};
    if (!name.empty() &&
        SHGetFileInfoA(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_DISPLAYNAME) &&
        info.szDisplayName[0]) {
        return info.szDisplayName;
    }
    return name;
}

std::string ShellTypeName(const std::string& name) {
    SHFILEINFOA info = {};
    if (!name.empty() &&
        SHGetFileInfoA(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME)) {
        return info.szTypeName;
    }
    return std::string();
}

int ShellSmallIcon(const std::string& name) {
    SHFILEINFOA info = {};
    if (SHGetFileInfoA(name.empty() ? "file" : name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
        return info.iIcon;
    }
    return 0;
}

std::string FormatEntryTime(const FILETIME& time) {
    // Entry times are local already: no time-zone conversion.
    SYSTEMTIME fields;
    if (!FileTimeToSystemTime(&time, &fields)) return std::string();
    char date[128] = "", clock[128] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &fields, nullptr, clock, sizeof clock);
    return std::string(date) + " " + clock;
}

// --- ContentView ---

ContentView::~ContentView() {
    // The header lets go of the arrows before headerImages_ destroys them.
    if (headerImages_ && list_ && IsWindow(list_)) {
        HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
        if (header) SendMessageA(header, HDM_SETIMAGELIST, 0, 0);
    }
}

HWND ContentView::Create(HWND parent, HINSTANCE resources) {
    resources_ = resources;
    list_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | LVS_REPORT |
                                LVS_SHAREIMAGELISTS | LVS_SHOWSELALWAYS,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(TESVIEW_IDC_LIST)),
                            resources, nullptr);
    return list_;
}

void ContentView::LoadLayout() {
    for (int i = 0; i < kColumnCount; ++i) {
        widths_[i] = kColumnDefaults[i].width;
        order_[i] = kColumnDefaults[i].position;
    }
    INT32 values[kColumnCount];
    DWORD size = sizeof values;
    if (GetProfileBinary(kSettings, "ColumnWidth", values, &size) && size == sizeof values) {
        // A stored width of 0 keeps the default.
        for (int i = 0; i < kColumnCount; ++i) {
            if (values[i] > 0) widths_[i] = values[i];
        }
    }
    size = sizeof values;
    if (GetProfileBinary(kSettings, "ColumnOrder", values, &size) && size == sizeof values) {
        for (int i = 0; i < kColumnCount; ++i) {
            if (values[i] >= 0 && values[i] < kColumnCount) order_[i] = values[i];
        }
    }
    DWORD value = 0;
    if (GetProfileInt(kSettings, "SortBy", &value)) {
        int key = static_cast<int>(value);
        sortKey_ = key >= kSortOriginal && key < kColumnCount ? key : 0;
    }
    value = 0;
    if (GetProfileInt(kSettings, "SortAscending", &value)) direction_ = value != 0;
}

void ContentView::Initialise(bool flatMode) {
    char labels[512] = "";
    int length = resources_ ? LoadStringA(resources_, TESVIEW_IDS_COLUMN_LABELS, labels, sizeof labels) : 0;
    const char* p = labels;
    for (int i = 0; i < kColumnCount; ++i) {
        const char* bar = length > 0 ? strchr(p, '|') : nullptr;
        if (bar) {
            labels_[i].assign(p, bar);
            p = bar + 1;
        } else {
            labels_[i] = kFallbackLabels[i];
            length = 0;
        }
    }
    LoadLayout();

    SHFILEINFOA info = {};
    auto system = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
        "file", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
        SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (system) SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(system));
    SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_HEADERDRAGDROP | LVS_EX_INFOTIP,
                 LVS_EX_HEADERDRAGDROP | LVS_EX_INFOTIP);
    if (resources_ && !headerImages_) {
        headerImages_.reset(ImageList_LoadImageA(resources_, MAKEINTRESOURCEA(TESVIEW_IDB_SORT_ARROWS), 8, 0,
                                                 RGB(0, 255, 255), IMAGE_BITMAP, 0));
        if (headerImages_) {
            ImageList_SetBkColor(headerImages_.get(), GetSysColor(COLOR_BTNFACE));
            HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
            SendMessageA(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(headerImages_.get()));
        }
    }
    while (!shown_.empty()) {
        SendMessageA(list_, LVM_DELETECOLUMN, shown_.size() - 1, 0);
        shown_.pop_back();
    }
    for (int logical : kInsertOrder) {
        if (logical == kColumnPath && !flatMode) continue;
        InsertColumn(logical);
    }
    ApplyOrder();
    UpdateHeaderArrow();
}

void ContentView::InsertColumn(int logical) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = kColumnDefaults[logical].format;
    column.cx = widths_[logical];
    column.pszText = const_cast<char*>(labels_[logical].c_str());
    int index = static_cast<int>(shown_.size());
    column.iSubItem = index;
    if (SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)) >= 0) {
        shown_.push_back(logical);
    }
}

// Sets the list's column order from the stored display positions; ties
// (possible after hand-edited or mixed settings) go by logical index.
void ContentView::ApplyOrder() {
    std::vector<int> columns(shown_.size());
    for (size_t i = 0; i < columns.size(); ++i) columns[i] = static_cast<int>(i);
    std::stable_sort(columns.begin(), columns.end(), [&](int a, int b) {
        int pa = order_[shown_[a]], pb = order_[shown_[b]];
        return pa != pb ? pa < pb : shown_[a] < shown_[b];
    });
    if (!columns.empty()) {
        SendMessageA(list_, LVM_SETCOLUMNORDERARRAY, columns.size(), reinterpret_cast<LPARAM>(columns.data()));
    }
    InvalidateRect(list_, nullptr, TRUE);
}

// Current widths and display positions of the shown columns into the
// arrays by logical column.
void ContentView::RecordLayout() {
    if (shown_.empty()) return;
    std::vector<int> columns(shown_.size());
    if (!SendMessageA(list_, LVM_GETCOLUMNORDERARRAY, columns.size(), reinterpret_cast<LPARAM>(columns.data()))) {
        for (size_t i = 0; i < columns.size(); ++i) columns[i] = static_cast<int>(i);
    }
    for (size_t position = 0; position < columns.size(); ++position) {
        int column = columns[position];
        if (column >= 0 && column < static_cast<int>(shown_.size())) order_[shown_[column]] = static_cast<int>(position);
    }
    for (size_t i = 0; i < shown_.size(); ++i) {
        widths_[shown_[i]] = static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, i, 0));
    }
}

int ContentView::LogicalColumn(int listColumn) const {
    return listColumn >= 0 && listColumn < static_cast<int>(shown_.size()) ? shown_[listColumn] : -1;
}

void ContentView::AddColumn(int logical) {
    if (logical < 0 || logical >= kColumnCount) return;
    if (std::find(shown_.begin(), shown_.end(), logical) != shown_.end()) return;
    // Keep the user's current arrangement and put the new column back at
    // the position it had when it was removed.
    RecordLayout();
    std::vector<int> sequence(shown_.begin(), shown_.end());
    std::stable_sort(sequence.begin(), sequence.end(), [&](int a, int b) { return order_[a] < order_[b]; });
    size_t at = std::min(static_cast<size_t>(order_[logical]), sequence.size());
    sequence.insert(sequence.begin() + static_cast<std::ptrdiff_t>(at), logical);
    for (size_t i = 0; i < sequence.size(); ++i) order_[sequence[i]] = static_cast<int>(i);
    InsertColumn(logical);
    ApplyOrder();
    UpdateHeaderArrow();
}

void ContentView::RemoveColumn(int logical) {
    auto it = std::find(shown_.begin(), shown_.end(), logical);
    if (it == shown_.end()) return;
    RecordLayout();
    int index = static_cast<int>(it - shown_.begin());
    if (SendMessageA(list_, LVM_DELETECOLUMN, static_cast<WPARAM>(index), 0)) shown_.erase(it);
    UpdateHeaderArrow();
}

void ContentView::SetFlatMode(bool flat) {
    if (flat) {
        AddColumn(kColumnPath);
    } else {
        RemoveColumn(kColumnPath);
    }
}

bool ContentView::FlatMode() const {
    return std::find(shown_.begin(), shown_.end(), static_cast<int>(kColumnPath)) != shown_.end();
}

void ContentView::SaveLayout() {
    if (!list_ || !IsWindow(list_)) return;
    RecordLayout();
    INT32 values[kColumnCount];
    for (int i = 0; i < kColumnCount; ++i) values[i] = widths_[i];
    PutProfileBinary(kSettings, "ColumnWidth", values, sizeof values);
    for (int i = 0; i < kColumnCount; ++i) values[i] = order_[i];
    PutProfileBinary(kSettings, "ColumnOrder", values, sizeof values);
    PutProfileInt(kSettings, "SortBy", static_cast<DWORD>(sortKey_));
    PutProfileInt(kSettings, "SortAscending", direction_ ? 1 : 0);
}

void ContentView::UpdateHeaderArrow() {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
    if (!header) return;
    for (size_t i = 0; i < shown_.size(); ++i) {
        HDITEMA item = {};
        item.mask = HDI_FORMAT;
        if (!SendMessageA(header, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item))) continue;
        item.mask = HDI_FORMAT | HDI_IMAGE;
        item.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
        item.iImage = 0;
        if (shown_[i] == sortKey_) {
            item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
            item.iImage = direction_ ? 0 : 1;
        }
        SendMessageA(header, HDM_SETITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    InvalidateRect(header, nullptr, TRUE);
}

// --- filling ---

void ContentView::BeginFill() {
    SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
}

void ContentView::EndFill() {
    SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
}

HRESULT ContentView::InsertItem(DWORD index) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = 0x7FFFFFFF;  // appended; the sort orders them
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.iImage = I_IMAGECALLBACK;
    item.lParam = static_cast<LPARAM>(index);
    if (SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) < 0) return E_UNEXPECTED;
    return S_OK;
}

HRESULT ContentView::FillFlat(ICompressFormat* archive) {
    BeginFill();
    archive_ = archive;
    folder_ = nullptr;
    HRESULT result = S_OK;
    if (archive_) {
        DWORD count = archive_->GetEntryCount();
        const HDRSTRUCT* entries = archive_->GetEntries();
        SendMessageA(list_, LVM_SETITEMCOUNT, count, 0);
        for (DWORD i = 0; entries && i < count && SUCCEEDED(result); ++i) {
            if (entries[i].attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            result = InsertItem(i);
        }
        Sort();
    }
    EndFill();
    return result;
}

HRESULT ContentView::FillFolder(ICompressFormat* archive, IArchiveFolder* folder) {
    BusyScope busy(list_);
    BeginFill();
    archive_ = archive;
    folder_ = folder;
    HRESULT result = S_OK;
    if (archive_ && folder_) {
        SendMessageA(list_, LVM_SETITEMCOUNT, folder_->GetFileCount(), 0);
        tessera::win32::ComPtr<IEnumArchiveFiles> files;
        if (SUCCEEDED(folder_->EnumFiles(0, files.put())) && files) {
            DWORD index;
            ULONG fetched = 0;
            while (SUCCEEDED(result) && files->Next(1, &index, &fetched) == S_OK && fetched == 1) {
                result = InsertItem(index);
            }
        }
        Sort();
    }
    EndFill();
    return result;
}

void ContentView::Clear() {
    if (list_) SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
    archive_ = nullptr;
    folder_ = nullptr;
}

// --- sorting ---

void ContentView::SetSortKey(int key) {
    if (key < kSortOriginal || key >= kColumnCount) return;
    sortKey_ = key;
    Sort();
    UpdateHeaderArrow();
}

void ContentView::SetDirection(bool flag) {
    direction_ = flag;
    Sort();
    UpdateHeaderArrow();
}

void ContentView::Sort() {
    if (!archive_ || !list_) return;
    SortContext context;
    context.entries = archive_->GetEntries();
    context.count = context.entries ? archive_->GetEntryCount() : 0;
    context.key = sortKey_;
    context.reverse = direction_;
    if (sortKey_ == kColumnName || sortKey_ == kColumnPath || sortKey_ == kColumnType) {
        context.keys.resize(context.count);
        int items = ItemCount();
        for (int i = 0; i < items; ++i) {
            DWORD index = ItemEntry(i);
            if (index >= context.count) continue;
            std::string path = DisplayPath(archive_, context.entries[index]);
            if (sortKey_ == kColumnName) {
                context.keys[index] = LastComponent(path);
            } else if (sortKey_ == kColumnPath) {
                context.keys[index] = FolderPart(path);
            } else {
                context.keys[index] = ShellTypeName(LastComponent(path));
            }
        }
    }
    SendMessageA(list_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context), reinterpret_cast<LPARAM>(CompareItems));
}

int ContentView::SortKeyOfCommand(UINT command, bool* found) {
    for (const SortCommand& row : kSortCommands) {
        if (row.command == command) {
            if (found) *found = true;
            return row.key;
        }
    }
    if (found) *found = false;
    return 0;
}

bool ContentView::HandleCommand(HWND owner, UINT command) {
    bool found = false;
    int key = SortKeyOfCommand(command, &found);
    if (found) {
        SetSortKey(key);
        return true;
    }
    switch (command) {
    case TESVIEW_CMD_SORT_ASCENDING: SetDirection(false); return true;
    case TESVIEW_CMD_SORT_DESCENDING: SetDirection(true); return true;
    case TESVIEW_CMD_SELECT_ALL: SelectAll(); return true;
    case TESVIEW_CMD_SELECT_NONE: SelectNone(); return true;
    case TESVIEW_CMD_SELECT_GROUP: SelectGroup(owner); return true;
    default: return false;
    }
}

bool ContentView::IsCommandChecked(UINT command) const {
    bool found = false;
    int key = SortKeyOfCommand(command, &found);
    if (found) return key == sortKey_;
    if (command == TESVIEW_CMD_SORT_ASCENDING) return !direction_;
    if (command == TESVIEW_CMD_SORT_DESCENDING) return direction_;
    return false;
}

// --- selection ---

void ContentView::SelectAll() { SetAllSelected(list_, true); }
void ContentView::SelectNone() { SetAllSelected(list_, false); }

bool ContentView::SelectGroup(HWND owner) {
    GroupChoice choice;
    if (!RunSelectGroupDialog(owner, resources_, &choice)) return false;
    SelectGroupItems(list_, choice.pattern.c_str(), choice.ignoreExisting, choice.invert);
    return true;
}

// --- items and texts ---

int ContentView::ItemCount() const {
    return list_ ? static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

DWORD ContentView::ItemEntry(int item) const {
    LVITEMA lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    if (!list_ || !SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi))) return SEL_UNUSED;
    return static_cast<DWORD>(lvi.lParam);
}

const HDRSTRUCT* ContentView::Entry(DWORD index) const {
    if (!archive_) return nullptr;
    const HDRSTRUCT* entries = archive_->GetEntries();
    if (!entries || index >= archive_->GetEntryCount()) return nullptr;
    return &entries[index];
}

std::string ContentView::EntryText(DWORD index, int logical) const {
    const HDRSTRUCT* entry = Entry(index);
    if (!entry) return std::string();
    char buffer[64];
    switch (logical) {
    case kColumnName: {
        std::string text = ShellDisplayName(LastComponent(DisplayPath(archive_, *entry)));
        if (entry->flags & 0xFF) text += '+';
        return text;
    }
    case kColumnModified: return FormatEntryTime(entry->time);
    case kColumnSize: return FormatFileSize(1, entry->size, 0, buffer);
    case kColumnRatio:
        if (entry->ratio == RATIO_UNKNOWN) return "?";
        snprintf(buffer, sizeof buffer, "%d%%", static_cast<int>(entry->ratio));
        return buffer;
    case kColumnPacked: return FormatFileSize(1, entry->packedSize, 0, buffer);
    case kColumnPath: return FolderPart(DisplayPath(archive_, *entry));
    case kColumnType: return ShellTypeName(LastComponent(DisplayPath(archive_, *entry)));
    default: return std::string();
    }
}

std::string ContentView::CellText(int item, int logical) const { return EntryText(ItemEntry(item), logical); }
std::string ContentView::ItemName(int item) const { return CellText(item, kColumnName); }

// --- notifications ---

bool ContentView::HandleNotify(const NMHDR* header, LRESULT* result) {
    if (!header || header->hwndFrom != list_) return false;
    *result = 0;
    switch (header->code) {
    case LVN_GETDISPINFOA: {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(header));
        DWORD index = ItemEntry(info->item.iItem);
        int logical = LogicalColumn(info->item.iSubItem);
        if (info->item.mask & LVIF_TEXT) CopyText(EntryText(index, logical), info->item.pszText, info->item.cchTextMax);
        if ((info->item.mask & LVIF_IMAGE) && info->item.iSubItem == 0) {
            const HDRSTRUCT* entry = Entry(index);
            info->item.iImage = entry ? ShellSmallIcon(LastComponent(DisplayPath(archive_, *entry))) : 0;
        }
        return true;
    }
    case LVN_GETINFOTIPA: {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPA*>(const_cast<NMHDR*>(header));
        const HDRSTRUCT* entry = Entry(ItemEntry(tip->iItem));
        if (entry && entry->comment && entry->comment[0]) {
            char buffer[GETTEXT_BUFFER] = "";
            if (SUCCEEDED(archive_->GetText(TEXT_COMMENT, reinterpret_cast<DWORD_PTR>(entry->comment), buffer))) {
                buffer[GETTEXT_BUFFER - 1] = '\0';
                CopyText(buffer, tip->pszText, tip->cchTextMax);
            }
        }
        return true;
    }
    case LVN_COLUMNCLICK: {
        auto* click = reinterpret_cast<const NMLISTVIEW*>(header);
        int logical = LogicalColumn(click->iSubItem);
        if (logical < 0) return true;
        if (logical == sortKey_) {
            SetDirection(!direction_);
        } else {
            SetSortKey(logical);
        }
        return true;
    }
    case LVN_DELETEALLITEMS:
        *result = TRUE;  // no per-item notifications
        return true;
    default:
        return false;
    }
}

}  // namespace tesview
