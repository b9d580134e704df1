// The list of installed files read and removed in passes, and files in use
// scheduled for the next restart.
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
    EXPECT_EQ(stayed ? 1 : 0, result.Unremovable) << stayed;
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
    EXPECT_EQ(moved ? 0 : 1, result.Unremovable) << moved;
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

} // namespace
