// The entry and archive property sheets (see properties.h).
#include "properties.h"

#include "command_ids.h"
#include "content_view.h"
#include "dialog_support.h"
#include "viewing_ids.h"
#include "win32/dialog.h"
#include "win32/handles.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <functional>

namespace tescommands {

namespace {

constexpr DWORD kShownAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM;

const struct {
    int control;
    DWORD attribute;
} kAttributeBoxes[] = {
    {TESCMD_IDC_PROP_READONLY, FILE_ATTRIBUTE_READONLY},
    {TESCMD_IDC_PROP_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
    {TESCMD_IDC_PROP_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
    {TESCMD_IDC_PROP_SYSTEM, FILE_ATTRIBUTE_SYSTEM},
};

std::string TimeText(const FILETIME& utc, int dateStyle, int timeStyle) {
    char text[MAX_PATH] = "";
    FormatFileTime(&utc, text, dateStyle, timeStyle);
    return text;
}

std::string SizeText(DWORD low, DWORD high) {
    char text[64] = "";
    FormatFileSize(1, low, high, text);
    return text;
}

// The comment page (113) of either sheet: the text, its length, and
// whether it may be edited. The sheet's owner applies it.
class CommentPage : public tessera::win32::Dialog {
public:
    CommentPage(HINSTANCE resources, std::string text, bool writable)
        : resources_(resources), text_(std::move(text)), writable_(writable) {}

    // Set by the owner of the sheet: called on apply when the text changed;
    // false keeps the sheet open.
    std::function<bool(const std::string& text)> apply;

    bool Modified() const { return Handle() && SendMessageA(Item(TESCMD_IDC_COMMENT_TEXT), EM_GETMODIFY, 0, 0); }
    std::string Current() const { return Handle() ? Text(TESCMD_IDC_COMMENT_TEXT) : text_; }
    void ClearModified() const {
        if (Handle()) SendMessageA(Item(TESCMD_IDC_COMMENT_TEXT), EM_SETMODIFY, FALSE, 0);
    }

private:
    BOOL OnInitDialog() override {
        HWND edit = Item(TESCMD_IDC_COMMENT_TEXT);
        SendMessageA(edit, EM_LIMITTEXT, 65535, 0);
        // The archive's comments end lines with "\n" or "\r\n"; the edit
        // control wants "\r\n".
        std::string shown;
        for (char c : text_) {
            if (c == '\n' && (shown.empty() || shown.back() != '\r')) shown.push_back('\r');
            shown.push_back(c);
        }
        SetWindowTextA(edit, shown.c_str());
        SendMessageA(edit, EM_SETREADONLY, writable_ ? FALSE : TRUE, 0);
        SendMessageA(edit, EM_SETMODIFY, FALSE, 0);
        ShowCount();
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND) override {
        if (id == TESCMD_IDC_COMMENT_TEXT && code == EN_CHANGE) {
            ShowCount();
            if (Modified()) PropSheet_Changed(GetParent(Handle()), Handle());
            return TRUE;
        }
        return FALSE;
    }
    BOOL OnNotify(NMHDR* header) override {
        if (header->code != PSN_APPLY) return FALSE;
        bool ok = true;
        if (apply && writable_ && Modified()) {
            ok = apply(Text(TESCMD_IDC_COMMENT_TEXT));
            if (ok) ClearModified();
        }
        SetResult(ok ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        return TRUE;
    }
    void ShowCount() {
        char count[64];
        snprintf(count, sizeof count, LoadText(resources_, TESCMD_IDS_COMMENT_COUNT).c_str(),
                 GetWindowTextLengthA(Item(TESCMD_IDC_COMMENT_TEXT)));
        SetText(TESCMD_IDC_COMMENT_COUNT, count);
    }

    HINSTANCE resources_;
    std::string text_;
    bool writable_;
};

void SetAttributeBoxes(const tessera::win32::Dialog& page, DWORD attributes) {
    for (const auto& box : kAttributeBoxes) {
        CheckDlgButton(page.Handle(), box.control, (attributes & box.attribute) ? BST_CHECKED : BST_UNCHECKED);
    }
}

DWORD AttributeBoxes(const tessera::win32::Dialog& page, DWORD attributes) {
    for (const auto& box : kAttributeBoxes) {
        if (IsDlgButtonChecked(page.Handle(), box.control) == BST_CHECKED) attributes |= box.attribute;
        else attributes &= ~box.attribute;
    }
    return attributes;
}

bool IsAttributeBox(int id) {
    for (const auto& box : kAttributeBoxes) {
        if (box.control == id) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Entry

// The entry's data, copied: the sheet outlives list refreshes.
struct EntrySnapshot {
    std::string path;  // display path
    std::string archivePath;
    std::string version, method, host, type;
    FILETIME time = {};
    DWORD size = 0;
    DWORD attributes = 0;
    std::string comment;
};

class EntryGeneralPage : public tessera::win32::Dialog {
public:
    EntryGeneralPage(const TempContext& context, const OperationSettings& settings, DWORD index,
                     EntrySnapshot entry, CommentPage* comment, bool writable)
        : context_(context),
          settings_(settings),
          index_(index),
          entry_(std::move(entry)),
          comment_(comment),
          writable_(writable) {}

    bool changed = false;

private:
    BOOL OnInitDialog() override {
        SHFILEINFOA info = {};
        const DWORD kind = (entry_.attributes & FILE_ATTRIBUTE_DIRECTORY) ? FILE_ATTRIBUTE_DIRECTORY
                                                                          : FILE_ATTRIBUTE_NORMAL;
        if (SHGetFileInfoA(entry_.path.c_str(), kind, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_ICON)) {
            icon_.reset(info.hIcon);
            SendDlgItemMessageA(Handle(), TESCMD_IDC_PROP_ICON, STM_SETICON, reinterpret_cast<WPARAM>(info.hIcon), 0);
        }
        SetText(TESCMD_IDC_ENTRY_NAME, tesview::LastComponent(entry_.path));
        SetText(TESCMD_IDC_ENTRY_ARCHIVE, entry_.archivePath);
        SetText(TESCMD_IDC_ENTRY_VERSION, entry_.version);
        SetText(TESCMD_IDC_ENTRY_METHOD, entry_.method);
        SetText(TESCMD_IDC_ENTRY_HOST, entry_.host);
        SetText(TESCMD_IDC_ENTRY_TYPE, entry_.type);
        FILETIME utc;
        LocalFileTimeToFileTime(&entry_.time, &utc);
        SetText(TESCMD_IDC_PROP_MODIFIED, TimeText(utc, 1, 1));
        SetText(TESCMD_IDC_PROP_SIZE, SizeText(entry_.size, 0));
        SetAttributeBoxes(*this, entry_.attributes);
        for (const auto& box : kAttributeBoxes) Enable(box.control, writable_);
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND) override {
        if (IsAttributeBox(id) && code == BN_CLICKED) {
            PropSheet_Changed(GetParent(Handle()), Handle());
            return TRUE;
        }
        return FALSE;
    }
    BOOL OnNotify(NMHDR* header) override {
        if (header->code != PSN_APPLY) return FALSE;
        SetResult(Apply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        return TRUE;
    }
    // Attributes and comment go to the archive together, in one
    // UpdateEntries.
    bool Apply() {
        if (!writable_) return true;
        const DWORD attributes = AttributeBoxes(*this, entry_.attributes);
        const bool commentChanged = comment_ && comment_->Modified();
        if (attributes == entry_.attributes && !commentChanged) return true;
        const std::string comment = comment_ ? comment_->Current() : entry_.comment;
        std::vector<BYTE> record(sizeof(ENTRYPROPS) + comment.size() + 1, 0);
        auto* props = reinterpret_cast<ENTRYPROPS*>(record.data());
        props->attributes = attributes;
        memcpy(props->comment, comment.c_str(), comment.size() + 1);
        SELHDRSTRUCT selection = {index_, 0, props};
        TempFileTracker* tracker = TempFileTracker::Of(context_.archive);
        const std::string tempFolder = settings_.tempFolder.empty() && tracker ? tracker->Folder() : settings_.tempFolder;
        const HRESULT result = RunInContext(
            context_,
            [&](ICompressFormat* archive, HWND) {
                return archive->UpdateEntries(GetParent(Handle()), tempFolder.c_str(), &selection, 1);
            },
            kOfferLogOnWarnings);
        if (FAILED(result)) return false;
        entry_.attributes = attributes;
        entry_.comment = comment;
        if (comment_) comment_->ClearModified();
        changed = true;
        return true;
    }

    TempContext context_;
    const OperationSettings& settings_;
    DWORD index_;
    EntrySnapshot entry_;
    CommentPage* comment_;
    bool writable_;
    tessera::win32::IconHandle icon_;
};

PROPSHEETPAGEA PageFor(tessera::win32::Dialog& dialog, HINSTANCE resources, UINT templateId) {
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.hInstance = resources;
    page.pszTemplate = MAKEINTRESOURCEA(templateId);
    dialog.ServePropertyPage(&page);
    return page;
}

INT_PTR RunSheet(HWND owner, const std::string& title, std::vector<PROPSHEETPAGEA>& pages, UINT startPage) {
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_PROPTITLE;
    header.hwndParent = owner;
    header.pszCaption = title.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.nStartPage = startPage < pages.size() ? startPage : 0;
    header.ppsp = pages.data();
    return PropertySheetA(&header);
}

}  // namespace

std::string HostSystemName(DWORD host) {
    static const char* const kNames[] = {"MS-DOS", "Amiga", "OpenVMS", "Unix", "VM/CMS", "Atari ST", "OS/2 HPFS",
                                         "Macintosh", "Z-System", "CP/M", "Windows NTFS", "MVS", "VSE",
                                         "Acorn RISC OS", "VFAT", "alternate MVS", "BeOS", "Tandem", "OS/400",
                                         "OS X"};
    if (host < sizeof kNames / sizeof kNames[0]) return kNames[host];
    return std::string();
}

bool ShowEntryProperties(const TempContext& context, const OperationSettings& settings, DWORD entryIndex) {
    ICompressFormat* archive = context.archive;
    if (!archive || entryIndex >= archive->GetEntryCount()) return false;
    const HDRSTRUCT& source = archive->GetEntries()[entryIndex];
    EntrySnapshot entry;
    entry.path = tesview::DisplayPath(archive, source);
    entry.archivePath = archive->GetArchivePath() ? archive->GetArchivePath() : "";
    char text[GETTEXT_BUFFER] = "";
    if (SUCCEEDED(archive->GetText(TEXT_VERSION, source.version, text))) entry.version = text;
    text[0] = '\0';
    if (SUCCEEDED(archive->GetText(TEXT_METHOD, source.method, text))) entry.method = text;
    text[0] = '\0';
    if (source.comment && SUCCEEDED(archive->GetText(TEXT_COMMENT, reinterpret_cast<DWORD_PTR>(source.comment), text))) {
        entry.comment = text;
    }
    entry.host = HostSystemName(source.host);
    SHFILEINFOA info = {};
    const DWORD kind = (source.attributes & FILE_ATTRIBUTE_DIRECTORY) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (SHGetFileInfoA(entry.path.c_str(), kind, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME)) {
        entry.type = info.szTypeName;
    }
    entry.time = source.time;
    entry.size = source.size;
    entry.attributes = source.attributes;

    const bool writable = archive->HasCapability(CAP_ENTRYPROPS) != FALSE;
    const bool hasComments = archive->HasCapability(CAP_ENTRYCOMMENTS) != FALSE;
    CommentPage comment(context.resources, entry.comment, writable);
    const std::string title = tesview::LastComponent(entry.path);
    EntryGeneralPage general(context, settings, entryIndex, std::move(entry), hasComments ? &comment : nullptr,
                             writable);
    std::vector<PROPSHEETPAGEA> pages = {PageFor(general, context.resources, TESCMD_IDD_ENTRY_GENERAL)};
    if (hasComments) pages.push_back(PageFor(comment, context.resources, TESCMD_IDD_COMMENT_PAGE));
    RunSheet(context.owner, title, pages, 0);
    return general.changed;
}

// ---------------------------------------------------------------------------
// Archive

namespace {

class ArchiveGeneralPage : public tessera::win32::Dialog {
public:
    ArchiveGeneralPage(const TempContext& context, std::string path) : context_(context), path_(std::move(path)) {}

private:
    BOOL OnInitDialog() override {
        SHFILEINFOA info = {};
        if (SHGetFileInfoA(path_.c_str(), 0, &info, sizeof info, SHGFI_ICON)) {
            icon_.reset(info.hIcon);
            SendDlgItemMessageA(Handle(), TESCMD_IDC_PROP_ICON, STM_SETICON, reinterpret_cast<WPARAM>(info.hIcon), 0);
        }
        SetText(TESCMD_IDC_PROP_NAME, tesview::LastComponent(path_));
        DWORD totalSize = 0, totalPacked = 0, folders = 0, files = 0;
        context_.archive->GetTotals(&totalSize, &totalPacked, &folders, &files);
        char counts[128];
        snprintf(counts, sizeof counts, LoadText(context_.resources, TESCMD_IDS_FILE_COUNT).c_str(),
                 static_cast<int>(files));
        std::string countText = counts;
        if (folders) {
            snprintf(counts, sizeof counts, LoadText(context_.resources, TESCMD_IDS_FOLDER_COUNT).c_str(),
                     static_cast<int>(folders));
            countText += counts;
        }
        SetText(TESCMD_IDC_PROP_COUNTS, countText);
        SetText(TESCMD_IDC_PROP_SIZE, SizeText(totalSize, 0));
        const int savings =
            totalSize ? static_cast<int>(100 - (static_cast<unsigned long long>(totalPacked) * 100) / totalSize) : 0;
        char packed[128];
        snprintf(packed, sizeof packed, LoadText(context_.resources, TESCMD_IDS_PACKED_SAVINGS).c_str(),
                 SizeText(totalPacked, 0).c_str(), savings);
        SetText(TESCMD_IDC_PROP_PACKED, packed);
        SetText(TESCMD_IDC_PROP_LOCATION, tesview::FolderPart(path_));
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) {
            SetText(TESCMD_IDC_PROP_CREATED, TimeText(data.ftCreationTime, 1, 1));
            SetText(TESCMD_IDC_PROP_MODIFIED, TimeText(data.ftLastWriteTime, 1, 1));
            SetText(TESCMD_IDC_PROP_ACCESSED, TimeText(data.ftLastAccessTime, 1, 0));
            attributes_ = data.dwFileAttributes;
        }
        SetAttributeBoxes(*this, attributes_);
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND) override {
        if (IsAttributeBox(id) && code == BN_CLICKED) {
            PropSheet_Changed(GetParent(Handle()), Handle());
            return TRUE;
        }
        return FALSE;
    }
    BOOL OnNotify(NMHDR* header) override {
        if (header->code != PSN_APPLY) return FALSE;
        const DWORD wanted = AttributeBoxes(*this, attributes_);
        bool ok = true;
        if ((wanted & kShownAttributes) != (attributes_ & kShownAttributes)) {
            ok = SetFileAttributesA(path_.c_str(), wanted & ~FILE_ATTRIBUTE_DIRECTORY) != FALSE;
            if (ok) attributes_ = wanted;
            else ShowMessage(GetParent(Handle()), SystemErrorText(GetLastError()), MB_OK | MB_ICONERROR);
        }
        SetResult(ok ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        return TRUE;
    }

    TempContext context_;
    std::string path_;
    DWORD attributes_ = 0;
    tessera::win32::IconHandle icon_;
};

}  // namespace

bool ShowArchiveProperties(const TempContext& context, const OperationSettings& settings, bool commentPage) {
    ICompressFormat* archive = context.archive;
    if (!archive) return false;
    const std::string path = archive->GetArchivePath() ? archive->GetArchivePath() : "";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::string format = LoadText(context.resources, TESCMD_IDS_ARCHIVE_CANNOT_BE_OPENED);
        ShowMessage(context.owner, FormatText(format, SystemErrorText(GetLastError()).c_str()), MB_OK | MB_ICONERROR);
        return false;
    }
    const bool hasComment = archive->HasCapability(CAP_GETCOMMENT) != FALSE;
    std::string commentText;
    if (hasComment) {
        std::vector<char> buffer(65536 + 1, '\0');
        if (SUCCEEDED(archive->GetComment(context.owner, buffer.data(), static_cast<DWORD>(buffer.size() - 1)))) {
            commentText = buffer.data();
        }
    }
    bool changed = false;
    CommentPage comment(context.resources, commentText, archive->HasCapability(CAP_SETCOMMENT) != FALSE);
    comment.apply = [&](const std::string& text) {
        TempFileTracker* tracker = TempFileTracker::Of(archive);
        const std::string tempFolder =
            settings.tempFolder.empty() && tracker ? tracker->Folder() : settings.tempFolder;
        const HRESULT result = RunInContext(
            context,
            [&](ICompressFormat* object, HWND owner) { return object->SetComment(owner, tempFolder.c_str(), text.c_str()); },
            kOfferLogOnWarnings);
        if (FAILED(result)) return false;
        changed = true;
        return true;
    };
    ArchiveGeneralPage general(context, path);
    std::vector<PROPSHEETPAGEA> pages = {PageFor(general, context.resources, TESCMD_IDD_ARCHIVE_GENERAL)};
    if (hasComment) pages.push_back(PageFor(comment, context.resources, TESCMD_IDD_COMMENT_PAGE));
    RunSheet(context.owner, tesview::LastComponent(path), pages, commentPage && hasComment ? 1 : 0);
    return changed;
}

}  // namespace tescommands
