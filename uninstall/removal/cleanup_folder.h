#pragma once
// The private folder of one run's cleanup batch file and the access list
// that keeps it private. Making one also removes the cleanup folders that
// ended runs left beside it, with the batch file and the waiter a run
// ended before its command processor started left in them; nothing else of
// theirs, and nothing in a folder that holds anything else, is touched.
#include "common/handles.h"
#include "files/path_names.h"

// The batch file's name in its folder, and the copy of the program that it
// runs for its wait.
const wchar_t kBatchName[] = L"Uninstall_Vnx.Bat";
const wchar_t kWaiterName[] = L"Uninstall_Vnx_Wait.exe";

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

// Owned by Administrators, full control for them and SYSTEM, or owned by
// this process's user and open to it alone; nothing inherited from the
// temporary folder.
bool CleanupFolderAccess(LocalMemory& descriptor);

// "Uninstall_Vnx_" and 32 hexadecimal digits from the system's random source.
bool RandomFolderName(wchar_t (&name)[64]);
