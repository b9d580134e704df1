// The common dialog handler over the program's real templates, and the layout
// of a scaled test dialog with its exact rectangles.
#include <windows.h>

#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "localization/dialog_handler.h"
#include "localization/help.h"
#include "localization/lng_fixtures.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "support/program_under_test.h"
#include "support/registry_snapshot.h"

namespace
{

struct HelpCall
{
    std::wstring File;
    UINT Command;
};
std::vector<HelpCall> HelpCalls;

HWND WINAPI RecordHelp(HWND, const wchar_t* file, UINT command, DWORD_PTR)
{
    HelpCalls.push_back({file, command});
    return reinterpret_cast<HWND>(1);
}

// What the real dialogs pass to the handler.
struct DialogRole
{
    const wchar_t* Name;
    const wchar_t* Topic;
};

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    // WM_SETFONT comes before the role is known; mirroring needs none.
    static const DialogRole kNone = {L"", nullptr};
    auto role = reinterpret_cast<const DialogRole*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (role == nullptr)
        role = &kNone;
    if (HandleDialogMessage(dialog, message, wParam, lParam, role->Name, role->Topic, 0))
        return TRUE;
    return message == WM_INITDIALOG;
}

class DialogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Program = LoadProgramResources();
        ASSERT_NE(Program, nullptr);
        RichEdit = LoadLibraryW(L"riched20.dll");
        ResetHelp();
        HtmlHelpStandIn = RecordHelp;
        HelpCalls.clear();
    }
    void TearDown() override
    {
        for (HWND window : Windows)
            DestroyWindow(window);
        ResetLanguage();
        HtmlHelpStandIn = nullptr;
        ResetHelp();
        FreeLibrary(Program);
        if (RichEdit != nullptr)
            FreeLibrary(RichEdit);
    }
    void LoadLanguage(const std::string& entries)
    {
        const std::wstring path = Scratch / L"uninstall.lng";
        EXPECT_TRUE(WriteBytes(path, "***messages***\r\n" + entries));
        ASSERT_TRUE(LanguageFile.Load(path.c_str()));
    }
    HWND Open(const DialogRole& role)
    {
        HWND dialog = CreateDialogParamW(Program, role.Name, nullptr, TestDialogProc,
                                         reinterpret_cast<LPARAM>(&role));
        EXPECT_NE(dialog, nullptr) << "cannot create " << testing::PrintToString(role.Name);
        Windows.push_back(dialog);
        return dialog;
    }
    static std::wstring ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

    HMODULE Program = nullptr;
    HMODULE RichEdit = nullptr;
    std::vector<HWND> Windows;
    ScratchDir Scratch{L"dlg"};
};

const DialogRole kSetup = {L"SETUPDLG", L"HELPIntegrationSettings"};
const DialogRole kDone = {L"DONEDLG", nullptr};

TEST_F(DialogTest, TextsAreTranslatedInTheContextOfTheirDialog)
{
    LoadLanguage(Entry(L"Velnox setup", "Velnox einrichten", TextKind::Dialog, L"SETUPDLG") +
                 "\r\n" + Entry(L"Velnox setup", "Fertig", TextKind::Dialog, L"DONEDLG") + "\r\n" +
                 Entry(L"Help", "Hilfe", TextKind::Dialog, L"SETUPDLG") + "\r\n" +
                 Entry(L"&License", "&Lizenz", TextKind::Dialog, L"DONEDLG") + "\r\n" +
                 // The size entry is the empty text: empty controls are never looked up.
                 Entry(L"", "100*100", TextKind::Dialog, L"DONEDLG") + "\r\n");
    HWND setup = Open(kSetup);
    HWND done = Open(kDone);
    ASSERT_TRUE(setup && done);
    EXPECT_EQ(L"Velnox einrichten", WindowText(setup));
    EXPECT_EQ(L"Hilfe", ItemText(setup, IDHELP));
    EXPECT_EQ(L"Cancel", ItemText(setup, IDCANCEL));
    EXPECT_EQ(L"Fertig", WindowText(done));
    EXPECT_EQ(L"&Lizenz", ItemText(done, IDC_DONE_LICENSE));
    EXPECT_EQ(L"", ItemText(done, IDC_DONE_FOLDER));
}

TEST_F(DialogTest, HelpRequestsReachTheHelpOnlyWithATopic)
{
    HWND setup = Open(kSetup);
    HWND done = Open(kDone);
    ASSERT_TRUE(setup && done);
    HELPINFO info = {};
    info.cbSize = sizeof(info);
    const LPARAM help = reinterpret_cast<LPARAM>(&info);

    EXPECT_TRUE(HandleDialogMessage(done, WM_HELP, 0, help, L"DONEDLG", nullptr, 0));
    EXPECT_FALSE(HandleDialogMessage(done, WM_COMMAND, IDHELP, 0, L"DONEDLG", nullptr, 0));
    EXPECT_TRUE(HelpCalls.empty()) << "the completion dialog opens nothing here";

    SendMessageW(setup, WM_HELP, 0, help);
    SendMessageW(setup, WM_COMMAND, IDHELP, 0);
    ASSERT_EQ(2u, HelpCalls.size());
    const std::wstring expected =
        std::wstring(HelpFilePath) + L"::/html/HELPIntegrationSettings.htm";
    for (const HelpCall& call : HelpCalls)
    {
        EXPECT_EQ(expected, call.File);
        EXPECT_EQ(0u, call.Command);
    }
}

TEST_F(DialogTest, RightToLeftMirrorsEveryDialog)
{
    for (int rtl = 0; rtl < 2; rtl++)
    {
        LanguageFile.RightToLeft = rtl != 0;
        for (const DialogRole* role : {&kSetup, &kDone})
        {
            HWND dialog = Open(*role);
            ASSERT_NE(dialog, nullptr);
            const bool mirrored = (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
            EXPECT_EQ(rtl != 0, mirrored) << testing::PrintToString(role->Name) << " rtl " << rtl;
        }
    }
}

// What a control needs beside its text, in pixels at 96 dpi: a button's
// edges, a check box's box and gap, a group box's frame on either side.
int Padding(HWND control)
{
    wchar_t className[32];
    GetClassNameW(control, className, 32);
    if (lstrcmpiW(className, L"Button") != 0)
        return 0;
    switch (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK)
    {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return 17;
    case BS_GROUPBOX:
        return 16;
    default:
        return 8;
    }
}

// The dialog's font at another dpi, with its dialog base units.
struct DpiFont
{
    DpiFont(HWND dialog, int dpi, bool bold) : Dpi(dpi)
    {
        LOGFONTW face = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(face),
                   &face);
        HDC screen = GetDC(nullptr);
        const int points = MulDiv(-face.lfHeight, 72, GetDeviceCaps(screen, LOGPIXELSY));
        face.lfHeight = -MulDiv(points, dpi, 72);
        Font = CreateFontIndirectW(&face);
        face.lfWeight = FW_BOLD;
        // The heading's bold font is 12 pixels at 96 dpi, as the program makes it.
        face.lfHeight = -MulDiv(12, dpi, 96);
        Bold = CreateFontIndirectW(&face);
        Context = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        SelectObject(Context, Font);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(Context, &metrics);
        SIZE letters = {};
        GetTextExtentPoint32W(Context, kLetters, 52, &letters);
        BaseX = (letters.cx / 26 + 1) / 2;
        BaseY = metrics.tmHeight;
        SelectObject(Context, bold ? Bold : Font);
    }
    ~DpiFont()
    {
        DeleteDC(Context);
        DeleteObject(Font);
        DeleteObject(Bold);
    }
    // The text's height when broken into lines of the width, and the width of
    // its widest line.
    SIZE Extent(const std::wstring& text, int width, bool prefix) const
    {
        RECT r = {0, 0, width, 0};
        DrawTextW(Context, text.c_str(), -1, &r,
                  DT_CALCRECT | DT_WORDBREAK | (prefix ? 0 : DT_NOPREFIX));
        return {r.right, r.bottom};
    }
    static constexpr const wchar_t* kLetters =
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    int Dpi;
    HFONT Font, Bold;
    HDC Context;
    int BaseX = 0, BaseY = 0;
};

// The key letter of a text ("&&" is a plain "&"), or 0.
wchar_t Mnemonic(const std::wstring& text)
{
    for (size_t i = 0; i + 1 < text.size(); i++)
        if (text[i] == L'&')
        {
            if (text[i + 1] != L'&')
                return static_cast<wchar_t>(towlower(text[i + 1]));
            i++;
        }
    return 0;
}

// Every dialog through the real resources, in English and in the language
// files the tests ship: each key letter once per dialog, and no text wider
// (or, broken into lines, higher) than its control at 96 and at 144 dpi,
// measured with the dialog's font. The completion dialog's texts that the
// program sets are measured in each of their forms.
TEST_F(DialogTest, KeyLettersAreUniqueAndTextsFitAt96And144Dpi)
{
    struct ProgramText
    {
        int Control;
        std::vector<UINT> Messages;
        bool Bold;
    };
    const std::vector<ProgramText> doneTexts = {
        {IDC_DONE_HEADING, {MSG_DONE_INSTALLED, MSG_DONE_CHANGED}, true},
        {IDC_DONE_TEXT, {MSG_DONE_EXPLORER_MENU, MSG_DONE_EXPLORER, MSG_DONE_MENU, MSG_DONE_FOLDER},
         false}};
    const DialogRole items = {L"SETUPCONTEXTITEMS", L"HELPContextItems"};
    for (const char* language : {"", VNX_LNG_SAMPLE})
    {
        const std::string in = language[0] != 0 ? language : "English";
        if (language[0] != 0)
        {
            ASSERT_TRUE(LanguageFile.Load(FromLinuxPath(language).c_str()));
        }
        for (const DialogRole* role : {&kSetup, &items, &kDone})
        {
            HWND dialog = Open(*role);
            ASSERT_NE(dialog, nullptr);
            const std::string where = in + " " + WideToUtf8(role->Name);
            RECT units = {0, 0, 4, 8};
            MapDialogRect(dialog, &units);
            std::map<wchar_t, std::wstring> letters;
            for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
                 control = GetWindow(control, GW_HWNDNEXT))
            {
                const LONG style = GetWindowLongW(control, GWL_STYLE);
                const bool prefix = (style & SS_NOPREFIX) == 0;
                wchar_t className[32];
                GetClassNameW(control, className, 32);
                const bool isStatic = lstrcmpiW(className, L"Static") == 0;
                const bool isButton = lstrcmpiW(className, L"Button") == 0;
                if (!isStatic && !isButton)
                    continue;
                if (isStatic && ((style & SS_TYPEMASK) > SS_RIGHT || (style & SS_PATHELLIPSIS)))
                    continue; // icons, lines, and paths that end in an ellipsis
                std::vector<std::pair<std::wstring, bool>> texts = {{WindowText(control), false}};
                for (const ProgramText& set : doneTexts)
                    if (role == &kDone && GetDlgCtrlID(control) == set.Control)
                    {
                        texts.clear();
                        for (UINT number : set.Messages)
                            texts.push_back({MessageText(number), set.Bold});
                    }
                RECT r = {};
                GetWindowRect(control, &r);
                const std::string id = where + " control " + std::to_string(GetDlgCtrlID(control));
                if (prefix && Mnemonic(texts[0].first) != 0)
                {
                    const wchar_t letter = Mnemonic(texts[0].first);
                    EXPECT_EQ(0u, letters.count(letter))
                        << id << ": key letter " << WideToUtf8(std::wstring(1, letter))
                        << " also in " << WideToUtf8(letters[letter]);
                    letters[letter] = texts[0].first;
                }
                for (int dpi : {96, 144})
                    for (const auto& text : texts)
                    {
                        const DpiFont font(dialog, dpi, text.second);
                        const int width = MulDiv(r.right - r.left, font.BaseX, units.right) -
                                          MulDiv(Padding(control), dpi, 96);
                        const int height = MulDiv(r.bottom - r.top, font.BaseY, units.bottom);
                        const SIZE need = font.Extent(text.first, width, prefix);
                        // A group box's text lies on its frame: its line counts, not the box.
                        const int room = (style & BS_TYPEMASK) == BS_GROUPBOX && isButton
                                             ? font.BaseY
                                             : std::max<int>(height, font.BaseY);
                        EXPECT_LE(need.cx, width) << id << " at " << dpi << " dpi: "
                                                  << WideToUtf8(text.first);
                        EXPECT_LE(need.cy, room) << id << " at " << dpi << " dpi: "
                                                 << WideToUtf8(text.first);
                    }
            }
        }
        for (HWND window : Windows)
            DestroyWindow(window);
        Windows.clear();
    }
}

TEST_F(DialogTest, ScaleComesFromTheSizeEntry)
{
    const struct
    {
        const char* Entry;
        int Width, Height;
        bool Active;
    } rows[] = {
        {"150*100", 150, 100, true},
        {"100*100", 100, 100, false},
        {"120", 100, 100, false},
        {"90*", 90, 100, true},
        // Only 10 to 1000 percent count; the rest stays 100.
        {"10*1000", 10, 1000, true},
        {"9*1001", 100, 100, false},
        {"50000000*100", 100, 100, false},
        {"120*-150", 120, 100, true},
        {"4294967446*100", 100, 100, false}, // 150 in its low 32 bits
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        LoadLanguage(Entry(L"", rows[row].Entry, TextKind::Dialog, L"TESTDLG") + "\r\n");
        const DialogScale scale = GetDialogScale(L"TESTDLG");
        EXPECT_EQ(rows[row].Width, scale.Width) << "row " << row;
        EXPECT_EQ(rows[row].Height, scale.Height) << "row " << row;
        EXPECT_EQ(rows[row].Active, scale.Active) << "row " << row;
    }
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HandleDialogMessage(page, message, wParam, lParam, L"TESTPAGE", L"HELPPage",
                            PropertyPage | ClearApplyText))
        return TRUE;
    return message == WM_INITDIALOG;
}

TEST_F(DialogTest, PropertyPageClearsApplyAndAnswersHelp)
{
    LanguageFile.RightToLeft = true;
    struct alignas(4)
    {
        DLGTEMPLATE Header;
        WORD Menu, Class, Title, Points;
        wchar_t Face[13];
    } bare = {
        {DS_SETFONT | WS_CHILD | WS_CAPTION, 0, 0, 0, 0, 200, 100}, 0, 0, 0, 8, L"MS Shell Dlg"};
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_DLGINDIRECT;
    page.pResource = &bare.Header;
    page.pfnDlgProc = PageProc;
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS;
    header.pszCaption = L"Sheet";
    header.nPages = 1;
    header.ppsp = &page;
    HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
    ASSERT_NE(sheet, nullptr);
    Windows.push_back(sheet);
    HWND apply = GetDlgItem(sheet, 0x3021);
    ASSERT_NE(apply, nullptr);
    EXPECT_EQ(L"", WindowText(apply));
    EXPECT_NE(0, GetWindowLongW(sheet, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) << "the sheet is mirrored";

    HWND pageWindow = PropSheet_GetCurrentPageHwnd(sheet);
    NMHDR help = {sheet, 0, static_cast<UINT>(PSN_HELP)};
    EXPECT_FALSE(HandleDialogMessage(pageWindow, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&help),
                                     L"TESTPAGE", L"HELPPage", PropertyPage));
    EXPECT_FALSE(HandleDialogMessage(pageWindow, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&help),
                                     L"TESTPAGE", L"HELPPage", 0))
        << "not a page: no help";
    ASSERT_EQ(1u, HelpCalls.size());
    EXPECT_EQ(std::wstring(HelpFilePath) + L"::/html/HELPPage.htm", HelpCalls[0].File);
}

// A bare dialog whose children record the rectangle they are given.
class ScaledDialogTest : public DialogTest
{
protected:
    static LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto old = reinterpret_cast<WNDPROC>(GetPropW(window, L"vnxOldProc"));
        if (message == WM_SETTEXT)
            TextsSet[window]++;
        if (message == WM_WINDOWPOSCHANGING)
        {
            const WINDOWPOS* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
            // The combo box follows with a resize of its own, in place.
            if ((pos->flags & (SWP_NOSIZE | SWP_NOMOVE)) == 0)
            {
                RECT asked = {pos->x, pos->y, pos->cx, pos->cy};
                Asked[window] = asked;
            }
        }
        return CallWindowProcW(old, window, message, wParam, lParam);
    }
    HWND MakeDialog(DWORD style, DWORD exStyle = 0)
    {
        struct alignas(4)
        {
            DLGTEMPLATE Header;
            WORD Menu, Class, Title;
        } bare = {{style | WS_POPUP | WS_CAPTION, exStyle, 0, 0, 0, 200, 100}, 0, 0, 0};
        HWND dialog = CreateDialogIndirectParamW(nullptr, &bare.Header, nullptr, TestDialogProc,
                                                 reinterpret_cast<LPARAM>(&kTest));
        Windows.push_back(dialog);
        return dialog;
    }
    HWND AddChild(HWND dialog, const wchar_t* className, DWORD style, RECT r)
    {
        HWND child = CreateWindowW(className, L"", WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                   r.right, r.bottom, dialog, nullptr, nullptr, nullptr);
        SetPropW(child, L"vnxOldProc",
                 reinterpret_cast<HANDLE>(
                     SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Recorder))));
        return child;
    }
    static RECT WindowRect(HWND window)
    {
        RECT r = {};
        GetWindowRect(window, &r);
        return r;
    }
    static std::map<HWND, RECT> Asked;
    static std::map<HWND, int> TextsSet;
    static const DialogRole kTest;
};
std::map<HWND, RECT> ScaledDialogTest::Asked;
std::map<HWND, int> ScaledDialogTest::TextsSet;
const DialogRole ScaledDialogTest::kTest = {L"TESTDLG", nullptr};

TEST_F(ScaledDialogTest, DialogAndControlsFollowTheSizeEntry)
{
    const struct
    {
        DWORD Style;
        DWORD ExStyle;
        int Left; // where the dialog starts
        const char* Size;
        int Width, Height;
    } rows[] = {
        {0, 0, 300, "150*100", 150, 100},
        {DS_CENTER, 0, 300, "150*100", 150, 100},
        {DS_CENTER, 0, 10, "150*100", 150, 100}, // would leave the screen: x 0
        {0, 0, 300, "130*110", 130, 110},
        {DS_CENTER, WS_EX_LAYOUTRTL, 300, "130*110", 130, 110},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        LoadLanguage(Entry(L"", rows[row].Size, TextKind::Dialog, L"TESTDLG") + "\r\n");
        HWND dialog = MakeDialog(rows[row].Style, rows[row].ExStyle);
        ASSERT_NE(dialog, nullptr) << "row " << row;
        SetWindowPos(dialog, nullptr, rows[row].Left, 200, 300, 200, SWP_NOZORDER);
        HWND button = AddChild(dialog, L"BUTTON", BS_PUSHBUTTON, {20, 30, 80, 24});
        HWND dropDown = AddChild(dialog, L"COMBOBOX", CBS_DROPDOWNLIST, {20, 70, 120, 150});
        HWND simple = AddChild(dialog, L"combobox", CBS_SIMPLE, {150, 70, 100, 60});
        const RECT w = WindowRect(dialog);
        RECT k = {};
        GetClientRect(dialog, &k);
        const int frameX = (w.right - w.left + 1) - k.right;
        const int frameY = (w.bottom - w.top + 1) - k.bottom;
        RECT dropped = {};
        SendMessageW(dropDown, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        const RECT before[] = {WindowRect(button), WindowRect(dropDown), WindowRect(simple)};

        Asked.clear();
        LocalizeDialog(dialog, L"TESTDLG", false);

        const int sx = rows[row].Width, sy = rows[row].Height;
        const int newW = k.right * sx / 100 + frameX;
        const int newH = k.bottom * sy / 100 + frameY;
        int left = w.left;
        if (rows[row].Style & DS_CENTER)
        {
            left = w.left + ((w.right - w.left + 1) - newW) / 2;
            left = left < 0 ? 0 : left;
        }
        const RECT after = WindowRect(dialog);
        EXPECT_EQ(left, after.left) << "row " << row;
        EXPECT_EQ(newW, after.right - after.left) << "row " << row;
        EXPECT_EQ(newH, after.bottom - after.top) << "row " << row;

        // Children keep their place relative to the dialog's corner.
        const int top = frameY - GetSystemMetrics(SM_CYDLGFRAME);
        HWND children[] = {button, dropDown, simple};
        for (int c = 0; c < 3; c++)
        {
            const RECT& r = before[c];
            int h = (r.bottom - r.top + 1) * sy / 100;
            if (c == 1)
                h += (dropped.bottom - dropped.top + 1) * sy / 100;
            const RECT asked = Asked[children[c]];
            // In a mirrored dialog x runs from the right edge.
            const int fromEdge = rows[row].ExStyle ? w.right - r.right : r.left - w.left;
            EXPECT_EQ((fromEdge - frameX / 2) * sx / 100, asked.left) << row << "/" << c;
            EXPECT_EQ((r.top - top - w.top) * sy / 100, asked.top) << row << "/" << c;
            EXPECT_EQ((r.right - r.left + 1) * sx / 100, asked.right) << row << "/" << c;
            EXPECT_EQ(h, asked.bottom) << row << "/" << c;
        }
    }
}

// A text is set again only when its entry changes it; one longer than any
// entry could name is never cut.
TEST_F(ScaledDialogTest, OnlyTranslatedTextsAreSetAgain)
{
    LoadLanguage(Entry(L"Help", "Hilfe", TextKind::Dialog, L"TESTDLG") + "\r\n" +
                 Entry(L"Cancel", "Cancel", TextKind::Dialog, L"TESTDLG") + "\r\n");
    HWND dialog = MakeDialog(0);
    ASSERT_NE(dialog, nullptr);
    const std::wstring longText(1500, L'x'); // longer than the dialog text buffer
    const struct
    {
        const wchar_t* Text;
        const wchar_t* After;
        int Sets;
    } rows[] = {
        {L"Help", L"Hilfe", 1},
        {L"Cancel", L"Cancel", 0}, // translated to itself
        {L"&Licence", L"&Licence", 0},
        {longText.c_str(), longText.c_str(), 0},
    };
    std::vector<HWND> children;
    for (const auto& row : rows)
    {
        children.push_back(AddChild(dialog, L"STATIC", 0, {0, 0, 10, 10}));
        SetWindowTextW(children.back(), row.Text);
    }
    TextsSet.clear();
    LocalizeDialog(dialog, L"TESTDLG", false);
    for (size_t row = 0; row < children.size(); row++)
    {
        EXPECT_EQ(rows[row].After, WindowText(children[row])) << "row " << row;
        EXPECT_EQ(rows[row].Sets, TextsSet[children[row]]) << "row " << row;
    }
}

} // namespace
