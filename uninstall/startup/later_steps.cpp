#include "startup/later_steps.h"

#include "localization/language_file.h"
#include "localization/messages.h"
#include "startup/run_state.h"

namespace
{

// Until the settings dialog keeps its own procedure, it can be shown and
// answered: OK goes on, Cancel ends setup with exit code 1. Nothing is
// stored or applied.
INT_PTR CALLBACK PlainSettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(RunState.AppIcon));
        if (RunState.Silent)
            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            EndDialog(dialog, 1);
        else if (LOWORD(wParam) == IDCANCEL)
        {
            RunState.ExitCode = 1;
            EndDialog(dialog, 0);
        }
        return TRUE;
    }
    return FALSE;
}

// Until the completion dialog keeps its own procedure it only closes.
INT_PTR CALLBACK PlainCompletionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message)
    {
    case WM_INITDIALOG:
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(RunState.AppIcon));
        if (RunState.Silent)
            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void LoadLanguageFile()
{
    LanguageFile.Load(L"uninstall.lng");
}

INT_PTR RunIntegrationSettings()
{
    return DialogBoxParamW(ResourceModule, L"SETUPDLG", nullptr, PlainSettingsDialog, 0);
}

void CopySetupFiles() {}

void RunCompletionDialog()
{
    DialogBoxParamW(ResourceModule, L"DONEDLG", nullptr, PlainCompletionDialog, 0);
}

