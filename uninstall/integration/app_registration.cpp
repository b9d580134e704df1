#include "integration/app_registration.h"

#include "common/strings.h"
#include "files/path_names.h"
#include "integration/integration_options.h"
#include "platform/platform_probes.h"
#include "settings/registry_paths.h"
#include "settings/settings_roots.h"
#include "settings/settings_store.h"
#include "settings/store_routing.h"

namespace
{

const wchar_t kRegisteredApplicationsKey[] = L"\\Software\\RegisteredApplications";

} // namespace

bool ProgramFilePath(const wchar_t* programPath, const wchar_t* fileName, wchar_t* path,
                     size_t capacity)
{
    if (capacity == 0)
        return false;
    if (programPath)
        return CopyString(path, programPath, capacity) && SetName(path, fileName, capacity);
    DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(capacity));
    // A cut name would put the file into a wrong folder: use a bare name.
    if (length == 0 || length >= capacity)
        path[0] = 0;
    return SetName(path, fileName, capacity);
}

bool RegisterAppPath(const wchar_t* programPath)
{
    wchar_t archiver[kPathChars];
    wchar_t folder[kPathChars];
    // Cut, the name would send whoever looks the archiver up to another file.
    if (!ProgramFilePath(programPath, L"Velnox.exe", archiver) || !CopyString(folder, archiver))
        return true;
    RemoveNameFromPath(folder);
    if (SetString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"", archiver) == ERROR_ACCESS_DENIED)
        return false;
    SetString(HKEY_LOCAL_MACHINE, kOwnSettingsKey, L"exe32", archiver);
    SetString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"Path", folder);
    // 64-bit programs look the archiver up in their own view.
    const RegistryViewScope view(true);
    SetString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"", archiver);
    SetString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"Path", folder);
    return true;
}

void UpdateCapabilities(bool remove)
{
    if (WindowsVersion() < 0x0600)
        return;
    if (remove)
    {
        DeleteValue(HKEY_LOCAL_MACHINE, kRegisteredApplicationsKey, L"Velnox");
        return;
    }
    SetString(HKEY_LOCAL_MACHINE, kRegisteredApplicationsKey, L"Velnox",
              L"Software\\Velnox\\Capabilities");
    SetString(HKEY_LOCAL_MACHINE, L"Capabilities", L"ApplicationDescription", L"Velnox");
    // Every archive type is offered, whether or not the user associated it.
    for (size_t row = 0; row < kAssociationRows; ++row)
    {
        ExtensionList extensions;
        SplitExtensionGroup(AssociationTable[row].Group, extensions);
        const wchar_t* className = ClassOf(AssociationTable[row]);
        for (size_t i = 0; i < extensions.Count; ++i)
            SetString(HKEY_LOCAL_MACHINE, L"Capabilities\\FileAssociations", extensions.Items[i],
                      className);
    }
}

void DeleteMachineSettings()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kOwnSettingsKey);
}
