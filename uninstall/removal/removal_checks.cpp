#include "removal/removal_checks.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

#include "common/strings.h"
#include "files/file_system.h"
#include "platform/platform_probes.h"
#include "removal/contained_removal.h"
#include "removal/list_entries.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"

namespace
{

// "name.N.tmp": a file in use that the removal moved aside for the restart.
bool IsMovedForRestart(const wchar_t* name)
{
    const size_t length = wcslen(name);
    if (length < 7 || CompareNoCase(name + length - 4, L".tmp") != 0)
        return false;
    size_t digits = 0;
    while (digits < length - 4 && iswdigit(name[length - 5 - digits]))
        ++digits;
    return digits > 0 && digits <= 3 && digits < length - 4 && name[length - 5 - digits] == L'.';
}

} // namespace

bool CommandProcessor(wchar_t (&path)[kPathChars])
{
    const DWORD length = GetEnvironmentVariableW(L"COMSPEC", path, kPathChars);
    if (length == 0 || length >= kPathChars)
        return false;
    if (RunsElevated())
    {
        const UINT systemLength = GetSystemDirectoryW(path, kPathChars);
        if (systemLength == 0 || systemLength >= kPathChars || !AppendString(path, L"\\cmd.exe"))
            return false;
    }
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ListReadsToItsEnd(FILE* list)
{
    bool readable = false;
    {
        ListEntries entries(list);
        wchar_t entry[kEntryChars];
        while (entries.Next(entry))
        {
        }
        readable = !entries.Failed();
    }
    return fseek(list, 0, SEEK_SET) == 0 && readable;
}

bool OnlyTheProgramIsLeft(const wchar_t* folder, const wchar_t* programPath)
{
    if (KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey))
        return false;
    wchar_t mask[kPathChars];
    if (!JoinPath(folder, L"*", mask))
        return false;
    FindFile search;
    search.SetMask(mask);
    FindData found = {};
    while (search.Next(found))
        if (CompareNoCase(PointToName(found.Name), PointToName(programPath)) != 0 &&
            (found.IsDir || !IsMovedForRestart(PointToName(found.Name))))
            return false;
    return !found.Error;
}
