#include "localization/dialog_handler.h"

bool HandleDialogMessage(HWND, UINT, WPARAM, LPARAM, const wchar_t*, const wchar_t*, unsigned)
{
    return false;
}
