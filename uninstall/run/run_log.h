#pragma once
// The administrator's log ("/log=PATH"): a line for each decision and each
// change of the run, appended in UTF-8 to a file made when missing. Without
// the option nothing is written; a log that cannot be written changes
// nothing the run does.
#include <cstddef>

#include "common/strings.h"

// A line of the log, cut to this, terminator included.
const size_t kLogLineChars = 4600;

// Opens the log for the run, for appending; false (and no log) when it
// cannot be opened.
bool OpenRunLog(const wchar_t* path);
void CloseRunLog();
bool RunLogOpen();

// One line: the time, then the text.
void LogText(const wchar_t* text);

template <class... Args> void LogLine(const wchar_t* format, Args... args)
{
    if (!RunLogOpen())
        return;
    wchar_t text[kLogLineChars];
    LogText(FormatInto(text, format, args...));
}

// The exit code's meaning as the log gives it.
const wchar_t* ExitCodeMeaning(int code);
