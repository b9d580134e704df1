#pragma once
// Raw files and registry keys for the settings tests, made and checked with
// plain Windows calls rather than the code under test. Files live in the
// prefix's temporary folder, so the two prefixes never share them.
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

inline std::wstring ScratchFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"VelnoxSettingsTest";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\";
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

inline std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    char block[4096];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, block, sizeof(block), &read, nullptr) &&
           read > 0)
        bytes.append(block, read);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return bytes;
}

// UTF-16 little-endian bytes, as the settings writer produces them.
inline std::string Utf16Bytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text)
        bytes += std::string{char(c & 0xFF), char(c >> 8)};
    return bytes;
}

inline bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A registry link is deleted as a link: the plain deletion would take its target.
inline bool RemoveRegistryLink(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | DELETE, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    bool link = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
                    ERROR_SUCCESS &&
                type == REG_LINK;
    typedef LONG(NTAPI * DeleteKeyFunction)(HANDLE);
    DeleteKeyFunction deleteKey = reinterpret_cast<DeleteKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (link)
        deleteKey(key);
    RegCloseKey(key);
    return link;
}

// Makes root\path a registry link to target, a native path such as
// "\REGISTRY\USER\<sid>\Software\Other".
inline bool MakeRegistryLink(HKEY root, const std::wstring& path, const std::wstring& target)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool made = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                               reinterpret_cast<const BYTE*>(target.c_str()),
                               DWORD(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return made;
}

// The native path of a key of HKEY_CURRENT_USER, for link targets.
inline std::wstring UserKeyNativePath(const std::wstring& path)
{
    HANDLE token = nullptr;
    BYTE user[256];
    DWORD size = 0;
    wchar_t* sid = nullptr;
    std::wstring native;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, user, sizeof(user), &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid))
    {
        native = std::wstring(L"\\REGISTRY\\USER\\") + sid + L"\\" + path;
        LocalFree(sid);
    }
    if (token)
        CloseHandle(token);
    return native;
}

// Makes a key one name at a time, for paths longer than one call takes.
inline bool RawMakeKey(HKEY root, const std::wstring& path)
{
    HKEY parent = root;
    for (size_t start = 0; start <= path.size();)
    {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = path.size();
        HKEY child = nullptr;
        LONG status = RegCreateKeyExW(parent, path.substr(start, end - start).c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &child, nullptr);
        if (parent != root)
            RegCloseKey(parent);
        if (status != ERROR_SUCCESS)
            return false;
        parent = child;
        start = end + 1;
    }
    RegCloseKey(parent);
    return true;
}

inline void RemoveRegistryTree(HKEY root, const std::wstring& path)
{
    if (RemoveRegistryLink(root, path))
        return;
    std::vector<std::wstring> children;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS;
             ++i, length = ARRAYSIZE(name))
            children.push_back(path + L"\\" + name);
        RegCloseKey(key);
    }
    for (const std::wstring& child : children)
        RemoveRegistryTree(root, child);
    RegDeleteKeyW(root, path.c_str());
}

inline bool RawKeyExists(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline std::wstring RawString(HKEY root, const wchar_t* path, const wchar_t* name)
{
    wchar_t value[64] = {0};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"<no key>";
    LONG status = RegQueryValueExW(key, name, nullptr, nullptr, (BYTE*)value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : L"<no value>";
}

inline void RawSet(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type,
                   const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
    {
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
}
