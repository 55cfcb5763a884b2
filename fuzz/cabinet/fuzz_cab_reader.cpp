// CabReader walk over an arbitrary cabinet held in memory; every file is
// decoded into a counting output. Next cabinets are refused.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/cabinet/cab_reader.h"

namespace {

struct Memory {
    const uint8_t* data;
    size_t size;
    size_t position[8];
    bool used[8];
    size_t written;  // output of all files; capped to keep runs short
};

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Free(void*, void* p) { std::free(p); }
tessera::cab::FileHandle Open(void* c, const char*) {
    auto* m = static_cast<Memory*>(c);
    for (int i = 0; i < 8; ++i)
        if (!m->used[i]) {
            m->used[i] = true;
            m->position[i] = 0;
            return 10 + i;
        }
    return -1;
}
int32_t Read(void* c, tessera::cab::FileHandle h, void* buffer, uint32_t size) {
    auto* m = static_cast<Memory*>(c);
    if (h < 10 || h >= 18) return -1;
    size_t& p = m->position[h - 10];
    size_t n = p < m->size ? m->size - p : 0;
    if (n > size) n = size;
    if (n) std::memcpy(buffer, m->data + p, n);
    p += n;
    return static_cast<int32_t>(n);
}
// Output past 1 MiB fails like a full disk: small cabinets can expand to
// many megabytes, and the reader's handling of a failed write is worth
// reaching too.
int32_t Write(void* c, tessera::cab::FileHandle h, const void*, uint32_t size) {
    auto* m = static_cast<Memory*>(c);
    if (h != 1 || m->written > (1u << 20)) return -1;
    m->written += size;
    return static_cast<int32_t>(size);
}
int Close(void* c, tessera::cab::FileHandle h) {
    auto* m = static_cast<Memory*>(c);
    if (h < 10 || h >= 18 || !m->used[h - 10]) __builtin_trap();  // closing what was never opened
    m->used[h - 10] = false;
    return 0;
}
int32_t Seek(void* c, tessera::cab::FileHandle h, int32_t offset, int origin) {
    auto* m = static_cast<Memory*>(c);
    if (h < 10 || h >= 18 || origin != tessera::cab::kSeekSet || offset < 0) return -1;
    m->position[h - 10] = static_cast<size_t>(offset);
    return offset;
}
intptr_t Notify(void*, int kind, tessera::cab::NotificationData*) {
    if (kind == tessera::cab::kNotifyCopyFile) return 1;
    if (kind == tessera::cab::kNotifyCloseFile) return 1;
    if (kind == tessera::cab::kNotifyNextCabinet) return -1;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Memory memory{data, size, {}, {}, 0};
    tessera::cab::ReaderCallbacks callbacks{&memory, Allocate, Free, Open, Read, Write, Close, Seek, 0};
    tessera::cab::ErrorRecord error;
    auto reader = tessera::cab::CabReader::Create(callbacks, &error);
    reader->CopyFiles("fuzz.cab", "", Notify, nullptr);
    for (bool u : memory.used)
        if (u) __builtin_trap();  // a handle left open
    return 0;
}
