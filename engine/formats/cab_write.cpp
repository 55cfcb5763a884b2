// Writing cabinets: new cabinets and cabinet sets through the builder, the
// self-extractor conversions and the split options dialog.
//
// Every cabinet is first written to a temporary file beside its final name;
// only when the whole build has succeeded do the cabinets take their names
// (the old file, if any, replaced as every archive is replaced, with its
// backup). A failed or cancelled build deletes its temporary files and
// leaves what was there before untouched. A set written to a removable disk
// is the exception: each of its cabinets takes its name as soon as it is
// complete, since the next one goes to another disk.
#include "formats/cab_format.h"

#include "core/file_io.h"
#include "core/name_text.h"
#include "core/module.h"
#include "core/resource.h"
#include "core/services.h"
#include "win32/dialog.h"

#include "cabinet/cab_format.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tessera::cab;

namespace {

const char kTempPrefix[] = "tsr";
// Cabinets under construction have a prefix of their own: the builder's
// temporary names are freed before it opens them, and a cabinet must never
// be given one of them meanwhile.
const char kCabinetTempPrefix[] = "tsc";
const uint16_t kSetId = 20938;
const DWORD kMinVolumeSize = 65536;
const DWORD kMaxVolumeSize = 0x7FFFFFF;
const DWORD kOldDiskVolumeSize = 1505280;  // the disk choice as older settings hold it
// Attributes a cabinet keeps of a source file: read-only, hidden, system, archive.
const DWORD kSourceAttributes = 0x27;

const uint16_t kLevelTypes[5] = {0x1503, 0x1203, 0x0F03, 0x0001, 0x0000};

HANDLE HandleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle FileOf(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

// Whether a cabinet file has been written to its end ("MSCF" comes last).
bool IsCompleteCabinet(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char signature[4] = {};
    DWORD got = 0;
    bool complete = ReadFile(file, signature, 4, &got, nullptr) && got == 4 && std::memcmp(signature, "MSCF", 4) == 0;
    CloseHandle(file);
    return complete;
}

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// The stored name of a path: without drive and leading backslashes, the
// first `drop` folder levels removed, only the file name without folders.
std::string StoredNameOf(const char* path, DWORD drop, bool keepFolders) {
    const char* p = path;
    if (p[0] && p[1] == ':') p += 2;
    while (*p == '\\' || *p == '/') ++p;
    for (DWORD level = 0; level < drop; ++level) {
        const char* slash = std::strpbrk(p, "\\/");
        if (!slash) break;
        p = slash + 1;
    }
    if (!keepFolders) {
        for (const char* q = p; *q; ++q)
            if (*q == '\\' || *q == '/') p = q + 1;
    }
    std::string name(p);
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

}  // namespace

HRESULT CCabFormat::SetLevel(UINT levelIndex) {
    if (levelIndex == 0xFFFFFFFF) levelIndex = 0;
    if (levelIndex > 4) levelIndex = 4;
    m_typeWord = kLevelTypes[levelIndex];
    return S_OK;
}

// --- builder callbacks ---

int CCabFormat::BuildFilePlaced(void*, const CabinetParameters*, const char*, uint32_t, bool) { return 0; }

void* CCabFormat::BuildAllocate(void*, size_t size) { return std::malloc(size); }

void CCabFormat::BuildFree(void*, void* block) { std::free(block); }

FileHandle CCabFormat::BuildOpen(void* context, const char* path) {
    auto* self = static_cast<CCabFormat*>(context);
    for (const std::string& staging : self->m_stagingFiles) {
        if (staging != path) continue;
        HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            self->ReportError(IDS_TEMP_CANNOT_BE_CREATED, self->SystemErrorText());
            self->m_buildReported = true;
            return -1;
        }
        return FileOf(file);
    }
    // A cabinet of the set: written under a temporary name in its folder.
    if (self->m_removableTarget && !self->CheckRemovableDisk()) return -1;
    char folder[MAX_PATH];
    LPCSTR name = FileNamePart(path);
    lstrcpynA(folder, path, static_cast<int>(name - path) + 1);
    if (!folder[0]) lstrcpyA(folder, ".\\");
    char temp[MAX_PATH];
    if (!GetTempFileNameA(folder, kCabinetTempPrefix, 0, temp)) {
        self->ReportError(IDS_TEMP_CANNOT_BE_CREATED, self->SystemErrorText());
        self->m_buildReported = true;
        return -1;
    }
    HANDLE file = CreateFileA(temp, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        self->ReportError(IDS_TEMP_CANNOT_BE_CREATED, self->SystemErrorText());
        self->m_buildReported = true;
        DeleteFileA(temp);
        return -1;
    }
    try {
        self->m_outputs.push_back({path, temp, file, false});
    } catch (...) {
        CloseHandle(file);
        DeleteFileA(temp);
        return -1;
    }
    return FileOf(file);
}

int32_t CCabFormat::BuildRead(void* context, FileHandle file, void* buffer, uint32_t size) {
    auto* self = static_cast<CCabFormat*>(context);
    HANDLE handle = HandleOf(file);
    bool source = handle == self->m_sourceFile;
    if (source && self->m_cancel) return -1;
    DWORD done = 0;
    if (size > 0x7FFFFFFF || !EngineReadFile(handle, buffer, size, &done)) {
        if (!self->m_buildReported) {
            self->m_buildReported = true;
            if (source)
                self->ReportError(IDS_ERROR_READING_FILE, self->m_outputPath, self->SystemErrorText());
            else
                self->ReportError(IDS_ERROR_READING_ARCHIVE, self->SystemErrorText());
        }
        return -1;
    }
    if (source) self->Progress(kProgressAdvance, done);
    return static_cast<int32_t>(done);
}

int32_t CCabFormat::BuildWrite(void* context, FileHandle file, const void* data, uint32_t size) {
    auto* self = static_cast<CCabFormat*>(context);
    HANDLE handle = HandleOf(file);
    if (self->m_cancel || size > 0x7FFFFFFF) return -1;
    LARGE_INTEGER start = {}, zero = {};
    SetFilePointerEx(handle, zero, &start, FILE_CURRENT);
    while (!EngineWriteFile(handle, data, size)) {
        DWORD error = GetLastError();
        CabinetOutput* output = self->OutputOf(handle);
        const char* path = output ? output->tempPath.c_str() : self->m_tempFolder;
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
            if (self->m_owner &&
                self->Ask(IDS_DISK_FULL, MB_RETRYCANCEL | MB_ICONSTOP, path && path[0] ? path[0] : '?') == IDRETRY) {
                SetFilePointerEx(handle, start, nullptr, FILE_BEGIN);
                continue;
            }
            self->Cancel();
        } else if (!self->m_buildReported) {
            self->ReportError(IDS_ERROR_WRITING_TEMP_FILE, self->SystemErrorText(error));
        }
        self->m_buildReported = true;
        return -1;
    }
    return static_cast<int32_t>(size);
}

int CCabFormat::BuildClose(void* context, FileHandle file) {
    auto* self = static_cast<CCabFormat*>(context);
    HANDLE handle = HandleOf(file);
    if (handle == self->m_sourceFile) self->m_sourceFile = INVALID_HANDLE_VALUE;
    CabinetOutput* output = self->OutputOf(handle);
    bool ok = CloseHandle(handle) != FALSE;
    if (output) {
        output->handle = INVALID_HANDLE_VALUE;
        // On a removable disk the cabinet takes its name now, if it is
        // complete: only then does it carry its signature.
        if (ok && self->m_removableTarget && !self->m_cancel && IsCompleteCabinet(output->tempPath.c_str()) &&
            !self->PlaceCabinet(*output))
            return -1;
    }
    return ok ? 0 : -1;
}

int32_t CCabFormat::BuildSeek(void*, FileHandle file, int32_t offset, int origin) {
    DWORD method = origin == kSeekSet ? FILE_BEGIN : origin == kSeekCurrent ? FILE_CURRENT : FILE_END;
    if (origin != kSeekSet && origin != kSeekCurrent && origin != kSeekEnd) return -1;
    LARGE_INTEGER move, position;
    move.QuadPart = offset;
    if (!SetFilePointerEx(HandleOf(file), move, &position, method)) return -1;
    if (position.QuadPart < 0 || position.QuadPart > 0x7FFFFFFF) return -1;
    return static_cast<int32_t>(position.QuadPart);
}

int CCabFormat::BuildRemove(void*, const char* path) { return DeleteFileA(path) ? 0 : -1; }

bool CCabFormat::BuildTempName(void* context, char* buffer, size_t size) {
    auto* self = static_cast<CCabFormat*>(context);
    char path[MAX_PATH];
    const char* folder = self->m_tempFolder && self->m_tempFolder[0] ? self->m_tempFolder : ".\\";
    if (!GetTempFileNameA(folder, kTempPrefix, 0, path)) {
        self->ReportError(IDS_TEMP_CANNOT_BE_CREATED, self->SystemErrorText());
        self->m_buildReported = true;
        return false;
    }
    DeleteFileA(path);
    if (std::strlen(path) >= size) return false;
    lstrcpynA(buffer, path, static_cast<int>(size));
    try {
        self->m_stagingFiles.push_back(path);
    } catch (...) {
        return false;
    }
    return true;
}

bool CCabFormat::NextCabinet(void* context, CabinetParameters* params, uint32_t) {
    return static_cast<CCabFormat*>(context)->NameCabinet(params);
}

int32_t CCabFormat::BuildStatus(void* context, uint32_t, uint32_t) {
    return static_cast<CCabFormat*>(context)->m_cancel ? -1 : 0;
}

FileHandle CCabFormat::OpenSource(void* context, const char* path, uint16_t* date, uint16_t* time,
                                  uint16_t* attribs) {
    auto* self = static_cast<CCabFormat*>(context);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        self->ReportError(IDS_ERROR_OPENING_FILE, path, self->SystemErrorText());
        self->m_buildReported = true;
        return -1;
    }
    FILETIME written = {}, local = {};
    WORD dosDate = 0, dosTime = 0;
    if (GetFileTime(file, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local))
        FileTimeToDosDateTime(&local, &dosDate, &dosTime);
    DWORD attributes = GetFileAttributesA(path);
    *date = dosDate;
    *time = dosTime;
    *attribs = static_cast<uint16_t>(attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & kSourceAttributes);
    lstrcpynA(self->m_outputPath, path, sizeof self->m_outputPath);  // for a read error's report
    self->m_sourceFile = file;
    return FileOf(file);
}

// --- naming and disks ---

bool CCabFormat::NameCabinet(CabinetParameters* params) {
    if (!m_spanning) {
        lstrcpynA(params->cabinetName, FileNamePart(m_archivePath), sizeof params->cabinetName);
        params->diskName[0] = '\0';
        return true;
    }
    params->diskNumber = params->cabinetNumber - 1;
    char name[MAX_PATH + 16];
    int length = std::snprintf(name, sizeof name, "%s%02d%s", m_buildBase.c_str(), params->cabinetNumber,
                               m_buildExtension.c_str());
    if (length < 0 || static_cast<size_t>(length) > kMaxNameLength ||
        std::strlen(params->cabinetFolder) + static_cast<size_t>(length) >= MAX_PATH) {
        ReportError(IDS_ARCHIVE_CANNOT_BE_CREATED, SystemErrorText(ERROR_FILENAME_EXCED_RANGE));
        m_buildReported = true;
        return false;
    }
    lstrcpynA(params->cabinetName, name, sizeof params->cabinetName);
    std::snprintf(params->diskName, sizeof params->diskName, "Disk %d", params->diskNumber + 1);
    return true;
}

bool CCabFormat::CheckRemovableDisk() {
    char root[4];
    lstrcpynA(root, m_archivePath, sizeof root);
    for (;;) {
        ULARGE_INTEGER available = {}, total = {};
        if (GetDiskFreeSpaceExA(root, &available, &total, nullptr)) {
            if (total.QuadPart < m_maxCabinetSize) {
                ReportError(IDS_VOLUME_LARGER_THAN_DISK);
                m_buildReported = true;
                return false;
            }
            if (available.QuadPart >= m_maxCabinetSize) return true;
        }
        // Nobody to change the disk: the build ends.
        if (!m_owner || Ask(IDS_INSERT_NEW_DISK, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
            if (!m_owner) ReportError(IDS_INSERT_NEW_DISK);
            Cancel();
            m_buildReported = true;
            return false;
        }
    }
}

// --- outputs ---

CCabFormat::CabinetOutput* CCabFormat::OutputOf(HANDLE file) {
    for (CabinetOutput& output : m_outputs)
        if (output.handle == file && file != INVALID_HANDLE_VALUE) return &output;
    return nullptr;
}

bool CCabFormat::PlaceCabinet(CabinetOutput& output) {
    if (output.placed) return true;
    if (GetFileAttributesA(output.finalPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (!ReplaceArchive(output.finalPath.c_str(), output.tempPath.c_str())) return false;
    } else if (!MoveFileExA(output.tempPath.c_str(), output.finalPath.c_str(), MOVEFILE_WRITE_THROUGH)) {
        Log(IDS_TEMP_CANNOT_BE_MOVED, SystemErrorText());
        ReportError(IDS_REPLACE_FAILED, output.tempPath.c_str());
        return false;
    }
    output.placed = true;
    return true;
}

void CCabFormat::DropOutputs() {
    for (CabinetOutput& output : m_outputs) {
        if (output.handle != INVALID_HANDLE_VALUE) CloseHandle(output.handle);
        if (!output.placed) DeleteFileA(output.tempPath.c_str());
    }
    m_outputs.clear();
}

// --- the add list ---

bool CCabFormat::CollectAddItems(std::vector<AddItem>* items) {
    for (const ADDFILEINFO* file = m_files; file && file->length != 0; file = ADDFILEINFO_NEXT(file)) {
        const char* path = file->path;
        if (!path[0]) continue;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
            Warn(IDS_ERROR_OPENING_FILE, path, SystemErrorText());
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // a cabinet holds files only
        if (lstrcmpiA(path, m_archivePath) == 0) continue;
        std::string name = file->storedName ? StoredNameOf(file->storedName, 0, true)
                                            : StoredNameOf(path, m_relativePaths ? m_commonDepth : 0, m_usePaths != 0);
        if (name.empty()) continue;
        if (data.nFileSizeHigh != 0) {
            Warn(IDS_FILE_TOO_LARGE, name.c_str(),
                 static_cast<unsigned long>((uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow) >> 20));
            continue;
        }
        bool utf8 = false;  // the builder marks names beyond ASCII as UTF-8
        name = tessera::NameToStore(name, &utf8);
        if (name.size() > kMaxNameLength) {
            LogSkip(path, IDS_REASON_PATH_TOO_LONG);
            m_warning = TRUE;
            continue;
        }
        bool repeated = false;
        for (const AddItem& item : *items) {
            if (SameText(item.path, path)) {
                repeated = true;
                break;
            }
            if (SameText(item.storedName, name)) {
                ReportError(IDS_NAME_REPEATED, name.c_str(), item.path.c_str(), path);
                return false;
            }
        }
        if (repeated) continue;
        items->push_back({path, name, data.nFileSizeLow});
    }
    if (items->empty()) {
        ReportError(IDS_NOTHING_TO_DO);
        return false;
    }
    return true;
}

// --- DoAdd ---

HRESULT CCabFormat::DoAdd() {
    // A cabinet is always written anew: there is nothing to update in it.
    if (m_op != OP_ADD) return E_NOTIMPL;
    ShowStatus(IDS_PREPARING);
    std::vector<AddItem> items;
    try {
        if (!CollectAddItems(&items)) return E_FAIL;
    } catch (const std::bad_alloc&) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }

    m_spanning = m_split && m_volumeSize != 0;
    if (m_spanning && m_volumeSize < kMinVolumeSize) {
        ReportError(IDS_MEDIUM_SIZE_RANGE);
        return E_FAIL;
    }
    m_maxCabinetSize = m_spanning && m_volumeSize < kMaxVolumeSize ? m_volumeSize : kMaxVolumeSize;
    CabinetParameters params;
    params.maxCabinetSize = m_maxCabinetSize;
    params.folderThreshold = 900000;
    params.cabinetNumber = 1;
    params.diskNumber = 0;
    params.setID = kSetId;
    LPCSTR fileName = FileNamePart(m_archivePath);
    size_t folderLength = static_cast<size_t>(fileName - m_archivePath);
    if (folderLength >= sizeof params.cabinetFolder || !fileName[0]) {
        ReportError(IDS_ARCHIVE_CANNOT_BE_CREATED, SystemErrorText(ERROR_FILENAME_EXCED_RANGE));
        return E_FAIL;
    }
    lstrcpynA(params.cabinetFolder, m_archivePath, static_cast<int>(folderLength) + 1);
    // The extension starts at the last '.' after the last blank or separator.
    LPCSTR extension = nullptr;
    for (LPCSTR p = fileName; *p; ++p) {
        if (*p == '.') extension = p;
        if (*p == ' ') extension = nullptr;
    }
    m_buildBase.assign(fileName, extension ? static_cast<size_t>(extension - fileName) : std::strlen(fileName));
    m_buildExtension = extension ? extension : "";
    char root[4];
    lstrcpynA(root, m_archivePath, sizeof root);
    m_removableTarget = m_spanning && root[1] == ':' && GetDriveTypeA(root) == DRIVE_REMOVABLE;
    m_buildReported = false;
    m_sourceFile = INVALID_HANDLE_VALUE;
    m_outputs.clear();
    m_stagingFiles.clear();
    if (!NameCabinet(&params)) return E_FAIL;

    BuilderCallbacks callbacks = {this,        BuildFilePlaced, BuildAllocate, BuildFree,   BuildOpen,
                                  BuildRead,   BuildWrite,      BuildClose,    BuildSeek,   BuildRemove,
                                  BuildTempName};
    ErrorRecord error;
    std::unique_ptr<CabBuilder> builder = CabBuilder::Create(callbacks, params, &error);
    if (!builder) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }

    DWORD total = 0;
    for (const AddItem& item : items) total += item.size;
    Progress(kProgressBegin, total);
    bool ok = true;
    for (const AddItem& item : items) {
        if (m_cancel) {
            ok = false;
            break;
        }
        // Only a file that can be read is handed to the builder: a failure
        // inside would end the whole build.
        HANDLE probe = CreateFileA(item.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            Warn(IDS_ERROR_OPENING_FILE, item.path.c_str(), SystemErrorText());
            Progress(kProgressAdvance, item.size);
            continue;
        }
        CloseHandle(probe);
        Log(IDS_COMPRESSING, FileNamePart(item.path.c_str()));
        ShowStatus(IDS_COMPRESSING, FileNamePart(item.path.c_str()));
        if (!builder->AddFile(item.path.c_str(), item.storedName.c_str(), false, NextCabinet, BuildStatus,
                              OpenSource, m_typeWord)) {
            ok = false;
            break;
        }
    }
    if (ok && !m_cancel) ok = builder->FlushCabinet(false, NextCabinet, BuildStatus);
    if (m_cancel) ok = false;
    builder.reset();  // deletes the builder's temporary files
    for (const std::string& staging : m_stagingFiles) DeleteFileA(staging.c_str());
    m_stagingFiles.clear();
    Progress(kProgressEnd, 0);
    ShowStatus(STATUS_CLEAR);

    if (ok) {
        for (CabinetOutput& output : m_outputs) {
            if (output.handle != INVALID_HANDLE_VALUE) {
                CloseHandle(output.handle);
                output.handle = INVALID_HANDLE_VALUE;
            }
            if (!PlaceCabinet(output)) {
                // This temporary file stays for the user (4160 names it);
                // those not reached yet are dropped.
                output.placed = true;
                ok = false;
                m_buildReported = true;
                break;
            }
        }
    }
    if (!ok && !m_cancel && !m_buildReported) {
        switch (error.kind) {
        case kBuildErrorOutOfMemory: ReportError(IDS_OUT_OF_MEMORY); break;
        case kBuildErrorOpenSource:
        case kBuildErrorReadSource: ReportError(IDS_ERROR_READING_FILE, m_outputPath, SystemErrorText()); break;
        default: ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, SystemErrorText()); break;
        }
    }
    if (!ok) {
        DropOutputs();
        return m_cancel ? E_ABORT : error.kind == kBuildErrorOutOfMemory ? E_OUTOFMEMORY : E_FAIL;
    }
    m_outputs.clear();
    return S_OK;
}

// --- self-extractor conversions ---

HRESULT CCabFormat::CopyToNewFile(LPCSTR target, const void* prefix, DWORD prefixSize, DWORD from) {
    if (!OpenArchiveFile()) return E_FAIL;
    if (from > m_archiveSize ||
        SetFilePointer(m_archiveFile, static_cast<LONG>(from), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
        CloseArchiveFile();
        return E_FAIL;
    }
    HANDLE out = CreateArchiveFile(target);
    if (out == INVALID_HANDLE_VALUE) {
        CloseArchiveFile();
        return E_FAIL;
    }
    bool ok = true;
    if (prefixSize && !EngineWriteFile(out, prefix, prefixSize)) {
        ReportError(IDS_ERROR_WRITING_TEMP_FILE, SystemErrorText());
        ok = false;
    }
    DWORD count = m_archiveSize - from;
    if (ok) {
        Progress(kProgressBegin, count);
        Log(IDS_COPYING, FileNamePart(m_archivePath));
        ShowStatus(IDS_COPYING, FileNamePart(m_archivePath));
        ok = CopyData(m_archiveFile, out, count, target[0]);
        Progress(kProgressEnd, 0);
        ShowStatus(STATUS_CLEAR);
    }
    if (!CloseHandle(out) && ok) {
        ReportError(IDS_ARCHIVE_CANNOT_BE_WRITTEN, SystemErrorText());
        ok = false;
    }
    CloseArchiveFile();
    // No half-written program or cabinet is left behind.
    if (!ok) DeleteFileA(target);
    return ok ? S_OK : E_FAIL;
}

HRESULT CCabFormat::DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize) {
    return CopyToNewFile(newProgramPath, module, moduleSize, 0);
}

HRESULT CCabFormat::DoRemoveEXE(LPCSTR newArchivePath) {
    if (!m_located) {
        bool opened = false;
        HRESULT hr = Locate(&opened);
        if (FAILED(hr)) {
            if (hr == E_FAIL && opened) ReportNotArchive();
            return hr;
        }
    }
    return CopyToNewFile(newArchivePath, nullptr, 0, m_baseOffset);
}

// --- split options ---

namespace {

const int kUnitIds[4] = {IDC_SPLIT_KB, IDC_SPLIT_1000, IDC_SPLIT_BYTES, IDC_SPLIT_MB};
const DWORD kUnitSizes[4] = {1024, 1000, 1, 1048576};

void EnableSplitControls(HWND dialog) {
    bool active = IsDlgButtonChecked(dialog, IDC_SPLIT_ACTIVATE) == BST_CHECKED;
    bool other = active && IsDlgButtonChecked(dialog, IDC_SPLIT_OTHER) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_SPLIT_DISK), active);
    EnableWindow(GetDlgItem(dialog, IDC_SPLIT_OTHER), active);
    EnableWindow(GetDlgItem(dialog, IDC_SPLIT_SIZE), other);
    EnableWindow(GetDlgItem(dialog, IDC_SPLIT_SPIN), other);
    for (int id : kUnitIds) EnableWindow(GetDlgItem(dialog, id), other);
}

// The number of the size field; false when it holds none.
bool ReadNumber(HWND dialog, uint64_t* value) {
    char text[32];
    int length = GetDlgItemTextA(dialog, IDC_SPLIT_SIZE, text, sizeof text);
    if (length <= 0 || length >= static_cast<int>(sizeof text) - 1) return false;
    uint64_t number = 0;
    for (int i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
        if (number > 0xFFFFFFFFull) return false;
    }
    *value = number;
    return true;
}

}  // namespace

// The volume size in the dialog's terms: off, the disk, or a number of units.
class CCabFormat::SplitOptionsDialog final : public tessera::win32::Dialog {
public:
    SplitOptionsDialog(CCabFormat& format, DWORD size) : format_(format), size_(size) {}
    DWORD Size() const { return size_; }

private:
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        SendDlgItemMessageA(Handle(), IDC_SPLIT_SPIN, UDM_SETRANGE32, 0, 0x7FFFFFFF);
        DWORD s = size_;
        int unit = 0;  // KB
        DWORD number = 64;
        bool disk = s == 0 || s == kDiskVolumeSize || s == kOldDiskVolumeSize;
        if (!disk) {
            if (s >= 1048576 && s % 1048576 == 0) unit = 3;
            else if (s >= 1024 && s % 1024 == 0) unit = 0;
            else if (s >= 1000 && s % 1000 == 0) unit = 1;
            else unit = 2;
            number = s / kUnitSizes[unit];
        }
        Check(IDC_SPLIT_ACTIVATE, s != 0);
        CheckRadioButton(Handle(), IDC_SPLIT_DISK, IDC_SPLIT_OTHER, disk ? IDC_SPLIT_DISK : IDC_SPLIT_OTHER);
        CheckRadioButton(Handle(), IDC_SPLIT_KB, IDC_SPLIT_MB, kUnitIds[unit]);
        SetDlgItemInt(Handle(), IDC_SPLIT_SIZE, number, FALSE);
        EnableSplitControls(Handle());
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND control) override {
        switch (id) {
        case IDC_SPLIT_ACTIVATE:
        case IDC_SPLIT_DISK:
        case IDC_SPLIT_OTHER:
            if (code == BN_CLICKED) EnableSplitControls(Handle());
            return TRUE;
        case IDOK: {
            DWORD size = 0;
            if (!ChosenSize(&size)) {
                // The question is owned by the dialog.
                HWND owner = format_.m_owner;
                format_.m_owner = Handle();
                format_.Ask(IDS_MEDIUM_SIZE_RANGE, MB_OK | MB_ICONEXCLAMATION);
                format_.m_owner = owner;
                SetFocus(Item(IDC_SPLIT_SIZE));
                return TRUE;
            }
            size_ = size;
            End(IDOK);
            return TRUE;
        }
        }
        return Dialog::OnCommand(id, code, control);
    }
    // The size chosen (0: not split); false when the number is out of range.
    bool ChosenSize(DWORD* size) const {
        *size = 0;
        if (!Checked(IDC_SPLIT_ACTIVATE)) return true;
        if (!Checked(IDC_SPLIT_OTHER)) {
            *size = kDiskVolumeSize;
            return true;
        }
        uint64_t number = 0;
        if (!ReadNumber(Handle(), &number)) return false;
        DWORD unit = kUnitSizes[0];
        for (int i = 0; i < 4; ++i)
            if (Checked(kUnitIds[i])) unit = kUnitSizes[i];
        uint64_t bytes = number * unit;
        if (bytes < kMinVolumeSize || bytes > kMaxVolumeSize) return false;
        *size = static_cast<DWORD>(bytes);
        return true;
    }

    CCabFormat& format_;
    DWORD size_;
};

HRESULT STDMETHODCALLTYPE CCabFormat::SplitDialog(HWND owner, DWORD* volumeSize, BOOL* split) {
    if (!volumeSize || !split) return E_INVALIDARG;
    SplitOptionsDialog dialog(*this, *split ? *volumeSize : 0);
    RegisterEngineControls();
    INT_PTR answer = dialog.RunModal(EngineModule(), IDD_SPLIT, owner);
    if (answer != IDOK) return answer == IDCANCEL ? E_ABORT : E_FAIL;
    *volumeSize = dialog.Size();
    *split = dialog.Size() != 0;
    return S_OK;
}
