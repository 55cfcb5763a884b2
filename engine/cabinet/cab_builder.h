// The cabinet builder: packs files into folders of compressed 32,768-byte
// blocks and writes cabinets, spanning a set of several cabinets when a
// maximum size is given.
//
// All file access and memory go through the caller's callback table; every
// callback receives the caller's context. A cabinet file carries "!CAB" as
// its signature until every other byte is written; "MSCF" comes last, so an
// interrupted cabinet is never taken for a complete one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/cabinet/cab_reader.h"

namespace tessera::cab {

struct CabinetParameters {
    uint32_t maxCabinetSize = 0x7FFFFFF;
    uint32_t folderThreshold = 900000;
    uint16_t headerReserve = 0;  // reserves are not written; kept for the record
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    int cabinetNumber = 1;  // advanced before each next-cabinet call
    int diskNumber = 0;
    bool failOnIncompressible = false;
    uint16_t setID = 0;
    char diskName[256] = {};
    char cabinetName[256] = {};
    char cabinetFolder[256] = {};  // ends with a separator, or empty
};

// Failure kinds of the builder.
enum BuildErrorKind : int {
    kBuildErrorNone = 0,
    kBuildErrorOpenSource = 1,
    kBuildErrorReadSource = 2,
    kBuildErrorOutOfMemory = 3,
    kBuildErrorTempFile = 4,
    kBuildErrorBadCompressionType = 5,
    kBuildErrorCabinetFile = 6,
    kBuildErrorUserAbort = 7,
    kBuildErrorCompressor = 8,
};

struct BuilderCallbacks {
    void* context;
    // A file has been placed in the cabinet `params` names (continuation:
    // it began in an earlier cabinet). Reports nothing to the user.
    int (*filePlaced)(void* context, const CabinetParameters* params, const char* storedName, uint32_t size,
                      bool continuation);
    void* (*allocate)(void* context, size_t size);
    void (*free)(void* context, void* block);
    FileHandle (*open)(void* context, const char* path);    // read/write, created and truncated
    int32_t (*read)(void* context, FileHandle file, void* buffer, uint32_t size);
    int32_t (*write)(void* context, FileHandle file, const void* data, uint32_t size);
    int (*close)(void* context, FileHandle file);
    int32_t (*seek)(void* context, FileHandle file, int32_t offset, int origin);
    int (*remove)(void* context, const char* path);          // 0 on success
    // A unique name for a temporary file (the file itself is deleted).
    bool (*tempName)(void* context, char* buffer, size_t size);
};

// Fills the next cabinet's name and disk name into `params` (its cabinet
// number already advanced); false refuses and ends the build.
using NextCabinetCallback = bool (*)(void* context, CabinetParameters* params, uint32_t sizeEstimate);
// After every compressed block; -1 aborts the build.
using StatusCallback = int32_t (*)(void* context, uint32_t compressedSize, uint32_t uncompressedSize);
// Opens a source file for reading and gives its DOS date, time and
// attributes; -1 when it cannot be opened.
using OpenInfoCallback = FileHandle (*)(void* context, const char* path, uint16_t* date, uint16_t* time,
                                        uint16_t* attribs);

class CabBuilder {
public:
    static std::unique_ptr<CabBuilder> Create(const BuilderCallbacks& callbacks, const CabinetParameters& params,
                                              ErrorRecord* error);
    ~CabBuilder();
    CabBuilder(const CabBuilder&) = delete;
    CabBuilder& operator=(const CabBuilder&) = delete;

    // Adds one file compressed with `typeWord` (0x0000 none, 0x0001 MSZIP,
    // 0xNN03 LZX with window 2^NN); a new type word closes the folder.
    // `execute` adds 0x40 to the attributes.
    bool AddFile(const char* sourcePath, const char* storedName, bool execute, NextCabinetCallback next,
                 StatusCallback status, OpenInfoCallback openInfo, uint16_t typeWord);

    // Closes the folder and writes the current cabinet. With getNext, the
    // next cabinet is named now and files added later go there.
    bool FlushCabinet(bool getNext, NextCabinetCallback next, StatusCallback status);

    struct Impl;

private:
    CabBuilder() = default;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessera::cab
