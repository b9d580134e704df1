// Shortcuts and program groups made and removed in the prefix's real shell
// folders, read back through the shell's link object.
#include "files/path_names.h"
#include "integration/integration_options.h"
#include "integration/shortcuts.h"
#include "localization/lng_fixtures.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "platform/platform_probes.h"
#include "resources/resource.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"
#include "settings/settings_fixtures.h"
#include "support/host_links.h"
#include "support/import_patch.h"
#include "support/program_under_test.h"
#include "support/shell_sandbox.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

// The shell's link object over one shortcut file.
struct ShellLinkFile
{
    ShellLinkFile()
    {
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, reinterpret_cast<void**>(&Link))))
            Link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&File));
    }
    ~ShellLinkFile()
    {
        if (File)
            File->Release();
        if (Link)
            Link->Release();
    }
    IShellLinkW* Link = nullptr;
    IPersistFile* File = nullptr;
};

// "target | working folder | icon | description", or "missing".
std::wstring Properties(const std::wstring& target, const std::wstring& workingDir,
                        const std::wstring& icon, const std::wstring& description)
{
    return target + L" | " + workingDir + L" | " + icon + L" | " + description;
}

std::wstring ReadLink(const std::wstring& path, WORD* hotkey = nullptr)
{
    ShellLinkFile object;
    if (!object.File || FAILED(object.File->Load(path.c_str(), STGM_READ)))
        return L"missing";
    wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {},
            description[MAX_PATH] = {};
    int index = 0;
    object.Link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    object.Link->GetWorkingDirectory(folder, MAX_PATH);
    object.Link->GetIconLocation(icon, MAX_PATH, &index);
    object.Link->GetDescription(description, MAX_PATH);
    if (hotkey)
        object.Link->GetHotkey(hotkey);
    return Properties(target, folder, icon, description);
}
SetupEnvironment* const environment = static_cast<SetupEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new SetupEnvironment(L"vnx_user_desktop")));

void PresetWindows(DWORD major, DWORD minor)
{
    ProbeCache.PlatformId = VER_PLATFORM_WIN32_NT;
    ProbeCache.Major = major;
    ProbeCache.Minor = minor;
}

const wchar_t* const kGroupTargets[] = {L"Velnox.exe", L"Velnox.chm", L"Vnx.txt"};

class ShortcutsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SavedProbes = ProbeCache;
        PresetWindows(6, 1);
        Clean();
        for (const wchar_t* name : kGroupTargets)
            ASSERT_TRUE(WriteBytes(Install / name, ""));
        ASSERT_TRUE(WriteBytes(Install / MessageText(MSG_LINK_FOURTH_FILE), ""));
    }
    void TearDown() override
    {
        Clean();
        ProbeCache = SavedProbes;
    }
    static void Clean()
    {
        for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU,
                          CSIDL_COMMON_STARTMENU})
            DeleteFileW((ShellFolder(csidl) + L"\\Velnox.lnk").c_str());
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
            ShellDeleteFolder(Group(csidl).c_str());
    }
    static std::wstring Group(int csidl) { return ShellFolder(csidl) + L"\\Velnox"; }
    static std::wstring Link(int csidl) { return ShellFolder(csidl) + L"\\Velnox.lnk"; }
    static std::wstring Named(uint32_t message)
    {
        return std::wstring(MessageText(message)) + L".lnk";
    }

    void Update(bool desktop, bool startMenu, bool programs, const wchar_t* icon = nullptr)
    {
        IntegrationOptions options = {};
        options.Desktop = desktop;
        options.StartMenu = startMenu;
        options.Programs = programs;
        std::fill(GroupPath, GroupPath + kPathChars, L'\xBDBD');
        UpdateShortcutsFor((Install / L"uninstall.exe").c_str(), options, GroupPath, kPathChars,
                           icon);
    }

    ScratchDir Install{L"install"};
    wchar_t GroupPath[kPathChars];
    ProbeCacheData SavedProbes;
};

// The all-users shortcuts start in the program's folder, which every user
// can open; the user's own group starts on that user's desktop. LocalSystem,
// as a deployment agent runs setup, has no user's profile: no group of its
// own.
TEST_F(ShortcutsTest, SetupMakesAllUsersLinksAndBothGroups)
{
    const wchar_t icon[] = L"C:\\themes\\velnox.ico";
    const std::wstring archiver = Install / L"Velnox.exe";
    const std::wstring comment = MessageText(MSG_LINK_COMMENT);
    const std::wstring desktop = environment->Sandbox.Desktop;
    const std::wstring folder = Install.Path();
    const struct
    {
        int LocalSystem;
        bool UserGroup;
    } accounts[] = {{0, true}, {1, false}};
    for (const auto& account : accounts)
    {
        const std::string row = "local system " + std::to_string(account.LocalSystem);
        ProbeCache.LocalSystem = account.LocalSystem;
        const std::wstring userLink = environment->Sandbox.Desktop + L"\\Velnox.lnk";
        ASSERT_TRUE(WriteBytes(userLink, ""));
        Update(true, true, true, icon);

        EXPECT_EQ(account.UserGroup, !Exists(userLink))
            << row << ": a link on the user's own desktop is an older setup's";
        EXPECT_FALSE(Exists(Link(CSIDL_STARTMENU))) << row;
        EXPECT_EQ(Properties(archiver, L"", icon, comment),
                  ReadLink(Link(CSIDL_COMMON_DESKTOPDIRECTORY)))
            << row;
        EXPECT_EQ(Properties(archiver, folder, icon, comment),
                  ReadLink(Link(CSIDL_COMMON_STARTMENU)))
            << row;

        EXPECT_STREQ(Group(CSIDL_COMMON_PROGRAMS).c_str(), GroupPath) << row;
        EXPECT_EQ(account.UserGroup, Exists(Group(CSIDL_PROGRAMS))) << row;
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
        {
            if (csidl == CSIDL_PROGRAMS && !account.UserGroup)
                continue;
            const std::wstring start = csidl == CSIDL_PROGRAMS ? desktop : folder;
            const struct
            {
                std::wstring Name, Properties;
            } expected[] = {
                {L"Velnox.lnk", Properties(archiver, start, icon, comment)},
                {Named(MSG_LINK_HELP), Properties(Install / L"Velnox.chm", start, L"", comment)},
                {Named(MSG_LINK_README), Properties(Install / L"Vnx.txt", start, L"", comment)},
                {Named(MSG_LINK_FOURTH),
                 Properties(Install / MessageText(MSG_LINK_FOURTH_FILE), start, L"", comment)},
            };
            for (size_t i = 0; i < 4; ++i)
                EXPECT_EQ(expected[i].Properties, ReadLink(Group(csidl) + L"\\" + expected[i].Name))
                    << row << " csidl " << csidl << " link " << i;
        }
        DeleteFileW(userLink.c_str());
        Clean();
    }
}

// The shell's deletion as the program calls it: its flags kept, the
// deletion refused as a shortcut in use or a denied file would refuse it.
FILEOP_FLAGS seenFlags = 0;
int WINAPI RefusedDeletion(LPSHFILEOPSTRUCTW operation)
{
    seenFlags = operation->fFlags;
    return ERROR_ACCESS_DENIED;
}

TEST_F(ShortcutsTest, AllZeroRecordRemovesLinksAndGroups)
{
    Update(true, true, true);
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    {
        CreateDirectoryW((Group(csidl) + L"\\Sub").c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(Group(csidl) + L"\\Sub\\notes.txt", ""));
        ASSERT_TRUE(WriteBytes(Group(csidl) + L"\\locked.txt", ""));
        SetFileAttributesW((Group(csidl) + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }

    // Nothing may wait on a window that nobody of a silent run can close;
    // a group that stays is told like a listed file that stays.
    RunState.Outcome = RunOutcome();
    void* real = SwapImport("shell32.dll", "SHFileOperationW",
                            reinterpret_cast<void*>(&RefusedDeletion));
    ASSERT_NE(nullptr, real);
    Update(false, false, false);
    SwapImport("shell32.dll", "SHFileOperationW", real);
    EXPECT_EQ(FOF_NO_UI, seenFlags & FOF_NO_UI);
    EXPECT_TRUE(RunState.Outcome.FilesLeft);
    EXPECT_TRUE(Exists(Group(CSIDL_COMMON_PROGRAMS)));
    RunState.Outcome = RunOutcome();

    Update(false, false, false);
    EXPECT_FALSE(RunState.Outcome.FilesLeft);

    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_STARTMENU)));
    EXPECT_FALSE(Exists(Group(CSIDL_PROGRAMS)));
    EXPECT_FALSE(Exists(Group(CSIDL_COMMON_PROGRAMS)));
    EXPECT_EQ(L'\xBDBD', GroupPath[0]) << "no group, nothing reported";
}

TEST_F(ShortcutsTest, PortableRunWithoutIntegrationTouchesNothing)
{
    Update(true, false, false);
    Portable.Loaded = true;
    Portable.Integration = false;
    Update(false, true, true);
    Portable.Loaded = false;

    EXPECT_TRUE(Exists(Link(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_STARTMENU)));
    EXPECT_FALSE(Exists(Group(CSIDL_COMMON_PROGRAMS)));
    EXPECT_EQ(L'\xBDBD', GroupPath[0]);
}

TEST_F(ShortcutsTest, OlderGroupIsEmptiedOfFilesAndMissingTargetsAreSkipped)
{
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    {
        CreateDirectoryW(Group(csidl).c_str(), nullptr);
        CreateDirectoryW((Group(csidl) + L"\\Sub").c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(Group(csidl) + L"\\Sub\\kept.txt", ""));
        ASSERT_TRUE(WriteBytes(Group(csidl) + L"\\Old manual.lnk", ""));
    }
    DeleteFileW((Install / L"Vnx.txt").c_str());

    Update(false, false, true);

    std::vector<std::wstring> expected = {L"Velnox.lnk", Named(MSG_LINK_HELP),
                                          Named(MSG_LINK_FOURTH)};
    std::sort(expected.begin(), expected.end());
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    {
        EXPECT_EQ(expected, FilesIn(Group(csidl))) << "csidl " << csidl;
        EXPECT_TRUE(Exists(Group(csidl) + L"\\Sub\\kept.txt")) << "csidl " << csidl;
    }
}

TEST_F(ShortcutsTest, RewrittenLinkKeepsHotkeyAndDropsIcon)
{
    // The user's earlier link, pointing elsewhere, with a hotkey and an icon.
    const std::wstring path = Link(CSIDL_COMMON_DESKTOPDIRECTORY);
    const WORD hotkey = MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT);
    {
        ShellLinkFile object;
        ASSERT_NE(nullptr, object.File);
        object.Link->SetPath((Install / L"Vnx.txt").c_str());
        object.Link->SetHotkey(hotkey);
        object.Link->SetIconLocation(L"C:\\old.ico", 2);
        ASSERT_HRESULT_SUCCEEDED(object.File->Save(path.c_str(), TRUE));
    }

    // This binary's own folder is where the archiver is looked for.
    IntegrationOptions options = {};
    options.Desktop = true;
    UpdateShortcuts(options, nullptr, 0, nullptr);

    wchar_t archiver[kPathChars];
    GetModuleFileNameW(nullptr, archiver, kPathChars);
    ASSERT_TRUE(SetName(archiver, L"Velnox.exe"));
    WORD kept = 0;
    EXPECT_EQ(Properties(archiver, L"", L"", MessageText(MSG_LINK_COMMENT)), ReadLink(path, &kept));
    EXPECT_EQ(hotkey, kept);
}

TEST_F(ShortcutsTest, OlderWindowsUsesTheUsersOwnFolders)
{
    PresetWindows(5, 1);
    Update(true, true, false);
    const std::wstring userLink = environment->Sandbox.Desktop + L"\\Velnox.lnk";
    EXPECT_TRUE(Exists(userLink));
    EXPECT_TRUE(Exists(Link(CSIDL_STARTMENU)));
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_STARTMENU)));

    Update(false, false, false);
    EXPECT_FALSE(Exists(userLink));
    EXPECT_FALSE(Exists(Link(CSIDL_STARTMENU)));
}

std::string Content(const std::wstring& path)
{
    return ReadBytes(path);
}

TEST_F(ShortcutsTest, LinkedFoldersAndPlantedLinksAreNeitherEmptiedNorWrittenThrough)
{
    ScratchDir outside(L"outside");
    const std::wstring behindGroup = outside / L"group", behindDesktop = outside / L"desktop";
    CreateDirectoryW(behindGroup.c_str(), nullptr);
    CreateDirectoryW(behindDesktop.c_str(), nullptr);
    const std::wstring canaries[] = {behindGroup + L"\\precious.txt",
                                     behindDesktop + L"\\Velnox.lnk", outside / L"file.txt",
                                     outside / L"link.txt", outside / L"hard.txt"};
    for (const std::wstring& canary : canaries)
        ASSERT_TRUE(WriteBytes(canary, "canary"));
    // A second name of another file, which no link attribute shows.
    DeleteFileW(Link(CSIDL_COMMON_STARTMENU).c_str());
    ASSERT_TRUE(
        CreateHardLinkW(Link(CSIDL_COMMON_STARTMENU).c_str(), (outside / L"hard.txt").c_str(), nullptr));
    const std::wstring commonGroup = Group(CSIDL_COMMON_PROGRAMS);
    CreateDirectoryW(commonGroup.c_str(), nullptr);
    const std::wstring linkedDesktop = outside / L"linked_desktop";
    {
        LinuxLinks links;
        const auto makeLink = [&links](const std::wstring& target, const std::wstring& link) {
            return links.Make(UnixName(target), UnixName(link), link, false);
        };
        // The user's group and desktop folders lead elsewhere; in the
        // all-users group an old file and a shortcut name are file links, and
        // so is the shortcut on the all-users desktop.
        ASSERT_TRUE(makeLink(behindGroup, Group(CSIDL_PROGRAMS)));
        ASSERT_TRUE(makeLink(behindDesktop, linkedDesktop));
        ASSERT_TRUE(makeLink(outside / L"file.txt", commonGroup + L"\\old.txt"));
        ASSERT_TRUE(makeLink(outside / L"link.txt", commonGroup + L"\\Velnox.lnk"));
        ASSERT_TRUE(makeLink(outside / L"link.txt", Link(CSIDL_COMMON_DESKTOPDIRECTORY)));
        SavedUserValue desktop;
        desktop.Swap(kUserShellFolders, L"Desktop", REG_EXPAND_SZ, linkedDesktop);
        Update(true, true, true);
        Update(false, false, false);
        desktop.Restore();
        EXPECT_TRUE(Exists(commonGroup)) << "a group with a link in it stays";
        EXPECT_FALSE(Exists(Link(CSIDL_COMMON_STARTMENU)));
    }
    for (const std::wstring& canary : canaries)
        EXPECT_EQ("canary", Content(canary)) << std::string(canary.begin(), canary.end());
    ShellDeleteFolder(commonGroup.c_str());
    EXPECT_FALSE(Exists(commonGroup)) << "once the links are gone, the group goes too";
}

TEST_F(ShortcutsTest, TranslatedNamesThatNameMoreThanOneFileFallBackToTheProgramsOwn)
{
    const std::wstring help = ResourceText(ProgramModule, MSG_LINK_HELP),
                       fourthFile = ResourceText(ProgramModule, MSG_LINK_FOURTH_FILE);
    std::wstring escaped = ShellFolder(CSIDL_COMMON_PROGRAMS);
    escaped = escaped.substr(0, 3) + L"escaped_help.lnk";
    ASSERT_TRUE(WriteBytes(Install / L"notepad.exe", ""));
    const struct
    {
        const char* Translation;
        bool Kept;
    } rows[] = {
        {"..\\..\\..\\..\\..\\..\\..\\..\\..\\escaped_help", false},
        {"..\\notepad.exe", false},
        {"sub/name", false},
        {"C:name", false},
        {"NUL", false},
        {"com1.txt", false},
        {"Con .txt", false},
        {"bell\x07name", false},
        {"dots..", false},
        {"trailing.", false},
        {"Hilfe und mehr", true},
    };
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); ++row)
    {
        const std::wstring lng = Install / L"uninstall.lng";
        EXPECT_TRUE(WriteBytes(lng, "***messages***\r\n" +
                                        Entry(help.c_str(), rows[row].Translation) + "\r\n" +
                                        Entry(fourthFile.c_str(), rows[row].Translation) + "\r\n"));
        ASSERT_TRUE(LanguageFile.Load(lng.c_str())) << "row " << row;
        Update(false, false, true);
        ResetLanguage();

        const std::string translation = rows[row].Translation;
        const std::wstring helpName =
            rows[row].Kept ? std::wstring(translation.begin(), translation.end()) : help;
        std::vector<std::wstring> expected = {L"Velnox.lnk", helpName + L".lnk",
                                              Named(MSG_LINK_README)};
        // The fourth link's target is the translated file, which a kept
        // name does not find in the program folder.
        if (!rows[row].Kept)
            expected.push_back(Named(MSG_LINK_FOURTH));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, FilesIn(Group(CSIDL_COMMON_PROGRAMS))) << "row " << row;
        if (!rows[row].Kept)
        {
            EXPECT_EQ(Install / fourthFile.c_str(),
                      ReadLink(Group(CSIDL_COMMON_PROGRAMS) + L"\\" + Named(MSG_LINK_FOURTH))
                          .substr(0, Install.Path().size() + 1 + fourthFile.size()))
                << "row " << row;
        }
        EXPECT_FALSE(Exists(escaped)) << "row " << row;
        DeleteFileW(escaped.c_str());
    }
}

TEST(ShellFolder, FailuresLeaveTheMarkerText)
{
    const struct
    {
        size_t Capacity;
        int Csidl;
        const wchar_t* Text;
    } rows[] = {
        {MAX_PATH - 1, CSIDL_PROGRAMS, L"unknown_folder"},
        {8, CSIDL_PROGRAMS, L"unknown"},
        {MAX_PATH, 0x7f, L"unknown_folder"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
    {
        wchar_t buffer[MAX_PATH + 1];
        std::fill(buffer, buffer + MAX_PATH + 1, L'\xBDBD');
        EXPECT_FALSE(GetShellFolder(buffer, rows[i].Capacity, rows[i].Csidl)) << "row " << i;
        EXPECT_STREQ(rows[i].Text, buffer) << "row " << i;
        EXPECT_EQ(L'\xBDBD', buffer[rows[i].Capacity]) << "row " << i;
    }
    wchar_t folder[MAX_PATH];
    EXPECT_TRUE(GetShellFolder(folder, CSIDL_COMMON_PROGRAMS));
    EXPECT_EQ(ShellFolder(CSIDL_COMMON_PROGRAMS), folder);
}

// This Wine makes no junctions, so the reparse flag is added to what this
// binary's own import of GetFileAttributesW answers for one path.
typedef DWORD(WINAPI* AttributesFn)(LPCWSTR);
AttributesFn realAttributes = nullptr;
std::wstring fakedJunction;

DWORD WINAPI AttributesWithJunction(LPCWSTR name)
{
    DWORD attributes = realAttributes(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && lstrcmpiW(name, fakedJunction.c_str()) == 0)
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

void* SwapKernelImport(const char* function, void* replacement)
{
    return SwapImport("kernel32.dll", function, replacement);
}

TEST(ShellDeleteFolder, DeletesFoldersOnlyAndNeverAJunction)
{
    ScratchDir scratch(L"delete");
    const std::wstring plain = scratch / L"plain", junction = scratch / L"junction",
                       file = scratch / L"file.txt";
    for (const std::wstring& folder : {plain, plain + L"\\Sub", junction})
        CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(plain + L"\\Sub\\locked.txt", ""));
    SetFileAttributesW((plain + L"\\Sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteBytes(junction + L"\\target.txt", ""));
    ASSERT_TRUE(WriteBytes(file, ""));

    fakedJunction = junction;
    realAttributes = reinterpret_cast<AttributesFn>(
        SwapKernelImport("GetFileAttributesW", reinterpret_cast<void*>(&AttributesWithJunction)));
    ASSERT_NE(nullptr, realAttributes);
    ShellDeleteFolder(junction.c_str());
    ShellDeleteFolder(file.c_str());
    ShellDeleteFolder((scratch / L"missing").c_str());
    ShellDeleteFolder(plain.c_str());
    SwapKernelImport("GetFileAttributesW", reinterpret_cast<void*>(realAttributes));

    EXPECT_TRUE(Exists(junction + L"\\target.txt"));
    EXPECT_TRUE(Exists(file));
    EXPECT_FALSE(Exists(plain));
}

} // namespace
