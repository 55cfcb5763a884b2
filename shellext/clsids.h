// The two classes of tesshell.dll.
#pragma once

#include <windows.h>

namespace tesshell {

// {B4EF89C1-8BE3-11D2-B601-008048EF14D8}: context menu, drag menu, property page.
inline constexpr CLSID CLSID_ShellExt = {
    0xB4EF89C1, 0x8BE3, 0x11D2, {0xB6, 0x01, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};
// {D46376C0-4AE9-11D3-9250-008048EF14D8}: the Find menu's archive search.
inline constexpr CLSID CLSID_FindArchivesExt = {
    0xD46376C0, 0x4AE9, 0x11D3, {0x92, 0x50, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};

inline constexpr char kShellExtClsidText[] = "{B4EF89C1-8BE3-11D2-B601-008048EF14D8}";
inline constexpr char kFindArchivesClsidText[] = "{D46376C0-4AE9-11D3-9250-008048EF14D8}";

}  // namespace tesshell
