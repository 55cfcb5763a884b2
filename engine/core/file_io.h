// The engine's file reads and writes, with fault injection for tests: the
// Nth write (or read) from the moment a fault is armed fails with a chosen
// system error, so every error path of a writer can be exercised, e.g. a
// disk filling up at byte k of a ZIP update.
//
// Arming: SetWriteFault/SetReadFault in a test linked with the core, or,
// across the DLL boundary, the environment variables TESSERA_FAULT_WRITE and
// TESSERA_FAULT_READ ("N" or "N,ERROR", e.g. "3,112" for the third write
// failing with ERROR_DISK_FULL), read at the start of every operation.
#pragma once

#include <windows.h>

// ReadFile/WriteFile of whole buffers (a short write counts as failure with
// ERROR_DISK_FULL, as Windows reports a full disk).
BOOL EngineReadFile(HANDLE file, void* data, DWORD size, DWORD* done);
BOOL EngineWriteFile(HANDLE file, const void* data, DWORD size);

// nth = 0 disarms. The fault fires once.
void SetWriteFault(DWORD nth, DWORD error = ERROR_DISK_FULL);
void SetReadFault(DWORD nth, DWORD error = ERROR_READ_FAULT);
void ArmFileFaultsFromEnvironment();
