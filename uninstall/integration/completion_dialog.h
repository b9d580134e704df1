#pragma once
// The last steps of setup: a portable settings file carried over from beside
// the installer archive, and the dialog "DONEDLG" naming the installation
// folder, the folder of the program's own file.
#include <windows.h>

#include "files/path_names.h"

// The folder of the program's own file, without an end slash (but a root
// keeps its own); empty, and false, when it cannot be read whole.
bool GetProgramFolder(wchar_t (&folder)[kPathChars]);

// Copies "velnox.ini" from the folder of the archive named by "sfxname"
// into folder; one already there is kept. True when a file was copied.
bool CopySetupFiles(const wchar_t* folder);

// Ends with 1 on OK or Cancel; a silent run closes it at once. Its parameter
// (lParam of WM_INITDIALOG) names the installation folder; null stands for
// the program's folder.
INT_PTR CALLBACK CompletionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
