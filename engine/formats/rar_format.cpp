// The format class of RAR archives over the portable block walk and reader
// (formats/rar). Listing covers the opened volume; extraction follows an
// entry into the next volumes of an old-style set and reads on there.
//
// Every entry that is selected but not written (unsupported version,
// encryption, damage, a missing volume) is noted in the outcome counts, so
// the operation ends with S_FALSE and a test with the summary that says so.
#include "formats/rar_format.h"

#include "core/name_text.h"

#include "formats/rar/rar_archive.h"

#include <vector>

using tessera::RarEntry;
using tessera::RarEntryOutcome;
using tessera::RarEntryResult;
using tessera::RarReader;
using tessera::RarStatus;
using tessera::RarWalker;

CRarFormat::CRarFormat() = default;

HRESULT STDMETHODCALLTYPE CRarFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    if (kind != TEXT_PATH) return S_OK;  // no versions, methods or comments shown
    return ConvertStoredName(value, buffer);
}

// Whether the file is a RAR archive (a self-extracting program holds one
// behind its stub).
HRESULT CRarFormat::DoCheck(BOOL* result) {
    *result = FALSE;
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput input(m_archiveFile);
    RarWalker walker(input);
    const RarStatus status = walker.Open();
    const bool ok = !ReadFailed(input) && ReportOpen(static_cast<int>(status));
    CloseArchiveFile();
    *result = ok;
    return ok ? S_OK : E_FAIL;
}

HRESULT CRarFormat::DoList() {
    return RunMemoryChecked(false, [this] { return ListRar(); });
}

HRESULT CRarFormat::DoExtract() {
    return RunMemoryChecked(true, [this] { return ExtractRar(); });
}

HRESULT CRarFormat::DoTest() { return DoExtract(); }

bool CRarFormat::ReportOpen(int status) {
    switch (static_cast<RarStatus>(status)) {
    case RarStatus::kOk: return true;
    case RarStatus::kNotArchive:
    case RarStatus::kRar5: ReportNotArchive(); break;
    case RarStatus::kEncryptedHeaders: ReportError(IDS_DECRYPTION_NOT_SUPPORTED); break;
    default: ReportError(IDS_ARCHIVE_DAMAGED, m_archivePath); break;
    }
    return false;
}

bool CRarFormat::IsUnixLink(const RarEntry& entry) {
    return entry.hostOs == tessera::kRarHostUnix && (entry.attributes & 0xF000) == 0xA000;
}

DWORD CRarFormat::EntryAttributes(const RarEntry& entry) {
    if (entry.IsFolder()) return FILE_ATTRIBUTE_DIRECTORY;
    // Unix hosts store a file mode; DOS-like hosts the file attributes.
    if (entry.hostOs == tessera::kRarHostUnix) return FILE_ATTRIBUTE_ARCHIVE;
    return entry.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT CRarFormat::ListRar() {
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput input(m_archiveFile);
    RarWalker walker(input);
    RarStatus status = walker.Open();
    if (ReadFailed(input) || !ReportOpen(static_cast<int>(status))) {
        CloseArchiveFile();
        return E_FAIL;
    }
    // The walk advances with every header and is bounded by the file, so
    // gathering first sizes the list by what the archive holds.
    std::vector<RarEntry> found;
    uint64_t nameBytes = 0;
    unsigned damagedHeaders = 0;
    RarEntry e;
    while (!m_cancel && (status = walker.Next(&e)) == RarStatus::kOk) {
        if (!e.headerCrcOk && damagedHeaders++ == 0) Warn(IDS_FILE_DAMAGED, static_cast<unsigned>(found.size() + 1));
        e.name = tessera::StoredText(e.name, tessera::StoredEncoding::kOem);
        nameBytes += e.name.size() + 8;
        found.push_back(e);
    }
    CloseArchiveFile();
    if (m_cancel) return E_ABORT;
    if (ReadFailed(input)) return E_FAIL;
    HRESULT hr = AllocEntriesFor(static_cast<DWORD>(found.size()), nameBytes);
    if (FAILED(hr)) return hr;
    for (const RarEntry& f : found) {
        HDRSTRUCT* added = AppendEntry(f.name);
        if (!added) return E_OUTOFMEMORY;
        HDRSTRUCT& h = *added;
        h.flags = f.IsEncrypted() ? HDR_ENCRYPTED : 0;
        h.packedSize = ClampSize(f.packSize);
        h.size = ClampSize(f.unpSize);
        h.ratio = ComputeRatio(h.size, h.packedSize);
        h.time = DosTimeToFileTime(f.dosTime);
        h.attributes = EntryAttributes(f);
        // The tail of an entry begun in an earlier volume adds nothing new.
        if (f.ContinuedFromPrevious()) continue;
        if (h.attributes & FILE_ATTRIBUTE_DIRECTORY) ++m_totals.folders;
        m_totals.totalSize += h.size;
        if (m_totals.totalPacked != SIZE_UNKNOWN) m_totals.totalPacked += h.packedSize;
    }
    TrimPool();
    if (status == RarStatus::kDamaged) {
        Warn(IDS_FILE_DAMAGED, static_cast<unsigned>(found.size() + 1));
        m_warning = TRUE;
    }
    return S_OK;
}

CDecodingFormat::EntryReport CRarFormat::Report(const RarEntryOutcome& outcome, unsigned number, LPCSTR volume,
                                                DWORD volumeError) {
    switch (outcome.result) {
    case RarEntryResult::kOk: return EntryReport::Of(EntryResult::kDone);
    case RarEntryResult::kBadCrc: return EntryReport::Checksum(outcome.crc, outcome.expectedCrc);
    case RarEntryResult::kNextVolumeMissing:
        return EntryReport::WithError(EntryResult::kVolumeMissing, volume, volumeError);
    case RarEntryResult::kUnsupportedVersion:
        return EntryReport::WithValue(EntryResult::kUnknownMethod, static_cast<unsigned>(outcome.value));
    case RarEntryResult::kEncrypted: return EntryReport::Of(EntryResult::kEncrypted);
    case RarEntryResult::kAborted:  // the sink stops only on cancel; anything else is damage
    case RarEntryResult::kTruncated:
    case RarEntryResult::kBadVolume:
    case RarEntryResult::kSolidBroken:
    case RarEntryResult::kFromPreviousVolume: break;
    }
    return EntryReport::WithValue(EntryResult::kDamaged, number);
}

void CRarFormat::PassOver(RarReader& reader, const RarEntry& entry) {
    if (entry.IsFolder() && entry.packSize == 0) return;  // no data, no part in a solid chain
    if ((reader.IsSolid() && !entry.IsStored()) || entry.ContinuesInNext()) {
        EntrySink quiet(*this, false);
        reader.Extract(entry, &quiet);
    } else {
        Progress(kProgressAdvance, ClampSize(entry.unpSize));
    }
}

HRESULT CRarFormat::ExtractRar() {
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput input(m_archiveFile);
    // Further volumes of an old-style set; the first one that cannot be
    // opened is remembered for the report.
    std::string missingVolume;
    DWORD missingError = 0;
    std::string firstName = m_archivePath;
    auto opener = [&](unsigned index) -> std::unique_ptr<tessera::RandomAccessInput> {
        std::string name = tessera::RarVolumeName(firstName, index);
        if (name.empty()) {
            missingVolume = firstName;
            missingError = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        DWORD error = 0;
        std::unique_ptr<ArchiveFileInput> volume = ArchiveFileInput::Open(name.c_str(), &error);
        if (!volume) {
            missingVolume = name;
            missingError = error;
        }
        return volume;
    };

    HRESULT result = S_OK;
    Progress(kProgressBegin, ProgressTotal());
    {
        RarReader reader(input, opener);
        RarStatus status = reader.Open();
        if (ReadFailed(input) || !ReportOpen(static_cast<int>(status))) result = E_FAIL;
        unsigned number = 0;  // file headers read: the "#" of damage reports
        RarEntry e;
        while (result == S_OK && !m_cancel && (status = reader.Next(&e)) == RarStatus::kOk) {
            ++number;
            if (!e.headerCrcOk) {  // the header is used all the same, but the archive is damaged
                Warn(IDS_FILE_DAMAGED, number);
                ArchiveDamaged();
            }
            if (e.ContinuedFromPrevious()) {
                // Its start, and in a solid archive the window, lie in an
                // earlier volume.
                if (reader.IsSolid()) {
                    ReportError(IDS_FIRST_VOLUME_REQUIRED);
                    result = E_FAIL;
                }
                continue;
            }
            e.name = tessera::StoredText(e.name, tessera::StoredEncoding::kOem);
            if (!IsSelected(e.name.c_str())) {
                PassOver(reader, e);
                continue;
            }
            char shown[MAX_PATH];
            DisplayName(e.name.c_str(), shown);
            DWORD attributes = EntryAttributes(e);
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                // Folders have no data; extraction with folder names makes them.
                if (m_op == OP_TEST || BeginEntryOutput(e.name.c_str(), DosTimeToFileTime(e.dosTime), attributes,
                                                        0, static_cast<LPCSTR>(m_currentDetail)))
                    NoteFolder();
                PassOver(reader, e);
                continue;
            }
            // Refused before any data is read; a solid chain is marked broken
            // where PassOver decodes past it.
            EntryReport refusal;
            if (e.IsEncrypted())
                refusal = EntryReport::Of(EntryResult::kEncrypted);
            else if (!e.IsStored() && e.unpVersion != 15)
                refusal = EntryReport::WithValue(EntryResult::kUnknownMethod, e.unpVersion);
            else if (IsUnixLink(e))  // the data is the link's target; the target file system has no place for it
                refusal = EntryReport::WithText(EntryResult::kNotSupported, "symbolic link");
            if (refusal.result != EntryResult::kDone) {
                ReportEntry(shown, refusal);
                PassOver(reader, e);
                continue;
            }
            if (!BeginEntryOutput(e.name.c_str(), DosTimeToFileTime(e.dosTime), attributes,
                                  ClampSize(e.unpSize), static_cast<LPCSTR>(m_currentDetail))) {
                if (!m_cancel) PassOver(reader, e);  // its outcome is noted
                continue;
            }
            EntrySink sink(*this, m_op != OP_TEST);
            RarEntryOutcome outcome = reader.Extract(e, &sink);
            sink.Close(outcome.result == RarEntryResult::kOk);
            if (m_cancel) break;
            ReportEntry(shown, Report(outcome, number, missingVolume.c_str(), missingError), &sink);
        }
        if (result == S_OK && !m_cancel && status == RarStatus::kDamaged) {
            Warn(IDS_FILE_DAMAGED, number + 1);
            ArchiveDamaged();
        }
        if (result == S_OK && ReadFailed(input)) ArchiveDamaged();
    }
    return EndDecoding(result);
}
