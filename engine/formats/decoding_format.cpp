// Common ground of the decoding format classes (see decoding_format.h).
#include "formats/decoding_format.h"

#include "core/file_io.h"
#include "core/module.h"
#include "core/registry.h"

bool CDecodingFormat::EntrySink::Create() {
    pending_ = false;
    HRESULT created = format_.CreateTargetFile();
    if (created == S_OK) {
        open_ = true;
        return true;
    }
    // S_FALSE: the target is an existing folder, nothing to write.
    if (FAILED(created)) writeFailed_ = true;
    write_ = false;
    return false;
}

bool CDecodingFormat::EntrySink::Write(const uint8_t* data, size_t size) {
    format_.Progress(kProgressAdvance, static_cast<DWORD>(size));
    if (format_.m_cancel) return false;
    if (pending_ && !Create()) return true;
    if (write_ && !writeFailed_ && !format_.WriteOutput(data, static_cast<DWORD>(size))) {
        if (format_.m_cancel) return false;  // disk full answered with Cancel
        writeFailed_ = true;
    }
    return true;
}

void CDecodingFormat::EntrySink::Close(bool whole) {
    if (pending_ && whole && !format_.m_cancel) Create();
    pending_ = false;
    if (open_) {
        format_.FinishTargetFile();
        open_ = false;
    }
}

HRESULT CDecodingFormat::EndOutOfMemory(bool decoding) {
    if (decoding) Progress(kProgressEnd, 0);
    CloseArchiveFile();
    ReportError(IDS_OUT_OF_MEMORY);
    return E_OUTOFMEMORY;
}

void CDecodingFormat::ReportNotArchive() {
    char typeName[256] = "archive";
    const FORMATINFO* row = FormatRow(m_formatId);
    if (row && LoadStringA(EngineModule(), row->descriptionId, typeName, sizeof typeName) <= 0)
        lstrcpyA(typeName, "archive");
    ReportError(IDS_NOT_A_VALID_ARCHIVE, typeName);
}

void CDecodingFormat::DisplayName(LPCSTR stored, char (&shown)[MAX_PATH]) {
    char converted[GETTEXT_BUFFER];
    if (SUCCEEDED(GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(stored), converted)))
        lstrcpynA(shown, converted, MAX_PATH);
    else
        lstrcpynA(shown, stored ? stored : "", MAX_PATH);
}

bool CDecodingFormat::ReadFailed(const ArchiveFileInput& input) {
    if (!input.Failed()) return false;
    ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(input.Error()));
    return true;
}

HDRSTRUCT* CDecodingFormat::AppendEntry(const std::string& name) {
    LPSTR pooled = PoolString(name.c_str(), static_cast<DWORD>(name.size()));
    if (!pooled) {
        ReportError(IDS_OUT_OF_MEMORY);
        return nullptr;
    }
    HDRSTRUCT& entry = m_entries[m_totals.entries++];
    entry = HDRSTRUCT();
    entry.name = pooled;
    entry.host = entry.version = entry.method = 0xFFFFFFFF;
    return &entry;
}

HRESULT CDecodingFormat::EndDecoding(HRESULT result) {
    Progress(kProgressEnd, 0);
    CloseArchiveFile();
    if (m_cancel) return E_ABORT;
    if (FAILED(result)) return result;
    ReportMissing();
    ReportTestSummary();
    return S_OK;
}

HRESULT CDecodingFormat::AllocEntriesFor(DWORD count, uint64_t nameBytes) {
    if (count == 0) count = 1;
    // Every name takes its length, a NUL and up to 7 bytes of alignment;
    // with this share per entry the first block holds all of them.
    uint64_t perEntry = (nameBytes + count - 1) / count + 8;
    if (perEntry > 0x10000) perEntry = 0x10000;
    return AllocEntries(static_cast<DWORD>(perEntry), count);
}

bool CDecodingFormat::ReportEntry(LPCSTR shown, const EntryReport& r, const EntrySink* sink) {
    // The message of a failure: to the log, and to the owner as well where
    // the format shows entry failures.
    auto failure = [this](UINT id, auto... args) {
        if (m_entryFailuresShown)
            ReportError(id, args...);
        else
            Warn(id, args...);
    };
    SkipReason refusal = kSkipUnsupported;
    switch (r.result) {
    case EntryResult::kCancelled: return false;
    case EntryResult::kFolder: NoteFolder(); return false;
    case EntryResult::kDone:
        if (!sink || !sink->WriteFailed()) {
            NoteProcessed();
            return false;
        }
        break;  // reported by the core when the write failed
    case EntryResult::kBadChecksum: failure(IDS_BAD_CHECKSUM, r.found, r.expected); break;
    case EntryResult::kBadData: failure(IDS_INVALID_COMPRESSED_DATA, r.text); break;
    case EntryResult::kDamaged:
        if (r.text)
            failure(IDS_ARCHIVE_DAMAGED, r.text);
        else
            failure(IDS_FILE_DAMAGED, r.value);
        break;
    case EntryResult::kReadError: ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(r.error)); break;
    case EntryResult::kVolumeMissing: failure(IDS_VOLUME_CANNOT_BE_OPENED, r.text, SystemErrorText(r.error)); break;
    case EntryResult::kEncrypted: LogSkip(shown, IDS_DECRYPTION_NOT_SUPPORTED); return Refused(refusal);
    case EntryResult::kUnknownMethod:
        LogSkip(shown, IDS_METHOD_UNKNOWN, static_cast<int>(r.value));
        return Refused(refusal);
    case EntryResult::kNotSupported: LogSkip(shown, IDS_METHOD_NOT_SUPPORTED, r.text); return Refused(refusal);
    case EntryResult::kNeedsVersion:
        LogSkip(shown, IDS_REQUIRES_VERSION, r.text, r.value, 0u, r.supported, 0u);
        return Refused(refusal);
    case EntryResult::kNoMemory: LogSkip(shown, IDS_OUT_OF_MEMORY); return Refused(refusal);
    case EntryResult::kUnsafeName:
        LogSkip(shown, r.value ? IDS_REASON_PATH_TOO_LONG : IDS_REASON_UNSAFE_NAME);
        return Refused(kSkipOther);
    }
    EntryFailed();
    return true;
}

void CDecodingFormat::EntryFailed() {
    NoteFailed();
    m_warning = TRUE;
}

bool CDecodingFormat::Refused(SkipReason reason) {
    NoteSkipped(reason);
    m_warning = TRUE;
    return true;
}

void CDecodingFormat::ArchiveDamaged() {
    NoteDamage();
    m_warning = TRUE;
}

FILETIME CDecodingFormat::DosTimeToFileTime(uint32_t dosDateTime) {
    FILETIME time = {};
    if (!DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime), &time))
        time = FILETIME();
    return time;
}
