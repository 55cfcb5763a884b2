// Portable pieces of writing a ZIP archive: how a path on disk becomes a
// stored name, the bytes of a local record and of the end of the directory,
// and the DOS time arithmetic of the update decisions.
#pragma once

#include <cstdint>
#include <string>

#include "zip/zip_records.h"

namespace tessera::zip {

// The stored name of a file to add, from its full path (ANSI, either
// separator): the drive ("X:") and leading separators go, backslashes become
// slashes, `dropFolders` leading folders are removed, without `keepFolders`
// only the last component stays, and a folder gets a trailing "/". "." and
// ".." components are dropped so a name never climbs out of the archive's
// root. Empty when nothing is left. Code-page conversion is the caller's.
std::string StoredNameFromPath(const std::string& path, unsigned dropFolders, bool keepFolders, bool isFolder);

// Local header, name and extra field as they are written.
std::string LocalRecordBytes(const LocalHeader& header, const std::string& name, const std::string& extra);

// End record and comment.
std::string EndRecordBytes(uint16_t entryCount, uint32_t centralSize, uint32_t centralOffset,
                           const std::string& comment);

// One comparable value of a DOS date and time: date * 65536 + time.
inline uint32_t DosStamp(uint16_t date, uint16_t time) { return (static_cast<uint32_t>(date) << 16) | time; }

// The largest name, comment or extra field a record can carry.
constexpr size_t kMaxFieldLength = 0xFFFF;
// The most entries an end record can count.
constexpr size_t kMaxEntries = 0xFFFF;

}  // namespace tessera::zip
