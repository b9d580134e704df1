#include "startup/program_run.h"

#include <ole2.h>
#include <shellapi.h>

#include "files/file_system.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "startup/later_steps.h"
#include "startup/platform_probes.h"
#include "startup/run_state.h"

namespace
{

const int kBoldFontHeight = -12;

HICON LoadAppIcon()
{
    HICON icon = LoadIconW(ResourceModule, L"VNXICON");
    // A language module need not carry the icon.
    if (icon == nullptr && ResourceModule != ProgramModule)
        icon = LoadIconW(ProgramModule, L"VNXICON");
    return icon;
}

void OpenProgramGroup()
{
    if (RunState.ProgramGroupPath[0] == 0 || RunState.Silent || RunState.MsiMode ||
        RunState.NoExplorer)
        return;
    if (FileExists(RunState.ProgramGroupPath))
        ShellExecuteW(nullptr, L"open", RunState.ProgramGroupPath, nullptr, L"", SW_SHOWNORMAL);
}

} // namespace

void RunSetupRoad()
{
    INT_PTR result = RunIntegrationSettings();
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
        RunCompletionDialog();
        if (IsWow64() && !RunState.Silent && !IsNativeIa64())
            ShowMessageBox(nullptr, MessageText(MSG_WOW64_INFO), MessageText(MSG_WOW64_CAPTION),
                           MB_ICONINFORMATION);
    }
    OpenProgramGroup();
}

int RunProgram(HINSTANCE instance)
{
    HardenDllSearch(true);
    LanguageModule.Open(instance);
    LoadLanguageFile();
    // Only a successful start is balanced at the end.
    const bool oleStarted = SUCCEEDED(OleInitialize(nullptr));
    // The settings dialog holds a rich edit control.
    HMODULE richEdit = LoadSystemDll(L"riched20.dll");
    RunState.AppIcon = LoadAppIcon();
    RunState.BoldFont = CreateFontW(ScaleForDpi(kBoldFontHeight), 0, 0, 0, FW_BOLD, FALSE, FALSE,
                                    FALSE, 0, 0, 0, 0, 0, L"MS Shell Dlg");

    bool setupRequested = false;
    bool uninstallRequested = false;
    wchar_t sfxCommand[kTokenChars] = L"";
    DWORD length = GetEnvironmentVariableW(L"sfxcmd", sfxCommand, kTokenChars);
    // A value too long for the buffer is not read at all.
    if (length >= kTokenChars)
        sfxCommand[0] = 0;
    ParseOptions(OptionSource::SfxCommand, sfxCommand, setupRequested, uninstallRequested);
    ParseOptions(OptionSource::CommandLine, GetCommandLineW(), setupRequested, uninstallRequested);

    if (setupRequested)
        RunSetupRoad();
    if (uninstallRequested)
        RunUninstall();

    if (richEdit != nullptr)
        FreeLibrary(richEdit);
    if (oleStarted)
        OleUninitialize();
    if (RunState.BoldFont != nullptr)
        DeleteObject(RunState.BoldFont);
    LanguageModule.Release();
    return RunState.ExitCode;
}
