// ViewFont: the font of the list and the tree. The program keeps the
// "DefaultFont" flag with its other settings and passes it in; the chosen
// logical font (LOGFONTA, 60 bytes) is stored as "Font" under "Settings".
#pragma once

#include "win32/handles.h"

#include <windows.h>

namespace tesview {

class ViewFont {
public:
    ViewFont() = default;
    ViewFont(const ViewFont&) = delete;
    ViewFont& operator=(const ViewFont&) = delete;

    void Attach(HWND list, HWND tree) { list_ = list; tree_ = tree; }
    // At window creation: unless *defaultFont is set, reads "Font" and
    // applies it; when it is missing or cannot be created, *defaultFont
    // becomes 1.
    void Load(DWORD* defaultFont);
    // Command 40036: the font dialog (again after warning 62 when the font
    // cannot be created). On OK: *defaultFont = 0, "Font" written, font
    // applied. resources holds string 62. False when cancelled.
    bool Choose(HWND owner, HINSTANCE resources, DWORD* defaultFont);
    // Command 40040: when the default font is not in use, switch to it
    // (the stored record stays); otherwise as Choose.
    bool ToggleDefault(HWND owner, HINSTANCE resources, DWORD* defaultFont);
    // Creates and applies a logical font; false (nothing changed) when it
    // cannot be created.
    bool Apply(const LOGFONTA& font);
    void ApplyDefault();
    HFONT Font() const { return font_.get(); }

private:
    HWND list_ = nullptr;
    HWND tree_ = nullptr;
    tessera::win32::FontHandle font_;
};

}  // namespace tesview
