#include "integration/other_copies.h"

#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "integration/owner_records.h"
#include "platform/platform_probes.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"

namespace
{

// Beside the records, in the process's own view, where the removal of the
// machine's records takes it too.
const wchar_t kReplacedKey[] = L"\\Software\\Velnox\\Setup";
const wchar_t kReplacedValue[] = L"ReplacedCopy";

bool GetOwnProgram(wchar_t (&program)[kPathChars])
{
    const DWORD length = GetModuleFileNameW(nullptr, program, kPathChars);
    return length != 0 && length < kPathChars;
}

bool IsOwnFolder(const wchar_t* folder)
{
    wchar_t own[kPathChars];
    if (!GetOwnProgram(own))
        return false;
    RemoveNameFromPath(own);
    return SameFolder(own, folder);
}

// The program a command starts with, quoted or not.
bool CommandProgram(const wchar_t* text, wchar_t (&named)[kPathChars])
{
    const wchar_t* start = text;
    while (*start == L' ' || *start == L'\t')
        ++start;
    const bool quoted = *start == L'"';
    if (quoted)
        ++start;
    size_t length = 0;
    while (start[length] != 0 && (quoted ? start[length] != L'"' : start[length] != L' '))
        ++length;
    if (length == 0 || length >= kPathChars)
        return false;
    CopyMemory(named, start, length * sizeof(wchar_t));
    named[length] = 0;
    return true;
}

} // namespace

bool SameFolder(const wchar_t* a, const wchar_t* b)
{
    BY_HANDLE_FILE_INFORMATION one, other;
    if (ReadEntryIdentity(a, one) && ReadEntryIdentity(b, other))
        return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
               one.nFileIndexHigh == other.nFileIndexHigh &&
               one.nFileIndexLow == other.nFileIndexLow;
    return CompareNoCase(a, b) == 0;
}

bool NamesAnotherCopy(const wchar_t* text, wchar_t (&folder)[kPathChars])
{
    if (!CommandProgram(text, folder) || !IsLocalFilePath(folder) ||
        GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return false;
    RemoveNameFromPath(folder);
    return !IsOwnFolder(folder);
}

bool NamesAnotherCopy(const wchar_t* text)
{
    wchar_t folder[kPathChars];
    return NamesAnotherCopy(text, folder);
}

bool ReadMachineText(HKEY root, const wchar_t* subkey, const wchar_t* name,
                     wchar_t (&text)[kPathChars])
{
    RegistryKey key;
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    if (!key.Open(root, subkey, KEY_QUERY_VALUE) ||
        RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    text[size / sizeof(wchar_t)] = 0;
    return true;
}

// An elevated run reads the machine's classes, not a copy the user made of
// them.
bool IntegrationOfAnotherCopy(wchar_t (&folder)[kPathChars])
{
    wchar_t text[kPathChars];
    const bool classRead =
        RunsElevated()
            ? ReadMachineText(HKEY_LOCAL_MACHINE,
                              L"Software\\Classes\\Velnox\\shell\\open\\command", nullptr, text)
            : ReadMachineText(HKEY_CLASSES_ROOT, L"Velnox\\shell\\open\\command", nullptr, text);
    return (classRead && NamesAnotherCopy(text, folder)) ||
           (ReadMachineText(HKEY_LOCAL_MACHINE, BelowRoot(kAppPathsKey), nullptr, text) &&
            NamesAnotherCopy(text, folder));
}

bool EntryOfAnotherCopy()
{
    wchar_t program[kPathChars];
    return ReadMachineText(HKEY_LOCAL_MACHINE, BelowRoot(kUninstallEntryKey), L"UninstallString",
                           program) &&
           NamesAnotherCopy(program);
}

void RememberReplacedCopy()
{
    wchar_t folder[kPathChars];
    if (!RunsElevated() || !IntegrationOfAnotherCopy(folder))
        return;
    const RegistryViewScope view(false);
    SetString(HKEY_LOCAL_MACHINE, kReplacedKey, kReplacedValue, folder);
}

bool ReplacedCopyProgram(wchar_t (&program)[kPathChars])
{
    wchar_t folder[kPathChars];
    wchar_t own[kPathChars];
    wchar_t archiver[kPathChars];
    if (!ReadMachineText(HKEY_LOCAL_MACHINE, BelowRoot(kReplacedKey), kReplacedValue, folder) ||
        !IsLocalFilePath(folder) || IsOwnFolder(folder) || !GetOwnProgram(own) ||
        !JoinPath(folder, PointToName(own), program) ||
        !JoinPath(folder, L"Velnox.exe", archiver))
        return false;
    return FileExists(program) && FileExists(archiver);
}

void ForgetReplacedCopy()
{
    const RegistryViewScope view(false);
    if (ValueExists(HKEY_LOCAL_MACHINE, kReplacedKey, kReplacedValue))
        DeleteValue(HKEY_LOCAL_MACHINE, kReplacedKey, kReplacedValue);
}
