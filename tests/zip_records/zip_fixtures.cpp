// Builds fixture archives field by field (independently of the record
// serializers under test) and runs peer tools.
#include "zip_fixtures.h"

#include <cstdlib>

#include "test_files.h"

namespace tessera::testing {
namespace {

void Put16(std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string* out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

void PatchU16(std::string* bytes, size_t at, uint16_t value) {
    (*bytes)[at] = static_cast<char>(value & 0xFF);
    (*bytes)[at + 1] = static_cast<char>(value >> 8);
}

void PatchU32(std::string* bytes, size_t at, uint32_t value) {
    PatchU16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
    PatchU16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

Fixture BuildZip(const std::vector<FixtureEntry>& entries, const FixtureOptions& options) {
    Fixture f;
    std::string& out = f.bytes;
    out = options.prefix;
    const size_t base = options.absoluteOffsets ? 0 : options.prefix.size();
    std::vector<uint32_t> crcs;
    for (const FixtureEntry& e : entries) {
        uint32_t crc = ReferenceCrc32(e.data.data(), e.data.size());
        crcs.push_back(crc);
        uint16_t flags = static_cast<uint16_t>(e.flags | (e.descriptor ? 8 : 0));
        f.localPositions.push_back(out.size());
        Put32(&out, 0x04034B50);
        Put16(&out, e.method ? 20 : 10);
        Put16(&out, flags);
        Put16(&out, e.method);
        Put16(&out, 0x6000);  // 12:00:00
        Put16(&out, 0x5A21);  // 2025-01-01
        Put32(&out, e.descriptor ? 0 : crc);
        Put32(&out, e.descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
        Put32(&out, e.descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
        Put16(&out, static_cast<uint32_t>(e.name.size()));
        Put16(&out, 0);
        out += e.name;
        out += e.data;
        if (e.descriptor) {
            Put32(&out, 0x08074B50);
            Put32(&out, crc);
            Put32(&out, static_cast<uint32_t>(e.data.size()));
            Put32(&out, static_cast<uint32_t>(e.data.size()));
        }
    }
    f.centralStart = out.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry& e = entries[i];
        f.centralPositions.push_back(out.size());
        Put32(&out, 0x02014B50);
        Put16(&out, 0x0B16);
        Put16(&out, e.method ? 20 : 10);
        Put16(&out, static_cast<uint32_t>(e.flags | (e.descriptor ? 8 : 0)));
        Put16(&out, e.method);
        Put16(&out, 0x6000);
        Put16(&out, 0x5A21);
        Put32(&out, crcs[i]);
        Put32(&out, static_cast<uint32_t>(e.data.size()));
        Put32(&out, static_cast<uint32_t>(e.data.size()));
        Put16(&out, static_cast<uint32_t>(e.name.size()));
        Put16(&out, 0);
        Put16(&out, static_cast<uint32_t>(e.comment.size()));
        Put16(&out, 0);
        Put16(&out, 0);
        Put32(&out, e.attributes);
        Put32(&out, static_cast<uint32_t>(f.localPositions[i] - base));
        out += e.name;
        out += e.comment;
    }
    f.endPosition = out.size();
    Put32(&out, 0x06054B50);
    Put16(&out, 0);
    Put16(&out, 0);
    Put16(&out, static_cast<uint32_t>(entries.size()));
    Put16(&out, static_cast<uint32_t>(entries.size()));
    Put32(&out, static_cast<uint32_t>(f.endPosition - f.centralStart));
    Put32(&out, static_cast<uint32_t>(f.centralStart - base));
    Put16(&out, static_cast<uint32_t>(options.comment.size()));
    out += options.comment;
    return f;
}

ListRun ListBytes(const std::string& bytes, zip::ReadMode mode) {
    ListRun run;
    MemoryInput input(bytes.data(), bytes.size());
    zip::BlockReader reader(input);
    if (!reader.Allocate()) return run;
    run.opened = zip::OpenDirectory(reader, mode, &run.location, &run.reports);
    if (run.opened && (mode == zip::ReadMode::List || mode == zip::ReadMode::Extract))
        zip::WalkCentralDirectory(reader, run.location, &run.walk, &run.reports);
    return run;
}

bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

bool HaveTool(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1"); }

}  // namespace tessera::testing
