// The prompt seam: every message box and prompt of the engine is asked here.
// A member of the installed ARCPROMPTHANDLER answers when present; otherwise
// the engine's own dialog (or MessageBoxA) does.
#pragma once

#include "tescore.h"

// The calling thread's handler, else the process-wide one (null: none installed).
const ARCPROMPTHANDLER* ProcessPromptHandler();

int PromptMessageBox(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR text, UINT style);
int PromptOverwriteDialog(const ARCPROMPTHANDLER* handler, HWND owner, ARCOVERWRITEPROMPT* prompt);
int PromptPasswordDialog(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR fileName, BOOL retry,
                         LPSTR password);
int PromptRenameDialog(const ARCPROMPTHANDLER* handler, HWND owner, LPCSTR path, LPSTR newPath);
bool PromptShiftDown(const ARCPROMPTHANDLER* handler);
bool PromptStatusDialogAllowed(const ARCPROMPTHANDLER* handler);

// The product name: the title of every message box.
extern const char kProductTitle[];
