#pragma once
// Desktop and Start-menu shortcuts and the "Velnox" program group: made when
// the options ask for them, deleted when they do not, so setup and removal
// share one operation.
#include <windows.h>

#include <cstddef>

struct IntegrationOptions;

// Makes the shortcuts match the Desktop, StartMenu and Programs flags. When
// groupPath is given (with its capacity) it receives the program-group folder,
// the all-users one when that could be made. iconFile is the theme icon for
// the archiver's own shortcuts; null gives the target's icon.
void UpdateShortcuts(const IntegrationOptions& options, wchar_t* groupPath,
                     size_t groupPathCapacity, const wchar_t* iconFile);
// The same for a program at programPath: the archiver and the program group's
// targets are looked for in its folder.
void UpdateShortcutsFor(const wchar_t* programPath, const IntegrationOptions& options,
                        wchar_t* groupPath, size_t groupPathCapacity, const wchar_t* iconFile);

// Writes a shortcut through the shell's link object, loading an existing one
// first so that properties not set here (such as a hotkey) are kept. True when
// the shortcut file was saved. The calling thread has COM initialised.
bool CreateShellLink(const wchar_t* target, const wchar_t* linkPath, const wchar_t* workingDir,
                     const wchar_t* description, const wchar_t* iconFile, const wchar_t* arguments);

// The special folder of the CSIDL; on failure, or with a capacity below
// MAX_PATH, the buffer holds "unknown_folder" (cut to capacity) and the
// result is false.
bool GetShellFolder(wchar_t* buffer, size_t capacity, int csidl);

// Deletes a folder with its whole contents, silently and not to the Recycle
// Bin, showing nothing. A missing path, a file or a reparse point (a
// junction) is left alone. False only when the folder was ours to delete
// and stays.
bool ShellDeleteFolder(const wchar_t* path);

template <size_t N> inline bool GetShellFolder(wchar_t (&buffer)[N], int csidl)
{
    return GetShellFolder(buffer, N, csidl);
}
