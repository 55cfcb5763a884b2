#pragma once

#include "dialog_support.h"
#include "win32/dialog.h"

#include <string>

namespace tescommands {

// Save (103), Load (125) or Delete (126) selection: a name.
class SelectionNameDialog : public tessera::win32::Dialog {
public:
    SelectionNameDialog(HINSTANCE resources, UINT id) : resources_(resources), id_(id) {}
    INT_PTR Run(HWND owner) { return RunModal(resources_, id_, owner); }
    const std::string& Name() const { return name_; }

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;

    HINSTANCE resources_;
    UINT id_;
    std::string name_;
};

}  // namespace tescommands
