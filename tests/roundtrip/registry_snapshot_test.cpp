// The snapshot is the judge of every round trip: it must see each kind of
// change, and nothing when there is none.
#include <gtest/gtest.h>

#include "settings/settings_fixtures.h"
#include "support/registry_snapshot.h"

namespace
{

const wchar_t kSandbox[] = L"Software\\VnxSnapshotTest";

TEST(RegistrySnapshot, SeesEveryKindOfChangeOnce)
{
    RemoveRegistryTree(HKEY_CURRENT_USER, kSandbox);
    const std::wstring base = kSandbox;
    const wchar_t text[] = L"Kept \"text\"";
    const BYTE bytes[] = {1, 2, 0xfe};
    const DWORD number = 7;
    RawSet(HKEY_CURRENT_USER, base.c_str(), L"", REG_SZ, text, sizeof(text));
    RawSet(HKEY_CURRENT_USER, (base + L"\\Sub").c_str(), L"Bin", REG_BINARY, bytes, 3);
    RawSet(HKEY_CURRENT_USER, (base + L"\\Sub").c_str(), L"Num", REG_DWORD, &number, 4);
    RawSet(HKEY_CURRENT_USER, (base + L"\\Gone").c_str(), L"x", REG_SZ, L"", sizeof(wchar_t));
    const RegistrySnapshot before = TakeRegistrySnapshot(HKEY_CURRENT_USER, kSandbox, 0, L"T");
    ASSERT_TRUE(before.Exists);
    EXPECT_TRUE(ListRegistryDifferences(before, before).empty());

    // The same text without its terminator reads the same.
    RawSet(HKEY_CURRENT_USER, base.c_str(), L"", REG_SZ, text, sizeof(text) - sizeof(wchar_t));
    EXPECT_TRUE(
        ListRegistryDifferences(before, TakeRegistrySnapshot(HKEY_CURRENT_USER, kSandbox, 0, L"T"))
            .empty());

    const DWORD other = 8;
    RawSet(HKEY_CURRENT_USER, (base + L"\\Sub").c_str(), L"Num", REG_DWORD, &other, 4);
    RemoveRegistryTree(HKEY_CURRENT_USER, (base + L"\\Gone").c_str());
    RawSet(HKEY_CURRENT_USER, (base + L"\\SUB\\New").c_str(), L"", REG_SZ, L"n", 4);
    const RegistrySnapshot after = TakeRegistrySnapshot(HKEY_CURRENT_USER, kSandbox, 0, L"T");
    const std::vector<std::wstring> lines = ListRegistryDifferences(before, after);
    RemoveRegistryTree(HKEY_CURRENT_USER, kSandbox);

    const std::vector<std::wstring> expected = {
        L"removed T\\Gone (key)",
        L"removed T\\Gone [x] REG_SZ \"\"",
        L"changed T\\Sub [Num] REG_DWORD 0x00000007 -> REG_DWORD 0x00000008",
        L"added   T\\Sub\\New (key)",
        L"added   T\\Sub\\New [(default)] REG_SZ \"n\"",
    };
    EXPECT_EQ(JoinLines(expected), JoinLines(lines));
    EXPECT_NE(std::wstring::npos, before.Entries.begin()->second.Describe(L"T").find(L"T (key)"));
    EXPECT_EQ(L"[01 02 fe]", before.Entries
                                 .at(L"SUB\x01"
                                     L"BIN")
                                 .Data);
    EXPECT_EQ(L"\"Kept \\\"text\\\"\"", before.Entries.at(L"\x01").Data);
}

TEST(RegistrySnapshot, MissingTreeIsEmpty)
{
    const RegistrySnapshot none =
        TakeRegistrySnapshot(HKEY_CURRENT_USER, L"Software\\VnxNoSuchKey", KEY_WOW64_32KEY);
    EXPECT_FALSE(none.Exists);
    EXPECT_TRUE(none.Entries.empty());
}

} // namespace
