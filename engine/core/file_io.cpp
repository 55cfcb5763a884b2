// File reads and writes through one place, so tests can make them fail.
#include "core/file_io.h"

#include <cstdlib>

namespace {

struct Fault {
    DWORD countdown = 0;  // 0: disarmed
    DWORD error = 0;
};
Fault g_writeFault;
Fault g_readFault;

// True when this call is the one that must fail.
bool Fires(Fault& fault) {
    if (fault.countdown == 0) return false;
    if (--fault.countdown != 0) return false;
    SetLastError(fault.error);
    return true;
}

void ArmFrom(const char* variable, Fault& fault, DWORD defaultError) {
    char value[64];
    DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
    if (length == 0 || length >= sizeof value) return;
    char* end = nullptr;
    unsigned long nth = strtoul(value, &end, 10);
    unsigned long error = defaultError;
    if (end && *end == ',') error = strtoul(end + 1, nullptr, 10);
    fault.countdown = static_cast<DWORD>(nth);
    fault.error = static_cast<DWORD>(error);
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

void SetWriteFault(DWORD nth, DWORD error) { g_writeFault = {nth, error}; }
void SetReadFault(DWORD nth, DWORD error) { g_readFault = {nth, error}; }

void ArmFileFaultsFromEnvironment() {
    ArmFrom("TESSERA_FAULT_WRITE", g_writeFault, ERROR_DISK_FULL);
    ArmFrom("TESSERA_FAULT_READ", g_readFault, ERROR_READ_FAULT);
}
