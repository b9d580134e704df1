// uninstall.exe run as its own process from a scratch installation folder:
// the listed files, the program and its folder go, the last through the
// hidden command processor and its batch file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"

namespace
{

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteText(const std::wstring& path, const char* text)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(nullptr, file);
    fputs(text, file);
    fclose(file);
}

class UninstallRoad : public testing::Test
{
protected:
    UninstallRoad() : scratch(L"uninstall_road") {}
    void SetUp() override
    {
        folder = scratch / L"inst";
        exe = folder + L"\\uninstall.exe";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), exe.c_str(), FALSE));
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        batch = std::wstring(temp) + L"Uninstall_Vnx.Bat";
        RawSet(HKEY_CURRENT_USER, L"Software\\Velnox", L"Marker", REG_SZ, L"x", 4);
    }
    void TearDown() override { RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox"); }
    ScratchDir scratch;
    std::wstring folder, exe, batch;
};

TEST_F(UninstallRoad, SilentRunLeavesNothingBehind)
{
    CreateDirectoryW((folder + L"\\sub").c_str(), nullptr);
    WriteText(folder + L"\\sub\\x.txt", "x");
    WriteText(folder + L"\\data.txt", "x");
    WriteText(scratch / L"canary.txt", "x");
    WriteText(folder + L"\\Uninstall.lst", "sub\r\nsub\\x.txt\r\ndata.txt\r\n..\\canary.txt\r\n");

    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + exe + L"\" /S", folder.c_str()));
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_FALSE(Exists(folder + L"\\Uninstall.lst"));
    // The batch file waits 2 s for the program before it deletes.
    for (int i = 0; i < 120 && (Exists(folder) || Exists(batch)); ++i)
        Sleep(500);
    EXPECT_FALSE(Exists(exe));
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(batch));
    EXPECT_TRUE(Exists(scratch / L"canary.txt"));
}

TEST_F(UninstallRoad, NoAtTheQuestionChangesNothing)
{
    WriteText(folder + L"\\Uninstall.lst", "uninstall.exe\r\n");
    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + exe + L"\"", folder.c_str()));
    HWND box = child.FindDialog(30000);
    ASSERT_NE(nullptr, box);
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_TRUE(Exists(folder + L"\\Uninstall.lst"));
    EXPECT_FALSE(Exists(batch));
}

TEST_F(UninstallRoad, MissingListIsReportedEvenWhenSilentAndNothingGoes)
{
    ChildProcess child;
    ASSERT_TRUE(child.Start(L"\"" + exe + L"\" /S", folder.c_str()));
    HWND box = child.FindDialog(30000);
    ASSERT_NE(nullptr, box);
    HWND text = FindWindowExW(box, nullptr, L"Static", nullptr);
    while (text && WindowText(text).find(L"Uninstall.lst") == std::wstring::npos)
        text = FindWindowExW(box, text, L"Static", nullptr);
    EXPECT_NE(nullptr, text);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0, child.Wait(30000));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Velnox"));
    EXPECT_TRUE(Exists(exe));
}

} // namespace
