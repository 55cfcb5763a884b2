#include "add_rows.h"

#include "wildcard.h"
#include "win32/handles.h"

#include <cstring>

namespace tescommands {

namespace {

bool Matches(const char* name, const std::vector<std::string>& masks) {
    if (masks.empty()) return true;
    for (const std::string& mask : masks) {
        if (tesview::WildcardMatch(name, mask.c_str(), true)) return true;
    }
    return false;
}

// The items of folder that the options let through.
std::vector<WIN32_FIND_DATAA> Enumerate(const std::string& folder, bool systemHidden) {
    std::vector<WIN32_FIND_DATAA> items;
    WIN32_FIND_DATAA found;
    tessera::win32::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find) return items;
    do {
        if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
        if (!systemHidden && (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) continue;
        items.push_back(found);
    } while (FindNextFileA(find.get(), &found));
    return items;
}

void AddContents(const std::string& folder, const std::vector<std::string>& masks, const IncludeOptions& options,
                 int depth, std::vector<std::string>* rows) {
    // Junctions that loop back stay bounded by the path length anyway;
    // the depth cap keeps the recursion finite on odd file systems.
    if (depth > 128) return;
    for (const WIN32_FIND_DATAA& item : Enumerate(folder, options.systemHidden)) {
        const std::string path = folder + "\\" + item.cFileName;
        if (path.size() >= MAX_PATH) continue;
        if (!(item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (Matches(item.cFileName, masks)) rows->push_back(path);
            continue;
        }
        if (!options.subFolders) continue;
        AddContents(path, masks, options, depth + 1, rows);
        if (!options.folderEntries || !Matches(item.cFileName, masks)) continue;
        if (options.emptyFoldersOnly && !Enumerate(path, options.systemHidden).empty()) continue;
        rows->push_back(path);
    }
}

}  // namespace

std::vector<std::string> ParseMasks(const std::string& text) {
    std::vector<std::string> masks;
    if (text.empty() || text == "*.*" || text == "*") return masks;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        std::string::size_type comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) masks.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return masks;
}

void AddFolderContents(const std::string& folder, const std::vector<std::string>& masks,
                       const IncludeOptions& options, std::vector<std::string>* rows) {
    std::string root = folder;
    while (root.size() > 3 && root.back() == '\\') root.pop_back();
    if (root.size() == 3 && root.back() == '\\') root.pop_back();  // "C:\" -> "C:" + "\name"
    AddContents(root, masks, options, 0, rows);
}


}  // namespace tescommands
