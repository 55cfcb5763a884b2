// libFuzzer target for the ZIP record layer: the reading end-record search,
// the opening steps and the central directory walk in every mode, the local
// headers and data ranges the walk hands out, and the update scan.
//
// Seeds: any ZIP files (the sample corpus, peer-made archives). Dictionary:
// fuzz/zip/zip.dict.
#include <cstddef>
#include <cstdint>

#include "zip/zip_directory.h"

using namespace tessera::zip;

namespace {

void ReadingRun(const uint8_t* data, size_t size, ReadMode mode) {
    MemoryArchiveInput input(data, size);
    BlockReader reader(input);
    if (!reader.Allocate()) return;
    DirectoryLocation location;
    Reports reports;
    if (!OpenDirectory(reader, mode, &location, &reports)) return;
    if (mode != ReadMode::List) return;
    DirectoryWalk walk;
    WalkCentralDirectory(reader, location, &walk, &reports);
    if (walk.entries.size() > size / kCentralHeaderSize + 1) __builtin_trap();  // bounded by the file
    ListTotals totals = TotalsOf(walk.entries);
    (void)totals;
    // What extraction does next: the local header and the entry's data, read
    // through the bounded entry source.
    uint8_t local[kLocalHeaderSize];
    uint8_t chunk[4096];
    for (const DirectoryEntry& e : walk.entries) {
        ListFields fields = ListFieldsOf(e);
        (void)fields;
        (void)MethodName(fields.methodWord);
        if (e.damaged || e.zip64) continue;
        if (reader.Seek(e.localPosition) != ReadStatus::Ok) continue;
        LocalHeader h;
        if (reader.Read(local, sizeof local) != ReadStatus::Ok || !ParseLocalHeader(local, &h)) continue;
        if (reader.Skip(static_cast<uint64_t>(h.nameLength) + h.extraLength) != ReadStatus::Ok) continue;
        EntryDataSource source(reader, e.header.compressedSize);
        size_t total = 0;
        while (size_t n = source.Read(chunk, sizeof chunk)) {
            total += n;
            if (total > size) __builtin_trap();  // never more than the file holds
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadingRun(data, size, ReadMode::List);
    ReadingRun(data, size, ReadMode::Check);
    ReadingRun(data, size, ReadMode::Comment);
    MemoryArchiveInput input(data, size);
    UpdateScan scan;
    Reports reports;
    if (ScanForUpdate(input, &scan, &reports)) {
        uint64_t copied = scan.prefixLength;
        for (const UpdateEntry& e : scan.entries) {
            if (e.central.localOffset < scan.prefixLength) __builtin_trap();
            copied += e.copyLength;
        }
        if (copied > size) __builtin_trap();  // entries never share bytes
    }
    return 0;
}
