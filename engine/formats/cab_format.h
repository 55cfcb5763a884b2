// The format class of cabinet files (".cab") and self-extracting cabinets:
// lists, extracts and tests cabinets and cabinet sets through the portable
// cabinet reader (engine/cabinet), supplying its file callbacks.
#pragma once

#include "formats/decoding_format.h"

#include "cabinet/cab_reader.h"

#include <memory>

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
    DWORD m_errors = 0;           // entries not extracted or tested
    bool m_sawCabinet = false;    // the first cabinet's records were read
    bool m_readReported = false;  // a read error has been reported (4103)
    bool m_outOfMemory = false;   // the entry list could not be made (4109)
};
