// The format class of ZIP archives (".zip") and self-extracting ZIP programs
// (".exe"). The reading hooks sit on the portable record layer
// (zip_records, zip_input, zip_directory): this class opens the file, runs the
// layer's opening steps and walks, and turns its structured reports into the
// catalogue's messages.
#pragma once

#include "core/compress_format.h"

#include <string>

namespace tessera::zip {
struct Reports;
struct DirectoryEntry;
struct CentralHeader;
}

class CZipFormat : public CCompressFormat {
public:
    CZipFormat();

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoGetComment(LPSTR buffer, DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    // --- writing and updating (zip_update.cpp) ---
    HRESULT DoAdd() override;
    HRESULT DoDelete() override;
    HRESULT DoSetComment(LPCSTR comment) override;
    HRESULT DoUpdateEntries() override;
    HRESULT DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize) override;
    HRESULT DoRemoveEXE(LPCSTR newArchivePath) override;
    HRESULT SetLevel(UINT levelIndex) override;
    // Resource id of the self-extractor module; ZIP has no setup flavour.
    static constexpr DWORD kSfxModule = 100;

private:
    class Updater;
    // Runs the one update procedure of every writing hook.
    HRESULT RunUpdate(LPCSTR newComment, LPCSTR outputPath, const void* module, DWORD moduleSize);
    int m_deflateLevel = 6;  // Deflate level of the run (SetLevel)

private:
    // Shows every report of a run with its catalogue text; returns the run's level.
    int ShowReports(const tessera::zip::Reports& reports);
    // An entry's name and comment as text: the Unicode path field, else
    // UTF-8 under the flag, else OEM -- except from Unix hosts, which never
    // used OEM code pages and store their (UTF-8) names unflagged. Above the
    // reader names are text.
    static std::string NameText(const tessera::zip::DirectoryEntry& e);
    static std::string NameText(const tessera::zip::CentralHeader& h, const std::string& name,
                                const std::string& unicodeName);
    static std::string CommentText(const tessera::zip::DirectoryEntry& e);
    static std::string CommentText(const tessera::zip::CentralHeader& h, const std::string& comment);

    // --- extraction and testing (zip_extract.cpp) ---
public:
    HRESULT DoExtract() override;
    HRESULT DoTest() override;

private:
    struct ExtractRun;
    class OutputWriter;
    HRESULT ExtractOrTest();
    // Examines one selected central entry: skipped with a report, or true
    // when it joins the block to be extracted.
    bool ExamineEntry(ExtractRun& run, size_t index);
    // Steps 3-7 for one entry of the block; false when the run must stop.
    bool ExtractEntry(ExtractRun& run, size_t index, void* detail);
    // The password check of an encrypted entry; the reader stands at its
    // encryption header.
    int CheckPassword(ExtractRun& run, WORD flags, DWORD crc, WORD dosTime);
    // The HRESULT of a run's final level.
    HRESULT ResultOfLevel(int level);
    // The display path of an entry name, for log lines.
    void DisplayName(const char* name, char (&shown)[MAX_PATH]);
    bool m_skipAllEncrypted = false;  // the password prompt's "skip all", for one run
};
