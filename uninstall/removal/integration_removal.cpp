#include "removal/integration_removal.h"

#include <windows.h>

#include <shlobj.h>

#include "common/strings.h"
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

} // namespace

void RemoveIntegration()
{
    const HeldRegistryKeys held;
    // A settings file the user can write does not keep the archiver's
    // registrations on the machine.
    OverrideUserIntegrationSwitch();
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
