// tescmd as a user runs it: its output lines and exit codes.
#include "corpus.h"
#include "test_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// A temporary file the program writes one of its outputs to; read and
// deleted afterwards. Files rather than pipes: a pipe reaches its end only
// when every process that inherited it has gone, and under Wine a helper
// started for the program's console may hold it for seconds after the
// program has ended.
struct OutputFile {
    char path[MAX_PATH] = "";
    HANDLE handle = INVALID_HANDLE_VALUE;
    OutputFile() {
        char folder[MAX_PATH];
        DWORD length = GetTempPathA(MAX_PATH, folder);
        if (length == 0 || length >= MAX_PATH || !GetTempFileNameA(folder, "tcm", 0, path)) return;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                             nullptr);
    }
    ~OutputFile() {
        Close();
        if (path[0]) DeleteFileA(path);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    void Close() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    std::string Text() {
        Close();
        std::vector<uint8_t> bytes = tessera::testing::ReadWholeFile(path);
        return std::string(bytes.begin(), bytes.end());
    }
};

// Runs dist\tescmd.exe with the arguments; stdout and stderr apart. The
// program inherits this process's environment.
ToolRun Tescmd(const std::string& arguments, const std::string& folder = "") {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    EXPECT_NE(binary, nullptr) << "TESSERA_BINARY_DIR not set";
    std::string program = tessera::testing::HostPathToNative(std::string(binary ? binary : ".") + "/dist/tescmd.exe");
    std::string command = "\"" + program + "\" " + arguments;
    OutputFile out, err;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.handle;
    startup.hStdError = err.handle;
    PROCESS_INFORMATION process = {};
    ToolRun run;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        ADD_FAILURE() << "cannot start " << command;
    }
    run.out = out.Text();
    run.err = err.Text();
    return run;
}

using tessera::testing::ReadWholeFile;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Where the data of the first member of a ZIP file starts.
size_t FirstDataOffset(const std::vector<uint8_t>& zip) {
    return 30u + Le16(zip, 26) + Le16(zip, 28);
}

// Sets the method of the members named `only` (every member when empty),
// in the local and the central headers.
void SetMethod(std::vector<uint8_t>& zip, uint16_t method, const std::string& only = "") {
    for (size_t at = 0; at + 46 <= zip.size(); ++at) {
        const uint32_t signature = Le32(zip, at);
        size_t field = 0, name = 0, nameLength = 0;
        if (signature == 0x04034b50) {
            field = at + 8, name = at + 30, nameLength = Le16(zip, at + 26);
        } else if (signature == 0x02014b50) {
            field = at + 10, name = at + 46, nameLength = Le16(zip, at + 28);
        } else {
            continue;
        }
        if (!only.empty() && (nameLength != only.size() || name + nameLength > zip.size() ||
                              memcmp(&zip[name], only.data(), nameLength) != 0))
            continue;
        zip[field] = static_cast<uint8_t>(method);
        zip[field + 1] = static_cast<uint8_t>(method >> 8);
    }
}

// The exit codes a script relies on, one row per kind of outcome. The
// fixtures are made by tescmd itself (stored, so that a flipped byte is a
// checksum error and a changed method number is an unknown method).
TEST(Tescmd, ExitCodesTellWhatHappenedToTheEntries) {
    ScratchFolder folder;
    WriteWholeFile(folder / "a.txt", "first file of the archive\n");
    WriteWholeFile(folder / "b.txt", "second file of the archive\n");
    ASSERT_EQ(Tescmd("a clean.zip -l4 a.txt b.txt", folder.Path()).exitCode, 0u);
    ASSERT_EQ(Tescmd("a secret.zip -l4 -pS3cret a.txt", folder.Path()).exitCode, 0u);
    std::vector<uint8_t> clean = ReadWholeFile(folder / "clean.zip");
    ASSERT_GT(clean.size(), 100u);
    std::vector<uint8_t> bad = clean;
    bad[FirstDataOffset(bad)] ^= 0x20;
    WriteWholeFile(folder / "crc.zip", bad.data(), bad.size());
    std::vector<uint8_t> unknown = clean;
    SetMethod(unknown, 77);
    WriteWholeFile(folder / "unknown.zip", unknown.data(), unknown.size());
    ASSERT_EQ(Tescmd("x clean.zip -okept", folder.Path()).exitCode, 0u);

    struct Row {
        const char* what;
        const char* arguments;
        const char* writeFault;  // TESSERA_FAULT_WRITE while it runs, or null
        DWORD exitCode;
        const char* logged;      // a line of the log it must hold, or null
    } rows[] = {
        {"clean test", "t clean.zip", nullptr, 0, "No errors were found in the compressed files of"},
        {"clean extraction", "x clean.zip -oout", nullptr, 0, nullptr},
        {"checksum error, test", "t crc.zip", nullptr, 2, "Bad checksum"},
        {"checksum error, extraction", "x crc.zip -obad", nullptr, 2, "Bad checksum"},
        {"unsupported only", "t unknown.zip", nullptr, 1, "method 77 is unknown."},
        {"password not given", "t secret.zip", nullptr, 1, "password was either wrong or not entered"},
        {"password given", "t secret.zip -pS3cret", nullptr, 0, nullptr},
        {"existing file kept", "x clean.zip -okept", nullptr, 1, "exists, skipped"},
        {"missing archive", "t nosuch.zip", nullptr, 2, nullptr},
        {"cancelled (disk full answered with cancel)", "x clean.zip -ofull", "1,112", 3, "Interrupted."},
    };
    for (const Row& row : rows) {
        SetEnvironmentVariableA("TESSERA_FAULT_WRITE", row.writeFault);
        ToolRun run = Tescmd(row.arguments, folder.Path());
        SetEnvironmentVariableA("TESSERA_FAULT_WRITE", nullptr);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.what << "\n" << run.err;
        if (row.logged) {
            EXPECT_NE(run.err.find(row.logged), std::string::npos) << row.what << "\n" << run.err;
        }
    }
}

// Only file entries that were checked count as tested: two entries skipped
// as unsupported are "no files tested", never "2 file(s) were tested", and
// a folder entry is no tested file either.
TEST(Tescmd, TestSummaryCountsOnlyCheckedEntries) {
    ScratchFolder folder;
    WriteWholeFile(folder / "a.txt", "one\n");
    WriteWholeFile(folder / "b.txt", "two\n");
    CreateDirectoryA((folder / "sub").c_str(), nullptr);
    WriteWholeFile(folder / "sub\\c.txt", "three\n");
    ASSERT_EQ(Tescmd("a unknown.zip -l4 a.txt b.txt", folder.Path()).exitCode, 0u);
    ASSERT_EQ(Tescmd("a mixed.zip -l4 sub b.txt", folder.Path()).exitCode, 0u);  // sub/, sub/c.txt, b.txt
    for (const char* name : {"unknown.zip", "mixed.zip"}) {
        std::vector<uint8_t> zip = ReadWholeFile(folder / name);
        SetMethod(zip, 77, strcmp(name, "mixed.zip") == 0 ? "b.txt" : "");
        WriteWholeFile(folder / name, zip.data(), zip.size());
    }
    struct Row {
        const char* archive;
        std::vector<std::string> summary;
    } rows[] = {
        {"unknown.zip",
         {"Warning: No files were tested in ", "2 file(s) were skipped because of not supported compression or encoding."}},
        {"mixed.zip",
         {", 1 file(s) were tested.", "1 file(s) were skipped because of not supported compression or encoding."}},
    };
    for (const Row& row : rows) {
        ToolRun run = Tescmd(std::string("t ") + row.archive, folder.Path());
        EXPECT_EQ(run.exitCode, 1u) << row.archive << "\n" << run.err;
        for (const std::string& line : row.summary) {
            EXPECT_NE(run.err.find(line), std::string::npos) << row.archive << ": " << line << "\n" << run.err;
        }
    }
}

// A clean sample of each of the other formats ends with 0: tested where the
// format tests, else extracted.
TEST(Tescmd, CleanSamplesOfTheOtherFormatsEndWithZero) {
    TESSERA_REQUIRE_CORPUS();
    ScratchFolder folder;
    const char* const samples[][2] = {
        {"t", "rar/rar15_packed_3files.rar"}, {"t", "arj/arj_method1.arj"},
        {"t", "ace/ace10_lz77_archive_and_file_comment.ace"}, {"t", "cab/none_simple.cab"},
        {"x", "tar/ustar_longpath.tar"}, {"x", "gz/gzip113_fname.gz"}, {"x", "gz/tgz_libarchive.tgz"},
    };
    for (const auto& sample : samples) {
        std::string arguments = std::string(sample[0]) + " " + Quoted(tessera::testing::CorpusPath(sample[1]));
        if (sample[0][0] == 'x') arguments += " -oout";
        ToolRun run = Tescmd(arguments, folder.Path());
        EXPECT_EQ(run.exitCode, 0u) << sample[1] << "\n" << run.err;
    }
}

// `a` stores paths relative to the current folder as they are given, so
// two files of the same name in different folders stay apart (where -R
// would drop the "dir" all of them share); -j keeps the names only.
TEST(Tescmd, AddStoresPathsBelowTheCurrentFolder) {
    ScratchFolder folder;
    CreateDirectoryA((folder / "dir").c_str(), nullptr);
    CreateDirectoryA((folder / "dir\\sub").c_str(), nullptr);
    CreateDirectoryA((folder / "dir\\other").c_str(), nullptr);
    WriteWholeFile(folder / "dir\\sub\\readme.txt", "sub\n");
    WriteWholeFile(folder / "dir\\other\\readme.txt", "other\n");
    struct Row {
        const char* arguments;
        std::vector<std::string> names;  // as `l` shows them
        DWORD exitCode;
    } rows[] = {
        {"a default.zip dir", {"dir", "dir\\other", "dir\\other\\readme.txt", "dir\\sub", "dir\\sub\\readme.txt"}, 0},
        {"a nested.zip dir\\sub", {"dir\\sub", "dir\\sub\\readme.txt"}, 0},
        {"a flat.zip -j dir\\sub\\readme.txt", {"readme.txt"}, 0},
    };
    for (const Row& row : rows) {
        ToolRun run = Tescmd(row.arguments, folder.Path());
        EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments << "\n" << run.err;
        std::string archive = std::string(row.arguments).substr(2);
        archive = archive.substr(0, archive.find(' '));
        run = Tescmd("l " + archive, folder.Path());
        std::vector<std::string> names;
        size_t start = 0;
        for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = run.out.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.compare(0, 7, "totals\t") == 0) continue;
            names.push_back(line.substr(line.rfind('\t') + 1));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, row.names) << row.arguments;
    }
}

TEST(Tescmd, FormatsListsTheRegistry) {
    ToolRun run = Tescmd("formats");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::string expected =
        "0\t.zip\tZIP files\t0x37fef\t0x0\n"
        "1\t.exe\tSelf-extracting ZIP files\t0x3bfee\t0x101\n"
        "2\t.ace\tACE files\t0x69c0\t0x0\n"
        "3\t.exe\tSelf-extracting ACE files\t0xa9c0\t0x101\n"
        "4\t.cab\tCabinet files\t0x41d1\t0x0\n"
        "5\t.exe\tSelf-extracting cabinet files\t0x81c0\t0x101\n"
        "6\t.rar\tRAR files\t0x1c0\t0x0\n"
        "7\t.exe\tSelf-extracting RAR files\t0x1c0\t0x101\n"
        "8\t.tar\tTAR files\t0xc0\t0x0\n"
        "9\t.gz\tGZ files\t0xc0\t0x0\n"
        "10\t.tgz\tTGZ files\t0xc0\t0x0\n"
        "11\t.z\tZ files\t0xc0\t0x0\n"
        "12\t.taz\tTAZ files\t0xc0\t0x0\n"
        "13\t.arj\tARJ files\t0x1c0\t0x0\n"
        "14\t.exe\tSelf-extracting ARJ files\t0x1c0\t0x101\n";
    std::string out = run.out;
    for (size_t at; (at = out.find("\r\n")) != std::string::npos;) out.erase(at, 1);
    EXPECT_EQ(out, expected);
}

TEST(Tescmd, UsageErrors) {
    for (const char* arguments : {"", "frobnicate", "l", "x a.zip -q", "formats extra", "t a.zip b", "a a.zip",
                                  "a a.zip -u -f x", "a a.zip -P -R x", "a a.zip -R -j x", "a a.zip -l5 x", "a a.zip -s", "d a.zip",
                                  "d a.zip -q x", "c a.zip -m", "c a.zip -x text", "attr a.zip name",
                                  "attr a.zip name XYZ", "a a.cab -v", "a a.cab -v 0 x", "a a.cab -v 12q x",
                                  "a a.cab -v 5000000000 x"}) {
        ToolRun run = Tescmd(arguments);
        EXPECT_EQ(run.exitCode, 7u) << arguments;
        EXPECT_NE(run.err.find("usage: tescmd"), std::string::npos) << arguments;
        EXPECT_TRUE(run.out.empty()) << arguments;
    }
}

TEST(Tescmd, UnknownFormatFails) {
    tessera::testing::ScratchFolder folder;
    tessera::testing::WriteWholeFile(folder / "notes.txt", "hello");
    ToolRun run = Tescmd("l \"" + (folder / "notes.txt") + "\"");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.err.find("not an archive of a known format"), std::string::npos) << run.err;
}

// Cabinets: the add options of a set, an update refused, and a cabinet
// program recognised by its content although ".exe" means ZIP by name.
TEST(Tescmd, Cabinets) {
    tessera::testing::ScratchFolder folder;
    std::string data(100000, '\0');
    uint32_t x = 7;
    for (char& c : data) c = static_cast<char>((x = x * 1103515245 + 12345) >> 23);
    tessera::testing::WriteWholeFile(folder / "a.bin", data);
    ToolRun run = Tescmd("a set.cab -l4 -v 64k a.bin", folder.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(tessera::testing::FileExists(folder / "set01.cab"));
    EXPECT_TRUE(tessera::testing::FileExists(folder / "set02.cab"));
    EXPECT_FALSE(tessera::testing::FileExists(folder / "set.cab"));

    run = Tescmd("a one.cab -l0 a.bin", folder.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    run = Tescmd("a one.cab -u a.bin", folder.Path());
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.err.find("does not offer this operation"), std::string::npos) << run.err;

    tessera::testing::WriteWholeFile(folder / "module.bin", std::string(3000, 'M'));
    run = Tescmd("sfx one.cab module.bin one.exe", folder.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    run = Tescmd("l one.exe", folder.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("a.bin"), std::string::npos) << run.out;
    run = Tescmd("unsfx one.exe back.cab", folder.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(tessera::testing::ReadWholeFile(folder / "back.cab"), tessera::testing::ReadWholeFile(folder / "one.cab"));

    // A real self-extracting cabinet (interactive and setup stubs) opens as
    // the cabinet it carries.
    for (const char* options : {"", " -i"}) {
        run = Tescmd(std::string("sfx one.cab -p:real.exe") + options, folder.Path());
        EXPECT_EQ(run.exitCode, 0u) << options << run.err;
        run = Tescmd("t real.exe", folder.Path());
        EXPECT_EQ(run.exitCode, 0u) << options << run.out << run.err;
        run = Tescmd("l real.exe", folder.Path());
        EXPECT_NE(run.out.find("a.bin"), std::string::npos) << options << run.out;
    }
}

}  // namespace
