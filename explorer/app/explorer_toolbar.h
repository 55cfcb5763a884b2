// ExplorerToolbar: the explorer window's toolbar in its rebar band -- the
// nineteen placeable buttons with their image strips and labels, the
// default set, the set the user arranged (kept as "ToolBarState" under
// "Settings"), and the toolbar's answers while it is being customised.
// Commands and notifications go to the owner window.
#pragma once

#include "command_state.h"
#include "win32/handles.h"

#include <windows.h>
#include <commctrl.h>

namespace tessera {

class ExplorerToolbar {
public:
    static constexpr int kButtonCount = 19;

    ExplorerToolbar() = default;
    ExplorerToolbar(const ExplorerToolbar&) = delete;
    ExplorerToolbar& operator=(const ExplorerToolbar&) = delete;

    // The rebar (when it can be made) with the toolbar in its band, the
    // images and labels, and the saved set (else the default set). The
    // buttons' states are the caller's to apply. False without a toolbar.
    bool Create(HWND owner, HINSTANCE instance);
    // Saves the set, then destroys the toolbar, the rebar and the images.
    void Destroy();

    HWND Window() const { return toolbar_; }
    HWND Rebar() const { return rebar_; }

    // Moves the bar to the top of the owner's client area, width wide; the
    // height it takes there.
    int Place(int width) const;
    // Back to the default set (the states are the caller's to apply).
    void Reset();
    // The customize dialog of the toolbar.
    void Customize();
    // Enabled and checked state of every button in the context.
    void ApplyStates(const CommandContext& context) const;
    // A button's rectangle in screen coordinates.
    RECT ButtonScreenRect(UINT command) const;
    // The answers of customising (TBN_QUERYINSERT, TBN_QUERYDELETE,
    // TBN_GETBUTTONINFO, TBN_RESTORE, TBN_INITCUSTOMIZE); 0 for any other
    // notification.
    LRESULT AnswerCustomize(NMHDR* header) const;

    // Every placeable button by index (0 to kButtonCount - 1).
    static const TBBUTTON& PlaceableButton(int index);

private:
    HWND rebar_ = nullptr;
    HWND toolbar_ = nullptr;
    win32::ImageListHandle images_;
    win32::ImageListHandle hotImages_;
    win32::ImageListHandle disabledImages_;
};

}  // namespace tessera
