#pragma once
// The shell folders as the tests see them, and a sandbox for the shortcuts
// that setup makes: the prefix user's desktop is a link into the Linux home,
// shared by both prefixes, so the sandbox points it at a folder of this
// prefix instead and keeps the shell from copying new shortcuts into the
// Linux menus. Everything is put back as it was when the sandbox is left.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

const wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The folder the shell gives for a CSIDL; "?" when it gives none.
std::wstring ShellFolder(int csidl);

// A value of HKEY_CURRENT_USER changed for a while: Restore puts back what
// was there, or removes the value when there was none.
class SavedUserValue
{
public:
    void Save(const wchar_t* key, const wchar_t* name);
    void Swap(const wchar_t* key, const wchar_t* name, DWORD type, const std::wstring& value);
    void Restore();

private:
    std::wstring Key, Name;
    DWORD Type = 0;
    std::vector<BYTE> Data;
    bool Existed = false;
};

class ShellSandbox
{
public:
    // The desktop becomes this folder of the temporary folder.
    void Enter(const wchar_t* desktopName);
    void Leave();
    std::wstring Desktop;

private:
    SavedUserValue MenuBuilder, DesktopFolder, ResolvedDesktop;
};

// Around every test of a binary that runs setup in its own process: COM,
// the program's texts, the settings store in registry mode (no settings
// file is looked for), and the shell sandbox.
class SetupEnvironment : public ::testing::Environment
{
public:
    explicit SetupEnvironment(const wchar_t* desktopName) : DesktopName(desktopName) {}
    void SetUp() override;
    void TearDown() override;
    ShellSandbox Sandbox;

private:
    const wchar_t* DesktopName;
};
