// TempFileTracker, Open/View of entries and the write-back of changed
// temporary files (see temp_files.h).
#include "temp_files.h"

#include "command_ids.h"
#include "viewing_ids.h"
#include "content_view.h"
#include "dialog_support.h"
#include "win32/dialog.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

namespace tescommands {

namespace {

const char kSettings[] = "Settings";

// Folders chosen by the trackers of this process (lower case): two archives
// a.zip and a.rar opened side by side must not share one.
std::set<std::string>& FoldersInUse() {
    static std::set<std::string> folders;
    return folders;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FindFile(const std::string& path, WIN32_FIND_DATAA* data) {
    tessera::win32::FindHandle find(FindFirstFileA(path.c_str(), data));
    return static_cast<bool>(find);
}

std::string BaseNameWithoutExtension(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name.empty() ? std::string("archive") : name;
}

ViewerOptionsHook g_viewerOptions = nullptr;

}  // namespace

HRESULT RunInContext(const TempContext& context, const OperationCall& call, unsigned flags) {
    if (!context.archive) return E_FAIL;
    if (context.run) return context.run(call, flags);
    return call(context.archive, context.owner);
}

// ---------------------------------------------------------------------------
// Tracker

TempFileTracker::~TempFileTracker() { FoldersInUse().erase(Lower(folder_)); }

TempFileTracker* TempFileTracker::Attach(ICompressFormat* archive, const std::string& tempPath) {
    if (!archive) return nullptr;
    Detach(archive);
    std::string base = tempPath;
    if (!base.empty() && base.back() != '\\') base += '\\';
    const char* archivePath = archive->GetArchivePath();
    base += BaseNameWithoutExtension(archivePath ? archivePath : "");
    std::string folder = base;
    for (int number = 1; number < 10000; ++number) {
        if (!FoldersInUse().count(Lower(folder)) && !PathExists(folder)) {
            // Made now: another process choosing the same name finds it taken.
            if (CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
        char numbered[MAX_PATH + 16];
        snprintf(numbered, sizeof numbered, "%s_%d", base.c_str(), number);
        folder = numbered;
    }
    auto* tracker = new TempFileTracker;
    tracker->folder_ = folder;
    FoldersInUse().insert(Lower(folder));
    archive->SetOption(reinterpret_cast<DWORD_PTR>(tracker));
    return tracker;
}

TempFileTracker* TempFileTracker::Of(ICompressFormat* archive) {
    return archive ? reinterpret_cast<TempFileTracker*>(archive->GetOption()) : nullptr;
}

void TempFileTracker::Detach(ICompressFormat* archive) {
    TempFileTracker* tracker = Of(archive);
    if (!tracker) return;
    archive->SetOption(0);
    if (!tracker->keepFolder_) DeleteFolderTree(tracker->folder_);
    delete tracker;
}

std::string TempFileTracker::EntryPath(ICompressFormat* archive, DWORD index) const {
    if (!archive || index >= archive->GetEntryCount()) return folder_;
    return folder_ + "\\" + tesview::DisplayPath(archive, archive->GetEntries()[index]);
}

void TempFileTracker::Track(ICompressFormat* archive, const std::string& path, DWORD entryIndex) {
    auto record = std::find_if(records_.begin(), records_.end(),
                               [&](const Record& r) { return lstrcmpiA(r.path.c_str(), path.c_str()) == 0; });
    if (record == records_.end()) {
        records_.push_back(Record());
        record = records_.end() - 1;
        record->path = path;
        record->entryIndex = entryIndex;
        if (archive && entryIndex < archive->GetEntryCount() && archive->GetEntries()[entryIndex].name) {
            record->storedName = archive->GetEntries()[entryIndex].name;
        }
    }
    WIN32_FIND_DATAA data;
    record->known = FindFile(path, &data);
    if (record->known) {
        record->time = data.ftLastWriteTime;
        record->size.LowPart = data.nFileSizeLow;
        record->size.HighPart = data.nFileSizeHigh;
    }
}

bool DeleteFolderTree(const std::string& folder) {
    if (folder.empty()) return false;
    WIN32_FIND_DATAA data;
    {
        tessera::win32::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
        if (find) {
            do {
                if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
                const std::string path = folder + "\\" + data.cFileName;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                // A link to a folder is removed itself; what it points to stays.
                if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    DeleteFolderTree(path);
                } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveDirectoryA(path.c_str());
                } else {
                    DeleteFileA(path.c_str());
                }
            } while (FindNextFileA(find.get(), &data));
        }
    }
    return RemoveDirectoryA(folder.c_str()) || !PathExists(folder);
}

// ---------------------------------------------------------------------------
// Extraction

std::vector<DWORD> EntriesWithContents(ICompressFormat* archive, const std::vector<DWORD>& indices) {
    std::vector<DWORD> result;
    if (!archive) return result;
    const DWORD count = archive->GetEntryCount();
    const HDRSTRUCT* entries = archive->GetEntries();
    std::vector<bool> chosen(count, false);
    for (DWORD index : indices) {
        if (index >= count) continue;
        chosen[index] = true;
        if (!(entries[index].attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::string folder = tesview::DisplayPath(archive, entries[index]);
        while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
        if (folder.empty()) continue;
        const std::string prefix = Lower(folder) + "\\";
        for (DWORD other = 0; other < count; ++other) {
            if (chosen[other]) continue;
            const std::string path = Lower(tesview::DisplayPath(archive, entries[other]));
            if (path.compare(0, prefix.size(), prefix) == 0) chosen[other] = true;
        }
    }
    for (DWORD index = 0; index < count; ++index) {
        if (chosen[index]) result.push_back(index);
    }
    return result;
}

HRESULT ExtractToTemporaryFolder(const TempContext& context, const std::vector<DWORD>& indices) {
    TempFileTracker* tracker = TempFileTracker::Of(context.archive);
    if (!tracker) return E_FAIL;
    const std::vector<DWORD> entries = EntriesWithContents(context.archive, indices);
    if (entries.empty()) return E_INVALIDARG;
    std::vector<SELHDRSTRUCT> selection(entries.size());
    for (size_t at = 0; at < entries.size(); ++at) selection[at] = {entries[at], 0, nullptr};
    const std::string folder = tracker->Folder();
    return RunInContext(
        context,
        [&](ICompressFormat* archive, HWND owner) {
            return archive->Extract(owner, 0, TRUE, TRUE, folder.c_str(), selection.data(),
                                    static_cast<DWORD>(selection.size()));
        },
        kOfferLogOnWarnings);
}

// ---------------------------------------------------------------------------
// Open and View

bool LooksLikeText(const BYTE* bytes, size_t count) {
    count = std::min<size_t>(count, 80);
    for (size_t at = 0; at < count; ++at) {
        const BYTE c = bytes[at];
        if ((c >= 32 && c <= 127) || c == '\r' || c == '\n' || c == '\t') continue;
        if (c != 0 && (IsCharAlphaNumericA(static_cast<CHAR>(c)))) continue;
        return false;
    }
    return true;
}

void SetViewerOptionsHook(ViewerOptionsHook hook) { g_viewerOptions = hook; }

namespace {

bool FileLooksLikeText(const std::string& path) {
    tessera::win32::FileHandle file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    BYTE head[80];
    DWORD read = 0;
    if (!ReadFile(file.get(), head, sizeof head, &read, nullptr)) return false;
    return LooksLikeText(head, read);
}

bool StartViewer(const TempContext& context, const std::string& viewer, const std::string& file) {
    const std::string parameter = "\"" + file + "\"";
    const INT_PTR started = reinterpret_cast<INT_PTR>(
        ShellExecuteA(context.owner, nullptr, viewer.c_str(), parameter.c_str(), nullptr, SW_SHOWNORMAL));
    if (started > 32) return true;
    const std::string format = LoadText(context.resources, TESCMD_IDS_CANNOT_EXECUTE);
    ShowMessage(context.owner, FormatText(format, viewer.c_str(), SystemErrorText(GetLastError()).c_str()),
                MB_OK | MB_ICONERROR);
    return false;
}

bool ViewFile(const TempContext& context, const std::string& file) {
    const bool text = FileLooksLikeText(file);
    const char* setting = text ? "TextViewer" : "HexViewer";
    char viewer[MAX_PATH] = "";
    for (int attempt = 0; attempt < 2; ++attempt) {
        viewer[0] = '\0';
        if (GetProfileString(kSettings, setting, viewer) && viewer[0]) return StartViewer(context, viewer, file);
        if (attempt > 0) break;  // still none: end silently
        const UINT question = text ? TESCMD_IDS_CHOOSE_TEXT_VIEWER : TESCMD_IDS_CHOOSE_BINARY_VIEWER;
        if (ShowMessage(context.owner, LoadText(context.resources, question), MB_YESNO | MB_ICONQUESTION) != IDYES) {
            break;
        }
        if (g_viewerOptions) g_viewerOptions(context.owner);
    }
    return false;
}

}  // namespace

bool OpenEntry(const TempContext& context, DWORD entryIndex, bool open) {
    TempFileTracker* tracker = TempFileTracker::Of(context.archive);
    if (!tracker || entryIndex >= context.archive->GetEntryCount()) return false;
    std::string target;
    {
        tessera::win32::WaitCursor wait;
        if (FAILED(ExtractToTemporaryFolder(context, {entryIndex}))) return false;
        // The operation frame may have refreshed the list: look the entry up
        // again through the tracker's path.
        tracker = TempFileTracker::Of(context.archive);
        if (!tracker || entryIndex >= context.archive->GetEntryCount()) return false;
        target = tracker->EntryPath(context.archive, entryIndex);
        while (!target.empty() && target.back() == '\\') target.pop_back();
        tracker->Track(context.archive, target, entryIndex);
    }
    const bool isFolder = (context.archive->GetEntries()[entryIndex].attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (open || isFolder) {
        const INT_PTR started = reinterpret_cast<INT_PTR>(
            ShellExecuteA(context.owner, nullptr, target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (started > 32) return true;
        const std::string format = LoadText(context.resources, TESCMD_IDS_CANNOT_EXECUTE);
        ShowMessage(context.owner, FormatText(format, target.c_str(), SystemErrorText(GetLastError()).c_str()),
                    MB_OK | MB_ICONERROR);
        return false;
    }
    return ViewFile(context, target);
}

// ---------------------------------------------------------------------------
// Changed temporary files

namespace {

std::string SizeText(ULARGE_INTEGER size) {
    char text[64] = "";
    FormatFileSize(1, size.LowPart, size.HighPart, text);
    return text;
}

std::string TimeText(const FILETIME& utc) {
    char text[MAX_PATH] = "";
    FormatFileTime(&utc, text, 1, 1);
    return text;
}

// Dialog 123: the changed file, the entry's and the file's size and time.
class ModifiedFileDialog : public tessera::win32::Dialog {
public:
    ModifiedFileDialog(std::string path, std::string entrySize, std::string entryTime, std::string fileSize,
                       std::string fileTime)
        : path_(std::move(path)),
          entrySize_(std::move(entrySize)),
          entryTime_(std::move(entryTime)),
          fileSize_(std::move(fileSize)),
          fileTime_(std::move(fileTime)) {}

    bool shiftHeld = false;

private:
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        SetText(TESCMD_IDC_MODIFIED_PATH, path_);
        SetText(TESCMD_IDC_MODIFIED_ENTRY_SIZE, entrySize_);
        SetText(TESCMD_IDC_MODIFIED_ENTRY_TIME, entryTime_);
        SetText(TESCMD_IDC_MODIFIED_FILE_SIZE, fileSize_);
        SetText(TESCMD_IDC_MODIFIED_FILE_TIME, fileTime_);
        SHFILEINFOA info = {};
        if (SHGetFileInfoA(path_.c_str(), 0, &info, sizeof info, SHGFI_ICON)) {
            icon_.reset(info.hIcon);
            SendDlgItemMessageA(Handle(), TESCMD_IDC_MODIFIED_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(info.hIcon), 0);
        }
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        if (id != IDYES && id != IDNO && id != IDCANCEL) return FALSE;
        shiftHeld = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
        End(id);
        return TRUE;
    }

    std::string path_, entrySize_, entryTime_, fileSize_, fileTime_;
    tessera::win32::IconHandle icon_;
};

// One ADDFILEINFO record (storedName may be null) and the list's end.
std::vector<BYTE> OneFileList(const char* storedName, const std::string& path) {
    const size_t length = path.size() + 1;
    std::vector<BYTE> list(2 * ADDFILEINFO_HEADER + length + 1, 0);
    auto* record = reinterpret_cast<ADDFILEINFO*>(list.data());
    record->storedName = storedName;
    record->length = static_cast<WORD>(length);
    memcpy(record->path, path.c_str(), length);
    return list;
}

bool DeleteThroughShell(HWND owner, const std::string& path, bool toRecycleBin) {
    std::string from = path;
    from.push_back('\0');  // the list ends with an empty name
    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = owner;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI | (toRecycleBin ? FOF_ALLOWUNDO : 0);
    return SHFileOperationA(&operation) == 0 && !PathExists(path);
}

}  // namespace

bool CheckTemporaryFiles(const TempContext& context, const OperationSettings& settings) {
    TempFileTracker* tracker = TempFileTracker::Of(context.archive);
    if (!tracker || tracker->checking) return true;
    tracker->checking = true;
    bool carryOn = true;
    for (size_t at = 0; at < tracker->Records().size();) {
        TempFileTracker::Record record = tracker->Records()[at];
        WIN32_FIND_DATAA data;
        if (!record.known || !FindFile(record.path, &data) || CompareFileTime(&data.ftLastWriteTime, &record.time) == 0) {
            ++at;
            continue;
        }
        std::string entrySize, entryTime;
        const HDRSTRUCT* entries = context.archive->GetEntries();
        const DWORD count = context.archive->GetEntryCount();
        DWORD entryIndex = SEL_UNUSED;
        for (DWORD index = 0; index < count && !record.storedName.empty(); ++index) {
            if (entries[index].name && record.storedName == entries[index].name) entryIndex = index;
        }
        if (entryIndex != SEL_UNUSED) {
            entrySize = SizeText({{entries[entryIndex].size, 0}});
            FILETIME utc;
            LocalFileTimeToFileTime(&entries[entryIndex].time, &utc);
            entryTime = TimeText(utc);
        }
        ModifiedFileDialog dialog(record.path, entrySize, entryTime,
                                  SizeText({{data.nFileSizeLow, data.nFileSizeHigh}}), TimeText(data.ftLastWriteTime));
        const INT_PTR answer = dialog.RunModal(context.resources, TESCMD_IDD_MODIFIED_FILE, context.owner);
        // The dialog let the program run: find the record again.
        tracker = TempFileTracker::Of(context.archive);
        if (!tracker) return answer == IDYES || answer == IDNO;
        auto current = std::find_if(tracker->Records().begin(), tracker->Records().end(),
                                    [&](const TempFileTracker::Record& r) { return r.path == record.path; });
        if (current == tracker->Records().end()) continue;
        at = static_cast<size_t>(current - tracker->Records().begin());
        if (answer == IDYES) {
            const std::vector<BYTE> list =
                OneFileList(record.storedName.empty() ? nullptr : record.storedName.c_str(), record.path);
            const HRESULT result = RunInContext(
                context,
                [&](ICompressFormat* archive, HWND owner) {
                    return archive->Add(owner, FALSE, FALSE, FALSE, 0xFFFFFFFFu, FALSE, TRUE, FALSE, FALSE, FALSE, 0,
                                        settings.modifyTime, settings.storeOnlyList.c_str(),
                                        settings.tempFolder.c_str(), reinterpret_cast<const ADDFILEINFO*>(list.data()));
                },
                kOfferLogOnWarnings | kRefreshOnSuccess);
            tracker = TempFileTracker::Of(context.archive);
            if (!tracker) break;
            if (FAILED(result)) {
                // The edit stays where it is, and so does the folder.
                tracker->KeepFolder();
                const std::string format = LoadText(context.resources, TESCMD_IDS_CHANGED_FILE_KEPT);
                ShowMessage(context.owner, FormatText(format, record.path.c_str()), MB_OK | MB_ICONWARNING);
            }
            // Asked again only after the next change.
            tracker->Track(context.archive, record.path, record.entryIndex);
            ++at;
        } else if (answer == IDNO) {
            DeleteThroughShell(context.owner, record.path, dialog.shiftHeld);
            tracker->Records().erase(tracker->Records().begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            carryOn = false;
            break;
        }
    }
    if (tracker) tracker->checking = false;
    return carryOn;
}

bool CloseTemporaryFiles(const TempContext& context, const OperationSettings& settings, bool refusable) {
    TempFileTracker* tracker = TempFileTracker::Of(context.archive);
    if (!tracker) return true;
    if (!tracker->Records().empty() && !CheckTemporaryFiles(context, settings) && refusable) return false;
    tessera::win32::WaitCursor wait;
    tracker = TempFileTracker::Of(context.archive);
    if (tracker) tracker->Records().clear();
    return true;
}

}  // namespace tescommands
