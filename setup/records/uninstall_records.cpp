#include "setup/records/uninstall_records.h"

#include <algorithm>
#include <utility>

namespace tessera::setup {
namespace {

constexpr char16_t kMarker[] = u"TESSERA_UNINSTALL_INFORMATION";
constexpr size_t kMarkerBytes = (sizeof kMarker / sizeof kMarker[0] - 1) * 2;
constexpr size_t kTextBytes = kRecordTextUnits * 2;
constexpr size_t kPathRecordBytes = kTextBytes;
constexpr size_t kValueRecordBytes = 4 + 2 * kTextBytes;
constexpr size_t kKeyRecordBytes = 4 + kTextBytes;

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t Get32(const uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// A fixed text field: the text, then NULs up to the field's width.
bool PutText(std::vector<uint8_t>& out, const std::u16string& text) {
    if (text.size() >= kRecordTextUnits || text.find(u'\0') != std::u16string::npos) return false;
    for (size_t i = 0; i < kRecordTextUnits; ++i) {
        const char16_t unit = i < text.size() ? text[i] : u'\0';
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return true;
}

// The text of a field up to its first NUL; nothing when it has none.
std::optional<std::u16string> GetText(const uint8_t* at) {
    std::u16string text;
    for (size_t i = 0; i < kRecordTextUnits; ++i) {
        const char16_t unit = static_cast<char16_t>(at[2 * i] | at[2 * i + 1] << 8);
        if (unit == u'\0') return text;
        text.push_back(unit);
    }
    return std::nullopt;
}

size_t DataLength(RecordType type) {
    switch (type) {
    case RecordType::FileToDelete:
    case RecordType::FolderToRemove: return kPathRecordBytes;
    case RecordType::ValueToDelete: return kValueRecordBytes;
    case RecordType::KeyToDelete:
    case RecordType::AssociationToRestore: return kKeyRecordBytes;
    case RecordType::Invalid: break;
    }
    return 0;
}

bool PutRecord(std::vector<uint8_t>& out, const UninstallRecord& record) {
    const size_t length = DataLength(record.type);
    if (length == 0) return false;
    Put32(out, static_cast<uint32_t>(record.type));
    Put32(out, static_cast<uint32_t>(length));
    switch (record.type) {
    case RecordType::FileToDelete:
    case RecordType::FolderToRemove: return PutText(out, record.path);
    case RecordType::ValueToDelete:
        Put32(out, record.rootKey);
        return PutText(out, record.path) && PutText(out, record.valueName);
    case RecordType::KeyToDelete:
    case RecordType::AssociationToRestore:
        Put32(out, record.rootKey);
        return PutText(out, record.path);
    case RecordType::Invalid: break;
    }
    return false;
}

}  // namespace

UninstallRecord UninstallRecord::File(std::u16string path) {
    UninstallRecord record;
    record.type = RecordType::FileToDelete;
    record.path = std::move(path);
    return record;
}

UninstallRecord UninstallRecord::Folder(std::u16string path) {
    UninstallRecord record;
    record.type = RecordType::FolderToRemove;
    record.path = std::move(path);
    return record;
}

UninstallRecord UninstallRecord::RegistryValue(uint32_t root, std::u16string key, std::u16string value) {
    UninstallRecord record;
    record.type = RecordType::ValueToDelete;
    record.rootKey = root;
    record.path = std::move(key);
    record.valueName = std::move(value);
    return record;
}

UninstallRecord UninstallRecord::RegistryKey(uint32_t root, std::u16string key) {
    UninstallRecord record;
    record.type = RecordType::KeyToDelete;
    record.rootKey = root;
    record.path = std::move(key);
    return record;
}

UninstallRecord UninstallRecord::Association(uint32_t root, std::u16string classKey) {
    UninstallRecord record = RegistryKey(root, std::move(classKey));
    record.type = RecordType::AssociationToRestore;
    return record;
}

bool UninstallRecord::operator==(const UninstallRecord& other) const {
    return type == other.type && rootKey == other.rootKey && path == other.path && valueName == other.valueName;
}

std::optional<std::vector<uint8_t>> WriteUninstallFile(const std::vector<UninstallRecord>& records) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < kMarkerBytes / 2; ++i) {
        out.push_back(static_cast<uint8_t>(kMarker[i]));
        out.push_back(static_cast<uint8_t>(kMarker[i] >> 8));
    }
    // Newest first: the file is written from the front of a list that grows
    // at its front.
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (!PutRecord(out, *record)) return std::nullopt;
    }
    return out;
}

std::optional<std::vector<UninstallRecord>> ReadUninstallFile(const uint8_t* data, size_t size) {
    if (size < kMarkerBytes) return std::nullopt;
    for (size_t i = 0; i < kMarkerBytes / 2; ++i) {
        if (data[2 * i] != static_cast<uint8_t>(kMarker[i]) || data[2 * i + 1] != static_cast<uint8_t>(kMarker[i] >> 8))
            return std::nullopt;
    }
    std::vector<UninstallRecord> newestFirst;
    size_t at = kMarkerBytes;
    while (at < size) {
        if (size - at < 8) return std::nullopt;
        const auto type = static_cast<RecordType>(Get32(data + at));
        const uint32_t length = Get32(data + at + 4);
        at += 8;
        if (length > size - at) return std::nullopt;  // overruns the file
        const uint8_t* field = data + at;
        at += length;
        if (type == RecordType::Invalid) return std::nullopt;
        const size_t expected = DataLength(type);
        if (expected == 0) continue;  // a type this version does not know
        if (length != expected) return std::nullopt;
        UninstallRecord record;
        record.type = type;
        if (type == RecordType::ValueToDelete || type == RecordType::KeyToDelete ||
            type == RecordType::AssociationToRestore) {
            record.rootKey = Get32(field);
            field += 4;
        }
        std::optional<std::u16string> path = GetText(field);
        if (!path) return std::nullopt;
        record.path = std::move(*path);
        if (type == RecordType::ValueToDelete) {
            std::optional<std::u16string> value = GetText(field + kTextBytes);
            if (!value) return std::nullopt;
            record.valueName = std::move(*value);
        }
        newestFirst.push_back(std::move(record));
    }
    std::reverse(newestFirst.begin(), newestFirst.end());
    return newestFirst;
}

}  // namespace tessera::setup
