// CCompressFormat: the base class of every format class. It implements the
// whole ICompressFormat interface once (the template method): each public
// operation validates its arguments, posts its status text, records its
// parameters in the object, installs the selection and calls the format's
// hook (DoList ... SetLevel), then maps the hook's result:
//   failure + cancel request     -> E_ABORT
//   success + warning logged     -> S_FALSE
//
// How a format class uses it:
//   - override the hooks it offers and GetText; every other hook answers
//     E_NOTIMPL;
//   - read the operation's parameters from the protected state below
//     (m_op, m_destination, m_overwriteMode, m_files, ...);
//   - DoList: AllocEntries, then fill m_entries[0 .. m_totals.entries) with
//     names from PoolAlloc, keep m_totals up to date, end with TrimPool;
//   - DoExtract/DoTest: per entry IsSelected, BeginEntryOutput,
//     CreateTargetFile, write through WriteOutput/EngineWriteFile,
//     FinishTargetFile; Progress(kBegin/kAdvance/kEnd) around the walk;
//     note each reached entry's outcome where it is decided (NoteProcessed,
//     NoteFailed, NoteSkipped, NoteFolder; NoteDamage for damage outside
//     the entries) -- BeginEntryOutput notes the entries it turns down;
//     ReportMissing and ReportTestSummary at the end;
//   - rewriting formats write a temporary file and call ReplaceArchive;
//   - report with Log/Warn/ReportError/Ask/LogSkip (string ids of
//     core/messages.h); questions and prompts go through the prompt handler
//     (ARCPROMPTHANDLER in tescore.h), never straight to a window.
#pragma once

#include "tescore.h"
#include "core/messages.h"

#include <cstdarg>
#include <cstddef>
#include <memory>

class StatusWindow;

// Entry count, folder count and byte totals of the entry list.
struct ArchiveTotals {
    DWORD folders;      // entries with attribute 0x10
    DWORD entries;      // records used in m_entries
    DWORD totalSize;    // sum of the sizes
    DWORD totalPacked;  // sum of the packed sizes; SIZE_UNKNOWN once unknown
};

class CCompressFormat : public ICompressFormat {
public:
    CCompressFormat();
    CCompressFormat(const CCompressFormat&) = delete;
    CCompressFormat& operator=(const CCompressFormat&) = delete;

    // --- ICompressFormat (slots 0-31) ---
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    void STDMETHODCALLTYPE Cancel() override;
    HRESULT STDMETHODCALLTYPE List(HWND owner) override;
    HRESULT STDMETHODCALLTYPE Check(HWND owner, BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Extract(HWND owner, int overwriteMode, BOOL usePaths, BOOL onlyNewer,
                                      LPCSTR destination, SELHDRSTRUCT* selection, DWORD count) override;
    HRESULT STDMETHODCALLTYPE Test(HWND owner) override;
    HRESULT STDMETHODCALLTYPE GetComment(HWND owner, LPSTR buffer, DWORD size) override;
    HRESULT STDMETHODCALLTYPE Delete(HWND owner, BOOL backup, BOOL archiveTimeFromNewest,
                                     LPCSTR tempFolder, SELHDRSTRUCT* selection, DWORD count) override;
    HRESULT STDMETHODCALLTYPE RemoveEXE(HWND owner, LPCSTR tempFolder, LPCSTR newArchivePath) override;
    HRESULT STDMETHODCALLTYPE Add(HWND owner, BOOL deleteSources, BOOL shortNames, BOOL backup,
                                  UINT levelIndex, BOOL update, BOOL freshen, BOOL storePaths,
                                  BOOL relativePaths, BOOL split, UINT volumeSize,
                                  BOOL archiveTimeFromNewest, LPCSTR storeOnlyList, LPCSTR tempFolder,
                                  const ADDFILEINFO* files) override;
    HRESULT STDMETHODCALLTYPE MakeEXE(HWND owner, LPCSTR tempFolder, LPCSTR newProgramPath,
                                      const void* module, DWORD moduleSize) override;
    HRESULT STDMETHODCALLTYPE SetComment(HWND owner, LPCSTR tempFolder, LPCSTR comment) override;
    HRESULT STDMETHODCALLTYPE UpdateEntries(HWND owner, LPCSTR tempFolder, SELHDRSTRUCT* selection,
                                            DWORD count) override;
    HRESULT STDMETHODCALLTYPE GetFolderTree(IUnknown** tree) override;
    STATUSPROC STDMETHODCALLTYPE SetStatusCallback(STATUSPROC proc) override;
    MESSAGEPROC STDMETHODCALLTYPE SetMessageCallback(MESSAGEPROC proc, LPARAM user) override;
    LPSTR STDMETHODCALLTYPE GetPassword() override;
    // Base: empty buffer, E_NOTIMPL. Formats override (kind 3 at least).
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;
    BOOL STDMETHODCALLTYPE HasCapability(DWORD mask) override;
    DWORD STDMETHODCALLTYPE GetEntryCount() override;
    HDRSTRUCT* STDMETHODCALLTYPE GetEntries() override;
    LPCSTR STDMETHODCALLTYPE GetArchivePath() override;
    void STDMETHODCALLTYPE SetPassword(LPCSTR password) override;
    // Base: E_NOTIMPL (only the cabinet class splits).
    HRESULT STDMETHODCALLTYPE SplitDialog(HWND owner, DWORD* volumeSize, BOOL* split) override;
    BOOL STDMETHODCALLTYPE GetSfxModuleId(BOOL alternative, DWORD* resourceId) override;
    void STDMETHODCALLTYPE GetTotals(DWORD* totalSize, DWORD* totalPacked, DWORD* folderCount,
                                     DWORD* fileCount) override;
    void STDMETHODCALLTYPE SetArchivePath(LPCSTR path) override;
    DWORD_PTR STDMETHODCALLTYPE GetOption() override;
    LPCSTR STDMETHODCALLTYPE GetPlainExtension() override;
    void STDMETHODCALLTYPE SetOption(DWORD_PTR value) override;

    // --- destructor and format hooks (every hook: E_NOTIMPL, no effects) ---
    virtual ~CCompressFormat();
    virtual HRESULT DoList();
    virtual HRESULT DoCheck(BOOL* result);
    virtual HRESULT DoExtract();  // m_op is OP_EXTRACT or OP_UPDATE
    virtual HRESULT DoTest();
    virtual HRESULT DoGetComment(LPSTR buffer, DWORD size);
    virtual HRESULT DoDelete();
    virtual HRESULT DoRemoveEXE(LPCSTR newArchivePath);
    virtual HRESULT DoAdd();
    virtual HRESULT DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize);
    virtual HRESULT DoSetComment(LPCSTR comment);
    virtual HRESULT DoUpdateEntries();
    virtual HRESULT SetLevel(UINT levelIndex);  // 0 strongest ... 4 none

    // Set by the factory: the registry row of this object.
    void SetFormatId(DWORD id) { m_formatId = id; }
    DWORD FormatId() const { return m_formatId; }
    // A prompt handler for this object only (null: the process-wide one).
    void SetPromptHandler(const ARCPROMPTHANDLER* handler) { m_prompts = handler; }

    // percent saved: 0 when both are 0, else MulDiv(100, size - packed, size).
    static LONG ComputeRatio(DWORD size, DWORD packed);

    // The outcome counts of the last operation (IArchiveOutcome).
    const ARCOUTCOME& Outcome() const { return m_outcome; }

protected:
    // --- entry pool ---
    // Zeroes m_totals, allocates the first pool block of
    // (bytesPerEntry + sizeof(HDRSTRUCT)) * count bytes and takes the entry
    // array (count records, never grows) from it. Reports 4109 and returns
    // E_OUTOFMEMORY on failure.
    HRESULT AllocEntries(DWORD bytesPerEntry, DWORD count);
    // bytes from the last block (8-byte aligned); chains a block of the same
    // capacity when they do not fit; null when larger than a block.
    void* PoolAlloc(DWORD bytes);
    // Copies text into the pool (null when it does not fit).
    LPSTR PoolString(LPCSTR text, DWORD length);
    void TrimPool();    // end of DoList: shrink the last block in place
    void FreeEntries(); // frees all blocks; count and capacity become 0
    DWORD EntryCapacity() const { return m_entryCapacity; }

    // --- selection ---
    // null array or count 0: all entries; else stores them and computes
    // m_bytesSelected and m_bytesUpToLast.
    void SetSelection(SELHDRSTRUCT* selection, DWORD count);
    // Marks the matching record found and makes its detail m_currentDetail.
    bool IsSelected(LPCSTR storedName);
    // Logs 4124 for every selected record never reached; returns how many
    // (each goes through Warn, so the operation returns S_FALSE).
    DWORD ReportMissing();

    // --- files ---
    // Opens m_archivePath for reading into m_archiveFile, notes
    // m_archiveSize; reports 4102 and returns false on failure.
    bool OpenArchiveFile();
    void CloseArchiveFile();
    // New output archive (MakeEXE/RemoveEXE): asks 4106 when it exists.
    // INVALID_HANDLE_VALUE on failure (reported).
    HANDLE CreateArchiveFile(LPCSTR path);
    // Copies count bytes in 32 KiB chunks with progress; false on failure
    // or cancel (reported).
    bool CopyData(HANDLE from, HANDLE to, DWORD count, char driveLetter);
    // Moves tempPath over oldPath (backup first with m_backup); never loses
    // the old archive; reports 4160 and returns false when it gives up.
    bool ReplaceArchive(LPCSTR oldPath, LPCSTR tempPath);
    // Decides whether and where an entry is written (sets m_outputPath);
    // true = write it. overridePath: the selection's detail or null. An
    // entry it turns down has its outcome noted here (skipped, failed, or a
    // folder not made); one it accepts is the caller's to note.
    bool BeginEntryOutput(LPCSTR storedName, const FILETIME& localTime, DWORD attributes, DWORD size,
                          LPCSTR overridePath);
    // Creates m_outputPath into m_outputFile: S_OK; S_FALSE when the path is
    // a folder (nothing to write); E_ACCESSDENIED / E_FAIL (reported).
    HRESULT CreateTargetFile();
    // Writes to m_outputFile (disk full asks Retry/Cancel); false: reported,
    // and on Cancel the cancel request is set.
    bool WriteOutput(const void* data, DWORD size);
    // Sets attributes and time of m_outputPath and closes m_outputFile.
    void FinishTargetFile();
    static bool MatchesExtensionList(LPCSTR name, LPCSTR list);
    static DWORD CommonPathDepth(const ADDFILEINFO* files);
    // Creates the folders of the destination (logs 4121); false reported.
    bool PrepareDestination(LPCSTR folder);

    // --- reporting (string ids, wvsprintfA arguments) ---
    int Log(UINT id, ...);
    int Warn(UINT id, ...);
    int ReportError(UINT id, ...);
    int Ask(UINT id, UINT style, ...);
    void ShowStatus(UINT id, ...);  // id STATUS_CLEAR: the empty text
    void LogSkip(LPCSTR name, UINT reasonId, ...);
    // The system's text for code (ERROR_FROM_LAST: GetLastError), in
    // m_errorText until the next call.
    LPCSTR SystemErrorText(DWORD code = ERROR_FROM_LAST);
    // The summary of a test from the outcome counts: only entries actually
    // checked count as tested; then the unsupported and password skips.
    void ReportTestSummary();

    // --- outcome of the entries of an extract or test (IArchiveOutcome) ---
    enum SkipReason { kSkipUnsupported, kSkipPassword, kSkipExisting, kSkipOther };
    void NoteProcessed() { ++m_outcome.processed; }  // a file entry came out whole and checked
    void NoteFailed() { ++m_outcome.failed; }
    void NoteSkipped(SkipReason reason);
    void NoteFolder() { ++m_outcome.folders; }
    void NoteDamage() { ++m_outcome.damaged; }       // damage outside any one entry
    enum ProgressStep { kProgressBegin = 0, kProgressAdvance = 1, kProgressEnd = 2 };
    void Progress(int step, DWORD amount);
    // Overwrite prompt for m_outputPath, m_entryTime, m_entrySize
    // (OVERWRITE_RESULT_*; on RENAME m_outputPath is the new path).
    int PromptOverwrite();
    // Password prompt for m_outputPath (PASSWORD_RESULT_*; on OK the text
    // is in m_password).
    int PromptPassword(BOOL retry);
    // Whether Shift is held (through the prompt handler).
    static bool IsShiftDown(const ARCPROMPTHANDLER* handler);
    const ARCPROMPTHANDLER* Prompts() const;

    static const DWORD ERROR_FROM_LAST = 0xFFFFFFFF;
    static const UINT STATUS_CLEAR = 0xFFFFFFFF;
    static const DWORD kTextChars = 1024;
    static const DWORD kCopyChunk = 32768;

    // --- state (order of declaration as the object keeps it) ---
    struct PoolBlock;
    PoolBlock* m_poolFirst = nullptr;   // chain of pool blocks
    PoolBlock* m_poolLast = nullptr;
    DWORD m_poolBlockSize = 0;          // capacity of every block
    char m_formatText[kTextChars];      // loaded format string
    char m_messageText[kTextChars + 2]; // formatted text (+ line feed)
    char m_errorText[kTextChars];       // system error text, skip reason
    FILETIME m_entryTime = {};          // entry being written (local time)
    DWORD m_entryAttributes = 0;
    DWORD m_entrySize = 0;
    ArchiveTotals m_totals = {};
    volatile bool m_cancel = false;     // cancel request
    HDRSTRUCT* m_entries = nullptr;
    DWORD m_entryCapacity = 0;
    DWORD m_progressTotal = 0;          // progress run
    DWORD m_progressDone = 0;
    DWORD m_progressPos = 0;            // bar position in 32 KiB units
    DWORD m_lastPump = 0;               // GetTickCount of the last message pump
    static constexpr DWORD kPumpInterval = 20;  // milliseconds between pumps
    HWND m_progressOwner = nullptr;     // owner saved while the dialog shows
    HWND m_statusDialog = nullptr;      // the status window's dialog while it shows
    std::unique_ptr<StatusWindow> m_statusWindow;
    HWND m_progressBar = nullptr;
    STATUSPROC m_savedStatusProc = nullptr;
    LONG m_refCount = 0;
    DWORD m_sfxModuleId[2] = {0, 0};    // [0] plain, [1] alternative; set by constructors
    DWORD m_op = OP_LIST;               // OP_*
    DWORD m_formatId = 0;               // registry row
    DWORD_PTR m_option = 0;             // caller's value (SetOption)
    void* m_currentDetail = nullptr;    // detail of the last IsSelected match
    LPCSTR m_storeOnlyList = nullptr;   // Add: extensions stored without compression
    LPCSTR m_tempFolder = nullptr;
    HWND m_owner = nullptr;             // owns boxes and prompts
    char m_destination[MAX_PATH] = {};  // Extract: destination folder, ends in '\'
    // Current output path: the destination (a path) and an entry's name (a
    // path) together, so it may reach beyond MAX_PATH (long_path.h).
    char m_outputPath[2 * MAX_PATH] = {};
    char m_knownFolder[MAX_PATH] = {};  // Extract: deepest output folder known to exist (with its separator)
    char m_workPath[MAX_PATH] = {};     // converted names
    char m_archivePath[MAX_PATH] = {};
    char m_password[ARC_PASSWORD_MAX + 1] = {};
    HANDLE m_archiveFile = INVALID_HANDLE_VALUE;
    DWORD m_archiveSize = 0;
    DWORD m_bytesUpToLast = 0;          // sizes of entries 0 .. highest selected
    DWORD m_bytesSelected = 0;          // sizes of the selected entries
    DWORD m_commonDepth = 0;            // Add with relative paths
    BOOL m_warning = FALSE;             // something went through Warn
    STATUSPROC m_statusProc = nullptr;
    MESSAGEPROC m_messageProc = nullptr;
    LPARAM m_messageUser = 0;
    BOOL m_allSelected = TRUE;
    SELHDRSTRUCT* m_selection = nullptr;
    DWORD m_selectionCount = 0;
    const ADDFILEINFO* m_files = nullptr;
    DWORD m_checkResult = 0;            // format-private (Check)
    HANDLE m_outputFile = INVALID_HANDLE_VALUE;
    int m_overwriteMode = OVERWRITE_ASK;
    UINT m_level = 0;
    BOOL m_usePaths = FALSE;            // use (Extract) / store (Add) folder names
    BOOL m_relativePaths = FALSE;
    BOOL m_split = FALSE;
    UINT m_volumeSize = 0;
    BOOL m_deleteSources = FALSE;
    BOOL m_shortNames = FALSE;
    BOOL m_backup = FALSE;
    BOOL m_archiveTimeFromNewest = FALSE;
    const ARCPROMPTHANDLER* m_prompts = nullptr;  // per-object prompt handler
    ARCOUTCOME m_outcome = {sizeof(ARCOUTCOME), OP_LIST, 0, 0, 0, 0, 0, 0, 0, 0, 0};

private:
    // IArchiveOutcome of this object: a part of it, sharing its reference
    // count, so ICompressFormat's table stays exactly as it is.
    class OutcomeView final : public IArchiveOutcome {
    public:
        explicit OutcomeView(CCompressFormat& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            return owner_.QueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
        HRESULT STDMETHODCALLTYPE GetOutcome(ARCOUTCOME* outcome) override;

    private:
        CCompressFormat& owner_;
    };
    OutcomeView m_outcomeView{*this};

    HRESULT MapResult(HRESULT hr) const;
    void BeginOperation(HWND owner, DWORD op);
    int FormatMessageText(UINT id, va_list args);
    void Deliver(LPCSTR text);
    bool MakeOutputPath(LPCSTR relative, DWORD attributes);
    bool CreateFolderLevels(char* path, size_t start);
    int CompareWithTarget();
    int ShowBox(LPCSTR text, UINT style);
    static void CALLBACK StatusDialogText(HWND owner, LPCSTR text);
};

// Where the file name part of a path starts (after the last '\', '/' or ':').
LPCSTR FileNamePart(LPCSTR path);
