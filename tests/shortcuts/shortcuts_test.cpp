// Shortcuts and program groups made and removed in the prefix's real shell
// folders, read back through the shell's link object.
#include "files/path_names.h"
#include "integration/integration_options.h"
#include "integration/shortcuts.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "settings/portable_settings.h"
#include "startup/platform_probes.h"
#include "support/program_under_test.h"

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

const wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kDllOverrides[] = L"Software\\Wine\\DllOverrides";
const wchar_t kMenuBuilder[] = L"winemenubuilder.exe";

std::wstring Folder(int csidl)
{
    wchar_t path[MAX_PATH];
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return L"?";
    return path;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path.c_str();
    CloseHandle(file);
}

void RemoveTree(const std::wstring& path)
{
    if (!Exists(path))
        return;
    std::vector<wchar_t> from(path.begin(), path.end());
    from.push_back(0);
    from.push_back(0);
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&operation);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

struct LinkProperties
{
    bool Loaded = false;
    std::wstring Target, WorkingDir, Description, Icon;
    WORD Hotkey = 0;
};

LinkProperties ReadLink(const std::wstring& path)
{
    LinkProperties properties;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return properties;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
    {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ)))
        {
            properties.Loaded = true;
            wchar_t text[MAX_PATH * 2] = {};
            link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
            properties.Target = text;
            text[0] = 0;
            link->GetWorkingDirectory(text, MAX_PATH * 2);
            properties.WorkingDir = text;
            text[0] = 0;
            link->GetDescription(text, MAX_PATH * 2);
            properties.Description = text;
            text[0] = 0;
            int index = -1;
            link->GetIconLocation(text, MAX_PATH * 2, &index);
            properties.Icon = text;
            link->GetHotkey(&properties.Hotkey);
        }
        file->Release();
    }
    link->Release();
    return properties;
}

// The prefix's user desktop is a link to the Linux home, shared by both
// prefixes: the tests point it at a folder of this prefix instead, and keep
// the shell from mirroring every new shortcut into the Linux menus.
class ShellSandbox : public ::testing::Environment
{
public:
    void SetUp() override
    {
        OleInitialize(nullptr);
        ResourceModule = ProgramModule = LoadProgramResources();
        FreePortableSettings();
        Portable.Attempted = true;

        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, kDllOverrides, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        RegSetValueExW(key, kMenuBuilder, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                       sizeof(wchar_t));
        RegCloseKey(key);

        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        Desktop = std::wstring(temp) + L"vnx_user_desktop";
        CreateDirectoryW(Desktop.c_str(), nullptr);
        RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_ALL_ACCESS, &key);
        DWORD size = sizeof(SavedDesktop);
        if (RegQueryValueExW(key, L"Desktop", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(SavedDesktop), &size) != ERROR_SUCCESS)
            SavedDesktop[0] = 0;
        RegSetValueExW(key, L"Desktop", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(Desktop.c_str()),
                       static_cast<DWORD>((Desktop.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void TearDown() override
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS)
        {
            if (SavedDesktop[0])
                RegSetValueExW(key, L"Desktop", 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(SavedDesktop),
                               static_cast<DWORD>((wcslen(SavedDesktop) + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        RemoveTree(Desktop);
        ResourceModule = ProgramModule = nullptr;
        OleUninitialize();
    }

    static std::wstring Desktop;

private:
    wchar_t SavedDesktop[MAX_PATH] = {};
};
std::wstring ShellSandbox::Desktop;
[[maybe_unused]] ::testing::Environment* const sandbox =
    ::testing::AddGlobalTestEnvironment(new ShellSandbox);

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
            WriteFile(Install / name);
        WriteFile(Install / MessageText(MSG_LINK_FOURTH_FILE));
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
            DeleteFileW((Folder(csidl) + L"\\Velnox.lnk").c_str());
        RemoveTree(Group(CSIDL_PROGRAMS));
        RemoveTree(Group(CSIDL_COMMON_PROGRAMS));
    }
    static std::wstring Group(int csidl) { return Folder(csidl) + L"\\Velnox"; }
    static std::wstring Link(int csidl) { return Folder(csidl) + L"\\Velnox.lnk"; }
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

TEST_F(ShortcutsTest, SetupMakesAllUsersLinksAndBothGroups)
{
    const std::wstring userLink = ShellSandbox::Desktop + L"\\Velnox.lnk";
    WriteFile(userLink);
    const wchar_t icon[] = L"C:\\themes\\velnox.ico";
    Update(true, true, true, icon);

    EXPECT_FALSE(Exists(userLink)) << "a link on the user's own desktop is an older setup's";
    const std::wstring archiver = Install / L"Velnox.exe";
    const std::wstring comment = MessageText(MSG_LINK_COMMENT);
    LinkProperties desktop = ReadLink(Link(CSIDL_COMMON_DESKTOPDIRECTORY));
    ASSERT_TRUE(desktop.Loaded);
    EXPECT_EQ(archiver, desktop.Target);
    EXPECT_EQ(L"", desktop.WorkingDir);
    EXPECT_EQ(comment, desktop.Description);
    EXPECT_EQ(icon, desktop.Icon);
    LinkProperties start = ReadLink(Link(CSIDL_COMMON_STARTMENU));
    ASSERT_TRUE(start.Loaded);
    EXPECT_EQ(archiver, start.Target);
    EXPECT_EQ(ShellSandbox::Desktop, start.WorkingDir);
    EXPECT_EQ(icon, start.Icon);
    EXPECT_FALSE(Exists(Link(CSIDL_STARTMENU)));

    EXPECT_STREQ(Group(CSIDL_COMMON_PROGRAMS).c_str(), GroupPath);
    const struct
    {
        std::wstring Name, Target, Icon;
    } expected[] = {
        {L"Velnox.lnk", archiver, icon},
        {Named(MSG_LINK_HELP), Install / L"Velnox.chm", L""},
        {Named(MSG_LINK_README), Install / L"Vnx.txt", L""},
        {Named(MSG_LINK_FOURTH), Install / MessageText(MSG_LINK_FOURTH_FILE), L""},
    };
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
        for (size_t i = 0; i < 4; ++i)
        {
            LinkProperties link = ReadLink(Group(csidl) + L"\\" + expected[i].Name);
            ASSERT_TRUE(link.Loaded) << "csidl " << csidl << " row " << i;
            EXPECT_EQ(expected[i].Target, link.Target) << "csidl " << csidl << " row " << i;
            EXPECT_EQ(expected[i].Icon, link.Icon) << "csidl " << csidl << " row " << i;
            EXPECT_EQ(ShellSandbox::Desktop, link.WorkingDir) << "csidl " << csidl << " row " << i;
            EXPECT_EQ(comment, link.Description) << "csidl " << csidl << " row " << i;
        }
}

TEST_F(ShortcutsTest, AllZeroRecordRemovesLinksAndGroups)
{
    Update(true, true, true);
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    {
        CreateDirectoryW((Group(csidl) + L"\\Sub").c_str(), nullptr);
        WriteFile(Group(csidl) + L"\\Sub\\notes.txt");
        WriteFile(Group(csidl) + L"\\locked.txt");
        SetFileAttributesW((Group(csidl) + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }

    Update(false, false, false);

    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_STARTMENU)));
    EXPECT_FALSE(Exists(Group(CSIDL_PROGRAMS)));
    EXPECT_FALSE(Exists(Group(CSIDL_COMMON_PROGRAMS)));
    EXPECT_EQ(L'\xBDBD', GroupPath[0]) << "no group, nothing reported";
}

TEST_F(ShortcutsTest, OlderGroupIsEmptiedOfFilesAndMissingTargetsAreSkipped)
{
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    {
        CreateDirectoryW(Group(csidl).c_str(), nullptr);
        CreateDirectoryW((Group(csidl) + L"\\Sub").c_str(), nullptr);
        WriteFile(Group(csidl) + L"\\Sub\\kept.txt");
        WriteFile(Group(csidl) + L"\\Old manual.lnk");
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
    // An earlier link of the user's, pointing elsewhere, with a hotkey and an icon.
    const std::wstring path = Link(CSIDL_COMMON_DESKTOPDIRECTORY);
    const WORD hotkey = MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT);
    {
        IShellLinkW* link = nullptr;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IShellLinkW,
                                                  reinterpret_cast<void**>(&link)));
        IPersistFile* file = nullptr;
        link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
        link->SetPath((Install / L"Vnx.txt").c_str());
        link->SetHotkey(hotkey);
        link->SetIconLocation(L"C:\\old.ico", 2);
        EXPECT_HRESULT_SUCCEEDED(file->Save(path.c_str(), TRUE));
        file->Release();
        link->Release();
    }

    // The program's own folder: the archiver is expected beside it.
    IntegrationOptions options = {};
    options.Desktop = true;
    UpdateShortcuts(options, nullptr, 0, nullptr);

    wchar_t self[kPathChars];
    GetModuleFileNameW(nullptr, self, kPathChars);
    std::wstring archiver(self);
    archiver = archiver.substr(0, archiver.find_last_of(L'\\') + 1) + L"Velnox.exe";
    LinkProperties rewritten = ReadLink(path);
    ASSERT_TRUE(rewritten.Loaded);
    EXPECT_EQ(archiver, rewritten.Target);
    EXPECT_EQ(hotkey, rewritten.Hotkey);
    EXPECT_EQ(L"", rewritten.Icon);
}

TEST_F(ShortcutsTest, OlderWindowsUsesTheUsersOwnFolders)
{
    PresetWindows(5, 1);
    Update(true, true, false);

    EXPECT_EQ(Install / L"Velnox.exe", ReadLink(ShellSandbox::Desktop + L"\\Velnox.lnk").Target);
    EXPECT_TRUE(ReadLink(Link(CSIDL_STARTMENU)).Loaded);
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_FALSE(Exists(Link(CSIDL_COMMON_STARTMENU)));

    Update(false, false, false);
    EXPECT_FALSE(Exists(ShellSandbox::Desktop + L"\\Velnox.lnk"));
    EXPECT_FALSE(Exists(Link(CSIDL_STARTMENU)));
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
    EXPECT_EQ(Folder(CSIDL_COMMON_PROGRAMS), folder);
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
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; imports.VirtualAddress && descriptor->Name; ++descriptor)
    {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), "kernel32.dll") != 0 ||
            descriptor->OriginalFirstThunk == 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots)
        {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                           &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection,
                           &protection);
            return previous;
        }
    }
    return nullptr;
}

TEST(ShellDeleteFolder, DeletesFoldersOnlyAndNeverAJunction)
{
    ScratchDir scratch(L"delete");
    const std::wstring plain = scratch / L"plain", junction = scratch / L"junction",
                       file = scratch / L"file.txt";
    for (const std::wstring& folder : {plain, plain + L"\\Sub", junction})
        CreateDirectoryW(folder.c_str(), nullptr);
    WriteFile(plain + L"\\Sub\\locked.txt");
    SetFileAttributesW((plain + L"\\Sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFile(junction + L"\\target.txt");
    WriteFile(file);

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
