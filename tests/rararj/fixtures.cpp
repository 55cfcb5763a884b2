// Builders of tiny RAR and ARJ archives for the tests.
#include "fixtures.h"

#include "codecs/crc32/crc32.h"
#include "test_files.h"

namespace tessera::testing {

std::unique_ptr<RandomAccessInput> OpenFileInput(const std::string& path) {
    if (!FileExists(path)) return nullptr;
    return std::make_unique<MemoryInput>(ReadWholeFile(path));
}

void PutLe16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(Bytes& b, uint32_t v) {
    PutLe16(b, v & 0xFFFF);
    PutLe16(b, v >> 16);
}

Bytes RarStart(uint16_t mainFlags) {
    Bytes b = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    Bytes mh = {0x73};
    PutLe16(mh, mainFlags);
    PutLe16(mh, 13);
    for (int i = 0; i < 6; ++i) mh.push_back(0);
    PutLe16(b, Crc32(mh.data(), mh.size()) & 0xFFFF);
    b.insert(b.end(), mh.begin(), mh.end());
    return b;
}

void RarAddFile(Bytes& archive, const RarFileFixture& file) {
    Bytes h = {0x74};
    PutLe16(h, file.flags);
    PutLe16(h, static_cast<uint32_t>(32 + file.name.size()));
    PutLe32(h, static_cast<uint32_t>(file.data.size()));
    PutLe32(h, file.unpSize);
    h.push_back(0);  // host
    PutLe32(h, file.crc);
    PutLe32(h, 0x21A86000);  // a DOS time
    h.push_back(file.unpVersion);
    h.push_back(file.method);
    PutLe16(h, static_cast<uint32_t>(file.name.size()));
    PutLe32(h, 0x20);
    h.insert(h.end(), file.name.begin(), file.name.end());
    PutLe16(archive, Crc32(h.data(), h.size()) & 0xFFFF);
    archive.insert(archive.end(), h.begin(), h.end());
    archive.insert(archive.end(), file.data.begin(), file.data.end());
}

Bytes ArjFrame(const Bytes& basic) {
    Bytes b = {0x60, 0xEA};
    PutLe16(b, static_cast<uint32_t>(basic.size()));
    b.insert(b.end(), basic.begin(), basic.end());
    PutLe32(b, Crc32(basic.data(), basic.size()));
    PutLe16(b, 0);  // no extended headers
    return b;
}

Bytes ArjBasicHeader(const ArjFileFixture& file) {
    Bytes h = {30, file.archiverVersion, file.minVersion, 0, file.flags, file.method, file.fileType, 0};
    PutLe32(h, 0x21A86000);
    PutLe32(h, static_cast<uint32_t>(file.data.size()));
    PutLe32(h, file.originalSize);
    PutLe32(h, file.crc);
    PutLe16(h, 0);
    PutLe16(h, 0);
    PutLe16(h, 0);
    h.insert(h.end(), file.name.begin(), file.name.end());
    h.push_back(0);
    h.push_back(0);  // empty comment
    return h;
}

Bytes ArjArchive(const std::vector<ArjFileFixture>& files) {
    ArjFileFixture main;
    main.name = "test.arj";
    main.fileType = 2;
    Bytes out = ArjFrame(ArjBasicHeader(main));
    for (const ArjFileFixture& f : files) {
        Bytes frame = ArjFrame(ArjBasicHeader(f));
        out.insert(out.end(), frame.begin(), frame.end());
        out.insert(out.end(), f.data.begin(), f.data.end());
    }
    out.push_back(0x60);
    out.push_back(0xEA);
    PutLe16(out, 0);
    return out;
}

}  // namespace tessera::testing
