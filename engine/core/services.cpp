// Late-bound access to the settings store and display helpers of the engine
// module (see services.h).
#include "core/services.h"

#include "core/module.h"

#include <cstdio>

namespace {

template <typename Proc>
Proc Lookup(const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(EngineModule(), name)));
}

}  // namespace

bool ReadSettingInt(LPCSTR section, LPCSTR name, DWORD* value) {
    using Proc = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD*);
    auto proc = Lookup<Proc>("GetProfileInt");
    return proc && proc(section, name, value);
}

void WriteSettingInt(LPCSTR section, LPCSTR name, DWORD value) {
    using Proc = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    if (auto proc = Lookup<Proc>("PutProfileInt")) proc(section, name, value);
}

void FormatSizeText(DWORD low, DWORD high, LPSTR out) {
    using Proc = LPSTR(WINAPI*)(int, DWORD, DWORD, LPSTR);
    if (auto proc = Lookup<Proc>("FormatFileSize")) {
        proc(1, low, high, out);
        return;
    }
    snprintf(out, 64, "%llu Bytes", (static_cast<unsigned long long>(high) << 32) | low);
}

void FormatTimeText(const FILETIME& utc, LPSTR out) {
    using Proc = LPSTR(WINAPI*)(const FILETIME*, LPSTR, int, int);
    if (auto proc = Lookup<Proc>("FormatFileTime")) {
        proc(&utc, out, 1, 1);
        return;
    }
    FILETIME local;
    SYSTEMTIME st;
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st)) {
        snprintf(out, MAX_PATH, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                 st.wSecond);
    } else {
        out[0] = '\0';
    }
}

void CenterOverOwner(HWND dialog) {
    using Proc = BOOL(WINAPI*)(HWND);
    if (auto proc = Lookup<Proc>("CenterDialog")) proc(dialog);
}
