// The sample corpus as the tests see it: samples with their expected entries,
// read from the table the build makes of the corpus manifest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::testing {

struct CorpusEntry {
    std::string name;   // '/' separators; "hex:..." for names that are not UTF-8
    uint64_t size = 0;
    uint32_t crc32 = 0;
};

struct CorpusSample {
    std::string format;              // zip, cab, rar, arj, ace, tar, gz, tgz, zip-sfx, rar-sfx
    std::string file;                // relative to the corpus folder
    std::vector<std::string> parts;  // every volume of a multi-volume set
    std::string password;
    std::string expect;              // "ok", "error: ...", "list ok; extract error: ..."
    std::vector<CorpusEntry> entries;
};

// All samples, or an empty list when the corpus is absent.
const std::vector<CorpusSample>& CorpusSamples();

// Samples of one format. With the corpus present, a format without samples
// fails the calling test (its loop would test nothing).
std::vector<CorpusSample> CorpusSamplesOf(const std::string& format);

// Full path of a corpus file, in the form the running program opens (a Wine
// drive path under Windows).
std::string CorpusPath(const std::string& relative);

// Call at the top of a corpus test: skips it visibly when there is no corpus.
#define TESSERA_REQUIRE_CORPUS()                                                   \
    do {                                                                           \
        if (::tessera::testing::CorpusSamples().empty())                           \
            GTEST_SKIP() << "sample corpus not found (../shared/corpus): skipped"; \
    } while (0)

}  // namespace tessera::testing
