// ComboHistory: a combo box that remembers up to ten texts as the values
// "Item00" .. "Item09" of one settings section, newest first.
#pragma once

#include <windows.h>

#include <string>

namespace tesview {

class ComboHistory {
public:
    static constexpr int kMaxItems = 10;

    ComboHistory(HWND combo, std::string section) : combo_(combo), section_(std::move(section)) {}
    // Adds every non-empty stored value in index order. Returns the count.
    int Load();
    // Moves text to the top (removing an equal item, compared without
    // regard to case) and writes the first ten items back; values of
    // missing items are deleted.
    void Use(const char* text);
    void Save();

private:
    HWND combo_;
    std::string section_;
};

}  // namespace tesview
