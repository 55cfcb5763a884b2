// The test format class and the scripted prompt answers (fake_format.h).
#include "fake_format.h"

#include <cstring>

int FakeFormat::destroyed = 0;

FakeFormat::FakeFormat() = default;
FakeFormat::~FakeFormat() { ++destroyed; }

FILETIME LocalTime(int year, int month, int day, int hour) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

HRESULT FakeFormat::Hook() {
    ++hookCalls;
    opSeen = m_op;
    if (hookWarns) Warn(IDS_ARCHIVE_EMPTY);
    if (hookCancels) Cancel();
    return hookResult;
}

HRESULT FakeFormat::DoList() {
    DWORD longest = 0;
    for (const FakeEntry& e : listing) longest = e.name.size() > longest ? static_cast<DWORD>(e.name.size()) : longest;
    HRESULT hr = AllocEntries(longest + 8, static_cast<DWORD>(listing.size()));
    if (FAILED(hr)) return hr;
    for (const FakeEntry& e : listing) {
        HDRSTRUCT& h = m_entries[m_totals.entries++];
        h.name = PoolString(e.name.c_str(), static_cast<DWORD>(e.name.size()));
        h.size = e.size;
        h.packedSize = e.size;
        h.attributes = e.attributes;
        h.time = e.time.dwLowDateTime || e.time.dwHighDateTime ? e.time : LocalTime(2020, 1, 1);
        if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) ++m_totals.folders;
        m_totals.totalSize += e.size;
        m_totals.totalPacked += e.size;
    }
    TrimPool();
    return Hook();
}

HRESULT FakeFormat::DoExtract() {
    if (extractEntries) {
        for (DWORD i = 0; i < m_totals.entries && i < walkLimit && !m_cancel; ++i) {
            const HDRSTRUCT& h = m_entries[i];
            if (!IsSelected(h.name)) continue;
            if (!BeginEntryOutput(h.name, h.time, h.attributes, h.size, static_cast<LPCSTR>(m_currentDetail))) continue;
            if (CreateTargetFile() != S_OK) continue;
            WriteOutput(content.data(), static_cast<DWORD>(content.size()));
            FinishTargetFile();
        }
        ReportMissing();
    }
    return Hook();
}

HRESULT FakeFormat::DoCheck(BOOL*) { return Hook(); }
HRESULT FakeFormat::DoTest() { return Hook(); }
HRESULT FakeFormat::DoDelete() { return Hook(); }
HRESULT FakeFormat::DoAdd() { return Hook(); }
HRESULT FakeFormat::DoRemoveEXE(LPCSTR) { return Hook(); }
HRESULT FakeFormat::DoMakeEXE(LPCSTR, const void*, DWORD) { return Hook(); }
HRESULT FakeFormat::DoSetComment(LPCSTR) { return Hook(); }
HRESULT FakeFormat::DoUpdateEntries() { return Hook(); }
HRESULT FakeFormat::DoGetComment(LPSTR, DWORD) { return Hook(); }
HRESULT FakeFormat::SetLevel(UINT level) {
    levelSeen = level;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    buffer[0] = '\0';
    if (kind != TEXT_PATH) return E_INVALIDARG;
    auto name = reinterpret_cast<LPCSTR>(value);
    if (!name || !*name) return E_INVALIDARG;
    lstrcpynA(buffer, name, GETTEXT_BUFFER);
    for (char* p = buffer; *p; ++p) {
        if (*p == '/') *p = '\\';
    }
    size_t length = strlen(buffer);
    if (length && buffer[length - 1] == '\\') buffer[length - 1] = '\0';
    return S_OK;
}

namespace {

void CALLBACK CollectLine(ICompressFormat*, LPARAM user, LPCSTR text) {
    reinterpret_cast<LogLines*>(user)->lines.push_back(text);
}

int CALLBACK ScriptedBox(void* context, HWND, LPCSTR text, LPCSTR, UINT) {
    auto* self = static_cast<ScriptedPrompts*>(context);
    ++self->boxes;
    self->boxTexts.push_back(text);
    return self->boxAnswer;
}

int CALLBACK ScriptedOverwrite(void* context, HWND, ARCOVERWRITEPROMPT* prompt) {
    auto* self = static_cast<ScriptedPrompts*>(context);
    int answer = OVERWRITE_RESULT_NO;
    if (static_cast<size_t>(self->overwrites) < self->overwriteAnswers.size()) answer = self->overwriteAnswers[self->overwrites];
    ++self->overwrites;
    if (answer == OVERWRITE_RESULT_RENAME) lstrcpynA(prompt->path, self->renameTo.c_str(), MAX_PATH);
    return answer;
}

BOOL CALLBACK ScriptedShift(void* context) { return static_cast<ScriptedPrompts*>(context)->shift; }

}  // namespace

ScriptedPrompts::ScriptedPrompts() {
    handler.context = this;
    handler.ShowMessage = ScriptedBox;
    handler.Overwrite = ScriptedOverwrite;
    handler.IsShiftDown = ScriptedShift;
}

void LogLines::Attach(ICompressFormat* object) {
    object->SetMessageCallback(CollectLine, reinterpret_cast<LPARAM>(this));
}

bool LogLines::Contains(const std::string& text) const {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string LogLines::All() const {
    std::string all;
    for (const std::string& line : lines) all += line;
    return all;
}
