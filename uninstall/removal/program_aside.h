#pragma once
// The running program taken out of its folder for the batch file, in two
// steps around the start of the command processor: until the command
// processor runs, the program stays in its folder under its own name, so
// that a run ended at any instant before leaves it there to be run again.
#include "files/path_names.h"
#include "removal/cleanup_folder.h"

// Where the running program goes before the batch file deletes it, so that
// the batch file names only what this run leaves: a program that a new
// installation puts into its folder meanwhile stays. On the cleanup
// folder's volume it moves into that folder under its own name and takes
// the folder's access list; on another volume it is renamed beside itself
// to a name no installation uses.
// The waiter (kWaiterName in the cleanup folder) is a copy of the program
// that the batch file runs for its wait, so that nothing in the program's
// folder is run and the wait starts before the program leaves its folder.
struct ProgramAside
{
    wchar_t Moved[kPathChars];
    wchar_t Waiter[kPathChars];
    bool IntoCleanup; // Moved lies in the cleanup folder
};

// Names both places and writes the waiter, from the open program file; the
// program itself does not move. False when a name does not fit or the copy
// cannot be written (nothing is then left of it).
bool PrepareProgramAside(const CleanupFolder& cleanup, const wchar_t* programPath,
                         ProgramAside& aside);

// The program moved to its place aside (once the command processor runs);
// false when it could not be, and it is then still at programPath.
bool MoveProgramAside(const wchar_t* programPath, const ProgramAside& aside);

// The waiter of a batch file that will not run.
void DropWaiter(const ProgramAside& aside);

// Whether two existing entries lie on one volume, so that one can be
// renamed to the other's folder.
bool OnSameVolume(const wchar_t* path, const wchar_t* otherPath);
