#include "common/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{

const wchar_t kCanary = 0xBDBD;

// A wide buffer whose units past the capacity under test must stay canaries.
struct GuardedText
{
    explicit GuardedText(size_t capacity) : Capacity(capacity), Units(capacity + 8, kCanary) {}
    wchar_t* Data() { return Units.data(); }
    std::wstring Text() const { return std::wstring(Units.data()); }
    bool TailIntact() const
    {
        return std::all_of(Units.begin() + Capacity, Units.end(),
                           [](wchar_t c) { return c == kCanary; });
    }
    size_t Capacity;
    std::vector<wchar_t> Units;
};

// Bytes laid out so that their last one is the last readable byte: the page
// after them is inaccessible, so any read past the block faults.
class PageEndBytes
{
public:
    PageEndBytes()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        PageSize = info.dwPageSize;
        Base = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, PageSize * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (Base != nullptr)
            VirtualProtect(Base + PageSize, PageSize, PAGE_NOACCESS, &old);
    }
    ~PageEndBytes()
    {
        if (Base != nullptr)
            VirtualFree(Base, 0, MEM_RELEASE);
    }
    PageEndBytes(const PageEndBytes&) = delete;
    PageEndBytes& operator=(const PageEndBytes&) = delete;
    const unsigned char* Place(const std::string& bytes)
    {
        unsigned char* start = Base + PageSize - bytes.size();
        std::memcpy(start, bytes.data(), bytes.size());
        return start;
    }
    bool Ready() const { return Base != nullptr; }

private:
    unsigned char* Base = nullptr;
    size_t PageSize = 0;
};

} // namespace

TEST(CopyString, CutsAtCapacityAndAlwaysTerminates)
{
    struct Row
    {
        const wchar_t* Source;
        size_t Capacity;
        const wchar_t* Expected;
        bool Whole;
    };
    // Three characters fit a capacity of four, and are cut in three.
    const Row rows[] = {
        {L"abc", 1, L"", false}, {L"abc", 3, L"ab", false}, {L"abc", 4, L"abc", true},
        {L"", 5, L"", true},     {nullptr, 5, L"", true},   {L"", 1, L"", true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        GuardedText out(rows[i].Capacity);
        EXPECT_EQ(rows[i].Whole, CopyString(out.Data(), rows[i].Source, rows[i].Capacity))
            << "row " << i;
        EXPECT_EQ(rows[i].Expected, out.Text()) << "row " << i;
        EXPECT_TRUE(out.TailIntact()) << "row " << i;
    }
    GuardedText none(0);
    // Not even the terminator fits.
    EXPECT_FALSE(CopyString(none.Data(), L"abc", 0));
    EXPECT_FALSE(CopyString(none.Data(), L"", 0));
    EXPECT_TRUE(none.TailIntact());
}

TEST(CopyString, OntoItselfKeepsOrCutsText)
{
    wchar_t text[8] = L"setup";
    EXPECT_TRUE(CopyString(text, text, 8));
    EXPECT_STREQ(L"setup", text);
    EXPECT_TRUE(CopyString(text, text, 6));
    EXPECT_FALSE(CopyString(text, text, 4));
    EXPECT_STREQ(L"set", text);
}

TEST(AppendString, AppendsWithinCapacityOnly)
{
    wchar_t text[6] = L"ab";
    EXPECT_TRUE(AppendString(text, L"cd"));
    EXPECT_STREQ(L"abcd", text);
    EXPECT_FALSE(AppendString(text, L"efg"));
    EXPECT_STREQ(L"abcde", text);
    // Already full: nothing changes, and only nothing still fits.
    EXPECT_FALSE(AppendString(text, L"x"));
    EXPECT_STREQ(L"abcde", text);
    EXPECT_TRUE(AppendString(text, L""));
    wchar_t edge[6] = L"abcd";
    EXPECT_TRUE(AppendString(edge, L"e"));

    // A destination without a terminator inside its capacity is left alone.
    wchar_t unterminated[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_FALSE(AppendString(unterminated, L"x", 4));
    EXPECT_EQ(0, std::wmemcmp(unterminated, L"abcd", 4));
}

TEST(FormatString, FormatsLikePrintfWithWideStrings)
{
    wchar_t text[64];
    EXPECT_EQ(8, FormatString(text, L"%08x", 0x1Au));
    EXPECT_STREQ(L"0000001a", text);
    // "%s" must take UTF-16 text, not 8-bit.
    EXPECT_EQ(17, FormatString(text, L"%s\\%02d-%u", L"K\x00e9y", 7, 4000000000u));
    EXPECT_STREQ(L"K\x00e9y\\07-4000000000", text);
    EXPECT_EQ(text, FormatInto(text, L"Setup\\%s", L".zip"));
    EXPECT_STREQ(L"Setup\\.zip", text);
}

TEST(FormatString, CutTextGivesNegativeResult)
{
    const std::wstring full = L"abcdefghij42";
    const size_t capacities[] = {10, 12, 13, 1};
    for (size_t i = 0; i < ARRAYSIZE(capacities); i++)
    {
        const size_t capacity = capacities[i];
        GuardedText out(capacity);
        const int result = FormatString(out.Data(), capacity, L"%s%d", L"abcdefghij", 42);
        EXPECT_EQ(full.substr(0, capacity - 1), out.Text()) << "row " << i;
        EXPECT_TRUE(out.TailIntact()) << "row " << i;
        if (capacity > full.size())
            EXPECT_EQ(12, result) << "row " << i;
        else
            EXPECT_LT(result, 0) << "row " << i;
    }
    GuardedText none(0);
    EXPECT_LT(FormatString(none.Data(), 0, L"x"), 0);
    EXPECT_EQ(none.Data(), FormatInto(none.Data(), 0, L"x"));
    EXPECT_TRUE(none.TailIntact());
}

// Formats from translations: only the one "%s" reads an argument.
TEST(FillArgument, FillsOnlyTheFirstPlaceholder)
{
    const struct
    {
        const wchar_t* Format;
        size_t Capacity;
        const wchar_t* Expected;
    } rows[] = {
        {L"Cannot open %s.", 64, L"Cannot open Uninstall.lst."},
        {L"%s %s %n %d %x %S %ls %", 64, L"Uninstall.lst %s %n %d %x %S %ls %"},
        {L"100%% %%s %s", 64, L"100% %s Uninstall.lst"},
        {L"no placeholder", 64, L"no placeholder"},
        {L"ab%scd", 6, L"abUni"}, // cut inside the argument
        {L"abc%s", 3, L"ab"},
        {L"%s", 1, L""},
        {nullptr, 8, L""},
    };
    PageEndBytes page;
    ASSERT_TRUE(page.Ready());
    // The argument ends at an inaccessible page: reading past it faults.
    const std::string argument(reinterpret_cast<const char*>(L"Uninstall.lst"), 28);
    const wchar_t* placed = reinterpret_cast<const wchar_t*>(page.Place(argument));
    for (size_t row = 0; row < ARRAYSIZE(rows); row++)
    {
        GuardedText out(rows[row].Capacity);
        EXPECT_EQ(out.Data(), FillArgument(out.Data(), rows[row].Capacity, rows[row].Format, placed))
            << "row " << row;
        EXPECT_EQ(std::wstring(rows[row].Expected), out.Text()) << "row " << row;
        EXPECT_TRUE(out.TailIntact()) << "row " << row;
    }
    GuardedText none(0);
    FillArgument(none.Data(), 0, L"%s", placed);
    EXPECT_TRUE(none.TailIntact());
}

TEST(CompareNoCase, IgnoresCaseAndHonoursPrefixLength)
{
    struct Row
    {
        const wchar_t* A;
        const wchar_t* B;
        size_t N; // 0: whole strings
        int Expected;
    };
    const Row rows[] = {
        {L"Velnox", L"VELNOX", 0, 0}, {L"abc", L"abd", 0, -1},     {L"b", L"A", 0, 1},
        {L"Setup", L"setup", 5, 0},   {L"setupx", L"setup", 5, 0}, {L"set", L"setup", 5, -1},
        {L"SETUP", L"setupx", 5, 0},  {L"setup", L"set", 5, 1},    {L"abc", L"abc", 100, 0},
        {L"abc", L"abd", 2, 0},       {L"silent", L"S", 1, 0},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        const Row& r = rows[i];
        const int result = r.N == 0 ? CompareNoCase(r.A, r.B) : CompareNoCasePrefix(r.A, r.B, r.N);
        EXPECT_EQ(r.Expected, result) << "row " << i;
    }
}

TEST(UpperChar, PlainCapitalIAndSystemCaseForTheRest)
{
    EXPECT_EQ(L'I', UpperChar(L'i'));
    EXPECT_EQ(L'A', UpperChar(L'a'));
    EXPECT_EQ(L'Z', UpperChar(L'Z'));
    EXPECT_EQ(L'1', UpperChar(L'1'));
    EXPECT_EQ(wchar_t(0x00C9), UpperChar(0x00E9));
    EXPECT_EQ(wchar_t(0x0416), UpperChar(0x0436));
    wchar_t text[] = L"vnx.zip \x00e9";
    UpperString(text);
    EXPECT_STREQ(L"VNX.ZIP \x00c9", text);
}

TEST(IsDigit, OnlyAsciiDigits)
{
    EXPECT_TRUE(IsDigit(L'0') && IsDigit(L'9'));
    // Neighbours, and digits of other scripts that the C library would accept.
    const wchar_t others[] = {L'/', L':', 0, 0x0663, 0xFF10, 0x00B2};
    for (size_t i = 0; i < ARRAYSIZE(others); i++)
        EXPECT_FALSE(IsDigit(others[i])) << "row " << i;
}

TEST(AnsiConversion, RoundTripAndCutAtCapacity)
{
    // Plain ASCII is the same in every ANSI code page.
    const char* ansi = "Uninstall.lst";
    wchar_t wide[32];
    ASSERT_TRUE(AnsiToWide(ansi, wide, ARRAYSIZE(wide)));
    EXPECT_STREQ(L"Uninstall.lst", wide);
    char back[32];
    ASSERT_TRUE(WideToAnsi(wide, back, sizeof(back)));
    EXPECT_STREQ(ansi, back);

    // A character of the current code page survives the round trip.
    const unsigned char high[] = {0xC0, 0};
    wchar_t highWide[4];
    ASSERT_TRUE(AnsiToWide(reinterpret_cast<const char*>(high), highWide, 4));
    EXPECT_EQ(1u, wcslen(highWide));
    char highBack[4];
    ASSERT_TRUE(WideToAnsi(highWide, highBack, sizeof(highBack)));
    EXPECT_EQ(0xC0, static_cast<unsigned char>(highBack[0]));

    GuardedText cut(5);
    EXPECT_FALSE(AnsiToWide(ansi, cut.Data(), 5));
    EXPECT_LT(cut.Text().size(), 5u);
    EXPECT_EQ(0, std::wstring(L"Uninstall.lst").compare(0, cut.Text().size(), cut.Text()));
    EXPECT_TRUE(cut.TailIntact());

    std::vector<char> cutAnsi(5 + 8, char(0xBD));
    EXPECT_FALSE(WideToAnsi(L"Uninstall.lst", cutAnsi.data(), 5));
    EXPECT_LT(std::strlen(cutAnsi.data()), 5u);
    for (size_t i = 5; i < cutAnsi.size(); i++)
        EXPECT_EQ(char(0xBD), cutAnsi[i]) << "byte " << i;

    // No room at all: nothing written, and not a success.
    GuardedText none(0);
    EXPECT_FALSE(AnsiToWide(ansi, none.Data(), 0));
    EXPECT_TRUE(none.TailIntact());
    char noBytes = char(0xBD);
    EXPECT_FALSE(WideToAnsi(L"x", &noBytes, 0));
    EXPECT_EQ(char(0xBD), noBytes);
}

TEST(Utf8ToWide, DecodesAndReportsBadSequences)
{
    struct Row
    {
        const char* Bytes;
        size_t Capacity;
        const wchar_t* Expected;
        bool Result;
    };
    const Row rows[] = {
        {"A\xC3\xA9\xE2\x82\xAC", 8, L"A\x00e9\x20ac", true},
        {"\xF0\x9F\x98\x80", 8, L"\xD83D\xDE00", true},
        {"\xC3", 8, L"", false},
        {"x\xE2\x82", 8, L"x", false},
        {"\xF4\x90\x80\x80"
         "A",
         8, L"A", false},
        {"\x80", 8, L"", false},
        {"ab\xF8"
         "c",
         8, L"ab", false},
        {"\xC3\x41", 8, L"", false},
        // Overlong forms and encoded surrogates pass as they decode.
        {"\xC0\xAF", 8, L"/", true},
        {"\xED\xA0\x80", 8, L"\xD800", true},
        // Out of room: decoding stops, the result stays true.
        {"abc", 1, L"", true},
        {"abc", 3, L"ab", true},
        {"\xF0\x9F\x98\x80", 2, L"", true},
        {"a\xF0\x9F\x98\x80", 4, L"a\xD83D\xDE00", true},
        // The skipped code point still used two units of room.
        {"\xF4\x90\x80\x80"
         "A",
         3, L"", false},
        {"", 4, L"", true},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        GuardedText out(rows[i].Capacity);
        EXPECT_EQ(rows[i].Result, Utf8ToWide(rows[i].Bytes, out.Data(), rows[i].Capacity))
            << "row " << i;
        EXPECT_EQ(std::wstring(rows[i].Expected), out.Text()) << "row " << i;
        EXPECT_TRUE(out.TailIntact()) << "row " << i;
    }
    GuardedText none(0);
    EXPECT_FALSE(Utf8ToWide("abc", none.Data(), 0));
    EXPECT_TRUE(none.TailIntact());
}

TEST(Utf8Text, NeverReadsPastTheEnd)
{
    PageEndBytes page;
    ASSERT_TRUE(page.Ready());
    // Sequences cut short by the terminator, which is the last readable byte.
    const std::string cutStrings[] = {std::string("\xC3", 2), std::string("a\xE2\x82", 4),
                                      std::string("\xF0\x9F\x98", 4), std::string("ok", 3)};
    for (size_t i = 0; i < ARRAYSIZE(cutStrings); i++)
    {
        const char* source = reinterpret_cast<const char*>(page.Place(cutStrings[i]));
        wchar_t out[16];
        EXPECT_EQ(i == 3, Utf8ToWide(source, out, ARRAYSIZE(out))) << "row " << i;
    }
    // Blocks whose last sequence runs past their end.
    const std::string cutBlocks[] = {"\xE2\x82", "\xF0\x9F\x98", "\xFC\x80\x80", "\xC3"};
    for (size_t i = 0; i < ARRAYSIZE(cutBlocks); i++)
    {
        const unsigned char* block = page.Place(cutBlocks[i]);
        EXPECT_FALSE(IsUtf8Text(block, cutBlocks[i].size())) << "row " << i;
    }
}

TEST(Utf8Text, WellFormedBlocks)
{
    struct Row
    {
        std::string Bytes;
        bool Valid;
    };
    const Row rows[] = {
        {"", true},
        {"plain text\r\n", true},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        {std::string("a\0b", 3), true},
        {"\xF8\x88\x80\x80\x80", true},     // five-byte form
        {"\xFC\x84\x80\x80\x80\x80", true}, // six-byte form
        {"\x80", false},
        {"a\xBF", false},
        {"\xE2\x82", false},
        {"\xE2\x82"
         "A",
         false},
        {"\xFE\x80\x80\x80\x80\x80\x80", false},
        {"\xFF", false},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
        EXPECT_EQ(rows[i].Valid, IsUtf8Text(rows[i].Bytes.data(), rows[i].Bytes.size()))
            << "row " << i;
}

TEST(ParseInt64, DigitsUntilFirstOtherCharacterWrapping)
{
    struct Row
    {
        const wchar_t* Text;
        int64_t Expected;
    };
    const Row rows[] = {
        {L"-123x", -123},
        {L"x", 0},
        {L" 5", 0},
        {L"+5", 0},
        {L"", 0},
        {L"-", 0},
        {L"--5", 0},
        {L"007", 7},
        {L"9223372036854775807", INT64_MAX},
        {L"-9223372036854775807", -INT64_MAX},
        // Wrapped to a negative value: the minus sign is not applied again.
        {L"-9223372036854775808", INT64_MIN},
        {L"9223372036854775808", INT64_MIN},
        {L"-9223372036854775809", -INT64_MAX},
        {L"18446744073709551616", 0},
        {L"18446744073709551617", 1},
        {L"-18446744073709551617", -1},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
        EXPECT_EQ(rows[i].Expected, ParseInt64(rows[i].Text)) << "row " << i;
}

TEST(Int64ToText, WholeNumberOrNothing)
{
    struct Row
    {
        int64_t Value;
        size_t Capacity;
        const wchar_t* Expected;
    };
    const Row rows[] = {
        {-42, 20, L"-42"},
        {0, 20, L"0"},
        {INT64_MAX, 20, L"9223372036854775807"},
        {INT64_MIN, kInt64TextCapacity, L"-9223372036854775808"},
        {INT64_MIN, 20, L""},
        {12345, 6, L"12345"},
        {12345, 5, L""},
        {-5, 3, L"-5"},
        {-5, 2, L""},
        {0, 2, L"0"},
        {7, 1, L""},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        GuardedText out(rows[i].Capacity);
        Int64ToText(rows[i].Value, out.Data(), rows[i].Capacity);
        EXPECT_EQ(std::wstring(rows[i].Expected), out.Text()) << "row " << i;
        EXPECT_TRUE(out.TailIntact()) << "row " << i;
    }
    GuardedText none(0);
    Int64ToText(1, none.Data(), 0);
    EXPECT_TRUE(none.TailIntact());
}

namespace
{

// Odd-sized elements so that element moves cannot be done in whole words.
#pragma pack(push, 1)
struct Entry
{
    int Key;
    uint16_t Payload;
    char Pad;
};
#pragma pack(pop)

int CompareEntries(const void* a, const void* b)
{
    const int ka = static_cast<const Entry*>(a)->Key;
    const int kb = static_cast<const Entry*>(b)->Key;
    return ka < kb ? -1 : ka > kb ? 1 : 0;
}

} // namespace

TEST(SortArray, MatchesStdSortOfKeys)
{
    std::mt19937 random(12345);
    const size_t sizes[] = {0, 1, 2, 3, 7, 8, 31, 100, 1000};
    for (size_t s = 0; s < ARRAYSIZE(sizes); s++)
    {
        for (int keyRange : {3, 1000000})
        {
            std::vector<Entry> entries(sizes[s]);
            for (size_t i = 0; i < entries.size(); i++)
                entries[i] = {int(random() % keyRange), uint16_t(i), 'x'};
            std::vector<std::pair<int, int>> expected;
            for (const Entry& e : entries)
                expected.push_back({e.Key, e.Payload});
            std::sort(expected.begin(), expected.end());

            SortArray(entries.data(), entries.size(), sizeof(Entry), CompareEntries);
            std::vector<std::pair<int, int>> sorted;
            for (size_t i = 0; i < entries.size(); i++)
            {
                ASSERT_EQ(expected[i].first, entries[i].Key) << "size " << sizes[s] << " at " << i;
                EXPECT_EQ('x', entries[i].Pad);
                sorted.push_back({entries[i].Key, entries[i].Payload});
            }
            // Equal keys may come in any order, but every element is still there.
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(expected, sorted) << "size " << sizes[s];
        }
    }
}

TEST(WipeMemory, ZeroesExactlyTheBlock)
{
    unsigned char block[16];
    std::memset(block, 0xBD, sizeof(block));
    WipeMemory(block + 4, 8);
    for (size_t i = 0; i < sizeof(block); i++)
        EXPECT_EQ(i >= 4 && i < 12 ? 0 : 0xBD, block[i]) << "byte " << i;
    WipeMemory(nullptr, 8);
    WipeMemory(block, 0);
    EXPECT_EQ(0xBD, block[0]);
}

TEST(FileTimeToNs, HundredNanosecondTicks)
{
    FILETIME zero = {0, 0};
    EXPECT_EQ(0u, FileTimeToNs(zero));
    FILETIME high = {7, 1};
    EXPECT_EQ((uint64_t(1) << 32 | 7) * 100, FileTimeToNs(high));
    // 2000-01-01 00:00:00 UTC.
    SYSTEMTIME y2k = {2000, 1, 6, 1, 0, 0, 0, 0};
    FILETIME time;
    ASSERT_TRUE(SystemTimeToFileTime(&y2k, &time));
    EXPECT_EQ(125911584000000000ull * 100, FileTimeToNs(time));
}
