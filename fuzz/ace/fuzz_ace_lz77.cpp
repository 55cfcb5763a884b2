// Fuzzes the ACE 1.0 LZ77 and stored decoders. The first bytes choose the
// declared size and whether a second entry continues the run as in a solid
// archive; the rest is the packed data of both entries.
#include <cstddef>
#include <cstdint>

#include "codecs/ace/ace_lz77.h"

using namespace tessera;
using namespace tessera::ace;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AceDecoder decoder;  // made once: the dictionary is the costly part
    if (size < 4 || !decoder.Ready()) return 0;
    const uint32_t declared = static_cast<uint32_t>(data[0] | data[1] << 8 | (data[2] & 0x0F) << 16);
    const bool solidSecond = data[2] & 0x10;
    const uint8_t type = (data[2] & 0x20) ? 0 : 1;
    const uint16_t parm = data[3] & 0x0F;
    data += 4;
    size -= 4;
    size_t half = solidSecond ? size / 2 : size;

    CountingSink sink;
    MemorySource first(data, half);
    decoder.BeginEntry(false);
    decoder.Decode(type, parm, declared, first, &sink);
    if (sink.count > declared) __builtin_trap();
    if (solidSecond) {
        MemorySource second(data + half, size - half);
        decoder.BeginEntry(true);
        CountingSink more;
        decoder.Decode(1, parm, declared, second, &more);
        if (more.count > declared) __builtin_trap();
    }
    return 0;
}
