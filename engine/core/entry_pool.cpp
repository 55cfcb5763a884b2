// The entry list's memory and the selection of entries an operation works on.
//
// The entry array and every name and comment come from a chain of equally
// sized blocks on the process heap, so a listing costs a handful of
// allocations and is freed in one sweep. Blocks never move once handed out
// (TrimPool shrinks in place only), because the entries point into them.
#include "core/compress_format.h"

#include <cstring>
#include <new>

struct CCompressFormat::PoolBlock {
    PoolBlock* next;
    DWORD capacity;
    DWORD used;
    // data follows, 8-byte aligned
    BYTE* Data() { return reinterpret_cast<BYTE*>(this) + kHeader; }
    static const DWORD kHeader = 16;
};


HRESULT CCompressFormat::AllocEntries(DWORD bytesPerEntry, DWORD count) {
    static_assert(sizeof(PoolBlock) <= PoolBlock::kHeader, "block header too large");
    m_totals = {};
    m_totals.totalPacked = 0;
    unsigned long long bytes = (static_cast<unsigned long long>(bytesPerEntry) + sizeof(HDRSTRUCT)) * count;
    // Names and comments of one entry must fit a block as well.
    if (bytes < 4096) bytes = 4096;
    PoolBlock* block = nullptr;
    if (bytes + PoolBlock::kHeader <= 0x7FFFFFFF) {
        block = static_cast<PoolBlock*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(bytes) + PoolBlock::kHeader));
    }
    if (!block) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    FreeEntries();
    block->next = nullptr;
    block->capacity = static_cast<DWORD>(bytes);
    block->used = 0;
    m_poolFirst = m_poolLast = block;
    m_poolBlockSize = block->capacity;
    m_entries = static_cast<HDRSTRUCT*>(PoolAlloc(static_cast<DWORD>(sizeof(HDRSTRUCT) * count)));
    if (count) memset(m_entries, 0, sizeof(HDRSTRUCT) * count);
    m_entryCapacity = count;
    return S_OK;
}

void* CCompressFormat::PoolAlloc(DWORD bytes) {
    if (!m_poolLast) return nullptr;
    DWORD rounded = (bytes + 7) & ~7u;
    if (rounded < bytes || rounded > m_poolBlockSize) return nullptr;
    if (m_poolLast->capacity - m_poolLast->used < rounded) {
        auto* block = static_cast<PoolBlock*>(HeapAlloc(GetProcessHeap(), 0, m_poolBlockSize + PoolBlock::kHeader));
        if (!block) return nullptr;
        block->next = nullptr;
        block->capacity = m_poolBlockSize;
        block->used = 0;
        m_poolLast->next = block;
        m_poolLast = block;
    }
    BYTE* p = m_poolLast->Data() + m_poolLast->used;
    m_poolLast->used += rounded;
    return p;
}

LPSTR CCompressFormat::PoolString(LPCSTR text, DWORD length) {
    if (length == 0xFFFFFFFF) return nullptr;
    auto* p = static_cast<char*>(PoolAlloc(length + 1));
    if (!p) return nullptr;
    memcpy(p, text, length);
    p[length] = '\0';
    return p;
}

void CCompressFormat::TrimPool() {
    if (!m_poolLast || m_poolLast->used == m_poolLast->capacity) return;
    // In place only: entries already point into the block.
    if (HeapReAlloc(GetProcessHeap(), HEAP_REALLOC_IN_PLACE_ONLY, m_poolLast, m_poolLast->used + PoolBlock::kHeader)) {
        m_poolLast->capacity = m_poolLast->used;
    }
}

void CCompressFormat::FreeEntries() {
    for (PoolBlock* block = m_poolFirst; block;) {
        PoolBlock* next = block->next;
        HeapFree(GetProcessHeap(), 0, block);
        block = next;
    }
    m_poolFirst = m_poolLast = nullptr;
    m_poolBlockSize = 0;
    m_entries = nullptr;
    m_entryCapacity = 0;
    m_totals.entries = 0;
}

void CCompressFormat::SetSelection(SELHDRSTRUCT* selection, DWORD count) {
    m_currentDetail = nullptr;
    if (!selection || count == 0) {
        m_allSelected = TRUE;
        m_selection = nullptr;
        m_selectionCount = 0;
        m_bytesSelected = m_bytesUpToLast = m_totals.totalSize;
        return;
    }
    m_allSelected = FALSE;
    m_selection = selection;
    m_selectionCount = count;
    m_bytesSelected = 0;
    m_bytesUpToLast = 0;
    DWORD highest = 0;
    bool any = false;
    for (DWORD i = 0; i < count; ++i) {
        DWORD index = selection[i].index;
        if (index == SEL_UNUSED || !m_entries || index >= m_totals.entries) continue;
        m_bytesSelected += m_entries[index].size;
        if (!any || index > highest) highest = index;
        any = true;
    }
    if (any) {
        for (DWORD i = 0; i <= highest; ++i) m_bytesUpToLast += m_entries[i].size;
    }
}

bool CCompressFormat::IsSelected(LPCSTR storedName) {
    if (m_allSelected) {
        m_currentDetail = nullptr;
        return true;
    }
    if (!storedName) return false;
    for (DWORD i = 0; i < m_selectionCount; ++i) {
        SELHDRSTRUCT& record = m_selection[i];
        if (record.index == SEL_UNUSED || !m_entries || record.index >= m_totals.entries) continue;
        LPCSTR name = m_entries[record.index].name;
        if (name && lstrcmpiA(name, storedName) == 0) {
            record.found = 1;
            m_currentDetail = record.detail;
            return true;
        }
    }
    return false;
}

DWORD CCompressFormat::ReportMissing() {
    DWORD missing = 0;
    if (m_allSelected) return 0;
    for (DWORD i = 0; i < m_selectionCount; ++i) {
        const SELHDRSTRUCT& record = m_selection[i];
        if (record.index == SEL_UNUSED || record.found) continue;
        LPCSTR name = (m_entries && record.index < m_totals.entries) ? m_entries[record.index].name : nullptr;
        Warn(IDS_NOT_FOUND_IN_ARCHIVE, name ? name : "?");
        ++missing;
    }
    m_outcome.missing += missing;
    return missing;
}
