// The traditional ZIP encryption (the PKWARE application note's "traditional
// PKWARE encryption"): three 32-bit keys stepped with the CRC-32 table, a
// 12-byte header in front of the entry data, one stream byte per data byte.
//
// Passwords are bytes: converting a typed password to the OEM code page is
// the caller's business; the check below tries both forms it is given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera {

constexpr size_t kZipCryptoHeaderSize = 12;

class ZipCryptoKeys {
public:
    ZipCryptoKeys() { Init(nullptr, 0); }
    void Init(const uint8_t* password, size_t size);

    uint8_t Decrypt(uint8_t c) {
        const uint8_t plain = c ^ StreamByte();
        Update(plain);
        return plain;
    }
    uint8_t Encrypt(uint8_t plain) {
        const uint8_t c = plain ^ StreamByte();
        Update(plain);
        return c;
    }
    void Decrypt(uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) data[i] = Decrypt(data[i]);
    }
    void Encrypt(uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) data[i] = Encrypt(data[i]);
    }

private:
    uint8_t StreamByte() const {
        const uint32_t t = (keys_[2] | 2) & 0xFFFF;
        return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
    }
    void Update(uint8_t plain);

    uint32_t keys_[3];
};

// The byte the last decrypted header byte must equal: the high byte of the
// DOS time when the entry has a data descriptor (flag bit 3), else the high
// byte of the CRC.
inline uint8_t ZipCryptoCheckByte(uint16_t flags, uint32_t crc, uint16_t dosTime) {
    return static_cast<uint8_t>((flags & 8) ? dosTime >> 8 : crc >> 24);
}

// Makes the encryption header of a new entry: ten random bytes, then bits
// 16-23 and 24-31 of the check value (the system passes the DOS time shifted
// left by 16, since the CRC is not known yet). On return `keys` is ready for the
// entry's data. The random bytes come from a generator seeded once per
// process from the time, so two headers never repeat within a run.
void ZipCryptoMakeHeader(const uint8_t* password, size_t size, uint32_t checkValue,
                         uint8_t header[kZipCryptoHeaderSize], ZipCryptoKeys* keys);

// Tries one password on a header (not modified). When the check byte fits,
// `keys` is left ready to decrypt the data and the result is true.
bool ZipCryptoCheckPassword(const uint8_t header[kZipCryptoHeaderSize], const uint8_t* password,
                            size_t size, uint8_t checkByte, ZipCryptoKeys* keys);

// Tries a password as typed (ANSI) and then in its OEM form. Returns 1 when
// the typed form fits, 2 when the OEM form fits, 0 when neither does.
int ZipCryptoTryPassword(const uint8_t header[kZipCryptoHeaderSize], const uint8_t* typed,
                         size_t typedSize, const uint8_t* oem, size_t oemSize, uint8_t checkByte,
                         ZipCryptoKeys* keys);

}  // namespace tessera
