// tessera.exe: start-up, the command line, the message loop of all windows.
#include "application.h"
#include "command_line.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (!tessera::StartApplication(instance)) return 0;
    int result = 0;
    if (tessera::ProcessCommandLine(GetCommandLineA())) result = tessera::RunMessageLoop();
    tessera::EndApplication();
    return result;
}
