// libFuzzer target for the ZIP record layer: the reading end-record search,
// the opening steps and the central directory walk in every mode, the local
// headers (with the shift rules of extraction) and the data ranges they hand out, and the update scan.
//
// Seeds: fuzz/zip/make_seeds.sh DIR (corpus samples and peer-made archives).
// Run: fuzz_zip_directory NEWDIR DIR -dict=fuzz/zip/zip.dict -max_len=80000
// (inputs above 64 KiB reach the two-block end-record search).
#include <cstddef>
#include <cstdint>

#include "zip/zip_directory.h"

using namespace tessera::zip;

namespace {

void ReadingRun(const uint8_t* data, size_t size, ReadMode mode) {
    tessera::MemoryInput input(data, size);
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
    // An entry not marked damaged lies before the directory (with the shift,
    // or without it behind a prefix).
    for (const DirectoryEntry& e : walk.entries) {
        if (e.damaged) continue;
        auto fits = [&](int64_t start) {
            return start >= 0 && static_cast<uint64_t>(start) + kLocalHeaderSize + e.header.nameLength +
                                         e.compressedSize <= location.centralStart;
        };
        if (!fits(e.localPosition) && !(location.shift > 0 && fits(static_cast<int64_t>(e.localOffset))))
            __builtin_trap();
    }
    // What extraction does next: the local header and the entry's data, read
    // through the bounded entry source.
    LocalHeaderLocator locator(location);
    uint8_t chunk[4096];
    for (const DirectoryEntry& e : walk.entries) {
        ListFields fields = ListFieldsOf(e);
        (void)MethodName(fields.methodWord);
        if (e.damaged) continue;
        LocalEntry local;
        if (locator.Locate(reader, e, &local) != LocalResult::Ok) continue;
        if (local.dataStart + local.compressedSize > location.centralStart) __builtin_trap();
        EntryDataSource source(reader, local.compressedSize);
        size_t total = 0;
        while (size_t n = source.Read(chunk, sizeof chunk)) {
            total += n;
            if (total > local.compressedSize) __builtin_trap();  // never more than the entry holds
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadingRun(data, size, ReadMode::List);
    ReadingRun(data, size, ReadMode::Check);
    ReadingRun(data, size, ReadMode::Comment);
    tessera::MemoryInput input(data, size);
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
