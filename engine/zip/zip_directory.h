// Locating and walking the ZIP directory, for reading and for updating.
//
// Reading (list, check, comment, extraction): the end record is searched in
// the last 64 KiB in 32 KiB blocks through the run's BlockReader; the disk
// fields are checked, the offset shift of a self-extracting prefix is
// computed, the central directory is found and walked into DirectoryEntry
// records. Updating: the end record is searched over the whole file in 4 KiB
// blocks, the central directory is held in memory and every entry's local
// header is checked, giving the update list and the prefix length.
//
// Nothing here shows a message: each function appends structured reports
// (a message kind, its level and its number argument) that the format class
// turns into its catalogue texts, and raises the run's level to the highest
// level reported. Hostile directories end in a report: every walk advances
// by at least one header per step and is bounded by the file size, nothing is
// allocated from a count or size field beyond what the file can hold, and
// entries that point outside the file or overlap each other are marked
// damaged instead of being read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_input.h"
#include "zip/zip_records.h"

namespace tessera::zip {

// Result levels of a run (the base class maps them).
enum Level : int {
    kLevelOk = 0,
    kLevelWarning = 1,
    kLevelEntryError = 2,
    kLevelDamaged = 3,
    kLevelNoMemory = 4,
    kLevelDecoderNoMemory = 6,
    kLevelCannotOpen = 9,
    kLevelNothingFound = 11,
    kLevelTargetError = 50,
    kLevelReadError = 51,
    kLevelCancelled = 52,
};

// What a report says; the comment names the catalogue text and the argument.
enum class Message {
    NotAnArchive,        // "File cannot be opened: It does not seam to be a valid %s." (format description)
    MissingBytes,        // "Missing %ld bytes in archive (try to process anyway)." (value = missing count)
    ArchiveDamaged,      // "Archive is damaged: %s." (archive path)
    MultiPartWrongDisk,  // "%s is a multi-part archive. Disk #%u was inserted, ..." (path, value = this disk)
    MultiPartIgnored,    // "Warning: multi-part archive information ignored."
    ArchiveEmpty,        // "Warning: archive is empty."
    CommentTruncated,    // "Warning: Comment truncated (missing %d bytes).\n" (value = missing count)
    EntryNotFound,       // "File #%u was not found in archive." (value = 1-based entry number)
    EntryDamaged,        // "File in archive #%u is damaged." (value = 1-based entry number)
    ReadError,           // "Error reading archive: %s" (system error text)
    Zip64NotSupported,   // "requires %s v%u.%u, supported is v%u.%u" with "PK", 4, 5, 2, 0
    OutOfMemory,         // "There is not enough memory (RAM) to complete this operation."
};

struct Report {
    Message message;
    int level;
    uint64_t value;
};

struct Reports {
    std::vector<Report> items;
    int level = kLevelOk;  // the highest level reached
    void Add(Message message, int lvl, uint64_t value = 0) {
        items.push_back({message, lvl, value});
        Raise(lvl);
    }
    void Raise(int lvl) {
        if (lvl > level) level = lvl;
    }
    bool Has(Message message) const {
        for (const Report& r : items)
            if (r.message == message) return true;
        return false;
    }
};

// --- entry extents -----------------------------------------------------------------

// The bytes an entry occupies from its local header on.
struct Extent {
    uint64_t start;
    uint64_t length;  // not 0: a local header alone takes 30 bytes
};

// True for every extent that shares a byte with another one: entries sharing
// data (the usual shape of a ZIP bomb) are all damaged, for reading and for
// updating alike. Extents that only touch do not overlap.
std::vector<bool> OverlappingExtents(const std::vector<Extent>& extents);

// --- end record searches ---------------------------------------------------------

enum class SearchResult { Found, NotFound, ReadError };

// The reading search: min(size, 64 KiB) from the end; a file of at most
// 32,768 bytes is read whole, a larger one first in its last `size mod 32768`
// bytes (when that tail is over 18) and then back in aligned 32 KiB blocks.
// Only a signature with the 22 bytes of a record behind it counts.
SearchResult FindEndRecordForReading(BlockReader& reader, uint64_t* position);

// The updating search: every byte position of the whole file, backwards in
// 4 KiB blocks.
SearchResult FindEndRecordForUpdating(RandomAccessInput& input, uint64_t* position);

// True when the end record found at `position` lies inside the comment of an
// earlier end record whose comment reaches exactly to the end of the file:
// two end records, one hidden in the other's comment, make the archive
// ambiguous. Looks back at most one comment's length (65,535 + 22 bytes).
bool InsideEarlierComment(RandomAccessInput& input, uint64_t position, bool* readError);

// --- reading -----------------------------------------------------------------------

enum class ReadMode { List, Check, Comment, Extract };

struct DirectoryLocation {
    bool endFound = false;
    uint64_t endPosition = 0;   // real position of the end record
    EndRecord end;
    int64_t shift = 0;          // added to every stored local header offset
    uint64_t centralStart = 0;  // real position of the first central header
    bool empty = false;         // no central directory at all ("archive is empty")
    bool recovered = false;     // bytes are missing in front, or the directory offset is 0
                                // behind a prefix: reported, and read anyway
    bool zip64Locator = false;  // a ZIP64 end locator sits in front of the end record
    bool zip64 = false;         // the ZIP64 end record gave the directory's place and count
    // The directory as the end record (or the ZIP64 end record) describes it.
    uint64_t totalEntries = 0;
    uint64_t centralSize = 0;
    uint64_t centralOffset = 0;
    uint64_t directoryEnd = 0;  // real position where the directory must end
    uint32_t zip64ThisDisk = 0, zip64CentralDisk = 0;
    std::string comment;        // Comment mode: the archive comment as far as present
};

// Opening steps of every reading run: finds the end record, checks the disk
// fields, computes the shift and finds the central directory (Check and the
// walks), or reads the comment (Comment). Returns true when the run can go on
// (then the reader stands at the first central header, unless the archive is
// empty or in Comment mode); false when it must stop (reports say why; in
// Check mode a missing end record stops with level 2 and no report).
bool OpenDirectory(BlockReader& reader, ReadMode mode, DirectoryLocation* location, Reports* reports);

// One central directory entry as read.
struct DirectoryEntry {
    CentralHeader header;
    std::string name;          // stored name: OEM bytes, or UTF-8 with kFlagUtf8; "/" separators
    std::string unicodeName;   // UTF-8 name of a matching Unicode path field, else empty
    std::string comment;
    bool hasComment = false;
    // Sizes and local header offset at full width (from the ZIP64 extra
    // field where the header holds a sentinel).
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localOffset = 0;
    int64_t localPosition = 0;  // stored local header offset + shift
    bool strongEncryption = false;
    bool damaged = false;       // points outside the file, overlaps another entry or
                                // lacks a ZIP64 value its header announces
};

struct DirectoryWalk {
    std::vector<DirectoryEntry> entries;
    bool complete = false;       // all claimed entries were read
    bool endSignatureFollows = false;  // the 4 bytes after the last header are the end signature
};

// Walks the central directory from location.centralStart, reading at most the
// claimed number of headers (and never past the end record), then marks
// entries outside the data area or overlapping each other as damaged.
void WalkCentralDirectory(BlockReader& reader, const DirectoryLocation& location, DirectoryWalk* walk,
                          Reports* reports);

// The entry record that a listing fills for one central entry.
struct ListFields {
    bool encrypted;
    uint32_t packedSize;        // compressed size minus the encryption header; 0xFFFFFFFF when over 4 GiB
    uint32_t size;              // 0xFFFFFFFF when over 4 GiB
    bool ratioUnknown;          // a size does not fit 32 bits: ratio 0x7FFFFFFF
    uint16_t dosDate, dosTime;  // converted to a file time by the class, no time-zone change
    uint32_t host;              // high byte of version made by
    uint32_t version;           // low byte of version made by
    uint32_t methodWord;
    uint32_t attributes;
    bool folder;
};
ListFields ListFieldsOf(const DirectoryEntry& entry);

// Running totals of a listing.
struct ListTotals {
    uint32_t folders = 0;
    uint32_t entries = 0;
    uint64_t size = 0;
    uint32_t packedSize = 0;  // 0xFFFFFFFF once a compressed size is 0xFFFFFFFF
};
ListTotals TotalsOf(const std::vector<DirectoryEntry>& entries);

// --- local headers when extracting ----------------------------------------------

// An entry's local header as extraction reads it.
struct LocalEntry {
    LocalHeader header;
    std::string name;         // the local name, cut at 259 characters (the rest is skipped)
    uint32_t crc = 0;         // from the local header, or the central one with bit 3
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;  // always the local value (full width)
    uint64_t dataStart = 0;   // the reader stands here after Locate
};

enum class LocalResult {
    Ok,
    NotFound,   // "File #%u was not found in archive." (level 3)
    Damaged,    // "File in archive #%u is damaged." (level 3)
    ReadError,  // "Error reading archive: %s" (level 51)
};

// Finds local headers with the run's shift. When the first entry looked up
// is not at offset + shift (shift not 0), the shift is remembered and 0 tried
// (and kept); when a later entry is not found with shift 0 and a shift was
// remembered, the shift is restored and tried. Beyond that, the local header
// must agree with the central one: compressed size (unless bit 3 defers it
// to the central header) and data inside the area before the directory.
class LocalHeaderLocator {
public:
    LocalHeaderLocator(const DirectoryLocation& location)
        : shift_(location.shift), dataLimit_(location.centralStart) {}
    LocalResult Locate(BlockReader& reader, const DirectoryEntry& entry, LocalEntry* out);
    int64_t Shift() const { return shift_; }

private:
    bool SignatureAt(BlockReader& reader, int64_t position, bool* readError);

    int64_t shift_;
    uint64_t dataLimit_;
    std::vector<uint8_t> extra_;  // the local extra field of the entry being located
    bool first_ = true;
    bool haveRemembered_ = false;
    int64_t remembered_ = 0;
};

// --- updating ------------------------------------------------------------------------

struct UpdateEntry {
    CentralHeader central;    // as stored, except localOffset: corrected (absolute)
    LocalHeader local;
    std::string name;
    std::string centralExtra;
    std::string localExtra;   // empty and localExtraIsCentral set when identical to the central one
    bool localExtraIsCentral = false;
    std::string comment;
    bool descriptor = false;  // a data descriptor with its signature follows the data
    DataDescriptor descriptorFields;
    bool dosFlag = false;
    uint64_t copyLength = 0;  // local header + name + extra + data (+ descriptor)
};

struct UpdateScan {
    uint64_t endPosition = 0;
    EndRecord end;
    std::string comment;
    int64_t shift = 0;
    uint64_t centralStart = 0;  // real position of the central directory
    uint64_t prefixLength = 0;  // bytes in front of the first local header
    std::vector<UpdateEntry> entries;
};

// The scan of an existing archive before it is rewritten. Any damage refuses
// the update (false, with reports): a directory that does not hold exactly the
// claimed entries, a zero-length name, a negative shift, a local header that
// is missing or names another file, entries reaching past the directory or
// overlapping, ZIP64 records.
bool ScanForUpdate(RandomAccessInput& input, UpdateScan* scan, Reports* reports);

// Appends an entry's central record (header with `localOffset`, name, extra,
// comment) to `out`.
void AppendCentralRecord(const CentralHeader& header, const std::string& name, const std::string& extra,
                         const std::string& comment, uint32_t localOffset, std::string* out);

}  // namespace tessera::zip
