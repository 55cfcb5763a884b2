// ZIP container records: the local header, the central directory header, the
// end of central directory record and the data descriptor, with their parse
// and serialize functions, plus the texts derived from record fields (method
// names, the "PK x.yy" version text) and the values this system writes.
//
// Records are plain structs of fixed-width fields; parsing and serializing go
// byte by byte in little-endian order, so the layout of the struct never
// crosses a file boundary and the code is the same on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessera::zip {

// --- little-endian helpers --------------------------------------------------

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
    return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void PutU64(uint8_t* p, uint64_t v) {
    PutU32(p, static_cast<uint32_t>(v));
    PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// --- signatures and sizes ----------------------------------------------------

constexpr uint32_t kLocalSignature = 0x04034B50;       // "PK\3\4"
constexpr uint32_t kCentralSignature = 0x02014B50;     // "PK\1\2"
constexpr uint32_t kEndSignature = 0x06054B50;         // "PK\5\6"
constexpr uint32_t kDescriptorSignature = 0x08074B50;  // "PK\7\8"
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kZip64EndSignature = 0x06064B50;

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kDescriptorSize = 16;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndRecordSize = 56;  // without its extensible data
constexpr size_t kEncryptionHeaderSize = 12;

// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDeflateOptions = 0x0006;  // bits 1-2: Normal/Maximum/Fast/Super Fast
constexpr uint16_t kFlagDescriptor = 0x0008;      // CRC and sizes follow the data
constexpr uint16_t kFlagPatchData = 0x0020;  // compressed patched data: needs the patch's base file
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;            // name and comment are UTF-8

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodShrink = 1;
constexpr uint16_t kMethodReduce1 = 2;  // Reduce factors 1-4: methods 2-5
constexpr uint16_t kMethodReduce4 = 5;
constexpr uint16_t kMethodImplode = 6;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kMethodAes = 99;  // AES strong encryption: never decoded

// Versions: what this system accepts and writes.
constexpr uint16_t kHighestVersionNeeded = 20;   // 2.0
constexpr uint16_t kVersionNeededStored = 10;
constexpr uint16_t kVersionNeededDeflate = 20;
constexpr uint16_t kVersionZip64 = 45;           // version needed of the ZIP64 extensions
constexpr uint16_t kVersionPatchData = 27;       // version needed of patched data
constexpr uint16_t kVersionMadeByOwn = 0x0B16;   // host 11, version 2.2
constexpr uint32_t kAttributeFolder = 0x10;

constexpr uint32_t kSentinel32 = 0xFFFFFFFF;  // ZIP64: the real value is in the extra field
constexpr uint16_t kSentinel16 = 0xFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;

// --- records -----------------------------------------------------------------

struct LocalHeader {
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
};

struct CentralHeader {
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localOffset = 0;
};

struct EndRecord {
    uint16_t thisDisk = 0;
    uint16_t centralDisk = 0;
    uint16_t entriesOnDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t centralSize = 0;
    uint32_t centralOffset = 0;
    uint16_t commentLength = 0;
};

// The ZIP64 end locator, just in front of the end record.
struct Zip64Locator {
    uint32_t endDisk = 0;      // disk holding the ZIP64 end record
    uint64_t endOffset = 0;    // stored offset of the ZIP64 end record
    uint32_t totalDisks = 0;
};

// The ZIP64 end record: the 64-bit counts, size and offset of the directory.
struct Zip64EndRecord {
    uint64_t recordSize = 0;  // bytes after this field
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint32_t thisDisk = 0;
    uint32_t centralDisk = 0;
    uint64_t entriesOnDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t centralSize = 0;
    uint64_t centralOffset = 0;
};

// An entry's sizes, offset and disk at full width: the 32-bit header values,
// or the ZIP64 extra field's where a header field holds its sentinel.
struct WideFields {
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
    uint64_t localOffset = 0;
    uint32_t diskStart = 0;
};

struct DataDescriptor {
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

// Parse functions take the whole record including its signature and answer
// false when the signature is not the record's.
bool ParseLocalHeader(const uint8_t* bytes /*30*/, LocalHeader* out);
bool ParseCentralHeader(const uint8_t* bytes /*46*/, CentralHeader* out);
bool ParseEndRecord(const uint8_t* bytes /*22*/, EndRecord* out);
bool ParseDataDescriptor(const uint8_t* bytes /*16*/, DataDescriptor* out);
bool ParseZip64Locator(const uint8_t* bytes /*20*/, Zip64Locator* out);
bool ParseZip64EndRecord(const uint8_t* bytes /*56*/, Zip64EndRecord* out);
void SerializeZip64Locator(const Zip64Locator& l, uint8_t* bytes /*20*/);
void SerializeZip64EndRecord(const Zip64EndRecord& r, uint8_t* bytes /*56*/);

// The full-width fields of a central header: every field holding its
// sentinel takes the next 8 (offset, sizes) or 4 (disk) bytes of the ZIP64
// extra field, in the order uncompressed size, compressed size, offset, disk.
// False when a sentinel's value is missing from the extra field.
bool WideCentralFields(const CentralHeader& h, const uint8_t* extra, size_t extraLength, WideFields* out);
// The same for a local header, which carries only the two sizes.
bool WideLocalFields(const LocalHeader& h, const uint8_t* extra, size_t extraLength, WideFields* out);

void SerializeLocalHeader(const LocalHeader& h, uint8_t* bytes /*30*/);
void SerializeCentralHeader(const CentralHeader& h, uint8_t* bytes /*46*/);
void SerializeEndRecord(const EndRecord& r, uint8_t* bytes /*22*/);
void SerializeDataDescriptor(const DataDescriptor& d, uint8_t* bytes /*16*/);

// --- derived facts ------------------------------------------------------------

// True when the entry's record needs ZIP64 to be read correctly: a 32-bit
// field holding the ZIP64 sentinel, version needed 4.5 (the version of the
// ZIP64 extensions; later versions name other features), or a ZIP64
// extra field (id 0x0001) in `extra`.
bool CentralNeedsZip64(const CentralHeader& h, const uint8_t* extra, size_t extraLength);
bool ExtraHasId(const uint8_t* extra, size_t extraLength, uint16_t id);
// The UTF-8 name of the Info-ZIP Unicode path field (id 0x7075), when the
// field is whole and was written for this very header name (its CRC-32
// matches); empty otherwise, and the header name stands.
std::string UnicodePathName(const uint8_t* extra, size_t extraLength, const std::string& headerName);
// The data of the first extra block with `id`: false when there is none (or
// it runs past the end of the field).
bool FindExtraBlock(const uint8_t* extra, size_t extraLength, uint16_t id, const uint8_t** data, size_t* size);

// What an entry really needs of a reader, judged from what it uses rather
// than from the version it claims: patched data needs version 2.7 (the only
// feature of that kind this system lacks without a method of its own);
// 0 when nothing the entry uses is beyond what the method and encryption
// checks already decide.
inline uint16_t UnsupportedVersionOf(uint16_t flags) {
    return (flags & kFlagPatchData) ? kVersionPatchData : 0;
}

// Strong encryption (flag bit 6) or the AES method: never decodable here.
inline bool UsesStrongEncryption(uint16_t flags, uint16_t method) {
    return (flags & kFlagStrongEncryption) != 0 || method == kMethodAes;
}

// The method word of an entry record: method in bits 0-15, the deflate
// option flag bits 1-2 in bits 16-17.
inline uint32_t MethodWord(uint16_t method, uint16_t flags) {
    return static_cast<uint32_t>(method) | (static_cast<uint32_t>((flags & kFlagDeflateOptions) >> 1) << 16);
}

// Display name of a method word (kind 1 text): "Store", "Deflate (Maximum)",
// "Method 12", ...
std::string MethodName(uint32_t methodWord);

// Version text (kind 0): "PK %u.%02u" with v / 10 and v % 10.
std::string VersionText(uint32_t version);

// An entry read from an archive carries the DOS flag when the host byte of
// its version made by is 0 (MS-DOS).
inline bool HasDosFlag(uint16_t versionMadeBy) { return (versionMadeBy >> 8) == 0; }

// --- what this system writes ----------------------------------------------------

// Version made by for an entry this system compresses: 0x0B16 normally; for an
// entry with the DOS flag host 0 with version 20 (short names) or 22.
uint16_t VersionMadeByFor(bool dosFlag, bool shortNames);

inline uint16_t VersionNeededFor(uint16_t method) {
    return method == kMethodStored ? kVersionNeededStored : kVersionNeededDeflate;
}

// The local header as first written, before the data: flags 8 (9 when
// encrypted); CRC 0, or the DOS time shifted left 16 bits for an encrypted
// entry (its check byte); compressed size the file size for a stored entry
// (plus the encryption header) and 0 for a deflated one.
LocalHeader FirstLocalHeader(uint16_t method, uint16_t dosTime, uint16_t dosDate, bool encrypted,
                             uint32_t fileSize, uint16_t nameLength);

// The local header rewritten after the data: final method (the encoder may
// have fallen back to stored) with its version needed, final CRC and sizes,
// and bit 3 cleared unless the entry is encrypted.
void FinishLocalHeader(LocalHeader* h, uint16_t finalMethod, uint32_t crc, uint32_t compressedSize,
                       uint32_t uncompressedSize);

// Whether a data descriptor follows the data: the final flags have bit 3
// (every encrypted entry; every entry when the output is not a disk file and
// the header could not be rewritten).
inline bool WritesDescriptor(uint16_t finalFlags) { return (finalFlags & kFlagDescriptor) != 0; }

// Internal attributes: bit 0 for data the deflate statistics classed as text,
// 0 for stored entries.
inline uint16_t InternalAttributesFor(uint16_t method, bool text) {
    return method != kMethodStored && text ? 1 : 0;
}

// External attributes: the Windows attributes, only their low byte for an
// entry with the DOS flag.
inline uint32_t ExternalAttributesFor(uint32_t windowsAttributes, bool dosFlag) {
    return dosFlag ? (windowsAttributes & 0xFF) : windowsAttributes;
}

// The central header of an entry this system compressed, from its final
// local header. `localOffset` counts from the start of the file, prefix
// included.
CentralHeader CentralFromLocal(const LocalHeader& local, uint16_t versionMadeBy, uint16_t internalAttributes,
                               uint32_t externalAttributes, uint32_t localOffset, uint16_t commentLength);

// Bytes a central header occupies: 46 + name + extra + comment.
inline uint32_t CentralRecordSize(const CentralHeader& h) {
    return static_cast<uint32_t>(kCentralHeaderSize) + h.nameLength + h.extraLength + h.commentLength;
}

// The end record of a single-file archive (disk fields 0, both counts equal).
EndRecord MakeEndRecord(uint16_t entryCount, uint32_t centralSize, uint32_t centralOffset, uint16_t commentLength);

}  // namespace tessera::zip
