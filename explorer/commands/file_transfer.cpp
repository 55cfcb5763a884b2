// The file-drop block, the clipboard commands and the drag's data object
// (see file_transfer.h).
#include "file_transfer.h"

#include "command_ids.h"
#include "dialog_support.h"
#include "viewing_ids.h"
#include "win32/com_object.h"
#include "win32/com_ptr.h"
#include "win32/dialog.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <shlobj.h>

#include <cstring>

namespace tescommands {

namespace {

const char kSettings[] = "Settings";

}  // namespace

HGLOBAL MakeFileDropBlock(const std::vector<std::string>& paths) {
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& path : paths) size += path.size() + 1;
    tessera::win32::GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, size));
    {
        tessera::win32::LockedGlobal<BYTE> data(block.get());
        if (!data) return nullptr;
        auto* header = reinterpret_cast<DROPFILES*>(data.get());
        header->pFiles = sizeof(DROPFILES);
        header->fWide = FALSE;
        char* names = reinterpret_cast<char*>(data.get() + sizeof(DROPFILES));
        for (const std::string& path : paths) {
            memcpy(names, path.c_str(), path.size() + 1);
            names += path.size() + 1;
        }
    }
    return block.release();
}

std::string FolderDisplayPath(IArchiveFolder* folder) {
    std::string path;
    while (folder) {
        IArchiveFolder* parent = nullptr;
        if (folder->GetParent(&parent) != S_OK || !parent) break;  // the root has no name in paths
        const char* name = folder->GetName();
        path = std::string(name ? name : "") + (path.empty() ? "" : "\\") + path;
        folder = parent;
    }
    return path;
}

bool ExtractForTransfer(const TempContext& context, const std::vector<DWORD>& indices, const std::string& folderPath,
                        std::vector<std::string>* paths) {
    paths->clear();
    {
        tessera::win32::WaitCursor wait;
        if (FAILED(ExtractToTemporaryFolder(context, indices))) return false;
    }
    TempFileTracker* tracker = TempFileTracker::Of(context.archive);
    if (!tracker) return false;
    if (folderPath == "\\") {
        paths->push_back(tracker->Folder());
        return true;
    }
    if (!folderPath.empty()) {
        paths->push_back(tracker->Folder() + "\\" + folderPath);
        return true;
    }
    for (DWORD index : indices) {
        std::string path = tracker->EntryPath(context.archive, index);
        while (!path.empty() && path.back() == '\\') path.pop_back();
        paths->push_back(path);
    }
    return !paths->empty();
}

namespace {

bool PlaceOnClipboard(const TempContext& context, const std::vector<std::string>& paths) {
    tessera::win32::GlobalMemory block(MakeFileDropBlock(paths));
    if (!block) {
        ShowMessage(context.owner, LoadText(context.resources, TESCMD_IDS_OUT_OF_MEMORY), MB_OK | MB_ICONERROR);
        return false;
    }
    if (!OpenClipboard(context.owner)) {
        const std::string format = LoadText(context.resources, TESCMD_IDS_CLIPBOARD_FAILED);
        ShowMessage(context.owner, FormatText(format, SystemErrorText(GetLastError()).c_str()), MB_OK | MB_ICONERROR);
        return false;  // the block is freed
    }
    EmptyClipboard();
    const bool placed = SetClipboardData(CF_HDROP, block.get()) != nullptr;
    if (placed) block.release();  // the clipboard owns it now
    CloseClipboard();
    return placed;
}

// Question 107: Yes deletes; "&Never ask" switches the question off.
class CutQuestion : public tessera::win32::Dialog {
    BOOL OnInitDialog() override {
        CenterDialog(Handle());
        SendDlgItemMessageA(Handle(), TESCMD_IDC_CUT_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIcon(nullptr, IDI_QUESTION)), 0);
        return TRUE;
    }
    BOOL OnCommand(int id, int, HWND) override {
        if (id == TESCMD_IDC_CUT_NEVER_ASK) {
            Enable(IDNO, !Checked(TESCMD_IDC_CUT_NEVER_ASK));
            return TRUE;
        }
        if (id != IDYES && id != IDNO && id != IDCANCEL) return FALSE;
        PutProfileInt(kSettings, "CutPromt", Checked(TESCMD_IDC_CUT_NEVER_ASK) ? 0 : 1);
        End(id);
        return TRUE;
    }
};

}  // namespace

bool CopyEntriesToClipboard(const TempContext& context, const std::vector<DWORD>& indices,
                            const std::string& folderPath) {
    std::vector<std::string> paths;
    if (indices.empty() || !ExtractForTransfer(context, indices, folderPath, &paths)) return false;
    return PlaceOnClipboard(context, paths);
}

bool CutEntries(const TempContext& context, const OperationSettings& settings, const std::vector<DWORD>& indices,
                const std::string& folderPath) {
    if (!CopyEntriesToClipboard(context, indices, folderPath)) return false;
    DWORD ask = 1;
    GetProfileInt(kSettings, "CutPromt", &ask);
    if (ask) {
        CutQuestion question;
        if (question.RunModal(context.resources, TESCMD_IDD_CUT_QUESTION, context.owner) != IDYES) return false;
    }
    const std::vector<DWORD> entries = EntriesWithContents(context.archive, indices);
    std::vector<SELHDRSTRUCT> selection(entries.size());
    for (size_t at = 0; at < entries.size(); ++at) selection[at] = {entries[at], 0, nullptr};
    const HRESULT result = RunInContext(
        context,
        [&](ICompressFormat* archive, HWND owner) {
            return archive->Delete(owner, FALSE, settings.modifyTime, settings.tempFolder.c_str(), selection.data(),
                                   static_cast<DWORD>(selection.size()));
        },
        kOfferLogOnWarnings | kRefreshOnSuccess);
    return SUCCEEDED(result);
}

bool ClipboardFiles(HWND owner, HINSTANCE resources, std::vector<std::string>* files) {
    files->clear();
    if (!IsClipboardFormatAvailable(CF_HDROP)) return false;
    if (!OpenClipboard(owner)) {
        const std::string format = LoadText(resources, TESCMD_IDS_CLIPBOARD_FAILED);
        ShowMessage(owner, FormatText(format, SystemErrorText(GetLastError()).c_str()), MB_OK | MB_ICONERROR);
        return false;
    }
    if (HANDLE data = GetClipboardData(CF_HDROP)) {
        tessera::win32::LockedGlobal<DROPFILES> block(data);
        if (block) *files = DroppedPaths(block.get());
    }
    CloseClipboard();
    return !files->empty();
}

// ---------------------------------------------------------------------------
// Drag

namespace {

class DelayedFileDrop final : public tessera::win32::ComObject<IDataObject> {
public:
    explicit DelayedFileDrop(FileProducer producer) : producer_(std::move(producer)) {}

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_INVALIDARG;
        const HRESULT usable = QueryGetData(format);
        if (usable != S_OK) return usable;
        if (!produced_) {
            // Still dragging: the files come only after the drop.
            if (GetCapture()) return E_UNEXPECTED;
            produced_ = true;
            ok_ = producer_ && producer_(&paths_);
        }
        if (!ok_) return E_FAIL;
        HGLOBAL block = MakeFileDropBlock(paths_);
        if (!block) return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (!format) return E_INVALIDARG;
        if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
        if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
        if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (direction != DATADIR_GET) return E_NOTIMPL;
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &format, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ~DelayedFileDrop() = default;

    FileProducer producer_;
    bool produced_ = false;
    bool ok_ = false;
    std::vector<std::string> paths_;
};

class DropSource final : public tessera::win32::ComObject<IDropSource> {
public:
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
        if (escape) return DRAGDROP_S_CANCEL;
        if (!(keys & (MK_LBUTTON | MK_RBUTTON))) return DRAGDROP_S_DROP;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    ~DropSource() = default;
};

}  // namespace

HRESULT CreateDelayedFileDrop(FileProducer producer, IDataObject** object) {
    if (!object) return E_POINTER;
    *object = new (std::nothrow) DelayedFileDrop(std::move(producer));
    return *object ? S_OK : E_OUTOFMEMORY;
}

DWORD DragEntriesOut(const TempContext& context, const std::vector<DWORD>& indices, const std::string& folderPath,
                     HWND acceptingWindow) {
    if (indices.empty() || !TempFileTracker::Of(context.archive)) return DROPEFFECT_NONE;
    tessera::win32::ComPtr<IDataObject> data;
    const TempContext copy = context;
    const std::vector<DWORD> entries = indices;
    if (FAILED(CreateDelayedFileDrop(
            [copy, entries, folderPath](std::vector<std::string>* paths) {
                return ExtractForTransfer(copy, entries, folderPath, paths);
            },
            data.put()))) {
        return DROPEFFECT_NONE;
    }
    tessera::win32::ComPtr<IDropSource> source(new (std::nothrow) DropSource);
    if (!source) return DROPEFFECT_NONE;
    // Our own files must not come back into the archive while it runs.
    if (acceptingWindow) DragAcceptFiles(acceptingWindow, FALSE);
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT result = DoDragDrop(data.get(), source.get(), DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
    if (acceptingWindow && IsWindow(acceptingWindow)) DragAcceptFiles(acceptingWindow, TRUE);
    return result == DRAGDROP_S_DROP ? effect : DROPEFFECT_NONE;
}

}  // namespace tescommands
