// ARJ archives: the start search, the header walk and the decoding of one
// entry, all portable and driven by a RandomAccessInput.
//
// An ARJ file is a main header, then per entry a file header and its
// compressed data, and an end marker (a header of size 0). Every header is
// framed as: id 0x60 0xEA, a 2-byte basic header size, the basic header, its
// CRC-32, then extended headers (2-byte size, data, CRC-32) until a size of 0.
// The walker hands out one ArjHeader per file header; the format class lists
// them, decides with ArjCheckEntry what it can extract, and calls
// ArjDecodeEntry for the ones it wants (with a null sink to test).
#pragma once

#include <cstdint>
#include <string>

#include "codecs/arj/arj_decoder.h"
#include "formats/random_access_input.h"

namespace tessera {

constexpr uint16_t kArjHeaderId = 0xEA60;
constexpr uint32_t kArjSearchLimit = 25000;     // the start must lie before this offset
constexpr uint32_t kArjMaxBasicHeader = 2348;   // a larger basic header is damage

enum class ArjStatus {
    kOk,          // a header was read
    kEnd,         // the end marker
    kNotArchive,  // no archive start found (or the main header id is wrong)
    kDamaged,     // a header is cut short, oversized, fails its CRC or lies beyond the file
};

// ARJ header flags.
constexpr uint8_t kArjGarbled = 0x01;
constexpr uint8_t kArjVolume = 0x04;   // continued in the next volume
constexpr uint8_t kArjExtFile = 0x08;  // continued from the previous volume

// One basic header (main or file) with where it lies.
struct ArjHeader {
    uint8_t firstHeaderSize = 0;
    uint8_t archiverVersion = 0;
    uint8_t minVersion = 0;
    uint8_t hostOs = 0;
    uint8_t flags = 0;
    uint8_t method = 0;
    uint8_t fileType = 0;     // 0 binary, 1 text, 2 comment header, 3 folder, 4 volume label
    uint32_t dosDateTime = 0; // DOS date (high word) and time (low word), local time
    uint32_t compressedSize = 0;
    uint32_t originalSize = 0;
    uint32_t fileCrc = 0;     // CRC-32 of the original data
    uint16_t accessMode = 0;
    std::string name;         // as stored (OEM code page, '/' or '\' separators)
    std::string comment;
    uint64_t headerOffset = 0;  // of the header id
    uint64_t dataOffset = 0;    // first byte of the compressed data

    bool IsGarbled() const { return (flags & kArjGarbled) != 0; }
    bool IsFolder() const { return fileType == 3; }
    uint32_t Attributes() const { return IsFolder() ? 0x10u : 0x20u; }
};

// Why an entry cannot be extracted (ArjCheckEntry), with the number a
// message shows.
enum class ArjRefusal {
    kNone,
    kVersion,   // minimum version to extract above 3 (value: that version)
    kGarbled,   // encrypted
    kMethod,    // method above 4, or 4 from archiver version 1 (value: method)
    kFolder,    // a folder: nothing to decode
    kFileType,  // any other file type but binary and text (value: file type)
};
struct ArjCheck {
    ArjRefusal refusal = ArjRefusal::kNone;
    unsigned value = 0;
};
ArjCheck ArjCheckEntry(const ArjHeader& entry);

class ArjWalker {
public:
    explicit ArjWalker(RandomAccessInput& input) : input_(input) {}

    // Finds the archive start and reads the main header.
    ArjStatus Open();
    const ArjHeader& MainHeader() const { return main_; }
    uint64_t ArchiveStart() const { return main_.headerOffset; }

    // Reads the next file header; the walk then continues behind its
    // compressed data. After kEnd or kDamaged the walk is over.
    ArjStatus Next(ArjHeader* entry);

    // Number of headers read so far, main header included: the "#" of a
    // damage message.
    unsigned HeaderNumber() const { return headers_; }

private:
    ArjStatus ReadHeader(uint64_t offset, ArjHeader* header);

    RandomAccessInput& input_;
    ArjHeader main_;
    uint64_t next_ = 0;
    unsigned headers_ = 0;
    bool over_ = false;
};

enum class ArjEntryResult {
    kOk,
    kBadCrc,       // decoded to the end but the CRC-32 differs
    kBadData,      // the decoder met impossible data
    kTruncated,    // the compressed data ends early (or lies beyond the file)
    kAborted,      // the sink refused a write
    kUnsupported,  // ArjCheckEntry refuses it
};
struct ArjEntryOutcome {
    ArjEntryResult result = ArjEntryResult::kOk;
    uint32_t crc = 0;  // CRC-32 of what was produced
};

// Decodes one entry into `sink` (null: test without output) and checks its
// CRC-32. Stored data is copied in 4,096-byte pieces aligned to the file.
ArjEntryOutcome ArjDecodeEntry(RandomAccessInput& input, const ArjHeader& entry, ArjDecoder& decoder,
                               ByteSink* sink);

}  // namespace tessera
