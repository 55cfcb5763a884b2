// The list and tree font: a logical font chosen in the system font dialog
// and kept as "Font", or the system's GUI font while "DefaultFont" is set.
#include "view_font.h"

#include "tescore.h"
#include "view_ids.h"

#include <commctrl.h>
#include <commdlg.h>

#include <utility>

namespace tesview {
namespace {

const char kSettings[] = "Settings";
static_assert(sizeof(LOGFONTA) == 60, "the stored font record is 60 bytes");

}  // namespace

bool ViewFont::Apply(const LOGFONTA& record) {
    tessera::win32::FontHandle font(CreateFontIndirectA(&record));
    if (!font) return false;
    if (list_) {
        SendMessageA(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
        if (header) InvalidateRect(header, nullptr, TRUE);
    }
    if (tree_) SendMessageA(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    font_ = std::move(font);  // the controls have let go of the old one
    return true;
}

void ViewFont::ApplyDefault() {
    HGDIOBJ system = GetStockObject(DEFAULT_GUI_FONT);
    if (list_) {
        SendMessageA(list_, WM_SETFONT, reinterpret_cast<WPARAM>(system), TRUE);
        HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
        if (header) InvalidateRect(header, nullptr, TRUE);
    }
    if (tree_) SendMessageA(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(system), TRUE);
    font_.reset();
}

void ViewFont::Load(DWORD* defaultFont) {
    if (*defaultFont) return;
    LOGFONTA record = {};
    DWORD size = sizeof record;
    if (GetProfileBinary(kSettings, "Font", &record, &size) && size == sizeof record) {
        record.lfFaceName[LF_FACESIZE - 1] = '\0';
        if (Apply(record)) return;
    }
    *defaultFont = 1;
}

bool ViewFont::Choose(HWND owner, HINSTANCE resources, DWORD* defaultFont) {
    LOGFONTA record = {};
    DWORD size = sizeof record;
    bool stored = GetProfileBinary(kSettings, "Font", &record, &size) && size == sizeof record;
    if (stored) record.lfFaceName[LF_FACESIZE - 1] = '\0';
    for (;;) {
        CHOOSEFONTA choose = {};
        choose.lStructSize = sizeof choose;
        choose.hwndOwner = owner;
        choose.lpLogFont = &record;
        choose.Flags = CF_SCREENFONTS | (stored ? CF_INITTOLOGFONTSTRUCT : 0);
        if (!ChooseFontA(&choose)) return false;
        stored = true;
        if (Apply(record)) break;
        char text[256] = "";
        if (LoadStringA(resources, TESVIEW_IDS_FONT_FAILED, text, sizeof text) > 0) {
            MessageBoxA(owner, text, "Tessera", MB_OK | MB_ICONEXCLAMATION);
        }
    }
    *defaultFont = 0;
    PutProfileBinary(kSettings, "Font", &record, sizeof record);
    return true;
}

bool ViewFont::ToggleDefault(HWND owner, HINSTANCE resources, DWORD* defaultFont) {
    if (*defaultFont) return Choose(owner, resources, defaultFont);
    *defaultFont = 1;
    ApplyDefault();
    return true;
}

}  // namespace tesview
