// Path safety for extraction (see path_safety.h).
#include "core/path_safety.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

bool IsDeviceName(const std::string& component) {
    // The device is the part before the first period, trailing spaces ignored.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base.size() != 3 && base.size() != 4) return false;
    char upper[5] = {};
    for (size_t i = 0; i < base.size(); ++i) {
        char c = base[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    if (base.size() == 3) {
        return !strcmp(upper, "CON") || !strcmp(upper, "PRN") || !strcmp(upper, "AUX") || !strcmp(upper, "NUL");
    }
    return (!strncmp(upper, "COM", 3) || !strncmp(upper, "LPT", 3)) && upper[3] >= '1' && upper[3] <= '9';
}

// Cleans one component; returns false when it is to be dropped.
bool CleanComponent(std::string& c, bool& changed) {
    // Drive prefix (any "X:" start, as Windows reads "1:" too).
    if (c.size() >= 2 && c[1] == ':' && !IsDBCSLeadByte(static_cast<BYTE>(c[0]))) {
        c.erase(0, 2);
        changed = true;
    }
    for (size_t i = 0; i < c.size(); ++i) {
        unsigned char ch = static_cast<unsigned char>(c[i]);
        if (IsDBCSLeadByte(ch) && i + 1 < c.size()) {
            ++i;  // the trail byte is part of the character
            continue;
        }
        if (ch < 0x20 || strchr(":*?<>|\"", ch)) {
            c[i] = '_';
            changed = true;
        }
    }
    size_t keep = c.size();
    while (keep > 0 && (c[keep - 1] == '.' || c[keep - 1] == ' ')) --keep;
    if (keep != c.size()) {
        // "." and ".." end here too: nothing is left of them.
        c.resize(keep);
        changed = true;
    }
    if (c.empty()) return false;
    if (IsDeviceName(c)) {
        c.insert(0, "_");
        changed = true;
    }
    return true;
}

}  // namespace

PathVerdict MakeSafeRelativePath(const char* in, char* out, size_t outSize) {
    if (outSize) out[0] = '\0';
    if (!in) return PathVerdict::kRefused;
    bool changed = false;
    const char* p = in;
    // Device and long-path namespaces.
    if (IsPathSeparator(p[0]) && (IsPathSeparator(p[1]) || p[1] == '?') && (p[2] == '?' || p[2] == '.') && IsPathSeparator(p[3])) {
        p += 4;
        changed = true;
    }
    size_t length = strlen(p);
    bool folder = length > 0 && IsPathSeparator(p[length - 1]);
    std::string result;
    std::string component;
    for (size_t i = 0; i <= length; ++i) {
        unsigned char ch = static_cast<unsigned char>(p[i]);
        if (i < length && IsDBCSLeadByte(ch) && i + 1 < length) {
            component += p[i];
            component += p[++i];
            continue;
        }
        if (i < length && !IsPathSeparator(p[i])) {
            component += p[i];
            continue;
        }
        // Empty components (leading, doubled separators) simply vanish.
        if (!component.empty() && CleanComponent(component, changed)) {
            if (!result.empty()) result += '\\';
            result += component;
        }
        component.clear();
    }
    if (result.empty()) return PathVerdict::kRefused;
    if (folder) result += '\\';
    // Anything dropped shows as a difference; slashes turned into
    // backslashes do not count as a change.
    if (!changed) {
        std::string normal(p);
        for (char& c : normal) {
            if (c == '/') c = '\\';
        }
        changed = normal != result;
    }
    if (result.size() + 1 > outSize) return PathVerdict::kRefused;
    memcpy(out, result.c_str(), result.size() + 1);
    return changed ? PathVerdict::kChanged : PathVerdict::kUnchanged;
}
