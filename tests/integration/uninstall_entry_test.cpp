#include "integration/uninstall_entry.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "resources/resource.h"
#include "support/program_under_test.h"
#include "support/plain_files.h"
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

    static std::wstring Today()
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t text[16];
        swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
        return text;
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
        {L"QuietUninstallString", REG_SZ, L"\"C:\\Program Files\\Velnox\\uninstall.exe\" /S"},
        // No list beside the program: nothing listed to count.
        {L"EstimatedSize", REG_DWORD, L"0"},
        {L"InstallDate", REG_SZ, Today()},
        {L"URLInfoAbout", REG_SZ, Message(MSG_WEB_ADDRESS)},
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

// Only plain files the list names inside the folder count, rounded up to KiB.
TEST_F(UninstallEntryTest, EstimatedSizeCountsTheListedFilesInsideTheFolder)
{
    const std::wstring folder = L"C:\\vnx-entry-size\\";
    const std::wstring outside = L"C:\\vnx-entry-outside.bin";
    RemoveTree(folder);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"sub").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(folder + L"a.bin", std::string(1000, 'a')));
    ASSERT_TRUE(WriteBytes(folder + L"sub\\c.bin", std::string(2049, 'c')));
    ASSERT_TRUE(WriteBytes(outside, std::string(1 << 20, 'o')));
    ASSERT_TRUE(WriteBytes(folder + L"Uninstall.lst",
                           "a.bin\r\nsub\\c.bin\r\nsub\r\nmissing.bin\r\n"
                           "..\\vnx-entry-outside.bin\r\nC:\\vnx-entry-outside.bin\r\n"
                           "\\vnx-entry-outside.bin\r\nsub\\..\\..\\vnx-entry-outside.bin\r\n"));
    WriteUninstallEntry((folder + L"uninstall.exe").c_str());
    EXPECT_EQ(L"3", RawValue(HKEY_LOCAL_MACHINE, kEntry, L"EstimatedSize", 0, nullptr))
        << "1000 + 2049 bytes; the folder, a missing file and names leading out are not counted";
    RemoveTree(folder);
    DeleteFileW(outside.c_str());
}

TEST_F(UninstallEntryTest, VersionTextOnEmptyTextHasNoLeadingSpace)
{
    wchar_t text[100] = L"";
    AppendVersionText(text);
    EXPECT_EQ(0, wcsncmp(text, ShortVersion().c_str(), ShortVersion().size())) << text;
}

} // namespace
