// The configuration block (see config_block.h).
#include "sfx/config_block.h"

#include <cstring>

namespace tessera::sfx {

namespace {

// "TSFX" read as a little-endian word, stored complemented and read through a
// volatile so the compiler cannot fold it back into an immediate operand.
volatile uint32_t complementedMarker = ~static_cast<uint32_t>(0x58465354u);

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint32_t MarkerValue() { return ~complementedMarker; }

bool BuildConfigBlock(const SfxConfig& config, std::string* block) {
    if (config.folderName.size() > 255 || config.programName.size() > 255) return false;
    uint8_t header[kBlockHeaderSize] = {};
    PutU32(header, MarkerValue());
    PutU32(header + 4, config.totalSize);
    header[8] = config.folderBase;
    header[9] = static_cast<uint8_t>(config.folderName.size());
    header[10] = config.programBase;
    header[11] = static_cast<uint8_t>(config.programName.size());
    header[12] = config.waitAndDelete ? 1 : 0;
    header[13] = config.overwrite ? 1 : 0;
    block->assign(reinterpret_cast<const char*>(header), sizeof header);
    block->append(config.folderName);
    block->append(config.programName);
    return true;
}

void ParseBlockHeader(const uint8_t* header, SfxConfig* config, size_t* folderLength, size_t* programLength) {
    config->totalSize = GetU32(header + 4);
    config->folderBase = header[8];
    *folderLength = header[9];
    config->programBase = header[10];
    *programLength = header[11];
    config->waitAndDelete = header[12] != 0;
    config->overwrite = header[13] != 0;
}

long FindMarker(const uint8_t* bytes, size_t size) {
    uint32_t marker = MarkerValue();
    for (size_t i = 0; i + 4 <= size; ++i)
        if (bytes[i] == (marker & 0xFF) && GetU32(bytes + i) == marker) return static_cast<long>(i);
    return -1;
}

std::string JoinBaseAndName(const std::string& base, const std::string& name) {
    std::string joined = base;
    if (!joined.empty() && joined.back() != '\\' && joined.back() != '/') joined += '\\';
    joined.append(!name.empty() && name[0] == '\\' ? name.substr(1) : name);
    return joined;
}

}  // namespace tessera::sfx
