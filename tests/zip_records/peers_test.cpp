// Archives made by the peers (zip, 7zz, Python's zipfile) and the
// sample corpus, walked by the record layer and compared with an independent
// reader (Python's zipfile) and with the corpus manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "corpus.h"
#include "test_files.h"
#include "zip/zip_directory.h"
#include "zip_fixtures.h"

namespace tessera::testing {
namespace {

using namespace tessera::zip;

std::string AsString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool UpdateScanAccepts(const std::string& bytes, UpdateScan* scan) {
    MemoryInput input(bytes.data(), bytes.size());
    Reports reports;
    return ScanForUpdate(input, scan, &reports);
}

#ifndef _WIN32
// What Python's zipfile reads from an archive, one line per entry.
struct OracleEntry {
    std::string name;
    uint32_t crc;
    uint64_t compressed, size;
    uint64_t offset;
    unsigned method, flags;
    uint32_t external;
    std::string comment;
};

std::vector<OracleEntry> Oracle(const std::string& archive, std::string* archiveComment) {
    const std::string out = archive + ".oracle";
    const std::string script =
        "import zipfile,sys\n"
        "z=zipfile.ZipFile(sys.argv[1])\n"
        "o=open(sys.argv[2],'w',encoding='latin-1')\n"
        "o.write(z.comment.hex()+'\\n')\n"
        "for i in z.infolist():\n"
        "  n=i.orig_filename.encode('cp437' if not i.flag_bits&0x800 else 'utf-8').hex()\n"
        "  o.write('\\t'.join(map(str,[n,i.CRC,i.compress_size,i.file_size,i.header_offset,i.compress_type,"
        "i.flag_bits,i.external_attr,i.comment.hex()]))+'\\n')\n";
    const std::string scriptPath = archive + ".py";
    WriteWholeFile(scriptPath, script);
    std::vector<OracleEntry> entries;
    if (!RunCommand("python3 '" + scriptPath + "' '" + archive + "' '" + out + "'")) return entries;
    std::ifstream in(out);
    std::string line;
    auto unhex = [](const std::string& hex) {
        std::string s;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) s.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return s;
    };
    std::getline(in, line);
    *archiveComment = unhex(line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        OracleEntry e;
        std::string name, comment;
        fields >> name >> e.crc >> e.compressed >> e.size >> e.offset >> e.method >> e.flags >> e.external;
        std::getline(fields, comment);
        e.name = unhex(name);
        e.comment = unhex(comment.empty() ? comment : comment.substr(1));
        entries.push_back(e);
    }
    return entries;
}

void MakeSourceTree(const ScratchFolder& scratch) {
    RunCommand("mkdir -p '" + scratch / "src/sub/deeper" + "' '" + scratch / "src/emptydir" + "'");
    std::string text;
    for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i % 37) + " of a text that repeats\n";
    WriteWholeFile(scratch / "src/text.txt", text);
    std::string binary;
    uint32_t x = 12345;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1103515245u + 12345u;
        binary.push_back(static_cast<char>(x >> 24));
    }
    WriteWholeFile(scratch / "src/sub/random.bin", binary);
    WriteWholeFile(scratch / "src/sub/deeper/empty.txt", "");
    WriteWholeFile(scratch / "src/sub/deeper/small.txt", "small\n");
}

// Every way a peer writes the directory, walked to the same names, CRCs,
// sizes, offsets, methods, flags and attributes as an independent reader sees.
TEST(ZipPeers, PeerArchivesWalkLikeAnIndependentReader) {
    if (!HaveTool("zip") || !HaveTool("7zz") || !HaveTool("python3")) GTEST_SKIP() << "zip, 7zz or python3 missing";
    ScratchFolder scratch;
    MakeSourceTree(scratch);
    const std::string src = "cd '" + scratch / "src" + "' && ";
    const std::string py = "import zipfile,sys,io\n";
    WriteWholeFile(scratch / "stream.py",
                   py + "class W(io.RawIOBase):\n"
                        "  def __init__(s,f): s.f=f\n"
                        "  def writable(s): return True\n"
                        "  def write(s,b): return s.f.write(b)\n"
                        "f=open(sys.argv[1],'wb')\n"
                        "z=zipfile.ZipFile(W(f),'w',zipfile.ZIP_DEFLATED)\n"
                        "z.writestr('streamed/one.txt','one'*500)\n"
                        "z.writestr(zipfile.ZipInfo('streamed/two.bin'),bytes(range(256))*9)\n"
                        "z.close()\n");
    WriteWholeFile(scratch / "plain.py",
                   py + "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                        "z.writestr('stored.txt','stored'*10)\n"
                        "z.writestr('deflated.txt','deflated'*100,compress_type=zipfile.ZIP_DEFLATED)\n"
                        "i=zipfile.ZipInfo('with-comment.txt'); i.comment=b'per entry'\n"
                        "z.writestr(i,'x')\n"
                        "z.comment=b'python archive comment'\n"
                        "z.close()\n");
    WriteWholeFile(scratch / "zip64.py",
                   py + "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
                        "for n in ('a.txt','b/c.txt'):\n"
                        "  with z.open(n,'w',force_zip64=True) as f: f.write(n.encode()*300)\n"
                        "z.close()\n");
    WriteWholeFile(scratch / "many.py",
                   py + "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                        "for i in range(65600): z.writestr('d%d/f%d.txt'%(i%7,i),str(i))\n"
                        "z.close()\n");
    const struct {
        const char* name;
        std::string command;  // makes scratch/<name>
        bool zip64 = false;   // ZIP64 records: read, but an update refuses them
    } archives[] = {
        {"store.zip", src + "zip -q -r -0 ../store.zip ."},
        {"fastest.zip", src + "zip -q -r -1 ../fastest.zip ."},
        {"best.zip", src + "zip -q -r -9 ../best.zip ."},
        {"encrypted.zip", src + "zip -q -r -e -P secret ../encrypted.zip ."},
        {"commented.zip", src + "zip -q -r ../commented.zip . && echo 'an archive comment' | zip -q -z ../commented.zip"},
        {"descriptors.zip", src + "zip -q -r -fd ../descriptors.zip ."},
        // Written to a pipe: bit 3 and data descriptors, no ZIP64.
        {"piped.zip", src + "cat text.txt | zip -q -fz- - - | cat > ../piped.zip"},
        {"7z-default.zip", src + "7zz a -tzip -bso0 -bsp0 ../7z-default.zip ."},
        {"7z-copy.zip", src + "7zz a -tzip -mm=Copy -bso0 -bsp0 ../7z-copy.zip ."},
        {"7z-max.zip", src + "7zz a -tzip -mx=9 -bso0 -bsp0 ../7z-max.zip ."},
        {"py-stream.zip", "python3 '" + scratch / "stream.py" + "' '" + scratch / "py-stream.zip" + "'"},
        {"py-plain.zip", "python3 '" + scratch / "plain.py" + "' '" + scratch / "py-plain.zip" + "'"},
        // ZIP64: 64-bit sizes in extra fields and the ZIP64 end records.
        {"zip-fz.zip", src + "zip -q -r -fz ../zip-fz.zip .", true},
        {"py-zip64.zip", "python3 '" + scratch / "zip64.py" + "' '" + scratch / "py-zip64.zip" + "'", true},
        {"py-65600-entries.zip", "python3 '" + scratch / "many.py" + "' '" + scratch / "py-65600-entries.zip" + "'",
         true},
        {"zip-fz-prefixed.zip", "head -c 5000 /dev/zero > '" + scratch / "zip-fz-prefixed.zip" + "' && cat '" +
                                      scratch / "zip-fz.zip" + "' >> '" + scratch / "zip-fz-prefixed.zip" + "'",
         true},
        // Self-extracting shapes: a prefix with offsets relative to the ZIP
        // data, and the same after `zip -A` made them absolute.
        {"sfx-relative.zip", "head -c 3000 /dev/zero | tr '\\0' 'M' > '" + scratch / "sfx-relative.zip" + "' && cat '" +
                                 scratch / "best.zip" + "' >> '" + scratch / "sfx-relative.zip" + "'"},
        {"sfx-absolute.zip", "cp '" + scratch / "sfx-relative.zip" + "' '" + scratch / "sfx-absolute.zip" +
                                 "' && zip -q -A '" + scratch / "sfx-absolute.zip" + "'"},
    };
    for (const auto& a : archives) {
        SCOPED_TRACE(a.name);
        const std::string path = scratch / a.name;
        ASSERT_TRUE(RunCommand(a.command)) << a.command;
        std::string archiveComment;
        std::vector<OracleEntry> expected = Oracle(path, &archiveComment);
        ASSERT_FALSE(expected.empty());
        const std::string bytes = AsString(ReadWholeFile(path));

        ListRun run = ListBytes(bytes);
        ASSERT_TRUE(run.opened);
        EXPECT_LE(run.reports.level, kLevelWarning);
        ASSERT_TRUE(run.walk.complete);
        EXPECT_TRUE(run.walk.endSignatureFollows);
        ASSERT_EQ(run.walk.entries.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const DirectoryEntry& got = run.walk.entries[i];
            const OracleEntry& want = expected[i];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(got.header.crc, want.crc);
            EXPECT_EQ(got.compressedSize, want.compressed);
            EXPECT_EQ(got.uncompressedSize, want.size);
            EXPECT_EQ(static_cast<uint64_t>(got.localPosition), want.offset);
            EXPECT_EQ(got.header.method, want.method);
            EXPECT_EQ(got.header.flags, want.flags);
            EXPECT_EQ(got.header.externalAttributes, want.external);
            EXPECT_EQ(got.comment, want.comment);
            EXPECT_FALSE(got.damaged || got.strongEncryption);
            ListFields fields = ListFieldsOf(got);
            EXPECT_EQ(fields.encrypted, (want.flags & 1) != 0);
            EXPECT_EQ(fields.packedSize, want.compressed - ((want.flags & 1) ? 12 : 0));
            EXPECT_EQ(fields.methodWord, want.method | ((want.flags & 6u) << 15));
        }
        ListRun comment = ListBytes(bytes, ReadMode::Comment);
        EXPECT_EQ(comment.location.comment, archiveComment);

        UpdateScan scan;
        if (a.zip64) {
            EXPECT_TRUE(run.location.zip64 || run.walk.entries.size() < 0xFFFF);
            EXPECT_FALSE(UpdateScanAccepts(bytes, &scan));
            continue;
        }
        ASSERT_TRUE(UpdateScanAccepts(bytes, &scan));
        ASSERT_EQ(scan.entries.size(), expected.size());
        uint64_t firstOffset = UINT64_MAX;
        uint64_t copied = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(scan.entries[i].central.localOffset, expected[i].offset);
            EXPECT_EQ(scan.entries[i].name, expected[i].name);
            firstOffset = std::min<uint64_t>(firstOffset, expected[i].offset);
            copied += scan.entries[i].copyLength;
        }
        EXPECT_EQ(scan.prefixLength, firstOffset);
        EXPECT_EQ(scan.comment, archiveComment);
        // The peers write entries back to back: the copies cover all of it.
        EXPECT_EQ(scan.prefixLength + copied, scan.centralStart);
    }
}

#endif

std::string CorpusName(const CorpusEntry& entry) {
    if (entry.name.rfind("hex:", 0) != 0) return entry.name;
    std::string s;
    for (size_t i = 4; i + 1 < entry.name.size(); i += 2)
        s.push_back(static_cast<char>(std::stoi(entry.name.substr(i, 2), nullptr, 16)));
    return s;
}

// The corpus: every ZIP and self-extracting ZIP sample opens and walks to the
// entries of the manifest (ZIP64 samples too; only an update refuses them);
// strong encryption is recognised.
TEST(ZipPeers, CorpusSamplesWalkAsTheManifestSays) {
    TESSERA_REQUIRE_CORPUS();
    std::vector<CorpusSample> samples = CorpusSamplesOf("zip");
    for (const CorpusSample& s : CorpusSamplesOf("zip-sfx")) samples.push_back(s);
    ASSERT_FALSE(samples.empty());
    for (const CorpusSample& sample : samples) {
        SCOPED_TRACE(sample.file);
        const std::string bytes = AsString(ReadWholeFile(CorpusPath(sample.file)));
        ListRun run = ListBytes(bytes);
        UpdateScan scan;
        const bool updatable = UpdateScanAccepts(bytes, &scan);
        const bool zip64 = sample.file.find("zip64") != std::string::npos;
        ASSERT_TRUE(run.opened);
        ASSERT_TRUE(run.walk.complete);
        EXPECT_LE(run.reports.level, kLevelWarning);
        EXPECT_EQ(updatable, !zip64);
        std::map<std::string, const DirectoryEntry*> byName;
        for (const DirectoryEntry& e : run.walk.entries) {
            byName[e.name] = &e;
            EXPECT_FALSE(e.damaged) << e.name;
            EXPECT_EQ(e.strongEncryption, e.header.method == 99) << e.name;
        }
        for (const CorpusEntry& want : sample.entries) {
            auto it = byName.find(CorpusName(want));
            if (it == byName.end()) {
                // Some OEM names are given only as the peers decoded them:
                // match those by size and CRC.
                it = std::find_if(byName.begin(), byName.end(), [&](const auto& item) {
                    return item.second->uncompressedSize == want.size && item.second->header.crc == want.crc32;
                });
            }
            ASSERT_NE(it, byName.end()) << want.name;
            // Without the password the peers wrote empty files.
            if (sample.expect.find("password") == std::string::npos) {
                EXPECT_EQ(it->second->uncompressedSize, want.size) << want.name;
            }
            // Damaged samples list the stored CRC, the manifest the content's.
            if (sample.expect == "ok") {
                EXPECT_EQ(it->second->header.crc, want.crc32) << want.name;
            }
        }
        if (sample.format == "zip-sfx") {
            EXPECT_GT(scan.prefixLength, 0u);
            EXPECT_EQ(scan.prefixLength, static_cast<uint64_t>(run.walk.entries.front().localPosition));
        }
    }
}

}  // namespace
}  // namespace tessera::testing
