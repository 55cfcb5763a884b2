// Stored names and record bytes of the ZIP writer.
#include "zip/zip_writer.h"

#include <vector>

namespace tessera::zip {

std::string StoredNameFromPath(const std::string& path, unsigned dropFolders, bool keepFolders, bool isFolder) {
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') start = 2;
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = start; i <= path.size(); ++i) {
        const char c = i < path.size() ? path[i] : '\\';
        if (c == '\\' || c == '/') {
            if (!part.empty() && part != "." && part != "..") parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (parts.empty()) return std::string();
    size_t first = 0;
    if (!keepFolders) {
        first = parts.size() - 1;
    } else {
        // Never drop the last component: it is the file itself.
        first = dropFolders < parts.size() ? dropFolders : parts.size() - 1;
    }
    std::string name;
    for (size_t i = first; i < parts.size(); ++i) {
        if (!name.empty()) name.push_back('/');
        name += parts[i];
    }
    if (isFolder) name.push_back('/');
    return name;
}

std::string LocalRecordBytes(const LocalHeader& header, const std::string& name, const std::string& extra) {
    LocalHeader h = header;
    h.nameLength = static_cast<uint16_t>(name.size());
    h.extraLength = static_cast<uint16_t>(extra.size());
    uint8_t bytes[kLocalHeaderSize];
    SerializeLocalHeader(h, bytes);
    std::string out(reinterpret_cast<const char*>(bytes), sizeof bytes);
    out += name;
    out += extra;
    return out;
}

std::string EndRecordBytes(uint16_t entryCount, uint32_t centralSize, uint32_t centralOffset,
                           const std::string& comment) {
    const EndRecord r = MakeEndRecord(entryCount, centralSize, centralOffset, static_cast<uint16_t>(comment.size()));
    uint8_t bytes[kEndRecordSize];
    SerializeEndRecord(r, bytes);
    std::string out(reinterpret_cast<const char*>(bytes), sizeof bytes);
    out += comment;
    return out;
}

}  // namespace tessera::zip
