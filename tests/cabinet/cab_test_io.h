// Callback tables for the cabinet engines over stdio files, with in-memory
// outputs, and a notify callback that extracts every file to memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/cabinet/cab_builder.h"
#include "engine/cabinet/cab_reader.h"

namespace tessera::testing {

class CabTestIo {
public:
    // Offset of the cabinet inside every file opened for reading (a cabinet
    // that follows other bytes); reader positions are relative to it.
    uint32_t baseOffset = 0;
    int openCount = 0;  // files opened, for leak checks
    int closeCount = 0;

    cab::ReaderCallbacks ReaderTable();
    // Builder callbacks; temporary files go to `tempFolder`.
    cab::BuilderCallbacks BuilderTable();
    std::string tempFolder;
    int tempFiles = 0;
    bool failCabinetSeek = false;  // the final seek of a cabinet fails (interrupted writing)
    std::vector<std::string> placed;
    // The handle of a new in-memory output file.
    intptr_t NewOutput();
    std::vector<uint8_t>& Output(intptr_t handle);

    // Raw callbacks, also used by the builder tests.
    static cab::FileHandle Open(void* context, const char* path);
    static cab::FileHandle Create(void* context, const char* path);
    static int32_t Read(void* context, cab::FileHandle file, void* buffer, uint32_t size);
    static int32_t Write(void* context, cab::FileHandle file, const void* data, uint32_t size);
    static int Close(void* context, cab::FileHandle file);
    static int32_t Seek(void* context, cab::FileHandle file, int32_t offset, int origin);
    static int Remove(void* context, const char* path);
    static bool TempName(void* context, char* buffer, size_t size);
    static int FilePlaced(void* context, const cab::CabinetParameters* params, const char* name, uint32_t size,
                          bool continuation);
    static cab::FileHandle OpenInfo(void* context, const char* path, uint16_t* date, uint16_t* time,
                                    uint16_t* attribs);
    static void* Allocate(void* context, size_t size);
    static void Free(void* context, void* block);

private:
    struct File {
        FILE* stdio = nullptr;
        std::vector<uint8_t> memory;
        bool isMemory = false;
        bool isCabinet = false;
    };
    std::map<intptr_t, std::unique_ptr<File>> files_;
    intptr_t nextHandle_ = 100;
};

struct ExtractedFile {
    std::string name;  // '/' separators
    uint32_t size = 0;
    std::vector<uint8_t> data;
    bool closed = false;
    int closeError = 0;
};

// Notify context that takes every file and records what it saw.
struct CabWalk {
    CabTestIo* io = nullptr;
    bool extract = true;
    int nextCabinetAnswer = 0;  // answer to next-cabinet notifications
    std::vector<ExtractedFile> files;
    std::vector<std::string> partial;
    std::vector<int> nextCabinetErrors;  // error kind of every next-cabinet notification
    int cabinetInfos = 0;
    std::map<intptr_t, size_t> open;

    static intptr_t Notify(void* context, int notification, cab::NotificationData* data);
};

// Runs CopyFiles over a cabinet path; returns the error record.
cab::ErrorRecord WalkCabinet(const std::string& path, CabWalk& walk, CabTestIo& io);

}  // namespace tessera::testing
