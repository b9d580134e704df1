#include "integration/apply_integration.h"

#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/associations.h"
#include "integration/integration_options.h"
#include "integration/other_copies.h"
#include "integration/shell_extension.h"
#include "integration/shortcuts.h"
#include "integration/uninstall_entry.h"
#include "platform/platform_probes.h"
#include "run/run_log.h"
#include "run/run_state.h"
#include "settings/settings_store.h"

bool ApplyIntegration(const IntegrationOptions& options, wchar_t* groupPath,
                      size_t groupPathCapacity, const wchar_t* programPath)
{
    // Refused here means no rights to the machine's settings: writing the
    // rest would leave a half integration behind.
    if (!RegisterAppPath(programPath))
        return false;
    UpdateShellExtensions(false, options, programPath);
    // An owner that could not be kept has its extension still: the run goes
    // on, and says at the end that the choice was not applied whole.
    const bool associated = AssociateExtensions(options, programPath);
    const bool classesWritten = RegisterProgIds(programPath);
    // The handlers are written even when the classes are refused.
    NotifyAssociationChange();
    if (!classesWritten)
        return false;

    wchar_t iconFile[kPathChars];
    GetUserString(L"Interface\\Themes", L"ShellExtIcon", iconFile, L"");
    // The shortcuts may be every user's: the user's own choice of icon goes
    // there only from a drive of this machine.
    const bool haveIcon = iconFile[0] != 0 && (!RunsElevated() || IsLocalFilePath(iconFile)) &&
                          FileExists(iconFile);
    if (programPath)
        UpdateShortcutsFor(programPath, options, groupPath, groupPathCapacity,
                           haveIcon ? iconFile : nullptr);
    else
        UpdateShortcuts(options, groupPath, groupPathCapacity, haveIcon ? iconFile : nullptr);
    return associated;
}

void AcceptIntegrationChoice(const IntegrationOptions& options)
{
    const HeldRegistryKeys held;
    // Before anything is written: the copy whose integration this replaces
    // gets it back when this installation goes.
    RememberReplacedCopy();
    StoreIntegrationOptions(options);
    // The run goes on to the entry, which lets what was written be removed,
    // but its caller learns that part of the choice is missing.
    if (!ApplyIntegration(options, RunState.ProgramGroupPath, kPathChars))
    {
        RunState.Outcome.SetupPartial = true;
        LogLine(L"part of the chosen integration could not be written");
    }
    if (!RunState.MsiMode)
        WriteUninstallEntry();
    GiveBackAce();
}
