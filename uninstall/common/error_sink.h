#pragma once
// The process-wide error sink through which the file object and the arrays
// report failures. It shows nothing; its one hard rule is that running out of
// memory is fatal: the memory error throws VNX_EXIT, which only the settings
// file loader catches. Anywhere else it escapes and the process ends with the
// recorded code (see the terminate handler in error_sink.cpp).
#include <windows.h>

#include <cstdint>

// Process error codes, thrown as the fatal exception.
enum VNX_EXIT : int
{
    VNX_EXIT_SUCCESS = 0,
    VNX_EXIT_MEMORY = 8,
};

enum class SinkReport
{
    None,
    Text,
    Memory,
    Close,
    Read,
    Write,
    Seek,
    FileTooLarge,
};

// What the sink has recorded so far; nothing in the program reads it back.
struct ErrorSink
{
    VNX_EXIT ErrorCode;
    SinkReport LastReport;
    uint32_t ReportCount;
    // The formatted text of a text report, or the file name of a file report.
    wchar_t LastText[1024];
};

extern ErrorSink g_errorSink;

// printf-style, formatted into 1024 characters ("%s" takes a UTF-16 string).
void ReportText(const wchar_t* format, ...);
// Records the memory error, sets the error code 8 and throws VNX_EXIT_MEMORY.
[[noreturn]] void ReportMemoryError();

void ReportCloseError(const wchar_t* fileName);
void ReportReadError(const wchar_t* fileName);
void ReportWriteError(const wchar_t* fileName);
void ReportSeekError(const wchar_t* fileName);
void ReportFileTooLarge(const wchar_t* fileName);

// Failed reads and writes are never retried in this program.
bool AskRetryRead(const wchar_t* fileName);
bool AskRetryWrite(const wchar_t* fileName);

// Records the code and throws it.
[[noreturn]] void FatalExit(VNX_EXIT code);
