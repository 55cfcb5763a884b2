// ZIP records: byte-exact parse and serialize, method names, version text and
// the header values this system writes.
#include "zip/zip_records.h"

#include <cstdio>

#include "codecs/crc32/crc32.h"

namespace tessera::zip {

bool ParseLocalHeader(const uint8_t* b, LocalHeader* h) {
    if (GetU32(b) != kLocalSignature) return false;
    h->versionNeeded = GetU16(b + 4);
    h->flags = GetU16(b + 6);
    h->method = GetU16(b + 8);
    h->time = GetU16(b + 10);
    h->date = GetU16(b + 12);
    h->crc = GetU32(b + 14);
    h->compressedSize = GetU32(b + 18);
    h->uncompressedSize = GetU32(b + 22);
    h->nameLength = GetU16(b + 26);
    h->extraLength = GetU16(b + 28);
    return true;
}

bool ParseCentralHeader(const uint8_t* b, CentralHeader* h) {
    if (GetU32(b) != kCentralSignature) return false;
    h->versionMadeBy = GetU16(b + 4);
    h->versionNeeded = GetU16(b + 6);
    h->flags = GetU16(b + 8);
    h->method = GetU16(b + 10);
    h->time = GetU16(b + 12);
    h->date = GetU16(b + 14);
    h->crc = GetU32(b + 16);
    h->compressedSize = GetU32(b + 20);
    h->uncompressedSize = GetU32(b + 24);
    h->nameLength = GetU16(b + 28);
    h->extraLength = GetU16(b + 30);
    h->commentLength = GetU16(b + 32);
    h->diskStart = GetU16(b + 34);
    h->internalAttributes = GetU16(b + 36);
    h->externalAttributes = GetU32(b + 38);
    h->localOffset = GetU32(b + 42);
    return true;
}

bool ParseEndRecord(const uint8_t* b, EndRecord* r) {
    if (GetU32(b) != kEndSignature) return false;
    r->thisDisk = GetU16(b + 4);
    r->centralDisk = GetU16(b + 6);
    r->entriesOnDisk = GetU16(b + 8);
    r->totalEntries = GetU16(b + 10);
    r->centralSize = GetU32(b + 12);
    r->centralOffset = GetU32(b + 16);
    r->commentLength = GetU16(b + 20);
    return true;
}

bool ParseDataDescriptor(const uint8_t* b, DataDescriptor* d) {
    if (GetU32(b) != kDescriptorSignature) return false;
    d->crc = GetU32(b + 4);
    d->compressedSize = GetU32(b + 8);
    d->uncompressedSize = GetU32(b + 12);
    return true;
}

void SerializeLocalHeader(const LocalHeader& h, uint8_t* b) {
    PutU32(b, kLocalSignature);
    PutU16(b + 4, h.versionNeeded);
    PutU16(b + 6, h.flags);
    PutU16(b + 8, h.method);
    PutU16(b + 10, h.time);
    PutU16(b + 12, h.date);
    PutU32(b + 14, h.crc);
    PutU32(b + 18, h.compressedSize);
    PutU32(b + 22, h.uncompressedSize);
    PutU16(b + 26, h.nameLength);
    PutU16(b + 28, h.extraLength);
}

void SerializeCentralHeader(const CentralHeader& h, uint8_t* b) {
    PutU32(b, kCentralSignature);
    PutU16(b + 4, h.versionMadeBy);
    PutU16(b + 6, h.versionNeeded);
    PutU16(b + 8, h.flags);
    PutU16(b + 10, h.method);
    PutU16(b + 12, h.time);
    PutU16(b + 14, h.date);
    PutU32(b + 16, h.crc);
    PutU32(b + 20, h.compressedSize);
    PutU32(b + 24, h.uncompressedSize);
    PutU16(b + 28, h.nameLength);
    PutU16(b + 30, h.extraLength);
    PutU16(b + 32, h.commentLength);
    PutU16(b + 34, h.diskStart);
    PutU16(b + 36, h.internalAttributes);
    PutU32(b + 38, h.externalAttributes);
    PutU32(b + 42, h.localOffset);
}

void SerializeEndRecord(const EndRecord& r, uint8_t* b) {
    PutU32(b, kEndSignature);
    PutU16(b + 4, r.thisDisk);
    PutU16(b + 6, r.centralDisk);
    PutU16(b + 8, r.entriesOnDisk);
    PutU16(b + 10, r.totalEntries);
    PutU32(b + 12, r.centralSize);
    PutU32(b + 16, r.centralOffset);
    PutU16(b + 20, r.commentLength);
}

void SerializeDataDescriptor(const DataDescriptor& d, uint8_t* b) {
    PutU32(b, kDescriptorSignature);
    PutU32(b + 4, d.crc);
    PutU32(b + 8, d.compressedSize);
    PutU32(b + 12, d.uncompressedSize);
}

bool ParseZip64Locator(const uint8_t* b, Zip64Locator* l) {
    if (GetU32(b) != kZip64LocatorSignature) return false;
    l->endDisk = GetU32(b + 4);
    l->endOffset = GetU64(b + 8);
    l->totalDisks = GetU32(b + 16);
    return true;
}

bool ParseZip64EndRecord(const uint8_t* b, Zip64EndRecord* r) {
    if (GetU32(b) != kZip64EndSignature) return false;
    r->recordSize = GetU64(b + 4);
    r->versionMadeBy = GetU16(b + 12);
    r->versionNeeded = GetU16(b + 14);
    r->thisDisk = GetU32(b + 16);
    r->centralDisk = GetU32(b + 20);
    r->entriesOnDisk = GetU64(b + 24);
    r->totalEntries = GetU64(b + 32);
    r->centralSize = GetU64(b + 40);
    r->centralOffset = GetU64(b + 48);
    return true;
}

void SerializeZip64Locator(const Zip64Locator& l, uint8_t* b) {
    PutU32(b, kZip64LocatorSignature);
    PutU32(b + 4, l.endDisk);
    PutU64(b + 8, l.endOffset);
    PutU32(b + 16, l.totalDisks);
}

void SerializeZip64EndRecord(const Zip64EndRecord& r, uint8_t* b) {
    PutU32(b, kZip64EndSignature);
    PutU64(b + 4, r.recordSize);
    PutU16(b + 12, r.versionMadeBy);
    PutU16(b + 14, r.versionNeeded);
    PutU32(b + 16, r.thisDisk);
    PutU32(b + 20, r.centralDisk);
    PutU64(b + 24, r.entriesOnDisk);
    PutU64(b + 32, r.totalEntries);
    PutU64(b + 40, r.centralSize);
    PutU64(b + 48, r.centralOffset);
}

bool FindExtraBlock(const uint8_t* extra, size_t length, uint16_t id, const uint8_t** data, size_t* size) {
    size_t pos = 0;
    while (extra && length - pos >= 4) {
        const uint16_t blockId = GetU16(extra + pos);
        const size_t blockSize = GetU16(extra + pos + 2);
        if (blockSize > length - pos - 4) break;
        if (blockId == id) {
            *data = extra + pos + 4;
            *size = blockSize;
            return true;
        }
        pos += 4 + blockSize;
    }
    return false;
}

namespace {

// Takes the next `width` bytes of a ZIP64 extra block into *value when
// `wanted`; false when the block is too short.
bool TakeWide(bool wanted, unsigned width, const uint8_t* data, size_t size, size_t* pos, uint64_t* value) {
    if (!wanted) return true;
    if (size - *pos < width) return false;
    *value = width == 8 ? GetU64(data + *pos) : GetU32(data + *pos);
    *pos += width;
    return true;
}

}  // namespace

bool WideCentralFields(const CentralHeader& h, const uint8_t* extra, size_t extraLength, WideFields* out) {
    out->uncompressedSize = h.uncompressedSize;
    out->compressedSize = h.compressedSize;
    out->localOffset = h.localOffset;
    out->diskStart = h.diskStart;
    const bool wantSize = h.uncompressedSize == kSentinel32, wantPacked = h.compressedSize == kSentinel32,
               wantOffset = h.localOffset == kSentinel32, wantDisk = h.diskStart == kSentinel16;
    if (!wantSize && !wantPacked && !wantOffset && !wantDisk) return true;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FindExtraBlock(extra, extraLength, kZip64ExtraId, &data, &size)) return false;
    size_t pos = 0;
    uint64_t disk = out->diskStart;
    if (!TakeWide(wantSize, 8, data, size, &pos, &out->uncompressedSize) ||
        !TakeWide(wantPacked, 8, data, size, &pos, &out->compressedSize) ||
        !TakeWide(wantOffset, 8, data, size, &pos, &out->localOffset) || !TakeWide(wantDisk, 4, data, size, &pos, &disk))
        return false;
    out->diskStart = static_cast<uint32_t>(disk);
    return true;
}

bool WideLocalFields(const LocalHeader& h, const uint8_t* extra, size_t extraLength, WideFields* out) {
    out->uncompressedSize = h.uncompressedSize;
    out->compressedSize = h.compressedSize;
    const bool wantSize = h.uncompressedSize == kSentinel32, wantPacked = h.compressedSize == kSentinel32;
    if (!wantSize && !wantPacked) return true;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FindExtraBlock(extra, extraLength, kZip64ExtraId, &data, &size)) return false;
    // A local header's block holds both sizes whenever it holds one.
    if (size >= 16) {
        if (wantSize) out->uncompressedSize = GetU64(data);
        if (wantPacked) out->compressedSize = GetU64(data + 8);
        return true;
    }
    size_t pos = 0;
    return TakeWide(wantSize, 8, data, size, &pos, &out->uncompressedSize) &&
           TakeWide(wantPacked, 8, data, size, &pos, &out->compressedSize);
}

bool ExtraHasId(const uint8_t* extra, size_t length, uint16_t id) {
    // Extra fields are a chain of (id, size, data) blocks; a block that runs
    // past the end stops the walk.
    size_t pos = 0;
    while (length - pos >= 4) {
        uint16_t blockId = GetU16(extra + pos);
        size_t blockSize = GetU16(extra + pos + 2);
        if (blockId == id) return true;
        if (blockSize > length - pos - 4) break;
        pos += 4 + blockSize;
    }
    return false;
}

std::string UnicodePathName(const uint8_t* extra, size_t length, const std::string& headerName) {
    constexpr uint16_t kUnicodePathId = 0x7075;
    size_t pos = 0;
    while (length - pos >= 4) {
        const uint16_t blockId = GetU16(extra + pos);
        const size_t blockSize = GetU16(extra + pos + 2);
        if (blockSize > length - pos - 4) break;
        const uint8_t* data = extra + pos + 4;
        // version 1, CRC-32 of the header name, then the name itself
        if (blockId == kUnicodePathId && blockSize > 5 && data[0] == 1 &&
            GetU32(data + 1) == Crc32(headerName.data(), headerName.size()))
            return std::string(reinterpret_cast<const char*>(data + 5), blockSize - 5);
        pos += 4 + blockSize;
    }
    return std::string();
}

bool CentralNeedsZip64(const CentralHeader& h, const uint8_t* extra, size_t extraLength) {
    return h.compressedSize == kSentinel32 || h.uncompressedSize == kSentinel32 || h.localOffset == kSentinel32 ||
           h.diskStart == kSentinel16 || (h.versionNeeded & 0xFF) == kVersionZip64 ||
           (extra && ExtraHasId(extra, extraLength, kZip64ExtraId));
}

std::string MethodName(uint32_t methodWord) {
    static const char* const kNames[] = {
        "Store", "Shrink", "Reduce (Factor 1)", "Reduce (Factor 2)", "Reduce (Factor 3)", "Reduce (Factor 4)",
        "Implode", "Tokenize", nullptr, "Enhanced Deflate", "DCL Implode"};
    static const char* const kDeflateOptions[] = {"Normal", "Maximum", "Fast", "Super Fast"};
    unsigned method = methodWord & 0xFFFF;
    char text[64];
    if (method == kMethodDeflate) {
        std::snprintf(text, sizeof text, "Deflate (%s)", kDeflateOptions[(methodWord >> 16) & 3]);
    } else if (method < sizeof kNames / sizeof kNames[0]) {
        return kNames[method];
    } else {
        std::snprintf(text, sizeof text, "Method %d", static_cast<int>(method));
    }
    return text;
}

std::string VersionText(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "PK %u.%02u", version / 10, version % 10);
    return text;
}

uint16_t VersionMadeByFor(bool dosFlag, bool shortNames) {
    if (!dosFlag) return kVersionMadeByOwn;
    return shortNames ? 20 : 22;  // host 0 (MS-DOS) in the high byte
}

LocalHeader FirstLocalHeader(uint16_t method, uint16_t dosTime, uint16_t dosDate, bool encrypted,
                             uint32_t fileSize, uint16_t nameLength) {
    LocalHeader h;
    h.versionNeeded = VersionNeededFor(method);
    h.flags = encrypted ? (kFlagDescriptor | kFlagEncrypted) : kFlagDescriptor;
    h.method = method;
    h.time = dosTime;
    h.date = dosDate;
    h.crc = encrypted ? static_cast<uint32_t>(dosTime) << 16 : 0;
    uint32_t header = encrypted ? static_cast<uint32_t>(kEncryptionHeaderSize) : 0;
    h.compressedSize = method == kMethodStored ? fileSize + header : 0;
    h.uncompressedSize = fileSize;
    h.nameLength = nameLength;
    h.extraLength = 0;
    return h;
}

void FinishLocalHeader(LocalHeader* h, uint16_t finalMethod, uint32_t crc, uint32_t compressedSize,
                       uint32_t uncompressedSize) {
    h->method = finalMethod;
    h->versionNeeded = VersionNeededFor(finalMethod);
    if (!(h->flags & kFlagEncrypted)) h->flags = static_cast<uint16_t>(h->flags & ~kFlagDescriptor);
    h->crc = crc;
    h->compressedSize = compressedSize;
    h->uncompressedSize = uncompressedSize;
}

CentralHeader CentralFromLocal(const LocalHeader& local, uint16_t versionMadeBy, uint16_t internalAttributes,
                               uint32_t externalAttributes, uint32_t localOffset, uint16_t commentLength) {
    CentralHeader c;
    c.versionMadeBy = versionMadeBy;
    c.versionNeeded = local.versionNeeded;
    c.flags = local.flags;
    c.method = local.method;
    c.time = local.time;
    c.date = local.date;
    c.crc = local.crc;
    c.compressedSize = local.compressedSize;
    c.uncompressedSize = local.uncompressedSize;
    c.nameLength = local.nameLength;
    c.extraLength = 0;  // central extra field of a compressed entry: none
    c.commentLength = commentLength;
    c.diskStart = 0;
    c.internalAttributes = internalAttributes;
    c.externalAttributes = externalAttributes;
    c.localOffset = localOffset;
    return c;
}

EndRecord MakeEndRecord(uint16_t entryCount, uint32_t centralSize, uint32_t centralOffset, uint16_t commentLength) {
    EndRecord r;
    r.entriesOnDisk = entryCount;
    r.totalEntries = entryCount;
    r.centralSize = centralSize;
    r.centralOffset = centralOffset;
    r.commentLength = commentLength;
    return r;
}

}  // namespace tessera::zip
