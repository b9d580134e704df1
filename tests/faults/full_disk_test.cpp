// The new-file templates written into a program folder on a full volume
// (drive T:, a tiny volume of the test prefix). Explorer makes new archives
// by copying these files, so a cut-short one would make broken archives.
// (The settings file on a full volume is covered with the settings tests.)
#include "integration/integration_fixture.h"
#include "integration/new_file_templates.h"

#include <gtest/gtest.h>

#include <string>

#include "faults/fault_fixtures.h"

namespace
{

using TemplatesOnFullDisk = IntegrationTest;

TEST_F(TemplatesOnFullDisk, NoCutShortTemplateIsLeft)
{
    if (!HaveTinyVolume())
        GTEST_SKIP() << "no small volume as drive T: in this prefix (see make-prefixes.sh)";
    const std::wstring program = L"T:\\uninstall.exe";
    const std::string zipBytes = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    struct
    {
        const wchar_t* Extension;
        bool Zip;
        const wchar_t* File;
        std::string Before; // empty: no file
    } rows[] = {
        {L".zip", true, L"T:\\zipnew.dat", ""},
        {L".zip", true, L"T:\\zipnew.dat", std::string(23, 'x')},
        {L".vnx", false, L"T:\\vnxnew.dat", ""},
        // The right size is left as it is, full volume or not.
        {L".zip", true, L"T:\\zipnew.dat", zipBytes},
    };
    for (size_t row = 0; row < ARRAYSIZE(rows); ++row)
    {
        DeleteFileW(rows[row].File);
        if (!rows[row].Before.empty())
        {
            ASSERT_TRUE(WriteBytes(rows[row].File, rows[row].Before)) << "row " << row;
        }
        {
            VolumeFiller full(L"T:\\filler.bin");
            WriteNewFileTemplate(rows[row].Extension, rows[row].Zip, program.c_str());
        }
        const bool present = Exists(rows[row].File);
        const std::string after = ReadBytes(rows[row].File);
        if (rows[row].Zip && rows[row].Before == zipBytes)
        {
            EXPECT_EQ(zipBytes, after) << "row " << row;
        }
        else if (present)
        {
            EXPECT_EQ(rows[row].Zip ? 22u : 24u, after.size()) << "row " << row << ": cut short";
        }
        // The entry is made whatever became of the file.
        EXPECT_EQ(
            rows[row].File,
            ClassValue((std::wstring(rows[row].Extension) + L"\\ShellNew").c_str(), L"FileName"))
            << "row " << row;
        DeleteFileW(rows[row].File);
    }
}

} // namespace
