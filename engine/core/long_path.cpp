// Output paths longer than MAX_PATH (see long_path.h).
#include "core/long_path.h"

#include <cstring>

namespace tessera {
namespace {

// CreateDirectory stops short of MAX_PATH (room for an 8.3 name is kept).
constexpr size_t kShortLimit = MAX_PATH - 12;

std::wstring Widen(const char* text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

}  // namespace

std::wstring WidePath(const char* path) {
    std::wstring wide = Widen(path);
    if (wide.size() < kShortLimit || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return wide;
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
    if (got == 0 || got >= n) return wide;
    full.resize(got);
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

HANDLE CreateFileAt(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

DWORD FileAttributesAt(const char* path) { return GetFileAttributesW(WidePath(path).c_str()); }

bool SetFileAttributesAt(const char* path, DWORD attributes) {
    return SetFileAttributesW(WidePath(path).c_str(), attributes) != FALSE;
}

bool DeleteFileAt(const char* path) { return DeleteFileW(WidePath(path).c_str()) != FALSE; }

bool CreateDirectoryAt(const char* path) { return CreateDirectoryW(WidePath(path).c_str(), nullptr) != FALSE; }

bool HasOverlongComponent(const char* path) {
    const std::wstring wide = Widen(path);
    size_t run = 0;
    for (wchar_t c : wide) {
        run = (c == L'\\' || c == L'/') ? 0 : run + 1;
        if (run > 255) return true;
    }
    return false;
}

}  // namespace tessera
