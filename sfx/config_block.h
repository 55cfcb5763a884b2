// The configuration block of a self-extracting program: written behind the
// stub image by whoever builds the program, read by the stub from its own
// file. Portable (no windows.h): the creators and the stubs share it.
//
// Layout, little-endian, packed:
//   0  4  marker "TSFX"
//   4  4  total uncompressed size (sets the progress range)
//   8  1  folder base (0 temporary, 1 current, 2 Windows, 3 complete path)
//   9  1  folder name length
//  10  1  program base (0 destination, 1 temporary, 2 current, 3 Windows,
//         4 complete command line)
//  11  1  program length (0: start nothing)
//  12  1  wait for the program, then delete what was extracted
//  13  1  overwrite without asking (initial state)
//  14 10  reserved, zero
//  24  n  folder name, then the program text; no terminators
// The archive starts right after the program text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessera::sfx {

inline constexpr size_t kBlockHeaderSize = 24;
// The marker must lie wholly within this many bytes from the file's start.
inline constexpr size_t kMarkerSearchLimit = 65535;

enum FolderBase : uint8_t { kFolderTemporary = 0, kFolderCurrent = 1, kFolderWindows = 2, kFolderComplete = 3 };
enum ProgramBase : uint8_t {
    kProgramInDestination = 0,
    kProgramTemporary = 1,
    kProgramCurrent = 2,
    kProgramWindows = 3,
    kProgramCommandLine = 4,
};

struct SfxConfig {
    uint32_t totalSize = 0;
    uint8_t folderBase = kFolderCurrent;
    uint8_t programBase = kProgramInDestination;
    bool waitAndDelete = false;
    bool overwrite = false;
    std::string folderName;   // at most 255 bytes
    std::string programName;  // at most 255 bytes; empty: start nothing
};

// The marker's four bytes. Kept apart from any literal so that the stub's own
// image never holds them: the stub scans its file for the first match.
uint32_t MarkerValue();

// The block for `config`: header and both texts. Names longer than 255
// bytes are refused (false).
bool BuildConfigBlock(const SfxConfig& config, std::string* block);

// Parses the 24-byte header at `header` (marker already matched); the text
// lengths come back for the caller to read the texts that follow.
void ParseBlockHeader(const uint8_t* header, SfxConfig* config, size_t* folderLength, size_t* programLength);

// Offset of the first marker in `bytes` (whole four bytes inside), or -1.
long FindMarker(const uint8_t* bytes, size_t size);

// Joins a base folder and a name: a backslash between them unless the base
// is empty or already ends in a separator; one leading backslash of the name
// is dropped.
std::string JoinBaseAndName(const std::string& base, const std::string& name);

}  // namespace tessera::sfx
