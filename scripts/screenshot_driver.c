/* Drives tessera.exe for scripts/screenshot, from outside its process:
 *   screenshot_driver search    types "*" as the name mask of the Browse
 *                               Archives window and starts the search
 *   screenshot_driver options   opens the Options sheet of the explorer window
 * Waits up to ten seconds for the window; exit code 1 when it never came. */
#include <windows.h>
#include <string.h>

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    for (int attempt = 0; attempt < 50; ++attempt, Sleep(200)) {
        if (strcmp(mode, "search") == 0) {
            HWND window = FindWindowA("#32770", "Browse Archives");
            if (!window) continue;
            SetDlgItemTextA(window, 1038, "*");
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        if (strcmp(mode, "options") == 0) {
            HWND window = FindWindowA("TesseraWindowClass", NULL);
            if (!window || !IsWindowVisible(window)) continue;
            PostMessageA(window, WM_COMMAND, 40027, 0);
            return 0;
        }
        return 2;
    }
    return 1;
}
