#include "removal/integration_removal.h"

#include <windows.h>

#include <shlobj.h>

#include "common/handles.h"
#include "common/strings.h"
#include "files/path_names.h"
#include "integration/associations.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "integration/shell_extension.h"
#include "integration/shortcuts.h"
#include "platform/platform_probes.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"

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
        !entry.Open(HKEY_LOCAL_MACHINE, kUninstallEntryKey + 1, KEY_QUERY_VALUE))
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

} // namespace

void RemoveIntegration()
{
    const HeldRegistryKeys held;
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
    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    DeletePreviousOwnerRecords();

    if (RunState.MsiMode)
        return;
    DeleteKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
    // Setup wrote App Paths into both views; where they are kept apart the
    // 64-bit entry would outlive the program it points at.
    if (IsWow64())
    {
        SetRegistryView(KEY_WOW64_64KEY);
        DeleteKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
        SetRegistryView(0);
    }
}

void RemoveUninstallEntry()
{
    if (!RunState.MsiMode)
        DeleteKey(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
}
