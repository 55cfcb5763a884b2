// Sending the archive file by mail through the system's simple mail
// interface ("mapi32.dll", loaded when needed). The three entry points go
// through one seam, MailFunctions, which a test can replace.
#pragma once

#include <windows.h>
#include <mapi.h>

#include <string>

namespace tescommands {

struct MailFunctions {
    LPMAPILOGON logon = nullptr;
    LPMAPISENDMAIL sendMail = nullptr;
    LPMAPILOGOFF logoff = nullptr;
};

// Replaces the entry points (null restores loading "mapi32.dll").
void SetMailFunctionsForTesting(const MailFunctions* functions);

// The name of a mail error code (1 to 6 and 8 to 26); "" for others.
std::string MailErrorName(ULONG code);

// Mail recipient (40009): a new message with the file attached, for the
// user to complete. Failures show message 7 (or the system's text when the
// library cannot be loaded). True when the message was sent.
bool MailFile(HWND owner, HINSTANCE resources, const std::string& path);

}  // namespace tescommands
