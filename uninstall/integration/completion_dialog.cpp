#include "integration/completion_dialog.h"

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "localization/dialog_handler.h"
#include "localization/help.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "platform/desktop_launch.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_state.h"

namespace
{

const wchar_t kSettingsFileName[] = L"velnox.ini";

// The folder the dialog names, for its licence button.
wchar_t InstallFolder[kPathChars];

void OpenLicence()
{
    wchar_t path[kPathChars];
    // A licence in the user's language folder wins, but never in an
    // elevated run, where the user could make it anything. Cut, the name
    // would open another file.
    if (InstallFolder[0] != 0 && CopyString(path, InstallFolder) && AddEndSlash(path) &&
        AppendString(path, L"license.txt") &&
        (RunsElevated() || RedirectToLanguageFolder(path, path, kPathChars)))
        OpenForUser(path);
}

// The help goes through the desktop's shell like the licence: shown in its
// own process, it stays open when setup ends right after this dialog.
void OpenHelpFile()
{
    wchar_t path[kPathChars];
    if (GetHelpFileName(path))
        OpenForUser(path);
}

} // namespace

UINT CompletionHeading(const CompletionFacts& facts)
{
    return facts.ChoicesOnly ? MSG_DONE_CHANGED : MSG_DONE_INSTALLED;
}

UINT CompletionText(const CompletionFacts& facts)
{
    if (facts.Explorer)
        return facts.StartMenu ? MSG_DONE_EXPLORER_MENU : MSG_DONE_EXPLORER;
    return facts.StartMenu ? MSG_DONE_MENU : MSG_DONE_FOLDER;
}

bool GetProgramFolder(wchar_t (&folder)[kPathChars])
{
    const DWORD length = GetModuleFileNameW(nullptr, folder, kPathChars);
    if (length == 0 || length >= kPathChars)
    {
        folder[0] = 0;
        return false;
    }
    RemoveNameFromPath(folder);
    return true;
}

bool CopySetupFiles(const wchar_t* folder)
{
    wchar_t source[kPathChars];
    const DWORD length = GetEnvironmentVariableW(L"sfxname", source, kPathChars);
    if (length == 0 || length >= kPathChars)
        return false;
    // Cut, either name would copy another file as the settings, or to
    // another place.
    wchar_t target[kPathChars];
    return folder != nullptr && *folder != 0 && SetName(source, kSettingsFileName) &&
           JoinPath(folder, kSettingsFileName, target) && FileExists(source) &&
           CopyFileW(source, target, TRUE);
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
        const CompletionFacts given =
            lParam != 0 ? *reinterpret_cast<const CompletionFacts*>(lParam) : CompletionFacts();
        if (given.Folder == nullptr)
            GetProgramFolder(InstallFolder);
        else if (!CopyString(InstallFolder, given.Folder))
            InstallFolder[0] = 0;
        SetDlgItemTextW(dialog, IDC_DONE_FOLDER, InstallFolder);
        // A path reads left to right in every language.
        KeepLeftToRight(GetDlgItem(dialog, IDC_DONE_FOLDER));
        SetDlgItemTextW(dialog, IDC_DONE_HEADING, MessageText(CompletionHeading(given)));
        SetDlgItemTextW(dialog, IDC_DONE_TEXT, MessageText(CompletionText(given)));
        // Enter closes the dialog; the help is one Tab away.
        FocusDefaultButton(dialog);
        if (RunState.Silent)
            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, 1);
            break;
        case IDC_DONE_HELP:
            OpenHelpFile();
            break;
        case IDC_DONE_LICENSE:
            OpenLicence();
            break;
        case IDC_DONE_WEBSITE:
            OpenForUser(MessageWebAddress(MSG_WEB_ADDRESS));
            break;
        }
        return TRUE;
    }
    return FALSE;
}
