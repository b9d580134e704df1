#pragma once
// removal/: the uninstall road: takes the integration back, deletes the files.
//
// The uninstall mode: after the user agrees, the integration is removed, the
// files named in "Uninstall.lst" are deleted (those in use at the next
// restart), and a hidden command processor deletes the program and its folder
// through a batch file once the program has ended.
#include <cstddef>
#include <cstdio>

#include "common/handles.h"
#include "files/path_names.h"

// True when a line of the list names something strictly inside the program's
// folder: not empty, not rooted or drive-qualified, no UNC, device or
// long-path form, no ".." component, not the folder itself.
bool IsSafeListEntry(const wchar_t* entry);

struct ListRemoval
{
    int Passes;
    int Removed;
    bool RestartNeeded; // some file in use was scheduled for the next restart
    bool ReadFailed;    // the list could not be read to its end
    int Left;           // files in use, neither moved nor deleted: they stay, unscheduled
};

// The deletion passes over an open list, read in the ANSI code page or, after
// a UTF-8 or UTF-16 byte-order mark, in that encoding. folder ends with a
// backslash; programPath is the running program, never moved or scheduled.
// A name that is, or lies below, a junction or symbolic link, or whose file
// lies outside the folder, is passed over; a file in use is scheduled once.
ListRemoval RemoveListedFiles(FILE* list, const wchar_t* folder, const wchar_t* programPath);

// The batch file's own folder: made new under the temporary folder's real
// place (links resolved) with a name nobody can guess, owned by
// Administrators and open only to them and SYSTEM when the program runs
// elevated, else owned by its user and open only to it. It is made and
// opened in one step and held open, so that it cannot be renamed or
// replaced while the program writes into it and starts the command
// processor there.
class CleanupFolder
{
public:
    CleanupFolder();
    CleanupFolder(const CleanupFolder&) = delete;
    CleanupFolder& operator=(const CleanupFolder&) = delete;
    // False when tempFolder is no local folder, the new folder's path is too
    // long to be a current directory, or the folder cannot be made as asked.
    bool Create(const wchar_t* tempFolder);
    // In the Windows temporary folder when the program runs elevated, where
    // a standard user cannot rename it; else in the user's temporary folder
    // or, when that one cannot take it (on the network, on a volume without
    // a drive letter), in the Windows one.
    bool CreateForThisRun();
    const wchar_t* Path() const { return path_; } // no end slash
    const wchar_t* Name() const;
    // For a batch file that will not run: removes the folder if it is empty.
    void Discard();

private:
    KernelHandle held_;
    wchar_t path_[kPathChars];
};

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

// The cleanup batch file for the program at programPath in folder (no end
// slash except at a drive root), created new at batchPath: a file or link
// already there is left as it is and the result is false. A path that would
// not read back the same in the batch file is written in its short form, or
// else (as is one too long for the lines) named through an environment
// variable of this process that the command processor started afterwards
// inherits; only when that fails too are its lines left out. With a
// waiter (a copy in the cleanup folder), the program is only deleted, never
// run: the waiter is run for the wait and deleted at the end.
bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent, const wchar_t* waiterPath = nullptr);

// The command line that runs the batch file in the folder named folderName
// (the command processor's current directory) and then deletes the file and
// the folder. Names only what lies in that folder, so the temporary
// folder's name never meets the command processor's parser.
bool CleanupCommandLine(const wchar_t* commandProcessor, const wchar_t* folderName, wchar_t* line,
                        size_t capacity);

// The form of a path that survives the ANSI code page of the batch file and
// the console's code page unchanged; false when none does.
bool BatchSafePath(const wchar_t* path, wchar_t* safe, size_t capacity);

void RunUninstall();
