// The integration choices: the extension table, loading with its defaults and
// the ".jar"/".iso" rules, storing, and what counts as the archiver's own.
#include "integration/integration_options.h"
#include "integration/integration_fixture.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
using OptionsTest = IntegrationTest;
}

TEST(ExtensionGroups, TwentySevenExtensionsEachKeepingItsDot)
{
    std::wstring all;
    size_t count = 0;
    for (size_t row = 0; row < kAssociationRows; ++row)
    {
        ExtensionList list;
        SplitExtensionGroup(AssociationTable[row].Group, list);
        wchar_t primary[kExtensionGroupChars];
        EXPECT_TRUE(PrimaryExtension(AssociationTable[row], primary));
        EXPECT_STREQ(primary, list.Items[0]) << "row " << row;
        EXPECT_EQ(row, RowNamed(list.Items[0]));
        for (size_t i = 0; i < list.Count; ++i)
            all += std::wstring(list.Items[i]) + L" ";
        count += list.Count;
    }
    EXPECT_EQ(kAssociationExtensions, count);
    EXPECT_NE(std::wstring::npos, all.find(L" .bz2 .tbz2 .bz .tbz .jar "));
    EXPECT_NE(std::wstring::npos, all.find(L" .uue .xxe .uu .bz2 "));
}

TEST_F(OptionsTest, NoSettingsAndNoAssociationsLoadTheDefaults)
{
    IntegrationOptions options;
    memset(&options, 0xBD, sizeof(options));
    LoadIntegrationOptions(options);
    for (size_t row = 0; row < kAssociationRows; ++row)
        EXPECT_EQ(row != RowNamed(L".jar"), options.Associate[row]) << "row " << row;
    // The spare flags are the caller's.
    for (size_t row = kAssociationRows; row < kAssociateFlags; ++row)
        EXPECT_EQ(0xBD, *reinterpret_cast<unsigned char*>(&options.Associate[row])) << row;
    EXPECT_FALSE(options.Desktop);
    EXPECT_FALSE(options.StartMenu);
    EXPECT_TRUE(options.Programs);
    EXPECT_TRUE(options.ShellExt);
    EXPECT_FALSE(options.CascadedMenu);
    EXPECT_TRUE(options.MenuIcons);
}

// Also what counts as ours: both classes in any case, never the recovery class.
TEST_F(OptionsTest, JarAndIsoFollowTheirCurrentOwner)
{
    const std::wstring longClass(100, L'o');
    struct Row
    {
        const wchar_t* jarClass; // null: no key
        const wchar_t* isoClass;
        DWORD set;
        bool jar;
        bool iso;
    } rows[] = {
        {nullptr, nullptr, 1, false, true},
        {L"jarfile", L"Other.Iso", 1, false, false},
        {L"VELNOX.zip", L"Velnox", 1, true, true},
        {L"Velnox", L"velnox.zip", 0, false, false},
        {L"", L"", 1, false, true},
        {L"Velnox.REV", L"Velnox.REV", 1, false, false},
        // Owned, though longer than a class name read: not offered.
        {nullptr, longClass.c_str(), 1, false, false},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        Clean();
        if (rows[i].jarClass)
            SetClassValue(L".jar", nullptr, rows[i].jarClass);
        if (rows[i].isoClass)
            SetClassValue(L".iso", nullptr, rows[i].isoClass);
        SetUserInt(L"Setup\\.jar", L"Set", rows[i].set);
        SetUserInt(L"Setup\\.iso", L"Set", rows[i].set);
        IntegrationOptions options = {};
        LoadIntegrationOptions(options);
        EXPECT_EQ(rows[i].jar, options.Associate[RowNamed(L".jar")]) << "row " << i;
        EXPECT_EQ(rows[i].iso, options.Associate[RowNamed(L".iso")]) << "row " << i;
    }
}

TEST_F(OptionsTest, StoreThenLoadKeepsTheUsedFlagsAndTheSpareOnes)
{
    // ".jar" already ours, so its stored value decides.
    SetClassValue(L".jar", nullptr, L"Velnox");
    for (int pattern = 0; pattern < 2; ++pattern)
    {
        IntegrationOptions stored = {};
        for (size_t row = 0; row < kAssociateFlags; ++row)
            stored.Associate[row] = (row + pattern) % 3 == 0;
        stored.Desktop = pattern == 0;
        stored.StartMenu = pattern == 1;
        stored.Programs = pattern == 0;
        stored.ShellExt = pattern == 1;
        stored.CascadedMenu = pattern == 0;
        stored.MenuIcons = pattern == 1;
        StoreIntegrationOptions(stored);

        IntegrationOptions loaded = stored;
        for (size_t row = kAssociationRows; row < kAssociateFlags; ++row)
            loaded.Associate[row] = !stored.Associate[row];
        LoadIntegrationOptions(loaded);
        for (size_t row = 0; row < kAssociationRows; ++row)
            EXPECT_EQ(stored.Associate[row], loaded.Associate[row]) << pattern << " row " << row;
        for (size_t row = kAssociationRows; row < kAssociateFlags; ++row)
            EXPECT_NE(stored.Associate[row], loaded.Associate[row]) << pattern << " row " << row;
        EXPECT_EQ(0, memcmp(&stored.Desktop, &loaded.Desktop, 6)) << pattern;
        EXPECT_EQ(pattern == 0 ? 0u : 1u, GetUserInt(L"Setup", L"ShellExt", 7));
        EXPECT_EQ(pattern == 0 ? 1u : 0u, GetUserInt(L"Setup\\Links", L"Programs", 7));
    }
}
