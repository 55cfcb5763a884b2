// Mail recipient through Simple MAPI (see mail.h).
#include "mail.h"

#include "dialog_support.h"
#include "viewing_ids.h"
#include "win32/handles.h"

#include <cstdio>

namespace tescommands {

namespace {

const MailFunctions* g_testFunctions = nullptr;

// An export of the library as the function type it has.
template <class Function>
Function Export(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace

void SetMailFunctionsForTesting(const MailFunctions* functions) { g_testFunctions = functions; }

std::string MailErrorName(ULONG code) {
    // Codes 1 to 6, then 8 to 26 (7 has no name of its own).
    static const char* const kNames[] = {
        "user aborted", "generic failure", "logon failure", "disk full", "insufficient memory", "access denied",
        "too many sessions", "too many files", "too many recipients", "attachment not found",
        "attachment open failure", "attachment write failure", "unknown recipient", "bad recipient type",
        "no messages", "invalid message", "text to large", "invalid session", "type not supported",
        "ambiguous recipient", "message in use", "network failure", "invalid edit fields", "invalid recipients",
        "not supported"};
    if (code >= 1 && code <= 6) return kNames[code - 1];
    if (code >= 8 && code <= 26) return kNames[code - 2];
    return std::string();
}

bool MailFile(HWND owner, HINSTANCE resources, const std::string& path) {
    tessera::win32::ModuleHandle library;
    MailFunctions functions;
    if (g_testFunctions) {
        functions = *g_testFunctions;
    } else {
        library.reset(LoadLibraryA("mapi32.dll"));
        if (!library) {
            ShowMessage(owner, SystemErrorText(GetLastError()), MB_OK | MB_ICONERROR);
            return false;
        }
        functions.logon = Export<LPMAPILOGON>(library.get(), "MAPILogon");
        functions.sendMail = Export<LPMAPISENDMAIL>(library.get(), "MAPISendMail");
        functions.logoff = Export<LPMAPILOGOFF>(library.get(), "MAPILogoff");
        if (!functions.logon || !functions.sendMail || !functions.logoff) {
            ShowMessage(owner, SystemErrorText(ERROR_PROC_NOT_FOUND), MB_OK | MB_ICONERROR);
            return false;
        }
    }
    const std::string format = LoadText(resources, TESCMD_IDS_MAIL_FAILED);
    LHANDLE session = 0;
    ULONG result = functions.logon(reinterpret_cast<ULONG_PTR>(owner), nullptr, nullptr, MAPI_LOGON_UI, 0, &session);
    if (result != SUCCESS_SUCCESS) {
        ShowMessage(owner, FormatText(format, "logon: ", MailErrorName(result).c_str()), MB_OK | MB_ICONERROR);
        return false;
    }
    const size_t slash = path.find_last_of("\\/");
    std::string pathCopy = path;
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string subject = name;
    MapiFileDesc attachment = {};
    attachment.nPosition = static_cast<ULONG>(-1);
    attachment.lpszPathName = &pathCopy[0];
    attachment.lpszFileName = &name[0];
    MapiMessage message = {};
    message.lpszSubject = &subject[0];
    message.nFileCount = 1;
    message.lpFiles = &attachment;
    result = functions.sendMail(session, reinterpret_cast<ULONG_PTR>(owner), &message, MAPI_DIALOG, 0);
    functions.logoff(session, reinterpret_cast<ULONG_PTR>(owner), 0, 0);
    if (result == SUCCESS_SUCCESS) return true;
    ShowMessage(owner, FormatText(format, "", MailErrorName(result).c_str()), MB_OK | MB_ICONERROR);
    return false;
}

}  // namespace tescommands
