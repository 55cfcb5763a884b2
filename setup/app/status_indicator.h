// The step indicators of the ready page: a small window of the class
// "InstallStatus32" that draws one image of the step image list on the
// button face, or nothing in its first state.
#pragma once

#include "setup/engine/installer.h"

#include <windows.h>
#include <commctrl.h>

namespace tessera::setup {

// Registers the class; `images` serves every indicator while they live.
bool RegisterStatusIndicator(HINSTANCE program, HIMAGELIST images);
void SetIndicatorState(HWND indicator, StepState state);

}  // namespace tessera::setup
