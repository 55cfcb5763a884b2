// tescmd on ACE archives: every command a user has for them, by exit code and
// what it leaves on disk.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "corpus.h"
#include "test_files.h"

namespace {

using tessera::testing::CorpusPath;
using tessera::testing::FileExists;
using tessera::testing::ReadWholeFile;
using tessera::testing::ScratchFolder;
using tessera::testing::WriteWholeFile;

struct ToolResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // stdout and stderr together
};

// Runs dist\tescmd.exe in `folder` with its output going to a file there.
ToolResult Tescmd(const std::string& arguments, const ScratchFolder& folder) {
    ToolResult run;
    const char* binary = std::getenv("TESSERA_BINARY_DIR");
    if (!binary) {
        ADD_FAILURE() << "TESSERA_BINARY_DIR not set";
        return run;
    }
    std::string command = "\"" + tessera::testing::HostPathToNative(std::string(binary) + "/dist/tescmd.exe") +
                          "\" " + arguments;
    std::string logPath = folder / "tescmd.log";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE log = CreateFileA(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = log;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       folder.Path().c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        ADD_FAILURE() << "cannot start " << command;
    }
    CloseHandle(log);
    std::vector<uint8_t> text = ReadWholeFile(logPath);
    run.output.assign(text.begin(), text.end());
    return run;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

TEST(AceTescmd, CommandsOnAceArchives) {
    TESSERA_REQUIRE_CORPUS();
    ScratchFolder folder;
    const std::string solid = Quoted(CorpusPath("ace/ace10_lz77_solid.ace"));
    const std::string volumes = Quoted(CorpusPath("ace/ace10_lz77_multivolume/multivolume.ace"));

    ToolResult listed = Tescmd("l " + volumes, folder);
    EXPECT_EQ(listed.exitCode, 0u) << listed.output;
    EXPECT_NE(listed.output.find("totals\t77\t"), std::string::npos) << listed.output;

    ToolResult tested = Tescmd("t " + solid, folder);
    EXPECT_EQ(tested.exitCode, 0u) << tested.output;  // every entry checked clean
    EXPECT_NE(tested.output.find("No errors were found"), std::string::npos) << tested.output;

    ToolResult extracted = Tescmd("x " + volumes + " -oout", folder);
    EXPECT_EQ(extracted.exitCode, 0u) << extracted.output;
    EXPECT_TRUE(FileExists(folder / "out\\aclocal\\yad.m4"));
    ToolResult flat = Tescmd("e " + volumes + " -oflat", folder);
    EXPECT_EQ(flat.exitCode, 0u) << flat.output;
    EXPECT_TRUE(FileExists(folder / "flat\\yad.m4"));

    ToolResult comment = Tescmd("c " + Quoted(CorpusPath("ace/ace10_lz77_archive_and_file_comment.ace")), folder);
    EXPECT_EQ(comment.exitCode, 0u);
    EXPECT_NE(comment.output.find("main comment"), std::string::npos) << comment.output;

    WriteWholeFile(folder / "module.bin", std::string(4000, 'M'));
    ToolResult made = Tescmd("sfx " + solid + " module.bin made.exe", folder);
    EXPECT_EQ(made.exitCode, 0u) << made.output;
    std::vector<uint8_t> program = ReadWholeFile(folder / "made.exe");
    WriteWholeFile(folder / "made.ace", program.data(), program.size());
    ToolResult undone = Tescmd("unsfx made.ace back.ace", folder);
    EXPECT_EQ(undone.exitCode, 0u) << undone.output;
    EXPECT_EQ(ReadWholeFile(folder / "back.ace"), ReadWholeFile(CorpusPath("ace/ace10_lz77_solid.ace")));

    ToolResult refused = Tescmd("x " + Quoted(CorpusPath("ace/ace20_blocked.ace")) + " -oblocked", folder);
    EXPECT_EQ(refused.exitCode, 1u) << refused.output;
    EXPECT_NE(refused.output.find("method 2 is unknown."), std::string::npos) << refused.output;
}

}  // namespace
