// Print (40028): the entry list as a text file in the archive's temporary
// folder, printed through the shell's "print" verb.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tescommands {

// The printed text: a line of the column titles, a line of "-", one line
// per row. Each cell is padded with blanks to its column's width in
// characters (at least the title's length + 3) and cut with "..." when
// longer; lines end in "\r\n".
std::string PrintListText(const std::vector<std::string>& titles, const std::vector<int>& widths,
                          const std::vector<std::vector<std::string>>& rows);

// Writes text to folder\name.txt and prints it. While the printing
// program runs, owner is disabled and dialog 164 waits; the file is
// deleted when printing ends, kept after "&Abort". False when the file
// could not be written (error 4165 shown) or the shell could not print it.
bool PrintText(HWND owner, HINSTANCE resources, const std::string& folder, const std::string& name,
               const std::string& text);

}  // namespace tescommands
