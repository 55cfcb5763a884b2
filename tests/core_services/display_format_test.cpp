// Display helpers: byte counts in their two styles, file times in the user's
// date and time formats, and dialogs centred over their owners.
#include <gtest/gtest.h>

#include "tescore.h"

#include <cstring>
#include <string>

namespace {

struct SizeCase {
    int style;
    DWORD low;
    DWORD high;
    const char* text;
};

// Numbers have a fixed format: points between thousands, a decimal comma,
// three significant digits truncated in the short form.
const SizeCase kSizeCases[] = {
    // Full number.
    {0, 0, 0, "0"},
    {0, 999, 0, "999"},
    {0, 1000, 0, "1.000"},
    {0, 1234567, 0, "1.234.567"},
    {0, 0xFFFFFFFE, 0, "4.294.967.294"},
    {0, 0, 1, "4.294.967.296"},
    {0, 0xFFFFFFFE, 0xFFFFFFFF, "18.446.744.073.709.551.614"},
    // Short form.
    {1, 0, 0, "0 Bytes"},
    {1, 5, 0, "5 Bytes"},
    {1, 999, 0, "999 Bytes"},
    {1, 1000, 0, "0,97 KB"},
    {1, 1024, 0, "1,00 KB"},
    {1, 1536, 0, "1,50 KB"},
    {1, 10240, 0, "10,0 KB"},
    {1, 102400, 0, "100 KB"},
    {1, 1500000, 0, "1,43 MB"},
    {1, 16777215, 0, "15,9 MB"},  // last value of the 32-bit path
    {1, 16777216, 0, "16,0 MB"},  // first value of the 64-bit path
    {1, 123456789, 0, "117 MB"},
    {1, 0xFFFFFFFE, 0, "3,99 GB"},
    {1, 0, 1, "4,00 GB"},
    {1, 0, 256, "1,00 TB"},
    {1, 0, 0x3E700, "999 TB"},
    // Beyond terabytes, where value x 100 no longer fits in 64 bits.
    {1, 0, 0x40000, "1,00 PB"},
    {1, 0xFFFFFFFE, 0xFFFFFFFF, "15,9 EB"},
    // An unknown size, whatever the high part and style.
    {0, 0xFFFFFFFF, 0, "?"},
    {1, 0xFFFFFFFF, 0, "?"},
    {1, 0xFFFFFFFF, 7, "?"},
};

TEST(FormatFileSize, Examples) {
    for (const SizeCase& c : kSizeCases) {
        char text[64];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(FormatFileSize(c.style, c.low, c.high, text), text);
        EXPECT_STREQ(text, c.text) << "style " << c.style << ", high " << c.high << ", low " << c.low;
    }
}

TEST(FormatFileSize, UnknownStyleLeavesBufferAlone) {
    char text[16] = "untouched";
    EXPECT_EQ(FormatFileSize(2, 1234, 0, text), text);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(FormatFileSize(-1, 1234, 0, text), text);
    EXPECT_STREQ(text, "untouched");
}

// The date and time parts come from the user's locale; what the helper adds
// is the choice of format and the single space between the two parts.
TEST(FormatFileTime, DateAndTimeStyles) {
    // 2026-03-14 15:09:26 UTC
    SYSTEMTIME utcFields = {2026, 3, 6, 14, 15, 9, 26, 0};
    FILETIME utc;
    ASSERT_TRUE(SystemTimeToFileTime(&utcFields, &utc));
    FILETIME localTime;
    SYSTEMTIME local;
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &localTime));
    ASSERT_TRUE(FileTimeToSystemTime(&localTime, &local));

    auto date = [&](DWORD flags) {
        char text[MAX_PATH];
        EXPECT_GT(GetDateFormatA(LOCALE_USER_DEFAULT, flags, &local, nullptr, text, MAX_PATH), 0);
        return std::string(text);
    };
    auto time = [&](DWORD flags) {
        char text[MAX_PATH];
        EXPECT_GT(GetTimeFormatA(LOCALE_USER_DEFAULT, flags, &local, nullptr, text, MAX_PATH), 0);
        return std::string(text);
    };
    const std::string longDate = date(DATE_LONGDATE), shortDate = date(DATE_SHORTDATE);
    const std::string full = time(0), noSeconds = time(TIME_NOSECONDS),
                      hoursOnly = time(TIME_NOMINUTESORSECONDS);
    ASSERT_NE(longDate, shortDate);
    ASSERT_NE(full, noSeconds);

    const struct {
        int dateStyle, timeStyle;
        std::string text;
    } cases[] = {
        {0, 0, ""},
        {1, 0, longDate},
        {2, 0, shortDate},
        {7, 0, shortDate},
        {0, 1, full},
        {0, 2, hoursOnly},
        {0, 3, noSeconds},
        {0, 9, full},
        {1, 1, longDate + " " + full},
        {2, 3, shortDate + " " + noSeconds},
        {1, 2, longDate + " " + hoursOnly},
    };
    for (const auto& c : cases) {
        char text[MAX_PATH];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(FormatFileTime(&utc, text, c.dateStyle, c.timeStyle), text);
        EXPECT_EQ(std::string(text), c.text) << "date style " << c.dateStyle << ", time style " << c.timeStyle;
    }
}

TEST(FormatFileTime, UnconvertibleTimeIsUnknown) {
    const FILETIME beyond = {0xFFFFFFFF, 0xFFFFFFFF};
    char text[MAX_PATH];
    EXPECT_STREQ(FormatFileTime(&beyond, text, 1, 1), "(Unknown)");
    EXPECT_STREQ(FormatFileTime(nullptr, text, 1, 1), "(Unknown)");
}

// Windows of known size and place under the screen of the test display.
class CenterDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TesseraCenterTest";
        RegisterClassA(&wc);
    }

    void SetUp() override {
        HDC dc = GetDC(nullptr);
        ASSERT_NE(dc, nullptr) << "no display";
        screenWidth_ = GetDeviceCaps(dc, HORZRES);
        screenHeight_ = GetDeviceCaps(dc, VERTRES);
        ReleaseDC(nullptr, dc);
    }
    void TearDown() override {
        if (dialog_) DestroyWindow(dialog_);
        if (owner_) DestroyWindow(owner_);
    }

    HWND MakeWindow(HWND owner, const RECT& r) {
        return CreateWindowExA(0, "TesseraCenterTest", "", WS_POPUP, r.left, r.top, r.right - r.left,
                               r.bottom - r.top, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
    }

    RECT WindowRect(HWND window) {
        RECT r = {};
        GetWindowRect(window, &r);
        return r;
    }

    int screenWidth_ = 0, screenHeight_ = 0;
    HWND owner_ = nullptr;
    HWND dialog_ = nullptr;
};

TEST_F(CenterDialogTest, PlacesOverOwnerWithinTheScreen) {
    ASSERT_GE(screenWidth_, 800);
    ASSERT_GE(screenHeight_, 600);
    const int w = screenWidth_, h = screenHeight_;
    const struct {
        const char* what;
        RECT owner;  // empty: no owner
        SIZE dialog;
        POINT expected;
    } cases[] = {
        {"smaller than its owner", {100, 100, 501, 400}, {200, 101}, {100 + 201 / 2, 100 + 199 / 2}},
        {"larger than its owner", {200, 200, 300, 260}, {301, 200}, {100, 130}},  // -201 / 2 = -100
        {"owner at the right edge", {w - 150, 100, w + 50, 300}, {400, 100}, {w - 400, 150}},
        {"owner at the bottom edge", {100, h - 50, 300, h + 150}, {100, 300}, {150, h - 300}},
        {"owner at the top left", {-300, -200, 100, 0}, {500, 300}, {0, 0}},
        {"no owner", {0, 0, 0, 0}, {300, 200}, {(w - 300) / 2, (h - 200) / 2}},
        {"larger than the screen", {0, 0, 0, 0}, {w + 100, h + 60}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.owner.right > c.owner.left) {
            owner_ = MakeWindow(nullptr, c.owner);
            ASSERT_NE(owner_, nullptr);
        }
        dialog_ = MakeWindow(owner_, {5, 5, 5 + c.dialog.cx, 5 + c.dialog.cy});
        ASSERT_NE(dialog_, nullptr);
        EXPECT_TRUE(CenterDialog(dialog_));
        const RECT r = WindowRect(dialog_);
        EXPECT_EQ(r.left, c.expected.x);
        EXPECT_EQ(r.top, c.expected.y);
        EXPECT_EQ(r.right - r.left, c.dialog.cx);  // size kept
        EXPECT_EQ(r.bottom - r.top, c.dialog.cy);
        TearDown();
        owner_ = dialog_ = nullptr;
    }
}

TEST_F(CenterDialogTest, MinimizedOwnerMeansTheDesktop) {
    owner_ = MakeWindow(nullptr, {10, 10, 210, 110});
    ASSERT_NE(owner_, nullptr);
    ShowWindow(owner_, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(owner_));
    dialog_ = MakeWindow(owner_, {0, 0, 300, 200});
    ASSERT_NE(dialog_, nullptr);
    EXPECT_TRUE(CenterDialog(dialog_));
    const RECT r = WindowRect(dialog_);
    EXPECT_EQ(r.left, (screenWidth_ - 300) / 2);
    EXPECT_EQ(r.top, (screenHeight_ - 200) / 2);
}

}  // namespace
