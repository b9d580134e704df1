#pragma once
// The state of the run, the command-line options that fill it, and the
// message box every part of the program shows its messages with.
#include <windows.h>

#include <cstddef>

#include "files/path_names.h"

const size_t kInitOptionChars = 40;
const size_t kTokenChars = 1024;

struct RunStateData
{
    bool Silent;     // a token /S: no questions, dialogs accept themselves
    bool MsiMode;    // driven by an installer package
    bool NoExplorer; // do not open the program group at the end of setup
    wchar_t InitOptions[kInitOptionChars];
    wchar_t ProgramGroupPath[kPathChars];
    int ExitCode; // 0, or 1 when the settings dialog was cancelled
    HICON AppIcon;
    HFONT BoldFont;
};
extern RunStateData RunState;

enum class OptionSource
{
    CommandLine = 0,
    SfxCommand = 1, // the installer's "sfxcmd": only the silent token counts
};

// Copies the next blank-separated token, quotes removed and "" read as one
// double quote, into token (cut to capacity - 1). Returns the position behind
// it, or null when only blanks remain.
const wchar_t* NextToken(const wchar_t* text, wchar_t* token, size_t capacity);

// Parses one option text, applying each option while it is read. Setup is
// only ever set; uninstall ends up requested when the command line holds no
// counted option.
void ParseOptions(OptionSource source, const wchar_t* text, bool& setupRequested,
                  bool& uninstallRequested);

// The text of the "warning" box: the program or its folder is still there.
void ComposeWarningText(const wchar_t* programPath, wchar_t* text, size_t capacity);
void ShowWarning();

// MessageBoxW, read right to left when the language is.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
