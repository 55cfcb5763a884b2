#include "command_line.h"

#include "application.h"
#include "explorer_window.h"
#include "resource_ids.h"
#include "search_window.h"
#include "window_commands.h"
#include "tescore.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace tessera {

std::vector<std::string> TokenizeCommandLine(const char* commandLine) {
    std::vector<std::string> tokens;
    const char* at = commandLine ? commandLine : "";
    for (;;) {
        while (*at == ' ' || *at == '\t') ++at;
        if (!*at) break;
        std::string token;
        if (*at == '"') {
            const char* end = strchr(at + 1, '"');
            if (!end) end = at + strlen(at);
            token.assign(at + 1, end);
            at = *end ? end + 1 : end;
        } else {
            const char* end = at;
            while (*end && *end != ' ' && *end != '\t') ++end;
            token.assign(at, end);
            at = end;
        }
        tokens.push_back(token);
    }
    return tokens;
}

HGLOBAL BuildFileDropBlock(const std::vector<std::string>& names) {
    if (names.empty()) return nullptr;
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& name : names) size += name.size() + 1;
    win32::GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!block) return nullptr;
    win32::LockedGlobal<DROPFILES> locked(block.get());
    if (!locked) return nullptr;
    DROPFILES* header = locked.get();
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* names_at = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& name : names) {
        memcpy(names_at, name.c_str(), name.size() + 1);
        names_at += name.size() + 1;
    }
    *names_at = '\0';
    return block.release();
}

std::vector<std::string> ReadFileDropBlock(HDROP drop) {
    std::vector<std::string> names;
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        UINT length = DragQueryFileA(drop, index, nullptr, 0);
        std::string name(length + 1, '\0');
        DragQueryFileA(drop, index, &name[0], length + 1);
        name.resize(length);
        names.push_back(name);
    }
    return names;
}

namespace {

// An explorer window created without parent and shown; null when creation
// fails (the object is discarded).
ExplorerWindow* NewExplorerWindow() {
    auto window = std::make_unique<ExplorerWindow>();
    if (!window->Create(nullptr)) return nullptr;
    window->Show();
    return window.release();  // owned through the window list from now on
}

bool ProcessAdd(const std::string& switchToken, const std::vector<std::string>& tokens, size_t next) {
    std::string archive;
    if (switchToken.size() > 2 && switchToken[2] == ':') archive = switchToken.substr(3);
    bool withoutWindow = false;
    std::vector<std::string> files;
    for (size_t index = next; index < tokens.size(); ++index) {
        const std::string& token = tokens[index];
        if (!archive.empty() && token.size() >= 1 && token[0] == '-') {
            if (token.size() == 2 && tolower(static_cast<unsigned char>(token[1])) == 'h') {
                withoutWindow = true;
                continue;
            }
            ShowMessage(nullptr, IDS_INVALID_OPTION, MB_ICONSTOP, token.size() > 1 ? token[1] : ' ', 'A');
            return false;
        }
        files.push_back(token);
    }
    if (withoutWindow) {
        tescommands::AddWithoutWindow(App().instance, archive.c_str(), files, CommandSettings());
        return false;
    }
    win32::GlobalMemory drop(BuildFileDropBlock(files));

    ExplorerWindow* window = NewExplorerWindow();
    if (!window) return false;
    if (!archive.empty()) window->OpenArchive(archive, true);
    window->StartAddCommand(static_cast<HDROP>(drop.get()));
    return true;
}

}  // namespace

bool ProcessCommandLine(const char* commandLine) {
    std::vector<std::string> tokens = TokenizeCommandLine(commandLine);
    if (tokens.size() <= 1) return NewExplorerWindow() != nullptr;

    const std::string& first = tokens[1];
    if (first[0] != '/') {
        bool opened = false;
        for (size_t index = 1; index < tokens.size(); ++index) {
            ExplorerWindow* window = NewExplorerWindow();
            if (!window) continue;
            opened = true;
            window->OpenArchive(tokens[index], true);
        }
        return opened;
    }

    char letter = first.size() > 1 ? static_cast<char>(toupper(static_cast<unsigned char>(first[1]))) : ' ';
    switch (letter) {
    case 'A':
        return ProcessAdd(first, tokens, 2);
    case 'E': {
        ExplorerWindow* window = NewExplorerWindow();
        if (!window) return false;
        if (tokens.size() < 3 || !window->OpenArchive(tokens[2], true)) {
            ShowMessage(window->Window(), IDS_NO_ARCHIVE, MB_ICONSTOP);
            DestroyWindow(window->Window());
            return false;
        }
        PostMessageA(window->Window(), WM_EXTRACT_ALL, 0, 0);
        return true;
    }
    case 'F': {
        // "/F [folder]": Browse Archives, searching the computer or the folder.
        SearchWindow* window = NewSearchWindow();
        if (window && tokens.size() > 2) {
            std::string folder = tokens[2];
            while (folder.size() > 2 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
            window->SetStartFolder(folder);
        }
        return window != nullptr;
    }
    case 'S': {
        // "/S archive [options]": a self-extracting program, with the
        // dialog or, given options, without a window; then the program
        // ends. Text after "/S:" is accepted and not used.
        if (tokens.size() < 3) {
            ShowMessage(nullptr, IDS_NO_ARCHIVE, MB_ICONSTOP);
            return false;
        }
        std::vector<std::string> options(tokens.begin() + 3, tokens.end());
        tescommands::CreateExeFromCommandLine(App().instance, tokens[2], options);
        return false;
    }
    default:
        ShowMessage(nullptr, IDS_INVALID_COMMAND, MB_ICONSTOP, first.size() > 1 ? first[1] : ' ');
        return false;
    }
}

}  // namespace tessera
