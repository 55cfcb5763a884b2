// Pieces shared by the tests that drive the engine through tescore.dll
// (Windows builds, run under Wine): an archive object opened by the factory
// with its log collected, quiet answers to the engine's questions, and the
// files below a folder as name -> (size, CRC) for comparing extractions.
#pragma once

#include "tescore.h"
#include "tescore_testing.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tessera::testing {

// Every message box OK, overwrite yes, Shift not held, no status dialog.
extern const ARCPROMPTHANDLER kQuietAnswers;

// One archive object made by ArcCreateObject for `path`, with `answers`
// installed for the process while it lives and the engine's log lines
// gathered in `log`. The answers record must outlive the object.
class OpenedArchive {
public:
    explicit OpenedArchive(const std::string& path, const ARCPROMPTHANDLER* answers = &kQuietAnswers,
                           bool collectLog = true);
    ~OpenedArchive();
    OpenedArchive(const OpenedArchive&) = delete;
    OpenedArchive& operator=(const OpenedArchive&) = delete;

    HRESULT List(HWND owner = nullptr) { return object->List(owner); }
    HRESULT Test(HWND owner = nullptr) { return object->Test(owner); }
    // Extracts with folder names, overwriting, into `folder`.
    HRESULT Extract(const std::string& folder, SELHDRSTRUCT* selection = nullptr, DWORD count = 0,
                    HWND owner = nullptr);
    // The stored names of the listed entries, in archive order.
    std::vector<std::string> Names() const;
    const HDRSTRUCT& Entry(DWORD index) const { return object->GetEntries()[index]; }

    ICompressFormat* object = nullptr;
    HRESULT created = E_FAIL;
    std::string log;
};

inline bool LogHas(const std::string& log, const char* text) { return log.find(text) != std::string::npos; }

// Files below `root`: name with '/' -> (size, CRC-32).
using FileMap = std::map<std::string, std::pair<uint64_t, uint32_t>>;
FileMap FilesBelow(const std::string& root);

// A hidden window to own the engine's questions: without an owner window
// the engine runs unattended and asks nobody.
class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND Handle() const { return window_; }

private:
    HWND window_;
};

// Makes the engine's file I/O fail in every following operation: spec "N"
// or "N,ERROR" (the Nth write or read of an operation fails with ERROR);
// null or "0" ends the fault. kind: ARC_FAULT_WRITE or ARC_FAULT_READ.
void SetEngineFileFault(DWORD kind, const char* spec);

}  // namespace tessera::testing
