// The two Windows the tests run on: a 32-bit one and a 64-bit one where this
// 32-bit program runs under WOW64. Every other test relies on getting the
// prefix it was registered for.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace
{

bool RunsUnderWow64()
{
    BOOL wow64 = FALSE;
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace

TEST(TestBench, PrefixMatchesItsName)
{
    const char* prefix = std::getenv("VNX_PREFIX");
    ASSERT_NE(prefix, nullptr) << "ctest sets VNX_PREFIX for every entry";
    if (std::strcmp(prefix, "win64") == 0)
        EXPECT_TRUE(RunsUnderWow64());
    else
        EXPECT_FALSE(RunsUnderWow64());
}

TEST(TestBench, SixtyFourBitViewIsSeparateOnlyUnderWow64)
{
    // HKLM\Software is redirected for 32-bit programs on 64-bit Windows.
    const wchar_t* key = L"Software\\VelnoxTestBenchView";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &handle, nullptr));
    RegCloseKey(handle);
    HKEY seen = nullptr;
    LONG inOwnView = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &seen);
    if (seen)
        RegCloseKey(seen);
    if (RunsUnderWow64())
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, inOwnView);
    else
        EXPECT_EQ(ERROR_SUCCESS, inOwnView);

    HKEY root = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0,
                                           KEY_ALL_ACCESS | KEY_WOW64_64KEY, &root));
    RegDeleteKeyW(root, L"VelnoxTestBenchView");
    RegCloseKey(root);
}
