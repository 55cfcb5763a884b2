#include "setup/app/status_indicator.h"

#include "setup/app/resource_ids.h"

namespace tessera::setup {
namespace {

constexpr UINT kSetState = WM_USER + 1;
HIMAGELIST stepImages = nullptr;  // owned by the wizard, which outlives its indicators

LRESULT CALLBACK IndicatorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: SetWindowLongPtrA(window, GWLP_USERDATA, static_cast<LONG_PTR>(StepState::NotStarted)); return 0;
    case kSetState:
        SetWindowLongPtrA(window, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const auto state = static_cast<int>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (state != static_cast<int>(StepState::NotStarted) && stepImages)
            ImageList_Draw(stepImages, state, dc, 0, 0, ILD_TRANSPARENT);
        EndPaint(window, &paint);
        return 0;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RegisterStatusIndicator(HINSTANCE program, HIMAGELIST images) {
    stepImages = images;
    WNDCLASSA windowClass = {};
    // Global: the pages may come from the language library, another module.
    windowClass.style = CS_GLOBALCLASS;
    windowClass.lpfnWndProc = IndicatorProcedure;
    windowClass.hInstance = program;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = INSTALL_STATUS_CLASS;
    return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void SetIndicatorState(HWND indicator, StepState state) {
    SendMessageA(indicator, kSetState, static_cast<WPARAM>(state), 0);
}

}  // namespace tessera::setup
