#pragma once
// A clean slate for the integration tests: every extension the archiver can
// take, its classes, the per-user settings and the template files beside this
// binary are removed before and after each test. Raw registry calls check
// what the code under test wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "settings/portable_settings.h"
#include "settings/settings_fixtures.h"

// What a raw read found: the value, "<no key>" or "<no value>".
inline std::wstring ClassValue(const wchar_t* path, const wchar_t* name = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"<no key>";
    wchar_t value[2048] = {0};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const LONG status = RegQueryValueExW(key, name, nullptr, nullptr, (BYTE*)value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : L"<no value>";
}

inline void SetClassValue(const wchar_t* path, const wchar_t* name, const std::wstring& value)
{
    RawSet(HKEY_CLASSES_ROOT, path, name, REG_SZ, value.c_str(),
           DWORD((value.size() + 1) * sizeof(wchar_t)));
}

inline std::wstring BesideThisBinary(const wchar_t* name)
{
    wchar_t path[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L"\\/") + 1) + name;
}

inline std::wstring VolumeExtension(unsigned number)
{
    return (number < 10 ? L".v0" : L".v") + std::to_wstring(number);
}

inline IntegrationOptions AllRows(bool shellExt)
{
    IntegrationOptions options = {};
    for (size_t row = 0; row < kAssociationRows; ++row)
        options.Associate[row] = true;
    options.ShellExt = shellExt;
    return options;
}

class IntegrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FreePortableSettings();
        // Registry mode: no settings file is looked for.
        Portable.Attempted = true;
        Clean();
    }
    void TearDown() override
    {
        FreePortableSettings();
        Clean();
    }
    static void Clean()
    {
        for (const AssociationRow& row : AssociationTable)
        {
            ExtensionList list;
            SplitExtensionGroup(row.Group, list);
            for (size_t i = 0; i < list.Count; ++i)
                RemoveRegistryTree(HKEY_CLASSES_ROOT, list.Items[i]);
        }
        for (unsigned n = 0; n < 100; ++n)
        {
            RemoveRegistryTree(HKEY_CLASSES_ROOT, VolumeExtension(n));
        }
        for (const wchar_t* key : {L".rev", L".ace", L"Velnox", L"Velnox.ZIP", L"Velnox.REV"})
            RemoveRegistryTree(HKEY_CLASSES_ROOT, key);
        RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
        // Applying writes "exe32" there, App Paths and the uninstall entry;
        // later binaries expect them gone (an uninstall would remove them).
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE,
                           L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velnox archiver");
        RemoveRegistryTree(HKEY_LOCAL_MACHINE,
                           L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velnox.exe");
        // The template files beside this binary are left: the other prefix
        // may be writing them at the same time.
    }
};
