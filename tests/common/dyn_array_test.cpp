#include "common/dyn_array.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

// Runs an operation that must raise the fatal memory error.
template <class Operation> VNX_EXIT CatchFatal(Operation operation)
{
    try
    {
        operation();
    }
    catch (VNX_EXIT code)
    {
        return code;
    }
    return VNX_EXIT_SUCCESS;
}

} // namespace

TEST(DynArray, GrowsByAQuarterPlus32)
{
    struct Row
    {
        uint32_t Start;
        uint32_t Added;
        uint32_t Capacity;
    };
    const Row rows[] = {
        {0, 1, 32}, {32, 33, 72}, {4096, 1, 5152}, {0, 100, 100}, {32, 1, 72},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        DynArray<uint32_t> array;
        if (rows[i].Start != 0)
            array.Add(rows[i].Start);
        ASSERT_EQ(rows[i].Start, array.Capacity()) << "row " << i;
        array.Add(rows[i].Added);
        EXPECT_EQ(rows[i].Start + rows[i].Added, array.Size()) << "row " << i;
        EXPECT_EQ(rows[i].Capacity, array.Capacity()) << "row " << i;
    }
}

TEST(DynArray, AddNothingAllocatesNothing)
{
    DynArray<unsigned char> array;
    array.Add(0);
    EXPECT_EQ(nullptr, array.Data());
    EXPECT_EQ(0u, array.Capacity());
    DynArray<wchar_t> sized(5);
    EXPECT_EQ(5u, sized.Size());
    EXPECT_EQ(32u, sized.Capacity());
}

TEST(DynArray, ContentsSurviveGrowthInBothModes)
{
    for (bool secure : {false, true})
    {
        DynArray<uint32_t> array;
        array.SetSecure(secure);
        for (uint32_t i = 0; i < 1000; i++)
            array.Push(i * 7);
        ASSERT_EQ(1000u, array.Size());
        for (uint32_t i = 0; i < 1000; i++)
            ASSERT_EQ(i * 7, array[i]) << "secure " << secure << " element " << i;
    }
}

TEST(DynArray, SetSizeShrinksWithoutFreeing)
{
    DynArray<uint16_t> array;
    array.SetSize(40);
    EXPECT_EQ(40u, array.Size());
    const uint32_t capacity = array.Capacity();
    const uint16_t* data = array.Data();
    array.SetSize(3);
    EXPECT_EQ(3u, array.Size());
    EXPECT_EQ(capacity, array.Capacity());
    EXPECT_EQ(data, array.Data());
    array.SetSize(capacity);
    EXPECT_EQ(capacity, array.Size());
    EXPECT_EQ(capacity, array.Capacity());
}

TEST(DynArray, ExceedingLimitsIsFatal)
{
    DynArray<uint32_t> limited;
    limited.SetMaxSize(40);
    limited.Add(40);
    EXPECT_EQ(VNX_EXIT_MEMORY, CatchFatal([&] { limited.Add(1); }));
    EXPECT_EQ(VNX_EXIT_MEMORY, g_errorSink.ErrorCode);
    EXPECT_STREQ(L"Maximum allowed array size (40) is exceeded", g_errorSink.LastText);
    // The failed growth leaves the array as it was.
    EXPECT_EQ(40u, limited.Size());

    // A size that wraps 32 bits, and a byte count a 32-bit process cannot hold.
    DynArray<uint32_t> wrapping(1);
    EXPECT_EQ(VNX_EXIT_MEMORY, CatchFatal([&] { wrapping.Add(UINT32_MAX); }));
    EXPECT_EQ(1u, wrapping.Size());
    DynArray<uint32_t> huge;
    EXPECT_EQ(VNX_EXIT_MEMORY, CatchFatal([&] { huge.Add(0x40000000); }));
    EXPECT_EQ(0u, huge.Size());
}

TEST(StringList, KeepsStringsInOrderIncludingEmptyOnes)
{
    StringList list;
    const wchar_t* text = L"stale";
    EXPECT_FALSE(list.NextString(&text));
    EXPECT_EQ(nullptr, text);

    list.AddString(L"a");
    list.AddString(L"");
    list.AddString(nullptr);
    EXPECT_EQ(3u, list.Count());
    const wchar_t* expected[] = {L"a", L"", L""};
    for (size_t i = 0; i < ARRAYSIZE(expected); i++)
    {
        ASSERT_TRUE(list.NextString(&text)) << "string " << i;
        EXPECT_STREQ(expected[i], text) << "string " << i;
    }
    EXPECT_FALSE(list.NextString(&text));
    EXPECT_FALSE(list.NextString(nullptr));

    list.Reset();
    EXPECT_EQ(0u, list.Count());
    EXPECT_FALSE(list.NextString(&text));
    list.AddString(L"again");
    ASSERT_TRUE(list.NextString(&text));
    EXPECT_STREQ(L"again", text);
}

TEST(StringList, AddsOneOfItsOwnStringsAcrossGrowth)
{
    StringList list;
    list.AddString(L"0123456789012345678901234567"); // 29 of 32 units
    const wchar_t* first = nullptr;
    ASSERT_TRUE(list.NextString(&first));
    list.AddString(first); // needs the storage to move
    const wchar_t* second = nullptr;
    ASSERT_TRUE(list.NextString(&second));
    EXPECT_STREQ(L"0123456789012345678901234567", second);
}
