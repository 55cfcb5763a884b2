// The portable half of ZIP extraction and testing: which central entries can
// be decoded at all, the decoding of one member's data (stored, Inflate,
// Explode, Unshrink, Unreduce, with the traditional decryption) into a sink, and the rule that
// turns a run's counts into its final result level.
//
// The decoder never trusts the sizes it is given further than the file
// allows: the input is limited to the entry's compressed bytes by the
// reader, and the output is cut at the declared uncompressed size, so an
// entry that would produce more (a bomb, or a size field that lies) ends as
// invalid data after at most that many bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "codecs/zipcrypto/zipcrypto.h"
#include "zip/zip_directory.h"

namespace tessera {
class Inflater;
class Exploder;
class Unshrinker;
class Unreducer;
}  // namespace tessera

namespace tessera::zip {

// Why a selected central entry is or is not decoded.
enum class EntryCheck {
    Supported,
    Damaged,           // outside the data area, overlapping or without its ZIP64 values (reported)
    StrongEncryption,  // strong encryption or AES: "decryption not supported"
    Version,           // patched data: "requires PK v2.7"
    Method,            // a named method without a decoder (7, 9, 10)
    UnknownMethod,     // method 11 and above
};
EntryCheck CheckEntry(const DirectoryEntry& entry);

// An entry is judged by what it uses -- method, encryption, patch and ZIP64
// fields -- not by the version needed it claims: writers put 4.5, 5.1 or
// 6.3 there for archives whose entries need nothing beyond Deflate.

// How decoding one member ended.
struct MemberResult {
    enum Kind {
        Ok,
        NoMemory,      // the decoder's buffers could not be allocated
        BadData,       // invalid data, or more or fewer bytes than the declared size
        ExplodeSize,   // Explode ended elsewhere than the compressed size says (see `used`)
        Aborted,       // the sink refused output (cancel or a failed write)
        ReadError,     // the archive could not be read
    };
    Kind kind = Ok;
    uint32_t crc = 0;       // CRC-32 of the output (final, complemented)
    uint64_t produced = 0;  // bytes handed to the sink
    uint64_t used = 0;      // ExplodeSize: compressed bytes the data took
};

// One decoder set for a run: the Inflate and Explode state is allocated on
// first use and kept for the following members.
class MemberDecoder {
public:
    MemberDecoder();
    ~MemberDecoder();
    MemberDecoder(const MemberDecoder&) = delete;
    MemberDecoder& operator=(const MemberDecoder&) = delete;

    // Decodes the member whose data (after any encryption header) starts at
    // the reader's position and takes `compressedSize` bytes. `keys`, when
    // given, decrypt the data as it is read. `method` is 0-6 or 8.
    MemberResult Decode(BlockReader& reader, uint16_t method, uint16_t flags, uint64_t compressedSize,
                        uint64_t uncompressedSize, ZipCryptoKeys* keys, ByteSink& sink);

private:
    std::unique_ptr<Inflater> inflater_;
    std::unique_ptr<Exploder> exploder_;
    std::unique_ptr<Unshrinker> unshrinker_;
    std::unique_ptr<Unreducer> unreducer_;
};

// Counts of one extract-or-test run.
struct RunCounts {
    uint32_t reached = 0;             // entries whose local header was looked up
    uint32_t skippedPassword = 0;
    uint32_t skippedUnsupported = 0;
};

// The run's result level: 11 when nothing was reached and the level is below
// 2; 2 when the level is below 2 and every reached entry was skipped for its
// password or any entry was unsupported; 1 when the level is 0 and some
// entries were skipped for the password; else the level itself.
int FinalLevel(int level, const RunCounts& counts);

}  // namespace tessera::zip
