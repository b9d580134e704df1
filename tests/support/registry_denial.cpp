#include "support/registry_denial.h"

#include "support/import_patch.h"

#include <cwchar>
#include <cwctype>
#include <map>
#include <string>

namespace
{

typedef LONG(WINAPI* CreateKeyFn)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                  const SECURITY_ATTRIBUTES*, PHKEY, LPDWORD);
typedef LONG(WINAPI* OpenKeyFn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI* DeleteKeyFn)(HKEY, LPCWSTR);
typedef LONG(WINAPI* DeleteKeyExFn)(HKEY, LPCWSTR, REGSAM, DWORD);

struct DenialState
{
    const wchar_t* PathPart = nullptr;
    HKEY Root = nullptr;
    int Refusals = 0;
    bool Active = false;
    CreateKeyFn Create = nullptr;
    OpenKeyFn Open = nullptr;
    DeleteKeyFn Delete = nullptr;
    DeleteKeyExFn DeleteEx = nullptr;
    // Keys opened while the denial lives, with their root and path: the
    // store opens a path one name at a time, relative to the key above.
    struct Opened
    {
        HKEY Root;
        std::wstring Path;
    };
    std::map<HKEY, Opened> Keys;
};
DenialState state;

DenialState::Opened Resolve(HKEY parent, LPCWSTR path)
{
    const std::wstring name = path ? path : L"";
    auto found = state.Keys.find(parent);
    if (found == state.Keys.end())
        return {parent, name};
    return {found->second.Root, found->second.Path + L"\\" + name};
}

void Remember(HKEY key, const DenialState::Opened& opened)
{
    state.Keys[key] = opened;
}

bool ContainsNoCase(const wchar_t* text, const wchar_t* part)
{
    if (!text)
        return false;
    size_t partLength = wcslen(part);
    for (; *text; ++text)
    {
        size_t i = 0;
        while (i < partLength && text[i] && towlower(text[i]) == towlower(part[i]))
            ++i;
        if (i == partLength)
            return true;
    }
    return false;
}

// An elevated run reaches the classes through its own handle of the
// machine's classes key (opened before the denial, or while it lives as
// HKEY_LOCAL_MACHINE "Software\Classes"), which the denial of
// HKEY_CLASSES_ROOT covers too.
bool IsMachineClassesKey(HKEY key)
{
    typedef LONG(NTAPI * QueryKeyFn)(HANDLE, int, void*, ULONG, ULONG*);
    static const QueryKeyFn query = reinterpret_cast<QueryKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    struct
    {
        ULONG Length;
        wchar_t Name[512];
    } info = {};
    ULONG size = 0;
    const int kKeyNameInformation = 3;
    if (!query || query(key, kKeyNameInformation, &info, sizeof(info) - sizeof(wchar_t), &size) < 0)
        return false;
    info.Name[info.Length / sizeof(wchar_t)] = 0;
    return ContainsNoCase(info.Name, L"\\MACHINE\\SOFTWARE\\CLASSES");
}

bool Refuse(HKEY root, LPCWSTR path)
{
    const bool machineClasses =
        IsMachineClassesKey(root) ||
        (root == HKEY_LOCAL_MACHINE && path && _wcsnicmp(path, L"Software\\Classes\\", 17) == 0);
    const bool rootMatches = !state.Root || root == state.Root ||
                             (state.Root == HKEY_CLASSES_ROOT && machineClasses);
    if (!rootMatches || !ContainsNoCase(path, state.PathPart))
        return false;
    ++state.Refusals;
    return true;
}

LONG WINAPI DenyingCreate(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR className, DWORD options,
                          REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY key,
                          LPDWORD disposition)
{
    const DenialState::Opened opened = Resolve(root, path);
    if (Refuse(opened.Root, opened.Path.c_str()))
        return ERROR_ACCESS_DENIED;
    LONG status = state.Create(root, path, reserved, className, options, access, security, key,
                               disposition);
    if (status == ERROR_SUCCESS)
        Remember(*key, opened);
    return status;
}

LONG WINAPI DenyingOpen(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key)
{
    const REGSAM writing = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC;
    const DenialState::Opened opened = Resolve(root, path);
    if ((access & writing) && Refuse(opened.Root, opened.Path.c_str()))
        return ERROR_ACCESS_DENIED;
    LONG status = state.Open(root, path, options, access, key);
    if (status == ERROR_SUCCESS)
        Remember(*key, opened);
    return status;
}

LONG WINAPI DenyingDelete(HKEY root, LPCWSTR path)
{
    const DenialState::Opened opened = Resolve(root, path);
    if (Refuse(opened.Root, opened.Path.c_str()))
        return ERROR_ACCESS_DENIED;
    return state.Delete(root, path);
}

LONG WINAPI DenyingDeleteEx(HKEY root, LPCWSTR path, REGSAM access, DWORD reserved)
{
    const DenialState::Opened opened = Resolve(root, path);
    if (Refuse(opened.Root, opened.Path.c_str()))
        return ERROR_ACCESS_DENIED;
    return state.DeleteEx(root, path, access, reserved);
}

struct Patch
{
    const char* Name;
    void* Replacement;
    void** Original;
};

void* SwapRegistryImport(const char* functionName, void* replacement)
{
    return SwapImport("advapi32.dll", functionName, replacement);
}

Patch* Patches()
{
    static Patch patches[] = {
        {"RegCreateKeyExW", reinterpret_cast<void*>(&DenyingCreate),
         reinterpret_cast<void**>(&state.Create)},
        {"RegOpenKeyExW", reinterpret_cast<void*>(&DenyingOpen),
         reinterpret_cast<void**>(&state.Open)},
        {"RegDeleteKeyW", reinterpret_cast<void*>(&DenyingDelete),
         reinterpret_cast<void**>(&state.Delete)},
        {"RegDeleteKeyExW", reinterpret_cast<void*>(&DenyingDeleteEx),
         reinterpret_cast<void**>(&state.DeleteEx)},
    };
    return patches;
}
const size_t kPatchCount = 4;

} // namespace

DenyRegistryAccess::DenyRegistryAccess(const wchar_t* pathPart, HKEY root)
{
    if (state.Active || !pathPart || !*pathPart)
        return;
    state.PathPart = pathPart;
    state.Root = root;
    state.Refusals = 0;
    state.Keys.clear();
    // The program deletes through keys it opened for deletion, which the
    // patched open refuses; RegDeleteKeyExW need not be imported at all.
    Patch* patches = Patches();
    bool patched = false;
    for (size_t i = 0; i < kPatchCount; ++i)
    {
        *patches[i].Original = SwapRegistryImport(patches[i].Name, patches[i].Replacement);
        if (i == 0)
            patched = *patches[i].Original != nullptr;
    }
    state.Active = patched;
    Owner = patched;
    if (!patched)
        for (size_t i = 0; i < kPatchCount; ++i)
            if (*patches[i].Original)
                SwapRegistryImport(patches[i].Name, *patches[i].Original);
}

DenyRegistryAccess::~DenyRegistryAccess()
{
    if (!Owner)
        return;
    Patch* patches = Patches();
    for (size_t i = 0; i < kPatchCount; ++i)
        if (*patches[i].Original)
            SwapRegistryImport(patches[i].Name, *patches[i].Original);
    state.Active = false;
}

bool DenyRegistryAccess::Active() const
{
    return Owner;
}

int DenyRegistryAccess::Refusals() const
{
    return state.Refusals;
}
