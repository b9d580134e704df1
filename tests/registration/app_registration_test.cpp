#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/apply_integration.h"
#include "integration/integration_options.h"
#include "integration/shell_extension.h"
#include "platform/platform_probes.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"
#include "support/registry_denial.h"

#include <gtest/gtest.h>

namespace
{

const wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";
const wchar_t kRegistered[] = L"Software\\RegisteredApplications";
const wchar_t kMachineSettings[] = L"Software\\Velnox";
const wchar_t kFileAssociations[] = L"Software\\Velnox\\Capabilities\\FileAssociations";

class AppRegistrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedProbes = ProbeCache;
        Clean();
    }
    void TearDown() override
    {
        ProbeCache = savedProbes;
        Clean();
    }
    void Clean()
    {
        for (REGSAM view : Views(IsWin64Prefix()))
            RemoveRegistryTree(HKEY_LOCAL_MACHINE, kAppPaths, view);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kMachineSettings);
        RawDeleteValue(HKEY_LOCAL_MACHINE, kRegistered, L"Velnox");
    }
    void PretendWindows(DWORD major, DWORD minor)
    {
        ProbeCache.PlatformId = VER_PLATFORM_WIN32_NT;
        ProbeCache.Major = major;
        ProbeCache.Minor = minor;
    }
    void Update(bool remove)
    {
        IntegrationOptions none = {};
        UpdateShellExtensions(remove, none, L"C:\\Velnox\\uninstall.exe");
    }

    ProbeCacheData savedProbes = ProbeCache;
};

TEST_F(AppRegistrationTest, AppPathInEveryView)
{
    const struct
    {
        const wchar_t* Program;
        const wchar_t* Folder;
    } rows[] = {
        {L"C:\\Program Files\\Velnox\\uninstall.exe", L"C:\\Program Files\\Velnox"},
        {L"C:\\uninstall.exe", L"C:\\"},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        std::wstring archiver =
            std::wstring(rows[row].Folder) + (row == 1 ? L"" : L"\\") + L"Velnox.exe";
        ASSERT_TRUE(RegisterAppPath(rows[row].Program)) << row;
        for (REGSAM view : Views(IsWin64Prefix()))
        {
            EXPECT_EQ(archiver, RawValue(HKEY_LOCAL_MACHINE, kAppPaths, L"", view)) << row;
            EXPECT_EQ(rows[row].Folder, RawValue(HKEY_LOCAL_MACHINE, kAppPaths, L"Path", view))
                << row;
        }
        EXPECT_EQ(archiver, RawValue(HKEY_LOCAL_MACHINE, kMachineSettings, L"exe32")) << row;
    }
}

TEST_F(AppRegistrationTest, RefusedAppPathStopsTheWholeApply)
{
    const std::wstring zipBefore = RawValue(HKEY_CLASSES_ROOT, L".zip", L"");
    IntegrationOptions all = {};
    for (bool& flag : all.Associate)
        flag = true;
    all.Desktop = all.StartMenu = all.Programs = all.ShellExt = true;
    wchar_t groupPath[kPathChars] = L"untouched";
    {
        DenyRegistryAccess deny(L"App Paths");
        ASSERT_TRUE(deny.Active());
        EXPECT_FALSE(RegisterAppPath(L"C:\\Velnox\\uninstall.exe"));
        EXPECT_EQ(1, deny.Refusals()) << "stops at the first write";
        EXPECT_FALSE(ApplyIntegration(all, groupPath, kPathChars));
    }
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kMachineSettings));
    for (REGSAM view : Views(IsWin64Prefix()))
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAppPaths, view));
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\Velnox"));
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"Velnox"));
    EXPECT_EQ(zipBefore, RawValue(HKEY_CLASSES_ROOT, L".zip", L""));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\.zip"));
    EXPECT_STREQ(L"untouched", groupPath) << "no shortcuts";
}

TEST_F(AppRegistrationTest, CapabilitiesListEveryExtensionWhateverIsAssociated)
{
    PretendWindows(6, 1);
    Update(false);
    EXPECT_EQ(L"Software\\Velnox\\Capabilities",
              RawValue(HKEY_LOCAL_MACHINE, kRegistered, L"Velnox"));
    EXPECT_EQ(L"Velnox", RawValue(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Capabilities",
                                  L"ApplicationDescription"));
    EXPECT_EQ(kAssociationExtensions, RawValueCount(HKEY_LOCAL_MACHINE, kFileAssociations));
    const struct
    {
        const wchar_t* Extension;
        const wchar_t* Class;
    } rows[] = {{L".zip", L"Velnox.ZIP"}, {L".vnx", L"Velnox"}, {L".tbz", L"Velnox"},
                {L".tgz", L"Velnox"},     {L".uu", L"Velnox"},  {L".001", L"Velnox"}};
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
        EXPECT_EQ(rows[row].Class,
                  RawValue(HKEY_LOCAL_MACHINE, kFileAssociations, rows[row].Extension))
            << row;

    Update(true);
    EXPECT_EQ(kMissing, RawValue(HKEY_LOCAL_MACHINE, kRegistered, L"Velnox"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kMachineSettings));
}

TEST_F(AppRegistrationTest, NoCapabilitiesBeforeVistaButRemovalStillClears)
{
    PretendWindows(5, 1);
    ASSERT_TRUE(RegisterAppPath(L"C:\\Velnox\\uninstall.exe"));
    Update(false);
    EXPECT_EQ(kMissing, RawValue(HKEY_LOCAL_MACHINE, kRegistered, L"Velnox"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Capabilities"));
    ASSERT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kMachineSettings));
    Update(true);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kMachineSettings));
}

} // namespace
