// Test callbacks for the cabinet engines (see cab_test_io.h).
#include "cab_test_io.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tessera::testing {

cab::ReaderCallbacks CabTestIo::ReaderTable() {
    return cab::ReaderCallbacks{this, Allocate, Free, Open, Read, Write, Close, Seek, 0};
}

cab::BuilderCallbacks CabTestIo::BuilderTable() {
    return cab::BuilderCallbacks{this, FilePlaced, Allocate, Free, Create, Read, Write, Close, Seek, Remove, TempName};
}

int CabTestIo::Remove(void*, const char* path) { return std::remove(path); }

bool CabTestIo::TempName(void* context, char* buffer, size_t size) {
    auto* io = static_cast<CabTestIo*>(context);
    std::string name = io->tempFolder + "/stage" + std::to_string(io->tempFiles++) + ".tmp";
    if (name.size() >= size) return false;
    std::strcpy(buffer, name.c_str());
    std::remove(buffer);
    return true;
}

int CabTestIo::FilePlaced(void* context, const cab::CabinetParameters* params, const char* name, uint32_t,
                          bool continuation) {
    auto* io = static_cast<CabTestIo*>(context);
    io->placed.push_back(std::string(params->cabinetName) + ":" + name + (continuation ? "+" : ""));
    return 0;
}

cab::FileHandle CabTestIo::OpenInfo(void* context, const char* path, uint16_t* date, uint16_t* time,
                                    uint16_t* attribs) {
    *date = 0x5A21;  // 2025-01-01
    *time = 0x6000;  // 12:00
    *attribs = 0x20;
    return Open(context, path);
}

intptr_t CabTestIo::NewOutput() {
    auto f = std::make_unique<File>();
    f->isMemory = true;
    intptr_t h = nextHandle_++;
    files_[h] = std::move(f);
    return h;
}

std::vector<uint8_t>& CabTestIo::Output(intptr_t handle) { return files_.at(handle)->memory; }

namespace {

// Opens like the Windows file system: names that differ only in case match
// (cabinet sets name their neighbours as "Split-2.CAB" and the like).
FILE* OpenIgnoringCase(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (f) return f;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p(path);
    fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::string wanted = p.filename().string();
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() == wanted.size() &&
            std::equal(name.begin(), name.end(), wanted.begin(),
                       [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
            return std::fopen(entry.path().string().c_str(), "rb");
    }
    return nullptr;
}

}  // namespace

cab::FileHandle CabTestIo::Open(void* context, const char* path) {
    auto* io = static_cast<CabTestIo*>(context);
    FILE* f = OpenIgnoringCase(path);
    if (!f) return -1;
    if (io->baseOffset) std::fseek(f, static_cast<long>(io->baseOffset), SEEK_SET);
    auto file = std::make_unique<File>();
    file->stdio = f;
    intptr_t h = io->nextHandle_++;
    io->files_[h] = std::move(file);
    ++io->openCount;
    return h;
}

cab::FileHandle CabTestIo::Create(void* context, const char* path) {
    auto* io = static_cast<CabTestIo*>(context);
    FILE* f = std::fopen(path, "w+b");
    if (!f) return -1;
    auto file = std::make_unique<File>();
    file->stdio = f;
    std::string p(path);
    file->isCabinet = p.size() > 4 && p.compare(p.size() - 4, 4, ".cab") == 0;
    intptr_t h = io->nextHandle_++;
    io->files_[h] = std::move(file);
    ++io->openCount;
    return h;
}

int32_t CabTestIo::Read(void* context, cab::FileHandle file, void* buffer, uint32_t size) {
    auto* io = static_cast<CabTestIo*>(context);
    auto it = io->files_.find(file);
    if (it == io->files_.end() || !it->second->stdio) return -1;
    size_t n = std::fread(buffer, 1, size, it->second->stdio);
    if (n < size && std::ferror(it->second->stdio)) return -1;
    return static_cast<int32_t>(n);
}

int32_t CabTestIo::Write(void* context, cab::FileHandle file, const void* data, uint32_t size) {
    auto* io = static_cast<CabTestIo*>(context);
    auto it = io->files_.find(file);
    if (it == io->files_.end()) return -1;
    File& f = *it->second;
    if (f.isMemory) {
        const auto* p = static_cast<const uint8_t*>(data);
        f.memory.insert(f.memory.end(), p, p + size);
        return static_cast<int32_t>(size);
    }
    return static_cast<int32_t>(std::fwrite(data, 1, size, f.stdio));
}

int CabTestIo::Close(void* context, cab::FileHandle file) {
    auto* io = static_cast<CabTestIo*>(context);
    auto it = io->files_.find(file);
    if (it == io->files_.end()) return -1;
    if (it->second->isMemory) return 0;  // kept for the test to inspect
    std::fclose(it->second->stdio);
    io->files_.erase(it);
    ++io->closeCount;
    return 0;
}

int32_t CabTestIo::Seek(void* context, cab::FileHandle file, int32_t offset, int origin) {
    auto* io = static_cast<CabTestIo*>(context);
    auto it = io->files_.find(file);
    if (it == io->files_.end() || !it->second->stdio) return -1;
    FILE* f = it->second->stdio;
    long target = offset;
    int whence = origin == cab::kSeekSet ? SEEK_SET : origin == cab::kSeekCurrent ? SEEK_CUR : SEEK_END;
    if (whence == SEEK_SET) target += static_cast<long>(io->baseOffset);
    if (io->failCabinetSeek && it->second->isCabinet) return -1;
    if (std::fseek(f, target, whence) != 0) return -1;
    return static_cast<int32_t>(std::ftell(f) - static_cast<long>(io->baseOffset));
}

void* CabTestIo::Allocate(void*, size_t size) { return std::malloc(size); }
void CabTestIo::Free(void*, void* block) { std::free(block); }

intptr_t CabWalk::Notify(void* context, int notification, cab::NotificationData* data) {
    auto* walk = static_cast<CabWalk*>(context);
    switch (notification) {
    case cab::kNotifyCabinetInfo:
        ++walk->cabinetInfos;
        return 0;
    case cab::kNotifyPartialFile:
        walk->partial.emplace_back(data->name);
        return 0;
    case cab::kNotifyCopyFile: {
        ExtractedFile f;
        f.name = data->name;
        for (char& c : f.name)
            if (c == '\\') c = '/';
        f.size = data->size;
        walk->files.push_back(f);
        if (!walk->extract) return 0;
        intptr_t h = walk->io->NewOutput();
        walk->open[h] = walk->files.size() - 1;
        return h;
    }
    case cab::kNotifyCloseFile: {
        ExtractedFile& f = walk->files[walk->open.at(data->handle)];
        f.data = walk->io->Output(data->handle);
        f.closed = true;
        f.closeError = data->errorKind;
        walk->open.erase(data->handle);
        return 1;
    }
    case cab::kNotifyNextCabinet:
        walk->nextCabinetErrors.push_back(data->errorKind);
        return walk->nextCabinetAnswer;
    default:
        return 0;
    }
}

cab::ErrorRecord WalkCabinet(const std::string& path, CabWalk& walk, CabTestIo& io) {
    cab::ErrorRecord record;
    auto reader = cab::CabReader::Create(io.ReaderTable(), &record);
    if (!reader) return record;
    walk.io = &io;
    size_t slash = path.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    reader->CopyFiles(name.c_str(), folder.c_str(), CabWalk::Notify, &walk);
    return record;
}

}  // namespace tessera::testing
