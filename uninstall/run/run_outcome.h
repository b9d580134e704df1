#pragma once
// What a run did that its caller must learn, recorded where it happens, and
// the one exit code it comes to. Deployment tools read nothing but the code:
// 0 done, 3010 done with a restart pending, 1618 try again later, anything
// else a failure.

// The process exit codes, the same for silent and interactive runs.
enum ExitCodes : int
{
    kExitDone = 0,
    kExitCancelled = 1,      // the user cancelled the settings dialog or answered No
    kExitNoList = 2,         // "Uninstall.lst" missing or unreadable: the removal can be run again
    kExitNoCleanup = 3,      // the program and its folder cannot be deleted (see the road)
    kExitFilesLeft = 5,      // files in use could go neither now nor at the restart: they stay
    kExitSetupPartial = 6,   // setup could not apply all of the choice
    kExitOutOfMemory = 8,    // the fatal memory error (common/error_sink.h ends the process with it)
    kExitBusy = 1618,        // another setup or uninstall kept the guard: nothing done
    kExitBadOption = 1639,   // an option the program does not know: nothing done
    kExitRestartPending = 3010, // done; what stays goes at the next restart
};

struct RunOutcome
{
    bool BadOption;         // the command line held an unknown option
    bool Busy;              // another run kept the guard
    bool Cancelled;         // the settings dialog was cancelled or could not be shown
    bool Declined;          // the user answered No to the uninstall question
    bool ListUnreadable;    // the list is missing, or was not read to its end
    bool CleanupImpossible; // the end of the removal could not be prepared or started
    bool FilesLeft;         // something that was to go stays, unscheduled
    bool SetupPartial;      // part of the chosen integration could not be written
    bool RestartScheduled;  // something goes only at the next restart
};

// The code of the first of these that holds, in this order: a run that did
// nothing says why; a failure outweighs a pending restart; a restart is
// reported only when all else went.
int ExitCodeOf(const RunOutcome& outcome);
