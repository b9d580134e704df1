#pragma once
// The first handler of every dialog procedure: translation, layout,
// mirroring and help.
#include <windows.h>

#include "localization/dialog_layout.h"

// True when it handled the message and the procedure must return TRUE at
// once (help requests); every other message goes on to the dialog's own
// code, WM_INITDIALOG after the dialog is translated and laid out.
// helpTopic may be null; flags are PropertyPage and ClearApplyText.
bool HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                         const wchar_t* dialogName, const wchar_t* helpTopic, unsigned flags);
