#include "compact_path.h"

namespace tessera {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Length of the root: "C:" for a drive, "\\server" for a network path.
size_t RootLength(const std::string& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t end = 2;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        return end;
    }
    if (path.size() >= 2 && path[1] == ':') return 2;
    return 0;
}

}  // namespace

std::string CompactPath(const std::string& path, size_t limit, bool keepName) {
    if (path.size() <= limit) return path;

    size_t nameStart = path.size();
    while (nameStart > 0 && !IsSeparator(path[nameStart - 1])) --nameStart;
    const std::string name = path.substr(nameStart);
    const size_t root = RootLength(path);

    // Folder part between the root and the file name, with its separators.
    std::string prefix = path.substr(0, root);
    size_t rest = root;
    if (nameStart > 3) {
        size_t start = rest;
        while (start < nameStart && IsSeparator(path[start])) ++start;
        size_t end = start;
        while (end < nameStart && !IsSeparator(path[end])) ++end;
        if (end < nameStart) {  // a first folder that is not the last one
            prefix = path.substr(0, end);
            rest = end;
        }
    }

    // Tails start at a separator after the prefix; try the longest first.
    for (const std::string& head : {prefix, path.substr(0, root)}) {
        for (size_t at = rest + 1; at < path.size(); ++at) {
            if (!IsSeparator(path[at])) continue;
            const std::string candidate = head + "\\..." + path.substr(at);
            if (candidate.size() <= limit) return candidate;
        }
        rest = root;
    }
    if (name.size() <= limit || keepName) return name;
    return std::string();
}

}  // namespace tessera
