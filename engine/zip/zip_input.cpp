// The block-buffered reader of a ZIP run and its entry byte source.
#include "zip/zip_input.h"

#include <cstring>
#include <new>

namespace tessera::zip {

BlockReader::BlockReader(RandomAccessInput& input) : input_(input), fileSize_(input.Size()) {}

bool BlockReader::Allocate() {
    buffer_.reset(new (std::nothrow) uint8_t[kBlockSize + kBehind]);
    if (!buffer_) return false;
    std::memset(buffer_.get(), 0, kBlockSize + kBehind);
    blockStart_ = 0;
    fill_ = next_ = 0;
    return true;
}

ReadStatus BlockReader::LoadBlock(uint64_t start, size_t size, bool keepBehind, size_t* got) {
    *got = 0;
    if (keepBehind) std::memcpy(buffer_.get() + kBlockSize, buffer_.get(), kBehind);
    else std::memset(buffer_.get() + kBlockSize, 0, kBehind);
    blockStart_ = start;
    fill_ = next_ = 0;
    if (size > kBlockSize) size = kBlockSize;
    if (!input_.ReadAt(start, buffer_.get(), size, got)) return last_ = ReadStatus::ReadError;
    fill_ = *got;
    return last_ = (*got == size ? ReadStatus::Ok : ReadStatus::ShortRead);
}

ReadStatus BlockReader::Refill(uint64_t blockStart) {
    size_t got = 0;
    ReadStatus status = LoadBlock(blockStart, kBlockSize, false, &got);
    // A short block is the end of the file, not a failure of the refill.
    if (status == ReadStatus::ShortRead) last_ = status = ReadStatus::Ok;
    return status;
}

ReadStatus BlockReader::Seek(int64_t position) {
    if (position < 0) return last_ = ReadStatus::NegativePosition;
    uint64_t pos = static_cast<uint64_t>(position);
    if (pos >= blockStart_ && pos - blockStart_ < fill_) {
        next_ = static_cast<size_t>(pos - blockStart_);
        return last_ = ReadStatus::Ok;
    }
    uint64_t aligned = pos & ~static_cast<uint64_t>(kBlockSize - 1);
    if (aligned >= fileSize_) {
        // Past the end: an empty block there makes the next read short.
        blockStart_ = pos;
        fill_ = next_ = 0;
        return last_ = ReadStatus::Ok;
    }
    ReadStatus status = Refill(aligned);
    if (status != ReadStatus::Ok) return status;
    size_t offset = static_cast<size_t>(pos - aligned);
    next_ = offset <= fill_ ? offset : fill_;
    return last_ = ReadStatus::Ok;
}

size_t BlockReader::ReadSome(void* out, size_t size) {
    uint8_t* dest = static_cast<uint8_t*>(out);
    size_t done = 0;
    last_ = ReadStatus::Ok;
    while (done < size) {
        if (next_ == fill_) {
            if (fill_ < kBlockSize) {  // the file ended in this block
                last_ = ReadStatus::ShortRead;
                break;
            }
            if (Refill(blockStart_ + kBlockSize) != ReadStatus::Ok) break;
            if (fill_ == 0) {
                last_ = ReadStatus::ShortRead;
                break;
            }
        }
        size_t n = fill_ - next_;
        if (n > size - done) n = size - done;
        std::memcpy(dest + done, buffer_.get() + next_, n);
        next_ += n;
        done += n;
    }
    return done;
}

ReadStatus BlockReader::Read(void* out, size_t size) {
    ReadSome(out, size);
    return last_;
}

ReadStatus BlockReader::Skip(uint64_t size) {
    uint64_t target = Position() + size;
    if (target < size || target > static_cast<uint64_t>(INT64_MAX)) return last_ = ReadStatus::ShortRead;
    if (target > fileSize_) {
        Seek(static_cast<int64_t>(fileSize_));
        return last_ = ReadStatus::ShortRead;
    }
    return Seek(static_cast<int64_t>(target));
}

int BlockReader::NextByte() {
    if (next_ == fill_) {
        uint8_t byte;
        return ReadSome(&byte, 1) == 1 ? byte : -1;
    }
    return buffer_[next_++];
}

size_t EntryDataSource::Read(uint8_t* buffer, size_t capacity) {
    if (failed_ || remaining_ == 0) return 0;
    if (capacity > remaining_) capacity = static_cast<size_t>(remaining_);
    size_t done = reader_.ReadSome(buffer, capacity);
    if (done < capacity) {
        // The file ended (or failed) inside the entry: nothing more follows.
        failed_ = reader_.LastStatus() == ReadStatus::ReadError;
        remaining_ = 0;
    } else {
        remaining_ -= done;
    }
    return done;
}

}  // namespace tessera::zip
