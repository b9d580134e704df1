// Shows one dialog of uninstall.exe's resources for a picture, through the
// program's own dialog procedures: the settings dialog and the context-menu
// items hold what the settings give on a machine that never ran setup, the
// completion dialog what a first installation says. Nothing is accepted:
// the picture is taken while the dialog waits.
//   dialog_viewer PROGRAM DIALOGNAME READY_FILE [LANGUAGE_FILE]
// READY_FILE is written empty once the dialog is shown and painted, for the
// script that takes the picture, or with the reason when it cannot be shown.
#include <windows.h>

#include "integration/completion_dialog.h"
#include "integration/context_items_dialog.h"
#include "integration/settings_dialog.h"
#include "localization/language_file.h"
#include "localization/language_module.h"
#include "platform/platform_probes.h"
#include "run/run_state.h"

#include <cstring>
#include <cwchar>

namespace
{

const UINT_PTR kShownTimer = 1;
// The window system draws a frame after the dialog is shown: one more tick
// lets Wine hand the painted surface to the display before the mark.
const UINT kShownTicks = 2;
const UINT kTickMilliseconds = 250;

DLGPROC Procedure = nullptr;
const wchar_t* ReadyFile = L"";
UINT Ticks = 0;

void MarkReady(const char* failure = "")
{
    HANDLE file = CreateFileW(ReadyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, failure, static_cast<DWORD>(std::strlen(failure)), &written, nullptr);
    CloseHandle(file);
}

INT_PTR CALLBACK ViewProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SetTimer(dialog, kShownTimer, kTickMilliseconds, nullptr);
    if (message == WM_TIMER && wParam == kShownTimer)
    {
        if (IsWindowVisible(dialog))
        {
            RedrawWindow(dialog, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
            if (++Ticks >= kShownTicks)
            {
                KillTimer(dialog, kShownTimer);
                GdiFlush();
                MarkReady();
            }
        }
        return TRUE;
    }
    // The picture never accepts anything: OK would store the choices.
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK)
    {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return Procedure(dialog, message, wParam, lParam);
}

int Fail(const char* text)
{
    MarkReady(text);
    return 2;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr || count < 4)
        return 2; // usage: dialog_viewer PROGRAM DIALOGNAME READY_FILE [LANGUAGE_FILE]
    const wchar_t* name = args[2];
    ReadyFile = args[3];
    LPARAM parameter = 0;
    CompletionFacts facts;
    facts.Folder = L"C:\\Program Files\\Velnox";
    if (std::wcscmp(name, L"SETUPDLG") == 0)
        Procedure = IntegrationSettingsDialog;
    else if (std::wcscmp(name, L"SETUPCONTEXTITEMS") == 0)
        Procedure = ContextItemsDialog;
    else if (std::wcscmp(name, L"DONEDLG") == 0)
    {
        // A first installation with the first run's choices: the program
        // group on, an archive type chosen.
        Procedure = CompletionDialog;
        parameter = reinterpret_cast<LPARAM>(&facts);
    }
    else
        return Fail("the dialog is SETUPDLG, SETUPCONTEXTITEMS or DONEDLG");

    HMODULE resources = LoadLibraryExW(args[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (resources == nullptr)
        return Fail("cannot load the program's resources");
    ResourceModule = ProgramModule = resources;
    if (count > 4 && !LanguageFile.Load(args[4]))
        return Fail("cannot read the language file");
    // What the setup road prepares for its dialogs.
    LoadLibraryW(L"riched20.dll");
    RunState.AppIcon = LoadIconW(resources, L"VNXICON");
    RunState.BoldFont = CreateFontW(ScaleForDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0,
                                    0, 0, 0, L"MS Shell Dlg");
    const INT_PTR result = DialogBoxParamW(resources, name, nullptr, ViewProc, parameter);
    return result == -1 ? Fail("the dialog cannot be made") : 0;
}
