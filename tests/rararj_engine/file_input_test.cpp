// The archive file as input of the portable walks: reads served from the
// buffered window and straight from the file must give the file's bytes
// wherever they start and end, and a failed read must end the input.
#include "formats/format_support.h"

#include "core/file_io.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using tessera::testing::ScratchFolder;

// Bytes that differ from their neighbours, so a read from a wrong offset shows.
std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

struct OpenedFile {
    explicit OpenedFile(const std::string& path)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    tessera::win32::FileHandle handle;
};

TEST(ArchiveFileInput, ReadsMatchTheFileAcrossTheWindow) {
    ScratchFolder folder;
    const std::vector<uint8_t> bytes = Pattern(100000);
    std::string path = folder / "input.bin";
    tessera::testing::WriteWholeFile(path, bytes.data(), bytes.size());
    OpenedFile file(path);
    ASSERT_TRUE(file.handle);
    ArchiveFileInput input(file.handle.get());
    EXPECT_EQ(input.Size(), bytes.size());

    struct Read {
        uint64_t offset;
        size_t size;
    };
    // In order: small reads inside and across the window, one reaching back
    // before it, reads at least a window long, and reads at and past the end.
    const Read reads[] = {{0, 7},         {7, 100},       {16380, 10},   {16384, 1},    {5, 3},
                          {20000, 16384}, {20001, 40000}, {30000, 16383}, {99990, 100}, {100000, 4},
                          {200000, 4},    {99999, 1},     {0, 100000}};
    for (const Read& r : reads) {
        SCOPED_TRACE(std::to_string(r.offset) + "+" + std::to_string(r.size));
        std::vector<uint8_t> got(r.size, 0xEE);
        size_t count = 99;
        ASSERT_TRUE(input.ReadAt(r.offset, got.data(), r.size, &count));
        size_t expected = r.offset >= bytes.size() ? 0 : std::min<size_t>(r.size, bytes.size() - r.offset);
        ASSERT_EQ(count, expected);
        const size_t start = static_cast<size_t>(std::min<uint64_t>(r.offset, bytes.size()));
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(count), bytes.begin() + static_cast<long>(start)));
    }
    EXPECT_FALSE(input.Failed());
}

TEST(ArchiveFileInput, AFailedReadEndsTheInputAndKeepsItsError) {
    ScratchFolder folder;
    const std::vector<uint8_t> bytes = Pattern(50000);
    std::string path = folder / "fault.bin";
    tessera::testing::WriteWholeFile(path, bytes.data(), bytes.size());
    for (size_t size : {size_t(10), size_t(30000)}) {  // through the window and past it
        SCOPED_TRACE(size);
        OpenedFile file(path);
        ASSERT_TRUE(file.handle);
        ArchiveFileInput input(file.handle.get());
        DWORD copied = 0;
        input.CopyErrorTo(&copied);
        std::vector<uint8_t> got(size);
        size_t count = 0;
        SetReadFault(1, ERROR_CRC);
        EXPECT_FALSE(input.ReadAt(0, got.data(), size, &count));
        SetReadFault(0);
        EXPECT_TRUE(input.Failed());
        EXPECT_EQ(input.Error(), static_cast<DWORD>(ERROR_CRC));
        EXPECT_EQ(copied, static_cast<DWORD>(ERROR_CRC));
        // The input stays ended: a walk never reads on behind a failure.
        EXPECT_FALSE(input.ReadAt(0, got.data(), size, &count));
        EXPECT_EQ(count, 0u);
        tessera::RangeSource range(input, 0, 100);
        uint8_t piece[100];
        EXPECT_EQ(range.Read(piece, sizeof piece), 0u);
        EXPECT_TRUE(range.ShortRead());
    }
}

TEST(ArchiveFileInput, OpenOwnsTheVolumeOrSaysWhyNot) {
    ScratchFolder folder;
    DWORD error = 0;
    EXPECT_EQ(ArchiveFileInput::Open((folder / "absent.r00").c_str(), &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::string path = folder / "present.r00";
    tessera::testing::WriteWholeFile(path, "volume");
    {
        auto input = ArchiveFileInput::Open(path.c_str(), &error);
        ASSERT_NE(input, nullptr);
        char text[6];
        size_t count = 0;
        ASSERT_TRUE(input->ReadAt(0, text, sizeof text, &count));
        EXPECT_EQ(std::string(text, count), "volume");
    }
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "the volume was left open";
}

}  // namespace
