// Compression-method contexts of the cabinet engines.
//
// The reader sets up one decompressor per folder type word (none, MSZIP,
// Quantum, LZX), the builder one compressor (none, MSZIP, LZX). A context
// starts with a 4-byte tag naming its method and direction; every operation
// checks the tag first and answers kInvalidContext for anything else, so a
// compressor handed to a decompressing call, or a destroyed context, is
// refused rather than misread. Memory comes from the caller's resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>

namespace tessera::cab {

enum class MethodResult {
    kOk = 0,
    kBadData,         // the block does not decode (or does not fit its size)
    kInvalidContext,  // wrong or destroyed context
    kOutOfMemory,
    kBadMethod,       // method or window not supported in this direction
    kOutputTooSmall,
};

// Allocation through a pair of caller callbacks, as the engines' users
// supply them; a null answer becomes std::bad_alloc inside the codecs.
class CallbackMemory final : public std::pmr::memory_resource {
public:
    using AllocateFn = void* (*)(void* context, size_t size);
    using FreeFn = void (*)(void* context, void* block);
    CallbackMemory(AllocateFn allocate, FreeFn release, void* context)
        : allocate_(allocate), free_(release), context_(context) {}

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* p, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
    AllocateFn allocate_;
    FreeFn free_;
    void* context_;
};

struct MethodContext;  // opaque; begins with the tag

constexpr uint32_t MakeTag(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kTagNoneDecoder = MakeTag('N', 'O', 'N', 'd');
constexpr uint32_t kTagMszipDecoder = MakeTag('M', 'S', 'Z', 'd');
constexpr uint32_t kTagQuantumDecoder = MakeTag('Q', 'T', 'M', 'd');
constexpr uint32_t kTagLzxDecoder = MakeTag('L', 'Z', 'X', 'd');
constexpr uint32_t kTagNoneEncoder = MakeTag('N', 'O', 'N', 'e');
constexpr uint32_t kTagMszipEncoder = MakeTag('M', 'S', 'Z', 'e');
constexpr uint32_t kTagLzxEncoder = MakeTag('L', 'Z', 'X', 'e');

// Tag of a context (0 for null).
uint32_t ContextTag(const MethodContext* context);

// Decompressors. `maxInput` receives the largest compressed block the
// method accepts (the size of the reader's block buffer).
MethodResult CreateDecompressor(uint16_t typeWord, std::pmr::memory_resource* memory, MethodContext** context,
                                uint32_t* maxInput);
// Decodes one block into exactly `outSize` bytes (cbUncomp).
MethodResult DecompressBlock(MethodContext* context, const uint8_t* in, uint32_t inSize, uint8_t* out,
                             uint32_t outSize);
MethodResult ResetDecompressor(MethodContext* context);
MethodResult DestroyDecompressor(MethodContext* context);

// Compressors. `maxOutput` receives the largest block the method can write
// for 32,768 input bytes.
MethodResult CreateCompressor(uint16_t typeWord, std::pmr::memory_resource* memory, MethodContext** context,
                              uint32_t* maxOutput);
MethodResult CompressBlock(MethodContext* context, const uint8_t* in, uint32_t inSize, uint8_t* out,
                           uint32_t outCapacity, uint32_t* outSize);
MethodResult ResetCompressor(MethodContext* context);
MethodResult DestroyCompressor(MethodContext* context);

}  // namespace tessera::cab
