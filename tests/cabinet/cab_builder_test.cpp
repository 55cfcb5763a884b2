// CabBuilder against the peers: cabinets of every method we write pass
// `cabextract -t` and extract to the same bytes, also when spanned over a
// set; cabinets `gcab` makes read through CabReader; and our reader reads
// our own cabinets back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cab_fixtures.h"
#include "cab_test_io.h"
#include "engine/cabinet/cab_format.h"
#include "engine/cabinet/cab_methods.h"
#include "test_files.h"

namespace tessera::testing {
namespace {

bool HaveTool(const char* tool) {
#ifdef _WIN32
    (void)tool;
    return false;  // the peers run on the build host only
#else
    std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
#endif
}

int RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<SourceFile> MixedSources() {
    return {
        {"empty.txt", {}},
        {"zeros.bin", std::vector<uint8_t>(100000, 0)},
        {"random.bin", RandomBytes(70000, 3)},
        {"dir\\text.txt", TextLike(150000)},
        {"far.bin", DistantRepeat(40000, 600000)},
    };
}

void ExpectReaderReads(const std::string& firstCabinet, const std::vector<SourceFile>& sources) {
    CabTestIo io;
    CabWalk walk;
    cab::ErrorRecord record = WalkCabinet(firstCabinet, walk, io);
    ASSERT_FALSE(record.error) << "error kind " << record.kind;
    ASSERT_EQ(walk.files.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        std::string name = sources[i].name;
        for (char& c : name)
            if (c == '\\') c = '/';
        EXPECT_EQ(walk.files[i].name, name);
        EXPECT_TRUE(walk.files[i].data == sources[i].data) << name;
    }
    EXPECT_EQ(io.openCount, io.closeCount);
}

void ExpectCabextractAgrees(const std::string& firstCabinet, const std::vector<SourceFile>& sources,
                            const std::string& outFolder) {
    EXPECT_EQ(RunQuietly("cabextract -t -q '" + firstCabinet + "'"), 0) << firstCabinet;
    ASSERT_EQ(RunQuietly("cabextract -q -d '" + outFolder + "' '" + firstCabinet + "'"), 0);
    for (const SourceFile& s : sources) {
        std::string name = s.name;
        for (char& c : name)
            if (c == '\\') c = '/';
        EXPECT_TRUE(ReadWholeFile(outFolder + "/" + name) == s.data) << name;
    }
}

TEST(CabBuilder, EveryWrittenMethodReadsBackAndPassesCabextract) {
    const bool peer = HaveTool("cabextract");
    const std::vector<SourceFile> sources = MixedSources();
    const uint16_t types[] = {0x0000, 0x0001, 0x0F03, 0x1003, 0x1103, 0x1203, 0x1303, 0x1403, 0x1503};
    for (uint16_t type : types) {
        SCOPED_TRACE(type);
        ScratchFolder dir;
        BuildResult built = BuildCabinet(dir.Path(), "test.cab", sources, type);
        ASSERT_TRUE(built.ok) << "build error " << built.error.kind;
        ExpectReaderReads(built.cabinets[0], sources);
        if (peer) ExpectCabextractAgrees(built.cabinets[0], sources, dir / "out");
    }
    if (!peer) GTEST_SKIP() << "cabextract not installed: peer checks skipped";
}

// Many small files: blocks cut at a cabinet's end hold the beginnings of
// files, which both cabinets must list for the folder's parts to be joined.
std::vector<SourceFile> SmallFiles() {
    std::vector<SourceFile> files;
    for (uint32_t i = 0; i < 60; ++i) files.push_back({"small" + std::to_string(i) + ".bin", RandomBytes(5000, 100 + i)});
    return files;
}

TEST(CabBuilder, SpannedSetsLinkTheirCabinetsAndExtractWhole) {
    const bool peer = HaveTool("cabextract");
    const std::vector<SourceFile> mixed = {
        {"a.bin", RandomBytes(200000, 5)}, {"b.txt", TextLike(120000)}, {"c.bin", RandomBytes(1000, 6)}};
    const std::vector<SourceFile> small = SmallFiles();
    for (uint16_t type : {uint16_t{0x0000}, uint16_t{0x0001}, uint16_t{0x1503}}) {
        for (const std::vector<SourceFile>* set : {&mixed, &small}) {
            const std::vector<SourceFile>& sources = *set;
            SCOPED_TRACE(std::to_string(type) + (set == &small ? " small files" : " mixed files"));
            ScratchFolder dir;
            BuildResult built = BuildCabinet(dir.Path(), "", sources, type, 65536);
            ASSERT_TRUE(built.ok) << "build error " << built.error.kind;
            ASSERT_GE(built.cabinets.size(), 3u);
            for (size_t i = 0; i < built.cabinets.size(); ++i) {
                std::vector<uint8_t> bytes = ReadWholeFile(built.cabinets[i]);
                ASSERT_LE(bytes.size(), 65536u);
                EXPECT_EQ(std::memcmp(bytes.data(), "MSCF", 4), 0);
                EXPECT_EQ(cab::Get16(&bytes[34]), i);  // iCabinet
                EXPECT_EQ(cab::Get16(&bytes[32]), 0x51CA);
                uint16_t flags = cab::Get16(&bytes[30]);
                EXPECT_EQ((flags & cab::kFlagPrevCabinet) != 0, i > 0);
                EXPECT_EQ((flags & cab::kFlagNextCabinet) != 0, i + 1 < built.cabinets.size());
            }
            ExpectReaderReads(built.cabinets[0], sources);
            if (peer) ExpectCabextractAgrees(built.cabinets[0], sources, dir / "out");
        }
    }
    if (!peer) GTEST_SKIP() << "cabextract not installed: peer checks skipped";
}

TEST(CabBuilder, InterruptedCabinetKeepsItsProvisionalSignature) {
    ScratchFolder dir;
    CabTestIo io;
    io.tempFolder = dir.Path();
    io.failCabinetSeek = true;
    cab::CabinetParameters params;
    std::snprintf(params.cabinetFolder, sizeof(params.cabinetFolder), "%s/", dir.Path().c_str());
    std::strcpy(params.cabinetName, "cut.cab");
    cab::ErrorRecord record;
    auto builder = cab::CabBuilder::Create(io.BuilderTable(), params, &record);
    std::string source = dir / "src";
    std::vector<uint8_t> text = TextLike(5000);
    WriteWholeFile(source, text.data(), text.size());
    ASSERT_TRUE(builder->AddFile(source.c_str(), "x.txt", false, nullptr, nullptr, CabTestIo::OpenInfo, 0x0001));
    EXPECT_FALSE(builder->FlushCabinet(false, nullptr, nullptr));
    EXPECT_EQ(record.kind, cab::kBuildErrorCabinetFile);
    std::vector<uint8_t> bytes = ReadWholeFile(dir / "cut.cab");
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::memcmp(bytes.data(), "!CAB", 4), 0);
    CabTestIo readIo;
    CabWalk walk;
    EXPECT_EQ(WalkCabinet(dir / "cut.cab", walk, readIo).kind, cab::kErrorNotACabinet);
}

TEST(CabBuilder, RefusesMethodsItCannotWrite) {
    ScratchFolder dir;
    for (uint16_t type : {uint16_t{0x1202}, uint16_t{0x0004}, uint16_t{0x000F}, uint16_t{0x0E03}, uint16_t{0x1603}}) {
        SCOPED_TRACE(type);
        BuildResult built = BuildCabinet(dir.Path(), "bad.cab", {{"a", {1, 2, 3}}}, type);
        EXPECT_FALSE(built.ok);
        EXPECT_EQ(built.error.kind, cab::kBuildErrorBadCompressionType);
    }
}

TEST(CabReaderPeers, CabinetsMadeByGcabReadCorrectly) {
    if (!HaveTool("gcab")) GTEST_SKIP() << "gcab not installed";
    const std::vector<SourceFile> sources = {{"one.txt", TextLike(70000)}, {"two.bin", RandomBytes(40000, 11)},
                                             {"three.bin", std::vector<uint8_t>(5000, 0x41)}};
    for (const char* option : {"-c", "-cz"}) {
        SCOPED_TRACE(option);
        ScratchFolder dir;
        std::string files;
        for (const SourceFile& s : sources) {
            WriteWholeFile(dir / s.name, s.data.data(), s.data.size());
            files += " " + s.name;
        }
        ASSERT_EQ(RunQuietly("cd '" + dir.Path() + "' && gcab " + option + " peer.cab" + files), 0);
        ExpectReaderReads(dir / "peer.cab", sources);
    }
}

TEST(CabMethods, ContextsRefuseOperationsOfAnotherKind) {
    std::pmr::memory_resource* memory = std::pmr::get_default_resource();
    cab::MethodContext* decoder = nullptr;
    cab::MethodContext* encoder = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(cab::CreateDecompressor(0x1503, memory, &decoder, &size), cab::MethodResult::kOk);
    EXPECT_EQ(cab::ContextTag(decoder), cab::kTagLzxDecoder);
    EXPECT_EQ(size, cab::kMaxCompressedBlock);
    ASSERT_EQ(cab::CreateCompressor(0x0001, memory, &encoder, &size), cab::MethodResult::kOk);
    EXPECT_EQ(cab::ContextTag(encoder), cab::kTagMszipEncoder);
    uint8_t in[16] = {}, out[64];
    uint32_t produced = 0;
    EXPECT_EQ(cab::DecompressBlock(encoder, in, 16, out, 16), cab::MethodResult::kInvalidContext);
    EXPECT_EQ(cab::CompressBlock(decoder, in, 16, out, 64, &produced), cab::MethodResult::kInvalidContext);
    EXPECT_EQ(cab::ResetDecompressor(encoder), cab::MethodResult::kInvalidContext);
    EXPECT_EQ(cab::DestroyCompressor(decoder), cab::MethodResult::kInvalidContext);
    EXPECT_EQ(cab::DecompressBlock(nullptr, in, 16, out, 16), cab::MethodResult::kInvalidContext);
    EXPECT_EQ(cab::DestroyDecompressor(decoder), cab::MethodResult::kOk);
    EXPECT_EQ(cab::CreateDecompressor(0x0004, memory, &decoder, &size), cab::MethodResult::kBadMethod);
    EXPECT_EQ(decoder, nullptr);
    EXPECT_EQ(cab::CreateCompressor(0x1202, memory, &decoder, &size), cab::MethodResult::kBadMethod);
    EXPECT_EQ(cab::DestroyCompressor(encoder), cab::MethodResult::kOk);
}

}  // namespace
}  // namespace tessera::testing
