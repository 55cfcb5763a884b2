// One extraction run of a stub (see stub.h).
#include "sfx/stub.h"

#include <cstdarg>

#include "codecs/crc32/crc32.h"
#include "core/path_safety.h"
#include "sfx/stub_ids.h"

namespace tessera::sfx {

namespace {

constexpr uint32_t kProgressUnit = 32768;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE;

std::string ToAnsi(const std::string& stored, NameCoding coding) {
    if (coding == NameCoding::kAnsi || stored.empty()) return stored;
    if (coding == NameCoding::kOem) {
        std::string ansi(stored);
        OemToCharBuffA(stored.c_str(), &ansi[0], static_cast<DWORD>(ansi.size()));
        return ansi;
    }
    int wide = MultiByteToWideChar(CP_UTF8, 0, stored.data(), static_cast<int>(stored.size()), nullptr, 0);
    if (wide <= 0) return stored;
    std::vector<wchar_t> text(static_cast<size_t>(wide));
    MultiByteToWideChar(CP_UTF8, 0, stored.data(), static_cast<int>(stored.size()), text.data(), wide);
    int narrow = WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return stored;
    std::string ansi(static_cast<size_t>(narrow), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wide, &ansi[0], narrow, nullptr, nullptr);
    return ansi;
}

std::string FileNamePart(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string VFormat(UINT id, va_list arguments) {
    char pattern[512];
    if (!LoadStringA(GetModuleHandleA(nullptr), id, pattern, sizeof pattern)) pattern[0] = '\0';
    char text[1025];  // wvsprintfA writes at most 1,024 characters
    wvsprintfA(text, pattern, arguments);
    return text;
}

}  // namespace

std::string FormatMessage(UINT id, ...) {
    va_list arguments;
    va_start(arguments, id);
    std::string text = VFormat(id, arguments);
    va_end(arguments);
    return text;
}

Extraction::Extraction(HANDLE ownFile, const std::string& ownPath, uint64_t origin, const std::string& destination,
                       bool overwrite, bool askBeforeOverwrite, RunView& view)
    : ownFile_(ownFile),
      ownPath_(ownPath),
      origin_(origin),
      destination_(destination),
      overwriteAll_(overwrite),
      ask_(askBeforeOverwrite),
      view_(view) {}

Extraction::~Extraction() {
    // A target still open here belongs to an interrupted entry: it goes.
    if (target_) {
        target_.reset();
        DeleteFileA(targetPath_.c_str());
    }
}

uint64_t Extraction::OwnFileSize() const {
    LARGE_INTEGER size;
    return GetFileSizeEx(ownFile_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool Extraction::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) const {
    if (got) *got = 0;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD done = 0;
    if (!SetFilePointerEx(ownFile_, at, nullptr, FILE_BEGIN) ||
        !ReadFile(ownFile_, buffer, static_cast<DWORD>(size), &done, nullptr))
        return false;
    if (got) *got = done;
    return done == size;
}

void Extraction::Message(UINT id, ...) {
    va_list arguments;
    va_start(arguments, id);
    std::string text = VFormat(id, arguments);
    va_end(arguments);
    view_.ShowMessage(text);
}

bool Extraction::CreateFolderLevels(const std::string& folder) {
    // Every level from the top: existing ones are passed, new ones recorded.
    std::string level;
    size_t start = 0;
    if (folder.size() >= 2 && folder[1] == ':') start = 2;
    else if (folder.compare(0, 2, "\\\\") == 0) {
        // \\server\share is not a level of its own.
        size_t server = folder.find('\\', 2);
        size_t share = server == std::string::npos ? std::string::npos : folder.find('\\', server + 1);
        start = share == std::string::npos ? folder.size() : share;
    }
    for (size_t i = start; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != '\\' && folder[i] != '/') continue;
        level = folder.substr(0, i);
        if (level.size() <= start || level.back() == ':') continue;
        DWORD attributes = GetFileAttributesA(level.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (!CreateDirectoryA(level.c_str(), nullptr)) {
            Message(IDS_CANNOT_CREATE_FOLDER, level.c_str());
            cancelled_ = true;
            return false;
        }
        record_.push_back({level, true});
    }
    return true;
}

bool Extraction::CreateDestination() { return CreateFolderLevels(destination_); }

bool Extraction::TargetPath(const std::string& storedName, NameCoding coding, std::string* path,
                            std::string* shown) {
    std::string name = ToAnsi(storedName, coding);
    char safe[MAX_PATH];
    if (MakeSafeRelativePath(name.c_str(), safe, sizeof safe) == PathVerdict::kRefused) return false;
    *shown = safe;
    std::string joined = destination_;
    if (!joined.empty() && joined.back() != '\\' && joined.back() != '/') joined += '\\';
    joined += safe;
    if (joined.size() >= MAX_PATH) return false;
    *path = joined;
    return true;
}

void Extraction::MakeFolderEntry(const std::string& storedName, NameCoding coding) {
    std::string path, shown;
    if (!TargetPath(storedName, coding, &path, &shown)) return;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    CreateFolderLevels(path);
}

HANDLE Extraction::BeginFile(const std::string& storedName, NameCoding coding, uint32_t size) {
    std::string path, shown;
    if (!TargetPath(storedName, coding, &path, &shown) || path.back() == '\\') {
        Message(IDS_CANNOT_CREATE_FILE, storedName.c_str());
        entryFailed_ = true;
        return INVALID_HANDLE_VALUE;
    }
    size_t slash = path.find_last_of('\\');
    if (slash != std::string::npos && slash > destination_.size() && !CreateFolderLevels(path.substr(0, slash)))
        return INVALID_HANDLE_VALUE;
    view_.ShowCurrentFile(FormatMessage(IDS_EXTRACTING, FileNamePart(path).c_str()));

    DWORD existing = GetFileAttributesA(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        // A folder in the way: the entry fails without a word.
        if (existing & FILE_ATTRIBUTE_DIRECTORY) {
            entryFailed_ = true;
            return INVALID_HANDLE_VALUE;
        }
        if (!overwriteAll_ && ask_) {
            switch (view_.AskOverwrite(path)) {
            case RunView::OverwriteAnswer::kYes: break;
            case RunView::OverwriteAnswer::kYesToAll: overwriteAll_ = true; break;
            case RunView::OverwriteAnswer::kNo: AdvanceProgress(size); return INVALID_HANDLE_VALUE;
            case RunView::OverwriteAnswer::kCancel: cancelled_ = true; return INVALID_HANDLE_VALUE;
            }
        } else if (!overwriteAll_) {
            AdvanceProgress(size);
            return INVALID_HANDLE_VALUE;
        }
        if (existing & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);
        if (!DeleteFileA(path.c_str())) {
            Message(IDS_CANNOT_OVERWRITE, path.c_str());
            entryFailed_ = true;
            return INVALID_HANDLE_VALUE;
        }
    }
    target_.reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target_) {
        Message(IDS_CANNOT_CREATE_FILE, path.c_str());
        entryFailed_ = true;
        return INVALID_HANDLE_VALUE;
    }
    targetPath_ = path;
    record_.push_back({path, false});
    crc_ = 0xFFFFFFFFu;
    return target_.get();
}

bool Extraction::Write(const void* data, size_t size) {
    view_.Pump();
    if (Cancelled() || !target_) return false;
    DWORD done = 0;
    if (!WriteFile(target_.get(), data, static_cast<DWORD>(size), &done, nullptr) || done != size) {
        Message(IDS_WRITE_FAILED);
        return false;
    }
    crc_ = Crc32Update(crc_, data, size);
    AdvanceProgress(size);
    return true;
}

void Extraction::FinishFile(bool whole, uint16_t dosDate, uint16_t dosTime, uint32_t attributes) {
    if (!target_) return;
    FILETIME local, utc;
    if (DosDateTimeToFileTime(dosDate, dosTime, &local) && LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(target_.get(), nullptr, &utc, &utc);
    target_.reset();
    if (!whole || Cancelled()) {
        // Nothing partly written or unchecked stays behind.
        DeleteFileA(targetPath_.c_str());
        if (!record_.empty() && !record_.back().folder && record_.back().path == targetPath_) record_.pop_back();
        if (!Cancelled()) entryFailed_ = true;
        return;
    }
    if (attributes & kKeptAttributes) SetFileAttributesA(targetPath_.c_str(), attributes & kKeptAttributes);
}

void Extraction::AdvanceProgress(uint64_t bytes) {
    written_ += bytes;
    view_.SetProgress(static_cast<uint32_t>(written_ / kProgressUnit));
}

void Extraction::DeleteRecorded() {
    for (auto item = record_.rbegin(); item != record_.rend(); ++item) {
        DWORD attributes = GetFileAttributesA(item->path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesA(item->path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (item->folder) RemoveDirectoryA(item->path.c_str());
        else DeleteFileA(item->path.c_str());
    }
    record_.clear();
}

}  // namespace tessera::sfx
