// gzip member headers and trailers, and the member loop around Inflate.
#include "formats/gzip/gzip_reader.h"

#include <cstring>

#include "codecs/crc32/crc32.h"

namespace tessera::gzip {

namespace {

// Reads exactly `count` bytes, adding them to the running header CRC.
bool ReadExact(GzipInput& input, uint8_t* out, size_t count, uint32_t& crc) {
    if (input.ReadBytes(out, count) != count) return false;
    crc = Crc32Update(crc, out, count);
    return true;
}

// A NUL-terminated text field: kept up to kMaxTextLength characters, the
// rest read and dropped so that the data offset stays right.
bool ReadText(GzipInput& input, std::string& text, uint32_t& crc, uint64_t& length) {
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

GzipInput::GzipInput(ByteSource& source, size_t bufferSize) : source_(source), buffer_(bufferSize) {}

size_t GzipInput::Read(uint8_t* buffer, size_t capacity) {
    size_t n = 0;
    if (pushbackNext_ < pushback_.size()) {
        n = pushback_.size() - pushbackNext_;
        if (n > capacity) n = capacity;
        std::memcpy(buffer, pushback_.data() + pushbackNext_, n);
        pushbackNext_ += n;
    } else if (next_ < end_) {
        n = end_ - next_;
        if (n > capacity) n = capacity;
        std::memcpy(buffer, buffer_.data() + next_, n);
        next_ += n;
    } else if (capacity >= buffer_.size()) {
        n = source_.Read(buffer, capacity);  // large reads bypass the buffer
    } else {
        next_ = 0;
        end_ = source_.Read(buffer_.data(), buffer_.size());
        return end_ ? Read(buffer, capacity) : 0;
    }
    position_ += n;
    return n;
}

int GzipInput::NextByte() {
    uint8_t byte;
    if (pushbackNext_ == pushback_.size() && next_ < end_) {  // the common case
        ++position_;
        return buffer_[next_++];
    }
    return Read(&byte, 1) ? byte : -1;
}

size_t GzipInput::ReadBytes(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
        size_t n = Read(out + done, count - done);
        if (n == 0) break;
        done += n;
    }
    return done;
}

void GzipInput::Unread(const uint8_t* data, size_t size) {
    if (size == 0) return;
    std::vector<uint8_t> rest(pushback_.begin() + static_cast<std::ptrdiff_t>(pushbackNext_), pushback_.end());
    pushback_.assign(data, data + size);
    pushback_.insert(pushback_.end(), rest.begin(), rest.end());
    pushbackNext_ = 0;
    position_ -= size;
}

HeaderStatus ReadGzipHeader(GzipInput& input, GzipHeader& header) {
    header = GzipHeader();
    uint32_t crc = 0xFFFFFFFFu;
    uint8_t fixed[kFixedHeaderSize];
    size_t got = input.ReadBytes(fixed, 2);
    if (got < 2) return got == 0 ? HeaderStatus::Empty : HeaderStatus::NotGzip;
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
