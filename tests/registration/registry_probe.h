#pragma once
// Raw registry reads and clean-ups for the registration tests, in a chosen
// view (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY), made with plain Windows calls
// rather than the settings store under test.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

const wchar_t kMissing[] = L"<missing>";

inline bool RawKeyIn(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The value's text (or kMissing); its type goes to *type when asked.
inline std::wstring RawValue(HKEY root, const std::wstring& path, const wchar_t* name,
                             REGSAM view = 0, DWORD* type = nullptr)
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
        memcpy(&number, data, sizeof(number));
        return std::to_wstring(number);
    }
    return data;
}

inline DWORD RawValueCount(HKEY root, const std::wstring& path, REGSAM view = 0)
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

inline void RawDeleteTree(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    std::vector<std::wstring> children;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    wchar_t name[256];
    DWORD length = ARRAYSIZE(name);
    for (DWORD i = 0;
         RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = ARRAYSIZE(name))
        children.push_back(path + L"\\" + name);
    RegCloseKey(key);
    for (const std::wstring& child : children)
        RawDeleteTree(root, child, view);
    typedef LONG(WINAPI * DeleteKeyEx)(HKEY, LPCWSTR, REGSAM, DWORD);
    DeleteKeyEx deleteKeyEx = reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    if (view && deleteKeyEx)
        deleteKeyEx(root, path.c_str(), view, 0);
    else
        RegDeleteKeyW(root, path.c_str());
}

inline void RawSetString(HKEY root, const std::wstring& path, const wchar_t* name,
                         const std::wstring& value, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Both views under WOW64; the one view otherwise.
inline std::vector<REGSAM> Views(bool wow64)
{
    return wow64 ? std::vector<REGSAM>{KEY_WOW64_32KEY, KEY_WOW64_64KEY} : std::vector<REGSAM>{0};
}
