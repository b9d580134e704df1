#include "integration/context_items_dialog.h"

#include "localization/dialog_handler.h"
#include "resources/resource.h"
#include "settings/portable_settings.h"
#include "settings/settings_store.h"

const wchar_t kMenuItemsKey[] = L"Setup\\MenuItems";
const wchar_t kAlwaysArcValue[] = L"AlwaysArc";
const wchar_t kAlwaysArcDefault[] = L"*.iso";

const ContextItem ContextItemTable[kContextItems] = {
    {L"ExtrTo", IDC_ITEM_EXTRTO, 1},     {L"ExtrHere", IDC_ITEM_EXTRHERE, 1},
    {L"Extr", IDC_ITEM_EXTR, 1},         {L"ExtrSep", IDC_ITEM_EXTRSEP, 1},
    {L"OpenSFX", IDC_ITEM_OPENSFX, 1},   {L"OpenArc", IDC_ITEM_OPENARC, 1},
    {L"AddTo", IDC_ITEM_ADDTO, 1},       {L"AddArc", IDC_ITEM_ADDARC, 1},
    {L"EmailArc", IDC_ITEM_EMAILARC, 1}, {L"EmailOpt", IDC_ITEM_EMAILOPT, 1},
    {L"Test", IDC_ITEM_TEST, 0},         {L"Convert", IDC_ITEM_CONVERT, 0},
    {L"SFXLocal", IDC_ITEM_SFXLOCAL, 1}, {L"SFXNetwork", IDC_ITEM_SFXNETWORK, 1},
    {L"SFXOther", IDC_ITEM_SFXOTHER, 1}, {L"DragAdd", IDC_ITEM_DRAGADD, 1},
    {L"DragExtr", IDC_ITEM_DRAGEXTR, 1},
};

namespace
{

void InitDialog(HWND dialog)
{
    for (const ContextItem& item : ContextItemTable)
        CheckDlgButton(dialog, item.Control,
                       GetUserInt(kMenuItemsKey, item.ValueName, item.Default) != 0
                           ? BST_CHECKED
                           : BST_UNCHECKED);
    wchar_t masks[kAlwaysArcChars];
    GetUserString(kMenuItemsKey, kAlwaysArcValue, masks, kAlwaysArcDefault);
    SetDlgItemTextW(dialog, IDC_ALWAYS_ARC, masks);
    // File masks read left to right whatever the language: neither mirrored
    // with the dialog nor read right to left.
    KeepLeftToRight(GetDlgItem(dialog, IDC_ALWAYS_ARC));
    FocusDefaultButton(dialog);
}

void AcceptDialog(HWND dialog)
{
    for (const ContextItem& item : ContextItemTable)
        SetUserInt(kMenuItemsKey, item.ValueName,
                   IsDlgButtonChecked(dialog, item.Control) == BST_CHECKED ? 1 : 0);
    wchar_t masks[kAlwaysArcChars];
    if (GetDlgItemTextW(dialog, IDC_ALWAYS_ARC, masks, kAlwaysArcChars) == 0)
        masks[0] = 0;
    SetUserString(kMenuItemsKey, kAlwaysArcValue, masks);
    SavePortableSettings();
    EndDialog(dialog, 1);
}

} // namespace

INT_PTR CALLBACK ContextItemsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HandleDialogMessage(dialog, message, wParam, lParam, L"SETUPCONTEXTITEMS",
                            L"HELPContextItems", 0) ||
        message == WM_HELP)
        return TRUE;
    switch (message)
    {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return FALSE; // the focus is set
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDOK:
            AcceptDialog(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
