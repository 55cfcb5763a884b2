// ARJ start search, header walk and entry decoding.
//
// The walk only moves forward: each header lies behind the previous one's
// data, every extended header advances by at least six bytes, and anything
// that would lie beyond the end of the file ends the walk as damage. Memory
// is bounded by the largest basic header (2,348 bytes) and the search span.
#include "formats/arj/arj_archive.h"

#include <vector>

#include "codecs/crc32/crc32.h"

namespace tessera {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Takes a NUL-terminated text from [from, end) and moves `from` past its NUL.
std::string TakeText(const uint8_t* base, size_t& from, size_t end) {
    size_t start = from;
    while (from < end && base[from] != 0) ++from;
    std::string text(reinterpret_cast<const char*>(base + start), from - start);
    if (from < end) ++from;
    return text;
}

// Hands the sink's bytes on while keeping a CRC-32 of them.
class CrcSink final : public ByteSink {
public:
    explicit CrcSink(ByteSink* inner) : inner_(inner) {}
    bool Write(const uint8_t* data, size_t size) override {
        crc_ = Crc32Update(crc_, data, size);
        return !inner_ || inner_->Write(data, size);
    }
    uint32_t Value() const { return ~crc_; }

private:
    ByteSink* inner_;
    uint32_t crc_ = 0xFFFFFFFFu;
};

}  // namespace

ArjCheck ArjCheckEntry(const ArjHeader& entry) {
    if (entry.minVersion > 3) return {ArjRefusal::kVersion, entry.minVersion};
    if (entry.IsGarbled()) return {ArjRefusal::kGarbled, 0};
    if (entry.method > 4 || (entry.method == 4 && entry.archiverVersion == 1))
        return {ArjRefusal::kMethod, entry.method};
    if (entry.IsFolder()) return {ArjRefusal::kFolder, entry.fileType};
    if (entry.fileType > 1) return {ArjRefusal::kFileType, entry.fileType};
    return {};
}

ArjStatus ArjWalker::Open() {
    uint64_t size = input_.Size();
    if (size < 4) return ArjStatus::kNotArchive;
    // One read covers every candidate place and the largest header behind it.
    uint64_t span = size < kArjSearchLimit + 4 + kArjMaxBasicHeader + 4
                        ? size
                        : kArjSearchLimit + 4 + kArjMaxBasicHeader + 4;
    std::vector<uint8_t> head(static_cast<size_t>(span));
    size_t got = input_.ReadUpTo(0, head.data(), head.size());
    size_t last = got < 2 ? 0 : got - 2;
    if (last > kArjSearchLimit) last = kArjSearchLimit;
    for (size_t p = 0; p < last; ++p) {
        if (head[p] != 0x60 || head[p + 1] != 0xEA || p + 4 > got) continue;
        uint32_t basic = Le16(&head[p + 2]);
        if (basic == 0 || basic > kArjMaxBasicHeader || p + 4 + basic + 4 > got) continue;
        if (Crc32(&head[p + 4], basic) != Le32(&head[p + 4 + basic])) continue;
        ArjStatus status = ReadHeader(p, &main_);
        if (status != ArjStatus::kOk) return status == ArjStatus::kEnd ? ArjStatus::kDamaged : status;
        next_ = main_.dataOffset;
        return ArjStatus::kOk;
    }
    return ArjStatus::kNotArchive;
}

ArjStatus ArjWalker::ReadHeader(uint64_t offset, ArjHeader* header) {
    uint64_t size = input_.Size();
    uint8_t frame[4];
    if (offset > size || input_.ReadUpTo(offset, frame, 4) != 4) return ArjStatus::kDamaged;
    if (Le16(frame) != kArjHeaderId) return ArjStatus::kDamaged;
    uint32_t basic = Le16(frame + 2);
    if (basic == 0) return ArjStatus::kEnd;
    ++headers_;
    if (basic > kArjMaxBasicHeader) return ArjStatus::kDamaged;
    uint8_t buffer[kArjMaxBasicHeader + 4];
    if (input_.ReadUpTo(offset + 4, buffer, basic + 4) != basic + 4) return ArjStatus::kDamaged;
    if (Crc32(buffer, basic) != Le32(buffer + basic)) return ArjStatus::kDamaged;

    // Fixed fields; a short first header (old archivers) leaves the rest 0.
    uint8_t fixed[30] = {};
    size_t first = buffer[0];
    if (first > basic) return ArjStatus::kDamaged;
    for (size_t i = 0; i < first && i < sizeof fixed; ++i) fixed[i] = buffer[i];
    ArjHeader h;
    h.firstHeaderSize = fixed[0];
    h.archiverVersion = fixed[1];
    h.minVersion = fixed[2];
    h.hostOs = fixed[3];
    h.flags = fixed[4];
    h.method = fixed[5];
    h.fileType = fixed[6];
    h.dosDateTime = Le32(fixed + 8);
    h.compressedSize = Le32(fixed + 12);
    h.originalSize = Le32(fixed + 16);
    h.fileCrc = Le32(fixed + 20);
    h.accessMode = Le16(fixed + 26);
    size_t at = first;
    h.name = TakeText(buffer, at, basic);
    h.comment = TakeText(buffer, at, basic);
    h.headerOffset = offset;

    // Extended headers: skipped, each at least 6 bytes, all inside the file.
    uint64_t pos = offset + 4 + basic + 4;
    for (;;) {
        uint8_t ext[2];
        if (pos + 2 > size || input_.ReadUpTo(pos, ext, 2) != 2) return ArjStatus::kDamaged;
        uint32_t extSize = Le16(ext);
        pos += 2;
        if (extSize == 0) break;
        pos += extSize + 4u;
        if (pos > size) return ArjStatus::kDamaged;
    }
    h.dataOffset = pos;
    *header = std::move(h);
    return ArjStatus::kOk;
}

ArjStatus ArjWalker::Next(ArjHeader* entry) {
    if (over_) return ArjStatus::kEnd;
    ArjStatus status = ReadHeader(next_, entry);
    if (status != ArjStatus::kOk) {
        over_ = true;
        return status;
    }
    next_ = entry->dataOffset + entry->compressedSize;
    return ArjStatus::kOk;
}

ArjEntryOutcome ArjDecodeEntry(RandomAccessInput& input, const ArjHeader& entry, ArjDecoder& decoder,
                               ByteSink* sink) {
    ArjEntryOutcome outcome;
    if (ArjCheckEntry(entry).refusal != ArjRefusal::kNone) {
        outcome.result = ArjEntryResult::kUnsupported;
        return outcome;
    }
    if (entry.dataOffset + entry.compressedSize > input.Size()) {
        outcome.result = ArjEntryResult::kTruncated;  // cut short, or a size from damage
        return outcome;
    }
    CrcSink crcSink(sink);
    RangeSource source(input, entry.dataOffset, entry.compressedSize);
    ArjEntryResult result = ArjEntryResult::kOk;
    if (entry.method == 0) {
        // The first piece ends at a multiple of 4,096 of the file position.
        // Output stops at the original size even if more is stored.
        uint8_t piece[4096];
        uint64_t left = entry.compressedSize < entry.originalSize ? entry.compressedSize
                                                                  : entry.originalSize;
        uint64_t pos = entry.dataOffset;
        while (left > 0) {
            size_t want = static_cast<size_t>(4096 - pos % 4096);
            if (want > left) want = static_cast<size_t>(left);
            size_t got = source.Read(piece, want);
            if (got > 0 && !crcSink.Write(piece, got)) {
                result = ArjEntryResult::kAborted;
                break;
            }
            if (got < want) {
                result = ArjEntryResult::kTruncated;
                break;
            }
            left -= got;
            pos += got;
        }
        if (result == ArjEntryResult::kOk && entry.compressedSize != entry.originalSize)
            result = entry.compressedSize < entry.originalSize ? ArjEntryResult::kTruncated
                                                               : ArjEntryResult::kBadData;
    } else {
        const CodecResult r = entry.method == 4 ? decoder.DecodeFastest(source, &crcSink, entry.originalSize)
                                        : decoder.DecodeStandard(source, &crcSink, entry.originalSize);
        if (r == CodecResult::kTruncated) result = ArjEntryResult::kTruncated;
        else if (r == CodecResult::kAborted) result = ArjEntryResult::kAborted;
        else if (r != CodecResult::kOk) result = ArjEntryResult::kBadData;
        if (result == ArjEntryResult::kOk && source.ShortRead()) result = ArjEntryResult::kTruncated;
    }
    outcome.crc = crcSink.Value();
    if (result == ArjEntryResult::kOk && outcome.crc != entry.fileCrc) result = ArjEntryResult::kBadCrc;
    outcome.result = result;
    return outcome;
}

}  // namespace tessera
