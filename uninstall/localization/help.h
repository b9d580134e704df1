#pragma once
// The program's help: "velnox.chm" beside the program or, in a run that is
// not elevated, in the language folder, shown by the HTML Help engine of
// Windows.
#include <windows.h>

#include "files/path_names.h"

// Full name of the help file, fixed at the first successful lookup.
extern wchar_t HelpFilePath[kPathChars];

// The help file's full name as ShowHelp would look it up (the language
// folder's only in a run that is not elevated), for a caller that hands the
// file to the shell; false when the name does not fit.
bool GetHelpFileName(wchar_t (&path)[kPathChars]);

// Opens the help at a topic page, or at the table of contents when topic is
// null. The help window, or null.
HWND ShowHelp(const wchar_t* topic);

typedef HWND(WINAPI* HtmlHelpFunction)(HWND owner, const wchar_t* file, UINT command,
                                       DWORD_PTR data);
// For tests: when set, it stands in for "HtmlHelpW" at the lookup, so no
// help window opens.
extern HtmlHelpFunction HtmlHelpStandIn;
// For tests: forgets the lookup, the path and the retry, as at start.
void ResetHelp();
