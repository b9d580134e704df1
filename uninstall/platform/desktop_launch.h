#pragma once
// Opening a document, folder or web address for the user.
//
// The shell's verbs come from the classes the user can override
// (HKCU\Software\Classes over the machine's). An elevated run therefore
// opens nothing itself: it asks the shell of the user's desktop, which runs
// at the user's own rights, and opens nothing when no such shell runs.
#include <windows.h>

// Opens target with the verb "open", shown normally: through ShellExecuteW
// in a run that is not elevated, else through the desktop's shell. False
// when it was not handed on.
bool OpenForUser(const wchar_t* target);

// The desktop shell's part alone: false when no desktop shell runs or it
// refused the request.
bool OpenThroughDesktopShell(const wchar_t* target);
