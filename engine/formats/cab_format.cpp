// The format class of cabinet files (".cab") and self-extracting cabinets.
//
// The portable reader does the walking and decoding; this class gives it
// the files (with the cabinet's start in a self-extracting program mapped
// to position 0), the output and the user's answers. Every entry that is
// selected but not extracted or tested is noted in the outcome counts, and
// such an operation never ends with S_OK.
#include "formats/cab_format.h"

#include "core/file_io.h"
#include "core/long_path.h"
#include "core/module.h"
#include "core/name_text.h"

#include <cstdlib>
#include <cstring>
#include <new>

using namespace tessera::cab;

namespace {

const DWORD kSearchSize = 196608;     // how far into a file a cabinet is looked for
const DWORD kListCapacity = 32768;    // entries of the list
const DWORD kListBytesPerEntry = 32;  // name share per entry; longer names chain pool blocks
// A stored name as text: UTF-8 where the entry's attribute says so, else OEM.
std::string NameText(const NotificationData& data) {
    constexpr unsigned kNameIsUtf8 = 0x80;
    return tessera::StoredText(data.name, data.name ? std::strlen(data.name) : 0,
                               (data.attribs & kNameIsUtf8) ? tessera::StoredEncoding::kUtf8
                                                            : tessera::StoredEncoding::kOem);
}

// The attributes an entry keeps: read-only, hidden, system, folder, archive.
const DWORD kEntryAttributes = 0x37;

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Free(void*, void* block) { std::free(block); }

HANDLE HandleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

uint32_t DosDateTime(const NotificationData& data) { return static_cast<uint32_t>(data.date) << 16 | data.time; }

}  // namespace

CCabFormat::CCabFormat() {
    m_sfxModuleId[0] = 1005;
    m_sfxModuleId[1] = 1004;
}

CCabFormat::~CCabFormat() = default;

HRESULT STDMETHODCALLTYPE CCabFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    if (kind == TEXT_PATH) return ConvertStoredName(value, buffer);
    if (kind != TEXT_LEVELS) return E_INVALIDARG;
    // "a|b|...|" becomes "a\0b\0...\0\0": the list ends with an empty name.
    int length = LoadStringA(EngineModule(), IDS_CAB_LEVEL_NAMES, buffer, GETTEXT_BUFFER - 1);
    if (length <= 0) {
        buffer[0] = buffer[1] = '\0';
        return E_FAIL;
    }
    buffer[length + 1] = '\0';
    for (int i = 0; i < length; ++i)
        if (buffer[i] == '|') buffer[i] = '\0';
    return S_OK;
}

// --- reader callbacks ---

DWORD CCabFormat::BaseOf(HANDLE file) const {
    for (const OpenFile& f : m_open)
        if (f.handle == file) return f.base;
    return 0;
}

FileHandle CCabFormat::OpenCallback(void* context, const char* path) {
    auto* self = static_cast<CCabFormat*>(context);
    bool archive = lstrcmpiA(path, self->m_archivePath) == 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        self->m_openError = GetLastError();
        // A further cabinet of a set is asked for at the next-cabinet notification.
        if (archive && !self->m_openReported) {
            self->m_openReported = true;
            self->ReportError(IDS_ARCHIVE_CANNOT_BE_OPENED, self->SystemErrorText(self->m_openError));
        }
        return -1;
    }
    DWORD base = archive ? self->m_baseOffset : 0;
    self->m_openError = ERROR_TOO_MANY_OPEN_FILES;
    for (OpenFile& f : self->m_open) {
        if (f.handle) continue;
        if (SetFilePointer(file, static_cast<LONG>(base), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
            self->m_openError = GetLastError();
            break;
        }
        f.handle = file;
        f.base = base;
        return reinterpret_cast<FileHandle>(file);
    }
    CloseHandle(file);
    return -1;
}

int32_t CCabFormat::ReadCallback(void* context, FileHandle file, void* buffer, uint32_t size) {
    auto* self = static_cast<CCabFormat*>(context);
    DWORD done = 0;
    if (size > 0x7FFFFFFF || !EngineReadFile(HandleOf(file), buffer, size, &done)) {
        if (!self->m_readReported) {
            self->m_readReported = true;
            self->ReportError(IDS_ERROR_READING_ARCHIVE, self->SystemErrorText());
        }
        return -1;
    }
    return static_cast<int32_t>(done);
}

int32_t CCabFormat::WriteCallback(void* context, FileHandle, const void* data, uint32_t size) {
    auto* self = static_cast<CCabFormat*>(context);
    if (self->m_cancel || size > 0x7FFFFFFF) return -1;
    self->Progress(kProgressAdvance, size);
    if (self->m_op == OP_TEST) return static_cast<int32_t>(size);
    if (!self->WriteOutput(data, size)) {
        self->m_entryReported = true;  // WriteOutput has said why
        return -1;
    }
    return static_cast<int32_t>(size);
}

int CCabFormat::CloseCallback(void* context, FileHandle file) {
    auto* self = static_cast<CCabFormat*>(context);
    HANDLE handle = HandleOf(file);
    for (OpenFile& f : self->m_open)
        if (f.handle == handle) f = OpenFile();
    return CloseHandle(handle) ? 0 : -1;
}

// Positions the reader sees start at the cabinet; a self-extracting
// program's stub before it is invisible.
int32_t CCabFormat::SeekCallback(void* context, FileHandle file, int32_t offset, int origin) {
    auto* self = static_cast<CCabFormat*>(context);
    HANDLE handle = HandleOf(file);
    LONGLONG base = self->BaseOf(handle);
    LARGE_INTEGER move, position;
    DWORD method;
    switch (origin) {
    case kSeekSet: move.QuadPart = base + offset; method = FILE_BEGIN; break;
    case kSeekCurrent: move.QuadPart = offset; method = FILE_CURRENT; break;
    case kSeekEnd: move.QuadPart = offset; method = FILE_END; break;
    default: return -1;
    }
    if (move.QuadPart < 0 || !SetFilePointerEx(handle, move, &position, method)) return -1;
    LONGLONG relative = position.QuadPart - base;
    if (relative < 0 || relative > 0x7FFFFFFF) return -1;
    return static_cast<int32_t>(relative);
}

bool CCabFormat::EnsureReader() {
    if (m_reader) return true;
    ReaderCallbacks callbacks = {this, Allocate, Free, OpenCallback, ReadCallback, WriteCallback, CloseCallback,
                                 SeekCallback, 0};
    m_reader = CabReader::Create(callbacks, &m_readerError);
    if (m_reader) return true;
    ReportError(IDS_OUT_OF_MEMORY);
    return false;
}

// --- locating the cabinet ---

HRESULT CCabFormat::Locate(bool* opened) {
    *opened = false;
    if (!EnsureReader()) return E_OUTOFMEMORY;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kSearchSize]);
    if (!buffer) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    HANDLE file = CreateFileA(m_archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportError(IDS_ARCHIVE_CANNOT_BE_OPENED, SystemErrorText());
        return E_FAIL;
    }
    *opened = true;
    DWORD got = 0;
    while (got < kSearchSize) {
        DWORD done = 0;
        if (!EngineReadFile(file, buffer.get() + got, kSearchSize - got, &done)) {
            ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
            CloseHandle(file);
            return E_FAIL;
        }
        if (done == 0) break;
        got += done;
    }
    bool found = false;
    for (DWORD p = 0; p + 4 < got && !found; ++p) {
        if (std::memcmp(buffer.get() + p, "MSCF", 4) != 0) continue;
        if (SetFilePointer(file, static_cast<LONG>(p), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) break;
        CabinetInfo info;
        if (m_reader->IsCabinet(reinterpret_cast<FileHandle>(file), &info)) {
            m_baseOffset = p;
            found = true;
        }
    }
    CloseHandle(file);
    m_located = found;
    return found ? S_OK : E_FAIL;
}

HRESULT CCabFormat::DoCheck(BOOL* result) {
    bool opened = false;
    HRESULT hr = Locate(&opened);
    if (result) *result = opened && hr != E_OUTOFMEMORY;
    return hr;
}

// --- the walk ---

bool CCabFormat::Walk(NotifyCallback notify) {
    char folder[MAX_PATH];
    LPCSTR name = FileNamePart(m_archivePath);
    lstrcpynA(folder, m_archivePath, static_cast<int>(name - m_archivePath) + 1);
    m_openReported = m_readReported = m_setIncomplete = m_missingReported = m_entryReported = false;
    m_sawCabinet = m_outOfMemory = false;
    m_entryNumber = 0;
    return m_reader->CopyFiles(name, folder, notify, this);
}

HRESULT CCabFormat::ReportWalkFailure() {
    switch (m_readerError.kind) {
    case kErrorNotACabinet:
    case kErrorUnknownVersion:
        ReportNotArchive();
        return E_FAIL;
    case kErrorOutOfMemory:
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    case kErrorUserAbort:
        if (m_cancel) return E_ABORT;
        if (m_outOfMemory) return E_OUTOFMEMORY;
        break;
    default:
        break;
    }
    if (m_openReported) return E_FAIL;
    if (!m_sawCabinet) {  // the first cabinet's records are unusable
        if (!m_readReported) ReportError(IDS_ARCHIVE_DAMAGED, m_archivePath);
        return E_FAIL;
    }
    return S_OK;
}

intptr_t CCabFormat::AskForNextCabinet(const NotificationData& data) {
    lstrcpynA(m_missingPath, data.cabinetFolder ? data.cabinetFolder : "", MAX_PATH);
    int used = lstrlenA(m_missingPath);
    lstrcpynA(m_missingPath + used, data.name ? data.name : "", MAX_PATH - used);
    m_missingError = data.errorKind == kErrorCabinetNotFound ? m_openError : ERROR_INVALID_DATA;
    m_setIncomplete = true;
    // Only a user's Retry tries again (the reader gives up after a number
    // of attempts); without a user the set stays incomplete.
    if (m_op != OP_LIST && Ask(IDS_VOLUME_CANNOT_BE_OPENED, MB_RETRYCANCEL | MB_ICONEXCLAMATION, m_missingPath,
                               SystemErrorText(m_missingError)) == IDRETRY)
        return 0;
    ReportMissingCabinet();
    if (m_op != OP_LIST && m_owner) Cancel();
    return -1;
}

void CCabFormat::ReportMissingCabinet() {
    if (!m_setIncomplete || m_missingReported) return;
    m_missingReported = true;
    Warn(IDS_VOLUME_CANNOT_BE_OPENED, m_missingPath, SystemErrorText(m_missingError));
}

// --- listing ---

intptr_t CCabFormat::ListNotify(void* context, int notification, NotificationData* data) {
    auto* self = static_cast<CCabFormat*>(context);
    switch (notification) {
    case kNotifyCabinetInfo:
        self->m_sawCabinet = true;
        if (self->EntryCapacity() == 0 && FAILED(self->AllocEntries(kListBytesPerEntry, kListCapacity))) {
            self->m_outOfMemory = true;
            return -1;
        }
        return 0;
    case kNotifyCopyFile: {
        if (self->m_cancel) return -1;
        if (self->m_totals.entries >= self->EntryCapacity()) return 0;  // beyond the list's capacity
        const std::string text = NameText(*data);
        LPSTR name = self->PoolString(text.c_str(), static_cast<DWORD>(text.size()));
        if (!name) {
            self->ReportError(IDS_OUT_OF_MEMORY);
            self->m_outOfMemory = true;
            return -1;
        }
        HDRSTRUCT& h = self->m_entries[self->m_totals.entries++];
        h = HDRSTRUCT();
        h.name = name;
        h.packedSize = SIZE_UNKNOWN;  // folders are compressed as a whole
        h.ratio = RATIO_UNKNOWN;
        h.size = data->size;
        h.time = DosTimeToFileTime(DosDateTime(*data));
        h.host = h.version = h.method = 0xFFFFFFFF;
        h.attributes = data->attribs & kEntryAttributes;
        self->m_totals.totalPacked = SIZE_UNKNOWN;
        if (h.attributes & FILE_ATTRIBUTE_DIRECTORY)
            ++self->m_totals.folders;
        else
            self->m_totals.totalSize += h.size;
        return 0;  // nothing is decoded
    }
    case kNotifyNextCabinet:
        return data->errorKind == kErrorNone ? 0 : self->AskForNextCabinet(*data);
    default:
        return 0;
    }
}

HRESULT CCabFormat::DoList() {
    bool opened = false;
    if (!m_located) {
        HRESULT hr = Locate(&opened);
        if (FAILED(hr)) {
            if (hr == E_FAIL && opened) ReportNotArchive();
            return hr;
        }
    }
    bool ok = Walk(ListNotify);
    if (EntryCapacity()) TrimPool();
    if (ok) return S_OK;
    if (m_setIncomplete) {
        ReportMissingCabinet();
        return S_OK;
    }
    HRESULT hr = ReportWalkFailure();
    if (FAILED(hr)) return hr;
    // Damage further in: the entries before it are listed.
    if (!m_readReported) Warn(IDS_ARCHIVE_DAMAGED, m_archivePath);
    m_warning = TRUE;
    return S_OK;
}

// --- extracting and testing ---

intptr_t CCabFormat::ExtractNotify(void* context, int notification, NotificationData* data) {
    auto* self = static_cast<CCabFormat*>(context);
    switch (notification) {
    case kNotifyCabinetInfo:
        self->m_sawCabinet = true;
        return 0;
    case kNotifyCopyFile: {
        ++self->m_entryNumber;
        if (self->m_cancel) return -1;
        const std::string name = NameText(*data);
        if (!self->IsSelected(name.c_str())) {
            if (!self->m_allSelected) self->Progress(kProgressAdvance, data->size);
            return 0;
        }
        DWORD attributes = data->attribs & kEntryAttributes;
        FILETIME time = DosTimeToFileTime(DosDateTime(*data));
        LPCSTR detail = static_cast<LPCSTR>(self->m_currentDetail);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // No data; extraction with folder names makes the folder.
            if (self->m_op == OP_TEST || self->BeginEntryOutput(name.c_str(), time, attributes, 0, detail))
                self->NoteFolder();
            return self->m_cancel ? -1 : 0;
        }
        if (!self->BeginEntryOutput(name.c_str(), time, attributes, data->size, detail)) {
            self->Progress(kProgressAdvance, data->size);  // its outcome is noted
            return self->m_cancel ? -1 : 0;
        }
        self->m_entryReported = false;
        if (self->m_op == OP_TEST) return 1;  // the write callback only counts
        HRESULT created = self->CreateTargetFile();
        if (created == S_OK) return reinterpret_cast<intptr_t>(self->m_outputFile);
        if (FAILED(created))
            self->EntryFailed();
        else
            self->NoteSkipped(kSkipOther);  // a folder stands where the file would go
        self->Progress(kProgressAdvance, data->size);
        return self->m_cancel ? -1 : 0;
    }
    case kNotifyCloseFile: {
        bool whole = data->errorKind == kErrorNone;
        if (self->m_op != OP_TEST && self->m_outputFile != INVALID_HANDLE_VALUE) {
            if (whole) {
                self->FinishTargetFile();
            } else {
                // A partly decoded file is not left behind as if it were whole.
                CloseHandle(self->m_outputFile);
                self->m_outputFile = INVALID_HANDLE_VALUE;
                tessera::DeleteFileAt(self->m_outputPath);
            }
        }
        if (!whole && !self->m_cancel) {
            self->ReportMissingCabinet();
            if (!self->m_entryReported && !self->m_readReported && !self->m_setIncomplete)
                self->Warn(IDS_FILE_DAMAGED, static_cast<unsigned>(self->m_entryNumber));
            self->m_entryReported = true;
            self->EntryFailed();
        } else if (whole) {
            self->NoteProcessed();
        }
        return 1;
    }
    case kNotifyNextCabinet:
        return data->errorKind == kErrorNone ? 0 : self->AskForNextCabinet(*data);
    default:
        return 0;
    }
}

HRESULT CCabFormat::ExtractOrTest() {
    bool opened = false;
    if (!m_located) {
        HRESULT hr = Locate(&opened);
        if (FAILED(hr)) {
            if (hr == E_FAIL && opened) ReportNotArchive();
            return hr;
        }
    }
    Progress(kProgressBegin, ProgressTotal());
    bool ok = Walk(ExtractNotify);
    Progress(kProgressEnd, 0);
    ShowStatus(STATUS_CLEAR);
    if (m_cancel) return E_ABORT;
    if (ok) {
        ReportMissing();
    } else {
        HRESULT hr = ReportWalkFailure();
        if (FAILED(hr)) return hr;
        // The walk stopped part-way: what lies behind is not reached.
        ReportMissingCabinet();
        if (!m_entryReported) {
            if (!m_readReported && !m_setIncomplete) Warn(IDS_ARCHIVE_DAMAGED, m_archivePath);
            ArchiveDamaged();
        }
    }
    if (m_op == OP_TEST) ReportTestSummary();
    return S_OK;
}

HRESULT CCabFormat::DoExtract() { return ExtractOrTest(); }

HRESULT CCabFormat::DoTest() { return ExtractOrTest(); }
