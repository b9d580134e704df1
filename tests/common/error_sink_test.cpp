#include "common/error_sink.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

TEST(ErrorSink, RecordsReportsWithoutAsking)
{
    const uint32_t before = g_errorSink.ReportCount;
    ReportText(L"%s: %u", L"Velnox.ini", 12u);
    EXPECT_EQ(SinkReport::Text, g_errorSink.LastReport);
    EXPECT_STREQ(L"Velnox.ini: 12", g_errorSink.LastText);

    struct Row
    {
        void (*Report)(const wchar_t*);
        SinkReport Kind;
    };
    const Row rows[] = {
        {ReportCloseError, SinkReport::Close},          {ReportReadError, SinkReport::Read},
        {ReportWriteError, SinkReport::Write},          {ReportSeekError, SinkReport::Seek},
        {ReportFileTooLarge, SinkReport::FileTooLarge},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); i++)
    {
        rows[i].Report(L"C:\\Velnox\\Uninstall.lst");
        EXPECT_EQ(rows[i].Kind, g_errorSink.LastReport) << "row " << i;
        EXPECT_STREQ(L"C:\\Velnox\\Uninstall.lst", g_errorSink.LastText) << "row " << i;
    }
    EXPECT_EQ(before + 1 + ARRAYSIZE(rows), g_errorSink.ReportCount);
    EXPECT_FALSE(AskRetryRead(L"a"));
    EXPECT_FALSE(AskRetryWrite(L"a"));
}

TEST(ErrorSink, LongTextIsCutAt1024)
{
    const std::wstring name(3000, L'n');
    ReportText(L"%s", name.c_str());
    EXPECT_EQ(1023u, wcslen(g_errorSink.LastText));
    ReportCloseError(name.c_str());
    EXPECT_EQ(1023u, wcslen(g_errorSink.LastText));
}

TEST(ErrorSink, MemoryErrorThrowsCode8)
{
    try
    {
        ReportMemoryError();
        FAIL() << "no exception";
    }
    catch (VNX_EXIT code)
    {
        EXPECT_EQ(VNX_EXIT_MEMORY, code);
        EXPECT_EQ(8, int(code));
    }
    EXPECT_EQ(SinkReport::Memory, g_errorSink.LastReport);
    EXPECT_EQ(VNX_EXIT_MEMORY, g_errorSink.ErrorCode);
}

TEST(ErrorSinkDeathTest, UncaughtFatalErrorEndsProcessWithItsCode)
{
    // The terminate handler sees the VNX_EXIT in flight, as for an uncaught one.
    EXPECT_EXIT(
        {
            try
            {
                ReportMemoryError();
            }
            catch (...)
            {
                std::terminate();
            }
        },
        ::testing::ExitedWithCode(8), "");
}
