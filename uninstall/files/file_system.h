#pragma once
// files/: path names, file-system operations and the file object; uses common/ only.
//
// Failure-tolerant wrappers of the Windows file functions. Each one that
// takes a name calls Windows with the name as given and, only when that
// fails, once more with its "\\?\" long form. Failures come back as false,
// 0, INVALID_FILE_ATTRIBUTES or FindData::Error, never as a message. The
// checks against links below stand on files/entry_handles.h, which opens
// entries as themselves and works through their handles.
#include "common/handles.h"
#include "files/path_names.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

// True when deleted. Attributes are left alone, so a read-only file stays.
bool DelFile(const wchar_t* name);
// The attributes, or INVALID_FILE_ATTRIBUTES.
DWORD GetFileAttr(const wchar_t* name);
// Files and folders alike.
bool FileExists(const wchar_t* name);
bool IsDirAttr(DWORD attributes);
// A reparse point that names another place (a junction or a symbolic link),
// or one whose kind cannot be told: it may lead out of the folder it is in.
// IsOpenedLinkToElsewhere (files/entry_handles.h) asks the same of an open
// entry.
bool IsLinkToElsewhere(const wchar_t* path, DWORD attributes);
// Bytes free to this user on the volume of the file's folder (the current
// volume for a bare name); 0 when unknown.
uint64_t GetFreeDiskSpace(const wchar_t* name);

// One entry found by FindFile or FastFind.
struct FindData
{
    // The searched mask with its name part replaced by the entry's name.
    wchar_t Name[kPathChars];
    uint64_t Size;
    DWORD FileAttr;
    bool IsDir;
    bool IsLink;
    // Nanoseconds since 1601-01-01 UTC.
    uint64_t MTime;
    uint64_t CTime;
    uint64_t ATime;
    // As the search returned them.
    FILETIME CreationTime;
    FILETIME LastAccessTime;
    FILETIME LastWriteTime;
    // The last fetch failed for a reason other than "nothing there".
    bool Error;
};

// A directory search over a mask such as "folder\*". Never yields "." or "..".
class FindFile
{
public:
    FindFile();
    FindFile(const FindFile&) = delete;
    FindFile& operator=(const FindFile&) = delete;

    // Starts over with a new mask; a search still open is closed first.
    void SetMask(const wchar_t* mask);
    // False at the end of the search, for an empty mask, or on failure
    // (then data.Error is set).
    bool Next(FindData& data);
    void Close();

private:
    wchar_t mask_[kPathChars];
    bool first_;
    FindHandle handle_;
};

// The one entry of a name without wildcards; false when there is none, the
// name holds wildcards or the entry's full name does not fit.
bool FastFind(const wchar_t* name, FindData& data);

// Links. A folder or file that a user of this machine made a link or junction
// could send a deletion or a write anywhere; the program empties, deletes and
// writes only in folders reached directly, and only files that really lie in
// them. Wine shows a folder link as a reparse point but a file link as a plain
// file (and DeleteFileW of it deletes its target), so a file is also opened
// and its final path compared with its folder's, where Windows offers that.

// True when the folder exists and neither it nor a folder above it is a link
// or junction.
bool IsFolderReachedDirectly(const wchar_t* folder);
// True when the file exists, is no link and its folder is reached directly:
// opened, it is an entry of that very folder.
bool IsFileReallyInside(const wchar_t* name);
// DelFile for a file that IsFileReallyInside; the check and the deletion go
// through one handle, so a link swapped in between is not followed.
bool DelFileInside(const wchar_t* name);
// The file at name opened with access when it is a plain file of its folder,
// reached directly, with no other name (a hard link to it elsewhere would make
// what is read or written there another file's); otherwise an invalid handle.
KernelHandle OpenFileReallyInside(const wchar_t* name, DWORD access);

// True when the text names one file of a folder and nothing else: not
// empty, at most 240 characters, no separator, colon, "..", wildcard or
// character Windows refuses in a name, no control character, no trailing dot
// or blank, and no device name ("NUL", "com1.txt", ...).
bool IsPlainFileName(const wchar_t* name);
// "CON", "nul.txt", "COM1 " and the like name devices in every folder.
bool IsDeviceName(const wchar_t* name);

// What the entry at name is (a link followed, as opening it would): its
// volume's serial number and its index there. False when it cannot be
// opened or told.
bool ReadEntryIdentity(const wchar_t* name, BY_HANDLE_FILE_INFORMATION& identity);

// The archiver's folder in the user's application data, "...\Velnox", in the
// output whether or not it exists; true when it exists. It is not created.
bool GetDefaultAppDataFolder(wchar_t* folder, size_t capacity);

template <size_t N> inline bool GetDefaultAppDataFolder(wchar_t (&folder)[N])
{
    return GetDefaultAppDataFolder(folder, N);
}
