// TAR header walk over a byte source.
//
// Reads the 512-byte blocks of a TAR archive in order and yields one record
// per archive member: v7, ustar (prefix + name), GNU (././@LongLink long
// names and link names, base-256 numbers) and pax ("x" per entry, "g" for the
// rest of the archive). The extension headers themselves are not yielded.
//
// The walk is strictly sequential: the caller may read the data of the
// current entry with ReadData; whatever it leaves unread is skipped by the
// next call to Next (passed over without reading when the walk reads a
// RandomAccessInput). Nothing is allocated from a header field: extension
// headers are collected only as their bytes actually arrive and up to a
// fixed bound, and data is skipped through one fixed buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/byte_io.h"
#include "formats/random_access_input.h"

namespace tessera::tar {

constexpr size_t kBlockSize = 512;

// Upper bound for the text of one extension header (long name, pax record
// set). Real ones are a few hundred bytes; anything bigger is damage.
constexpr uint64_t kMaxExtensionSize = 1u << 20;

enum class EntryKind : uint8_t {
    File,
    Folder,
    HardLink,
    SymbolicLink,
    CharDevice,
    BlockDevice,
    Fifo,
    Unsupported,  // GNU sparse files and multi-volume continuations
};

struct TarEntry {
    std::string name;      // full stored name, '/' separators, as stored
    std::string linkName;  // target of a hard or symbolic link
    EntryKind kind = EntryKind::File;
    char typeflag = '0';
    uint64_t size = 0;          // data bytes that follow the header
    int64_t mtime = 0;          // seconds since 1970-01-01 00:00 UTC
    uint32_t mode = 0;          // permission bits as stored
    uint64_t headerOffset = 0;  // first block of the entry, extension headers included
    uint64_t dataOffset = 0;    // first data byte
};

enum class TarStatus {
    Entry,        // `entry` holds the next member
    End,          // end-of-archive block, or the input ended at a block boundary
    BadHeader,    // a number that does not fit, or an oversized extension header
    Truncated,    // the input ended inside a header or inside an entry's data
};

// Numbers of a header field: octal text (leading blanks and NULs skipped,
// digits up to the first other character) or GNU base-256 (top bit of the
// first byte set). False when the value does not fit in 63 bits.
bool ParseNumericField(const uint8_t* field, size_t length, int64_t& value);

// The checksum of a header block holds (unsigned or, for old writers,
// signed byte sums with the checksum field counted as blanks).
bool HeaderChecksumHolds(const uint8_t* block);

class TarReader {
public:
    explicit TarReader(ByteSource& source);
    // Reads `input` from its start; skipped data is passed over unread.
    explicit TarReader(RandomAccessInput& input);
    TarReader(const TarReader&) = delete;
    TarReader& operator=(const TarReader&) = delete;

    // Skips what is left of the current entry and reads the next header.
    // After any status other than Entry the walk is over. A block where a
    // header should be whose checksum does not hold is damage: the walk
    // counts it and carries on from the next block that is a header.
    TarStatus Next(TarEntry& entry);
    // Places where the walk had to look for the next header.
    unsigned DamagedHeaders() const { return damagedHeaders_; }

    // Up to `capacity` data bytes of the current entry; 0 when its data is
    // used up (or the input ended early: then Truncated() is true).
    size_t ReadData(uint8_t* buffer, size_t capacity);

    // Data bytes of the current entry not read yet.
    uint64_t DataLeft() const { return dataLeft_; }
    bool Truncated() const { return truncated_; }
    // Bytes consumed from the source so far.
    uint64_t Position() const { return position_; }

private:
    struct PaxValues {
        bool hasPath = false, hasLinkPath = false, hasSize = false, hasMtime = false, hasMode = false;
        std::string path, linkPath;
        uint64_t size = 0;
        int64_t mtime = 0;
        uint32_t mode = 0;
    };

    size_t Fill(uint8_t* out, size_t count);
    bool Skip(uint64_t count);
    TarStatus ReadExtension(uint64_t size, std::string& text);
    static bool ParsePax(const std::string& text, PaxValues& values);

    std::unique_ptr<InputCursor> seekable_;  // set when reading a RandomAccessInput
    BufferedInput input_;
    std::vector<uint8_t> scratch_;
    uint64_t position_ = 0;
    uint64_t dataLeft_ = 0;  // data of the current entry not handed out
    uint64_t padding_ = 0;   // bytes after the data up to the next block
    bool truncated_ = false;
    bool finished_ = false;
    unsigned damagedHeaders_ = 0;
    PaxValues global_;
};

}  // namespace tessera::tar
