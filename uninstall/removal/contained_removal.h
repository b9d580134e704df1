#pragma once
// Deleting, moving and scheduling names of the program's folder without ever
// reaching outside it. A name is opened without following a link at its end;
// the opened entry must not be a link and, where the system can tell, its
// final path must lie strictly inside the folder's own final path. The
// deletion then goes through that same handle, so nothing can be swapped in
// between the check and the deletion. Wine shows a file link as a plain file
// and opens its target: there the final path is what catches it.
#include "common/handles.h"

#include <windows.h>

#include <cstddef>

// Names of the program's folder are joined into buffers of this size.
const size_t kEntryChars = 4096;

// Which file an open handle reaches, whatever name it was opened by.
struct FileIdentity
{
    DWORD Volume;
    DWORD IndexHigh;
    DWORD IndexLow;
};

// The folder every name must stay inside, its final path read once.
class ContainedFolder
{
public:
    // folder ends with a backslash.
    explicit ContainedFolder(const wchar_t* folder);
    ContainedFolder(const ContainedFolder&) = delete;
    ContainedFolder& operator=(const ContainedFolder&) = delete;

    // True when the opened entry's final path lies strictly inside the
    // folder's, or when the system cannot tell final paths at all. A system
    // that offers final paths but cannot give one here gives false.
    bool Holds(HANDLE entry) const;

private:
    wchar_t finalPath_[kEntryChars]; // with a trailing backslash
    DWORD flags_;                    // the kind of final path that worked
    bool offered_;                   // the system tells final paths
    bool known_;                     // and told the folder's
};

// One name of the folder, opened for its checks and its deletion.
class ContainedEntry
{
public:
    enum State
    {
        Missing,   // nothing there (or it cannot even be looked at)
        Elsewhere, // a link, or something outside the folder: never touched
        Deletable, // opened with the right to delete it
        InUse,     // checked, but another process keeps it from deletion
        Stays,     // could be neither deleted nor scheduled: it stays
    };

    ContainedEntry(const ContainedFolder& folder, const wchar_t* fullName);
    ContainedEntry(const ContainedEntry&) = delete;
    ContainedEntry& operator=(const ContainedEntry&) = delete;

    State GetState() const { return state_; }
    bool IsFolder() const { return (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // Read when first asked, from the entry still open; all zero when it
    // cannot be read.
    const FileIdentity& Identity();

    // Clears read-only, hidden and system, then deletes the entry (a folder
    // only when empty) and closes it, so that the name is gone on return.
    // An entry that stays is kept open; one whose deletion waits for
    // another process to close it Stays.
    bool Delete();
    // Moves the entry to the first free "%s.%d.tmp" name beside it and asks
    // for the deletion of that copy at the next restart. Its own name is never
    // scheduled: a file put there again before the restart (a reinstall) would
    // go. False when nothing was scheduled; the state is then Stays when the
    // entry stays, unmoved or moved but unscheduled, and Elsewhere when it was
    // swapped for something else meanwhile.
    bool ScheduleForRestart();

private:
    bool Open(DWORD access);
    bool Check();
    bool KnowIdentity();
    bool NameStays() const;
    // The name reaches this very entry (and is not a link to it).
    bool IsAt(const wchar_t* name) const;

    const ContainedFolder& folder_;
    const wchar_t* name_;
    KernelHandle handle_;
    DWORD attributes_;
    FileIdentity identity_;
    bool identityKnown_;
    State state_;
};

// A file of the folder that the program itself wrote (never a folder):
// deleted with the same checks. True when it is gone now.
bool DeleteContainedFile(const ContainedFolder& folder, const wchar_t* fullName);
