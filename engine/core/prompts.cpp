// The engine's prompts: the seam that lets a program answer them itself, and
// the default dialogs "Overwrite", "Enter password"/"Incorrect password" and
// "Rename" (resources in tescore.rc).
#include "core/prompts.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/resource.h"
#include "core/services.h"

#include "win32/dialog.h"
#include "win32/handles.h"

#include <shellapi.h>

#include <cstring>

const char kProductTitle[] = "Tessera";

namespace {

const ARCPROMPTHANDLER* g_handler = nullptr;
// A worker thread that lists archives on its own (the archive search) answers
// its prompts itself; the user-interface thread keeps the process's handler.
thread_local const ARCPROMPTHANDLER* t_threadHandler = nullptr;

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

class OverwriteDialog final : public tessera::win32::Dialog {
public:
    explicit OverwriteDialog(ARCOVERWRITEPROMPT& prompt) : prompt_(prompt) {}

private:
    BOOL OnInitDialog() override {
        char format[256];
        char text[MAX_PATH + 256];
        GetDlgItemTextA(Handle(), IDC_OW_TEXT, format, sizeof format);
        wsprintfA(text, format, prompt_.path);
        SetText(IDC_OW_TEXT, text);
        char size[64];
        char time[MAX_PATH];
        FormatSizeText(prompt_.size, 0, size);
        FormatTimeText(prompt_.time, time);
        SetText(IDC_OW_NEW_SIZE, size);
        SetText(IDC_OW_NEW_TIME, time);
        WIN32_FIND_DATAA found;
        if (tessera::win32::FindHandle(FindFirstFileA(prompt_.path, &found))) {
            FormatSizeText(found.nFileSizeLow, found.nFileSizeHigh, size);
            FormatTimeText(found.ftLastWriteTime, time);
        } else {
            LoadStringA(EngineModule(), IDS_UNKNOWN, size, sizeof size);
            lstrcpyA(time, size);
        }
        SetText(IDC_OW_OLD_SIZE, size);
        SetText(IDC_OW_OLD_TIME, time);
        ShowFileIcon(Handle(), IDC_OW_OLD_ICON, prompt_.path);
        ShowFileIcon(Handle(), IDC_OW_NEW_ICON, prompt_.path);
        CenterOverOwner(Handle());
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        switch (id) {
        case IDYES: End(OVERWRITE_RESULT_YES); return TRUE;
        case IDC_OW_YESALL: End(OVERWRITE_RESULT_YESTOALL); return TRUE;
        case IDCANCEL: End(ShiftHeld() ? OVERWRITE_RESULT_NOTOALL : OVERWRITE_RESULT_NO); return TRUE;
        case IDC_OW_CANCEL: End(OVERWRITE_RESULT_CANCEL); return TRUE;
        case IDC_OW_RENAME: {
            char renamed[MAX_PATH];
            if (ShowRenameDialog(Handle(), prompt_.path, renamed) == RENAME_RESULT_OK) {
                lstrcpynA(prompt_.path, renamed, MAX_PATH);
                End(OVERWRITE_RESULT_RENAME);
            }
            return TRUE;
        }
        }
        return FALSE;
    }
    void OnDestroy() override {
        DestroyFileIcon(Handle(), IDC_OW_OLD_ICON);
        DestroyFileIcon(Handle(), IDC_OW_NEW_ICON);
    }

    ARCOVERWRITEPROMPT& prompt_;
};

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

class PasswordDialog final : public tessera::win32::Dialog {
public:
    explicit PasswordDialog(const PasswordRequest& request) : request_(request) {}

private:
    BOOL OnInitDialog() override {
        SetText(IDC_PW_FILE, request_.fileName);
        CenterOverOwner(Handle());
        SendDlgItemMessageA(Handle(), IDC_PW_EDIT, EM_LIMITTEXT, ARC_PASSWORD_MAX, 0);
        DWORD mask = 1;
        ReadSettingInt(kSettingsSection, kMaskPassword, &mask);
        Check(IDC_PW_MASK, mask != 0);
        ApplyMask(Handle());
        Enable(IDOK, false);
        SetFocus(Item(IDC_PW_EDIT));
        return FALSE;  // the focus is set
    }
    BOOL OnCommand(int id, int code, HWND) override {
        switch (id) {
        case IDC_PW_EDIT:
            if (code == EN_CHANGE) Enable(IDOK, GetWindowTextLengthA(Item(IDC_PW_EDIT)) > 0);
            return TRUE;
        case IDC_PW_MASK: ApplyMask(Handle()); return TRUE;
        case IDOK:
            GetDlgItemTextA(Handle(), IDC_PW_EDIT, request_.password, ARC_PASSWORD_MAX + 1);
            End(PASSWORD_RESULT_OK);
            return TRUE;
        case IDC_PW_SKIP: End(ShiftHeld() ? PASSWORD_RESULT_SKIPALL : PASSWORD_RESULT_SKIP); return TRUE;
        case IDCANCEL: End(PASSWORD_RESULT_CANCEL); return TRUE;
        }
        return FALSE;
    }
    void OnDestroy() override { WriteSettingInt(kSettingsSection, kMaskPassword, Checked(IDC_PW_MASK) ? 1 : 0); }

    const PasswordRequest& request_;
};

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

class RenameDialog final : public tessera::win32::Dialog {
public:
    explicit RenameDialog(RenameRequest& request) : request_(request) {}

private:
    BOOL OnInitDialog() override {
        SetText(IDC_RN_FROM, request_.base);
        SetText(IDC_RN_FROMEXT, request_.extension);
        SetText(IDC_RN_TOEXT, request_.extension);
        // Room for folder + new base + extension within MAX_PATH.
        int room = MAX_PATH - 1 - lstrlenA(request_.folder) - lstrlenA(request_.extension);
        SendDlgItemMessageA(Handle(), IDC_RN_TO, EM_LIMITTEXT, room > 0 ? room : 1, 0);
        SetText(IDC_RN_TO, request_.base);
        Enable(IDOK, false);
        CenterOverOwner(Handle());
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND) override {
        switch (id) {
        case IDC_RN_TO:
            if (code == EN_CHANGE) {
                ReadNewBase();
                Enable(IDOK, ValidNewBase(request_));
            }
            return TRUE;
        case IDOK:
            ReadNewBase();
            if (ValidNewBase(request_)) End(RENAME_RESULT_OK);
            return TRUE;
        case IDCANCEL: End(RENAME_RESULT_CANCEL); return TRUE;
        }
        return FALSE;
    }
    void ReadNewBase() { GetDlgItemTextA(Handle(), IDC_RN_TO, request_.newBase, sizeof request_.newBase); }

    RenameRequest& request_;
};

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

const ARCPROMPTHANDLER* ProcessPromptHandler() { return t_threadHandler ? t_threadHandler : g_handler; }

TESAPI const ARCPROMPTHANDLER* WINAPI ArcSetPromptHandler(const ARCPROMPTHANDLER* handler) {
    const ARCPROMPTHANDLER* previous = g_handler;
    g_handler = handler;
    return previous;
}

TESAPI const ARCPROMPTHANDLER* WINAPI ArcSetThreadPromptHandler(const ARCPROMPTHANDLER* handler) {
    const ARCPROMPTHANDLER* previous = t_threadHandler;
    t_threadHandler = handler;
    return previous;
}

int PromptMessageBox(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR text, UINT style) {
    if (handler && handler->ShowMessage) return handler->ShowMessage(handler->context, owner, text, kProductTitle, style);
    return MessageBoxA(owner, text, kProductTitle, style);
}

int PromptOverwriteDialog(const ARCPROMPTHANDLER* handler, HWND owner, ARCOVERWRITEPROMPT* prompt) {
    if (handler && handler->Overwrite) return handler->Overwrite(handler->context, owner, prompt);
    OverwriteDialog dialog(*prompt);
    INT_PTR result = dialog.RunModal(EngineModule(), IDD_OVERWRITE, owner);
    return result <= 0 ? OVERWRITE_RESULT_CANCEL : static_cast<int>(result);
}

int PromptPasswordDialog(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR fileName, BOOL retry, LPSTR password) {
    if (handler && handler->Password) return handler->Password(handler->context, owner, fileName, retry, password);
    if (retry) MessageBeep(MB_ICONEXCLAMATION);
    PasswordRequest request = {fileName, password};
    PasswordDialog dialog(request);
    INT_PTR result = dialog.RunModal(EngineModule(), retry ? IDD_BADPASSWORD : IDD_PASSWORD, owner);
    return result <= 0 ? PASSWORD_RESULT_CANCEL : static_cast<int>(result);
}

int PromptRenameDialog(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR path, LPSTR newPath) {
    if (handler && handler->Rename) return handler->Rename(handler->context, owner, path, newPath);
    RenameRequest request;
    SplitPath(path, request);
    RenameDialog dialog(request);
    INT_PTR result = dialog.RunModal(EngineModule(), IDD_RENAME, owner);
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
