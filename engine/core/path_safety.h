// Turning an entry's converted name into a relative output path that stays
// below the destination folder and names neither a device nor an alternate
// data stream, whatever the archive stores.
#pragma once

#include <cstddef>

enum class PathVerdict {
    kUnchanged,  // the name was safe as it is
    kChanged,    // unsafe parts were removed or replaced; out holds the result
    kRefused,    // nothing usable is left (empty, only separators, dots)
};

// in: the display path (backslashes, ANSI). out: outSize bytes. Rules, per
// component (split at '\' and '/'):
//   - a "\\?\", "\??\" or "\\.\" prefix, empty components, "." and ".."
//     are dropped (so absolute, UNC and parent references cannot escape);
//   - a drive prefix "X:" is dropped; any other ':' becomes '_' (streams);
//   - control characters and * ? < > | " become '_';
//   - trailing dots and spaces are removed (a component left empty goes);
//   - a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an
//     extension) gets a '_' in front.
// A folder entry's trailing separator is kept. A result that does not fit
// outSize is refused.
// Either separator counts in a path, as it does for the system.
inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

PathVerdict MakeSafeRelativePath(const char* in, char* out, size_t outSize);
