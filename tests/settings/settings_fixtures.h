#pragma once
// Raw files and registry keys for the settings tests, made and checked with
// plain Windows calls rather than the code under test. Files live in the
// prefix's temporary folder, so the two prefixes never share them.
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/portable_settings.h"
#include "support/plain_files.h"
#include "support/raw_registry.h"

inline std::wstring ScratchFolder()
{
    const std::wstring folder = TempFolder() + L"VelnoxSettingsTest";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\";
}

// UTF-16 little-endian bytes, as the settings writer produces them.
inline std::string Utf16Bytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text)
        bytes += std::string{char(c & 0xFF), char(c >> 8)};
    return bytes;
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

// The store in registry mode (no settings file is looked for), from a clean
// slate: Clean runs before and after each test.
class RegistryModeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FreePortableSettings();
        Portable.Attempted = true;
        Clean();
    }
    void TearDown() override
    {
        FreePortableSettings();
        Clean();
    }
    virtual void Clean() = 0;
};
