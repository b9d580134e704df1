#pragma once
// The archiver as an application: its App Paths entry (in both registry views
// under WOW64), the "exe32" setting, and on Windows 6.0 and later the
// default-programs capabilities.
#include <cstddef>

// Full path of a file in this program's folder. programPath is the program's
// full path; null means the running module. False when the name does not fit
// whole: cut, it would be another file.
[[nodiscard]] bool ProgramFilePath(const wchar_t* programPath, const wchar_t* fileName,
                                   wchar_t* path, size_t capacity);
template <size_t N>
[[nodiscard]] inline bool ProgramFilePath(const wchar_t* programPath, const wchar_t* fileName,
                                          wchar_t (&path)[N])
{
    return ProgramFilePath(programPath, fileName, path, N);
}

// False only when the first App Paths write is refused with access denied,
// and then nothing else is written. programPath as above.
bool RegisterAppPath(const wchar_t* programPath = nullptr);

// RegisteredApplications and Capabilities (every extension of the table, whatever is
// associated); unregistering deletes the RegisteredApplications value. Does
// nothing below Windows 6.0.
void UpdateCapabilities(bool remove);

// The machine-root settings key with everything below it ("exe32",
// "Capabilities").
void DeleteMachineSettings();
