// uninstall.exe /setup run as its own process from a scratch installation
// folder, its dialogs answered from here.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "endtoend/setup_dialogs.h"
#include "resources/resource.h"
#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"

namespace
{

const wchar_t kEntryKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";
const wchar_t kMenuItemsKey[] = L"Software\\Velnox\\Setup\\MenuItems";

DWORD RawNumber(HKEY root, const wchar_t* path, const wchar_t* name)
{
    DWORD value = 0xFFFFFFFF, size = sizeof(value);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        RegQueryValueExW(key, name, nullptr, nullptr, (BYTE*)&value, &size);
        RegCloseKey(key);
    }
    return value;
}

class SetupRoad : public testing::Test, public ProgramCopy
{
protected:
    SetupRoad() : ProgramCopy(L"setup") {}
    void SetUp() override
    {
        Clean();
        ASSERT_TRUE(Ready());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"sfxname", nullptr);
        Clean();
    }
    static void Clean()
    {
        for (const wchar_t* key : {L".vnx", L".zip", L"Velnox", L"Velnox.ZIP"})
            RemoveRegistryTree(HKEY_CLASSES_ROOT, key);
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntryKey);
    }
    // Links and the program group stay out of the shell folders. Started
    // from another folder than its own, as an installer may start it.
    bool Start(ChildProcess& child, const wchar_t* options)
    {
        return child.Start(L"\"" + Exe + L"\" /setup /noexplorer " + options,
                           Elsewhere.Path().c_str());
    }
    ScratchDir Elsewhere{L"elsewhere"};
};

TEST_F(SetupRoad, DialogsDrivenThroughToTheEnd)
{
    ChildProcess child;
    ASSERT_TRUE(Start(child, L"/initA10D0M0P0S0"));
    HWND settings = child.FindDialog(30000);
    ASSERT_NE(nullptr, settings);
    ASSERT_NE(nullptr, GetDlgItem(settings, IDC_SETUP_INFO));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(settings, IDC_ASSOC_VNX));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(settings, IDC_ASSOC_ZIP));
    SendDlgItemMessageW(settings, IDC_ASSOC_ZIP, BM_CLICK, 0, 0);
    HWND done = nullptr;
    ASSERT_NO_FATAL_FAILURE(AcceptWithContextItems(child, settings, L"*.img", done));
    wchar_t shown[MAX_PATH] = L"";
    GetDlgItemTextW(done, IDC_DONE_FOLDER, shown, MAX_PATH);
    EXPECT_EQ(0, lstrcmpiW(Folder.Path().c_str(), shown))
        << "the program's folder, not the current directory; shown: " << shown;
    PostMessageW(done, WM_COMMAND, IDOK, 0);
    ASSERT_NO_FATAL_FAILURE(AnswerNotice(*this, child, done));
    EXPECT_EQ(0, child.Wait(30000));

    EXPECT_EQ(L"Velnox", RawString(HKEY_CLASSES_ROOT, L".vnx", nullptr));
    EXPECT_EQ(L"Velnox.ZIP", RawString(HKEY_CLASSES_ROOT, L".zip", nullptr));
    EXPECT_EQ(1u, RawNumber(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup\\.zip", L"Set"));
    EXPECT_EQ(1u, RawNumber(HKEY_CURRENT_USER, kMenuItemsKey, L"Test"));
    EXPECT_EQ(L"*.img", RawString(HKEY_CURRENT_USER, kMenuItemsKey, L"AlwaysArc"));
    EXPECT_NE(L"<no key>", RawString(HKEY_LOCAL_MACHINE, kEntryKey, L"DisplayName"));
}

// The settings file beside the installer is copied before the first setting
// is read: the previous owners are kept in it, and the uninstall that reads
// it gives them back.
TEST_F(SetupRoad, SilentMsiSetupShowsNothingWritesNoEntryAndCopiesTheSettingsFile)
{
    ScratchDir archive(L"sfx");
    WriteBytes(archive / L"Velnox.ini", "First=1\r\n");
    SetEnvironmentVariableW(L"sfxname", (archive / L"setup.exe").c_str());
    RawSetString(HKEY_CLASSES_ROOT, L".vnx", nullptr, L"Other.vnx");
    {
        ChildProcess child;
        ASSERT_TRUE(Start(child, L"/msi /S /initA1D0M0P0S0"));
        EXPECT_EQ(0, child.Wait(30000)) << "a dialog or a notice was left open";
    }
    EXPECT_EQ(L"Velnox", RawString(HKEY_CLASSES_ROOT, L".vnx", nullptr));
    EXPECT_EQ(L"<no key>", RawString(HKEY_LOCAL_MACHINE, kEntryKey, L"DisplayName"));
    EXPECT_FALSE(Exists(Elsewhere / L"velnox.ini")) << "copied into the current directory";
    const std::string bytes = ReadBytes(Folder / L"velnox.ini");
    const std::wstring settings =
        bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE'
            ? std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2),
                           (bytes.size() - 2) / 2)
            : std::wstring(bytes.begin(), bytes.end());
    EXPECT_NE(std::wstring::npos, settings.find(L"First=1")) << "the copied file is the one kept";
    EXPECT_NE(std::wstring::npos, settings.find(L"Other.vnx")) << "no previous owner in the file";
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox\\Setup"))
        << "the previous owner went to the registry";

    ASSERT_TRUE(WriteBytes(Folder / L"Uninstall.lst", "velnox.ini\r\nuninstall.exe\r\n"));
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(L"\"" + Exe + L"\" /S", Folder.Path().c_str()));
        EXPECT_EQ(0, child.Wait(30000)) << "a box was left open";
    }
    EXPECT_TRUE(WaitForCleanup());
    EXPECT_EQ(L"Other.vnx", RawString(HKEY_CLASSES_ROOT, L".vnx", nullptr));
}

// Cancelled, setup leaves the installation as it found it: the settings file
// it copied from beside the installer goes, one that was there stays.
TEST_F(SetupRoad, CancelLeavesNoCopiedSettingsFile)
{
    ScratchDir archive(L"sfx");
    WriteBytes(archive / L"Velnox.ini", "HKCU\\Setup\\ShellExt=1\r\n");
    SetEnvironmentVariableW(L"sfxname", (archive / L"setup.exe").c_str());
    const struct
    {
        const char* Before; // "velnox.ini" in the program folder, or null
    } rows[] = {{nullptr}, {"Mine=1\r\n"}};
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        DeleteFileW((Folder / L"velnox.ini").c_str());
        if (rows[row].Before)
        {
            ASSERT_TRUE(WriteBytes(Folder / L"velnox.ini", rows[row].Before));
        }
        ChildProcess child;
        ASSERT_TRUE(Start(child, L"/initA10D0M0P0S0"));
        HWND settings = child.FindDialog(30000);
        ASSERT_NE(nullptr, settings) << "row " << row;
        PostMessageW(settings, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(1, child.Wait(30000)) << "row " << row;
        // One that was there is the user's: it stays with its settings (the
        // run may write it back in its own form).
        const std::string bytes = ReadBytes(Folder / L"velnox.ini");
        const std::string plain = bytes.size() > 2 && bytes[0] == '\xFF'
                                      ? std::string(bytes.begin() + 2, bytes.end())
                                      : bytes;
        std::string narrow;
        for (char c : plain)
            if (c != 0)
                narrow += c;
        if (rows[row].Before)
        {
            EXPECT_NE(std::string::npos, narrow.find("Mine=1")) << "row " << row;
        }
        else
        {
            EXPECT_FALSE(Exists(Folder / L"velnox.ini")) << "row " << row;
        }
        EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"Velnox")) << "row " << row;
    }
    DeleteFileW((Folder / L"velnox.ini").c_str());
}

} // namespace
