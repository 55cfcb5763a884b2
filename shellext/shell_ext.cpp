// CShellExt: see shell_ext.h.
//
// Initialize turns the shell's item list ("Shell IDList Array": a parent
// folder and one relative item identifier list per selected item) into full
// paths at once; the list's offsets and lengths are checked against its
// block before anything is read through them. QueryContextMenu asks the
// menu plan for the items and remembers, by command offset, what each one
// does.
#include "shell_ext.h"

#include "archive_recognition.h"
#include "comment_page.h"
#include "menu_plan.h"
#include "module.h"
#include "resource.h"
#include "shell_commands.h"
#include "tescore.h"
#include "win32/com_object.h"
#include "win32/com_ptr.h"
#include "win32/handles.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace tesshell {
namespace {

using tessera::win32::ComPtr;

struct CommandText {
    UINT id;
    UINT helpId;  // 0: none
    const char* verb;
};
constexpr CommandText kCommandTexts[] = {
    {kExtractTo, IDS_HELP_EXTRACT_TO, "tessera.extractto"},
    {kExtractToFolder, IDS_HELP_EXTRACT_TO_FOLDER, "tessera.extracttofolder"},
    {kAddTo, IDS_HELP_ADD_TO, "tessera.addto"},
    {kCompress, IDS_HELP_COMPRESS, "tessera.compress"},
    {kCreateHere, 0, "tessera.createhere"},
    {kExtractHere, 0, "tessera.extracthere"},
    {kDragExtractTo, 0, "tessera.extracttofolder"},
    {kOpenWith, IDS_HELP_OPEN_WITH, "tessera.open"},
    {kCreateExe, IDS_HELP_CREATE_EXE, "tessera.createexe"},
    {kConvertTo, IDS_HELP_CONVERT, "tessera.convert"},
};

const CommandText* TextsOf(UINT id) {
    for (const CommandText& texts : kCommandTexts)
        if (texts.id == id) return &texts;
    return nullptr;
}

// A label's %s argument: ampersands in names are shown, not taken for
// the menu's underline marks.
std::string MenuEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '&') escaped += '&';
    }
    return escaped;
}

// Whether an item identifier list starting at `offset` ends within the
// block of `size` bytes (its terminating zero length included).
bool IdListFits(const BYTE* block, SIZE_T size, SIZE_T offset) {
    while (offset <= size && size - offset >= sizeof(USHORT)) {
        USHORT length;
        std::memcpy(&length, block + offset, sizeof length);
        if (length == 0) return true;
        if (length < sizeof(USHORT) || length > size - offset) return false;
        offset += length;
    }
    return false;
}

// The file-system path of an item in the ANSI code page the engine takes
// names in; "" when it has none or its name does not fit that code page
// (a best-fit or '?' replacement would name another file, or none).
std::string PathOfIdList(PCIDLIST_ABSOLUTE list) {
    wchar_t wide[MAX_PATH];
    if (!list || !SHGetPathFromIDListW(list, wide)) return std::string();
    char path[MAX_PATH];
    BOOL replaced = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, MAX_PATH, nullptr, &replaced) == 0 ||
        replaced)
        return std::string();
    return path;
}

// The full paths of the items of a "Shell IDList Array" block. A selection
// with an item that has no usable path gives no items at all: a command on
// part of what the user chose would surprise.
std::vector<SelectedItem> ItemsOfIdArray(HGLOBAL block) {
    std::vector<SelectedItem> items;
    tessera::win32::LockedGlobal<BYTE> data(block);
    const SIZE_T size = GlobalSize(block);
    if (!data || size < sizeof(UINT) * 2) return items;
    UINT count;
    std::memcpy(&count, data.get(), sizeof count);
    if (count == 0 || count > (size - sizeof(UINT)) / sizeof(UINT) - 1) return items;
    std::vector<UINT> offsets(count + 1);
    std::memcpy(offsets.data(), data.get() + sizeof(UINT), offsets.size() * sizeof(UINT));
    for (UINT offset : offsets)
        if (!IdListFits(data.get(), size, offset)) return items;
    auto parent = reinterpret_cast<PCIDLIST_ABSOLUTE>(data.get() + offsets[0]);
    for (UINT index = 1; index <= count; ++index) {
        auto child = reinterpret_cast<PCUIDLIST_RELATIVE>(data.get() + offsets[index]);
        tessera::win32::TaskMemory<ITEMIDLIST> full(ILCombine(parent, child));
        std::string path = PathOfIdList(full.get());
        if (path.empty()) return {};
        const DWORD attributes = GetFileAttributesA(path.c_str());
        items.push_back({path, attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)});
    }
    return items;
}

class CShellExt final
    : public tessera::win32::ComObject<IContextMenu, IShellExtInit, IShellPropSheetExt> {
public:
    CShellExt() : options_(MenuOptionsSetting()) {}

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE dropFolder, IDataObject* data, HKEY) override {
        return Guarded([&] { return DoInitialize(dropFolder, data); });
    }

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT lastId, UINT flags) override {
        return Guarded([&] { return DoQueryContextMenu(menu, position, firstId, lastId, flags); });
    }
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* invocation) override {
        return Guarded([&] { return DoInvokeCommand(invocation); });
    }
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT kind, UINT*, LPSTR name, UINT size) override {
        return Guarded([&] { return DoGetCommandString(offset, kind, name, size); });
    }

    // IShellPropSheetExt
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM parameter) override {
        return Guarded([&] { return DoAddPages(addPage, parameter); });
    }
    STDMETHODIMP ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_FAIL; }

private:
    ~CShellExt() { DropData(); }

    void DropData() {
        if (holdsMedium_) ReleaseStgMedium(&medium_);
        holdsMedium_ = false;
        data_.reset();
        items_.clear();
        dropFolder_.clear();
        dragDrop_ = false;
    }

    HRESULT DoInitialize(PCIDLIST_ABSOLUTE dropFolder, IDataObject* data) {
        DropData();
        if (!data) return E_FAIL;
        FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Shell IDList Array")), nullptr,
                            DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        if (FAILED(data->GetData(&format, &medium)) || medium.tymed != TYMED_HGLOBAL) {
            if (medium.tymed != TYMED_NULL) ReleaseStgMedium(&medium);
            OutputDebugStringA("Required FormatEtc not supported.");
            return E_FAIL;
        }
        medium_ = medium;
        holdsMedium_ = true;
        data_ = ComPtr<IDataObject>::Share(data);
        items_ = ItemsOfIdArray(medium_.hGlobal);
        if (dropFolder) {
            dragDrop_ = true;
            dropFolder_ = PathOfIdList(dropFolder);
        }
        return S_OK;
    }

    HRESULT DoQueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT lastId, UINT flags) {
        commands_.clear();
        if ((flags & CMF_DEFAULTONLY) || !menu) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        std::vector<std::string> paths;
        for (const SelectedItem& item : items_) paths.push_back(item.path);
        Recognition one;
        if (items_.size() == 1 && !items_[0].folder) one = RecognizeArchive(items_[0].path);
        std::vector<MenuItem> plan;
        if (dragDrop_) {
            if (dropFolder_.empty()) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
            std::string displayName;
            SHFILEINFOA info = {};
            if (!paths.empty() && SHGetFileInfoA(paths[0].c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME))
                displayName = info.szDisplayName;
            plan = PlanDragMenu(paths, dropFolder_, displayName, one, options_);
        } else {
            plan = PlanContextMenu(paths, one, options_);
        }
        for (const MenuItem& item : plan) {
            if (item.id == kSeparator) {
                InsertMenuA(menu, position++, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
                continue;
            }
            const UINT id = firstId + static_cast<UINT>(commands_.size());
            if (id > lastId) break;
            std::string label = LoadText(item.id);
            if (!item.argument.empty()) label = FormatText(label.c_str(), MenuEscaped(item.argument).c_str());
            if (!InsertMenuA(menu, position++, MF_BYPOSITION | MF_STRING, id, label.c_str())) break;
            commands_.push_back(item);
        }
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(commands_.size()));
    }

    // The command of a verb given as text: one of this menu's own verbs.
    const MenuItem* CommandOfVerb(const std::string& verb) const {
        for (const MenuItem& item : commands_) {
            const CommandText* texts = TextsOf(item.id);
            if (texts && lstrcmpiA(texts->verb, verb.c_str()) == 0) return &item;
        }
        return nullptr;
    }

    HRESULT DoInvokeCommand(CMINVOKECOMMANDINFO* invocation) {
        if (!invocation || invocation->cbSize < sizeof(CMINVOKECOMMANDINFO)) return E_INVALIDARG;
        const MenuItem* command = nullptr;
        if (HIWORD(reinterpret_cast<ULONG_PTR>(invocation->lpVerb)) != 0) {
            std::string verb;
            const auto* extended = reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(invocation);
            if ((invocation->fMask & CMIC_MASK_UNICODE) && invocation->cbSize >= sizeof(CMINVOKECOMMANDINFOEX) &&
                HIWORD(reinterpret_cast<ULONG_PTR>(extended->lpVerbW)) != 0) {
                for (const wchar_t* p = extended->lpVerbW; *p; ++p) verb += *p < 128 ? static_cast<char>(*p) : '?';
            } else {
                verb = invocation->lpVerb;
            }
            command = CommandOfVerb(verb);
        } else {
            const size_t offset = LOWORD(reinterpret_cast<ULONG_PTR>(invocation->lpVerb));
            if (offset < commands_.size()) command = &commands_[offset];
        }
        if (!command || items_.empty()) return E_INVALIDARG;

        const HWND owner = invocation->hwnd;
        const bool shift = (invocation->fMask & CMIC_MASK_SHIFT_DOWN) || GetKeyState(VK_SHIFT) < 0;
        const std::string& archive = items_[0].path;
        switch (command->id) {
        case kExtractTo: ShellExecuteExplorer(owner, "/e " + Quoted(archive)); break;
        case kExtractToFolder:
        case kExtractHere:
        case kDragExtractTo: StartExtractAll(owner, archive, command->path, !shift); break;
        case kAddTo:
        case kCreateHere:
            if (shift) CreateExplorerProcess(owner, Quoted("/a:" + command->path) + " -h" + QuotedItems());
            else StartAddToZip(owner, command->path, items_);
            break;
        case kCompress: CreateExplorerProcess(owner, "/a" + QuotedItems()); break;
        case kOpenWith: ShellExecuteExplorer(owner, Quoted(archive)); break;
        case kCreateExe: ShellExecuteExplorer(owner, Quoted("/s:" + command->path) + " " + Quoted(archive)); break;
        case kConvertTo: StartConvert(owner, archive, command->path); break;
        default: return E_INVALIDARG;
        }
        return S_OK;
    }

    std::string QuotedItems() const {
        std::string text;
        for (const SelectedItem& item : items_) text += " " + Quoted(item.path);
        return text;
    }

    HRESULT DoGetCommandString(UINT_PTR offset, UINT kind, LPSTR name, UINT size) {
        if (offset >= commands_.size()) return E_INVALIDARG;
        const MenuItem& item = commands_[offset];
        const CommandText* texts = TextsOf(item.id);
        if (!texts) return E_INVALIDARG;
        std::string text;
        switch (kind) {
        case GCS_VALIDATEA:
        case GCS_VALIDATEW: return S_OK;
        case GCS_VERBA:
        case GCS_VERBW: text = texts->verb; break;
        case GCS_HELPTEXTA:
        case GCS_HELPTEXTW:
            if (texts->helpId == 0) return E_INVALIDARG;
            text = FormatText(LoadText(texts->helpId).c_str(), item.path.c_str());
            break;
        default: return E_NOTIMPL;
        }
        if (!name || text.size() + 1 > size) return E_INVALIDARG;
        if (kind & GCS_UNICODE) {
            const int written = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, reinterpret_cast<LPWSTR>(name),
                                                    static_cast<int>(size));
            return written > 0 ? S_OK : E_INVALIDARG;
        }
        std::memcpy(name, text.c_str(), text.size() + 1);
        return S_OK;
    }

    HRESULT DoAddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM parameter) {
        if (!addPage || items_.size() != 1 || items_[0].folder) return S_OK;
        ComPtr<ICompressFormat> archive;
        if (FAILED(ArcCreateObject(nullptr, items_[0].path.c_str(), archive.put())) || !archive ||
            !archive->HasCapability(CAP_GETCOMMENT))
            return S_OK;
        HPROPSHEETPAGE page = CreateCommentPage(static_cast<IShellExtInit*>(this), std::move(archive));
        if (page && !addPage(page, parameter)) DestroyPropertySheetPage(page);
        return S_OK;
    }

    ModuleReference live_;
    const DWORD options_;
    ComPtr<IDataObject> data_;
    STGMEDIUM medium_ = {};
    bool holdsMedium_ = false;
    bool dragDrop_ = false;
    std::string dropFolder_;
    std::vector<SelectedItem> items_;
    std::vector<MenuItem> commands_;  // by command offset
};

}  // namespace

HRESULT CreateShellExt(REFIID iid, void** out) {
    CShellExt* object = new (std::nothrow) CShellExt;
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace tesshell
