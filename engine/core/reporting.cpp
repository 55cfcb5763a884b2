// Reporting services of the archive object: log lines, warnings, error boxes,
// questions, the status line, the test summary, progress with the status
// dialog, and the overwrite and password prompts. Texts come from the string
// table of the engine module and are formatted with wvsprintfA into the
// object's 1024-character buffers.
#include "core/compress_format.h"

#include "core/module.h"
#include "core/prompts.h"
#include "core/resource.h"
#include "core/services.h"

#include <commctrl.h>

// --- formatting and delivery ---

int CCompressFormat::FormatMessageText(UINT id, va_list args) {
    if (LoadStringA(EngineModule(), id, m_formatText, kTextChars) <= 0) return 0;
    wvsprintfA(m_messageText, m_formatText, args);
    return 1;
}

// Hands a formatted text to the message callback with its line feed.
void CCompressFormat::Deliver(LPCSTR text) {
    if (!m_messageProc) return;
    if (text != m_messageText) lstrcpynA(m_messageText, text, kTextChars);
    int length = lstrlenA(m_messageText);
    if (length == 0 || m_messageText[length - 1] != '\n') lstrcatA(m_messageText, "\n");
    m_messageProc(this, m_messageUser, m_messageText);
}

int CCompressFormat::Log(UINT id, ...) {
    if (!m_messageProc) return 0;
    va_list args;
    va_start(args, id);
    int ok = FormatMessageText(id, args);
    va_end(args);
    if (!ok) return 0;
    Deliver(m_messageText);
    return 1;
}

int CCompressFormat::Warn(UINT id, ...) {
    if (!m_messageProc) return 0;
    va_list args;
    va_start(args, id);
    int ok = FormatMessageText(id, args);
    va_end(args);
    if (!ok) return 0;
    m_warning = TRUE;
    Deliver(m_messageText);
    return 1;
}

int CCompressFormat::ShowBox(LPCSTR text, UINT style) { return PromptMessageBox(Prompts(), m_owner, text, style); }

int CCompressFormat::ReportError(UINT id, ...) {
    if (!m_owner && !m_messageProc) return 1;
    va_list args;
    va_start(args, id);
    int ok = FormatMessageText(id, args);
    va_end(args);
    if (!ok) return 1;
    int result = 1;
    if (m_owner) result = ShowBox(m_messageText, MB_OK | MB_ICONSTOP);
    Deliver(m_messageText);
    return result;
}

int CCompressFormat::Ask(UINT id, UINT style, ...) {
    if (!m_owner) return IDOK;
    va_list args;
    va_start(args, style);
    int ok = FormatMessageText(id, args);
    va_end(args);
    if (!ok) return 1;
    return ShowBox(m_messageText, style);
}

void CCompressFormat::ShowStatus(UINT id, ...) {
    if (!m_statusProc) return;
    if (id == STATUS_CLEAR) {
        m_statusProc(m_owner, "");
        return;
    }
    va_list args;
    va_start(args, id);
    int ok = FormatMessageText(id, args);
    va_end(args);
    if (ok) m_statusProc(m_owner, m_messageText);
}

void CCompressFormat::LogSkip(LPCSTR name, UINT reasonId, ...) {
    char format[kTextChars];
    m_errorText[0] = '\0';
    if (LoadStringA(EngineModule(), reasonId, format, kTextChars) > 0) {
        va_list args;
        va_start(args, reasonId);
        wvsprintfA(m_errorText, format, args);
        va_end(args);
    }
    // A very long name must not push the reason out of the line.
    char shortName[MAX_PATH];
    lstrcpynA(shortName, name ? name : "", MAX_PATH);
    Log(IDS_SKIPPING_ENTRY, shortName, m_errorText);
    ShowStatus(IDS_STATUS_SKIPPING);
}

LPCSTR CCompressFormat::SystemErrorText(DWORD code) {
    if (code == ERROR_FROM_LAST) code = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), m_errorText, kTextChars, nullptr);
    if (length == 0) wsprintfA(m_errorText, "<error %d>", static_cast<int>(code));
    return m_errorText;
}

void CCompressFormat::NoteSkipped(SkipReason reason) {
    ++m_outcome.skipped;
    switch (reason) {
    case kSkipUnsupported: ++m_outcome.skippedUnsupported; break;
    case kSkipPassword: ++m_outcome.skippedPassword; break;
    case kSkipExisting: ++m_outcome.skippedExisting; break;
    case kSkipOther: break;
    }
}

// Tested are the file entries that were checked whole; folders and skipped
// entries were not, so they never make a run look cleaner than it was.
void CCompressFormat::ReportTestSummary() {
    const ARCOUTCOME& o = m_outcome;
    if (m_op == OP_TEST) {
        if (o.failed != 0 || o.damaged != 0) {
            Warn(IDS_TEST_ERRORS_FOUND, m_archivePath);
        } else if (o.processed == 0) {
            Warn(IDS_TEST_NOTHING_TESTED, m_archivePath);
        } else if (m_allSelected && o.skipped == 0) {
            Warn(IDS_TEST_NO_ERRORS_ALL, m_archivePath);
        } else {
            Warn(IDS_TEST_NO_ERRORS_COUNT, m_archivePath, static_cast<int>(o.processed));
        }
    }
    if (o.skippedUnsupported != 0) Warn(IDS_SKIPPED_UNSUPPORTED, static_cast<int>(o.skippedUnsupported));
    if (o.skippedPassword != 0) Warn(IDS_SKIPPED_PASSWORD, static_cast<int>(o.skippedPassword));
}

// --- progress and the status dialog ---

namespace {

const DWORD kStatusDialogThreshold = 0x50000;  // 327,680 bytes

}  // namespace

// Every common control class of the engine's dialog templates: a dialog
// whose template names a class that is not registered is never created.
void RegisterEngineControls() {
    static bool done = false;
    if (done) return;
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS};
    done = InitCommonControlsEx(&init) != FALSE;
}

void CALLBACK CCompressFormat::StatusDialogText(HWND owner, LPCSTR text) {
    SetDlgItemTextA(owner, IDC_STATUS_TEXT, text);
}

INT_PTR CALLBACK CCompressFormat::StatusDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CCompressFormat*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        CenterOverOwner(dialog);
        RECT place = {15, 8, 15 + 24, 8 + 24};
        MapDialogRect(dialog, &place);
        HWND animation = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY,
                                         place.left, place.top, place.right - place.left, place.bottom - place.top,
                                         dialog, reinterpret_cast<HMENU>(IDC_STATUS_ANIMATION), EngineModule(), nullptr);
        if (animation) {
            SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(EngineModule()),
                         reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDA_STATUS)));
        }
        return TRUE;
    }
    case WM_CLOSE:
    case WM_COMMAND:
        if (message == WM_CLOSE || LOWORD(wParam) == IDCANCEL) {
            HWND button = GetDlgItem(dialog, IDCANCEL);
            // A second press (or closing after Cancel) does nothing.
            if (self && IsWindowEnabled(button)) {
                self->Cancel();
                EnableWindow(button, FALSE);
            }
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void CCompressFormat::Progress(int step, DWORD amount) {
    switch (step) {
    case kProgressBegin:
        m_progressOwner = m_owner;
        m_progressTotal = amount;
        m_progressDone = 0;
        m_progressPos = 0;
        m_lastPump = GetTickCount() - kPumpInterval;  // the first step pumps
        m_statusDialog = nullptr;
        if (amount >= kStatusDialogThreshold && PromptStatusDialogAllowed(Prompts())) {
            ShowStatus(IDS_PLEASE_WAIT);
            RegisterEngineControls();
            m_statusDialog = CreateDialogParamA(EngineModule(), MAKEINTRESOURCEA(IDD_STATUS), m_owner,
                                                StatusDialogProc, reinterpret_cast<LPARAM>(this));
        }
        if (m_owner) EnableWindow(m_owner, FALSE);
        if (m_statusDialog) {
            m_owner = m_statusDialog;
            m_savedStatusProc = m_statusProc;
            m_statusProc = StatusDialogText;
            m_progressBar = GetDlgItem(m_statusDialog, IDC_STATUS_PROGRESS);
            SendMessageA(m_progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(amount / kCopyChunk));
            SendMessageA(m_progressBar, PBM_SETSTEP, 1, 0);
            SendMessageA(m_progressBar, PBM_STEPIT, 0, 0);
        }
        break;
    case kProgressAdvance: {
        if (m_statusDialog && m_progressDone == 0) ShowWindow(m_statusDialog, SW_SHOWNA);
        if (m_statusDialog && m_progressDone == m_progressTotal) ShowWindow(m_statusDialog, SW_HIDE);
        m_progressDone += amount;
        DWORD position = m_progressDone / kCopyChunk;
        if (m_statusDialog) SendMessageA(m_progressBar, PBM_DELTAPOS, static_cast<WPARAM>(position - m_progressPos), 0);
        m_progressPos = position;
        // Draining the queue costs a round trip to the window system; a few
        // dozen times a second keeps the windows and the Cancel button alive.
        const DWORD now = GetTickCount();
        if (now - m_lastPump < kPumpInterval) break;
        m_lastPump = now;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        break;
    }
    case kProgressEnd:
        if (m_statusDialog) {
            if (m_progressOwner) EnableWindow(m_progressOwner, TRUE);
            DestroyWindow(m_statusDialog);
            m_statusDialog = nullptr;
            m_progressBar = nullptr;
            m_owner = m_progressOwner;
            m_statusProc = m_savedStatusProc;
        } else if (m_owner) {
            EnableWindow(m_owner, TRUE);
        }
        break;
    }
}

// --- prompts ---

const ARCPROMPTHANDLER* CCompressFormat::Prompts() const { return m_prompts ? m_prompts : ProcessPromptHandler(); }

bool CCompressFormat::IsShiftDown(const ARCPROMPTHANDLER* handler) { return PromptShiftDown(handler); }

int CCompressFormat::PromptOverwrite() {
    ARCOVERWRITEPROMPT prompt = {};
    lstrcpynA(prompt.path, m_outputPath, MAX_PATH);
    LocalFileTimeToFileTime(&m_entryTime, &prompt.time);
    prompt.size = m_entrySize;
    int result = PromptOverwriteDialog(Prompts(), m_owner, &prompt);
    if (result == OVERWRITE_RESULT_RENAME) lstrcpynA(m_outputPath, prompt.path, MAX_PATH);
    return result;
}

int CCompressFormat::PromptPassword(BOOL retry) {
    char password[ARC_PASSWORD_MAX + 1] = {};
    int result = PromptPasswordDialog(Prompts(), m_owner, FileNamePart(m_outputPath), retry, password);
    if (result == PASSWORD_RESULT_OK) {
        password[ARC_PASSWORD_MAX] = '\0';
        SetPassword(password);
    }
    SecureZeroMemory(password, sizeof password);
    return result;
}
