// Output paths longer than MAX_PATH: the wide file functions take them in
// the "\\?\" form (absolute, backslashes only), which the ANSI ones cannot.
// Paths are text of the process's code page, like every path of the engine;
// a short path goes through unchanged.
#pragma once

#include <windows.h>

#include <string>

namespace tessera {

// The wide form of `path`: as it is while it is short, else its full path
// behind "\\?\" (or "\\?\UNC\" for a share).
std::wstring WidePath(const char* path);

HANDLE CreateFileAt(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
DWORD FileAttributesAt(const char* path);
bool SetFileAttributesAt(const char* path, DWORD attributes);
bool DeleteFileAt(const char* path);
bool CreateDirectoryAt(const char* path);

// A component longer than the file systems allow (255 characters).
bool HasOverlongComponent(const char* path);

}  // namespace tessera
