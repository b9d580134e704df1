#pragma once
// run/: the state of one run that the entry point fills and the roads read.
//
// The state of one run: filled by the entry point and its option parser,
// read by the setup and uninstall roads.
#include <windows.h>

#include <cstddef>

#include "files/path_names.h"
#include "run/run_outcome.h"

const size_t kInitOptionChars = 40;

struct RunStateData
{
    bool Silent;     // a token /S: no questions, dialogs accept themselves
    bool MsiMode;    // driven by an installer package
    bool NoExplorer; // do not open the program group at the end of setup
    bool UsageRequested; // "/?": the options are shown, nothing else is done
    wchar_t LogPath[kPathChars]; // "/log=PATH", made full; empty: no log
    wchar_t InitOptions[kInitOptionChars];
    wchar_t ProgramGroupPath[kPathChars];
    RunOutcome Outcome; // read once, for the exit code, at the end
    HICON AppIcon;
    HFONT BoldFont;
};
extern RunStateData RunState;
