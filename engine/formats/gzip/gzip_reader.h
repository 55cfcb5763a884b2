// gzip members (RFC 1952): header parsing and the decoding of a whole file
// of concatenated members into one stream.
//
// The header reader handles every flag of the format: FEXTRA is skipped by
// its length, FNAME and FCOMMENT are read up to their NUL (kept up to
// kMaxTextLength characters, the rest skipped), FHCRC is checked. Nothing is
// allocated from a header field.
//
// DecodeGzipFile inflates every member of the input into one sink, checks
// each member's trailer (CRC-32 and ISIZE) and stops at the first fault. Bytes
// after the last member that do not start another member are not decoded;
// the result says so, the caller decides whether to warn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/byte_io.h"
#include "codecs/codec_result.h"

namespace tessera::gzip {

constexpr uint8_t kId1 = 0x1F, kId2 = 0x8B;
constexpr uint8_t kMethodDeflate = 8;
constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagEncrypted = 0x20;  // not in RFC 1952; shown as encrypted
constexpr size_t kFixedHeaderSize = 10;
constexpr size_t kTrailerSize = 8;
// Longest name or comment kept (a 32 KiB buffer with its terminator).
constexpr size_t kMaxTextLength = 32767;

struct GzipHeader {
    uint8_t method = 0;
    uint8_t flags = 0;
    uint32_t mtime = 0;  // seconds since 1970-01-01 00:00 UTC; 0 = none
    uint8_t extraFlags = 0;
    uint8_t os = 0;
    bool hasName = false;
    bool hasComment = false;
    std::string name;      // FNAME without its NUL, as stored
    std::string comment;   // FCOMMENT without its NUL
    uint64_t headerSize = 0;  // bytes from the member's start to its compressed data
};

// The input of the member loop: a buffered reader over the file that is also
// the ByteSource Inflate draws from, and takes back the bytes Inflate fetched
// beyond the end of its stream (the trailer and the next member).
class GzipInput final : public ByteSource {
public:
    explicit GzipInput(ByteSource& source, size_t bufferSize = 32768);
    size_t Read(uint8_t* buffer, size_t capacity) override;
    // Next byte, or -1 at the end of the input.
    int NextByte();
    // Up to `count` bytes; fewer only at the end of the input.
    size_t ReadBytes(uint8_t* out, size_t count);
    // Puts bytes back in front of the input (at most what was read last).
    void Unread(const uint8_t* data, size_t size);
    // Bytes handed out so far (less those put back).
    uint64_t Position() const { return position_; }

private:
    ByteSource& source_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> pushback_;
    size_t pushbackNext_ = 0;
    size_t next_ = 0, end_ = 0;
    uint64_t position_ = 0;
};

enum class HeaderStatus {
    Ok,
    Empty,         // no byte at all before the end of the input
    NotGzip,       // the signature is missing
    Truncated,     // the input ended inside the header
    BadHeaderCrc,  // FHCRC does not match the header bytes
};

// Reads one member header from the current position of `input`.
HeaderStatus ReadGzipHeader(GzipInput& input, GzipHeader& header);

enum class GzipStatus {
    Ok,
    NotGzip,        // the first member's signature is missing
    Truncated,      // the input is empty or ended inside a header or a trailer
    BadHeaderCrc,   // FHCRC mismatch
    UnknownMethod,  // CM other than 8; `method` says which
    BadData,        // the Inflate decoder failed; `inflateResult` says how
    OutOfMemory,    // the Inflate decoder could not build its tables
    Aborted,        // the sink refused a write (cancel or write failure)
    BadCrc,         // a member's CRC-32 differs; `storedCrc`/`computedCrc`
    BadLength,      // a member's ISIZE differs from its output length mod 2^32
};

struct GzipDecodeResult {
    GzipStatus status = GzipStatus::Ok;
    int members = 0;            // members decoded completely
    uint64_t bytesOut = 0;      // bytes handed to the sink
    bool trailingData = false;  // bytes after the last member that are no member
    int method = 0;             // UnknownMethod
    CodecResult inflateResult = CodecResult::kOk;  // BadData / OutOfMemory: the decoder's code
    uint32_t storedCrc = 0;     // BadCrc
    uint32_t computedCrc = 0;   // BadCrc
};

// Decodes every member of `source` into `sink`.
GzipDecodeResult DecodeGzipFile(ByteSource& source, ByteSink& sink);

// The name a gzip member without FNAME is shown under: the archive's file
// name without its folder and without its last extension (the extension
// starts at the last '.' after the last blank, '/' or '\\'), so
// "data.tar.gz" gives "data.tar"; a name without such a dot is taken whole.
std::string NameFromArchivePath(const std::string& archivePath);

}  // namespace tessera::gzip
