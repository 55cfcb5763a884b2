// Random-access input of the portable archive walks (RAR, ARJ, ACE, TAR).
//
// A header walk jumps over packed data and checks every size against the
// file (a block that claims to end beyond it is damage), so it reads at
// explicit offsets rather than through a plain ByteSource. The decoders of
// codecs/ never seek: they see one entry's packed data as a RangeSource, and
// a walk that reads front to back (TAR, gzip) as an InputCursor. The Windows
// format classes supply an archive or volume file (ArchiveFileInput in
// formats/format_support.h); tests and fuzzers supply a block of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "codecs/byte_io.h"

namespace tessera {

class RandomAccessInput {
public:
    virtual ~RandomAccessInput() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to `size` bytes from `offset` and sets *got; fewer bytes only
    // at the end of the input. False on a read error.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) = 0;

    // For walks that treat a short read as damage whatever its cause (the
    // caller's input keeps the read error for the report): bytes read.
    size_t ReadUpTo(uint64_t offset, void* buffer, size_t size) {
        size_t got = 0;
        ReadAt(offset, buffer, size, &got);
        return got;
    }
};

// A block of memory, borrowed or (from a vector) owned.
class MemoryInput final : public RandomAccessInput {
public:
    MemoryInput(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    explicit MemoryInput(std::vector<uint8_t> bytes)
        : owned_(std::move(bytes)), data_(owned_.data()), size_(owned_.size()) {}
    MemoryInput(const MemoryInput&) = delete;
    MemoryInput& operator=(const MemoryInput&) = delete;
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        if (offset >= size_) return true;
        size_t n = size_ - static_cast<size_t>(offset);
        if (n > size) n = size;
        if (n) std::memcpy(buffer, data_ + offset, n);
        *got = n;
        return true;
    }

private:
    std::vector<uint8_t> owned_;
    const uint8_t* data_;
    size_t size_;
};

// A ByteSource over `length` bytes of an input starting at `offset`: how a
// decoder sees one entry's packed data.
class RangeSource final : public ByteSource {
public:
    RangeSource(RandomAccessInput& input, uint64_t offset, uint64_t length)
        : input_(input), position_(offset), left_(length) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t want = left_ < capacity ? static_cast<size_t>(left_) : capacity;
        if (want == 0) return 0;
        size_t got = input_.ReadUpTo(position_, buffer, want);
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
    RandomAccessInput& input_;
    uint64_t position_;
    uint64_t left_;
    bool shortRead_ = false;
};

// The input read front to back from its start, with a way to pass over
// bytes without reading them. A read error ends it like the end of the input.
class InputCursor final : public ByteSource {
public:
    explicit InputCursor(RandomAccessInput& input) : input_(input) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t got = input_.ReadUpTo(position_, buffer, capacity);
        position_ += got;
        return got;
    }
    // Moves `count` bytes forward. False when fewer remain: the cursor is
    // then at the end of the input.
    bool SkipForward(uint64_t count) {
        uint64_t size = input_.Size();
        uint64_t left = size > position_ ? size - position_ : 0;
        position_ = count <= left ? position_ + count : size;
        return count <= left;
    }

private:
    RandomAccessInput& input_;
    uint64_t position_ = 0;
};

}  // namespace tessera
