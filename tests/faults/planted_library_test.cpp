// Libraries planted beside the program under the names of those it loads
// (its imports, the rich edit and help libraries) and of "version.dll",
// "uxtheme.dll" and "comctl32.dll": none of them may be loaded.
//
// Wine prefers its own builtin libraries to files of the same name in the
// program's folder, so the children are told (through Wine's per-program
// settings) to prefer native files for the libraries that only come in
// after start-up, where the program's own search hardening is what counts. The imports are resolved
// before any code of the program runs; on Windows the system's known libraries protect them, and
// Wine keeps to its builtins for them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "faults/fault_fixtures.h"

namespace
{

const wchar_t* const kNativeFirst[] = {L"riched20", L"hhctrl.ocx", L"uxtheme", L"comctl32"};

// Wine's per-program library settings for one program name, gone at the end.
class NativeFirst
{
public:
    explicit NativeFirst(const wchar_t* program)
        : Key(std::wstring(L"Software\\Wine\\AppDefaults\\") + program)
    {
        for (const wchar_t* name : kNativeFirst)
            RawSet(HKEY_CURRENT_USER, (Key + L"\\DllOverrides").c_str(), name, REG_SZ,
                   L"native,builtin", sizeof(L"native,builtin"));
    }
    ~NativeFirst() { RemoveRegistryTree(HKEY_CURRENT_USER, Key); }
    NativeFirst(const NativeFirst&) = delete;
    NativeFirst& operator=(const NativeFirst&) = delete;

private:
    std::wstring Key;
};

const wchar_t* const kPlantedNames[] = {
    L"kernel32.dll", L"user32.dll",  L"gdi32.dll",   L"advapi32.dll",
    L"shell32.dll",  L"ole32.dll",   L"msvcrt.dll",  L"riched20.dll",
    L"hhctrl.ocx",   L"version.dll", L"uxtheme.dll", L"comctl32.dll",
};

// The marker library when the build made it; else a resource-only library,
// which shows a planted load only by what then fails.
std::wstring PlantSource(bool& marks)
{
    const std::wstring marker = BesideTestBinary(L"faults\\planted\\vnxplant.dll");
    marks = Exists(marker);
    return marks ? marker : BesideTestBinary(L"langmodule\\plain\\vnxlng.dll");
}

class PlantedLibraries : public InstalledCopy
{
protected:
    PlantedLibraries() : InstalledCopy(L"faults_planted") {}
    void SetUp() override
    {
        InstalledCopy::SetUp();
        const std::wstring source = PlantSource(marks);
        for (const wchar_t* name : kPlantedNames)
            ASSERT_TRUE(CopyFileW(source.c_str(), In(name).c_str(), FALSE));
        DeleteFileW(In(L"planted.log").c_str());
    }
    std::wstring Log() const { return In(L"planted.log"); }
    bool marks = false;
};

// The names the marker library recorded, in plain characters.
std::string LoggedNames(const std::wstring& log)
{
    const std::string bytes = ReadBytes(log);
    std::string names;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        names += bytes[i + 1] == 0 ? bytes[i] : '?';
    return names;
}

std::wstring SelfPath()
{
    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    return std::wstring(self, length);
}

// Run only as the child of the test below: a plain load by name, without
// the hardening the program does first.
TEST(PlantedChild, LoadsByName)
{
    const char* mode = std::getenv("VNX_FAULTS_CHILD");
    if (mode == nullptr || std::string(mode) != "plain-load")
        GTEST_SKIP() << "runs as a child of PlantedLibraries.NoneIsLoaded";
    HMODULE library = LoadLibraryW(L"riched20.dll");
    ASSERT_NE(nullptr, library);
    // The system's library has this export; the planted one does not.
    EXPECT_EQ(nullptr, GetProcAddress(library, "CreateTextServices")) << "the system's was loaded";
}

TEST_F(PlantedLibraries, NoneIsLoaded)
{
    NativeFirst forControl(L"control.exe");
    NativeFirst forProgram(L"uninstall.exe");

    // First the same folder with a program that loads by name unhardened:
    // the planted library must be taken, or this system cannot show the fault.
    const std::wstring control = In(L"control.exe");
    ASSERT_TRUE(CopyFileW(SelfPath().c_str(), control.c_str(), FALSE));
    {
        EnvironmentChange child(L"VNX_FAULTS_CHILD", L"plain-load");
        ChildProcess process;
        ASSERT_TRUE(process.Start(L"\"" + control + L"\" --gtest_filter=PlantedChild.LoadsByName",
                                  Home.c_str()));
        if (process.Wait(60000) != 0)
            GTEST_SKIP() << "this system does not load a planted library even unhardened";
    }
    if (marks)
    {
        ASSERT_TRUE(Exists(Log())) << "the marker library did not record its load";
    }
    DeleteFileW(Log().c_str());

    // The program through start-up and its setup dialog, which holds the
    // rich edit control.
    ChildProcess program;
    ASSERT_TRUE(Start(program, L"/setup"));
    HWND dialog = program.FindDialog(30000);
    ASSERT_NE(nullptr, dialog) << "the program did not come up";
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(1, program.Wait(30000));
    EXPECT_FALSE(Exists(Log())) << "loaded: " << LoggedNames(Log());
    if (!marks)
        std::printf("(no marker library built: only a load that breaks the program shows)\n");
}

} // namespace
