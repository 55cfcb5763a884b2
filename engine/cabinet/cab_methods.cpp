// Compression-method contexts (see cab_methods.h).
#include "engine/cabinet/cab_methods.h"

#include <cstring>
#include <new>

#include "codecs/exceptions.h"
#include "codecs/lzx/lzx_decoder.h"
#include "codecs/lzx/lzx_encoder.h"
#include "codecs/mszip/mszip.h"
#include "codecs/quantum/quantum_decoder.h"
#include "engine/cabinet/cab_format.h"

namespace tessera::cab {

void* CallbackMemory::do_allocate(size_t bytes, size_t /*alignment*/) {
    void* p = allocate_(context_, bytes);
    if (!p) TESSERA_THROW_BAD_ALLOC();
    return p;
}

void CallbackMemory::do_deallocate(void* p, size_t /*bytes*/, size_t /*alignment*/) { free_(context_, p); }

struct MethodContext {
    explicit MethodContext(uint32_t t, std::pmr::memory_resource* m) : tag(t), memory(m) {}
    virtual ~MethodContext() = default;
    uint32_t tag;
    std::pmr::memory_resource* memory;
    size_t allocationSize = 0;
};

namespace {

struct NoneDecoder final : MethodContext {
    explicit NoneDecoder(std::pmr::memory_resource* m) : MethodContext(kTagNoneDecoder, m) {}
};
struct MszipDecoderContext final : MethodContext {
    explicit MszipDecoderContext(std::pmr::memory_resource* m) : MethodContext(kTagMszipDecoder, m) {}
    mszip::MszipDecoder codec;
};
struct QuantumDecoderContext final : MethodContext {
    explicit QuantumDecoderContext(std::pmr::memory_resource* m) : MethodContext(kTagQuantumDecoder, m), codec(m) {}
    quantum::QuantumDecoder codec;
};
struct LzxDecoderContext final : MethodContext {
    explicit LzxDecoderContext(std::pmr::memory_resource* m) : MethodContext(kTagLzxDecoder, m), codec(m) {}
    lzx::LzxDecoder codec;
};
struct NoneEncoder final : MethodContext {
    explicit NoneEncoder(std::pmr::memory_resource* m) : MethodContext(kTagNoneEncoder, m) {}
};
struct MszipEncoderContext final : MethodContext {
    explicit MszipEncoderContext(std::pmr::memory_resource* m) : MethodContext(kTagMszipEncoder, m) {}
    mszip::MszipEncoder codec;
};
struct LzxEncoderContext final : MethodContext {
    explicit LzxEncoderContext(std::pmr::memory_resource* m) : MethodContext(kTagLzxEncoder, m), codec(m) {}
    lzx::LzxEncoder codec;
};

template <typename T>
T* NewContext(std::pmr::memory_resource* memory) {
    void* p = memory->allocate(sizeof(T), alignof(std::max_align_t));
    TESSERA_TRY {
        T* context = new (p) T(memory);
        context->allocationSize = sizeof(T);
        return context;
    } TESSERA_CATCH(...) {
        memory->deallocate(p, sizeof(T), alignof(std::max_align_t));
        TESSERA_RETHROW;
    }
}

void DeleteContext(MethodContext* context) {
    std::pmr::memory_resource* memory = context->memory;
    size_t size = context->allocationSize;
    context->tag = 0;
    context->~MethodContext();
    memory->deallocate(context, size, alignof(std::max_align_t));
}

bool IsDecoder(uint32_t tag) {
    return tag == kTagNoneDecoder || tag == kTagMszipDecoder || tag == kTagQuantumDecoder || tag == kTagLzxDecoder;
}
bool IsEncoder(uint32_t tag) { return tag == kTagNoneEncoder || tag == kTagMszipEncoder || tag == kTagLzxEncoder; }

}  // namespace

uint32_t ContextTag(const MethodContext* context) { return context ? context->tag : 0; }

MethodResult CreateDecompressor(uint16_t typeWord, std::pmr::memory_resource* memory, MethodContext** context,
                                uint32_t* maxInput) {
    *context = nullptr;
    *maxInput = 0;
    TESSERA_TRY {
        switch (MethodOf(typeWord)) {
        case kMethodNone:
            *context = NewContext<NoneDecoder>(memory);
            *maxInput = kBlockSize;
            return MethodResult::kOk;
        case kMethodMszip: {
            auto* c = NewContext<MszipDecoderContext>(memory);
            if (!c->codec.Init()) {
                DeleteContext(c);
                return MethodResult::kOutOfMemory;
            }
            *context = c;
            *maxInput = kBlockSize + mszip::kMaxGrowth;
            return MethodResult::kOk;
        }
        case kMethodQuantum: {
            auto* c = NewContext<QuantumDecoderContext>(memory);
            if (!c->codec.Init(WindowBitsOf(typeWord))) {
                bool oom = c->codec.OutOfMemory();
                DeleteContext(c);
                return oom ? MethodResult::kOutOfMemory : MethodResult::kBadMethod;
            }
            *context = c;
            *maxInput = kMaxCompressedBlock;
            return MethodResult::kOk;
        }
        case kMethodLzx: {
            auto* c = NewContext<LzxDecoderContext>(memory);
            if (!c->codec.Init(WindowBitsOf(typeWord))) {
                bool oom = c->codec.OutOfMemory();
                DeleteContext(c);
                return oom ? MethodResult::kOutOfMemory : MethodResult::kBadMethod;
            }
            *context = c;
            *maxInput = kMaxCompressedBlock;
            return MethodResult::kOk;
        }
        default:
            return MethodResult::kBadMethod;
        }
    } TESSERA_CATCH(const std::bad_alloc&) {
        return MethodResult::kOutOfMemory;
    }
}

MethodResult DecompressBlock(MethodContext* context, const uint8_t* in, uint32_t inSize, uint8_t* out,
                             uint32_t outSize) {
    uint32_t tag = ContextTag(context);
    if (!IsDecoder(tag)) return MethodResult::kInvalidContext;
    if (outSize > kBlockSize) return MethodResult::kBadData;
    bool ok = false;
    switch (tag) {
    case kTagNoneDecoder:
        ok = inSize == outSize;
        if (ok && outSize) std::memcpy(out, in, outSize);
        break;
    case kTagMszipDecoder:
        ok = static_cast<MszipDecoderContext*>(context)->codec.DecodeBlock(in, inSize, out, outSize);
        break;
    case kTagQuantumDecoder:
        ok = static_cast<QuantumDecoderContext*>(context)->codec.DecodeBlock(in, inSize, out, outSize);
        break;
    case kTagLzxDecoder:
        ok = static_cast<LzxDecoderContext*>(context)->codec.DecodeBlock(in, inSize, out, outSize);
        break;
    default:
        break;
    }
    return ok ? MethodResult::kOk : MethodResult::kBadData;
}

MethodResult ResetDecompressor(MethodContext* context) {
    switch (ContextTag(context)) {
    case kTagNoneDecoder: break;
    case kTagMszipDecoder: static_cast<MszipDecoderContext*>(context)->codec.Reset(); break;
    case kTagQuantumDecoder: static_cast<QuantumDecoderContext*>(context)->codec.Reset(); break;
    case kTagLzxDecoder: static_cast<LzxDecoderContext*>(context)->codec.Reset(); break;
    default: return MethodResult::kInvalidContext;
    }
    return MethodResult::kOk;
}

MethodResult DestroyDecompressor(MethodContext* context) {
    if (!IsDecoder(ContextTag(context))) return MethodResult::kInvalidContext;
    DeleteContext(context);
    return MethodResult::kOk;
}

MethodResult CreateCompressor(uint16_t typeWord, std::pmr::memory_resource* memory, MethodContext** context,
                              uint32_t* maxOutput) {
    *context = nullptr;
    *maxOutput = 0;
    TESSERA_TRY {
        switch (MethodOf(typeWord)) {
        case kMethodNone:
            *context = NewContext<NoneEncoder>(memory);
            *maxOutput = kBlockSize;
            return MethodResult::kOk;
        case kMethodMszip: {
            auto* c = NewContext<MszipEncoderContext>(memory);
            if (!c->codec.Init()) {
                DeleteContext(c);
                return MethodResult::kOutOfMemory;
            }
            *context = c;
            *maxOutput = kBlockSize + mszip::kMaxGrowth;
            return MethodResult::kOk;
        }
        case kMethodLzx: {
            auto* c = NewContext<LzxEncoderContext>(memory);
            if (!c->codec.Init(WindowBitsOf(typeWord))) {
                bool oom = c->codec.OutOfMemory();
                DeleteContext(c);
                return oom ? MethodResult::kOutOfMemory : MethodResult::kBadMethod;
            }
            *context = c;
            *maxOutput = kMaxCompressedBlock;
            return MethodResult::kOk;
        }
        default:
            return MethodResult::kBadMethod;
        }
    } TESSERA_CATCH(const std::bad_alloc&) {
        return MethodResult::kOutOfMemory;
    }
}

MethodResult CompressBlock(MethodContext* context, const uint8_t* in, uint32_t inSize, uint8_t* out,
                           uint32_t outCapacity, uint32_t* outSize) {
    *outSize = 0;
    uint32_t tag = ContextTag(context);
    if (!IsEncoder(tag)) return MethodResult::kInvalidContext;
    if (inSize > kBlockSize) return MethodResult::kBadData;
    size_t n = 0;
    switch (tag) {
    case kTagNoneEncoder:
        if (outCapacity < inSize) return MethodResult::kOutputTooSmall;
        if (inSize) std::memcpy(out, in, inSize);
        n = inSize;
        break;
    case kTagMszipEncoder:
        n = static_cast<MszipEncoderContext*>(context)->codec.EncodeBlock(in, inSize, out, outCapacity);
        if (n == 0) return MethodResult::kOutputTooSmall;
        break;
    case kTagLzxEncoder:
        n = static_cast<LzxEncoderContext*>(context)->codec.EncodeBlock(in, inSize, out, outCapacity);
        if (n == 0 && inSize) return MethodResult::kOutputTooSmall;
        break;
    default:
        break;
    }
    *outSize = static_cast<uint32_t>(n);
    return MethodResult::kOk;
}

MethodResult ResetCompressor(MethodContext* context) {
    switch (ContextTag(context)) {
    case kTagNoneEncoder: break;
    case kTagMszipEncoder: static_cast<MszipEncoderContext*>(context)->codec.Reset(); break;
    case kTagLzxEncoder: static_cast<LzxEncoderContext*>(context)->codec.Reset(); break;
    default: return MethodResult::kInvalidContext;
    }
    return MethodResult::kOk;
}

MethodResult DestroyCompressor(MethodContext* context) {
    if (!IsEncoder(ContextTag(context))) return MethodResult::kInvalidContext;
    DeleteContext(context);
    return MethodResult::kOk;
}

}  // namespace tessera::cab
