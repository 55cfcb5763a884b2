// Setup's three wizards (Wizard97 property sheets): installation,
// maintenance and uninstallation, and the texts and message boxes they share.
#pragma once

#include "setup/engine/installer.h"

#include <windows.h>

#include <string>

namespace tessera::setup {

struct SetupContext {
    HINSTANCE program = nullptr;    // Setup.exe
    HINSTANCE resources = nullptr;  // "TessInstLocal.dll" when present, else the program
    std::wstring programPath;       // the running Setup.exe
    std::wstring sourceFolder;      // its folder
    bool elevated = false;          // may install for the machine
    UninstallInformation uninstallInformation;  // beside the program
};

enum class WizardKind { Installation, Maintenance, Uninstall };

void RunWizard(WizardKind kind, const SetupContext& context);

// A text of the string table; a message box titled "Tessera".
std::string LoadText(HINSTANCE resources, UINT id);
int ShowMessage(HWND owner, const std::string& text, UINT flags);
std::string ToAnsi(const std::wstring& text);

}  // namespace tessera::setup
