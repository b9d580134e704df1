// uninstall.exe run as its own process, from a copy in a scratch folder that
// also holds a list of installed files: options that neither set up nor
// uninstall must leave everything in place.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"

namespace
{

class ProgramRun : public testing::Test, public ProgramCopy
{
protected:
    ProgramRun() : ProgramCopy(L"run") {}
    void SetUp() override
    {
        ASSERT_TRUE(Ready());
        ASSERT_TRUE(WriteBytes(Folder / L"Uninstall.lst", "keep.txt\r\n"));
        ASSERT_TRUE(WriteBytes(Folder / L"keep.txt", "kept"));
    }
    void TearDown() override
    {
        // An accepted setup integrated the copy; later tests expect none.
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox");
    }
    bool Start(const wchar_t* options) { return ProgramCopy::Start(Child, options); }
    void ExpectNothingRemoved()
    {
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Exe.c_str()));
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Folder / L"keep.txt").c_str()));
    }
    ChildProcess Child;
};

struct Controls
{
    std::vector<HWND> Buttons;
    std::wstring Text;
    HWND Icon = nullptr;
};

BOOL CALLBACK CollectControl(HWND control, LPARAM context)
{
    Controls* controls = reinterpret_cast<Controls*>(context);
    wchar_t className[32] = L"";
    GetClassNameW(control, className, 32);
    if (!IsWindowVisible(control))
        return TRUE;
    if (lstrcmpiW(className, L"Button") == 0)
        controls->Buttons.push_back(control);
    else if (lstrcmpiW(className, L"Static") == 0)
    {
        if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            controls->Icon = control;
        else if (!WindowText(control).empty())
            controls->Text = WindowText(control);
    }
    return TRUE;
}

// The next dialog of the child once the one before has gone.
TEST_F(ProgramRun, WaitSleepsAndUninstallsNothing)
{
    DWORD start = GetTickCount();
    ASSERT_TRUE(Start(L"/wait"));
    EXPECT_EQ(0, Child.Wait(30000));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1900u);
    ExpectNothingRemoved();
}

// Another program's options, or a request for the options: nothing is set
// up or removed. A silent run ends without a window, or it would wait for
// ever; the others show the options. Only "/?" is a success.
TEST_F(ProgramRun, CommandLinesThatDoNothing)
{
    const struct
    {
        const wchar_t* Options;
        bool Box;
        long ExitCode;
    } rows[] = {
        {L"/Sx /foo", true, 1639},
        {L"/uninstall /S", false, 1639},
        {L"/?", true, 0},
        {L"/S /?", false, 0},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        ChildProcess child;
        ASSERT_TRUE(ProgramCopy::Start(child, rows[row].Options)) << "row " << row;
        if (rows[row].Box)
        {
            HWND box = child.FindDialog(30000);
            ASSERT_NE(nullptr, box) << "row " << row;
            Controls controls;
            EnumChildWindows(box, CollectControl, reinterpret_cast<LPARAM>(&controls));
            EXPECT_EQ(Message(MSG_USAGE), controls.Text) << "row " << row;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(rows[row].ExitCode, child.Wait(30000)) << "row " << row;
        ExpectNothingRemoved();
    }
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
}

TEST_F(ProgramRun, WarningShowsOneBox)
{
    ASSERT_TRUE(Start(L"/warning"));
    HWND box = Child.FindDialog(30000);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(Message(MSG_UNINSTALL_CAPTION), WindowText(box));

    Controls controls;
    EnumChildWindows(box, CollectControl, reinterpret_cast<LPARAM>(&controls));
    std::wstring second = Message(MSG_NOT_REMOVED_PATH);
    second.replace(second.find(L"%s"), 2, Exe);
    EXPECT_EQ(Message(MSG_NOT_REMOVED) + L"\n" + second, controls.Text);
    ASSERT_EQ(1u, controls.Buttons.size()) << "only OK";
    EXPECT_EQ(IDOK, GetDlgCtrlID(controls.Buttons[0]));
    EXPECT_TRUE(HasVisualStyles(controls.Buttons[0]));
    // Which icon it is can only be told in-process (see WarningText).
    EXPECT_NE(controls.Icon, nullptr);
    EXPECT_EQ(box, GetForegroundWindow());

    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0, Child.Wait(30000));
    ExpectNothingRemoved();
}

TEST_F(ProgramRun, WarningComesBeforeTheSetupDialog)
{
    ASSERT_TRUE(Start(L"/setup /warning"));
    HWND box = Child.FindDialog(30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Message(MSG_UNINSTALL_CAPTION), WindowText(box));
    EXPECT_EQ(nullptr, GetDlgItem(box, IDC_SETUP_INFO));
    PostMessageW(box, WM_COMMAND, IDOK, 0);

    HWND setup = Child.FindDialog(30000, box);
    ASSERT_NE(setup, nullptr) << "no settings dialog after the warning";
    EXPECT_NE(nullptr, GetDlgItem(setup, IDC_SETUP_INFO));
    PostMessageW(setup, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(1, Child.Wait(30000)) << "a cancelled setup exits with 1";
}

TEST_F(ProgramRun, SetupRoadAfterOk)
{
    const struct
    {
        const wchar_t* Options;
        bool Completion; // the completion dialog and, on 64-bit Windows, the notice
    } rows[] = {{L"/setup /noexplorer /initD0M0P0S0", true}, {L"/setup /msi /initD0M0P0S0", false}};
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        ChildProcess child;
        ASSERT_TRUE(ProgramCopy::Start(child, rows[row].Options));
        HWND dialog = child.FindDialog(30000);
        ASSERT_NE(dialog, nullptr) << "row " << row;
        ASSERT_NE(nullptr, GetDlgItem(dialog, IDC_SETUP_INFO)) << "row " << row;
        // Every window a user sees has the visual styles.
        EXPECT_TRUE(HasVisualStyles(GetDlgItem(dialog, IDOK))) << "row " << row;
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        if (rows[row].Completion)
        {
            dialog = child.FindDialog(30000, dialog);
            ASSERT_NE(dialog, nullptr) << "row " << row;
            EXPECT_NE(nullptr, GetDlgItem(dialog, IDC_DONE_HEADING)) << "row " << row;
            EXPECT_TRUE(HasVisualStyles(GetDlgItem(dialog, IDOK))) << "row " << row;
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            if (IsWin64Prefix())
            {
                dialog = child.FindDialog(30000, dialog);
                ASSERT_NE(dialog, nullptr) << "row " << row << ": no 64-bit notice";
                EXPECT_EQ(Message(MSG_SETUP_CAPTION), WindowText(dialog)) << "row " << row;
                EXPECT_TRUE(HasVisualStyles(GetDlgItem(dialog, IDOK))) << "row " << row;
                PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            }
        }
        EXPECT_EQ(0, child.Wait(30000)) << "row " << row;
    }
}

TEST_F(ProgramRun, SilentSetupShowsNothing)
{
    ASSERT_TRUE(Start(L"/setup /S /initD0M0P0S0"));
    EXPECT_EQ(0, Child.Wait(30000));
}

} // namespace
