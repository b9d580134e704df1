// Shows one dialog of uninstall.exe's resources for a picture, filled the
// way the program fills it, through the program's own dialog handler and
// language file: dialog_viewer PROGRAM DIALOGNAME [LANGUAGE_FILE].
#include <windows.h>

#include "localization/dialog_handler.h"
#include "localization/language_file.h"
#include "localization/messages.h"

#include <richedit.h>

#include <string>

namespace
{

HMODULE Resources;
HFONT Bold;
const wchar_t* DialogName = L"";

std::wstring Text(UINT number)
{
    return MessageText(number);
}

INT_PTR CALLBACK ViewProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HandleDialogMessage(dialog, message, wParam, lParam, DialogName, nullptr, 0))
        return TRUE;
    if (message == WM_INITDIALOG)
    {
        HICON icon = LoadIconW(Resources, L"VNXICON");
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        if (GetDlgItem(dialog, 5125) != nullptr && GetDlgItem(dialog, 5126) != nullptr)
        {
            std::wstring info = L"  ";
            for (UINT number = 5120; number <= 5124; number++)
                info += L" " + Text(number);
            info += L"\r\n    " + Text(5125);
            SetDlgItemTextW(dialog, 5125, info.c_str());
            SendDlgItemMessageW(dialog, 5125, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_BTNFACE));
            for (int id : {5101, 5102, 5106, 5108, 5112, 5118, 5119, 5121, 5123})
                CheckDlgButton(dialog, id, BST_CHECKED);
        }
        else if (GetDlgItem(dialog, 118) != nullptr)
        {
            SetDlgItemTextW(dialog, 118, L"*.iso");
            for (int id = 101; id <= 117; id++)
                CheckDlgButton(dialog, id, id == 111 || id == 112 ? BST_UNCHECKED : BST_CHECKED);
        }
        else
        {
            SendDlgItemMessageW(dialog, 5106, WM_SETFONT, reinterpret_cast<WPARAM>(Bold), FALSE);
            SetDlgItemTextW(dialog, 5101, L"C:\\Program Files\\Velnox");
        }
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(dialog, 0);
    return message == WM_COMMAND;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count < 3)
        return 2;
    Resources = LoadLibraryExW(args[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ResourceModule = ProgramModule = Resources;
    DialogName = args[2];
    if (count > 3)
        LanguageFile.Load(args[3]);
    LoadLibraryW(L"riched20.dll");
    HDC screen = GetDC(nullptr);
    int height = -12 * GetDeviceCaps(screen, LOGPIXELSY) / 96;
    ReleaseDC(nullptr, screen);
    Bold =
        CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, L"MS Shell Dlg");
    return static_cast<int>(DialogBoxParamW(Resources, args[2], nullptr, ViewProc, 0));
}
