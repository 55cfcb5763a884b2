// Fuzzes the ACE header walk and the multi-volume reader: two 16-bit offsets
// at the front split the rest into up to three volumes (t.ace, t.C00, t.C01;
// both 0: one volume), then every entry is listed, its comment decoded and
// every other entry's data tested.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "formats/ace/ace_archive.h"

using namespace tessera;
using namespace tessera::ace;

namespace {

class Opener final : public AceVolumeOpener {
public:
    std::unique_ptr<RandomAccessInput> OpenVolume(const std::string& name, unsigned) override {
        auto it = volumes.find(name);
        if (it == volumes.end()) return nullptr;
        return std::make_unique<MemoryInput>(it->second.first, it->second.second);
    }
    std::map<std::string, std::pair<const uint8_t*, size_t>> volumes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AceDecoder decoder;
    if (size < 5 || !decoder.Ready()) return 0;
    size_t cut1 = data[0] | data[1] << 8, cut2 = data[2] | data[3] << 8;
    if (cut1 > cut2) std::swap(cut1, cut2);
    data += 4;
    size -= 4;
    cut1 = cut1 > size ? size : cut1;
    cut2 = cut2 > size ? size : cut2;
    Opener opener;
    if (cut1 == 0 && cut2 == 0) {
        opener.volumes["t.ace"] = {data, size};
    } else {
        opener.volumes["t.ace"] = {data, cut1};
        opener.volumes["t.C00"] = {data + cut1, cut2 - cut1};
        opener.volumes["t.C01"] = {data + cut2, size - cut2};
    }

    AceArchiveReader reader(opener);
    if (reader.Open("t.ace") != AceStatus::kOk) return 0;
    static char comment[kAceMaxCommentLength + 1];
    size_t length;
    DecodeAceComment(reader.Main().packedComment.data(), reader.Main().packedComment.size(), comment,
                     sizeof comment, &length);
    AceEntry entry;
    for (int n = 0; reader.NextEntry(entry) == AceStatus::kOk; ++n) {
        DecodeAceComment(entry.header.packedComment.data(), entry.header.packedComment.size(), comment,
                         sizeof comment, &length);
        AceSafeRelativePath(entry.header.name, nullptr);
        if (n % 2 == 0) {
            CountingSink sink;
            reader.DecodeEntry(decoder, entry, &sink);
            if (sink.count > entry.header.size) __builtin_trap();
        } else {
            reader.FinishEntry(entry);  // listing only
        }
    }
    return 0;
}
