// The engine's dialogs use the exported settings store and display helpers
// with the choices of the prompts (size style 1, long date, full time).
#include "core/services.h"

bool ReadSettingInt(LPCSTR section, LPCSTR name, DWORD* value) { return GetProfileInt(section, name, value) != FALSE; }

void WriteSettingInt(LPCSTR section, LPCSTR name, DWORD value) { PutProfileInt(section, name, value); }

void FormatSizeText(DWORD low, DWORD high, LPSTR out) { FormatFileSize(1, low, high, out); }

void FormatTimeText(const FILETIME& utc, LPSTR out) { FormatFileTime(&utc, out, 1, 1); }

void CenterOverOwner(HWND dialog) { CenterDialog(dialog); }
