// Small pieces the command dialogs share: texts by number, the program's
// message box, the system's error text, a wait cursor, and a modal dialog
// base that keeps `this` in the dialog and routes messages to a virtual.
#pragma once

#include <windows.h>

#include <string>

namespace tescommands {

// String `id` of the program (resources), falling back to the engine's table
// for numbers of 4096 and above.
std::string LoadText(HINSTANCE resources, UINT id);
// Splits a "|"-separated list ("a|b|c|") into its parts.
std::string::size_type SplitBars(const std::string& text, std::string* parts, std::string::size_type max);
// The text with "|" turned into NUL, as file dialogs want their filters.
std::string FilterFromBars(std::string text);
// printf-style formatting of a loaded text.
std::string FormatText(const std::string& format, const char* first, const char* second = nullptr);
// The system's text for an error number, without the trailing line feed.
std::string SystemErrorText(DWORD error);
// A message box titled "Tessera" owned by owner.
int ShowMessage(HWND owner, const std::string& text, UINT style);

class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// A modal dialog: Run shows template id and returns its end code.
class ModalDialog {
public:
    ModalDialog(HINSTANCE resources, UINT id) : resources_(resources), id_(id) {}
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    INT_PTR Run(HWND owner);

protected:
    virtual BOOL OnInit() = 0;
    // Returns TRUE when the message was handled.
    virtual BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    bool Checked(int id) const { return IsDlgButtonChecked(dialog_, id) == BST_CHECKED; }
    void Check(int id, bool on) const { CheckDlgButton(dialog_, id, on ? BST_CHECKED : BST_UNCHECKED); }
    void Enable(int id, bool on) const { EnableWindow(Item(id), on ? TRUE : FALSE); }
    std::string Text(int id) const;

    HINSTANCE resources_;
    HWND dialog_ = nullptr;

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    UINT id_;
};

}  // namespace tescommands
