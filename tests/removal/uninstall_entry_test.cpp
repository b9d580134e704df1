#include "integration/uninstall_entry.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"

#include <gtest/gtest.h>

namespace
{

const wchar_t kEntry[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver";

class UninstallEntryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program = LoadProgramResources();
        ASSERT_NE(nullptr, program);
        ResourceModule = program;
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntry);
    }
    void TearDown() override
    {
        ResourceModule = nullptr;
        FreeLibrary(program);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntry);
    }
    std::wstring Message(UINT number) { return ResourceText(program, number); }
    // "<major>.<minor, at least two digits>"
    std::wstring ShortVersion()
    {
        std::wstring minor = std::to_wstring(VNX_VERSION_MINOR);
        return std::to_wstring(VNX_VERSION_MAJOR) + L"." + (minor.size() < 2 ? L"0" : L"") + minor;
    }

    HMODULE program = nullptr;
};

TEST_F(UninstallEntryTest, EveryValueWithItsTypeAndTheSameOnASecondRun)
{
    const wchar_t* path = L"C:\\Program Files\\Velnox\\uninstall.exe";
    const std::wstring build = std::to_wstring(VNX_VERSION_BUILD);
    const struct
    {
        const wchar_t* Name;
        DWORD Type;
        std::wstring Data;
    } rows[] = {
        {L"DisplayName", REG_SZ,
         L"Velnox " + ShortVersion() + L" " + Message(MSG_VERSION_LABEL) + L" " + build + L" (" +
             Message(MSG_NAME_SUFFIX) + L")"},
        {L"DisplayVersion", REG_SZ, ShortVersion() + L"." + build},
        {L"VersionMajor", REG_DWORD, std::to_wstring(VNX_VERSION_MAJOR)},
        {L"VersionMinor", REG_DWORD, std::to_wstring(VNX_VERSION_MINOR)},
        {L"UninstallString", REG_SZ, L"\"C:\\Program Files\\Velnox\\uninstall.exe\""},
        {L"DisplayIcon", REG_SZ, L"C:\\Program Files\\Velnox\\Velnox.exe"},
        {L"InstallLocation", REG_SZ, L"C:\\Program Files\\Velnox\\"},
        {L"NoModify", REG_DWORD, L"1"},
        {L"NoRepair", REG_DWORD, L"1"},
        {L"Language", REG_DWORD, L"0"},
        {L"Publisher", REG_SZ, L"Korvane"},
    };
    ASSERT_FALSE(Message(MSG_VERSION_LABEL).empty());
    for (int run = 1; run <= 2; ++run)
    {
        WriteUninstallEntry(path);
        EXPECT_EQ(ARRAYSIZE(rows), RawValueCount(HKEY_LOCAL_MACHINE, kEntry)) << "run " << run;
        for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
        {
            DWORD type = 0;
            EXPECT_EQ(rows[row].Data,
                      RawValue(HKEY_LOCAL_MACHINE, kEntry, rows[row].Name, 0, &type))
                << "run " << run << " row " << row;
            EXPECT_EQ(rows[row].Type, type) << "run " << run << " row " << row;
        }
    }
}

TEST_F(UninstallEntryTest, VersionTextOnEmptyTextHasNoLeadingSpace)
{
    wchar_t text[100] = L"";
    AppendVersionText(text);
    EXPECT_EQ(0, wcsncmp(text, ShortVersion().c_str(), ShortVersion().size())) << text;
}

} // namespace
