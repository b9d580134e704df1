#pragma once
// The last steps of setup: a portable settings file carried over from beside
// the installer archive, and the dialog "DONEDLG" naming the installation
// folder (the current directory during setup).
#include <windows.h>

// Copies "velnox.ini" from the folder of the archive named by "sfxname" into
// the current directory; one already there is kept.
void CopySetupFiles();

// Ends with 1 on OK or Cancel; a silent run closes it at once.
INT_PTR CALLBACK CompletionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
