// The program's start-up in this test process under Wine: HKEY_CURRENT_USER
// redirected to a key of the process (and HKEY_CLASSES_ROOT to one of its
// own while a test asks for it), message boxes of the program and of the
// engine recorded instead of shown.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace search_tests {

// Every message box shown since the last Clear.
std::vector<std::string>& Messages();

// Serves this thread's messages until none is waiting; for a while.
void Pump();
void PumpFor(DWORD milliseconds);
// Pumps until done() or the time is up; done()'s last answer.
template <class Done>
bool PumpUntil(Done done, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        Pump();
    }
    return true;
}

// HKEY_CLASSES_ROOT as an empty key of the test while it lives.
class PrivateClassesRoot {
public:
    PrivateClassesRoot();
    ~PrivateClassesRoot();
    PrivateClassesRoot(const PrivateClassesRoot&) = delete;
    PrivateClassesRoot& operator=(const PrivateClassesRoot&) = delete;

private:
    std::string name_;
};

}  // namespace search_tests
