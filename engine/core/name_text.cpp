// Stored names and comments to and from the process's code page (see name_text.h).
#include "core/name_text.h"

#include <cstdlib>
#include <vector>

namespace tessera {
namespace {

constexpr UINT kLatin1 = 28591;

std::wstring Widen(UINT codePage, const char* bytes, size_t length) {
    if (length == 0 || length > 0x7FFFFFFF) return std::wstring();
    const int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), &wide[0], n);
    return wide;
}

std::string Narrow(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

std::string Recode(UINT from, UINT to, const char* bytes, size_t length) {
    if (IsPlainAscii(bytes, length)) return std::string(bytes, length);
    // Same code page: as it is, unless it is broken UTF-8, which the round
    // trip turns into replacement characters.
    if (from == to && (to != CP_UTF8 || IsValidUtf8(bytes, length))) return std::string(bytes, length);
    return Narrow(to, Widen(from, bytes, length));
}

}  // namespace

UINT SystemOemCodePage() {
    static const UINT codePage = [] {
        char digits[8] = {};
        if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTCODEPAGE, digits, sizeof digits) > 0) {
            const UINT value = static_cast<UINT>(std::strtoul(digits, nullptr, 10));
            if (value != 0 && value != CP_UTF8 && IsValidCodePage(value)) return value;
        }
        const UINT oem = GetOEMCP();
        return oem != CP_UTF8 ? oem : 437u;
    }();
    return codePage;
}

bool IsPlainAscii(const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
    return true;
}

bool IsValidUtf8(const char* bytes, size_t length) {
    if (length == 0) return true;
    if (length > 0x7FFFFFFF) return false;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), nullptr, 0) > 0;
}

std::string StoredText(const char* bytes, size_t length, StoredEncoding encoding) {
    UINT from = CP_UTF8;
    switch (encoding) {
    case StoredEncoding::kOem: from = SystemOemCodePage(); break;
    case StoredEncoding::kUtf8: break;
    case StoredEncoding::kUtf8OrOem:
        if (!IsValidUtf8(bytes, length)) from = SystemOemCodePage();
        break;
    case StoredEncoding::kUtf8OrLatin1:
        if (!IsValidUtf8(bytes, length)) from = kLatin1;
        break;
    }
    return Recode(from, GetACP(), bytes, length);
}

std::string NameToStore(const std::string& text, bool* utf8) {
    *utf8 = !IsPlainAscii(text.data(), text.size());
    return *utf8 ? Recode(GetACP(), CP_UTF8, text.data(), text.size()) : text;
}

std::string TextToOem(const std::string& text) {
    return Recode(GetACP(), SystemOemCodePage(), text.data(), text.size());
}

}  // namespace tessera
