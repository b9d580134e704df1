#pragma once
// The first handler of every dialog procedure: translation, layout and help.
#include <windows.h>

// True when it handled the message and the procedure should return true.
// Does nothing yet: every message goes on to the dialog's own procedure.
bool HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                         const wchar_t* dialogName, const wchar_t* helpTopic, unsigned flags);
