#include "test_files.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace tessera::testing {

namespace fs = std::filesystem;

std::string HostPathToNative(const std::string& hostPath) {
#ifdef _WIN32
    if (!hostPath.empty() && hostPath[0] == '/') {
        std::string p = "Z:" + hostPath;
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }
#endif
    return hostPath;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

void WriteWholeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::u8path(path), ec);
}

uint32_t ReferenceCrc32(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

ScratchFolder::ScratchFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("tessera-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(fs::path(path_), ec);
}

std::string ScratchFolder::operator/(const std::string& name) const {
    return (fs::path(path_) / name).string();
}

}  // namespace tessera::testing
