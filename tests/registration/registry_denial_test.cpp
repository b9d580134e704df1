#include "settings/settings_store.h"
#include "support/registry_denial.h"

#include <gtest/gtest.h>

// The helper other registration tests rely on: the store's writes and
// deletions of a chosen key are refused, everything else passes, and the
// imports are restored at the end of its scope.
TEST(RegistryDenial, RefusesOnlyTheChosenKeysWhileAlive)
{
    const wchar_t* denied = L"\\Software\\VelnoxDenialTest\\Denied";
    const wchar_t* allowed = L"\\Software\\VelnoxDenialTest\\Allowed";
    DeleteKeyTree(HKEY_CURRENT_USER, L"\\Software\\VelnoxDenialTest");
    SetString(HKEY_CURRENT_USER, denied, L"Kept", L"before");
    {
        DenyRegistryAccess deny(L"VelnoxDenialTest\\denied");
        ASSERT_TRUE(deny.Active());
        EXPECT_FALSE(DenyRegistryAccess(L"other").Active()) << "one denial at a time";
        EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(HKEY_CURRENT_USER, denied, L"V", L"x"));
        EXPECT_EQ(ERROR_ACCESS_DENIED, SetInt(HKEY_CURRENT_USER, denied, L"N", 1));
        DeleteValue(HKEY_CURRENT_USER, denied, L"Kept");
        EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, allowed, L"V", L"x"));
        wchar_t text[16];
        EXPECT_TRUE(GetString(HKEY_CURRENT_USER, denied, L"Kept", text, L""));
        EXPECT_STREQ(L"before", text);
        EXPECT_EQ(3, deny.Refusals());
    }
    EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, denied, L"V", L"x"));
    DeleteKeyTree(HKEY_CURRENT_USER, L"\\Software\\VelnoxDenialTest");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"\\Software\\VelnoxDenialTest"));
}
