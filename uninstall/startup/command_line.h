#pragma once
// The options of the command line and of the installer's "sfxcmd", read into
// the run's state.
#include <windows.h>

#include <cstddef>

#include "run/run_state.h"

const size_t kTokenChars = 1024;

enum class OptionSource
{
    CommandLine = 0,
    SfxCommand = 1, // the installer's "sfxcmd": only the silent token acts; nothing is counted
};

// Copies the next blank-separated token, quotes removed and "" read as one
// double quote, into token (cut to capacity - 1). Returns the position behind
// it, or null when only blanks remain.
const wchar_t* NextToken(const wchar_t* text, wchar_t* token, size_t capacity);

// Parses one option text. Setup is only ever set; uninstall ends up
// requested when the command line holds no counted option (the silent token
// and the log are not counted). A command line with an option that matches
// none of the table applies none of its options and marks the run's
// outcome; of "sfxcmd" only the silent token acts.
void ParseOptions(OptionSource source, const wchar_t* text, bool& setupRequested,
                  bool& uninstallRequested);

// The text of the "warning" box: the program or its folder is still there.
void ComposeWarningText(const wchar_t* programPath, wchar_t* text, size_t capacity);
void ShowWarning();
// The options, for "/?" and for a command line the program does not know.
void ShowUsage();
