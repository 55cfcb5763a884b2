// The settings store and display helpers as the engine's dialogs use them.
#pragma once

#include "tescore.h"

bool ReadSettingInt(LPCSTR section, LPCSTR name, DWORD* value);
void WriteSettingInt(LPCSTR section, LPCSTR name, DWORD value);
// FormatFileSize style 1 / FormatFileTime long date + full time.
void FormatSizeText(DWORD low, DWORD high, LPSTR out /* 64 */);
void FormatTimeText(const FILETIME& utc, LPSTR out /* MAX_PATH */);
void CenterOverOwner(HWND dialog);
// Registers the common control classes the engine's dialogs use (status,
// split options); call before showing one of them.
void RegisterEngineControls();
