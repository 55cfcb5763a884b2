// The Output window: the log of the last operation in a resizable dialog,
// in the system's fixed-pitch font, with Save, Copy and Close on top.
#include "command_ids.h"
#include "commands.h"
#include "dialog_support.h"

#include <commdlg.h>

#include <cstring>

namespace tescommands {

namespace {

const char kSettings[] = "Settings";

class OutputDialog : public ModalDialog {
public:
    OutputDialog(HINSTANCE resources, const std::string& text) : ModalDialog(resources, TESCMD_IDD_OUTPUT) {
        // The engine ends its lines with "\n"; the edit control wants "\r\n".
        for (char c : text) {
            if (c == '\n' && (text_.empty() || text_.back() != '\r')) text_.push_back('\r');
            text_.push_back(c);
        }
    }

private:
    BOOL OnInit() override {
        RECT rect;
        DWORD size = sizeof rect;
        if (GetProfileBinary(kSettings, "OutputRect", &rect, &size) && size == sizeof rect &&
            rect.right > rect.left && rect.bottom > rect.top) {
            MoveWindow(dialog_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
        } else {
            CenterDialog(dialog_);
        }
        HWND edit = Item(TESCMD_IDC_OUTPUT_TEXT);
        SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
        SetWindowTextA(edit, text_.c_str());
        Layout();
        // The summary is the last line: show the end of the log, with the
        // caret there and nothing selected.
        SetFocus(edit);
        const LPARAM end = GetWindowTextLengthA(edit);
        SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageA(edit, EM_SCROLLCARET, 0, 0);
        return FALSE;  // the focus is set
    }

    void Layout() {
        RECT client;
        GetClientRect(dialog_, &client);
        RECT button;
        GetWindowRect(Item(IDCANCEL), &button);
        const int height = button.bottom - button.top, width = button.right - button.left;
        const int gap = 4;
        int x = gap;
        for (int id : {TESCMD_IDC_OUTPUT_SAVE, TESCMD_IDC_OUTPUT_COPY, IDCANCEL}) {
            MoveWindow(Item(id), x, gap, width, height, TRUE);
            x += width + gap;
        }
        const int top = height + 2 * gap;
        MoveWindow(Item(TESCMD_IDC_OUTPUT_TEXT), 0, top, client.right, client.bottom > top ? client.bottom - top : 0,
                   TRUE);
    }

    void Save() {
        char path[MAX_PATH] = "";
        std::string filter = FilterFromBars(LoadText(resources_, TESCMD_IDS_TEXT_FILTER));
        OPENFILENAMEA dialog = {};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = dialog_;
        dialog.lpstrFilter = filter.c_str();
        dialog.lpstrFile = path;
        dialog.nMaxFile = MAX_PATH;
        dialog.lpstrDefExt = "txt";
        dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
        if (!GetSaveFileNameA(&dialog)) return;
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        bool ok = file != INVALID_HANDLE_VALUE &&
                  WriteFile(file, text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr) &&
                  written == text_.size();
        const DWORD error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (ok) {
            ShowMessage(dialog_, LoadText(resources_, TESCMD_IDS_OUTPUT_SAVED), MB_OK | MB_ICONINFORMATION);
        } else {
            ShowMessage(dialog_, SystemErrorText(error), MB_OK | MB_ICONERROR);
        }
    }

    void Copy() {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text_.size() + 1);
        char* data = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
        if (!data) {
            if (block) GlobalFree(block);
            ShowMessage(dialog_, LoadText(resources_, TESCMD_IDS_OUT_OF_MEMORY), MB_OK | MB_ICONERROR);
            return;
        }
        memcpy(data, text_.c_str(), text_.size() + 1);
        GlobalUnlock(block);
        if (OpenClipboard(dialog_)) {
            EmptyClipboard();
            if (SetClipboardData(CF_TEXT, block)) block = nullptr;  // the clipboard owns it now
            CloseClipboard();
        }
        if (block) GlobalFree(block);
    }

    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_SIZE:
            Layout();
            return TRUE;
        case WM_GETMINMAXINFO: {
            MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = 300;
            info->ptMinTrackSize.y = 160;
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case TESCMD_IDC_OUTPUT_SAVE:
                Save();
                return TRUE;
            case TESCMD_IDC_OUTPUT_COPY:
                Copy();
                return TRUE;
            case IDOK:
            case IDCANCEL:
                EndDialog(dialog_, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY: {
            WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
            if (GetWindowPlacement(dialog_, &placement) && placement.showCmd == SW_SHOWNORMAL) {
                RECT rect;
                GetWindowRect(dialog_, &rect);
                PutProfileBinary(kSettings, "OutputRect", &rect, sizeof rect);
            }
            return FALSE;
        }
        }
        return FALSE;
    }

    std::string text_;
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
