// The self-extractor stub: what the shared part offers the archive readers.
//
// One Extraction is one run over the archive appended to the stub's own
// file. The reader of the stub's format (zip_extract.cpp, cab_extract.cpp or
// ace_extract.cpp) walks the archive and, per entry, asks the run for a
// target (BeginFile), writes through it (Write) and finishes it
// (FinishFile). The run keeps the record of everything it created, so a
// failed or cancelled run, or a wait-and-delete after the program, removes
// exactly that.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32/handles.h"

namespace tessera::sfx {

// How a stored name is encoded.
enum class NameCoding { kOem, kAnsi, kUtf8 };

// What the user interface shows and answers during a run; the dialogs of the
// two flavours and the unattended mode each supply one.
class RunView {
public:
    virtual ~RunView() = default;
    // An error message, already formatted.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void ShowCurrentFile(const std::string& fileName) = 0;
    virtual void SetProgress(uint32_t units) = 0;
    // Lets the windows handle what is pending (Cancel stays usable).
    virtual void Pump() = 0;
    enum class OverwriteAnswer { kYes, kYesToAll, kNo, kCancel };
    virtual OverwriteAnswer AskOverwrite(const std::string& path) = 0;
    // The program `fileName` is about to start (and be waited for).
    virtual void ShowProgramStart(const std::string& fileName) { (void)fileName; }
    // What was extracted is being deleted again.
    virtual void ShowDeleting() {}

    // Set by the window's Cancel; the run stops at its next write.
    bool cancelRequested = false;
};

// Loads string `id` of the stub's table and formats it printf-style.
std::string FormatMessage(UINT id, ...);

class Extraction {
public:
    Extraction(HANDLE ownFile, const std::string& ownPath, uint64_t origin, const std::string& destination,
               bool overwrite, bool askBeforeOverwrite, RunView& view);
    ~Extraction();
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    HANDLE OwnFile() const { return ownFile_; }
    const std::string& OwnPath() const { return ownPath_; }
    uint64_t Origin() const { return origin_; }
    uint64_t OwnFileSize() const;
    // Reads `size` bytes at `offset` of the own file; false on a short read.
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got = nullptr) const;

    // Creates the destination folder, each missing level recorded. False
    // (message 5 shown) when it cannot be made.
    bool CreateDestination();

    // A folder entry: its folder and every missing level on the way.
    void MakeFolderEntry(const std::string& storedName, NameCoding coding);

    // Prepares the target of a file entry. Returns the open output file, or
    // INVALID_HANDLE_VALUE when the entry is passed over (declined, refused
    // name, or a failure already reported; Cancelled() tells a cancel).
    HANDLE BeginFile(const std::string& storedName, NameCoding coding, uint32_t size);
    // Writes to the current target: progress, CRC, pending messages. False
    // on cancel or a failed write (message 4 shown).
    bool Write(const void* data, size_t size);
    // Closes the current target. `whole`: the data is complete and checked;
    // otherwise (or after a cancel) the file is deleted again. Sets the
    // entry's low attribute bits and its DOS time (local time).
    void FinishFile(bool whole, uint16_t dosDate, uint16_t dosTime, uint32_t attributes);
    uint32_t Crc() const { return ~crc_; }

    // Bytes of entries passed over still count towards the progress.
    void AdvanceProgress(uint64_t bytes);

    void Message(UINT id, ...);
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_ || view_.cancelRequested; }
    // An entry failed or was left out although the run went on.
    void NoteEntryFailed() { entryFailed_ = true; }
    bool EntryFailed() const { return entryFailed_; }

    // Removes everything recorded, newest first.
    void DeleteRecorded();

private:
    bool CreateFolderLevels(const std::string& folder);
    bool TargetPath(const std::string& storedName, NameCoding coding, std::string* path, std::string* shown);

    HANDLE ownFile_;
    std::string ownPath_;
    uint64_t origin_;
    std::string destination_;
    bool overwriteAll_;
    bool ask_;
    RunView& view_;

    struct Created {
        std::string path;
        bool folder;
    };
    std::vector<Created> record_;

    win32::FileHandle target_;
    std::string targetPath_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t written_ = 0;
    bool cancelled_ = false;
    bool entryFailed_ = false;
};

// The reader of the stub's format: extracts every entry. False when the run
// fails (damaged archive, write failure, cancel); entry failures that let
// the run go on are noted on the run.
bool ExtractAppendedArchive(Extraction& run);

}  // namespace tessera::sfx
