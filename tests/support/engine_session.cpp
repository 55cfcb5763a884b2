// Engine test support: see engine_session.h.
#include "engine_session.h"

#include "test_files.h"

#include <cstdlib>

namespace tessera::testing {
namespace {

int CALLBACK AnswerOk(void*, HWND, LPCSTR, LPCSTR, UINT) { return IDOK; }
int CALLBACK OverwriteYes(void*, HWND, ARCOVERWRITEPROMPT*) { return OVERWRITE_RESULT_YES; }
BOOL CALLBACK ShiftUp(void*) { return FALSE; }

void CALLBACK AppendLog(ICompressFormat*, LPARAM user, LPCSTR text) {
    *reinterpret_cast<std::string*>(user) += text;
}

void Gather(const std::string& root, const std::string& prefix, FileMap& out) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((root + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Gather(root + "\\" + name, prefix + name + "/", out);
        } else {
            std::vector<uint8_t> bytes = ReadWholeFile(root + "\\" + name);
            out[prefix + name] = {bytes.size(), ReferenceCrc32(bytes.data(), bytes.size())};
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

}  // namespace

const ARCPROMPTHANDLER kQuietAnswers = {nullptr, AnswerOk, OverwriteYes, nullptr, nullptr, ShiftUp,
                                        ARCPROMPT_NOSTATUSDIALOG};

OpenedArchive::OpenedArchive(const std::string& path, const ARCPROMPTHANDLER* answers, bool collectLog) {
    ArcSetPromptHandler(answers);
    created = ArcCreateObject(nullptr, path.c_str(), &object);
    if (object && collectLog) object->SetMessageCallback(AppendLog, reinterpret_cast<LPARAM>(&log));
}

OpenedArchive::~OpenedArchive() {
    if (object) object->Release();
    ArcSetPromptHandler(nullptr);
}

HRESULT OpenedArchive::Extract(const std::string& folder, SELHDRSTRUCT* selection, DWORD count, HWND owner) {
    return object->Extract(owner, OVERWRITE_ALL, TRUE, FALSE, (folder + "\\").c_str(), selection, count);
}

std::vector<std::string> OpenedArchive::Names() const {
    std::vector<std::string> names;
    for (DWORD i = 0; i < object->GetEntryCount(); ++i) names.push_back(object->GetEntries()[i].name);
    return names;
}

FileMap FilesBelow(const std::string& root) {
    FileMap files;
    Gather(root, "", files);
    return files;
}

OwnerWindow::OwnerWindow() {
    window_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

OwnerWindow::~OwnerWindow() {
    if (window_) DestroyWindow(window_);
}

void SetEngineFileFault(DWORD kind, const char* spec) {
    unsigned long nth = 0, error = 0;
    if (spec) {
        char* end = nullptr;
        nth = std::strtoul(spec, &end, 10);
        if (end && *end == ',') error = std::strtoul(end + 1, nullptr, 10);
    }
    ArcTestingSetFileFault(kind, static_cast<DWORD>(nth), static_cast<DWORD>(error));
}

}  // namespace tessera::testing
