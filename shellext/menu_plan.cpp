// The menus' items: see menu_plan.h.
#include "menu_plan.h"

#include "compact_path.h"
#include "tescore.h"

namespace tesshell {
namespace {

constexpr size_t kLabelPathLimit = 26;

size_t FileNameStart(const std::string& path) {
    size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? 0 : separator + 1;
}

// The name part of a target before its extension is empty (".zip").
bool HasEmptyStem(const std::string& target) {
    std::string name = FileNamePart(target);
    size_t period = name.rfind('.');
    return period == 0 || name.empty();
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') return folder + "\\" + name;
    return folder + name;
}

}  // namespace

std::string FileNamePart(const std::string& path) { return path.substr(FileNameStart(path)); }

std::string WithoutExtension(const std::string& path) {
    size_t period = path.rfind('.');
    if (period == std::string::npos || period < FileNameStart(path)) return path;
    return path.substr(0, period);
}

std::string ParentFolder(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
    size_t start = FileNameStart(trimmed);
    std::string parent = trimmed.substr(0, start);
    while (!parent.empty() && (parent.back() == '\\' || parent.back() == '/')) parent.pop_back();
    return parent;
}

std::vector<MenuItem> PlanContextMenu(const std::vector<std::string>& paths, const Recognition& one, DWORD options) {
    std::vector<MenuItem> items;
    if (paths.empty()) return items;
    if (paths.size() == 1 && one.archive) {
        const std::string& archive = paths[0];
        if (one.selfExtracting && (options & kOptionOpenWith)) items.push_back({kOpenWith, archive, ""});
        items.push_back({});
        if ((one.capabilities & CAP_EXTRACT) && (options & kOptionExtract)) {
            items.push_back({kExtractTo, archive, ""});
            std::string folder = WithoutExtension(archive);
            items.push_back({kExtractToFolder, folder, tessera::CompactPath(folder, kLabelPathLimit, true)});
        }
        if ((one.capabilities & CAP_MAKEEXE) && (options & kOptionCreateExe)) {
            std::string target = WithoutExtension(archive) + ".exe";
            items.push_back({kCreateExe, target, FileNamePart(target)});
        }
        if ((one.capabilities & CAP_REMOVEEXE) && (options & kOptionConvert)) {
            std::string target = WithoutExtension(archive) + one.plainExtension;
            items.push_back({kConvertTo, target, FileNamePart(target)});
        }
    } else if (options & kOptionAdd) {
        std::string target =
            paths.size() == 1 ? WithoutExtension(paths[0]) + ".zip" : ParentFolder(paths[0]) + ".zip";
        items.push_back({});
        items.push_back({kCompress, target, ""});
        if (!HasEmptyStem(target)) items.push_back({kAddTo, target, FileNamePart(target)});
    }
    items.push_back({});
    return items;
}

std::vector<MenuItem> PlanDragMenu(const std::vector<std::string>& paths, const std::string& dropFolder,
                                   const std::string& displayName, const Recognition& one, DWORD options) {
    std::vector<MenuItem> items;
    if (paths.empty()) return items;
    if (paths.size() == 1 && one.archive) {
        const std::string stem = WithoutExtension(FileNamePart(paths[0]));
        if ((one.capabilities & CAP_EXTRACT) && (options & kOptionExtract)) {
            items.push_back({kExtractHere, dropFolder, ""});
            std::string folder = JoinFolder(dropFolder, WithoutExtension(displayName.empty() ? FileNamePart(paths[0]) : displayName));
            items.push_back({kDragExtractTo, folder, tessera::CompactPath(folder, kLabelPathLimit, true)});
        }
        if ((one.capabilities & CAP_MAKEEXE) && (options & kOptionCreateExe)) {
            std::string target = JoinFolder(dropFolder, stem + ".exe");
            items.push_back({kCreateExe, target, FileNamePart(target)});
        }
        if ((one.capabilities & CAP_REMOVEEXE) && (options & kOptionConvert)) {
            std::string target = JoinFolder(dropFolder, stem + one.plainExtension);
            items.push_back({kConvertTo, target, FileNamePart(target)});
        }
        items.push_back({});
    } else if (options & kOptionAdd) {
        std::string name = paths.size() == 1 ? WithoutExtension(displayName.empty() ? FileNamePart(paths[0]) : displayName)
                                             : FileNamePart(ParentFolder(paths[0]));
        std::string target = JoinFolder(dropFolder, name + ".zip");
        if (!name.empty()) {
            items.push_back({kCreateHere, target, FileNamePart(target)});
            items.push_back({});
        }
    }
    return items;
}

}  // namespace tesshell
