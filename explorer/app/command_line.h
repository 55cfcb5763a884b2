// The program's command line: tokens, the file-drop block of "/A" and the
// forms that open windows or run once.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace tessera {

// Blanks separate tokens; a token starting with a double quote runs to the
// next one (quotes dropped). The first token is the program.
std::vector<std::string> TokenizeCommandLine(const char* commandLine);

// A moveable global block in the shell's file-drop layout (narrow names):
// 20-byte header (offset 20, wide flag 0), the names, each ending in a zero
// byte, and a final zero byte. Null when empty or out of memory.
HGLOBAL BuildFileDropBlock(const std::vector<std::string>& names);
std::vector<std::string> ReadFileDropBlock(HDROP drop);

// Runs the command line. True when windows were opened and the message loop
// should run; false when the program ends (one-shot forms and errors).
bool ProcessCommandLine(const char* commandLine);

}  // namespace tessera
