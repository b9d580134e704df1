// Help: the text the HTML Help engine receives, the language folder's help
// file (not in an elevated run), and the one retry through the short path.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "files/path_names.h"
#include "localization/help.h"
#include "platform/platform_probes.h"
#include "support/program_under_test.h"

namespace
{

const wchar_t* kGeneralKey = L"Software\\Velnox\\General";

struct Call
{
    std::wstring File;
    UINT Command;
};
std::vector<Call> Calls;
HWND Answer = nullptr;

HWND WINAPI RecordHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR)
{
    EXPECT_EQ(GetDesktopWindow(), owner);
    Calls.push_back({file, command});
    return Answer;
}

std::wstring OwnFolder()
{
    wchar_t path[kPathChars];
    GetModuleFileNameW(nullptr, path, kPathChars);
    *PointToName(path) = 0;
    return path;
}

class HelpTest : public testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, kGeneralKey);
        ResetHelp();
        HtmlHelpStandIn = RecordHelp;
        Calls.clear();
        Answer = reinterpret_cast<HWND>(1);
    }
    void TearDown() override
    {
        HtmlHelpStandIn = nullptr;
        ResetHelp();
        RegDeleteKeyW(HKEY_CURRENT_USER, kGeneralKey);
    }
};

TEST_F(HelpTest, TopicPageOrContentsOfTheHelpFile)
{
    const std::wstring file = OwnFolder() + L"velnox.chm";
    EXPECT_EQ(reinterpret_cast<HWND>(1), ShowHelp(L"HELPContextItems"));
    ShowHelp(nullptr);
    ASSERT_EQ(2u, Calls.size());
    EXPECT_EQ(file + L"::/html/HELPContextItems.htm", Calls[0].File);
    EXPECT_EQ(0u, Calls[0].Command);
    EXPECT_EQ(file, Calls[1].File);
    EXPECT_EQ(1u, Calls[1].Command);
}

// A help file runs script in the process that shows it: an elevated run
// shows only the program folder's, never one the user put elsewhere.
TEST_F(HelpTest, HelpFileOfTheLanguageFolderWinsOnlyWhenNotElevated)
{
    ScratchDir folder(L"help");
    HANDLE chm = CreateFileW((folder / L"velnox.chm").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(chm, INVALID_HANDLE_VALUE);
    CloseHandle(chm);
    const int saved = ProbeCache.Elevated;
    for (int elevated = 0; elevated < 2; ++elevated)
    {
        ProbeCache.Elevated = elevated;
        ResetHelp();
        Calls.clear();
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kGeneralKey, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &key, nullptr));
        const std::wstring value = folder.Path();
        RegSetValueExW(key, L"LanguageFolder", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);

        ShowHelp(L"HELPIntegrationSettings");
        // The path stays fixed for later requests.
        RegDeleteKeyW(HKEY_CURRENT_USER, kGeneralKey);
        ShowHelp(nullptr);
        const std::wstring file = elevated ? OwnFolder() + L"velnox.chm" : folder / L"velnox.chm";
        ASSERT_EQ(2u, Calls.size()) << "elevated " << elevated;
        EXPECT_EQ(file + L"::/html/HELPIntegrationSettings.htm", Calls[0].File)
            << "elevated " << elevated;
        EXPECT_EQ(file, Calls[1].File) << "elevated " << elevated;
    }
    ProbeCache.Elevated = saved;
}

TEST_F(HelpTest, RefusedDisplayOfAnAnsiPathIsNotRetried)
{
    Answer = nullptr;
    EXPECT_EQ(nullptr, ShowHelp(L"HELPContextItems"));
    EXPECT_EQ(nullptr, ShowHelp(L"HELPContextItems"));
    EXPECT_EQ(2u, Calls.size()) << "one call per request";
}

// Runs in a copy of this binary in a folder the ANSI code page cannot name.
TEST_F(HelpTest, ForeignFolderIsRetriedOnceThroughItsShortPath)
{
    if (std::getenv("VNX_HELP_CHILD") != nullptr)
    {
        Answer = nullptr;
        EXPECT_EQ(nullptr, ShowHelp(L"T"));
        EXPECT_EQ(nullptr, ShowHelp(L"T"));
        ASSERT_EQ(3u, Calls.size());
        wchar_t path[kPathChars];
        GetModuleFileNameW(nullptr, path, kPathChars);
        ASSERT_TRUE(SetName(path, L"velnox.chm", kPathChars));
        EXPECT_EQ(std::wstring(path) + L"::/html/T.htm", Calls[0].File);
        GetModuleFileNameW(nullptr, path, kPathChars);
        wchar_t shortPath[kPathChars];
        ASSERT_NE(0u, GetShortPathNameW(path, shortPath, kPathChars));
        ASSERT_TRUE(SetName(shortPath, L"velnox.chm", kPathChars));
        EXPECT_EQ(std::wstring::npos, std::wstring(shortPath).find(L'\x03a9'));
        EXPECT_EQ(std::wstring(shortPath) + L"::/html/T.htm", Calls[1].File);
        EXPECT_EQ(Calls[1].File, Calls[2].File) << "the short path stays; no second retry";
        return;
    }
    ScratchDir scratch(L"helpchild");
    const std::wstring folder = scratch / L"\x03a9mega folder";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wchar_t self[kPathChars];
    GetModuleFileNameW(nullptr, self, kPathChars);
    const std::wstring copy = folder + L"\\test_localization.exe";
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
    SetEnvironmentVariableW(L"VNX_HELP_CHILD", L"1");
    ChildProcess child;
    const bool started =
        child.Start(L"\"" + copy + L"\" --gtest_filter=HelpTest.ForeignFolderIsRetried*");
    SetEnvironmentVariableW(L"VNX_HELP_CHILD", nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(0, child.Wait(60000)) << "the copy's own checks failed";
}

} // namespace
