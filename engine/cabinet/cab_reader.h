// The cabinet reader: walks a cabinet (and the following cabinets of its
// set when files continue there), announcing every file to a notify
// callback and decoding the files it asks for.
//
// All file access and memory go through the caller's callback table, whose
// context pointer is handed back to every callback: two readers with
// different contexts can run on two threads at once, nothing is global.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tessera::cab {

// Error kinds of the error record.
enum ErrorKind : int {
    kErrorNone = 0,
    kErrorCabinetNotFound = 1,   // cannot be opened
    kErrorNotACabinet = 2,
    kErrorUnknownVersion = 3,    // detail: the version word (major << 8 | minor)
    kErrorCorruptCabinet = 4,    // short read, seek failure, checksum, bad records
    kErrorOutOfMemory = 5,
    kErrorBadCompressionType = 6,
    kErrorDecompressorFailure = 7,
    kErrorTargetFile = 8,        // writing an output file failed
    kErrorReserveMismatch = 9,
    kErrorWrongCabinet = 10,     // not the expected next cabinet of the set
    kErrorUserAbort = 11,
};

struct ErrorRecord {
    int kind = kErrorNone;
    int detail = 0;
    bool error = false;
};

using FileHandle = intptr_t;  // -1: failure
constexpr int kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2;

struct ReaderCallbacks {
    void* context;
    void* (*allocate)(void* context, size_t size);  // null: out of memory
    void (*free)(void* context, void* block);
    FileHandle (*open)(void* context, const char* path);  // for reading
    int32_t (*read)(void* context, FileHandle file, void* buffer, uint32_t size);  // -1 on error
    int32_t (*write)(void* context, FileHandle file, const void* data, uint32_t size);  // -1 on error
    int (*close)(void* context, FileHandle file);
    int32_t (*seek)(void* context, FileHandle file, int32_t offset, int origin);  // new position or -1
    int processorKind;  // informational
};

struct CabinetInfo {
    uint32_t cbCabinet = 0;
    uint16_t cFolders = 0;
    uint16_t cFiles = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
    bool hasReserve = false;
    bool hasPrev = false;
    bool hasNext = false;
};

enum Notification : int {
    kNotifyCabinetInfo = 0,
    kNotifyPartialFile = 1,
    kNotifyCopyFile = 2,
    kNotifyCloseFile = 3,
    kNotifyNextCabinet = 4,
    kNotifyEnumerate = 5,
};

constexpr size_t kMaxPath = 260;

struct NotificationData {
    const char* name = nullptr;  // stored name; the next cabinet's file name for 0 and 4
    const char* disk = nullptr;  // the next cabinet's disk name (0, 4)
    // Cabinet folder (0, 4), kMaxPath bytes; at 4 the callback may change it.
    char* cabinetFolder = nullptr;
    uint32_t size = 0;
    uint16_t date = 0, time = 0, attribs = 0;
    FileHandle handle = 0;       // close-file: the handle copy-file returned
    uint16_t setID = 0, iCabinet = 0;
    // Next cabinet: the error kind of the previous attempt (0 on the first).
    // Close file: 0, or the error kind that stopped the file's decoding
    // (the callback closes and discards the output then).
    int errorKind = 0;
};

using NotifyCallback = intptr_t (*)(void* context, int notification, NotificationData* data);

class CabReader {
public:
    // The number of times a missing or wrong next cabinet is asked for again
    // before the walk gives up even though the callback keeps retrying.
    static constexpr int kMaxNextCabinetAttempts = 16;

    // Fails (null, with the record filled) only when memory is exhausted.
    static std::unique_ptr<CabReader> Create(const ReaderCallbacks& callbacks, ErrorRecord* error);
    ~CabReader();
    CabReader(const CabReader&) = delete;
    CabReader& operator=(const CabReader&) = delete;

    // Reads the CFHEADER at the handle's position and checks it.
    bool IsCabinet(FileHandle file, CabinetInfo* info);

    // Walks `cabinetName` in `cabinetFolder` (which ends with a separator
    // or is empty), see Notification.
    bool CopyFiles(const char* cabinetName, const char* cabinetFolder, NotifyCallback notify, void* context);

    struct Impl;

private:
    CabReader() = default;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessera::cab
