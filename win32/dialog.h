// A dialog box as an object: the dialog procedure keeps `this` in the
// dialog's DWLP_USER from WM_INITDIALOG on and routes messages to member
// functions. Derive, override the handlers needed, call RunModal (or
// CreateModeless, ServeFileDialogArea for the extra area of an Open or
// Save dialog, or ServePropertyPage for a page of a property sheet).
// Handlers return TRUE for a message they handled.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <prsht.h>

#include <string>

namespace tessera::win32 {

class Dialog {
public:
    Dialog() = default;
    // A modeless dialog still open goes with its object.
    virtual ~Dialog() {
        if (dialog_) DestroyWindow(dialog_);
    }
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // DialogBoxParamA: the end code, or -1 when the dialog could not be made.
    INT_PTR RunModal(HINSTANCE module, LPCSTR templateName, HWND owner) {
        return DialogBoxParamA(module, templateName, owner, Procedure, reinterpret_cast<LPARAM>(this));
    }
    INT_PTR RunModal(HINSTANCE module, UINT templateId, HWND owner) {
        return RunModal(module, MAKEINTRESOURCEA(templateId), owner);
    }
    // CreateDialogParamA: the dialog window (the caller's message loop serves it).
    HWND CreateModeless(HINSTANCE module, UINT templateId, HWND owner) {
        return CreateDialogParamA(module, MAKEINTRESOURCEA(templateId), owner, Procedure,
                                  reinterpret_cast<LPARAM>(this));
    }

    // The extra area of an Explorer-style Open or Save dialog
    // (OFN_EXPLORER | OFN_ENABLEHOOK, usually with a template): this object
    // serves it through the hook, from its WM_INITDIALOG to its WM_DESTROY.
    // Handle() is the area, a child of the file dialog.
    void ServeFileDialogArea(OPENFILENAMEA* dialog) {
        dialog->lpfnHook = FileDialogHook;
        dialog->lCustData = reinterpret_cast<LPARAM>(this);
    }

    // A page of a property sheet or wizard (CreatePropertySheetPageA): this
    // object serves it from its WM_INITDIALOG (which carries the sheet's copy
    // of the PROPSHEETPAGEA) to its WM_DESTROY. The caller fills in the
    // template and the flags; the object must outlive the page's window
    // (delete it in the page's PSPCB_RELEASE callback where the page owns it).
    void ServePropertyPage(PROPSHEETPAGEA* page) {
        page->pfnDlgProc = PropertyPageProcedure;
        page->lParam = reinterpret_cast<LPARAM>(this);
    }

    HWND Handle() const { return dialog_; }

protected:
    // WM_INITDIALOG: TRUE lets the system set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_COMMAND. By default Cancel (and the close box) ends the dialog.
    virtual BOOL OnCommand(int id, int code, HWND control) {
        (void)code;
        (void)control;
        if (id != IDCANCEL) return FALSE;
        End(IDCANCEL);
        return TRUE;
    }
    // WM_NOTIFY: the notification's answer goes through SetResult.
    virtual BOOL OnNotify(NMHDR* header) {
        (void)header;
        return FALSE;
    }
    // Every other message (and the three above first, when it answers TRUE).
    virtual BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        (void)message;
        (void)wParam;
        (void)lParam;
        return FALSE;
    }
    // WM_DESTROY: the dialog is going; `this` is detached after it.
    virtual void OnDestroy() {}
    // Last call after WM_DESTROY, once `this` is detached: a modeless dialog
    // that owns itself may delete itself here.
    virtual void OnDetached() {}

    void End(INT_PTR code) const { EndDialog(dialog_, code); }
    // The answer of a handled message that has one (WM_NOTIFY and others).
    void SetResult(LONG_PTR result) const { SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, result); }

    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    bool Checked(int id) const { return IsDlgButtonChecked(dialog_, id) == BST_CHECKED; }
    void Check(int id, bool on) const { CheckDlgButton(dialog_, id, on ? BST_CHECKED : BST_UNCHECKED); }
    void Enable(int id, bool on) const { EnableWindow(Item(id), on ? TRUE : FALSE); }
    std::string Text(int id) const {
        HWND item = Item(id);
        int length = item ? GetWindowTextLengthA(item) : 0;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        if (length > 0) text.resize(static_cast<size_t>(GetWindowTextA(item, &text[0], length + 1)));
        else text.clear();
        return text;
    }
    void SetText(int id, const std::string& text) const { SetDlgItemTextA(dialog_, id, text.c_str()); }

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        Dialog* self;
        if (message == WM_INITDIALOG) {
            self = reinterpret_cast<Dialog*>(lParam);
            self->dialog_ = dialog;
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            if (self->OnMessage(message, wParam, lParam)) return TRUE;
            return self->OnInitDialog();
        }
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (!self) return FALSE;  // messages before WM_INITDIALOG
        if (self->OnMessage(message, wParam, lParam)) return TRUE;
        switch (message) {
        case WM_COMMAND:
            return self->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        case WM_NOTIFY:
            return self->OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_DESTROY:
            self->OnDestroy();
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
            self->dialog_ = nullptr;
            self->OnDetached();
            return FALSE;
        }
        return FALSE;
    }
    // The area's WM_INITDIALOG carries the OPENFILENAMEA, whose lCustData
    // is the object.
    static UINT_PTR CALLBACK FileDialogHook(HWND area, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) lParam = reinterpret_cast<const OPENFILENAMEA*>(lParam)->lCustData;
        return static_cast<UINT_PTR>(Procedure(area, message, wParam, lParam));
    }
    static INT_PTR CALLBACK PropertyPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) lParam = reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam;
        return Procedure(page, message, wParam, lParam);
    }

    HWND dialog_ = nullptr;
};

}  // namespace tessera::win32
