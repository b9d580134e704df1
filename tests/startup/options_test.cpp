// Tokens and options, parsed in-process over the two sources in start-up
// order: the installer's "sfxcmd" first, then the command line.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "startup/command_line.h"
#include "startup/run_guard.h"
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

enum Refusal
{
    None,
    Bad,   // an option the program does not know: nothing is done
    Usage, // "/?": the options are shown, nothing else is done
};

TEST(Options, RoadsAndFlags)
{
    const struct
    {
        const wchar_t* SfxCommand;
        const wchar_t* CommandLine;
        bool Setup, Uninstall, Silent, Msi, NoExplorer;
        Refusal Refused;
    } rows[] = {
        {L"", L"", false, true, false, false, false, None},
        {L"", L"\"C:\\Program Files\\Velnox\\uninstall.exe\"", false, true, false, false, false, None},
        {L"", L"uninstall.exe /S", false, true, true, false, false, None},
        {L"", L"uninstall.exe -s", false, true, true, false, false, None},
        {L"", L"uninstall.exe /S1", false, true, true, false, false, None},
        {L"", L"uninstall.exe /Sx", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe -SETUP", true, false, false, false, false, None},
        {L"", L"uninstall.exe /setup", true, false, false, false, false, None},
        {L"", L"uninstall.exe /SETUPX", true, false, false, false, false, None},
        {L"", L"uninstall.exe /set", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe /setup /msi", true, false, false, true, false, None},
        {L"", L"uninstall.exe /noexp", false, false, false, false, true, None},
        {L"", L"uninstall.exe /noexplorer", false, false, false, false, true, None},
        {L"", L"uninstall.exe /noe", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe /foo", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe setup", false, true, false, false, false, None},
        // The installer's own command line: only its silent token counts.
        {L"/setup", L"uninstall.exe", false, true, false, false, false, None},
        {L"/msi /noexplorer", L"uninstall.exe", false, true, false, false, false, None},
        {L"/S", L"uninstall.exe /setup", true, false, true, false, false, None},
        {L"-s /x", L"uninstall.exe", false, true, true, false, false, None},
        {L"/foo", L"uninstall.exe", false, true, false, false, false, None},
        // Another program's options: the run does nothing at all, and
        // applies none of the options it knows.
        {L"", L"uninstall.exe /S /norestart", false, false, true, false, false, Bad},
        {L"", L"uninstall.exe /uninstall /S", false, false, true, false, false, Bad},
        {L"", L"uninstall.exe /S /LOG=x", false, true, true, false, false, None},
        {L"", L"uninstall.exe /setup /log=x", true, false, false, false, false, None},
        {L"", L"uninstall.exe /log= /S", false, false, true, false, false, Bad},
        {L"", L"uninstall.exe /log", false, false, false, false, false, Bad},
        {L"/log=x", L"uninstall.exe /S", false, true, true, false, false, None},
        {L"", L"uninstall.exe /quiet", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe /VERYSILENT", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe /setup /msi /noexp /x", false, false, false, false, false, Bad},
        {L"", L"uninstall.exe /?", false, false, false, false, false, Usage},
        {L"", L"uninstall.exe -? /S", false, false, true, false, false, Usage},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        Parsed parsed = ParseBoth(rows[row].SfxCommand, rows[row].CommandLine);
        EXPECT_EQ(rows[row].Setup, parsed.Setup) << "row " << row;
        EXPECT_EQ(rows[row].Uninstall, parsed.Uninstall) << "row " << row;
        EXPECT_EQ(rows[row].Silent, RunState.Silent) << "row " << row;
        EXPECT_EQ(rows[row].Msi, RunState.MsiMode) << "row " << row;
        EXPECT_EQ(rows[row].NoExplorer, RunState.NoExplorer) << "row " << row;
        EXPECT_EQ(rows[row].Refused == Bad, RunState.Outcome.BadOption) << "row " << row;
        EXPECT_EQ(rows[row].Refused == Usage, RunState.UsageRequested) << "row " << row;
    }
}

// What a run did, in letters: O bad option, B busy, C cancelled, N declined
// (answered No), L list unreadable, P cleanup impossible, F files left,
// S setup partial, R restart scheduled. The first that holds decides.
TEST(ExitCodes, TheFirstThatHoldsDecides)
{
    const struct
    {
        const char* Outcome;
        int Code;
    } rows[] = {
        {"", 0},          {"R", 3010},     {"SR", 6},      {"FR", 5},     {"FS", 5},
        {"PF", 3},        {"LPFR", 2},     {"N", 1},       {"C", 1},      {"CS", 1},
        {"BCNLPFSR", 1618}, {"OB", 1639},  {"ONR", 1639},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        RunOutcome outcome = {};
        for (const char* c = rows[row].Outcome; *c; ++c)
        {
            bool* field = nullptr;
            switch (*c)
            {
            case 'O': field = &outcome.BadOption; break;
            case 'B': field = &outcome.Busy; break;
            case 'C': field = &outcome.Cancelled; break;
            case 'N': field = &outcome.Declined; break;
            case 'L': field = &outcome.ListUnreadable; break;
            case 'P': field = &outcome.CleanupImpossible; break;
            case 'F': field = &outcome.FilesLeft; break;
            case 'S': field = &outcome.SetupPartial; break;
            case 'R': field = &outcome.RestartScheduled; break;
            }
            ASSERT_NE(nullptr, field) << "row " << row;
            *field = true;
        }
        EXPECT_EQ(rows[row].Code, ExitCodeOf(outcome)) << "row " << row;
    }
}

// Only a system without private namespaces sends an elevated run to the
// global name; a namespace or guard that is there but refused (made by a
// LocalSystem run with the system's default access) counts as held.
TEST(RunGuardPlace, OnlyAMissingNamespaceFallsBackToTheGlobalName)
{
    const struct
    {
        bool Elevated;
        DWORD Error;
        GuardPlace Place;
    } rows[] = {
        {true, 0, GuardPlace::Namespace},
        {true, ERROR_PROC_NOT_FOUND, GuardPlace::GlobalName},
        {true, ERROR_CALL_NOT_IMPLEMENTED, GuardPlace::GlobalName},
        {true, ERROR_NOT_SUPPORTED, GuardPlace::GlobalName},
        {true, ERROR_ACCESS_DENIED, GuardPlace::HeldByAnother},
        {true, ERROR_ALREADY_EXISTS, GuardPlace::HeldByAnother},
        {true, ERROR_INVALID_HANDLE, GuardPlace::HeldByAnother},
        {true, ERROR_PATH_NOT_FOUND, GuardPlace::HeldByAnother},
        {false, 0, GuardPlace::GlobalName},
        {false, ERROR_ACCESS_DENIED, GuardPlace::GlobalName},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
        EXPECT_EQ(rows[row].Place, ChooseGuardPlace(rows[row].Elevated, rows[row].Error))
            << "row " << row;
}

// The guard's access list as a made guard carries it: every right of a
// mutex for Administrators and LocalSystem, nobody else, nothing inherited.
TEST(RunGuardPlace, TheGuardGrantsAdministratorsAndLocalSystemEverything)
{
    PSECURITY_DESCRIPTOR written = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kGuardSecurity, SDDL_REVISION_1,
                                                                     &written, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), written, FALSE};
    const std::wstring name = L"VnxGuardAcl" + std::to_wstring(GetCurrentProcessId());
    HANDLE guard = CreateMutexW(&attributes, FALSE, name.c_str());
    LocalFree(written);
    ASSERT_NE(nullptr, guard);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR read = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(guard, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, &dacl, nullptr, &read));
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(2, dacl->AceCount);
    const WELL_KNOWN_SID_TYPE expected[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
    for (WORD i = 0; i < dacl->AceCount; ++i)
    {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace))) << i;
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType) << i;
        EXPECT_EQ(0, ace->Header.AceFlags & INHERITED_ACE) << i;
        EXPECT_EQ(DWORD(MUTEX_ALL_ACCESS), ace->Mask) << i;
        EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, expected[i])) << i;
    }
    LocalFree(read);
    CloseHandle(guard);
}

// The log's name is taken whole (the usual quoting gives one with blanks),
// made full against where the run started, and only from the command line.
TEST(Options, LogPath)
{
    ParseBoth(L"", L"uninstall.exe /log=\"C:\\a b\\run.log\" /S");
    EXPECT_STREQ(L"C:\\a b\\run.log", RunState.LogPath);
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    ParseBoth(L"", L"uninstall.exe -LOG=run.log");
    EXPECT_EQ(std::wstring(current) + (current[wcslen(current) - 1] == L'\\' ? L"" : L"\\") +
                  L"run.log",
              RunState.LogPath);
    ParseBoth(L"/log=C:\\x.log", L"uninstall.exe");
    EXPECT_STREQ(L"", RunState.LogPath);
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
    Parsed parsed = ParseBoth(L"", L"uninstall.exe /warning /msi");
    UnhookWindowsHookEx(Hook);
    EXPECT_FALSE(parsed.Uninstall);
    EXPECT_EQ(1, Seen.Count);
    EXPECT_EQ(std::wstring(MessageText(MSG_UNINSTALL_CAPTION)), Seen.Caption);
    EXPECT_TRUE(Seen.InformationIcon);
}

} // namespace
