#pragma once
// A clean slate for the integration tests: every extension the archiver can
// take, its classes, the per-user settings and the template files beside this
// binary are removed before and after each test. Raw registry calls check
// what the code under test wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration/integration_options.h"
#include "integration/new_file_templates.h"
#include "platform/platform_probes.h"
#include "settings/portable_settings.h"
#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"

// What a raw read found: the value, "<no key>" or "<no value>".
inline std::wstring ClassValue(const wchar_t* path, const wchar_t* name = nullptr)
{
    return RawString(HKEY_CLASSES_ROOT, path, name);
}

inline void SetClassValue(const wchar_t* path, const wchar_t* name, const std::wstring& value)
{
    RawSetString(HKEY_CLASSES_ROOT, path, name, value);
}

// Every extension of the association table, row after row.
inline std::vector<std::wstring> TableExtensions()
{
    std::vector<std::wstring> all;
    for (const AssociationRow& row : AssociationTable)
    {
        ExtensionList list;
        SplitExtensionGroup(row.Group, list);
        all.insert(all.end(), list.Items, list.Items + list.Count);
    }
    return all;
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

// Presets the elevation probe while it lives: 1 an elevated run, 0 not.
class ElevationAs
{
public:
    explicit ElevationAs(int elevated) : saved_(ProbeCache.Elevated)
    {
        ProbeCache.Elevated = elevated;
    }
    ~ElevationAs() { ProbeCache.Elevated = saved_; }
    ElevationAs(const ElevationAs&) = delete;
    ElevationAs& operator=(const ElevationAs&) = delete;

private:
    const int saved_;
};

class IntegrationTest : public RegistryModeTest
{
protected:
    void Clean() override
    {
        for (const std::wstring& extension : TableExtensions())
            RemoveRegistryTree(HKEY_CLASSES_ROOT, extension);
        for (unsigned n = 0; n < 100; ++n)
            RemoveRegistryTree(HKEY_CLASSES_ROOT, VolumeExtension(n));
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
