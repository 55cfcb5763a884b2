// Fuzzes the TAR header walk: every input must end in a defined status with
// no more data handed out than the input holds. Inputs of odd length are
// walked as a random-access input, so skipped data is passed over instead
// of read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "formats/tar/tar_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessera::MemorySource plain(data, size);
    tessera::MemoryInput seekable(data, size);
    std::unique_ptr<tessera::tar::TarReader> reader =
        size % 2 ? std::make_unique<tessera::tar::TarReader>(seekable) : std::make_unique<tessera::tar::TarReader>(plain);
    tessera::tar::TarEntry entry;
    uint8_t buffer[4096];
    uint64_t handedOut = 0;
    // The data of every other entry is read, the rest skipped by Next.
    for (int i = 0; reader->Next(entry) == tessera::tar::TarStatus::Entry; ++i) {
        if (i % 2 == 0) {
            size_t n;
            while ((n = reader->ReadData(buffer, (i % 4 == 0) ? sizeof buffer : 100)) > 0) handedOut += n;
        }
        if (reader->Position() > size) abort();
    }
    if (handedOut > size || reader->Position() > size) abort();
    return 0;
}
