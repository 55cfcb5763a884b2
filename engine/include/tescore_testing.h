// The engine's one entry point for tests: failures of its file reads and
// writes on demand. Programs never call it; without a call the engine's
// file I/O is plain.
#pragma once

#include "tescore.h"

#define ARC_FAULT_WRITE 0
#define ARC_FAULT_READ 1

// From the next operation on, every operation's nth write (ARC_FAULT_WRITE)
// or read (ARC_FAULT_READ), counted from the operation's start, fails with
// the system error `error` (0: ERROR_DISK_FULL for writes, ERROR_READ_FAULT
// for reads). nth 0 ends the fault at once. E_INVALIDARG for another kind.
TESAPI HRESULT WINAPI ArcTestingSetFileFault(DWORD kind, DWORD nth, DWORD error) TES_PLAIN_NAME(ArcTestingSetFileFault);
