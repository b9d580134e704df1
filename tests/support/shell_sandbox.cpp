#include "support/shell_sandbox.h"

#include <shlobj.h>

#include "localization/language_module.h"
#include "localization/messages.h"
#include "settings/portable_settings.h"
#include "support/plain_files.h"
#include "support/program_under_test.h"
#include "support/raw_registry.h"

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH];
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return L"?";
    return path;
}

void SavedUserValue::Save(const wchar_t* key, const wchar_t* name)
{
    Key = key;
    Name = name;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    Existed = RegQueryValueExW(handle, name, nullptr, &Type, nullptr, &size) == ERROR_SUCCESS;
    Data.resize(size);
    if (Existed)
        RegQueryValueExW(handle, name, nullptr, &Type, Data.data(), &size);
    RegCloseKey(handle);
}

void SavedUserValue::Swap(const wchar_t* key, const wchar_t* name, DWORD type,
                          const std::wstring& value)
{
    Save(key, name);
    RawSet(HKEY_CURRENT_USER, key, name, type, value.c_str(),
           DWORD((value.size() + 1) * sizeof(wchar_t)));
}

void SavedUserValue::Restore()
{
    if (Existed)
        RawSet(HKEY_CURRENT_USER, Key, Name.c_str(), Type, Data.data(), DWORD(Data.size()));
    else
        RawDeleteValue(HKEY_CURRENT_USER, Key, Name.c_str());
}

void ShellSandbox::Enter(const wchar_t* desktopName)
{
    Desktop = TempFolder() + desktopName;
    CreateDirectoryW(Desktop.c_str(), nullptr);
    MenuBuilder.Swap(L"Software\\Wine\\DllOverrides", L"winemenubuilder.exe", REG_SZ, L"");
    ResolvedDesktop.Save(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                         L"Desktop");
    DesktopFolder.Swap(kUserShellFolders, L"Desktop", REG_EXPAND_SZ, Desktop);
    // The shell writes each folder it resolves into "Shell Folders", and
    // keeps it: done here, before anything is read.
    ShellFolder(CSIDL_DESKTOPDIRECTORY);
}

void ShellSandbox::Leave()
{
    DesktopFolder.Restore();
    ResolvedDesktop.Restore();
    MenuBuilder.Restore();
    RemoveTree(Desktop);
}

void SetupEnvironment::SetUp()
{
    OleInitialize(nullptr);
    ResourceModule = ProgramModule = LoadProgramResources();
    FreePortableSettings();
    Portable.Attempted = true;
    Sandbox.Enter(DesktopName);
}

void SetupEnvironment::TearDown()
{
    Sandbox.Leave();
    ResourceModule = ProgramModule = nullptr;
    OleUninitialize();
}
