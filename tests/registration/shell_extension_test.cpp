#include "integration/integration_options.h"
#include "integration/shell_extension.h"
#include "platform/platform_probes.h"
#include "settings/settings_store.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"

#include <gtest/gtest.h>

namespace
{

const wchar_t kApproved[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t* const kClsidKeys[] = {
    L"Velnox\\shellex\\ContextMenuHandlers\\",     L"Velnox\\shellex\\PropertySheetHandlers\\",
    L"Velnox.ZIP\\shellex\\ContextMenuHandlers\\", L"Velnox.ZIP\\shellex\\PropertySheetHandlers\\",
    L"exefile\\shellex\\PropertySheetHandlers\\",
};
const wchar_t* const kHandlerKeys[] = {
    L"*\\shellex\\ContextMenuHandlers\\",       L"Folder\\shellex\\ContextMenuHandlers\\",
    L"Folder\\shellex\\DragDropHandlers\\",     L"Drive\\shellex\\DragDropHandlers\\",
    L"lnkfile\\shellex\\ContextMenuHandlers\\", L"Directory\\shellex\\ContextMenuHandlers\\",
    L"Directory\\shellex\\DragDropHandlers\\",
};
const size_t kWrittenHandlerKeys = 5; // the two "Directory" keys are only deleted
const wchar_t* const kDropHandlers[] = {L"Velnox\\shellex\\DropHandler",
                                        L"Velnox.ZIP\\shellex\\DropHandler"};

struct Library
{
    const wchar_t* File;
    std::wstring Clsid;
    std::wstring Handler;
    REGSAM View; // where its class keys belong
};

class ShellExtensionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wow64 = IsWin64Prefix();
        ASSERT_EQ(wow64, IsWow64());
        if (wow64)
            libraries = {{L"vnxext.dll", kShellExtClsid32, L"Velnox32", KEY_WOW64_32KEY},
                         {L"vnxext64.dll", kShellExtClsid64, L"Velnox", KEY_WOW64_64KEY}};
        else
            libraries = {{L"vnxext.dll", kShellExtClsid32, L"Velnox", 0}};
        for (const Library& library : libraries)
            CloseHandle(CreateFileW((scratch / library.File).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
        program = scratch / L"uninstall.exe";
        Clean();
    }
    void TearDown() override { Clean(); }

    void Clean()
    {
        for (const wchar_t* root : {L"Velnox", L"Velnox.ZIP"})
            RemoveRegistryTree(HKEY_CLASSES_ROOT, root);
        for (const wchar_t* clsid : {kShellExtClsid32, kShellExtClsid64})
        {
            for (REGSAM view : Views(wow64))
                RemoveRegistryTree(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid, view);
            RemoveRegistryTree(HKEY_CLASSES_ROOT, kClsidKeys[4] + std::wstring(clsid));
        }
        for (const wchar_t* handler : {L"Velnox", L"Velnox32"})
            for (const wchar_t* key : kHandlerKeys)
                RemoveRegistryTree(HKEY_CLASSES_ROOT, key + std::wstring(handler));
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kApproved);
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox");
    }

    void Update(bool shellExt)
    {
        IntegrationOptions options = {};
        options.ShellExt = shellExt;
        UpdateShellExtensions(!shellExt, options, program.c_str());
        EXPECT_EQ(0u, RegistryView()) << "the store is left in the process's own view";
    }

    bool ClassKeyInAnyView(const Library& library)
    {
        for (REGSAM view : Views(wow64))
            if (RawKeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + library.Clsid, view))
                return true;
        return false;
    }

    ScratchDir scratch{L"shellext"};
    std::wstring program;
    bool wow64 = false;
    std::vector<Library> libraries;
};

TEST_F(ShellExtensionTest, RegistersEachLibraryInItsViewUnderItsHandlerName)
{
    Update(true);
    for (const Library& library : libraries)
    {
        SCOPED_TRACE(library.File);
        std::wstring server = L"CLSID\\" + library.Clsid + L"\\InProcServer32";
        EXPECT_EQ(L"Velnox",
                  RawValue(HKEY_CLASSES_ROOT, L"CLSID\\" + library.Clsid, L"", library.View));
        EXPECT_EQ(scratch / library.File, RawValue(HKEY_CLASSES_ROOT, server, L"", library.View));
        EXPECT_EQ(L"Apartment",
                  RawValue(HKEY_CLASSES_ROOT, server, L"ThreadingModel", library.View));
        if (wow64)
        {
            REGSAM other = library.View == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
            EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + library.Clsid, other));
        }
        for (const wchar_t* key : kClsidKeys)
            EXPECT_EQ(L"", RawValue(HKEY_CLASSES_ROOT, key + library.Clsid, L"")) << key;
        for (size_t i = 0; i < kWrittenHandlerKeys; ++i)
            EXPECT_EQ(library.Clsid,
                      RawValue(HKEY_CLASSES_ROOT, kHandlerKeys[i] + library.Handler, L""))
                << kHandlerKeys[i];
        EXPECT_EQ(L"Velnox shell extension",
                  RawValue(HKEY_LOCAL_MACHINE, kApproved, library.Clsid.c_str()));
    }
    // The library registered last owns the drop targets.
    for (const wchar_t* key : kDropHandlers)
        EXPECT_EQ(libraries.back().Clsid, RawValue(HKEY_CLASSES_ROOT, key, L"")) << key;
    if (!wow64)
    {
        EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\Velnox32"));
    }
}

TEST_F(ShellExtensionTest, MissingLibraryGetsHandlerKeysButNoClassKeys)
{
    const Library& missing = libraries.back();
    ASSERT_TRUE(DeleteFileW((scratch / missing.File).c_str()));
    Update(true);
    EXPECT_FALSE(ClassKeyInAnyView(missing));
    EXPECT_EQ(missing.Clsid, RawValue(HKEY_CLASSES_ROOT, kHandlerKeys[0] + missing.Handler, L""));
    EXPECT_EQ(L"", RawValue(HKEY_CLASSES_ROOT, kClsidKeys[0] + missing.Clsid, L""));
    if (wow64)
    {
        EXPECT_TRUE(ClassKeyInAnyView(libraries.front()));
    }
}

TEST_F(ShellExtensionTest, UnregisteringRemovesAllButKeysOthersExtended)
{
    Update(true);
    for (const Library& library : libraries)
        for (size_t i = kWrittenHandlerKeys; i < ARRAYSIZE(kHandlerKeys); ++i)
            RawSetString(HKEY_CLASSES_ROOT, kHandlerKeys[i] + library.Handler, L"", library.Clsid);
    std::wstring extended = kHandlerKeys[1] + libraries.front().Handler;
    RawSetString(HKEY_CLASSES_ROOT, extended + L"\\OtherTool", L"", L"x");

    Update(false);
    for (const Library& library : libraries)
    {
        SCOPED_TRACE(library.File);
        EXPECT_FALSE(ClassKeyInAnyView(library));
        for (const wchar_t* key : kClsidKeys)
            EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, key + library.Clsid)) << key;
        for (const wchar_t* key : kHandlerKeys)
        {
            if (key + library.Handler != extended)
            {
                EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, key + library.Handler)) << key;
            }
        }
        EXPECT_EQ(kMissing, RawValue(HKEY_LOCAL_MACHINE, kApproved, library.Clsid.c_str()));
    }
    for (const wchar_t* key : kDropHandlers)
        EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, extended));
}

} // namespace
