// RAR archives of the 1.5-to-2.x block format: marker and main header
// checks, the block walk, and the extraction of entries across volumes and
// through solid chains, portable and driven by RandomAccessInput.
//
// Layout: a 7-byte marker "Rar!" 1A 07 00, a main header (13 bytes and
// optional comment data), then blocks. Every block starts with HEAD_CRC,
// HEAD_TYPE, HEAD_FLAGS and HEAD_SIZE; with flag 0x8000 a data area of
// PACK_SIZE bytes follows the header. File headers (type 0x74) describe
// entries; everything else is skipped. Only unpack version 15 is decoded;
// stored entries are copied whatever their version.
//
// The format class uses RarWalker alone to list, and RarReader to extract or
// test: Next() in order, then Extract() for each entry it wants and Skip()
// for the others (which, in a solid archive, decodes without output so the
// window stays in step).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "codecs/rar15/rar15_decoder.h"
#include "formats/random_access_input.h"

namespace tessera {

enum class RarStatus {
    kOk,
    kEnd,               // no further block, or the end-of-archive block
    kNotArchive,        // marker missing or wrong
    kRar5,              // the RAR 5 marker: a different format, not read
    kBadMainHeader,     // main header short or failing its checksum
    kEncryptedHeaders,  // headers are encrypted (archive flag 0x0080): unreadable
    kDamaged,           // a block header cut short, too small, or beyond the file
};

// Main header flags.
// A self-extracting program holds its archive within this many bytes.
constexpr uint64_t kRarSfxSearchLimit = 0x100000;

constexpr uint16_t kRarVolume = 0x0001;
constexpr uint16_t kRarSolid = 0x0008;
constexpr uint16_t kRarHeadersEncrypted = 0x0080;

// File header flags.
constexpr uint16_t kRarFromPrevious = 0x0001;
constexpr uint16_t kRarToNext = 0x0002;
constexpr uint16_t kRarEncrypted = 0x0004;
constexpr uint16_t kRarLarge = 0x0100;  // 64-bit sizes follow the attributes
constexpr uint16_t kRarHasData = 0x8000;

constexpr uint8_t kRarHostUnix = 3;

struct RarEntry {
    std::string name;  // as stored up to the first NUL (OEM code page, '\' separators)
    uint16_t flags = 0;
    uint64_t packSize = 0;  // in this volume
    uint64_t unpSize = 0;
    uint8_t hostOs = 0;
    uint32_t fileCrc = 0;  // CRC-32 of the unpacked data (of this part, in volumes)
    uint32_t dosTime = 0;  // DOS date (high word) and time (low word), local time
    uint8_t unpVersion = 0;
    uint8_t method = 0;  // 0x30 stored
    uint32_t attributes = 0;
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;
    bool headerCrcOk = true;  // a bad header checksum is reported, the header still used

    bool ContinuedFromPrevious() const { return (flags & kRarFromPrevious) != 0; }
    bool ContinuesInNext() const { return (flags & kRarToNext) != 0; }
    bool IsEncrypted() const { return (flags & kRarEncrypted) != 0; }
    bool IsStored() const { return method == 0x30; }
    // The window-size bits all set mark a folder; so do the attributes, in
    // DOS form (0x10) or, from Unix hosts, as a file mode (0x10 is
    // group-write there).
    bool IsFolder() const {
        if ((flags & 0x00E0) == 0x00E0) return true;
        return hostOs == kRarHostUnix ? (attributes & 0xF000) == 0x4000 : (attributes & 0x10) != 0;
    }
};

class RarWalker {
public:
    explicit RarWalker(RandomAccessInput& input) : input_(input) {}

    // Checks the marker and the main header: at the start of the input, or
    // for a self-extracting program within its first kRarSfxSearchLimit bytes.
    RarStatus Open();
    uint16_t MainFlags() const { return mainFlags_; }
    bool IsSolid() const { return (mainFlags_ & kRarSolid) != 0; }

    // The next file header (other blocks are skipped). After kEnd or
    // kDamaged the walk is over.
    RarStatus Next(RarEntry* entry);

    // Blocks read so far: the "#" of a damage message.
    unsigned BlockNumber() const { return blocks_; }

private:
    RandomAccessInput& input_;
    uint16_t mainFlags_ = 0;
    static constexpr size_t kSearchPiece = 0x10000;
    RarStatus OpenAt(uint64_t start);
    uint64_t next_ = 0;
    unsigned blocks_ = 0;
    bool over_ = false;
};

// Name of volume `index` of an old-style set: 0 is the given first name
// (x.rar), then x.r00 ... x.r99, x.s00 ... (empty past the last letter).
std::string RarVolumeName(const std::string& firstName, unsigned index);

// Opens volume `index` (1 = the second one) of the set, or gives null when
// it does not exist.
using RarVolumeOpener = std::function<std::unique_ptr<RandomAccessInput>(unsigned index)>;

enum class RarEntryResult {
    kOk,
    kBadCrc,              // produced in full, but the CRC-32 differs
    kTruncated,           // the packed data ends early or lies beyond the file
    kUnsupportedVersion,  // packed with another unpack version than 15 (value: it)
    kEncrypted,
    kFromPreviousVolume,  // the entry starts in an earlier volume
    kNextVolumeMissing,   // the entry continues in a volume that cannot be opened
    kBadVolume,           // the next volume does not continue this entry
    kSolidBroken,         // an earlier entry of the solid chain failed
    kAborted,             // the sink refused a write
};
struct RarEntryOutcome {
    RarEntryResult result = RarEntryResult::kOk;
    uint32_t crc = 0;          // CRC-32 of what was produced
    uint32_t expectedCrc = 0;  // the stored one (of the last part, in volumes)
    unsigned value = 0;        // the unpack version for kUnsupportedVersion
};

class RarReader {
public:
    // `first` is borrowed; later volumes come from `opener` (may be empty).
    RarReader(RandomAccessInput& first, RarVolumeOpener opener);
    ~RarReader();

    RarStatus Open();
    bool IsSolid() const { return solid_; }
    RarStatus Next(RarEntry* entry);

    // Decodes the entry Next() returned into `sink` (null: test, no output),
    // following it into further volumes. Afterwards Next() goes on in the
    // volume where the entry ended.
    RarEntryOutcome Extract(const RarEntry& entry, ByteSink* sink);
    // Passes over an entry that is not wanted: decodes it without output in
    // a solid archive, does nothing otherwise.
    void Skip(const RarEntry& entry);

    // Volumes opened beyond the first one.
    unsigned VolumesOpened() const { return volumeIndex_; }

private:
    class PartSource;
    friend class PartSource;

    RandomAccessInput* current_;
    std::unique_ptr<RandomAccessInput> owned_;  // the current volume after the first
    std::unique_ptr<RarWalker> walker_;
    RarVolumeOpener opener_;
    unsigned volumeIndex_ = 0;
    bool solid_ = false;
    bool solidStarted_ = false;
    bool solidBroken_ = false;
    Rar15Decoder decoder_;
};

}  // namespace tessera
