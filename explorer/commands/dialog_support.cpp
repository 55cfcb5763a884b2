#include "dialog_support.h"

#include <commdlg.h>

#include <cstdio>
#include <vector>

namespace tescommands {

std::string LoadText(HINSTANCE resources, UINT id) {
    char text[1024];
    int length = LoadStringA(resources, id, text, sizeof text);
    if (length <= 0 && id >= 4096) {
        HMODULE engine = GetModuleHandleA("tescore.dll");
        if (engine) length = LoadStringA(engine, id, text, sizeof text);
    }
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

std::string::size_type SplitBars(const std::string& text, std::string* parts, std::string::size_type max) {
    std::string::size_type count = 0, start = 0;
    while (count < max && start < text.size()) {
        std::string::size_type bar = text.find('|', start);
        if (bar == std::string::npos) bar = text.size();
        parts[count++] = text.substr(start, bar - start);
        start = bar + 1;
    }
    return count;
}

std::string FilterFromBars(std::string text) {
    for (char& c : text) {
        if (c == '|') c = '\0';
    }
    text.push_back('\0');
    return text;
}

bool ChooseFileToSave(HWND owner, const std::string& filterBars, const char* extension, char (&path)[MAX_PATH]) {
    const std::string filter = FilterFromBars(filterBars);
    path[0] = '\0';
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = extension;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    return GetSaveFileNameA(&dialog) != FALSE;
}

std::string FormatText(const std::string& format, const char* first, const char* second) {
    std::vector<char> buffer(format.size() + 2 * MAX_PATH + 1024);
    snprintf(buffer.data(), buffer.size(), format.c_str(), first ? first : "", second ? second : "");
    return buffer.data();
}

std::string SystemErrorText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length && text ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

int ShowMessage(HWND owner, const std::string& text, UINT style) {
    return MessageBoxA(owner, text.c_str(), "Tessera", style);
}

}  // namespace tescommands
