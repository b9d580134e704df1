// Explorer's "New" entries and their template files, the old-style volume
// extensions and the give-back of ".ace".
#include "integration/associations.h"
#include "integration/integration_fixture.h"
#include "integration/new_file_templates.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
using TemplatesTest = IntegrationTest;
}

TEST_F(TemplatesTest, TemplateFilesAreWrittenOnlyWhenTheirSizeIsWrong)
{
    // Both prefixes share this binary's folder, so the files are checked in
    // the prefix's own scratch folder.
    const std::wstring program = ScratchFolder() + L"uninstall.exe";
    const std::wstring zipTemplate = ScratchFolder() + kZipTemplateName;
    const std::wstring ownTemplate = ScratchFolder() + kOwnTemplateName;
    const std::string zipBytes = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    struct Row
    {
        std::string before; // empty: no file
        std::string after;
    } rows[] = {
        {"", zipBytes},
        {std::string(23, 'x'), zipBytes},
        {std::string(22, 'x'), std::string(22, 'x')},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        DeleteFileW(zipTemplate.c_str());
        if (!rows[i].before.empty())
        {
            ASSERT_TRUE(WriteBytes(zipTemplate, rows[i].before));
        }
        WriteNewFileTemplate(L".zip", true, program.c_str());
        EXPECT_EQ(rows[i].after, ReadBytes(zipTemplate)) << "row " << i;
        EXPECT_EQ(zipTemplate, ClassValue(L".zip\\ShellNew", L"FileName")) << "row " << i;
    }

    DeleteFileW(ownTemplate.c_str());
    WriteNewFileTemplate(L".vnx", false, program.c_str());
    const std::string own = ReadBytes(ownTemplate);
    EXPECT_EQ(24u, own.size());
    EXPECT_EQ("Vnx!", own.substr(0, 4));
    DeleteFileW(zipTemplate.c_str());
    DeleteFileW(ownTemplate.c_str());
}

TEST_F(TemplatesTest, ShellNewIsReplacedWholeOnlyWithTheShellExtension)
{
    for (const wchar_t* extension : {L".zip", L".vnx"})
    {
        const std::wstring key = std::wstring(extension) + L"\\ShellNew";
        SetClassValue(key.c_str(), L"NullFile", L"");
        SetClassValue(key.c_str(), L"Command", L"old.exe /new");
        const bool zip = extension[1] == L'z';

        SetExtensionAssociation(extension, AssociationTable[RowNamed(extension)], true, false);
        EXPECT_EQ(zip ? L"Velnox.ZIP" : L"Velnox", ClassValue(extension)) << extension;
        EXPECT_EQ(L"old.exe /new", ClassValue(key.c_str(), L"Command")) << extension;
        EXPECT_EQ(L"<no value>", ClassValue(key.c_str(), L"FileName")) << extension;

        SetExtensionAssociation(extension, AssociationTable[RowNamed(extension)], true, true);
        HKEY opened = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened));
        DWORD values = 0;
        RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(opened);
        EXPECT_EQ(1u, values) << extension;
        EXPECT_NE(L"<no value>", ClassValue(key.c_str(), L"FileName")) << extension;
    }
}

TEST_F(TemplatesTest, VolumeExtensionsFollowTheOwnFormat)
{
    SetClassValue(L".v05", nullptr, L"SomeVolume");
    SetClassValue(L".v30", nullptr, L"Untouched");
    IntegrationOptions ownOnly = {};
    ownOnly.Associate[0] = true;
    AssociateExtensions(ownOnly);
    // The rows' records are an older installation's: no machine copy.
    RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Setup");
    for (unsigned n = 0; n < 30; ++n)
        EXPECT_EQ(L"Velnox", ClassValue(VolumeExtension(n).c_str())) << n;
    EXPECT_EQ(L"Untouched", ClassValue(L".v30"));
    EXPECT_EQ(L"<no key>", ClassValue(L".v31"));

    struct Row
    {
        DWORD exist;
        const wchar_t* type;
        const wchar_t* expected;
    } rows[] = {
        {1, L"OldVolume", L"OldVolume"},
        {1, L"", L"<no key>"},
        {0, L"OldVolume", L"<no key>"},
    };
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i)
    {
        SetClassValue(L".vnx", nullptr, L"Velnox");
        // Older versions took volumes beyond ".v29".
        for (unsigned n : {0u, 29u, 77u, 99u})
            SetClassValue(VolumeExtension(n).c_str(), nullptr, n == 77 ? L"velnox" : L"Velnox");
        SetClassValue(L".v78", nullptr, L"Other");
        SetUserInt(L"Setup\\.vnx", L"Exist", rows[i].exist);
        SetUserString(L"Setup\\.vnx", L"Type", rows[i].type);
        SetExtensionAssociation(L".vnx", AssociationTable[RowNamed(L".vnx")], false, false);
        for (unsigned n : {0u, 29u, 77u, 99u})
            EXPECT_EQ(rows[i].expected, ClassValue(VolumeExtension(n).c_str()))
                << "row " << i << " volume " << n;
        EXPECT_EQ(L"Other", ClassValue(L".v78")) << "row " << i << ": another program's";
    }
}

// The archiver's own template is nobody's previous entry: a setup run again
// after another program left it there saves none, and an older record
// naming it gives none back.
TEST_F(TemplatesTest, OwnTemplateIsNoPreviousOwnersEntry)
{
    const std::wstring own = BesideTestBinary(kZipTemplateName);
    SetClassValue(L".zip", nullptr, L"Other.Zip");
    SetClassValue(L".zip\\ShellNew", L"FileName", own);
    SetExtensionAssociation(L".zip", AssociationTable[RowNamed(L".zip")], true, false);
    wchar_t saved[kPathChars];
    GetUserString(L"Setup\\.zip", L"ShellNew", saved, L"<none>");
    EXPECT_STREQ(L"", saved);

    RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Setup");
    SetUserString(L"Setup\\.zip", L"ShellNew", own.c_str());
    SetExtensionAssociation(L".zip", AssociationTable[RowNamed(L".zip")], false, false);
    EXPECT_EQ(L"Other.Zip", ClassValue(L".zip"));
    // The entry held only the archiver's template: it goes whole.
    EXPECT_EQ(L"<no key>", ClassValue(L".zip\\ShellNew", L"FileName"));
}

TEST_F(TemplatesTest, AceIsGivenBackOnlyWhileOurs)
{
    SetUserString(L"Setup\\.ace", L"Type", L"OldAce");
    SetUserInt(L"Setup\\.ace", L"Exist", 1);
    SetClassValue(L".ace", nullptr, L"Velnox");
    GiveBackAce();
    EXPECT_EQ(L"OldAce", ClassValue(L".ace"));
    EXPECT_EQ(L"<no key>", ClassValue(L".v00"));

    SetClassValue(L".ace", nullptr, L"AnotherTool");
    SetUserString(L"Setup\\.ace", L"Type", L"Stale");
    GiveBackAce();
    EXPECT_EQ(L"AnotherTool", ClassValue(L".ace"));
}
