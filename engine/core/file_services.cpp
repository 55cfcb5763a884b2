// File services of the archive object: opening and creating archives,
// copying, replacing an archive by its rewritten temporary file, and the
// per-entry output decisions of extraction (where, whether, overwrite).
//
// Two places are stricter than a plain reading of the stored data would be:
//   - every output path is made from a cleaned relative path (path_safety.h),
//     so no entry is written outside the destination or to a device; the
//     whole path may pass MAX_PATH and is then used in its long form
//     (long_path.h);
//   - ReplaceArchive never deletes the old archive before the new one is in
//     place: the temporary file replaces it in one move.
#include "core/compress_format.h"

#include "core/file_io.h"
#include "core/long_path.h"
#include "core/path_safety.h"
#include "core/registry.h"

#include <cstring>

namespace {

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// Length of the root of a path, the part that is never created: "X:\" or
// "X:", "\\server\share\", "\" (either separator).
size_t RootLength(const char* path) {
    if (path[0] && path[1] == ':') return IsPathSeparator(path[2]) ? 3 : 2;
    if (IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        const char* p = path + 2;
        for (int part = 0; part < 2 && *p; ++part) {
            while (*p && !IsPathSeparator(*p)) ++p;
            if (*p) ++p;
        }
        return static_cast<size_t>(p - path);
    }
    return IsPathSeparator(path[0]) ? 1 : 0;
}

}  // namespace

// --- archive files ---

bool CCompressFormat::OpenArchiveFile() {
    CloseArchiveFile();
    m_archiveFile = CreateFileA(m_archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_archiveFile == INVALID_HANDLE_VALUE) {
        ReportError(IDS_ARCHIVE_CANNOT_BE_OPENED, SystemErrorText());
        return false;
    }
    DWORD high = 0;
    m_archiveSize = GetFileSize(m_archiveFile, &high);
    if (high) m_archiveSize = 0xFFFFFFFF;
    return true;
}

void CCompressFormat::CloseArchiveFile() {
    if (m_archiveFile != INVALID_HANDLE_VALUE) CloseHandle(m_archiveFile);
    m_archiveFile = INVALID_HANDLE_VALUE;
}

HANDLE CCompressFormat::CreateArchiveFile(LPCSTR path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        if (Ask(IDS_FILE_EXISTS_OVERWRITE, MB_YESNO | MB_ICONQUESTION, path) == IDNO) {
            Cancel();
            return INVALID_HANDLE_VALUE;
        }
        file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) ReportError(IDS_ARCHIVE_CANNOT_BE_CREATED, SystemErrorText());
    return file;
}

bool CCompressFormat::CopyData(HANDLE from, HANDLE to, DWORD count, char driveLetter) {
    if (count == 0) return true;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kCopyChunk));
    if (!buffer) {
        ReportError(IDS_OUT_OF_MEMORY);
        return false;
    }
    bool ok = true;
    while (count > 0 && !m_cancel) {
        DWORD want = count < kCopyChunk ? count : kCopyChunk;
        DWORD got = 0;
        if (!EngineReadFile(from, buffer, want, &got) || got == 0) {
            ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(got == 0 && GetLastError() == 0 ? ERROR_HANDLE_EOF
                                                                                                    : ERROR_FROM_LAST));
            ok = false;
            break;
        }
        LARGE_INTEGER start = {};
        LARGE_INTEGER zero = {};
        SetFilePointerEx(to, zero, &start, FILE_CURRENT);
        while (!EngineWriteFile(to, buffer, got)) {
            DWORD error = GetLastError();
            if (IsDiskFull(error)) {
                if (Ask(IDS_DISK_FULL, MB_RETRYCANCEL | MB_ICONSTOP, driveLetter) == IDRETRY) {
                    SetFilePointerEx(to, start, nullptr, FILE_BEGIN);
                    continue;
                }
                Cancel();
            } else {
                ReportError(IDS_ERROR_WRITING_TEMP_FILE, SystemErrorText(error));
            }
            ok = false;
            break;
        }
        if (!ok) break;
        count -= got;
        Progress(kProgressAdvance, got);
    }
    HeapFree(GetProcessHeap(), 0, buffer);
    return ok && !m_cancel;
}

bool CCompressFormat::ReplaceArchive(LPCSTR oldPath, LPCSTR tempPath) {
    Log(IDS_REPLACING_OLD_ARCHIVE);
    ShowStatus(IDS_REPLACING_OLD_ARCHIVE);
    bool done = false;
    const DWORD replaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (m_backup) {
        char backup[MAX_PATH];
        LPCSTR extension = PathExtension(oldPath);
        size_t stem = static_cast<size_t>(extension - oldPath);
        if (stem + 5 <= MAX_PATH) {
            memcpy(backup, oldPath, stem);
            lstrcpyA(backup + stem, ".bak");
            Log(IDS_CREATING_BACKUP_COPY, FileNamePart(backup));
            if (!DeleteFileA(backup) && GetLastError() != ERROR_FILE_NOT_FOUND) {
                Log(IDS_CANNOT_BE_DELETED, backup, SystemErrorText());
            } else if (!MoveFileExA(oldPath, backup, MOVEFILE_WRITE_THROUGH) && GetLastError() != ERROR_FILE_NOT_FOUND) {
                Log(IDS_BACKUP_CANNOT_BE_CREATED, SystemErrorText());
            } else if (!MoveFileExA(tempPath, oldPath, replaceFlags)) {
                Log(IDS_TEMP_CANNOT_BE_MOVED, SystemErrorText());
                // Put the old archive back where it was.
                MoveFileExA(backup, oldPath, MOVEFILE_WRITE_THROUGH);
            } else {
                done = true;
            }
        } else {
            Log(IDS_BACKUP_CANNOT_BE_CREATED, SystemErrorText(ERROR_FILENAME_EXCED_RANGE));
        }
    } else if (MoveFileExA(tempPath, oldPath, replaceFlags)) {
        // One move replaces the old archive: it is never deleted first, so a
        // failure leaves it as it was.
        done = true;
    } else {
        DWORD error = GetLastError();
        bool oldExists = GetFileAttributesA(oldPath) != INVALID_FILE_ATTRIBUTES;
        Log(oldExists ? IDS_ARCHIVE_CANNOT_BE_DELETED : IDS_TEMP_CANNOT_BE_MOVED, SystemErrorText(error));
    }
    if (!done) ReportError(IDS_REPLACE_FAILED, tempPath);
    return done;
}

// --- destination and output paths ---

bool CCompressFormat::CreateFolderLevels(char* path, size_t start) {
    // Entries come folder by folder: a path whose folder is the one made or
    // checked for the entry before (or lies above it) needs no look at the
    // disk. Each probe by name is costly where names are matched without
    // regard to case.
    const char* lastSeparator = nullptr;
    for (const char* p = path; *p; ++p)
        if (IsPathSeparator(*p)) lastSeparator = p;
    const size_t folderLength = lastSeparator ? static_cast<size_t>(lastSeparator - path) + 1 : 0;
    const size_t knownLength = strlen(m_knownFolder);
    if (folderLength > 0 && folderLength <= knownLength && strncmp(path, m_knownFolder, folderLength) == 0) return true;
    size_t root = RootLength(path);
    if (start < root) start = root;
    for (size_t i = start; path[i]; ++i) {
        if (path[i] != '\\' && path[i] != '/') continue;
        if (i == 0 || path[i - 1] == ':') continue;
        char saved = path[i];
        path[i] = '\0';
        DWORD attributes = tessera::FileAttributesAt(path);
        bool ok = true;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            while (!tessera::CreateDirectoryAt(path)) {
                DWORD error = GetLastError();
                if (IsDiskFull(error)) {
                    if (Ask(IDS_DISK_FULL, MB_RETRYCANCEL | MB_ICONSTOP, path[0]) == IDRETRY) continue;
                    Cancel();
                } else if (error == ERROR_ALREADY_EXISTS && (tessera::FileAttributesAt(path) & FILE_ATTRIBUTE_DIRECTORY)) {
                    break;
                } else {
                    Warn(IDS_FOLDER_CANNOT_BE_CREATED, path, SystemErrorText(error));
                }
                ok = false;
                break;
            }
            if (ok) Log(IDS_CREATING_FOLDER, path);
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            // A file stands where a folder is needed.
            Warn(IDS_FOLDER_CANNOT_BE_CREATED, path, SystemErrorText(ERROR_ALREADY_EXISTS));
            ok = false;
        }
        path[i] = saved;
        if (!ok) return false;
    }
    if (folderLength < MAX_PATH) {
        memcpy(m_knownFolder, path, folderLength);
        m_knownFolder[folderLength] = '\0';
    }
    return true;
}

bool CCompressFormat::PrepareDestination(LPCSTR folder) {
    m_knownFolder[0] = '\0';
    if (folder[0] == '\0') {
        DWORD length = GetCurrentDirectoryA(MAX_PATH, m_destination);
        if (length == 0 || length >= MAX_PATH) return false;
    } else {
        lstrcpynA(m_destination, folder, MAX_PATH);
    }
    size_t length = strlen(m_destination);
    char last = m_destination[length - 1];
    if (last != '\\' && last != '/') {
        if (length + 1 >= MAX_PATH) {
            ReportError(IDS_FOLDER_CANNOT_BE_CREATED, m_destination, SystemErrorText(ERROR_FILENAME_EXCED_RANGE));
            return false;
        }
        lstrcatA(m_destination, "\\");
    }
    char path[MAX_PATH];
    lstrcpyA(path, m_destination);
    size_t root = RootLength(path);
    for (size_t i = root; path[i]; ++i) {
        if (path[i] != '\\' && path[i] != '/') continue;
        path[i] = '\0';
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                ReportError(IDS_FOLDER_CANNOT_BE_CREATED, path, SystemErrorText());
                return false;
            }
            Log(IDS_CREATING_FOLDER, path);
        }
        path[i] = '\\';
    }
    return true;
}

bool CCompressFormat::MakeOutputPath(LPCSTR relative, DWORD attributes) {
    char part[MAX_PATH];
    lstrcpynA(part, relative, MAX_PATH);
    size_t length = strlen(part);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!m_usePaths) {
            NoteFolder();  // no folders are made without folder names
            return false;
        }
        if (length == 0 || part[length - 1] != '\\') {
            if (length + 1 >= MAX_PATH) {
                NoteSkipped(kSkipOther);
                return false;
            }
            lstrcatA(part, "\\");
        }
    } else if (!m_usePaths) {
        memmove(part, FileNamePart(part), strlen(FileNamePart(part)) + 1);
    }
    size_t destination = strlen(m_destination);
    // Beyond MAX_PATH the path is used in its long form; a component longer
    // than any file system takes cannot be made at all.
    if (destination + strlen(part) >= sizeof m_outputPath || tessera::HasOverlongComponent(part)) {
        LogSkip(relative, IDS_REASON_PATH_TOO_LONG);
        m_warning = TRUE;  // a selected entry is not there: never a clean result
        NoteSkipped(kSkipOther);
        return false;
    }
    lstrcpyA(m_outputPath, m_destination);
    lstrcatA(m_outputPath, part);
    if (CreateFolderLevels(m_outputPath, destination)) return true;
    if (!m_cancel) NoteFailed();  // reported; a cancel is no entry's failure
    return false;
}

int CCompressFormat::CompareWithTarget() {
    HANDLE file = tessera::CreateFileAt(m_outputPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    FILETIME written;
    BOOL ok = GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    if (!ok) return 0;
    FILETIME entry;
    if (!LocalFileTimeToFileTime(&m_entryTime, &entry)) return 0;
    return CompareFileTime(&written, &entry) < 0 ? 1 : 2;
}

bool CCompressFormat::BeginEntryOutput(LPCSTR storedName, const FILETIME& localTime, DWORD attributes, DWORD size,
                                       LPCSTR overridePath) {
    m_entryTime = localTime;
    m_entryAttributes = attributes;
    m_entrySize = size;
    char converted[GETTEXT_BUFFER + 1] = {};
    if (FAILED(GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(storedName), converted))) {
        NoteSkipped(kSkipOther);
        return false;
    }
    converted[GETTEXT_BUFFER] = '\0';
    lstrcpynA(m_outputPath, converted, sizeof m_outputPath);

    if (m_op == OP_TEST) {
        LPCSTR name = FileNamePart(m_outputPath);
        if (*name) ShowStatus(IDS_TESTING_FILE, name);
        Log(IDS_TESTING_FILE, m_outputPath);
        return true;
    }

    if (overridePath) {
        lstrcpynA(m_outputPath, overridePath, sizeof m_outputPath);
    } else {
        char safe[MAX_PATH];
        switch (MakeSafeRelativePath(converted, safe, sizeof safe)) {
        case PathVerdict::kRefused:
            LogSkip(converted, strlen(converted) >= MAX_PATH ? IDS_REASON_PATH_TOO_LONG : IDS_REASON_UNSAFE_NAME);
            m_warning = TRUE;  // a selected entry is not there: never a clean result
            NoteSkipped(kSkipOther);
            return false;
        case PathVerdict::kChanged:
            Warn(IDS_UNSAFE_NAME_CHANGED, converted, safe);
            break;
        case PathVerdict::kUnchanged:
            break;
        }
        if (!MakeOutputPath(safe, attributes)) return false;
    }

    // With "overwrite all" an existing target only matters to an update.
    const bool targetMatters = m_overwriteMode != OVERWRITE_ALL || m_op == OP_UPDATE;
    for (;;) {
        int target = targetMatters ? CompareWithTarget() : 0;
        if (target == 0) break;
        if (target == 2 && m_op == OP_UPDATE) {
            LogSkip(FileNamePart(m_outputPath), IDS_TARGET_UP_TO_DATE);
            NoteSkipped(kSkipExisting);
            return false;
        }
        if (m_overwriteMode == OVERWRITE_NEVER) {
            NoteSkipped(kSkipExisting);
            return false;
        }
        if (m_overwriteMode != OVERWRITE_ASK) break;
        int answer = PromptOverwrite();
        if (answer == OVERWRITE_RESULT_YES) break;
        if (answer == OVERWRITE_RESULT_YESTOALL) {
            m_overwriteMode = OVERWRITE_ALL;
            break;
        }
        if (answer == OVERWRITE_RESULT_NO) {
            NoteSkipped(kSkipExisting);
            return false;
        }
        if (answer == OVERWRITE_RESULT_NOTOALL) {
            m_overwriteMode = OVERWRITE_NEVER;
            NoteSkipped(kSkipExisting);
            return false;
        }
        if (answer == OVERWRITE_RESULT_RENAME) continue;  // m_outputPath is the chosen name
        Cancel();
        return false;
    }

    LPCSTR name = FileNamePart(m_outputPath);
    if (*name) {
        ShowStatus(IDS_EXTRACTING_FILE, name);
        Log(IDS_EXTRACTING_FILE, name);
    }
    return true;
}

// --- target files ---

HRESULT CCompressFormat::CreateTargetFile() {
    auto createNew = [this] {
        m_outputFile = tessera::CreateFileAt(m_outputPath, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL);
        return m_outputFile != INVALID_HANDLE_VALUE;
    };
    // Most targets are new: try that first, and look at what stands there
    // only when it fails.
    if (createNew()) return S_OK;
    DWORD attributes = tessera::FileAttributesAt(m_outputPath);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return S_FALSE;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            tessera::SetFileAttributesAt(m_outputPath, attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!tessera::DeleteFileAt(m_outputPath)) {
            Warn(IDS_CANNOT_BE_REPLACED, m_outputPath, SystemErrorText());
            return E_ACCESSDENIED;
        }
    }
    if (!createNew()) {
        Warn(IDS_ERROR_CREATING_FILE, m_outputPath);
        return E_FAIL;
    }
    return S_OK;
}

bool CCompressFormat::WriteOutput(const void* data, DWORD size) {
    LARGE_INTEGER start = {};
    LARGE_INTEGER zero = {};
    SetFilePointerEx(m_outputFile, zero, &start, FILE_CURRENT);
    while (!EngineWriteFile(m_outputFile, data, size)) {
        DWORD error = GetLastError();
        if (IsDiskFull(error)) {
            if (Ask(IDS_DISK_FULL, MB_RETRYCANCEL | MB_ICONSTOP, m_outputPath[0]) == IDRETRY) {
                SetFilePointerEx(m_outputFile, start, nullptr, FILE_BEGIN);
                continue;
            }
            Cancel();
        } else {
            Warn(IDS_FILE_CANNOT_BE_WRITTEN, SystemErrorText(error));
        }
        return false;
    }
    return true;
}

void CCompressFormat::FinishTargetFile() {
    if (m_outputFile == INVALID_HANDLE_VALUE) return;
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    const DWORD attributes = (m_entryAttributes & settable) ? (m_entryAttributes & settable) : FILE_ATTRIBUTE_NORMAL;
    FILETIME utc;
    const bool haveTime = LocalFileTimeToFileTime(&m_entryTime, &utc) != FALSE;
    // Attributes and times in one call on the open handle; by name only when
    // that fails, so that each failure is reported for what it is.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes;
    if (haveTime) {
        basic.LastAccessTime.LowPart = utc.dwLowDateTime;
        basic.LastAccessTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
        basic.LastWriteTime = basic.LastAccessTime;
    }
    if (!haveTime || !SetFileInformationByHandle(m_outputFile, FileBasicInfo, &basic, sizeof basic)) {
        if (!tessera::SetFileAttributesAt(m_outputPath, attributes)) Log(IDS_ATTRIBUTES_CANNOT_BE_SET, SystemErrorText());
        if (!haveTime || !SetFileTime(m_outputFile, nullptr, &utc, &utc)) Log(IDS_TIME_CANNOT_BE_SET, SystemErrorText());
    }
    CloseHandle(m_outputFile);
    m_outputFile = INVALID_HANDLE_VALUE;
}

// --- lists ---

bool CCompressFormat::MatchesExtensionList(LPCSTR name, LPCSTR list) {
    if (!list) return true;
    int nameLength = lstrlenA(name);
    int j = nameLength - 1;
    bool matching = true;
    for (int i = lstrlenA(list) - 1; i >= 0; --i) {
        char c = list[i];
        if (c == ';' || c == ':') {
            if (matching) return true;
            matching = true;
            j = nameLength - 1;
            continue;
        }
        if (!matching) continue;
        char a = c;
        char b = j >= 0 ? name[j] : '\0';
        CharUpperBuffA(&a, 1);
        CharUpperBuffA(&b, 1);
        if (j < 0 || a != b) {
            matching = false;
        } else {
            --j;
        }
    }
    return matching;
}

DWORD CCompressFormat::CommonPathDepth(const ADDFILEINFO* files) {
    char prefix[MAX_PATH] = {};
    bool first = true;
    DWORD depth = 0;
    for (const ADDFILEINFO* file = files; file && file->length != 0; file = ADDFILEINFO_NEXT(file)) {
        const char* path = file->path;
        if (path[0] && path[1] == ':') path += 2;
        while (*path == '\\') ++path;
        if (first) {
            lstrcpynA(prefix, path, MAX_PATH);
            first = false;
        }
        // Agreeing part, then cut after its last backslash.
        size_t agree = 0;
        while (prefix[agree] && path[agree]) {
            char a = prefix[agree];
            char b = path[agree];
            CharUpperBuffA(&a, 1);
            CharUpperBuffA(&b, 1);
            if (a != b) break;
            ++agree;
        }
        size_t cut = 0;
        depth = 0;
        for (size_t i = 0; i < agree; ++i) {
            if (prefix[i] == '\\') {
                cut = i + 1;
                ++depth;
            }
        }
        prefix[cut] = '\0';
    }
    return depth;
}
