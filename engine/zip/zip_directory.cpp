// End-record searches, the reading opening steps and central directory walk,
// and the scan of an archive that is about to be rewritten.
#include "zip/zip_directory.h"

#include <algorithm>
#include <cstring>
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

// Bytes a local entry occupies at least, known from its central header alone.
uint64_t MinimalExtent(const CentralHeader& h) {
    return kLocalHeaderSize + static_cast<uint64_t>(h.nameLength) + h.compressedSize;
}

void MarkDamagedEntries(const DirectoryLocation& location, DirectoryWalk* walk, Reports* reports) {
    std::vector<DirectoryEntry>& entries = walk->entries;
    const uint64_t dataLimit = location.centralStart;
    auto fits = [&](int64_t position, const CentralHeader& h) {
        return position >= 0 && static_cast<uint64_t>(position) + MinimalExtent(h) <= dataLimit;
    };
    std::vector<std::pair<uint64_t, size_t>> placed;  // (start, entry) for the overlap test
    for (size_t i = 0; i < entries.size(); ++i) {
        DirectoryEntry& e = entries[i];
        if (e.zip64) continue;  // sentinel values: the class refuses these entries anyway
        // Extraction also looks for a header without the shift (offsets
        // written absolute behind a prefix), so either place will do.
        int64_t start = e.localPosition;
        if (!fits(start, e.header) && location.shift > 0) start = static_cast<int64_t>(e.header.localOffset);
        if (!fits(start, e.header) ||
            ((e.header.flags & kFlagEncrypted) && e.header.compressedSize < kEncryptionHeaderSize)) {
            e.damaged = true;
            continue;
        }
        placed.emplace_back(static_cast<uint64_t>(start), i);
    }
    // Overlapping entries (several central headers sharing data, the usual
    // shape of a ZIP bomb) are all damaged: one pass over the entries in
    // file order, against the furthest end seen so far.
    std::sort(placed.begin(), placed.end());
    uint64_t furthestEnd = 0;
    size_t furthestOwner = SIZE_MAX;
    for (const auto& item : placed) {
        const size_t index = item.second;
        DirectoryEntry& e = entries[index];
        uint64_t start = item.first;
        uint64_t end = start + MinimalExtent(e.header);
        if (furthestOwner != SIZE_MAX && start < furthestEnd) {
            e.damaged = true;
            entries[furthestOwner].damaged = true;
        }
        if (end > furthestEnd || furthestOwner == SIZE_MAX) {
            furthestEnd = end;
            furthestOwner = index;
        }
    }
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].damaged) reports->Add(Message::EntryDamaged, kLevelDamaged, i + 1);
}

}  // namespace

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

SearchResult FindEndRecordForUpdating(ArchiveInput& input, uint64_t* position) {
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

bool InsideEarlierComment(ArchiveInput& input, uint64_t position, bool* readError) {
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

bool OpenDirectory(BlockReader& reader, ReadMode mode, DirectoryLocation* location, Reports* reports) {
    uint64_t endPosition = 0;
    switch (FindEndRecordForReading(reader, &endPosition)) {
    case SearchResult::ReadError:
        reports->Add(Message::ReadError, kLevelReadError);
        return false;
    case SearchResult::NotFound:
        // The format check stays silent but must still fail: a program file
        // without ZIP data is not a self-extracting ZIP.
        if (mode == ReadMode::Check) reports->Raise(kLevelEntryError);
        else reports->Add(Message::NotAnArchive, kLevelEntryError);
        return false;
    case SearchResult::Found:
        break;
    }
    location->endFound = true;
    location->endPosition = endPosition;
    bool hiddenReadError = false;
    if (InsideEarlierComment(reader.Input(), endPosition, &hiddenReadError) || hiddenReadError) {
        reports->Add(hiddenReadError ? Message::ReadError : Message::ArchiveDamaged,
                     hiddenReadError ? kLevelReadError : kLevelDamaged);
        return false;
    }
    const int64_t endAt = static_cast<int64_t>(endPosition);

    uint8_t record[kEndRecordSize];
    ReadStatus status = ReadExact(reader, endAt, record, sizeof record);
    if (status == ReadStatus::ReadError) {
        reports->Add(Message::ReadError, kLevelReadError);
        return false;
    }
    EndRecord& end = location->end;
    ParseEndRecord(record, &end);  // the search saw the signature and 22 bytes

    if (endPosition >= kZip64LocatorSize) {
        uint8_t sig[4];
        if (ReadExact(reader, endAt - static_cast<int64_t>(kZip64LocatorSize), sig, 4) == ReadStatus::Ok &&
            GetU32(sig) == kZip64LocatorSignature)
            location->zip64Locator = true;
    }
    const bool sentinels = end.thisDisk == kSentinel16 || end.centralDisk == kSentinel16 ||
                           end.entriesOnDisk == kSentinel16 || end.totalEntries == kSentinel16 ||
                           end.centralSize == kSentinel32 || end.centralOffset == kSentinel32;
    if (location->zip64Locator && sentinels) {
        reports->Add(Message::Zip64NotSupported, kLevelDamaged);
        return false;
    }

    if (end.thisDisk != end.centralDisk) {
        if (end.centralDisk < end.thisDisk) {
            reports->Add(Message::MultiPartWrongDisk, kLevelNothingFound, end.thisDisk);
            return false;
        }
        reports->Raise(kLevelWarning);
    }

    // Shift: where the end record is against where the directory says it is.
    int64_t centralOffset = end.centralOffset;
    int64_t shift = endAt - (centralOffset + static_cast<int64_t>(end.centralSize));
    if (shift < 0) {
        reports->Add(Message::MissingBytes, kLevelEntryError, static_cast<uint64_t>(-shift));
    } else if (shift > 0 && centralOffset == 0 && end.centralSize != 0) {
        centralOffset = shift;  // offsets of the entries are taken as stored
        shift = 0;
        reports->Raise(kLevelEntryError);
    } else if (shift > 0) {
        reports->Raise(kLevelWarning);  // a self-extracting prefix
    }
    location->shift = shift;

    if (mode == ReadMode::Comment) {
        std::string& comment = location->comment;
        comment.resize(end.commentLength);
        size_t got = 0;
        if (end.commentLength) {
            if (reader.Seek(endAt + static_cast<int64_t>(kEndRecordSize)) == ReadStatus::Ok)
                got = reader.ReadSome(&comment[0], comment.size());
            if (reader.LastStatus() == ReadStatus::ReadError) {
                reports->Add(Message::ReadError, kLevelReadError);
                return false;
            }
        }
        comment.resize(got);
        if (got < end.commentLength)
            reports->Add(Message::CommentTruncated, kLevelWarning, end.commentLength - got);
        return true;
    }

    // No directory at all. An end record that claims no entries and an empty
    // directory at its own position is empty too, wherever its offset points.
    if (end.centralSize == 0 && (end.centralOffset == 0 || end.totalEntries == 0)) {
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
        reports->Add(location->zip64Locator ? Message::Zip64NotSupported : Message::ArchiveDamaged, kLevelDamaged);
        return false;
    }
    reader.Seek(static_cast<int64_t>(location->centralStart));
    return true;
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
    for (uint32_t i = 0; i < location.end.totalEntries; ++i) {
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
        if (headerAt + CentralRecordSize(h) > location.endPosition) {
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
        e.localPosition = static_cast<int64_t>(h.localOffset) + location.shift;
        e.zip64 = CentralNeedsZip64(h, extra.data(), extra.size());
        e.strongEncryption = UsesStrongEncryption(h.flags, h.method);
        walk->entries.push_back(std::move(e));
    }
    walk->complete = true;
    uint8_t sig[4];
    walk->endSignatureFollows = reader.Read(sig, 4) == ReadStatus::Ok && GetU32(sig) == kEndSignature;
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
    f.packedSize = h.compressedSize;
    if (f.encrypted && h.compressedSize != kSentinel32)
        f.packedSize = h.compressedSize >= kEncryptionHeaderSize ? h.compressedSize - 12 : 0;
    f.size = h.uncompressedSize;
    f.ratioUnknown = h.compressedSize == kSentinel32 || h.uncompressedSize == kSentinel32;
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
        t.size += e.header.uncompressedSize;
        if (t.packedSize == kSentinel32 || e.header.compressedSize == kSentinel32) {
            t.packedSize = kSentinel32;
        } else {
            uint64_t sum = static_cast<uint64_t>(t.packedSize) + e.header.compressedSize;
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
    const int64_t stored = static_cast<int64_t>(entry.header.localOffset);
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
    const bool deferred = (h.flags & kFlagDescriptor) != 0;
    out->crc = deferred ? entry.header.crc : h.crc;
    out->compressedSize = deferred ? entry.header.compressedSize : h.compressedSize;
    out->uncompressedSize = h.uncompressedSize;

    const size_t kept = h.nameLength < kNameLimit ? h.nameLength : kNameLimit;
    out->name.resize(kept);
    if ((kept && reader.Read(&out->name[0], kept) != ReadStatus::Ok) ||
        reader.Skip(static_cast<uint64_t>(h.nameLength - kept) + h.extraLength) != ReadStatus::Ok)
        return reader.LastStatus() == ReadStatus::ReadError ? LocalResult::ReadError : LocalResult::Damaged;
    out->dataStart = reader.Position();
    // The data the decoder will be handed must be the data the directory
    // describes, and must end before the directory.
    if (out->compressedSize != entry.header.compressedSize ||
        out->dataStart + out->compressedSize > dataLimit_)
        return LocalResult::Damaged;
    return LocalResult::Ok;
}

// --- updating ------------------------------------------------------------------------

bool ScanForUpdate(ArchiveInput& input, UpdateScan* scan, Reports* reports) {
    auto damaged = [&] {
        reports->Add(Message::ArchiveDamaged, kLevelDamaged);
        return false;
    };
    auto readAt = [&](uint64_t position, void* out, size_t size, bool* readError) {
        size_t got = 0;
        if (!input.ReadAt(position, out, size, &got)) {
            *readError = true;
            return false;
        }
        return got == size;
    };
    bool readError = false;
    auto failRead = [&] {
        if (readError) {
            reports->Add(Message::ReadError, kLevelReadError);
            return false;
        }
        return damaged();
    };

    uint64_t endPosition = 0;
    switch (FindEndRecordForUpdating(input, &endPosition)) {
    case SearchResult::ReadError:
        reports->Add(Message::ReadError, kLevelReadError);
        return false;
    case SearchResult::NotFound:
        reports->Add(Message::NotAnArchive, kLevelEntryError);
        return false;
    case SearchResult::Found:
        break;
    }
    scan->endPosition = endPosition;
    if (InsideEarlierComment(input, endPosition, &readError) || readError) return failRead();
    uint8_t record[kEndRecordSize];
    if (!readAt(endPosition, record, sizeof record, &readError)) return failRead();
    EndRecord& end = scan->end;
    ParseEndRecord(record, &end);
    scan->comment.resize(end.commentLength);
    if (end.commentLength &&
        !readAt(endPosition + kEndRecordSize, &scan->comment[0], end.commentLength, &readError))
        return failRead();

    if (end.thisDisk != 0 || end.centralDisk != 0 || end.entriesOnDisk != end.totalEntries)
        reports->Add(Message::MultiPartIgnored, kLevelWarning);
    if (endPosition >= kZip64LocatorSize) {
        uint8_t sig[4];
        if (readAt(endPosition - kZip64LocatorSize, sig, 4, &readError) && GetU32(sig) == kZip64LocatorSignature) {
            reports->Add(Message::Zip64NotSupported, kLevelDamaged);
            return false;
        }
        if (readError) return failRead();
    }

    // The directory ends at the end record; the shift is how far it lies
    // behind the stored offset. A negative shift means bytes are missing.
    if (end.centralSize > endPosition) return damaged();
    scan->centralStart = endPosition - end.centralSize;
    scan->shift = static_cast<int64_t>(scan->centralStart) - static_cast<int64_t>(end.centralOffset);
    if (scan->shift < 0) return damaged();

    std::unique_ptr<uint8_t[]> directory(new (std::nothrow) uint8_t[end.centralSize ? end.centralSize : 1]);
    if (!directory) {
        reports->Add(Message::OutOfMemory, kLevelNoMemory);
        return false;
    }
    if (end.centralSize && !readAt(scan->centralStart, directory.get(), end.centralSize, &readError))
        return failRead();

    // Exactly the claimed entries must fill exactly the directory: a rewrite
    // from anything else would lose or invent entries.
    std::vector<UpdateEntry>& entries = scan->entries;
    entries.clear();
    size_t pos = 0;
    const size_t directorySize = end.centralSize;
    for (uint32_t i = 0; i < end.totalEntries; ++i) {
        if (directorySize - pos < kCentralHeaderSize) return damaged();
        UpdateEntry e;
        CentralHeader& h = e.central;
        if (!ParseCentralHeader(directory.get() + pos, &h)) return damaged();
        if (directorySize - pos < CentralRecordSize(h) || h.nameLength == 0) return damaged();
        const char* p = reinterpret_cast<const char*>(directory.get() + pos + kCentralHeaderSize);
        e.name.assign(p, h.nameLength);
        e.centralExtra.assign(p + h.nameLength, h.extraLength);
        e.comment.assign(p + h.nameLength + h.extraLength, h.commentLength);
        if (CentralNeedsZip64(h, reinterpret_cast<const uint8_t*>(e.centralExtra.data()), e.centralExtra.size())) {
            reports->Add(Message::Zip64NotSupported, kLevelDamaged);
            return false;
        }
        // A stored size of 0 cannot hold data that unpacks to something.
        if (h.compressedSize == 0 && h.uncompressedSize != 0) return damaged();
        e.dosFlag = HasDosFlag(h.versionMadeBy);
        uint64_t offset = static_cast<uint64_t>(h.localOffset) + static_cast<uint64_t>(scan->shift);
        if (offset >= scan->centralStart) return damaged();
        h.localOffset = static_cast<uint32_t>(offset);
        pos += CentralRecordSize(h);
        entries.push_back(std::move(e));
    }
    if (pos != directorySize) return damaged();
    directory.reset();

    // Local headers: same name, extents inside the data area.
    for (UpdateEntry& e : entries) {
        const uint64_t offset = e.central.localOffset;
        uint8_t bytes[kLocalHeaderSize];
        if (offset + kLocalHeaderSize > scan->centralStart) return damaged();
        if (!readAt(offset, bytes, sizeof bytes, &readError)) return failRead();
        if (!ParseLocalHeader(bytes, &e.local) || e.local.nameLength != e.central.nameLength) return damaged();
        const uint64_t dataStart = offset + kLocalHeaderSize + e.local.nameLength + e.local.extraLength;
        if (dataStart > scan->centralStart) return damaged();
        std::string name(e.local.nameLength, '\0');
        if (!readAt(offset + kLocalHeaderSize, &name[0], name.size(), &readError)) return failRead();
        if (name != e.name) return damaged();
        e.localExtra.resize(e.local.extraLength);
        if (e.local.extraLength &&
            !readAt(offset + kLocalHeaderSize + e.local.nameLength, &e.localExtra[0], e.local.extraLength, &readError))
            return failRead();
        if (e.localExtra == e.centralExtra && !e.localExtra.empty()) {
            e.localExtra.clear();
            e.localExtraIsCentral = true;
        }
        uint64_t dataEnd = dataStart + e.central.compressedSize;
        if (dataEnd > scan->centralStart) return damaged();
        uint64_t descriptorLength = 0;
        if (e.local.flags & kFlagDescriptor) {
            uint32_t compressed = e.local.compressedSize ? e.local.compressedSize : e.central.compressedSize;
            uint64_t at = dataStart + compressed;
            uint8_t d[kDescriptorSize];
            if (at + kDescriptorSize <= scan->centralStart && readAt(at, d, sizeof d, &readError) &&
                ParseDataDescriptor(d, &e.descriptorFields)) {
                e.descriptor = true;
                // The descriptor must describe the data the copy will take.
                if (e.descriptorFields.compressedSize != e.central.compressedSize) return damaged();
            }
            if (readError) return failRead();
            // A descriptor without its signature is 12 bytes long.
            descriptorLength = e.descriptor ? kDescriptorSize : kDescriptorSize - 4;
        }
        e.copyLength = dataEnd + descriptorLength - offset;
        if (offset + e.copyLength > scan->centralStart) return damaged();
    }

    // Entries in file order must not share bytes.
    std::vector<const UpdateEntry*> order;
    for (const UpdateEntry& e : entries) order.push_back(&e);
    std::sort(order.begin(), order.end(), [](const UpdateEntry* a, const UpdateEntry* b) {
        return a->central.localOffset < b->central.localOffset;
    });
    for (size_t i = 0; i < order.size(); ++i) {
        const UpdateEntry& e = *order[i];
        const uint64_t end = e.central.localOffset + e.copyLength;
        const uint64_t next = i + 1 < order.size() ? order[i + 1]->central.localOffset : scan->centralStart;
        if (end > next) return damaged();
        // Bit 3 with a compressed size of 0: the data must really be empty,
        // or the copy would drop it. The next entry has to follow at once.
        if ((e.local.flags & kFlagDescriptor) && e.central.compressedSize == 0 && end != next) return damaged();
    }

    scan->prefixLength = order.empty() ? std::min<uint64_t>(scan->centralStart, endPosition)
                                       : order.front()->central.localOffset;
    return true;
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
