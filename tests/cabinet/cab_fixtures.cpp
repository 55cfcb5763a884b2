// Generated inputs and cabinet builds for the cabinet tests.
#include "cab_fixtures.h"

#include <cstdio>
#include <cstring>

#include "test_files.h"

namespace tessera::testing {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> v(size);
    uint32_t x = seed ? seed : 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 11);
    }
    return v;
}

std::vector<uint8_t> TextLike(size_t size) {
    static const char* words[] = {"cabinet ", "folder ", "block ", "the ", "window ", "match\n", "of ", "LZX ",
                                  "E8 ",      "call ",   "data ",  "\xE8\x10\x20\x00\x00"};
    std::vector<uint8_t> v;
    uint32_t x = 12345;
    while (v.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* w = words[(x >> 16) % 12];
        v.insert(v.end(), w, w + std::strlen(w));
    }
    v.resize(size);
    return v;
}

std::vector<uint8_t> DistantRepeat(size_t block, size_t distance) {
    std::vector<uint8_t> a = RandomBytes(block, 7), gap = RandomBytes(distance, 9);
    std::vector<uint8_t> v = a;
    v.insert(v.end(), gap.begin(), gap.end());
    v.insert(v.end(), a.begin(), a.end());
    return v;
}

namespace {

bool NameNext(void*, cab::CabinetParameters* p, uint32_t) {
    std::snprintf(p->cabinetName, sizeof(p->cabinetName), "data%02d.cab", p->cabinetNumber);
    std::snprintf(p->diskName, sizeof(p->diskName), "Disk %d", p->diskNumber + 1);
    return true;
}

}  // namespace

BuildResult BuildCabinet(const std::string& folder, const std::string& name, const std::vector<SourceFile>& files,
                         uint16_t typeWord, uint32_t maxSize) {
    BuildResult result;
    CabTestIo io;
    io.tempFolder = folder;
    cab::CabinetParameters params;
    params.maxCabinetSize = maxSize;
    params.setID = 0x51CA;
    std::snprintf(params.cabinetFolder, sizeof(params.cabinetFolder), "%s/", folder.c_str());
    bool spanning = maxSize != 0x7FFFFFF;
    if (spanning) NameNext(nullptr, &params, 0);
    else std::snprintf(params.cabinetName, sizeof(params.cabinetName), "%s", name.c_str());
    auto builder = cab::CabBuilder::Create(io.BuilderTable(), params, &result.error);
    if (!builder) return result;
    int index = 0;
    for (const SourceFile& f : files) {
        std::string source = folder + "/source" + std::to_string(index++);
        // (never a null pointer: the helper hands it to fwrite)
        WriteWholeFile(source, f.data.empty() ? static_cast<const void*>("") : f.data.data(), f.data.size());
        if (!builder->AddFile(source.c_str(), f.name.c_str(), false, NameNext, nullptr, CabTestIo::OpenInfo, typeWord))
            return result;
    }
    if (!builder->FlushCabinet(false, NameNext, nullptr)) return result;
    result.ok = true;
    if (!spanning) {
        result.cabinets.push_back(folder + "/" + name);
    } else {
        for (int n = 1; n < 100; ++n) {
            char cabName[32];
            std::snprintf(cabName, sizeof(cabName), "/data%02d.cab", n);
            if (!FileExists(folder + cabName)) break;
            result.cabinets.push_back(folder + cabName);
        }
    }
    return result;
}

}  // namespace tessera::testing
