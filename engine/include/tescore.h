// Public interface of the engine library tescore.dll: the format registry and
// factory, the archive object's interface ICompressFormat, the records that
// cross it, the settings store, the display helpers, the folder tree of an
// entry list and the prompt handler that lets a program answer the engine's
// questions itself (tescmd, tests).
//
// All texts are narrow ANSI strings; paths hold at most MAX_PATH (260)
// characters including the terminator. Exported functions are extern "C",
// WINAPI, and exported by their plain names on x86_64 and i686.
#pragma once

#include <windows.h>
#include <unknwn.h>

// windows.h maps these two names to kernel32's profile functions; the engine
// exports its own settings store under the plain names.
#undef GetProfileInt
#undef GetProfileString

#ifdef TESCORE_BUILD
#define TESAPI extern "C" __declspec(dllexport)
#else
#define TESAPI extern "C" __declspec(dllimport)
#endif
// Exported functions are WINAPI and exported by their plain names on both
// architectures: on i686 the DLL is linked with --kill-at, so neither its
// export table nor its import library carries the @n of stdcall, and a
// program binds each import to the plain name (TES_PLAIN_NAME).
#if defined(__i386__) && !defined(TESCORE_BUILD)
#define TES_PLAIN_NAME(name) __asm__(#name)
#else
#define TES_PLAIN_NAME(name)
#endif

// ---------------------------------------------------------------------------
// Constants

// Operation codes: stored in the object while an operation runs; the format
// hooks branch on them.
enum {
    OP_ADD = 0,
    OP_UPDATE = 1,  // Add with update; Extract with onlyNewer
    OP_FRESHEN = 2,
    OP_DELETE = 3,
    OP_MAKEEXE = 4,
    OP_REMOVEEXE = 5,
    OP_CHECK = 6,
    OP_EXTRACT = 7,
    OP_TEST = 8,
    OP_SETCOMMENT = 9,
    OP_GETCOMMENT = 10,
    OP_UPDATEENTRIES = 11,
    OP_LIST = 12,
};

// What Extract does when the target file exists. Any other non-zero value
// behaves like OVERWRITE_ALL.
enum Overwrite_Mode {
    OVERWRITE_ASK = 0,
    OVERWRITE_ALL = 1,
    OVERWRITE_NEVER = 2,
};

// Capability bits of FORMATINFO, tested with ICompressFormat::HasCapability.
enum {
    CAP_CREATE = 0x1,             // a new, empty archive can be made
    CAP_ADD = 0x2,                // files can be added to an existing archive
    CAP_ZIPENTRIES = 0x4,         // carried by the ZIP rows; nothing tests it
    CAP_ENCRYPT = 0x8,            // entries can be encrypted
    CAP_SPLIT = 0x10,             // the archive can be split into volumes
    CAP_SHORTNAMES = 0x20,        // names can be stored in 8.3 form
    CAP_EXTRACT = 0x40,           // entries can be extracted
    CAP_EXTRACTNEWER = 0x80,      // extraction of newer entries only
    CAP_TEST = 0x100,             // the archive can be tested
    CAP_DELETE = 0x200,           // entries can be deleted
    CAP_ENTRYPROPS = 0x400,       // UpdateEntries
    CAP_GETCOMMENT = 0x800,       // GetComment
    CAP_SETCOMMENT = 0x1000,      // SetComment
    CAP_ENTRYCOMMENTS = 0x2000,   // entries carry comments
    CAP_MAKEEXE = 0x4000,         // MakeEXE
    CAP_REMOVEEXE = 0x8000,       // RemoveEXE
    CAP_DELETESOURCES = 0x10000,  // added files can be deleted after adding
    CAP_FOLDERENTRIES = 0x20000,  // folder entries can be stored
};

// FORMATINFO.variant of a self-extracting variant (ArcCreateObject tests the
// low byte).
#define FORMAT_VARIANT_SFX 0x101

// Format ids: the rows of the registry, in order.
enum {
    FORMAT_ZIP = 0,
    FORMAT_ZIP_SFX = 1,
    FORMAT_ACE = 2,
    FORMAT_ACE_SFX = 3,
    FORMAT_CAB = 4,
    FORMAT_CAB_SFX = 5,
    FORMAT_RAR = 6,
    FORMAT_RAR_SFX = 7,
    FORMAT_TAR = 8,
    FORMAT_GZ = 9,
    FORMAT_TGZ = 10,
    FORMAT_Z = 11,
    FORMAT_TAZ = 12,
    FORMAT_ARJ = 13,
    FORMAT_ARJ_SFX = 14,
    FORMAT_COUNT = 15,
};

// HDRSTRUCT.flags
#define HDR_ENCRYPTED 0x1
// HDRSTRUCT values for unknown sizes.
#define RATIO_UNKNOWN 0x7FFFFFFF
#define SIZE_UNKNOWN 0xFFFFFFFFu
// SELHDRSTRUCT.index of an unused record.
#define SEL_UNUSED 0xFFFFFFFFu
// GetEntryIndex of a folder the archive stores no entry for.
#define FOLDER_NO_ENTRY 0xFFFFFFFFu

// GetText kinds.
enum {
    TEXT_VERSION = 0,  // value: HDRSTRUCT.version
    TEXT_METHOD = 1,   // value: HDRSTRUCT.method
    TEXT_PATH = 3,     // value: HDRSTRUCT.name (pointer): display/output path
    TEXT_COMMENT = 4,  // value: HDRSTRUCT.comment (pointer): ANSI comment
    TEXT_LEVELS = 5,   // compression level names, NUL-separated, "" ends
};
// Size of the buffer a caller hands to GetText; formats never write more
// (kind 3 results are at most MAX_PATH - 1 characters or the call fails).
#define GETTEXT_BUFFER 1024

// The password buffer holds up to this many characters (plus the NUL).
#define ARC_PASSWORD_MAX 80

// Results of the engine's prompts.
enum {
    OVERWRITE_RESULT_NO = 100,
    OVERWRITE_RESULT_YES = 101,
    OVERWRITE_RESULT_YESTOALL = 102,
    OVERWRITE_RESULT_NOTOALL = 103,
    OVERWRITE_RESULT_RENAME = 105,  // new path chosen
    OVERWRITE_RESULT_CANCEL = 106,
};
enum {
    PASSWORD_RESULT_OK = 100,
    PASSWORD_RESULT_SKIP = 101,
    PASSWORD_RESULT_SKIPALL = 102,
    PASSWORD_RESULT_CANCEL = 104,
};
enum {
    RENAME_RESULT_OK = 1,
    RENAME_RESULT_CANCEL = 2,
};

// ---------------------------------------------------------------------------
// Records

// One entry of an archive's entry list. The array and the strings belong to
// the archive object and live until the next List or the last Release.
typedef struct HDRSTRUCT {
    DWORD flags;        // bit 0: encrypted; only the low byte is written
    LPSTR name;         // as stored (OEM, the format's separators)
    LPSTR comment;      // entry comment as stored, or null
    LONG ratio;         // percent saved; RATIO_UNKNOWN when a size is unknown
    DWORD packedSize;   // bytes in the archive; SIZE_UNKNOWN when unknown
    DWORD size;         // uncompressed size
    FILETIME time;      // last-modified time, local time
    DWORD host;         // format-specific host system
    DWORD version;      // format-specific version (GetText kind 0)
    DWORD method;       // low 16 bits method, bits 16-17 options (kind 1)
    DWORD attributes;   // Windows file attributes; 0x10 marks a folder
} HDRSTRUCT;

// One selected entry, passed in arrays to Extract, Delete and UpdateEntries.
typedef struct SELHDRSTRUCT {
    DWORD index;   // entry number; SEL_UNUSED marks an unused record
    DWORD found;   // set to 1 by the engine when the entry was reached
    void* detail;  // Extract: LPCSTR full output path or null;
                   // UpdateEntries: ENTRYPROPS*
} SELHDRSTRUCT;

// New attributes and comment of one entry (UpdateEntries).
typedef struct ENTRYPROPS {
    DWORD attributes;
    CHAR comment[1];  // NUL-terminated, runs on; empty removes the comment
} ENTRYPROPS;

// One file to add. Add takes a packed list of them: the next record starts
// at this record's address + length + ADDFILEINFO_HEADER; length 0 ends it.
// A builder sets length to the bytes of path including its NUL.
#pragma pack(push, 1)
typedef struct ADDFILEINFO {
    LPCSTR storedName;  // name to store, or null to derive it from the path
    WORD length;
    CHAR path[1];       // NUL-terminated full path on disk, runs on
} ADDFILEINFO;
#pragma pack(pop)
#define ADDFILEINFO_HEADER (sizeof(LPCSTR) + 4)
#define ADDFILEINFO_NEXT(p) \
    ((const ADDFILEINFO*)((const BYTE*)(p) + (p)->length + ADDFILEINFO_HEADER))

// One row of the format registry.
typedef struct FORMATINFO {
    DWORD capabilities;
    DWORD descriptionId;       // string id in tescore's string table
    CHAR extension[MAX_PATH];  // with the leading period
    DWORD formatId;            // equals the row's index
    DWORD variant;             // FORMAT_VARIANT_SFX or 0
} FORMATINFO;

// ---------------------------------------------------------------------------
// Interfaces

struct ICompressFormat;

// Status line: (window that owns prompts now, one-line text).
typedef void(CALLBACK* STATUSPROC)(HWND owner, LPCSTR text);
// Log line: (object, user value, text ending in a line feed).
typedef void(CALLBACK* MESSAGEPROC)(ICompressFormat* object, LPARAM user, LPCSTR text);

// {BF8F1D12-9393-4495-A4F2-1CD1A5AD12DF}
inline constexpr IID IID_ICompressFormat = {
    0xBF8F1D12, 0x9393, 0x4495, {0xA4, 0xF2, 0x1C, 0xD1, 0xA5, 0xAD, 0x12, 0xDF}};
// {D448C700-438F-11D3-9250-008048EF14D8}
inline constexpr IID IID_IArchiveFolder = {
    0xD448C700, 0x438F, 0x11D3, {0x92, 0x50, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};
// {8EB6B800-438F-11D3-9250-008048EF14D8}
inline constexpr IID IID_IEnumArchiveFolders = {
    0x8EB6B800, 0x438F, 0x11D3, {0x92, 0x50, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};
// {8FB35780-443F-11D3-9250-008048EF14D8}
inline constexpr IID IID_IEnumArchiveFiles = {
    0x8FB35780, 0x443F, 0x11D3, {0x92, 0x50, 0x00, 0x80, 0x48, 0xEF, 0x14, 0xD8}};

// The archive object. Slots 0-31 in this order; QueryInterface, AddRef and
// Release are slots 0-2 from IUnknown.
struct ICompressFormat : public IUnknown {
    virtual void STDMETHODCALLTYPE Cancel() = 0;                                   // 3
    virtual HRESULT STDMETHODCALLTYPE List(HWND owner) = 0;                        // 4
    virtual HRESULT STDMETHODCALLTYPE Check(HWND owner, BOOL* result) = 0;         // 5
    virtual HRESULT STDMETHODCALLTYPE Extract(HWND owner, int overwriteMode, BOOL usePaths,
                                              BOOL onlyNewer, LPCSTR destination,
                                              SELHDRSTRUCT* selection, DWORD count) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE Test(HWND owner) = 0;                        // 7
    virtual HRESULT STDMETHODCALLTYPE GetComment(HWND owner, LPSTR buffer, DWORD size) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE Delete(HWND owner, BOOL backup, BOOL archiveTimeFromNewest,
                                             LPCSTR tempFolder, SELHDRSTRUCT* selection,
                                             DWORD count) = 0;                     // 9
    virtual HRESULT STDMETHODCALLTYPE RemoveEXE(HWND owner, LPCSTR tempFolder,
                                                LPCSTR newArchivePath) = 0;        // 10
    virtual HRESULT STDMETHODCALLTYPE Add(HWND owner, BOOL deleteSources, BOOL shortNames,
                                          BOOL backup, UINT levelIndex, BOOL update, BOOL freshen,
                                          BOOL storePaths, BOOL relativePaths, BOOL split,
                                          UINT volumeSize, BOOL archiveTimeFromNewest,
                                          LPCSTR storeOnlyList, LPCSTR tempFolder,
                                          const ADDFILEINFO* files) = 0;           // 11
    virtual HRESULT STDMETHODCALLTYPE MakeEXE(HWND owner, LPCSTR tempFolder, LPCSTR newProgramPath,
                                              const void* module, DWORD moduleSize) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE SetComment(HWND owner, LPCSTR tempFolder,
                                                 LPCSTR comment) = 0;              // 13
    virtual HRESULT STDMETHODCALLTYPE UpdateEntries(HWND owner, LPCSTR tempFolder,
                                                    SELHDRSTRUCT* selection, DWORD count) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE GetFolderTree(IUnknown** tree) = 0;          // 15
    virtual STATUSPROC STDMETHODCALLTYPE SetStatusCallback(STATUSPROC proc) = 0;   // 16
    virtual MESSAGEPROC STDMETHODCALLTYPE SetMessageCallback(MESSAGEPROC proc, LPARAM user) = 0;  // 17
    virtual LPSTR STDMETHODCALLTYPE GetPassword() = 0;                             // 18
    // kind, value (a field of HDRSTRUCT; a pointer for kinds 3 and 4), out
    // buffer of GETTEXT_BUFFER characters.
    virtual HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) = 0;  // 19
    virtual BOOL STDMETHODCALLTYPE HasCapability(DWORD mask) = 0;                  // 20
    virtual DWORD STDMETHODCALLTYPE GetEntryCount() = 0;                           // 21
    virtual HDRSTRUCT* STDMETHODCALLTYPE GetEntries() = 0;                         // 22
    virtual LPCSTR STDMETHODCALLTYPE GetArchivePath() = 0;                         // 23
    virtual void STDMETHODCALLTYPE SetPassword(LPCSTR password) = 0;               // 24
    virtual HRESULT STDMETHODCALLTYPE SplitDialog(HWND owner, DWORD* volumeSize, BOOL* split) = 0;  // 25
    virtual BOOL STDMETHODCALLTYPE GetSfxModuleId(BOOL alternative, DWORD* resourceId) = 0;  // 26
    virtual void STDMETHODCALLTYPE GetTotals(DWORD* totalSize, DWORD* totalPacked,
                                             DWORD* folderCount, DWORD* fileCount) = 0;  // 27
    virtual void STDMETHODCALLTYPE SetArchivePath(LPCSTR path) = 0;                // 28
    virtual DWORD_PTR STDMETHODCALLTYPE GetOption() = 0;                           // 29
    virtual LPCSTR STDMETHODCALLTYPE GetPlainExtension() = 0;                      // 30
    virtual void STDMETHODCALLTYPE SetOption(DWORD_PTR value) = 0;                 // 31
};

// What the last Extract or Test did with the entries, so that a caller can
// tell a clean run from one that skipped or lost entries without reading
// the log. Every count is of entries the operation reached; each entry is in
// exactly one of processed, failed, skipped and folders. The record crosses
// the DLL boundary: fixed-width fields only, and cbSize lets a caller built
// against a shorter record ask for just that much.
typedef struct ARCOUTCOME {
    DWORD cbSize;              // in: size of the caller's record; out: bytes filled
    DWORD operation;           // OP_* of the last operation
    DWORD processed;           // file entries extracted or tested whole, with a good checksum
    DWORD failed;              // entries that failed: wrong checksum, damaged or invalid data,
                               // a target that could not be created or written
    DWORD skipped;             // entries passed over for any reason (the next three and
                               // others, e.g. an unsafe name or a path too long)
    DWORD skippedUnsupported;  // method, version, encryption or entry kind not supported
    DWORD skippedPassword;     // encrypted, and the password was wrong or not given
    DWORD skippedExisting;     // the existing target was kept (not overwritten, up to date)
    DWORD folders;             // folder entries, made or passed over
    DWORD damaged;             // damage outside any one entry: headers, directory, a walk cut short
    DWORD missing;             // selected entries the operation never reached
} ARCOUTCOME;
static_assert(sizeof(ARCOUTCOME) == 44, "ARCOUTCOME is eleven 32-bit words on every architecture");

// {9429173F-1770-46AB-910D-19E9AED6F623}
inline constexpr IID IID_IArchiveOutcome = {
    0x9429173F, 0x1770, 0x46AB, {0x91, 0x0D, 0x19, 0xE9, 0xAE, 0xD6, 0xF6, 0x23}};

// Reached through QueryInterface on the archive object. The counts are reset
// when an operation starts; Extract and Test fill them, other operations
// leave them at zero.
struct IArchiveOutcome : public IUnknown {
    // Copies min(outcome->cbSize, sizeof(ARCOUTCOME)) bytes of the record and
    // sets cbSize to that amount; E_INVALIDARG for a null record or a cbSize
    // too small to hold the operation.
    virtual HRESULT STDMETHODCALLTYPE GetOutcome(ARCOUTCOME* outcome) = 0;
};

struct IEnumArchiveFolders;
struct IEnumArchiveFiles;

// One folder of the tree that GetFolderTree builds from the entry list.
struct IArchiveFolder : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumFolders(DWORD unused, IEnumArchiveFolders** out) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFiles(DWORD unused, IEnumArchiveFiles** out) = 0;
    virtual DWORD STDMETHODCALLTYPE GetFolderCount() = 0;
    virtual DWORD STDMETHODCALLTYPE GetFileCount() = 0;
    // The parent without a reference; S_FALSE (and null) for the root.
    virtual HRESULT STDMETHODCALLTYPE GetParent(IArchiveFolder** parent) = 0;
    virtual DWORD STDMETHODCALLTYPE GetEntryIndex() = 0;  // FOLDER_NO_ENTRY if none
    virtual LPCSTR STDMETHODCALLTYPE GetName() = 0;
};

struct IEnumArchiveFolders : public IUnknown {
    // Folders come with a reference added. S_FALSE when fewer than count.
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IArchiveFolder** items, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;  // E_NOTIMPL
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumArchiveFolders** out) = 0;  // E_NOTIMPL
};

struct IEnumArchiveFiles : public IUnknown {
    // Files as entry numbers. S_FALSE when fewer than count.
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, DWORD* items, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;  // E_NOTIMPL
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumArchiveFiles** out) = 0;  // E_NOTIMPL
};

// ---------------------------------------------------------------------------
// Prompt handler: every message box and prompt of the engine goes through
// it. A null member (or no handler at all) means the engine's own dialog.
// A program without a user (tescmd, tests) installs one to answer itself.

// What the overwrite prompt shows and returns.
typedef struct ARCOVERWRITEPROMPT {
    CHAR path[MAX_PATH];  // in: output path; out with RENAME: the new path
    FILETIME time;        // time of the entry, UTC
    DWORD size;           // size of the entry
} ARCOVERWRITEPROMPT;

typedef struct ARCPROMPTHANDLER {
    void* context;  // handed to every member
    // A message box: returns the button (IDOK, IDYES, IDRETRY, ...).
    int(CALLBACK* ShowMessage)(void* context, HWND owner, LPCSTR text, LPCSTR caption, UINT style);
    // The overwrite prompt: OVERWRITE_RESULT_*; on RENAME prompt->path holds
    // the new full path.
    int(CALLBACK* Overwrite)(void* context, HWND owner, ARCOVERWRITEPROMPT* prompt);
    // The password prompt for fileName (retry: the last one was wrong):
    // PASSWORD_RESULT_*; on OK password (ARC_PASSWORD_MAX + 1 characters)
    // holds the text.
    int(CALLBACK* Password)(void* context, HWND owner, LPCSTR fileName, BOOL retry, LPSTR password);
    // The rename dialog: RENAME_RESULT_*; newPath (MAX_PATH characters)
    // always receives the resulting full path.
    int(CALLBACK* Rename)(void* context, HWND owner, LPCSTR path, LPSTR newPath);
    // Whether Shift counts as held (the factory's choice for .tgz/.taz).
    BOOL(CALLBACK* IsShiftDown)(void* context);
    DWORD flags;  // ARCPROMPT_*
} ARCPROMPTHANDLER;

// Never create the status dialog (a console program shows no windows).
#define ARCPROMPT_NOSTATUSDIALOG 0x1

// Installs a handler for the whole process (the engine keeps the pointer; the
// caller keeps the record alive); null restores the engine's dialogs.
// Returns the previous handler.
TESAPI const ARCPROMPTHANDLER* WINAPI ArcSetPromptHandler(const ARCPROMPTHANDLER* handler) TES_PLAIN_NAME(ArcSetPromptHandler);
// The same for the calling thread only; it goes before the process's
// handler on that thread. A thread that works with archive objects of its
// own while the user-interface thread runs sets one so that no dialog of
// the engine appears from it.
TESAPI const ARCPROMPTHANDLER* WINAPI ArcSetThreadPromptHandler(const ARCPROMPTHANDLER* handler) TES_PLAIN_NAME(ArcSetThreadPromptHandler);

// ---------------------------------------------------------------------------
// Exported functions

// Format registry and factory.
TESAPI HRESULT WINAPI ArcCreateObject(HWND owner, LPCSTR path, ICompressFormat** object) TES_PLAIN_NAME(ArcCreateObject);
TESAPI UINT WINAPI ArcGetFormatCount(void) TES_PLAIN_NAME(ArcGetFormatCount);
TESAPI HRESULT WINAPI ArcGetFormatAt(UINT index, FORMATINFO* info) TES_PLAIN_NAME(ArcGetFormatAt);
TESAPI HRESULT WINAPI ArcGetFormatOf(LPCSTR path, FORMATINFO* info, UINT* index) TES_PLAIN_NAME(ArcGetFormatOf);

// Settings store below HKEY_CURRENT_USER\Software\Quellsoft\Tessera.
TESAPI HKEY WINAPI GetSectionKey(LPCSTR section) TES_PLAIN_NAME(GetSectionKey);
TESAPI BOOL WINAPI GetProfileInt(LPCSTR section, LPCSTR name, DWORD* value) TES_PLAIN_NAME(GetProfileInt);
TESAPI BOOL WINAPI GetProfileString(LPCSTR section, LPCSTR name, LPSTR buffer /* MAX_PATH */) TES_PLAIN_NAME(GetProfileString);
TESAPI BOOL WINAPI GetProfileBinary(LPCSTR section, LPCSTR name, void* buffer, DWORD* size) TES_PLAIN_NAME(GetProfileBinary);
TESAPI BOOL WINAPI PutProfileInt(LPCSTR section, LPCSTR name, DWORD value) TES_PLAIN_NAME(PutProfileInt);
TESAPI BOOL WINAPI PutProfileString(LPCSTR section, LPCSTR name, LPCSTR text) TES_PLAIN_NAME(PutProfileString);
TESAPI BOOL WINAPI PutProfileBinary(LPCSTR section, LPCSTR name, const void* data, DWORD size) TES_PLAIN_NAME(PutProfileBinary);

// Rename dialog: returns RENAME_RESULT_*; newPath (MAX_PATH characters)
// receives folder + new base name + extension of path.
TESAPI int WINAPI ShowRenameDialog(HWND owner, LPCSTR path, LPSTR newPath) TES_PLAIN_NAME(ShowRenameDialog);

// Display helpers.
TESAPI LPSTR WINAPI FormatFileSize(int style, DWORD low, DWORD high, LPSTR buffer) TES_PLAIN_NAME(FormatFileSize);
TESAPI LPSTR WINAPI FormatFileTime(const FILETIME* utcTime, LPSTR buffer /* MAX_PATH */,
                                   int dateStyle, int timeStyle) TES_PLAIN_NAME(FormatFileTime);
TESAPI BOOL WINAPI CenterDialog(HWND dialog) TES_PLAIN_NAME(CenterDialog);
