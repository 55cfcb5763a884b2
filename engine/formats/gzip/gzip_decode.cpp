// The member loop: header, Inflate, trailer check, for every member of a
// gzip file, all into one output stream (RFC 1952 allows concatenation, and
// tar.gz files are often written in several members).
#include "codecs/crc32/crc32.h"
#include "codecs/deflate/inflate.h"
#include "formats/gzip/gzip_reader.h"

namespace tessera::gzip {

namespace {

// Passes output on while keeping the member's CRC-32 and length.
class CheckingSink final : public ByteSink {
public:
    explicit CheckingSink(ByteSink& out) : out_(out) {}
    bool Write(const uint8_t* data, size_t size) override {
        crc_ = Crc32Update(crc_, data, size);
        length_ += size;
        return out_.Write(data, size);
    }
    void StartMember() {
        crc_ = 0xFFFFFFFFu;
        length_ = 0;
    }
    uint32_t Crc() const { return ~crc_; }
    uint64_t Length() const { return length_; }

private:
    ByteSink& out_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t length_ = 0;
};

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

GzipDecodeResult DecodeGzipFile(ByteSource& source, ByteSink& sink) {
    GzipDecodeResult result;
    GzipInput input(source);
    CheckingSink checked(sink);
    Inflater inflater;
    for (;;) {
        GzipHeader header;
        HeaderStatus hs = ReadGzipHeader(input, header);
        if (result.members > 0 && (hs == HeaderStatus::Empty || hs == HeaderStatus::NotGzip)) {
            // The end of the file, or bytes that start no member (padding,
            // appended data): the members before are complete.
            result.trailingData = hs == HeaderStatus::NotGzip;
            break;
        }
        if (hs == HeaderStatus::Empty || hs == HeaderStatus::Truncated) {
            result.status = GzipStatus::Truncated;
            break;
        }
        if (hs == HeaderStatus::NotGzip) {
            result.status = GzipStatus::NotGzip;
            break;
        }
        if (hs == HeaderStatus::BadHeaderCrc) {
            result.status = GzipStatus::BadHeaderCrc;
            break;
        }
        if (header.method != kMethodDeflate) {
            result.status = GzipStatus::UnknownMethod;
            result.method = header.method;
            break;
        }

        checked.StartMember();
        const CodecResult code = inflater.Inflate(input, checked);
        result.bytesOut += checked.Length();
        if (code != CodecResult::kOk) {
            result.inflateResult = code;
            result.status = code == CodecResult::kAborted   ? GzipStatus::Aborted
                            : code == CodecResult::kNoMemory ? GzipStatus::OutOfMemory
                                                       : GzipStatus::BadData;
            break;
        }
        input.Unread(inflater.UnusedInput(), inflater.UnusedInputSize());

        uint8_t trailer[kTrailerSize];
        if (input.ReadBytes(trailer, kTrailerSize) != kTrailerSize) {
            result.status = GzipStatus::Truncated;
            break;
        }
        uint32_t storedCrc = Le32(trailer), storedSize = Le32(trailer + 4);
        if (storedCrc != checked.Crc()) {
            result.status = GzipStatus::BadCrc;
            result.storedCrc = storedCrc;
            result.computedCrc = checked.Crc();
            break;
        }
        if (storedSize != static_cast<uint32_t>(checked.Length())) {
            result.status = GzipStatus::BadLength;
            break;
        }
        ++result.members;
    }
    return result;
}

}  // namespace tessera::gzip
