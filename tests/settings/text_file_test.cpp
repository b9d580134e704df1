// The text file reader: encodings told apart by their marks and contents,
// line splitting, and the list it appends to.
#include "settings/settings_fixtures.h"
#include "settings/text_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using Lines = std::vector<std::wstring>;

Lines ReadLines(const std::string& bytes, const wchar_t* before = nullptr)
{
    const std::wstring path = ScratchFolder() + L"text.txt";
    EXPECT_TRUE(WriteBytes(path, bytes));
    StringList list;
    if (before)
        list.AddString(before);
    EXPECT_TRUE(ReadTextFile(path.c_str(), list));
    DeleteFileW(path.c_str());
    Lines lines;
    const wchar_t* line = nullptr;
    while (list.NextString(&line))
        lines.push_back(line);
    return lines;
}

std::wstring Ansi(const std::string& bytes)
{
    wchar_t wide[64] = {0};
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), wide, 63);
    return wide;
}

} // namespace

TEST(TextFile, EncodingsAndLineSplitting)
{
    struct Row
    {
        std::string bytes;
        Lines expected;
    } rows[] = {
        {"", {}},
        {"\r\n\n\r   \r\n\t\n", {}},
        // A mark alone is text in the ANSI code page.
        {"\xFF\xFE", {Ansi("\xFF\xFE")}},
        {std::string("\xFF\xFE"
                     "a\0b\0\r\0\n\0c\0",
                     12),
         {L"ab", L"c"}},
        {std::string("\xFE\xFF\0a\0b\0\n\0c", 10), {L"ab", L"c"}},
        // Every high byte at or above 0x20, or a line end: not UTF-16.
        {"\xFF\xFE"
         "ABCD",
         {Ansi("\xFF\xFE"
               "ABCD")}},
        {"\xFF\xFE"
         "A\rB\n",
         {Ansi("\xFF\xFE"
               "A"),
          L"B"}},
        // An odd last byte of UTF-16 is dropped.
        {std::string("\xFF\xFE"
                     "x\0y",
                     5),
         {L"x"}},
        {"\xEF\xBB\xBF"
         "h\xC3\xA9\r\n\xF0\x9F\x98\x80",
         {L"h\u00E9", L"\xD83D\xDE00"}},
        // An invalid sequence after the mark: ANSI, mark bytes kept.
        {"\xEF\xBB\xBF\xC3(x", {Ansi("\xEF\xBB\xBF\xC3(x")}},
        {"a\r\nb", {L"a", L"b"}},
        {"  lead and trail \t \r\n\tx\t", {L"  lead and trail", L"\tx"}},
        {"a\rb\nc\r\n\r\n\n\rd\r\r", {L"a", L"b", L"c", L"d"}},
        // A NUL ends the text.
        {std::string("a\r\nb\0c\r\nd", 9), {L"a", L"b"}},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i].expected, ReadLines(rows[i].bytes)) << "row " << i;
}

TEST(TextFile, LongFileAppendedToTheList)
{
    // UTF-16, so a character straddles block edges of 4096 bytes.
    std::wstring text;
    for (int i = 0; i < 3000; ++i)
        text += L"line " + std::to_wstring(i) + L"\r\n";
    const Lines lines = ReadLines("\xFF\xFE" + Utf16Bytes(text), L"before");
    ASSERT_EQ(3001u, lines.size());
    EXPECT_EQ(L"before", lines[0]);
    EXPECT_EQ(L"line 2047", lines[2048]);
    EXPECT_EQ(L"line 2999", lines[3000]);

    StringList list;
    EXPECT_FALSE(ReadTextFile((ScratchFolder() + L"missing.txt").c_str(), list));
    EXPECT_EQ(0u, list.Count());
}
