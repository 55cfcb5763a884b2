// Fuzzes the RAR header walk and extraction: the input is the first volume;
// the second "volume" is the same bytes again (a set that names itself) and
// there is no third. Every entry is extracted into a bounded counter.
#include <cstdlib>
#include <memory>

#include "formats/rar/rar_archive.h"

namespace {

class BoundedCount final : public tessera::ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override {
        count += size;
        return count <= (256u << 10);
    }
    uint64_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessera::MemoryInput input(data, size);
    auto opener = [data, size](unsigned index) -> std::unique_ptr<tessera::RandomAccessInput> {
        if (index != 1) return nullptr;
        return std::make_unique<tessera::MemoryInput>(data, size);
    };
    tessera::RarReader reader(input, opener);
    if (reader.Open() != tessera::RarStatus::kOk) return 0;
    tessera::RarEntry entry;
    unsigned n = 0;
    while (reader.Next(&entry) == tessera::RarStatus::kOk) {
        if (++n > 100000) std::abort();  // the walk must advance
        BoundedCount sink;
        if (n % 2)
            reader.Extract(entry, &sink);
        else
            reader.Skip(entry);
        if (sink.count > entry.unpSize) std::abort();
    }
    return 0;
}
