// The status dialog of a long operation: an animation, a progress bar and
// Cancel, which asks the archive object to stop (once; the button then
// stays disabled until the operation ends).
#pragma once

#include "win32/dialog.h"

#include <windows.h>

class CCompressFormat;

class StatusWindow final : public tessera::win32::Dialog {
public:
    explicit StatusWindow(CCompressFormat& format) : format_(format) {}

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void RequestCancel();

    CCompressFormat& format_;
};
