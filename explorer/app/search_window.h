// SearchWindow: "Browse Archives", a modeless top-level window that walks a
// folder tree on a worker thread, offers every file to the engine's factory
// and lists the entries of the archives it finds that match a name mask, a
// path mask, dates and an only-encrypted condition. The search itself
// (ArchiveSearch) has no window of its own so that it can be driven and
// tested apart from the dialog.
#pragma once

#include "application.h"
#include "tescore.h"
#include "win32/com_ptr.h"
#include "win32/dialog.h"
#include "win32/handles.h"

#include <shlobj.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessera {

// What one run looks for.
struct SearchCriteria {
    HWND owner = nullptr;  // of the archive records' later dialogs
    std::vector<std::string> startFolders;  // file-system folders, without trailing "\"
    bool subFolders = true;
    bool includeExe = false;
    std::string nameMask;
    std::string pathMask;
    // Entry times (local) must lie strictly before `before` and strictly
    // after `after` when these are set.
    bool beforeSet = false;
    FILETIME before = {};
    bool afterSet = false;
    FILETIME after = {};
    bool onlyEncrypted = false;

    // At least one condition on the entries is given.
    bool HasCondition() const {
        return !nameMask.empty() || !pathMask.empty() || beforeSet || afterSet || onlyEncrypted;
    }
};

// One archive that contributed result rows. Its rows and the worker that
// lists it hold references; the last to let go offers changed temporary
// files back, deletes the archive's temporary folder (made on the first
// Open or View of an entry) and releases the object.
struct FoundArchive {
    win32::ComPtr<ICompressFormat> archive;
    std::string path;
    HWND owner = nullptr;  // the search window
    LONG references = 1;   // the worker's, until it has matched the entries

    void AddReference() { InterlockedIncrement(&references); }
    void Release();
};

// One result row. What the list shows is copied from the entry while the
// worker has the archive, so that painting never calls the engine.
struct FoundEntry {
    FoundArchive* archive;
    DWORD index;
    std::string displayPath;  // GetText kind 3
    FILETIME time;
    std::string comment;
};

// The path mask applies to the folder part of a display path including its
// trailing separator ("docs\\" for "docs\\a.txt", "" for "a.txt").
bool EntryMatches(const SearchCriteria& criteria, const HDRSTRUCT& entry, const std::string& displayPath);
// Files whose extension is ".exe" are self-extracting candidates: the text
// from the last "." with no blank, "/" or "\" after it.
bool HasExeExtension(const std::string& path);

// What the worker reports. Called on the worker thread.
class SearchSink {
public:
    virtual ~SearchSink() = default;
    virtual void FolderEntered(const std::string& folder) = 0;
    virtual void ArchiveEntered(const std::string& path) = 0;
    virtual void ArchiveLeft() = 0;
    // A file the factory took for an archive could not be listed.
    virtual void ArchiveSkipped(const std::string& path, const std::string& reason) = 0;
    // One matching entry; the sink owns it (and the archive reference it
    // carries) from now on.
    virtual void EntryFound(FoundEntry* entry) = 0;
};

// The walk and the matching. Never follows a reparse point, never enters a
// folder twice (a link back up the tree is met as a folder already seen),
// writes nothing, and stops at the next item once Stop was called; Stop
// also cancels the listing under way.
class ArchiveSearch {
public:
    explicit ArchiveSearch(SearchCriteria criteria);
    ~ArchiveSearch();
    ArchiveSearch(const ArchiveSearch&) = delete;
    ArchiveSearch& operator=(const ArchiveSearch&) = delete;
    // Runs on the calling thread until done or stopped. The engine's prompts
    // are answered on this thread without a window.
    void Run(SearchSink& sink);
    void Stop();
    bool Stopped() const { return stopped_.load(); }

private:
    void Walk(const std::string& folder, SearchSink& sink, int depth);
    void Visit(const std::string& path, SearchSink& sink);
    bool MarkVisited(const std::string& folder);

    SearchCriteria criteria_;
    std::atomic<bool> stopped_{false};
    // The object being listed, for Stop to cancel; guarded by lock_.
    CRITICAL_SECTION lock_;
    ICompressFormat* current_ = nullptr;
    std::set<std::pair<DWORD, ULONGLONG>> visited_;  // volume serial, file index
    std::string lastMessage_;

    friend struct SearchPrompts;
};

class SearchWindow : public TopLevelWindow, private win32::Dialog, private SearchSink {
public:
    SearchWindow();
    ~SearchWindow() override;
    SearchWindow(const SearchWindow&) = delete;
    SearchWindow& operator=(const SearchWindow&) = delete;

    bool IsUsable() const override { return Handle() != nullptr; }
    bool Create(HWND parent) override;
    bool PreTranslateMessage(MSG* message) override;
    void Show() override;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    HWND Window() const { return Handle(); }
    HWND Results() const { return results_; }
    HWND StatusBar() const { return status_; }
    bool Searching() const { return searching_.load(); }
    bool Expanded() const { return expanded_; }
    // The start folder as a file-system path (the drives when empty).
    void SetStartFolder(const std::string& path);
    const FoundEntry* Row(int item) const;

    // The commands of the window and of its results popup.
    void StartSearch();
    void StopSearch();
    void NewSearch();
    // Open, View, Properties, Open archive, and 0 for dragging the selected
    // rows out.
    void RunFoundEntryCommand(UINT command);
    // Sorts by a column (a second click on the same column turns the order).
    void SortBy(int column);

    // Minimum window sizes in pixels.
    static constexpr int kMinimumWidth = 575;
    static constexpr int kCollapsedHeight = 242;
    static constexpr int kMinimumExpandedHeight = 322;

private:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int code, HWND control) override;
    BOOL OnNotify(NMHDR* header) override;
    BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDestroy() override;
    void OnDetached() override;

    void FolderEntered(const std::string& folder) override;
    void ArchiveEntered(const std::string& path) override;
    void ArchiveLeft() override;
    void ArchiveSkipped(const std::string& path, const std::string& reason) override;
    void EntryFound(FoundEntry* entry) override;

    static DWORD WINAPI WorkerMain(void* parameter);
    // The worker has ended (or is made to end): its handle closed, the
    // status and buttons of an idle window.
    void FinishSearch();
    void WaitForWorker();
    void UpdateStartButton();
    void Expand(bool expand);
    void Layout();
    void CreateLowerPart();
    void CreateDatePickers();
    void ClearResults();
    void ReleaseRow(FoundEntry* row);
    void ShowResultsMenu(POINT at);
    void OpenFoundArchive();
    // The focused row, else the first selected one; null when none.
    const FoundEntry* CommandRow() const;
    void ShowFoundEntryProperties(const FoundEntry& row);
    void DragFoundEntries();
    void BrowseForStartFolder();
    void SetStatus(int part, const std::string& text);
    void SaveLayout();
    std::vector<int> SelectedItems() const;

    HWND results_ = nullptr;
    HWND status_ = nullptr;
    HWND before_ = nullptr;
    HWND after_ = nullptr;
    std::string startFolder_;  // empty: every drive of the computer
    win32::KernelHandle worker_;
    std::unique_ptr<ArchiveSearch> search_;  // the run under way; the worker only reads it
    std::atomic<bool> searching_{false};
    bool expanded_ = false;
    int collapsedClientHeight_ = 0;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    LONG skipped_ = 0;  // archives the worker could not list
    bool listed_ = false;
};

// A new Browse Archives window, shown (command 40030 and "/F"); null when
// it cannot be made.
SearchWindow* NewSearchWindow();

}  // namespace tessera
