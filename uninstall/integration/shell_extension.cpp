#include "integration/shell_extension.h"

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "integration/app_registration.h"
#include "integration/integration_options.h"
#include "platform/platform_probes.h"
#include "settings/settings_roots.h"
#include "settings/settings_store.h"
#include "settings/store_routing.h"

const wchar_t kShellExtClsid32[] = L"{6F2C1A40-5A17-4E59-A1C8-2B9E7D04F513}";
const wchar_t kShellExtClsid64[] = L"{6F2C1A40-3D7B-4E59-A1C8-2B9E7D04F513}";

namespace
{

const size_t kKeyChars = 1024;

const wchar_t kApprovedKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// Handler keys under HKEY_CLASSES_ROOT, in the order they are written.
enum HandlerKeyKind
{
    NamedByClsid,   // key ends with the CLSID, empty default
    DropHandler,    // fixed key, default is the CLSID
    NamedByHandler, // key ends with the handler name, default is the CLSID
};
struct HandlerKey
{
    const wchar_t* Key;
    HandlerKeyKind Kind;
};
const HandlerKey kHandlerKeys[] = {
    {L"Velnox\\shellex\\ContextMenuHandlers\\%s", NamedByClsid},
    {L"Velnox\\shellex\\PropertySheetHandlers\\%s", NamedByClsid},
    {L"Velnox.ZIP\\shellex\\ContextMenuHandlers\\%s", NamedByClsid},
    {L"Velnox.ZIP\\shellex\\PropertySheetHandlers\\%s", NamedByClsid},
    {L"exefile\\shellex\\PropertySheetHandlers\\%s", NamedByClsid},
    {L"Velnox\\shellex\\DropHandler", DropHandler},
    {L"Velnox.ZIP\\shellex\\DropHandler", DropHandler},
    {L"*\\shellex\\ContextMenuHandlers\\%s", NamedByHandler},
    {L"Folder\\shellex\\ContextMenuHandlers\\%s", NamedByHandler},
    {L"Folder\\shellex\\DragDropHandlers\\%s", NamedByHandler},
    {L"Drive\\shellex\\DragDropHandlers\\%s", NamedByHandler},
    {L"lnkfile\\shellex\\ContextMenuHandlers\\%s", NamedByHandler},
};

// Left by older installations; registration no longer writes them.
const wchar_t* const kOldDirectoryKeys[] = {
    L"Directory\\shellex\\ContextMenuHandlers\\%s",
    L"Directory\\shellex\\DragDropHandlers\\%s",
};

// Keys are named whole or not at all: a cut one would be another program's.
bool FormatHandlerKey(const HandlerKey& row, const wchar_t* clsid, const wchar_t* handlerName,
                      wchar_t (&key)[kKeyChars])
{
    return FormatString(key, row.Key, row.Kind == NamedByHandler ? handlerName : clsid) >= 0;
}

bool FormatClassKeys(const wchar_t* clsid, wchar_t (&key)[kKeyChars], wchar_t (&server)[kKeyChars])
{
    return FormatString(key, L"CLSID\\%s", clsid) >= 0 &&
           FormatString(server, L"CLSID\\%s\\InProcServer32", clsid) >= 0;
}

void WriteClassKeys(const wchar_t* clsid, const wchar_t* libraryPath, bool is64Bit)
{
    wchar_t key[kKeyChars];
    wchar_t server[kKeyChars];
    if (!FormatClassKeys(clsid, key, server))
        return;
    const RegistryViewScope view(is64Bit);
    SetString(HKEY_CLASSES_ROOT, key, L"", L"Velnox");
    SetString(HKEY_CLASSES_ROOT, server, L"", libraryPath);
    SetString(HKEY_CLASSES_ROOT, server, L"ThreadingModel", L"Apartment");
}

void DeleteClassKeys(const wchar_t* clsid, bool is64Bit)
{
    wchar_t server[kKeyChars];
    wchar_t key[kKeyChars];
    if (!FormatClassKeys(clsid, key, server))
        return;
    DeleteKey(HKEY_CLASSES_ROOT, server);
    DeleteKey(HKEY_CLASSES_ROOT, key);
    // The 64-bit library's class keys live in the 64-bit view, which a plain
    // deletion from this 32-bit process does not reach.
    if (is64Bit && IsWow64())
    {
        const RegistryViewScope view(true);
        DeleteKey(HKEY_CLASSES_ROOT, server);
        DeleteKey(HKEY_CLASSES_ROOT, key);
    }
}

} // namespace

void RegisterShellExtension(bool registerIt, const wchar_t* libraryName, const wchar_t* clsid,
                            const wchar_t* handlerName, bool is64Bit, const wchar_t* programPath)
{
    wchar_t key[kKeyChars];
    if (!registerIt)
    {
        DeleteClassKeys(clsid, is64Bit);
        for (const HandlerKey& row : kHandlerKeys)
            if (FormatHandlerKey(row, clsid, handlerName, key))
                DeleteKey(HKEY_CLASSES_ROOT, key);
        for (const wchar_t* oldKey : kOldDirectoryKeys)
            if (FormatString(key, oldKey, handlerName) >= 0)
                DeleteKey(HKEY_CLASSES_ROOT, key);
        DeleteValue(HKEY_LOCAL_MACHINE, kApprovedKey, clsid);
        return;
    }

    wchar_t libraryPath[kPathChars];
    if (ProgramFilePath(programPath, libraryName, libraryPath) && FileExists(libraryPath))
        WriteClassKeys(clsid, libraryPath, is64Bit);
    for (const HandlerKey& row : kHandlerKeys)
        if (FormatHandlerKey(row, clsid, handlerName, key))
            SetString(HKEY_CLASSES_ROOT, key, L"", row.Kind == NamedByClsid ? L"" : clsid);
    SetString(HKEY_LOCAL_MACHINE, kApprovedKey, clsid, L"Velnox shell extension");
}

void UpdateShellExtensions(bool remove, const IntegrationOptions& options,
                           const wchar_t* programPath)
{
    bool wow64 = IsWow64();
    RegisterShellExtension(options.ShellExt, L"vnxext.dll", kShellExtClsid32,
                           wow64 ? L"Velnox32" : L"Velnox", false, programPath);
    if (wow64)
        RegisterShellExtension(options.ShellExt, L"vnxext64.dll", kShellExtClsid64, L"Velnox", true,
                               programPath);
    UpdateCapabilities(remove);
    if (remove)
        DeleteMachineSettings();
}
