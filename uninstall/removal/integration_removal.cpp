#include "removal/integration_removal.h"

#include <windows.h>

#include <shlobj.h>

#include "common/handles.h"
#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/associations.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "integration/shell_extension.h"
#include "integration/shortcuts.h"
#include "platform/platform_probes.h"
#include "run/run_log.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"
#include "settings/registry_paths.h"
#include "settings/settings_roots.h"
#include "settings/settings_store.h"
#include "settings/store_routing.h"

namespace
{

const wchar_t* const kClassKeys[] = {L"Velnox", L"Velnox.ZIP", L"Velnox.REV"};


bool IsRevisionOurs()
{
    wchar_t className[32];
    return GetString(HKEY_CLASSES_ROOT, kRevisionExtension, nullptr, className, L"") &&
           CompareNoCase(className, kRevisionClass) == 0;
}

// The installed-programs entry, which only administrators write, names this
// program's folder: a setup of this installation integrated the machine,
// whatever a settings file copied here since says.
bool EntryNamesThisFolder()
{
    wchar_t folder[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, folder, kPathChars);
    RegistryKey entry;
    if (length == 0 || length >= kPathChars ||
        !entry.Open(HKEY_LOCAL_MACHINE, BelowRoot(kUninstallEntryKey), KEY_QUERY_VALUE))
        return false;
    *PointToName(folder) = 0;
    wchar_t location[kPathChars];
    DWORD size = sizeof(location) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(entry.Get(), L"InstallLocation", nullptr, &type,
                         reinterpret_cast<BYTE*>(location), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    location[size / sizeof(wchar_t)] = 0;
    return CompareNoCase(location, folder) == 0;
}

// Whether two folder names are one folder: compared by identity where both
// can be opened, so that a short or differently spelt name is no other folder.
bool SameFolder(const wchar_t* a, const wchar_t* b)
{
    BY_HANDLE_FILE_INFORMATION one, other;
    if (ReadEntryIdentity(a, one) && ReadEntryIdentity(b, other))
        return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
               one.nFileIndexHigh == other.nFileIndexHigh &&
               one.nFileIndexLow == other.nFileIndexLow;
    return CompareNoCase(a, b) == 0;
}

// Whether a command or path, as setup writes it (the program first, quoted or
// not), names a file in another folder than this program's that is still
// there: a copy of the archiver lives there, and what names it is that copy's.
bool NamesAnotherCopy(const wchar_t* text)
{
    wchar_t named[kPathChars];
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
    wchar_t own[kPathChars];
    const DWORD ownLength = GetModuleFileNameW(nullptr, own, kPathChars);
    if (ownLength == 0 || ownLength >= kPathChars || !IsLocalFilePath(named) ||
        GetFileAttributesW(named) == INVALID_FILE_ATTRIBUTES)
        return false;
    RemoveNameFromPath(own);
    RemoveNameFromPath(named);
    return !SameFolder(own, named);
}

// A text value as the registry itself holds it, whatever a settings file
// routes or switches off: what the machine holds decides whose it is.
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

// The archiver's classes or App Paths name the archiver in another folder
// where it still is: the integration belongs to that copy. An elevated run
// reads the machine's classes, not a copy the user made of them.
bool IntegrationOfAnotherCopy()
{
    wchar_t text[kPathChars];
    const bool classRead =
        RunsElevated()
            ? ReadMachineText(HKEY_LOCAL_MACHINE,
                              L"Software\\Classes\\Velnox\\shell\\open\\command", nullptr, text)
            : ReadMachineText(HKEY_CLASSES_ROOT, L"Velnox\\shell\\open\\command", nullptr, text);
    return (classRead && NamesAnotherCopy(text)) ||
           (ReadMachineText(HKEY_LOCAL_MACHINE, BelowRoot(kAppPathsKey), nullptr, text) &&
            NamesAnotherCopy(text));
}

} // namespace

void RemoveIntegration()
{
    const HeldRegistryKeys held;
    // Another copy of the archiver, installed or portable, that integrated the
    // machine after or instead of this one keeps its integration, the records
    // that give its extensions back, and the settings it shares in the
    // registry; only this copy's own settings file is emptied.
    if (IntegrationOfAnotherCopy())
    {
        LogLine(L"kept: the integration, its records and the shared settings belong to another "
                L"copy of the archiver that is still there");
        if (IsKeptInSettingsFile(HKEY_CURRENT_USER, kOwnSettingsKey))
            DeleteKeyTree(HKEY_CURRENT_USER, kOwnSettingsKey);
        return;
    }
    // A settings file the user can write, or one copied beside an
    // installation that integrated, does not keep the archiver's
    // registrations on the machine.
    OverrideUserIntegrationSwitch(EntryNamesThisFolder());
    const IntegrationOptions cleared = {};
    AssociateExtensions(cleared);
    // A setup stopped before its last step left ".ace" taken; its record
    // goes with the settings below.
    GiveBackAce();
    UpdateShellExtensions(true, cleared);
    // One notice for the associations given back and the handlers gone, and
    // waited for: the shell lets go of the handlers before their files go.
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    UpdateShortcuts(cleared, nullptr, 0, nullptr);

    SetRegistryView(0);
    for (const wchar_t* key : kClassKeys)
        DeleteKeyTree(HKEY_CLASSES_ROOT, key);
    // ".rev" is the archiver's own extension only while it opens in the
    // archiver; a program that took it since keeps it whole.
    if (IsRevisionOurs())
        DeleteKeyTree(HKEY_CLASSES_ROOT, kRevisionExtension);
    DeleteKeyTree(HKEY_CURRENT_USER, kOwnSettingsKey);
    DeletePreviousOwnerRecords();

    if (RunState.MsiMode)
        return;
    DeleteKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
    // Setup wrote App Paths into both views; where they are kept apart the
    // 64-bit entry would outlive the program it points at.
    if (IsWow64())
    {
        const RegistryViewScope view(true);
        DeleteKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
    }
}

void RemoveUninstallEntry()
{
    if (RunState.MsiMode)
        return;
    // The single entry may be another copy's, which is still there.
    wchar_t program[kPathChars];
    if (ReadMachineText(HKEY_LOCAL_MACHINE, BelowRoot(kUninstallEntryKey), L"UninstallString", program) &&
        NamesAnotherCopy(program))
    {
        LogLine(L"kept: the installed-programs entry names another copy: %s", program);
        return;
    }
    DeleteKey(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
}
