// Registry writes and deletions refused after the first ones: setup and
// removal pass over what they may not touch and do all the rest. Wine lets
// an administrator write everywhere, so the refusals are made in-process.
// (The refused first App Paths write and first class write, which stop
// setup, are covered with the registration and apply tests.)
#include "files/path_names.h"
#include "integration/apply_integration.h"
#include "integration/integration_fixture.h"
#include "removal/integration_removal.h"
#include "settings/settings_store.h"
#include "support/registry_denial.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

const wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";

class RefusedLaterWrites : public IntegrationTest
{
protected:
    void TearDown() override
    {
        // The program's own removal takes away what a row left behind.
        RemoveIntegration();
        SetRegistryView(0);
        IntegrationTest::TearDown();
    }
    static bool Apply()
    {
        IntegrationOptions options = AllRows(true);
        wchar_t groupPath[kPathChars] = L"";
        const bool applied = ApplyIntegration(options, groupPath, kPathChars);
        SetRegistryView(0);
        return applied;
    }
};

// Each row refuses one thing to setup and another to the removal after it.
TEST_F(RefusedLaterWrites, SetupAndRemovalPassOverThemAndDoTheRest)
{
    const struct
    {
        const wchar_t* RefusedToSetup;
        HKEY SetupRoot;
        const wchar_t* RefusedToRemoval;
        HKEY RemovalRoot;
    } rows[] = {
        {L"shellex", HKEY_CLASSES_ROOT, L"Velnox.ZIP", HKEY_CLASSES_ROOT},
        {L"Capabilities", HKEY_LOCAL_MACHINE, L"App Paths", HKEY_LOCAL_MACHINE},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        SetClassValue(L".7z", nullptr, L"Other.7z");
        {
            DenyRegistryAccess deny(rows[row].RefusedToSetup, rows[row].SetupRoot);
            ASSERT_TRUE(deny.Active()) << "row " << row;
            EXPECT_TRUE(Apply()) << "row " << row;
            EXPECT_GT(deny.Refusals(), 0) << "row " << row << ": nothing was refused";
        }
        EXPECT_EQ(L"Velnox", ClassValue(L".7z")) << "row " << row;
        EXPECT_EQ(L"Velnox.ZIP", ClassValue(L".zip")) << "row " << row;
        EXPECT_EQ(L"Velnox.REV", ClassValue(L".rev")) << "row " << row;
        EXPECT_NE(L"<no key>", ClassValue(L"Velnox.ZIP")) << "row " << row;
        EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kAppPaths)) << "row " << row;
        EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup")) << "row " << row;

        {
            DenyRegistryAccess deny(rows[row].RefusedToRemoval, rows[row].RemovalRoot);
            ASSERT_TRUE(deny.Active()) << "row " << row;
            RemoveIntegration();
            SetRegistryView(0);
            EXPECT_GT(deny.Refusals(), 0) << "row " << row << ": nothing was refused";
        }
        const std::wstring refused = rows[row].RefusedToRemoval;
        EXPECT_EQ(L"Other.7z", ClassValue(L".7z")) << "row " << row;
        EXPECT_EQ(L"<no key>", ClassValue(L".zip")) << "row " << row;
        EXPECT_EQ(L"<no key>", ClassValue(L"Velnox")) << "row " << row;
        EXPECT_EQ(L"<no key>", ClassValue(L".rev")) << "row " << row;
        EXPECT_EQ(refused == L"Velnox.ZIP", ClassValue(L"Velnox.ZIP") != L"<no key>")
            << "row " << row;
        EXPECT_EQ(refused == L"App Paths", RawKeyExists(HKEY_LOCAL_MACHINE, kAppPaths))
            << "row " << row;
        EXPECT_EQ(refused == L"Software\\Velnox",
                  RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"))
            << "row " << row;
        RemoveIntegration();
        SetRegistryView(0);
        Clean();
    }
}

} // namespace
