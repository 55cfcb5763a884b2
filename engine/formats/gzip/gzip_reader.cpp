// gzip member headers and trailers, and the member loop around Inflate.
#include "formats/gzip/gzip_reader.h"

#include "codecs/crc32/crc32.h"

namespace tessera::gzip {

namespace {

// Reads exactly `count` bytes, adding them to the running header CRC.
bool ReadExact(BufferedInput& input, uint8_t* out, size_t count, uint32_t& crc) {
    if (input.ReadBytes(out, count) != count) return false;
    crc = Crc32Update(crc, out, count);
    return true;
}

// A NUL-terminated text field: kept up to kMaxTextLength characters, the
// rest read and dropped so that the data offset stays right.
bool ReadText(BufferedInput& input, std::string& text, uint32_t& crc, uint64_t& length) {
    text.clear();
    for (;;) {
        int c = input.NextByte();
        if (c < 0) return false;
        uint8_t byte = static_cast<uint8_t>(c);
        crc = Crc32Update(crc, &byte, 1);
        ++length;
        if (byte == 0) return true;
        if (text.size() < kMaxTextLength) text.push_back(static_cast<char>(byte));
    }
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

HeaderStatus ReadGzipHeader(BufferedInput& input, GzipHeader& header) {
    header = GzipHeader();
    uint32_t crc = 0xFFFFFFFFu;
    uint8_t fixed[kFixedHeaderSize];
    size_t got = input.ReadBytes(fixed, 2);
    if (got < 2) return got == 0 ? HeaderStatus::Truncated : HeaderStatus::NotGzip;
    if (fixed[0] != kId1 || fixed[1] != kId2) return HeaderStatus::NotGzip;
    crc = Crc32Update(crc, fixed, 2);
    if (!ReadExact(input, fixed + 2, kFixedHeaderSize - 2, crc)) return HeaderStatus::Truncated;
    header.method = fixed[2];
    header.flags = fixed[3];
    header.mtime = Le32(fixed + 4);
    header.extraFlags = fixed[8];
    header.os = fixed[9];
    header.headerSize = kFixedHeaderSize;

    if (header.flags & kFlagExtra) {
        uint8_t xlen[2];
        if (!ReadExact(input, xlen, 2, crc)) return HeaderStatus::Truncated;
        size_t left = static_cast<size_t>(xlen[0] | xlen[1] << 8);
        header.headerSize += 2 + left;
        uint8_t chunk[512];
        while (left) {
            size_t step = left < sizeof chunk ? left : sizeof chunk;
            if (!ReadExact(input, chunk, step, crc)) return HeaderStatus::Truncated;
            left -= step;
        }
    }
    if (header.flags & kFlagName) {
        header.hasName = true;
        if (!ReadText(input, header.name, crc, header.headerSize)) return HeaderStatus::Truncated;
    }
    if (header.flags & kFlagComment) {
        header.hasComment = true;
        if (!ReadText(input, header.comment, crc, header.headerSize)) return HeaderStatus::Truncated;
    }
    if (header.flags & kFlagHeaderCrc) {
        uint8_t stored[2];
        if (input.ReadBytes(stored, 2) != 2) return HeaderStatus::Truncated;
        header.headerSize += 2;
        uint32_t expected = ~crc & 0xFFFFu;
        if ((static_cast<uint32_t>(stored[0]) | static_cast<uint32_t>(stored[1]) << 8) != expected)
            return HeaderStatus::BadHeaderCrc;
    }
    return HeaderStatus::Ok;
}

std::string NameFromArchivePath(const std::string& archivePath) {
    size_t start = archivePath.find_last_of("/\\:");
    std::string name = start == std::string::npos ? archivePath : archivePath.substr(start + 1);
    size_t dot = name.find_last_of('.');
    size_t blank = name.find_last_of(' ');
    if (dot != std::string::npos && (blank == std::string::npos || dot > blank) && dot > 0) name.resize(dot);
    return name;
}

}  // namespace tessera::gzip
