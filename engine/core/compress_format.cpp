// The archive object's interface: reference counting, the plain accessors and
// the operation front ends. Every front end follows the same order: validate,
// post the opening text, record the parameters, install the selection,
// prepare, call the hook, map the result.
#include "core/compress_format.h"

#include "core/file_io.h"
#include "core/registry.h"
#include "core/status_window.h"

#if __has_include("core/folder_tree.h")
#include "core/folder_tree.h"
#define TESCORE_HAVE_FOLDER_TREE 1
#endif

#include <cstddef>
#include <cstring>

CCompressFormat::CCompressFormat() {
    m_formatText[0] = m_messageText[0] = m_errorText[0] = '\0';
}

CCompressFormat::~CCompressFormat() {
    // A format that left a progress run open must not leave the owner
    // window disabled.
    if (m_statusDialog) Progress(kProgressEnd, 0);
    FreeEntries();
    CloseArchiveFile();
    if (m_outputFile != INVALID_HANDLE_VALUE) CloseHandle(m_outputFile);
}

// --- IUnknown ---

HRESULT STDMETHODCALLTYPE CCompressFormat::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ICompressFormat)) {
        *out = static_cast<ICompressFormat*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(iid, IID_IArchiveOutcome)) {
        *out = static_cast<IArchiveOutcome*>(&m_outcomeView);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CCompressFormat::OutcomeView::GetOutcome(ARCOUTCOME* outcome) {
    if (!outcome || outcome->cbSize < offsetof(ARCOUTCOME, processed)) return E_INVALIDARG;
    const DWORD size = outcome->cbSize < sizeof(ARCOUTCOME) ? outcome->cbSize : sizeof(ARCOUTCOME);
    memcpy(outcome, &owner_.m_outcome, size);
    outcome->cbSize = size;
    return S_OK;
}

ULONG STDMETHODCALLTYPE CCompressFormat::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

ULONG STDMETHODCALLTYPE CCompressFormat::Release() {
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

// --- plain accessors ---

void STDMETHODCALLTYPE CCompressFormat::Cancel() {
    m_cancel = true;
    Log(IDS_INTERRUPTED);
}

STATUSPROC STDMETHODCALLTYPE CCompressFormat::SetStatusCallback(STATUSPROC proc) {
    STATUSPROC previous = m_statusProc;
    m_statusProc = proc;
    return previous;
}

MESSAGEPROC STDMETHODCALLTYPE CCompressFormat::SetMessageCallback(MESSAGEPROC proc, LPARAM user) {
    MESSAGEPROC previous = m_messageProc;
    m_messageProc = proc;
    m_messageUser = user;
    return previous;
}

LPSTR STDMETHODCALLTYPE CCompressFormat::GetPassword() { return m_password; }

void STDMETHODCALLTYPE CCompressFormat::SetPassword(LPCSTR password) {
    lstrcpynA(m_password, password ? password : "", sizeof m_password);
}

HRESULT STDMETHODCALLTYPE CCompressFormat::GetText(int, DWORD_PTR, LPSTR buffer) {
    if (buffer) buffer[0] = '\0';
    return E_NOTIMPL;
}

BOOL STDMETHODCALLTYPE CCompressFormat::HasCapability(DWORD mask) {
    const FORMATINFO* row = FormatRow(m_formatId);
    return row && (row->capabilities & mask) == mask;
}

DWORD STDMETHODCALLTYPE CCompressFormat::GetEntryCount() { return m_totals.entries; }

HDRSTRUCT* STDMETHODCALLTYPE CCompressFormat::GetEntries() { return m_entries; }

LPCSTR STDMETHODCALLTYPE CCompressFormat::GetArchivePath() { return m_archivePath; }

void STDMETHODCALLTYPE CCompressFormat::SetArchivePath(LPCSTR path) {
    lstrcpynA(m_archivePath, path ? path : "", sizeof m_archivePath);
}

HRESULT STDMETHODCALLTYPE CCompressFormat::SplitDialog(HWND, DWORD*, BOOL*) { return E_NOTIMPL; }

BOOL STDMETHODCALLTYPE CCompressFormat::GetSfxModuleId(BOOL alternative, DWORD* resourceId) {
    DWORD id = m_sfxModuleId[alternative ? 1 : 0];
    if (resourceId) *resourceId = id;
    return id != 0;
}

void STDMETHODCALLTYPE CCompressFormat::GetTotals(DWORD* totalSize, DWORD* totalPacked, DWORD* folderCount,
                                                  DWORD* fileCount) {
    if (totalSize) *totalSize = m_totals.totalSize;
    if (totalPacked) *totalPacked = m_totals.totalPacked;
    if (folderCount) *folderCount = m_totals.folders;
    if (fileCount) *fileCount = m_totals.entries - m_totals.folders;
}

DWORD_PTR STDMETHODCALLTYPE CCompressFormat::GetOption() { return m_option; }

void STDMETHODCALLTYPE CCompressFormat::SetOption(DWORD_PTR value) { m_option = value; }

LPCSTR STDMETHODCALLTYPE CCompressFormat::GetPlainExtension() {
    if (m_formatId == 0) return nullptr;
    const FORMATINFO* row = FormatRow(m_formatId - 1);
    return row ? row->extension : nullptr;
}

HRESULT STDMETHODCALLTYPE CCompressFormat::GetFolderTree(IUnknown** tree) {
    if (!tree) return E_INVALIDARG;
    *tree = nullptr;
#ifdef TESCORE_HAVE_FOLDER_TREE
    // Names go through this object's GetText kind 3.
    return CreateArchiveFolderTree(this, tree);
#else
    return E_NOTIMPL;
#endif
}

LONG CCompressFormat::ComputeRatio(DWORD size, DWORD packed) {
    if (size == 0 && packed == 0) return 0;
    // MulDiv rounds and answers -1 for a zero divisor, which is the value
    // wanted for "size 0, packed not".
    return MulDiv(100, static_cast<int>(size - packed), static_cast<int>(size));
}

// --- hooks: the base offers none ---

HRESULT CCompressFormat::DoList() { return E_NOTIMPL; }
HRESULT CCompressFormat::DoCheck(BOOL*) { return E_NOTIMPL; }
HRESULT CCompressFormat::DoExtract() { return E_NOTIMPL; }
HRESULT CCompressFormat::DoTest() { return E_NOTIMPL; }
HRESULT CCompressFormat::DoGetComment(LPSTR, DWORD) { return E_NOTIMPL; }
HRESULT CCompressFormat::DoDelete() { return E_NOTIMPL; }
HRESULT CCompressFormat::DoRemoveEXE(LPCSTR) { return E_NOTIMPL; }
HRESULT CCompressFormat::DoAdd() { return E_NOTIMPL; }
HRESULT CCompressFormat::DoMakeEXE(LPCSTR, const void*, DWORD) { return E_NOTIMPL; }
HRESULT CCompressFormat::DoSetComment(LPCSTR) { return E_NOTIMPL; }
HRESULT CCompressFormat::DoUpdateEntries() { return E_NOTIMPL; }
HRESULT CCompressFormat::SetLevel(UINT) { return E_NOTIMPL; }

// --- front ends ---

// Records the owner and the operation code and resets the warning flag, the
// cancel request and the outcome counts. List clears the request too: a
// request left from an earlier, finished operation must not stop the next
// listing.
void CCompressFormat::BeginOperation(HWND owner, DWORD op) {
    m_owner = owner;
    m_warning = FALSE;
    m_cancel = false;
    m_op = op;
    m_outcome = ARCOUTCOME();
    m_outcome.cbSize = sizeof m_outcome;
    m_outcome.operation = op;
    ArmStandingFileFaults();
}

HRESULT CCompressFormat::MapResult(HRESULT hr) const {
    if (FAILED(hr)) return m_cancel ? E_ABORT : hr;
    return m_warning ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CCompressFormat::List(HWND owner) {
    BeginOperation(owner, OP_LIST);
    Log(IDS_READING_ARCHIVE);
    ShowStatus(IDS_READING_ARCHIVE);
    SetSelection(nullptr, 0);
    FreeEntries();
    m_totals.folders = m_totals.entries = m_totals.totalSize = 0;
    return MapResult(DoList());
}

HRESULT STDMETHODCALLTYPE CCompressFormat::Check(HWND owner, BOOL* result) {
    BOOL ignored = FALSE;
    BeginOperation(owner, OP_CHECK);
    return MapResult(DoCheck(result ? result : &ignored));
}

HRESULT STDMETHODCALLTYPE CCompressFormat::Extract(HWND owner, int overwriteMode, BOOL usePaths, BOOL onlyNewer,
                                                   LPCSTR destination, SELHDRSTRUCT* selection, DWORD count) {
    BeginOperation(owner, onlyNewer ? OP_UPDATE : OP_EXTRACT);
    Log(IDS_EXTRACTING_ALL);
    m_overwriteMode = overwriteMode;
    m_usePaths = usePaths;
    SetSelection(selection, count);
    if (!PrepareDestination(destination ? destination : "")) return E_INVALIDARG;
    HRESULT hr = DoExtract();
    ShowStatus(STATUS_CLEAR);
    return MapResult(hr);
}

HRESULT STDMETHODCALLTYPE CCompressFormat::Test(HWND owner) {
    BeginOperation(owner, OP_TEST);
    Log(IDS_TESTING_ALL);
    SetSelection(nullptr, 0);
    return MapResult(DoTest());
}

HRESULT STDMETHODCALLTYPE CCompressFormat::GetComment(HWND owner, LPSTR buffer, DWORD size) {
    if (!buffer) return E_INVALIDARG;
    BeginOperation(owner, OP_GETCOMMENT);
    return MapResult(DoGetComment(buffer, size));
}

HRESULT STDMETHODCALLTYPE CCompressFormat::Delete(HWND owner, BOOL backup, BOOL archiveTimeFromNewest,
                                                  LPCSTR tempFolder, SELHDRSTRUCT* selection, DWORD count) {
    if (!tempFolder || !selection || count == 0) return E_INVALIDARG;
    BeginOperation(owner, OP_DELETE);
    Log(IDS_DELETING_ALL);
    m_tempFolder = tempFolder;
    m_backup = backup;
    m_archiveTimeFromNewest = archiveTimeFromNewest;
    SetSelection(selection, count);
    return MapResult(DoDelete());
}

HRESULT STDMETHODCALLTYPE CCompressFormat::RemoveEXE(HWND owner, LPCSTR tempFolder, LPCSTR newArchivePath) {
    if (!tempFolder || !newArchivePath) return E_INVALIDARG;
    BeginOperation(owner, OP_REMOVEEXE);
    Log(IDS_CREATING_ARCHIVE, FileNamePart(newArchivePath));
    m_tempFolder = tempFolder;
    m_backup = m_archiveTimeFromNewest = FALSE;
    return MapResult(DoRemoveEXE(newArchivePath));
}

HRESULT STDMETHODCALLTYPE CCompressFormat::Add(HWND owner, BOOL deleteSources, BOOL shortNames, BOOL backup,
                                               UINT levelIndex, BOOL update, BOOL freshen, BOOL storePaths,
                                               BOOL relativePaths, BOOL split, UINT volumeSize,
                                               BOOL archiveTimeFromNewest, LPCSTR storeOnlyList,
                                               LPCSTR tempFolder, const ADDFILEINFO* files) {
    if (!storeOnlyList || !tempFolder || !files) return E_INVALIDARG;
    BeginOperation(owner, update ? OP_UPDATE : freshen ? OP_FRESHEN : OP_ADD);
    Log(update ? IDS_UPDATING_FILES_ADDING : freshen ? IDS_UPDATING_EXISTING_FILES : IDS_ADDING);
    m_deleteSources = deleteSources;
    m_shortNames = shortNames;
    m_backup = backup;
    m_level = levelIndex;
    m_usePaths = storePaths || relativePaths;
    m_relativePaths = relativePaths;
    m_split = split;
    m_volumeSize = volumeSize;
    m_archiveTimeFromNewest = archiveTimeFromNewest;
    m_storeOnlyList = storeOnlyList;
    m_tempFolder = tempFolder;
    SetLevel(levelIndex);
    m_files = files;
    m_commonDepth = relativePaths ? CommonPathDepth(files) : 0;
    return MapResult(DoAdd());
}

HRESULT STDMETHODCALLTYPE CCompressFormat::MakeEXE(HWND owner, LPCSTR tempFolder, LPCSTR newProgramPath,
                                                   const void* module, DWORD moduleSize) {
    if (!tempFolder || !newProgramPath || !module) return E_INVALIDARG;
    BeginOperation(owner, OP_MAKEEXE);
    Log(IDS_CREATING_EXE, FileNamePart(newProgramPath));
    m_tempFolder = tempFolder;
    m_backup = m_archiveTimeFromNewest = FALSE;
    return MapResult(DoMakeEXE(newProgramPath, module, moduleSize));
}

HRESULT STDMETHODCALLTYPE CCompressFormat::SetComment(HWND owner, LPCSTR tempFolder, LPCSTR comment) {
    if (!tempFolder || !comment) return E_INVALIDARG;
    BeginOperation(owner, OP_SETCOMMENT);
    Log(IDS_WRITING_ARCHIVE_COMMENT);
    m_tempFolder = tempFolder;
    m_backup = m_archiveTimeFromNewest = FALSE;
    return MapResult(DoSetComment(comment));
}

HRESULT STDMETHODCALLTYPE CCompressFormat::UpdateEntries(HWND owner, LPCSTR tempFolder, SELHDRSTRUCT* selection,
                                                         DWORD count) {
    if (!tempFolder || !selection || count == 0) return E_INVALIDARG;
    BeginOperation(owner, OP_UPDATEENTRIES);
    Log(IDS_WRITING_ENTRIES);
    m_tempFolder = tempFolder;
    m_backup = m_archiveTimeFromNewest = FALSE;
    // Installed as it is: not "all entries", no byte totals.
    m_allSelected = FALSE;
    m_selection = selection;
    m_selectionCount = count;
    return MapResult(DoUpdateEntries());
}

LPCSTR FileNamePart(LPCSTR path) {
    LPCSTR name = path;
    for (LPCSTR p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    return name;
}
