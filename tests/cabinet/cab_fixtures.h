// Generated inputs and a one-call cabinet build for the cabinet tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab_test_io.h"

namespace tessera::testing {

struct SourceFile {
    std::string name;  // stored name
    std::vector<uint8_t> data;
};

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);
std::vector<uint8_t> TextLike(size_t size);
// A random block, `distance` bytes of other random data, the block again.
std::vector<uint8_t> DistantRepeat(size_t block, size_t distance);

struct BuildResult {
    bool ok = false;
    cab::ErrorRecord error;
    std::vector<std::string> cabinets;  // paths in set order
};

// Builds the files into `folder`/`name` (spanning as dataNN.cab when
// maxSize is not 0x7FFFFFF) with one type word.
BuildResult BuildCabinet(const std::string& folder, const std::string& name, const std::vector<SourceFile>& files,
                         uint16_t typeWord, uint32_t maxSize = 0x7FFFFFF);

}  // namespace tessera::testing
