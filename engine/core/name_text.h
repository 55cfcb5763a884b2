// Names and comments as archives store them, and as this process shows them.
//
// Every reader turns a stored name into text of the process's code page
// (CP_ACP) once, where it reads the name; above the readers names are text.
// That code page is UTF-8 in the programs (their manifests ask for it), so
// any script survives; in a process that keeps a legacy code page (the shell
// extension inside the shell) characters it lacks become '?'.
//
// Names stored in the OEM code page are converted from the system's real
// OEM code page: a process running with UTF-8 answers 65001 to GetOEMCP too.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace tessera {

enum class StoredEncoding {
    kOem,           // DOS-era formats, ZIP without its UTF-8 flag, cabinets without theirs
    kUtf8,          // flagged UTF-8 (ZIP bit 11, ZIP extra 0x7075, cabinet attribute 0x80, pax)
    kUtf8OrOem,     // TAR names: UTF-8 when they are valid UTF-8, else OEM
    kUtf8OrLatin1,  // gzip FNAME: ISO 8859-1 by definition, UTF-8 from today's tools
};

// The system's OEM code page (from the system locale, not GetOEMCP).
UINT SystemOemCodePage();

// Stored bytes as text of the process's code page. Bytes that are not
// valid in their encoding come out as replacement characters, never as a
// failure: a name is always shown.
std::string StoredText(const char* bytes, size_t length, StoredEncoding encoding);
inline std::string StoredText(const std::string& bytes, StoredEncoding encoding) {
    return StoredText(bytes.data(), bytes.size(), encoding);
}

// Text of the process's code page as a name to store where names are OEM
// unless flagged: plain ASCII stays as it is (`*utf8` false); anything else
// is stored as UTF-8 (`*utf8` true), which today's readers all understand.
std::string NameToStore(const std::string& text, bool* utf8);

// Text of the process's code page in the system's OEM code page (the
// password bytes of traditional ZIP encryption); '?' for what it lacks.
std::string TextToOem(const std::string& text);

bool IsPlainAscii(const char* bytes, size_t length);
bool IsValidUtf8(const char* bytes, size_t length);

}  // namespace tessera
