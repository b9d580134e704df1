#pragma once
// The uninstall mode: after the user agrees, the integration is removed, the
// files named in "Uninstall.lst" are deleted (those in use at the next
// restart), and a hidden command processor deletes the program and its folder
// through a batch file once the program has ended.
#include <cstddef>
#include <cstdio>

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
};

// The deletion passes over an open list, read in the ANSI code page or, after
// a UTF-8 or UTF-16 byte-order mark, in that encoding. folder ends with a
// backslash; programPath is the running program, never moved or scheduled.
// A name that is, or lies below, a junction or symbolic link, or whose file
// lies outside the folder, is passed over; a file in use is scheduled once.
ListRemoval RemoveListedFiles(FILE* list, const wchar_t* folder, const wchar_t* programPath);

// The cleanup batch file for the program at programPath in folder (no end
// slash except at a drive root). A path that would not read back the same in
// the batch file is written in its short form, or else named through an
// environment variable of this process that the command processor started
// afterwards inherits; only when that fails too are its lines left out.
bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent);

// The form of a path that survives the ANSI code page of the batch file and
// the console's code page unchanged; false when none does.
bool BatchSafePath(const wchar_t* path, wchar_t* safe, size_t capacity);

void RunUninstall();
