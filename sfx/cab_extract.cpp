// The cabinet stubs' reader: the appended cabinet through the cabinet
// reader engine.
//
// The reader opens files by name. The stub's own file is opened again for
// it, and every position the reader sees in that file counts from the
// archive origin, so the stub in front is invisible. Further cabinets of a
// set are plain files beside the program.
#include <cstdlib>
#include <cstring>

#include "engine/cabinet/cab_reader.h"
#include "sfx/stub.h"
#include "sfx/stub_ids.h"

namespace tessera::sfx {

namespace {

using namespace tessera::cab;

constexpr uint16_t kAttributeNameIsUtf8 = 0x80;
constexpr uint16_t kAttributeFolder = 0x10;

struct CabRun {
    Extraction& run;
    HANDLE ownCopy = INVALID_HANDLE_VALUE;  // the own file as the reader has it open
    bool reported = false;   // a message about the failure has been shown
    bool fileFailed = false; // a file could not be decoded or written
    uint16_t date = 0, time = 0, attributes = 0;
};

HANDLE HandleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Free(void*, void* block) { std::free(block); }

FileHandle Open(void* context, const char* path) {
    auto* self = static_cast<CabRun*>(context);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    if (lstrcmpiA(path, self->run.OwnPath().c_str()) == 0 && self->ownCopy == INVALID_HANDLE_VALUE) {
        LARGE_INTEGER origin;
        origin.QuadPart = static_cast<LONGLONG>(self->run.Origin());
        SetFilePointerEx(file, origin, nullptr, FILE_BEGIN);
        self->ownCopy = file;
    }
    return reinterpret_cast<FileHandle>(file);
}

int32_t Read(void*, FileHandle file, void* buffer, uint32_t size) {
    DWORD done = 0;
    if (size > 0x7FFFFFFF || !ReadFile(HandleOf(file), buffer, size, &done, nullptr)) return -1;
    return static_cast<int32_t>(done);
}

int32_t Write(void* context, FileHandle, const void* data, uint32_t size) {
    auto* self = static_cast<CabRun*>(context);
    if (size > 0x7FFFFFFF || !self->run.Write(data, size)) {
        self->reported = true;  // the run said why (or the user cancelled)
        return -1;
    }
    return static_cast<int32_t>(size);
}

int Close(void* context, FileHandle file) {
    auto* self = static_cast<CabRun*>(context);
    if (HandleOf(file) == self->ownCopy) self->ownCopy = INVALID_HANDLE_VALUE;
    return CloseHandle(HandleOf(file)) ? 0 : -1;
}

int32_t Seek(void* context, FileHandle file, int32_t offset, int origin) {
    auto* self = static_cast<CabRun*>(context);
    HANDLE handle = HandleOf(file);
    LONGLONG base = handle == self->ownCopy ? static_cast<LONGLONG>(self->run.Origin()) : 0;
    LARGE_INTEGER move, position;
    DWORD method;
    switch (origin) {
    case kSeekSet: move.QuadPart = base + offset; method = FILE_BEGIN; break;
    case kSeekCurrent: move.QuadPart = offset; method = FILE_CURRENT; break;
    case kSeekEnd: move.QuadPart = offset; method = FILE_END; break;
    default: return -1;
    }
    if (!SetFilePointerEx(handle, move, &position, method)) return -1;
    LONGLONG relative = position.QuadPart - base;
    if (relative < 0 || relative > 0x7FFFFFFF) return -1;
    return static_cast<int32_t>(relative);
}

intptr_t Notify(void* context, int notification, NotificationData* data) {
    auto* self = static_cast<CabRun*>(context);
    Extraction& run = self->run;
    switch (notification) {
    case kNotifyCopyFile: {
        if (run.Cancelled()) return -1;
        std::string name = data->name ? data->name : "";
        NameCoding coding = data->attribs & kAttributeNameIsUtf8 ? NameCoding::kUtf8 : NameCoding::kAnsi;
        if (data->attribs & kAttributeFolder) {
            run.MakeFolderEntry(name, coding);
            return run.Cancelled() ? -1 : 0;
        }
        HANDLE target = run.BeginFile(name, coding, data->size);
        if (target == INVALID_HANDLE_VALUE) {
            if (run.Cancelled()) return -1;
            run.AdvanceProgress(data->size);
            return 0;
        }
        self->date = data->date;
        self->time = data->time;
        self->attributes = data->attribs;
        return reinterpret_cast<intptr_t>(target);
    }
    case kNotifyCloseFile: {
        bool whole = data->errorKind == kErrorNone;
        run.FinishFile(whole, self->date, self->time, self->attributes);
        if (!whole) self->fileFailed = true;
        return 1;
    }
    case kNotifyNextCabinet:
        // A missing next cabinet ends the walk: there is nobody to ask.
        return data->errorKind == kErrorNone ? 0 : -1;
    default:
        return 0;
    }
}

}  // namespace

bool ExtractAppendedArchive(Extraction& run) {
    CabRun state{run};
    ReaderCallbacks callbacks = {&state, Allocate, Free, Open, Read, Write, Close, Seek, 0};
    ErrorRecord error;
    std::unique_ptr<CabReader> reader = CabReader::Create(callbacks, &error);
    if (!reader) {
        run.Message(IDS_NO_MEMORY);
        return false;
    }
    const std::string& path = run.OwnPath();
    size_t slash = path.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    bool walked = reader->CopyFiles(name.c_str(), folder.c_str(), Notify, &state);
    if (run.Cancelled()) return false;
    if (walked && !state.fileFailed) return true;
    if (error.kind == kErrorOutOfMemory) run.Message(IDS_NO_MEMORY);
    else if (!state.reported) run.Message(IDS_DAMAGED);
    return false;
}

}  // namespace tessera::sfx
