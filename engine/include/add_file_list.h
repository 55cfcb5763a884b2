// Building the packed ADDFILEINFO list that ICompressFormat::Add takes, for
// the engine's callers (programs, tools and tests).
#pragma once

#include "tescore.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

// One record per path, with its stored name when `storedNames` gives one
// (null or missing: the engine derives it), ended by a record of length 0.
inline std::vector<BYTE> BuildAddFileList(const std::vector<std::string>& paths,
                                          const std::vector<const char*>& storedNames = {}) {
    std::vector<BYTE> list;
    for (size_t index = 0; index < paths.size(); ++index) {
        const std::string& path = paths[index];
        const size_t at = list.size();
        list.resize(at + ADDFILEINFO_HEADER + path.size() + 1, 0);  // the next record starts there
        ADDFILEINFO* record = reinterpret_cast<ADDFILEINFO*>(&list[at]);
        record->storedName = index < storedNames.size() ? storedNames[index] : nullptr;
        record->length = static_cast<WORD>(path.size() + 1);
        // The NUL after the path is already there from the resize.
        std::copy(path.begin(), path.end(), list.begin() + static_cast<std::ptrdiff_t>(at + offsetof(ADDFILEINFO, path)));
    }
    list.resize(list.size() + ADDFILEINFO_HEADER + 1, 0);
    return list;
}
