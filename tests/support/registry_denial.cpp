#include "support/registry_denial.h"

#include <cwchar>
#include <cwctype>

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
};
DenialState state;

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

bool Refuse(HKEY root, LPCWSTR path)
{
    if ((state.Root && root != state.Root) || !ContainsNoCase(path, state.PathPart))
        return false;
    ++state.Refusals;
    return true;
}

LONG WINAPI DenyingCreate(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR className, DWORD options,
                          REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY key,
                          LPDWORD disposition)
{
    if (Refuse(root, path))
        return ERROR_ACCESS_DENIED;
    return state.Create(root, path, reserved, className, options, access, security, key,
                        disposition);
}

LONG WINAPI DenyingOpen(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key)
{
    const REGSAM writing = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC;
    if ((access & writing) && Refuse(root, path))
        return ERROR_ACCESS_DENIED;
    return state.Open(root, path, options, access, key);
}

LONG WINAPI DenyingDelete(HKEY root, LPCWSTR path)
{
    if (Refuse(root, path))
        return ERROR_ACCESS_DENIED;
    return state.Delete(root, path);
}

LONG WINAPI DenyingDeleteEx(HKEY root, LPCWSTR path, REGSAM access, DWORD reserved)
{
    if (Refuse(root, path))
        return ERROR_ACCESS_DENIED;
    return state.DeleteEx(root, path, access, reserved);
}

struct Patch
{
    const char* Name;
    void* Replacement;
    void** Original;
};

// Writes the replacement into this module's import slot of the named
// registry function and returns the address it held, or null when the module
// does not import it.
void* SwapImport(const char* functionName, void* replacement)
{
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    IMAGE_DOS_HEADER* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    IMAGE_IMPORT_DESCRIPTOR* descriptor =
        reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; descriptor->Name; ++descriptor)
    {
        const char* library = reinterpret_cast<const char*>(base + descriptor->Name);
        if (_stricmp(library, "advapi32.dll") != 0 || descriptor->OriginalFirstThunk == 0)
            continue;
        IMAGE_THUNK_DATA* names =
            reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        IMAGE_THUNK_DATA* slots =
            reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots)
        {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), functionName) != 0)
                continue;
            DWORD oldProtection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                                &oldProtection))
                return nullptr;
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), oldProtection,
                           &oldProtection);
            return previous;
        }
    }
    return nullptr;
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
    // The program looks up RegDeleteKeyExW at run time, so it may not be
    // imported at all; the calls the settings store makes must be.
    Patch* patches = Patches();
    bool patched = false;
    for (size_t i = 0; i < kPatchCount; ++i)
    {
        *patches[i].Original = SwapImport(patches[i].Name, patches[i].Replacement);
        if (i == 0)
            patched = *patches[i].Original != nullptr;
    }
    state.Active = patched;
    Owner = patched;
    if (!patched)
        for (size_t i = 0; i < kPatchCount; ++i)
            if (*patches[i].Original)
                SwapImport(patches[i].Name, *patches[i].Original);
}

DenyRegistryAccess::~DenyRegistryAccess()
{
    if (!Owner)
        return;
    Patch* patches = Patches();
    for (size_t i = 0; i < kPatchCount; ++i)
        if (*patches[i].Original)
            SwapImport(patches[i].Name, *patches[i].Original);
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
