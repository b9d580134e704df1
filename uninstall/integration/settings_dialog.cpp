#include "integration/settings_dialog.h"

#include <richedit.h>

#include "common/strings.h"
#include "integration/apply_integration.h"
#include "integration/context_items_dialog.h"
#include "integration/integration_options.h"
#include "localization/dialog_handler.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "run/run_log.h"
#include "run/run_state.h"

namespace
{

// Check box of each association row: rows 4, 13 and 14 sit out of order.
const int kAssociationControls[kAssociationRows] = {
    IDC_ASSOC_VNX, IDC_ASSOC_ZIP, IDC_ASSOC_CAB, IDC_ASSOC_ARJ,  IDC_ASSOC_LZ,  IDC_ASSOC_LZH,
    IDC_ASSOC_7Z,  IDC_ASSOC_TAR, IDC_ASSOC_GZ,  IDC_ASSOC_UUE,  IDC_ASSOC_BZ2, IDC_ASSOC_JAR,
    IDC_ASSOC_ISO, IDC_ASSOC_Z,   IDC_ASSOC_XZ,  IDC_ASSOC_ZIPX, IDC_ASSOC_001};

const size_t kInfoTextChars = 4096;

struct FlagControl
{
    int Control;
    bool IntegrationOptions::*Flag;
};

const FlagControl kFlagControls[] = {
    {IDC_LINK_DESKTOP, &IntegrationOptions::Desktop},
    {IDC_LINK_STARTMENU, &IntegrationOptions::StartMenu},
    {IDC_LINK_PROGRAMS, &IntegrationOptions::Programs},
    {IDC_SHELL_EXT, &IntegrationOptions::ShellExt},
    {IDC_CASCADED_MENU, &IntegrationOptions::CascadedMenu},
    {IDC_MENU_ICONS, &IntegrationOptions::MenuIcons},
};

struct InitCode
{
    wchar_t Letter;
    bool IntegrationOptions::*Flag;
};

const InitCode kInitCodes[] = {
    {L'C', &IntegrationOptions::CascadedMenu}, {L'D', &IntegrationOptions::Desktop},
    {L'I', &IntegrationOptions::MenuIcons},    {L'M', &IntegrationOptions::StartMenu},
    {L'P', &IntegrationOptions::Programs},     {L'S', &IntegrationOptions::ShellExt},
};

wchar_t UpperCase(wchar_t c)
{
    return static_cast<wchar_t>(
        reinterpret_cast<UINT_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(c)))));
}

void ShowInformation(HWND dialog)
{
    static const uint32_t kParts[] = {MSG_SETUP_INFO1, MSG_SETUP_INFO2, MSG_SETUP_INFO3,
                                      MSG_SETUP_INFO4, MSG_SETUP_INFO5};
    // One paragraph of the five pieces and the last line under it; the
    // text starts at the control's edge like every other text of the dialog.
    wchar_t text[kInfoTextChars];
    text[0] = 0;
    for (uint32_t part : kParts)
    {
        if (text[0] != 0)
            AppendStringCut(text, L" ");
        AppendStringCut(text, MessageText(part));
    }
    AppendStringCut(text, L"\r\n");
    AppendStringCut(text, MessageText(MSG_SETUP_INFO_LAST));
    SetDlgItemTextW(dialog, IDC_SETUP_INFO, text);
}

void InitDialog(HWND dialog)
{
    ShowInformation(dialog);
    IntegrationOptions options = {};
    LoadIntegrationOptions(options);
    ApplyInitString(RunState.InitOptions, options);
    ShowOptionsInDialog(dialog, options);
    SetForegroundWindow(dialog);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(RunState.AppIcon));
    // The text lies on the dialog's face colour.
    SendDlgItemMessageW(dialog, IDC_SETUP_INFO, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_BTNFACE));
    FocusDefaultButton(dialog);
    if (RunState.Silent)
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
}

void AcceptDialog(HWND dialog)
{
    IntegrationOptions options = {};
    ReadOptionsFromDialog(dialog, options);
    AcceptIntegrationChoice(options);
    auto* accepted = reinterpret_cast<IntegrationOptions*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (accepted != nullptr)
        *accepted = options;
    EndDialog(dialog, 1);
}

} // namespace

void ApplyInitString(const wchar_t* text, IntegrationOptions& options)
{
    const wchar_t* p = text;
    while (p[0] != 0 && p[1] != 0)
    {
        const wchar_t letter = UpperCase(p[0]);
        if (letter == L'A')
        {
            ++p;
            for (size_t flag = 0; flag < kAssociateFlags && *p >= L'0' && *p <= L'9'; ++flag, ++p)
                options.Associate[flag] = *p == L'1';
            continue;
        }
        for (const InitCode& code : kInitCodes)
            if (code.Letter == letter)
                options.*code.Flag = p[1] == L'1';
        p += 2;
    }
}

void ShowOptionsInDialog(HWND dialog, const IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; ++row)
        CheckDlgButton(dialog, kAssociationControls[row],
                       options.Associate[row] ? BST_CHECKED : BST_UNCHECKED);
    for (const FlagControl& item : kFlagControls)
        CheckDlgButton(dialog, item.Control, options.*item.Flag ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_CASCADED_MENU), options.ShellExt);
    EnableWindow(GetDlgItem(dialog, IDC_MENU_ICONS), options.ShellExt);
}

void ReadOptionsFromDialog(HWND dialog, IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; ++row)
        options.Associate[row] = IsDlgButtonChecked(dialog, kAssociationControls[row]) != 0;
    for (const FlagControl& item : kFlagControls)
        options.*item.Flag = IsDlgButtonChecked(dialog, item.Control) != 0;
}

void ToggleAllAssociations(HWND dialog)
{
    UINT state = BST_UNCHECKED;
    for (int id = IDC_ASSOC_VNX; id <= IDC_ASSOC_001; ++id)
        if (GetDlgItem(dialog, id) != nullptr && IsDlgButtonChecked(dialog, id) == BST_UNCHECKED)
        {
            state = BST_CHECKED;
            break;
        }
    for (int id = IDC_ASSOC_VNX; id <= IDC_ASSOC_001; ++id)
        CheckDlgButton(dialog, id, state);
}

INT_PTR CALLBACK IntegrationSettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HandleDialogMessage(dialog, message, wParam, lParam, L"SETUPDLG",
                            L"HELPIntegrationSettings", 0))
        return TRUE;
    switch (message)
    {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        InitDialog(dialog);
        return FALSE; // the focus is set
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDOK:
            AcceptDialog(dialog);
            break;
        case IDCANCEL:
            RunState.Outcome.Cancelled = true;
            LogLine(L"the settings dialog was cancelled: nothing written");
            EndDialog(dialog, 0);
            break;
        case IDC_SHELL_EXT:
        {
            IntegrationOptions options = {};
            ReadOptionsFromDialog(dialog, options);
            ShowOptionsInDialog(dialog, options);
            break;
        }
        case IDC_SELECT_ALL:
            ToggleAllAssociations(dialog);
            break;
        case IDC_CONTEXT_ITEMS:
            DialogBoxParamW(DialogModule(L"SETUPCONTEXTITEMS"), L"SETUPCONTEXTITEMS", dialog,
                            ContextItemsDialog, 0);
            break;
        }
        return TRUE;
    }
    return FALSE;
}
