// Which items the context menu and the drag menu offer for a selection: a
// plain function of the selected paths, the drop folder, the recognition of
// a single selected file and the option bits, so that the menus are decided
// apart from the shell's objects.
#pragma once

#include "archive_recognition.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tesshell {

// Item ids: the string ids of the labels; the same id selects the action
// and the help text.
enum MenuItemId : UINT {
    kSeparator = 0,
    kExtractTo = 256,        // "Extract &to..."
    kExtractToFolder = 257,  // "&Extract to %s"
    kAddTo = 258,            // "&Add to %s"
    kCompress = 259,         // "&Compress..."
    kCreateHere = 260,       // "&Create %s here"
    kExtractHere = 261,      // "Extract &here"
    kDragExtractTo = 262,    // "&Extract to %s"
    kOpenWith = 263,         // "Open with &Tessera"
    kCreateExe = 264,        // "&Create %s"
    kConvertTo = 265,        // "&Convert to %s"
};

// Option bits of section "Shlext", value "Settings".
enum : DWORD {
    kOptionExtract = 0x1,
    kOptionCreateExe = 0x2,
    kOptionConvert = 0x4,
    kOptionOpenWith = 0x8,
    kOptionAdd = 0x10,
    kOptionsDefault = 0xFFFF,
};

struct MenuItem {
    UINT id = kSeparator;
    std::string path;      // destination folder, target archive or target program
    std::string argument;  // what the label's %s shows
};

// The context menu of `paths` (full paths; `one` recognises paths[0] when
// there is exactly one), including its closing separator.
std::vector<MenuItem> PlanContextMenu(const std::vector<std::string>& paths, const Recognition& one, DWORD options);

// The menu after dragging `paths` with the right button onto `dropFolder`;
// `displayName` is the shell's display name of paths[0].
std::vector<MenuItem> PlanDragMenu(const std::vector<std::string>& paths, const std::string& dropFolder,
                                   const std::string& displayName, const Recognition& one, DWORD options);

// Path pieces (backslash, slash and a drive's colon separate).
std::string FileNamePart(const std::string& path);
// The path without the extension of its file name.
std::string WithoutExtension(const std::string& path);
std::string ParentFolder(const std::string& path);

}  // namespace tesshell
