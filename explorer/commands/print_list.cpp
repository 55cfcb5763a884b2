// The printed list (see print_list.h).
#include "print_list.h"

#include "command_ids.h"
#include "dialog_support.h"
#include "viewing_ids.h"
#include "tescore.h"
#include "win32/dialog.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <shellapi.h>

#include <algorithm>

namespace tescommands {

std::string PrintListText(const std::vector<std::string>& titles, const std::vector<int>& widths,
                          const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> columns(titles.size());
    for (size_t at = 0; at < titles.size(); ++at) {
        const size_t least = titles[at].size() + 3;
        const size_t shown = at < widths.size() && widths[at] > 0 ? static_cast<size_t>(widths[at]) : 0;
        columns[at] = std::max(least, shown);
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t at = 0; at < columns.size(); ++at) {
            std::string cell = at < cells.size() ? cells[at] : std::string();
            if (cell.size() > columns[at]) cell = cell.substr(0, columns[at] - 3) + "...";
            cell.resize(columns[at], ' ');
            text += cell;
        }
        return text + "\r\n";
    };
    std::string text = line(titles);
    size_t total = 0;
    for (size_t width : columns) total += width;
    text += std::string(total, '-') + "\r\n";
    for (const auto& row : rows) text += line(row);
    return text;
}

namespace {

// Dialog 164: modeless, "&Abort" sets the flag.
class PrintingDialog : public tessera::win32::Dialog {
public:
    bool aborted = false;

private:
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        if (id != TESCMD_IDC_PRINT_ABORT) return FALSE;
        aborted = true;
        return TRUE;
    }
};

}  // namespace

bool PrintText(HWND owner, HINSTANCE resources, const std::string& folder, const std::string& name,
               const std::string& text) {
    std::string path;
    {
        tessera::win32::WaitCursor wait;
        CreateDirectoryA(folder.c_str(), nullptr);
        path = folder + "\\" + name + ".txt";
        tessera::win32::FileHandle file(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size()) {
            const DWORD error = GetLastError();
            file.reset();
            DeleteFileA(path.c_str());
            const std::string format = LoadText(resources, TESCMD_IDS_TEMP_FILE_CANNOT_BE_CREATED);
            ShowMessage(owner, FormatText(format, SystemErrorText(error).c_str()), MB_OK | MB_ICONERROR);
            return false;
        }
    }
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    execute.hwnd = owner;
    execute.lpVerb = "print";
    execute.lpFile = path.c_str();
    execute.nShow = SW_SHOWMINNOACTIVE;
    if (!ShellExecuteExA(&execute)) {
        const DWORD error = GetLastError();
        const std::string format = LoadText(resources, TESCMD_IDS_CANNOT_EXECUTE);
        ShowMessage(owner, FormatText(format, path.c_str(), SystemErrorText(error).c_str()), MB_OK | MB_ICONERROR);
        DeleteFileA(path.c_str());
        return false;
    }
    tessera::win32::KernelHandle process(execute.hProcess);
    if (!process) return true;  // handed to a running program: the file goes with the temporary folder
    PrintingDialog waiting;
    EnableWindow(owner, FALSE);
    waiting.CreateModeless(resources, TESCMD_IDD_PRINTING, owner);
    HANDLE printing = process.get();
    while (!waiting.aborted) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &printing, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                waiting.aborted = true;
                break;
            }
            if (waiting.Handle() && IsDialogMessageA(waiting.Handle(), &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    EnableWindow(owner, TRUE);
    if (waiting.Handle()) DestroyWindow(waiting.Handle());
    if (!waiting.aborted) DeleteFileA(path.c_str());
    return true;
}

}  // namespace tescommands
