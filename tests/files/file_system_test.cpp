// File-system wrappers on real files in a scratch folder of the prefix.
#include "common/strings.h"
#include "files/file_system.h"
#include "scratch_folder.h"

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
