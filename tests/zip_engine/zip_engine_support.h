// Pieces the ZIP engine tests share: the archives made by peer tools at build
// time (zip_peers.py) and the folder walk that proves nothing was written
// outside a destination.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_files.h"

namespace tessera::testing {

// Path of a file made by zip_peers.py.
inline std::string PeerArchivePath(const std::string& name) {
    const char* dir = std::getenv("TESSERA_BINARY_DIR");
    return HostPathToNative(std::string(dir ? dir : ".") + "/zip-peers/" + name);
}

struct PeerArchive {
    std::string file;
    std::string password;
    std::string expect;  // "ok" or "refused"
    std::string maker;
};

inline std::vector<PeerArchive> PeerArchives() {
    std::vector<PeerArchive> archives;
    std::ifstream in(PeerArchivePath("manifest.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        PeerArchive a;
        std::getline(fields, a.file, '\t');
        std::getline(fields, a.password, '\t');
        std::getline(fields, a.expect, '\t');
        std::getline(fields, a.maker, '\t');
        archives.push_back(a);
    }
    return archives;
}

// The names directly inside a folder.
inline std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

}  // namespace tessera::testing
