#include "common/error_sink.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

TEST(ErrorSink, RecordsReportsWithoutAsking)
{
    ReportText(L"%s: %u", L"Velnox.ini", 12u);
    EXPECT_STREQ(L"Velnox.ini: 12", g_errorSink.LastText);
    ReportSeekError(L"C:\\Velnox\\Uninstall.lst");
    EXPECT_EQ(SinkReport::Seek, g_errorSink.LastReport);
    EXPECT_STREQ(L"C:\\Velnox\\Uninstall.lst", g_errorSink.LastText);
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
