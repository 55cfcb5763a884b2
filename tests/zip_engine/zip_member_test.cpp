// The portable half of ZIP extraction: the final result rule of a run, and
// member decoding held to the declared sizes (a member never produces more
// than its header says, nor passes with less), with and without the
// traditional encryption.
#include <gtest/gtest.h>

#include <string>

#include "codecs/crc32/crc32.h"
#include "zip/zip_member.h"

namespace tessera::zip {
namespace {

TEST(ZipMember, FinalLevelRule) {
    struct Row {
        int level;
        uint32_t reached, password, unsupported;
        int expected;
    };
    const Row rows[] = {
        {0, 0, 0, 0, 11},  // nothing reached: nothing found
        {1, 0, 0, 3, 11},  // only unsupported entries
        {3, 0, 0, 0, 3},   // damage stays damage
        {0, 2, 2, 0, 2},   // every reached entry skipped for its password
        {0, 3, 1, 0, 1},   // some skipped for the password
        {1, 3, 1, 0, 1},
        {0, 3, 0, 1, 2},   // one unsupported beside processed ones
        {0, 3, 0, 0, 0},
        {1, 3, 0, 0, 1},
        {2, 3, 3, 0, 2},
        {52, 1, 0, 0, 52},
    };
    for (const Row& r : rows) {
        RunCounts counts;
        counts.reached = r.reached;
        counts.skippedPassword = r.password;
        counts.skippedUnsupported = r.unsupported;
        EXPECT_EQ(FinalLevel(r.level, counts), r.expected)
            << r.level << " " << r.reached << " " << r.password << " " << r.unsupported;
    }
}

// Deflate data of one stored block.
std::string StoredDeflate(const std::string& plain) {
    const uint16_t n = static_cast<uint16_t>(plain.size());
    std::string d = {'\x01', static_cast<char>(n & 0xFF), static_cast<char>(n >> 8),
                     static_cast<char>(~n & 0xFF), static_cast<char>((~n >> 8) & 0xFF)};
    return d + plain;
}

// Decodes `data` as a member of `method` at offset 0 of a memory archive.
MemberResult DecodeBytes(MemberDecoder& decoder, const std::string& data, uint16_t method, uint64_t declared,
                         VectorSink* sink, ZipCryptoKeys* keys = nullptr) {
    MemoryInput input(data.data(), data.size());
    BlockReader reader(input);
    EXPECT_TRUE(reader.Allocate());
    reader.Seek(0);
    return decoder.Decode(reader, method, 0, data.size(), declared, keys, *sink);
}

TEST(ZipMember, OutputIsHeldToTheDeclaredSize) {
    const std::string plain(5000, 'z');
    const uint32_t crc = Crc32(plain.data(), plain.size());
    struct Row {
        const char* name;
        uint16_t method;
        std::string data;
        uint64_t declared;
        MemberResult::Kind kind;
    };
    const Row rows[] = {
        {"stored", 0, plain, plain.size(), MemberResult::Ok},
        {"stored, longer than declared", 0, plain, 100, MemberResult::BadData},
        {"stored, shorter than declared", 0, plain, 9000, MemberResult::BadData},
        {"deflate", 8, StoredDeflate(plain), plain.size(), MemberResult::Ok},
        {"deflate, more output than declared", 8, StoredDeflate(plain), 4999, MemberResult::BadData},
        {"deflate, less output than declared", 8, StoredDeflate(plain), 5001, MemberResult::BadData},
        {"deflate, cut short", 8, StoredDeflate(plain).substr(0, 2000), plain.size(), MemberResult::BadData},
        {"no decoder for the method", 1, plain, plain.size(), MemberResult::BadData},
    };
    MemberDecoder decoder;  // one decoder for the run, as in the class
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        VectorSink sink;
        MemberResult result = DecodeBytes(decoder, r.data, r.method, r.declared, &sink);
        EXPECT_EQ(result.kind, r.kind);
        EXPECT_LE(sink.bytes.size(), r.declared);
        EXPECT_EQ(result.produced, sink.bytes.size());
        if (r.kind == MemberResult::Ok) {
            EXPECT_EQ(result.crc, crc);
        }
    }
}

TEST(ZipMember, EncryptedMemberIsDecryptedAsItIsRead) {
    const std::string plain = "secret text, secret text, secret text";
    const std::string packed = StoredDeflate(plain);
    const uint8_t password[] = {'p', 'w'};
    uint8_t header[kZipCryptoHeaderSize];
    ZipCryptoKeys writer;
    ZipCryptoMakeHeader(password, sizeof password, 0x12340000, header, &writer);
    std::string data(packed);
    writer.Encrypt(reinterpret_cast<uint8_t*>(&data[0]), data.size());

    ZipCryptoKeys reader;
    ASSERT_TRUE(ZipCryptoCheckPassword(header, password, sizeof password, 0x12, &reader));
    MemberDecoder decoder;
    VectorSink sink;
    MemberResult result = DecodeBytes(decoder, data, 8, plain.size(), &sink, &reader);
    EXPECT_EQ(result.kind, MemberResult::Ok);
    EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.end()), plain);
}

}  // namespace
}  // namespace tessera::zip
