#include "tgz_test_util.h"

#include "test_files.h"

namespace tessera::testing {

std::vector<uint8_t> GzipMemberHeader(uint8_t flags, uint32_t mtime, const std::vector<uint8_t>* extra,
                                      const std::string& name, const std::string& comment) {
    std::vector<uint8_t> h = {0x1F, 0x8B, 8, flags, static_cast<uint8_t>(mtime), static_cast<uint8_t>(mtime >> 8),
                              static_cast<uint8_t>(mtime >> 16), static_cast<uint8_t>(mtime >> 24), 0, 3};
    if (flags & 0x04) {
        size_t n = extra ? extra->size() : 0;
        h.push_back(static_cast<uint8_t>(n));
        h.push_back(static_cast<uint8_t>(n >> 8));
        if (extra) h.insert(h.end(), extra->begin(), extra->end());
    }
    if (flags & 0x08) {
        h.insert(h.end(), name.begin(), name.end());
        h.push_back(0);
    }
    if (flags & 0x10) {
        h.insert(h.end(), comment.begin(), comment.end());
        h.push_back(0);
    }
    if (flags & 0x02) {
        uint32_t crc = ReferenceCrc32(h.data(), h.size());
        h.push_back(static_cast<uint8_t>(crc));
        h.push_back(static_cast<uint8_t>(crc >> 8));
    }
    return h;
}

std::vector<uint8_t> GzipStoredMember(const std::string& content, uint8_t flags, const std::string& name) {
    std::vector<uint8_t> m = GzipMemberHeader(flags, 1600000000u, nullptr, name);
    size_t n = content.size();  // at most 65,535 in one stored block
    m.insert(m.end(), {1, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                       static_cast<uint8_t>(~n >> 8)});
    m.insert(m.end(), content.begin(), content.end());
    uint32_t crc = ReferenceCrc32(content.data(), content.size());
    for (uint32_t v : {crc, static_cast<uint32_t>(n)})
        for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return m;
}

}  // namespace tessera::testing
