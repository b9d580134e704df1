// Tokens and options, parsed in-process over the two sources in start-up
// order: the installer's "sfxcmd" first, then the command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "startup/command_line.h"
#include "support/program_under_test.h"

namespace
{

struct Parsed
{
    bool Setup;
    bool Uninstall;
};

Parsed ParseBoth(const wchar_t* sfxCommand, const wchar_t* commandLine)
{
    RunState = RunStateData();
    Parsed parsed = {false, false};
    ParseOptions(OptionSource::SfxCommand, sfxCommand, parsed.Setup, parsed.Uninstall);
    ParseOptions(OptionSource::CommandLine, commandLine, parsed.Setup, parsed.Uninstall);
    return parsed;
}

TEST(Options, RoadsAndFlags)
{
    const struct
    {
        const wchar_t* SfxCommand;
        const wchar_t* CommandLine;
        bool Setup, Uninstall, Silent, Msi, NoExplorer;
    } rows[] = {
        {L"", L"", false, true, false, false, false},
        {L"", L"\"C:\\Program Files\\Velnox\\uninstall.exe\"", false, true, false, false, false},
        {L"", L"uninstall.exe /S", false, true, true, false, false},
        {L"", L"uninstall.exe -s", false, true, true, false, false},
        {L"", L"uninstall.exe /S1", false, true, true, false, false},
        {L"", L"uninstall.exe /Sx", false, false, false, false, false},
        {L"", L"uninstall.exe -SETUP", true, false, false, false, false},
        {L"", L"uninstall.exe /setup", true, false, false, false, false},
        {L"", L"uninstall.exe /SETUPX", true, false, false, false, false},
        {L"", L"uninstall.exe /set", false, false, false, false, false},
        {L"", L"uninstall.exe /setup /msi", true, false, false, true, false},
        {L"", L"uninstall.exe /noexp", false, false, false, false, true},
        {L"", L"uninstall.exe /noexplorer", false, false, false, false, true},
        {L"", L"uninstall.exe /noe", false, false, false, false, false},
        {L"", L"uninstall.exe /foo", false, false, false, false, false},
        {L"", L"uninstall.exe setup", false, true, false, false, false},
        // The installer's own command line: only its silent token counts.
        {L"/setup", L"uninstall.exe", false, true, false, false, false},
        {L"/msi /noexplorer", L"uninstall.exe", false, true, false, false, false},
        {L"/S", L"uninstall.exe /setup", true, false, true, false, false},
        {L"-s /x", L"uninstall.exe", false, true, true, false, false},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        Parsed parsed = ParseBoth(rows[row].SfxCommand, rows[row].CommandLine);
        EXPECT_EQ(rows[row].Setup, parsed.Setup) << "row " << row;
        EXPECT_EQ(rows[row].Uninstall, parsed.Uninstall) << "row " << row;
        EXPECT_EQ(rows[row].Silent, RunState.Silent) << "row " << row;
        EXPECT_EQ(rows[row].Msi, RunState.MsiMode) << "row " << row;
        EXPECT_EQ(rows[row].NoExplorer, RunState.NoExplorer) << "row " << row;
    }
}

TEST(Options, InitValueIsCutToItsRoom)
{
    ParseBoth(L"", L"uninstall.exe /setup /initA1101");
    EXPECT_STREQ(L"A1101", RunState.InitOptions);

    std::wstring value(45, L'1');
    value[0] = L'A';
    ParseBoth(L"", (L"uninstall.exe -INIT" + value).c_str());
    EXPECT_EQ(value.substr(0, 39), RunState.InitOptions);

    ParseBoth(L"/initA1", L"uninstall.exe");
    EXPECT_STREQ(L"", RunState.InitOptions) << "not taken from the installer's text";
}

TEST(Options, Tokens)
{
    const struct
    {
        const wchar_t* Text;
        const wchar_t* First;
        const wchar_t* Rest; // where the next call starts
    } rows[] = {
        {L"  \t/setup /msi", L"/setup", L" /msi"},
        {L"\"C:\\Program Files\\uninstall.exe\" /S", L"C:\\Program Files\\uninstall.exe", L" /S"},
        {L"a\"\"b c", L"a\"b", L" c"},
        {L"\"x y\"", L"x y", L""},
        {L"\"a \"\"q\"\" b\"z", L"a \"q\" bz", L""},
        {L"/init\"A1 0\"tail next", L"/initA1 0tail", L" next"},
        {L"\"unterminated quote", L"unterminated quote", L""},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        wchar_t token[64];
        const wchar_t* rest = NextToken(rows[row].Text, token, 64);
        ASSERT_NE(rest, nullptr) << "row " << row;
        EXPECT_STREQ(rows[row].First, token) << "row " << row;
        EXPECT_STREQ(rows[row].Rest, rest) << "row " << row;
    }

    wchar_t token[8];
    EXPECT_EQ(nullptr, NextToken(L" \t ", token, 8));
    EXPECT_EQ(nullptr, NextToken(L"", token, 8));

    // An overlong token is cut, terminated, and consumed whole.
    wmemset(token, 0xBDBD, 8);
    wchar_t canary[4];
    wmemset(canary, 0xBDBD, 4);
    const wchar_t* rest = NextToken(L"abcdefghijkl next", token, 5);
    EXPECT_STREQ(L"abcd", token);
    EXPECT_EQ(wchar_t(0xBDBD), token[5]) << "nothing written past the capacity";
    ASSERT_NE(rest, nullptr);
    EXPECT_STREQ(L" next", rest);
}

class WarningText : public testing::Test
{
protected:
    void SetUp() override
    {
        Program = LoadProgramResources();
        ASSERT_NE(Program, nullptr);
        ScratchDir none(L"warn");
        LanguageModule.OpenBeside(Program, (none / L"uninstall.exe").c_str());
    }
    void TearDown() override
    {
        LanguageModule.Release();
        if (Program != nullptr)
            FreeLibrary(Program);
    }
    HMODULE Program = nullptr;
};

TEST_F(WarningText, FirstLineThenPathInFormat)
{
    wchar_t text[512];
    ComposeWarningText(L"C:\\Velnox\\uninstall.exe", text, 512);
    std::wstring format = MessageText(MSG_NOT_REMOVED_PATH);
    std::wstring expected = std::wstring(MessageText(MSG_NOT_REMOVED)) + L"\n" +
                            format.replace(format.find(L"%s"), 2, L"C:\\Velnox\\uninstall.exe");
    EXPECT_EQ(expected, text);

    // A path longer than the room: cut at 511 characters, terminated.
    std::wstring longPath(3000, L'p');
    wchar_t cut[513];
    wmemset(cut, 0xBDBD, 513);
    ComposeWarningText(longPath.c_str(), cut, 512);
    EXPECT_EQ(511u, wcslen(cut));
    EXPECT_EQ(wchar_t(0xBDBD), cut[512]);
}

// What the box showed, read while it is up and then answered.
struct SeenBox
{
    int Count;
    std::wstring Caption;
    bool InformationIcon;
};
SeenBox Seen;
HHOOK Hook;

BOOL CALLBACK FindIcon(HWND control, LPARAM)
{
    if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(control, STM_GETICON, 0, 0) ==
            reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_INFORMATION)))
        Seen.InformationIcon = true;
    return TRUE;
}

LRESULT CALLBACK AnswerBox(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG)
    {
        Seen.Count++;
        Seen.Caption = WindowText(call->hwnd);
        EnumChildWindows(call->hwnd, FindIcon, 0);
        PostMessageW(call->hwnd, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(Hook, code, wParam, lParam);
}

TEST_F(WarningText, OptionShowsAnInformationBox)
{
    Seen = SeenBox();
    Hook = SetWindowsHookExW(WH_CALLWNDPROCRET, AnswerBox, nullptr, GetCurrentThreadId());
    ASSERT_NE(Hook, nullptr);
    Parsed parsed = ParseBoth(L"", L"uninstall.exe /warning /x");
    UnhookWindowsHookEx(Hook);
    EXPECT_FALSE(parsed.Uninstall);
    EXPECT_EQ(1, Seen.Count);
    EXPECT_EQ(std::wstring(MessageText(MSG_UNINSTALL_CAPTION)), Seen.Caption);
    EXPECT_TRUE(Seen.InformationIcon);
}

} // namespace
