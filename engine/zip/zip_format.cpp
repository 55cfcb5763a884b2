// The format class of ZIP archives (".zip") and self-extracting ZIP programs
// (".exe"): the reading hooks DoList, DoCheck and DoGetComment, and GetText.
#include "zip/zip_format.h"

#include <string>

#include "core/file_io.h"
#include "core/module.h"
#include "core/name_text.h"
#include "core/registry.h"
#include "zip/zip_directory.h"
#include "zip/zip_file_input.h"
#include "win32/scope.h"

using namespace tessera::zip;

namespace {

// Copies text to a GetText buffer, cut to what it holds.
void CopyText(LPSTR buffer, const std::string& text) {
    lstrcpynA(buffer, text.c_str(), GETTEXT_BUFFER);
}

// A hostile directory can mark thousands of entries damaged; a few reports
// tell the user as much as all of them would.
constexpr int kMaxEntryReports = 8;

}  // namespace

CZipFormat::CZipFormat() { m_sfxModuleId[0] = kSfxModule; }

int CZipFormat::ShowReports(const Reports& reports) {
    int entryReports = 0;
    for (const Report& r : reports.items) {
        switch (r.message) {
        case Message::NotAnArchive: {
            char description[128] = "archive";
            if (const FORMATINFO* row = FormatRow(m_formatId))
                LoadStringA(EngineModule(), row->descriptionId, description, sizeof description);
            ReportError(IDS_NOT_A_VALID_ARCHIVE, description);
            break;
        }
        case Message::MissingBytes:
            ReportError(IDS_MISSING_BYTES, static_cast<long>(r.value));
            break;
        case Message::ArchiveDamaged:
            ReportError(IDS_ARCHIVE_DAMAGED, m_archivePath);
            break;
        case Message::MultiPartWrongDisk:
            ReportError(IDS_MULTI_PART_LAST_DISK, m_archivePath, static_cast<unsigned>(r.value));
            break;
        case Message::MultiPartIgnored:
            Warn(IDS_MULTI_PART_IGNORED);
            break;
        case Message::ArchiveEmpty:
            Warn(IDS_ARCHIVE_EMPTY);
            break;
        case Message::CommentTruncated:
            Warn(IDS_COMMENT_TRUNCATED, static_cast<int>(r.value));
            break;
        case Message::EntryNotFound:
            ReportError(IDS_FILE_NOT_FOUND, static_cast<unsigned>(r.value));
            break;
        case Message::EntryDamaged:
            if (++entryReports <= kMaxEntryReports) ReportError(IDS_FILE_DAMAGED, static_cast<unsigned>(r.value));
            break;
        case Message::ReadError:
            ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
            break;
        case Message::Zip64NotSupported:
            // ZIP64 needs version 4.5 of the format; this system reads 2.0.
            ReportError(IDS_REQUIRES_VERSION, "PK", 4u, 5u, kHighestVersionNeeded / 10u, kHighestVersionNeeded % 10u);
            break;
        case Message::OutOfMemory:
            ReportError(IDS_OUT_OF_MEMORY);
            break;
        }
    }
    return reports.level;
}

namespace {

tessera::StoredEncoding EncodingOf(const CentralHeader& h) {
    if (h.flags & kFlagUtf8) return tessera::StoredEncoding::kUtf8;
    const unsigned host = h.versionMadeBy >> 8;
    constexpr unsigned kHostUnix = 3, kHostDarwin = 19;
    return host == kHostUnix || host == kHostDarwin ? tessera::StoredEncoding::kUtf8OrOem
                                                    : tessera::StoredEncoding::kOem;
}

}  // namespace

std::string CZipFormat::NameText(const CentralHeader& h, const std::string& name, const std::string& unicodeName) {
    if (!unicodeName.empty()) return tessera::StoredText(unicodeName, tessera::StoredEncoding::kUtf8);
    return tessera::StoredText(name, EncodingOf(h));
}

std::string CZipFormat::NameText(const DirectoryEntry& e) { return NameText(e.header, e.name, e.unicodeName); }

std::string CZipFormat::CommentText(const CentralHeader& h, const std::string& comment) {
    return tessera::StoredText(comment, EncodingOf(h));
}

std::string CZipFormat::CommentText(const DirectoryEntry& e) { return CommentText(e.header, e.comment); }

HRESULT CZipFormat::DoList() {
    if (!OpenArchiveFile()) return E_FAIL;
    auto closeArchive = tessera::win32::OnScopeExit([this] { CloseArchiveFile(); });
    ZipFileInput input(m_archiveFile);
    BlockReader reader(input);
    if (!reader.Allocate()) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    DirectoryLocation location;
    DirectoryWalk walk;
    Reports reports;
    if (OpenDirectory(reader, ReadMode::List, &location, &reports))
        WalkCentralDirectory(reader, location, &walk, &reports);
    const int level = ShowReports(reports);

    // One pool block holds the entry array and every name and comment.
    const DWORD count = static_cast<DWORD>(walk.entries.size());
    unsigned long long textBytes = 0;
    // (text may come out longer than the stored bytes: a block is added then)
    for (const DirectoryEntry& e : walk.entries) textBytes += e.name.size() + e.comment.size() + 2 * 9;
    const DWORD perEntry = count ? static_cast<DWORD>((textBytes + count - 1) / count) : 0;
    HRESULT hr = AllocEntries(perEntry, count);
    if (FAILED(hr)) return hr;
    for (DWORD i = 0; i < count; ++i) {
        const DirectoryEntry& e = walk.entries[i];
        const ListFields f = ListFieldsOf(e);
        HDRSTRUCT& h = m_entries[i];
        h.flags = f.encrypted ? 1 : 0;
        const std::string name = NameText(e);
        h.name = PoolString(name.data(), static_cast<DWORD>(name.size()));
        if (e.hasComment) {
            const std::string comment = CommentText(e);
            h.comment = PoolString(comment.data(), static_cast<DWORD>(comment.size()));
        }
        h.ratio = f.ratioUnknown ? RATIO_UNKNOWN : ComputeRatio(f.size, f.packedSize);
        h.packedSize = f.packedSize;
        h.size = f.size;
        if (!DosDateTimeToFileTime(f.dosDate, f.dosTime, &h.time)) h.time = FILETIME{};
        h.host = f.host;
        h.version = f.version;
        h.method = f.methodWord;
        h.attributes = f.attributes;

        m_totals.entries = i + 1;
        if (f.folder) ++m_totals.folders;
        m_totals.totalSize = f.size > 0xFFFFFFFFu - m_totals.totalSize ? 0xFFFFFFFFu : m_totals.totalSize + f.size;
        if (m_totals.totalPacked != SIZE_UNKNOWN) {
            m_totals.totalPacked = f.packedSize == SIZE_UNKNOWN || f.packedSize > SIZE_UNKNOWN - m_totals.totalPacked
                                       ? SIZE_UNKNOWN
                                       : m_totals.totalPacked + f.packedSize;
        }
    }
    TrimPool();
    // A directory read whole despite missing leading bytes or a wrong offset
    // lists as extraction reads it: every entry, with the reports above.
    if (level >= kLevelEntryError && location.recovered && walk.complete && level <= kLevelDamaged) {
        m_warning = TRUE;
        return S_OK;
    }
    return level < kLevelEntryError ? S_OK : E_FAIL;
}

HRESULT CZipFormat::DoCheck(BOOL* result) {
    if (result) *result = TRUE;
    if (!OpenArchiveFile()) return E_FAIL;
    auto closeArchive = tessera::win32::OnScopeExit([this] { CloseArchiveFile(); });
    ZipFileInput input(m_archiveFile);
    BlockReader reader(input);
    if (!reader.Allocate()) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    DirectoryLocation location;
    Reports reports;
    OpenDirectory(reader, ReadMode::Check, &location, &reports);
    const int level = ShowReports(reports);
    // FALSE only for an end record that leads to a damaged directory.
    if (result) *result = !location.endFound || level < kLevelEntryError;
    return level < kLevelEntryError ? S_OK : E_FAIL;
}

HRESULT CZipFormat::DoGetComment(LPSTR buffer, DWORD size) {
    if (buffer && size) buffer[0] = '\0';
    if (!OpenArchiveFile()) return E_FAIL;
    auto closeArchive = tessera::win32::OnScopeExit([this] { CloseArchiveFile(); });
    ZipFileInput input(m_archiveFile);
    BlockReader reader(input);
    if (!reader.Allocate()) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    DirectoryLocation location;
    Reports reports;
    OpenDirectory(reader, ReadMode::Comment, &location, &reports);
    const int level = ShowReports(reports);
    if (level >= kLevelEntryError || location.comment.empty()) return E_FAIL;
    if (buffer && size) {
        const std::string text = tessera::StoredText(location.comment, tessera::StoredEncoding::kOem);
        DWORD length = static_cast<DWORD>(text.size());
        if (length > size - 1) length = size - 1;
        memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZipFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    switch (kind) {
    case TEXT_VERSION:
        CopyText(buffer, VersionText(static_cast<uint32_t>(value)));
        return S_OK;
    case TEXT_METHOD:
        CopyText(buffer, MethodName(static_cast<uint32_t>(value)));
        return S_OK;
    case TEXT_PATH: {
        LPCSTR name = reinterpret_cast<LPCSTR>(value);
        if (!name || !*name) return E_INVALIDARG;
        DWORD length = static_cast<DWORD>(lstrlenA(name));
        if (length > MAX_PATH - 1) return E_FAIL;
        lstrcpynA(buffer, name, static_cast<int>(length) + 1);  // entry names are text already
        for (DWORD i = 0; i < length; ++i)
            if (buffer[i] == '/') buffer[i] = '\\';
        if (length && buffer[length - 1] == '\\') buffer[length - 1] = '\0';
        return S_OK;
    }
    case TEXT_COMMENT: {
        LPCSTR comment = reinterpret_cast<LPCSTR>(value);
        if (!comment) return S_OK;
        DWORD length = static_cast<DWORD>(lstrlenA(comment));
        if (length > GETTEXT_BUFFER - 1) length = GETTEXT_BUFFER - 1;
        memcpy(buffer, comment, length);  // entry comments are text already
        buffer[length] = '\0';
        return S_OK;
    }
    case TEXT_LEVELS: {
        int length = LoadStringA(EngineModule(), IDS_LEVEL_NAMES, buffer, GETTEXT_BUFFER - 1);
        buffer[length] = '\0';
        for (int i = 0; i < length; ++i)
            if (buffer[i] == '|') buffer[i] = '\0';
        return S_OK;
    }
    }
    return E_INVALIDARG;
}
