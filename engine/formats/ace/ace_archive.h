// ACE archive structure: header records, the walk over one volume, volume
// names, and a reader that follows entries across the volumes of a set.
//
// Portable (no windows.h): a volume is a RandomAccessInput, and further
// volumes come from a caller's opener, which is where the Windows class puts
// its Retry/Cancel prompt. The reader hands an entry's
// packed bytes to the decoder as one ByteSource even when the entry is split
// over several volumes, and afterwards continues the walk in the volume where
// the entry ended.
//
// Every size read from a header is checked against the file before it is
// used: the walk only moves forward and never past the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/ace/ace_lz77.h"
#include "codecs/byte_io.h"
#include "formats/random_access_input.h"

namespace tessera::ace {

// ---------------------------------------------------------------------------
// Volumes

// Supplies volumes by name. Returns null when the volume cannot be had; a
// caller that prompts (Retry/Cancel) does so inside and returns null after
// Cancel. `index` counts from 0 for the first volume.
class AceVolumeOpener {
public:
    virtual ~AceVolumeOpener() = default;
    virtual std::unique_ptr<RandomAccessInput> OpenVolume(const std::string& name, unsigned index) = 0;
};

// Name of the volume after `name`: the extension (after the last '.' that
// follows the last blank, '/' or '\') becomes C00..C99, then 100..999, then
// 1000, 1001, ... (as many digits as needed). A name without an extension
// gets one. Empty when the numbers run out (above 99,999).
std::string AceNextVolumeName(const std::string& name);
// The volume number an extension names (C00 -> 0, 100 -> 100, 1234 -> 1234),
// or -1 for the first volume's own extension.
int AceVolumeNumberOf(const std::string& name);

// ---------------------------------------------------------------------------
// Records

enum class AceStatus {
    kOk,
    kEnd,            // no further header: the walk is complete
    kNoArchive,      // no main header within the first 64 KiB
    kReadError,
    kBadHeaderCrc,   // the walk ends at this header
    kDamaged,        // sizes that do not fit the header or the file
    kTruncated,      // the file ends inside a header or its data
    kVolumeMissing,  // the next volume could not be opened
    kWrongVolume,    // the next volume does not continue the entry
};

const char* AceStatusText(AceStatus status);

inline constexpr uint16_t kAceFlagAddSize = 0x0001;
inline constexpr uint16_t kAceFlagComment = 0x0002;
inline constexpr uint16_t kAceFlagMultiVolume = 0x0800;
inline constexpr uint16_t kAceFlagSolid = 0x8000;
inline constexpr uint16_t kAceFlagContinuedFromPrevious = 0x1000;
inline constexpr uint16_t kAceFlagContinuedInNext = 0x2000;
inline constexpr uint16_t kAceFlagEncrypted = 0x4000;
inline constexpr uint32_t kAceAttributeFolder = 0x10;

// Header bytes kept; longer headers are checked in full but cut to this.
inline constexpr size_t kAceHeaderKept = 2040;
// How far the main header is searched for.
inline constexpr uint64_t kAceSearchLimit = 64 * 1024;

struct AceMainHeader {
    uint64_t start = 0;  // offset of the main header (the archive's start)
    uint16_t flags = 0;
    uint8_t versionToExtract = 0, versionCreated = 0, host = 0, volumeNumber = 0;
    uint32_t timeCreated = 0;
    std::vector<uint8_t> packedComment;  // compressed archive comment (may be cut, see kAceHeaderKept)

    bool HasComment() const { return (flags & kAceFlagComment) != 0; }
    bool IsSolid() const { return (flags & kAceFlagSolid) != 0; }
    bool IsMultiVolume() const { return (flags & kAceFlagMultiVolume) != 0; }
};

struct AceFileHeader {
    uint16_t flags = 0;
    uint32_t packedSize = 0;  // PSIZE: packed bytes in this volume
    uint32_t size = 0;
    uint32_t time = 0;        // DOS date (high word) and time (low word)
    uint32_t attributes = 0;
    uint32_t crc32 = 0;       // CRC-32 register of the data, not complemented
    uint8_t techType = 0, techQuality = 0;
    uint16_t techParm = 0;
    std::string name;         // stored bytes (OEM code page, '\' separators)
    std::vector<uint8_t> packedComment;
    uint64_t dataOffset = 0;

    bool HasComment() const { return (flags & kAceFlagComment) != 0; }
    bool ContinuedFromPrevious() const { return (flags & kAceFlagContinuedFromPrevious) != 0; }
    bool ContinuedInNext() const { return (flags & kAceFlagContinuedInNext) != 0; }
    bool IsEncrypted() const { return (flags & kAceFlagEncrypted) != 0; }
    bool IsFolder() const { return (attributes & kAceAttributeFolder) != 0; }
};

// The 16-bit header check: low half of the CRC-32 register over the header.
uint16_t AceHeaderCrc(const void* data, size_t size);

// Walks the headers of one volume.
class AceHeaderWalk {
public:
    explicit AceHeaderWalk(RandomAccessInput& volume) : volume_(volume) {}

    // Searches from `from` for "**ACE**" in 1,024-byte pieces (each keeping
    // the last 512 bytes of the one before) for at most 64 KiB; a hit counts
    // when a main header with a good check starts 7 bytes before it. The walk
    // then stands after the main header.
    AceStatus FindMainHeader(AceMainHeader& main, uint64_t from = 0);

    // Reads the next file header, skipping headers of other types and any
    // data they carry; afterwards the walk stands after the file's data.
    AceStatus NextFileHeader(AceFileHeader& header);

    uint64_t Position() const { return position_; }

private:
    struct RawHeader {
        uint16_t size = 0;
        uint8_t type = 0;
        uint16_t flags = 0;
        uint32_t addSize = 0;
        size_t kept = 0;  // bytes of `bytes` that hold the header (from HEAD_TYPE on)
        uint8_t bytes[kAceHeaderKept];
    };
    AceStatus ReadHeader(uint64_t at, RawHeader& raw);
    static bool ParseMain(const RawHeader& raw, AceMainHeader& main);

    RandomAccessInput& volume_;
    uint64_t position_ = 0;
    std::unique_ptr<RawHeader> raw_ = std::make_unique<RawHeader>();
};

// ---------------------------------------------------------------------------
// Reading a whole set

struct AceEntry {
    AceFileHeader header;     // the first part's header
    uint64_t packedTotal = 0; // PSIZE summed over the parts walked so far
    uint32_t crc32 = 0;       // check value of the last part walked (the whole file's)
    unsigned parts = 0;
};

// Result of decoding one entry.
struct AceEntryOutcome {
    CodecResult codec = CodecResult::kOk;
    AceStatus input = AceStatus::kOk;  // what went wrong reading the packed data, if anything
    bool encrypted = false;            // refused: decryption is not supported
    uint32_t crcFound = 0, crcExpected = 0;
    bool CrcMatches() const { return crcFound == crcExpected; }
    bool Ok() const { return !encrypted && codec == CodecResult::kOk && input == AceStatus::kOk && CrcMatches(); }
};

class AceArchiveReader {
public:
    explicit AceArchiveReader(AceVolumeOpener& opener);
    ~AceArchiveReader();

    // Opens the first volume and finds the main header.
    AceStatus Open(const std::string& firstVolumeName);
    const AceMainHeader& Main() const { return main_; }
    const std::string& CurrentVolumeName() const { return volumeName_; }

    // Moves to the next entry; the rest of the previous entry (its parts in
    // later volumes) is walked first.
    AceStatus NextEntry(AceEntry& entry);

    // Walks the remaining parts of the current entry without reading their
    // data, adding up their packed sizes (listing).
    AceStatus FinishEntry(AceEntry& entry);

    // Decodes the current entry: `out` null decodes without output (testing,
    // or an entry skipped inside a solid archive). In a solid archive the
    // decoder's state carries over from the entry before; otherwise it is
    // reset. The remaining parts are walked afterwards.
    AceEntryOutcome DecodeEntry(AceDecoder& decoder, AceEntry& entry, ByteSink* out);

private:
    class PackedSource;
    AceStatus AdvanceToNextPart(AceEntry& entry);
    AceStatus OpenVolume(const std::string& name, unsigned index);

    AceVolumeOpener& opener_;
    std::unique_ptr<RandomAccessInput> volume_;
    std::unique_ptr<AceHeaderWalk> walk_;
    std::string volumeName_;
    unsigned volumeIndex_ = 0;
    AceMainHeader main_;
    bool haveEntry_ = false;  // an entry is current
    std::string entryName_;   // its stored name: continuation parts must carry the same
    bool partContinues_ = false;  // its current part continues in the next volume
    uint64_t partOffset_ = 0, partLeft_ = 0;  // unread packed bytes of the current part
    AceStatus stopped_ = AceStatus::kOk;  // a later volume failed: the walk cannot go on
    bool firstDecode_ = true;  // the next decode starts the decoder afresh
    bool decodedAll_ = true;   // the current entry went through the decoder (or needs not)
    bool solidGap_ = false;    // an entry with data was passed over without decoding
};

// ---------------------------------------------------------------------------
// Names

// Turns a stored name into a relative path with '\' separators that stays
// under any destination: drive prefixes, device and root prefixes, empty,
// "." and ".." components (also with trailing dots or blanks, which Windows
// drops) are removed. `stripped` tells whether anything was removed.
std::string AceSafeRelativePath(const std::string& stored, bool* stripped);

}  // namespace tessera::ace
