#include "codecs/zipcrypto/zipcrypto.h"
#include "codec_result_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/crc32/crc32.h"
#include "codecs/deflate/inflate.h"
#include "corpus.h"
#include "deflate_test_support.h"

namespace tessera {
namespace {

using testing::ZipMember;

// Decrypts a member's data with `password`; false when the check byte does
// not fit. Then decodes (stored or Inflate) and returns the result's CRC.
bool DecryptMember(const ZipMember& m, const std::string& password, CodecResult* inflateResult, uint32_t* crc) {
    if (m.data.size() < kZipCryptoHeaderSize) return false;
    ZipCryptoKeys keys;
    const auto* pw = reinterpret_cast<const uint8_t*>(password.data());
    if (!ZipCryptoCheckPassword(m.data.data(), pw, password.size(), ZipCryptoCheckByte(m.flags, m.crc, m.time), &keys))
        return false;
    std::vector<uint8_t> data(m.data.begin() + kZipCryptoHeaderSize, m.data.end());
    keys.Decrypt(data.data(), data.size());
    *inflateResult = CodecResult::kOk;
    if (m.method == 8) {
        Inflater inflater;
        MemorySource source(data.data(), data.size());
        VectorSink sink(m.size + 1);
        *inflateResult = inflater.Inflate(source, sink);
        data = std::move(sink.bytes);
    }
    *crc = Crc32(data.data(), data.size());
    return true;
}

TEST(ZipCrypto, DecryptsTheSampleArchivesOfOtherTools) {
    TESSERA_REQUIRE_CORPUS();
    unsigned checked = 0;
    for (const auto& sample : testing::CorpusSamplesOf("zip")) {
        if (sample.password.empty() || sample.expect != "ok") continue;
        for (const auto& m : testing::ZipMembers(testing::ReadWholeFile(testing::CorpusPath(sample.file)))) {
            if (!(m.flags & 1) || m.name.back() == '/') continue;
            CodecResult result;
            uint32_t crc;
            ASSERT_TRUE(DecryptMember(m, sample.password, &result, &crc)) << sample.file << ": " << m.name;
            EXPECT_EQ(result, CodecResult::kOk) << sample.file << ": " << m.name;
            EXPECT_EQ(crc, m.crc) << sample.file << ": " << m.name;
            ++checked;
        }
    }
    EXPECT_GT(checked, 10u);
}

TEST(ZipCrypto, AWrongPasswordThatPassesTheCheckByteEndsInAnError) {
    TESSERA_REQUIRE_CORPUS();
    const auto members = testing::ZipMembers(testing::ReadWholeFile(testing::CorpusPath("zip/trad_encrypted_deflate_infozip.zip")));
    const ZipMember* readme = nullptr;
    for (const auto& m : members)
        if (m.name == "readme.txt") readme = &m;
    ASSERT_NE(readme, nullptr);
    unsigned passed = 0;
    for (int i = 0; i < 5000 && passed < 3; ++i) {
        CodecResult result;
        uint32_t crc;
        if (!DecryptMember(*readme, "wrong" + std::to_string(i), &result, &crc)) continue;
        ++passed;
        EXPECT_TRUE(result != CodecResult::kOk || crc != readme->crc);
    }
    EXPECT_GT(passed, 0u);
}

// The key update of the published scheme with a bit-by-bit CRC step: an
// oracle that shares nothing with the codec.
struct ReferenceKeys {
    uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
    static uint32_t CrcStep(uint32_t crc, uint8_t b) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        return crc;
    }
    void Update(uint8_t c) {
        k[0] = CrcStep(k[0], c);
        k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
        k[2] = CrcStep(k[2], static_cast<uint8_t>(k[1] >> 24));
    }
    uint8_t Decrypt(uint8_t c) {
        const uint32_t t = (k[2] | 2) & 0xFFFF;
        const uint8_t plain = c ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8);
        Update(plain);
        return plain;
    }
};

TEST(ZipCrypto, HeadersFollowThePublishedSchemeAndNeverRepeat) {
    const std::string password = "secret";
    const auto* pw = reinterpret_cast<const uint8_t*>(password.data());
    const uint16_t dosTime = 0x7A3C;
    const std::vector<uint8_t> plain = {'d', 'a', 't', 'a', 0, 0xFF};
    std::vector<std::vector<uint8_t>> headers;
    for (int round = 0; round < 2; ++round) {
        uint8_t header[kZipCryptoHeaderSize];
        ZipCryptoKeys keys;
        ZipCryptoMakeHeader(pw, password.size(), uint32_t{dosTime} << 16, header, &keys);
        auto data = plain;
        keys.Encrypt(data.data(), data.size());

        ReferenceKeys reference;
        for (char c : password) reference.Update(static_cast<uint8_t>(c));
        uint8_t decrypted[kZipCryptoHeaderSize];
        for (size_t i = 0; i < kZipCryptoHeaderSize; ++i) decrypted[i] = reference.Decrypt(header[i]);
        EXPECT_EQ(decrypted[10], dosTime & 0xFF);
        EXPECT_EQ(decrypted[11], dosTime >> 8);
        for (auto& b : data) b = reference.Decrypt(b);
        EXPECT_EQ(data, plain);

        ZipCryptoKeys check;
        EXPECT_TRUE(ZipCryptoCheckPassword(header, pw, password.size(), ZipCryptoCheckByte(8, 0, dosTime), &check));
        headers.emplace_back(header, header + kZipCryptoHeaderSize);
    }
    EXPECT_NE(headers[0], headers[1]);
}

TEST(ZipCrypto, APasswordAbove127IsAcceptedInItsOemForm) {
    // "Grüße" typed in the ANSI code page 1252, and in the OEM code page 437
    // as an MS-DOS program would have used it.
    const uint8_t ansi[] = {'G', 'r', 0xFC, 0xDF, 'e'};
    const uint8_t oem[] = {'G', 'r', 0x81, 0xE1, 'e'};
    const uint32_t crc = 0xA1B2C3D4u;
    uint8_t header[kZipCryptoHeaderSize];
    ZipCryptoKeys keys;
    const uint8_t checkByte = ZipCryptoCheckByte(0, crc, 0);
    // The header is random and its check is one byte: one header in 256
    // lets the ANSI form through as well, and then it is rightly tried first.
    ZipCryptoKeys probe;
    do {
        ZipCryptoMakeHeader(oem, sizeof oem, crc, header, &keys);
    } while (ZipCryptoCheckPassword(header, ansi, sizeof ansi, checkByte, &probe));
    EXPECT_EQ(ZipCryptoTryPassword(header, ansi, sizeof ansi, oem, sizeof oem, checkByte, &keys), 2);
    ZipCryptoMakeHeader(ansi, sizeof ansi, crc, header, &keys);
    EXPECT_EQ(ZipCryptoTryPassword(header, ansi, sizeof ansi, oem, sizeof oem, checkByte, &keys), 1);
}

}  // namespace
}  // namespace tessera
