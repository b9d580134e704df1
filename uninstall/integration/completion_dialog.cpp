#include "integration/completion_dialog.h"

#include <shellapi.h>

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "localization/dialog_handler.h"
#include "localization/help.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_state.h"

namespace
{

const wchar_t kSettingsFileName[] = L"velnox.ini";

void OpenLicence()
{
    wchar_t path[kPathChars];
    if (!GetCurrentDir(path))
        path[0] = 0;
    // A licence in the user's language folder wins. Cut, the name would open
    // another file.
    if (AddEndSlash(path) && AppendString(path, L"license.txt") &&
        RedirectToLanguageFolder(path, path, kPathChars))
        ShellExecuteW(nullptr, L"open", path, nullptr, L"", SW_SHOWNORMAL);
}

} // namespace

void CopySetupFiles()
{
    wchar_t source[kPathChars];
    const DWORD length = GetEnvironmentVariableW(L"sfxname", source, kPathChars);
    if (length == 0 || length >= kPathChars)
        return;
    // Cut, the name would copy another file as the settings.
    if (SetName(source, kSettingsFileName) && FileExists(source))
        CopyFileW(source, kSettingsFileName, TRUE);
}

INT_PTR CALLBACK CompletionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HandleDialogMessage(dialog, message, wParam, lParam, L"DONEDLG", nullptr, 0))
        return TRUE;
    switch (message)
    {
    case WM_INITDIALOG:
    {
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(RunState.AppIcon));
        SendDlgItemMessageW(dialog, IDC_DONE_HEADING, WM_SETFONT,
                            reinterpret_cast<WPARAM>(RunState.BoldFont), FALSE);
        wchar_t folder[kPathChars];
        if (!GetCurrentDir(folder))
            folder[0] = 0;
        SetDlgItemTextW(dialog, IDC_DONE_FOLDER, folder);
        if (RunState.Silent)
            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, 1);
            break;
        case IDC_DONE_HELP:
            ShowHelp(nullptr);
            break;
        case IDC_DONE_LICENSE:
            OpenLicence();
            break;
        case IDC_DONE_WEBSITE:
            ShellExecuteW(nullptr, L"open", MessageWebAddress(MSG_WEB_ADDRESS), nullptr, L"",
                          SW_SHOWNORMAL);
            break;
        }
        return TRUE;
    }
    return FALSE;
}
