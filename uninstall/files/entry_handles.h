#pragma once
// Entries of the file system opened as themselves and then asked and changed
// through that handle, so that what was checked is what is changed: a link
// at the name is opened as the link, never as where it leads. The calls of
// Windows Vista and later are looked up when first used; where the system
// lacks them (older Windows has no file links, only folder junctions, which
// the attributes show) Has... says so and the rest give false.
#include "common/handles.h"
#include "files/path_names.h"

#include <windows.h>

#include <cstddef>

// Room for the "\\?\" form of a name that OpenWithoutFollowing can try: a
// name of the program's folder may be longer than a program path.
const size_t kLongFormChars = 2 * kPathChars + 8;

// The entry at name itself, not what a link there points to (where Windows
// can), folders too, opened with access and sharing everything. The name
// as given first; when that fails, its "\\?\" form, if that fits
// longFormChars characters (at most kLongFormChars). On failure the handle
// is invalid and the last error is the one the name as given met.
KernelHandle OpenWithoutFollowing(const wchar_t* name, DWORD access,
                                  size_t longFormChars = kPathChars);

// Invalid attributes are not a link.
bool IsLinkAttr(DWORD attributes);
// A reparse point that names another place (a junction or a symbolic link),
// or one whose kind cannot be told, asked through the handle of an entry
// opened as itself (FILE_FLAG_OPEN_REPARSE_POINT).
bool IsOpenedLinkToElsewhere(HANDLE entry, DWORD attributes);
// The attributes of an open entry; false when they cannot be read. Unlike
// GetFileInformationByHandle it asks nothing of the volume, which under Wine
// is a round trip to the mount manager for every entry.
bool ReadEntryAttributes(HANDLE entry, DWORD& attributes);

bool HasFinalPaths();
// The final path of an open entry as the system gives it ("\\?\C:\dir\x"
// with flags 0), links resolved; false when it cannot be told or does not fit.
bool FinalPathOfEntry(HANDLE entry, DWORD flags, wchar_t* path, size_t capacity);
// Attributes changed and entries deleted through an open handle.
bool HasHandleUpdates();
// Read-only, hidden and system off for an entry opened with
// FILE_WRITE_ATTRIBUTES.
bool ClearAttributesOfEntry(HANDLE entry);
// Deletes an entry opened with DELETE access: what was checked through the
// handle is what goes. Where the system can, its name goes at once; else
// once its last handle closes, so that a name another process holds open
// stays until then.
bool DeleteOpenedEntry(HANDLE entry);

// Two names the file system gave, compared as it compares them: code unit by
// code unit, ignoring case. A linguistic comparison takes "a\u00ADb" and
// "ab\u00AD", two entries of one folder, for the same name.
bool SameFileSystemName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);
