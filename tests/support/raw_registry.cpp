#include "support/raw_registry.h"

#include <cstring>
#include <cwchar>

namespace
{

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// A registry link is deleted as a link: the plain deletion would take its target.
bool RemoveRegistryLink(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | DELETE | view,
                      &key) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    const bool link = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr,
                                       nullptr) == ERROR_SUCCESS &&
                      type == REG_LINK;
    typedef LONG(NTAPI * DeleteKeyFunction)(HANDLE);
    DeleteKeyFunction deleteKey = reinterpret_cast<DeleteKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (link)
        deleteKey(key);
    RegCloseKey(key);
    return link;
}

} // namespace

bool RawKeyExists(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring RawValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view,
                      DWORD* type)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return kMissing;
    wchar_t data[2200] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD valueType = 0;
    LONG status =
        RegQueryValueExW(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (type)
        *type = valueType;
    if (status != ERROR_SUCCESS)
        return kMissing;
    if (valueType == REG_DWORD)
    {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof(number));
        return std::to_wstring(number);
    }
    return data;
}

std::wstring RawString(HKEY root, const std::wstring& path, const wchar_t* name)
{
    if (!RawKeyExists(root, path))
        return L"<no key>";
    const std::wstring value = RawValue(root, path, name);
    return value == kMissing ? L"<no value>" : value;
}

DWORD RawValueCount(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path, REGSAM view)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    DWORD length = ARRAYSIZE(name);
    for (DWORD i = 0;
         RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = ARRAYSIZE(name))
        names.push_back(name);
    RegCloseKey(key);
    return names;
}

void RawSet(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size, REGSAM view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void RawSetString(HKEY root, const std::wstring& path, const wchar_t* name,
                  const std::wstring& value, REGSAM view)
{
    RawSet(root, path, name, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)),
           view);
}

void RawDeleteValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

void RemoveRegistryTree(HKEY root, const std::wstring& path, REGSAM view)
{
    if (RemoveRegistryLink(root, path, view))
        return;
    for (const std::wstring& name : Subkeys(root, path, view))
        RemoveRegistryTree(root, path + L"\\" + name, view);
    typedef LONG(WINAPI * DeleteKeyEx)(HKEY, LPCWSTR, REGSAM, DWORD);
    static const DeleteKeyEx deleteKeyEx = reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    if (view && deleteKeyEx)
        deleteKeyEx(root, path.c_str(), view, 0);
    else
        RegDeleteKeyW(root, path.c_str());
}

std::vector<REGSAM> Views(bool wow64)
{
    return wow64 ? std::vector<REGSAM>{KEY_WOW64_32KEY, KEY_WOW64_64KEY} : std::vector<REGSAM>{0};
}

std::vector<std::wstring> PendingRenames()
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    std::vector<wchar_t> data(65536);
    DWORD size = DWORD(data.size() * sizeof(wchar_t) - 4);
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS)
    {
        for (const wchar_t* p = data.data(); *p || p[1]; p += wcslen(p) + 1)
            if (*p)
                names.push_back(p);
    }
    RegCloseKey(key);
    return names;
}

int PendingCount(const std::wstring& name)
{
    int count = 0;
    for (const std::wstring& pending : PendingRenames())
        if (pending.size() >= name.size() &&
            _wcsicmp(pending.c_str() + pending.size() - name.size(), name.c_str()) == 0)
            ++count;
    return count;
}

void ForgetPendingRenames()
{
    RawDeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
}
