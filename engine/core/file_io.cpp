// File reads and writes through one place, so tests can make them fail.
#include "core/file_io.h"

#include "tescore_testing.h"

namespace {

struct Fault {
    volatile LONG countdown = 0;  // 0: disarmed; counted down by every thread that reads or writes
    DWORD error = 0;
};
Fault g_writeFault;
Fault g_readFault;

// What every operation arms anew; countdown 0: none.
Fault g_standingWrite;
Fault g_standingRead;

// True when this call is the one that must fail.
bool Fires(Fault& fault) {
    for (;;) {
        const LONG left = fault.countdown;
        if (left == 0) return false;
        if (InterlockedCompareExchange(&fault.countdown, left - 1, left) != left) continue;
        if (left != 1) return false;
        SetLastError(fault.error);
        return true;
    }
}

}  // namespace

BOOL EngineReadFile(HANDLE file, void* data, DWORD size, DWORD* done) {
    *done = 0;
    if (Fires(g_readFault)) return FALSE;
    return ReadFile(file, data, size, done, nullptr);
}

BOOL EngineWriteFile(HANDLE file, const void* data, DWORD size) {
    if (Fires(g_writeFault)) return FALSE;
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr)) return FALSE;
    if (written != size) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

void SetWriteFault(DWORD nth, DWORD error) { g_writeFault = {static_cast<LONG>(nth), error}; }
void SetReadFault(DWORD nth, DWORD error) { g_readFault = {static_cast<LONG>(nth), error}; }

void SetStandingFileFault(FileFaultKind kind, DWORD nth, DWORD error) {
    Fault& standing = kind == FileFaultKind::kWrite ? g_standingWrite : g_standingRead;
    Fault& current = kind == FileFaultKind::kWrite ? g_writeFault : g_readFault;
    standing = {static_cast<LONG>(nth), error};
    if (nth == 0) current = {};
}

void ArmStandingFileFaults() {
    if (g_standingWrite.countdown) g_writeFault = g_standingWrite;
    if (g_standingRead.countdown) g_readFault = g_standingRead;
}

TESAPI HRESULT WINAPI ArcTestingSetFileFault(DWORD kind, DWORD nth, DWORD error) {
    if (kind != ARC_FAULT_WRITE && kind != ARC_FAULT_READ) return E_INVALIDARG;
    if (error == 0) error = kind == ARC_FAULT_WRITE ? ERROR_DISK_FULL : ERROR_READ_FAULT;
    SetStandingFileFault(kind == ARC_FAULT_WRITE ? FileFaultKind::kWrite : FileFaultKind::kRead, nth, error);
    return S_OK;
}
