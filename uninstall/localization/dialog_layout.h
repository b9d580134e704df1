#pragma once
// Translation, scaling and mirroring of a dialog made from a template.
#include <windows.h>

// Flags a dialog procedure passes to the common handler.
const unsigned PropertyPage = 1;   // a page of a property sheet
const unsigned ClearApplyText = 8; // with PropertyPage: the sheet's Apply button shows no text

struct DialogScale
{
    int Width = 100; // percent
    int Height = 100;
    bool Active = false; // either differs from 100
};

// The size entry "width*height" of the dialog in the language file.
DialogScale GetDialogScale(const wchar_t* dialogName);
// Translates the caption (not on a page) and the control texts in the context
// of the dialog's name, and scales the dialog and its controls.
void LocalizeDialog(HWND dialog, const wchar_t* dialogName, bool page);
// Mirrors the window when the language reads right to left.
void MirrorWindow(HWND window);
// Undoes the mirroring and right-to-left reading for one control: paths and
// file masks read left to right in every language.
void KeepLeftToRight(HWND control);
// Gives the keyboard focus to the dialog's default button, so that the first
// Enter does what the dialog is for. The dialog procedure then returns FALSE
// from WM_INITDIALOG.
void FocusDefaultButton(HWND dialog);
