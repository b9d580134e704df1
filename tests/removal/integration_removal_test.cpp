// Setup's integration taken back: previous owners restored, nothing of the
// archiver left in the registry; an installer package keeps its own keys.
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/apply_integration.h"
#include "integration/integration_fixture.h"
#include "integration/uninstall_entry.h"
#include "removal/integration_removal.h"
#include "run/run_state.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace
{

const wchar_t kAppPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";
const wchar_t kEntry[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";

class RemovalTest : public IntegrationTest
{
protected:
    void TearDown() override
    {
        RunState.MsiMode = false;
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntry);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kAppPath);
        IntegrationTest::TearDown();
    }
};

TEST_F(RemovalTest, SetupThenRemovalGivesEverythingBack)
{
    SetClassValue(L".cab", nullptr, L"OldCab");
    SetClassValue(L".7z", nullptr, L"Other.7z");
    wchar_t groupPath[kPathChars] = {0};
    ASSERT_TRUE(ApplyIntegration(AllRows(true), groupPath, kPathChars));
    WriteUninstallEntry();
    SetRegistryView(0);
    ASSERT_EQ(L"Velnox.ZIP", ClassValue(L".zip"));
    ASSERT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kAppPath, 0));

    RemoveIntegration();
    // The entry lets the removal be run again until it is done: it goes
    // last, on its own.
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kEntry, 0));
    RemoveUninstallEntry();

    EXPECT_EQ(L"OldCab", ClassValue(L".cab"));
    EXPECT_EQ(L"Other.7z", ClassValue(L".7z"));
    EXPECT_EQ(L"<no key>", ClassValue(L".zip"));
    for (const wchar_t* key : {L"Velnox", L"Velnox.ZIP", L"Velnox.REV", L".rev"})
        EXPECT_EQ(L"<no key>", ClassValue(key)) << key;
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
    {
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velnox", view)) << view;
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAppPath, view)) << view;
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kEntry, view)) << view;
    }
    EXPECT_EQ(0u, RegistryView());
}

// Extensions another program took between setup and uninstall stay its own,
// and nothing is left pointing at the classes and templates that go.
TEST_F(RemovalTest, WhatAnotherProgramTookStaysAndNothingPointsAtTheArchiver)
{
    SetClassValue(L".vnx", nullptr, L"OldVnx");
    wchar_t groupPath[kPathChars] = {0};
    ASSERT_TRUE(ApplyIntegration(AllRows(true), groupPath, kPathChars));
    SetRegistryView(0);
    ASSERT_EQ(BesideTestBinary(L"vnxnew.dat"), ClassValue(L".vnx\\ShellNew", L"FileName"));
    SetClassValue(L".vnx", nullptr, L"Other.Vnx");
    SetClassValue(L".v05", nullptr, L"Other.Volume");
    SetClassValue(L".zip", nullptr, L"Other.Zip");
    SetClassValue(L".zip\\ShellNew", L"NullFile", L"");
    SetClassValue(L".rev", nullptr, L"Other.Rev");
    SetClassValue(L".rev", L"Content Type", L"application/x-other");
    SetClassValue(L".rev\\OpenWithProgids", L"Other.Rev", L"");

    RemoveIntegration();

    EXPECT_EQ(L"Other.Vnx", ClassValue(L".vnx"));
    EXPECT_EQ(L"<no key>", ClassValue(L".vnx\\ShellNew"));
    EXPECT_EQ(L"Other.Zip", ClassValue(L".zip"));
    EXPECT_EQ(L"<no value>", ClassValue(L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(L"", ClassValue(L".zip\\ShellNew", L"NullFile"));
    for (unsigned number = 0; number < 30; ++number)
        EXPECT_EQ(number == 5 ? L"Other.Volume" : L"OldVnx",
                  ClassValue(VolumeExtension(number).c_str()))
            << number;
    EXPECT_EQ(L"Other.Rev", ClassValue(L".rev"));
    EXPECT_EQ(L"application/x-other", ClassValue(L".rev", L"Content Type"));
    EXPECT_EQ(L"", ClassValue(L".rev\\OpenWithProgids", L"Other.Rev"));
    EXPECT_EQ(L"<no key>", ClassValue(L"Velnox.REV"));
}

// Left to the archiver by a setup stopped before its last step, or by an
// older version: ".ace" goes back before its record goes with the settings.
// A settings file in the user's own folder does not keep an elevated removal
// from the machine's registry.
// Rows: records in the registry; a settings file in the user's folder that
// switches integration off; one beside the installation (not the user's)
// whose setup the machine's entry shows; the same without that entry, where
// the switch holds.
TEST_F(RemovalTest, AceAndTheClassesGoWhateverTheUsersSettingsFileSays)
{
    enum { Registry, UserFile, RegisteredHere, NotRegistered };
    for (int row = Registry; row <= NotRegistered; ++row)
    {
        wchar_t folder[kPathChars];
        ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)));
        const std::wstring fileFolder =
            row == UserFile ? std::wstring(folder) + L"\\Velnox" : L"C:\\vnx-beside-install";
        const std::wstring file = fileFolder + L"\\Velnox.ini";
        SetClassValue(L".ace", nullptr, L"Velnox");
        SetClassValue(L"Velnox\\shell\\open\\command", nullptr, L"Velnox.exe");
        if (row == RegisteredHere)
            WriteUninstallEntry(); // names the folder of this program
        if (row != Registry)
        {
            CreateDirectoryW(fileFolder.c_str(), nullptr);
            ASSERT_TRUE(WriteBytes(file, "Global\\Integration=0\r\nHKCU\\Setup\\.ace\\Exist=1\r\n"
                                         "HKCU\\Setup\\.ace\\Type=\"OldAce\"\r\n"));
            ASSERT_TRUE(LoadPortableSettingsFile(file.c_str()));
        }
        else
        {
            SetUserInt(L"Setup\\.ace", L"Exist", 1);
            SetUserString(L"Setup\\.ace", L"Type", L"OldAce");
        }
        RemoveIntegration();
        FreePortableSettings();
        DeleteFileW(file.c_str());
        RemoveDirectoryW(fileFolder.c_str());
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntry);
        const bool switchHolds = row == NotRegistered;
        EXPECT_EQ(switchHolds ? L"Velnox" : L"OldAce", ClassValue(L".ace")) << row;
        EXPECT_EQ(switchHolds ? L"<no value>" : L"<no key>", ClassValue(L"Velnox")) << row;
        EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox")) << row;
        RemoveRegistryTree(HKEY_CLASSES_ROOT, L".ace");
        RemoveRegistryTree(HKEY_CLASSES_ROOT, L"Velnox");
    }
}

TEST_F(RemovalTest, InstallerPackageKeepsItsEntriesAndNothingToRemoveIsQuiet)
{
    RemoveIntegration(); // never set up: nothing to find, nothing shown
    EXPECT_EQ(L"<no key>", ClassValue(L".zip"));

    ASSERT_TRUE(RegisterAppPath());
    WriteUninstallEntry();
    SetRegistryView(0);
    RunState.MsiMode = true;
    RemoveIntegration();
    RemoveUninstallEntry();
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kAppPath, 0));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kEntry, 0));
}

} // namespace
