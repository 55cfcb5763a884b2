// Randomly damaged ZIP archives through tescore.dll (under Wine): copies of
// peer-made and corpus archives with bytes flipped, header fields set to
// extreme values, pieces cut out, inserted or repeated, each listed, tested
// and extracted. Every run must end with a defined result in reasonable
// time, and nothing may be written beside the destination folder.
//
// The seed is fixed and printed; TESSERA_ZIP_DAMAGE_SEED replays another.
#include "tescore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "corpus.h"
#include "engine_session.h"
#include "test_files.h"
#include "zip_engine_support.h"

namespace tessera::testing {
namespace {

constexpr unsigned kDefaultSeed = 20261210;
constexpr int kCopiesPerArchive = 40;
constexpr ULONGLONG kSlowRunMs = 20000;  // far above any sound run of these small files

struct Base {
    std::string path;
    std::string password;
};

std::vector<Base> Bases() {
    std::vector<Base> bases;
    for (const char* peer : {"zip-6.zip", "zip-password.zip", "zip-pipe.zip", "py-descriptors.zip",
                             "sfx-relative.exe", "7zz-store.zip"}) {
        const std::string path = PeerArchivePath(peer);
        if (FileExists(path)) bases.push_back({path, "tessera"});
    }
    if (!CorpusSamples().empty()) {
        for (const char* sample : {"zip/implode_8k_3trees.zip", "zip/implode_4k_2trees.zip",
                                   "zip/trad_encrypted_stored_8files.zip", "zip/stored_data_descriptor.zip",
                                   "zip/comment_entry_comment.zip"})
            bases.push_back({CorpusPath(sample), "test"});
    }
    return bases;
}

// Header fields are where a reader goes astray: values that overflow,
// point far away or are zero.
uint32_t ExtremeValue(std::mt19937& rng) {
    static const uint32_t kValues[] = {0, 1, 12, 0xFFFF, 0x8000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF0};
    if (rng() % 3 == 0) return rng();
    return kValues[rng() % (sizeof kValues / sizeof kValues[0])];
}

std::string Damage(std::string bytes, std::mt19937& rng) {
    std::vector<size_t> signatures;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 'P' && bytes[i + 1] == 'K') signatures.push_back(i);
    const int changes = 1 + static_cast<int>(rng() % 6);
    for (int c = 0; c < changes && !bytes.empty(); ++c) {
        const size_t at = rng() % bytes.size();
        switch (rng() % 6) {
        case 0:  // a flipped byte
            bytes[at] = static_cast<char>(bytes[at] ^ (1 + rng() % 255));
            break;
        case 1: {  // a field of a record set to an extreme value
            if (signatures.empty()) break;
            size_t field = signatures[rng() % signatures.size()] + 4 + 2 * (rng() % 20);
            uint32_t value = ExtremeValue(rng);
            for (int b = 0; b < (rng() % 2 ? 4 : 2) && field < bytes.size(); ++b, ++field, value >>= 8)
                bytes[field] = static_cast<char>(value & 0xFF);
            break;
        }
        case 2:  // cut short
            bytes.resize(at);
            break;
        case 3: {  // garbage inserted
            std::string garbage(1 + rng() % 64, '\0');
            for (char& g : garbage) g = static_cast<char>(rng());
            bytes.insert(at, garbage);
            break;
        }
        case 4:  // a run of 0x00 or 0xFF
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 1 + rng() % 32)),
                      static_cast<char>(rng() % 2 ? 0xFF : 0x00));
            break;
        default: {  // a piece repeated elsewhere
            const size_t length = std::min(bytes.size() - at, static_cast<size_t>(1 + rng() % 200));
            const std::string piece = bytes.substr(at, length);
            bytes.insert(rng() % bytes.size(), piece);
            break;
        }
        }
    }
    return bytes;
}

bool Defined(HRESULT hr) { return hr == S_OK || hr == S_FALSE || hr == E_FAIL; }

TEST(ZipDamage, DamagedArchivesEndCleanly) {
    const char* chosen = std::getenv("TESSERA_ZIP_DAMAGE_SEED");
    const unsigned seed = chosen ? static_cast<unsigned>(std::strtoul(chosen, nullptr, 10)) : kDefaultSeed;
    std::printf("ZIP damage replay: seed %u (set TESSERA_ZIP_DAMAGE_SEED to replay another)\n", seed);
    RecordProperty("seed", static_cast<int>(seed));
    const std::vector<Base> bases = Bases();
    ASSERT_FALSE(bases.empty()) << "no archives to damage: " << PeerArchivePath("manifest.tsv");
    std::mt19937 rng(seed);
    for (const Base& base : bases) {
        std::vector<uint8_t> original = ReadWholeFile(base.path);
        ASSERT_FALSE(original.empty()) << base.path;
        const std::string bytes(original.begin(), original.end());
        for (int copy = 0; copy < kCopiesPerArchive; ++copy) {
            SCOPED_TRACE(base.path + ", copy " + std::to_string(copy) + ", seed " + std::to_string(seed));
            ScratchFolder work;
            WriteWholeFile(work / "damaged.zip", Damage(bytes, rng));
            const ULONGLONG start = GetTickCount64();
            OpenedArchive zip(work / "damaged.zip");
            if (zip.created != S_OK) continue;  // no longer taken for a ZIP archive
            zip.object->SetPassword(base.password.c_str());
            const HRESULT listed = zip.List();
            const HRESULT tested = zip.Test();
            const HRESULT extracted = zip.Extract(work / "out");
            EXPECT_TRUE(Defined(listed) && Defined(tested) && Defined(extracted))
                << std::hex << listed << " " << tested << " " << extracted << "\n" << zip.log;
            EXPECT_LT(GetTickCount64() - start, kSlowRunMs);
            std::vector<std::string> names = NamesIn(work.Path());
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, (std::vector<std::string>{"damaged.zip", "out"})) << zip.log;
        }
    }
}

}  // namespace
}  // namespace tessera::testing
