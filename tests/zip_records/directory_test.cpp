// Opening and walking the directory for reading, and the update scan, on
// fixtures built byte by byte: prefixes and offset shifts, disks, empty
// archives, comments, and the hostile directories every reader meets.
#include <gtest/gtest.h>

#include <algorithm>

#include "zip/zip_directory.h"
#include "zip_fixtures.h"

namespace tessera::testing {
namespace {

using namespace tessera::zip;

std::vector<FixtureEntry> ThreeEntries() {
    return {{"first.txt", std::string(100, 'a')}, {"dir/", "", 0, 0, 0x10}, {"dir/second.bin", "0123456789"}};
}

bool ScanOk(const std::string& bytes, UpdateScan* scan, Reports* reports) {
    MemoryInput input(bytes.data(), bytes.size());
    return ScanForUpdate(input, scan, reports);
}

std::vector<std::string> Names(const DirectoryWalk& walk) {
    std::vector<std::string> names;
    for (const DirectoryEntry& e : walk.entries) names.push_back(e.name);
    return names;
}

TEST(ZipDirectory, PrefixesAndShifts) {
    const std::string prefix(1000, 'M');
    Fixture plain = BuildZip(ThreeEntries());
    Fixture relative = BuildZip(ThreeEntries(), {prefix, false});
    Fixture absolute = BuildZip(ThreeEntries(), {prefix, true});
    // A central offset of 0 behind a prefix: the directory is found where
    // the end record says it ends; the entry offsets are taken as stored.
    Fixture zeroOffset = BuildZip(ThreeEntries(), {prefix, true});
    PatchU32(&zeroOffset.bytes, zeroOffset.endPosition + 16, 0);
    // The first 40 bytes cut away: a negative shift.
    Fixture cut = BuildZip(ThreeEntries());
    cut.bytes.erase(0, 40);
    // Junk between the directory and the end record: the shifted offset
    // misses the directory, the stored one finds it.
    Fixture junk = BuildZip(ThreeEntries(), {prefix, true});
    junk.bytes.insert(junk.endPosition, 50, 'J');

    const struct {
        const char* what;
        const std::string& bytes;
        int level;
        int64_t shift;
        size_t centralStart;
        int64_t firstLocal;  // where the first entry's local header is taken to be
        uint64_t missing;    // "Missing %ld bytes" count, 0 for none
        bool endSignatureFollows;
    } cases[] = {
        {"plain", plain.bytes, kLevelOk, 0, plain.centralStart, 0, 0, true},
        {"prefix, offsets relative to the ZIP data", relative.bytes, kLevelWarning, 1000, relative.centralStart, 1000, 0, true},
        {"prefix, absolute offsets", absolute.bytes, kLevelOk, 0, absolute.centralStart, 1000, 0, true},
        {"central offset 0 with a prefix", zeroOffset.bytes, kLevelEntryError, 0, zeroOffset.centralStart, 1000, 0, true},
        {"negative shift", cut.bytes, kLevelDamaged, -40, cut.centralStart - 40, -40, 40, true},
        {"directory found without the shift", junk.bytes, kLevelWarning, 0, junk.centralStart, 1000, 0, false},
    };
    for (const auto& c : cases) {
        ListRun run = ListBytes(c.bytes);
        ASSERT_TRUE(run.opened) << c.what;
        EXPECT_EQ(run.reports.level, c.level) << c.what;
        EXPECT_EQ(run.location.shift, c.shift) << c.what;
        EXPECT_EQ(run.location.centralStart, c.centralStart) << c.what;
        ASSERT_TRUE(run.walk.complete) << c.what;
        EXPECT_EQ(Names(run.walk), (std::vector<std::string>{"first.txt", "dir/", "dir/second.bin"})) << c.what;
        EXPECT_EQ(run.walk.entries[0].localPosition, c.firstLocal) << c.what;
        EXPECT_EQ(run.walk.endSignatureFollows, c.endSignatureFollows) << c.what;
        EXPECT_EQ(run.reports.Has(Message::MissingBytes), c.missing != 0) << c.what;
        for (const Report& r : run.reports.items) {
            if (r.message == Message::MissingBytes) {
                EXPECT_EQ(r.value, c.missing) << c.what;
            }
        }
    }
    // The cut archive lost the first entry's header: only it is damaged.
    ListRun cutRun = ListBytes(cut.bytes);
    EXPECT_TRUE(cutRun.walk.entries[0].damaged);
    EXPECT_FALSE(cutRun.walk.entries[1].damaged);
    EXPECT_FALSE(cutRun.walk.entries[2].damaged);

    // Updating: the prefix is kept, offsets become absolute.
    for (const Fixture* f : {&relative, &absolute}) {
        UpdateScan scan;
        Reports reports;
        ASSERT_TRUE(ScanOk(f->bytes, &scan, &reports));
        EXPECT_EQ(scan.prefixLength, 1000u);
        ASSERT_EQ(scan.entries.size(), 3u);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(scan.entries[i].central.localOffset, f->localPositions[i]);
        EXPECT_EQ(scan.entries[0].copyLength, 30u + 9 + 100);
        EXPECT_EQ(scan.centralStart, f->centralStart);
    }
    UpdateScan scan;
    Reports reports;
    EXPECT_FALSE(ScanOk(cut.bytes, &scan, &reports)) << "negative shift";
}

TEST(ZipDirectory, DisksEmptyArchivesAndComments) {
    // This disk after the directory's first disk: the last disk is required.
    Fixture laterDisk = BuildZip(ThreeEntries());
    PatchU16(&laterDisk.bytes, laterDisk.endPosition + 4, 1);
    ListRun run = ListBytes(laterDisk.bytes);
    EXPECT_FALSE(run.opened);
    EXPECT_EQ(run.reports.level, kLevelNothingFound);
    ASSERT_EQ(run.reports.items.size(), 1u);
    EXPECT_EQ(run.reports.items[0].message, Message::MultiPartWrongDisk);
    EXPECT_EQ(run.reports.items[0].value, 1u);
    // The directory's start disk after this disk: a warning, and it goes on.
    Fixture earlierDisk = BuildZip(ThreeEntries());
    PatchU16(&earlierDisk.bytes, earlierDisk.endPosition + 6, 2);
    run = ListBytes(earlierDisk.bytes);
    EXPECT_TRUE(run.opened);
    EXPECT_EQ(run.reports.level, kLevelWarning);
    EXPECT_EQ(run.walk.entries.size(), 3u);
    // Updating only warns and treats it as one file.
    UpdateScan scan;
    Reports reports;
    EXPECT_TRUE(ScanOk(laterDisk.bytes, &scan, &reports));
    EXPECT_TRUE(reports.Has(Message::MultiPartIgnored));

    // Empty archives, with and without a prefix.
    for (const std::string& prefix : {std::string(), std::string(300, 'P')}) {
        Fixture empty = BuildZip({}, {prefix, false});
        run = ListBytes(empty.bytes);
        EXPECT_TRUE(run.opened);
        EXPECT_TRUE(run.location.empty);
        EXPECT_TRUE(run.reports.Has(Message::ArchiveEmpty));
        EXPECT_EQ(run.reports.level, kLevelWarning);
        EXPECT_TRUE(run.walk.complete);
        EXPECT_TRUE(run.walk.entries.empty());
        reports = Reports();
        ASSERT_TRUE(ScanOk(empty.bytes, &scan, &reports));
        EXPECT_EQ(scan.prefixLength, prefix.size());
    }

    // The archive comment, whole and truncated.
    Fixture commented = BuildZip(ThreeEntries(), {"", false, "an archive comment"});
    run = ListBytes(commented.bytes, ReadMode::Comment);
    EXPECT_EQ(run.location.comment, "an archive comment");
    EXPECT_EQ(run.reports.level, kLevelOk);
    PatchU16(&commented.bytes, commented.endPosition + 20, 18 + 7);
    run = ListBytes(commented.bytes, ReadMode::Comment);
    EXPECT_EQ(run.location.comment, "an archive comment");
    ASSERT_TRUE(run.reports.Has(Message::CommentTruncated));
    EXPECT_EQ(run.reports.items.back().value, 7u);
    EXPECT_EQ(run.reports.level, kLevelWarning);

    // No end record: listing says so, the format check fails silently.
    const std::string notZip(5000, 'x');
    run = ListBytes(notZip);
    EXPECT_FALSE(run.opened);
    EXPECT_TRUE(run.reports.Has(Message::NotAnArchive));
    run = ListBytes(notZip, ReadMode::Check);
    EXPECT_FALSE(run.opened);
    EXPECT_TRUE(run.reports.items.empty());
    EXPECT_GE(run.reports.level, kLevelEntryError);
}

TEST(ZipDirectory, ListFieldsAndTotals) {
    Fixture f = BuildZip({{"secret.txt", std::string(40, 's'), 8, 0x0003},
                          {"dir/", "", 0, 0, 0x10},
                          {"note.txt", "n", 0, 0, 0x21, "entry comment"}});
    ListRun run = ListBytes(f.bytes);
    ASSERT_EQ(run.walk.entries.size(), 3u);
    ListFields secret = ListFieldsOf(run.walk.entries[0]);
    EXPECT_TRUE(secret.encrypted);
    EXPECT_EQ(secret.packedSize, 28u);  // without the 12-byte encryption header
    EXPECT_EQ(secret.size, 40u);
    EXPECT_EQ(secret.methodWord, 0x10008u);
    EXPECT_EQ(secret.host, 11u);
    EXPECT_EQ(secret.version, 22u);
    EXPECT_EQ(secret.dosDate, 0x5A21);
    EXPECT_EQ(secret.dosTime, 0x6000);
    EXPECT_FALSE(secret.ratioUnknown);
    EXPECT_TRUE(ListFieldsOf(run.walk.entries[1]).folder);
    EXPECT_EQ(run.walk.entries[2].comment, "entry comment");
    EXPECT_TRUE(run.walk.entries[2].hasComment);
    EXPECT_FALSE(run.walk.entries[0].hasComment);
    ListTotals totals = TotalsOf(run.walk.entries);
    EXPECT_EQ(totals.entries, 3u);
    EXPECT_EQ(totals.folders, 1u);
    EXPECT_EQ(totals.size, 41u);
    EXPECT_EQ(totals.packedSize, 41u);
    // A ZIP64 size over 4 GiB shows as unknown in the 32-bit fields.
    run.walk.entries[1].compressedSize = uint64_t{5} << 30;
    EXPECT_EQ(TotalsOf(run.walk.entries).packedSize, 0xFFFFFFFFu);
    EXPECT_EQ(ListFieldsOf(run.walk.entries[1]).packedSize, 0xFFFFFFFFu);
    EXPECT_TRUE(ListFieldsOf(run.walk.entries[1]).ratioUnknown);
    run.walk.entries[2].uncompressedSize = uint64_t{6} << 30;
    EXPECT_EQ(ListFieldsOf(run.walk.entries[2]).size, 0xFFFFFFFFu);
    EXPECT_EQ(TotalsOf(run.walk.entries).size, (uint64_t{6} << 30) + 41 - run.walk.entries[2].header.uncompressedSize);
}

// Local headers as extraction finds them: with the shift, without it when the
// first entry says so, with it again for a later entry that needs it.
TEST(ZipDirectory, LocalHeadersAreLocatedWithAndWithoutTheShift) {
    const std::string prefix(500, 'M');
    const std::string longName(300, 'n');
    std::vector<FixtureEntry> entries = {{"a.txt", "alpha"}, {longName, "long"}, {"c.txt", "gamma", 0, 0, 0x20, "", true}};
    Fixture relative = BuildZip(entries, {prefix, false});
    // Directory offset relative to the ZIP data, local offsets absolute.
    Fixture mixed = BuildZip(entries, {prefix, true});
    PatchU32(&mixed.bytes, mixed.endPosition + 16, static_cast<uint32_t>(mixed.centralStart - 500));
    // ... and the third entry's offset relative again.
    Fixture restored = mixed;
    PatchU32(&restored.bytes, restored.centralPositions[2] + 42, static_cast<uint32_t>(restored.localPositions[2] - 500));
    Fixture missing = BuildZip(entries);
    PatchU32(&missing.bytes, missing.localPositions[1], 0);
    Fixture sizeMismatch = BuildZip(entries);
    PatchU32(&sizeMismatch.bytes, sizeMismatch.localPositions[0] + 18, 4000);

    const struct {
        const char* what;
        const Fixture& fixture;
        std::vector<LocalResult> results;
        std::vector<int64_t> shifts;  // the locator's shift after each entry
    } cases[] = {
        {"offsets relative to the ZIP data", relative, {LocalResult::Ok, LocalResult::Ok, LocalResult::Ok}, {500, 500, 500}},
        {"first entry only without the shift", mixed, {LocalResult::Ok, LocalResult::Ok, LocalResult::Ok}, {0, 0, 0}},
        {"later entry with the shift again", restored, {LocalResult::Ok, LocalResult::Ok, LocalResult::Ok}, {0, 0, 500}},
        {"local header missing", missing, {LocalResult::Ok, LocalResult::NotFound, LocalResult::Ok}, {0, 0, 0}},
        {"local size differs", sizeMismatch, {LocalResult::Damaged, LocalResult::Ok, LocalResult::Ok}, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        ListRun run = ListBytes(c.fixture.bytes);
        ASSERT_TRUE(run.walk.complete) << c.what;
        for (const DirectoryEntry& e : run.walk.entries) EXPECT_FALSE(e.damaged) << c.what << " " << e.name;
        MemoryInput input(c.fixture.bytes.data(), c.fixture.bytes.size());
        BlockReader reader(input);
        ASSERT_TRUE(reader.Allocate());
        LocalHeaderLocator locator(run.location);
        for (size_t i = 0; i < 3; ++i) {
            LocalEntry local;
            EXPECT_EQ(locator.Locate(reader, run.walk.entries[i], &local), c.results[i]) << c.what << " #" << i;
            EXPECT_EQ(locator.Shift(), c.shifts[i]) << c.what << " #" << i;
            if (c.results[i] != LocalResult::Ok) continue;
            const size_t nameLength = entries[i].name.size();
            EXPECT_EQ(local.name, entries[i].name.substr(0, 259)) << c.what;
            EXPECT_EQ(local.dataStart, c.fixture.localPositions[i] + 30 + nameLength) << c.what;
            EXPECT_EQ(local.compressedSize, entries[i].data.size()) << c.what;
            EXPECT_EQ(local.crc, run.walk.entries[i].header.crc) << c.what;  // bit 3: from the directory
            std::string data(local.compressedSize, '\0');
            EntryDataSource source(reader, local.compressedSize);
            EXPECT_EQ(source.Read(reinterpret_cast<uint8_t*>(&data[0]), data.size() + 10), data.size());
            EXPECT_EQ(data, entries[i].data) << c.what;
        }
    }
}

// The one overlap test of reading and updating: every entry that shares a
// byte with another is found, also when the entry it overlaps is not its
// neighbour in file order; entries that only touch are apart.
TEST(ZipDirectory, OverlappingExtents) {
    const struct {
        const char* what;
        std::vector<Extent> extents;
        std::vector<bool> overlapping;
    } cases[] = {
        {"none", {}, {}},
        {"touching in file order", {{0, 30}, {30, 10}, {40, 31}}, {false, false, false}},
        {"apart, listed out of file order", {{100, 10}, {0, 50}, {60, 40}}, {false, false, false}},
        {"one inside another", {{0, 100}, {10, 20}}, {true, true}},
        {"same start", {{0, 40}, {0, 40}, {40, 5}}, {true, true, false}},
        {"one long entry over two that are apart", {{50, 10}, {0, 100}, {10, 10}}, {true, true, true}},
        {"overlaps the furthest end, not its neighbour", {{0, 100}, {10, 50}, {70, 10}, {100, 1}},
         {true, true, true, false}},
        {"a chain", {{0, 20}, {10, 20}, {25, 10}, {35, 30}}, {true, true, true, false}},
        {"a whole file at the far end", {{0xFFFFFF00ull, 0x100}, {0xFFFFFFF0ull, 0x10}}, {true, true}},
    };
    for (const auto& c : cases) EXPECT_EQ(OverlappingExtents(c.extents), c.overlapping) << c.what;
}

// Hostile directories: each row must end in a report, never in a read or an
// allocation beyond the file; the update scan refuses every damaged archive.
TEST(ZipDirectory, HostileDirectories) {
    struct Row {
        const char* what;
        std::string bytes;
        Message readMessage;  // a report the reading walk must give...
        bool readReports;     // ...unless only the update can see the fault
        bool readOpens;       // reading gets as far as the walk
        bool updateRefused;
    };
    std::vector<Row> rows;
    auto base = [] { return BuildZip(ThreeEntries()); };
    {
        // Row 5: the third central header points at the first entry's data.
        Fixture f = base();
        PatchU32(&f.bytes, f.centralPositions[2] + 42, 0);
        PatchU32(&f.bytes, f.centralPositions[2] + 20, 100);
        rows.push_back({"overlapping entries", f.bytes, Message::EntryDamaged, true, true, true});
    }
    {
        // Row 5: a quoted overlap, header inside another entry's data.
        Fixture f = base();
        PatchU32(&f.bytes, f.centralPositions[1] + 42, 40);
        rows.push_back({"local header inside other data", f.bytes, Message::EntryDamaged, true, true, true});
    }
    {
        // Row 8: compressed size far beyond the file.
        Fixture f = base();
        PatchU32(&f.bytes, f.centralPositions[0] + 20, 0x7FFFFFF0);
        rows.push_back({"compressed size beyond the file", f.bytes, Message::EntryDamaged, true, true, true});
    }
    {
        Fixture f = base();
        PatchU32(&f.bytes, f.centralPositions[2] + 42, 0x7FFFFFF0);
        rows.push_back({"local offset beyond the file", f.bytes, Message::EntryDamaged, true, true, true});
    }
    {
        // Row 9: 65,535 entries claimed by a one-entry directory.
        Fixture f = BuildZip({{"only.txt", "x"}});
        PatchU16(&f.bytes, f.endPosition + 8, 0xFFFF);
        PatchU16(&f.bytes, f.endPosition + 10, 0xFFFF);
        rows.push_back({"65535 entries in 46 bytes", f.bytes, Message::EntryNotFound, true, true, true});
    }
    {
        Fixture f = base();
        PatchU16(&f.bytes, f.endPosition + 10, 2);
        PatchU16(&f.bytes, f.endPosition + 8, 2);
        rows.push_back({"fewer entries claimed than held", f.bytes, Message::EntryDamaged, false, true, true});
    }
    {
        // Encrypted entry too short to hold its encryption header.
        Fixture f = BuildZip({{"e.bin", "short", 0, 1}});
        rows.push_back({"encrypted entry under 12 bytes", f.bytes, Message::EntryDamaged, true, true, false});
    }
    {
        // Row 16: an end record hidden in the comment of the real one.
        std::string fake("PK\x05\x06", 4);
        fake += std::string(18, '\0');
        Fixture f = BuildZip(ThreeEntries(), {"", false, "comment " + fake + " tail"});
        rows.push_back({"end record inside the comment", f.bytes, Message::ArchiveDamaged, true, false, true});
    }
    {
        Fixture f = base();
        PatchU32(&f.bytes, f.endPosition + 12, f.endPosition - f.centralStart + 100);
        rows.push_back({"directory past the end record", f.bytes, Message::MissingBytes, true, true, true});
    }
    {
        Fixture f = base();
        f.bytes[f.localPositions[2] + 30] = 'D';
        rows.push_back({"local and central names differ", f.bytes, Message::EntryDamaged, false, true, true});
    }
    {
        Fixture f = base();
        PatchU16(&f.bytes, f.localPositions[2] + 28, 0xFFFF);
        rows.push_back({"local extra field past the end", f.bytes, Message::EntryDamaged, false, true, true});
    }
    {
        // Bit 3 with zero sizes in the directory: the copy would drop the data.
        Fixture f = BuildZip({{"a.txt", std::string(64, 'a'), 0, 0, 0x20, "", true}, {"b.txt", "b"}});
        PatchU32(&f.bytes, f.centralPositions[0] + 20, 0);
        PatchU32(&f.bytes, f.centralPositions[0] + 24, 0);
        rows.push_back({"bit 3 with zero sizes", f.bytes, Message::EntryDamaged, false, true, true});
    }
    {
        Fixture f = base();
        PatchU32(&f.bytes, f.centralPositions[0], 0x12345678);
        rows.push_back({"central signature missing", f.bytes, Message::ArchiveDamaged, true, false, true});
    }
    {
        Fixture f = base();
        PatchU16(&f.bytes, f.centralPositions[2] + 28, 0);
        rows.push_back({"zero name length", f.bytes, Message::EntryDamaged, false, true, true});
    }

    for (const Row& row : rows) {
        ListRun run = ListBytes(row.bytes);
        EXPECT_EQ(run.opened, row.readOpens) << row.what;
        if (row.readReports) {
            EXPECT_TRUE(run.reports.Has(row.readMessage)) << row.what;
            EXPECT_GE(run.reports.level, kLevelEntryError) << row.what;
        }
        EXPECT_LE(run.walk.entries.size(), row.bytes.size() / 46) << row.what;

        UpdateScan scan;
        Reports reports;
        bool accepted = ScanOk(row.bytes, &scan, &reports);
        EXPECT_EQ(!accepted, row.updateRefused) << row.what;
        if (!accepted) {
            EXPECT_FALSE(reports.items.empty()) << row.what;
        }
    }
}

}  // namespace
}  // namespace tessera::testing

namespace tessera::testing {
namespace {

// Every cut of an archive, and randomly damaged copies (fixed seed): no walk
// runs past the file, a cut archive is never taken for whole, and the update
// scan accepts only what it can copy exactly.
// The fixture's end record turned into sentinels, with a ZIP64 end record
// and locator in front of it describing the directory.
std::string WithZip64End(const Fixture& f, uint64_t entries, uint64_t centralSize, uint64_t centralOffset,
                         bool withRecord = true, size_t prefix = 0) {
    std::string bytes = f.bytes;
    std::string records;
    uint8_t record[kZip64EndRecordSize];
    Zip64EndRecord r;
    r.recordSize = kZip64EndRecordSize - 12;
    r.versionMadeBy = r.versionNeeded = 45;
    r.entriesOnDisk = r.totalEntries = entries;
    r.centralSize = centralSize;
    r.centralOffset = centralOffset;
    SerializeZip64EndRecord(r, record);
    if (withRecord) records.append(reinterpret_cast<const char*>(record), sizeof record);
    Zip64Locator l;
    l.endOffset = f.endPosition - prefix;  // stored without the prefix
    l.totalDisks = 1;
    uint8_t locator[kZip64LocatorSize];
    SerializeZip64Locator(l, locator);
    records.append(reinterpret_cast<const char*>(locator), sizeof locator);
    bytes.insert(f.endPosition, records);
    const size_t end = f.endPosition + records.size();
    PatchU16(&bytes, end + 8, 0xFFFF);
    PatchU16(&bytes, end + 10, 0xFFFF);
    PatchU32(&bytes, end + 12, 0xFFFFFFFF);
    PatchU32(&bytes, end + 16, 0xFFFFFFFF);
    return bytes;
}

// The ZIP64 end record gives the directory's count, size and offset, also
// behind a prefix; one that cannot be found or holds impossible values is
// damage, never a guess; an entry whose sentinel has no value is damaged.
TEST(ZipDirectory, Zip64EndRecords) {
    const Fixture plain = BuildZip(ThreeEntries());
    const uint64_t size = plain.endPosition - plain.centralStart;
    const Fixture prefixed = BuildZip(ThreeEntries(), {std::string(3000, 'P'), false});
    ListRun run = ListBytes(WithZip64End(plain, 3, size, plain.centralStart));
    ASSERT_TRUE(run.opened);
    EXPECT_TRUE(run.location.zip64);
    EXPECT_EQ(run.reports.level, kLevelOk);
    EXPECT_EQ(Names(run.walk), (std::vector<std::string>{"first.txt", "dir/", "dir/second.bin"}));
    EXPECT_TRUE(run.walk.endSignatureFollows);

    run = ListBytes(WithZip64End(prefixed, 3, size, prefixed.centralStart - 3000, true, 3000));
    ASSERT_TRUE(run.opened);
    EXPECT_EQ(run.location.shift, 3000);
    EXPECT_EQ(run.walk.entries.size(), 3u);
    EXPECT_EQ(run.walk.entries[0].localPosition, 3000);

    // Hostile: no record behind the locator, sizes no file can hold.
    for (const std::string& bytes : {WithZip64End(plain, 3, size, plain.centralStart, false),
                                     WithZip64End(plain, 3, uint64_t{1} << 63, plain.centralStart),
                                     WithZip64End(plain, 3, size, uint64_t{1} << 63)}) {
        run = ListBytes(bytes);
        EXPECT_FALSE(run.opened);
        EXPECT_TRUE(run.reports.Has(Message::ArchiveDamaged));
    }
    // A count far beyond what the directory holds stops at the end record.
    run = ListBytes(WithZip64End(plain, uint64_t{1} << 40, size, plain.centralStart));
    ASSERT_TRUE(run.opened);
    EXPECT_EQ(run.walk.entries.size(), 3u);
    EXPECT_FALSE(run.walk.complete);

    // A central size sentinel without its value in the extra field.
    Fixture sentinel = BuildZip(ThreeEntries());
    PatchU32(&sentinel.bytes, sentinel.centralPositions[2] + 20, 0xFFFFFFFF);
    run = ListBytes(sentinel.bytes);
    ASSERT_TRUE(run.opened);
    EXPECT_FALSE(run.walk.entries[0].damaged);
    EXPECT_TRUE(run.walk.entries[2].damaged);
    EXPECT_TRUE(run.reports.Has(Message::EntryDamaged));
}

TEST(ZipDirectory, TruncatedAndDamagedArchives) {
    Fixture f = BuildZip({{"a.txt", std::string(70, 'a')},
                          {"dir/", "", 0, 0, 0x10},
                          {"b.bin", std::string(40, 'b'), 0, 0, 0x20, "c", true},
                          {"c.txt", "c"}},
                         {std::string(30, 'P'), false, "archive comment"});
    const size_t recordEnd = f.endPosition + 22;
    for (size_t cut = 0; cut < f.bytes.size(); ++cut) {
        const std::string bytes = f.bytes.substr(0, cut);
        ListRun run = ListBytes(bytes);
        UpdateScan scan;
        Reports reports;
        MemoryInput input(bytes.data(), bytes.size());
        const bool accepted = ScanForUpdate(input, &scan, &reports);
        EXPECT_FALSE(accepted) << "cut at " << cut;
        if (cut < recordEnd) {
            EXPECT_FALSE(run.opened) << "cut at " << cut;
            EXPECT_TRUE(run.reports.Has(Message::NotAnArchive)) << "cut at " << cut;
        } else {
            ListRun comment = ListBytes(bytes, ReadMode::Comment);
            EXPECT_TRUE(comment.reports.Has(Message::CommentTruncated)) << "cut at " << cut;
            EXPECT_EQ(comment.location.comment, std::string("archive comment").substr(0, cut - recordEnd));
        }
    }

    uint32_t seed = 20261209;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = f.bytes;
        for (int flips = 1 + next() % 4; flips > 0; --flips)
            bytes[next() % bytes.size()] = static_cast<char>(next());
        ListRun run = ListBytes(bytes);
        EXPECT_LE(run.walk.entries.size(), 4u) << "seed round " << round;
        // An entry not marked damaged lies before the directory, with the
        // shift or (behind a prefix) without it.
        for (const DirectoryEntry& e : run.walk.entries) {
            if (e.damaged) continue;
            auto fits = [&](int64_t start) {
                return start >= 0 && static_cast<uint64_t>(start) + 30 + e.header.nameLength +
                                             e.header.compressedSize <= run.location.centralStart;
            };
            EXPECT_TRUE(fits(e.localPosition) || (run.location.shift > 0 && fits(e.header.localOffset)))
                << "seed round " << round;
        }
        UpdateScan scan;
        Reports reports;
        MemoryInput input(bytes.data(), bytes.size());
        if (ScanForUpdate(input, &scan, &reports)) {
            uint64_t end = scan.prefixLength;
            for (const UpdateEntry& e : scan.entries) end += e.copyLength;
            EXPECT_LE(end, scan.centralStart) << "seed round " << round;
        }
    }
}

}  // namespace
}  // namespace tessera::testing
