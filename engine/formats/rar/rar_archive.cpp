// RAR block walk and entry extraction.
//
// The walk strictly advances: every block is at least 7 bytes, a file
// header must hold its 32 fixed bytes and its name, and a block that would
// end beyond the file ends the walk as damage. Extraction follows an entry
// into the next volumes through the caller's opener, and stops with an error
// when a volume is missing or does not continue the entry; the number of
// volumes is bounded by the naming scheme.
#include "formats/rar/rar_archive.h"

#include <cstring>
#include <vector>

#include "codecs/crc32/crc32.h"

namespace tessera {
namespace {

const uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr uint8_t kFileBlock = 0x74;
constexpr uint8_t kEndBlock = 0x7B;
constexpr uint32_t kMainHeaderSize = 13;
constexpr uint32_t kFileHeaderSize = 32;
constexpr uint32_t kStoredPiece = 32512;
constexpr unsigned kMaxVolumes = 1 + 26 * 100;  // .rar, then .r00 to .z99

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class CrcSink final : public ByteSink {
public:
    explicit CrcSink(ByteSink* inner) : inner_(inner) {}
    bool Write(const uint8_t* data, size_t size) override {
        crc_ = Crc32Update(crc_, data, size);
        produced_ += size;
        return !inner_ || inner_->Write(data, size);
    }
    uint32_t Value() const { return ~crc_; }
    uint64_t Produced() const { return produced_; }

private:
    ByteSink* inner_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t produced_ = 0;
};

}  // namespace

RarStatus RarWalker::Open() {
    RarStatus status = OpenAt(0);
    if (status != RarStatus::kNotArchive) return status;
    // A self-extracting program: the archive follows the program, and its
    // marker is taken only where a whole main header with a good CRC follows.
    std::vector<uint8_t> window(kSearchPiece + 6);
    for (uint64_t at = 1; at < kRarSfxSearchLimit && at < input_.Size(); at += kSearchPiece) {
        const size_t got = input_.ReadUpTo(at, window.data(), window.size());
        for (size_t i = 0; i + 6 <= got && i < kSearchPiece; ++i) {
            if (std::memcmp(window.data() + i, kMarker, 6) != 0) continue;
            status = OpenAt(at + i);
            if (status == RarStatus::kOk || status == RarStatus::kEncryptedHeaders) return status;
        }
    }
    return RarStatus::kNotArchive;
}

RarStatus RarWalker::OpenAt(uint64_t start) {
    uint8_t head[7 + kMainHeaderSize];
    size_t got = input_.ReadUpTo(start, head, sizeof head);
    if (got < 7 || std::memcmp(head, kMarker, 6) != 0) return RarStatus::kNotArchive;
    if (head[6] != 0) return head[6] == 0x01 ? RarStatus::kRar5 : RarStatus::kNotArchive;
    if (got < sizeof head) return RarStatus::kBadMainHeader;
    const uint8_t* mh = head + 7;
    uint32_t headSize = Le16(mh + 5);
    if (headSize < kMainHeaderSize) return RarStatus::kBadMainHeader;
    if ((Crc32(mh + 2, kMainHeaderSize - 2) & 0xFFFF) != Le16(mh)) return RarStatus::kBadMainHeader;
    mainFlags_ = Le16(mh + 3);
    if (mainFlags_ & kRarHeadersEncrypted) return RarStatus::kEncryptedHeaders;
    next_ = start + 7 + static_cast<uint64_t>(headSize);  // skips an archive comment
    return RarStatus::kOk;
}

RarStatus RarWalker::Next(RarEntry* entry) {
    uint64_t size = input_.Size();
    while (!over_) {
        if (next_ >= size) {
            over_ = true;
            return next_ == size ? RarStatus::kEnd : RarStatus::kDamaged;
        }
        uint64_t offset = next_;
        uint8_t h[kFileHeaderSize + 8];
        size_t got = input_.ReadUpTo(offset, h, kFileHeaderSize);
        ++blocks_;
        uint16_t flags = got >= 7 ? Le16(h + 3) : 0;
        uint32_t headSize = got >= 7 ? Le16(h + 5) : 0;
        if (got < 7 || headSize < 7 || offset + headSize > size) {
            over_ = true;
            return RarStatus::kDamaged;
        }
        uint8_t type = h[2];
        if (type == kEndBlock) {
            over_ = true;
            return RarStatus::kEnd;
        }
        uint64_t dataSize = 0;
        if (flags & kRarHasData) {
            if (headSize < 11 || got < 11) {
                over_ = true;
                return RarStatus::kDamaged;
            }
            dataSize = Le32(h + 7);
        }
        if (type != kFileBlock) {
            next_ = offset + headSize + dataSize;
            continue;
        }

        // A file header: 32 fixed bytes, 8 more for large sizes, the name.
        uint32_t fixed = kFileHeaderSize + ((flags & kRarLarge) ? 8 : 0);
        uint32_t nameSize = got >= kFileHeaderSize ? Le16(h + 26) : 0;
        if (got < kFileHeaderSize || headSize < fixed + nameSize) {
            over_ = true;
            return RarStatus::kDamaged;
        }
        std::vector<uint8_t> header(headSize);
        if (input_.ReadUpTo(offset, header.data(), headSize) != headSize) {
            over_ = true;
            return RarStatus::kDamaged;
        }
        const uint8_t* p = header.data();
        RarEntry e;
        e.flags = flags;
        e.packSize = Le32(p + 7);
        e.unpSize = Le32(p + 11);
        e.hostOs = p[15];
        e.fileCrc = Le32(p + 16);
        e.dosTime = Le32(p + 20);
        e.unpVersion = p[24];
        e.method = p[25];
        e.attributes = Le32(p + 28);
        if (flags & kRarLarge) {
            e.packSize |= static_cast<uint64_t>(Le32(p + 32)) << 32;
            e.unpSize |= static_cast<uint64_t>(Le32(p + 36)) << 32;
        }
        const char* name = reinterpret_cast<const char*>(p + fixed);
        e.name.assign(name, strnlen(name, nameSize));
        // RAR 1.5 and 2.0 cover the fixed part and the name; later versions
        // the whole header. Either one counts as a good header.
        uint16_t stored = Le16(p);
        e.headerCrcOk = (Crc32(p + 2, fixed + nameSize - 2) & 0xFFFF) == stored ||
                        (Crc32(p + 2, headSize - 2) & 0xFFFF) == stored;
        e.headerOffset = offset;
        e.dataOffset = offset + headSize;
        next_ = e.dataOffset + ((flags & kRarHasData) ? e.packSize : 0);
        *entry = std::move(e);
        return RarStatus::kOk;
    }
    return RarStatus::kEnd;
}

std::string RarVolumeName(const std::string& firstName, unsigned index) {
    if (index == 0) return firstName;
    if (index >= kMaxVolumes) return std::string();
    size_t dot = firstName.find_last_of('.');
    size_t slash = firstName.find_last_of("/\\");
    std::string stem = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                           ? firstName
                           : firstName.substr(0, dot);
    // Keep the case of the first name's extension (X.RAR -> X.R00).
    bool upper = dot != std::string::npos && dot + 1 < firstName.size() &&
                 firstName[dot + 1] >= 'A' && firstName[dot + 1] <= 'Z';
    unsigned n = index - 1;
    char ext[5] = {'.', static_cast<char>((upper ? 'R' : 'r') + n / 100),
                   static_cast<char>('0' + n % 100 / 10), static_cast<char>('0' + n % 10), 0};
    return stem + ext;
}

// The packed data of one entry as one stream across its volume parts.
class RarReader::PartSource final : public ByteSource {
public:
    PartSource(RarReader& reader, const RarEntry& entry)
        : reader_(reader), part_(entry),
          range_(new RangeSource(*reader.current_, entry.dataOffset, entry.packSize)) {}

    size_t Read(uint8_t* buffer, size_t capacity) override {
        // After a failed volume change there is no part left to read, yet
        // the decoder may keep asking for its look-ahead.
        if (failure_ != RarEntryResult::kOk || !range_) return 0;
        for (;;) {
            size_t got = range_->Read(buffer, capacity);
            if (got > 0) return got;
            if (range_->ShortRead()) {
                failure_ = RarEntryResult::kTruncated;
                return 0;
            }
            if (!part_.ContinuesInNext() || failure_ != RarEntryResult::kOk) return 0;
            if (!NextPart()) return 0;
        }
    }

    // The header of the part read last: its CRC is the whole entry's.
    const RarEntry& LastPart() const { return part_; }
    RarEntryResult Failure() const { return failure_; }

private:
    bool NextPart() {
        RarReader& r = reader_;
        if (!r.opener_ || r.volumeIndex_ + 1 >= kMaxVolumes) {
            failure_ = RarEntryResult::kNextVolumeMissing;
            return false;
        }
        std::unique_ptr<RandomAccessInput> volume = r.opener_(r.volumeIndex_ + 1);
        if (!volume) {
            failure_ = RarEntryResult::kNextVolumeMissing;
            return false;
        }
        ++r.volumeIndex_;
        range_.reset();
        r.walker_.reset();
        r.owned_ = std::move(volume);
        r.current_ = r.owned_.get();
        r.walker_.reset(new RarWalker(*r.current_));
        RarEntry next;
        if (r.walker_->Open() != RarStatus::kOk || r.walker_->Next(&next) != RarStatus::kOk ||
            !next.ContinuedFromPrevious() || next.name != part_.name) {
            failure_ = RarEntryResult::kBadVolume;
            return false;
        }
        part_ = next;
        range_.reset(new RangeSource(*r.current_, part_.dataOffset, part_.packSize));
        return true;
    }

    RarReader& reader_;
    RarEntry part_;
    std::unique_ptr<RangeSource> range_;
    RarEntryResult failure_ = RarEntryResult::kOk;
};

RarReader::RarReader(RandomAccessInput& first, RarVolumeOpener opener)
    : current_(&first), walker_(new RarWalker(first)), opener_(std::move(opener)) {}

RarReader::~RarReader() = default;

RarStatus RarReader::Open() {
    RarStatus status = walker_->Open();
    solid_ = status == RarStatus::kOk && walker_->IsSolid();
    return status;
}

RarStatus RarReader::Next(RarEntry* entry) { return walker_->Next(entry); }

RarEntryOutcome RarReader::Extract(const RarEntry& entry, ByteSink* sink) {
    RarEntryOutcome outcome;
    outcome.expectedCrc = entry.fileCrc;
    bool packed = !entry.IsStored();
    auto refuse = [&](RarEntryResult result) {
        // A packed entry the chain cannot pass leaves the window out of step.
        if (packed && solid_) solidBroken_ = true;
        outcome.result = result;
        return outcome;
    };
    if (entry.ContinuedFromPrevious()) return refuse(RarEntryResult::kFromPreviousVolume);
    if (entry.IsEncrypted()) return refuse(RarEntryResult::kEncrypted);
    if (packed && entry.unpVersion != 15) {
        outcome.value = entry.unpVersion;
        return refuse(RarEntryResult::kUnsupportedVersion);
    }
    if (packed && solid_ && solidBroken_) {
        outcome.result = RarEntryResult::kSolidBroken;
        return outcome;
    }

    CrcSink crcSink(sink);
    PartSource source(*this, entry);
    RarEntryResult result = RarEntryResult::kOk;
    if (!packed) {
        std::vector<uint8_t> piece(kStoredPiece);
        uint64_t left = entry.unpSize;
        while (left > 0) {
            size_t want = left < kStoredPiece ? static_cast<size_t>(left) : kStoredPiece;
            size_t got = source.Read(piece.data(), want);
            if (got == 0) {
                result = RarEntryResult::kTruncated;
                break;
            }
            if (!crcSink.Write(piece.data(), got)) {
                result = RarEntryResult::kAborted;
                break;
            }
            left -= got;
        }
    } else {
        bool continueSolid = solid_ && solidStarted_;
        solidStarted_ = true;
        const CodecResult r = decoder_.Decode(source, &crcSink, entry.unpSize, continueSolid);
        if (r == CodecResult::kAborted) result = RarEntryResult::kAborted;
        else if (r != CodecResult::kOk) result = RarEntryResult::kTruncated;  // the only failure it has
    }
    if (source.Failure() != RarEntryResult::kOk && result != RarEntryResult::kAborted)
        result = source.Failure();
    outcome.crc = crcSink.Value();
    outcome.expectedCrc = source.LastPart().fileCrc;
    if (result == RarEntryResult::kOk && outcome.crc != outcome.expectedCrc)
        result = RarEntryResult::kBadCrc;
    if (result != RarEntryResult::kOk && packed && solid_) solidBroken_ = true;
    outcome.result = result;
    return outcome;
}

void RarReader::Skip(const RarEntry& entry) {
    if (!solid_ || entry.IsStored()) return;
    Extract(entry, nullptr);
}

}  // namespace tessera
