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

// What the completion dialog tells the user: where the archiver is, whether
// this run installed it or only changed its choices, and how to start it.
struct CompletionFacts
{
    const wchar_t* Folder = nullptr; // the installation folder; null: the program's folder
    bool ChoicesOnly = false;        // a rerun by hand over an installation with its entry
    bool StartMenu = true;           // a Start-menu link or the program group was chosen
    bool Explorer = true;            // an archive type or the context menus were chosen
};

// The message numbers of the heading and of the text on how to start.
UINT CompletionHeading(const CompletionFacts& facts);
UINT CompletionText(const CompletionFacts& facts);

// Ends with 1 on Done, Enter or Esc; a silent run closes it at once. Its
// parameter (lParam of WM_INITDIALOG) points to the CompletionFacts; null
// stands for a first installation in the program's folder with everything
// the texts mention chosen. Done has the first focus.
INT_PTR CALLBACK CompletionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
