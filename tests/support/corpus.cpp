#include "corpus.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_files.h"

#include <gtest/gtest.h>

namespace tessera::testing {
namespace {

std::vector<std::string> SplitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.emplace_back();
    return fields;
}

std::vector<CorpusSample> LoadIndex() {
    std::vector<CorpusSample> samples;
    const char* indexPath = std::getenv("TESSERA_CORPUS_INDEX");
    if (!indexPath) return samples;
    std::ifstream in(HostPathToNative(indexPath));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f = SplitFields(line, '\t');
        if (f.size() >= 6 && f[0] == "sample") {
            CorpusSample s;
            s.format = f[1];
            s.file = f[2];
            if (!f[3].empty()) s.parts = SplitFields(f[3], ';');
            s.password = f[4];
            s.expect = f[5];
            samples.push_back(std::move(s));
        } else if (f.size() >= 4 && f[0] == "entry" && !samples.empty()) {
            CorpusEntry e;
            e.name = f[1];
            e.size = std::strtoull(f[2].c_str(), nullptr, 10);
            e.crc32 = static_cast<uint32_t>(std::strtoul(f[3].c_str(), nullptr, 16));
            samples.back().entries.push_back(std::move(e));
        }
    }
    return samples;
}

}  // namespace

const std::vector<CorpusSample>& CorpusSamples() {
    static const std::vector<CorpusSample> samples = LoadIndex();
    return samples;
}

std::vector<CorpusSample> CorpusSamplesOf(const std::string& format) {
    std::vector<CorpusSample> result;
    for (const CorpusSample& s : CorpusSamples())
        if (s.format == format) result.push_back(s);
    // A loop over no samples would pass without testing anything.
    if (result.empty() && !CorpusSamples().empty())
        ADD_FAILURE() << "the sample corpus holds no sample of format \"" << format << "\"";
    return result;
}

std::string CorpusPath(const std::string& relative) {
    const char* source = std::getenv("TESSERA_SOURCE_DIR");
    std::string root = std::string(source ? source : ".") + "/../shared/corpus/" + relative;
    return HostPathToNative(root);
}

}  // namespace tessera::testing
