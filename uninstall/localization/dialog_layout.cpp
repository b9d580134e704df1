#include "localization/dialog_layout.h"

#include "common/strings.h"
#include "files/path_names.h"
#include "localization/language_file.h"

#include <climits>
#include <cstdint>
#include <cwchar>

namespace
{

const size_t kDialogTextChars = 1024;
const unsigned kMaxChildren = 512;
// Scale percentages outside these bounds come from a broken entry and are
// not used: they would shrink a dialog to nothing or overflow its geometry.
const int64_t kMinScale = 10;
const int64_t kMaxScale = 1000;

int ScalePercent(const wchar_t* text)
{
    const int64_t percent = ParseInt64(text);
    return percent >= kMinScale && percent <= kMaxScale ? static_cast<int>(percent) : 100;
}

// value * percent / 100, truncated toward zero, computed wide and kept far
// enough inside int that adding a frame to it cannot overflow either.
int Scaled(int value, int percent)
{
    const int64_t kLimit = INT_MAX / 4;
    const int64_t scaled = int64_t(value) * percent / 100;
    if (scaled > kLimit)
        return static_cast<int>(kLimit);
    return scaled < -kLimit ? static_cast<int>(-kLimit) : static_cast<int>(scaled);
}

void TranslateWindowText(HWND window, const wchar_t* dialogName, bool skipEmpty)
{
    wchar_t text[kDialogTextChars];
    if (GetWindowTextW(window, text, kDialogTextChars) == 0)
        text[0] = 0;
    if (skipEmpty && text[0] == 0)
        return;
    wchar_t translated[kDialogTextChars];
    LanguageFile.Translate(text, translated, kDialogTextChars, TextKind::Dialog, dialogName);
    // The same text set again only repaints the control; and a text longer
    // than the buffer, which no entry translates, keeps its whole length.
    if (std::wcscmp(translated, text) != 0)
        SetWindowTextW(window, translated);
}

} // namespace

DialogScale GetDialogScale(const wchar_t* dialogName)
{
    DialogScale scale;
    wchar_t text[512];
    LanguageFile.Translate(L"", text, 512, TextKind::Dialog, dialogName);
    const wchar_t* star = std::wcschr(text, L'*');
    if (star != nullptr)
    {
        scale.Width = ScalePercent(text);
        scale.Height = ScalePercent(star + 1);
    }
    scale.Active = scale.Width != 100 || scale.Height != 100;
    return scale;
}

void MirrorWindow(HWND window)
{
    if (LanguageFile.RightToLeft)
        SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYOUTRTL);
}

void KeepLeftToRight(HWND control)
{
    const LONG style = GetWindowLongW(control, GWL_EXSTYLE);
    const LONG flipped = WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT | WS_EX_LEFTSCROLLBAR;
    if ((style & flipped) == 0)
        return;
    SetWindowLongW(control, GWL_EXSTYLE, style & ~flipped);
    // A text of a mirrored dialog still starts at the side its lines begin.
    const LONG basic = GetWindowLongW(control, GWL_STYLE);
    wchar_t className[16];
    if ((style & WS_EX_LAYOUTRTL) != 0 && (basic & SS_TYPEMASK) == SS_LEFT &&
        GetClassNameW(control, className, 16) != 0 && CompareNoCase(className, L"Static") == 0)
        SetWindowLongW(control, GWL_STYLE, basic | SS_RIGHT);
    InvalidateRect(control, nullptr, TRUE);
}

void FocusDefaultButton(HWND dialog)
{
    const LRESULT found = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    const int id = HIWORD(found) == DC_HASDEFID ? LOWORD(found) : IDOK;
    HWND button = GetDlgItem(dialog, id);
    if (button != nullptr)
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
}

void LocalizeDialog(HWND dialog, const wchar_t* dialogName, bool page)
{
    // Without a language file every text stays and no size entry exists:
    // walking the controls would only read their texts back.
    if (!LanguageFile.IsLoaded())
        return;
    const DialogScale scale = GetDialogScale(dialogName);
    RECT w = {};
    RECT k = {};
    GetWindowRect(dialog, &w);
    GetClientRect(dialog, &k);
    const int frameX = (w.right - w.left + 1) - k.right;
    const int frameY = (w.bottom - w.top + 1) - k.bottom;

    if (scale.Active && !page)
    {
        const int newW = Scaled(k.right, scale.Width) + frameX;
        const int newH = Scaled(k.bottom, scale.Height) + frameY;
        int x = w.left + ((w.right - w.left + 1) - newW) / 2;
        int y = w.top + ((w.bottom - w.top + 1) - newH) / 2;
        if (x < 0)
            x = 0;
        if (y < 0)
            y = 0;
        UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER;
        // Only a centred dialog keeps its centre; others grow right and down.
        if ((GetWindowLongW(dialog, GWL_STYLE) & DS_CENTER) == 0)
            flags |= SWP_NOMOVE;
        SetWindowPos(dialog, nullptr, x, y, newW, newH, flags);
        GetWindowRect(dialog, &w);
    }
    if (!page)
        TranslateWindowText(dialog, dialogName, false);

    const int top = frameY - GetSystemMetrics(SM_CYDLGFRAME);
    // A mirrored dialog counts its children's x from its right edge.
    const bool mirrored = (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    HWND first = GetWindow(dialog, GW_CHILD);
    HWND child = first;
    for (unsigned count = 0; child != nullptr && count < kMaxChildren; count++)
    {
        TranslateWindowText(child, dialogName, true);
        if (scale.Active)
        {
            RECT r = {};
            GetWindowRect(child, &r);
            const int fromEdge = mirrored ? w.right - r.right : r.left - w.left;
            const int x = Scaled(fromEdge - frameX / 2, scale.Width);
            const int y = Scaled(r.top - top - w.top, scale.Height);
            const int cx = Scaled(r.right - r.left + 1, scale.Width);
            int cy = Scaled(r.bottom - r.top + 1, scale.Height);
            wchar_t className[kPathChars];
            if (GetClassNameW(child, className, kPathChars) != 0 &&
                CompareNoCase(className, L"COMBOBOX") == 0 &&
                (GetWindowLongW(child, GWL_STYLE) & 3) != CBS_SIMPLE)
            {
                // The list of a drop-down combo box needs its room too.
                RECT dropped = {};
                SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0,
                             reinterpret_cast<LPARAM>(&dropped));
                cy += Scaled(dropped.bottom - dropped.top + 1, scale.Height);
            }
            SetWindowPos(child, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOOWNERZORDER);
        }
        child = GetWindow(child, GW_HWNDNEXT);
        if (child == first)
            break;
    }
}
