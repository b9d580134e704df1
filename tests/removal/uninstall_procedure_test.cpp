// The list of installed files read and removed in passes, files in use
// scheduled for the next restart, and the cleanup batch file.
#include "platform/platform_probes.h"
#include "removal/cleanup_batch.h"
#include "removal/cleanup_folder.h"
#include "removal/list_removal.h"
#include "removal/program_aside.h"
#include "removal/removal_checks.h"
#include "support/import_patch.h"
#include "support/plain_files.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <winternl.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <fstream>
#include <string>
#include <vector>

namespace
{

void MakeFile(const std::wstring& path, DWORD attributes = 0)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << std::string(path.begin(), path.end());
    CloseHandle(file);
    if (attributes)
        SetFileAttributesW(path.c_str(), attributes);
}

// An installation folder "inst" with a canary tree beside it.
class ListTest : public ::testing::Test
{
protected:
    ListTest() : scratch(L"uninstall_list") {}
    void SetUp() override
    {
        folder = scratch / L"inst\\";
        CreateDirectoryW((scratch / L"inst").c_str(), nullptr);
        CreateDirectoryW((scratch / L"canary").c_str(), nullptr);
        MakeFile(scratch / L"canary\\keep.txt");
        MakeFile(scratch / L"keep.txt");
        program = folder + L"uninstall.exe";
    }
    ListRemoval Run(const std::string& listText)
    {
        const std::wstring listPath = folder + L"Uninstall.lst";
        FILE* out = _wfopen(listPath.c_str(), L"wb");
        fwrite(listText.data(), 1, listText.size(), out);
        fclose(out);
        FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
        const ListRemoval result = RemoveListedFiles(list, folder.c_str(), program.c_str());
        fclose(list);
        return result;
    }
    ScratchDir scratch;
    std::wstring folder;
    std::wstring program;
};

TEST(ListEntryTest, OnlyNamesInsideTheFolderPass)
{
    const wchar_t* const hostile[] = {
        L"",
        L"\\Windows\\win.ini",
        L"/Windows/win.ini",
        L"C:x.txt",
        L"C:\\Windows\\win.ini",
        L"z:/keep.txt",
        L"\\\\server\\share\\x",
        L"\\\\?\\C:\\x",
        L"\\\\.\\C:\\x",
        L"//?/C:/x",
        L"..",
        L"..\\keep.txt",
        L"../keep.txt",
        L"..\\..\\Windows\\system32\\x.dll",
        L"a\\..\\..\\keep.txt",
        L"a/../../keep.txt",
        L"a\\b\\..",
        L".",
        L".\\",
        L"./.",
        L"...",
        L"... \\keep.txt",
        L" ..\\keep.txt",
        L".. \\keep.txt",
        L"a\\. .\\..\\..",
        L"\\",
        L"/",
        L"CON",
        L"nul.txt",
        L"sub\\COM1",
        L"lpt9.log",
        L"AUX ",
        L"conout$",
        L"Prn .x\\y",
        L"COM1:",
        L"sub\\a.txt:stream",
    };
    for (size_t i = 0; i < ARRAYSIZE(hostile); ++i)
        EXPECT_FALSE(IsSafeListEntry(hostile[i])) << "row " << i;
    const wchar_t* const inside[] = {L"a.txt",     L"sub\\b.dll",  L"sub/c", L".\\d.txt",
                                     L" lead.txt", L"a..b",        L"..a",   L"sub\\.hidden",
                                     L"COM10",     L"console.txt", L"nul2",  L"CONx"};
    for (size_t i = 0; i < ARRAYSIZE(inside); ++i)
        EXPECT_TRUE(IsSafeListEntry(inside[i])) << "row " << i;
}

TEST_F(ListTest, HostileLinesLeaveTheCanaryTreeAlone)
{
    std::string text;
    const std::wstring canary = scratch / L"canary\\keep.txt";
    text += std::string(canary.begin(), canary.end()) + "\r\n";
    text += std::string(canary.begin() + 2, canary.end()) + "\r\n"; // rooted
    for (const char* line :
         {"..\\canary\\keep.txt", "..\\canary", "../keep.txt", "..", "sub\\..\\..\\keep.txt", ".",
          ".\\", "...\\canary\\keep.txt", "C:..\\keep.txt", "\\\\?\\Z:\\canary"})
        text += std::string(line) + "\n";
    text += "own.txt\n";
    MakeFile(folder + L"own.txt");
    const ListRemoval result = Run(text);
    EXPECT_EQ(1, result.Removed);
    EXPECT_TRUE(Exists(canary));
    EXPECT_TRUE(Exists(scratch / L"keep.txt"));
    EXPECT_TRUE(Exists(scratch / L"inst"));
    EXPECT_FALSE(Exists(folder + L"own.txt"));
}

TEST_F(ListTest, FoldersBeforeContentsGoInALaterPass)
{
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    CreateDirectoryW((folder + L"sub\\deep").c_str(), nullptr);
    MakeFile(folder + L"sub\\deep\\r.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    MakeFile(folder + L"sub\\lf.txt");
    MakeFile(folder + L"blank.txt");
    MakeFile(folder + L"tab.txt");
    SetFileAttributesW((folder + L"sub").c_str(), FILE_ATTRIBUTE_READONLY);
    // Line ends and trailing blanks of every kind; a missing name is skipped.
    const ListRemoval result = Run("sub\r\nsub\\deep\nsub\\deep\\r.txt\r\nsub\\lf.txt\n"
                                   "blank.txt  \r\n\r\ntab.txt\t \r\nmissing.txt\n");
    EXPECT_FALSE(Exists(folder + L"tab.txt"));
    EXPECT_FALSE(Exists(folder + L"sub"));
    EXPECT_FALSE(Exists(folder + L"blank.txt"));
    // Files and the contents in the first pass, then "deep", then "sub", then
    // a pass that removes nothing.
    EXPECT_EQ(4, result.Passes);
    EXPECT_FALSE(result.RestartNeeded);
}

struct HolderRescue
{
    HANDLE Holder;
    HANDLE Done;
    LONG LetGo;
};

DWORD WINAPI LetGoAfterFiveSeconds(void* context)
{
    HolderRescue* rescue = static_cast<HolderRescue*>(context);
    if (WaitForSingleObject(rescue->Done, 5000) == WAIT_TIMEOUT)
    {
        rescue->LetGo = 1;
        CloseHandle(rescue->Holder);
    }
    return 0;
}

// A file another process holds with delete sharing: where the system can
// take the name away at once it goes; where its name stays until that
// process lets go, it is told as left, once, and no pass spins on it. A
// holder that is still there after 5 s is let go, so that a spinning
// removal ends and fails here rather than hangs.
TEST_F(ListTest, ANameThatStaysAfterItsDeletionIsLeftNotRemoved)
{
    const std::wstring shared = folder + L"shared.dll";
    MakeFile(shared);
    MakeFile(folder + L"plain.txt");
    HANDLE holder = CreateFileW(shared.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    HolderRescue rescue = {holder, CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE thread = CreateThread(nullptr, 0, LetGoAfterFiveSeconds, &rescue, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const ListRemoval result = Run("shared.dll\r\nplain.txt\r\n");
    SetEvent(rescue.Done);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(rescue.Done);
    EXPECT_EQ(0, rescue.LetGo) << "a pass spun until the holder let go";
    const bool stayed = Exists(shared);
    if (!rescue.LetGo)
        CloseHandle(holder);
    EXPECT_FALSE(Exists(folder + L"plain.txt"));
    EXPECT_EQ(stayed ? 1 : 0, result.Left) << stayed;
    EXPECT_EQ(stayed ? 1 : 2, result.Removed) << stayed;
    EXPECT_FALSE(result.RestartNeeded);
}

TEST_F(ListTest, APassThatRemovesNothingEndsAndLongLinesSplit)
{
    CreateDirectoryW((folder + L"full").c_str(), nullptr);
    MakeFile(folder + L"full\\unlisted.txt");
    MakeFile(folder + L"b.txt");
    // 2047 bytes fill one read; the rest of the line is read as its own line.
    const ListRemoval result = Run("full\n" + std::string(2047, 'a') + "b.txt\n");
    EXPECT_EQ(1, result.Removed);
    EXPECT_EQ(2, result.Passes);
    EXPECT_TRUE(Exists(folder + L"full"));
    EXPECT_FALSE(Exists(folder + L"b.txt"));
}

// The same entries in every encoding the list may come in: a name no ANSI
// code page holds with the others, and the first line right after the mark.
TEST_F(ListTest, MarkedListsAreReadInTheirEncoding)
{
    const std::wstring text = L"first.txt\r\nsub\r\nsub\\\x0416\x4E2D.txt\r\ncaf\u00e9.txt  \n";
    std::string utf8(text.size() * 3, 0);
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0],
                                    int(utf8.size()), nullptr, nullptr));
    std::string little = "\xFF\xFE", big = "\xFE\xFF";
    for (wchar_t c : text)
    {
        little += {char(c & 0xFF), char(c >> 8)};
        big += {char(c >> 8), char(c & 0xFF)};
    }
    const std::string lists[] = {"\xEF\xBB\xBF" + utf8, little, big};
    for (size_t row = 0; row < ARRAYSIZE(lists); ++row)
    {
        CreateDirectoryW((folder + L"sub").c_str(), nullptr);
        for (const wchar_t* name : {L"first.txt", L"sub\\\x0416\x4E2D.txt", L"caf\u00e9.txt"})
            MakeFile(folder + name);
        const ListRemoval result = Run(lists[row]);
        EXPECT_EQ(4, result.Removed) << "row " << row;
        EXPECT_FALSE(result.ReadFailed) << "row " << row;
        EXPECT_FALSE(Exists(folder + L"first.txt")) << "row " << row;
        EXPECT_FALSE(Exists(folder + L"sub")) << "row " << row;
    }
}

// A list that cannot be read says so, and is not taken as read.
TEST_F(ListTest, AListThatCannotBeReadIsNotTakenAsRead)
{
    MakeFile(folder + L"a.txt");
    // A stream over a handle without the right to read: every read fails.
    const HANDLE handle = CreateFileW((folder + L"Uninstall.lst").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    FILE* unreadable = descriptor >= 0 ? _fdopen(descriptor, "rb") : nullptr;
    ASSERT_NE(nullptr, unreadable);
    const ListRemoval result = RemoveListedFiles(unreadable, folder.c_str(), program.c_str());
    fclose(unreadable);
    EXPECT_TRUE(result.ReadFailed);
    EXPECT_EQ(0, result.Removed);
    EXPECT_FALSE(Run("a.txt\n").ReadFailed);
}

// A program file mapped as an image: it cannot be deleted but can be renamed,
// as with a library in use.
class MappedImage
{
public:
    explicit MappedImage(const std::wstring& path)
    {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE,
                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        section_ = CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
        CloseHandle(file);
        if (section_)
            view_ = MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 0);
    }
    ~MappedImage()
    {
        if (view_)
            UnmapViewOfFile(view_);
        if (section_)
            CloseHandle(section_);
    }
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;
    bool Mapped() const { return view_ != nullptr; }

private:
    HANDLE section_ = nullptr;
    void* view_ = nullptr;
};

TEST_F(ListTest, FilesInUseAreScheduledButNeverTheProgramOrTheList)
{
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    const std::wstring mapped = folder + L"mapped.dll";
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), mapped.c_str(), FALSE));
    MakeFile(mapped + L".0.tmp");
    const std::wstring busy = folder + L"busy.dll";
    const std::wstring namedLikeProgram = folder + L"sub\\UNINSTALL.EXE";
    const std::wstring otherList = folder + L"sub\\uninstall.LST";
    std::vector<HANDLE> held;
    for (const std::wstring& path : {busy, namedLikeProgram, otherList})
    {
        MakeFile(path);
        held.push_back(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, held.back());
    }
    MakeFile(busy + L".0.tmp"); // taken: the next free number is used
    // A folder listed before its file: three passes.
    CreateDirectoryW((folder + L"two").c_str(), nullptr);
    MakeFile(folder + L"two\\gone.txt");

    ListRemoval result = {};
    {
        MappedImage image(mapped);
        ASSERT_TRUE(image.Mapped());
        result = Run("mapped.dll\nbusy.dll\nsub\\UNINSTALL.EXE\nsub\\uninstall.LST\n"
                     "two\ntwo\\gone.txt\n");
    }
    for (HANDLE file : held)
        CloseHandle(file);

    EXPECT_TRUE(result.RestartNeeded);
    // ".0.tmp" is taken: the next free number.
    EXPECT_FALSE(Exists(mapped));
    EXPECT_TRUE(Exists(mapped + L".1.tmp"));
    EXPECT_TRUE(IsPending(mapped + L".1.tmp"));
    // A move of a file held without share-delete fails on Windows; only a
    // moved copy is scheduled, never the own name a reinstall may fill.
    const bool moved = !Exists(busy);
    EXPECT_EQ(3, result.Passes);
    // Scheduled once, however many passes see it again.
    EXPECT_EQ(moved ? 1 : 0, PendingCount(busy + L".1.tmp")) << moved;
    EXPECT_EQ(0, PendingCount(busy));
    // One that stays unscheduled is told, once; the protected ones are not.
    EXPECT_EQ(moved ? 0 : 1, result.Left) << moved;
    EXPECT_EQ(1, PendingCount(mapped + L".1.tmp"));
    EXPECT_TRUE(Exists(namedLikeProgram));
    EXPECT_FALSE(IsPending(namedLikeProgram));
    EXPECT_FALSE(IsPending(namedLikeProgram + L".0.tmp"));
    EXPECT_FALSE(IsPending(otherList));
    // The folder that held the moved library goes after it at the restart;
    // one whose files were never scheduled is not named.
    const std::wstring self = folder.substr(0, folder.size() - 1);
    EXPECT_EQ(1, PendingCount(self));
    EXPECT_FALSE(IsPending(folder + L"sub"));
    const std::vector<std::wstring> pending = PendingRenames();
    ASSERT_FALSE(pending.empty());
    EXPECT_EQ(0, _wcsicmp(pending.back().c_str(), (L"\\??\\" + self).c_str())) << pending.back();
    ForgetPendingRenames();
}

// The environment of an elevated run is partly the user's own: whatever
// "COMSPEC" holds there (nothing, a name too long for any buffer, another
// program), the command processor is the system's. Only a standard run
// takes it from "COMSPEC", and needs it.
TEST(CommandProcessorTest, AnElevatedRunNeverReadsComspec)
{
    wchar_t system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    const std::wstring systemCmd = std::wstring(system) + L"\\cmd.exe";
    wchar_t saved[4096] = L"";
    const bool had = GetEnvironmentVariableW(L"COMSPEC", saved, 4096) != 0;
    const std::wstring tooLong(3000, L'x');
    const struct
    {
        int Elevated;
        const wchar_t* Comspec; // null: not set
        const wchar_t* Expected; // null: none found
    } rows[] = {
        {1, nullptr, systemCmd.c_str()},
        {1, tooLong.c_str(), systemCmd.c_str()},
        {1, L"C:\\nowhere\\evil.exe", systemCmd.c_str()},
        {0, nullptr, nullptr},
        {0, tooLong.c_str(), nullptr},
        {0, systemCmd.c_str(), systemCmd.c_str()},
    };
    const int elevated = ProbeCache.Elevated;
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        ProbeCache.Elevated = rows[row].Elevated;
        SetEnvironmentVariableW(L"COMSPEC", rows[row].Comspec);
        wchar_t path[kPathChars];
        const bool found = CommandProcessor(path);
        EXPECT_EQ(rows[row].Expected != nullptr, found) << "row " << row;
        if (found && rows[row].Expected)
        {
            EXPECT_EQ(0, _wcsicmp(rows[row].Expected, path)) << "row " << row;
        }
    }
    ProbeCache.Elevated = elevated;
    SetEnvironmentVariableW(L"COMSPEC", had ? saved : nullptr);
}

// The system trims trailing dots and blanks and knows short names: each of
// these lines reaches the program or the list under another spelling.
TEST_F(ListTest, OtherSpellingsOfTheProgramAndTheListAreNeverScheduled)
{
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    const std::wstring program = folder + L"sub\\uninstall.exe";
    const std::wstring list = folder + L"sub\\Uninstall.lst";
    std::vector<HANDLE> held;
    for (const std::wstring& path : {program, list})
    {
        MakeFile(path);
        held.push_back(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, held.back());
    }
    std::string lines = "sub\\UNINSTALL.EXE.\nsub\\uninstall.exe. . \nsub\\Uninstall.lst. \n";
    wchar_t shortName[MAX_PATH] = L"";
    const DWORD length = GetShortPathNameW(program.c_str(), shortName, MAX_PATH);
    const std::wstring shortPart = length ? std::wstring(wcsrchr(shortName, L'\\') + 1) : L"";
    if (!shortPart.empty() && _wcsicmp(shortPart.c_str(), L"uninstall.exe") != 0)
        lines += "sub\\" + std::string(shortPart.begin(), shortPart.end()) + "\n";

    // The running program itself, so deep that its path is past the classic
    // limit, listed under its short name: told by what it is, not its name.
    // Removed here: the shell's deletion of the scratch folder cannot take
    // paths this long.
    struct DeepTree
    {
        std::vector<std::wstring> Made;
        HANDLE Held = INVALID_HANDLE_VALUE;
        ~DeepTree()
        {
            if (Held != INVALID_HANDLE_VALUE)
                CloseHandle(Held);
            for (auto made = Made.rbegin(); made != Made.rend(); ++made)
            {
                if (!DeleteFileW(made->c_str()))
                    RemoveDirectoryW(made->c_str());
            }
        }
    } tree;
    std::wstring deep = folder + L"sub";
    std::string deepLine = "sub";
    while (deep.size() < MAX_PATH)
    {
        deep += L"\\a_rather_long_folder_name";
        deepLine += "\\a_rather_long_folder_name";
        tree.Made.push_back(L"\\\\?\\" + deep);
        ASSERT_TRUE(CreateDirectoryW(tree.Made.back().c_str(), nullptr));
    }
    const std::wstring deepProgram = L"\\\\?\\" + deep + L"\\uninstall.exe";
    tree.Made.push_back(deepProgram);
    MakeFile(deepProgram);
    tree.Held = CreateFileW(deepProgram.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, tree.Held);
    wchar_t deepShort[1024] = L"";
    ASSERT_NE(0u, GetShortPathNameW(deepProgram.c_str(), deepShort, 1024));
    const std::wstring deepPart = wcsrchr(deepShort, L'\\') + 1;
    ASSERT_NE(std::wstring(L"uninstall.exe"), deepPart);
    lines += deepLine + "\\" + std::string(deepPart.begin(), deepPart.end()) + "\n";
    ListTest::program = deep + L"\\uninstall.exe";

    const ListRemoval result = Run(lines);
    for (HANDLE file : held)
        CloseHandle(file);

    EXPECT_FALSE(result.RestartNeeded) << lines;
    EXPECT_TRUE(Exists(deepProgram));
    EXPECT_FALSE(IsPending(deep + L"\\uninstall.exe"));
    for (const std::wstring& path : {program, list})
    {
        EXPECT_TRUE(Exists(path));
        EXPECT_FALSE(IsPending(path));
        EXPECT_FALSE(IsPending(path + L".0.tmp"));
    }
    ForgetPendingRenames();
}

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
    MakeFile(scratch / L"file");
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
    MakeFile(program);
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
