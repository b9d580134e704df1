// Case and code-page behaviour under other user locales. Wine takes a
// process's locale from the Unix environment it was started with (neither the
// Windows environment nor the registry changes it), so this binary is started
// again through the Unix shell with LC_ALL set, runs the probe below and
// leaves its findings in a file.
#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace
{

const wchar_t kResultVariable[] = L"VNX_LOCALE_RESULT";

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

struct LocaleFindings
{
    unsigned Lcid = 0;
    unsigned CodePage = 0;
    unsigned UpperI = 0;
    unsigned AnsiC0 = 0;     // byte 0xC0 as UTF-16
    unsigned Back = 0;       // and back to a byte
    unsigned AnsiResult = 0; // both conversions succeeded
};

// Starts this binary under the given Unix locale and reads what its probe
// found; false when the child could not be started or gave no answer.
bool ProbeLocale(const char* unixLocale, LocaleFindings& findings)
{
    wchar_t self[MAX_PATH];
    wchar_t folder[MAX_PATH];
    wchar_t result[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, self, MAX_PATH) || !GetTempPathW(MAX_PATH, folder) ||
        !GetTempFileNameW(folder, L"loc", 0, result))
        return false;
    DeleteFileW(result);
    wchar_t command[4 * MAX_PATH];
    if (FormatString(command,
                     L"Z:\\bin\\sh -c \"LC_ALL=%S VNX_LOCALE_RESULT='%s' exec wine '%s' "
                     L"--gtest_filter=LocaleProbe.* >/dev/null 2>&1\"",
                     unixLocale, result, self) < 0)
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    // A Unix child gives no handle to wait on: wait for its file instead.
    if (process.hThread)
        CloseHandle(process.hThread);
    if (process.hProcess)
        CloseHandle(process.hProcess);
    bool found = false;
    for (int i = 0; i < 1200 && !found; i++)
    {
        Sleep(100);
        FILE* file = _wfopen(result, L"r");
        if (file == nullptr)
            continue;
        found = std::fscanf(file, "%x %u %x %x %x %u", &findings.Lcid, &findings.CodePage,
                            &findings.UpperI, &findings.AnsiC0, &findings.Back,
                            &findings.AnsiResult) == 6;
        std::fclose(file);
    }
    DeleteFileW(result);
    return found;
}

} // namespace

// The child's half: does nothing in an ordinary run.
TEST(LocaleProbe, WriteFindings)
{
    wchar_t result[MAX_PATH];
    if (!GetEnvironmentVariableW(kResultVariable, result, MAX_PATH))
        GTEST_SKIP() << "only in a locale child";
    const char byte[] = "\xC0";
    wchar_t wide[4] = {};
    char back[4] = {};
    const bool converted = AnsiToWide(byte, wide, 4) && WideToAnsi(wide, back, sizeof(back));
    char text[128];
    std::snprintf(text, sizeof(text), "%lx %u %x %x %x %u\n", GetUserDefaultLCID(), GetACP(),
                  unsigned(UpperChar(L'i')), unsigned(wide[0]), unsigned(uint8_t(back[0])),
                  unsigned(converted));
    // Written under another name and renamed, so the parent never reads half.
    std::wstring partial = std::wstring(result) + L".part";
    FILE* file = _wfopen(partial.c_str(), L"w");
    ASSERT_NE(nullptr, file);
    std::fputs(text, file);
    std::fclose(file);
    ASSERT_TRUE(MoveFileW(partial.c_str(), result));
}

TEST(Locale, UpperCaseIOfTurkishUser)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "the locale child is started through Wine";
    LocaleFindings findings;
    ASSERT_TRUE(ProbeLocale("tr_TR.UTF-8", findings));
    ASSERT_EQ(0x041Fu, findings.Lcid) << "the child did not get a Turkish user locale";
    EXPECT_EQ(unsigned(L'I'), findings.UpperI);
}

TEST(Locale, AnsiConversionInCyrillicCodePage)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "the locale child is started through Wine";
    LocaleFindings findings;
    ASSERT_TRUE(ProbeLocale("ru_RU.UTF-8", findings));
    ASSERT_EQ(1251u, findings.CodePage) << "the child did not get the Cyrillic code page";
    // 0xC0 is the capital A of the Cyrillic code page, not the accented Latin one.
    EXPECT_EQ(0x0410u, findings.AnsiC0);
    EXPECT_EQ(0xC0u, findings.Back);
    EXPECT_EQ(1u, findings.AnsiResult);
}
