// ComboHistory: combo box texts kept as "Item%02lX" values of a section.
#include "combo_history.h"

#include "tescore.h"

#include <cstdio>

namespace tesview {
namespace {

void ValueName(int index, char (&name)[16]) {
    snprintf(name, sizeof name, "Item%02lX", static_cast<unsigned long>(index));
}

}  // namespace

int ComboHistory::Load() {
    int added = 0;
    for (int i = 0; i < kMaxItems; ++i) {
        char name[16];
        ValueName(i, name);
        char text[MAX_PATH] = "";
        if (GetProfileString(section_.c_str(), name, text) && text[0]) {
            SendMessageA(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
            ++added;
        }
    }
    return added;
}

void ComboHistory::Use(const char* text) {
    std::string copy = text ? text : "";  // text may be the combo's own item
    LRESULT found = SendMessageA(combo_, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(copy.c_str()));
    if (found != CB_ERR) SendMessageA(combo_, CB_DELETESTRING, static_cast<WPARAM>(found), 0);
    SendMessageA(combo_, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(copy.c_str()));
    Save();
}

void ComboHistory::Save() {
    int count = static_cast<int>(SendMessageA(combo_, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < kMaxItems; ++i) {
        char name[16];
        ValueName(i, name);
        char text[MAX_PATH] = "";
        LRESULT length = i < count ? SendMessageA(combo_, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) : CB_ERR;
        if (length != CB_ERR && length < MAX_PATH &&
            SendMessageA(combo_, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text)) != CB_ERR) {
            PutProfileString(section_.c_str(), name, text);
        } else {
            PutProfileString(section_.c_str(), name, nullptr);
        }
    }
}

}  // namespace tesview
