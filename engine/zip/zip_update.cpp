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

#include "codecs/deflate/deflate.h"
#include "codecs/zipcrypto/zipcrypto.h"
#include "core/file_io.h"
#include "core/name_text.h"
#include "core/prompts.h"
#include "core/services.h"
#include "zip/compress_ahead.h"
#include "zip/zip_directory.h"
#include "zip/zip_file_input.h"
#include "zip/zip_writer.h"
#include "win32/handles.h"

using namespace tessera;
using namespace tessera::zip;

namespace {

// Results of the update (the hooks map them to HRESULTs).
constexpr int kUpdateDone = 0;
constexpr int kUpdateEmpty = 13;    // no entries and nothing to add
constexpr int kUpdateSkipped = 18;  // done, but a file could not be added or updated
constexpr int kUpdateAborted = -1;  // failed; the old archive is untouched

const char kTempPrefix[] = "tsr";

// One entry of the update list: an entry of the old archive as the scan read
// it, or a new file (then only the name and the DOS flag of `entry` are set
// until it is compressed).
struct Item {
    UpdateEntry entry;        // old entry: local header offset absolute in the old file
    std::string text;         // the entry's name as text: what selections and files match
    bool marked = false;      // to be replaced (add) or dropped (delete)
    std::string path;         // file on disk, for marked and new entries
    uint32_t fileStamp = 0;   // the file's DOS date and time
    uint32_t newOffset = 0;   // local header offset in the new file
};

// A file named in the list that no old entry has.
struct NewFile {
    std::string path;
    std::string name;   // the name as text; stored by Compress
    bool dosFlag = false;
    uint64_t size = 0;  // as found when selected: the progress total
};

bool IsAddingOperation(DWORD op) { return op == OP_ADD || op == OP_UPDATE || op == OP_FRESHEN; }
bool IsExeConversion(DWORD op) { return op == OP_MAKEEXE || op == OP_REMOVEEXE; }

std::string Upper(const std::string& text) {
    std::string upper = text;
    if (!upper.empty()) CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    return upper;
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

// The file being written: deleted when the run ends without keeping it.
struct OutputFile {
    tessera::win32::FileHandle file;
    std::string path;
    bool keep = false;
    ~OutputFile() {
        file.reset();
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

    // Plan: scan the old archive, select, refine the marks; nothing is
    // written. kUpdateDone when the write may start.
    int Plan();
    bool Scan();
    void SelectForAdd();
    void SelectMarked();
    bool CheckDuplicates();
    LPCSTR UsableStoreOnlyList() const;
    void RefineMarks();
    bool SomethingToDo() const;

    // Write: the new file from prefix to end record; false aborts the run.
    void StartProgress(const Request& request);
    bool OpenOutput(const Request& request);
    bool Write(const Request& request);
    bool WritePrefix(const Request& request);
    bool WriteOldEntry(Item& item, std::vector<Item>* written);
    bool WriteNewFile(const NewFile& file, std::vector<Item>* written);
    bool CopyEntry(Item& item);
    bool Recompressed(const Item& item) const;
    static uint16_t ChooseMethod(const CompressAhead::Settings& settings, const std::string& name,
                                 const SourceFile& source);
    bool StartCompressing();
    FileResult Compress(Item& item);
    void WarnSourceProblem(const Item& item, const CompressAhead::Result& examined);
    bool WriteData(const Item& item, const CompressAhead::Result& examined, CompressAhead::Result* finished);
    bool FinishLocalRecord(uint64_t offset, uint64_t dataStart, bool encrypted, const CompressAhead::Result& finished,
                           LocalHeader* header);
    bool WriteDirectory();

    // Commit: put the new file in place, then the archive time and the moved files.
    int Commit(const Request& request);
    void DeleteSources();
    void SetArchiveTime(LPCSTR path);

    std::string DisplayName(const std::string& stored);
    bool ShowScanReports(const Reports& reports) { return f_.ShowReports(reports) < kLevelEntryError; }

    CZipFormat& f_;
    DWORD op_ = 0;
    std::vector<Item> items_;
    std::vector<NewFile> newFiles_;
    std::string comment_;             // archive comment (OEM)
    uint64_t prefixLength_ = 0;
    DWORD oldAttributes_ = FILE_ATTRIBUTE_ARCHIVE;  // given to the new file
    LPCSTR storeOnly_ = nullptr;      // null: the store-only list is not used
    OutputFile output_;
    std::unique_ptr<Writer> writer_;
    std::vector<std::string> addedFiles_;  // files whose data went into the archive
    bool progressStarted_ = false;
    int result_ = kUpdateDone;
    // Last: its workers stop before anything they might use goes.
    std::unique_ptr<CompressAhead> ahead_;
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

    // Write() encrypts from Start() to the end of the scope, whichever way
    // the scope is left.
    class EncryptionScope {
    public:
        explicit EncryptionScope(Writer& writer) : writer_(writer) {}
        ~EncryptionScope() { writer_.encrypting_ = false; }
        EncryptionScope(const EncryptionScope&) = delete;
        EncryptionScope& operator=(const EncryptionScope&) = delete;
        void Start(const ZipCryptoKeys& keys) {
            writer_.keys_ = keys;
            writer_.encrypting_ = true;
        }

    private:
        Writer& writer_;
    };

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

// --- the procedure: plan, write, commit ---

int CZipFormat::Updater::Run(const Request& request) {
    op_ = f_.m_op;
    f_.ShowStatus(IDS_PREPARING);
    const int planned = Plan();
    if (planned != kUpdateDone) return planned;
    StartProgress(request);
    if (!OpenOutput(request) || !Write(request)) return kUpdateAborted;
    return Commit(request);
}

std::string CZipFormat::Updater::DisplayName(const std::string& stored) {
    char display[GETTEXT_BUFFER + 1] = "";
    f_.GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(stored.c_str()), display);
    return display;
}

// --- plan ---

int CZipFormat::Updater::Plan() {
    // The old archive, when there is one.
    const DWORD attributes = GetFileAttributesA(f_.m_archivePath);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        oldAttributes_ = attributes;
        if (!Scan()) return kUpdateAborted;
    }

    if (IsAddingOperation(op_)) {
        SelectForAdd();
    } else if (op_ == OP_DELETE || op_ == OP_UPDATEENTRIES) {
        SelectMarked();
    }
    if (!CheckDuplicates()) return kUpdateAborted;
    storeOnly_ = UsableStoreOnlyList();

    // An empty archive only takes additions.
    if (items_.empty() && op_ != OP_ADD) {
        f_.Warn(IDS_ARCHIVE_EMPTY);
        return kUpdateEmpty;
    }
    if (IsAddingOperation(op_)) RefineMarks();
    if (!SomethingToDo()) return kUpdateAborted;
    // More entries than the end record can count would need ZIP64 records,
    // which this writer does not make: refused before anything is written.
    size_t entries = items_.size() + newFiles_.size();
    if (op_ == OP_DELETE)
        for (const Item& item : items_) entries -= item.marked ? 1 : 0;
    if (entries > kMaxEntries) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return kUpdateAborted;
    }
    return kUpdateDone;
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
    items_.resize(scan.entries.size());
    for (size_t i = 0; i < items_.size(); ++i) {
        UpdateEntry& entry = items_[i].entry;
        entry = std::move(scan.entries[i]);
        const auto* extra = reinterpret_cast<const uint8_t*>(entry.centralExtra.data());
        items_[i].text = NameText(entry.central, entry.name,
                                  UnicodePathName(extra, entry.centralExtra.size(), entry.name));
    }
    return true;
}

void CZipFormat::Updater::SelectForAdd() {
    // Old entries by their upper-cased name.
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < items_.size(); ++i) byName.emplace(Upper(items_[i].text), i);
    for (const ADDFILEINFO* file = f_.m_files; file && file->length != 0; file = ADDFILEINFO_NEXT(file)) {
        std::string path = file->path;
        WIN32_FIND_DATAA found;
        if (!tessera::win32::FindHandle(FindFirstFileA(path.c_str(), &found)))
            continue;  // paths that do not exist are ignored
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
        bool utf8 = false;
        if (name.empty() || tessera::NameToStore(name, &utf8).size() > kMaxFieldLength) continue;
        auto old = byName.find(Upper(name));
        if (old != byName.end()) {
            Item& item = items_[old->second];
            item.marked = true;
            item.path = path;
            item.fileStamp = StampOf(found.ftLastWriteTime);
        } else {
            NewFile record;
            record.path = path;
            record.name = name;
            record.dosFlag = f_.m_shortNames != 0;
            record.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            newFiles_.push_back(std::move(record));
        }
    }
}

void CZipFormat::Updater::SelectMarked() {
    for (Item& item : items_) {
        UpdateEntry& entry = item.entry;
        if (!f_.IsSelected(item.text.c_str())) continue;
        item.marked = true;
        if (op_ != OP_UPDATEENTRIES || !f_.m_currentDetail) continue;
        const ENTRYPROPS* props = static_cast<const ENTRYPROPS*>(f_.m_currentDetail);
        entry.central.externalAttributes = entry.dosFlag ? (props->attributes & 0xFF) : props->attributes;
        bool utf8 = false;  // the entry's flag decides, not the comment
        entry.comment = (entry.central.flags & kFlagUtf8) ? tessera::NameToStore(props->comment, &utf8)
                                                          : tessera::TextToOem(props->comment);
        if (entry.comment.size() > kMaxFieldLength) entry.comment.resize(kMaxFieldLength);
    }
}

// Two new files must not share a stored name; the same file named twice is
// added once.
bool CZipFormat::Updater::CheckDuplicates() {
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
        f_.ReportError(IDS_NAME_REPEATED, DisplayName(newFiles_[i].name).c_str(), first.path.c_str(),
                       newFiles_[i].path.c_str());
        return false;
    }
    return true;
}

// The store-only list is not used at the strongest level, nor when it names
// nothing.
LPCSTR CZipFormat::Updater::UsableStoreOnlyList() const {
    const LPCSTR list = f_.m_storeOnlyList;
    if (f_.m_deflateLevel == 9 || !list || !*list || !lstrcmpA(list, ";") || !lstrcmpA(list, ":")) return nullptr;
    return list;
}

// Which marks stand, which new files stay.
void CZipFormat::Updater::RefineMarks() {
    for (Item& item : items_) {
        if (!item.marked) continue;
        if (GetFileAttributesA(item.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            item.marked = false;
        } else if ((op_ == OP_UPDATE || op_ == OP_FRESHEN) &&
                   item.fileStamp <= DosStamp(item.entry.central.date, item.entry.central.time)) {
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

// With nothing marked and nothing new, only the operations that rewrite every
// entry go on, and those only on an archive with entries (a new program may
// be made of an empty one).
bool CZipFormat::Updater::SomethingToDo() const {
    const bool anyMarked = std::any_of(items_.begin(), items_.end(), [](const Item& item) { return item.marked; });
    if (anyMarked || !newFiles_.empty()) return true;
    if (!IsExeConversion(op_) && op_ != OP_SETCOMMENT && op_ != OP_UPDATEENTRIES) {
        f_.ReportError(IDS_NOTHING_TO_DO);
        return false;
    }
    if (items_.empty() && op_ != OP_MAKEEXE) {
        f_.Warn(IDS_ARCHIVE_EMPTY);
        return false;
    }
    return true;
}

// --- write ---

// Progress over everything that will be read or copied.
void CZipFormat::Updater::StartProgress(const Request& request) {
    uint64_t total = op_ == OP_MAKEEXE ? request.moduleSize : (op_ == OP_REMOVEEXE ? 0 : prefixLength_);
    for (const Item& item : items_) {
        if (item.marked && op_ == OP_DELETE) continue;
        total += item.marked && op_ != OP_UPDATEENTRIES ? item.entry.central.uncompressedSize : item.entry.copyLength;
    }
    for (const NewFile& file : newFiles_) total += file.size;
    f_.Progress(kProgressBegin, total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total));
    progressStarted_ = true;
}

bool CZipFormat::Updater::OpenOutput(const Request& request) {
    if (IsExeConversion(op_)) {
        HANDLE file = f_.CreateArchiveFile(request.outputPath);
        if (file == INVALID_HANDLE_VALUE) return false;
        output_.file.reset(file);
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
        output_.file.reset(file);
    }
    char drive = output_.path[0];
    char full[MAX_PATH];
    if (GetFullPathNameA(output_.path.c_str(), MAX_PATH, full, nullptr) && full[1] == ':') drive = full[0];
    writer_.reset(new (std::nothrow) Writer(f_, output_.file.get(), drive));
    if (!writer_) {
        f_.ReportError(IDS_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

// Prefix, old entries, new files, central directory and end record.
bool CZipFormat::Updater::Write(const Request& request) {
    if (!WritePrefix(request) || !StartCompressing()) return false;
    std::vector<Item> written;
    written.reserve(items_.size() + newFiles_.size());
    for (Item& item : items_) {
        if (f_.m_cancel || !WriteOldEntry(item, &written)) return false;
    }
    for (const NewFile& file : newFiles_) {
        if (f_.m_cancel || !WriteNewFile(file, &written)) return false;
    }
    items_ = std::move(written);
    ahead_.reset();
    if (op_ == OP_SETCOMMENT) {
        comment_ = tessera::TextToOem(request.newComment ? request.newComment : "");
        if (comment_.size() > kMaxFieldLength) comment_.resize(kMaxFieldLength);
    }
    return WriteDirectory();
}

bool CZipFormat::Updater::WritePrefix(const Request& request) {
    if (op_ == OP_MAKEEXE) {
        if (request.moduleSize && !writer_->WriteRaw(request.module, request.moduleSize)) return false;
        f_.Progress(kProgressAdvance, request.moduleSize);
        return true;
    }
    if (op_ == OP_REMOVEEXE || !prefixLength_) return true;
    f_.Log(IDS_COPYING, "EXE-Header");
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(f_.m_archiveFile, zero, nullptr, FILE_BEGIN)) {
        f_.ReportError(IDS_ERROR_READING_FILE, f_.m_archivePath, f_.SystemErrorText());
        return false;
    }
    if (!f_.CopyData(f_.m_archiveFile, output_.file.get(), static_cast<DWORD>(prefixLength_), output_.path[0]))
        return false;
    writer_->Advance(prefixLength_);
    return true;
}

// Copied, dropped or replaced; a file that cannot replace its entry leaves
// the old entry in place.
bool CZipFormat::Updater::WriteOldEntry(Item& item, std::vector<Item>* written) {
    const std::string display = DisplayName(item.text);
    if (!item.marked || op_ == OP_UPDATEENTRIES) {  // see Recompressed
        f_.Log(IDS_COPYING, display.c_str());
        if (!CopyEntry(item)) return false;
    } else if (op_ == OP_DELETE) {
        f_.Log(IDS_DELETING, display.c_str());
        return true;
    } else {
        f_.Log(IDS_UPDATING, display.c_str());
        Item replacement = item;
        switch (Compress(replacement)) {
        case FileResult::Done:
            item = std::move(replacement);
            break;
        case FileResult::Skipped:
            f_.Warn(IDS_COPYING_NOT_UPDATED, display.c_str());
            result_ = kUpdateSkipped;
            item.marked = false;
            if (!CopyEntry(item)) return false;
            break;
        case FileResult::Abort:
            return false;
        }
    }
    written->push_back(std::move(item));
    return true;
}

bool CZipFormat::Updater::WriteNewFile(const NewFile& file, std::vector<Item>* written) {
    Item item;
    item.text = file.name;
    item.entry.dosFlag = file.dosFlag;
    item.path = file.path;
    item.marked = true;
    f_.Log(IDS_COMPRESSING, DisplayName(item.text).c_str());
    switch (Compress(item)) {
    case FileResult::Done:
        written->push_back(std::move(item));
        return true;
    case FileResult::Skipped:
        result_ = kUpdateSkipped;
        return true;
    case FileResult::Abort:
        break;
    }
    return false;
}

bool CZipFormat::Updater::CopyEntry(Item& item) {
    const UpdateEntry& entry = item.entry;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(entry.central.localOffset);
    if (!SetFilePointerEx(f_.m_archiveFile, at, nullptr, FILE_BEGIN)) {
        f_.ReportError(IDS_ERROR_READING_FILE, f_.m_archivePath, f_.SystemErrorText());
        return false;
    }
    if (writer_->Position() + entry.copyLength > 0xFFFFFFFFull) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return false;
    }
    item.newOffset = static_cast<uint32_t>(writer_->Position());
    if (!f_.CopyData(f_.m_archiveFile, output_.file.get(), static_cast<DWORD>(entry.copyLength), output_.path[0]))
        return false;
    writer_->Advance(entry.copyLength);
    return true;
}

// Whether Write compresses the item's file again: it calls Compress for
// exactly these items of the list, in list order, then for every new file.
bool CZipFormat::Updater::Recompressed(const Item& item) const {
    return item.marked && op_ != OP_UPDATEENTRIES && op_ != OP_DELETE;
}

uint16_t CZipFormat::Updater::ChooseMethod(const CompressAhead::Settings& settings, const std::string& name,
                                           const SourceFile& source) {
    const bool store = source.folder || source.size == 0 || settings.level == 0 ||
                       (settings.storeOnly && MatchesExtensionList(name.c_str(), settings.storeOnly));
    return store ? kMethodStored : kMethodDeflate;
}

namespace {

// "CompressionThreads" in "Settings" caps the threads; missing or 0: one per processor.
unsigned CompressionThreads() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    DWORD threads = system.dwNumberOfProcessors ? system.dwNumberOfProcessors : 1;
    DWORD cap = 0;
    if (ReadSettingInt("Settings", "CompressionThreads", &cap) && cap != 0 && cap < threads) threads = cap;
    return threads > 64 ? 64u : static_cast<unsigned>(threads);
}

}  // namespace

// Hands every file Write will compress to the workers, in the order Write
// reaches them.
bool CZipFormat::Updater::StartCompressing() {
    std::vector<CompressAhead::File> files;
    for (const Item& item : items_) {
        if (Recompressed(item)) files.push_back({item.path, item.text});
    }
    for (const NewFile& file : newFiles_) files.push_back({file.path, file.name});
    if (files.empty()) return true;
    CompressAhead::Settings settings;
    settings.level = f_.m_deflateLevel;
    settings.storeOnly = storeOnly_;
    settings.outputSeekable = GetFileType(output_.file.get()) == FILE_TYPE_DISK;
    settings.threads = CompressionThreads();
    ahead_.reset(new (std::nothrow) CompressAhead(settings, &ChooseMethod, std::move(files)));
    if (!ahead_ || !ahead_->Start()) {
        f_.ReportError(IDS_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

// One file into a new entry: local header as far as known, encryption
// header, data, then the final values in the local header.
CZipFormat::Updater::FileResult CZipFormat::Updater::Compress(Item& item) {
    CompressAhead::Result examined;
    if (!ahead_->Next([this] { return !f_.m_cancel; }, &examined)) return FileResult::Abort;
    if (examined.problem != SourceProblem::kNone) {
        WarnSourceProblem(item, examined);
        return FileResult::Skipped;
    }
    const SourceFile& source = examined.source;

    // A fresh entry: no extra fields, method by kind and list; a name
    // beyond ASCII is stored as UTF-8 under the flag.
    UpdateEntry& entry = item.entry;
    entry.localExtra.clear();
    entry.localExtraIsCentral = false;
    entry.centralExtra.clear();
    bool utf8 = false;
    entry.name = tessera::NameToStore(item.text, &utf8);
    const bool encrypted = f_.m_password[0] != '\0' && !source.folder;
    LocalHeader header = FirstLocalHeader(examined.method, source.dosTime, source.dosDate, encrypted, source.size,
                                          static_cast<uint16_t>(entry.name.size()));
    if (utf8) header.flags |= kFlagUtf8;
    const uint64_t offset = writer_->Position();
    item.newOffset = static_cast<uint32_t>(offset);
    if (!writer_->WriteRaw(LocalRecordBytes(header, entry.name, std::string()).data(),
                           kLocalHeaderSize + entry.name.size()))
        return FileResult::Abort;

    CompressAhead::Result finished = examined;
    const uint64_t dataStart = writer_->Position() + (encrypted ? kZipCryptoHeaderSize : 0);
    if (!WriteData(item, examined, &finished)) return FileResult::Abort;
    if (!FinishLocalRecord(offset, dataStart, encrypted, finished, &header)) return FileResult::Abort;

    const uint32_t attributes = source.attributes & ~FILE_ATTRIBUTE_NORMAL;
    entry.local = header;
    entry.central = CentralFromLocal(header, VersionMadeByFor(entry.dosFlag, f_.m_shortNames != 0), finished.internalAttributes,
                                     ExternalAttributesFor(attributes, entry.dosFlag), item.newOffset,
                                     static_cast<uint16_t>(entry.comment.size()));
    if (!source.folder) addedFiles_.push_back(item.path);
    return FileResult::Done;
}

void CZipFormat::Updater::WarnSourceProblem(const Item& item, const CompressAhead::Result& examined) {
    switch (examined.problem) {
    case SourceProblem::kCannotOpen:
        f_.Warn(IDS_ERROR_OPENING_FILE, item.path.c_str(), f_.SystemErrorText(examined.error));
        break;
    case SourceProblem::kFileAndFolderSame:
        f_.Warn(IDS_FILE_AND_FOLDER_SAME_NAME, DisplayName(item.text).c_str());
        break;
    case SourceProblem::kTooLarge:
        f_.Warn(IDS_FILE_TOO_LARGE, item.path.c_str(), static_cast<unsigned long>(examined.megabytes));
        break;
    case SourceProblem::kNone:
        break;
    }
}

// The encryption header (with a password) and the data the workers made.
// The cipher covers exactly this span: the scope stops it on every way out.
// A file that could not be read to its end is not stored cut short: the
// update stops and the old archive stays as it was.
bool CZipFormat::Updater::WriteData(const Item& item, const CompressAhead::Result& examined,
                                    CompressAhead::Result* finished) {
    if (examined.source.folder) return true;
    Writer::EncryptionScope encryption(*writer_);
    if (f_.m_password[0] != '\0') {
        uint8_t crypt[kZipCryptoHeaderSize];
        ZipCryptoKeys keys;
        ZipCryptoMakeHeader(reinterpret_cast<const uint8_t*>(f_.m_password),
                            static_cast<size_t>(lstrlenA(f_.m_password)),
                            static_cast<uint32_t>(examined.source.dosTime) << 16, crypt, &keys);
        if (!writer_->WriteRaw(crypt, sizeof crypt)) return false;
        encryption.Start(keys);
    }
    // Waiting for the workers keeps the windows alive and the Cancel button working.
    const CompressAhead::Idle idle = [this] {
        f_.Progress(kProgressAdvance, 0);
        return !f_.m_cancel;
    };
    uint64_t reported = 0;
    std::vector<uint8_t> chunk;
    for (;;) {
        uint64_t readSoFar = 0;
        bool ended = false;
        if (!ahead_->Chunk(idle, &chunk, &readSoFar, &ended, finished)) return false;
        if (ended) break;
        if (!writer_->Write(chunk.data(), chunk.size())) return false;
        f_.Progress(kProgressAdvance, static_cast<DWORD>(readSoFar - reported));
        reported = readSoFar;
    }
    if (finished->count > reported) f_.Progress(kProgressAdvance, static_cast<DWORD>(finished->count - reported));
    if (finished->readFailed) {
        f_.ReportError(IDS_ERROR_READING_FILE, item.path.c_str(), f_.SystemErrorText(finished->error));
        return false;
    }
    if (finished->codec == CodecResult::kNoMemory) {
        f_.ReportError(IDS_OUT_OF_MEMORY);
        return false;
    }
    return finished->codec == CodecResult::kOk && !f_.m_cancel;
}

// The final values into the local header: rewritten in place on a disk file,
// where bit 3 then stays only for an encrypted entry; a descriptor follows
// the data wherever bit 3 stays.
// The encoder's option bits 1-2 join the header's own flags.
bool CZipFormat::Updater::FinishLocalRecord(uint64_t offset, uint64_t dataStart, bool encrypted,
                                            const CompressAhead::Result& finished, LocalHeader* header) {
    const uint64_t compressed = writer_->Position() - dataStart + (encrypted ? kZipCryptoHeaderSize : 0);
    if (finished.count > 0xFFFFFFFFull || compressed > 0xFFFFFFFFull) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return false;
    }
    header->flags = static_cast<uint16_t>((header->flags & ~6u) | finished.flags);
    FinishLocalHeader(header, finished.method, finished.crc, static_cast<uint32_t>(compressed),
                      static_cast<uint32_t>(finished.count));

    if (GetFileType(output_.file.get()) == FILE_TYPE_DISK) {
        const uint64_t end = writer_->Position();
        uint8_t bytes[kLocalHeaderSize];
        SerializeLocalHeader(*header, bytes);
        if (!writer_->SeekTo(offset)) {
            f_.ReportError(IDS_ERROR_READING_FILE, output_.path.c_str(), f_.SystemErrorText());
            return false;
        }
        if (!writer_->WriteRaw(bytes, sizeof bytes)) return false;  // reported by the writer
        if (!writer_->SeekTo(end)) {
            f_.ReportError(IDS_ERROR_READING_FILE, output_.path.c_str(), f_.SystemErrorText());
            return false;
        }
    } else {
        header->flags |= kFlagDescriptor;
    }
    if (!WritesDescriptor(header->flags)) return true;
    DataDescriptor descriptor;
    descriptor.crc = header->crc;
    descriptor.compressedSize = header->compressedSize;
    descriptor.uncompressedSize = header->uncompressedSize;
    uint8_t bytes[kDescriptorSize];
    SerializeDataDescriptor(descriptor, bytes);
    return writer_->WriteRaw(bytes, sizeof bytes);
}

bool CZipFormat::Updater::WriteDirectory() {
    if (items_.size() > kMaxEntries) {
        f_.ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, f_.SystemErrorText(ERROR_FILE_TOO_LARGE));
        return false;
    }
    const uint64_t start = writer_->Position();
    std::string directory;
    for (const Item& item : items_) {
        const UpdateEntry& e = item.entry;
        AppendCentralRecord(e.central, e.name, e.centralExtra, e.comment, item.newOffset, &directory);
    }
    if (!directory.empty() && !writer_->WriteRaw(directory.data(), directory.size())) return false;
    const std::string end = EndRecordBytes(static_cast<uint16_t>(items_.size()), static_cast<uint32_t>(directory.size()),
                                           static_cast<uint32_t>(start), comment_);
    return writer_->WriteRaw(end.data(), end.size());
}

// --- commit ---

// Closes everything and puts the new file in place. A write the system only
// reports when the data reaches the disk fails the update here.
int CZipFormat::Updater::Commit(const Request& request) {
    if (!FlushFileBuffers(output_.file.get())) {
        f_.ReportError(IDS_ERROR_WRITING_TEMP_FILE, f_.SystemErrorText());
        return kUpdateAborted;
    }
    output_.file.reset();
    f_.CloseArchiveFile();
    // From here on the output is complete: a new program or archive beside
    // the old one stays; a temporary file is kept if the replace fails (the
    // message names it) and removed by the replace otherwise.
    output_.keep = true;
    if (!IsExeConversion(op_) && !f_.ReplaceArchive(f_.m_archivePath, output_.path.c_str())) return kUpdateAborted;
    const LPCSTR finalPath = IsExeConversion(op_) ? request.outputPath : f_.m_archivePath;
    SetFileAttributesA(finalPath, oldAttributes_);

    if (f_.m_archiveTimeFromNewest) SetArchiveTime(finalPath);
    if (f_.m_deleteSources && IsAddingOperation(op_)) DeleteSources();
    return result_;
}

void CZipFormat::Updater::SetArchiveTime(LPCSTR path) {
    uint32_t newest = 0;
    for (const Item& item : items_) {
        const UpdateEntry& e = item.entry;
        if (e.central.externalAttributes & kAttributeFolder) continue;
        if (!e.name.empty() && e.name.back() == '/') continue;
        newest = std::max(newest, DosStamp(e.central.date, e.central.time));
    }
    if (newest == 0) return;
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(static_cast<WORD>(newest >> 16), static_cast<WORD>(newest), &local) ||
        !LocalFileTimeToFileTime(&local, &utc))
        return;
    tessera::win32::FileHandle file(CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file || !SetFileTime(file.get(), nullptr, nullptr, &utc))
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
        const std::string& name = item.entry.name;
        if (!item.marked || item.path.empty() || name.empty() || name.back() != '/') continue;
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
