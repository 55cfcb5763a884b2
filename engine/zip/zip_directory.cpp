// End-record searches, the reading opening steps and central directory walk,
// and the scan of an archive that is about to be rewritten.
#include "zip/zip_directory.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace tessera::zip {
namespace {

bool IsEndSignatureAt(const uint8_t* p) { return p[0] == 'P' && p[1] == 'K' && p[2] == 5 && p[3] == 6; }

// Scans data[from] down to data[0] for the end signature; data[from + 3] must
// be readable. Only a signature with a whole record behind it in the file counts.
bool ScanBackwards(const uint8_t* data, int64_t from, uint64_t blockStart, uint64_t fileSize, uint64_t* position) {
    for (int64_t i = from; i >= 0; --i) {
        if (IsEndSignatureAt(data + i) && blockStart + static_cast<uint64_t>(i) + kEndRecordSize <= fileSize) {
            *position = blockStart + static_cast<uint64_t>(i);
            return true;
        }
    }
    return false;
}

// Reads exactly `size` bytes at `position` through the run's reader.
ReadStatus ReadExact(BlockReader& reader, int64_t position, void* out, size_t size) {
    ReadStatus status = reader.Seek(position);
    if (status != ReadStatus::Ok) return status;
    return reader.Read(out, size);
}

// Reports a search that found no end record; true when it found one. A silent
// miss (the format check) still fails the run.
bool EndRecordFound(SearchResult result, bool silent, Reports* reports) {
    switch (result) {
    case SearchResult::ReadError:
        reports->Add(Message::ReadError, kLevelReadError);
        return false;
    case SearchResult::NotFound:
        if (silent) reports->Raise(kLevelEntryError);
        else reports->Add(Message::NotAnArchive, kLevelEntryError);
        return false;
    case SearchResult::Found:
        break;
    }
    return true;
}

// Bytes a local entry occupies at least, known from its central header alone.
uint64_t MinimalExtent(const DirectoryEntry& e) {
    return kLocalHeaderSize + static_cast<uint64_t>(e.header.nameLength) + e.compressedSize;
}

// Full-width values beyond this cannot describe bytes of a real file; they
// are refused before any sum of them could wrap.
constexpr uint64_t kWideLimit = uint64_t{1} << 62;

void MarkDamagedEntries(const DirectoryLocation& location, DirectoryWalk* walk, Reports* reports) {
    std::vector<DirectoryEntry>& entries = walk->entries;
    const uint64_t dataLimit = location.centralStart;
    auto fits = [&](int64_t position, const DirectoryEntry& e) {
        return position >= 0 && static_cast<uint64_t>(position) + MinimalExtent(e) <= dataLimit;
    };
    std::vector<Extent> extents;  // of the entries in `placed`
    std::vector<size_t> placed;
    for (size_t i = 0; i < entries.size(); ++i) {
        DirectoryEntry& e = entries[i];
        if (e.damaged) continue;  // a ZIP64 value is missing
        // Extraction also looks for a header without the shift (offsets
        // written absolute behind a prefix), so either place will do.
        int64_t start = e.localPosition;
        if (!fits(start, e) && location.shift > 0) start = static_cast<int64_t>(e.localOffset);
        if (!fits(start, e) || ((e.header.flags & kFlagEncrypted) && e.compressedSize < kEncryptionHeaderSize)) {
            e.damaged = true;
            continue;
        }
        extents.push_back({static_cast<uint64_t>(start), MinimalExtent(e)});
        placed.push_back(i);
    }
    const std::vector<bool> overlapping = OverlappingExtents(extents);
    for (size_t k = 0; k < placed.size(); ++k)
        if (overlapping[k]) entries[placed[k]].damaged = true;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].damaged) reports->Add(Message::EntryDamaged, kLevelDamaged, i + 1);
}

}  // namespace

// --- entry extents -----------------------------------------------------------------

std::vector<bool> OverlappingExtents(const std::vector<Extent>& extents) {
    std::vector<size_t> order(extents.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return extents[a].start != extents[b].start ? extents[a].start < extents[b].start : a < b;
    });
    // In file order, an extent overlaps an earlier one exactly when it starts
    // before the furthest end seen so far; the owner of that end overlaps it.
    std::vector<bool> overlapping(extents.size(), false);
    uint64_t furthestEnd = 0;
    size_t furthestOwner = SIZE_MAX;
    for (const size_t index : order) {
        const Extent& x = extents[index];
        if (furthestOwner != SIZE_MAX && x.start < furthestEnd) {
            overlapping[index] = true;
            overlapping[furthestOwner] = true;
        }
        if (furthestOwner == SIZE_MAX || x.start + x.length > furthestEnd) {
            furthestEnd = x.start + x.length;
            furthestOwner = index;
        }
    }
    return overlapping;
}

// --- end record searches ---------------------------------------------------------

SearchResult FindEndRecordForReading(BlockReader& reader, uint64_t* position) {
    constexpr uint64_t kBlock = BlockReader::kBlockSize;
    const uint64_t size = reader.FileSize();
    const uint8_t* data = reader.Data();
    size_t got = 0;
    if (size < kEndRecordSize) return SearchResult::NotFound;
    if (size <= kBlock) {
        ReadStatus status = reader.LoadBlock(0, static_cast<size_t>(size), false, &got);
        if (status == ReadStatus::ReadError) return SearchResult::ReadError;
        if (status != ReadStatus::Ok) return SearchResult::NotFound;
        return ScanBackwards(data, static_cast<int64_t>(size - kEndRecordSize), 0, size, position)
                   ? SearchResult::Found
                   : SearchResult::NotFound;
    }
    const uint64_t searchLength = std::min<uint64_t>(size, 2 * kBlock);
    const uint64_t tail = size % kBlock;
    uint64_t blockStart = size - tail;  // aligned
    bool loaded = false;
    if (tail > 18) {
        ReadStatus status = reader.LoadBlock(blockStart, static_cast<size_t>(tail), false, &got);
        if (status == ReadStatus::ReadError) return SearchResult::ReadError;
        if (status != ReadStatus::Ok) return SearchResult::NotFound;
        if (ScanBackwards(data, static_cast<int64_t>(tail) - static_cast<int64_t>(kEndRecordSize), blockStart, size,
                          position))
            return SearchResult::Found;
        loaded = true;
    }
    // Whole blocks further back; the first bytes of the block read before stay
    // behind the buffer so a signature straddling the two is found.
    const uint64_t blocks = (searchLength - tail + kBlock - 1) / kBlock;
    for (uint64_t b = 0; b < blocks && blockStart >= kBlock; ++b) {
        blockStart -= kBlock;
        ReadStatus status = reader.LoadBlock(blockStart, kBlock, loaded, &got);
        if (status == ReadStatus::ReadError) return SearchResult::ReadError;
        if (status != ReadStatus::Ok) return SearchResult::NotFound;  // a short read ends the search
        loaded = true;
        if (ScanBackwards(data, static_cast<int64_t>(kBlock) - 1, blockStart, size, position))
            return SearchResult::Found;
    }
    return SearchResult::NotFound;
}

SearchResult FindEndRecordForUpdating(RandomAccessInput& input, uint64_t* position) {
    constexpr size_t kBlock = 4096;
    const uint64_t size = input.Size();
    if (size < kEndRecordSize) return SearchResult::NotFound;
    uint8_t buffer[kBlock + 3] = {};  // 3 bytes behind: the start of the later block
    uint64_t blockEnd = size;
    while (blockEnd > 0) {
        size_t length = blockEnd >= kBlock ? kBlock : static_cast<size_t>(blockEnd);
        uint64_t blockStart = blockEnd - length;
        std::memmove(buffer + length, buffer, 3);  // behind bytes (zeros for the last block)
        if (blockEnd == size) std::memset(buffer + length, 0, 3);
        size_t got = 0;
        if (!input.ReadAt(blockStart, buffer, length, &got)) return SearchResult::ReadError;
        if (got != length) return SearchResult::NotFound;
        if (ScanBackwards(buffer, static_cast<int64_t>(length) - 1, blockStart, size, position))
            return SearchResult::Found;
        blockEnd = blockStart;
    }
    return SearchResult::NotFound;
}

bool InsideEarlierComment(RandomAccessInput& input, uint64_t position, bool* readError) {
    constexpr size_t kBlock = 4096;
    const uint64_t size = input.Size();
    const uint64_t lowest = position > 0xFFFF + kEndRecordSize ? position - 0xFFFF - kEndRecordSize : 0;
    uint8_t buffer[kBlock + kEndRecordSize] = {};
    // Candidates q with q + 22 <= position, scanned in blocks; each block is
    // read with the 21 bytes behind it so a whole record can be parsed.
    uint64_t blockEnd = position >= kEndRecordSize ? position - kEndRecordSize + 1 : 0;
    while (blockEnd > lowest) {
        uint64_t blockStart = blockEnd - lowest > kBlock ? blockEnd - kBlock : lowest;
        size_t length = static_cast<size_t>(blockEnd - blockStart);
        size_t got = 0;
        if (!input.ReadAt(blockStart, buffer, length + kEndRecordSize - 1, &got)) {
            *readError = true;
            return false;
        }
        if (got != length + kEndRecordSize - 1) return false;
        for (size_t i = length; i-- > 0;) {
            if (!IsEndSignatureAt(buffer + i)) continue;
            uint64_t q = blockStart + i;
            if (q + kEndRecordSize + GetU16(buffer + i + 20) == size) return true;
        }
        blockEnd = blockStart;
    }
    return false;
}

// --- reading -----------------------------------------------------------------------

namespace {

// The end record found at `position`, unless it hides in an earlier one's
// comment; read into the location.
bool ReadEndRecordAt(BlockReader& reader, uint64_t position, DirectoryLocation* location, Reports* reports) {
    location->endFound = true;
    location->endPosition = position;
    bool hiddenReadError = false;
    if (InsideEarlierComment(reader.Input(), position, &hiddenReadError) || hiddenReadError) {
        reports->Add(hiddenReadError ? Message::ReadError : Message::ArchiveDamaged,
                     hiddenReadError ? kLevelReadError : kLevelDamaged);
        return false;
    }
    uint8_t record[kEndRecordSize];
    if (ReadExact(reader, static_cast<int64_t>(position), record, sizeof record) == ReadStatus::ReadError) {
        reports->Add(Message::ReadError, kLevelReadError);
        return false;
    }
    ParseEndRecord(record, &location->end);  // the search saw the signature and 22 bytes
    return true;
}

// The ZIP64 end record that the locator in front of the end record points
// to: just in front of the locator (a record without extensible data, also
// behind a prefix), else at its stored offset. Its counts, size and offset
// replace the end record's.
bool ReadZip64EndRecord(BlockReader& reader, uint64_t locatorAt, DirectoryLocation* location, bool* readError) {
    uint8_t bytes[kZip64EndRecordSize];
    if (ReadExact(reader, static_cast<int64_t>(locatorAt), bytes, kZip64LocatorSize) != ReadStatus::Ok) {
        *readError = reader.LastStatus() == ReadStatus::ReadError;
        return false;
    }
    Zip64Locator locator;
    ParseZip64Locator(bytes, &locator);
    const uint64_t candidates[] = {locatorAt >= kZip64EndRecordSize ? locatorAt - kZip64EndRecordSize : UINT64_MAX,
                                   locator.endOffset};
    for (const uint64_t at : candidates) {
        if (at >= locatorAt || locatorAt - at < kZip64EndRecordSize) continue;
        const ReadStatus status = ReadExact(reader, static_cast<int64_t>(at), bytes, sizeof bytes);
        if (status == ReadStatus::ReadError) {
            *readError = true;
            return false;
        }
        Zip64EndRecord record;
        if (status != ReadStatus::Ok || !ParseZip64EndRecord(bytes, &record)) continue;
        // The record (with its extensible data) must end by the locator.
        if (record.recordSize < kZip64EndRecordSize - 12 || record.recordSize > locatorAt - at - 12) continue;
        if (record.centralSize >= kWideLimit || record.centralOffset >= kWideLimit) continue;
        location->zip64 = true;
        location->totalEntries = record.totalEntries;
        location->centralSize = record.centralSize;
        location->centralOffset = record.centralOffset;
        location->directoryEnd = at;
        location->zip64ThisDisk = record.thisDisk;
        location->zip64CentralDisk = record.centralDisk;
        return true;
    }
    return false;
}

// ZIP64 records (the ZIP64 end record replaces the end record's values; a
// locator whose record cannot be found is damage when the end record holds
// sentinels, and ignored otherwise) and the disk fields (a later disk than
// the directory's is refused).
bool CheckEndRecord(BlockReader& reader, DirectoryLocation* location, Reports* reports) {
    const EndRecord& end = location->end;
    location->totalEntries = end.totalEntries;
    location->centralSize = end.centralSize;
    location->centralOffset = end.centralOffset;
    location->directoryEnd = location->endPosition;
    uint32_t thisDisk = end.thisDisk, centralDisk = end.centralDisk;
    if (location->endPosition >= kZip64LocatorSize) {
        uint8_t sig[4];
        const int64_t locatorAt = static_cast<int64_t>(location->endPosition - kZip64LocatorSize);
        if (ReadExact(reader, locatorAt, sig, 4) == ReadStatus::Ok && GetU32(sig) == kZip64LocatorSignature)
            location->zip64Locator = true;
    }
    const bool sentinels = end.thisDisk == kSentinel16 || end.centralDisk == kSentinel16 ||
                           end.entriesOnDisk == kSentinel16 || end.totalEntries == kSentinel16 ||
                           end.centralSize == kSentinel32 || end.centralOffset == kSentinel32;
    if (location->zip64Locator) {
        bool readError = false;
        if (ReadZip64EndRecord(reader, location->endPosition - kZip64LocatorSize, location, &readError)) {
            thisDisk = location->zip64ThisDisk;
            centralDisk = location->zip64CentralDisk;
        } else if (readError) {
            reports->Add(Message::ReadError, kLevelReadError);
            return false;
        } else if (sentinels) {
            reports->Add(Message::ArchiveDamaged, kLevelDamaged);
            return false;
        }
    }
    if (thisDisk != centralDisk) {
        if (centralDisk < thisDisk) {
            reports->Add(Message::MultiPartWrongDisk, kLevelNothingFound, thisDisk);
            return false;
        }
        reports->Raise(kLevelWarning);
    }
    return true;
}

// The shift: where the end record is against where the directory says it
// is. Returns the directory offset to look at (corrected when the stored one
// is 0 behind a prefix).
int64_t ComputeShift(DirectoryLocation* location, Reports* reports) {
    // Both values are below 2^62 (32-bit fields, or checked ZIP64 ones).
    int64_t centralOffset = static_cast<int64_t>(location->centralOffset);
    const int64_t centralSize = static_cast<int64_t>(location->centralSize);
    int64_t shift = static_cast<int64_t>(location->directoryEnd) - (centralOffset + centralSize);
    if (shift < 0) {
        reports->Add(Message::MissingBytes, kLevelEntryError, static_cast<uint64_t>(-shift));
        location->recovered = true;
    } else if (shift > 0 && centralOffset == 0 && centralSize != 0) {
        centralOffset = shift;  // offsets of the entries are taken as stored
        shift = 0;
        // The directory's offset is wrong, though the directory is found.
        reports->Add(Message::ArchiveDamaged, kLevelEntryError);
        location->recovered = true;
    } else if (shift > 0) {
        reports->Raise(kLevelWarning);  // a self-extracting prefix
    }
    location->shift = shift;
    return centralOffset;
}

// The archive comment as far as the file holds it.
bool ReadArchiveComment(BlockReader& reader, DirectoryLocation* location, Reports* reports) {
    const uint16_t length = location->end.commentLength;
    std::string& comment = location->comment;
    comment.resize(length);
    size_t got = 0;
    if (length) {
        if (reader.Seek(static_cast<int64_t>(location->endPosition + kEndRecordSize)) == ReadStatus::Ok)
            got = reader.ReadSome(&comment[0], comment.size());
        if (reader.LastStatus() == ReadStatus::ReadError) {
            reports->Add(Message::ReadError, kLevelReadError);
            return false;
        }
    }
    comment.resize(got);
    if (got < length) reports->Add(Message::CommentTruncated, kLevelWarning, length - got);
    return true;
}

// The first central header: at the offset with the shift, else without it;
// the reader is left standing there. An archive without a directory is empty.
bool FindCentralDirectory(BlockReader& reader, int64_t centralOffset, DirectoryLocation* location,
                          Reports* reports) {
    // An end record that claims no entries and an empty directory at its own
    // position is empty too, wherever its offset points.
    if (location->centralSize == 0 && (location->centralOffset == 0 || location->totalEntries == 0)) {
        location->empty = true;
        reports->Add(Message::ArchiveEmpty, kLevelWarning);
        return true;
    }
    auto centralAt = [&](int64_t position, bool* readError) {
        if (position < 0) return false;
        uint8_t sig[4];
        ReadStatus s = ReadExact(reader, position, sig, 4);
        if (s == ReadStatus::ReadError) *readError = true;
        return s == ReadStatus::Ok && GetU32(sig) == kCentralSignature;
    };
    const int64_t shift = location->shift;
    bool readError = false;
    if (centralAt(centralOffset + shift, &readError)) {
        location->centralStart = static_cast<uint64_t>(centralOffset + shift);
    } else if (!readError && shift != 0 && centralAt(centralOffset, &readError)) {
        location->centralStart = static_cast<uint64_t>(centralOffset);
        location->shift = 0;
        reports->Raise(kLevelWarning);
    } else if (readError) {
        reports->Add(Message::ReadError, kLevelReadError);
        return false;
    } else {
        reports->Add(Message::ArchiveDamaged, kLevelDamaged);
        return false;
    }
    reader.Seek(static_cast<int64_t>(location->centralStart));
    return true;
}

}  // namespace

bool OpenDirectory(BlockReader& reader, ReadMode mode, DirectoryLocation* location, Reports* reports) {
    uint64_t endPosition = 0;
    // The format check stays silent but must still fail: a program file
    // without ZIP data is not a self-extracting ZIP.
    if (!EndRecordFound(FindEndRecordForReading(reader, &endPosition), mode == ReadMode::Check, reports) ||
        !ReadEndRecordAt(reader, endPosition, location, reports) || !CheckEndRecord(reader, location, reports))
        return false;
    const int64_t centralOffset = ComputeShift(location, reports);
    if (mode == ReadMode::Comment) return ReadArchiveComment(reader, location, reports);
    return FindCentralDirectory(reader, centralOffset, location, reports);
}

namespace {

// Reads the claimed central headers; stops at the first one that is missing
// or damaged (reported).
void ReadCentralHeaders(BlockReader& reader, const DirectoryLocation& location, DirectoryWalk* walk,
                        Reports* reports) {
    walk->entries.clear();
    walk->complete = false;
    walk->endSignatureFollows = false;
    if (location.empty) {
        walk->complete = true;
        return;
    }
    if (reader.Seek(static_cast<int64_t>(location.centralStart)) != ReadStatus::Ok) {
        reports->Add(Message::ReadError, kLevelReadError);
        return;
    }
    std::vector<uint8_t> extra;
    for (uint64_t i = 0; i < location.totalEntries; ++i) {
        const uint64_t number = i + 1;
        const uint64_t headerAt = reader.Position();
        uint8_t bytes[kCentralHeaderSize];
        DirectoryEntry e;
        ReadStatus status = reader.Read(bytes, sizeof bytes);
        if (status == ReadStatus::ReadError) {
            reports->Add(Message::ReadError, kLevelReadError);
            return;
        }
        if (status != ReadStatus::Ok || !ParseCentralHeader(bytes, &e.header)) {
            reports->Add(Message::EntryNotFound, kLevelDamaged, number);
            return;
        }
        const CentralHeader& h = e.header;
        // A header must end before the end record: the walk never runs into
        // the end record or past the file however many entries are claimed.
        if (headerAt + CentralRecordSize(h) > location.directoryEnd) {
            reports->Add(Message::EntryDamaged, kLevelDamaged, number);
            return;
        }
        e.name.resize(h.nameLength);
        extra.resize(h.extraLength);
        e.comment.resize(h.commentLength);
        e.hasComment = h.commentLength != 0;
        if ((h.nameLength && reader.Read(&e.name[0], h.nameLength) != ReadStatus::Ok) ||
            (h.extraLength && reader.Read(extra.data(), h.extraLength) != ReadStatus::Ok) ||
            (h.commentLength && reader.Read(&e.comment[0], h.commentLength) != ReadStatus::Ok)) {
            if (reader.LastStatus() == ReadStatus::ReadError) reports->Add(Message::ReadError, kLevelReadError);
            else reports->Add(Message::EntryDamaged, kLevelDamaged, number);
            return;
        }
        WideFields wide;
        // A sentinel without its value, or values no file can hold: damaged.
        e.damaged = !WideCentralFields(h, extra.data(), extra.size(), &wide) || wide.compressedSize >= kWideLimit ||
                    wide.uncompressedSize >= kWideLimit || wide.localOffset >= kWideLimit;
        e.compressedSize = e.damaged ? 0 : wide.compressedSize;
        e.uncompressedSize = e.damaged ? 0 : wide.uncompressedSize;
        e.localOffset = e.damaged ? 0 : wide.localOffset;
        e.localPosition = static_cast<int64_t>(e.localOffset) + location.shift;
        e.unicodeName = UnicodePathName(extra.data(), extra.size(), e.name);
        e.strongEncryption = UsesStrongEncryption(h.flags, h.method);
        walk->entries.push_back(std::move(e));
    }
    walk->complete = true;
    uint8_t sig[4];
    // A ZIP64 end record follows a directory that one describes.
    walk->endSignatureFollows = reader.Read(sig, 4) == ReadStatus::Ok &&
                                GetU32(sig) == (location.zip64 ? kZip64EndSignature : kEndSignature);
}

}  // namespace

void WalkCentralDirectory(BlockReader& reader, const DirectoryLocation& location, DirectoryWalk* walk,
                          Reports* reports) {
    ReadCentralHeaders(reader, location, walk, reports);
    // Also the entries read before a damaged header are checked.
    MarkDamagedEntries(location, walk, reports);
}

ListFields ListFieldsOf(const DirectoryEntry& entry) {
    const CentralHeader& h = entry.header;
    ListFields f;
    f.encrypted = (h.flags & kFlagEncrypted) != 0;
    // The listing's fields are 32 bits wide: a larger size shows as unknown.
    auto narrow = [](uint64_t v) { return v >= kSentinel32 ? kSentinel32 : static_cast<uint32_t>(v); };
    uint64_t packed = entry.compressedSize;
    if (f.encrypted) packed = packed >= kEncryptionHeaderSize ? packed - kEncryptionHeaderSize : 0;
    f.packedSize = entry.compressedSize >= kSentinel32 ? kSentinel32 : narrow(packed);
    f.size = narrow(entry.uncompressedSize);
    f.ratioUnknown = entry.compressedSize >= kSentinel32 || entry.uncompressedSize >= kSentinel32;
    f.dosDate = h.date;
    f.dosTime = h.time;
    f.host = h.versionMadeBy >> 8;
    f.version = h.versionMadeBy & 0xFF;
    f.methodWord = MethodWord(h.method, h.flags);
    f.attributes = h.externalAttributes;
    f.folder = (h.externalAttributes & kAttributeFolder) != 0;
    return f;
}

ListTotals TotalsOf(const std::vector<DirectoryEntry>& entries) {
    ListTotals t;
    for (const DirectoryEntry& e : entries) {
        ++t.entries;
        if (e.header.externalAttributes & kAttributeFolder) ++t.folders;
        t.size += e.uncompressedSize;
        if (t.packedSize == kSentinel32 || e.compressedSize >= kSentinel32) {
            t.packedSize = kSentinel32;
        } else {
            uint64_t sum = static_cast<uint64_t>(t.packedSize) + e.compressedSize;
            t.packedSize = sum >= kSentinel32 ? kSentinel32 : static_cast<uint32_t>(sum);
        }
    }
    return t;
}

// --- local headers when extracting ----------------------------------------------

bool LocalHeaderLocator::SignatureAt(BlockReader& reader, int64_t position, bool* readError) {
    if (position < 0) return false;
    uint8_t sig[4];
    ReadStatus status = ReadExact(reader, position, sig, 4);
    if (status == ReadStatus::ReadError) *readError = true;
    return status == ReadStatus::Ok && GetU32(sig) == kLocalSignature;
}

LocalResult LocalHeaderLocator::Locate(BlockReader& reader, const DirectoryEntry& entry, LocalEntry* out) {
    constexpr size_t kNameLimit = 259;
    const int64_t stored = static_cast<int64_t>(entry.localOffset);  // below 2^62
    bool readError = false;
    bool found = SignatureAt(reader, stored + shift_, &readError);
    if (!found && !readError) {
        if (first_ && shift_ != 0) {
            remembered_ = shift_;
            haveRemembered_ = true;
            shift_ = 0;
            found = SignatureAt(reader, stored, &readError);
        } else if (!first_ && shift_ == 0 && haveRemembered_) {
            shift_ = remembered_;
            found = SignatureAt(reader, stored + shift_, &readError);
        }
    }
    first_ = false;
    if (readError) return LocalResult::ReadError;
    if (!found) return LocalResult::NotFound;

    const int64_t position = stored + shift_;
    uint8_t bytes[kLocalHeaderSize];
    ReadStatus status = ReadExact(reader, position, bytes, sizeof bytes);
    if (status == ReadStatus::ReadError) return LocalResult::ReadError;
    if (status != ReadStatus::Ok) return LocalResult::Damaged;
    LocalHeader& h = out->header;
    ParseLocalHeader(bytes, &h);
    const size_t kept = h.nameLength < kNameLimit ? h.nameLength : kNameLimit;
    out->name.resize(kept);
    extra_.resize(h.extraLength);
    if ((kept && reader.Read(&out->name[0], kept) != ReadStatus::Ok) ||
        reader.Skip(static_cast<uint64_t>(h.nameLength - kept)) != ReadStatus::Ok ||
        (h.extraLength && reader.Read(extra_.data(), extra_.size()) != ReadStatus::Ok))
        return reader.LastStatus() == ReadStatus::ReadError ? LocalResult::ReadError : LocalResult::Damaged;
    out->dataStart = reader.Position();

    const bool deferred = (h.flags & kFlagDescriptor) != 0;
    WideFields wide;
    // With bit 3 the sizes may be left 0 (or sentinels without values): the
    // directory's count then.
    if (!WideLocalFields(h, extra_.data(), extra_.size(), &wide) && !deferred) return LocalResult::Damaged;
    out->crc = deferred ? entry.header.crc : h.crc;
    out->compressedSize = deferred ? entry.compressedSize : wide.compressedSize;
    out->uncompressedSize = deferred ? entry.uncompressedSize : wide.uncompressedSize;
    // The data the decoder will be handed must be the data the directory
    // describes, and must end before the directory.
    if (out->compressedSize != entry.compressedSize || out->compressedSize > dataLimit_ ||
        out->dataStart + out->compressedSize > dataLimit_)
        return LocalResult::Damaged;
    return LocalResult::Ok;
}

// --- updating ------------------------------------------------------------------------

namespace {

// The scan of an archive about to be rewritten, phase by phase; every phase
// returns false once the scan is refused (reported).
class UpdateScanner {
public:
    UpdateScanner(RandomAccessInput& input, UpdateScan* scan, Reports* reports)
        : input_(input), scan_(*scan), reports_(*reports) {}

    bool Run() {
        return ReadEndRecord() && PlaceDirectory() && ReadDirectory() && ReadLocalRecords() && CheckLayout();
    }

private:
    bool ReadEndRecord();
    bool PlaceDirectory();
    bool ReadDirectory();
    bool ReadLocalRecords();
    bool ReadLocalRecord(UpdateEntry& e);
    bool CheckLayout();

    // Exactly `size` bytes at `position`; a failed read is noted for Refused().
    bool ReadAt(uint64_t position, void* out, size_t size) {
        size_t got = 0;
        if (!input_.ReadAt(position, out, size, &got)) {
            readError_ = true;
            return false;
        }
        return got == size;
    }
    bool Damaged() {
        reports_.Add(Message::ArchiveDamaged, kLevelDamaged);
        return false;
    }
    // A read that did not give its bytes: a read error, else damage.
    bool Refused() {
        if (!readError_) return Damaged();
        reports_.Add(Message::ReadError, kLevelReadError);
        return false;
    }

    RandomAccessInput& input_;
    UpdateScan& scan_;
    Reports& reports_;
    bool readError_ = false;
};

// The end record (searched over the whole file) and the archive comment.
bool UpdateScanner::ReadEndRecord() {
    uint64_t endPosition = 0;
    if (!EndRecordFound(FindEndRecordForUpdating(input_, &endPosition), false, &reports_)) return false;
    scan_.endPosition = endPosition;
    if (InsideEarlierComment(input_, endPosition, &readError_) || readError_) return Refused();
    uint8_t record[kEndRecordSize];
    if (!ReadAt(endPosition, record, sizeof record)) return Refused();
    EndRecord& end = scan_.end;
    ParseEndRecord(record, &end);
    scan_.comment.resize(end.commentLength);
    if (end.commentLength && !ReadAt(endPosition + kEndRecordSize, &scan_.comment[0], end.commentLength))
        return Refused();
    return true;
}

// Disk fields (warned about only), ZIP64 (refused), the directory's position
// and the shift.
bool UpdateScanner::PlaceDirectory() {
    const EndRecord& end = scan_.end;
    const uint64_t endPosition = scan_.endPosition;
    if (end.thisDisk != 0 || end.centralDisk != 0 || end.entriesOnDisk != end.totalEntries)
        reports_.Add(Message::MultiPartIgnored, kLevelWarning);
    if (endPosition >= kZip64LocatorSize) {
        uint8_t sig[4];
        if (ReadAt(endPosition - kZip64LocatorSize, sig, 4) && GetU32(sig) == kZip64LocatorSignature) {
            reports_.Add(Message::Zip64NotSupported, kLevelDamaged);
            return false;
        }
        if (readError_) return Refused();
    }
    // The directory ends at the end record; the shift is how far it lies
    // behind the stored offset. A negative shift means bytes are missing.
    if (end.centralSize > endPosition) return Damaged();
    scan_.centralStart = endPosition - end.centralSize;
    scan_.shift = static_cast<int64_t>(scan_.centralStart) - static_cast<int64_t>(end.centralOffset);
    return scan_.shift >= 0 || Damaged();
}

// The directory, held in memory: exactly the claimed entries must fill exactly
// the directory, or a rewrite would lose or invent entries.
bool UpdateScanner::ReadDirectory() {
    const size_t directorySize = scan_.end.centralSize;
    std::unique_ptr<uint8_t[]> directory(new (std::nothrow) uint8_t[directorySize ? directorySize : 1]);
    if (!directory) {
        reports_.Add(Message::OutOfMemory, kLevelNoMemory);
        return false;
    }
    if (directorySize && !ReadAt(scan_.centralStart, directory.get(), directorySize)) return Refused();
    std::vector<UpdateEntry>& entries = scan_.entries;
    entries.clear();
    size_t pos = 0;
    for (uint32_t i = 0; i < scan_.end.totalEntries; ++i) {
        if (directorySize - pos < kCentralHeaderSize) return Damaged();
        UpdateEntry e;
        CentralHeader& h = e.central;
        if (!ParseCentralHeader(directory.get() + pos, &h)) return Damaged();
        if (directorySize - pos < CentralRecordSize(h) || h.nameLength == 0) return Damaged();
        const char* p = reinterpret_cast<const char*>(directory.get() + pos + kCentralHeaderSize);
        e.name.assign(p, h.nameLength);
        e.centralExtra.assign(p + h.nameLength, h.extraLength);
        e.comment.assign(p + h.nameLength + h.extraLength, h.commentLength);
        if (CentralNeedsZip64(h, reinterpret_cast<const uint8_t*>(e.centralExtra.data()), e.centralExtra.size())) {
            reports_.Add(Message::Zip64NotSupported, kLevelDamaged);
            return false;
        }
        // A stored size of 0 cannot hold data that unpacks to something.
        if (h.compressedSize == 0 && h.uncompressedSize != 0) return Damaged();
        e.dosFlag = HasDosFlag(h.versionMadeBy);
        uint64_t offset = static_cast<uint64_t>(h.localOffset) + static_cast<uint64_t>(scan_.shift);
        if (offset >= scan_.centralStart) return Damaged();
        h.localOffset = static_cast<uint32_t>(offset);
        pos += CentralRecordSize(h);
        entries.push_back(std::move(e));
    }
    return pos == directorySize || Damaged();
}

bool UpdateScanner::ReadLocalRecords() {
    for (UpdateEntry& e : scan_.entries)
        if (!ReadLocalRecord(e)) return false;
    return true;
}

// One entry's local header (same name as the central one), its extra field
// and descriptor, and the length of the byte range a copy takes; everything
// inside the data area.
bool UpdateScanner::ReadLocalRecord(UpdateEntry& e) {
    const uint64_t dataArea = scan_.centralStart;
    const uint64_t offset = e.central.localOffset;
    uint8_t bytes[kLocalHeaderSize];
    if (offset + kLocalHeaderSize > dataArea) return Damaged();
    if (!ReadAt(offset, bytes, sizeof bytes)) return Refused();
    if (!ParseLocalHeader(bytes, &e.local) || e.local.nameLength != e.central.nameLength) return Damaged();
    const uint64_t dataStart = offset + kLocalHeaderSize + e.local.nameLength + e.local.extraLength;
    if (dataStart > dataArea) return Damaged();
    std::string name(e.local.nameLength, '\0');
    if (!ReadAt(offset + kLocalHeaderSize, &name[0], name.size())) return Refused();
    if (name != e.name) return Damaged();
    e.localExtra.resize(e.local.extraLength);
    if (e.local.extraLength &&
        !ReadAt(offset + kLocalHeaderSize + e.local.nameLength, &e.localExtra[0], e.local.extraLength))
        return Refused();
    if (e.localExtra == e.centralExtra && !e.localExtra.empty()) {
        e.localExtra.clear();
        e.localExtraIsCentral = true;
    }
    const uint64_t dataEnd = dataStart + e.central.compressedSize;
    if (dataEnd > dataArea) return Damaged();
    uint64_t descriptorLength = 0;
    if (e.local.flags & kFlagDescriptor) {
        const uint32_t compressed = e.local.compressedSize ? e.local.compressedSize : e.central.compressedSize;
        const uint64_t at = dataStart + compressed;
        uint8_t d[kDescriptorSize];
        if (at + kDescriptorSize <= dataArea && ReadAt(at, d, sizeof d) && ParseDataDescriptor(d, &e.descriptorFields)) {
            e.descriptor = true;
            // The descriptor must describe the data the copy will take.
            if (e.descriptorFields.compressedSize != e.central.compressedSize) return Damaged();
        }
        if (readError_) return Refused();
        // A descriptor without its signature is 12 bytes long.
        descriptorLength = e.descriptor ? kDescriptorSize : kDescriptorSize - 4;
    }
    e.copyLength = dataEnd + descriptorLength - offset;
    return offset + e.copyLength <= dataArea || Damaged();
}

// Entries must not share bytes; the prefix is what lies before the first one.
bool UpdateScanner::CheckLayout() {
    const std::vector<UpdateEntry>& entries = scan_.entries;
    std::vector<Extent> extents;
    extents.reserve(entries.size());
    for (const UpdateEntry& e : entries) extents.push_back({e.central.localOffset, e.copyLength});
    const std::vector<bool> overlapping = OverlappingExtents(extents);
    if (std::find(overlapping.begin(), overlapping.end(), true) != overlapping.end()) return Damaged();

    std::vector<const UpdateEntry*> order;
    for (const UpdateEntry& e : entries) order.push_back(&e);
    std::sort(order.begin(), order.end(), [](const UpdateEntry* a, const UpdateEntry* b) {
        return a->central.localOffset < b->central.localOffset;
    });
    for (size_t i = 0; i < order.size(); ++i) {
        // Bit 3 with a compressed size of 0: the data must really be empty,
        // or the copy would drop it. The next entry has to follow at once.
        const UpdateEntry& e = *order[i];
        const uint64_t end = e.central.localOffset + e.copyLength;
        const uint64_t next = i + 1 < order.size() ? order[i + 1]->central.localOffset : scan_.centralStart;
        if ((e.local.flags & kFlagDescriptor) && e.central.compressedSize == 0 && end != next) return Damaged();
    }
    scan_.prefixLength = order.empty() ? std::min<uint64_t>(scan_.centralStart, scan_.endPosition)
                                       : order.front()->central.localOffset;
    return true;
}

}  // namespace

bool ScanForUpdate(RandomAccessInput& input, UpdateScan* scan, Reports* reports) {
    return UpdateScanner(input, scan, reports).Run();
}

void AppendCentralRecord(const CentralHeader& header, const std::string& name, const std::string& extra,
                         const std::string& comment, uint32_t localOffset, std::string* out) {
    CentralHeader h = header;
    h.nameLength = static_cast<uint16_t>(name.size());
    h.extraLength = static_cast<uint16_t>(extra.size());
    h.commentLength = static_cast<uint16_t>(comment.size());
    h.localOffset = localOffset;
    uint8_t bytes[kCentralHeaderSize];
    SerializeCentralHeader(h, bytes);
    out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
    out->append(name);
    out->append(extra);
    out->append(comment);
}

}  // namespace tessera::zip
