// Process-wide state of the program: the instance and engine modules, the
// string lookup (program table first, then the engine's), message boxes,
// the program settings, the window list and the message loop.
#pragma once

#include "win32/handles.h"

#include <windows.h>

#include <string>

namespace tessera {

class TopLevelWindow;

// The values of "Settings" that live for the whole process.
struct ProgramSettings {
    std::string tempPath;  // always with a trailing "\"
    DWORD archivesOpened = 0;
    std::string suffix = ".z:.zip:.zoo:.arc:.lzh:.arj:.rar";
    DWORD alwaysOnTop = 0;
    DWORD assocCheck = 1;
    DWORD defaultFont = 1;
    DWORD modifyTime = 1;
    DWORD openAtStartup = 0;
    DWORD cutPrompt = 1;
    DWORD exploreExtractFolder = 1;

    void Load();
    void Save() const;
};

// Every top-level window object of the program.
class TopLevelWindow {
public:
    virtual ~TopLevelWindow() = default;
    virtual bool IsUsable() const = 0;
    virtual bool Create(HWND parent) = 0;
    virtual bool PreTranslateMessage(MSG* message) = 0;
    virtual void Show() = 0;
    virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

enum WindowKind { kExplorerWindow = 0, kSearchWindow = 1 };

// The open top-level windows, in order of creation. The list owns the
// objects it holds; an object removes itself when its window is destroyed.
class WindowList {
public:
    struct Node {
        Node* previous;
        Node* next;
        TopLevelWindow* object;
        WindowKind kind;
    };

    ~WindowList();
    void Add(TopLevelWindow* object, WindowKind kind);
    // Unlinks and deletes the object's node (not the object); posts the
    // quit message when the list becomes empty.
    void Remove(TopLevelWindow* object);
    bool Contains(const TopLevelWindow* object) const;
    Node* First() const { return first_; }
    size_t Count() const;
    // A usable window of the kind, or a new one created without parent.
    TopLevelWindow* FindOrCreate(WindowKind kind);
    bool PreTranslate(MSG* message);

private:
    Node* first_ = nullptr;
    Node* last_ = nullptr;
};

struct Application {
    HINSTANCE instance = nullptr;
    tessera::win32::ModuleHandle engine;  // tescore.dll loaded by name for its strings
    ProgramSettings settings;
    WindowList windows;
    bool oleStarted = false;  // OleInitialize succeeded (EndApplication undoes it)
};

Application& App();

// Start-up steps before the command line: the engine's string table, the
// thread locale from "Language", the program settings, the common
// controls. False when the engine cannot be loaded.
bool StartApplication(HINSTANCE instance);
// After the message loop: settings written, the engine handle released.
void EndApplication();
int RunMessageLoop();

// A string of the program's table, else of the engine's; empty when neither
// has it.
std::string LoadText(UINT id);
bool HasText(UINT id);

// Message boxes with the caption "Tessera". Every box of the program goes
// through one function, which a test may replace.
using MessageBoxHook = int (*)(HWND owner, const char* text, const char* caption, UINT style);
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
int ShowMessageText(HWND owner, const std::string& text, UINT style);
// Formats string id with the arguments (printf style); shows nothing and
// returns 0 when neither table has the number.
int ShowMessage(HWND owner, UINT id, UINT style, ...);
std::string FormatText(UINT id, ...);

}  // namespace tessera
