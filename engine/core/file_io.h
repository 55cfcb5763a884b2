// The engine's file reads and writes, with fault injection for tests: the
// Nth write (or read) of an operation fails with a chosen system error, so
// every error path of a writer can be exercised, e.g. a disk filling up at
// byte k of a ZIP update.
//
// Arming: SetWriteFault/SetReadFault in a test linked with the core (the
// next Nth call fails, once), or a standing fault that every following
// operation re-arms at its start (SetStandingFileFault, exported to the
// tests as ArcTestingSetFileFault in tescore_testing.h). Nothing arms a
// fault unless a test asks for one.
#pragma once

#include <windows.h>

// ReadFile/WriteFile of whole buffers (a short write counts as failure with
// ERROR_DISK_FULL, as Windows reports a full disk).
BOOL EngineReadFile(HANDLE file, void* data, DWORD size, DWORD* done);
BOOL EngineWriteFile(HANDLE file, const void* data, DWORD size);

// nth = 0 disarms. The fault fires once.
void SetWriteFault(DWORD nth, DWORD error = ERROR_DISK_FULL);
void SetReadFault(DWORD nth, DWORD error = ERROR_READ_FAULT);

enum class FileFaultKind { kWrite, kRead };
// A fault every operation arms anew when it starts; nth = 0 ends it.
void SetStandingFileFault(FileFaultKind kind, DWORD nth, DWORD error);
// Called as an operation starts.
void ArmStandingFileFaults();
