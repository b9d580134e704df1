// The portable settings file: where it is found, how it is parsed and written
// back, how it routes the store's requests, and that a write-back never
// loses the file.
#include "files/file_system.h"
#include "settings/portable_settings.h"
#include "settings/settings_fixtures.h"
#include "settings/settings_store.h"
#include "support/host_links.h"
#include "support/import_patch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

const wchar_t* const kClassesSandbox = L"VelnoxPortableTest";
const wchar_t* const kMachineSandbox = L"\\Software\\VelnoxPortableTest";
const wchar_t* const kSwitches[] = {L"Global\\AppData=1", L"Global\\Integration=1",
                                    L"Global\\SaveSettings=1"};

// The bytes of a settings file: the mark, then lines ended by CR LF.
std::string SettingsBytes(std::vector<std::wstring> lines, bool withSwitches = false)
{
    if (withSwitches)
        lines.insert(lines.begin(), std::begin(kSwitches), std::end(kSwitches));
    std::wstring text(1, wchar_t(0xFEFF));
    for (const std::wstring& line : lines)
        text += line + L"\r\n";
    return Utf16Bytes(text);
}

std::wstring UserString(const wchar_t* subkey, const wchar_t* name)
{
    static wchar_t value[4096];
    EXPECT_TRUE(GetUserString(subkey, name, value, L"<default>"));
    return value;
}

bool Contains(const std::string& bytes, const std::wstring& text)
{
    return bytes.find(Utf16Bytes(text)) != std::string::npos;
}

class PortableSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FreePortableSettings();
        path_ = ScratchFolder() + L"Velnox.ini";
        Clean();
    }
    void TearDown() override
    {
        FreePortableSettings();
        Clean();
    }
    void Clean()
    {
        DeleteFileW(path_.c_str());
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kMachineSandbox + 1);
        RemoveRegistryTree(HKEY_CLASSES_ROOT, kClassesSandbox);
    }
    // Loads a file of these lines as the process's settings file.
    void Load(const std::vector<std::wstring>& lines)
    {
        ASSERT_TRUE(WriteBytes(path_, SettingsBytes(lines)));
        ASSERT_TRUE(LoadPortableSettingsFile(path_.c_str()));
    }
    void SaveAndReload()
    {
        ASSERT_TRUE(SavePortableSettings());
        FreePortableSettings();
        ASSERT_TRUE(LoadPortableSettingsFile(path_.c_str()));
    }
    std::string FileBytes() const { return ReadBytes(path_); }

    std::wstring path_;
};

} // namespace

TEST_F(PortableSettingsTest, FileBesideTheProgramWinsOverThePerUserOne)
{
    wchar_t appData[SettingsPathCapacity];
    wchar_t found[SettingsPathCapacity];
    const bool hadAppData = GetDefaultAppDataFolder(appData);
    const std::wstring folder = ScratchFolder() + L"program";
    const std::wstring program = folder + L"\\uninstall.exe";
    const std::wstring beside = folder + L"\\Velnox.ini";
    const std::wstring perUser = std::wstring(appData) + L"\\Velnox.ini";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!hadAppData)
    {
        // Looking does not make the per-user folder.
        EXPECT_FALSE(LocatePortableSettings(program.c_str(), found));
        EXPECT_STREQ(L"", found);
        EXPECT_FALSE(Exists(appData));
        ASSERT_TRUE(CreateDirectoryW(appData, nullptr));
    }
    ASSERT_TRUE(WriteBytes(perUser, ""));
    EXPECT_TRUE(LocatePortableSettings(program.c_str(), found));
    EXPECT_EQ(perUser, found);
    ASSERT_TRUE(WriteBytes(beside, ""));
    EXPECT_TRUE(LocatePortableSettings(program.c_str(), found));
    EXPECT_EQ(beside, found);

    DeleteFileW(beside.c_str());
    DeleteFileW(perUser.c_str());
    RemoveDirectoryW(folder.c_str());
    if (!hadAppData)
        RemoveDirectoryW(appData);
}

TEST_F(PortableSettingsTest, EmptyFileIsWrittenBackWithItsSwitches)
{
    Load({});
    EXPECT_TRUE(IsIntegrationEnabled());
    ASSERT_TRUE(SavePortableSettings());
    EXPECT_EQ(SettingsBytes({}, true), FileBytes());
    EXPECT_FALSE(Exists(path_ + L".new"));
}

TEST_F(PortableSettingsTest, ValuesSurviveWriteBackAndReload)
{
    Load({});
    const wchar_t* strings[] = {L"trailing  ", L"\"start", L"end\"", L"in\"side", L"\"",
                                L"",           L"bin:x",   L"a=b",   L"  lead"};
    const uint32_t ints[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (size_t i = 0; i < ARRAYSIZE(strings); ++i)
        EXPECT_EQ(0, SetUserString(L"S", std::to_wstring(i).c_str(), strings[i])) << "row " << i;
    for (size_t i = 0; i < ARRAYSIZE(ints); ++i)
        EXPECT_EQ(0, SetUserInt(L"I", std::to_wstring(i).c_str(), ints[i])) << "row " << i;
    EXPECT_EQ(0, SetString(HKEY_LOCAL_MACHINE, L"", L"exe32", L"machine"));

    SaveAndReload();
    for (size_t i = 0; i < ARRAYSIZE(strings); ++i)
        EXPECT_EQ(strings[i], UserString(L"S", std::to_wstring(i).c_str())) << "row " << i;
    for (size_t i = 0; i < ARRAYSIZE(ints); ++i)
        EXPECT_EQ(ints[i], GetUserInt(L"I", std::to_wstring(i).c_str(), 5)) << "row " << i;
    EXPECT_TRUE(Contains(FileBytes(), L"\nHKCU\\I\\4=4294967295\r\nHKCU\\S\\0=\""));
    EXPECT_TRUE(Contains(FileBytes(), L"\nHKLM\\exe32=\"machine\"\r\n"));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Velnox"));
}

TEST_F(PortableSettingsTest, HandWrittenLines)
{
    Load({L"HKCU\\a\\Split=b=c", L" HKCU\\a\\Space=1", L"[Section]", L";HKCU\\a\\Comment=1",
          L"HKCU\\a\\NoEquals", L"1HKCU\\a\\Digit=1", L"HKCU\\a\\Bin=bin:00ff",
          L"HKCU\\a\\Open=\"open", L"HKCU\\z\\v=first", L"HKCU\\z\\v=second"});
    EXPECT_EQ(L"b=c", UserString(L"a", L"Split"));
    EXPECT_EQ(L"00ff", UserString(L"a", L"Bin"));
    EXPECT_EQ(L"open", UserString(L"a", L"Open"));
    EXPECT_EQ(L"first", UserString(L"z", L"v"));
    EXPECT_EQ(L"<default>", UserString(L"a", L"Comment"));
    // The first of two equal names is the one changed.
    EXPECT_EQ(0, SetUserInt(L"z", L"v", 7));

    ASSERT_TRUE(SavePortableSettings());
    const std::string bytes = FileBytes();
    const std::string head = SettingsBytes(
        {L"HKCU\\a\\Bin=bin:00ff", L"HKCU\\a\\Open=\"open\"", L"HKCU\\a\\Split=b=c"}, true);
    EXPECT_EQ(head, bytes.substr(0, head.size()));
    EXPECT_TRUE(bytes.substr(head.size()) == Utf16Bytes(L"HKCU\\z\\v=7\r\nHKCU\\z\\v=second\r\n") ||
                bytes.substr(head.size()) == Utf16Bytes(L"HKCU\\z\\v=second\r\nHKCU\\z\\v=7\r\n"));
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
    // An entry name of 1023 characters fills the name buffer.
    const std::wstring longKey(1016, L'k');
    Load({L"HKCU\\Setup\\Old=1", L"HKCU\\a=1", L"HKCU\\Setup\\b=2", L"HKLM\\c=3", L"HKCUX\\d=4",
          L"HKCU\\" + longKey + L"\\v=5"});
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Other"));
    EXPECT_EQ(0, SetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"v", L"abs"));
    EXPECT_EQ(0, SetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"", L"class"));
    EXPECT_EQ(L"abs", RawString(HKEY_LOCAL_MACHINE, kMachineSandbox + 1, L"v"));
    EXPECT_EQ(L"class", RawString(HKEY_CLASSES_ROOT, kClassesSandbox, L""));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassesSandbox));

    EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Desktop", 1));
    EXPECT_EQ(0, SetUserInt(L"Setup\\Links", L"Menu", 1));
    DeleteValue(HKEY_CURRENT_USER, L"Setup\\Links", L"Desktop");
    EXPECT_EQ(9u, GetUserInt(L"Setup\\Links", L"Desktop", 9));
    EXPECT_EQ(1u, GetUserInt(L"Setup\\Links", L"Menu", 9));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    // Cut to the buffer, the name of a key below would be that entry's.
    DeleteKeyTree(HKEY_CURRENT_USER, (longKey + L"\\vw").c_str());
    EXPECT_EQ(5u, GetUserInt(longKey.c_str(), L"v", 9));

    // The whole user root: every "HKCU\" entry, nothing else; the registry's
    // settings key is not the file's and stays.
    RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
    DeleteKeyTree(HKEY_CURRENT_USER, L"");
    ASSERT_TRUE(SavePortableSettings());
    EXPECT_EQ(SettingsBytes({L"HKCUX\\d=4", L"HKLM\\c=3"}, true), FileBytes());
    EXPECT_EQ(L"x", RawString(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker"));
}

TEST_F(PortableSettingsTest, IntegrationSwitchedOffDropsEveryRegistryRequest)
{
    RawSet(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", REG_SZ, L"old", 8);
    Load({L"Global\\Integration=0"});
    EXPECT_FALSE(IsIntegrationEnabled());
    EXPECT_EQ(0, SetString(HKEY_CLASSES_ROOT, kClassesSandbox, L"v", L"new"));
    EXPECT_EQ(0, SetInt(HKEY_CLASSES_ROOT, kClassesSandbox, L"n", 1));
    EXPECT_EQ(0, SetString(HKEY_LOCAL_MACHINE, kMachineSandbox, L"v", L"x"));
    EXPECT_EQ(L"<no value>", RawString(HKEY_CLASSES_ROOT, kClassesSandbox, L"n"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kMachineSandbox + 1));

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
    ASSERT_TRUE(SavePortableSettings());
    EXPECT_TRUE(Contains(FileBytes(), L"Global\\Integration=0\r\nGlobal\\SaveSettings=1\r\n"
                                      L"HKCU\\Setup\\ShellExt=1\r\n"));
}

TEST_F(PortableSettingsTest, SaveSettingsSwitchedOffLeavesTheFileAlone)
{
    Load({L"Global\\SaveSettings=00", L"HKCU\\Setup\\a=1"});
    const std::string before = FileBytes();
    EXPECT_EQ(0, SetUserInt(L"Setup", L"a", 2));
    EXPECT_EQ(2u, GetUserInt(L"Setup", L"a", 0));
    EXPECT_FALSE(SavePortableSettings());
    EXPECT_EQ(before, FileBytes());
}

// Flushes that fail on demand and record what the settings file held at the
// moment the new one was flushed.
typedef BOOL(WINAPI* FlushFn)(HANDLE);
FlushFn realFlush = nullptr;
bool flushFails = false;
std::wstring flushWatched;
std::string flushSaw;
BOOL WINAPI WatchedFlush(HANDLE file)
{
    flushSaw = ReadBytes(flushWatched);
    if (!flushFails)
        return realFlush(file);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The file is replaced whole once the new one is on the disk, or not at all;
// a link at its name or at the new file's is never written through.
TEST_F(PortableSettingsTest, WriteBackReplacesTheFileWholeOrNotAtAll)
{
    const std::wstring canary = ScratchFolder() + L"canary.txt";
    enum Planted
    {
        Nothing,
        HardLink,
        DanglingLink,
    };
    const struct
    {
        Planted What;
        const wchar_t* At;
        bool FlushFails;
        bool Saved;
    } rows[] = {
        {Nothing, L"", false, true},
        {HardLink, L"", false, true},
        {HardLink, L".new", false, true}, // left behind, the name of another file
        {DanglingLink, L".new", false, false},
        {Nothing, L"", true, false},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        Load({L"HKCU\\Setup\\a=1"});
        ASSERT_TRUE(WriteBytes(canary, "canary"));
        const std::wstring at = path_ + rows[row].At;
        LinuxLinks links;
        if (rows[row].What == HardLink)
        {
            DeleteFileW(at.c_str());
            ASSERT_TRUE(CreateHardLinkW(at.c_str(), canary.c_str(), nullptr)) << row;
        }
        else if (rows[row].What == DanglingLink)
        {
            ASSERT_TRUE(links.Make(UnixName(canary), UnixName(at), at, false)) << row;
            ASSERT_TRUE(DeleteFileW(canary.c_str()));
        }
        const std::string before = FileBytes();
        EXPECT_EQ(0, SetUserInt(L"Setup", L"a", 2));
        flushFails = rows[row].FlushFails;
        flushWatched = path_;
        flushSaw = "none";
        realFlush = reinterpret_cast<FlushFn>(
            SwapImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&WatchedFlush)));
        ASSERT_NE(nullptr, realFlush);
        EXPECT_EQ(rows[row].Saved, SavePortableSettings()) << "row " << row;
        SwapImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(realFlush));
        links.RemoveAll();

        EXPECT_EQ(rows[row].What == DanglingLink ? "" : "canary", ReadBytes(canary))
            << "row " << row;
        EXPECT_FALSE(Exists(path_ + L".new")) << "row " << row;
        if (rows[row].Saved)
        {
            EXPECT_TRUE(Contains(FileBytes(), L"HKCU\\Setup\\a=2\r\n")) << "row " << row;
            // Flushed while the old file still stood.
            EXPECT_EQ(before, flushSaw) << "row " << row;
        }
        else
        {
            EXPECT_EQ(before, FileBytes()) << "row " << row;
        }
        FreePortableSettings();
        DeleteFileW(canary.c_str());
        DeleteFileW((path_ + L".new").c_str());
    }
}

// One allocation of the loader fails, as reading a file too large for memory
// does, without needing such a file.
typedef void*(__cdecl* MallocFn)(size_t);
MallocFn realMalloc = nullptr;
void* __cdecl FailingOnce(size_t size)
{
    SwapImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(realMalloc));
    (void)size;
    return nullptr;
}

TEST_F(PortableSettingsTest, FileThatCouldNotBeLoadedWholeIsNeverWrittenBack)
{
    ASSERT_TRUE(WriteBytes(path_, SettingsBytes({L"Global\\SaveSettings=0", L"HKCU\\Setup\\a=1"})));
    const std::string before = FileBytes();
    realMalloc = reinterpret_cast<MallocFn>(
        SwapImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(&FailingOnce)));
    ASSERT_NE(nullptr, realMalloc);
    const bool loaded = LoadPortableSettingsFile(path_.c_str());
    SwapImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(realMalloc));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(0, SetUserInt(L"Setup", L"a", 2));
    EXPECT_FALSE(SavePortableSettings());
    EXPECT_EQ(before, FileBytes());
}

TEST(PortableSettingsFullDisk, FailedWriteBackKeepsTheOldFile)
{
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExW(L"T:\\", &available, &total, &free) || total.QuadPart > 1 << 20)
        GTEST_SKIP() << "no small volume as drive T: in this prefix (see make-prefixes.sh)";
    const std::wstring path = L"T:\\Velnox.ini";
    const std::wstring filler = L"T:\\filler.bin";
    FreePortableSettings();
    ASSERT_TRUE(WriteBytes(path, SettingsBytes({L"HKCU\\Setup\\Keep=\"me\""}, true)));
    ASSERT_TRUE(LoadPortableSettingsFile(path.c_str()));
    const std::string before = ReadBytes(path);

    // Fill the volume to its last byte.
    HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    static char block[4096];
    DWORD written = 0;
    for (DWORD size = sizeof(block); size > 0; size /= 2)
        while (WriteFile(file, block, size, &written, nullptr) && written == size)
        {
        }
    CloseHandle(file);

    EXPECT_EQ(0, SetUserString(L"Setup", L"Big", std::wstring(3000, L'b').c_str()));
    EXPECT_FALSE(SavePortableSettings());
    EXPECT_EQ(before, ReadBytes(path));
    EXPECT_FALSE(Exists(path + L".new"));

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
    const std::wstring path = ScratchFolder() + L"AtExit.ini";
    ASSERT_TRUE(WriteBytes(path, ""));
    wchar_t self[SettingsPathCapacity];
    ASSERT_TRUE(GetProgramPath(self));
    EXPECT_EQ(0, lstrcmpiW(L"test_settings.exe", wcsrchr(self, L'\\') + 1)) << self;
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
    EXPECT_EQ(SettingsBytes({L"HKCU\\Setup\\AtExit=42"}, true), ReadBytes(path));
    DeleteFileW(path.c_str());
}
