// The portable settings file: where it is found, how it is parsed and written
// back, how it routes the store's requests, and that a write-back never
// loses the file.
#include "files/file_system.h"
#include "settings/portable_settings.h"
#include "settings/scratch_files.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

const wchar_t* const kClassesSandbox = L"VelnoxPortableTest";

std::wstring Mark()
{
    return std::wstring(1, wchar_t(0xFEFF));
}

// The file as the writer must produce it: mark, then lines ended by CR LF.
std::string SettingsBytes(const std::vector<std::wstring>& lines)
{
    std::wstring text = Mark();
    for (const std::wstring& line : lines)
        text += line + L"\r\n";
    return Utf16Bytes(text);
}

void RemoveRegistryTree(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        std::vector<std::wstring> children;
        for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS;
             ++i, length = ARRAYSIZE(name))
            children.push_back(path + L"\\" + name);
        RegCloseKey(key);
        for (const std::wstring& child : children)
            RemoveRegistryTree(root, child);
    }
    RegDeleteKeyW(root, path.c_str());
}

bool RawKeyExists(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring RawString(HKEY root, const wchar_t* path, const wchar_t* name)
{
    wchar_t value[64] = {0};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"<no key>";
    LONG status =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : L"<no value>";
}

std::wstring UserString(const wchar_t* subkey, const wchar_t* name)
{
    static wchar_t value[4096];
    EXPECT_TRUE(GetUserString(subkey, name, value, L"<default>"));
    return value;
}

class PortableSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FreePortableSettings();
        folder_ = ScratchFolder(L"VelnoxPortableTest");
        path_ = folder_ + L"Velnox.ini";
        DeleteFileW(path_.c_str());
        CleanRegistry();
    }
    void TearDown() override
    {
        FreePortableSettings();
        DeleteFileW(path_.c_str());
        CleanRegistry();
    }
    static void CleanRegistry()
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\VelnoxPortableTest");
        RemoveRegistryTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    }
    // Loads a file of these lines as the process's settings file.
    void Load(const std::vector<std::wstring>& lines)
    {
        ASSERT_TRUE(WriteBytes(path_, SettingsBytes(lines)));
        FreePortableSettings();
        ASSERT_TRUE(LoadPortableSettingsFile(path_.c_str()));
    }
    void SaveAndReload()
    {
        ASSERT_TRUE(SavePortableSettings());
        FreePortableSettings();
        ASSERT_TRUE(LoadPortableSettingsFile(path_.c_str()));
    }
    std::string FileBytes() const { return ReadBytes(path_); }

    std::wstring folder_;
    std::wstring path_;
};

} // namespace

TEST_F(PortableSettingsTest, FileBesideTheProgramWinsOverThePerUserOne)
{
    wchar_t appData[SettingsPathCapacity];
    const bool hadAppData = GetDefaultAppDataFolder(appData);
    const std::wstring programFolder = folder_ + L"program";
    const std::wstring program = programFolder + L"\\uninstall.exe";
    const std::wstring beside = programFolder + L"\\Velnox.ini";
    const std::wstring perUser = std::wstring(appData) + L"\\Velnox.ini";
    CreateDirectoryW(programFolder.c_str(), nullptr);
    wchar_t found[SettingsPathCapacity];

    // Neither: no file, and the per-user folder is not made by looking.
    if (!hadAppData)
    {
        EXPECT_FALSE(LocatePortableSettings(program.c_str(), found));
        EXPECT_STREQ(L"", found);
        EXPECT_FALSE(PathExists(appData));
        ASSERT_TRUE(CreateDirectoryW(appData, nullptr));
    }
    ASSERT_TRUE(WriteBytes(perUser, SettingsBytes({L"HKCU\\Where=user"})));
    EXPECT_TRUE(LocatePortableSettings(program.c_str(), found));
    EXPECT_EQ(perUser, found);

    ASSERT_TRUE(WriteBytes(beside, SettingsBytes({L"HKCU\\Where=beside"})));
    EXPECT_TRUE(LocatePortableSettings(program.c_str(), found));
    EXPECT_EQ(beside, found);

    DeleteFileW(beside.c_str());
    DeleteFileW(perUser.c_str());
    RemoveDirectoryW(programFolder.c_str());
    if (!hadAppData)
        RemoveDirectoryW(appData);

    wchar_t self[SettingsPathCapacity];
    ASSERT_TRUE(GetProgramPath(self));
    EXPECT_EQ(0, lstrcmpiW(L"test_settings.exe", wcsrchr(self, L'\\') + 1)) << self;
}

TEST_F(PortableSettingsTest, EmptyFileIsWrittenBackWithItsSwitches)
{
    ASSERT_TRUE(WriteBytes(path_, ""));
    ASSERT_TRUE(LoadPortableSettingsFile(path_.c_str()));
    EXPECT_TRUE(IsIntegrationEnabled());
    ASSERT_TRUE(SavePortableSettings());
    EXPECT_EQ(
        SettingsBytes({L"Global\\AppData=1", L"Global\\Integration=1", L"Global\\SaveSettings=1"}),
        FileBytes());
    EXPECT_FALSE(PathExists(path_ + L".new"));
}

TEST_F(PortableSettingsTest, ValuesSurviveWriteBackAndReload)
{
    Load({});
    const wchar_t* strings[] = {
        L"trailing  ", L"\"start",  L"end\"", L"in\"side", L"\"",
        L"",           L"bin:kept", L"a=b",   L"  lead",
    };
    const uint32_t ints[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (size_t i = 0; i < ARRAYSIZE(strings); ++i)
        EXPECT_EQ(0, SetUserString(L"Strings", std::to_wstring(i).c_str(), strings[i]))
            << "row " << i;
    for (size_t i = 0; i < ARRAYSIZE(ints); ++i)
        EXPECT_EQ(0, SetUserInt(L"Ints", std::to_wstring(i).c_str(), ints[i])) << "row " << i;
    EXPECT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"", L"exe32", L"machine"));

    SaveAndReload();
    for (size_t i = 0; i < ARRAYSIZE(strings); ++i)
        EXPECT_EQ(strings[i], UserString(L"Strings", std::to_wstring(i).c_str())) << "row " << i;
    for (size_t i = 0; i < ARRAYSIZE(ints); ++i)
        EXPECT_EQ(ints[i], GetUserInt(L"Ints", std::to_wstring(i).c_str(), 12345)) << "row " << i;
    EXPECT_EQ(12345u, GetUserInt(L"Ints", L"missing", 12345));
    wchar_t text[16];
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, L"", L"exe32", text, L""));
    EXPECT_STREQ(L"machine", text);

    // Integers are unsigned decimal; strings are quoted.
    const std::string bytes = FileBytes();
    EXPECT_NE(std::string::npos, bytes.find(Utf16Bytes(L"\r\nHKCU\\Ints\\4=4294967295\r\n")));
    EXPECT_NE(std::string::npos, bytes.find(Utf16Bytes(L"\r\nHKLM\\exe32=\"machine\"\r\n")));
    // Nothing reached the registry.
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Velnox"));
}

TEST_F(PortableSettingsTest, HandWrittenLines)
{
    Load({
        L"HKCU\\Setup\\Split=b=c",
        L" HKCU\\Setup\\Space=1",
        L"[Section]",
        L";HKCU\\Setup\\Comment=1",
        L"HKCU\\Setup\\NoEquals",
        L"1HKCU\\Setup\\Digit=1",
        L"HKCU\\Setup\\Bin=bin:00ff",
        L"HKCU\\Setup\\Open=\"open",
        L"HKCU\\Setup\\Name=with=equals=x",
        L"HKCU\\Zdup\\v=first",
        L"HKCU\\Zdup\\v=second",
    });
    EXPECT_EQ(L"b=c", UserString(L"Setup", L"Split"));
    EXPECT_EQ(L"00ff", UserString(L"Setup", L"Bin"));
    EXPECT_EQ(L"open", UserString(L"Setup", L"Open"));
    EXPECT_EQ(L"first", UserString(L"Zdup", L"v"));
    EXPECT_EQ(L"<default>", UserString(L"Setup", L"Comment"));

    // The first of two equal names is the one changed.
    EXPECT_EQ(0, SetUserInt(L"Zdup", L"v", 7));
    ASSERT_TRUE(SavePortableSettings());
    const std::string bytes = FileBytes();
    const bool eitherOrder =
        bytes.find(Utf16Bytes(L"HKCU\\Zdup\\v=7\r\nHKCU\\Zdup\\v=second\r\n")) !=
            std::string::npos ||
        bytes.find(Utf16Bytes(L"HKCU\\Zdup\\v=second\r\nHKCU\\Zdup\\v=7\r\n")) != std::string::npos;
    EXPECT_TRUE(eitherOrder);
    // Ignored lines are gone; the rest is sorted, with its decoration.
    const std::string rest = SettingsBytes({
        L"Global\\AppData=1",
        L"Global\\Integration=1",
        L"Global\\SaveSettings=1",
        L"HKCU\\Setup\\Bin=bin:00ff",
        L"HKCU\\Setup\\Name=with=equals=x",
        L"HKCU\\Setup\\Open=\"open\"",
        L"HKCU\\Setup\\Split=b=c",
    });
    EXPECT_NE(std::string::npos, bytes.find(rest.substr(2)));
    EXPECT_EQ(std::string::npos, bytes.find(Utf16Bytes(L"Section")));
    EXPECT_EQ(std::string::npos, bytes.find(Utf16Bytes(L"Space")));
    EXPECT_EQ(std::string::npos, bytes.find(Utf16Bytes(L"Digit")));
    EXPECT_EQ(std::string::npos, bytes.find(Utf16Bytes(L"NoEquals")));
}

TEST_F(PortableSettingsTest, LineBreaksInAValueCannotMakeAnotherEntry)
{
    Load({L"HKCU\\Setup\\ShellExt=1"});
    EXPECT_EQ(0, SetUserString(L"General", L"Text", L"x\nHKCU\\Setup\\ShellExt=0"));
    EXPECT_EQ(0, SetUserString(L"General", L"Other", L"y\rHKCU\\Setup\\ShellExt=0"));
    EXPECT_EQ(0, SetUserInt(L"General", L"z\nHKCU\\Setup\\ShellExt", 0));
    SaveAndReload();
    EXPECT_EQ(1u, GetUserInt(L"Setup", L"ShellExt", 5));
    EXPECT_EQ(L"x", UserString(L"General", L"Text"));
    EXPECT_EQ(L"y", UserString(L"General", L"Other"));
}

TEST_F(PortableSettingsTest, RequestsAreRoutedToTheFileOrTheRegistry)
{
    Load({L"HKCU\\Setup\\Existing=1"});
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L""));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Other"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L""));

    EXPECT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxPortableTest", L"v", L"abs"));
    EXPECT_EQ(0, SetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"", L"class"));
    EXPECT_EQ(L"abs", RawString(HKEY_LOCAL_MACHINE, L"Software\\VelnoxPortableTest", L"v"));
    EXPECT_EQ(L"class", RawString(HKEY_CLASSES_ROOT, kClassesSandbox, L""));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));

    // A value of a key, or the key with all its subkeys.
    EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Desktop", 1));
    EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Menu", 1));
    DeleteValue(HKEY_CURRENT_USER, L"Setup\\Links", L"Desktop");
    EXPECT_EQ(9u, GetUserInt(L"Setup\\Links", L"Desktop", 9));
    EXPECT_EQ(1u, GetUserInt(L"Setup\\Links", L"Menu", 9));
    DeleteKey(HKEY_CURRENT_USER, L"Setup");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_EQ(9u, GetUserInt(L"Setup\\Links", L"Menu", 9));
}

TEST_F(PortableSettingsTest, TreeDeletionOfTheUserRootLeavesOtherEntries)
{
    Load({L"HKCU\\a=1", L"HKCU\\Setup\\b=2", L"HKLM\\c=3", L"HKCUX\\d=4", L"Other=5"});
    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    ASSERT_TRUE(SavePortableSettings());
    EXPECT_EQ(SettingsBytes({L"Global\\AppData=1", L"Global\\Integration=1",
                             L"Global\\SaveSettings=1", L"HKCUX\\d=4", L"HKLM\\c=3", L"Other=5"}),
              FileBytes());
}

TEST_F(PortableSettingsTest, IntegrationSwitchedOffDropsEveryRegistryRequest)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, kClassesSandbox, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"old"), 8);
    RegCloseKey(key);

    Load({L"Global\\Integration=0"});
    EXPECT_FALSE(IsIntegrationEnabled());
    EXPECT_EQ(0, SetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", L"new"));
    EXPECT_EQ(0, SetInt(HKEY_CLASSES_ROOT, kClassesSandbox, L"n", 1));
    EXPECT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"\\Software\\VelnoxPortableTest", L"v", L"x"));
    EXPECT_EQ(L"old", RawString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v"));
    EXPECT_EQ(L"<no value>", RawString(HKEY_CLASSES_ROOT, kClassesSandbox, L"n"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\VelnoxPortableTest"));

    wchar_t text[16];
    EXPECT_TRUE(GetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", text, L"def"));
    EXPECT_STREQ(L"def", text);
    EXPECT_EQ(77u, GetInt(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", 77));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));

    DeleteValue(HKEY_CLASSES_ROOT, kClassesSandbox, L"v");
    DeleteKey(HKEY_CLASSES_ROOT, kClassesSandbox);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    EXPECT_EQ(L"old", RawString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v"));

    // The archiver's own settings still live in the file.
    EXPECT_EQ(0, SetUserInt(L"Setup", L"ShellExt", 1));
    EXPECT_EQ(1u, GetUserInt(L"Setup", L"ShellExt", 0));
    ASSERT_TRUE(SavePortableSettings());
    EXPECT_NE(std::string::npos, FileBytes().find(Utf16Bytes(L"Global\\Integration=0\r\n")));
}

TEST_F(PortableSettingsTest, SaveSettingsSwitchedOffLeavesTheFileAlone)
{
    Load({L"Global\\SaveSettings=00", L"HKCU\\Setup\\a=1"});
    const std::string before = FileBytes();
    EXPECT_EQ(0, SetUserInt(L"Setup", L"a", 2));
    EXPECT_EQ(2u, GetUserInt(L"Setup", L"a", 0));
    EXPECT_FALSE(SavePortableSettings());
    EXPECT_EQ(before, FileBytes());
    EXPECT_FALSE(PathExists(path_ + L".new"));
}

TEST(PortableSettingsFullDisk, FailedWriteBackKeepsTheOldFile)
{
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExW(L"T:\\", &available, &total, &free) || total.QuadPart > 1024 * 1024)
        GTEST_SKIP() << "no small volume as drive T: in this prefix (see make-prefixes.sh)";

    const std::wstring path = L"T:\\Velnox.ini";
    const std::wstring filler = L"T:\\filler.bin";
    DeleteFileW(filler.c_str());
    FreePortableSettings();
    ASSERT_TRUE(WriteBytes(path, SettingsBytes({L"HKCU\\Setup\\Keep=\"me\""})));
    ASSERT_TRUE(LoadPortableSettingsFile(path.c_str()));
    ASSERT_TRUE(SavePortableSettings());
    const std::string before = ReadBytes(path);

    // Fill the volume to its last byte.
    HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    static char block[4096];
    for (DWORD size = sizeof(block); size > 0; size /= 2)
    {
        DWORD written = 0;
        while (WriteFile(file, block, size, &written, nullptr) && written == size)
        {
        }
    }
    CloseHandle(file);

    EXPECT_EQ(0, SetUserString(L"Setup", L"Big", std::wstring(3000, L'b').c_str()));
    EXPECT_FALSE(SavePortableSettings());
    EXPECT_EQ(before, ReadBytes(path));
    EXPECT_FALSE(PathExists(path + L".new"));

    // With room again the same image is written.
    DeleteFileW(filler.c_str());
    EXPECT_TRUE(SavePortableSettings());
    FreePortableSettings();
    ASSERT_TRUE(LoadPortableSettingsFile(path.c_str()));
    EXPECT_EQ(std::wstring(3000, L'b'), UserString(L"Setup", L"Big"));
    EXPECT_EQ(L"me", UserString(L"Setup", L"Keep"));
    FreePortableSettings();
    DeleteFileW(path.c_str());
}

// Run only as the child of the test below: changes a setting and leaves the
// image loaded, as the program does, for the process exit to write it back.
TEST(PortableSettingsAtExit, DISABLED_ChildChangesASetting)
{
    wchar_t path[SettingsPathCapacity];
    ASSERT_NE(0u, GetEnvironmentVariableW(L"VNX_SETTINGS_CHILD_FILE", path, ARRAYSIZE(path)));
    FreePortableSettings();
    ASSERT_TRUE(LoadPortableSettingsFile(path));
    EXPECT_EQ(0, SetUserInt(L"Setup", L"AtExit", 42));
}

TEST(PortableSettingsAtExit, ImageIsWrittenBackWhenTheProcessEnds)
{
    const std::wstring path = ScratchFolder(L"VelnoxPortableTest") + L"AtExit.ini";
    ASSERT_TRUE(WriteBytes(path, ""));
    wchar_t self[SettingsPathCapacity];
    ASSERT_TRUE(GetProgramPath(self));
    std::wstring command = std::wstring(L"\"") + self +
                           L"\" --gtest_also_run_disabled_tests "
                           L"--gtest_filter=PortableSettingsAtExit.DISABLED_ChildChangesASetting";
    SetEnvironmentVariableW(L"VNX_SETTINGS_CHILD_FILE", path.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    SetEnvironmentVariableW(L"VNX_SETTINGS_CHILD_FILE", nullptr);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(SettingsBytes({L"Global\\AppData=1", L"Global\\Integration=1",
                             L"Global\\SaveSettings=1", L"HKCU\\Setup\\AtExit=42"}),
              ReadBytes(path));
    DeleteFileW(path.c_str());
}
