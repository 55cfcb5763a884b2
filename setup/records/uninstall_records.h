// The uninstall information of an installation ("Uninstall.dat"): what Setup
// created, as records the uninstaller replays. Portable (no windows.h).
//
// File layout, little-endian: the marker "TESSERA_UNINSTALL_INFORMATION" in
// UTF-16 without a terminator, then records up to the end of the file, each
// a 32-bit type, a 32-bit data length and the data:
//
//   1 file to delete        path: 260 UTF-16 units, NUL-padded   (520 bytes)
//   2 folder to remove      path as for 1                        (520 bytes)
//   3 registry value        32-bit root key, key path, value name (1044 bytes)
//   4 registry key          32-bit root key, key path            (524 bytes)
//   5 association to hand back  32-bit root key, path of the extension's
//                           class key                            (524 bytes)
//
// Type 0 and a type 1-5 record of any other length make the file invalid;
// other types are skipped whatever their length. The last record must end
// exactly at the end of the file.
//
// The file holds the records newest first; in memory they are kept in the
// order they were made, which is the order the uninstaller replays them in
// (a folder's record comes after the records of what it held).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessera::setup {

enum class RecordType : uint32_t {
    Invalid = 0,
    FileToDelete = 1,
    FolderToRemove = 2,
    ValueToDelete = 3,
    KeyToDelete = 4,
    // The extension goes back to the owner it had before Setup associated
    // it (kept in the class key's value "Tessera.PreviousOwner").
    AssociationToRestore = 5,
};

// The predefined registry roots as the records store them (the values of
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE).
constexpr uint32_t kRootCurrentUser = 0x80000001u;
constexpr uint32_t kRootLocalMachine = 0x80000002u;

// Fixed width of every path and name field, terminator included.
constexpr size_t kRecordTextUnits = 260;

struct UninstallRecord {
    RecordType type = RecordType::Invalid;
    uint32_t rootKey = 0;    // registry records
    std::u16string path;     // the file or folder; the key path of a registry record
    std::u16string valueName;  // ValueToDelete

    static UninstallRecord File(std::u16string path);
    static UninstallRecord Folder(std::u16string path);
    static UninstallRecord RegistryValue(uint32_t root, std::u16string key, std::u16string value);
    static UninstallRecord RegistryKey(uint32_t root, std::u16string key);
    static UninstallRecord Association(uint32_t root, std::u16string classKey);

    bool operator==(const UninstallRecord& other) const;
};

// The bytes of the file for records in the order they were made; nothing
// when a text does not fit its field (259 units at most) or a record has an
// unknown type.
std::optional<std::vector<uint8_t>> WriteUninstallFile(const std::vector<UninstallRecord>& records);

// The records of a file in the order they were made; nothing when the file
// is not valid (see above; a text field without a terminator is invalid too).
std::optional<std::vector<UninstallRecord>> ReadUninstallFile(const uint8_t* data, size_t size);
inline std::optional<std::vector<UninstallRecord>> ReadUninstallFile(const std::vector<uint8_t>& bytes) {
    return ReadUninstallFile(bytes.data(), bytes.size());
}

}  // namespace tessera::setup
