// Settings store: values below HKCU\Software\Quellsoft\Tessera. Each test
// works in a section of its own, checks the registry directly, and removes
// its section afterwards; the product keys are removed at the end when the
// run created them.
#include <gtest/gtest.h>

#include "tescore.h"

#include <cstring>
#include <string>

namespace {

const char kCompanyPath[] = "Software\\Quellsoft";
const char kProductPath[] = "Software\\Quellsoft\\Tessera";

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Removes the product and company keys after the run if they were not there
// before it (they are empty by then: every test deletes its own section).
class ProductKeyCleanup : public ::testing::Environment {
public:
    void SetUp() override { companyExisted_ = KeyExists(kCompanyPath); }
    void TearDown() override {
        if (companyExisted_) return;
        RegDeleteKeyA(HKEY_CURRENT_USER, kProductPath);
        RegDeleteKeyA(HKEY_CURRENT_USER, kCompanyPath);
    }

private:
    bool companyExisted_ = true;
};

const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new ProductKeyCleanup);

struct RawValue {
    bool exists = false;
    DWORD type = 0;
    std::string bytes;
};

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        section_ = std::string("Test.") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteKeyA(HKEY_CURRENT_USER, SectionPath().c_str());
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, SectionPath().c_str()); }

    const char* Section() const { return section_.c_str(); }
    std::string SectionPath() const { return std::string(kProductPath) + "\\" + section_; }

    // Reads a value behind the store's back.
    RawValue Raw(const char* name) const {
        RawValue raw;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return raw;
        char data[1024];
        DWORD size = sizeof data;
        if (RegQueryValueExA(key, name, nullptr, &raw.type, reinterpret_cast<BYTE*>(data), &size) ==
            ERROR_SUCCESS) {
            raw.exists = true;
            raw.bytes.assign(data, size);
        }
        RegCloseKey(key);
        return raw;
    }

    // Writes a value behind the store's back.
    void PutRaw(const char* name, DWORD type, const void* data, DWORD size) const {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SectionPath().c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }

private:
    std::string section_;
};

TEST_F(SettingsStore, MissingValueKeepsDefaultsAndCreatesEmptySection) {
    DWORD number = 1234;
    EXPECT_FALSE(GetProfileInt(Section(), "Never", &number));
    EXPECT_EQ(number, 1234u);

    char text[MAX_PATH] = "default";
    EXPECT_FALSE(GetProfileString(Section(), "Never", text));
    EXPECT_STREQ(text, "default");

    unsigned char bytes[4] = {1, 2, 3, 4};
    DWORD size = sizeof bytes;
    EXPECT_FALSE(GetProfileBinary(Section(), "Never", bytes, &size));
    EXPECT_EQ(size, sizeof bytes);
    EXPECT_EQ(bytes[0], 1);

    // Reading opened (and so created) the section, but wrote no value.
    EXPECT_TRUE(KeyExists(SectionPath()));
    EXPECT_FALSE(Raw("Never").exists);
}

TEST_F(SettingsStore, ValuesRoundTripWithTheirRegistryTypes) {
    ASSERT_TRUE(PutProfileInt(Section(), "Number", 0xDEADBEEF));
    RawValue raw = Raw("Number");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw.bytes, std::string("\xEF\xBE\xAD\xDE", 4));
    DWORD number = 0;
    EXPECT_TRUE(GetProfileInt(Section(), "Number", &number));
    EXPECT_EQ(number, 0xDEADBEEFu);

    ASSERT_TRUE(PutProfileString(Section(), "Text", "C:\\Archives"));
    raw = Raw("Text");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.bytes, std::string("C:\\Archives", 12));  // with its NUL
    char text[MAX_PATH] = {};
    EXPECT_TRUE(GetProfileString(Section(), "Text", text));
    EXPECT_STREQ(text, "C:\\Archives");

    // A null name is the section's default value.
    ASSERT_TRUE(PutProfileString(Section(), nullptr, "unnamed"));
    EXPECT_EQ(Raw(nullptr).bytes, std::string("unnamed", 8));
    EXPECT_TRUE(GetProfileString(Section(), nullptr, text));
    EXPECT_STREQ(text, "unnamed");

    const unsigned char placement[] = {0x2C, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0x7F};
    ASSERT_TRUE(PutProfileBinary(Section(), "Placement", placement, sizeof placement));
    raw = Raw("Placement");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(raw.bytes, std::string(reinterpret_cast<const char*>(placement), sizeof placement));

    unsigned char back[16];
    std::memset(back, 0xAA, sizeof back);
    DWORD size = sizeof back;
    EXPECT_TRUE(GetProfileBinary(Section(), "Placement", back, &size));
    EXPECT_EQ(size, sizeof placement);
    EXPECT_EQ(std::memcmp(back, placement, sizeof placement), 0);
    EXPECT_EQ(back[sizeof placement], 0xAA);

    // Too small a buffer: false, and neither buffer nor size touched.
    std::memset(back, 0xAA, sizeof back);
    size = sizeof placement - 1;
    EXPECT_FALSE(GetProfileBinary(Section(), "Placement", back, &size));
    EXPECT_EQ(size, sizeof placement - 1);
    EXPECT_EQ(back[0], 0xAA);
}

TEST_F(SettingsStore, IntegersTakeAnyValueOfAtMostFourBytes) {
    const unsigned char two[] = {0x34, 0x12};
    PutRaw("Two", REG_BINARY, two, sizeof two);
    DWORD number = 0xFFFFFFFF;
    EXPECT_TRUE(GetProfileInt(Section(), "Two", &number));
    EXPECT_EQ(number, 0x1234u);

    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    PutRaw("Eight", REG_BINARY, eight, sizeof eight);
    number = 77;
    EXPECT_FALSE(GetProfileInt(Section(), "Eight", &number));
    EXPECT_EQ(number, 77u);
}

TEST_F(SettingsStore, StringsFitTheCallersPathBuffer) {
    // The caller's buffer has exactly MAX_PATH characters; the guard after
    // it must survive every read.
    struct Guarded {
        char text[MAX_PATH];
        char guard[8];
    };
    auto read = [&](const char* name, Guarded& out) {
        std::memset(&out, '#', sizeof out);
        std::strcpy(out.text, "default");
        return GetProfileString(Section(), name, out.text);
    };
    Guarded out;

    const std::string longest(259, 'L');
    ASSERT_TRUE(PutProfileString(Section(), "Longest", longest.c_str()));
    EXPECT_TRUE(read("Longest", out));
    EXPECT_EQ(std::string(out.text), longest);
    EXPECT_EQ(std::string(out.guard, 8), std::string(8, '#'));

    const std::string tooLong(300, 'T');
    ASSERT_TRUE(PutProfileString(Section(), "TooLong", tooLong.c_str()));
    EXPECT_EQ(Raw("TooLong").bytes.size(), 301u);
    EXPECT_FALSE(read("TooLong", out));
    EXPECT_STREQ(out.text, "default");

    // Values written by others without a terminator: 260 bytes cannot fit
    // with one; shorter ones come back terminated.
    const std::string unterminated(MAX_PATH, 'U');
    PutRaw("Unterminated260", REG_BINARY, unterminated.data(), MAX_PATH);
    EXPECT_FALSE(read("Unterminated260", out));
    EXPECT_STREQ(out.text, "default");
    EXPECT_EQ(std::string(out.guard, 8), std::string(8, '#'));

    PutRaw("Unterminated5", REG_BINARY, "abcde", 5);
    EXPECT_TRUE(read("Unterminated5", out));
    EXPECT_STREQ(out.text, "abcde");
}

TEST_F(SettingsStore, DeletingValuesAndWholeSections) {
    ASSERT_TRUE(PutProfileString(Section(), "Gone", "soon"));
    ASSERT_TRUE(PutProfileInt(Section(), "Kept", 7));
    EXPECT_TRUE(PutProfileString(Section(), "Gone", nullptr));
    EXPECT_FALSE(Raw("Gone").exists);
    EXPECT_TRUE(Raw("Kept").exists);

    // A section goes with the sections nested in it.
    const std::string nested = std::string(Section()) + "\\Nested";
    ASSERT_TRUE(PutProfileInt(nested.c_str(), "Inner", 1));
    EXPECT_TRUE(PutProfileString(Section(), nullptr, nullptr));
    EXPECT_FALSE(KeyExists(SectionPath()));

    // The product key stays usable for this and other sections.
    EXPECT_TRUE(KeyExists(kProductPath));
    ASSERT_TRUE(PutProfileInt(Section(), "Again", 8));
    DWORD number = 0;
    EXPECT_TRUE(GetProfileInt(Section(), "Again", &number));
    EXPECT_EQ(number, 8u);
}

TEST_F(SettingsStore, NullSectionIsTheKeptProductKey) {
    HKEY product = GetSectionKey(nullptr);
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(GetSectionKey(nullptr), product);

    // Still valid after other calls opened and closed their sections.
    ASSERT_TRUE(PutProfileInt(Section(), "Touch", 1));
    DWORD subkeys = 0;
    EXPECT_EQ(RegQueryInfoKeyA(product, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_GE(subkeys, 1u);

    // A section's key belongs to the caller.
    HKEY section = GetSectionKey(Section());
    ASSERT_NE(section, nullptr);
    EXPECT_NE(section, product);
    EXPECT_EQ(RegCloseKey(section), ERROR_SUCCESS);

    // The value functions need a real section: a null or empty name never
    // reaches (or deletes) the product key itself.
    DWORD number = 5;
    EXPECT_FALSE(PutProfileInt(nullptr, "Stray", 1));
    EXPECT_FALSE(GetProfileInt(nullptr, "Stray", &number));
    EXPECT_FALSE(PutProfileInt("", "Stray", 1));
    EXPECT_FALSE(PutProfileString(nullptr, nullptr, nullptr));
    EXPECT_FALSE(PutProfileString("", nullptr, nullptr));
    EXPECT_EQ(number, 5u);
    EXPECT_TRUE(KeyExists(kProductPath));
    EXPECT_TRUE(KeyExists(SectionPath()));
}

// The other programs link these by name: check that tescore.dll exports
// them undecorated (and not as the kernel's profile functions).
TEST(EngineExports, SettingsAndDisplayHelpersByPlainName) {
    HMODULE engine = LoadLibraryA("tescore.dll");
    ASSERT_NE(engine, nullptr) << "tescore.dll not found on the path";
    for (const char* name : {"GetSectionKey", "GetProfileInt", "GetProfileString", "GetProfileBinary",
                             "PutProfileInt", "PutProfileString", "PutProfileBinary", "FormatFileSize",
                             "FormatFileTime", "CenterDialog"}) {
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(engine, name)), nullptr) << name;
    }
    // Calls through the DLL reach the same store.
    using GetInt = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD*);
    using PutInt = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    using PutString = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR);
    auto put = reinterpret_cast<PutInt>(reinterpret_cast<void*>(GetProcAddress(engine, "PutProfileInt")));
    auto get = reinterpret_cast<GetInt>(reinterpret_cast<void*>(GetProcAddress(engine, "GetProfileInt")));
    auto del = reinterpret_cast<PutString>(reinterpret_cast<void*>(GetProcAddress(engine, "PutProfileString")));
    if (put && get && del) {
        EXPECT_TRUE(put("Test.Exports", "Value", 42));
        DWORD number = 0;
        EXPECT_TRUE(GetProfileInt("Test.Exports", "Value", &number));
        EXPECT_EQ(number, 42u);
        number = 0;
        EXPECT_TRUE(get("Test.Exports", "Value", &number));
        EXPECT_EQ(number, 42u);
        EXPECT_TRUE(del("Test.Exports", nullptr, nullptr));
    }
    FreeLibrary(engine);
}

}  // namespace
