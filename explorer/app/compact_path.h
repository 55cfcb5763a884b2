// CompactPath: a path shortened for menus and labels, keeping its root, its
// first folder and as much of its tail as fits ("C:\Data\...\Sub\name.zip").
#pragma once

#include <string>

namespace tessera {

// Returns path unchanged when it has at most limit characters. Otherwise the
// root (drive, or "\\server" of a network path), the first folder when more
// than three characters precede the file name, "\..." and the longest tail
// of whole components that keeps the result within limit. When not even the
// file name fits, the file name (keepName) or the empty string.
std::string CompactPath(const std::string& path, size_t limit, bool keepName);

}  // namespace tessera
