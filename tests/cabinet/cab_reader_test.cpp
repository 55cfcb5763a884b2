// CabReader over the sample corpus: every cabinet reads to the CRCs its
// manifest records, damaged ones fail with the error kind that fits, and
// every handle the reader opened is closed again.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#if !defined(_WIN32)
#include <thread>
#endif

#include "cab_test_io.h"
#include "corpus.h"
#include "engine/cabinet/cab_reader.h"
#include "test_files.h"

namespace tessera::testing {
namespace {

// The offset of the first "MSCF" that IsCabinet accepts, as the archive
// class finds a cabinet behind other bytes.
uint32_t FindCabinet(const std::string& path) {
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    for (size_t p = 0; p + 4 < bytes.size(); ++p) {
        if (std::memcmp(&bytes[p], "MSCF", 4) != 0) continue;
        CabTestIo io;
        io.baseOffset = static_cast<uint32_t>(p);
        cab::ErrorRecord record;
        auto reader = cab::CabReader::Create(io.ReaderTable(), &record);
        cab::FileHandle h = CabTestIo::Open(&io, path.c_str());
        cab::CabinetInfo info;
        bool ok = reader->IsCabinet(h, &info);
        CabTestIo::Close(&io, h);
        if (ok) return static_cast<uint32_t>(p);
    }
    return 0;
}

// Error kinds the damaged samples must end with.
const std::map<std::string, int> kExpectedKinds = {
    {"cab/bad_cfdata_checksum.cab", cab::kErrorCorruptCabinet},
    {"cab/bad_signature.cab", cab::kErrorNotACabinet},
    {"cab/bad_folder_index.cab", cab::kErrorCorruptCabinet},
    {"cab/truncated_no_data.cab", cab::kErrorCorruptCabinet},
    {"cab/truncated_file_entry.cab", cab::kErrorCorruptCabinet},
    {"cab/quantum_cve_2014_9556_infinite_loop.cab", cab::kErrorDecompressorFailure},
    {"cab/mszip_cve_2010_2800_infinite_loop.cab", cab::kErrorDecompressorFailure},
};

TEST(CabReaderCorpus, SamplesReadToTheirRecordedCrcsOrFailCleanly) {
    TESSERA_REQUIRE_CORPUS();
    for (const CorpusSample& sample : CorpusSamplesOf("cab")) {
        SCOPED_TRACE(sample.file);
        std::string path = CorpusPath(sample.file);
        CabTestIo io;
        io.baseOffset = FindCabinet(path);
        CabWalk walk;
        cab::ErrorRecord record = WalkCabinet(path, walk, io);
        EXPECT_EQ(io.openCount, io.closeCount) << "handles left open";
        const bool tolerant = sample.expect.find("either way") != std::string::npos ||
                              sample.expect.find("or tolerant") != std::string::npos;
        if (sample.expect == "ok") {
            if (record.error) {
                ADD_FAILURE() << "error kind " << record.kind;
                continue;
            }
            EXPECT_EQ(walk.files.size(), sample.entries.size());
            for (const CorpusEntry& entry : sample.entries) {
                const ExtractedFile* found = nullptr;
                for (const ExtractedFile& f : walk.files)
                    if (f.name == entry.name) found = &f;
                if (!found) {
                    ADD_FAILURE() << "missing " << entry.name;
                    continue;
                }
                EXPECT_TRUE(found->closed) << entry.name;
                EXPECT_EQ(found->data.size(), entry.size) << entry.name;
                EXPECT_EQ(ReferenceCrc32(found->data.data(), found->data.size()), entry.crc32) << entry.name;
            }
        } else if (!tolerant) {
            EXPECT_TRUE(record.error) << sample.expect;
            auto kind = kExpectedKinds.find(sample.file);
            if (kind != kExpectedKinds.end()) {
                EXPECT_EQ(record.kind, kind->second);
            }
        }
    }
}

#if !defined(_WIN32)
// Readers keep no state outside their callbacks' context: two threads
// reading different cabinets at once get the same bytes as one alone.
TEST(CabReaderCorpus, TwoThreadsReadCabinetsAtTheSameTime) {
    TESSERA_REQUIRE_CORPUS();
    const char* names[] = {"cab/lzx18_4files.cab", "cab/mszip_lzx18_quantum18_3folders.cab"};
    std::vector<uint32_t> alone[2], together[2];
    auto crcs = [](const char* name) {
        CabTestIo io;
        CabWalk walk;
        EXPECT_FALSE(WalkCabinet(CorpusPath(name), walk, io).error) << name;
        std::vector<uint32_t> result;
        for (const ExtractedFile& f : walk.files) result.push_back(ReferenceCrc32(f.data.data(), f.data.size()));
        return result;
    };
    for (int i = 0; i < 2; ++i) alone[i] = crcs(names[i]);
    std::thread other([&] {
        for (int round = 0; round < 20; ++round) together[1] = crcs(names[1]);
    });
    for (int round = 0; round < 20; ++round) together[0] = crcs(names[0]);
    other.join();
    EXPECT_EQ(alone[0], together[0]);
    EXPECT_EQ(alone[1], together[1]);
}
#endif

}  // namespace
}  // namespace tessera::testing
