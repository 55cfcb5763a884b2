// tescmd as a user runs it: its output lines and exit codes.
#include "test_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::string ReadAll(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

// Runs dist\tescmd.exe with the arguments; stdout and stderr apart.
ToolRun Tescmd(const std::string& arguments, const std::string& folder = "") {
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    EXPECT_NE(binary, nullptr) << "TESSERA_BINARY_DIR not set";
    std::string program = tessera::testing::HostPathToNative(std::string(binary ? binary : ".") + "/dist/tescmd.exe");
    std::string command = "\"" + program + "\" " + arguments;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    ToolRun run;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        CloseHandle(outWrite);
        CloseHandle(errWrite);
        // Small outputs: read stderr after stdout without deadlock risk.
        run.out = ReadAll(outRead);
        run.err = ReadAll(errRead);
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        ADD_FAILURE() << "cannot start " << command;
        CloseHandle(outWrite);
        CloseHandle(errWrite);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return run;
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
                                  "a a.zip -u -f x", "a a.zip -P -R x", "a a.zip -l5 x", "a a.zip -s", "d a.zip",
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
}

}  // namespace
