#include "integration/setup_road.h"

#include <windows.h>

#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/completion_dialog.h"
#include "integration/integration_options.h"
#include "integration/settings_dialog.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "platform/desktop_launch.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"
#include "settings/registry_paths.h"
#include "settings/settings_store.h"

namespace
{

void OpenProgramGroup()
{
    if (RunState.ProgramGroupPath[0] == 0 || RunState.Silent || RunState.MsiMode ||
        RunState.NoExplorer)
        return;
    if (FileExists(RunState.ProgramGroupPath))
        OpenForUser(RunState.ProgramGroupPath);
}

// A settings file from beside the installer must be in place before the
// first setting is read, so that the whole run, and every later one, keeps
// its settings and the saved previous owners in the same store. True when
// this run copied it.
bool CopySettingsFileFirst(const wchar_t* programFolder)
{
    if (!CopySetupFiles(programFolder))
        return false;
    // Looked for before the copy: the store looks again at its next request.
    if (Portable.Attempted)
        FreePortableSettings();
    return true;
}

// Cancelled, the installation is not set up: the settings file this run
// copied would make the archiver run portable. Its image is dropped unwritten;
// a file that was there before the run is never this one (the copy never
// replaces a file).
void RemoveCopiedSettingsFile(const wchar_t* programFolder)
{
    FreePortableSettings();
    wchar_t path[kPathChars];
    if (JoinPath(programFolder, L"velnox.ini", path))
        DelFileInside(path);
}

// A run by hand over an installation that already has its entry only
// changes choices; the installer names its archive in "sfxname", also when
// it installs over an earlier version.
bool ChangesChoicesOnly()
{
    wchar_t archive[4];
    return GetEnvironmentVariableW(L"sfxname", archive, ARRAYSIZE(archive)) == 0 &&
           KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
}

bool AnyExplorerChoice(const IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; row++)
        if (options.Associate[row])
            return true;
    return options.ShellExt;
}

} // namespace

void RunSetup()
{
    wchar_t programFolder[kPathChars];
    GetProgramFolder(programFolder);
    const bool copied = CopySettingsFileFirst(programFolder);
    CompletionFacts facts;
    facts.Folder = programFolder;
    facts.ChoicesOnly = ChangesChoicesOnly();
    IntegrationOptions chosen = {};
    const INT_PTR result =
        DialogBoxParamW(DialogModule(L"SETUPDLG"), L"SETUPDLG", nullptr, IntegrationSettingsDialog,
                        reinterpret_cast<LPARAM>(&chosen));
    if (result == 0 || result == -1)
    {
        // A dialog that could not be shown did not confirm anything.
        if (result == -1)
            RunState.Outcome.Cancelled = true;
        if (copied)
            RemoveCopiedSettingsFile(programFolder);
        return;
    }
    if (!RunState.MsiMode)
    {
        facts.StartMenu = chosen.StartMenu || chosen.Programs;
        facts.Explorer = AnyExplorerChoice(chosen);
        DialogBoxParamW(DialogModule(L"DONEDLG"), L"DONEDLG", nullptr, CompletionDialog,
                        reinterpret_cast<LPARAM>(&facts));
        if (IsWow64() && !RunState.Silent && !IsNativeIa64())
            ShowMessageBox(nullptr, MessageText(MSG_WOW64_INFO), MessageText(MSG_SETUP_CAPTION),
                           MB_ICONINFORMATION);
    }
    OpenProgramGroup();
}
