#include "run/run_log.h"

#include <windows.h>

#include "common/handles.h"
#include "run/run_outcome.h"

namespace
{

KernelHandle LogFile;

} // namespace

bool OpenRunLog(const wchar_t* path)
{
    // Appended to, never cut: the log of an earlier run stays above.
    LogFile.Reset(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return LogFile.Valid();
}

void CloseRunLog()
{
    LogFile.Close();
}

bool RunLogOpen()
{
    return LogFile.Valid();
}

void LogText(const wchar_t* text)
{
    if (!LogFile.Valid())
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t line[kLogLineChars + 32];
    FormatInto(line, L"%04u-%02u-%02u %02u:%02u:%02u.%03u %s\r\n", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
    char bytes[(kLogLineChars + 32) * 3];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof(bytes), nullptr, nullptr);
    DWORD written = 0;
    // Each line is written at once: a run that is ended keeps its log.
    if (length > 1)
        WriteFile(LogFile.Get(), bytes, static_cast<DWORD>(length - 1), &written, nullptr);
}

const wchar_t* ExitCodeMeaning(int code)
{
    switch (code)
    {
    case kExitDone:
        return L"done";
    case kExitCancelled:
        return L"cancelled by the user";
    case kExitNoList:
        return L"the list of installed files is missing or unreadable";
    case kExitNoCleanup:
        return L"the program and its folder cannot be deleted";
    case kExitFilesLeft:
        return L"files that could go neither now nor at the restart stay";
    case kExitSetupPartial:
        return L"setup could not apply all of the choice";
    case kExitBusy:
        return L"another setup or uninstall is running: nothing done";
    case kExitBadOption:
        return L"unknown command-line option: nothing done";
    case kExitRestartPending:
        return L"done; the rest goes at the next restart";
    default:
        return L"unknown";
    }
}
