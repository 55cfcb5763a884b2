// Fixture builders for the TAR and gzip tests: hand-made headers and gzip
// members whose fields the hostile-input rows bend.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tessera::testing {

// A ustar header block for `name` with `size` data bytes; `edit` may change
// any field before the checksum is filled in.
inline std::vector<uint8_t> TarHeader(const std::string& name, uint64_t size, char type = '0',
                                      const std::function<void(std::vector<uint8_t>&)>& edit = {}) {
    std::vector<uint8_t> h(512, 0);
    std::memcpy(h.data(), name.data(), name.size() < 100 ? name.size() : 100);
    std::snprintf(reinterpret_cast<char*>(&h[100]), 8, "%07o", 0644u);
    std::snprintf(reinterpret_cast<char*>(&h[108]), 8, "%07o", 1000u);
    std::snprintf(reinterpret_cast<char*>(&h[116]), 8, "%07o", 1000u);
    std::snprintf(reinterpret_cast<char*>(&h[124]), 12, "%011llo", static_cast<unsigned long long>(size));
    std::snprintf(reinterpret_cast<char*>(&h[136]), 12, "%011o", 1600000000u);
    h[156] = static_cast<uint8_t>(type);
    std::memcpy(&h[257], "ustar\0" "00", 8);
    if (edit) edit(h);
    std::memset(&h[148], ' ', 8);
    unsigned sum = 0;
    for (uint8_t b : h) sum += b;
    std::snprintf(reinterpret_cast<char*>(&h[148]), 8, "%06o", sum);
    return h;
}

// A gzip member header with the given flags and fields (deflate, OS 3); an
// FHCRC is computed over the bytes before it.
std::vector<uint8_t> GzipMemberHeader(uint8_t flags, uint32_t mtime, const std::vector<uint8_t>* extra = nullptr,
                                      const std::string& name = "", const std::string& comment = "");

// A whole gzip member holding `content` in one stored deflate block, with a
// correct trailer.
std::vector<uint8_t> GzipStoredMember(const std::string& content, uint8_t flags = 0, const std::string& name = "");

}  // namespace tessera::testing
