// Password (115): the password typed twice, shown masked or not ("MaskPassword"
// under "Settings"); on OK the archive object's password.
#include "password_dialog.h"

#include "command_ids.h"

namespace tescommands {

namespace {
const char kSettings[] = "Settings";
}

PasswordDialog::PasswordDialog(HINSTANCE resources, ICompressFormat* archive)
    : resources_(resources), archive_(archive) {}

INT_PTR PasswordDialog::Run(HWND owner) { return RunModal(resources_, TESCMD_IDD_PASSWORD, owner); }

BOOL PasswordDialog::OnInitDialog() {
    CenterDialog(Handle());
    const char* current = archive_->GetPassword();
    for (int id : {TESCMD_IDC_PASSWORD, TESCMD_IDC_PASSWORD_CONFIRM}) {
        SendMessageA(Item(id), EM_LIMITTEXT, ARC_PASSWORD_MAX, 0);
        SetText(id, current ? current : "");
    }
    DWORD mask = 1;
    GetProfileInt(kSettings, "MaskPassword", &mask);
    Check(TESCMD_IDC_PASSWORD_MASK, mask != 0);
    ApplyMask();
    Enable(IDHELP, false);
    Enable(IDOK, current && *current);
    return TRUE;
}

void PasswordDialog::ApplyMask() {
    const WPARAM character = Checked(TESCMD_IDC_PASSWORD_MASK) ? '*' : 0;
    for (int id : {TESCMD_IDC_PASSWORD, TESCMD_IDC_PASSWORD_CONFIRM}) {
        SendMessageA(Item(id), EM_SETPASSWORDCHAR, character, 0);
        InvalidateRect(Item(id), nullptr, TRUE);
    }
}

void PasswordDialog::OnDestroy() { PutProfileInt(kSettings, "MaskPassword", Checked(TESCMD_IDC_PASSWORD_MASK)); }

BOOL PasswordDialog::OnCommand(int id, int code, HWND control) {
    switch (id) {
    case TESCMD_IDC_PASSWORD:
    case TESCMD_IDC_PASSWORD_CONFIRM:
        if (code == EN_CHANGE)
            Enable(IDOK, GetWindowTextLengthA(Item(TESCMD_IDC_PASSWORD)) > 0 &&
                             GetWindowTextLengthA(Item(TESCMD_IDC_PASSWORD_CONFIRM)) > 0);
        return TRUE;
    case TESCMD_IDC_PASSWORD_MASK:
        ApplyMask();
        return TRUE;
    case IDOK: {
        const std::string password = Text(TESCMD_IDC_PASSWORD);
        if (password.empty()) return TRUE;
        if (password != Text(TESCMD_IDC_PASSWORD_CONFIRM)) {
            ShowMessage(Handle(), LoadText(resources_, TESCMD_IDS_PASSWORD_MISMATCH), MB_OK | MB_ICONERROR);
            return TRUE;
        }
        archive_->SetPassword(password.c_str());
        End(IDOK);
        return TRUE;
    }
    }
    return Dialog::OnCommand(id, code, control);
}

}  // namespace tescommands
