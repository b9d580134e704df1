// The platform probes on the two prefixes; the Windows XP answer and the DLL
// search are checked in child processes, which see the setting from start.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform_probes.h"
#include "platform/visual_styles.h"
#include "resources/resource.h"
#include "support/program_under_test.h"

namespace
{

std::wstring SelfPath()
{
    wchar_t self[1024];
    DWORD length = GetModuleFileNameW(nullptr, self, 1024);
    return std::wstring(self, length);
}

// This test binary run again with one test and one variable set.
long RunSelf(const std::wstring& exe, const wchar_t* test, const wchar_t* mode)
{
    SetEnvironmentVariableW(L"VNX_CHILD_MODE", mode);
    ChildProcess child;
    bool started = child.Start(L"\"" + exe + L"\" --gtest_filter=" + test);
    SetEnvironmentVariableW(L"VNX_CHILD_MODE", nullptr);
    if (!started)
        return -2;
    return child.Wait(60000);
}

std::string ChildMode()
{
    const char* mode = std::getenv("VNX_CHILD_MODE");
    return mode != nullptr ? mode : "";
}

TEST(Probes, Wow64FollowsThePrefix)
{
    EXPECT_EQ(IsWin64Prefix(), IsWow64());
    EXPECT_EQ(IsWin64Prefix() ? 1 : 0, ProbeCache.Wow64) << "the answer is cached";
    EXPECT_FALSE(IsNativeIa64());
}

TEST(Probes, ScaleForDpi)
{
    const struct
    {
        int Dpi;
        int32_t Value;
        int32_t Expected;
    } rows[] = {
        {96, -12, -12}, {120, -12, -15}, {144, -12, -18}, {120, 7, 8},
        {120, -7, -8},  {72, -13, -9},   {192, 0, 0},
    };
    const int saved = ProbeCache.ScreenDpi;
    for (size_t row = 0; row < sizeof(rows) / sizeof(rows[0]); row++)
    {
        ProbeCache.ScreenDpi = rows[row].Dpi;
        EXPECT_EQ(rows[row].Expected, ScaleForDpi(rows[row].Value)) << "row " << row;
    }
    ProbeCache.ScreenDpi = 0;
    ScaleForDpi(96);
    EXPECT_GT(ProbeCache.ScreenDpi, 0) << "the screen's dpi is read on demand";
    ProbeCache.ScreenDpi = saved;
}

TEST(Probes, WindowsVersion)
{
    EXPECT_GE(WindowsVersion(), 0x0600u);
    // Another platform than NT reads as Windows XP, never as 0.
    ProbeCacheData saved = ProbeCache;
    ProbeCache.PlatformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(0x0501u, WindowsVersion());
    ProbeCache = saved;
}

TEST(Probes, WindowsVersionWhenToldToBeXp)
{
    const std::wstring key = L"Software\\Wine\\AppDefaults\\test_startup.exe";
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &handle, nullptr));
    RegSetValueExW(handle, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"winxp"),
                   6 * sizeof(wchar_t));
    RegCloseKey(handle);
    long result = RunSelf(SelfPath(), L"ProbeChild.ReportsWindowsXp", L"winxp");
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(0, result);
}

TEST(ProbeChild, ReportsWindowsXp)
{
    if (ChildMode() != "winxp")
        GTEST_SKIP() << "runs as a child of WindowsVersionWhenToldToBeXp";
    EXPECT_LT(WindowsVersion(), 0x0600u);
    EXPECT_GE(WindowsVersion(), 0x0501u);
}

TEST(Probes, SystemDllAndCurrentFolder)
{
    ScratchDir folder(L"sysdll");
    wchar_t savedDir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, savedDir);
    // Only the system folder counts, not the current one.
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll").c_str(),
                          (folder / L"vnxlng.dll").c_str(), FALSE));
    SetCurrentDirectoryW(folder.Path().c_str());
    EXPECT_EQ(nullptr, LoadSystemDll(L"vnxlng.dll"));
    wchar_t tiny[4];
    EXPECT_FALSE(GetCurrentDir(tiny, 4)) << "a folder that does not fit is no answer";
    wchar_t current[MAX_PATH];
    EXPECT_TRUE(GetCurrentDir(current));
    EXPECT_EQ(folder.Path(), current);
    SetCurrentDirectoryW(savedDir);
}

// A library of a system name planted beside the program must not be picked
// up by a plain load once the search is hardened.
TEST(Probes, PlantedLibraryIsNotLoadedAfterHardening)
{
    ScratchDir folder(L"plant");
    const std::wstring exe = folder / L"test_startup.exe";
    ASSERT_TRUE(CopyFileW(SelfPath().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BesideTestBinary(L"langmodule\\plain\\vnxlng.dll").c_str(),
                          (folder / L"msimg32.dll").c_str(), FALSE));
    long plain = RunSelf(exe, L"ProbeChild.LoadsPlantedLibrary", L"plain");
    if (plain != 0)
        GTEST_SKIP() << "this system never loads the planted library, hardened or not";
    EXPECT_EQ(0, RunSelf(exe, L"ProbeChild.LoadsPlantedLibrary", L"hardened"));
}

TEST(ProbeChild, LoadsPlantedLibrary)
{
    const std::string mode = ChildMode();
    if (mode != "plain" && mode != "hardened")
        GTEST_SKIP() << "runs as a child of PlantedLibraryIsNotLoadedAfterHardening";
    if (mode == "hardened")
        HardenDllSearch(true);
    HMODULE library = LoadLibraryW(L"msimg32.dll");
    ASSERT_NE(library, nullptr);
    wchar_t loaded[MAX_PATH];
    GetModuleFileNameW(library, loaded, MAX_PATH);
    std::wstring own = SelfPath();
    own.erase(own.find_last_of(L'\\') + 1);
    bool planted = _wcsnicmp(loaded, own.c_str(), own.size()) == 0;
    EXPECT_EQ(mode == "plain", planted) << "loaded " << loaded;
}

// The styles hold while the object is active and go with it, also when
// another module pushed a context above them and left it there.
TEST(Probes, VisualStylesComeAndGoWithTheirObject)
{
    // Mapped as an image, as the context is read from a module's resources.
    HMODULE program = LoadLibraryExW(ProgramPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(program, nullptr);
    auto button = [] {
        return CreateWindowW(L"Button", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                             nullptr);
    };
    EXPECT_FALSE(VisualStyles().Activate(GetModuleHandleW(nullptr))) << "no such manifest here";
    HWND styled = nullptr;
    {
        VisualStyles styles;
        ASSERT_TRUE(styles.Activate(program));
        styled = button();

        ACTCTXW left = {};
        left.cbSize = sizeof(left);
        left.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        left.hModule = program;
        left.lpResourceName = MAKEINTRESOURCEW(IDR_VISUAL_STYLES);
        HANDLE context = CreateActCtxW(&left);
        ASSERT_NE(INVALID_HANDLE_VALUE, context);
        ULONG_PTR cookie = 0;
        ASSERT_TRUE(ActivateActCtx(context, &cookie));
        styles.Deactivate(); // must not raise for the frame above
        ReleaseActCtx(context);
        EXPECT_FALSE(styles.IsActive());
    }
    // Told apart from the system's class once no context names it.
    HWND plain = button();
    EXPECT_TRUE(HasVisualStyles(styled));
    EXPECT_FALSE(HasVisualStyles(plain));
    DestroyWindow(styled);
    DestroyWindow(plain);
    FreeLibrary(program);
}

} // namespace
