// The settings store and display helpers as the reporting code uses them.
// They are looked up by their exported names in the engine's own module, so
// the core works (with plain fallbacks) in builds that lack them, such as a
// test program linking only the core objects.
#pragma once

#include <windows.h>

bool ReadSettingInt(LPCSTR section, LPCSTR name, DWORD* value);
void WriteSettingInt(LPCSTR section, LPCSTR name, DWORD value);
// FormatFileSize style 1 / FormatFileTime long date + full time.
void FormatSizeText(DWORD low, DWORD high, LPSTR out);
void FormatTimeText(const FILETIME& utc, LPSTR out /* MAX_PATH */);
void CenterOverOwner(HWND dialog);
