// Display helpers shared by every window of the system: byte counts, file
// times and placing a dialog over its owner. Numbers use a fixed format
// (decimal comma, thousands point) whatever the user's locale; dates and
// times follow the user's locale.
#include "tescore.h"

#include <windows.h>

#include "core/messages.h"
#include "core/module.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr int kUnknownTimeChars = 20;

// Units of the short form, one step per division by 1024.
const char* const kUnits[] = {"Bytes", "KB", "MB", "GB", "TB", "PB", "EB"};

// Writes the digits of value with a point between groups of three.
void FormatFullNumber(uint64_t value, char* out) {
    char reversed[32];
    int n = 0;
    do {
        if (n % 4 == 3) reversed[n++] = '.';
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
    out[n] = '\0';
}

// Three significant digits, truncated, with the largest unit that keeps the
// number below 1000. The value is scaled by 100 first so that two decimals
// survive the divisions; the product needs up to 71 bits, so it is kept as a
// pair of 64-bit words and divided by 1024 with shifts.
void FormatShortSize(uint64_t value, char* out) {
    const uint64_t hiPart = (value >> 32) * 100;         // < 2^39
    const uint64_t loPart = (value & 0xFFFFFFFFu) * 100;  // < 2^39
    uint64_t lo = (hiPart << 32) + loPart;
    uint64_t hi = (hiPart >> 32) + (lo < loPart ? 1 : 0);
    unsigned unit = 0;
    while (hi != 0 || lo >= 100000) {
        lo = (lo >> 10) | (hi << 54);
        hi >>= 10;
        ++unit;
    }
    const unsigned v = static_cast<unsigned>(lo);  // below 100,000: five digits

    int written = 0;
    unsigned divisor = 10000;
    for (int position = 1; position <= 5; ++position, divisor /= 10) {
        const char digit = static_cast<char>('0' + v / divisor % 10);
        if (written == 4) break;
        if (position == 4) {
            if (unit == 0 || written == 3) break;  // bytes have no decimals
            out[written++] = ',';
        }
        if (position <= 2 && digit == '0' && written == 0) continue;  // no leading zeros
        out[written++] = digit;
    }
    out[written++] = ' ';
    std::strcpy(out + written, kUnits[unit]);
}

// The catalogue text when the module carries it (the DLL), else the same
// text built in.
void UnknownTime(char* out) {
    if (LoadStringA(EngineModule(), IDS_UNKNOWN, out, kUnknownTimeChars + 1) <= 0)
        std::strcpy(out, "(Unknown)");
}

}  // namespace

TESAPI LPSTR WINAPI FormatFileSize(int style, DWORD low, DWORD high, LPSTR text) {
    if (!text) return text;
    if (low == 0xFFFFFFFFu) {  // size unknown
        std::strcpy(text, "?");
        return text;
    }
    const uint64_t value = (static_cast<uint64_t>(high) << 32) | low;
    if (style == 0)
        FormatFullNumber(value, text);
    else if (style == 1)
        FormatShortSize(value, text);
    return text;
}

TESAPI LPSTR WINAPI FormatFileTime(const FILETIME* time, LPSTR text, int dateStyle, int timeStyle) {
    if (!text) return text;
    FILETIME local;
    SYSTEMTIME fields;
    if (!time || !FileTimeToLocalFileTime(time, &local) || !FileTimeToSystemTime(&local, &fields)) {
        UnknownTime(text);
        return text;
    }
    int used = 0;  // characters written, without the terminator
    text[0] = '\0';
    if (dateStyle != 0) {
        const DWORD flags = dateStyle == 1 ? DATE_LONGDATE : DATE_SHORTDATE;
        const int n = GetDateFormatA(LOCALE_USER_DEFAULT, flags, &fields, nullptr, text, MAX_PATH);
        used = n > 0 ? n - 1 : 0;
        text[used] = '\0';
    }
    if (timeStyle != 0) {
        int start = used;
        if (used > 0 && used < MAX_PATH - 1) text[start++] = ' ';
        const DWORD flags = timeStyle == 2   ? TIME_NOMINUTESORSECONDS
                            : timeStyle == 3 ? TIME_NOSECONDS
                                             : 0;
        const int n = GetTimeFormatA(LOCALE_USER_DEFAULT, flags, &fields, nullptr, text + start,
                                     MAX_PATH - start);
        text[n > 0 ? start + n - 1 : used] = '\0';  // no stray space when the time fails
    }
    return text;
}

TESAPI BOOL WINAPI CenterDialog(HWND dialog) {
    HWND reference = GetParent(dialog);
    if (!reference || IsIconic(reference)) reference = GetDesktopWindow();

    RECT box, area;
    if (!GetWindowRect(dialog, &box) || !GetWindowRect(reference, &area)) return FALSE;
    const LONG width = box.right - box.left;
    const LONG height = box.bottom - box.top;
    LONG x = area.left + (area.right - area.left - width) / 2;
    LONG y = area.top + (area.bottom - area.top - height) / 2;

    int screenWidth = 0, screenHeight = 0;
    if (HDC dc = GetDC(dialog)) {
        screenWidth = GetDeviceCaps(dc, HORZRES);
        screenHeight = GetDeviceCaps(dc, VERTRES);
        ReleaseDC(dialog, dc);
    }
    // Right and bottom edges first, so that a dialog larger than the screen
    // keeps its title bar (top-left corner) visible.
    if (x + width > screenWidth) x = screenWidth - width;
    if (x < 0) x = 0;
    if (y + height > screenHeight) y = screenHeight - height;
    if (y < 0) y = 0;
    return SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
