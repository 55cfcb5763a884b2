// A format class for the tests: it lists a table of entries given by the
// test, extracts them with the base class's services (writing a fixed
// content), and lets a test choose what its hooks return, log and cancel.
// Its using-declarations make the protected services reachable.
#pragma once

#include "core/compress_format.h"

#include <string>
#include <vector>

struct FakeEntry {
    std::string name;         // stored name, '/' separators
    DWORD size = 4;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    FILETIME time = {};       // local time; zero means "2020-01-01 12:00"
};

class FakeFormat : public CCompressFormat {
public:
    FakeFormat();
    ~FakeFormat() override;

    // What the hooks do.
    HRESULT hookResult = S_OK;
    bool hookWarns = false;
    bool hookCancels = false;
    int hookCalls = 0;
    DWORD opSeen = 0xFFFFFFFF;
    bool extractEntries = true;  // DoExtract walks the listing
    DWORD walkLimit = 0xFFFFFFFF;  // entries DoExtract reaches
    std::string content = "data";
    std::vector<FakeEntry> listing;
    static int destroyed;

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;
    HRESULT DoTest() override;
    HRESULT DoDelete() override;
    HRESULT DoAdd() override;
    HRESULT DoRemoveEXE(LPCSTR) override;
    HRESULT DoMakeEXE(LPCSTR, const void*, DWORD) override;
    HRESULT DoSetComment(LPCSTR) override;
    HRESULT DoUpdateEntries() override;
    HRESULT DoGetComment(LPSTR, DWORD) override;
    HRESULT SetLevel(UINT level) override;
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    UINT levelSeen = 0xFFFFFFFF;

    bool OpenArchiveFileForTest() {
        bool ok = OpenArchiveFile();
        CloseArchiveFile();
        return ok;
    }
    void BeginEntryTimeForTest(FILETIME time, DWORD attributes) {
        m_entryTime = time;
        m_entryAttributes = attributes;
    }

    using CCompressFormat::AllocEntries;
    using CCompressFormat::BeginEntryOutput;
    using CCompressFormat::CommonPathDepth;
    using CCompressFormat::CopyData;
    using CCompressFormat::CreateArchiveFile;
    using CCompressFormat::CreateTargetFile;
    using CCompressFormat::FinishTargetFile;
    using CCompressFormat::IsSelected;
    using CCompressFormat::MatchesExtensionList;
    using CCompressFormat::PoolAlloc;
    using CCompressFormat::PrepareDestination;
    using CCompressFormat::Progress;
    using CCompressFormat::PromptPassword;
    using CCompressFormat::ReplaceArchive;
    using CCompressFormat::ReportError;
    using CCompressFormat::ReportMissing;
    using CCompressFormat::ReportTestSummary;
    using CCompressFormat::SetSelection;
    using CCompressFormat::SystemErrorText;
    using CCompressFormat::TrimPool;
    using CCompressFormat::Warn;
    using CCompressFormat::WriteOutput;

    using CCompressFormat::m_allSelected;
    using CCompressFormat::m_backup;
    using CCompressFormat::m_bytesSelected;
    using CCompressFormat::m_bytesUpToLast;
    using CCompressFormat::m_cancel;
    using CCompressFormat::m_commonDepth;
    using CCompressFormat::m_currentDetail;
    using CCompressFormat::m_destination;
    using CCompressFormat::m_entries;
    using CCompressFormat::m_files;
    using CCompressFormat::m_op;
    using CCompressFormat::m_outcome;
    using CCompressFormat::m_outputFile;
    using CCompressFormat::m_outputPath;
    using CCompressFormat::m_overwriteMode;
    using CCompressFormat::m_owner;
    using CCompressFormat::m_statusDialog;
    using CCompressFormat::m_totals;
    using CCompressFormat::m_usePaths;
    using CCompressFormat::m_warning;

private:
    HRESULT Hook();
};

// Collects the object's log lines.
struct LogLines {
    std::vector<std::string> lines;
    void Attach(ICompressFormat* object);
    bool Contains(const std::string& text) const;
    std::string All() const;
};

// The prompt handler the tests install: scripted answers, counted calls.
struct ScriptedPrompts {
    ARCPROMPTHANDLER handler = {};
    int boxAnswer = IDCANCEL;
    std::vector<int> overwriteAnswers;  // consumed in order; then No
    std::string renameTo;               // full path for a Rename answer
    int boxes = 0;
    int overwrites = 0;
    std::vector<std::string> boxTexts;
    bool shift = false;
    ScriptedPrompts();
};

FILETIME LocalTime(int year, int month, int day, int hour = 12);
