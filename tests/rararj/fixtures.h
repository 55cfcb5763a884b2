// Small archive builders and file-backed inputs for the RAR and ARJ tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/random_access_input.h"

namespace tessera::testing {

using Bytes = std::vector<uint8_t>;

// Reads a whole file into a MemoryInput (null when it cannot be read).
std::unique_ptr<RandomAccessInput> OpenFileInput(const std::string& path);

void PutLe16(Bytes& b, uint32_t v);
void PutLe32(Bytes& b, uint32_t v);

// RAR: marker and main header with `mainFlags`.
Bytes RarStart(uint16_t mainFlags);
struct RarFileFixture {
    std::string name;
    Bytes data;            // packed data as stored
    uint32_t unpSize = 0;
    uint32_t crc = 0;
    uint16_t flags = 0x8000;
    uint8_t unpVersion = 15;
    uint8_t method = 0x30;
};
// Appends a file header (with a correct header checksum) and its data.
void RarAddFile(Bytes& archive, const RarFileFixture& file);

// ARJ: one framed header around `basic` (with its CRC) and no extended headers.
Bytes ArjFrame(const Bytes& basic);
struct ArjFileFixture {
    std::string name;
    Bytes data;  // compressed data as stored
    uint32_t originalSize = 0;
    uint32_t crc = 0;
    uint8_t method = 0;
    uint8_t fileType = 0;
    uint8_t flags = 0;
    uint8_t minVersion = 1;
    uint8_t archiverVersion = 11;
};
Bytes ArjBasicHeader(const ArjFileFixture& file);
// Main header, one header per file with its data, end marker.
Bytes ArjArchive(const std::vector<ArjFileFixture>& files);

}  // namespace tessera::testing
