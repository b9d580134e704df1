// Links made on the Linux side of the prefix, which Wine cannot make itself:
// folder and file links inside the installation folder that lead outside it,
// and a spare drive letter mapped to a scratch folder for an installation at a
// drive root.
#include <windows.h>

#include <gtest/gtest.h>

#include <share.h>

#include <string>
#include <vector>

#include "removal/cleanup_batch.h"
#include "removal/cleanup_folder.h"
#include "removal/list_removal.h"
#include "settings/settings_fixtures.h"
#include "support/host_links.h"
#include "support/program_under_test.h"

namespace
{

std::string WideToNarrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

void MakeFile(const std::wstring& path)
{
    ASSERT_TRUE(WriteBytes(path, "x")) << WideToNarrow(path);
}

TEST(UninstallLinks, NamesThroughALinkedFolderAreNeverRemoved)
{
    ScratchDir scratch(L"uninstall_links");
    const std::wstring folder = scratch / L"inst\\";
    const std::wstring outside = scratch / L"outside";
    for (const std::wstring& dir : {scratch / L"inst", outside, outside + L"\\sub",
                                    outside + L"\\empty", scratch / L"lone", folder + L"real"})
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    MakeFile(outside + L"\\victim.txt");
    MakeFile(outside + L"\\sub\\x.txt");
    MakeFile(outside + L"\\ro.txt");
    SetFileAttributesW((outside + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFile(folder + L"own.txt");
    MakeFile(folder + L"real\\f.txt");

    LinuxLinks links;
    ASSERT_TRUE(links.Make(UnixName(outside), UnixName(folder + L"link"), folder + L"link"));
    ASSERT_TRUE(links.Make(UnixName(scratch / L"lone"), UnixName(folder + L"lonelink"),
                           folder + L"lonelink"));
    // File links: Wine shows them as plain files and opens their targets.
    ASSERT_TRUE(links.Make(UnixName(outside + L"\\victim.txt"), UnixName(folder + L"license.txt"),
                           folder + L"license.txt"));
    ASSERT_TRUE(links.Make(UnixName(outside + L"\\ro.txt"), UnixName(folder + L"real\\ro.txt"),
                           folder + L"real\\ro.txt"));
    const DWORD attributes = GetFileAttributesW((folder + L"link").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "this Wine shows a linked folder as a plain one";

    const std::wstring listPath = folder + L"Uninstall.lst";
    ASSERT_TRUE(WriteBytes(listPath,
                           "link\\victim.txt\r\nLINK\\sub\\x.txt\r\nlink/sub\r\n"
                           "link\\empty\r\n"
                           "lonelink\r\nlonelink\\\r\nown.txt\r\nreal\\f.txt\r\nreal\r\n"
                           "license.txt\r\nreal\\ro.txt\r\n"));
    FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
    ASSERT_NE(nullptr, list);
    const std::wstring program = folder + L"uninstall.exe";
    const ListRemoval result = RemoveListedFiles(list, folder.c_str(), program.c_str());
    fclose(list);

    for (const wchar_t* kept : {L"\\victim.txt", L"\\sub\\x.txt", L"\\sub", L"\\empty"})
        EXPECT_TRUE(Exists(outside + kept)) << WideToNarrow(kept);
    EXPECT_TRUE(GetFileAttributesW((outside + L"\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    // Removing the link here removes the empty folder it points at.
    EXPECT_TRUE(Exists(scratch / L"lone"));
    EXPECT_EQ(2, result.Removed);
    EXPECT_FALSE(result.RestartNeeded);
    EXPECT_FALSE(Exists(folder + L"own.txt"));
    EXPECT_FALSE(Exists(folder + L"real\\f.txt"));
}

// The files the uninstall removes unlisted (the help index files and the
// templates of setup) go only while they are the folder's own.
TEST(UninstallLinks, UnlistedFilesOfSetupThatLeadOutsideStay)
{
    ScratchDir scratch(L"uninstall_setup_links");
    const std::wstring folder = scratch / L"inst\\";
    const std::wstring canary = scratch / L"canary.txt";
    ASSERT_TRUE(CreateDirectoryW((scratch / L"inst").c_str(), nullptr));
    MakeFile(canary);
    const std::wstring exe = folder + L"uninstall.exe";
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), exe.c_str(), FALSE));
    MakeFile(folder + L"data.txt");
    MakeFile(folder + L"velnox.fts");
    ASSERT_TRUE(WriteBytes(folder + L"Uninstall.lst", "data.txt\r\nuninstall.exe\r\n"));
    LinuxLinks links;
    for (const wchar_t* name : {L"velnox.gid", L"vnxnew.dat", L"zipnew.dat"})
        ASSERT_TRUE(links.Make(UnixName(canary), UnixName(folder + name), folder + name));
    RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");

    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + exe + L"\" /S", folder.c_str()));
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(exe); }, 60000));
    // The program leaves its folder at once; the batch file deletes it later.
    EXPECT_TRUE(WaitForCleanup());
    EXPECT_TRUE(Exists(canary));
    EXPECT_FALSE(Exists(folder + L"data.txt"));
    EXPECT_FALSE(Exists(folder + L"velnox.fts"));
    for (const wchar_t* name : {L"velnox.gid", L"vnxnew.dat", L"zipnew.dat"})
        EXPECT_TRUE(Exists(folder + name)) << WideToNarrow(name);
}

// The temporary folder and the batch file's name are places a user can
// plant links in: a linked temporary folder is followed to its real place
// once, and a link at the batch file's name is neither written through nor
// replaced.
TEST(UninstallLinks, TheBatchFileGoesThroughNoLink)
{
    ScratchDir scratch(L"uninstall_batch_links");
    const std::wstring real = scratch / L"real";
    ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
    MakeFile(scratch / L"precious.dll");
    LinuxLinks links;
    ASSERT_TRUE(links.Make(UnixName(real), UnixName(scratch / L"temp"), scratch / L"temp"));
    ASSERT_TRUE(links.Make(UnixName(scratch / L"precious.dll"), UnixName(real + L"\\planted.Bat"),
                           real + L"\\planted.Bat"));
    // A link to nothing cannot be seen from here: it is made to a file that
    // goes once the link shows.
    MakeFile(scratch / L"nothing");
    ASSERT_TRUE(links.Make(UnixName(scratch / L"nothing"), UnixName(real + L"\\dangling.Bat"),
                           real + L"\\dangling.Bat", false));
    ASSERT_TRUE(DeleteFileW((scratch / L"nothing").c_str()));

    CleanupFolder cleanup;
    ASSERT_TRUE(cleanup.Create((scratch / L"temp").c_str()));
    EXPECT_EQ(real + L"\\" + cleanup.Name(), cleanup.Path());
    cleanup.Discard();
    EXPECT_TRUE(CleanupFolders(real).empty());

    for (const wchar_t* name : {L"\\planted.Bat", L"\\dangling.Bat"})
        EXPECT_FALSE(
            WriteCleanupBatch((real + name).c_str(), L"C:\\Vx\\uninstall.exe", L"C:\\Vx", true))
            << WideToNarrow(name);
    EXPECT_EQ("x", ReadBytes(scratch / L"precious.dll"));
    EXPECT_FALSE(Exists(scratch / L"nothing"));
}

// A free drive letter, or 0.
wchar_t SpareDriveLetter()
{
    const DWORD used = GetLogicalDrives();
    for (wchar_t letter = L'R'; letter <= L'Y'; ++letter)
    {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (!(used & (1u << (letter - L'A'))) && GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR)
            return letter;
    }
    return 0;
}

TEST(UninstallLinks, AnInstallationAtADriveRootKeepsTheRootInTheBatchFile)
{
    char prefixRoot[MAX_PATH] = "", prefix[16] = "";
    if (!GetEnvironmentVariableA("VNX_PREFIX_ROOT", prefixRoot, MAX_PATH) ||
        !GetEnvironmentVariableA("VNX_PREFIX", prefix, sizeof(prefix)))
        GTEST_SKIP() << "no prefix named in the environment";
    const wchar_t letter = SpareDriveLetter();
    ASSERT_NE(0, letter) << "no spare drive letter";
    const char lower = char(letter - L'A' + 'a');
    ScratchDir scratch(L"uninstall_root");
    const std::wstring root = std::wstring(1, letter) + L":\\";
    LinuxLinks links;
    if (!links.Make(UnixName(scratch.Path()),
                    std::string(prefixRoot) + "/" + prefix + "/dosdevices/" + lower + ":", root,
                    false))
        GTEST_SKIP() << "the drive mapping is not seen";

    const std::wstring exe = root + L"uninstall.exe";
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), exe.c_str(), FALSE));
    MakeFile(root + L"data.txt");
    // A drive's own files that the list does not name. (Wine maps this
    // drive to a plain folder, which unlike a real root could be removed.)
    MakeFile(root + L"user.txt");
    ASSERT_TRUE(WriteBytes(root + L"Uninstall.lst", "data.txt\r\nuninstall.exe\r\n"));
    RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");

    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + exe + L"\" /S", root.c_str()));
    EXPECT_EQ(0, child.Wait(30000));
    // The batch file waits for the program's "wait" run before it deletes.
    const std::vector<std::wstring> waiting = CleanupFolders();
    ASSERT_EQ(1u, waiting.size());
    const std::string bytes = ReadBytes(waiting[0] + L"\\Uninstall_Vnx.Bat");
    const std::string rd = std::string("rd \"") + char(letter) + ":\\\"\r\n";
    EXPECT_NE(std::string::npos, bytes.find(rd)) << bytes;
    EXPECT_TRUE(WaitForCleanup());
    EXPECT_FALSE(Exists(exe));
    EXPECT_FALSE(Exists(root + L"data.txt"));
    EXPECT_TRUE(Exists(root + L"user.txt"));
}

} // namespace
