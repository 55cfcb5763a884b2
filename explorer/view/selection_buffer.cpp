// SelectionBuffer builders. A folder selection is counted in one pass and
// filled in a second, so the array is allocated once.
#include "selection_buffer.h"

#include "win32/com_ptr.h"

#include <commctrl.h>

#include <new>

namespace tesview {
namespace {

DWORD ItemData(HWND list, int item) {
    LVITEMA lvi = {};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi))) return SEL_UNUSED;
    return static_cast<DWORD>(lvi.lParam);
}

}  // namespace

void SelectionBuffer::Add(DWORD index) {
    SELHDRSTRUCT record = {};
    record.index = index;
    record.found = 0;
    record.detail = nullptr;
    records_.push_back(record);
}

bool SelectionBuffer::FromFocused(HWND list) {
    records_.clear();
    failed_ = true;
    int item = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (item < 0) return false;
    DWORD index = ItemData(list, item);
    if (index == SEL_UNUSED) return false;
    Add(index);
    failed_ = false;
    return true;
}

bool SelectionBuffer::FromSelected(HWND list) {
    records_.clear();
    failed_ = true;
    try {
        records_.reserve(static_cast<size_t>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0)));
        int item = -1;
        while ((item = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(item),
                                                     LVNI_SELECTED))) >= 0) {
            DWORD index = ItemData(list, item);
            if (index == SEL_UNUSED) return false;
            Add(index);
        }
    } catch (const std::bad_alloc&) {
        records_.clear();
        return false;
    }
    failed_ = false;
    return true;
}

bool SelectionBuffer::FromEntry(DWORD index) {
    records_.clear();
    failed_ = true;
    Add(index);
    failed_ = false;
    return true;
}

// Walks folder: its own entry, its files, then its child folders. With
// countOnly the entries are only counted into *count.
bool SelectionBuffer::AddFolder(IArchiveFolder* folder, bool countOnly, DWORD* count) {
    DWORD own = folder->GetEntryIndex();
    if (own != FOLDER_NO_ENTRY) {
        if (countOnly) ++*count; else Add(own);
    }
    tessera::win32::ComPtr<IEnumArchiveFiles> files;
    if (FAILED(folder->EnumFiles(0, files.put())) || !files) return false;
    DWORD index;
    ULONG fetched = 0;
    while (files->Next(1, &index, &fetched) == S_OK && fetched == 1) {
        if (countOnly) ++*count; else Add(index);
    }
    tessera::win32::ComPtr<IEnumArchiveFolders> folders;
    if (FAILED(folder->EnumFolders(0, folders.put())) || !folders) return false;
    bool ok = true;
    tessera::win32::ComPtr<IArchiveFolder> child;
    while (ok && folders->Next(1, child.put(), &fetched) == S_OK && fetched == 1) {
        ok = AddFolder(child.get(), countOnly, count);
    }
    return ok;
}

bool SelectionBuffer::FromFolder(IArchiveFolder* folder) {
    records_.clear();
    failed_ = true;
    if (!folder) return false;
    DWORD count = 0;
    if (!AddFolder(folder, true, &count)) return false;
    try {
        records_.reserve(count);
        if (!AddFolder(folder, false, &count)) {
            records_.clear();
            return false;
        }
    } catch (const std::bad_alloc&) {
        records_.clear();
        return false;
    }
    failed_ = false;
    return true;
}

}  // namespace tesview
