#pragma once
// run/: the state of one run that the entry point fills and the roads read.
//
// The state of one run: filled by the entry point and its option parser,
// read by the setup and uninstall roads.
#include <windows.h>

#include <cstddef>

#include "files/path_names.h"

const size_t kInitOptionChars = 40;

// The process exit codes, the same for silent and interactive runs, so that
// a deployment tool can tell a removal that could not be done.
enum ExitCodes : int
{
    kExitDone = 0,      // done, or the user answered No to the question
    kExitCancelled = 1, // the settings dialog was cancelled
    kExitNoList = 2,    // "Uninstall.lst" missing or unreadable: nothing more removed
    kExitNoCleanup = 3, // the program and its folder cannot be deleted (see the road)
    kExitBusy = 4,      // another setup or uninstall kept the guard: nothing done
    kExitFilesLeft = 5, // listed files in use could go neither now nor at the restart: they stay
};

struct RunStateData
{
    bool Silent;     // a token /S: no questions, dialogs accept themselves
    bool MsiMode;    // driven by an installer package
    bool NoExplorer; // do not open the program group at the end of setup
    wchar_t InitOptions[kInitOptionChars];
    wchar_t ProgramGroupPath[kPathChars];
    int ExitCode; // one of ExitCodes
    HICON AppIcon;
    HFONT BoldFont;
};
extern RunStateData RunState;
