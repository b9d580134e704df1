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
const wchar_t* const kOtherVendor = L"Software\\VelnoxOtherVendor";

class SettingsStoreTest : public RegistryModeTest
{
protected:
    void TearDown() override
    {
        SetRegistryView(0);
        RegistryModeTest::TearDown();
    }
    void Clean() override
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_CURRENT_USER, kOtherVendor);
        RemoveRegistryTree(HKEY_CLASSES_ROOT, kClassesSandbox);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kMachineSandbox + 1);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kMachineSandbox + 1, KEY_WOW64_64KEY);
    }
};

} // namespace

TEST(KeyComposition, RootsAbsoluteSubkeysAndLength)
{
    const std::wstring longSubkey(700, L'k');
    // 511 characters fill the path; 512 are cut, below "Software\\Velnox" (16
    // characters with its "\\"), below the root and under HKEY_CLASSES_ROOT.
    const std::wstring fits(511 - 16, L'f'), cut(512 - 16, L'c');
    const std::wstring fromRoot = L"\\" + std::wstring(511, L'r');
    struct Row
    {
        HKEY root;
        const wchar_t* subkey;
        std::wstring expected;
        bool whole;
    } rows[] = {
        {HKEY_CURRENT_USER, L"", L"Software\\Velnox", true},
        {HKEY_CURRENT_USER, L"Setup\\Links", L"Software\\Velnox\\Setup\\Links", true},
        {HKEY_LOCAL_MACHINE, L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\V.exe",
         L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\V.exe", true},
        {HKEY_CLASSES_ROOT, L"Velnox\\shell\\open\\command", L"Velnox\\shell\\open\\command", true},
        {HKEY_CLASSES_ROOT, L"\\.zip", L"\\.zip", true},
        {HKEY_LOCAL_MACHINE, longSubkey.c_str(),
         (L"Software\\Velnox\\" + longSubkey).substr(0, 511), false},
        {HKEY_CURRENT_USER, fits.c_str(), L"Software\\Velnox\\" + fits, true},
        {HKEY_CURRENT_USER, cut.c_str(), (L"Software\\Velnox\\" + cut).substr(0, 511), false},
        {HKEY_LOCAL_MACHINE, fromRoot.c_str(), fromRoot.substr(1), true},
        {HKEY_CLASSES_ROOT, fromRoot.c_str(), fromRoot.substr(0, 511), false},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        struct
        {
            wchar_t path[RegistryPathCapacity];
            wchar_t canary[4];
        } out;
        std::memset(&out, 0xBD, sizeof(out));
        // A cut path is reported: it names another key.
        EXPECT_EQ(rows[i].whole, ComposeKeyPath(rows[i].root, rows[i].subkey, out.path))
            << "row " << i;
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
    const BYTE zero = 0;
    const DWORD number = 0x1234;
    RawSet(HKEY_CURRENT_USER, path, L"EmptyText", REG_SZ, L"", 0);
    RawSet(HKEY_CURRENT_USER, path, L"Byte", REG_BINARY, &zero, 1);
    RawSet(HKEY_CURRENT_USER, path, L"ShortDword", REG_DWORD, &zero, 1);
    RawSet(HKEY_CURRENT_USER, path, L"BigEndian", REG_DWORD_BIG_ENDIAN, &number, 4);
    RawSet(HKEY_CURRENT_USER, path, L"Dword", REG_DWORD, &number, 4);
    // Only a REG_DWORD of 4 bytes is a number: a damaged record must not read
    // as 0.
    const wchar_t* const notNumbers[] = {L"Qword",     L"Text", L"Empty",      L"Two",
                                         L"EmptyText", L"Byte", L"ShortDword", L"BigEndian"};
    for (size_t i = 0; i < ARRAYSIZE(notNumbers); ++i)
        EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Types", notNumbers[i], 0xDEADBEEF)) << "row " << i;
    EXPECT_EQ(0xDEADBEEFu, GetUserInt(L"Missing", L"Two", 0xDEADBEEF));
    EXPECT_EQ(0x1234u, GetUserInt(L"Types", L"Dword", 0xDEADBEEF));

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
    // Without a settings file its own switches are nowhere: nothing is read.
    EXPECT_FALSE(GetString(NoRoot, L"Global", L"Integration", buffer, L"d3", 80));
    EXPECT_STREQ(L"d3", buffer);
}

// Another program's text is read whole, in its type, or not at all.
TEST_F(SettingsStoreTest, TextReadsTakeOnlyWholeTexts)
{
    const std::wstring long80(80, L'e'), long79(79, L'n');
    const DWORD dword = 0x00410042;
    struct Row
    {
        DWORD type;
        std::wstring data; // as stored, NULs included
        size_t bytesCut;   // bytes left off the end of data
        TextValue found;
        const wchar_t* text;
        DWORD textType;
    } rows[] = {
        {REG_SZ, std::wstring(L"Old.Zip", 8), 0, TextValue::Text, L"Old.Zip", REG_SZ},
        {REG_EXPAND_SZ, std::wstring(L"%Zip%", 6), 0, TextValue::Text, L"%Zip%", REG_EXPAND_SZ},
        {REG_SZ, L"Unterminated", 0, TextValue::Text, L"Unterminated", REG_SZ},
        {REG_SZ, std::wstring(L"Padded\0\0\0", 9), 0, TextValue::Text, L"Padded", REG_SZ},
        {REG_SZ, L"", 0, TextValue::Text, L"", REG_SZ},
        {REG_SZ, long79, 0, TextValue::Text, long79.c_str(), REG_SZ},
        {REG_SZ, std::wstring(long79.c_str(), 80), 0, TextValue::Text, long79.c_str(), REG_SZ},
        // No room for a terminator: cutting it would name something else.
        {REG_SZ, long80, 0, TextValue::Unusable, L"", 0},
        {REG_SZ, std::wstring(long80.c_str(), 81), 0, TextValue::Unusable, L"", 0},
        {REG_SZ, std::wstring(L"Old\0Hidden", 11), 0, TextValue::Unusable, L"", 0},
        {REG_SZ, std::wstring(L"Odd", 4), 1, TextValue::Unusable, L"", 0},
        {REG_MULTI_SZ, std::wstring(L"First.Zip\0Second.Zip\0", 22), 0, TextValue::Unusable, L"",
         0},
        {REG_DWORD, std::wstring(reinterpret_cast<const wchar_t*>(&dword), 2), 0,
         TextValue::Unusable, L"", 0},
        {REG_BINARY, std::wstring(L"AB", 2), 0, TextValue::Unusable, L"", 0},
        {REG_NONE, L"", 0, TextValue::Unusable, L"", 0},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        const Row& row = rows[i];
        const std::wstring name = L"v" + std::to_wstring(i);
        RawSet(HKEY_CLASSES_ROOT, kClassesSandbox, name.c_str(), row.type, row.data.data(),
               DWORD(row.data.size() * sizeof(wchar_t) - row.bytesCut));
        wchar_t buffer[90];
        std::memset(buffer, 0xBD, sizeof(buffer));
        DWORD type = 0;
        EXPECT_EQ(row.found, ReadTextValue(HKEY_CLASSES_ROOT, kClassesSandbox, name.c_str(), buffer,
                                           80, &type))
            << "row " << i;
        EXPECT_STREQ(row.text, buffer) << "row " << i;
        if (row.found == TextValue::Text)
        {
            EXPECT_EQ(row.textType, type) << "row " << i;
        }
        EXPECT_EQ(0xBDBDu, unsigned(buffer[80])) << "row " << i;
        EXPECT_EQ(row.found == TextValue::Text,
                  GetString(HKEY_CLASSES_ROOT, kClassesSandbox, name.c_str(), buffer, L"dflt", 80))
            << "row " << i;
        EXPECT_STREQ(row.found == TextValue::Text ? row.text : L"dflt", buffer) << "row " << i;
        EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, kClassesSandbox, name.c_str())) << "row " << i;
    }
    wchar_t buffer[8];
    EXPECT_EQ(TextValue::Absent,
              ReadTextValue(HKEY_CLASSES_ROOT, kClassesSandbox, L"missing", buffer, 8, nullptr));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, kClassesSandbox, L"missing"));
    EXPECT_FALSE(KeyIsEmpty(HKEY_CLASSES_ROOT, kClassesSandbox));
    ASSERT_EQ(0, SetText(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\e", nullptr, L"%x%", REG_EXPAND_SZ));
    DWORD type = 0;
    EXPECT_EQ(TextValue::Text,
              ReadTextValue(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\e", nullptr, buffer, 8, &type));
    EXPECT_EQ(DWORD(REG_EXPAND_SZ), type);
    DeleteValue(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\e", nullptr);
    EXPECT_TRUE(KeyIsEmpty(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\e"));
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
    // A key deletion reports whether a key is left: one with subkeys stays.
    EXPECT_EQ(0, SetUserInt(L"Setup\\Sub", L"Value", 1));
    EXPECT_FALSE(DeleteKey(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_TRUE(DeleteKey(HKEY_CURRENT_USER, L"Setup\\Sub"));
    EXPECT_TRUE(DeleteKey(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_TRUE(DeleteKey(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_TRUE(DeleteKey(HKEY_CURRENT_USER, L"Setup\\Missing\\Deeper"));
    {
        // Keys held open for one operation: one deleted meanwhile is made anew.
        const HeldRegistryKeys held;
        EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Value", 1));
        DeleteKeyTree(HKEY_CURRENT_USER, L"Setup");
        EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Value", 2));
        EXPECT_EQ(2u, GetUserInt(L"Setup\\Links", L"Value", 0));
        // Deleted under another spelling, or past the store: made again too.
        DeleteKeyTree(HKEY_CURRENT_USER, L"SETUP\\links");
        EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Value", 3));
        EXPECT_EQ(3u, GetUserInt(L"Setup\\Links", L"Value", 0));
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links"));
        EXPECT_EQ(0, SetUserInt(L"Setup\\Links\\Deeper", L"Value", 4));
        EXPECT_EQ(4u, GetUserInt(L"Setup\\Links\\Deeper", L"Value", 0));
        // A key kept from an earlier read, made anew past the store.
        const DWORD five = 5;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links\\Deeper"));
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links\\Deeper", L"Value", REG_DWORD,
               &five, sizeof(five));
        EXPECT_EQ(5u, GetUserInt(L"Setup\\Links\\Deeper", L"Value", 0));
        // A value deleted from a key held from a write, made anew meanwhile.
        EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Gone", 6));
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER,
                                               L"Software\\Velnox\\Setup\\Links\\Deeper"));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links"));
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links", L"Gone", REG_DWORD, &five,
               sizeof(five));
        DeleteValue(HKEY_CURRENT_USER, L"Setup\\Links", L"Gone");
        EXPECT_EQ(kMissing,
                  RawValue(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links", L"Gone"));
        DeleteKeyTree(HKEY_CURRENT_USER, L"Setup");
    }
    // Nor is a settings file's switch written when there is no file.
    EXPECT_NE(0, SetInt(NoRoot, L"Global", L"Integration", 0));
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

    // Within one operation a key found missing is missing only in the view
    // it was asked in, and only until the store makes it.
    const wchar_t* const only64 = L"\\Software\\VelnoxStoreTest\\Only64";
    const wchar_t* const made = L"\\Software\\VelnoxStoreTest\\Made\\Deeper";
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, only64, L"v", L"64"));
    const HeldRegistryKeys held;
    SetRegistryView(0);
    EXPECT_EQ(!win64, KeyExists(HKEY_LOCAL_MACHINE, only64));
    EXPECT_EQ(!win64, GetString(HKEY_LOCAL_MACHINE, only64, L"v", text, L"-"));
    SetRegistryView(KEY_WOW64_64KEY);
    EXPECT_EQ(!win64, KeyExists(HKEY_LOCAL_MACHINE, only64));
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, only64, L"v", text, L"-"));
    EXPECT_STREQ(L"64", text);
    SetRegistryView(0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxStoreTest\\Made"));
    EXPECT_FALSE(GetString(HKEY_LOCAL_MACHINE, made, L"v", text, L"-"));
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, made, L"v", L"made"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxStoreTest\\Made"));
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, made, L"v", text, L"-"));
    EXPECT_STREQ(L"made", text);
}

TEST_F(SettingsStoreTest, DeletionsActInTheSelectedView)
{
    const char* prefix = std::getenv("VNX_PREFIX");
    const bool win64 = prefix && std::strcmp(prefix, "win64") == 0;
    const std::wstring key = kMachineSandbox + 1;
    SetRegistryView(0);
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"both", L"32"));
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxStoreTest\\Sub", L"", L"32"));
    SetRegistryView(KEY_WOW64_64KEY);
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"both", L"64"));
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxStoreTest\\Sub\\Deeper", L"",
                           L"64"));
    ASSERT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxStoreTest\\Leaf", L"", L"64"));

    wchar_t text[8];
    DeleteValue(HKEY_LOCAL_MACHINE, kMachineSandbox, L"both");
    EXPECT_FALSE(GetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"both", text, L""));
    DeleteKey(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxStoreTest\\Leaf");
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, key + L"\\Leaf", KEY_WOW64_64KEY));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kMachineSandbox);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
    // The 32-bit view of a 64-bit Windows is another key, untouched.
    SetRegistryView(0);
    EXPECT_EQ(win64, GetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"both", text, L""));
    EXPECT_EQ(win64, RawKeyExists(HKEY_LOCAL_MACHINE, key + L"\\Sub", 0));
}

TEST_F(SettingsStoreTest, TreesWithLongNamesAndPathsGoWhole)
{
    // Paths counted with "Software\Velnox\" (16 characters); names up to the
    // registry's 255. Each shape has a short sibling beside its long key.
    const std::wstring n199(199, L'p'), n94(94, L'q'), n95(95, L'r'), n96(96, L's');
    const std::wstring rows[] = {
        n199 + L"\\" + n199 + L"\\" + n95 + L"\\c", // 511, and a subkey
        n199 + L"\\" + n199 + L"\\" + n94 + L"\\c", // 510
        n199 + L"\\" + n199 + L"\\" + n96 + L"\\c", // 512
        std::wstring(239, L't') + L"\\c",           // 255
        std::wstring(200, L'u') + L"\\c",
        std::wstring(255, L'v') + L"\\" + std::wstring(255, L'w') + L"\\c",
        L"a\\" + std::wstring(254, L'x'),
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        ASSERT_TRUE(RawMakeKey(HKEY_CURRENT_USER, L"Software\\Velnox\\" + rows[i])) << "row " << i;
        ASSERT_TRUE(RawMakeKey(HKEY_CURRENT_USER, L"Software\\Velnox\\" +
                                                      rows[i].substr(0, rows[i].find(L'\\')) +
                                                      L"0"))
            << "row " << i;
    }
    ASSERT_TRUE(RawMakeKey(HKEY_CURRENT_USER, kOtherVendor));
    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, kOtherVendor));
}

TEST_F(SettingsStoreTest, RegistryLinksAreNeitherFollowedNorWrittenThrough)
{
    RawSet(HKEY_CURRENT_USER, L"Software\\VelnoxOtherVendor", L"keep", REG_SZ, L"1", 4);
    RawSet(HKEY_CURRENT_USER, L"Software\\VelnoxOtherVendor\\Setup\\Links", L"keep", REG_SZ, L"1",
           4);
    const std::wstring target = UserKeyNativePath(kOtherVendor);
    const auto targetWhole = [] {
        return RawString(HKEY_CURRENT_USER, kOtherVendor, L"keep") == L"1" &&
               RawString(HKEY_CURRENT_USER, L"Software\\VelnoxOtherVendor\\Setup\\Links",
                         L"keep") == L"1" &&
               !RawKeyExists(HKEY_CURRENT_USER, L"Software\\VelnoxOtherVendor\\Setup\\.zip");
    };
    // The settings key, or a key inside it, made a link to another vendor's key.
    for (const wchar_t* link : {L"Software\\Velnox", L"Software\\Velnox\\Setup"})
    {
        SCOPED_TRACE(testing::Message() << "link " << link);
        const bool inside = std::wstring(link).size() > 15;
        const auto plant = [&] {
            return (!inside || RawMakeKey(HKEY_CURRENT_USER, L"Software\\Velnox")) &&
                   MakeRegistryLink(HKEY_CURRENT_USER, link, inside ? target + L"\\Setup" : target);
        };
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        ASSERT_TRUE(plant());
        ASSERT_EQ(L"1", RawString(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\Links", L"keep"));
        DeleteValue(HKEY_CURRENT_USER, L"Setup\\Links", L"keep");
        // Reached only through the link: it stays, and is reported so.
        EXPECT_FALSE(DeleteKey(HKEY_CURRENT_USER, L"Setup\\Links"));
        EXPECT_TRUE(targetWhole());
        DeleteKeyTree(HKEY_CURRENT_USER, L"");
        EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
        EXPECT_TRUE(targetWhole());

        // Setup keeps its records in a key of its own in place of the link.
        ASSERT_TRUE(plant());
        EXPECT_EQ(0, SetUserInt(L"Setup\\.zip", L"Exist", 1));
        EXPECT_EQ(1u, GetUserInt(L"Setup\\.zip", L"Exist", 0));
        EXPECT_TRUE(targetWhole());

        // Planted while an operation holds the keys of an earlier write.
        {
            const HeldRegistryKeys held;
            EXPECT_EQ(0, SetUserInt(L"Setup\\Other", L"v", 1));
            RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
            ASSERT_TRUE(plant());
            EXPECT_EQ(0, SetUserInt(L"Setup\\.zip", L"Exist", 2));
            EXPECT_EQ(2u, GetUserInt(L"Setup\\.zip", L"Exist", 0));
        }
        EXPECT_TRUE(targetWhole());
    }
    // Planted right below the key an earlier write of the operation holds.
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        const HeldRegistryKeys held;
        EXPECT_EQ(0, SetUserInt(L"Setup", L"v", 1));
        ASSERT_TRUE(MakeRegistryLink(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\.zip",
                                     target + L"\\Setup\\Links"));
        EXPECT_EQ(0, SetUserInt(L"Setup\\.zip", L"Exist", 3));
        EXPECT_EQ(3u, GetUserInt(L"Setup\\.zip", L"Exist", 0));
        EXPECT_EQ(kMissing, RawValue(HKEY_CURRENT_USER,
                                     L"Software\\VelnoxOtherVendor\\Setup\\Links", L"Exist"));
    }
    EXPECT_TRUE(targetWhole());
    // Elsewhere a link is not replaced, and nothing is written through it.
    RemoveRegistryTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    ASSERT_TRUE(MakeRegistryLink(HKEY_CLASSES_ROOT, kClassesSandbox, target));
    {
        // A read follows the link; the key it kept open is not written to.
        const HeldRegistryKeys held;
        wchar_t kept[8];
        EXPECT_TRUE(GetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"keep", kept, L""));
        EXPECT_STREQ(L"1", kept);
        EXPECT_NE(0, SetString(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\Setup\\.zip", L"", L"x"));
        EXPECT_NE(0, SetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"keep", L"2"));
    }
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));
    EXPECT_TRUE(targetWhole());
    // A link to a key not there reads as missing; the writes after it still
    // find the link, and neither make its target nor write through it.
    const std::wstring nowhere = L"Software\\VelnoxOtherVendor\\Nowhere";
    ASSERT_TRUE(MakeRegistryLink(HKEY_CLASSES_ROOT, kClassesSandbox, UserKeyNativePath(nowhere)));
    {
        const HeldRegistryKeys held;
        wchar_t text[8];
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));
        EXPECT_FALSE(GetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", text, L"-"));
        EXPECT_NE(0, SetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", L"x"));
        EXPECT_NE(0, SetString(HKEY_CLASSES_ROOT, L"VelnoxStoreTest\\Below", L"v", L"x"));
    }
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, nowhere));
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));
}
