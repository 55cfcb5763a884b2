// The module that holds the engine's resources (string table, dialogs,
// animation): tescore.dll itself, or the program the engine core is linked
// into (tests).
#pragma once

#include <windows.h>

HINSTANCE EngineModule();
