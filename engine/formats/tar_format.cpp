// The format class of TAR archives: listing and extraction over the TAR
// header walk. Links, devices and FIFOs are listed but not extracted (the
// file system of the target has no place for them); folder entries create
// their folders.
#include "formats/tar_format.h"

#include "core/file_io.h"
#include "core/name_text.h"
#include "formats/format_support.h"
#include "formats/tar/tar_reader.h"

#include <vector>

using tessera::tar::EntryKind;
using tessera::tar::TarEntry;
using tessera::tar::TarReader;
using tessera::tar::TarStatus;

namespace {

constexpr DWORD kReadPiece = 32768;
constexpr DWORD kNameSpacePerEntry = 120;

bool IsFolderEntry(const TarEntry& e) { return e.kind == EntryKind::Folder; }

// Why an entry of this kind is not extracted (filled into "method '%s' not supported").
const char* UnextractableKind(EntryKind kind) {
    switch (kind) {
    case EntryKind::HardLink: return "hard link";
    case EntryKind::SymbolicLink: return "symbolic link";
    case EntryKind::CharDevice: return "character device";
    case EntryKind::BlockDevice: return "block device";
    case EntryKind::Fifo: return "FIFO";
    case EntryKind::Unsupported: return "sparse or multi-volume file";
    default: return nullptr;
    }
}

}  // namespace

FILETIME UnixTimeToLocalFileTime(long long seconds) {
    // FILETIME counts 100 ns from 1601; keep the value inside what
    // FileTimeToLocalFileTime accepts.
    const long long kEpochDelta = 11644473600LL;
    const long long kMaxSeconds = 0x7FFFFFFFFFFFFFFFLL / 10000000LL - kEpochDelta - 86400;
    if (seconds < -kEpochDelta) seconds = -kEpochDelta;
    if (seconds > kMaxSeconds) seconds = kMaxSeconds;
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(seconds + kEpochDelta) * 10000000ULL;
    FILETIME utc = {value.LowPart, value.HighPart}, local = {};
    if (!FileTimeToLocalFileTime(&utc, &local)) local = utc;
    return local;
}

CTarFormat::CTarFormat() = default;

HRESULT STDMETHODCALLTYPE CTarFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    if (kind != TEXT_PATH) return S_OK;  // no versions, methods or comments
    return ConvertStoredName(value, buffer);
}

HRESULT CTarFormat::DoList() { return ListTar(); }

// Whether the file starts with a TAR header: named, with a checksum that holds.
HRESULT CTarFormat::DoCheck(BOOL* result) {
    *result = FALSE;
    if (!OpenArchiveFile()) return E_FAIL;
    uint8_t block[512];
    DWORD got = 0;
    const bool read = EngineReadFile(m_archiveFile, block, sizeof block, &got) != FALSE;
    CloseArchiveFile();
    *result = read && got == sizeof block && block[0] != 0 && tessera::tar::HeaderChecksumHolds(block);
    if (*result) return S_OK;
    ReportNotArchive();
    return E_FAIL;
}

HRESULT CTarFormat::DoExtract() { return ExtractTar(); }

bool CTarFormat::ReportWalkEnd(int status, unsigned damagedHeaders, const ArchiveFileInput& source) {
    if (ReadFailed(source)) return false;
    // Once, however many headers the walk had to pass over.
    if (damagedHeaders) Warn(IDS_ARCHIVE_DAMAGED, "a header checksum is wrong");
    switch (static_cast<TarStatus>(status)) {
    case TarStatus::End: break;
    case TarStatus::Truncated: Warn(IDS_ARCHIVE_DAMAGED, "unexpected end of the archive"); break;
    case TarStatus::BadHeader: Warn(IDS_ARCHIVE_DAMAGED, "a header holds an impossible size"); break;
    case TarStatus::Entry: break;
    }
    return true;
}

HRESULT CTarFormat::ListTar() {
    if (!OpenArchiveFile()) return E_FAIL;
    // A first walk over the headers alone (the data is passed over) counts
    // the members, so the list is sized by what the archive holds rather
    // than by its size; the second one fills it.
    DWORD count = 0;
    {
        ArchiveFileInput source(m_archiveFile);
        TarReader reader(source);
        TarEntry e;
        while (reader.Next(e) == TarStatus::Entry && count < 0x7FFFFFFF && !m_cancel) ++count;
        if (ReadFailed(source)) {
            CloseArchiveFile();
            return E_FAIL;
        }
    }
    HRESULT hr = AllocEntries(kNameSpacePerEntry, count ? count : 1);
    if (FAILED(hr)) {
        CloseArchiveFile();
        return hr;
    }
    ArchiveFileInput source(m_archiveFile);
    TarReader reader(source);
    TarEntry e;
    TarStatus status;
    while ((status = reader.Next(e)) == TarStatus::Entry) {
        if (m_cancel) break;
        e.name = tessera::StoredText(e.name, tessera::StoredEncoding::kUtf8OrOem);
        if (m_totals.entries >= EntryCapacity()) break;  // the file grew between the two walks
        LPSTR name = PoolString(e.name.c_str(), static_cast<DWORD>(e.name.size()));
        if (!name) {
            ReportError(IDS_OUT_OF_MEMORY);
            CloseArchiveFile();
            return E_OUTOFMEMORY;
        }
        HDRSTRUCT& h = m_entries[m_totals.entries++];
        h = HDRSTRUCT();
        h.name = name;
        h.size = h.packedSize = ClampSize(e.size);
        h.ratio = ComputeRatio(h.size, h.packedSize);
        h.time = UnixTimeToLocalFileTime(e.mtime);
        h.attributes = IsFolderEntry(e) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        if (IsFolderEntry(e)) ++m_totals.folders;
        m_totals.totalSize += h.size;
        m_totals.totalPacked += h.packedSize;
    }
    TrimPool();
    bool ok = m_cancel || ReportWalkEnd(static_cast<int>(status), reader.DamagedHeaders(), source);
    CloseArchiveFile();
    return m_cancel ? E_ABORT : ok ? S_OK : E_FAIL;
}

bool CTarFormat::WriteEntryData(TarReader& reader, bool* whole) {
    std::vector<uint8_t> piece(kReadPiece);
    bool writing = true;
    size_t n;
    while ((n = reader.ReadData(piece.data(), piece.size())) > 0) {
        Progress(kProgressAdvance, static_cast<DWORD>(n));
        if (m_cancel) return false;
        // After a failed write (reported) the rest of the data is skipped.
        if (writing && m_op != OP_TEST && !WriteOutput(piece.data(), static_cast<DWORD>(n))) {
            if (m_cancel) return false;
            writing = false;
        }
    }
    *whole = writing && !reader.Truncated();  // a short entry shows in the walk's end status too
    return true;
}

HRESULT CTarFormat::ExtractTar() {
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput source(m_archiveFile);
    TarReader reader(source);
    TarEntry e;
    TarStatus status;
    Progress(kProgressBegin, m_allSelected ? m_totals.totalSize : m_bytesSelected);
    while ((status = reader.Next(e)) == TarStatus::Entry && !m_cancel) {
        e.name = tessera::StoredText(e.name, tessera::StoredEncoding::kUtf8OrOem);
        if (!IsSelected(e.name.c_str())) continue;  // the walk skips its data
        if (const char* kind = UnextractableKind(e.kind)) {
            char shown[MAX_PATH];
            DisplayName(e.name.c_str(), shown);
            ReportEntry(shown, EntryReport::WithText(EntryResult::kNotSupported, kind));
            Progress(kProgressAdvance, ClampSize(e.size));
            continue;
        }
        char probe[GETTEXT_BUFFER];
        if (FAILED(GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(e.name.c_str()), probe))) {
            char shown[64];
            lstrcpynA(shown, e.name.c_str(), sizeof shown);
            ReportEntry(shown, EntryReport::WithValue(EntryResult::kUnsafeName, 1));  // path too long
            Progress(kProgressAdvance, ClampSize(e.size));
            continue;
        }
        DWORD attributes = IsFolderEntry(e) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        FILETIME time = UnixTimeToLocalFileTime(e.mtime);
        if (!BeginEntryOutput(e.name.c_str(), time, attributes, ClampSize(e.size),
                              static_cast<LPCSTR>(m_currentDetail))) {
            Progress(kProgressAdvance, ClampSize(e.size));  // its outcome is noted
            continue;
        }
        HRESULT created = CreateTargetFile();
        if (created == S_OK) {
            bool whole = true;
            bool go = IsFolderEntry(e) || WriteEntryData(reader, &whole);
            FinishTargetFile();
            if (!go) break;
            if (IsFolderEntry(e))
                NoteFolder();
            else if (whole)
                NoteProcessed();
            else
                EntryFailed();  // a failed write is reported; a short entry by the walk's end
        } else if (FAILED(created)) {
            EntryFailed();  // reported
        } else if (IsFolderEntry(e)) {
            NoteFolder();  // S_FALSE: the folder is there, nothing to write
        } else {
            NoteSkipped(kSkipOther);  // a folder stands where the file would go
        }
    }
    const TarStatus end = status == TarStatus::Entry ? TarStatus::End : status;
    if (!m_cancel && (end != TarStatus::End || reader.DamagedHeaders() || source.Failed())) NoteDamage();
    bool ok = m_cancel || ReportWalkEnd(static_cast<int>(end), reader.DamagedHeaders(), source);
    Progress(kProgressEnd, 0);
    CloseArchiveFile();
    if (m_cancel) return E_ABORT;
    ReportMissing();
    return ok ? S_OK : E_FAIL;
}
