// A program for the self-extractor tests. Started by a stub, it proves it
// ran by writing a file outside the extracted set: the path given as its
// argument, else "ran.txt" in the folder above its own.
#include <windows.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
    std::string target;
    if (argc > 1) {
        target = argv[1];
    } else {
        char own[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 1;
        target = own;
        for (int level = 0; level < 2; ++level) target.erase(target.find_last_of('\\'));
        target += "\\ran.txt";
    }
    HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    // The stub waits for this program before it deletes the set: a moment
    // of work here makes a stub that does not wait lose the race.
    Sleep(1500);
    const char text[] = "ran\r\n";
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);
    return 0;
}
