// The format class of cabinet files (".cab") and self-extracting cabinets:
// lists, extracts and tests cabinets and cabinet sets through the portable
// cabinet reader, and writes new cabinets and cabinet sets through the
// cabinet builder (engine/cabinet), supplying the callbacks of both.
#pragma once

#include "formats/decoding_format.h"

#include "cabinet/cab_builder.h"
#include "cabinet/cab_reader.h"

#include <memory>
#include <string>
#include <vector>

class CCabFormat : public CDecodingFormat {
public:
    CCabFormat();
    ~CCabFormat() override;
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    // Finds the cabinet within the first 196,608 bytes of the file.
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;
    HRESULT DoTest() override;
    // Writes a new cabinet (or set) of exactly the files of the add list.
    HRESULT DoAdd() override;
    HRESULT DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize) override;
    HRESULT DoRemoveEXE(LPCSTR newArchivePath) override;
    HRESULT SetLevel(UINT levelIndex) override;
    // Dialog 101 "Split archive": the volume size and the spanning switch.
    HRESULT STDMETHODCALLTYPE SplitDialog(HWND owner, DWORD* volumeSize, BOOL* split) override;

    // The volume size of the "1,44 MB (disk)" choice.
    static const DWORD kDiskVolumeSize = 1457664;

private:
    // Reader callbacks; the context is the object.
    static tessera::cab::FileHandle OpenCallback(void* context, const char* path);
    static int32_t ReadCallback(void* context, tessera::cab::FileHandle file, void* buffer, uint32_t size);
    static int32_t WriteCallback(void* context, tessera::cab::FileHandle file, const void* data, uint32_t size);
    static int CloseCallback(void* context, tessera::cab::FileHandle file);
    static int32_t SeekCallback(void* context, tessera::cab::FileHandle file, int32_t offset, int origin);
    static intptr_t ListNotify(void* context, int notification, tessera::cab::NotificationData* data);
    static intptr_t ExtractNotify(void* context, int notification, tessera::cab::NotificationData* data);

    // The reader, created on first use; false (reported) without memory.
    bool EnsureReader();
    // Searches the file for the cabinet and sets m_baseOffset; returns
    // S_OK, E_FAIL (no cabinet, or the file cannot be opened; reported)
    // or E_OUTOFMEMORY.
    HRESULT Locate(bool* opened);
    // Walks the archive with `notify`; false when the walk failed.
    bool Walk(tessera::cab::NotifyCallback notify);
    // The next cabinet of a set could not be opened: asks Retry/Cancel.
    intptr_t AskForNextCabinet(const tessera::cab::NotificationData& data);
    // Logs the missing cabinet once per operation.
    void ReportMissingCabinet();
    // A reader failure at the start of the archive (not a cabinet, cannot
    // be opened, no memory): reports it and returns the result, or S_OK
    // when the failure lies further in.
    HRESULT ReportWalkFailure();
    HRESULT ExtractOrTest();

    // --- writing (cab_write.cpp) ---
    struct AddItem {
        std::string path;
        std::string storedName;
        DWORD size;
    };
    struct CabinetOutput {
        std::string finalPath;
        std::string tempPath;
        HANDLE handle;
        bool placed;  // moved to finalPath
    };
    static int BuildFilePlaced(void* context, const tessera::cab::CabinetParameters* params, const char* name,
                               uint32_t size, bool continuation);
    static void* BuildAllocate(void* context, size_t size);
    static void BuildFree(void* context, void* block);
    static tessera::cab::FileHandle BuildOpen(void* context, const char* path);
    static int32_t BuildRead(void* context, tessera::cab::FileHandle file, void* buffer, uint32_t size);
    static int32_t BuildWrite(void* context, tessera::cab::FileHandle file, const void* data, uint32_t size);
    static int BuildClose(void* context, tessera::cab::FileHandle file);
    static int32_t BuildSeek(void* context, tessera::cab::FileHandle file, int32_t offset, int origin);
    static int BuildRemove(void* context, const char* path);
    static bool BuildTempName(void* context, char* buffer, size_t size);
    static bool NextCabinet(void* context, tessera::cab::CabinetParameters* params, uint32_t sizeEstimate);
    static int32_t BuildStatus(void* context, uint32_t compressedSize, uint32_t uncompressedSize);
    static tessera::cab::FileHandle OpenSource(void* context, const char* path, uint16_t* date, uint16_t* time,
                                               uint16_t* attribs);
    // Collects the files of the add list with their stored names; false
    // when the operation cannot go on (reported).
    bool CollectAddItems(std::vector<AddItem>* items);
    // Fills the cabinet and disk names of params->cabinetNumber.
    bool NameCabinet(tessera::cab::CabinetParameters* params);
    // Before a cabinet of a set is written to a removable disk: the disk
    // must hold a whole volume; asks for a new disk while it has not the room.
    bool CheckRemovableDisk();
    CabinetOutput* OutputOf(HANDLE file);
    bool PlaceCabinet(CabinetOutput& output);
    void DropOutputs();
    HRESULT CopyToNewFile(LPCSTR target, const void* prefix, DWORD prefixSize, DWORD from);
    class SplitOptionsDialog;  // the dialog of SplitDialog (cab_write.cpp)

    // Where an open cabinet file starts in its file: the base offset for
    // the archive itself, 0 for the further cabinets of a set.
    struct OpenFile {
        HANDLE handle;
        DWORD base;
    };
    static const int kMaxOpenFiles = 8;
    OpenFile m_open[kMaxOpenFiles] = {};
    DWORD BaseOf(HANDLE file) const;

    // The reader keeps a pointer to its error record: the record outlives it.
    tessera::cab::ErrorRecord m_readerError;
    std::unique_ptr<tessera::cab::CabReader> m_reader;
    DWORD m_baseOffset = 0;       // where the cabinet begins in the archive file
    bool m_located = false;       // m_baseOffset is known
    DWORD m_openError = 0;        // system error of the last failed open
    bool m_openReported = false;  // the archive could not be opened (4102 shown)
    bool m_setIncomplete = false; // a next cabinet was missing
    bool m_missingReported = false;
    char m_missingPath[MAX_PATH] = {};
    DWORD m_missingError = 0;
    bool m_entryReported = false; // the failing entry has been reported
    DWORD m_entryNumber = 0;      // copy-file notifications so far
    bool m_sawCabinet = false;    // the first cabinet's records were read
    bool m_readReported = false;  // a read error has been reported (4103)
    bool m_outOfMemory = false;   // the entry list could not be made (4109)

    // Writing.
    uint16_t m_typeWord = 0x1503;       // compression of the next DoAdd (SetLevel)
    bool m_spanning = false;            // this build writes a set
    bool m_removableTarget = false;     // the set goes to a removable disk
    uint32_t m_maxCabinetSize = 0;
    std::string m_buildBase, m_buildExtension;  // naming of the set's cabinets
    std::vector<CabinetOutput> m_outputs;       // cabinets written so far
    std::vector<std::string> m_stagingFiles;    // temporary files the builder asked for
    HANDLE m_sourceFile = INVALID_HANDLE_VALUE; // the file being compressed
    bool m_buildReported = false;       // the build's failure has been reported
};
