#include "common/error_sink.h"

#include <strsafe.h>

#include <cstdarg>
#include <exception>

ErrorSink g_errorSink;

namespace
{

// A VNX_EXIT that nobody catches ends the process at once with its code. The
// current operation was abandoned half way, so no clean-up (such as writing the
// settings image back) may run on that state: TerminateProcess, not exit().
[[noreturn]] void EndOnUncaughtException()
{
    UINT code = 255;
    if (std::exception_ptr pending = std::current_exception())
    {
        try
        {
            std::rethrow_exception(pending);
        }
        catch (VNX_EXIT exitCode)
        {
            code = static_cast<UINT>(exitCode);
        }
        catch (...)
        {
        }
    }
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);
}

// Installed during static initialisation; this file is linked whenever
// anything can raise VNX_EXIT.
struct TerminateHandlerInstaller
{
    TerminateHandlerInstaller() { std::set_terminate(EndOnUncaughtException); }
} g_terminateHandlerInstaller;

void RecordFileReport(SinkReport kind, const wchar_t* fileName)
{
    g_errorSink.LastReport = kind;
    g_errorSink.ReportCount++;
    // Cut to the buffer: a report, never a name to act on.
    StringCchCopyW(g_errorSink.LastText, ARRAYSIZE(g_errorSink.LastText),
                   fileName != nullptr ? fileName : L"");
}

} // namespace

void ReportText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(g_errorSink.LastText, ARRAYSIZE(g_errorSink.LastText), format, args);
    va_end(args);
    g_errorSink.LastReport = SinkReport::Text;
    g_errorSink.ReportCount++;
}

void ReportMemoryError()
{
    g_errorSink.LastReport = SinkReport::Memory;
    g_errorSink.ReportCount++;
    FatalExit(VNX_EXIT_MEMORY);
}

void ReportCloseError(const wchar_t* fileName)
{
    RecordFileReport(SinkReport::Close, fileName);
}

void ReportReadError(const wchar_t* fileName)
{
    RecordFileReport(SinkReport::Read, fileName);
}

void ReportWriteError(const wchar_t* fileName)
{
    RecordFileReport(SinkReport::Write, fileName);
}

void ReportSeekError(const wchar_t* fileName)
{
    RecordFileReport(SinkReport::Seek, fileName);
}

void ReportFileTooLarge(const wchar_t* fileName)
{
    RecordFileReport(SinkReport::FileTooLarge, fileName);
}

bool AskRetryRead(const wchar_t*)
{
    return false;
}

bool AskRetryWrite(const wchar_t*)
{
    return false;
}

void FatalExit(VNX_EXIT code)
{
    g_errorSink.ErrorCode = code;
    throw code;
}
