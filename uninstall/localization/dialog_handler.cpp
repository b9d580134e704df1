#include "localization/dialog_handler.h"

#include "localization/help.h"
#include "localization/language_file.h"

#include <prsht.h>

namespace
{

const UINT kGetTabControl = 1140; // PSM_GETTABCONTROL
const int kApplyButton = 0x3021;  // the property sheet's Apply button

} // namespace

bool HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                         const wchar_t* dialogName, const wchar_t* helpTopic, unsigned flags)
{
    const bool page = (flags & PropertyPage) != 0;
    switch (message)
    {
    case WM_SETFONT:
        // The font comes before WM_INITDIALOG: the dialog is mirrored first.
        if (page && LanguageFile.RightToLeft)
        {
            HWND sheet = GetParent(dialog);
            HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheet, kGetTabControl, 0, 0));
            MirrorWindow(sheet);
            if (sheet != nullptr && tabs != nullptr)
            {
                MirrorWindow(tabs);
                InvalidateRect(tabs, nullptr, TRUE);
            }
        }
        MirrorWindow(dialog);
        return false;
    case WM_NOTIFY:
        if (page && helpTopic != nullptr &&
            reinterpret_cast<const NMHDR*>(lParam)->code == static_cast<UINT>(PSN_HELP))
            ShowHelp(helpTopic);
        return false;
    case WM_HELP:
        if (helpTopic != nullptr)
            ShowHelp(helpTopic);
        return true;
    case WM_INITDIALOG:
        LocalizeDialog(dialog, dialogName, page);
        if (page)
        {
            HWND apply = GetDlgItem(GetParent(dialog), kApplyButton);
            if (apply != nullptr && (flags & ClearApplyText) != 0)
                SetWindowTextW(apply, L"");
        }
        return false;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDHELP && helpTopic != nullptr)
            ShowHelp(helpTopic);
        return false;
    }
    return false;
}
