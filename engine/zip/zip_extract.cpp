// Extraction and testing of ZIP archives: DoExtract and DoTest.
//
// A run opens the archive like the reading hooks, walks the central
// directory (which also marks entries pointing outside the data area or
// overlapping others as damaged), and then goes through it in blocks of 64
// entries: each selected entry of a block is examined first (patched data,
// methods without a decoder and strong encryption are skipped with a report;
// the version an entry claims decides nothing by itself),
// then the block's remaining entries are extracted or tested in order. The
// directory is held for the whole run: the overlap test needs all of it
// before the first byte is written, and its size is bounded by the file.
//
// Output files pass through the core's path rules (BeginEntryOutput), so a
// stored "../x", "/x", "C:x" or "CON" never lands outside the destination or
// on a device. A member that fails part-way (invalid data, a failed write,
// cancel) leaves no partial file; one that decodes whole but with a wrong
// CRC is kept and reported.
#include "zip/zip_format.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/name_text.h"
#include "core/long_path.h"
#include "zip/zip_directory.h"
#include "zip/zip_file_input.h"
#include "zip/zip_member.h"

using namespace tessera;
using namespace tessera::zip;

namespace {

constexpr size_t kBlockEntries = 64;  // central entries examined before they are extracted
constexpr size_t kNameLimit = 259;    // characters of a stored name that are used
constexpr int kPasswordPrompts = 3;   // prompts for one entry before it is skipped

enum PasswordVerdict { kPasswordFits, kPasswordSkip, kPasswordCancel, kPasswordError, kPasswordDamaged,
                       kPasswordReadError };

DWORD ProgressAmount(uint64_t size) { return size >= kSentinel32 ? 0 : static_cast<DWORD>(size); }

const char* DecoderName(uint16_t method) {
    switch (method) {
    case kMethodDeflate: return "Inflate";
    case kMethodImplode: return "Implode";
    case kMethodShrink: return "Unshrink";
    case kMethodReduce1:
    case kMethodReduce1 + 1:
    case kMethodReduce1 + 2:
    case kMethodReduce4: return "Unreduce";
    default: return "Store";
    }
}

}  // namespace

struct CZipFormat::ExtractRun {
    explicit ExtractRun(RandomAccessInput& input) : reader(input) {}
    void Raise(int level) { this->level = std::max(this->level, level); }

    BlockReader reader;
    DirectoryLocation location;
    DirectoryWalk walk;
    std::optional<LocalHeaderLocator> locator;
    MemberDecoder decoder;
    ZipCryptoKeys keys;
    RunCounts counts;
    int level = kLevelOk;
};

// The output writer: progress, the cancel request and the target file.
class CZipFormat::OutputWriter final : public ByteSink {
public:
    OutputWriter(CZipFormat& format, bool write) : format_(format), write_(write) {}
    bool Write(const uint8_t* data, size_t size) override {
        format_.Progress(kProgressAdvance, static_cast<DWORD>(size));
        if (format_.m_cancel) return false;
        if (!write_ || size == 0) return true;
        if (!format_.WriteOutput(data, static_cast<DWORD>(size))) return false;  // reported; Cancel on disk full
        return true;
    }

private:
    CZipFormat& format_;
    bool write_;
};

HRESULT CZipFormat::DoExtract() { return ExtractOrTest(); }

HRESULT CZipFormat::DoTest() { return ExtractOrTest(); }

void CZipFormat::DisplayName(const char* name, char (&shown)[MAX_PATH]) {
    char converted[GETTEXT_BUFFER];
    if (SUCCEEDED(GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(name), converted)))
        lstrcpynA(shown, converted, MAX_PATH);
    else
        lstrcpynA(shown, name, MAX_PATH);
}

HRESULT CZipFormat::ResultOfLevel(int level) {
    switch (level) {
    case kLevelOk:
    case kLevelWarning:
        return S_OK;
    case kLevelEntryError:
    case kLevelTargetError:
        // Done, but not everything: never a plain success.
        m_warning = TRUE;
        return S_OK;
    case kLevelNoMemory:
    case kLevelDecoderNoMemory:
        return E_OUTOFMEMORY;
    case kLevelCancelled:
        return E_ABORT;
    default:
        return E_FAIL;
    }
}

HRESULT CZipFormat::ExtractOrTest() {
    m_skipAllEncrypted = false;
    if (!OpenArchiveFile()) return E_FAIL;
    struct Closer {
        CZipFormat* format;
        ~Closer() { format->CloseArchiveFile(); }
    } closer{this};
    ZipFileInput input(m_archiveFile);
    ExtractRun run(input);
    if (!run.reader.Allocate()) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    Reports reports;
    const bool opened = OpenDirectory(run.reader, ReadMode::Extract, &run.location, &reports);
    if (opened) WalkCentralDirectory(run.reader, run.location, &run.walk, &reports);
    run.level = ShowReports(reports);
    if (!opened) return run.level == kLevelNoMemory ? E_OUTOFMEMORY : E_FAIL;
    if (run.level >= kLevelEntryError) NoteDamage();  // the directory, reported above
    run.locator.emplace(run.location);

    std::vector<DirectoryEntry>& entries = run.walk.entries;
    uint64_t total = 0;
    if (m_allSelected) {
        for (const DirectoryEntry& e : entries) total += ProgressAmount(e.uncompressedSize);
    } else {
        total = m_bytesSelected;
    }
    Progress(kProgressBegin, total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(total));

    bool stop = false;
    std::vector<std::pair<size_t, void*>> block;  // entry index, selection detail
    for (size_t first = 0; first < entries.size() && !stop; first += kBlockEntries) {
        block.clear();
        const size_t last = std::min(entries.size(), first + kBlockEntries);
        for (size_t i = first; i < last && !m_cancel; ++i) {
            if (!IsSelected(NameText(entries[i]).c_str())) continue;
            void* detail = m_currentDetail;
            if (ExamineEntry(run, i)) block.emplace_back(i, detail);
        }
        for (const auto& item : block) {
            if (m_cancel || !ExtractEntry(run, item.first, item.second)) {
                stop = true;
                break;
            }
        }
        if (m_cancel) stop = true;
    }
    Progress(kProgressEnd, 0);
    if (m_cancel) return E_ABORT;
    if (!stop && run.walk.complete && !run.location.empty && !run.walk.endSignatureFollows) {
        Warn(IDS_NOTE_NO_END_HEADER);
        run.Raise(kLevelWarning);
    }
    ReportMissing();
    ReportTestSummary();
    return ResultOfLevel(FinalLevel(run.level, run.counts));
}

bool CZipFormat::ExamineEntry(ExtractRun& run, size_t index) {
    const DirectoryEntry& e = run.walk.entries[index];
    const CentralHeader& h = e.header;
    char shown[MAX_PATH];
    const EntryCheck check = CheckEntry(e);
    if (check == EntryCheck::Supported) return true;
    if (check == EntryCheck::Damaged) {  // the walk has reported it
        NoteFailed();
        return false;
    }
    DisplayName(NameText(e).c_str(), shown);
    const unsigned version = UnsupportedVersionOf(h.flags);
    switch (check) {
    case EntryCheck::StrongEncryption:
        LogSkip(shown, IDS_DECRYPTION_NOT_SUPPORTED);
        break;
    case EntryCheck::Version:
        LogSkip(shown, IDS_REQUIRES_VERSION, "PK", version / 10u, version % 10u, kHighestVersionNeeded / 10u,
                kHighestVersionNeeded % 10u);
        break;
    case EntryCheck::Method:
        LogSkip(shown, IDS_METHOD_NOT_SUPPORTED, MethodName(MethodWord(h.method, h.flags)).c_str());
        break;
    default:
        LogSkip(shown, IDS_METHOD_UNKNOWN, static_cast<int>(h.method));
        break;
    }
    ++run.counts.skippedUnsupported;
    NoteSkipped(kSkipUnsupported);
    m_warning = TRUE;
    Progress(kProgressAdvance, ProgressAmount(e.uncompressedSize));
    return false;
}

bool CZipFormat::ExtractEntry(ExtractRun& run, size_t index, void* detail) {
    const DirectoryEntry& e = run.walk.entries[index];
    const CentralHeader& h = e.header;
    const unsigned number = static_cast<unsigned>(index + 1);
    ++run.counts.reached;

    LocalEntry local;
    LocalResult located = run.locator->Locate(run.reader, e, &local);
    // The local header must describe the entry the directory names.
    if (located == LocalResult::Ok &&
        (local.name != e.name.substr(0, kNameLimit) || local.header.method != h.method ||
         ((local.header.flags ^ h.flags) & kFlagEncrypted)))
        located = LocalResult::Damaged;
    switch (located) {
    case LocalResult::Ok:
        break;
    case LocalResult::NotFound:
    case LocalResult::Damaged:
        Warn(located == LocalResult::NotFound ? IDS_FILE_NOT_FOUND : IDS_FILE_DAMAGED, number);
        run.Raise(kLevelDamaged);
        NoteFailed();
        Progress(kProgressAdvance, ProgressAmount(e.uncompressedSize));
        return true;
    case LocalResult::ReadError:
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
        run.Raise(kLevelReadError);
        NoteFailed();
        return false;
    }

    // With bit 3 the local sizes may be zero; the locator took the directory's.
    const uint64_t size = local.uncompressedSize;
    const DWORD shownSize = size >= kSentinel32 ? kSentinel32 : static_cast<DWORD>(size);
    FILETIME time = {};
    if (!DosDateTimeToFileTime(local.header.date, local.header.time, &time)) time = FILETIME{};
    DWORD attributes = ((h.externalAttributes & ~0x20u) | 0x20u) & 0x7Fu;
    if (!local.name.empty() && local.name.back() == '/') attributes |= FILE_ATTRIBUTE_DIRECTORY;
    // The local name is the directory's (checked above), shown as text.
    if (!BeginEntryOutput(NameText(e).c_str(), time, attributes, shownSize, static_cast<LPCSTR>(detail))) {
        Progress(kProgressAdvance, ProgressAmount(size));  // its outcome is noted
        return !m_cancel;
    }
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    uint64_t dataSize = local.compressedSize;
    ZipCryptoKeys* keys = nullptr;
    if (h.flags & kFlagEncrypted) {
        switch (dataSize < kEncryptionHeaderSize ? kPasswordDamaged
                                                 : CheckPassword(run, local.header.flags, local.crc, local.header.time)) {
        case kPasswordFits:
            keys = &run.keys;
            dataSize -= kEncryptionHeaderSize;
            break;
        case kPasswordSkip:
            LogSkip(FileNamePart(m_outputPath), IDS_PASSWORD_WRONG);
            ++run.counts.skippedPassword;
            NoteSkipped(kSkipPassword);
            m_warning = TRUE;
            Progress(kProgressAdvance, ProgressAmount(size));
            return true;
        case kPasswordCancel:
            run.Raise(kLevelCancelled);
            return false;
        case kPasswordDamaged:
            Warn(IDS_FILE_DAMAGED, number);
            run.Raise(kLevelDamaged);
            NoteFailed();
            return true;
        case kPasswordReadError:
            ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
            run.Raise(kLevelReadError);
            NoteFailed();
            return false;
        default:
            ReportError(IDS_OUT_OF_MEMORY);
            run.Raise(kLevelNoMemory);
            NoteFailed();
            return false;
        }
    }

    const bool writing = m_op != OP_TEST;
    if (writing) {
        HRESULT created = CreateTargetFile();
        if (created != S_OK) {
            // S_FALSE: a folder stands there (a folder entry), nothing to write.
            if (FAILED(created)) {
                run.Raise(kLevelTargetError);
                NoteFailed();
            } else if (folder) {
                NoteFolder();
            } else {
                NoteSkipped(kSkipOther);  // a folder stands where the file would go
            }
            Progress(kProgressAdvance, ProgressAmount(size));
            return !m_cancel;
        }
    }
    OutputWriter writer(*this, writing);
    const MemberResult result = run.decoder.Decode(run.reader, h.method, h.flags, dataSize, size, keys, writer);
    int level = kLevelOk;
    switch (result.kind) {
    case MemberResult::Ok:
        break;
    case MemberResult::NoMemory:
        ReportError(IDS_OUT_OF_MEMORY);
        level = kLevelDecoderNoMemory;
        break;
    case MemberResult::BadData:
        Warn(IDS_INVALID_COMPRESSED_DATA, DecoderName(h.method));
        level = kLevelEntryError;
        break;
    case MemberResult::ExplodeSize:
        if (result.used > dataSize) {
            Warn(IDS_BYTES_REQUIRED, static_cast<unsigned long>(result.used), static_cast<unsigned long>(size),
                 static_cast<unsigned long>(dataSize));
            level = kLevelEntryError;
        } else {
            level = kLevelWarning;
        }
        break;
    case MemberResult::Aborted:
        level = m_cancel ? kLevelCancelled : kLevelTargetError;  // a failed write is reported by the core
        break;
    case MemberResult::ReadError:
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
        level = kLevelReadError;
        break;
    }
    const bool partial = level >= kLevelEntryError;
    if (!partial && result.crc != local.crc) {
        Warn(IDS_BAD_CHECKSUM, static_cast<unsigned long>(result.crc), static_cast<unsigned long>(local.crc));
        level = kLevelEntryError;
    }
    if (writing) {
        if (partial) {
            // Nothing half-written stays behind as if it were the file.
            CloseHandle(m_outputFile);
            m_outputFile = INVALID_HANDLE_VALUE;
            tessera::DeleteFileAt(m_outputPath);
        } else {
            FinishTargetFile();
        }
    }
    run.Raise(level);
    if (level >= kLevelEntryError) {
        if (level != kLevelCancelled) NoteFailed();  // a cancelled entry is no entry's failure
    } else if (folder) {
        NoteFolder();
    } else {
        NoteProcessed();
    }
    return level != kLevelCancelled && level != kLevelReadError;
}

int CZipFormat::CheckPassword(ExtractRun& run, WORD flags, DWORD crc, WORD dosTime) {
    if (m_skipAllEncrypted) return kPasswordSkip;
    uint8_t header[kEncryptionHeaderSize];
    ReadStatus status = run.reader.Read(header, sizeof header);
    if (status == ReadStatus::ReadError) return kPasswordReadError;
    if (status != ReadStatus::Ok) return kPasswordDamaged;
    const uint8_t check = ZipCryptoCheckByte(flags, crc, dosTime);
    // The password as typed and in the OEM code page, in which DOS tools took it.
    auto fits = [&]() {
        const int length = lstrlenA(m_password);
        if (length == 0) return false;
        const std::string oem = tessera::TextToOem(m_password);
        return ZipCryptoTryPassword(header, reinterpret_cast<const uint8_t*>(m_password), length,
                                    reinterpret_cast<const uint8_t*>(oem.data()), oem.size(), check,
                                    &run.keys) != 0;
    };
    if (fits()) return kPasswordFits;
    // Unattended (no owner and no one answering prompts): nobody to ask.
    const ARCPROMPTHANDLER* handler = Prompts();
    if (!m_owner && !(handler && handler->Password)) return kPasswordSkip;
    for (int prompt = 0; prompt < kPasswordPrompts; ++prompt) {
        switch (PromptPassword(prompt > 0)) {
        case PASSWORD_RESULT_OK:
            if (fits()) return kPasswordFits;
            SetPassword("");
            break;
        case PASSWORD_RESULT_SKIP:
            return kPasswordSkip;
        case PASSWORD_RESULT_SKIPALL:
            m_skipAllEncrypted = true;
            return kPasswordSkip;
        case PASSWORD_RESULT_CANCEL:
            Cancel();
            return kPasswordCancel;
        default:
            return kPasswordError;
        }
    }
    return kPasswordSkip;
}
