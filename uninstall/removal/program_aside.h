#pragma once
// The running program taken out of its folder into the cleanup folder, and
// put back when the command processor cannot be started.
#include "files/path_names.h"
#include "removal/cleanup_folder.h"

// Where the running program goes before the batch file deletes it, so that
// the batch file names only what this run leaves: a program that a new
// installation puts into its folder meanwhile stays. It moves into the
// cleanup folder under its own name and takes the folder's access list; one
// that cannot leave its volume is renamed beside itself to a name no
// installation uses, and a copy written from the open program file into the
// cleanup folder (Waiter) runs for the batch file's wait instead.
struct ProgramAside
{
    wchar_t Moved[kPathChars];
    wchar_t Waiter[kPathChars]; // empty when the program itself moved
};
bool MoveProgramAside(const CleanupFolder& cleanup, const wchar_t* programPath,
                      ProgramAside& aside);

// Undoes MoveProgramAside: the waiter goes and the program is back at its
// name.
void PutProgramBack(const wchar_t* programPath, const ProgramAside& aside);
