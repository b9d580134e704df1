#pragma once
// A file written whole beside its final name and then put in its place.
//
// The new file "<name>.new" is made exclusively, so nothing that stands at
// that name (a link, dangling or not) is followed. Through its handle it is
// checked to be a plain file with no other name whose final path lies in the
// folder of the name, held open since before; it is written through that
// handle, flushed, and renamed into that held folder over the name. A link or
// a hard link at the name is replaced, never written through; a folder
// swapped for a link meanwhile makes the write fail. Until Commit the name is
// left as it was.
#include "common/handles.h"
#include "files/path_names.h"

#include <windows.h>

class ReplacementFile
{
public:
    ReplacementFile();
    // A new file not committed is deleted.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Makes the new file beside name, open for reading and writing; with
    // othersMayRead, other processes may read it meanwhile. A "<name>.new"
    // left by an interrupted run is removed first when it really lies in
    // the folder. False when the folder is reached through a link or the new
    // file cannot be made and checked; nothing is then left behind.
    bool Create(const wchar_t* name, bool othersMayRead = false);
    // The new file, for writers that need a handle (a stream over it).
    HANDLE Handle() const { return file_.Get(); }
    // All or nothing; a failure is reported and makes Commit fail.
    bool Write(const void* data, DWORD size);
    // Flushes the new file, checks it once more and renames it over the name.
    // False when anything failed: the name is then as it was and the new
    // file is gone.
    bool Commit();
    // Deletes the new file; the name stays as it was.
    void Abandon();

private:
    bool IsStillInPlace() const;
    bool RenameOverName();

    KernelHandle folder_;
    KernelHandle file_;
    bool failed_;
    // The final path of the held folder, with its end slash; empty where the
    // system cannot tell final paths.
    wchar_t folderFinal_[kPathChars];
    wchar_t name_[kPathChars];
    wchar_t newName_[kPathChars];
};
