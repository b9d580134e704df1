#pragma once
// The cleanup batch file and the command processor that runs it: once this
// process has ended, the batch file deletes the program (moved aside into
// its cleanup folder) and the program's folder if it is empty, and the
// command line deletes the batch file and its folder. Every name the batch
// file holds reads back the same in the command processor, or the lines
// naming it are left out; nothing is started from a half-written batch file.
#include <cstddef>

#include "files/path_names.h"
#include "removal/cleanup_folder.h"

// A line of the batch file, or the command line, terminator included.
const size_t kBatchChars = 1024;

// The cleanup batch file for the program at programPath in folder (no end
// slash except at a drive root), created new at batchPath: a file or link
// already there is left as it is and the result is false. A path that would
// not read back the same in the batch file is written in its short form, or
// else (as is one too long for the lines) named through an environment
// variable of this process that the command processor started afterwards
// inherits; only when that fails too are its lines left out. With a
// waiter (a copy in the cleanup folder), the waiter is run for the wait and
// deleted at the end, and the program is only deleted, unless
// warnThroughProgram says it lies in the cleanup folder, where it may be
// run for the warning.
bool WriteCleanupBatch(const wchar_t* batchPath, const wchar_t* programPath, const wchar_t* folder,
                       bool silent, const wchar_t* waiterPath = nullptr,
                       bool warnThroughProgram = false);

// The command line that runs the batch file in the folder named folderName
// (the command processor's current directory) and then deletes the file and
// the folder. Names only what lies in that folder, so the temporary
// folder's name never meets the command processor's parser.
bool CleanupCommandLine(const wchar_t* commandProcessor, const wchar_t* folderName, wchar_t* line,
                        size_t capacity);

// The form of a path that survives the ANSI code page of the batch file and
// the console's code page unchanged; false when none does.
bool BatchSafePath(const wchar_t* path, wchar_t* safe, size_t capacity);

// The command processor started in two steps. Prepare composes everything
// the start needs and can fail before anything is removed; Start, after it,
// writes the waiter and the batch file, starts the command processor hidden
// and detached in the cleanup folder, and only then moves the program
// aside. Nothing waits for the command processor.
class CleanupLaunch
{
public:
    explicit CleanupLaunch(const CleanupFolder& cleanup);
    CleanupLaunch(const CleanupLaunch&) = delete;
    CleanupLaunch& operator=(const CleanupLaunch&) = delete;

    // The current directory (the program's folder, which the batch file
    // deletes), the batch file's path and the command line; false when one
    // of them does not fit.
    bool Prepare(const wchar_t* commandProcessor);
    // False when the command processor was not started (the program is
    // then still at programPath and no batch file is left), or when the
    // program could not leave its folder after it (it stays there alone).
    bool Start(const wchar_t* programPath, bool silent);

private:
    const CleanupFolder& cleanup_;
    wchar_t currentDir_[kPathChars];
    wchar_t batchPath_[kPathChars];
    wchar_t commandLine_[kBatchChars];
};
