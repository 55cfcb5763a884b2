// Entry checks, member decoding and the result rule of ZIP extraction.
#include "zip/zip_member.h"

#include <new>

#include "codecs/crc32/crc32.h"
#include "codecs/deflate/inflate.h"
#include "codecs/explode/explode.h"
#include "codecs/unreduce/unreduce.h"
#include "codecs/unshrink/unshrink.h"

namespace tessera::zip {
namespace {

constexpr unsigned kMethodNamedLimit = 11;  // methods below this have a name

// The entry's data, decrypted as it is read when the entry is encrypted.
class MemberSource final : public ByteSource {
public:
    MemberSource(BlockReader& reader, uint64_t size, ZipCryptoKeys* keys) : data_(reader, size), keys_(keys) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t n = data_.Read(buffer, capacity);
        if (keys_) keys_->Decrypt(buffer, n);
        return n;
    }
    bool Failed() const { return data_.Failed(); }

private:
    EntryDataSource data_;
    ZipCryptoKeys* keys_;
};

// Computes the CRC and stops the decoder at the declared size: a member never
// produces more than its header announced.
class CheckedSink final : public ByteSink {
public:
    CheckedSink(ByteSink& out, uint64_t limit) : out_(out), limit_(limit) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (size > limit_ - produced_) {
            overflow_ = true;
            return false;
        }
        crc_ = Crc32Update(crc_, data, size);
        produced_ += size;
        return out_.Write(data, size);
    }
    bool Overflow() const { return overflow_; }
    uint64_t Produced() const { return produced_; }
    uint32_t Crc() const { return ~crc_; }

private:
    ByteSink& out_;
    uint64_t limit_;
    uint64_t produced_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu;
    bool overflow_ = false;
};

bool CopyStored(ByteSource& source, ByteSink& sink) {
    uint8_t buffer[BlockReader::kBlockSize];
    for (;;) {
        size_t n = source.Read(buffer, sizeof buffer);
        if (n == 0) return true;
        if (!sink.Write(buffer, n)) return false;
    }
}

}  // namespace

EntryCheck CheckEntry(const DirectoryEntry& entry) {
    const CentralHeader& h = entry.header;
    if (entry.strongEncryption) return EntryCheck::StrongEncryption;
    if (entry.damaged) return EntryCheck::Damaged;
    if (UnsupportedVersionOf(h.flags) != 0) return EntryCheck::Version;
    if (h.method <= kMethodImplode || h.method == kMethodDeflate) return EntryCheck::Supported;
    return h.method < kMethodNamedLimit ? EntryCheck::Method : EntryCheck::UnknownMethod;
}

MemberDecoder::MemberDecoder() = default;
MemberDecoder::~MemberDecoder() = default;

MemberResult MemberDecoder::Decode(BlockReader& reader, uint16_t method, uint16_t flags, uint64_t compressedSize,
                                   uint64_t uncompressedSize, ZipCryptoKeys* keys, ByteSink& sink) {
    MemberResult result;
    MemberSource source(reader, compressedSize, keys);
    CheckedSink checked(sink, uncompressedSize);
    bool refused = false;
    switch (method) {
    case kMethodStored:
        refused = !CopyStored(source, checked);
        break;
    case kMethodDeflate: {
        if (!inflater_) inflater_.reset(new (std::nothrow) Inflater);
        const CodecResult r = inflater_ ? inflater_->Inflate(source, checked) : CodecResult::kNoMemory;
        if (r == CodecResult::kNoMemory) result.kind = MemberResult::NoMemory;
        else if (r == CodecResult::kAborted) refused = true;
        else if (r != CodecResult::kOk) result.kind = MemberResult::BadData;
        break;
    }
    case kMethodImplode: {
        if (!exploder_) exploder_.reset(new (std::nothrow) Exploder);
        const CodecResult r = exploder_ ? exploder_->Explode(source, checked, flags, compressedSize, uncompressedSize)
                                : CodecResult::kNoMemory;
        if (r == CodecResult::kNoMemory) {
            result.kind = MemberResult::NoMemory;
        } else if (r == CodecResult::kAborted) {
            refused = true;
        } else if (r == CodecResult::kSizeMismatch) {
            result.kind = MemberResult::ExplodeSize;
            result.used = exploder_->UsedSize();
        } else if (r != CodecResult::kOk) {
            result.kind = MemberResult::BadData;
        }
        break;
    }
    case kMethodShrink: {
        if (!unshrinker_) unshrinker_.reset(new (std::nothrow) Unshrinker);
        const CodecResult r = unshrinker_ ? unshrinker_->Unshrink(source, checked, uncompressedSize)
                                          : CodecResult::kNoMemory;
        if (r == CodecResult::kNoMemory) result.kind = MemberResult::NoMemory;
        else if (r == CodecResult::kAborted) refused = true;
        else if (r != CodecResult::kOk) result.kind = MemberResult::BadData;
        break;
    }
    case kMethodReduce1:
    case kMethodReduce1 + 1:
    case kMethodReduce1 + 2:
    case kMethodReduce4: {
        if (!unreducer_) unreducer_.reset(new (std::nothrow) Unreducer);
        const CodecResult r = unreducer_ ? unreducer_->Unreduce(source, checked, method - kMethodShrink, uncompressedSize)
                                         : CodecResult::kNoMemory;
        if (r == CodecResult::kNoMemory) result.kind = MemberResult::NoMemory;
        else if (r == CodecResult::kAborted) refused = true;
        else if (r != CodecResult::kOk) result.kind = MemberResult::BadData;
        break;
    }
    default:
        result.kind = MemberResult::BadData;
        break;
    }
    result.crc = checked.Crc();
    result.produced = checked.Produced();
    if (source.Failed()) {
        result.kind = MemberResult::ReadError;
    } else if (refused) {
        result.kind = checked.Overflow() ? MemberResult::BadData : MemberResult::Aborted;
    } else if (result.kind == MemberResult::Ok && result.produced != uncompressedSize) {
        result.kind = MemberResult::BadData;
    }
    return result;
}

int FinalLevel(int level, const RunCounts& counts) {
    if (counts.reached == 0 && level < kLevelEntryError) return kLevelNothingFound;
    if (level < kLevelEntryError &&
        (counts.skippedPassword == counts.reached || counts.skippedUnsupported > 0))
        return kLevelEntryError;
    if (level == kLevelOk && counts.skippedPassword > 0) return kLevelWarning;
    return level;
}

}  // namespace tessera::zip
