#include "setup/records/installation_layout.h"

namespace tessera::setup {
namespace {

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualFolded(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

bool IsPlainPart(const std::u16string& part) {
    if (part.empty() || part == u"." || part == u"..") return false;
    const char16_t last = part.back();
    if (last == u'.' || last == u' ') return false;
    for (char16_t c : part) {
        if (c < 0x20 || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
            c == u'|')
            return false;
    }
    return true;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace

bool IsPlainAbsolutePath(const std::u16string& path) {
    if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') return false;
    const char16_t drive = FoldAscii(path[0]);
    if (drive < u'a' || drive > u'z') return false;
    const std::u16string rest = WithoutTrailingBackslash(path.substr(3));
    if (rest.empty()) return path.size() == 3;  // the drive's root
    size_t start = 0;
    while (true) {
        const size_t end = rest.find(u'\\', start);
        if (!IsPlainPart(rest.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start)))
            return false;
        if (end == std::u16string::npos) return true;
        start = end + 1;
    }
}

std::u16string WithoutTrailingBackslash(std::u16string path) {
    // A drive's root keeps its backslash: "C:" alone names the drive's current folder.
    while (!path.empty() && path.back() == u'\\' && !(path.size() == 3 && path[1] == u':')) path.pop_back();
    return path;
}

bool SamePath(const std::u16string& a, const std::u16string& b) {
    return EqualFolded(WithoutTrailingBackslash(a), WithoutTrailingBackslash(b));
}

bool IsBelow(const std::u16string& path, const std::u16string& folder) {
    std::u16string base = WithoutTrailingBackslash(folder);
    if (base.empty()) return false;
    if (base.back() != u'\\') base.push_back(u'\\');
    const std::u16string inner = WithoutTrailingBackslash(path);
    return inner.size() > base.size() && EqualFolded(inner.substr(0, base.size()), base);
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
    std::u16string path = WithoutTrailingBackslash(folder);
    if (path.empty() || path.back() != u'\\') path.push_back(u'\\');
    return path + name;
}

namespace {

bool IsAssociationKey(const std::u16string& key) {
    if (EqualFolded(key, kProgramClassKey)) return true;
    for (const char16_t* subkey : kProgramClassSubkeys) {
        if (EqualFolded(key, std::u16string(kProgramClassKey) + subkey)) return true;
    }
    return false;
}

}  // namespace

uint32_t RecordedRegistryRoot(const std::vector<UninstallRecord>& records) {
    for (const UninstallRecord& record : records) {
        if (record.type == RecordType::ValueToDelete || record.type == RecordType::KeyToDelete ||
            record.type == RecordType::AssociationToRestore)
            return record.rootKey;
    }
    return 0;
}

bool RecordsWithinInstallation(const std::vector<UninstallRecord>& records, const InstallationFolders& folders,
                               std::string* why) {
    auto refuse = [&](size_t index, const char* reason) {
        if (why) *why = "record " + std::to_string(index + 1) + " (" + Narrow(records[index].path) + "): " + reason;
        return false;
    };
    // An installation folder that is a drive's root would let the records
    // name any file of the drive.
    if (!IsPlainAbsolutePath(folders.installation) ||
        WithoutTrailingBackslash(folders.installation).size() <= 3) {
        if (why) *why = "the installation folder is not a plain folder path";
        return false;
    }
    const uint32_t root = RecordedRegistryRoot(records);
    for (size_t i = 0; i < records.size(); ++i) {
        const UninstallRecord& record = records[i];
        switch (record.type) {
        case RecordType::FileToDelete: {
            if (!IsPlainAbsolutePath(record.path)) return refuse(i, "not a plain absolute path");
            const bool allowed = IsBelow(record.path, folders.installation) ||
                                 SamePath(record.path, JoinPath(folders.desktop, kDesktopShortcutName)) ||
                                 SamePath(record.path, JoinPath(folders.programGroup, kProgramShortcutName)) ||
                                 SamePath(record.path, JoinPath(folders.programGroup, kReadmeShortcutName)) ||
                                 SamePath(record.path, JoinPath(folders.programGroup, kUninstallShortcutName));
            if (!allowed) return refuse(i, "a file Setup does not create");
            break;
        }
        case RecordType::FolderToRemove:
            if (!IsPlainAbsolutePath(record.path)) return refuse(i, "not a plain absolute path");
            if (!IsBelow(record.path, folders.installation) && !SamePath(record.path, folders.programGroup))
                return refuse(i, "a folder Setup does not create");
            break;
        case RecordType::ValueToDelete: {
            if (record.rootKey != root) return refuse(i, "a second registry root");
            const bool allowed = EqualFolded(record.path, kUninstallKey) &&
                                 (EqualFolded(record.valueName, kDisplayNameValue) ||
                                  EqualFolded(record.valueName, kUninstallStringValue));
            if (!allowed) return refuse(i, "a registry value Setup does not write");
            break;
        }
        case RecordType::KeyToDelete:
            if (record.rootKey != root) return refuse(i, "a second registry root");
            if (!EqualFolded(record.path, kAppPathsKey) && !IsAssociationKey(record.path))
                return refuse(i, "a registry key Setup does not write");
            break;
        case RecordType::AssociationToRestore:
            if (record.rootKey != root) return refuse(i, "a second registry root");
            if (!EqualFolded(record.path, kZipClassKey)) return refuse(i, "an association Setup does not make");
            break;
        case RecordType::Invalid: return refuse(i, "an invalid record");
        }
    }
    if (root != 0 && root != kRootCurrentUser && root != kRootLocalMachine) {
        if (why) *why = "registry root neither the current user's nor the machine's";
        return false;
    }
    return true;
}

}  // namespace tessera::setup
