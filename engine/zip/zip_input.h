// Random-access archive input and the block-buffered reader of a ZIP run.
//
// The format class supplies a RandomAccessInput over its open file handle
// (ZipFileInput); tests and fuzzers use MemoryInput. BlockReader is the run's one read
// buffer: 32,768 bytes of data refilled from 32,768-aligned blocks, plus 4
// bytes behind them so that a signature straddling two blocks is still seen
// by a backward scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/byte_io.h"
#include "formats/random_access_input.h"

namespace tessera::zip {

// How a read primitive ended. The class turns these into its messages:
// ReadError -> "Error reading archive: %s" (level 51); NegativePosition ->
// "Archive is damaged: %s." (level 51); ShortRead -> the caller's own
// "damaged"/"not found" message.
enum class ReadStatus { Ok, ShortRead, ReadError, NegativePosition };

class BlockReader {
public:
    static constexpr size_t kBlockSize = 32768;
    static constexpr size_t kBehind = 4;  // room for a signature straddling two blocks

    explicit BlockReader(RandomAccessInput& input);

    // False when the buffer could not be allocated (the class reports the
    // memory message, level 4). Allocation happens here, once per run.
    bool Allocate();

    uint64_t FileSize() const { return fileSize_; }
    RandomAccessInput& Input() { return input_; }

    // Moves to `position`: inside the current block by moving the pointer,
    // else by refilling from the aligned block holding it. A position at or
    // past the end is allowed (the next read is then short).
    ReadStatus Seek(int64_t position);
    // Copies `size` bytes from the current position, across refills.
    ReadStatus Read(void* out, size_t size);
    // Copies up to `size` bytes and returns how many (fewer only at the end
    // of the file or on a read error; LastStatus() tells which).
    size_t ReadSome(void* out, size_t size);
    // Skips `size` bytes (a seek relative to the current position).
    ReadStatus Skip(uint64_t size);
    uint64_t Position() const { return blockStart_ + static_cast<uint64_t>(next_); }

    // Next byte, or -1 at the end of the file or on a read error (then
    // LastStatus() says which).
    int NextByte();
    ReadStatus LastStatus() const { return last_; }

    // Raw access for the end-record search, which fills the buffer block by
    // block itself: LoadBlock reads [start, start + size) into the data part,
    // first moving the buffer's first 4 bytes behind it when `keepBehind`.
    ReadStatus LoadBlock(uint64_t start, size_t size, bool keepBehind, size_t* got);
    const uint8_t* Data() const { return buffer_.get(); }

private:
    ReadStatus Refill(uint64_t blockStart);

    RandomAccessInput& input_;
    uint64_t fileSize_;
    std::unique_ptr<uint8_t[]> buffer_;  // kBlockSize + kBehind bytes
    uint64_t blockStart_ = 0;            // file position of buffer_[0]
    size_t fill_ = 0;                    // valid data bytes in the block
    size_t next_ = 0;                    // current pointer (index into the block)
    ReadStatus last_ = ReadStatus::Ok;
};

// The compressed bytes of one entry as a byte source for the codecs: at most
// `remaining` bytes from the reader's current position. The class wraps it
// with decryption when the entry is encrypted.
class EntryDataSource final : public ByteSource {
public:
    EntryDataSource(BlockReader& reader, uint64_t remaining) : reader_(reader), remaining_(remaining) {}
    size_t Read(uint8_t* buffer, size_t capacity) override;
    uint64_t Remaining() const { return remaining_; }
    // A read error (not the end of the entry) ended the data.
    bool Failed() const { return failed_; }

private:
    BlockReader& reader_;
    uint64_t remaining_;
    bool failed_ = false;
};

}  // namespace tessera::zip
