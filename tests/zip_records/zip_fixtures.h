// Small ZIP archives assembled byte by byte for the record-layer tests, with
// the positions of every record so a test can damage one field; helpers to
// run the peer tools that make and check real archives.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zip/zip_directory.h"

namespace tessera::testing {

struct FixtureEntry {
    FixtureEntry(std::string n, std::string d, uint16_t m = 0, uint16_t f = 0, uint32_t a = 0x20,
                 std::string c = "", bool desc = false)
        : name(std::move(n)), data(std::move(d)), method(m), flags(f), attributes(a), comment(std::move(c)),
          descriptor(desc) {}
    std::string name;
    std::string data;           // stored as is (method 0 unless `method` says otherwise)
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t attributes = 0x20;
    std::string comment;
    bool descriptor = false;    // bit 3 with a signed data descriptor after the data
};

struct FixtureOptions {
    FixtureOptions(std::string p = "", bool absolute = false, std::string c = "")
        : prefix(std::move(p)), absoluteOffsets(absolute), comment(std::move(c)) {}
    std::string prefix;             // bytes in front of the first local header
    bool absoluteOffsets = false;   // offsets count the prefix (else relative to the ZIP data)
    std::string comment;            // archive comment
};

struct Fixture {
    std::string bytes;
    std::vector<size_t> localPositions;    // where each local header is
    std::vector<size_t> centralPositions;  // where each central header is
    size_t centralStart = 0;
    size_t endPosition = 0;
};

Fixture BuildZip(const std::vector<FixtureEntry>& entries, const FixtureOptions& options = {});

void PatchU16(std::string* bytes, size_t at, uint16_t value);
void PatchU32(std::string* bytes, size_t at, uint32_t value);

// A reading run over bytes in memory: open + walk, as the list hook does.
struct ListRun {
    bool opened = false;
    zip::DirectoryLocation location;
    zip::DirectoryWalk walk;
    zip::Reports reports;
};
ListRun ListBytes(const std::string& bytes, zip::ReadMode mode = zip::ReadMode::List);

// Runs a shell command (native builds only); true on exit status 0.
bool RunCommand(const std::string& command);
bool HaveTool(const std::string& name);

}  // namespace tessera::testing
