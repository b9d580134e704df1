// The apply sequence as a whole: its stop when the classes are refused, and a
// settings file that switches system integration off.
#include "files/path_names.h"
#include "integration/apply_integration.h"
#include "integration/integration_fixture.h"
#include "run/run_state.h"
#include "settings/settings_store.h"
#include "support/registry_denial.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{
using ApplyTest = IntegrationTest;

const wchar_t kCanary[] = L"untouched";
} // namespace

TEST_F(ApplyTest, RefusedClassesStopEverythingAfterThem)
{
    wchar_t groupPath[kPathChars];
    memcpy(groupPath, kCanary, sizeof(kCanary));
    IntegrationOptions options = AllRows(true);
    options.Programs = true;
    {
        DenyRegistryAccess deny(L"Velnox", HKEY_CLASSES_ROOT);
        ASSERT_TRUE(deny.Active());
        EXPECT_FALSE(ApplyIntegration(options, groupPath, kPathChars));
    }
    SetRegistryView(0);
    // The associations come before the classes; the shortcuts never came.
    EXPECT_EQ(L"Velnox.ZIP", ClassValue(L".zip"));
    EXPECT_EQ(L"<no key>", ClassValue(L".rev"));
    EXPECT_EQ(L"<no key>", ClassValue(L"Velnox.ZIP"));
    EXPECT_STREQ(kCanary, groupPath);

    // Setup goes on after a refusal, but its caller learns that part of the
    // choice is missing (an installer-package run: no entry is written).
    RunState = RunStateData();
    RunState.MsiMode = true;
    {
        DenyRegistryAccess deny(L"Velnox", HKEY_CLASSES_ROOT);
        ASSERT_TRUE(deny.Active());
        AcceptIntegrationChoice(options);
    }
    EXPECT_EQ(kExitSetupPartial, ExitCodeOf(RunState.Outcome));
    RunState = RunStateData();
}

TEST_F(ApplyTest, SettingsFileWithoutIntegrationKeepsOnlyTheUserValues)
{
    const std::wstring file = ScratchFolder() + L"Velnox.ini";
    std::wstring text(1, wchar_t(0xFEFF));
    text += L"Global\\Integration=0\r\n";
    ASSERT_TRUE(WriteBytes(file, Utf16Bytes(text)));
    ASSERT_TRUE(LoadPortableSettingsFile(file.c_str()));
    SetClassValue(L".cab", nullptr, L"OldCab");

    IntegrationOptions options = AllRows(true);
    options.Desktop = options.StartMenu = options.Programs = true;
    StoreIntegrationOptions(options);
    wchar_t groupPath[kPathChars];
    memcpy(groupPath, kCanary, sizeof(kCanary));
    EXPECT_TRUE(ApplyIntegration(options, groupPath, kPathChars));
    SetRegistryView(0);

    EXPECT_STREQ(kCanary, groupPath) << "no shortcuts";
    EXPECT_EQ(L"<no key>", ClassValue(L".zip"));
    EXPECT_EQ(L"OldCab", ClassValue(L".cab"));
    EXPECT_EQ(L"<no key>", ClassValue(L"Velnox"));
    EXPECT_EQ(L"<no key>", ClassValue(L".rev"));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    // The choices and the previous owners went to the file: the registry read
    // as nothing, so no owner was seen.
    const wchar_t* set = FindPortableValue(L"HKCU\\Setup\\.zip\\Set");
    ASSERT_NE(nullptr, set);
    EXPECT_STREQ(L"1", set);
    const wchar_t* exist = FindPortableValue(L"HKCU\\Setup\\.cab\\Exist");
    ASSERT_NE(nullptr, exist);
    EXPECT_STREQ(L"0", exist);
    FreePortableSettings();
    DeleteFileW(file.c_str());
}
