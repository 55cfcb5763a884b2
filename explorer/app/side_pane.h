// The side pane of an explorer window (window class "BaseBar", child id
// 9995): a small toolbar with a close button on top, the folder tree below
// and, on its right edge, a 4-pixel splitter that resizes the pane.
#pragma once

#include "win32/handles.h"

#include <windows.h>
#include <commctrl.h>

namespace tessera {

class SidePane {
public:
    static constexpr int kSplitterWidth = 4;
    static constexpr int kMinimumWidth = 90;  // for the tree and for the list

    SidePane() = default;
    SidePane(const SidePane&) = delete;
    SidePane& operator=(const SidePane&) = delete;
    ~SidePane();

    // Child of owner (the explorer window), which receives WM_USER+2 from
    // the splitter, WM_USER+3 from the close button and the tree's
    // notifications.
    HWND Create(HWND owner, HINSTANCE instance);
    void Destroy();
    HWND Window() const { return window_; }
    HWND CloseBar() const { return closeBar_; }
    // The width the splitter asks for with the cursor at x (owner client
    // coordinates): x kept within 90 and client width - 90.
    static int ClampedWidth(int x, int ownerClientWidth);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Layout();

    HWND window_ = nullptr;
    HWND owner_ = nullptr;
    HWND closeBar_ = nullptr;
    tessera::win32::ImageListHandle closeImages_;
    bool dragging_ = false;
};

}  // namespace tessera
