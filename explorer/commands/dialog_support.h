// Small pieces the command dialogs share: texts by number, the program's
// message box and the system's error text. The dialogs themselves derive
// from tessera::win32::Dialog.
#pragma once

#include <windows.h>

#include <string>

namespace tescommands {

// String `id` of the program (resources), falling back to the engine's table
// for numbers of 4096 and above.
std::string LoadText(HINSTANCE resources, UINT id);
// Splits a "|"-separated list ("a|b|c|") into its parts.
std::string::size_type SplitBars(const std::string& text, std::string* parts, std::string::size_type max);
// The text with "|" turned into NUL, as file dialogs want their filters.
std::string FilterFromBars(std::string text);
// printf-style formatting of a loaded text.
std::string FormatText(const std::string& format, const char* first, const char* second = nullptr);
// The system's text for an error number, without the trailing line feed.
std::string SystemErrorText(DWORD error);
// The system's Save As dialog for a file of the filter ("|"-separated pairs)
// with `extension` added when none is typed; the existing file is confirmed
// before it is overwritten. False when the user cancels.
bool ChooseFileToSave(HWND owner, const std::string& filterBars, const char* extension, char (&path)[MAX_PATH]);
// A message box titled "Tessera" owned by owner.
int ShowMessage(HWND owner, const std::string& text, UINT style);

}  // namespace tescommands
