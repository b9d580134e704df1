#include "removal/integration_removal.h"

#include <windows.h>

#include <shlobj.h>

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/apply_integration.h"
#include "integration/associations.h"
#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "integration/other_copies.h"
#include "integration/owner_records.h"
#include "integration/shell_extension.h"
#include "integration/shortcuts.h"
#include "integration/uninstall_entry.h"
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
    wchar_t location[kPathChars];
    if (length == 0 || length >= kPathChars ||
        !ReadMachineText(HKEY_LOCAL_MACHINE, BelowRoot(kUninstallEntryKey), L"InstallLocation",
                         location))
        return false;
    *PointToName(folder) = 0;
    return CompareNoCase(location, folder) == 0;
}

// The settings of a copy that leaves the integration to another. A file
// beside this program is its own and is emptied. The registry, or the user's
// folder's file, is shared, unless the other copy keeps a file of its own
// beside it: then this copy's machine values go, and its settings too when
// every record has its machine copy, which still gives the extensions back.
void LeaveSettingsToOtherCopy(const wchar_t* otherFolder)
{
    wchar_t otherFile[kPathChars];
    if (IsKeptInSettingsFile(HKEY_CURRENT_USER, kOwnSettingsKey) && !Portable.InUserFolder)
    {
        DeleteKeyTree(HKEY_CURRENT_USER, kOwnSettingsKey);
        return;
    }
    if (!JoinPath(otherFolder, L"Velnox.ini", otherFile) || !FileExists(otherFile))
        return;
    if (!IsKeptInSettingsFile(HKEY_LOCAL_MACHINE, kOwnSettingsKey))
    {
        DeleteValue(HKEY_LOCAL_MACHINE, kOwnSettingsKey, L"exe32");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Capabilities");
    }
    if (EveryRecordOnMachine())
        DeleteKeyTree(HKEY_CURRENT_USER, kOwnSettingsKey);
}

// The integration goes back to the copy whose integration this one's setup
// replaced: the same choices, written for that copy's programs, and the
// records stay for its own removal.
void HandIntegrationBack(const wchar_t* program)
{
    LogLine(L"handed back: the integration goes back to the copy of %s", program);
    IntegrationOptions options;
    LoadIntegrationOptions(options);
    wchar_t group[kPathChars];
    if (!ApplyIntegration(options, group, kPathChars, program))
        LogLine(L"part of the integration could not be written for that copy");
    if (!RunState.MsiMode)
        WriteUninstallEntry(program);
    wchar_t folder[kPathChars];
    if (CopyString(folder, program))
    {
        RemoveNameFromPath(folder);
        LeaveSettingsToOtherCopy(folder);
    }
    // Last: a run stopped before this hands the integration back again.
    ForgetReplacedCopy();
}

} // namespace

void RemoveIntegration()
{
    const HeldRegistryKeys held;
    // Another copy of the archiver, installed or portable, that integrated the
    // machine after or instead of this one keeps its integration, the records
    // that give its extensions back, and the settings it shares in the
    // registry; only this copy's own settings file is emptied.
    wchar_t other[kPathChars];
    wchar_t replaced[kPathChars];
    wchar_t replacedFolder[kPathChars];
    const bool handBack = ReplacedCopyProgram(replaced) && CopyString(replacedFolder, replaced);
    if (handBack)
        RemoveNameFromPath(replacedFolder);
    if (IntegrationOfAnotherCopy(other) && !(handBack && SameFolder(other, replacedFolder)))
    {
        LogLine(L"kept: the integration, its records and the shared settings belong to another "
                L"copy of the archiver that is still there");
        LeaveSettingsToOtherCopy(other);
        return;
    }
    // This installation's setup replaced the integration of a copy that is
    // still there (or began to hand it back): that copy gets it again.
    if (handBack)
    {
        HandIntegrationBack(replaced);
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
    if (EntryOfAnotherCopy())
    {
        LogLine(L"kept: the installed-programs entry runs the removal of another copy");
        return;
    }
    DeleteKey(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
}
