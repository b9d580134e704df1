#include "integration/setup_road.h"

#include <windows.h>

#include <shellapi.h>

#include "files/file_system.h"
#include "integration/completion_dialog.h"
#include "integration/settings_dialog.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_state.h"

namespace
{

void OpenProgramGroup()
{
    if (RunState.ProgramGroupPath[0] == 0 || RunState.Silent || RunState.MsiMode ||
        RunState.NoExplorer)
        return;
    if (FileExists(RunState.ProgramGroupPath))
        ShellExecuteW(nullptr, L"open", RunState.ProgramGroupPath, nullptr, L"", SW_SHOWNORMAL);
}

} // namespace

void RunSetup()
{
    const INT_PTR result = DialogBoxParamW(DialogModule(L"SETUPDLG"), L"SETUPDLG", nullptr,
                                           IntegrationSettingsDialog, 0);
    if (result == 0)
        return;
    // A dialog that could not be shown did not confirm anything.
    if (result == -1)
    {
        RunState.ExitCode = 1;
        return;
    }
    CopySetupFiles();
    if (!RunState.MsiMode)
    {
        DialogBoxParamW(DialogModule(L"DONEDLG"), L"DONEDLG", nullptr, CompletionDialog, 0);
        if (IsWow64() && !RunState.Silent && !IsNativeIa64())
            ShowMessageBox(nullptr, MessageText(MSG_WOW64_INFO), MessageText(MSG_WOW64_CAPTION),
                           MB_ICONINFORMATION);
    }
    OpenProgramGroup();
}
