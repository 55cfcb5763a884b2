// The archive comment page: see comment_page.h.
#include "comment_page.h"

#include "module.h"
#include "resource.h"
#include "shell_commands.h"
#include "win32/dialog.h"

#include <commctrl.h>

#include <new>
#include <utility>
#include <vector>

namespace tesshell {
namespace {

constexpr DWORD kCommentLimit = 65536;

class CommentPage final : public tessera::win32::Dialog {
public:
    CommentPage(IUnknown* extension, tessera::win32::ComPtr<ICompressFormat> archive)
        : extension_(tessera::win32::ComPtr<IUnknown>::Share(extension)),
          archive_(std::move(archive)),
          writable_(archive_->HasCapability(CAP_SETCOMMENT) != FALSE) {}

    static UINT CALLBACK PageCallback(HWND, UINT message, PROPSHEETPAGEA* page) {
        // The page's window is gone (or was never made): the object goes.
        if (message == PSPCB_RELEASE && page) delete reinterpret_cast<CommentPage*>(page->lParam);
        return 1;
    }

protected:
    BOOL OnInitDialog() override {
        try {
            std::vector<char> comment(kCommentLimit, '\0');
            if (FAILED(archive_->GetComment(GetParent(Handle()), comment.data(), kCommentLimit))) comment[0] = '\0';
            comment.back() = '\0';
            loading_ = true;
            SetText(IDC_COMMENT_EDIT, comment.data());
            loading_ = false;
        } catch (...) {
            loading_ = false;
        }
        HWND edit = Item(IDC_COMMENT_EDIT);
        SendMessageA(edit, EM_SETMODIFY, FALSE, 0);
        SendMessageA(edit, EM_SETREADONLY, writable_ ? FALSE : TRUE, 0);
        SendMessageA(edit, EM_LIMITTEXT, kCommentLimit, 0);
        ShowCount();
        return TRUE;
    }

    BOOL OnCommand(int id, int code, HWND) override {
        if (id != IDC_COMMENT_EDIT || code != EN_CHANGE) return FALSE;
        ShowCount();
        if (!loading_) PropSheet_Changed(GetParent(Handle()), Handle());
        return TRUE;
    }

    BOOL OnNotify(NMHDR* header) override {
        if (header->code != PSN_APPLY) return FALSE;
        SetResult(Apply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        return TRUE;
    }

private:
    void ShowCount() {
        try {
            const int length = GetWindowTextLengthA(Item(IDC_COMMENT_EDIT));
            SetText(IDC_COMMENT_COUNT, FormatText(LoadText(IDS_CHARACTER_COUNT).c_str(), length));
        } catch (...) {
        }
    }

    // False keeps the sheet open: the comment could not be written.
    bool Apply() {
        HWND edit = Item(IDC_COMMENT_EDIT);
        if (!writable_ || !SendMessageA(edit, EM_GETMODIFY, 0, 0)) return true;
        try {
            const std::string text = Text(IDC_COMMENT_EDIT);
            if (FAILED(archive_->SetComment(GetParent(Handle()), TempFolderSetting().c_str(), text.c_str())))
                return false;
        } catch (...) {
            return false;
        }
        SendMessageA(edit, EM_SETMODIFY, FALSE, 0);
        return true;
    }

    ModuleReference live_;
    tessera::win32::ComPtr<IUnknown> extension_;
    tessera::win32::ComPtr<ICompressFormat> archive_;
    const bool writable_;
    bool loading_ = false;
};

}  // namespace

HPROPSHEETPAGE CreateCommentPage(IUnknown* extension, tessera::win32::ComPtr<ICompressFormat> archive) {
    if (!archive) return nullptr;
    CommentPage* object = new (std::nothrow) CommentPage(extension, std::move(archive));
    if (!object) return nullptr;
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USECALLBACK;
    page.hInstance = ModuleInstance();
    page.pszTemplate = "Extended";
    page.pfnCallback = CommentPage::PageCallback;
    object->ServePropertyPage(&page);
    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
    if (!handle) delete object;
    return handle;
}

}  // namespace tesshell
