// The setup dialogs driven for real: a thread timer runs one scripted step at
// a time against the dialog that currently takes input.
#include <exdisp.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "common/strings.h"
#include "integration/completion_dialog.h"
#include "integration/context_items_dialog.h"
#include "integration/integration_fixture.h"
#include "integration/settings_dialog.h"
#include "integration/setup_road.h"
#include "localization/help.h"
#include "localization/lng_fixtures.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_state.h"
#include "settings/settings_store.h"
#include "support/import_patch.h"
#include "support/program_under_test.h"
#include "tools/shell_recorder.h"

namespace
{

using Step = std::function<void(HWND)>;
std::vector<Step> Steps;
size_t NextStep;
int IdleTicks;

BOOL CALLBACK FindInputDialog(HWND window, LPARAM result)
{
    wchar_t className[16];
    GetClassNameW(window, className, 16);
    if (lstrcmpW(className, L"#32770") == 0 && IsWindowEnabled(window))
    {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindInputDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr)
        return;
    // Taken before it runs: a step may open a nested dialog whose loop
    // calls back in here.
    if (NextStep < Steps.size())
        Steps[NextStep++](dialog);
    else if (++IdleTicks > 40)
        EndDialog(dialog, 99); // a script that left its dialog open
}

// The help engine's stand-in: what the completion dialog asked it for.
std::vector<std::pair<std::wstring, UINT>> HelpCalls;
HWND WINAPI RecordHelp(HWND, const wchar_t* file, UINT command, DWORD_PTR)
{
    HelpCalls.push_back({file, command});
    return reinterpret_cast<HWND>(1);
}

// A right-to-left translation marks its controls to read right to left; the
// test puts that mark on the mask field and on one check box before the
// dialog's own first look.
INT_PTR CALLBACK MarkedContextItems(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        for (int id : {IDC_ALWAYS_ARC, IDC_ITEM_TEST})
        {
            HWND control = GetDlgItem(dialog, id);
            SetWindowLongW(control, GWL_EXSTYLE,
                           GetWindowLongW(control, GWL_EXSTYLE) | WS_EX_RTLREADING);
        }
    return ContextItemsDialog(dialog, message, wParam, lParam);
}

bool ReadsRightToLeft(HWND dialog, int id)
{
    return (GetWindowLongW(GetDlgItem(dialog, id), GWL_EXSTYLE) & WS_EX_RTLREADING) != 0;
}

bool Mirrored(HWND dialog, int id)
{
    return (GetWindowLongW(GetDlgItem(dialog, id), GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
}

INT_PTR Drive(const wchar_t* name, DLGPROC procedure, std::vector<Step> steps, LPARAM parameter = 0)
{
    Steps = std::move(steps);
    NextStep = 0;
    IdleTicks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, RunNextStep);
    const INT_PTR result = DialogBoxParamW(ResourceModule, name, nullptr, procedure, parameter);
    KillTimer(nullptr, timer);
    EXPECT_EQ(Steps.size(), NextStep) << "steps left undone";
    return result;
}

// The whole setup road, its dialogs one after the other.
void DriveSetupRoad(std::vector<Step> steps)
{
    Steps = std::move(steps);
    NextStep = 0;
    IdleTicks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, RunNextStep);
    RunSetup();
    KillTimer(nullptr, timer);
    EXPECT_EQ(Steps.size(), NextStep) << "steps left undone";
}

// What this process asked ShellExecuteW to open; the call goes on to the
// real one, so the shell recorder sees it too.
std::vector<std::wstring> Launched;
void* RealShellExecute = nullptr;
HINSTANCE WINAPI RecordShellExecute(HWND owner, const wchar_t* verb, const wchar_t* file,
                                    const wchar_t* parameters, const wchar_t* directory, INT show)
{
    Launched.push_back(file != nullptr ? file : L"<null>");
    return reinterpret_cast<decltype(&ShellExecuteW)>(RealShellExecute)(
        owner, verb, file, parameters, directory, show);
}

// The elevation probe and the ShellExecuteW hook for one test.
struct LaunchWatch
{
    LaunchWatch()
    {
        RealShellExecute = SwapImport("shell32.dll", "ShellExecuteW",
                                      reinterpret_cast<void*>(&RecordShellExecute));
        EXPECT_NE(nullptr, RealShellExecute) << "ShellExecuteW is not imported";
        Launched.clear();
    }
    ~LaunchWatch()
    {
        if (RealShellExecute != nullptr)
            SwapImport("shell32.dll", "ShellExecuteW", RealShellExecute);
        ProbeCache.Elevated = Saved;
    }
    const int Saved = ProbeCache.Elevated;
};

std::wstring ProgramFolder()
{
    wchar_t folder[kPathChars];
    GetModuleFileNameW(nullptr, folder, kPathChars);
    RemoveNameFromPath(folder);
    return folder;
}

Step Click(int id)
{
    return [id](HWND dialog) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); };
}
Step Command(int id)
{
    return [id](HWND dialog) { SendMessageW(dialog, WM_COMMAND, id, 0); };
}
bool Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

const int kRowControls[kAssociationRows] = {5101, 5102, 5103, 5104, 5115, 5105, 5106, 5107, 5108,
                                            5109, 5110, 5111, 5112, 5114, 5113, 5116, 5117};

class SetupDialogTest : public IntegrationTest
{
protected:
    void SetUp() override
    {
        IntegrationTest::SetUp();
        RichEdit = LoadLibraryW(L"riched20.dll");
        ResourceModule = ProgramModule = LoadProgramResources();
        ASSERT_NE(nullptr, ResourceModule);
        RunState = RunStateData{};
    }
    void TearDown() override
    {
        RunState = RunStateData{};
        ResetLanguage();
        FreeLibrary(RichEdit);
        // What the accepted dialogs applied for the whole machine.
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox");
        RawDeleteValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Velnox");
        IntegrationTest::TearDown();
    }
    // Links stay off: the tests do not touch the shell folders.
    void SetInit(const wchar_t* text) { CopyStringCut(RunState.InitOptions, text); }
    static IntegrationOptions Stored()
    {
        IntegrationOptions options = {};
        LoadIntegrationOptions(options);
        return options;
    }
    HMODULE RichEdit = nullptr;
};

} // namespace

TEST(ApplyInitStringTest, CodesChangeOnlyTheFlagsTheyName)
{
    struct Case
    {
        const wchar_t* Text;
        const char* Rows; // expected rows 0..16, '1' set
        bool Desktop, StartMenu, Programs, ShellExt, Cascaded, Icons;
    };
    // Every row starts set, StartMenu, ShellExt and CascadedMenu too; the 21st
    // digit of the last row is a code of its own, skipped with the "D".
    const Case cases[] = {
        {L"A11111111111111111D1M0P1S1C0I1", "11111111111111111", 1, 0, 1, 1, 0, 1},
        {L"a11111111111111111d1m0p1s1c0i1", "11111111111111111", 1, 0, 1, 1, 0, 1},
        {L"A10", "10111111111111111", 0, 1, 0, 1, 1, 0},
        {L"A", "11111111111111111", 0, 1, 0, 1, 1, 0},
        {L"D", "11111111111111111", 0, 1, 0, 1, 1, 0},
        {L"X1D1", "11111111111111111", 1, 1, 0, 1, 1, 0},
        {L"A0x0S0", "01111111111111111", 0, 1, 0, 0, 1, 0},
        {L"A000000000000000000001D1", "00000000000000000", 0, 1, 0, 1, 1, 0},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i)
    {
        IntegrationOptions options = {};
        for (size_t row = 0; row < kAssociationRows; ++row)
            options.Associate[row] = true;
        options.StartMenu = options.ShellExt = options.CascadedMenu = true;
        ApplyInitString(cases[i].Text, options);
        for (size_t row = 0; row < kAssociationRows; ++row)
            EXPECT_EQ(cases[i].Rows[row] == '1', options.Associate[row]) << i << " row " << row;
        EXPECT_EQ(cases[i].Desktop, options.Desktop) << i;
        EXPECT_EQ(cases[i].StartMenu, options.StartMenu) << i;
        EXPECT_EQ(cases[i].Programs, options.Programs) << i;
        EXPECT_EQ(cases[i].ShellExt, options.ShellExt) << i;
        EXPECT_EQ(cases[i].Cascaded, options.CascadedMenu) << i;
        EXPECT_EQ(cases[i].Icons, options.MenuIcons) << i;
    }
}

TEST_F(SetupDialogTest, SelectAllTogglesAndShellExtensionEnablesTheMenuBoxes)
{
    SetInit(L"A10D0M0P0S1C1I1");
    std::vector<bool> seen;
    const INT_PTR result =
        Drive(L"SETUPDLG", IntegrationSettingsDialog,
              {[&](HWND dialog)
               {
                   EXPECT_TRUE(Checked(dialog, 5101));
                   EXPECT_FALSE(Checked(dialog, 5102));
                   wchar_t info[kPathChars];
                   GetDlgItemTextW(dialog, IDC_SETUP_INFO, info, kPathChars);
                   const std::wstring text = info;
                   const std::wstring first = MessageText(MSG_SETUP_INFO1);
                   const std::wstring last = MessageText(MSG_SETUP_INFO_LAST);
                   EXPECT_EQ(first, text.substr(0, first.size())) << "no blanks before the text";
                   ASSERT_GT(text.size(), last.size());
                   EXPECT_EQ(last, text.substr(text.size() - last.size())) << "nor before its last line";
                   EXPECT_NE(L' ', text[text.size() - last.size() - 1]);
               },
               Click(IDC_SELECT_ALL),
               [&](HWND dialog)
               {
                   for (int id : kRowControls)
                       EXPECT_TRUE(Checked(dialog, id)) << id;
               },
               Click(IDC_SELECT_ALL),
               [&](HWND dialog)
               {
                   for (int id : kRowControls)
                       EXPECT_FALSE(Checked(dialog, id)) << id;
                   CheckDlgButton(dialog, 5112, BST_CHECKED);
               },
               Click(IDC_SHELL_EXT),
               [&](HWND dialog)
               {
                   EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_CASCADED_MENU)));
                   EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_MENU_ICONS)));
                   EXPECT_TRUE(Checked(dialog, IDC_MENU_ICONS));
               },
               Command(IDOK)});
    EXPECT_EQ(1, result);
    const IntegrationOptions stored = Stored();
    for (size_t row = 0; row < kAssociationRows; ++row)
        EXPECT_EQ(row == RowNamed(L".iso"), stored.Associate[row]) << row;
    EXPECT_FALSE(stored.ShellExt);
    EXPECT_TRUE(stored.CascadedMenu);
    EXPECT_TRUE(stored.MenuIcons);
    EXPECT_EQ(L"Velnox", ClassValue(L".iso"));
    EXPECT_EQ(L"<no key>", ClassValue(L".zip"));
}

TEST_F(SetupDialogTest, SilentRunStoresAndAppliesTheLoadedOptionsWithTheInitChanges)
{
    RunState.Silent = true;
    SetInit(L"A01D0M0P0S0");
    EXPECT_EQ(1, Drive(L"SETUPDLG", IntegrationSettingsDialog, {}));
    const IntegrationOptions stored = Stored();
    EXPECT_FALSE(stored.Associate[0]);
    EXPECT_TRUE(stored.Associate[1]);
    EXPECT_EQ(L"Velnox.ZIP", ClassValue(L".zip"));
    EXPECT_EQ(0, ExitCodeOf(RunState.Outcome));
}

TEST_F(SetupDialogTest, CancelWritesNothingAndSetsTheExitCode)
{
    SetInit(L"A1111S1");
    EXPECT_EQ(0, Drive(L"SETUPDLG", IntegrationSettingsDialog,
                       {Click(IDC_SELECT_ALL), Command(IDCANCEL)}));
    EXPECT_EQ(1, ExitCodeOf(RunState.Outcome));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_EQ(L"<no key>", ClassValue(L".vnx"));
}

TEST_F(SetupDialogTest, ContextItemsKeepDefaultsAnEmptyMaskAndIgnoreCancel)
{
    SetInit(L"D0M0P0");
    // Opened from the settings dialog, which is then cancelled.
    Drive(L"SETUPDLG", IntegrationSettingsDialog,
          {Command(IDC_CONTEXT_ITEMS),
           [](HWND dialog)
           {
               for (const ContextItem& item : ContextItemTable)
                   EXPECT_EQ(item.Default != 0, Checked(dialog, item.Control)) << item.ValueName;
               wchar_t masks[kAlwaysArcChars];
               GetDlgItemTextW(dialog, IDC_ALWAYS_ARC, masks, kAlwaysArcChars);
               EXPECT_STREQ(L"*.iso", masks);
               SetDlgItemTextW(dialog, IDC_ALWAYS_ARC, L"");
               CheckDlgButton(dialog, IDC_ITEM_TEST, BST_CHECKED);
               CheckDlgButton(dialog, IDC_ITEM_DRAGEXTR, BST_UNCHECKED);
           },
           Command(IDOK), Command(IDCANCEL)});
    EXPECT_EQ(1u, GetUserInt(kMenuItemsKey, L"Test", 0));
    EXPECT_EQ(0u, GetUserInt(kMenuItemsKey, L"DragExtr", 1));
    EXPECT_EQ(1u, GetUserInt(kMenuItemsKey, L"ExtrTo", 0));

    Drive(L"SETUPCONTEXTITEMS", ContextItemsDialog,
          {[](HWND dialog)
           {
               wchar_t masks[kAlwaysArcChars] = L"x";
               GetDlgItemTextW(dialog, IDC_ALWAYS_ARC, masks, kAlwaysArcChars);
               EXPECT_STREQ(L"", masks);
               EXPECT_TRUE(Checked(dialog, IDC_ITEM_TEST));
               SetDlgItemTextW(dialog, IDC_ALWAYS_ARC, L"*.img");
               CheckDlgButton(dialog, IDC_ITEM_TEST, BST_UNCHECKED);
           },
           Command(IDCANCEL)});
    EXPECT_EQ(1u, GetUserInt(kMenuItemsKey, L"Test", 0));
    wchar_t masks[kAlwaysArcChars];
    GetUserString(kMenuItemsKey, kAlwaysArcValue, masks, L"<none>");
    EXPECT_STREQ(L"", masks);
}

TEST_F(SetupDialogTest, MaskFieldAndFolderReadLeftToRightInARightToLeftLanguage)
{
    ScratchDir language(L"rtl");
    const std::wstring file = language / L"uninstall.lng";
    EXPECT_TRUE(WriteBytes(file, "***messages***\r\n50a17ae8=\"RTL\"\r\n"));
    for (int rtl = 0; rtl < 2; ++rtl)
    {
        if (rtl)
        {
            ASSERT_TRUE(LanguageFile.Load(file.c_str()) && LanguageFile.RightToLeft);
        }
        Drive(L"SETUPCONTEXTITEMS", MarkedContextItems,
              {[rtl](HWND dialog)
               {
                   const bool mirrored =
                       (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
                   EXPECT_EQ(rtl != 0, mirrored) << "rtl " << rtl;
                   EXPECT_FALSE(ReadsRightToLeft(dialog, IDC_ALWAYS_ARC)) << "rtl " << rtl;
                   // Nor is it mirrored with the dialog, as the check boxes are.
                   EXPECT_FALSE(Mirrored(dialog, IDC_ALWAYS_ARC)) << "rtl " << rtl;
                   EXPECT_EQ(rtl != 0, Mirrored(dialog, IDC_ITEM_TEST)) << "rtl " << rtl;
                   EXPECT_TRUE(ReadsRightToLeft(dialog, IDC_ITEM_TEST)) << "rtl " << rtl;
                   wchar_t masks[kAlwaysArcChars];
                   GetDlgItemTextW(dialog, IDC_ALWAYS_ARC, masks, kAlwaysArcChars);
                   EXPECT_STREQ(L"*.iso", masks) << "rtl " << rtl;
               },
               Command(IDCANCEL)});
        // The installation folder of the completion dialog likewise, at the
        // side where the mirrored dialog's lines begin.
        Drive(L"DONEDLG", CompletionDialog,
              {[rtl](HWND dialog)
               {
                   EXPECT_FALSE(Mirrored(dialog, IDC_DONE_FOLDER)) << "rtl " << rtl;
                   EXPECT_FALSE(ReadsRightToLeft(dialog, IDC_DONE_FOLDER)) << "rtl " << rtl;
                   const LONG style = GetWindowLongW(GetDlgItem(dialog, IDC_DONE_FOLDER), GWL_STYLE);
                   EXPECT_EQ(rtl != 0, (style & SS_TYPEMASK) == SS_RIGHT) << "rtl " << rtl;
                   EXPECT_TRUE(Mirrored(dialog, IDC_DONE_HEADING) == (rtl != 0)) << "rtl " << rtl;
               },
               Command(IDCANCEL)});
    }
}

TEST_F(SetupDialogTest, CompletionDialogOpensTheLicenceTheWebAddressAndTheHelp)
{
    ScratchDir install(L"install"), language(L"lang"), bare(L"bare"), current(L"current");
    WriteBytes(install / L"license.txt", "licence\r\n");
    WriteBytes(language / L"license.txt", "Lizenz\r\n");
    WriteBytes(current / L"license.txt", "elsewhere\r\n");
    wchar_t previous[kPathChars];
    GetCurrentDirectoryW(kPathChars, previous);
    // The dialog names the installation folder; the current directory is
    // wherever the run was started.
    ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
    CompletionFacts facts;
    facts.Folder = install.Path().c_str();
    const LPARAM folder = reinterpret_cast<LPARAM>(&facts);
    ShellRecorder shell;
    LaunchWatch watch;
    ResetHelp();
    HtmlHelpStandIn = RecordHelp;
    HelpCalls.clear();

    // The language folder's licence wins only when it has one, and never in
    // an elevated run, which hands the opening to the desktop's shell.
    const struct
    {
        int Elevated;
        const std::wstring Folder;
        const std::wstring Expected;
    } rows[] = {{0, L"", install / L"license.txt"},
                {0, language.Path(), language / L"license.txt"},
                {0, bare.Path(), install / L"license.txt"},
                {1, language.Path(), install / L"license.txt"}};
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        ProbeCache.Elevated = rows[row].Elevated;
        Launched.clear();
        if (!rows[row].Folder.empty())
            RawSet(HKEY_CURRENT_USER, L"Software\\Velnox\\General", L"LanguageFolder", REG_SZ,
                   rows[row].Folder.c_str(),
                   DWORD((rows[row].Folder.size() + 1) * sizeof(wchar_t)));
        Drive(L"DONEDLG", CompletionDialog, {Click(IDC_DONE_LICENSE), Command(IDOK)}, folder);
        EXPECT_EQ(rows[row].Elevated ? 0u : 1u, Launched.size()) << "row " << row;
        const std::vector<std::wstring> opened = shell.Opened(row + 1);
        ASSERT_EQ(row + 1, opened.size()) << "row " << row;
        EXPECT_EQ(0, lstrcmpiW(rows[row].Expected.c_str(), opened[row].c_str()))
            << "row " << row << " opened " << testing::PrintToString(opened[row]);
    }

    // The help opens in a process of its own, like the licence, so that it
    // stays when setup ends after this dialog; the language folder's wins.
    WriteBytes(language / L"velnox.chm", "help");
    ProbeCache.Elevated = 0;
    Drive(L"DONEDLG", CompletionDialog,
          {Click(IDC_DONE_WEBSITE), Click(IDC_DONE_HELP), Command(IDOK)}, folder);
    std::vector<std::wstring> opened = shell.Opened(ARRAYSIZE(rows) + 2);
    ASSERT_EQ(ARRAYSIZE(rows) + 2, opened.size());
    opened.erase(opened.begin(), opened.begin() + ARRAYSIZE(rows));
    // Two processes of the shell may finish in either order.
    if (opened[0] != MessageText(MSG_WEB_ADDRESS))
        std::swap(opened[0], opened[1]);
    EXPECT_EQ(std::wstring(MessageText(MSG_WEB_ADDRESS)), opened[0]);
    EXPECT_EQ(0, lstrcmpiW((language / L"velnox.chm").c_str(), opened[1].c_str()))
        << "opened " << testing::PrintToString(opened[1]);
    EXPECT_TRUE(HelpCalls.empty()) << "the help is not shown inside this process";

    HtmlHelpStandIn = nullptr;
    ResetHelp();
    SetCurrentDirectoryW(previous);
}

// A desktop without its shell: the shell's window list cannot be made.
void* RealCoCreateInstance = nullptr;
HRESULT WINAPI NoShellWindows(REFCLSID type, IUnknown* outer, DWORD context, REFIID id, void** out)
{
    if (IsEqualCLSID(type, CLSID_ShellWindows))
    {
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    return reinterpret_cast<decltype(&CoCreateInstance)>(RealCoCreateInstance)(type, outer, context,
                                                                               id, out);
}

// Every launch of the setup road (the web address, the program group): an
// elevated run never calls ShellExecuteW, whose verbs the user can override;
// the desktop's shell opens them at the user's own rights, and without one
// nothing is opened.
TEST_F(SetupDialogTest, SetupRoadLaunchesThroughTheUserShellWhenElevated)
{
    ScratchDir group(L"group");
    ShellRecorder shell;
    LaunchWatch watch;
    SetInit(L"A10D0M0P0S0");
    const struct
    {
        int Elevated;
        bool Desktop;
    } rows[] = {{0, true}, {1, true}, {1, false}};
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        ProbeCache.Elevated = rows[row].Elevated;
        Launched.clear();
        shell.Forget();
        if (!rows[row].Desktop)
            RealCoCreateInstance = SwapImport("ole32.dll", "CoCreateInstance",
                                              reinterpret_cast<void*>(&NoShellWindows));
        std::vector<Step> steps = {Command(IDOK),
                                   [&](HWND)
                                   {
                                       // As if the settings had made a program group.
                                       CopyStringCut(RunState.ProgramGroupPath,
                                                     group.Path().c_str());
                                   },
                                   Click(IDC_DONE_WEBSITE), Command(IDOK)};
        if (IsWow64())
            steps.push_back(Command(IDOK)); // the note for 64-bit Windows
        DriveSetupRoad(steps);
        if (!rows[row].Desktop)
            SwapImport("ole32.dll", "CoCreateInstance", RealCoCreateInstance);
        std::vector<std::wstring> expected = {MessageText(MSG_WEB_ADDRESS), group.Path()};
        EXPECT_EQ(rows[row].Elevated ? std::vector<std::wstring>() : expected, Launched)
            << "row " << row;
        if (!rows[row].Desktop)
            expected.clear();
        // A late opening has time to be written.
        std::vector<std::wstring> opened = shell.Opened(2, expected.empty() ? 3000 : 60000);
        // Two processes of the shell may finish in either order.
        std::sort(opened.begin(), opened.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected.size(), opened.size()) << "row " << row;
        for (size_t i = 0; i < expected.size() && i < opened.size(); ++i)
            EXPECT_EQ(0, lstrcmpiW(expected[i].c_str(), opened[i].c_str()))
                << "row " << row << " opened " << testing::PrintToString(opened[i]);
    }
}

TEST_F(SetupDialogTest, CompletionDialogShowsTheFolderAndClosesItselfWhenSilent)
{
    ScratchDir current(L"current");
    wchar_t previous[kPathChars];
    GetCurrentDirectoryW(kPathChars, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
    const std::wstring folder = ProgramFolder();
    Drive(L"DONEDLG", CompletionDialog,
          {[&](HWND dialog)
           {
               wchar_t shown[kPathChars];
               GetDlgItemTextW(dialog, IDC_DONE_FOLDER, shown, kPathChars);
               EXPECT_EQ(folder, shown) << "not the current directory";
           },
           Command(IDCANCEL)});
    SetCurrentDirectoryW(previous);
    RunState.Silent = true;
    EXPECT_EQ(1, Drive(L"DONEDLG", CompletionDialog, {}));
}

TEST_F(SetupDialogTest, SetupFilesCopiedFromBesideTheArchiveButNeverOverAnExistingOne)
{
    ScratchDir archive(L"sfx"), install(L"install"), current(L"current");
    wchar_t previous[kPathChars];
    GetCurrentDirectoryW(kPathChars, previous);
    SetCurrentDirectoryW(current.Path().c_str());
    WriteBytes(archive / L"Velnox.ini", "[a]\r\n");
    const wchar_t* folder = install.Path().c_str();

    SetEnvironmentVariableW(L"sfxname", nullptr);
    EXPECT_FALSE(CopySetupFiles(folder));
    EXPECT_FALSE(Exists(install / L"velnox.ini"));

    SetEnvironmentVariableW(L"sfxname", (archive / L"setup.exe").c_str());
    EXPECT_TRUE(CopySetupFiles(folder));
    EXPECT_EQ("[a]\r\n", ReadBytes(install / L"velnox.ini"));
    EXPECT_FALSE(Exists(current / L"velnox.ini")) << "the current directory is not the folder";
    WriteBytes(archive / L"Velnox.ini", "[b]\r\n");
    EXPECT_FALSE(CopySetupFiles(folder));
    EXPECT_EQ("[a]\r\n", ReadBytes(install / L"velnox.ini"));

    SetEnvironmentVariableW(L"sfxname", nullptr);
    SetCurrentDirectoryW(previous);
}
