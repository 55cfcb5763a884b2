// Deciding, for the menus, whether one selected file is an archive: its
// format's capability bits, whether it is a self-extracting program, and the
// extension of its plain format. A file is judged by its extension through
// the engine's format registry, except a program (".exe"), which is an
// archive only when an archive's signature follows its program image; for
// that only the first bytes of the file are read, so a damaged or hostile
// file costs no more than that.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tesshell {

struct Recognition {
    bool archive = false;
    DWORD capabilities = 0;
    bool selfExtracting = false;
    std::string plainExtension;  // ".zip" for a self-extracting ZIP
};

Recognition RecognizeArchive(const std::string& path);

// The format id (FORMAT_*_SFX) of the archive that a program image carries,
// judged from its first bytes `head` (up to kProgramHeadSize of them) and
// the bytes `atEnd` found where the image ends (`imageEnd`, as the PE
// headers in `head` give it); -1 when it carries none. ProgramImageEnd reads
// that offset from the headers (0 when they are not a valid PE image).
inline constexpr size_t kProgramHeadSize = 65536;
uint64_t ProgramImageEnd(const uint8_t* head, size_t size);
int SelfExtractorFormat(const uint8_t* head, size_t size, const uint8_t* atEnd, size_t atEndSize);

}  // namespace tesshell
