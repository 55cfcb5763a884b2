#include "side_pane.h"

#include "resource_ids.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

namespace tessera {

namespace {
const char kClassName[] = "BaseBar";
}

SidePane::~SidePane() { Destroy(); }

HWND SidePane::Create(HWND owner, HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(instance, kClassName, &windowClass)) {
        windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_SIZEWE);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassA(&windowClass)) return nullptr;
    }
    owner_ = owner;
    window_ = CreateWindowExA(0, kClassName, "", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0, owner,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SIDE_PANE)), instance, this);
    if (!window_) return nullptr;

    closeBar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                                WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER |
                                    CCS_NORESIZE | CCS_NOPARENTALIGN,
                                0, 0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PANE_TOOLBAR)),
                                instance, nullptr);
    if (!closeBar_) {
        Destroy();
        return nullptr;
    }
    SendMessageA(closeBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    closeImages_.reset(ImageList_LoadImageA(instance, MAKEINTRESOURCEA(IDB_PANE_CLOSE), 16, 0, RGB(255, 0, 255),
                                            IMAGE_BITMAP, LR_CREATEDIBSECTION));
    if (closeImages_) SendMessageA(closeBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(closeImages_.get()));
    TBBUTTON button = {};
    button.iBitmap = closeImages_ ? 0 : I_IMAGENONE;
    button.idCommand = IDC_PANE_CLOSE;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_BUTTON;
    SendMessageA(closeBar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    return window_;
}

void SidePane::Destroy() {
    if (window_) DestroyWindow(window_);  // the close bar and the tree go with it
    window_ = nullptr;
    closeBar_ = nullptr;
    closeImages_.reset();
}

int SidePane::ClampedWidth(int x, int ownerClientWidth) {
    return std::max(kMinimumWidth, std::min(x, ownerClientWidth - kMinimumWidth));
}

LRESULT CALLBACK SidePane::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<SidePane*>(create->lpCreateParams)->window_ = window;
    }
    auto* pane = reinterpret_cast<SidePane*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (!pane || message == WM_NCCREATE || message == WM_NCDESTROY) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return pane->Handle(message, wParam, lParam);
}

void SidePane::Layout() {
    RECT client;
    GetClientRect(window_, &client);
    int width = std::max(0, static_cast<int>(client.right) - kSplitterWidth);
    int barHeight = 0;
    if (closeBar_) {
        DWORD size = static_cast<DWORD>(SendMessageA(closeBar_, TB_GETBUTTONSIZE, 0, 0));
        barHeight = HIWORD(size) + 2;
        MoveWindow(closeBar_, 0, 0, width, barHeight, TRUE);
    }
    HWND tree = GetDlgItem(window_, IDC_TREE);
    if (tree) MoveWindow(tree, 0, barHeight, width, std::max(0, static_cast<int>(client.bottom) - barHeight), TRUE);
}

LRESULT SidePane::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_NOTIFY:
        // The tree's notifications belong to the explorer window.
        return SendMessageA(owner_, WM_NOTIFY, wParam, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_PANE_CLOSE) {
            SendMessageA(owner_, WM_TREE_HIDDEN, 1, 0);
            return 0;
        }
        return SendMessageA(owner_, WM_COMMAND, wParam, lParam);
    case WM_LBUTTONDOWN: {
        RECT client;
        GetClientRect(window_, &client);
        if (GET_X_LPARAM(lParam) < client.right - kSplitterWidth) break;
        RECT area;
        GetClientRect(owner_, &area);
        MapWindowPoints(owner_, nullptr, reinterpret_cast<POINT*>(&area), 2);
        SetCapture(window_);
        ClipCursor(&area);
        dragging_ = true;
        return 0;
    }
    case WM_MOUSEMOVE:
        if (dragging_) {
            POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            MapWindowPoints(window_, owner_, &point, 1);
            RECT area;
            GetClientRect(owner_, &area);
            SendMessageA(owner_, WM_TREE_WIDTH, static_cast<WPARAM>(ClampedWidth(point.x, area.right) + 2), 0);
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (dragging_) {
            dragging_ = false;
            ClipCursor(nullptr);
            ReleaseCapture();
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        if (dragging_) {
            dragging_ = false;
            ClipCursor(nullptr);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

}  // namespace tessera
