// uninstall.exe run as its own process from a scratch installation folder:
// the listed files, the program and its folder go, the last through the
// hidden command processor and its batch file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "settings/settings_fixtures.h"
#include "startup/run_guard.h"
#include "support/program_under_test.h"

namespace
{

class UninstallRoad : public testing::Test, public ProgramCopy
{
protected:
    UninstallRoad() : ProgramCopy(L"uninstall_road", L"inst") {}
    void SetUp() override
    {
        ASSERT_TRUE(Ready());
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        batch = std::wstring(temp) + L"Uninstall_Vnx.Bat";
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
    }
    void TearDown() override { RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox"); }
    std::wstring batch;
};

// The list as the installer may write it: in the ANSI code page, in UTF-16
// or UTF-8 with a byte-order mark (the first entry right after the mark), or
// without the templates and help index files the program's runs left behind;
// started without a console, as the shell starts it; last, with a new
// program put in place as soon as the run has ended, as an upgrade does: it
// stays, and so does its folder.
TEST_F(UninstallRoad, SilentRunLeavesNothingBehind)
{
    const std::wstring entries = L"sub\r\nsub\\x.txt\r\ndata.txt\r\n..\\canary.txt\r\n";
    std::string utf16 = "\xFF\xFE";
    for (wchar_t c : entries)
        utf16 += {char(c & 0xFF), char(c >> 8)};
    const std::string ansi(entries.begin(), entries.end());
    const std::string lists[] = {ansi, utf16, "\xEF\xBB\xBF" + ansi, ansi, ansi, ansi};
    const size_t reinstalled = 5;
    for (size_t row = 0; row < ARRAYSIZE(lists); ++row)
    {
        if (row > 0)
        {
            RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
            CreateDirectoryW(Home.c_str(), nullptr);
            ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), Exe.c_str(), FALSE)) << "row " << row;
        }
        CreateDirectoryW((Home + L"\\sub").c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(Home + L"\\sub\\x.txt", "x"));
        ASSERT_TRUE(WriteBytes(Home + L"\\data.txt", "x"));
        ASSERT_TRUE(WriteBytes(Folder / L"canary.txt", "x"));
        if (row == 3)
        {
            // With the new copies a run ended while replacing them left.
            for (const wchar_t* name : {L"\\vnxnew.dat", L"\\zipnew.dat", L"\\velnox.gid",
                                        L"\\zipnew.dat.new", L"\\Velnox.ini.new"})
                ASSERT_TRUE(WriteBytes(Home + name, "x"));
        }
        ASSERT_TRUE(WriteBytes(Home + L"\\Uninstall.lst", lists[row]));

        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + Exe + L"\" /S", Home.c_str(), row == 4 ? DETACHED_PROCESS : 0));
        EXPECT_EQ(0, child.Wait(30000)) << "row " << row;
        EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox")) << "row " << row;
        if (row == reinstalled)
        {
            // Within the batch file's 2 s wait.
            CreateDirectoryW(Home.c_str(), nullptr);
            ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), Exe.c_str(), FALSE));
            EXPECT_TRUE(WaitForCleanup());
            EXPECT_TRUE(Exists(Exe));
            continue;
        }
        // The batch file waits 2 s for the program before it deletes.
        WaitForUninstallEnd(Home);
        EXPECT_FALSE(Exists(Exe)) << "row " << row;
        EXPECT_FALSE(Exists(Home)) << "row " << row;
        EXPECT_TRUE(CleanupFolders().empty()) << "row " << row;
        EXPECT_TRUE(Exists(Folder / L"canary.txt")) << "row " << row;
    }
}

TEST_F(UninstallRoad, PortableInstallationLeavesNothingBehind)
{
    // The settings file beside the program is listed like every other file;
    // nothing may write it again once it is gone.
    ASSERT_TRUE(WriteBytes(Home + L"\\Velnox.ini", "HKCU\\Setup\\ShellExt=1\r\n"));
    ASSERT_TRUE(WriteBytes(Home + L"\\Uninstall.lst", "Velnox.ini\r\nuninstall.exe\r\n"));

    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + Exe + L"\" /S", Home.c_str()));
    EXPECT_EQ(0, child.Wait(30000));
    WaitForUninstallEnd(Home);
    EXPECT_FALSE(Exists(Home + L"\\Velnox.ini"));
    EXPECT_FALSE(Exists(Home));
}

TEST_F(UninstallRoad, NoAtTheQuestionChangesNothing)
{
    ASSERT_TRUE(WriteBytes(Home + L"\\Uninstall.lst", "uninstall.exe\r\n"));
    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + Exe + L"\"", Home.c_str()));
    HWND box = child.FindDialog(30000);
    ASSERT_NE(nullptr, box);
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    // Declined: a tool that started the run must not take the program for gone.
    EXPECT_EQ(1, child.Wait(30000));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_TRUE(Exists(Home + L"\\Uninstall.lst"));
    EXPECT_TRUE(CleanupFolders().empty());
}

// A list that is missing stops the run before anything goes, with exit code
// 2; a silent run shows no box, an interactive one says what is missing. A
// folder that holds nothing but the program (and files that wait for the
// restart), with no installed-programs entry, is what a run stopped after
// the list went leaves: the program then deletes itself.
TEST_F(UninstallRoad, MissingListIsReportedEvenWhenSilentAndNothingGoes)
{
    const wchar_t entryKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
    const struct
    {
        const wchar_t* Options;
        const wchar_t* OtherFile; // beside the program
        bool Entry;               // the installed-programs entry
        long ExitCode;
    } rows[] = {
        {L" /S", L"Velnox.exe", false, 2},
        {L"", L"Velnox.exe", false, 2},
        {L" /S", nullptr, true, 2},
        {L" /S", nullptr, false, 0},
        {L" /S", L"vnxext.dll.0.tmp", false, 0},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        CreateDirectoryW(Home.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), Exe.c_str(), FALSE)) << "row " << row;
        if (row > 0 && rows[row - 1].OtherFile)
            DeleteFileW((Home + L"\\" + rows[row - 1].OtherFile).c_str());
        if (rows[row].OtherFile)
        {
            ASSERT_TRUE(WriteBytes(Home + L"\\" + rows[row].OtherFile, "x"));
        }
        if (rows[row].Entry)
            RawSet(HKEY_LOCAL_MACHINE, entryKey, L"DisplayName", REG_SZ, L"V", 4);
        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + Exe + L"\"" + rows[row].Options, Home.c_str()));
        if (rows[row].Options[0] == 0)
        {
            HWND question = child.FindDialog(30000);
            ASSERT_NE(nullptr, question) << "row " << row;
            PostMessageW(question, WM_COMMAND, IDYES, 0);
            HWND box = child.FindDialog(30000, question);
            ASSERT_NE(nullptr, box) << "row " << row;
            HWND text = FindWindowExW(box, nullptr, L"Static", nullptr);
            while (text && WindowText(text).find(L"Uninstall.lst") == std::wstring::npos)
                text = FindWindowExW(box, text, L"Static", nullptr);
            EXPECT_NE(nullptr, text) << "row " << row;
            EXPECT_TRUE(HasVisualStyles(GetDlgItem(box, IDOK))) << "row " << row;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        // A box nobody sees would keep a silent run from ever ending.
        EXPECT_EQ(rows[row].ExitCode, child.Wait(30000)) << "row " << row;
        EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox")) << "row " << row;
        EXPECT_EQ(rows[row].Entry, RawKeyExists(HKEY_LOCAL_MACHINE, entryKey)) << "row " << row;
        if (rows[row].ExitCode == 0)
        {
            EXPECT_TRUE(WaitForCleanup()) << "row " << row;
        }
        EXPECT_EQ(rows[row].ExitCode != 0, Exists(Exe)) << "row " << row;
        EXPECT_EQ(rows[row].ExitCode != 0 || rows[row].OtherFile, Exists(Home)) << "row " << row;
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, entryKey);
    }
}

// One setup or uninstall at a time: a second waits for the first to let go
// of the guard, or ends after its wait with 1618, the code on which
// deployment tools try again later, having done nothing and, when silent,
// shown nothing.
TEST_F(UninstallRoad, ASecondInstanceWaitsItsTurnOrEndsWithoutActing)
{
    const struct
    {
        DWORD HeldFor; // milliseconds after the start
        long ExitCode;
    } rows[] = {{1000, 0}, {INFINITE, 1618}};
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        CreateDirectoryW(Home.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), Exe.c_str(), FALSE)) << "row " << row;
        ASSERT_TRUE(WriteBytes(Home + L"\\Uninstall.lst", "uninstall.exe\r\n"));
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
        RunGuard first;
        ASSERT_TRUE(first.Acquire(0)) << "row " << row;
        ChildProcess second;
        const std::wstring log = Folder / L"busy.log";
        ASSERT_TRUE(second.Start(L"\"" + Exe + L"\" /S /log=\"" + log + L"\"", Home.c_str()));
        if (rows[row].HeldFor != INFINITE)
        {
            Sleep(rows[row].HeldFor);
            EXPECT_TRUE(Exists(Home + L"\\Uninstall.lst")) << "row " << row;
            first.Release();
        }
        EXPECT_EQ(rows[row].ExitCode, second.Wait(60000)) << "row " << row;
        first.Release();
        if (rows[row].ExitCode == 0)
        {
            EXPECT_TRUE(WaitForUninstallEnd(Home)) << "row " << row;
            continue;
        }
        EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox")) << "row " << row;
        EXPECT_TRUE(Exists(Home + L"\\Uninstall.lst")) << "row " << row;
        EXPECT_TRUE(CleanupFolders().empty()) << "row " << row;
        EXPECT_NE(std::string::npos,
                  ReadBytes(log).find("exit code 1618: another setup or uninstall is running"))
            << ReadBytes(log);
    }
}

std::wstring BoxText(HWND box)
{
    std::wstring all;
    for (HWND text = FindWindowExW(box, nullptr, L"Static", nullptr); text;
         text = FindWindowExW(box, text, L"Static", nullptr))
        all += WindowText(text);
    return all;
}

// A library in use is moved aside and scheduled, and after it the folders
// that held it, deepest first; a file held without share-delete can go
// neither now nor at the restart: then the entry, the list and the program
// stay, and once nothing holds it the entry's uninstall finishes, telling
// the caller that the restart is still to come.
TEST_F(UninstallRoad, FilesInUseAreScheduledAndTheRestartMessageComesOnceAtTheEnd)
{
    const wchar_t entryKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
    RawSet(HKEY_LOCAL_MACHINE, entryKey, L"DisplayName", REG_SZ, L"V", 4);
    ForgetPendingRenames();
    const std::wstring held = Home + L"\\held.txt", mapped = Home + L"\\sub\\mapped.dll";
    ASSERT_TRUE(CreateDirectoryW((Home + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(held, "x"));
    ASSERT_TRUE(WriteBytes(Home + L"\\data.txt", "x"));
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), mapped.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(mapped + L".0.tmp", "taken"));
    ASSERT_TRUE(WriteBytes(Home + L"\\Uninstall.lst",
                           "data.txt\r\nheld.txt\r\nsub\\mapped.dll\r\nsub\r\nuninstall.exe\r\n"));
    // Held without share-delete: neither deleted nor moved. Mapped as an
    // image, like a library in use: not deleted, but moved aside.
    HANDLE file = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE image =
        CreateFileW(mapped.c_str(), GENERIC_READ | GENERIC_EXECUTE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE section = CreateFileMappingW(image, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
    CloseHandle(image);
    void* view = section ? MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0) : nullptr;
    EXPECT_NE(nullptr, view);

    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + Exe + L"\"", Home.c_str()));
    HWND question = child.FindDialog(30000);
    ASSERT_NE(nullptr, question);
    PostMessageW(question, WM_COMMAND, IDYES, 0);
    HWND restart = child.FindDialog(30000, question);
    ASSERT_NE(nullptr, restart);
    EXPECT_EQ(Message(MSG_RESTART_NEEDED), BoxText(restart));
    EXPECT_EQ(Message(MSG_UNINSTALL_CAPTION), WindowText(restart));
    // At the end: every pass is over.
    EXPECT_FALSE(Exists(Home + L"\\data.txt"));
    EXPECT_FALSE(Exists(mapped));
    EXPECT_TRUE(Exists(mapped + L".1.tmp"));
    // The moved copy, then its folder, then the program's: each folder
    // goes at the restart once what it held has gone.
    const std::vector<std::wstring> pending = PendingRenames();
    const auto at = [&](const std::wstring& name) {
        for (size_t i = 0; i < pending.size(); ++i)
            if (_wcsicmp(pending[i].c_str(), (L"\\??\\" + name).c_str()) == 0)
                return int(i);
        return -1;
    };
    EXPECT_LE(0, at(mapped + L".1.tmp"));
    EXPECT_LT(at(mapped + L".1.tmp"), at(Home + L"\\sub"));
    EXPECT_LT(at(Home + L"\\sub"), at(Home));
    // Wine cannot move a file held this way: it stays, and its own name is
    // never scheduled, or a reinstall before the restart would lose it.
    EXPECT_TRUE(Exists(held));
    EXPECT_FALSE(IsPending(L"\\??\\" + held) || IsPending(L"\\??\\" + held + L".0.tmp"));
    PostMessageW(restart, WM_COMMAND, IDOK, 0);
    HWND left = child.FindDialog(30000, restart);
    ASSERT_NE(nullptr, left);
    EXPECT_EQ(Message(MSG_FILES_LEFT), BoxText(left));
    PostMessageW(left, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(5, child.Wait(30000)) << "a third box, or the held file not told";
    // Everything the entry's uninstall needs to be run again stays.
    EXPECT_TRUE(Exists(Exe));
    EXPECT_TRUE(Exists(Home + L"\\Uninstall.lst"));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, entryKey));
    EXPECT_TRUE(CleanupFolders().empty());

    // Once nothing holds the file, the uninstall runs to its end; the
    // moved library still waits for the restart, and the caller learns it.
    CloseHandle(file);
    ChildProcess rerun;
    const std::wstring log = Folder / L"run 1.log";
    ASSERT_TRUE(WriteBytes(log, "an earlier run\r\n"));
    ASSERT_TRUE(rerun.Start(L"\"" + Exe + L"\" /S \"/log=" + log + L"\"", Home.c_str()));
    EXPECT_EQ(3010, rerun.Wait(30000));
    // The administrator's log, appended to: the road, each file, the code.
    const std::string text = ReadBytes(log);
    const std::string heldName(held.begin(), held.end());
    EXPECT_EQ(0u, text.find("an earlier run\r\n")) << text;
    for (const std::string& line :
         {std::string("mode: uninstall, silent"), "deleted " + heldName,
          std::string("exit code 3010: done; the rest goes at the next restart")})
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
    EXPECT_TRUE(WaitForCleanup());
    EXPECT_FALSE(Exists(Exe));
    EXPECT_FALSE(Exists(held));
    EXPECT_FALSE(Exists(Home + L"\\Uninstall.lst"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, entryKey));
    if (view)
        UnmapViewOfFile(view);
    if (section)
        CloseHandle(section);
    ForgetPendingRenames();
    RemoveRegistryTree(HKEY_LOCAL_MACHINE, entryKey);
}

// "msi" counts as an option, so an installer-package command line never
// takes the uninstall road: its entry, App Paths and files all stay.
TEST_F(UninstallRoad, AnInstallerPackageRunRemovesNothing)
{
    const wchar_t entryKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
    const wchar_t appPathKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe";
    RawSet(HKEY_LOCAL_MACHINE, entryKey, L"DisplayName", REG_SZ, L"V", 4);
    RawSet(HKEY_LOCAL_MACHINE, appPathKey, nullptr, REG_SZ, L"V", 4);
    ASSERT_TRUE(WriteBytes(Home + L"\\data.txt", "x"));
    ASSERT_TRUE(WriteBytes(Home + L"\\Uninstall.lst", "data.txt\r\nuninstall.exe\r\n"));
    DeleteFileW(batch.c_str());

    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + Exe + L"\" /msi /S", Home.c_str()));
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, entryKey));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, appPathKey));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    for (const wchar_t* name : {L"\\data.txt", L"\\Uninstall.lst", L"\\uninstall.exe"})
        EXPECT_TRUE(Exists(Home + name));
    EXPECT_TRUE(CleanupFolders().empty());
    RemoveRegistryTree(HKEY_LOCAL_MACHINE, entryKey);
    RemoveRegistryTree(HKEY_LOCAL_MACHINE, appPathKey);
}

} // namespace
