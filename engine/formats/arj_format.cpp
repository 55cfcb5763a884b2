// The format class of ARJ archives over the portable start search, header
// walk and entry decoding (formats/arj). Extraction and test are one
// routine; test mode decodes without output.
//
// Folder entries are made (with folder names) or passed over, never counted
// as refused. Every selected file entry that is not extracted or tested
// (version, garbled, method, file type, damage) is noted in the outcome
// counts, so the operation ends with S_FALSE and a test with the summary
// that says so.
// Entries split over volumes are read as far as this volume holds them,
// with a warning.
#include "formats/arj_format.h"

#include "core/name_text.h"

#include "formats/arj/arj_archive.h"

#include <vector>

using tessera::ArjCheck;
using tessera::ArjDecoder;
using tessera::ArjEntryOutcome;
using tessera::ArjEntryResult;
using tessera::ArjHeader;
using tessera::ArjRefusal;
using tessera::ArjStatus;
using tessera::ArjWalker;

CArjFormat::CArjFormat() = default;

HRESULT STDMETHODCALLTYPE CArjFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    if (kind != TEXT_PATH) return E_FAIL;
    return ConvertStoredName(value, buffer);
}

HRESULT CArjFormat::DoList() {
    return RunMemoryChecked(false, [this] { return ListArj(); });
}

HRESULT CArjFormat::DoExtract() {
    return RunMemoryChecked(true, [this] { return ExtractArj(); });
}

HRESULT CArjFormat::DoTest() { return DoExtract(); }

bool CArjFormat::ReportOpen(int status) {
    switch (static_cast<ArjStatus>(status)) {
    case ArjStatus::kOk: return true;
    case ArjStatus::kNotArchive: ReportNotArchive(); break;
    default: ReportError(IDS_FILE_DAMAGED, 1u); break;  // the main header
    }
    return false;
}

// Whether the file is an ARJ archive (also behind a self-extractor's stub).
HRESULT CArjFormat::DoCheck(BOOL* result) {
    *result = FALSE;
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput input(m_archiveFile);
    ArjWalker walker(input);
    const ArjStatus status = walker.Open();
    const bool ok = !ReadFailed(input) && ReportOpen(static_cast<int>(status));
    CloseArchiveFile();
    *result = ok;
    return ok ? S_OK : E_FAIL;
}

HRESULT CArjFormat::ListArj() {
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput input(m_archiveFile);
    ArjWalker walker(input);
    ArjStatus status = walker.Open();
    if (ReadFailed(input) || !ReportOpen(static_cast<int>(status))) {
        CloseArchiveFile();
        return E_FAIL;
    }
    // Gathered first (the walk strictly advances, bounded by the file), so
    // the list is sized by what the archive holds.
    std::vector<ArjHeader> found;
    uint64_t nameBytes = 0;
    ArjHeader h;
    while (!m_cancel && (status = walker.Next(&h)) == ArjStatus::kOk) {
        h.comment.clear();  // not shown; keeps the gathered list small
        h.name = tessera::StoredText(h.name, tessera::StoredEncoding::kOem);
        nameBytes += h.name.size() + 8;
        found.push_back(std::move(h));
        h = ArjHeader();
    }
    unsigned headerNumber = walker.HeaderNumber();
    CloseArchiveFile();
    if (m_cancel) return E_ABORT;
    if (ReadFailed(input)) return E_FAIL;
    HRESULT hr = AllocEntriesFor(static_cast<DWORD>(found.size()), nameBytes);
    if (FAILED(hr)) return hr;
    for (const ArjHeader& f : found) {
        HDRSTRUCT* added = AppendEntry(f.name);
        if (!added) return E_OUTOFMEMORY;
        HDRSTRUCT& e = *added;
        e.flags = f.IsGarbled() ? HDR_ENCRYPTED : 0;
        e.packedSize = f.compressedSize;
        e.size = f.originalSize;
        e.ratio = ComputeRatio(e.size, e.packedSize);
        e.time = DosTimeToFileTime(f.dosDateTime);
        e.attributes = f.Attributes();
        if (f.IsFolder()) ++m_totals.folders;
        m_totals.totalSize += e.size;
        if (m_totals.totalPacked != SIZE_UNKNOWN) m_totals.totalPacked += e.packedSize;
    }
    TrimPool();
    if (status == ArjStatus::kDamaged) {
        Warn(IDS_FILE_DAMAGED, headerNumber + 1);
        m_warning = TRUE;
    }
    return S_OK;
}

HRESULT CArjFormat::ExtractArj() {
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput input(m_archiveFile);
    HRESULT result = S_OK;
    Progress(kProgressBegin, ProgressTotal());
    {
        ArjWalker walker(input);
        ArjStatus status = walker.Open();
        if (ReadFailed(input) || !ReportOpen(static_cast<int>(status))) result = E_FAIL;
        ArjDecoder decoder;
        bool volumeWarned = false;
        ArjHeader h;
        while (result == S_OK && !m_cancel && (status = walker.Next(&h)) == ArjStatus::kOk) {
            h.name = tessera::StoredText(h.name, tessera::StoredEncoding::kOem);
            if (!IsSelected(h.name.c_str())) {
                Progress(kProgressAdvance, h.originalSize);
                continue;
            }
            char shown[MAX_PATH];
            DisplayName(h.name.c_str(), shown);
            FILETIME time = DosTimeToFileTime(h.dosDateTime);
            if (h.IsFolder()) {
                // No data; extraction with folder names makes the folder.
                if (m_op == OP_TEST || BeginEntryOutput(h.name.c_str(), time, FILE_ATTRIBUTE_DIRECTORY, 0,
                                                        static_cast<LPCSTR>(m_currentDetail)))
                    NoteFolder();
                continue;
            }
            ArjCheck check = tessera::ArjCheckEntry(h);
            if (check.refusal != ArjRefusal::kNone) {
                EntryReport refusal = EntryReport::WithValue(EntryResult::kUnknownMethod, check.value);
                if (check.refusal == ArjRefusal::kVersion) {
                    refusal = EntryReport::WithText(EntryResult::kNeedsVersion, "ARJ");
                    refusal.value = check.value;
                    refusal.supported = 3;
                } else if (check.refusal == ArjRefusal::kGarbled) {
                    refusal = EntryReport::Of(EntryResult::kEncrypted);
                }
                ReportEntry(shown, refusal);
                Progress(kProgressAdvance, h.originalSize);
                continue;
            }
            if ((h.flags & (tessera::kArjVolume | tessera::kArjExtFile)) && !volumeWarned) {
                volumeWarned = true;
                Warn(IDS_MULTI_PART_IGNORED);
            }
            if (!BeginEntryOutput(h.name.c_str(), time, FILE_ATTRIBUTE_ARCHIVE, h.originalSize,
                                  static_cast<LPCSTR>(m_currentDetail))) {
                Progress(kProgressAdvance, h.originalSize);  // its outcome is noted
                continue;
            }
            EntrySink sink(*this, m_op != OP_TEST);
            ArjEntryOutcome outcome = tessera::ArjDecodeEntry(input, h, decoder, &sink);
            sink.Close(outcome.result == ArjEntryResult::kOk);
            if (m_cancel) break;
            EntryReport report = EntryReport::Of(EntryResult::kDone);
            switch (outcome.result) {
            case ArjEntryResult::kOk: break;
            case ArjEntryResult::kBadCrc: report = EntryReport::Checksum(outcome.crc, h.fileCrc); break;
            case ArjEntryResult::kBadData: report = EntryReport::WithText(EntryResult::kBadData, shown); break;
            case ArjEntryResult::kUnsupported: report = EntryReport::WithValue(EntryResult::kUnknownMethod, h.method); break;
            case ArjEntryResult::kTruncated:
            case ArjEntryResult::kAborted:  // the sink stops only on cancel
                report = EntryReport::WithValue(EntryResult::kDamaged, walker.HeaderNumber());
                break;
            }
            ReportEntry(shown, report, &sink);
        }
        if (result == S_OK && !m_cancel && status == ArjStatus::kDamaged) {
            Warn(IDS_FILE_DAMAGED, walker.HeaderNumber() + 1);
            ArchiveDamaged();
        }
        if (result == S_OK && ReadFailed(input)) ArchiveDamaged();
    }
    return EndDecoding(result);
}
