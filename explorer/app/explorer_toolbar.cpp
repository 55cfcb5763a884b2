#include "explorer_toolbar.h"

#include "application.h"
#include "resource_ids.h"
#include "tescore.h"

#include <algorithm>
#include <string>

namespace tessera {

namespace {

const char kSettings[] = "Settings";
const char kStateValue[] = "ToolBarState";

// Every button the toolbar can show: image and label index equal the index.
const TBBUTTON kButtons[ExplorerToolbar::kButtonCount] = {
    {0, CMD_BACK, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_DROPDOWN, {}, 0, 0},
    {1, CMD_FORWARD, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_DROPDOWN, {}, 0, 1},
    {2, CMD_OPEN_ARCHIVE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 2},
    {3, CMD_ADD, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 3},
    {4, CMD_EXTRACT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 4},
    {5, CMD_CUT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 5},
    {6, CMD_COPY, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 6},
    {7, CMD_PASTE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 7},
    {8, CMD_BROWSE_ARCHIVES, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 8},
    {9, CMD_PRINT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 9},
    {10, CMD_MAIL, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 10},
    {11, CMD_OPTIONS, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 11},
    {12, CMD_COMMENT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 12},
    {13, CMD_FOLDER_TREE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 13},
    {14, CMD_VIEW, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 14},
    {15, CMD_ARCHIVE_PROPERTIES, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 15},
    {16, CMD_DELETE_FILES, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 16},
    {17, CMD_FONT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 17},
    {18, CMD_UP_FOLDER, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 18},
};
// Default set: indexes into kButtons, -1 a separator.
const int kDefaultButtons[] = {0, 1, 2, 3, 4, -1, 5, 6, 7, -1, 8, 9, 10};

const TBBUTTON kSeparator = {0, 0, TBSTATE_ENABLED, BTNS_SEP, {}, 0, 0};

const TBBUTTON* ButtonOfCommand(int command) {
    for (const TBBUTTON& button : kButtons) {
        if (button.idCommand == command) return &button;
    }
    return nullptr;
}

// The label of button `index`: the labels string holds them all, separated
// by '|'.
std::string ButtonLabel(int index) {
    const std::string labels = LoadText(IDS_TOOLBAR_LABELS);
    size_t start = 0;
    for (int skipped = 0; skipped < index && start < labels.size(); ++skipped) {
        const size_t end = labels.find('|', start);
        start = end == std::string::npos ? labels.size() : end + 1;
    }
    return labels.substr(start, labels.find('|', start) - start);
}

HIMAGELIST LoadStrip(HINSTANCE instance, UINT bitmap) {
    return ImageList_LoadImageA(instance, MAKEINTRESOURCEA(bitmap), 24, 0, RGB(255, 0, 255), IMAGE_BITMAP,
                                LR_CREATEDIBSECTION);
}

// Saves (save true) or restores the set under "Settings"; false when the
// settings key or the saved value is missing.
bool SaveRestore(HWND toolbar, bool save) {
    HKEY product = GetSectionKey(nullptr);
    TBSAVEPARAMSA state = {product, kSettings, kStateValue};
    return product && SendMessageA(toolbar, TB_SAVERESTORE, save, reinterpret_cast<LPARAM>(&state));
}

}  // namespace

const TBBUTTON& ExplorerToolbar::PlaceableButton(int index) { return kButtons[index]; }

bool ExplorerToolbar::Create(HWND owner, HINSTANCE instance) {
    rebar_ = CreateWindowExA(WS_EX_TOOLWINDOW, REBARCLASSNAMEA, "",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                                 RBS_BANDBORDERS | CCS_NODIVIDER,
                             0, 0, 0, 0, owner, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REBAR)), instance,
                             nullptr);
    toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS |
                                   CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_ADJUSTABLE,
                               0, 0, 0, 0, rebar_ ? rebar_ : owner,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TOOLBAR)), instance, nullptr);
    if (!toolbar_) return false;
    // Notifications and commands go straight to the owner.
    SendMessageA(toolbar_, TB_SETPARENT, reinterpret_cast<WPARAM>(owner), 0);
    SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    images_.reset(LoadStrip(instance, IDB_TOOLBAR));
    hotImages_.reset(LoadStrip(instance, IDB_TOOLBAR_HOT));
    // Drawn greyed rather than left to the toolbar, which flattens an image
    // to a grey silhouette.
    disabledImages_.reset(LoadStrip(instance, IDB_TOOLBAR_DISABLED));
    if (images_) SendMessageA(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.get()));
    if (disabledImages_) {
        SendMessageA(toolbar_, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(disabledImages_.get()));
    }
    if (hotImages_) SendMessageA(toolbar_, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(hotImages_.get()));

    // Labels: string 46, "|" separated, as one double-zero-terminated list.
    std::string labels = LoadText(IDS_TOOLBAR_LABELS);
    std::replace(labels.begin(), labels.end(), '|', '\0');
    labels.push_back('\0');
    SendMessageA(toolbar_, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(labels.c_str()));

    if (!SaveRestore(toolbar_, false) || SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0) == 0) Reset();
    SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);

    if (rebar_) {
        DWORD size = static_cast<DWORD>(SendMessageA(toolbar_, TB_GETBUTTONSIZE, 0, 0));
        REBARBANDINFOA band = {};
        band.cbSize = sizeof band;
        band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE;
        band.fStyle = RBBS_CHILDEDGE;
        band.hwndChild = toolbar_;
        band.cxMinChild = 0;
        band.cyMinChild = HIWORD(size);
        band.cx = 400;
        SendMessageA(rebar_, RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
    }
    return true;
}

void ExplorerToolbar::Destroy() {
    if (toolbar_) {
        SaveRestore(toolbar_, true);
        DestroyWindow(toolbar_);
        toolbar_ = nullptr;
    }
    if (rebar_) DestroyWindow(rebar_);
    rebar_ = nullptr;
    images_.reset();
    hotImages_.reset();
    disabledImages_.reset();
}

int ExplorerToolbar::Place(int width) const {
    if (rebar_) {
        MoveWindow(rebar_, 0, 0, width, 0, TRUE);  // the rebar takes its own height
        RECT rect;
        GetWindowRect(rebar_, &rect);
        return rect.bottom - rect.top;
    }
    if (!toolbar_) return 0;
    const int height = HIWORD(static_cast<DWORD>(SendMessageA(toolbar_, TB_GETBUTTONSIZE, 0, 0))) + 2;
    MoveWindow(toolbar_, 0, 0, width, height, TRUE);
    return height;
}

void ExplorerToolbar::Reset() {
    while (SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0) > 0) SendMessageA(toolbar_, TB_DELETEBUTTON, 0, 0);
    for (int index : kDefaultButtons) {
        const TBBUTTON& button = index < 0 ? kSeparator : kButtons[index];
        SendMessageA(toolbar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    }
}

void ExplorerToolbar::Customize() { SendMessageA(toolbar_, TB_CUSTOMIZE, 0, 0); }

void ExplorerToolbar::ApplyStates(const CommandContext& context) const {
    const int count = static_cast<int>(SendMessageA(toolbar_, TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TBBUTTON button = {};
        if (!SendMessageA(toolbar_, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button))) continue;
        if (button.fsStyle & BTNS_SEP) continue;
        const CommandStatus status = CommandState(static_cast<UINT>(button.idCommand), true, context);
        SendMessageA(toolbar_, TB_ENABLEBUTTON, button.idCommand, MAKELONG(status.enabled, 0));
        SendMessageA(toolbar_, TB_CHECKBUTTON, button.idCommand, MAKELONG(status.checked, 0));
    }
}

RECT ExplorerToolbar::ButtonScreenRect(UINT command) const {
    RECT rect = {};
    SendMessageA(toolbar_, TB_GETRECT, command, reinterpret_cast<LPARAM>(&rect));
    MapWindowPoints(toolbar_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

LRESULT ExplorerToolbar::AnswerCustomize(NMHDR* header) const {
    switch (header->code) {
    case TBN_QUERYINSERT:
    case TBN_QUERYDELETE:
        return TRUE;
    case TBN_GETBUTTONINFOA: {
        auto* info = reinterpret_cast<NMTOOLBARA*>(header);
        if (info->iItem < 0 || info->iItem >= kButtonCount) return FALSE;
        info->tbButton = kButtons[info->iItem];
        const std::string label = ButtonLabel(info->iItem);
        if (info->pszText && info->cchText > 0) lstrcpynA(info->pszText, label.c_str(), info->cchText);
        return TRUE;
    }
    case TBN_GETBUTTONINFOW: {
        auto* info = reinterpret_cast<NMTOOLBARW*>(header);
        if (info->iItem < 0 || info->iItem >= kButtonCount) return FALSE;
        info->tbButton = kButtons[info->iItem];
        const std::string label = ButtonLabel(info->iItem);
        if (info->pszText && info->cchText > 0) {
            MultiByteToWideChar(CP_ACP, 0, label.c_str(), -1, info->pszText, info->cchText);
            info->pszText[info->cchText - 1] = 0;
        }
        return TRUE;
    }
    case TBN_RESTORE: {
        auto* restore = reinterpret_cast<NMTBRESTORE*>(header);
        if (restore->iItem < 0) return 0;  // the header: go on restoring
        const TBBUTTON* button = ButtonOfCommand(restore->tbButton.idCommand);
        if (button) restore->tbButton = *button;
        else if (restore->tbButton.idCommand == 0) restore->tbButton = kSeparator;
        return 0;
    }
    case TBN_INITCUSTOMIZE:
        return TBNRF_HIDEHELP;
    default:
        return 0;
    }
}

}  // namespace tessera
