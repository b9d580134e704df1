// File-system wrappers on real files in a scratch folder of the prefix.
#include "common/strings.h"
#include "files/entry_handles.h"
#include "files/file_system.h"
#include "files/replacement_file.h"
#include "scratch_folder.h"
#include "support/host_links.h"
#include "support/import_patch.h"

#include <shlobj.h>

#include <set>
#include <string>
#include <vector>

namespace
{

// A folder chain whose file name is well past MAX_PATH, made through the
// long form. Returns the plain name of the file.
std::wstring MakeDeepFile(const std::wstring& plainRoot, const std::wstring& longRoot)
{
    std::wstring plain = plainRoot, longName = longRoot;
    for (wchar_t part : {L'd', L'e'})
    {
        std::wstring segment(120, part);
        plain += L"\\" + segment;
        longName += L"\\" + segment;
        if (!CreateDirectoryW(longName.c_str(), nullptr))
            return std::wstring();
    }
    std::wstring file = L"\\" + std::wstring(60, L'f') + L".txt";
    if (!WriteBytes(longName + file, "deep"))
        return std::wstring();
    return plain + file;
}

} // namespace

class FileSystemTest : public ScratchFolderTest
{
};

TEST_F(FileSystemTest, DeleteAndExistenceReachNamesPastMaxPath)
{
    std::wstring deep = MakeDeepFile(folder_, longFolder_);
    ASSERT_FALSE(deep.empty());
    ASSERT_GT(deep.size(), size_t(MAX_PATH));

    EXPECT_TRUE(FileExists(deep.c_str()));
    EXPECT_FALSE(IsDirAttr(GetFileAttr(deep.c_str())));
    std::wstring deepFolder = deep.substr(0, deep.rfind(L'\\'));
    EXPECT_TRUE(IsDirAttr(GetFileAttr(deepFolder.c_str())));

    EXPECT_TRUE(DelFile(deep.c_str()));
    EXPECT_FALSE(FileExists(deep.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttr(deep.c_str()));
    EXPECT_FALSE(DelFile(deep.c_str()));
    // A failed query is neither a folder nor a link.
    EXPECT_FALSE(IsDirAttr(GetFileAttr(deep.c_str())));
    EXPECT_FALSE(IsLinkAttr(GetFileAttr(deep.c_str())));
}

TEST_F(FileSystemTest, ReadOnlyFileIsNotDeleted)
{
    std::wstring name = Path(L"locked.txt");
    ASSERT_TRUE(WriteBytes(name, "x"));
    ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_FALSE(DelFile(name.c_str()));
    DWORD attributes = GetFileAttr(name.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_READONLY);
    // An open entry tells the same through its handle, a folder as a folder.
    for (const std::wstring& entry : {name, folder_})
    {
        HANDLE opened = CreateFileW(entry.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, opened);
        DWORD read = 0;
        EXPECT_TRUE(ReadEntryAttributes(opened, read));
        EXPECT_EQ(GetFileAttr(entry.c_str()), read);
        CloseHandle(opened);
    }
}

TEST_F(FileSystemTest, SearchYieldsEntriesButNotDotFolders)
{
    ASSERT_TRUE(WriteBytes(Path(L"a.txt"), "12345"));
    ASSERT_TRUE(WriteBytes(Path(L"b.dat"), ""));
    ASSERT_TRUE(CreateDirectoryW(Path(L"sub").c_str(), nullptr));

    FindFile search;
    search.SetMask((folder_ + L"\\*").c_str());
    std::set<std::wstring> seen;
    FindData data;
    while (search.Next(data))
    {
        std::wstring name = data.Name;
        ASSERT_EQ(0u, name.find(folder_ + L"\\")) << "full path in the searched folder";
        name = name.substr(folder_.size() + 1);
        EXPECT_NE(L".", name);
        EXPECT_NE(L"..", name);
        if (name == L"a.txt")
        {
            EXPECT_EQ(5u, data.Size);
        }
        EXPECT_EQ(name == L"sub", data.IsDir) << "entry " << data.Name;
        EXPECT_FALSE(data.IsLink);
        seen.insert(name);
    }
    EXPECT_FALSE(data.Error);
    EXPECT_EQ((std::set<std::wstring>{L"a.txt", L"b.dat", L"sub"}), seen);
    // The end stays the end.
    EXPECT_FALSE(search.Next(data));
    EXPECT_FALSE(data.Error);

    // A new mask starts a new search.
    search.SetMask((folder_ + L"\\*.txt").c_str());
    ASSERT_TRUE(search.Next(data));
    EXPECT_EQ(Path(L"a.txt"), data.Name);
    EXPECT_FALSE(search.Next(data));
    search.Close();
}

TEST_F(FileSystemTest, SearchOfNothingIsNotAnError)
{
    const std::wstring masks[] = {
        folder_ + L"\\missing\\*", // missing folder
        // Written with "/" or "..": the long form cannot name it, so the
        // plain search's answer stands.
        folder_ + L"/missing/*",
        folder_ + L"\\missing\\..\\gone\\*",
        folder_ + L"\\.\\missing\\*",
        folder_ + L"\\*.none",     // nothing matches
        L"",                       // empty mask
    };
    for (size_t i = 0; i < ARRAYSIZE(masks); i++)
    {
        FindFile search;
        search.SetMask(masks[i].c_str());
        FindData data;
        data.Error = true;
        EXPECT_FALSE(search.Next(data)) << "row " << i;
        EXPECT_FALSE(data.Error) << "row " << i;
    }
    FindFile neverSet;
    FindData data;
    EXPECT_FALSE(neverSet.Next(data));
}

// Names that do not fit a path buffer are never handed out cut: cut, they
// would name the planted entry instead.
TEST_F(FileSystemTest, SearchNeverYieldsACutName)
{
    std::wstring plain = folder_, longName = longFolder_;
    while (plain.size() < 1800)
    {
        plain += L"\\" + std::wstring(200, L'd');
        longName += L"\\" + std::wstring(200, L'd');
        ASSERT_TRUE(CreateDirectoryW(longName.c_str(), nullptr)) << plain.size();
    }
    const std::wstring entry(255, L'e');
    const std::wstring cut = entry.substr(0, kPathChars - 1 - plain.size() - 1);
    ASSERT_LT(cut.size(), entry.size());
    ASSERT_TRUE(WriteBytes(longName + L"\\" + entry, "long"));
    ASSERT_TRUE(WriteBytes(longName + L"\\" + cut, "planted"));

    const std::wstring masks[] = {plain + L"\\*", plain + L"\\" + entry + L"\\*"};
    const std::vector<std::wstring> expected[] = {{plain + L"\\" + cut}, {}};
    for (size_t i = 0; i < ARRAYSIZE(masks); i++)
    {
        FindFile search;
        search.SetMask(masks[i].c_str());
        std::vector<std::wstring> seen;
        FindData data;
        while (search.Next(data) && seen.size() < 4)
            seen.push_back(data.Name);
        EXPECT_EQ(expected[i], seen) << "row " << i;
        EXPECT_FALSE(data.Error) << "row " << i;
    }
}

TEST_F(FileSystemTest, FastFindTakesOneExactName)
{
    std::wstring name = Path(L"one.txt");
    ASSERT_TRUE(WriteBytes(name, "abc"));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);

    FindData data;
    ASSERT_TRUE(FastFind(name.c_str(), data));
    EXPECT_EQ(name, data.Name);
    EXPECT_EQ(3u, data.Size);
    EXPECT_FALSE(data.IsDir);
    // Nanoseconds, within a minute of now.
    uint64_t nowNs = ((uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime) * 100;
    uint64_t minute = 60ull * 1000 * 1000 * 1000;
    EXPECT_LT(data.MTime, nowNs + minute);
    EXPECT_GT(data.MTime, nowNs - minute);

    EXPECT_FALSE(FastFind(Path(L"missing.txt").c_str(), data));
    data.Error = true;
    EXPECT_FALSE(FastFind(Path(L"one.*").c_str(), data));
    EXPECT_FALSE(data.Error);
    EXPECT_FALSE(FastFind(Path(L"one.tx?").c_str(), data));
}

TEST_F(FileSystemTest, FreeSpaceOfABareNameIsTheCurrentVolume)
{
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
    ULARGE_INTEGER available, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExW(nullptr, &available, &total, &totalFree));
    uint64_t bare = GetFreeDiskSpace(L"file.txt");
    uint64_t qualified = GetFreeDiskSpace(Path(L"file.txt").c_str());
    ASSERT_GT(bare, 0u);
    // Other programs write to the same disk meanwhile.
    const uint64_t slack = 256ull << 20;
    EXPECT_LT(bare > available.QuadPart ? bare - available.QuadPart : available.QuadPart - bare,
              slack);
    EXPECT_LT(bare > qualified ? bare - qualified : qualified - bare, slack);
}

class AppDataFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t appData[MAX_PATH];
        ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData));
        expected_ = std::wstring(appData) + L"\\Velnox";
        RemoveDirectoryW(expected_.c_str());
        ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(expected_.c_str()))
            << "the prefix already holds a non-empty data folder";
    }
    void TearDown() override { RemoveDirectoryW(expected_.c_str()); }

    std::wstring expected_;
};

TEST_F(AppDataFolderTest, NamesTheFolderWhetherOrNotItExists)
{
    wchar_t folder[kPathChars];
    EXPECT_FALSE(GetDefaultAppDataFolder(folder));
    EXPECT_EQ(expected_, folder);
    EXPECT_FALSE(FileExists(folder)) << "the folder is not created";

    ASSERT_TRUE(CreateDirectoryW(expected_.c_str(), nullptr));
    EXPECT_TRUE(GetDefaultAppDataFolder(folder));
    EXPECT_EQ(expected_, folder);
}

TEST_F(AppDataFolderTest, ShortOutputIsCut)
{
    wchar_t folder[16];
    for (wchar_t& c : folder)
        c = wchar_t(0xBDBD);
    EXPECT_FALSE(GetDefaultAppDataFolder(folder, 10));
    EXPECT_EQ(expected_.substr(0, 9), folder);
    for (size_t i = 10; i < ARRAYSIZE(folder); i++)
        EXPECT_EQ(wchar_t(0xBDBD), folder[i]) << "position " << i;
}

namespace
{

// Swaps a folder for a link to another at the Nth CreateFileW of this binary.
// Wine's MoveFileW of a link moves its target, so the link is made anew.
typedef HANDLE(WINAPI* CreateFileFn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE);
CreateFileFn realCreateFile = nullptr;
int createCalls = 0, swapAtCall = 0;
std::wstring swappedFolder;
std::string swappedInTarget;
LinuxLinks* swapLinks = nullptr;

HANDLE WINAPI CreateFileSwappingFolder(LPCWSTR name, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                       DWORD flags, HANDLE templateFile)
{
    if (++createCalls == swapAtCall)
    {
        swapAtCall = 0;
        const std::string unixFolder = UnixName(swappedFolder);
        if (MoveFileW(swappedFolder.c_str(), (swappedFolder + L".real").c_str()))
            swapLinks->Make(swappedInTarget, unixFolder, swappedFolder);
    }
    return realCreateFile(name, access, share, security, disposition, flags, templateFile);
}

} // namespace

// What stands at the name, or at the name of its new file, is replaced or
// refused, never written through; a folder swapped for a link while the new
// file is made takes nothing in. Links are made on the Linux side.
TEST_F(FileSystemTest, ReplacementNeverWritesThroughWhatStandsAtTheName)
{
    enum Planted
    {
        Nothing,
        OldFile,
        HardLink,
        FileLink,
        DanglingLink,
        Folder,
    };
    const struct
    {
        const wchar_t* At; // the name itself, or its new file's
        Planted What;
        int SwapAt; // CreateFileW call at which the folder becomes a link
        bool Written;
    } rows[] = {
        {L"", Nothing, 0, true},
        {L"", OldFile, 0, true},
        {L"", HardLink, 0, true},
        {L"", FileLink, 0, true},
        {L"", DanglingLink, 0, true},
        {L"", Folder, 0, false},
        {L".new", OldFile, 0, true}, // left by an interrupted run
        {L".new", HardLink, 0, true},
        {L".new", FileLink, 0, false},
        {L".new", DanglingLink, 0, false},
        {L"", Nothing, 1, false}, // before the folder is held
        {L"", Nothing, 2, false}, // before its name is checked to reach it
        {L"", Nothing, 3, false}, // between that check and the new file
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        const std::wstring tag = std::to_wstring(row);
        const std::wstring dir = Path(L"dir" + tag), outside = Path(L"out" + tag);
        const std::wstring name = dir + L"\\settings.ini", at = name + rows[row].At;
        const std::wstring canary = outside + L"\\canary.txt", gone = outside + L"\\gone.txt";
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(canary, "canary"));
        LinuxLinks links;
        switch (rows[row].What)
        {
        case OldFile:
            ASSERT_TRUE(WriteBytes(at, "old"));
            break;
        case HardLink:
            ASSERT_TRUE(CreateHardLinkW(at.c_str(), canary.c_str(), nullptr)) << row;
            break;
        case FileLink:
            ASSERT_TRUE(links.Make(UnixName(canary), UnixName(at), at, false)) << row;
            break;
        case DanglingLink:
            ASSERT_TRUE(WriteBytes(gone, ""));
            ASSERT_TRUE(links.Make(UnixName(gone), UnixName(at), at, false)) << row;
            ASSERT_TRUE(DeleteFileW(gone.c_str()));
            break;
        case Folder:
            ASSERT_TRUE(CreateDirectoryW(at.c_str(), nullptr));
            break;
        case Nothing:
            break;
        }
        const std::string before = ReadBytes(name);
        swappedFolder = dir;
        swappedInTarget = UnixName(outside);
        swapLinks = &links;
        createCalls = 0;
        swapAtCall = rows[row].SwapAt;
        realCreateFile = reinterpret_cast<CreateFileFn>(SwapImport(
            "kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&CreateFileSwappingFolder)));
        ASSERT_NE(nullptr, realCreateFile);
        bool written = false;
        {
            ReplacementFile file;
            written = file.Create(name.c_str()) && file.Write("new", 3) && file.Commit();
        }
        SwapImport("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(realCreateFile));
        // Read before the links go: removing one at the name removes what
        // replaced it.
        const bool newFileLeft = Exists(name + L".new");
        const std::string after = ReadBytes(name);
        links.RemoveAll();
        if (rows[row].SwapAt != 0)
        {
            EXPECT_TRUE(MoveFileW((dir + L".real").c_str(), dir.c_str())) << "row " << row;
        }

        EXPECT_EQ(rows[row].Written, written) << "row " << row;
        EXPECT_EQ(rows[row].Written ? "new" : before, after) << "row " << row;
        EXPECT_EQ("canary", ReadBytes(canary)) << "row " << row;
        EXPECT_EQ(std::vector<std::wstring>{L"canary.txt"}, FilesIn(outside)) << "row " << row;
        // Wine shows no dangling link as existing.
        const bool plantedStays =
            rows[row].At[0] != 0 && !rows[row].Written && rows[row].What != DanglingLink;
        EXPECT_EQ(plantedStays, newFileLeft) << "row " << row;
    }
}
