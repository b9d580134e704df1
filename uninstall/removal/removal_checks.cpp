#include "removal/removal_checks.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

#include "common/dyn_array.h"
#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "integration/other_copies.h"
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
    // The environment of an elevated run comes partly from the user's own
    // settings: it is not even read, so that nothing the user sets there can
    // stop the removal or choose what runs.
    if (RunsElevated())
    {
        const UINT systemLength = GetSystemDirectoryW(path, kPathChars);
        if (systemLength == 0 || systemLength >= kPathChars || !AppendString(path, L"\\cmd.exe"))
            return false;
    }
    else
    {
        const DWORD length = GetEnvironmentVariableW(L"COMSPEC", path, kPathChars);
        if (length == 0 || length >= kPathChars)
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

bool OnlyTheProgramRemains(const wchar_t* folder, const wchar_t* programPath)
{
    // An entry still there is this installation's, unless it runs the
    // removal of another copy, which a run before this one handed it to.
    if (KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey) && !EntryOfAnotherCopy())
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

bool RestartDeletesFrom(const wchar_t* folder)
{
    RegistryKey held;
    if (!held.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   KEY_QUERY_VALUE))
        return false;
    const HKEY key = held.Get();
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ || bytes < sizeof(wchar_t))
        return false;
    DynArray<wchar_t> names;
    names.Add(bytes / sizeof(wchar_t) + 2);
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(&names[0]), &bytes) != ERROR_SUCCESS)
        return false;
    // Terminated, whatever was stored.
    const size_t count = bytes / sizeof(wchar_t);
    names[static_cast<uint32_t>(count)] = 0;
    names[static_cast<uint32_t>(count) + 1] = 0;
    const size_t folderLength = wcslen(folder);
    // Pairs of names: what is renamed or deleted, then its new name.
    bool source = true;
    // A deletion's new name is empty: only the stored size ends the names.
    for (size_t at = 0; at < count; source = !source)
    {
        const wchar_t* name = &names[static_cast<uint32_t>(at)];
        at += wcslen(name) + 1;
        if (!source)
            continue;
        if (wcsncmp(name, L"\\??\\", 4) == 0)
            name += 4;
        if (wcslen(name) > folderLength &&
            CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, static_cast<int>(folderLength),
                           folder, static_cast<int>(folderLength)) == CSTR_EQUAL)
            return true;
    }
    return false;
}
