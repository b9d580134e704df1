#pragma once
// The passes that delete what "Uninstall.lst" names inside the program's
// folder. A line counts only when it names something strictly inside the
// folder; a name that is, or lies below, a link, or whose file lies outside
// the folder, is passed over. Passes repeat while one removes something, so
// a folder listed before its contents goes in a later pass. The running
// program and the list are never moved or scheduled, whatever name reaches
// them; a file in use is scheduled for the next restart once.
#include <cstdio>

// The list beside the program, opened by this name alone.
const wchar_t kListName[] = L"Uninstall.lst";

// True when a line of the list names something strictly inside the program's
// folder: not empty, not rooted or drive-qualified, no UNC, device or
// long-path form, no ".." component, not the folder itself.
bool IsSafeListEntry(const wchar_t* entry);

struct ListRemoval
{
    int Passes;
    int Removed;
    bool RestartNeeded; // some file in use was scheduled for the next restart, and
                        // after it the folders that held it, up to the program's
    bool ReadFailed;    // the list could not be read to its end
    int Unremovable;    // files in use, neither moved nor deleted: they stay, unscheduled
};

// The deletion passes over an open list, read in the ANSI code page or, after
// a UTF-8 or UTF-16 byte-order mark, in that encoding. folder ends with a
// backslash; programPath is the running program, never moved or scheduled.
// A name that is, or lies below, a junction or symbolic link, or whose file
// lies outside the folder, is passed over; a file in use is scheduled once.
ListRemoval RemoveListedFiles(FILE* list, const wchar_t* folder, const wchar_t* programPath);
