// The cleanup batch file, line for line; its private folder, the copy of the
// program that waits and the program moved aside; names the batch file can
// hold only in their short form or through the environment.
#include "platform/platform_probes.h"
#include "removal/cleanup_batch.h"
#include "removal/cleanup_folder.h"
#include "removal/program_aside.h"
#include "support/host_links.h"
#include "support/import_patch.h"
#include "support/plain_files.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace
{

TEST(CleanupBatchTest, LineForLine)
{
    ScratchDir scratch(L"uninstall_batch");
    const std::wstring batch = scratch / L"Uninstall_Vnx.Bat";
    std::string rounds;
    for (int i = 0; i < 5; ++i)
        rounds += "del \"C:\\Vx\\uninstall.exe\"\r\nrd \"C:\\Vx\"\r\n"
                  "if not exist \"C:\\Vx\\uninstall.exe\" goto done\r\n";
    const std::string head = "\"C:\\Vx\\uninstall.exe\" /wait\r\n" + rounds + ":done\r\n";
    const std::string warning =
        "if exist \"C:\\Vx\\uninstall.exe\" \"C:\\Vx\\uninstall.exe\" /warning\r\n";
    // Each batch file is made new.
    auto write = [&](const wchar_t* program, const wchar_t* folder, bool silent)
    {
        DeleteFileW(batch.c_str());
        return WriteCleanupBatch(batch.c_str(), program, folder, silent);
    };

    ASSERT_TRUE(write(L"C:\\Vx\\uninstall.exe", L"C:\\Vx", false));
    EXPECT_EQ(head + warning, ReadBytes(batch));
    ASSERT_TRUE(write(L"C:\\Vx\\uninstall.exe", L"C:\\Vx", true));
    EXPECT_EQ(head, ReadBytes(batch));

    // A program renamed in place is only deleted: a copy in the cleanup
    // folder runs for the wait, and goes last.
    DeleteFileW(batch.c_str());
    ASSERT_TRUE(WriteCleanupBatch(batch.c_str(), L"C:\\Vx\\Uninstall_Vnx_0.tmp", L"C:\\Vx", false,
                                  L"C:\\T\\uninstall.exe"));
    std::string renamed;
    for (int i = 0; i < 5; ++i)
        renamed += "del \"C:\\Vx\\Uninstall_Vnx_0.tmp\"\r\nrd \"C:\\Vx\"\r\n"
                   "if not exist \"C:\\Vx\\Uninstall_Vnx_0.tmp\" goto done\r\n";
    EXPECT_EQ("\"C:\\T\\uninstall.exe\" /wait\r\n" + renamed +
                  ":done\r\ndel \"C:\\T\\uninstall.exe\"\r\n",
              ReadBytes(batch));
    // One moved into the cleanup folder waits through the copy too, and
    // from there it may show the warning.
    DeleteFileW(batch.c_str());
    ASSERT_TRUE(WriteCleanupBatch(batch.c_str(), L"C:\\T\\uninstall.exe", L"C:\\Vx", false,
                                  L"C:\\T\\Uninstall_Vnx_Wait.exe", true));
    std::string moved;
    for (int i = 0; i < 5; ++i)
        moved += "del \"C:\\T\\uninstall.exe\"\r\nrd \"C:\\Vx\"\r\n"
                 "if not exist \"C:\\T\\uninstall.exe\" goto done\r\n";
    EXPECT_EQ("\"C:\\T\\Uninstall_Vnx_Wait.exe\" /wait\r\n" + moved +
                  ":done\r\nif exist \"C:\\T\\uninstall.exe\" \"C:\\T\\uninstall.exe\" "
                  "/warning\r\ndel \"C:\\T\\Uninstall_Vnx_Wait.exe\"\r\n",
              ReadBytes(batch));

    // A drive root keeps its backslash; "%" would start a variable.
    ASSERT_TRUE(write(L"X:\\uninstall.exe", L"X:\\", true));
    EXPECT_NE(std::string::npos, ReadBytes(batch).find("rd \"X:\\\"\r\n"));
    ASSERT_TRUE(write(L"C:\\100%\\a%PATH%.exe", L"C:\\100%", true));
    EXPECT_EQ(0u, ReadBytes(batch).find("\"C:\\100%%\\a%%PATH%%.exe\" /wait\r\n"));
    EXPECT_NE(std::string::npos, ReadBytes(batch).find("rd \"C:\\100%%\"\r\n"));
    // A name the longest line cannot hold twice goes through its variable.
    const std::wstring deep = L"C:\\" + std::wstring(600, L'd') + L"\\uninstall.exe";
    ASSERT_TRUE(write(deep.c_str(), L"C:\\Vx", false));
    EXPECT_NE(std::string::npos, ReadBytes(batch).find("if exist \"%VNX_UNINSTALL_PROGRAM%\" "
                                                       "\"%VNX_UNINSTALL_PROGRAM%\" /warning\r\n"));
    EXPECT_NE(std::string::npos, ReadBytes(batch).find("rd \"C:\\Vx\"\r\n"));

    // Whatever already stands at the name keeps its text, and no batch runs.
    FILE* planted = _wfopen(batch.c_str(), L"wb");
    ASSERT_NE(nullptr, planted);
    fputs("echo planted\r\n", planted);
    fclose(planted);
    EXPECT_FALSE(WriteCleanupBatch(batch.c_str(), L"C:\\Vx\\uninstall.exe", L"C:\\Vx", true));
    EXPECT_EQ("echo planted\r\n", ReadBytes(batch));
}

std::wstring WrittenAccess;
void* RealCreateDirectory = nullptr;
void* RealNtCreateFile = nullptr;
// Replaces each new folder by a plain one of the same name, as a user who
// may rename entries of the temporary folder could.
bool SwapNewFolders = false;

void SwapForPlantedFolder(const std::wstring& path)
{
    if (SwapNewFolders && MoveFileW(path.c_str(), (path + L".moved").c_str()) &&
        CreateDirectoryW(path.c_str(), nullptr))
        WriteBytes(path + L"\\planted", "x");
}

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    wchar_t* text = nullptr;
    WrittenAccess = L"<none>";
    if (attributes && attributes->lpSecurityDescriptor &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    {
        WrittenAccess = text;
        LocalFree(text);
    }
    const BOOL made =
        reinterpret_cast<decltype(&CreateDirectoryW)>(RealCreateDirectory)(path, attributes);
    if (made)
        SwapForPlantedFolder(path);
    return made;
}

NTSTATUS NTAPI RecordingNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                     PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                                     ULONG share, ULONG disposition, ULONG options, PVOID ea,
                                     ULONG eaLength)
{
    WrittenAccess = L"<none>";
    wchar_t* text = nullptr;
    if (object->SecurityDescriptor &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            object->SecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    {
        WrittenAccess = text;
        LocalFree(text);
    }
    const NTSTATUS made = reinterpret_cast<decltype(&RecordingNtCreateFile)>(RealNtCreateFile)(
        handle, access, object, status, size, attributes, share, disposition, options, ea,
        eaLength);
    // "\??\C:\..." from the name the folder was made at.
    if (made >= 0 && (options & FILE_DIRECTORY_FILE))
        SwapForPlantedFolder(std::wstring(object->ObjectName->Buffer + 4,
                                          object->ObjectName->Length / sizeof(wchar_t) - 4));
    return made;
}

// The folder is made through either call; the hooks stay for one scope.
struct FolderHooks
{
    FolderHooks()
    {
        RealCreateDirectory = SwapImport("kernel32.dll", "CreateDirectoryW",
                                         reinterpret_cast<void*>(&RecordingCreateDirectory));
        RealNtCreateFile =
            SwapImport("ntdll.dll", "NtCreateFile", reinterpret_cast<void*>(&RecordingNtCreateFile));
    }
    ~FolderHooks()
    {
        if (RealCreateDirectory)
            SwapImport("kernel32.dll", "CreateDirectoryW", RealCreateDirectory);
        if (RealNtCreateFile)
            SwapImport("ntdll.dll", "NtCreateFile", RealNtCreateFile);
        SwapNewFolders = false;
    }
};

void* RealMoveFileEx = nullptr;

// A move out of the file's own folder fails, as one to another volume does.
BOOL WINAPI MoveWithinFolderOnly(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    const std::wstring source(from), target(to);
    if (source.substr(0, source.rfind(L'\\')) != target.substr(0, target.rfind(L'\\')))
    {
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return FALSE;
    }
    return reinterpret_cast<decltype(&MoveFileExW)>(RealMoveFileEx)(from, to, flags);
}

// Wine keeps no file access lists, so the one the folder is made with is
// read where the program hands it over.
TEST(CleanupBatchTest, TheBatchFolderIsNewUnguessableAndClosedToOthers)
{
    ScratchDir scratch(L"uninstall_batch_folder");
    const std::wstring temp = scratch / L"t&(x)^%PATH% a!b";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    CleanupFolder first, second;
    bool made = false, madeAgain = false;
    std::wstring access;
    {
        FolderHooks hooks;
        made = first.Create((temp + L"\\").c_str());
        access = WrittenAccess;
        madeAgain = second.Create(temp.c_str());
    }
    ASSERT_TRUE(made);
    ASSERT_TRUE(madeAgain);

    // Only Administrators and SYSTEM may change an elevated run's batch
    // file; nothing comes from the temporary folder.
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    if (elevation.TokenIsElevated)
        EXPECT_EQ(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", access);
    else
        EXPECT_EQ(0u, access.find(L"O:S-1-5-")) << std::string(access.begin(), access.end());

    const std::wstring name = first.Name();
    EXPECT_EQ(temp + L"\\" + name, first.Path());
    ASSERT_EQ(14u + 32u, name.size());
    EXPECT_EQ(0u, name.find(L"Uninstall_Vnx_"));
    EXPECT_EQ(std::wstring::npos, name.find_first_not_of(L"0123456789abcdef", 14));
    EXPECT_NE(name, std::wstring(second.Name()));
    EXPECT_EQ(2u, CleanupFolders(temp).size());
    first.Discard();
    second.Discard();
    EXPECT_TRUE(CleanupFolders(temp).empty());

    // Temporary folders the batch file cannot go below: missing, a file, a
    // device, or so deep that the command processor could
    // not work there.
    ASSERT_TRUE(WriteBytes(scratch / L"file", ""));
    std::wstring deep = scratch.Path();
    while (deep.size() < MAX_PATH - 60)
    {
        deep += L"\\deeper_and_deeper";
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(deep.c_str()));
    const std::wstring refused[] = {scratch / L"missing", scratch / L"file", L"NUL", deep, L""};
    for (size_t row = 0; row < ARRAYSIZE(refused); ++row)
    {
        CleanupFolder folder;
        EXPECT_FALSE(folder.Create(refused[row].c_str())) << "row " << row;
    }
    EXPECT_TRUE(CleanupFolders(deep).empty());

    // A folder swapped for a plain one right after it was made: nothing
    // goes into the one planted.
    {
        FolderHooks hooks;
        SwapNewFolders = true;
        CleanupFolder swapped;
        const bool madeSwapped = swapped.Create(temp.c_str());
        EXPECT_FALSE(madeSwapped && Exists(std::wstring(swapped.Path()) + L"\\planted"));
        swapped.Discard();
    }

    // A copy waits in the cleanup folder while the program stays in its
    // own; only after that does the program leave, into the cleanup folder
    // on the same volume, else to an unguessable name beside itself.
    const std::wstring otherVolume = L"T:\\vnx_aside";
    CreateDirectoryW(otherVolume.c_str(), nullptr);
    for (const std::wstring& home : {scratch.Path(), otherVolume})
    {
        const bool sameVolume = home == scratch.Path();
        if (!sameVolume && !Exists(otherVolume))
            continue; // no small volume in this prefix
        const std::wstring program = home + L"\\uninstall.exe";
        ASSERT_TRUE(WriteBytes(program, "MZ program"));
        CleanupFolder cleanup;
        ASSERT_TRUE(cleanup.Create(temp.c_str()));
        const std::wstring inCleanup = std::wstring(cleanup.Path()) + L"\\";
        EXPECT_EQ(sameVolume, OnSameVolume(program.c_str(), cleanup.Path()));
        ProgramAside aside;
        ASSERT_TRUE(PrepareProgramAside(cleanup, program.c_str(), aside)) << sameVolume;
        EXPECT_EQ("MZ program", ReadBytes(program)) << sameVolume;
        EXPECT_EQ(inCleanup + L"Uninstall_Vnx_Wait.exe", std::wstring(aside.Waiter));
        EXPECT_EQ("MZ program", ReadBytes(aside.Waiter)) << sameVolume;
        const std::wstring movedTo = aside.Moved;
        EXPECT_EQ(sameVolume, aside.IntoCleanup);
        if (sameVolume)
            EXPECT_EQ(inCleanup + L"uninstall.exe", movedTo);
        else
        {
            EXPECT_EQ(home + L"\\Uninstall_Vnx_", movedTo.substr(0, movedTo.rfind(L'_') + 1));
            EXPECT_EQ(L".tmp", movedTo.substr(movedTo.size() - 4));
        }
        if (sameVolume)
        {
            // A move that fails leaves the program where it is.
            RealMoveFileEx = SwapImport("kernel32.dll", "MoveFileExW",
                                        reinterpret_cast<void*>(&MoveWithinFolderOnly));
            EXPECT_FALSE(MoveProgramAside(program.c_str(), aside));
            SwapImport("kernel32.dll", "MoveFileExW", RealMoveFileEx);
            EXPECT_EQ("MZ program", ReadBytes(program));
        }
        ASSERT_TRUE(MoveProgramAside(program.c_str(), aside)) << sameVolume;
        EXPECT_FALSE(Exists(program)) << sameVolume;
        EXPECT_EQ("MZ program", ReadBytes(aside.Moved)) << sameVolume;
        DropWaiter(aside);
        EXPECT_FALSE(Exists(aside.Waiter));
        DeleteFileW(aside.Moved);
        cleanup.Discard();
    }
    RemoveDirectoryW(otherVolume.c_str());

    // What a run ended before its command processor started left in its
    // cleanup folder goes with the next cleanup folder; a waiter still
    // running keeps its folder, and so does a folder of the same name that
    // holds anything else.
    {
        CleanupFolder ended;
        ASSERT_TRUE(ended.Create(temp.c_str()));
        const std::wstring endedPath = ended.Path();
        ASSERT_TRUE(WriteBytes(endedPath + L"\\Uninstall_Vnx_Wait.exe", "MZ"));
        ASSERT_TRUE(WriteBytes(endedPath + L"\\Uninstall_Vnx.Bat", "del x"));
        CleanupFolder running;
        ASSERT_TRUE(running.Create(temp.c_str()));
        const std::wstring runningPath = running.Path();
        const std::wstring waiter = runningPath + L"\\Uninstall_Vnx_Wait.exe";
        ASSERT_TRUE(WriteBytes(waiter, "MZ"));
        const std::wstring foreign = temp + L"\\Uninstall_Vnx_foreign";
        ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(foreign + L"\\Uninstall_Vnx.Bat", "theirs"));
        ASSERT_TRUE(WriteBytes(foreign + L"\\notes.txt", "theirs"));
        // Links planted under a leftover's name, and as its batch file, to
        // a folder and a file of someone else's with the same names.
        const std::wstring canary = scratch / L"canary";
        ASSERT_TRUE(CreateDirectoryW(canary.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(canary + L"\\Uninstall_Vnx.Bat", "canary"));
        const std::wstring linkedFolder = temp + L"\\Uninstall_Vnx_linked";
        const std::wstring withLink = temp + L"\\Uninstall_Vnx_withlink";
        ASSERT_TRUE(CreateDirectoryW(withLink.c_str(), nullptr));
        LinuxLinks links;
        ASSERT_TRUE(links.Make(UnixName(canary), UnixName(linkedFolder), linkedFolder));
        ASSERT_TRUE(links.Make(UnixName(canary + L"\\Uninstall_Vnx.Bat"),
                               UnixName(withLink + L"\\Uninstall_Vnx.Bat"),
                               withLink + L"\\Uninstall_Vnx.Bat"));
        {
            // Held as a running program's image is: not to be deleted.
            const HANDLE held = CreateFileW(waiter.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
            // Not empty: both stay, no longer held.
            ended.Discard();
            running.Discard();
            CleanupFolder next;
            ASSERT_TRUE(next.Create(temp.c_str()));
            CloseHandle(held);
            next.Discard();
        }
        EXPECT_FALSE(Exists(endedPath));
        EXPECT_TRUE(Exists(waiter));
        EXPECT_EQ("theirs", ReadBytes(foreign + L"\\Uninstall_Vnx.Bat"));
        EXPECT_EQ("canary", ReadBytes(canary + L"\\Uninstall_Vnx.Bat"));
        links.RemoveAll();
        RemoveDirectoryW(withLink.c_str());
        RemoveTree(runningPath);
        RemoveTree(foreign);
    }

    // Where a run makes it: an elevated run in the Windows temporary folder,
    // whatever TEMP says; another in TEMP, unless the command processor
    // could not work there.
    wchar_t windows[MAX_PATH] = L"";
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring windowsTemp = std::wstring(windows) + L"\\Temp\\";
    const struct
    {
        int Elevated;
        std::wstring Temp;
        std::wstring Where;
    } places[] = {
        {1, temp + L"\\", windowsTemp},
        {0, temp + L"\\", temp + L"\\"},
        {0, L"\\\\server\\share\\", windowsTemp},
        {0, scratch / L"missing\\", windowsTemp},
    };
    wchar_t oldTemp[MAX_PATH] = L"", oldTmp[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
    GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
    for (size_t row = 0; row < ARRAYSIZE(places); ++row)
    {
        SetEnvironmentVariableW(L"TEMP", places[row].Temp.c_str());
        SetEnvironmentVariableW(L"TMP", places[row].Temp.c_str());
        ProbeCache.Elevated = places[row].Elevated;
        CleanupFolder folder;
        EXPECT_TRUE(folder.CreateForThisRun()) << "row " << row;
        const std::wstring path = folder.Path();
        EXPECT_EQ(0, _wcsnicmp(path.c_str(), places[row].Where.c_str(), places[row].Where.size()))
            << "row " << row << ": " << std::string(path.begin(), path.end());
        EXPECT_EQ(places[row].Where.size(), path.rfind(L'\\') + 1) << "row " << row;
        folder.Discard();
    }
    ProbeCache.Elevated = -1;
    SetEnvironmentVariableW(L"TEMP", oldTemp);
    SetEnvironmentVariableW(L"TMP", oldTmp);
}

TEST(CleanupBatchTest, NamesWithNoSafeFormGoThroughTheEnvironment)
{
    ScratchDir scratch(L"uninstall_batch_env");
    // Not there, so it has no short form either.
    const std::wstring folder = scratch / L"\x4E2D\x0416\x05D0";
    const std::wstring program = folder + L"\\uninstall.exe";
    wchar_t safe[1024];
    ASSERT_FALSE(BatchSafePath(program.c_str(), safe, 1024));
    const std::wstring batch = scratch / L"Uninstall_Vnx.Bat";
    ASSERT_TRUE(WriteCleanupBatch(batch.c_str(), program.c_str(), folder.c_str(), false));
    const std::string bytes = ReadBytes(batch);
    EXPECT_EQ(0u,
              bytes.find("\"%VNX_UNINSTALL_PROGRAM%\" /wait\r\n"
                         "del \"%VNX_UNINSTALL_PROGRAM%\"\r\nrd \"%VNX_UNINSTALL_FOLDER%\"\r\n"))
        << bytes;
    // The "warning" run still reports a program that stays.
    EXPECT_NE(
        std::string::npos,
        bytes.find("if exist \"%VNX_UNINSTALL_PROGRAM%\" \"%VNX_UNINSTALL_PROGRAM%\" /warning"))
        << bytes;
    wchar_t value[1024] = L"";
    GetEnvironmentVariableW(L"VNX_UNINSTALL_PROGRAM", value, 1024);
    EXPECT_EQ(program, value);
    GetEnvironmentVariableW(L"VNX_UNINSTALL_FOLDER", value, 1024);
    EXPECT_EQ(folder, value);

    // The command processor reads the names back from its environment; it
    // runs in the batch file's folder, whose parent holds characters its
    // parser would otherwise act on.
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), program.c_str(), FALSE));
    const std::wstring odd = scratch / L"t&(x)^%PATH% a!b";
    const std::wstring batchFolder = odd + L"\\Uninstall_Vnx_0";
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(batchFolder.c_str(), nullptr));
    ASSERT_TRUE(MoveFileW(batch.c_str(), (batchFolder + L"\\Uninstall_Vnx.Bat").c_str()));
    wchar_t comspec[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH);
    wchar_t line[1024];
    ASSERT_TRUE(CleanupCommandLine(comspec, L"Uninstall_Vnx_0", line, 1024));
    ChildProcess cmd;
    ASSERT_TRUE(cmd.Start(line, batchFolder.c_str()));
    EXPECT_NE(-1, cmd.Wait(60000));
    EXPECT_FALSE(Exists(program));
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(batchFolder));
    EXPECT_TRUE(Exists(odd));
}

TEST(CleanupBatchTest, NamesTheCodePageCannotHoldAreShortened)
{
    ScratchDir scratch(L"uninstall_batch_cp");
    // Characters no single-byte code page holds together.
    const std::wstring folder = scratch / L"\x4E2D\x0416\x05D0\x03A9";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring program = folder + L"\\uninstall.exe";
    ASSERT_TRUE(WriteBytes(program, ""));
    const std::wstring batch = scratch / L"Uninstall_Vnx.Bat";
    ASSERT_TRUE(WriteCleanupBatch(batch.c_str(), program.c_str(), folder.c_str(), false));
    const std::string bytes = ReadBytes(batch);
    EXPECT_EQ(std::string::npos, bytes.find('?')) << bytes;
    // What is written must name the real folder, or a variable holding it.
    const size_t rd = bytes.find("rd \"");
    ASSERT_NE(std::string::npos, rd) << bytes;
    const std::string named = bytes.substr(rd + 4, bytes.find('"', rd + 4) - rd - 4);
    DWORD attributes = GetFileAttributesA(named.c_str());
    if (named == "%VNX_UNINSTALL_FOLDER%")
    {
        wchar_t value[1024] = L"";
        GetEnvironmentVariableW(L"VNX_UNINSTALL_FOLDER", value, 1024);
        attributes = GetFileAttributesW(value);
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << named;
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << named;
    wchar_t safe[1024];
    EXPECT_TRUE(BatchSafePath(L"C:\\plain\\name.exe", safe, 1024));
    EXPECT_STREQ(L"C:\\plain\\name.exe", safe);
}

} // namespace
