#include "startup/program_run.h"

#include <ole2.h>

#include "common/handles.h"
#include "common/strings.h"
#include "integration/setup_road.h"
#include "localization/language_file.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "platform/visual_styles.h"
#include "removal/uninstall_procedure.h"
#include "resources/resource.h"
#include "run/run_log.h"
#include "run/run_state.h"
#include "startup/command_line.h"
#include "startup/run_guard.h"

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

// What a road's dialogs need: started only for a road, since a run with
// options alone ("wait", "warning") shows a message box at most.
struct RoadSupport
{
    VisualStyles Styles; // last to go, after every window of the road
    bool OleStarted = false; // only a successful start is balanced at the end
    LoadedLibrary RichEdit;

    void Start(bool forSetup)
    {
        // A silent road's dialogs are never drawn: they need no styles.
        if (!RunState.Silent)
            Styles.Activate(ProgramModule);
        OleStarted = SUCCEEDED(OleInitialize(nullptr));
        if (!forSetup)
            return;
        // The settings dialog holds a rich edit control.
        RichEdit.Reset(LoadSystemDll(L"riched20.dll"));
        RunState.AppIcon = LoadAppIcon();
        RunState.BoldFont = CreateFontW(ScaleForDpi(kBoldFontHeight), 0, 0, 0, FW_BOLD, FALSE,
                                        FALSE, FALSE, 0, 0, 0, 0, 0, L"MS Shell Dlg");
    }

    ~RoadSupport()
    {
        // Rich edit goes before OLE, as it came after it.
        RichEdit.Close();
        if (OleStarted)
            OleUninitialize();
        if (RunState.BoldFont != nullptr)
            DeleteObject(RunState.BoldFont);
    }
};

// The account the run acts as, "DOMAIN\\name"; "?" when it cannot be told.
void AccountName(wchar_t (&account)[512])
{
    CopyStringCut(account, L"?");
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return;
    const KernelHandle held(token);
    BYTE buffer[512];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size))
        return;
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameChars = ARRAYSIZE(name);
    DWORD domainChars = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name,
                          &nameChars, domain, &domainChars, &use))
        FormatInto(account, L"%s\\%s", domain, name);
}

// What a support engineer needs first: which program, how it was started,
// as whom, and which road it takes.
void LogStart(bool setupRequested, bool uninstallRequested)
{
    if (RunState.LogPath[0] == 0 || !OpenRunLog(RunState.LogPath))
        return;
    wchar_t account[512];
    AccountName(account);
    LogLine(L"Velnox uninstall %d.%d build %d", VNX_VERSION_MAJOR, VNX_VERSION_MINOR,
            VNX_VERSION_BUILD);
    LogLine(L"command line: %s", GetCommandLineW());
    LogLine(L"account: %s, elevated: %s", account, RunsElevated() ? L"yes" : L"no");
    const wchar_t* mode = setupRequested       ? L"setup"
                          : uninstallRequested ? L"uninstall"
                          : RunState.Outcome.BadOption ? L"none: an option is unknown"
                          : RunState.UsageRequested    ? L"none: the options are shown"
                                                       : L"none: options only";
    LogLine(L"mode: %s%s%s", mode, RunState.Silent ? L", silent" : L"",
            RunState.MsiMode ? L", installer package" : L"");
}

int LogEnd()
{
    const int code = ExitCodeOf(RunState.Outcome);
    LogLine(L"exit code %d: %s", code, ExitCodeMeaning(code));
    CloseRunLog();
    return code;
}

} // namespace

int RunProgram(HINSTANCE instance)
{
    HardenDllSearch(true);
    LanguageModule.Open(instance);
    LanguageFile.Load(L"uninstall.lng");

    bool setupRequested = false;
    bool uninstallRequested = false;
    wchar_t sfxCommand[kTokenChars] = L"";
    DWORD length = GetEnvironmentVariableW(L"sfxcmd", sfxCommand, kTokenChars);
    // A value too long for the buffer is not read at all.
    if (length >= kTokenChars)
        sfxCommand[0] = 0;
    ParseOptions(OptionSource::SfxCommand, sfxCommand, setupRequested, uninstallRequested);
    ParseOptions(OptionSource::CommandLine, GetCommandLineW(), setupRequested, uninstallRequested);

    LogStart(setupRequested, uninstallRequested);
    // A command line the program does not fully know does nothing: a
    // caller that meant another program's options learns it from the code.
    if (RunState.Outcome.BadOption || RunState.UsageRequested)
    {
        setupRequested = uninstallRequested = false;
        if (!RunState.Silent)
            ShowUsage();
    }
    // The runs the batch file starts ("wait", "warning") take no guard: the
    // uninstall that wrote it may still hold it.
    RunGuard guard;
    if ((setupRequested || uninstallRequested) && !guard.Acquire(kGuardWaitMilliseconds))
    {
        RunState.Outcome.Busy = true;
        LogLine(L"another setup or uninstall kept the guard for %u seconds",
                unsigned(kGuardWaitMilliseconds / 1000));
        if (!RunState.Silent)
            ShowMessageBox(nullptr, MessageText(MSG_ANOTHER_RUN),
                           MessageText(setupRequested ? MSG_SETUP_CAPTION : MSG_UNINSTALL_CAPTION),
                           MB_ICONERROR | MB_SETFOREGROUND);
        setupRequested = uninstallRequested = false;
    }
    {
        RoadSupport support;
        if (setupRequested || uninstallRequested)
            support.Start(setupRequested);
        if (setupRequested)
            RunSetup();
        if (uninstallRequested)
            RunUninstall();
    }
    LanguageModule.Release();
    return LogEnd();
}
