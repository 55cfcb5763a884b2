// The ZIP stub's reader: the appended ZIP, methods Stored and Deflate.
//
// The end record is searched in the file's last 64 KiB. The archive was
// written for a file of its own, so every offset it records is off by the
// stub in front of it; the difference between where the end record is and
// where its directory says it should be corrects them all.
#include <cstring>
#include <memory>
#include <new>

#include "codecs/byte_io.h"
#include "codecs/deflate/inflate.h"
#include "sfx/stub.h"
#include "sfx/stub_ids.h"

namespace tessera::sfx {

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kEndSearch = 65536 + kEndRecordSize;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kHighestVersionNeeded = 20;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return static_cast<uint32_t>(U16(p)) | static_cast<uint32_t>(U16(p + 2)) << 16; }

// The packed data of one entry, read from the own file.
class PackedData final : public ByteSource {
public:
    PackedData(const Extraction& run, uint64_t offset, uint64_t length) : run_(run), at_(offset), left_(length) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t want = left_ < capacity ? static_cast<size_t>(left_) : capacity;
        size_t got = 0;
        if (want) run_.ReadAt(at_, buffer, want, &got);
        at_ += got;
        left_ = got < want ? 0 : left_ - got;
        return got;
    }
    uint64_t Left() const { return left_; }

private:
    const Extraction& run_;
    uint64_t at_;
    uint64_t left_;
};

class TargetSink final : public ByteSink {
public:
    explicit TargetSink(Extraction& run) : run_(run) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (!run_.Write(data, size)) {
            refused_ = true;
            return false;
        }
        return true;
    }
    bool refused_ = false;

private:
    Extraction& run_;
};

struct CentralEntry {
    uint16_t versionNeeded, flags, method, time, date;
    uint32_t crc, packedSize, size, attributes, localOffset;
    std::string name;
};

enum class EntryResult { kDone, kFailed, kRunFails };

EntryResult ExtractEntry(Extraction& run, Inflater& inflater, const CentralEntry& entry, int64_t shift) {
    bool folder = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
    NameCoding coding = entry.flags & kFlagUtf8 ? NameCoding::kUtf8 : NameCoding::kOem;
    if (folder) {
        run.MakeFolderEntry(entry.name, coding);
        return run.Cancelled() ? EntryResult::kRunFails : EntryResult::kDone;
    }
    // Where the data starts: behind the local header, found through the
    // corrected offset.
    uint8_t local[kLocalHeaderSize];
    int64_t localAt = static_cast<int64_t>(entry.localOffset) + shift;
    if (localAt < 0 || !run.ReadAt(static_cast<uint64_t>(localAt), local, sizeof local) ||
        U32(local) != kLocalSignature) {
        run.Message(IDS_DAMAGED);
        return EntryResult::kRunFails;
    }
    uint64_t dataAt = static_cast<uint64_t>(localAt) + kLocalHeaderSize + U16(local + 26) + U16(local + 28);
    if (dataAt + entry.packedSize > run.OwnFileSize()) {
        run.Message(IDS_DAMAGED);
        return EntryResult::kRunFails;
    }
    if (entry.flags & kFlagEncrypted) {
        // No password is ever asked for: the entry cannot come out right.
        run.Message(IDS_DAMAGED);
        run.NoteEntryFailed();
        run.AdvanceProgress(entry.size);
        return EntryResult::kFailed;
    }
    HANDLE target = run.BeginFile(entry.name, coding, entry.size);
    if (target == INVALID_HANDLE_VALUE) return run.Cancelled() ? EntryResult::kRunFails : EntryResult::kFailed;

    PackedData packed(run, dataAt, entry.packedSize);
    TargetSink sink(run);
    bool whole = false;
    if (entry.method == 0) {
        uint8_t buffer[16384];
        size_t got;
        whole = true;
        while ((got = packed.Read(buffer, sizeof buffer)) != 0) {
            if (!sink.Write(buffer, got)) {
                whole = false;
                break;
            }
        }
        if (whole && packed.Left() == 0 && entry.packedSize != entry.size) {
            run.Message(IDS_DAMAGED);
            whole = false;
        }
    } else {
        const CodecResult result = inflater.Inflate(packed, sink);
        if (result == CodecResult::kOk) whole = true;
        else if (result == CodecResult::kNoMemory) run.Message(IDS_NO_MEMORY);
        else if (result != CodecResult::kAborted) run.Message(IDS_DAMAGED);
    }
    if (whole && run.Crc() != entry.crc) {
        run.Message(IDS_BAD_CHECKSUM, static_cast<unsigned long>(run.Crc()), static_cast<unsigned long>(entry.crc));
        whole = false;
    }
    run.FinishFile(whole, entry.date, entry.time, entry.attributes);
    if (run.Cancelled()) return EntryResult::kRunFails;
    return whole ? EntryResult::kDone : EntryResult::kFailed;
}

}  // namespace

bool ExtractAppendedArchive(Extraction& run) {
    uint64_t fileSize = run.OwnFileSize();
    uint64_t archiveSize = fileSize > run.Origin() ? fileSize - run.Origin() : 0;
    size_t tailSize = static_cast<size_t>(archiveSize < kEndSearch ? archiveSize : kEndSearch);
    std::unique_ptr<uint8_t[]> tail(new (std::nothrow) uint8_t[tailSize + 1]);
    if (!tail) {
        run.Message(IDS_NO_MEMORY);
        return false;
    }
    uint64_t tailAt = fileSize - tailSize;
    if (tailSize < kEndRecordSize || !run.ReadAt(tailAt, tail.get(), tailSize)) {
        run.Message(IDS_DAMAGED);
        return false;
    }
    // The last end record whose comment reaches exactly to the file's end,
    // else the last one at all.
    long found = -1;
    for (long i = static_cast<long>(tailSize - kEndRecordSize); i >= 0; --i) {
        if (U32(tail.get() + i) != kEndSignature) continue;
        if (found < 0) found = i;
        if (static_cast<size_t>(i) + kEndRecordSize + U16(tail.get() + i + 20) == tailSize) {
            found = i;
            break;
        }
    }
    if (found < 0) {
        run.Message(IDS_DAMAGED);
        return false;
    }
    const uint8_t* end = tail.get() + found;
    uint16_t count = U16(end + 10);
    uint32_t directorySize = U32(end + 12), directoryOffset = U32(end + 16);
    uint64_t endAt = tailAt + static_cast<uint64_t>(found);
    // A directory of size 0 at offset 0 is what an end record without an
    // archive in front of it says: nothing to extract is damage here.
    if ((directorySize == 0 && directoryOffset == 0) ||
        static_cast<uint64_t>(directoryOffset) + directorySize > endAt) {
        run.Message(IDS_DAMAGED);
        return false;
    }
    int64_t shift = static_cast<int64_t>(endAt) - (static_cast<int64_t>(directoryOffset) + directorySize);
    uint64_t directoryAt = static_cast<uint64_t>(static_cast<int64_t>(directoryOffset) + shift);
    if (directoryAt < run.Origin()) {
        run.Message(IDS_DAMAGED);
        return false;
    }
    std::unique_ptr<uint8_t[]> directory(new (std::nothrow) uint8_t[directorySize + 1]);
    if (!directory) {
        run.Message(IDS_NO_MEMORY);
        return false;
    }
    if (!run.ReadAt(directoryAt, directory.get(), directorySize)) {
        run.Message(IDS_DAMAGED);
        return false;
    }
    Inflater inflater;
    size_t at = 0;
    for (unsigned index = 0; index < count; ++index) {
        const uint8_t* h = directory.get() + at;
        if (at + kCentralHeaderSize > directorySize || U32(h) != kCentralSignature) {
            run.Message(IDS_DAMAGED);
            return false;
        }
        size_t nameLength = U16(h + 28), extraLength = U16(h + 30), commentLength = U16(h + 32);
        size_t next = at + kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (next > directorySize) {
            run.Message(IDS_DAMAGED);
            return false;
        }
        CentralEntry entry;
        entry.versionNeeded = U16(h + 6);
        entry.flags = U16(h + 8);
        entry.method = U16(h + 10);
        entry.time = U16(h + 12);
        entry.date = U16(h + 14);
        entry.crc = U32(h + 16);
        entry.packedSize = U32(h + 20);
        entry.size = U32(h + 24);
        entry.attributes = U32(h + 38);
        entry.localOffset = U32(h + 42);
        entry.name.assign(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength);
        at = next;
        if ((entry.versionNeeded & 0xFF) > kHighestVersionNeeded || (entry.method != 0 && entry.method != 8)) {
            // Beyond what this reader decodes: left out, and the run says so.
            run.NoteEntryFailed();
            run.AdvanceProgress(entry.size);
            continue;
        }
        if (ExtractEntry(run, inflater, entry, shift) == EntryResult::kRunFails) return false;
    }
    return !run.Cancelled();
}

}  // namespace tessera::sfx
