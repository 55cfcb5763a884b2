// Traditional ZIP encryption: key schedule, header writing and password check.
#include "codecs/zipcrypto/zipcrypto.h"

#include <ctime>

#include "codecs/crc32/crc32.h"

namespace tessera {
namespace {

// The generator of the C runtime the system was built with (results 0 to
// 32,767), kept here so every build makes headers the same way.
class HeaderRandom {
public:
    HeaderRandom() : state_(static_cast<uint32_t>(std::time(nullptr)) ^ 0xBB40E64Eu) {}
    unsigned Next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFF;
    }

private:
    uint32_t state_;
};

HeaderRandom& Random() {
    static HeaderRandom random;  // seeded on first use in the process
    return random;
}

}  // namespace

void ZipCryptoKeys::Init(const uint8_t* password, size_t size) {
    keys_[0] = 0x12345678u;
    keys_[1] = 0x23456789u;
    keys_[2] = 0x34567890u;
    for (size_t i = 0; i < size; ++i) Update(password[i]);
}

void ZipCryptoKeys::Update(uint8_t plain) {
    keys_[0] = Crc32UpdateByte(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = Crc32UpdateByte(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
}

void ZipCryptoMakeHeader(const uint8_t* password, size_t size, uint32_t checkValue,
                         uint8_t header[kZipCryptoHeaderSize], ZipCryptoKeys* keys) {
    // The random bytes are themselves run through the cipher once, so they
    // do not expose the generator's output.
    keys->Init(password, size);
    for (size_t i = 0; i < 10; ++i) header[i] = keys->Encrypt(static_cast<uint8_t>(Random().Next() >> 7));
    header[10] = static_cast<uint8_t>(checkValue >> 16);
    header[11] = static_cast<uint8_t>(checkValue >> 24);
    keys->Init(password, size);
    keys->Encrypt(header, kZipCryptoHeaderSize);
}

bool ZipCryptoCheckPassword(const uint8_t header[kZipCryptoHeaderSize], const uint8_t* password,
                            size_t size, uint8_t checkByte, ZipCryptoKeys* keys) {
    keys->Init(password, size);
    uint8_t last = 0;
    for (size_t i = 0; i < kZipCryptoHeaderSize; ++i) last = keys->Decrypt(header[i]);
    return last == checkByte;
}

int ZipCryptoTryPassword(const uint8_t header[kZipCryptoHeaderSize], const uint8_t* typed,
                         size_t typedSize, const uint8_t* oem, size_t oemSize, uint8_t checkByte,
                         ZipCryptoKeys* keys) {
    if (ZipCryptoCheckPassword(header, typed, typedSize, checkByte, keys)) return 1;
    if (oem && ZipCryptoCheckPassword(header, oem, oemSize, checkByte, keys)) return 2;
    return 0;
}

}  // namespace tessera
