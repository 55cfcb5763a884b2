// The Output window: the log of the last operation in a resizable dialog,
// in the system's fixed-pitch font, with Save, Copy and Close on top.
#include "command_ids.h"
#include "commands.h"
#include "dialog_support.h"
#include "viewing_ids.h"
#include "win32/dialog.h"
#include "win32/handles.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstdio>

#include <cstring>

namespace tescommands {

namespace {

const char kSettings[] = "Settings";

// The support address error 12 names.
const char kSupportAddress[] = "tessera@quellsoft.example";
const UINT kScrollToEnd = WM_APP + 1;

class OutputDialog : public tessera::win32::Dialog {
public:
    OutputDialog(HINSTANCE resources, const std::string& text) : resources_(resources) {
        // The engine ends its lines with "\n"; the edit control wants "\r\n".
        for (char c : text) {
            if (c == '\n' && (text_.empty() || text_.back() != '\r')) text_.push_back('\r');
            text_.push_back(c);
        }
    }

    INT_PTR Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_OUTPUT, owner); }

private:
    // Error 12 for a child that could not be made.
    void ReportChildFailure(int id, DWORD error) {
        char text[2048];
        snprintf(text, sizeof text, LoadText(resources_, TESCMD_IDS_CHILD_WINDOW_FAILED).c_str(), id,
                 SystemErrorText(error).c_str(), kSupportAddress);
        ShowMessage(Handle(), text, MB_OK | MB_ICONERROR);
    }

    bool CreateToolbar() {
        toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                                   WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_TOP | CCS_NODIVIDER,
                                   0, 0, 0, 0, Handle(), reinterpret_cast<HMENU>(TESCMD_IDC_OUTPUT_TOOLBAR),
                                   resources_, nullptr);
        if (!toolbar_) return false;
        SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        SendMessageA(toolbar_, TB_SETBITMAPSIZE, 0, MAKELONG(0, 0));
        // "&Save|&Copy|Cl&ose|" as the toolbar's NUL-separated string list.
        std::string labels = LoadText(resources_, TESCMD_IDS_OUTPUT_BUTTONS);
        for (char& c : labels) {
            if (c == '|') c = '\0';
        }
        labels.push_back('\0');
        const int first = static_cast<int>(SendMessageA(toolbar_, TB_ADDSTRINGA, 0,
                                                        reinterpret_cast<LPARAM>(labels.c_str())));
        const int commands[] = {TESCMD_IDC_OUTPUT_SAVE, TESCMD_IDC_OUTPUT_COPY, IDCANCEL};
        TBBUTTON buttons[3] = {};
        for (int at = 0; at < 3; ++at) {
            buttons[at].iBitmap = I_IMAGENONE;
            buttons[at].idCommand = commands[at];
            buttons[at].fsState = TBSTATE_ENABLED;
            buttons[at].fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
            buttons[at].iString = first + at;
        }
        SendMessageA(toolbar_, TB_ADDBUTTONSA, 3, reinterpret_cast<LPARAM>(buttons));
        SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);
        return true;
    }

    bool CreateText() {
        // The rich-edit library is loaded only for this window.
        richEdit_.reset(LoadLibraryA("RICHED32.DLL"));
        if (!richEdit_) return false;
        textWindow_ = CreateWindowExA(WS_EX_CLIENTEDGE, "RichEdit", "",
                                       WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                           ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                                       0, 0, 0, 0, Handle(), reinterpret_cast<HMENU>(TESCMD_IDC_OUTPUT_TEXT),
                                       resources_, nullptr);
        return textWindow_ != nullptr;
    }

    BOOL OnInitDialog() override {
        RECT rect;
        DWORD size = sizeof rect;
        if (GetProfileBinary(kSettings, "OutputRect", &rect, &size) && size == sizeof rect &&
            rect.right > rect.left && rect.bottom > rect.top) {
            MoveWindow(Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
        } else {
            CenterDialog(Handle());
        }
        if (!CreateToolbar()) {
            ReportChildFailure(TESCMD_IDC_OUTPUT_TOOLBAR, GetLastError());
            End(IDCANCEL);
            return TRUE;
        }
        if (!CreateText()) {
            ReportChildFailure(TESCMD_IDC_OUTPUT_TEXT, GetLastError());
            End(IDCANCEL);
            return TRUE;
        }
        HWND edit = textWindow_;
        SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
        SendMessageA(edit, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(text_.size() + 1024));
        SetWindowTextA(edit, text_.c_str());
        Layout();
        SetFocus(edit);
        // The rich-edit control scrolls only once it is shown.
        PostMessageA(Handle(), kScrollToEnd, 0, 0);
        return FALSE;  // the focus is set
    }

    // The summary is the last line: show the end of the log, with the
    // caret there and nothing selected.
    void ScrollToEnd() {
        const LPARAM end = GetWindowTextLengthA(textWindow_);
        SendMessageA(textWindow_, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageA(textWindow_, EM_SCROLLCARET, 0, 0);
        SendMessageA(textWindow_, WM_VSCROLL, SB_BOTTOM, 0);
    }

    void Layout() {
        if (!toolbar_ || !textWindow_) return;
        RECT client;
        GetClientRect(Handle(), &client);
        SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);
        RECT bar;
        GetWindowRect(toolbar_, &bar);
        const int top = bar.bottom - bar.top;
        MoveWindow(textWindow_, 0, top, client.right, client.bottom > top ? client.bottom - top : 0, TRUE);
    }

    void Save() {
        char path[MAX_PATH];
        if (!ChooseFileToSave(Handle(), LoadText(resources_, TESCMD_IDS_TEXT_FILTER), "txt", path)) return;
        DWORD written = 0;
        DWORD error = ERROR_SUCCESS;
        bool ok;
        {
            tessera::win32::FileHandle file(
                CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            ok = file && WriteFile(file.get(), text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr) &&
                 written == text_.size();
            error = GetLastError();
        }  // closed before the message tells the user it is written
        if (ok) {
            ShowMessage(Handle(), LoadText(resources_, TESCMD_IDS_OUTPUT_SAVED), MB_OK | MB_ICONINFORMATION);
        } else {
            ShowMessage(Handle(), SystemErrorText(error), MB_OK | MB_ICONERROR);
        }
    }

    void Copy() {
        tessera::win32::GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, text_.size() + 1));
        {
            tessera::win32::LockedGlobal<char> data(block.get());
            if (!data) {
                ShowMessage(Handle(), LoadText(resources_, TESCMD_IDS_OUT_OF_MEMORY), MB_OK | MB_ICONERROR);
                return;
            }
            memcpy(data.get(), text_.c_str(), text_.size() + 1);
        }
        if (OpenClipboard(Handle())) {
            EmptyClipboard();
            if (SetClipboardData(CF_TEXT, block.get())) block.release();  // the clipboard owns it now
            CloseClipboard();
        }
    }

    BOOL OnMessage(UINT message, WPARAM, LPARAM lParam) override {
        switch (message) {
        case WM_SIZE:
            Layout();
            return TRUE;
        case kScrollToEnd:
            if (textWindow_) ScrollToEnd();
            return TRUE;
        case WM_GETMINMAXINFO: {
            MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = 300;
            info->ptMinTrackSize.y = 160;
            return TRUE;
        }
        }
        return FALSE;
    }

    BOOL OnCommand(int id, int code, HWND control) override {
        switch (id) {
        case TESCMD_IDC_OUTPUT_SAVE:
            Save();
            return TRUE;
        case TESCMD_IDC_OUTPUT_COPY:
            Copy();
            return TRUE;
        case IDOK:
            End(IDCANCEL);
            return TRUE;
        }
        return Dialog::OnCommand(id, code, control);
    }

    void OnDestroy() override {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        if (GetWindowPlacement(Handle(), &placement) && placement.showCmd == SW_SHOWNORMAL) {
            RECT rect;
            GetWindowRect(Handle(), &rect);
            PutProfileBinary(kSettings, "OutputRect", &rect, sizeof rect);
        }
    }

    HINSTANCE resources_;
    std::string text_;
    tessera::win32::ModuleHandle richEdit_;  // freed after the dialog, and with it the control, is gone
    HWND toolbar_ = nullptr;
    HWND textWindow_ = nullptr;
};

}  // namespace

void ShowOutputWindow(HWND owner, HINSTANCE resources, const std::string& text) {
    OutputDialog dialog(resources, text);
    dialog.Run(owner);
}

std::vector<std::string> DroppedPaths(const DROPFILES* block) {
    std::vector<std::string> paths;
    if (!block) return paths;
    const BYTE* names = reinterpret_cast<const BYTE*>(block) + block->pFiles;
    if (block->fWide) {
        for (const wchar_t* name = reinterpret_cast<const wchar_t*>(names); *name; name += wcslen(name) + 1) {
            char path[MAX_PATH];
            if (WideCharToMultiByte(CP_ACP, 0, name, -1, path, MAX_PATH, nullptr, nullptr)) paths.push_back(path);
        }
    } else {
        for (const char* name = reinterpret_cast<const char*>(names); *name; name += strlen(name) + 1)
            paths.push_back(name);
    }
    return paths;
}

}  // namespace tescommands
