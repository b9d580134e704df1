// The settings store against the real registry of the prefix: key
// composition, typed reads and writes, the 64-bit view and tree deletion.
#include "settings/portable_settings.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

bool IsWin64Prefix()
{
    const char* prefix = std::getenv("VNX_PREFIX");
    return prefix && std::strcmp(prefix, "win64") == 0;
}

// Deletes a tree with the plain registry calls, independent of the store.
void RemoveTree(HKEY root, const wchar_t* path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS)
    {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        while (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS)
        {
            std::wstring child = std::wstring(path) + L"\\" + name;
            RemoveTree(root, child.c_str(), view);
            length = ARRAYSIZE(name);
            HKEY check = nullptr;
            if (RegOpenKeyExW(root, child.c_str(), 0, KEY_READ | view, &check) == ERROR_SUCCESS)
            {
                RegCloseKey(check);
                break; // cannot be deleted; do not loop forever
            }
        }
        RegCloseKey(key);
    }
    if (view == 0)
    {
        RegDeleteKeyW(root, path);
        return;
    }
    // Deleting in another view goes through a parent opened in that view.
    std::wstring full(path);
    size_t cut = full.rfind(L'\\');
    std::wstring parent = cut == std::wstring::npos ? L"" : full.substr(0, cut);
    std::wstring leaf = cut == std::wstring::npos ? full : full.substr(cut + 1);
    HKEY parentKey = nullptr;
    if (RegOpenKeyExW(root, parent.c_str(), 0, KEY_ALL_ACCESS | view, &parentKey) == ERROR_SUCCESS)
    {
        RegDeleteKeyW(parentKey, leaf.c_str());
        RegCloseKey(parentKey);
    }
}

bool RawKeyExists(HKEY root, const wchar_t* path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void RawSet(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type, const void* data,
            DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

const wchar_t* const kSettingsKey = L"Software\\Velnox";
const wchar_t* const kClassesSandbox = L"VelnoxStoreTest";
const wchar_t* const kMachineSandbox = L"Software\\VelnoxStoreTest";

// Registry mode: no settings file is looked for.
class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FreePortableSettings();
        Portable.Attempted = true;
        SetRegistryView(0);
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
        RemoveTree(HKEY_CURRENT_USER, kSettingsKey);
        RemoveTree(HKEY_LOCAL_MACHINE, kSettingsKey);
        RemoveTree(HKEY_CLASSES_ROOT, kClassesSandbox);
        RemoveTree(HKEY_LOCAL_MACHINE, kMachineSandbox);
        RemoveTree(HKEY_LOCAL_MACHINE, kMachineSandbox, KEY_WOW64_64KEY);
    }
};

} // namespace

TEST(KeyComposition, RootsAndAbsoluteSubkeys)
{
    struct Row
    {
        HKEY root;
        const wchar_t* subkey;
        const wchar_t* expected;
    } rows[] = {
        {HKEY_CURRENT_USER, L"", L"Software\\Velnox"},
        {HKEY_CURRENT_USER, L"Setup\\Links", L"Software\\Velnox\\Setup\\Links"},
        {HKEY_LOCAL_MACHINE, L"Setup", L"Software\\Velnox\\Setup"},
        {HKEY_LOCAL_MACHINE,
         L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe",
         L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe"},
        {HKEY_CURRENT_USER, L"\\", L""},
        {HKEY_CLASSES_ROOT, L"Velnox\\shell\\open\\command", L"Velnox\\shell\\open\\command"},
        {HKEY_CLASSES_ROOT, L"\\.zip", L"\\.zip"},
        {HKEY_CLASSES_ROOT, L"", L""},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        wchar_t path[RegistryPathCapacity];
        ComposeKeyPath(rows[i].root, rows[i].subkey, path);
        EXPECT_STREQ(rows[i].expected, path) << "row " << i;
    }
}

TEST(KeyComposition, LongPathIsCutAt511Characters)
{
    std::wstring subkey(700, L'k');
    struct
    {
        wchar_t path[RegistryPathCapacity];
        wchar_t canary[8];
    } out;
    std::memset(&out, 0xBD, sizeof(out));
    ComposeKeyPath(HKEY_CURRENT_USER, subkey.c_str(), out.path);
    EXPECT_EQ(511u, wcslen(out.path));
    EXPECT_EQ(0, wcsncmp(out.path, L"Software\\Velnox\\kkk", 19));
    EXPECT_EQ(0xBDBD, static_cast<unsigned>(out.canary[0]));
}

TEST_F(SettingsStoreTest, IntValuesLongerThanFourBytesGiveTheDefault)
{
    const wchar_t* path = L"Software\\Velnox\\Types";
    const unsigned long long wide = 7;
    const wchar_t text[] = L"12";
    const BYTE two[2] = {0x34, 0x12};
    const DWORD dword = 0x55;
    RawSet(HKEY_CURRENT_USER, path, L"Qword", REG_QWORD, &wide, sizeof(wide));
    RawSet(HKEY_CURRENT_USER, path, L"Text", REG_SZ, text, sizeof(text));
    RawSet(HKEY_CURRENT_USER, path, L"Two", REG_BINARY, two, sizeof(two));
    RawSet(HKEY_CURRENT_USER, path, L"Empty", REG_BINARY, two, 0);
    RawSet(HKEY_CURRENT_USER, path, L"Dword", REG_DWORD, &dword, sizeof(dword));

    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Qword", 0xDEADBEEF));
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Text", 0xDEADBEEF)); // 6 bytes
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Empty", 0xDEADBEEF));
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", L"Missing", 0xDEADBEEF));
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"NoSuchKey", L"Dword", 0xDEADBEEF));
    EXPECT_EQ(0x1234u, GetUserInt(L"Types", L"Two", 0xDEADBEEF)); // types are not checked
    EXPECT_EQ(0x55u, GetUserInt(L"Types", L"Dword", 0xDEADBEEF));
}

TEST_F(SettingsStoreTest, StringsThatDoNotFitGiveTheDefault)
{
    std::wstring hundred(100, L'x');
    std::wstring seventyNine(79, L'y');
    ASSERT_EQ(0, SetUserString(L"Strings", L"Long", hundred.c_str()));
    ASSERT_EQ(0, SetUserString(L"Strings", L"Fits", seventyNine.c_str()));

    wchar_t buffer[90];
    std::memset(buffer, 0xBD, sizeof(buffer));
    EXPECT_FALSE(GetUserString(L"Strings", L"Long", buffer, L"default", 80));
    EXPECT_STREQ(L"default", buffer);
    for (size_t i = 80; i < ARRAYSIZE(buffer); ++i)
        EXPECT_EQ(0xBDBD, static_cast<unsigned>(buffer[i])) << "index " << i;

    EXPECT_TRUE(GetUserString(L"Strings", L"Fits", buffer, L"default", 80));
    EXPECT_EQ(seventyNine, buffer);
    EXPECT_EQ(0xBDBD, static_cast<unsigned>(buffer[80]));

    EXPECT_FALSE(GetUserString(L"Strings", L"Missing", buffer, L"d2", 80));
    EXPECT_STREQ(L"d2", buffer);
    EXPECT_FALSE(GetUserString(L"NoSuchKey", L"Fits", buffer, L"d3", 80));
    EXPECT_STREQ(L"d3", buffer);
}

TEST_F(SettingsStoreTest, IntRoundTripInTheRegistry)
{
    const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (size_t i = 0; i < ARRAYSIZE(values); ++i)
    {
        EXPECT_EQ(0, SetUserInt(L"Setup", L"Value", values[i])) << "row " << i;
        EXPECT_EQ(values[i], GetUserInt(L"Setup", L"Value", 12345)) << "row " << i;
    }
    // Relative subkeys of both settings roots land below "Software\Velnox".
    EXPECT_EQ(0, SetInt(HKEY_LOCAL_MACHINE, L"", L"exe32", 3));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup"));
}

TEST_F(SettingsStoreTest, ValuesAndKeysAreDeleted)
{
    ASSERT_EQ(0, SetString(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub", L"a", L"1"));
    ASSERT_EQ(0, SetString(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub", L"", L"default"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub"));

    DeleteValue(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub", L"a");
    wchar_t text[16];
    EXPECT_FALSE(GetString(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub", L"a", text, L"gone"));
    EXPECT_TRUE(GetString(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub", L"", text, L""));
    EXPECT_STREQ(L"default", text);

    DeleteKey(HKEY_CLASSES_ROOT, L"VelnoxStoreTest"); // has a subkey: stays
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTest"));
    DeleteKey(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\sub"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTest"));
}

TEST_F(SettingsStoreTest, TreeOfThreeLevelsIsRemovedWhole)
{
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

    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTestSibling"));

    // Nothing to delete: a missing key, and the root itself.
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\missing");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"");
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L"VelnoxStoreTestSibling"));
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    RemoveTree(HKEY_CLASSES_ROOT, L"VelnoxStoreTestSibling");

    // The empty subkey of a settings root is the whole settings key.
    ASSERT_EQ(0, SetUserInt(L"Setup\\Links", L"Desktop", 1));
    ASSERT_EQ(0, SetUserInt(L"General", L"x", 1));
    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software"));
}

TEST_F(SettingsStoreTest, SixtyFourBitViewIsSelectedOnlyWhereAsked)
{
    const wchar_t* key = L"\\Software\\VelnoxStoreTest";
    wchar_t text[16];

    SetRegistryView(KEY_WOW64_64KEY);
    EXPECT_EQ(static_cast<DWORD>(KEY_WOW64_64KEY), RegistryView());
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, key, L"wide", L"64"));
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, key, L"wide", text, L""));
    EXPECT_STREQ(L"64", text);
    SetRegistryView(0);

    bool seen = GetString(HKEY_LOCAL_MACHINE, key, L"wide", text, L"none");
    if (IsWin64Prefix())
    {
        EXPECT_FALSE(seen);
        EXPECT_STREQ(L"none", text);
        // The other way round: a plain write is not seen through the 64-bit view.
        ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, key, L"narrow", L"32"));
        SetRegistryView(KEY_WOW64_64KEY);
        EXPECT_FALSE(GetString(HKEY_LOCAL_MACHINE, key, L"narrow", text, L"none"));
        EXPECT_EQ(0xBEEFu, GetInt(HKEY_LOCAL_MACHINE, key, L"narrow", 0xBEEF));
        SetRegistryView(0);
        EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, key, L"narrow", text, L"none"));
        EXPECT_STREQ(L"32", text);
    }
    else
    {
        // A 32-bit Windows has one view: both reach the same key.
        EXPECT_TRUE(seen);
        EXPECT_STREQ(L"64", text);
    }
}
