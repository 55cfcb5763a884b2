// Byte sources and sinks: the only way codecs see input and output.
//
// A codec never touches files, windows or messages. The caller hands it a
// ByteSource to pull compressed (or plain) bytes from and a ByteSink to push
// results into; a sink that answers false stops the codec at once, which is
// how a user's cancel or a failed write reaches the inner loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tessera {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to `capacity` bytes into `buffer` and returns how many; 0 means
    // the input is used up (a source never hands out bytes beyond its end).
    virtual size_t Read(uint8_t* buffer, size_t capacity) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes `size` bytes. Returning false stops the codec (cancel or a failed
    // write); the codec then returns its "aborted" result without more output.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Reads from a block of memory the caller keeps alive.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t n = size_ - position_ < capacity ? size_ - position_ : capacity;
        if (n) std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return n;
    }
    size_t Consumed() const { return position_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// Appends everything to a vector; optionally refuses once `limit` bytes are
// exceeded so tests and fuzzers can bound the output of hostile input.
class VectorSink final : public ByteSink {
public:
    explicit VectorSink(size_t limit = SIZE_MAX) : limit_(limit) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (size > limit_ - bytes.size()) return false;
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<uint8_t> bytes;

private:
    size_t limit_;
};

// Swallows output (testing without writing); counts it.
class CountingSink final : public ByteSink {
public:
    bool Write(const uint8_t*, size_t size) override { count += size; return true; }
    uint64_t count = 0;
};

// Buffered reader over a ByteSource with an inline fast path: most calls are
// a pointer increment, the source is asked only when the buffer is empty.
class BufferedInput {
public:
    explicit BufferedInput(ByteSource& source, size_t bufferSize = 32768)
        : source_(source), buffer_(bufferSize) {}

    // Next byte, or -1 once the source is used up.
    int NextByte() {
        if (next_ == end_ && !Refill()) return -1;
        return *next_++;
    }
    // Copies up to `count` bytes; returns how many were available.
    size_t ReadBytes(uint8_t* out, size_t count) {
        size_t done = 0;
        while (done < count) {
            if (next_ == end_ && !Refill()) break;
            size_t n = static_cast<size_t>(end_ - next_);
            if (n > count - done) n = count - done;
            std::memcpy(out + done, next_, n);
            next_ += n;
            done += n;
        }
        return done;
    }
    // Bytes already fetched from the source and not yet handed out.
    size_t Buffered() const { return static_cast<size_t>(end_ - next_); }

private:
    bool Refill() {
        size_t n = source_.Read(buffer_.data(), buffer_.size());
        next_ = buffer_.data();
        end_ = next_ + n;
        return n != 0;
    }

    ByteSource& source_;
    std::vector<uint8_t> buffer_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
};

}  // namespace tessera
