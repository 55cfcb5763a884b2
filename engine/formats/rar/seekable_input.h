// Random-access input for the header walks of RAR and ARJ archives.
//
// A header walk needs to jump over packed data and to know the file size (a
// block that claims to end beyond it is damage), so it reads through this
// interface rather than a plain ByteSource. The Windows format classes wrap
// a file handle in it; tests and fuzzers use a block of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/byte_io.h"

namespace tessera {

class SeekableInput {
public:
    virtual ~SeekableInput() = default;
    virtual uint64_t Size() = 0;
    // Copies up to `size` bytes from `offset`; returns how many were read
    // (fewer only at the end of the input or on a read error).
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

class MemoryInput final : public SeekableInput {
public:
    MemoryInput(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    uint64_t Size() override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
        if (offset >= size_) return 0;
        size_t n = size_ - static_cast<size_t>(offset);
        if (n > size) n = size;
        std::memcpy(buffer, data_ + offset, n);
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// A ByteSource over `length` bytes of a SeekableInput starting at `offset`:
// how a decoder sees one entry's packed data.
class RangeSource final : public ByteSource {
public:
    RangeSource(SeekableInput& input, uint64_t offset, uint64_t length)
        : input_(input), position_(offset), left_(length) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t want = left_ < capacity ? static_cast<size_t>(left_) : capacity;
        if (want == 0) return 0;
        size_t got = input_.ReadAt(position_, buffer, want);
        position_ += got;
        left_ -= got;
        if (got < want) {  // end of file or read error: nothing more
            left_ = 0;
            shortRead_ = true;
        }
        return got;
    }
    uint64_t Left() const { return left_; }
    // True once the input ended before `length` bytes were read.
    bool ShortRead() const { return shortRead_; }

private:
    SeekableInput& input_;
    uint64_t position_;
    uint64_t left_;
    bool shortRead_ = false;
};

}  // namespace tessera
