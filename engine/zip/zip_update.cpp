// The writing hooks of the ZIP class: add (update, freshen, move), delete,
// set the archive comment, change entry attributes and comments, and the two
// self-extractor conversions. All of them run one update: scan the old
// archive into a list, decide per entry whether it is copied, replaced or
// dropped, write a new file (prefix, entries, central directory, end record)
// and put it in place of the old archive only when it is complete.
//
// Unchanged entries are copied as raw byte ranges (local header, data and
// descriptor together); new data goes through the Deflate encoder and, with a
// password, the traditional cipher.
//
// The old archive is never touched before the replace: every failure (a read
// error in the archive or in a file being added, a failed write, a full disk
// that is not retried, a cancel) leaves through the abort path, which deletes
// the temporary file. The one file that may survive is a complete temporary
// archive that could not be moved into place; the message names it.
#include "zip/zip_format.h"

#include <shellapi.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codecs/crc32/crc32.h"
#include "codecs/deflate/deflate.h"
#include "codecs/zipcrypto/zipcrypto.h"
#include "core/file_io.h"
#include "core/prompts.h"
#include "zip/zip_directory.h"
#include "zip/zip_file_input.h"
#include "zip/zip_writer.h"

using namespace tessera;
using namespace tessera::zip;

namespace {

// Results of the update (the hooks map them to HRESULTs).
constexpr int kUpdateDone = 0;
constexpr int kUpdateEmpty = 13;    // no entries and nothing to add
constexpr int kUpdateSkipped = 18;  // done, but a file could not be added or updated
constexpr int kUpdateAborted = -1;  // failed; the old archive is untouched

constexpr DWORD kStoreChunk = 16384;
const char kTempPrefix[] = "tsr";

// One entry of the update list: an entry of the old archive or a new file.
struct Item {
    CentralHeader central;    // old entry: as stored, offset absolute in the old file
    LocalHeader local;
    std::string name;         // stored name (OEM)
    std::string centralExtra;
    std::string localExtra;
    std::string comment;
    uint64_t copyLength = 0;  // old entry: bytes of its local record, data and descriptor
    bool old = false;
    bool marked = false;      // to be replaced (add) or dropped (delete)
    bool dosFlag = false;
    std::string path;         // file on disk, for marked and new entries
    uint32_t fileStamp = 0;   // the file's DOS date and time
    uint32_t newOffset = 0;   // local header offset in the new file
};

// A file named in the list that no old entry has.
struct NewFile {
    std::string path;
    std::string name;   // stored name (OEM)
    uint32_t stamp = 0;
    bool dosFlag = false;
};

std::string Upper(const std::string& text) {
    std::string upper = text;
    if (!upper.empty()) CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    return upper;
}

std::string ToOem(const std::string& text) {
    std::string oem = text;
    if (!oem.empty()) CharToOemBuffA(text.data(), &oem[0], static_cast<DWORD>(text.size()));
    return oem;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

uint32_t StampOf(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return DosStamp(date, time);
}

// Closes a handle on every path.
struct ScopedHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE h) : handle(h) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    void Close() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    bool Valid() const { return handle != INVALID_HANDLE_VALUE; }
};

// The file being written: deleted when the run ends without keeping it.
struct OutputFile {
    ScopedHandle file;
    std::string path;
    bool keep = false;
    ~OutputFile() {
        file.Close();
        if (!keep && !path.empty()) DeleteFileA(path.c_str());
    }
};

}  // namespace

// One run of the update procedure.
class CZipFormat::Updater {
public:
    explicit Updater(CZipFormat& format) : f_(format) {}
    ~Updater() {
        if (progressStarted_) f_.Progress(kProgressEnd, 0);
        f_.CloseArchiveFile();
    }

    // What the hook asks for besides the object's state.
    struct Request {
        LPCSTR newComment = nullptr;      // OP_SETCOMMENT
        LPCSTR outputPath = nullptr;      // OP_MAKEEXE, OP_REMOVEEXE
        const void* module = nullptr;     // OP_MAKEEXE
        DWORD moduleSize = 0;
    };
    int Run(const Request& request);

private:
    enum class FileResult { Done, Skipped, Abort };

    // The output writer: encrypts (when asked) and writes, asking Retry on a
    // full disk; false when the run must abort.
    class Writer;
    // The file reader: CRC, count and progress of the file being added.
    class FileSource;

    bool Scan();
    void SelectForAdd();
    void SelectMarked();
    bool CheckDuplicates();
    void RefineMarks();
    bool OpenOutput(const Request& request);
    bool CopyEntry(Item& item);
    FileResult Compress(Item& item);
    bool WriteDirectory();
    void DeleteSources();
    void SetArchiveTime(LPCSTR path);
    bool ShowScanReports(const Reports& reports) { return f_.ShowReports(reports) < kLevelEntryError; }

    CZipFormat& f_;
    DWORD op_ = 0;
    std::vector<Item> items_;
    std::vector<NewFile> newFiles_;
    std::string comment_;             // archive comment (OEM)
    uint64_t prefixLength_ = 0;
    bool haveOld_ = false;
    LPCSTR storeOnly_ = nullptr;      // null: the store-only list is not used
    OutputFile output_;
    std::unique_ptr<Writer> writer_;
    std::unique_ptr<Deflater> deflater_;
    std::vector<std::string> addedFiles_;  // files whose data went into the archive
    bool progressStarted_ = false;
    int result_ = kUpdateDone;
};

class CZipFormat::Updater::Writer final : public ByteSink {
public:
    Writer(CZipFormat& format, HANDLE file, char drive) : f_(format), file_(file), drive_(drive) {}

    bool Write(const uint8_t* data, size_t size) override {
        if (f_.m_cancel) return false;
        if (!encrypting_) return WriteRaw(data, size);
        scratch_.assign(data, data + size);
        keys_.Encrypt(scratch_.data(), size);
        return WriteRaw(scratch_.data(), size);
    }

    // Writes bytes as they are (headers, the encryption header, directory).
    bool WriteRaw(const void* data, size_t size) {
        if (f_.m_cancel) return false;
        if (position_ + size > 0xFFFFFFFFull) {
            // Offsets and sizes of this format end at 4 GiB.
            f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
            return false;
        }
        LARGE_INTEGER start;
        start.QuadPart = static_cast<LONGLONG>(position_);
        while (!EngineWriteFile(file_, data, static_cast<DWORD>(size))) {
            const DWORD error = GetLastError();
            if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
                if (f_.Ask(IDS_DISK_FULL, MB_RETRYCANCEL | MB_ICONSTOP, drive_) == IDRETRY &&
                    SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) {
                    continue;
                }
                f_.Cancel();
            } else {
                f_.ReportError(IDS_ERROR_WRITING_TEMP_FILE, f_.SystemErrorText(error));
            }
            return false;
        }
        position_ += size;
        return true;
    }

    // Positions the file at `position` (the local header rewrite and back).
    bool SeekTo(uint64_t position) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(position);
        if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return false;
        position_ = position;
        return true;
    }

    void StartEncryption(const ZipCryptoKeys& keys) {
        keys_ = keys;
        encrypting_ = true;
    }
    void StopEncryption() { encrypting_ = false; }
    uint64_t Position() const { return position_; }
    void Advance(uint64_t count) { position_ += count; }

private:
    CZipFormat& f_;
    HANDLE file_;
    char drive_;
    uint64_t position_ = 0;
    bool encrypting_ = false;
    ZipCryptoKeys keys_;
    std::vector<uint8_t> scratch_;
};

class CZipFormat::Updater::FileSource final : public ByteSource {
public:
    FileSource(CZipFormat& format, HANDLE file, const std::string& path) : f_(format), file_(file), path_(path) {}

    size_t Read(uint8_t* buffer, size_t capacity) override {
        if (f_.m_cancel || failed_) return 0;
        DWORD got = 0;
        const DWORD want = capacity > 0x100000 ? 0x100000 : static_cast<DWORD>(capacity);
        if (!EngineReadFile(file_, buffer, want, &got)) {
            f_.ReportError(IDS_ERROR_READING_FILE, path_.c_str(), f_.SystemErrorText());
            failed_ = true;
            return 0;
        }
        crc_ = Crc32Update(crc_, buffer, got);
        count_ += got;
        if (got) f_.Progress(kProgressAdvance, got);
        return got;
    }

    uint32_t Crc() const { return ~crc_; }
    uint64_t Count() const { return count_; }
    bool Failed() const { return failed_; }

private:
    CZipFormat& f_;
    HANDLE file_;
    std::string path_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t count_ = 0;
    bool failed_ = false;
};

// --- the procedure ---

int CZipFormat::Updater::Run(const Request& request) {
    op_ = f_.m_op;
    f_.ShowStatus(IDS_PREPARING);

    // The old archive, when there is one.
    const DWORD oldAttributes = GetFileAttributesA(f_.m_archivePath);
    haveOld_ = oldAttributes != INVALID_FILE_ATTRIBUTES && !(oldAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (haveOld_ && !Scan()) return kUpdateAborted;

    // Selection.
    if (op_ == OP_ADD || op_ == OP_UPDATE || op_ == OP_FRESHEN) {
        SelectForAdd();
    } else if (op_ == OP_DELETE || op_ == OP_UPDATEENTRIES) {
        SelectMarked();
    }

    // Two new files must not share a stored name.
    if (!CheckDuplicates()) return kUpdateAborted;

    // The store-only list is not used at the strongest level, nor when
    // it names nothing.
    storeOnly_ = f_.m_storeOnlyList;
    if (f_.m_deflateLevel == 9 || !storeOnly_ || !*storeOnly_ || !lstrcmpA(storeOnly_, ";") ||
        !lstrcmpA(storeOnly_, ":"))
        storeOnly_ = nullptr;

    // An empty archive only takes additions.
    if (items_.empty() && op_ != OP_ADD) {
        f_.Warn(IDS_ARCHIVE_EMPTY);
        return kUpdateEmpty;
    }

    // Which marks stand, which new files stay.
    if (op_ == OP_ADD || op_ == OP_UPDATE || op_ == OP_FRESHEN) RefineMarks();

    // Nothing to do?
    bool anyMarked = false;
    for (const Item& item : items_) anyMarked = anyMarked || item.marked;
    if (!anyMarked && newFiles_.empty()) {
        const bool goesOn = op_ == OP_MAKEEXE || op_ == OP_REMOVEEXE || op_ == OP_SETCOMMENT || op_ == OP_UPDATEENTRIES;
        if (!goesOn) {
            f_.ReportError(IDS_NOTHING_TO_DO);
            return kUpdateAborted;
        }
        if (items_.empty() && op_ != OP_MAKEEXE) {
            f_.Warn(IDS_ARCHIVE_EMPTY);
            return kUpdateAborted;
        }
    }

    // Progress over everything that will be read or copied.
    uint64_t total = op_ == OP_MAKEEXE ? request.moduleSize : (op_ == OP_REMOVEEXE ? 0 : prefixLength_);
    for (const Item& item : items_) {
        if (item.marked && op_ == OP_DELETE) continue;
        total += item.marked && op_ != OP_UPDATEENTRIES ? item.central.uncompressedSize : item.copyLength;
    }
    for (const NewFile& file : newFiles_) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(file.path.c_str(), GetFileExInfoStandard, &data)) total += data.nFileSizeLow;
    }
    f_.Progress(kProgressBegin, total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total));
    progressStarted_ = true;

    // The output.
    if (!OpenOutput(request)) return kUpdateAborted;

    // The prefix.
    if (op_ == OP_MAKEEXE) {
        if (request.moduleSize && !writer_->WriteRaw(request.module, request.moduleSize)) return kUpdateAborted;
        f_.Progress(kProgressAdvance, request.moduleSize);
    } else if (op_ != OP_REMOVEEXE && prefixLength_) {
        f_.Log(IDS_COPYING, "EXE-Header");
        LARGE_INTEGER zero = {};
        if (!SetFilePointerEx(f_.m_archiveFile, zero, nullptr, FILE_BEGIN)) {
            f_.ReportError(IDS_ERROR_READING_FILE, f_.m_archivePath, f_.SystemErrorText());
            return kUpdateAborted;
        }
        if (!f_.CopyData(f_.m_archiveFile, output_.file.handle, static_cast<DWORD>(prefixLength_), output_.path[0]))
            return kUpdateAborted;
        writer_->Advance(prefixLength_);
    }

    // The old entries.
    std::vector<Item> written;
    written.reserve(items_.size() + newFiles_.size());
    for (Item& item : items_) {
        if (f_.m_cancel) return kUpdateAborted;
        char display[GETTEXT_BUFFER + 1] = "";
        f_.GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(item.name.c_str()), display);
        if (!item.marked || op_ == OP_UPDATEENTRIES) {
            f_.Log(IDS_COPYING, display);
            if (!CopyEntry(item)) return kUpdateAborted;
        } else if (op_ == OP_DELETE) {
            f_.Log(IDS_DELETING, display);
            continue;
        } else {
            f_.Log(IDS_UPDATING, display);
            Item replacement = item;
            switch (Compress(replacement)) {
            case FileResult::Done:
                item = std::move(replacement);
                break;
            case FileResult::Skipped:
                f_.Warn(IDS_COPYING_NOT_UPDATED, display);
                result_ = kUpdateSkipped;
                item.marked = false;
                if (!CopyEntry(item)) return kUpdateAborted;
                break;
            case FileResult::Abort:
                return kUpdateAborted;
            }
        }
        written.push_back(std::move(item));
    }

    // The new files.
    for (const NewFile& file : newFiles_) {
        if (f_.m_cancel) return kUpdateAborted;
        Item item;
        item.name = file.name;
        item.path = file.path;
        item.dosFlag = file.dosFlag;
        item.marked = true;
        char display[GETTEXT_BUFFER + 1] = "";
        f_.GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(item.name.c_str()), display);
        f_.Log(IDS_COMPRESSING, display);
        switch (Compress(item)) {
        case FileResult::Done:
            written.push_back(std::move(item));
            break;
        case FileResult::Skipped:
            result_ = kUpdateSkipped;
            break;
        case FileResult::Abort:
            return kUpdateAborted;
        }
    }
    items_ = std::move(written);

    // Comment, directory, end record.
    if (op_ == OP_SETCOMMENT) {
        comment_ = ToOem(request.newComment ? request.newComment : "");
        if (comment_.size() > kMaxFieldLength) comment_.resize(kMaxFieldLength);
    }
    if (!WriteDirectory()) return kUpdateAborted;

    // Close everything; put the new file in place. A write the system only
    // reports when the data reaches the disk fails the update here.
    if (!FlushFileBuffers(output_.file.handle)) {
        f_.ReportError(IDS_ERROR_WRITING_TEMP_FILE, f_.SystemErrorText());
        return kUpdateAborted;
    }
    output_.file.Close();
    f_.CloseArchiveFile();
    if (op_ == OP_MAKEEXE || op_ == OP_REMOVEEXE) {
        output_.keep = true;
    } else {
        // From here on the temporary file is complete: kept if the replace
        // fails (the message names it), removed by the replace otherwise.
        output_.keep = true;
        if (!f_.ReplaceArchive(f_.m_archivePath, output_.path.c_str())) return kUpdateAborted;
    }
    const LPCSTR finalPath = (op_ == OP_MAKEEXE || op_ == OP_REMOVEEXE) ? request.outputPath : f_.m_archivePath;
    SetFileAttributesA(finalPath, haveOld_ ? oldAttributes : FILE_ATTRIBUTE_ARCHIVE);

    // Archive time, moved files.
    if (f_.m_archiveTimeFromNewest) SetArchiveTime(finalPath);
    if (f_.m_deleteSources && (op_ == OP_ADD || op_ == OP_UPDATE || op_ == OP_FRESHEN)) DeleteSources();
    return result_;
}

bool CZipFormat::Updater::Scan() {
    if (!f_.OpenArchiveFile()) return false;
    ZipFileInput input(f_.m_archiveFile);
    UpdateScan scan;
    Reports reports;
    const bool scanned = ScanForUpdate(input, &scan, &reports);
    if (!ShowScanReports(reports) || !scanned) return false;
    comment_ = std::move(scan.comment);
    prefixLength_ = scan.prefixLength;
    items_.reserve(scan.entries.size());
    for (UpdateEntry& e : scan.entries) {
        Item item;
        item.central = e.central;
        item.local = e.local;
        item.name = std::move(e.name);
        item.centralExtra = std::move(e.centralExtra);
        item.localExtra = e.localExtraIsCentral ? item.centralExtra : std::move(e.localExtra);
        item.comment = std::move(e.comment);
        item.copyLength = e.copyLength;
        item.old = true;
        item.dosFlag = e.dosFlag;
        items_.push_back(std::move(item));
    }
    return true;
}

void CZipFormat::Updater::SelectForAdd() {
    // Old entries by their upper-cased name.
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < items_.size(); ++i) byName.emplace(Upper(items_[i].name), i);
    for (const ADDFILEINFO* file = f_.m_files; file && file->length != 0; file = ADDFILEINFO_NEXT(file)) {
        std::string path = file->path;
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(path.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) continue;  // paths that do not exist are ignored
        FindClose(find);
        if (f_.m_shortNames) {
            char shortPath[MAX_PATH];
            DWORD length = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
            if (length > 0 && length < MAX_PATH) path.assign(shortPath, length);
        }
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::string name;
        if (file->storedName) {
            name = file->storedName;
        } else {
            name = StoredNameFromPath(FullPath(path), f_.m_relativePaths ? f_.m_commonDepth : 0, f_.m_usePaths != 0,
                                      folder);
        }
        name = ToOem(name);
        if (name.empty() || name.size() > kMaxFieldLength) continue;
        const uint32_t stamp = StampOf(found.ftLastWriteTime);
        auto old = byName.find(Upper(name));
        if (old != byName.end()) {
            Item& item = items_[old->second];
            item.marked = true;
            item.path = path;
            item.fileStamp = stamp;
        } else {
            NewFile record;
            record.path = path;
            record.name = name;
            record.stamp = stamp;
            record.dosFlag = f_.m_shortNames != 0;
            newFiles_.push_back(std::move(record));
        }
    }
}

void CZipFormat::Updater::SelectMarked() {
    for (Item& item : items_) {
        if (!f_.IsSelected(item.name.c_str())) continue;
        item.marked = true;
        if (op_ != OP_UPDATEENTRIES || !f_.m_currentDetail) continue;
        const ENTRYPROPS* props = static_cast<const ENTRYPROPS*>(f_.m_currentDetail);
        item.central.externalAttributes = item.dosFlag ? (props->attributes & 0xFF) : props->attributes;
        item.comment = ToOem(props->comment);
        if (item.comment.size() > kMaxFieldLength) item.comment.resize(kMaxFieldLength);
    }
}

bool CZipFormat::Updater::CheckDuplicates() {
    // The same file named twice is added once.
    std::map<std::string, size_t> byPath;
    std::vector<NewFile> unique;
    for (NewFile& file : newFiles_) {
        if (byPath.emplace(Upper(FullPath(file.path)), unique.size()).second) unique.push_back(std::move(file));
    }
    newFiles_ = std::move(unique);
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < newFiles_.size(); ++i) {
        auto inserted = byName.emplace(Upper(newFiles_[i].name), i);
        if (inserted.second) continue;
        const NewFile& first = newFiles_[inserted.first->second];
        char display[GETTEXT_BUFFER + 1] = "";
        f_.GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(newFiles_[i].name.c_str()), display);
        f_.ReportError(IDS_NAME_REPEATED, display, first.path.c_str(), newFiles_[i].path.c_str());
        return false;
    }
    return true;
}

void CZipFormat::Updater::RefineMarks() {
    for (Item& item : items_) {
        if (!item.marked) continue;
        if (GetFileAttributesA(item.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            item.marked = false;
        } else if ((op_ == OP_UPDATE || op_ == OP_FRESHEN) &&
                   item.fileStamp <= DosStamp(item.central.date, item.central.time)) {
            item.marked = false;
        }
    }
    if (op_ == OP_FRESHEN) {
        newFiles_.clear();
        return;
    }
    const std::string archive = Upper(FullPath(f_.m_archivePath));
    newFiles_.erase(std::remove_if(newFiles_.begin(), newFiles_.end(),
                                   [&](const NewFile& file) { return Upper(FullPath(file.path)) == archive; }),
                    newFiles_.end());
}

bool CZipFormat::Updater::OpenOutput(const Request& request) {
    if (op_ == OP_MAKEEXE || op_ == OP_REMOVEEXE) {
        HANDLE file = f_.CreateArchiveFile(request.outputPath);
        if (file == INVALID_HANDLE_VALUE) return false;
        output_.file.handle = file;
        output_.path = request.outputPath;
    } else {
        char path[MAX_PATH];
        if (!GetTempFileNameA(f_.m_tempFolder, kTempPrefix, 0, path)) {
            f_.ReportError(IDS_TEMP_CANNOT_BE_CREATED, f_.SystemErrorText());
            return false;
        }
        output_.path = path;  // from here on deleted by the abort path
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            f_.ReportError(IDS_TEMP_CANNOT_BE_CREATED, f_.SystemErrorText());
            return false;
        }
        output_.file.handle = file;
    }
    char drive = output_.path[0];
    char full[MAX_PATH];
    if (GetFullPathNameA(output_.path.c_str(), MAX_PATH, full, nullptr) && full[1] == ':') drive = full[0];
    writer_.reset(new (std::nothrow) Writer(f_, output_.file.handle, drive));
    if (!writer_) {
        f_.ReportError(IDS_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

bool CZipFormat::Updater::CopyEntry(Item& item) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(item.central.localOffset);
    if (!SetFilePointerEx(f_.m_archiveFile, at, nullptr, FILE_BEGIN)) {
        f_.ReportError(IDS_ERROR_READING_FILE, f_.m_archivePath, f_.SystemErrorText());
        return false;
    }
    if (writer_->Position() + item.copyLength > 0xFFFFFFFFull) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return false;
    }
    item.newOffset = static_cast<uint32_t>(writer_->Position());
    if (!f_.CopyData(f_.m_archiveFile, output_.file.handle, static_cast<DWORD>(item.copyLength), output_.path[0]))
        return false;
    writer_->Advance(item.copyLength);
    return true;
}

CZipFormat::Updater::FileResult CZipFormat::Updater::Compress(Item& item) {
    // What the file is.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(item.path.c_str(), GetFileExInfoStandard, &data)) {
        f_.Warn(IDS_ERROR_OPENING_FILE, item.path.c_str(), f_.SystemErrorText());
        return FileResult::Skipped;
    }
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool folderName = !item.name.empty() && item.name.back() == '/';
    if (folder != folderName) {
        char display[GETTEXT_BUFFER + 1] = "";
        f_.GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(item.name.c_str()), display);
        f_.Warn(IDS_FILE_AND_FOLDER_SAME_NAME, display);
        return FileResult::Skipped;
    }
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > 0xFFFFFFFFu - 0x10000u) {
        const unsigned long megabytes =
            static_cast<unsigned long>(((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) >> 20);
        f_.Warn(IDS_FILE_TOO_LARGE, item.path.c_str(), megabytes);
        return FileResult::Skipped;
    }
    const uint32_t size = folder ? 0 : data.nFileSizeLow;
    FILETIME local;
    WORD dosDate = 0, dosTime = 0;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, &dosDate, &dosTime);

    // A fresh entry: no extra fields, method by kind and list.
    item.localExtra.clear();
    item.centralExtra.clear();
    const bool store = folder || size == 0 || f_.m_deflateLevel == 0 ||
                       (storeOnly_ && MatchesExtensionList(item.name.c_str(), storeOnly_));
    const uint16_t method = store ? kMethodStored : kMethodDeflate;

    // The file itself.
    ScopedHandle file;
    if (!folder) {
        file.handle = CreateFileA(item.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (!file.Valid()) {
            f_.Warn(IDS_ERROR_OPENING_FILE, item.path.c_str(), f_.SystemErrorText());
            return FileResult::Skipped;
        }
    }

    // The local header as far as it is known.
    const bool encrypted = f_.m_password[0] != '\0' && !folder;
    LocalHeader header = FirstLocalHeader(method, dosTime, dosDate, encrypted, size,
                                          static_cast<uint16_t>(item.name.size()));
    const uint64_t offset = writer_->Position();
    item.newOffset = static_cast<uint32_t>(offset);
    if (!writer_->WriteRaw(LocalRecordBytes(header, item.name, std::string()).data(),
                           kLocalHeaderSize + item.name.size()))
        return FileResult::Abort;

    // The encryption header.
    const size_t passwordLength = static_cast<size_t>(lstrlenA(f_.m_password));
    if (encrypted) {
        uint8_t crypt[kZipCryptoHeaderSize];
        ZipCryptoKeys keys;
        ZipCryptoMakeHeader(reinterpret_cast<const uint8_t*>(f_.m_password), passwordLength,
                            static_cast<uint32_t>(dosTime) << 16, crypt, &keys);
        if (!writer_->WriteRaw(crypt, sizeof crypt)) return FileResult::Abort;
        writer_->StartEncryption(keys);
    }

    // The data.
    FileSource source(f_, file.handle, item.path);
    uint16_t finalMethod = method;
    uint16_t flags = header.flags;
    uint16_t internal = 0;
    const uint64_t dataStart = writer_->Position();
    if (method == kMethodDeflate) {
        if (!deflater_) {
            deflater_.reset(new (std::nothrow) Deflater);
            if (!deflater_) {
                f_.ReportError(IDS_OUT_OF_MEMORY);
                return FileResult::Abort;
            }
        }
        DeflateFile job;
        job.level = f_.m_deflateLevel;
        job.outputSeekable = GetFileType(output_.file.handle) == FILE_TYPE_DISK;
        job.flags = flags;
        const int result = deflater_->Compress(source, *writer_, job);
        writer_->StopEncryption();
        if (result == kDeflateNoMemory) {
            f_.ReportError(IDS_OUT_OF_MEMORY);
            return FileResult::Abort;
        }
        if (result != kDeflateOk) return FileResult::Abort;
        finalMethod = job.method;
        flags = job.flags;
        internal = InternalAttributesFor(finalMethod, job.internalAttributes == kInternalAttributeText);
    } else if (!folder) {
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStoreChunk]);
        if (!buffer) {
            writer_->StopEncryption();
            f_.ReportError(IDS_OUT_OF_MEMORY);
            return FileResult::Abort;
        }
        for (;;) {
            const size_t got = source.Read(buffer.get(), kStoreChunk);
            if (got == 0) break;
            if (!writer_->Write(buffer.get(), got)) {
                writer_->StopEncryption();
                return FileResult::Abort;
            }
        }
        writer_->StopEncryption();
    }
    file.Close();
    // A file that could not be read to its end is not stored cut short: the
    // update stops and the old archive stays as it was.
    if (source.Failed() || f_.m_cancel) return FileResult::Abort;

    // Final values.
    const uint64_t compressed = writer_->Position() - dataStart + (encrypted ? kZipCryptoHeaderSize : 0);
    if (source.Count() > 0xFFFFFFFFull || compressed > 0xFFFFFFFFull) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return FileResult::Abort;
    }
    header.flags = flags;
    FinishLocalHeader(&header, finalMethod, source.Crc(), static_cast<uint32_t>(compressed),
                      static_cast<uint32_t>(source.Count()));

    // Rewrite the local header in place; a descriptor only where bit 3 stays.
    if (GetFileType(output_.file.handle) == FILE_TYPE_DISK) {
        const uint64_t end = writer_->Position();
        uint8_t bytes[kLocalHeaderSize];
        SerializeLocalHeader(header, bytes);
        if (!writer_->SeekTo(offset)) {
            f_.ReportError(IDS_ERROR_READING_FILE, output_.path.c_str(), f_.SystemErrorText());
            return FileResult::Abort;
        }
        if (!writer_->WriteRaw(bytes, sizeof bytes)) return FileResult::Abort;  // reported by the writer
        if (!writer_->SeekTo(end)) {
            f_.ReportError(IDS_ERROR_READING_FILE, output_.path.c_str(), f_.SystemErrorText());
            return FileResult::Abort;
        }
    } else {
        header.flags |= kFlagDescriptor;
    }
    if (WritesDescriptor(header.flags)) {
        DataDescriptor descriptor;
        descriptor.crc = header.crc;
        descriptor.compressedSize = header.compressedSize;
        descriptor.uncompressedSize = header.uncompressedSize;
        uint8_t bytes[kDescriptorSize];
        SerializeDataDescriptor(descriptor, bytes);
        if (!writer_->WriteRaw(bytes, sizeof bytes)) return FileResult::Abort;
    }
    const uint32_t attributes = data.dwFileAttributes & ~FILE_ATTRIBUTE_NORMAL;
    item.local = header;
    item.central = CentralFromLocal(header, VersionMadeByFor(item.dosFlag, f_.m_shortNames != 0), internal,
                                    ExternalAttributesFor(attributes, item.dosFlag), item.newOffset,
                                    static_cast<uint16_t>(item.comment.size()));
    if (!folder) addedFiles_.push_back(item.path);
    return FileResult::Done;
}

bool CZipFormat::Updater::WriteDirectory() {
    if (items_.size() > kMaxEntries) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return false;
    }
    const uint64_t start = writer_->Position();
    std::string directory;
    for (const Item& item : items_)
        AppendCentralRecord(item.central, item.name, item.centralExtra, item.comment, item.newOffset, &directory);
    if (!directory.empty() && !writer_->WriteRaw(directory.data(), directory.size())) return false;
    const std::string end = EndRecordBytes(static_cast<uint16_t>(items_.size()), static_cast<uint32_t>(directory.size()),
                                           static_cast<uint32_t>(start), comment_);
    return writer_->WriteRaw(end.data(), end.size());
}

void CZipFormat::Updater::SetArchiveTime(LPCSTR path) {
    uint32_t newest = 0;
    for (const Item& item : items_) {
        if (item.central.externalAttributes & kAttributeFolder) continue;
        if (!item.name.empty() && item.name.back() == '/') continue;
        newest = std::max(newest, DosStamp(item.central.date, item.central.time));
    }
    if (newest == 0) return;
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(static_cast<WORD>(newest >> 16), static_cast<WORD>(newest), &local) ||
        !LocalFileTimeToFileTime(&local, &utc))
        return;
    ScopedHandle file(CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid() || !SetFileTime(file.handle, nullptr, nullptr, &utc))
        f_.Log(IDS_TIME_CANNOT_BE_SET, f_.SystemErrorText());
}

// Moving: the files whose data went into the archive go to the recycle bin;
// the folders among the added items (folder entries, and with stored paths
// the folder of each moved file) are removed only when nothing else is left
// in them, inner folders first.
void CZipFormat::Updater::DeleteSources() {
    f_.Log(IDS_DELETING_ADDED_FILES);
    f_.ShowStatus(IDS_DELETING_ADDED_FILES);
    std::vector<std::string> folders;
    for (const Item& item : items_) {
        if (!item.marked || item.path.empty() || item.name.empty() || item.name.back() != '/') continue;
        folders.push_back(item.path);
    }
    if (f_.m_usePaths) {
        for (const std::string& file : addedFiles_) {
            const size_t cut = file.find_last_of("\\/");
            if (cut != std::string::npos && cut > 0) folders.push_back(file.substr(0, cut));
        }
    }
    if (!addedFiles_.empty()) {
        std::string list;
        for (const std::string& file : addedFiles_) list.append(file).push_back('\0');
        list.push_back('\0');
        SHFILEOPSTRUCTA operation = {};
        operation.hwnd = f_.m_owner;
        operation.wFunc = FO_DELETE;
        operation.pFrom = list.c_str();
        operation.fFlags = FOF_ALLOWUNDO;
        // Without a window to ask in, the shell must not ask either.
        if (!PromptStatusDialogAllowed(f_.Prompts())) operation.fFlags |= FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
        SHFileOperationA(&operation);
    }
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) > 0; });
    folders.erase(std::unique(folders.begin(), folders.end(),
                              [](const std::string& a, const std::string& b) { return !lstrcmpiA(a.c_str(), b.c_str()); }),
                  folders.end());
    for (const std::string& folder : folders) RemoveDirectoryA(folder.c_str());
}

// --- the hooks ---

HRESULT CZipFormat::RunUpdate(LPCSTR newComment, LPCSTR outputPath, const void* module, DWORD moduleSize) {
    Updater::Request request;
    request.newComment = newComment;
    request.outputPath = outputPath;
    request.module = module;
    request.moduleSize = moduleSize;
    int result;
    {
        Updater updater(*this);
        result = updater.Run(request);
    }
    if (result == kUpdateSkipped) {
        // The archive was rewritten; what was left out is in the log.
        m_warning = TRUE;
        return S_OK;
    }
    return result == kUpdateDone ? S_OK : E_FAIL;
}

HRESULT CZipFormat::DoAdd() { return RunUpdate(nullptr, nullptr, nullptr, 0); }
HRESULT CZipFormat::DoDelete() { return RunUpdate(nullptr, nullptr, nullptr, 0); }
HRESULT CZipFormat::DoSetComment(LPCSTR comment) { return RunUpdate(comment, nullptr, nullptr, 0); }
HRESULT CZipFormat::DoUpdateEntries() { return RunUpdate(nullptr, nullptr, nullptr, 0); }
HRESULT CZipFormat::DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize) {
    return RunUpdate(nullptr, newProgramPath, module, moduleSize);
}
HRESULT CZipFormat::DoRemoveEXE(LPCSTR newArchivePath) { return RunUpdate(nullptr, newArchivePath, nullptr, 0); }

HRESULT CZipFormat::SetLevel(UINT levelIndex) {
    m_deflateLevel = DeflateLevelFromIndex(static_cast<int>(levelIndex));
    return S_OK;
}
