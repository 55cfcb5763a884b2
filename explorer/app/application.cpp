#include "application.h"

#include <ole2.h>

#include "explorer_window.h"
#include "options_dialog.h"
#include "search_window.h"
#include "temp_files.h"
#include "tescore.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tessera {

namespace {

MessageBoxHook g_messageBoxHook = nullptr;

std::string LoadFrom(HMODULE module, UINT id) {
    if (!module) return std::string();
    // LoadStringA with a zero length gives no pointer for narrow strings; grow
    // the buffer until the text fits.
    std::vector<char> buffer(512);
    for (;;) {
        int length = LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
        if (length <= 0) return std::string();
        if (static_cast<size_t>(length) + 1 < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::string FormatV(const std::string& format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format.c_str(), copy);
    va_end(copy);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&text[0], text.size(), format.c_str(), args);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

Application& App() {
    static Application application;
    return application;
}

void ProgramSettings::Load() {
    char buffer[MAX_PATH] = "";
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    tempPath = length > 0 && length < sizeof buffer ? buffer : "";
    if (GetProfileString("Settings", "TempPath", buffer)) tempPath = buffer;
    if (!tempPath.empty() && tempPath.back() != '\\') tempPath += '\\';
    GetProfileInt("Settings", "ArchivesOpened", &archivesOpened);
    if (GetProfileString("Settings", "Suffix", buffer)) suffix = buffer;
    GetProfileInt("Settings", "AlwaysOnTop", &alwaysOnTop);
    GetProfileInt("Settings", "AssocCheck", &assocCheck);
    GetProfileInt("Settings", "DefaultFont", &defaultFont);
    GetProfileInt("Settings", "ModifyTime", &modifyTime);
    GetProfileInt("Settings", "OpenAtStartup", &openAtStartup);
    GetProfileInt("Settings", "CutPromt", &cutPrompt);
    GetProfileInt("Settings", "ExploreExtractFolder", &exploreExtractFolder);
}

void ProgramSettings::Save() const {
    std::string path = tempPath;
    if (!path.empty() && path.back() != '\\') path += '\\';
    PutProfileString("Settings", "TempPath", path.c_str());
    PutProfileInt("Settings", "ArchivesOpened", archivesOpened);
    PutProfileString("Settings", "Suffix", suffix.c_str());
    PutProfileInt("Settings", "AlwaysOnTop", alwaysOnTop);
    PutProfileInt("Settings", "AssocCheck", assocCheck);
    PutProfileInt("Settings", "DefaultFont", defaultFont);
    PutProfileInt("Settings", "ModifyTime", modifyTime);
    PutProfileInt("Settings", "OpenAtStartup", openAtStartup);
    PutProfileInt("Settings", "CutPromt", cutPrompt);
    PutProfileInt("Settings", "ExploreExtractFolder", exploreExtractFolder);
}

WindowList::~WindowList() {
    while (first_) {
        Node* next = first_->next;
        delete first_;
        first_ = next;
    }
    last_ = nullptr;
}

void WindowList::Add(TopLevelWindow* object, WindowKind kind) {
    Node* node = new Node{last_, nullptr, object, kind};
    if (last_) last_->next = node;
    else first_ = node;
    last_ = node;
}

void WindowList::Remove(TopLevelWindow* object) {
    for (Node* node = first_; node; node = node->next) {
        if (node->object != object) continue;
        (node->previous ? node->previous->next : first_) = node->next;
        (node->next ? node->next->previous : last_) = node->previous;
        delete node;
        if (!first_) PostQuitMessage(0);
        return;
    }
}

bool WindowList::Contains(const TopLevelWindow* object) const {
    for (Node* node = first_; node; node = node->next) {
        if (node->object == object) return true;
    }
    return false;
}

size_t WindowList::Count() const {
    size_t count = 0;
    for (Node* node = first_; node; node = node->next) ++count;
    return count;
}

TopLevelWindow* WindowList::FindOrCreate(WindowKind kind) {
    for (Node* node = first_; node; node = node->next) {
        if (node->kind == kind && node->object->IsUsable()) return node->object;
    }
    TopLevelWindow* object = nullptr;
    if (kind == kExplorerWindow) object = new ExplorerWindow();
    else if (kind == kSearchWindow) object = new SearchWindow();
    if (!object) return nullptr;
    if (!object->Create(nullptr)) {
        delete object;
        return nullptr;
    }
    return object;
}

bool WindowList::PreTranslate(MSG* message) {
    for (Node* node = first_; node; node = node->next) {
        if (node->object->PreTranslateMessage(message)) return true;
    }
    return false;
}

bool StartApplication(HINSTANCE instance) {
    Application& app = App();
    app.instance = instance;
    app.engine.reset(LoadLibraryA("tescore.dll"));
    if (!app.engine) return false;

    DWORD language = GetThreadLocale();
    GetProfileInt("Settings", "Language", &language);
    SetThreadLocale(language);

    app.settings.Load();
    // "You have to choose a viewer": Yes shows the viewer page of the options.
    tescommands::SetViewerOptionsHook([](HWND owner) { OptionsDialog(owner, kViewerPage); });

    INITCOMMONCONTROLSEX controls = {sizeof controls,
                                     ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_DATE_CLASSES |
                                         ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // Dragging entries out, the clipboard's data objects and shell links.
    app.oleStarted = SUCCEEDED(OleInitialize(nullptr));
    return true;
}

void EndApplication() {
    Application& app = App();
    app.settings.Save();
    app.engine.reset();
    if (app.oleStarted) OleUninitialize();
    app.oleStarted = false;
}

int RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (App().windows.PreTranslate(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

std::string LoadText(UINT id) {
    std::string text = LoadFrom(App().instance, id);
    if (text.empty()) text = LoadFrom(App().engine.get(), id);
    return text;
}

bool HasText(UINT id) { return !LoadText(id).empty(); }

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    MessageBoxHook previous = g_messageBoxHook;
    g_messageBoxHook = hook;
    return previous;
}

int ShowMessageText(HWND owner, const std::string& text, UINT style) {
    if (g_messageBoxHook) return g_messageBoxHook(owner, text.c_str(), "Tessera", style);
    return MessageBoxA(owner, text.c_str(), "Tessera", style);
}

int ShowMessage(HWND owner, UINT id, UINT style, ...) {
    std::string format = LoadText(id);
    if (format.empty()) return 0;
    va_list args;
    va_start(args, style);
    std::string text = FormatV(format, args);
    va_end(args);
    return ShowMessageText(owner, text, style);
}

std::string FormatText(UINT id, ...) {
    std::string format = LoadText(id);
    if (format.empty()) return std::string();
    va_list args;
    va_start(args, id);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

}  // namespace tessera
