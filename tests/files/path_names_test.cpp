// Path strings: the name and folder parts, joining and the long form, with
// canaries behind every output to catch writes past a capacity.
#include "common/strings.h"
#include "files/path_names.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

const wchar_t kCanary = wchar_t(0xBDBD);

template <size_t N> void FillCanary(wchar_t (&buffer)[N])
{
    for (size_t i = 0; i < N; i++)
        buffer[i] = kCanary;
}

// Index of the first canary-coloured character that was overwritten at or
// after 'from', or -1.
template <size_t N> int FirstTouched(const wchar_t (&buffer)[N], size_t from)
{
    for (size_t i = from; i < N; i++)
    {
        if (buffer[i] != kCanary)
            return int(i);
    }
    return -1;
}

// Sets and restores the current directory around one test.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const wchar_t* folder)
    {
        GetCurrentDirectoryW(MAX_PATH + 1, saved_);
        changed_ = SetCurrentDirectoryW(folder) != 0;
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(saved_); }
    bool Changed() const { return changed_; }

private:
    wchar_t saved_[MAX_PATH + 1];
    bool changed_;
};

} // namespace

TEST(PathNames, Wildcards)
{
    struct Row
    {
        const wchar_t* path;
        bool wild;
    } rows[] = {
        {L"\\\\?\\E:\\a", false}, {L"E:\\*.txt", true},   {L"a?b", true},
        {L"\\\\?\\E:\\a?", true}, {L"E:\\dir\\a", false}, {L"", false},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
        EXPECT_EQ(rows[i].wild, HasWildcards(rows[i].path)) << "row " << i;
    EXPECT_FALSE(HasWildcards(nullptr));
}

TEST(PathNames, NameFolderAndRemovedName)
{
    struct Row
    {
        const wchar_t* path;
        const wchar_t* name;
        const wchar_t* folder;
        const wchar_t* withoutName;
    } rows[] = {
        {L"E:\\dir\\file", L"file", L"E:\\dir\\", L"E:\\dir"},
        {L"E:\\x", L"x", L"E:\\", L"E:\\"},
        {L"E:file", L"file", L"E:", L"E:"},
        {L"\\file", L"file", L"\\", L"\\"},
        {L"a\\b", L"b", L"a\\", L"a"},
        {L"a/b", L"b", L"a/", L"a"},
        {L"file.txt", L"file.txt", L"", L""},
        {L"dir/", L"", L"dir/", L"dir"},
        {L"", L"", L"", L""},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        EXPECT_STREQ(rows[i].name, PointToName(rows[i].path)) << "row " << i;

        wchar_t folder[64];
        FillCanary(folder);
        EXPECT_TRUE(GetFolderPart(rows[i].path, folder)) << "row " << i;
        EXPECT_STREQ(rows[i].folder, folder) << "row " << i;
        EXPECT_EQ(-1, FirstTouched(folder, wcslen(folder) + 1)) << "row " << i;

        wchar_t cut[64];
        ASSERT_TRUE(CopyString(cut, rows[i].path));
        RemoveNameFromPath(cut);
        EXPECT_STREQ(rows[i].withoutName, cut) << "row " << i;
    }
    // "E:\\dir\\" fills a capacity of eight; seven cut it.
    wchar_t folder[8];
    EXPECT_TRUE(GetFolderPart(L"E:\\dir\\file", folder, 8));
    EXPECT_FALSE(GetFolderPart(L"E:\\dir\\file", folder, 7));
    EXPECT_STREQ(L"c", PointToLastChar(L"abc"));
    const wchar_t* empty = L"";
    EXPECT_EQ(empty, PointToLastChar(empty));
}

TEST(PathNames, AddEndSlash)
{
    struct Row
    {
        const wchar_t* path;
        size_t capacity;
        const wchar_t* expected;
        bool whole;
    } rows[] = {
        {L"", 8, L"", true},           {L"E:", 8, L"E:\\", true},  {L"E:\\", 8, L"E:\\", true},
        {L"a/", 8, L"a/\\", true},     {L"abc", 4, L"abc", false}, {L"abc", 5, L"abc\\", true},
        {L"abc\\", 4, L"abc\\", true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        wchar_t buffer[8];
        FillCanary(buffer);
        ASSERT_TRUE(CopyString(buffer, rows[i].path));
        EXPECT_EQ(rows[i].whole, AddEndSlash(buffer, rows[i].capacity)) << "row " << i;
        EXPECT_STREQ(rows[i].expected, buffer) << "row " << i;
        EXPECT_EQ(-1, FirstTouched(buffer, wcslen(buffer) + 1)) << "row " << i;
    }
}

TEST(PathNames, SetNameStaysInsideTheBuffer)
{
    wchar_t path[12];
    FillCanary(path);
    ASSERT_TRUE(CopyString(path, L"E:\\d\\old"));
    EXPECT_TRUE(SetName(path, L"new", 10));
    EXPECT_STREQ(L"E:\\d\\new", path);
    // Nine characters fill a capacity of ten; one more is cut and said so.
    EXPECT_TRUE(SetName(path, L"full", 10));
    EXPECT_STREQ(L"E:\\d\\full", path);

    EXPECT_FALSE(SetName(path, L"longername", 10));
    EXPECT_STREQ(L"E:\\d\\long", path);
    EXPECT_EQ(-1, FirstTouched(path, 10));

    wchar_t bare[8];
    ASSERT_TRUE(CopyString(bare, L"old"));
    EXPECT_TRUE(SetName(bare, L"new"));
    EXPECT_STREQ(L"new", bare);
}

TEST(PathNames, JoinPath)
{
    struct Row
    {
        const wchar_t* folder;
        const wchar_t* name;
        const wchar_t* expected;
        size_t capacity;
        bool whole;
    } rows[] = {
        {L"E:\\dir", L"file", L"E:\\dir\\file", 32, true},
        {L"E:\\dir\\", L"file", L"E:\\dir\\file", 32, true},
        {L"", L"file", L"file", 32, true},
        {L"E:", L"file", L"E:\\file", 32, true},
        // Eleven characters fill a capacity of twelve.
        {L"E:\\folder", L"n", L"E:\\folder\\n", 12, true},
        {L"E:\\folder\\", L"nm", L"E:\\folder\\n", 12, false},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        // The folder's own buffer receives the result.
        wchar_t buffer[32];
        ASSERT_TRUE(CopyString(buffer, rows[i].folder));
        EXPECT_EQ(rows[i].whole, JoinPath(buffer, rows[i].name, buffer, rows[i].capacity))
            << "row " << i;
        EXPECT_STREQ(rows[i].expected, buffer) << "row " << i;
    }

    wchar_t cut[16];
    FillCanary(cut);
    EXPECT_FALSE(JoinPath(L"E:\\folder", L"name.txt", cut, 12));
    EXPECT_STREQ(L"E:\\folder\\n", cut);
    EXPECT_EQ(-1, FirstTouched(cut, 12));
}

TEST(PathNames, MakeLongPath)
{
    CurrentDirectory current(L"C:\\windows");
    ASSERT_TRUE(current.Changed());
    wchar_t actual[MAX_PATH + 1];
    GetCurrentDirectoryW(MAX_PATH + 1, actual);
    ASSERT_STREQ(L"C:\\windows", actual);

    struct Row
    {
        const wchar_t* path;
        size_t capacity;
        const wchar_t* expected; // null: false and the output untouched
    } rows[] = {
        {L"E:\\a", 32, L"\\\\?\\E:\\a"},
        {L"i:/a", 32, L"\\\\?\\i:/a"},
        {L"\\\\srv\\sh\\a", 32, L"\\\\?\\UNC\\srv\\sh\\a"},
        {L".\\a", 32, L"\\\\?\\C:\\windows\\a"},
        {L"./a", 32, L"\\\\?\\C:\\windows\\a"},
        {L"a\\b", 32, L"\\\\?\\C:\\windows\\a\\b"},
        {L"..\\a", 32, L"\\\\?\\C:\\windows\\..\\a"},
        {L"\\a", 32, L"\\\\?\\C:\\a"},
        {L"/a", 32, L"\\\\?\\C:/a"},
        {L"", 32, nullptr},
        // Drive form: len + 4 characters do not hold prefix, path and NUL.
        {L"E:\\abc", 10, nullptr},
        {L"E:\\abc", 11, L"\\\\?\\E:\\abc"},
        // Network form: len + 6 versus len + 7.
        {L"\\\\s\\h", 11, nullptr},
        {L"\\\\s\\h", 12, L"\\\\?\\UNC\\s\\h"},
        // Rooted on the current drive: len + 6 versus len + 7.
        {L"\\ab", 9, nullptr},
        {L"\\ab", 10, L"\\\\?\\C:\\ab"},
        // Relative: "C:\windows\" (11) + len + 4 versus + 5, counted before
        // ".\" is dropped.
        {L"ab", 17, nullptr},
        {L"ab", 18, L"\\\\?\\C:\\windows\\ab"},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        wchar_t output[40];
        FillCanary(output);
        bool made = MakeLongPath(rows[i].path, output, rows[i].capacity);
        if (rows[i].expected == nullptr)
        {
            EXPECT_FALSE(made) << "row " << i;
            EXPECT_EQ(-1, FirstTouched(output, 0)) << "row " << i;
            continue;
        }
        ASSERT_TRUE(made) << "row " << i;
        EXPECT_STREQ(rows[i].expected, output) << "row " << i;
        EXPECT_EQ(-1, FirstTouched(output, wcslen(output) + 1)) << "row " << i;
    }
}
