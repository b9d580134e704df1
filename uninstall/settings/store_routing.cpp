#include "settings/store_routing.h"

#include "common/strings.h"
#include "platform/platform_probes.h"
#include "settings/portable_settings.h"

namespace
{

DWORD registryView = 0;

// The machine's classes key, opened as the system links it in each view
// (under WOW64 the 32-bit view's is a link), once per view for the whole
// run; null when it cannot be opened.
HKEY MachineClasses(DWORD view)
{
    static HKEY opened[2] = {nullptr, nullptr};
    HKEY& key = opened[view == KEY_WOW64_64KEY ? 1 : 0];
    if (key == nullptr &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                      view | KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        key = nullptr;
    return key;
}

} // namespace

bool ComposeKeyPath(HKEY root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity])
{
    subkey = subkey ? subkey : L"";
    if (IsSettingsRoot(root) && !IsFromRoot(subkey))
        return FormatString(path, ARRAYSIZE(path), L"Software\\Velnox%s%s", *subkey ? L"\\" : L"",
                            subkey) >= 0;
    if (IsSettingsRoot(root))
        ++subkey; // the root's own path goes without its "\"
    return CopyString(path, subkey);
}

void SetRegistryView(DWORD accessBits)
{
    registryView = accessBits;
}

DWORD RegistryView()
{
    return registryView;
}

void SelectRegistryView(bool is64Bit)
{
    SetRegistryView(is64Bit && IsWow64() ? KEY_WOW64_64KEY : 0);
}

bool IsIntegrationEnabled()
{
    return !Portable.Loaded || Portable.Integration || Portable.IntegrationForced;
}

Route RouteOf(HKEY root, const wchar_t* subkey)
{
    if (IsFileRouted(root, subkey))
        return Route::File;
    return root != NoRoot && !IsIntegrationEnabled() ? Route::Dropped : Route::Registry;
}

bool ComposeRegistryPath(HKEY& root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity],
                         DWORD view)
{
    if (!ComposeKeyPath(root, subkey, path))
        return false;
    if (root != HKEY_CLASSES_ROOT || *path == 0 || !RunsElevated())
        return true;
    root = MachineClasses(view);
    return root != nullptr;
}

bool RegistryPath(HKEY& root, const wchar_t* subkey, wchar_t (&path)[RegistryPathCapacity])
{
    return root != NoRoot && ComposeRegistryPath(root, subkey, path);
}
