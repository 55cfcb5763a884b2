// Small archive builders and file-backed inputs for the RAR and ARJ tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/rar/seekable_input.h"

namespace tessera::testing {

using Bytes = std::vector<uint8_t>;

// A SeekableInput that owns its bytes.
class OwnedInput final : public SeekableInput {
public:
    explicit OwnedInput(Bytes bytes) : bytes_(std::move(bytes)), view_(bytes_.data(), bytes_.size()) {}
    uint64_t Size() override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
        return view_.ReadAt(offset, buffer, size);
    }

private:
    Bytes bytes_;
    MemoryInput view_;
};

// Reads a whole file into an OwnedInput (null when it cannot be read).
std::unique_ptr<SeekableInput> OpenFileInput(const std::string& path);

void PutLe16(Bytes& b, uint32_t v);
void PutLe32(Bytes& b, uint32_t v);

// RAR: marker and main header with `mainFlags`.
Bytes RarStart(uint16_t mainFlags);
struct RarFileSpec {
    std::string name;
    Bytes data;            // packed data as stored
    uint32_t unpSize = 0;
    uint32_t crc = 0;
    uint16_t flags = 0x8000;
    uint8_t unpVersion = 15;
    uint8_t method = 0x30;
};
// Appends a file header (with a correct header checksum) and its data.
void RarAddFile(Bytes& archive, const RarFileSpec& spec);

// ARJ: one framed header around `basic` (with its CRC) and no extended headers.
Bytes ArjFrame(const Bytes& basic);
struct ArjFileSpec {
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
Bytes ArjBasicHeader(const ArjFileSpec& spec);
// Main header, one stored header per spec with its data, end marker.
Bytes ArjArchive(const std::vector<ArjFileSpec>& files);

}  // namespace tessera::testing
