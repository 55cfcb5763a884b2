// The format class of gzip files: the member header gives the entry, the
// member loop of the gzip reader gives its contents. Every member of the
// file is decoded into the one entry; each member's CRC-32 and length are
// checked.
#include "formats/gz_format.h"

#include "core/file_io.h"
#include "core/name_text.h"
#include "formats/format_support.h"
#include "formats/gzip/gzip_reader.h"
#include "formats/tar_format.h"

#include <string>

using namespace tessera::gzip;

namespace {

constexpr DWORD kNameSpace = 32768;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

// What the header of the first member says, with the archive file open.
struct CGzFormat::Front {
    GzipHeader header;
    DWORD isize = 0;  // ISIZE of the last member (the listed size)
    FILETIME time = {};
};

// Output of the member loop: progress, cancel and the target file.
class CGzFormat::OutputSink final : public tessera::ByteSink {
public:
    explicit OutputSink(CGzFormat& owner) : owner_(owner) {}
    bool Write(const uint8_t* data, size_t size) override {
        owner_.Progress(kProgressAdvance, static_cast<DWORD>(size));
        if (owner_.m_cancel) return false;
        if (!owner_.WriteOutput(data, static_cast<DWORD>(size))) {
            writeFailed = true;
            return false;
        }
        return true;
    }
    bool writeFailed = false;

private:
    CGzFormat& owner_;
};

CGzFormat::CGzFormat() = default;

HRESULT STDMETHODCALLTYPE CGzFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    if (kind != TEXT_PATH && kind != TEXT_COMMENT) return S_OK;
    LPCSTR text = reinterpret_cast<LPCSTR>(value);
    if (!text || !*text) return E_INVALIDARG;
    if (kind == TEXT_COMMENT) {
        lstrcpynA(buffer, text, GETTEXT_BUFFER);
        return S_OK;
    }
    // A stored name may carry '/' separators; the path checks of the
    // engine see them as the backslashes they become.
    return ::ConvertStoredName(text, buffer, true);
}

HRESULT CGzFormat::ReadFront(Front& front) {
    if (!OpenArchiveFile()) return E_FAIL;
    ArchiveFileInput file(m_archiveFile);
    tessera::InputCursor source(file);
    GzipInput input(source);
    HeaderStatus status = ReadGzipHeader(input, front.header);
    if (ReadFailed(file)) return E_FAIL;
    if (status == HeaderStatus::Empty || status == HeaderStatus::NotGzip) {
        ReportNotArchive();
        return E_FAIL;
    }
    if (status != HeaderStatus::Ok) {
        ReportError(IDS_ARCHIVE_DAMAGED, status == HeaderStatus::Truncated ? "unexpected end of the gzip header"
                                                                           : "the gzip header checksum is wrong");
        return E_FAIL;
    }
    // ISIZE of the last member: the size of a single-member file (of a file
    // of several members only the last one's share).
    uint8_t trailer[kTrailerSize];
    DWORD done = 0;
    if (m_archiveSize >= kFixedHeaderSize + kTrailerSize) {
        if (SetFilePointer(m_archiveFile, -static_cast<LONG>(kTrailerSize), nullptr, FILE_END) ==
                INVALID_SET_FILE_POINTER ||
            !EngineReadFile(m_archiveFile, trailer, kTrailerSize, &done)) {
            ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
            return E_FAIL;
        }
        if (done == kTrailerSize) front.isize = Le32(trailer + 4);
    }
    // MTIME 0 means "no time": the archive file's own time stands in.
    if (front.header.mtime) {
        front.time = UnixTimeToLocalFileTime(front.header.mtime);
    } else {
        FILETIME utc = {};
        if (GetFileTime(m_archiveFile, nullptr, nullptr, &utc)) FileTimeToLocalFileTime(&utc, &front.time);
    }
    return S_OK;
}

void CGzFormat::EntryName(const Front& front, char* name, size_t size) {
    // FNAME is ISO 8859-1 by definition; today's gzip stores the bytes it
    // was given, mostly UTF-8.
    std::string text = front.header.hasName && !front.header.name.empty()
                           ? tessera::StoredText(front.header.name, tessera::StoredEncoding::kUtf8OrLatin1)
                           : NameFromArchivePath(m_archivePath);
    lstrcpynA(name, text.c_str(), static_cast<int>(size));
}

// Whether the file starts with a gzip member header.
HRESULT CGzFormat::DoCheck(BOOL* result) {
    Front front;
    const HRESULT hr = ReadFront(front);
    CloseArchiveFile();
    *result = SUCCEEDED(hr);
    return hr;
}

HRESULT CGzFormat::DoList() {
    HRESULT hr = AllocEntries(kNameSpace, 1);
    if (FAILED(hr)) return hr;
    Front front;
    hr = ReadFront(front);
    CloseArchiveFile();
    if (FAILED(hr)) return hr;

    char name[kMaxTextLength + 1];
    EntryName(front, name, sizeof name);
    HDRSTRUCT& h = m_entries[0];
    h = HDRSTRUCT();
    h.name = PoolString(name, static_cast<DWORD>(lstrlenA(name)));
    if (front.header.hasComment) {
        const std::string comment = tessera::StoredText(front.header.comment, tessera::StoredEncoding::kUtf8OrLatin1);
        h.comment = PoolString(comment.c_str(), static_cast<DWORD>(comment.size()));
    }
    if (!h.name) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    h.size = front.isize;
    uint64_t header = front.header.headerSize;
    h.packedSize = m_archiveSize > header ? static_cast<DWORD>(m_archiveSize - header) : 0;
    h.ratio = ComputeRatio(h.size, h.packedSize);
    h.time = front.time;
    h.attributes = FILE_ATTRIBUTE_ARCHIVE;
    h.host = front.header.os;
    h.version = 0xFFFFFFFFu;
    h.method = 0xFFFFFFFFu;
    if (front.header.flags & kFlagEncrypted) h.flags |= HDR_ENCRYPTED;
    m_totals.entries = 1;
    m_totals.totalSize = h.size;
    m_totals.totalPacked = h.packedSize;
    TrimPool();
    return S_OK;
}

HRESULT CGzFormat::DoExtract() {
    m_decodedCleanly = false;
    Front front;
    HRESULT hr = ReadFront(front);
    if (FAILED(hr)) {
        CloseArchiveFile();
        return hr;
    }
    char name[kMaxTextLength + 1];
    EntryName(front, name, sizeof name);
    if (!IsSelected(name)) {
        CloseArchiveFile();
        return S_OK;
    }
    Progress(kProgressBegin, front.isize);
    if (!BeginEntryOutput(name, front.time, FILE_ATTRIBUTE_ARCHIVE, front.isize,
                          static_cast<LPCSTR>(m_currentDetail))) {
        Progress(kProgressAdvance, front.isize);  // its outcome is noted
        Progress(kProgressEnd, 0);
        CloseArchiveFile();
        return S_OK;
    }
    if (front.header.method != kMethodDeflate) {
        // Nothing can be decoded: no empty file is made.
        ReportEntry(name, EntryReport::WithValue(EntryResult::kUnknownMethod, front.header.method));
        Progress(kProgressEnd, 0);
        CloseArchiveFile();
        return S_OK;
    }
    HRESULT created = CreateTargetFile();
    if (created != S_OK) {
        if (FAILED(created))
            EntryFailed();  // reported
        else
            NoteSkipped(kSkipOther);  // a folder stands where the file would go
        Progress(kProgressEnd, 0);
        CloseArchiveFile();
        return S_OK;
    }

    ArchiveFileInput file(m_archiveFile);
    tessera::InputCursor source(file);
    OutputSink sink(*this);
    GzipDecodeResult r = DecodeGzipFile(source, sink);
    FinishTargetFile();
    Progress(kProgressEnd, 0);
    CloseArchiveFile();

    if (m_cancel) return E_ABORT;
    if (ReadFailed(file)) {
        EntryFailed();
        return E_FAIL;
    }
    m_decodedCleanly = r.status == GzipStatus::Ok;
    switch (r.status) {
    case GzipStatus::Aborted:  // the failed write is reported
        EntryFailed();
        return E_FAIL;
    case GzipStatus::OutOfMemory:
        EntryFailed();
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    case GzipStatus::UnknownMethod:  // a later member: what came before it is written
        Warn(IDS_METHOD_UNKNOWN, r.method);
        EntryFailed();
        return S_OK;
    default:
        ReportEntry(name, MemberReport(r));
        // A warning only: the member itself is whole.
        if (r.status == GzipStatus::Ok && r.trailingData)
            Warn(IDS_ARCHIVE_DAMAGED, "data after the last gzip member was ignored");
        return S_OK;
    }
}

CDecodingFormat::EntryReport CGzFormat::MemberReport(const GzipDecodeResult& r) {
    switch (r.status) {
    case GzipStatus::Ok: return EntryReport::Of(EntryResult::kDone);
    case GzipStatus::BadCrc: return EntryReport::Checksum(r.computedCrc, r.storedCrc);
    case GzipStatus::BadLength: return EntryReport::WithText(EntryResult::kDamaged, "the length in a gzip trailer is wrong");
    case GzipStatus::BadData: return EntryReport::WithText(EntryResult::kBadData, "Inflate");
    case GzipStatus::Truncated: return EntryReport::WithText(EntryResult::kDamaged, "unexpected end of the archive");
    case GzipStatus::Aborted:
    case GzipStatus::OutOfMemory:
    case GzipStatus::UnknownMethod:
    case GzipStatus::NotGzip:
    case GzipStatus::BadHeaderCrc: break;
    }
    return EntryReport::WithText(EntryResult::kDamaged, "a gzip header is damaged");
}
