// The uninstall road run as its own process against faults of the files and
// of its environment: protected and busy files in the list, no command
// processor named, a temporary folder that does not exist.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/fault_fixtures.h"

namespace
{

std::wstring TempBatch()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"Uninstall_Vnx.Bat";
}

bool IsPendingRename(const std::wstring& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> data(65536);
    DWORD size = DWORD(data.size() * sizeof(wchar_t) - 4);
    const LONG status = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    for (const wchar_t* p = data.data(); *p || p[1]; p += wcslen(p) + 1)
    {
        const size_t length = wcslen(p);
        if (length >= name.size() && _wcsicmp(p + length - name.size(), name.c_str()) == 0)
            return true;
    }
    return false;
}

class UninstallUnderFaults : public InstalledCopy
{
protected:
    UninstallUnderFaults() : InstalledCopy(L"faults_uninstall") {}
    void SetUp() override
    {
        InstalledCopy::SetUp();
        DeleteFileW(TempBatch().c_str());
        // Something of the integration for the removal to take away.
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
        ASSERT_TRUE(WriteBytes(In(L"data.txt"), "x"));
        ASSERT_TRUE(WriteBytes(In(L"Uninstall.lst"), "data.txt\r\nuninstall.exe\r\n"));
    }
    void TearDown() override
    {
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        DeleteFileW(TempBatch().c_str());
    }
    // The batch file waits 2 s for the program before it deletes anything,
    // and deletes itself last.
    static void WaitForBatch()
    {
        for (int i = 0; i < 120 && Exists(TempBatch()); ++i)
            Sleep(500);
    }
};

TEST_F(UninstallUnderFaults, ProtectedFilesGoAndABusyOneWaitsForTheRestart)
{
    struct
    {
        const wchar_t* Name;
        DWORD Attributes;
    } protectedFiles[] = {
        {L"ro.txt", FILE_ATTRIBUTE_READONLY},
        {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
        {L"system.txt", FILE_ATTRIBUTE_SYSTEM},
        {L"all.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {L"sub\\inner.txt", FILE_ATTRIBUTE_READONLY},
        {L"sub", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    ASSERT_TRUE(CreateDirectoryW(In(L"sub").c_str(), nullptr));
    std::string list = "sub\r\n";
    for (const auto& file : protectedFiles)
    {
        if (!Exists(In(file.Name)))
        {
            ASSERT_TRUE(WriteBytes(In(file.Name), "x"));
        }
        ASSERT_TRUE(SetFileAttributesW(In(file.Name).c_str(), file.Attributes));
        list += std::string(file.Name, file.Name + wcslen(file.Name)) + "\r\n";
    }
    ASSERT_TRUE(WriteBytes(In(L"busy.dll"), "x"));
    ASSERT_TRUE(WriteBytes(In(L"Uninstall.lst"), list + "busy.dll\r\nuninstall.exe\r\n"));
    // Held without share-delete, as a running program holds its libraries.
    HANDLE busy = CreateFileW(In(L"busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);

    EXPECT_EQ(0, Run(L"/S"));
    WaitForBatch();
    CloseHandle(busy);

    for (size_t row = 0; row < ARRAYSIZE(protectedFiles); ++row)
        EXPECT_FALSE(Exists(In(protectedFiles[row].Name))) << "row " << row;
    const bool moved = !Exists(In(L"busy.dll"));
    EXPECT_TRUE(IsPendingRename(moved ? In(L"busy.dll.0.tmp") : In(L"busy.dll"))) << moved;
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_FALSE(Exists(In(L"Uninstall.lst")));
    // The program goes; its folder stays for the file that waits.
    EXPECT_FALSE(Exists(exe));
    EXPECT_TRUE(Exists(folder));
    EXPECT_FALSE(Exists(TempBatch()));
}

// Without "COMSPEC" the batch file cannot be handed to a command processor:
// the run ends quietly after removing everything else; the program and the
// batch file stay.
TEST_F(UninstallUnderFaults, NoCommandProcessorNamedEndsQuietly)
{
    {
        EnvironmentChange noComspec(L"COMSPEC", nullptr);
        EXPECT_EQ(0, Run(L"/S"));
    }
    EXPECT_FALSE(Exists(In(L"data.txt")));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    // A processor running the batch file would have deleted the program
    // after its 2 s wait.
    Sleep(3000);
    EXPECT_TRUE(Exists(exe));
    EXPECT_TRUE(Exists(TempBatch()));
}

TEST_F(UninstallUnderFaults, MissingTemporaryFolderLeavesOnlyTheProgram)
{
    const std::wstring missing = scratch / L"no such folder";
    {
        EnvironmentChange temp(L"TEMP", missing.c_str());
        EnvironmentChange tmp(L"TMP", missing.c_str());
        EXPECT_EQ(0, Run(L"/S"));
    }
    EXPECT_FALSE(Exists(In(L"data.txt")));
    EXPECT_FALSE(Exists(In(L"Uninstall.lst")));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_TRUE(Exists(exe));
    EXPECT_FALSE(Exists(missing));
    // No batch file anywhere else: not in the real temporary folder, the
    // installation folder or its parent.
    EXPECT_FALSE(Exists(TempBatch()));
    EXPECT_FALSE(Exists(In(L"Uninstall_Vnx.Bat")));
    EXPECT_FALSE(Exists(scratch / L"Uninstall_Vnx.Bat"));
}

} // namespace
