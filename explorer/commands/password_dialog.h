#pragma once

#include "dialog_support.h"
#include "tescore.h"
#include "win32/dialog.h"

namespace tescommands {

// Password (115): on OK the object's password is set.
class PasswordDialog : public tessera::win32::Dialog {
public:
    PasswordDialog(HINSTANCE resources, ICompressFormat* archive);
    INT_PTR Run(HWND owner);

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    void OnDestroy() override;
    void ApplyMask();

    HINSTANCE resources_;
    ICompressFormat* archive_;
};

}  // namespace tescommands
