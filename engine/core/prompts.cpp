// The engine's prompts: the seam that lets a program answer them itself, and
// the default dialogs "Overwrite", "Enter password"/"Incorrect password" and
// "Rename" (resources in tescore.rc).
#include "core/prompts.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/resource.h"
#include "core/services.h"

#include <shellapi.h>

#include <cstring>

const char kProductTitle[] = "Tessera";

namespace {

const ARCPROMPTHANDLER* g_handler = nullptr;

bool ShiftHeld() { return GetKeyState(VK_SHIFT) < 0; }

// --- Overwrite ---

void ShowFileIcon(HWND dialog, int control, LPCSTR path) {
    SHFILEINFOA info = {};
    if (SHGetFileInfoA(path, FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_ICON | SHGFI_USEFILEATTRIBUTES)) {
        HICON old = reinterpret_cast<HICON>(
            SendDlgItemMessageA(dialog, control, STM_SETICON, reinterpret_cast<WPARAM>(info.hIcon), 0));
        if (old) DestroyIcon(old);
    }
}

void DestroyFileIcon(HWND dialog, int control) {
    HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageA(dialog, control, STM_SETICON, 0, 0));
    if (icon) DestroyIcon(icon);
}

INT_PTR CALLBACK OverwriteProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* prompt = reinterpret_cast<ARCOVERWRITEPROMPT*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        prompt = reinterpret_cast<ARCOVERWRITEPROMPT*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        char format[256];
        char text[MAX_PATH + 256];
        GetDlgItemTextA(dialog, IDC_OW_TEXT, format, sizeof format);
        wsprintfA(text, format, prompt->path);
        SetDlgItemTextA(dialog, IDC_OW_TEXT, text);
        char size[64];
        char time[MAX_PATH];
        FormatSizeText(prompt->size, 0, size);
        FormatTimeText(prompt->time, time);
        SetDlgItemTextA(dialog, IDC_OW_NEW_SIZE, size);
        SetDlgItemTextA(dialog, IDC_OW_NEW_TIME, time);
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(prompt->path, &found);
        if (find != INVALID_HANDLE_VALUE) {
            FindClose(find);
            FormatSizeText(found.nFileSizeLow, found.nFileSizeHigh, size);
            FormatTimeText(found.ftLastWriteTime, time);
        } else {
            LoadStringA(EngineModule(), IDS_UNKNOWN, size, sizeof size);
            lstrcpyA(time, size);
        }
        SetDlgItemTextA(dialog, IDC_OW_OLD_SIZE, size);
        SetDlgItemTextA(dialog, IDC_OW_OLD_TIME, time);
        ShowFileIcon(dialog, IDC_OW_OLD_ICON, prompt->path);
        ShowFileIcon(dialog, IDC_OW_NEW_ICON, prompt->path);
        CenterOverOwner(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDYES: EndDialog(dialog, OVERWRITE_RESULT_YES); return TRUE;
        case IDC_OW_YESALL: EndDialog(dialog, OVERWRITE_RESULT_YESTOALL); return TRUE;
        case IDCANCEL: EndDialog(dialog, ShiftHeld() ? OVERWRITE_RESULT_NOTOALL : OVERWRITE_RESULT_NO); return TRUE;
        case IDC_OW_CANCEL: EndDialog(dialog, OVERWRITE_RESULT_CANCEL); return TRUE;
        case IDC_OW_RENAME: {
            char renamed[MAX_PATH];
            if (ShowRenameDialog(dialog, prompt->path, renamed) == RENAME_RESULT_OK) {
                lstrcpynA(prompt->path, renamed, MAX_PATH);
                EndDialog(dialog, OVERWRITE_RESULT_RENAME);
            }
            return TRUE;
        }
        }
        break;
    case WM_DESTROY:
        DestroyFileIcon(dialog, IDC_OW_OLD_ICON);
        DestroyFileIcon(dialog, IDC_OW_NEW_ICON);
        break;
    }
    return FALSE;
}

// --- Password ---

struct PasswordRequest {
    LPCSTR fileName;
    LPSTR password;  // ARC_PASSWORD_MAX + 1
};

const char kSettingsSection[] = "Settings";
const char kMaskPassword[] = "MaskPassword";

void ApplyMask(HWND dialog) {
    bool masked = IsDlgButtonChecked(dialog, IDC_PW_MASK) == BST_CHECKED;
    HWND edit = GetDlgItem(dialog, IDC_PW_EDIT);
    SendMessageA(edit, EM_SETPASSWORDCHAR, masked ? '*' : 0, 0);
    InvalidateRect(edit, nullptr, TRUE);
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* request = reinterpret_cast<PasswordRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        request = reinterpret_cast<PasswordRequest*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemTextA(dialog, IDC_PW_FILE, request->fileName);
        CenterOverOwner(dialog);
        SendDlgItemMessageA(dialog, IDC_PW_EDIT, EM_LIMITTEXT, ARC_PASSWORD_MAX, 0);
        DWORD mask = 1;
        ReadSettingInt(kSettingsSection, kMaskPassword, &mask);
        CheckDlgButton(dialog, IDC_PW_MASK, mask ? BST_CHECKED : BST_UNCHECKED);
        ApplyMask(dialog);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
        SetFocus(GetDlgItem(dialog, IDC_PW_EDIT));
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PW_EDIT:
            if (HIWORD(wParam) == EN_CHANGE) {
                EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthA(GetDlgItem(dialog, IDC_PW_EDIT)) > 0);
            }
            return TRUE;
        case IDC_PW_MASK: ApplyMask(dialog); return TRUE;
        case IDOK:
            GetDlgItemTextA(dialog, IDC_PW_EDIT, request->password, ARC_PASSWORD_MAX + 1);
            EndDialog(dialog, PASSWORD_RESULT_OK);
            return TRUE;
        case IDC_PW_SKIP: EndDialog(dialog, ShiftHeld() ? PASSWORD_RESULT_SKIPALL : PASSWORD_RESULT_SKIP); return TRUE;
        case IDCANCEL: EndDialog(dialog, PASSWORD_RESULT_CANCEL); return TRUE;
        }
        break;
    case WM_DESTROY:
        WriteSettingInt(kSettingsSection, kMaskPassword, IsDlgButtonChecked(dialog, IDC_PW_MASK) == BST_CHECKED ? 1 : 0);
        break;
    }
    return FALSE;
}

// --- Rename ---

struct RenameRequest {
    char folder[MAX_PATH];
    char base[MAX_PATH];
    char extension[MAX_PATH];
    char newBase[MAX_PATH];
};

bool ValidNewBase(const RenameRequest& request) {
    if (request.newBase[0] == '\0' || strcmp(request.newBase, request.base) == 0) return false;
    return strpbrk(request.newBase, "\"*/:<>?\\|") == nullptr;
}

INT_PTR CALLBACK RenameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* request = reinterpret_cast<RenameRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        request = reinterpret_cast<RenameRequest*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemTextA(dialog, IDC_RN_FROM, request->base);
        SetDlgItemTextA(dialog, IDC_RN_FROMEXT, request->extension);
        SetDlgItemTextA(dialog, IDC_RN_TOEXT, request->extension);
        // Room for folder + new base + extension within MAX_PATH.
        int room = MAX_PATH - 1 - lstrlenA(request->folder) - lstrlenA(request->extension);
        SendDlgItemMessageA(dialog, IDC_RN_TO, EM_LIMITTEXT, room > 0 ? room : 1, 0);
        SetDlgItemTextA(dialog, IDC_RN_TO, request->base);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
        CenterOverOwner(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RN_TO:
            if (HIWORD(wParam) == EN_CHANGE) {
                GetDlgItemTextA(dialog, IDC_RN_TO, request->newBase, sizeof request->newBase);
                EnableWindow(GetDlgItem(dialog, IDOK), ValidNewBase(*request));
            }
            return TRUE;
        case IDOK:
            GetDlgItemTextA(dialog, IDC_RN_TO, request->newBase, sizeof request->newBase);
            if (ValidNewBase(*request)) EndDialog(dialog, RENAME_RESULT_OK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, RENAME_RESULT_CANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

// Splits path into folder (with its separator), base name and extension.
void SplitPath(LPCSTR fullPath, RenameRequest& request) {
    char path[MAX_PATH];
    lstrcpynA(path, fullPath, MAX_PATH);
    LPCSTR name = path;
    for (LPCSTR p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    LPCSTR extension = PathExtension(path);
    if (extension < name) extension = name + lstrlenA(name);
    lstrcpynA(request.folder, path, static_cast<int>(name - path) + 1);
    lstrcpynA(request.base, name, static_cast<int>(extension - name) + 1);
    lstrcpynA(request.extension, extension, MAX_PATH);
    lstrcpyA(request.newBase, request.base);
}

}  // namespace

const ARCPROMPTHANDLER* ProcessPromptHandler() { return g_handler; }

TESAPI const ARCPROMPTHANDLER* WINAPI ArcSetPromptHandler(const ARCPROMPTHANDLER* handler) {
    const ARCPROMPTHANDLER* previous = g_handler;
    g_handler = handler;
    return previous;
}

int PromptMessageBox(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR text, UINT style) {
    if (handler && handler->ShowMessage) return handler->ShowMessage(handler->context, owner, text, kProductTitle, style);
    return MessageBoxA(owner, text, kProductTitle, style);
}

int PromptOverwriteDialog(const ARCPROMPTHANDLER* handler, HWND owner, ARCOVERWRITEPROMPT* prompt) {
    if (handler && handler->Overwrite) return handler->Overwrite(handler->context, owner, prompt);
    INT_PTR result = DialogBoxParamA(EngineModule(), MAKEINTRESOURCEA(IDD_OVERWRITE), owner, OverwriteProc,
                                     reinterpret_cast<LPARAM>(prompt));
    return result <= 0 ? OVERWRITE_RESULT_CANCEL : static_cast<int>(result);
}

int PromptPasswordDialog(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR fileName, BOOL retry, LPSTR password) {
    if (handler && handler->Password) return handler->Password(handler->context, owner, fileName, retry, password);
    if (retry) MessageBeep(MB_ICONEXCLAMATION);
    PasswordRequest request = {fileName, password};
    INT_PTR result = DialogBoxParamA(EngineModule(), MAKEINTRESOURCEA(retry ? IDD_BADPASSWORD : IDD_PASSWORD), owner,
                                     PasswordProc, reinterpret_cast<LPARAM>(&request));
    return result <= 0 ? PASSWORD_RESULT_CANCEL : static_cast<int>(result);
}

int PromptRenameDialog(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR path, LPSTR newPath) {
    if (handler && handler->Rename) return handler->Rename(handler->context, owner, path, newPath);
    RenameRequest request;
    SplitPath(path, request);
    INT_PTR result = DialogBoxParamA(EngineModule(), MAKEINTRESOURCEA(IDD_RENAME), owner, RenameProc,
                                     reinterpret_cast<LPARAM>(&request));
    if (result != RENAME_RESULT_OK) {
        result = RENAME_RESULT_CANCEL;
        lstrcpyA(request.newBase, request.base);
    }
    char joined[3 * MAX_PATH];
    wsprintfA(joined, "%s%s%s", request.folder, request.newBase, request.extension);
    lstrcpynA(newPath, joined, MAX_PATH);
    return static_cast<int>(result);
}

bool PromptShiftDown(const ARCPROMPTHANDLER* handler) {
    if (handler && handler->IsShiftDown) return handler->IsShiftDown(handler->context) != FALSE;
    return ShiftHeld();
}

bool PromptStatusDialogAllowed(const ARCPROMPTHANDLER* handler) {
    return !(handler && (handler->flags & ARCPROMPT_NOSTATUSDIALOG));
}

TESAPI int WINAPI ShowRenameDialog(HWND owner, LPCSTR path, LPSTR newPath) {
    if (!path || !newPath) return RENAME_RESULT_CANCEL;
    return PromptRenameDialog(g_handler, owner, path, newPath);
}
