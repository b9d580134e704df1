// The file object on real files: lifetime of created files, reading,
// writing, positioning, sharing and what reaches the error sink.
#include "common/error_sink.h"
#include "common/strings.h"
#include "files/disk_file.h"
#include "files/file_system.h"
#include "scratch_folder.h"

#include <cstring>
#include <string>

namespace
{

int64_t SizeOf(const std::wstring& name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The exact names a search of the folder reports, "|"-separated, dot
// folders left out.
std::wstring EntriesOf(const std::wstring& longFolder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((longFolder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring names;
    do
    {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        names += (names.empty() ? L"" : L"|") + name;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

} // namespace

class DiskFileTest : public ScratchFolderTest
{
protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        reportsBefore_ = g_errorSink.ReportCount;
    }
    uint32_t NewReports() const { return g_errorSink.ReportCount - reportsBefore_; }

    uint32_t reportsBefore_ = 0;
};

TEST_F(DiskFileTest, CreatedFileSurvivesOnlyAnExplicitClose)
{
    struct Row
    {
        bool create;
        bool close;
        bool kept;
    } rows[] = {
        {true, false, false},
        {true, true, true},
        // An opened file is never deleted.
        {false, false, true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        std::wstring name = Path(L"life" + std::to_wstring(i) + L".txt");
        if (!rows[i].create)
        {
            ASSERT_TRUE(WriteBytes(name, "old")) << "row " << i;
        }
        {
            DiskFile file;
            bool opened = rows[i].create ? file.Create(name.c_str()) : file.Open(name.c_str());
            ASSERT_TRUE(opened) << "row " << i;
            ASSERT_TRUE(file.IsOpened()) << "row " << i;
            if (rows[i].close)
            {
                EXPECT_TRUE(file.Close()) << "row " << i;
                EXPECT_FALSE(file.IsOpened()) << "row " << i;
            }
        }
        EXPECT_EQ(rows[i].kept, FileExists(name.c_str())) << "row " << i;
    }
    EXPECT_EQ(0u, NewReports());
}

// A failed Open or Create changes nothing: the object deletes only a file it
// made and still holds, never the name of the call that failed.
TEST_F(DiskFileTest, FailedCallKeepsTheHeldFilesFate)
{
    // Deletable but not writable while another handle holds it.
    const std::wstring held = Path(L"held.txt");
    ASSERT_TRUE(WriteBytes(held, "theirs"));
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const struct
    {
        bool CreateFirst;
        std::wstring Second;
        bool CreateSecond;
    } rows[] = {
        {false, held, true},
        {true, held, true},
        {true, Path(L"missing.txt"), false},
        {true, Path(L"missing\\new.txt"), true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        const std::wstring first = Path(L"first" + std::to_wstring(i) + L".txt");
        if (!rows[i].CreateFirst)
        {
            ASSERT_TRUE(WriteBytes(first, "old")) << "row " << i;
        }
        {
            DiskFile file;
            ASSERT_TRUE(rows[i].CreateFirst ? file.Create(first.c_str()) : file.Open(first.c_str()))
                << "row " << i;
            const wchar_t* second = rows[i].Second.c_str();
            EXPECT_FALSE(rows[i].CreateSecond ? file.Create(second) : file.Open(second))
                << "row " << i;
            EXPECT_TRUE(file.IsOpened()) << "row " << i;
        }
        EXPECT_EQ(!rows[i].CreateFirst, FileExists(first.c_str())) << "row " << i;
    }
    CloseHandle(holder);
    EXPECT_TRUE(FileExists(held.c_str())) << "deleted by an object that never made it";

    // A name longer than the object keeps: cut, it would name another file.
    std::wstring plain = folder_, longName = longFolder_;
    for (int depth = 0; depth < 9; depth++)
    {
        plain += L"\\" + std::wstring(200, L'd');
        longName += L"\\" + std::wstring(200, L'd');
        ASSERT_TRUE(CreateDirectoryW(longName.c_str(), nullptr)) << "depth " << depth;
    }
    const std::wstring victim(kPathChars - 1 - plain.size() - 1, L'v');
    ASSERT_TRUE(WriteBytes(longName + L"\\" + victim, "keep"));
    {
        DiskFile file;
        EXPECT_FALSE(file.Create((plain + L"\\" + victim + L"vvvv").c_str()));
    }
    EXPECT_TRUE(FileExists((longName + L"\\" + victim).c_str()));
    EXPECT_FALSE(FileExists((longName + L"\\" + victim + L"vvvv").c_str()));
}

TEST_F(DiskFileTest, CreateTruncatesAnExistingFile)
{
    std::wstring name = Path(L"full.txt");
    ASSERT_TRUE(WriteBytes(name, "0123456789"));
    DiskFile file;
    ASSERT_TRUE(file.Create(name.c_str()));
    EXPECT_EQ(0, file.Tell());
    char byte;
    EXPECT_EQ(0, file.Read(&byte, 1));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(0, SizeOf(name));
}

TEST_F(DiskFileTest, OpenOfAMissingFileLeavesTheObjectClosed)
{
    DiskFile file;
    EXPECT_FALSE(file.Open(Path(L"missing.txt").c_str()));
    EXPECT_FALSE(file.IsOpened());
    EXPECT_TRUE(file.Close());
    // Seek on a closed object does nothing; Tell and Read report.
    file.Seek(5, FILE_BEGIN);
    EXPECT_EQ(0u, NewReports()) << "open failures and closed seeks are not reported";
    EXPECT_EQ(-1, file.Tell());
    EXPECT_EQ(SinkReport::Seek, g_errorSink.LastReport);
    char byte;
    EXPECT_EQ(-1, file.Read(&byte, 1));
    EXPECT_EQ(SinkReport::Read, g_errorSink.LastReport);
}

TEST_F(DiskFileTest, WriteReadAndPosition)
{
    std::wstring name = Path(L"data.bin");
    DiskFile file;
    ASSERT_TRUE(file.Create(name.c_str()));
    EXPECT_TRUE(file.Write(nullptr, 0));
    ASSERT_TRUE(file.Write("hello world", 11));
    EXPECT_EQ(11, file.Tell());

    char buffer[32] = {};
    file.Seek(0, FILE_BEGIN);
    ASSERT_EQ(5, file.Read(buffer, 5));
    EXPECT_EQ(0, std::memcmp(buffer, "hello", 5));

    struct Row
    {
        int64_t offset;
        DWORD method;
        int64_t position;
    } rows[] = {
        {-2, FILE_CURRENT, 3}, {4, FILE_CURRENT, 7}, {-3, FILE_END, 8}, {0, FILE_END, 11},
        {-11, FILE_END, 0},    {6, FILE_BEGIN, 6},   {2, FILE_END, 13}, // past the end is allowed
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        file.Seek(rows[i].offset, rows[i].method);
        EXPECT_EQ(rows[i].position, file.Tell()) << "row " << i;
    }
    EXPECT_EQ(0u, NewReports());

    // Before the start: reported, the position stays.
    file.Seek(-20, FILE_CURRENT);
    EXPECT_EQ(13, file.Tell());
    EXPECT_EQ(SinkReport::Seek, g_errorSink.LastReport);
    EXPECT_EQ(name, g_errorSink.LastText);

    file.Seek(-3, FILE_END);
    ASSERT_EQ(3, file.Read(buffer, sizeof(buffer)));
    EXPECT_EQ(0, std::memcmp(buffer, "rld", 3));
    EXPECT_EQ(0, file.Read(buffer, sizeof(buffer)));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(11, SizeOf(name));

    // Large blocks as the language file loader reads them.
    DiskFile reader;
    ASSERT_TRUE(reader.Open(name.c_str(), DiskFile::ShareWrite));
    std::string block(524288, '\0');
    EXPECT_EQ(11, reader.Read(&block[0], DWORD(block.size())));
}

TEST_F(DiskFileTest, WriteToAReadOnlyHandleIsReported)
{
    std::wstring name = Path(L"readonly.txt");
    ASSERT_TRUE(WriteBytes(name, "abc"));
    DiskFile file;
    ASSERT_TRUE(file.Open(name.c_str()));
    EXPECT_FALSE(file.Write("x", 1));
    EXPECT_EQ(SinkReport::Write, g_errorSink.LastReport);
    EXPECT_EQ(name, g_errorSink.LastText);
    EXPECT_EQ(1u, NewReports()) << "no file-too-large report for a small file";
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(3, SizeOf(name));
}

TEST_F(DiskFileTest, SharingOptions)
{
    // Another handle, asking to share everything, opened while ours is.
    std::wstring name = Path(L"shared.txt");
    struct Row
    {
        bool create;
        unsigned options;
        DWORD otherAccess;
        bool otherOpens;
    } rows[] = {
        {true, 0, GENERIC_READ, false},
        {true, DiskFile::ShareRead, GENERIC_READ, true},
        {false, 0, GENERIC_WRITE, false},
        {false, DiskFile::ShareWrite, GENERIC_WRITE, true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        ASSERT_TRUE(WriteBytes(name, "abc")) << "row " << i;
        DiskFile file;
        ASSERT_TRUE(rows[i].create ? file.Create(name.c_str(), rows[i].options)
                                   : file.Open(name.c_str(), rows[i].options))
            << "row " << i;
        HANDLE other =
            CreateFileW(name.c_str(), rows[i].otherAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(rows[i].otherOpens, other != INVALID_HANDLE_VALUE) << "row " << i;
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
        EXPECT_TRUE(file.Close()) << "row " << i;
    }
}

TEST_F(DiskFileTest, LeadingDotNamesAreCreatedExactlyThroughTheLongForm)
{
    // A plain name loses its trailing dot; the long form keeps it. So a name
    // part beginning with "." that still has its dot was never tried plain.
    struct Row
    {
        const wchar_t* name;
        const wchar_t* onDisk;
    } rows[] = {
        {L".x.", L".x."}, {L" y ", L" y "}, {L"z.", L"z"}, // ordinary names go the plain way
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        std::wstring name = Path(rows[i].name);
        DiskFile file;
        ASSERT_TRUE(file.Create(name.c_str())) << "row " << i;
        EXPECT_TRUE(file.Close()) << "row " << i;
        EXPECT_EQ(rows[i].onDisk, EntriesOf(longFolder_)) << "row " << i;
        DeleteFileW(LongPath(rows[i].onDisk).c_str());
    }
}

TEST_F(DiskFileTest, DestroyingDeletesTheCreatedFileNotItsPlainNamesake)
{
    // ".k." made through the long form and ".k" beside it: the plain name of
    // the first is the second.
    ASSERT_TRUE(WriteBytes(Path(L".k"), "keep"));
    {
        DiskFile file;
        ASSERT_TRUE(file.Create(Path(L".k.").c_str()));
    }
    EXPECT_EQ(L".k", EntriesOf(longFolder_));
    EXPECT_EQ(4, SizeOf(Path(L".k")));
}

TEST_F(DiskFileTest, FullVolumeIsAWriteErrorNotASizeLimit)
{
    // T: is a tiny volume of the test prefix, when the bench could mount one.
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExW(L"T:\\", &available, &total, &totalFree) ||
        total.QuadPart >= (1u << 20))
        GTEST_SKIP() << "no small volume in this prefix";
    const wchar_t* name = L"T:\\filler.bin";
    std::string block(1 << 20, 'x');
    {
        DiskFile file;
        ASSERT_TRUE(file.Create(name));
        EXPECT_FALSE(file.Write(block.data(), DWORD(block.size())));
        EXPECT_EQ(SinkReport::Write, g_errorSink.LastReport);
        EXPECT_STREQ(name, g_errorSink.LastText);
        EXPECT_EQ(1u, NewReports());
    }
    EXPECT_FALSE(FileExists(name)) << "an unclosed created file is removed";
}
