// File helpers shared by the tests: reading and writing whole files, a
// scratch folder removed at the end of the test, host paths under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::testing {

// Turns a path of the build host (/work/...) into one the running program can
// open: unchanged natively, "Z:\work\..." when the test runs under Wine.
std::string HostPathToNative(const std::string& hostPath);

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const void* data, size_t size);
inline void WriteWholeFile(const std::string& path, const std::string& text) {
    WriteWholeFile(path, text.data(), text.size());
}
bool FileExists(const std::string& path);

// CRC-32 (ZIP/gzip) computed bit by bit: an oracle independent of the codecs.
uint32_t ReferenceCrc32(const void* data, size_t size);

// A fresh, empty folder below the system's temporary folder, deleted with
// everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Path of a name inside the folder, with the platform's separator.
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

}  // namespace tessera::testing
