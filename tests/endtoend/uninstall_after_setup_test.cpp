// Setup and then uninstall, each run as its own process: the registry ends as
// it was before setup, every extension back with the program that had it.
// And an uninstall on a machine where setup never ran changes nothing.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration/integration_fixture.h"
#include "integration/integration_options.h"
#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"
#include "support/registry_snapshot.h"

namespace
{

const wchar_t kEntryKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
const wchar_t kAppPathKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";

// Every key the archiver writes, in every view the program can see. (A walk
// of the whole registry takes minutes here.)
std::vector<RegistrySnapshot> TakeSnapshots()
{
    std::vector<RegistrySnapshot> snapshots;
    std::vector<std::wstring> classes = TableExtensions();
    classes.insert(classes.begin(), {L"Velnox", L"Velnox.ZIP", L"Velnox.REV", L".rev", L".rar"});
    for (unsigned number = 0; number < 100; ++number)
        classes.push_back(VolumeExtension(number));
    for (const std::wstring& key : classes)
        snapshots.push_back(
            TakeRegistrySnapshot(HKEY_CLASSES_ROOT, key.c_str(), 0, (L"HKCR\\" + key).c_str()));
    snapshots.push_back(
        TakeRegistrySnapshot(HKEY_CURRENT_USER, L"Software\\Velnox", 0, L"HKCU\\Software\\Velnox"));
    for (REGSAM view : Views(IsWin64Prefix()))
        for (const wchar_t* key :
             {L"Software\\Velnox", L"Software\\RegisteredApplications", kEntryKey, kAppPathKey,
              L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved"})
            snapshots.push_back(TakeRegistrySnapshot(
                HKEY_LOCAL_MACHINE, key, view,
                (std::wstring(view == KEY_WOW64_64KEY ? L"HKLM64\\" : L"HKLM\\") + key).c_str()));
    return snapshots;
}

// Lines that name one of ignored are left out.
std::string Differences(const std::vector<RegistrySnapshot>& before,
                        const std::vector<RegistrySnapshot>& after,
                        const std::vector<std::wstring>& ignored = {})
{
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < before.size(); ++i)
        for (const std::wstring& line : ListRegistryDifferences(before[i], after[i]))
        {
            bool named = false;
            for (const std::wstring& text : ignored)
                named = named || line.find(text) != std::wstring::npos;
            if (named)
                continue;
            // Windows always has this key; a fresh prefix gets it from setup,
            // and removal takes only the archiver's value out of it.
            if (line.find(L"\\RegisteredApplications (key)") != std::wstring::npos &&
                line.compare(0, 6, L"added ") == 0)
                continue;
            lines.push_back(line);
        }
    return JoinLines(lines);
}

// Leaves of earlier runs that point at the archiver would count as the
// previous owners; the prefix's own associations stay.
void RemoveArchiverKeys()
{
    for (const std::wstring& extension : TableExtensions())
        if (IsArchiverClass(RawString(HKEY_CLASSES_ROOT, extension, nullptr).c_str()))
            RemoveRegistryTree(HKEY_CLASSES_ROOT, extension);
    for (const wchar_t* key : {L".rev", L"Velnox", L"Velnox.ZIP", L"Velnox.REV"})
        RemoveRegistryTree(HKEY_CLASSES_ROOT, key);
    RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
    for (REGSAM view : Views(IsWin64Prefix()))
    {
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox", view);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntryKey, view);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kAppPathKey, view);
        // Left by an in-process setup of another test in this prefix.
        RawDeleteValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Velnox", view);
    }
}

class UninstallAfterSetup : public testing::Test
{
protected:
    void SetUp() override
    {
        RemoveArchiverKeys();
        ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), exe.c_str(), FALSE));
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        batch = std::wstring(temp) + L"Uninstall_Vnx.Bat";
        DeleteFileW(batch.c_str());
    }
    void TearDown() override
    {
        RemoveArchiverKeys();
        for (const wchar_t* key : {L".zip", L".7z", L".rar"})
            RemoveRegistryTree(HKEY_CLASSES_ROOT, key);
        ForgetPendingRenames();
    }
    // A silent uninstall that ends without a box, and its batch file run.
    // A silent setup that takes every archive type, no links, no shell
    // extension; its exit code.
    long SetupEveryType() { return SetupEveryType(exe, folder.Path()); }
    long SetupEveryType(const std::wstring& program, const std::wstring& in)
    {
        ChildProcess setup;
        if (!setup.Start(L"\"" + program + L"\" /setup /S /noexplorer /initA" +
                             std::wstring(kAssociationRows, L'1') + L"D0M0P0S0",
                         in.c_str()))
            return -2;
        return setup.Wait(60000);
    }
    void Uninstall(const char* list, int exitCode = 0)
    {
        ASSERT_TRUE(WriteBytes(folder / L"Uninstall.lst", list));
        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + exe + L"\" /S", folder.Path().c_str()));
        EXPECT_EQ(exitCode, child.Wait(30000)) << "a box was left open, or the wrong code";
        EXPECT_TRUE(WaitForCleanup());
        EXPECT_FALSE(Exists(batch));
        EXPECT_FALSE(Exists(exe));
    }
    // The silent uninstall of the copy in that folder, to its end.
    void UninstallCopyIn(const std::wstring& in)
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + in + L"\\uninstall.exe\" /S", in.c_str()));
        EXPECT_EQ(0, child.Wait(30000)) << in;
        EXPECT_TRUE(WaitForUninstallEnd(in)) << in;
    }
    ScratchDir folder{L"uninstall_after_setup"};
    std::wstring exe = folder / L"uninstall.exe";
    std::wstring batch;
};

TEST_F(UninstallAfterSetup, EverythingGoesBackToItsPreviousOwner)
{
    // Previous owners with values of their own, one with a new-file entry,
    // and an extension the archiver never takes.
    RawSetString(HKEY_CLASSES_ROOT, L".zip", nullptr, L"CompressedFolder");
    RawSetString(HKEY_CLASSES_ROOT, L".zip", L"Content Type", L"application/x-zip-compressed");
    RawSetString(HKEY_CLASSES_ROOT, L".zip\\ShellNew", L"NullFile", L"");
    RawSetString(HKEY_CLASSES_ROOT, L".7z", nullptr, L"Other.7z");
    RawSetString(HKEY_CLASSES_ROOT, L".7z", L"PerceivedType", L"compressed");
    RawSetString(HKEY_CLASSES_ROOT, L".rar", nullptr, L"WinOther.rar");
    RawSetString(HKEY_CLASSES_ROOT, L".rar", L"Content Type", L"application/x-rar");
    const std::vector<RegistrySnapshot> before = TakeSnapshots();

    ASSERT_EQ(0, SetupEveryType());
    // Setup really took them over.
    EXPECT_EQ(L"Velnox.ZIP", RawString(HKEY_CLASSES_ROOT, L".zip", nullptr));
    EXPECT_EQ(L"Velnox", RawString(HKEY_CLASSES_ROOT, L".7z", nullptr));
    EXPECT_EQ(L"Velnox", RawString(HKEY_CLASSES_ROOT, L".cab", nullptr));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));

    // A file in use shows no box in a silent run. Held without share-delete
    // it can be neither moved aside nor deleted: it stays, unscheduled, the
    // exit code says so, and the program and its entry stay with it; once
    // the file is free the entry's uninstall finishes.
    WriteBytes(folder / L"held.txt", "x");
    HANDLE held = CreateFileW((folder / L"held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_TRUE(WriteBytes(folder / L"Uninstall.lst", "held.txt\r\nuninstall.exe\r\n"));
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + exe + L"\" /S", folder.Path().c_str()));
        EXPECT_EQ(5, child.Wait(30000)) << "a box was left open, or the file not told";
    }
    EXPECT_TRUE(Exists(exe));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_TRUE(CleanupFolders().empty());
    CloseHandle(held);
    Uninstall("held.txt\r\nuninstall.exe\r\n");
    EXPECT_FALSE(Exists(folder / L"held.txt"));

    EXPECT_EQ("", Differences(before, TakeSnapshots()));
}

// The settings file in the user's own folder outlives the installation: the
// uninstall takes the archiver's settings and records out of it, as it deletes
// them from the registry, and leaves only the file's own switches.
TEST_F(UninstallAfterSetup, UserSettingsFileKeepsNothingOfTheInstallation)
{
    wchar_t appData[MAX_PATH] = L"";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData)));
    const std::wstring userFolder = std::wstring(appData) + L"\\Velnox";
    const std::wstring userFile = userFolder + L"\\Velnox.ini";
    const bool folderWasThere = Exists(userFolder);
    CreateDirectoryW(userFolder.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(userFile, "Global\\SaveSettings=1\r\n"));
    RawSetString(HKEY_CLASSES_ROOT, L".7z", nullptr, L"Other.7z");
    // What the file holds, without the byte-order mark and NULs of UTF-16.
    auto text = [&]
    {
        std::string narrow;
        for (char c : ReadBytes(userFile))
            if (c != 0 && c != '\xFF' && c != '\xFE')
                narrow += c;
        return narrow;
    };
    ASSERT_EQ(0, SetupEveryType());
    EXPECT_EQ(L"Velnox", RawString(HKEY_CLASSES_ROOT, L".7z", nullptr));
    EXPECT_NE(std::string::npos, text().find("HKCU\\Setup\\.7z\\Type=\"Other.7z\""))
        << "the records went elsewhere:\n" << text();
    Uninstall("uninstall.exe\r\n");
    EXPECT_EQ(L"Other.7z", RawString(HKEY_CLASSES_ROOT, L".7z", nullptr));
    const std::string left = text();
    EXPECT_EQ(std::string::npos, left.find("HKCU\\")) << left;
    EXPECT_EQ(std::string::npos, left.find("HKLM\\")) << left;
    EXPECT_NE(std::string::npos, left.find("SaveSettings=1")) << left;
    DeleteFileW(userFile.c_str());
    if (!folderWasThere)
        RemoveDirectoryW(userFolder.c_str());
}

// Two copies of the archiver in two folders, each installed (settings in the
// registry) or portable (a "Velnox.ini" beside it); the second may never set
// up. Whichever goes first, the integration that stays is the other copy's,
// whole: the one it had before the second setup when the copy that set up
// last goes first, handed back to it. Once both are gone the machine is as
// before the first setup.
TEST_F(UninstallAfterSetup, TwoCopiesEachKeepTheOthersIntegration)
{
    RawSetString(HKEY_CLASSES_ROOT, L".7z", nullptr, L"Other.7z");
    RawSetString(HKEY_CLASSES_ROOT, L".zip", nullptr, L"CompressedFolder");
    const std::vector<RegistrySnapshot> before = TakeSnapshots();
    const char* const portable = "[Global]\r\n";
    const struct
    {
        const char* FirstSettings;  // "Velnox.ini" of each copy, or null
        const char* SecondSettings;
        bool SecondSetsUp;
        bool LastSetUpGoesFirst;
    } rows[] = {
        {nullptr, portable, false, false},
        {nullptr, "Global\\Integration=0\r\n", false, false},
        {nullptr, nullptr, false, false},
        {nullptr, nullptr, true, true},
        {nullptr, nullptr, true, false},
        {nullptr, portable, true, true},
        {nullptr, portable, true, false},
        {portable, nullptr, true, true},
        {portable, nullptr, true, false},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        SCOPED_TRACE(testing::Message() << "row " << row);
        ScratchDir other(L"other_copy");
        const std::wstring otherExe = other / L"uninstall.exe";
        // The uninstall of the row before took the first folder away.
        CreateDirectoryW(folder.Path().c_str(), nullptr);
        const auto makeCopy = [](const ScratchDir& copy, const char* settings)
        {
            ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), (copy / L"uninstall.exe").c_str(), FALSE));
            ASSERT_TRUE(WriteBytes(copy / L"Velnox.exe", "x"));
            std::string list = "Velnox.exe\r\nuninstall.exe\r\n";
            if (settings)
            {
                ASSERT_TRUE(WriteBytes(copy / L"Velnox.ini", settings));
                list += "Velnox.ini\r\n";
            }
            ASSERT_TRUE(WriteBytes(copy / L"Uninstall.lst", list));
        };
        makeCopy(folder, rows[row].FirstSettings);
        makeCopy(other, rows[row].SecondSettings);
        ASSERT_EQ(0, SetupEveryType());
        const std::vector<RegistrySnapshot> firstSetUp = TakeSnapshots();
        if (rows[row].SecondSetsUp)
        {
            ASSERT_EQ(0, SetupEveryType(otherExe, other.Path()));
        }
        const std::vector<RegistrySnapshot> bothSetUp = TakeSnapshots();

        const bool secondFirst = rows[row].LastSetUpGoesFirst || !rows[row].SecondSetsUp;
        UninstallCopyIn(secondFirst ? other.Path() : folder.Path());
        // The entry's size is measured again, over files that changed since.
        if (rows[row].LastSetUpGoesFirst)
            EXPECT_EQ("", Differences(firstSetUp, TakeSnapshots(), {L"[EstimatedSize]"}))
                << "not handed back";
        else if (!secondFirst && !rows[row].FirstSettings && rows[row].SecondSettings)
        {
            // The installed copy's settings and machine values were its own:
            // the portable copy keeps its in its file.
            EXPECT_EQ("", Differences(bothSetUp, TakeSnapshots(),
                                      {L"HKCU\\Software\\Velnox", L"\\Capabilities", L"exe32"}));
            EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
        }
        else
            EXPECT_EQ("", Differences(bothSetUp, TakeSnapshots()));

        UninstallCopyIn(secondFirst ? folder.Path() : other.Path());
        EXPECT_EQ("", Differences(before, TakeSnapshots()));
    }
}

TEST_F(UninstallAfterSetup, NeverSetUpChangesNothingAndShowsNothing)
{
    RawSetString(HKEY_CLASSES_ROOT, L".zip", nullptr, L"CompressedFolder");
    WriteBytes(folder / L"data.txt", "x");
    const std::vector<RegistrySnapshot> before = TakeSnapshots();
    Uninstall("data.txt\r\nuninstall.exe\r\n");
    EXPECT_FALSE(Exists(folder / L"data.txt"));
    EXPECT_EQ("", Differences(before, TakeSnapshots()));
}

} // namespace
