// The uninstall road run as its own process against faults of the files and
// of its environment: protected and busy files in the list, no command
// processor named, temporary folders that do not exist or whose names the
// command processor's parser would act on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/fault_fixtures.h"
#include "platform/platform_probes.h"
#include "removal/contained_removal.h"
#include "support/host_links.h"

namespace
{

std::wstring TempBatch()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"Uninstall_Vnx.Bat";
}

class UninstallUnderFaults : public InstalledCopy
{
protected:
    UninstallUnderFaults() : InstalledCopy(L"faults_uninstall") {}
    void SetUp() override
    {
        InstalledCopy::SetUp();
        DeleteFileW(TempBatch().c_str());
        // Something of the integration for the removal to take away.
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
        ASSERT_TRUE(WriteBytes(In(L"data.txt"), "x"));
        ASSERT_TRUE(WriteBytes(In(L"Uninstall.lst"), "data.txt\r\nuninstall.exe\r\n"));
    }
    void TearDown() override
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        DeleteFileW(TempBatch().c_str());
    }
    // The batch file waits 2 s for the program before it deletes anything;
    // it and its folder go last.
    static void WaitForBatch() { WaitForCleanup(); }
};

TEST_F(UninstallUnderFaults, ProtectedFilesGoAndABusyOneWaitsForTheRestart)
{
    struct
    {
        const wchar_t* Name;
        DWORD Attributes;
    } protectedFiles[] = {
        {L"ro.txt", FILE_ATTRIBUTE_READONLY},
        {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
        {L"system.txt", FILE_ATTRIBUTE_SYSTEM},
        {L"all.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {L"sub\\inner.txt", FILE_ATTRIBUTE_READONLY},
        {L"sub", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    ASSERT_TRUE(CreateDirectoryW(In(L"sub").c_str(), nullptr));
    std::string list = "sub\r\n";
    for (const auto& file : protectedFiles)
    {
        if (!Exists(In(file.Name)))
        {
            ASSERT_TRUE(WriteBytes(In(file.Name), "x"));
        }
        ASSERT_TRUE(SetFileAttributesW(In(file.Name).c_str(), file.Attributes));
        list += std::string(file.Name, file.Name + wcslen(file.Name)) + "\r\n";
    }
    ForgetPendingRenames();
    ASSERT_TRUE(WriteBytes(In(L"busy.dll"), "x"));
    ASSERT_TRUE(WriteBytes(In(L"Uninstall.lst"), list + "busy.dll\r\nuninstall.exe\r\n"));
    // Held without share-delete, as a running program holds its libraries.
    HANDLE busy = CreateFileW(In(L"busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);

    const int exitCode = RunToEnd(L"/S");
    WaitForBatch();
    // Unmoved, the file stays unscheduled: the program, the list and the
    // entry's uninstall stay with it, to be run again once it is free.
    const bool movedFirst = !Exists(In(L"busy.dll"));
    EXPECT_EQ(!movedFirst, Exists(Exe)) << movedFirst;
    EXPECT_EQ(!movedFirst, Exists(In(L"Uninstall.lst"))) << movedFirst;
    CloseHandle(busy);
    const int rerunCode = movedFirst ? 3010 : RunToEnd(L"/S");
    WaitForBatch();

    for (size_t row = 0; row < ARRAYSIZE(protectedFiles); ++row)
        EXPECT_FALSE(Exists(In(protectedFiles[row].Name))) << "row " << row;
    // Only a moved copy waits for the restart: the own name may hold a
    // reinstalled file by then. Held without share-delete, the file cannot
    // be moved on Windows either, and so it stays, unscheduled.
    const bool moved = movedFirst;
    EXPECT_EQ(moved, IsPending(In(L"busy.dll.0.tmp"))) << moved;
    // A file that stays unscheduled is told in the exit code; a moved one
    // waits for the restart.
    EXPECT_EQ(moved ? 3010 : 5, exitCode) << moved;
    EXPECT_EQ(moved ? 3010 : 0, rerunCode) << moved;
    EXPECT_FALSE(IsPending(In(L"busy.dll")));
    ForgetPendingRenames();
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_FALSE(Exists(In(L"Uninstall.lst")));
    // The program goes; its folder stays for a file the list does not name.
    EXPECT_FALSE(Exists(Exe));
    EXPECT_TRUE(Exists(Home));
    EXPECT_TRUE(CleanupFolders().empty());
}

// "COMSPEC" comes from the user's environment. An elevated run never reads
// it and runs to its end without it. A standard run without it cannot hand
// the batch file to a command processor: known before anything is removed,
// so the run removes nothing and says so in its exit code; no batch file is
// left waiting for someone to run it.
TEST_F(UninstallUnderFaults, NoCommandProcessorNamedEndsQuietly)
{
    const bool elevated = RunsElevated();
    {
        EnvironmentChange noComspec(L"COMSPEC", nullptr);
        EXPECT_EQ(elevated ? 0 : 3, RunToEnd(L"/S"));
    }
    if (elevated)
    {
        WaitForBatch();
        EXPECT_FALSE(Exists(In(L"data.txt")));
        EXPECT_FALSE(Exists(Exe));
        EXPECT_TRUE(CleanupFolders().empty());
        return;
    }
    EXPECT_TRUE(Exists(In(L"data.txt")));
    EXPECT_TRUE(Exists(In(L"Uninstall.lst")));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    // A processor running the batch file would have deleted the program
    // after its 2 s wait.
    Sleep(3000);
    EXPECT_TRUE(Exists(Exe));
    EXPECT_FALSE(Exists(TempBatch()));
    EXPECT_TRUE(CleanupFolders().empty());
}

// The temporary folder comes from the environment, which an elevated run
// does not trust: whatever TEMP names (a folder that does not exist, one
// whose name holds what the command processor's parser acts on,
// "C:\Users\Max (Admin)"), the batch file runs to its end from a folder of
// its own in the Windows temporary folder, and then nothing stays.
TEST_F(UninstallUnderFaults, TemporaryFolders)
{
    const struct
    {
        const wchar_t* Name;
        bool Made;
    } temps[] = {
        {L"no such folder", false},
        {L"t&(x)^%PATH% a!b", true},
        {L"Max (Admin)", true},
    };
    for (size_t row = 0; row < ARRAYSIZE(temps); ++row)
    {
        if (row > 0)
        {
            ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), Exe.c_str(), FALSE));
            ASSERT_TRUE(WriteBytes(In(L"data.txt"), "x"));
            ASSERT_TRUE(WriteBytes(In(L"Uninstall.lst"), "data.txt\r\nuninstall.exe\r\n"));
        }
        const std::wstring temp = Folder / temps[row].Name;
        if (temps[row].Made)
        {
            ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
        }
        std::vector<std::wstring> waiting;
        {
            EnvironmentChange tempVariable(L"TEMP", temp.c_str());
            EnvironmentChange tmpVariable(L"TMP", temp.c_str());
            EXPECT_EQ(0, RunToEnd(L"/S")) << "row " << row;
            // The batch file waits 2 s for the program's "wait" run.
            waiting = CleanupFolders();
        }
        EXPECT_FALSE(Exists(In(L"data.txt"))) << "row " << row;
        EXPECT_FALSE(Exists(In(L"Uninstall.lst"))) << "row " << row;
        // Nothing at the name every run used to share, nor in the folder
        // TEMP names, nor anywhere else: not in the real temporary folder,
        // the installation folder or its parent.
        EXPECT_FALSE(Exists(temp + L"\\Uninstall_Vnx.Bat")) << "row " << row;
        EXPECT_TRUE(CleanupFolders(temp).empty()) << "row " << row;
        EXPECT_FALSE(Exists(TempBatch())) << "row " << row;
        EXPECT_FALSE(Exists(In(L"Uninstall_Vnx.Bat"))) << "row " << row;
        EXPECT_FALSE(Exists(Folder / L"Uninstall_Vnx.Bat")) << "row " << row;
        EXPECT_EQ(1u, waiting.size()) << "row " << row;
        EXPECT_TRUE(WaitForCleanup()) << "row " << row;
        EXPECT_FALSE(Exists(Exe)) << "row " << row;
        EXPECT_FALSE(Exists(Home)) << "row " << row;
        EXPECT_EQ(temps[row].Made, Exists(temp)) << "row " << row;
        ASSERT_TRUE(CreateDirectoryW(Home.c_str(), nullptr));
    }
}

// Runs a Linux command given as UTF-16: Wine hands it over in UTF-8, so
// names beyond ASCII arrive whole.
void RunLinuxWide(std::wstring commandLine)
{
    ChildProcess child;
    if (child.Start(commandLine))
        child.Wait(10000);
}

std::wstring WideUnixName(const std::wstring& path)
{
    const std::string name = UnixName(path);
    wchar_t wide[MAX_PATH * 4] = L"";
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide, ARRAYSIZE(wide));
    return wide;
}

// A folder whose final path reads like the program folder's only to a
// linguistic comparison (which ignores a soft hyphen or a kashida) is
// another folder: a file link pointing into it is no entry of ours.
TEST(ContainedRemovalUnderFaults, FoldersThatOnlyReadAlikeAreOthers)
{
    ScratchDir scratch(L"faults_contained");
    const struct
    {
        const wchar_t* Folder;
        const wchar_t* Other;
    } rows[] = {
        {L"a\u00ADb", L"ab\u00AD"},
        {L"x\u0640y", L"xy\u0640"},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        const std::wstring folder = scratch / rows[row].Folder, other = scratch / rows[row].Other;
        const std::wstring precious = other + L"\\precious.txt", entry = folder + L"\\entry.txt";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << row;
        ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr)) << row;
        ASSERT_TRUE(WriteBytes(precious, "canary"));
        RunLinuxWide(L"Z:\\bin\\ln -sfn \"" + WideUnixName(precious) + L"\" \"" +
                     WideUnixName(entry) + L"\"");
        ASSERT_TRUE(WaitUntil([&] { return Exists(entry); }, 10000)) << row;

        const ContainedFolder inside((folder + L"\\").c_str());
        EXPECT_FALSE(DeleteContainedFile(inside, entry.c_str())) << "row " << row;
        EXPECT_EQ("canary", ReadBytes(precious)) << "row " << row;
        RunLinuxWide(L"Z:\\bin\\rm -f \"" + WideUnixName(entry) + L"\"");
        ASSERT_TRUE(WaitUntil([&] { return !Exists(entry); }, 10000)) << row;
    }
}

} // namespace
