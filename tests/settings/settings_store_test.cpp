// The settings store against the real registry of the prefix: key
// composition, typed reads and writes, the 64-bit view and tree deletion.
#include "settings/portable_settings.h"
#include "settings/settings_fixtures.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace
{

const wchar_t* const kClassesSandbox = L"VelnoxStoreTest";
const wchar_t* const kMachineSandbox = L"\\Software\\VelnoxStoreTest";

// Registry mode: the store does not look for a settings file.
class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FreePortableSettings();
        Portable.Attempted = true;
        Clean();
    }
    void TearDown() override
    {
        SetRegistryView(0);
        Clean();
        FreePortableSettings();
    }
    static void Clean()
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_CLASSES_ROOT, kClassesSandbox);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kMachineSandbox + 1);
        HKEY software = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                          &software) == ERROR_SUCCESS)
        {
            RegDeleteKeyW(software, L"VelnoxStoreTest");
            RegCloseKey(software);
        }
    }
};

} // namespace

TEST(KeyComposition, RootsAbsoluteSubkeysAndLength)
{
    const std::wstring longSubkey(700, L'k');
    struct Row
    {
        HKEY root;
        const wchar_t* subkey;
        std::wstring expected;
    } rows[] = {
        {HKEY_CURRENT_USER, L"", L"Software\\Velnox"},
        {HKEY_CURRENT_USER, L"Setup\\Links", L"Software\\Velnox\\Setup\\Links"},
        {HKEY_LOCAL_MACHINE, L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\V.exe",
         L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\V.exe"},
        {HKEY_CLASSES_ROOT, L"Velnox\\shell\\open\\command", L"Velnox\\shell\\open\\command"},
        {HKEY_CLASSES_ROOT, L"\\.zip", L"\\.zip"},
        {HKEY_LOCAL_MACHINE, longSubkey.c_str(),
         (L"Software\\Velnox\\" + longSubkey).substr(0, 511)},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        struct
        {
            wchar_t path[RegistryPathCapacity];
            wchar_t canary[4];
        } out;
        std::memset(&out, 0xBD, sizeof(out));
        ComposeKeyPath(rows[i].root, rows[i].subkey, out.path);
        EXPECT_EQ(rows[i].expected, out.path) << "row " << i;
        EXPECT_EQ(0xBDBDu, unsigned(out.canary[0])) << "row " << i;
    }
}

TEST_F(SettingsStoreTest, ReadsFallBackToTheirDefaults)
{
    const wchar_t* path = L"Software\\Velnox\\Types";
    const unsigned long long qword = 7;
    const BYTE two[2] = {0x34, 0x12};
    RawSet(HKEY_CURRENT_USER, path, L"Qword", REG_QWORD, &qword, sizeof(qword));
    RawSet(HKEY_CURRENT_USER, path, L"Text", REG_SZ, L"12", 6);
    RawSet(HKEY_CURRENT_USER, path, L"Two", REG_BINARY, two, sizeof(two));
    RawSet(HKEY_CURRENT_USER, path, L"Empty", REG_BINARY, two, 0);
    // Longer than 4 bytes, of any type, or empty: the default.
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Qword", 0xDEADBEEF));
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Text", 0xDEADBEEF));
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Empty", 0xDEADBEEF));
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Missing", L"Two", 0xDEADBEEF));
    EXPECT_EQ(0x1234u, GetUserInt(L"Types", L"Two", 0xDEADBEEF));

    // A string that does not fit is not cut: the default comes back.
    ASSERT_EQ(0, SetUserString(L"Types", L"Long", std::wstring(100, L'x').c_str()));
    ASSERT_EQ(0, SetUserString(L"Types", L"Fits", std::wstring(79, L'y').c_str()));
    wchar_t buffer[90];
    std::memset(buffer, 0xBD, sizeof(buffer));
    EXPECT_FALSE(GetUserString(L"Types", L"Long", buffer, L"default", 80));
    EXPECT_STREQ(L"default", buffer);
    EXPECT_EQ(0xBDBDu, unsigned(buffer[80]));
    EXPECT_TRUE(GetUserString(L"Types", L"Fits", buffer, L"default", 80));
    EXPECT_EQ(std::wstring(79, L'y'), buffer);
    EXPECT_EQ(0xBDBDu, unsigned(buffer[80]));
    EXPECT_FALSE(GetUserString(L"Types", L"Missing", buffer, L"d2", 80));
    EXPECT_STREQ(L"d2", buffer);
}

TEST_F(SettingsStoreTest, IntRoundTripAndDeletion)
{
    const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (size_t i = 0; i < ARRAYSIZE(values); ++i)
    {
        EXPECT_EQ(0, SetUserInt(L"Setup", L"Value", values[i])) << "row " << i;
        EXPECT_EQ(values[i], GetUserInt(L"Setup", L"Value", 12345)) << "row " << i;
    }
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup"));
    DeleteValue(HKEY_CURRENT_USER, L"Setup", L"Value");
    EXPECT_EQ(12345u, GetUserInt(L"Setup", L"Value", 12345));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    DeleteKey(HKEY_CURRENT_USER, L"Setup");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
}

TEST_F(SettingsStoreTest, TreeOfThreeLevelsIsRemovedWhole)
{
    // Four siblings per level: one pass skips some, the next ones get them.
    const wchar_t* names[] = {L"a", L"b", L"c", L"d"};
    for (const wchar_t* first : names)
        for (const wchar_t* second : names)
            for (const wchar_t* third : names)
            {
                std::wstring key =
                    std::wstring(kClassesSandbox) + L"\\" + first + L"\\" + second + L"\\" + third;
                ASSERT_EQ(0, SetInt(HKEY_CLASSES_ROOT, key.c_str(), L"v", 1));
            }
    ASSERT_EQ(0, SetInt(HKEY_CLASSES_ROOT, L"VelnoxStoreTestSibling", L"v", 1));
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\missing");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"");
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\d\\d\\d"));
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));

    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTestSibling"));
    RemoveRegistryTree(HKEY_CLASSES_ROOT, L"VelnoxStoreTestSibling");
}

TEST_F(SettingsStoreTest, SixtyFourBitViewIsSelectedOnlyWhereAsked)
{
    const char* prefix = std::getenv("VNX_PREFIX");
    const bool win64 = prefix && std::strcmp(prefix, "win64") == 0;
    wchar_t text[16];
    SetRegistryView(KEY_WOW64_64KEY);
    EXPECT_EQ(DWORD(KEY_WOW64_64KEY), RegistryView());
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"wide", L"64"));
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"wide", text, L""));
    SetRegistryView(0);
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"narrow", L"32"));

    // A 32-bit Windows has one view: both reach the same key.
    EXPECT_EQ(!win64, GetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"wide", text, L"-"));
    EXPECT_STREQ(win64 ? L"-" : L"64", text);
    SetRegistryView(KEY_WOW64_64KEY);
    EXPECT_EQ(!win64, GetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"narrow", text, L"-"));
    EXPECT_STREQ(win64 ? L"-" : L"32", text);
}
