#pragma once
// The built uninstall.exe as the tests reach it, a scratch folder per test,
// and starting the program (or this test binary) as a separate process.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// "Z:\...\uninstall.exe": the Linux path from VNX_PROGRAM as Wine sees it.
std::wstring ProgramPath();
// The program's own resources, loaded as data; null when it cannot be.
HMODULE LoadProgramResources();
// A message of a module's string table (up to 511 characters), or "".
std::wstring ResourceText(HMODULE module, UINT number);
// A folder next to this test binary's own path, e.g. "langmodule\plain".
std::wstring BesideTestBinary(const wchar_t* relative);
bool IsWin64Prefix();

// A fresh folder under the prefix's temporary folder, removed with all it
// holds at the end of the test.
class ScratchDir
{
public:
    explicit ScratchDir(const wchar_t* tag);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& Path() const { return Folder; }
    std::wstring operator/(const wchar_t* name) const { return Folder + L"\\" + name; }

private:
    std::wstring Folder;
};

// A started process and its main thread; killed at the end if still running.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // commandLine holds the program's quoted path first; flags go to
    // CreateProcessW (DETACHED_PROCESS: no console, as the shell starts it).
    bool Start(const std::wstring& commandLine, const wchar_t* directory = nullptr,
               DWORD flags = 0);
    // The exit code, or -1 when it did not end within the time.
    long Wait(DWORD milliseconds);
    // A visible top-level dialog window of the child other than `other`, or
    // null after the time or once the child has ended.
    HWND FindDialog(DWORD milliseconds, HWND other = nullptr) const;
    DWORD Id() const { return Info.dwProcessId; }

private:
    PROCESS_INFORMATION Info = {};
};

std::wstring WindowText(HWND window);
// True when the window's class is not the system's class of its name: a
// control that the common controls version 6 made, with visual styles. The
// test binaries ask for no such version, so their own class is the system's.
bool HasVisualStyles(HWND control);

// A copy of uninstall.exe in a scratch folder of its own, or in a folder
// made below it where a test needs room beside the installation, started
// from there, and the program's resources for the texts it shows.
class ProgramCopy
{
public:
    explicit ProgramCopy(const wchar_t* tag, const wchar_t* subfolder = nullptr);
    ~ProgramCopy();
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;
    // Copied, and the resources loaded.
    bool Ready() const { return Copied && Resources != nullptr; }
    // The copy run with the options, its folder the current one.
    bool Start(ChildProcess& child, const std::wstring& options) const;
    // The same, waited for: its exit code, -1 when it did not end in time,
    // -2 when it did not start.
    long RunToEnd(const std::wstring& options, DWORD milliseconds = 30000) const;
    // A file beside the copy.
    std::wstring In(const wchar_t* name) const { return Home + L"\\" + name; }
    // A message of the program's string table.
    std::wstring Message(UINT number) const;

    const ScratchDir Folder;
    // The folder that holds the copy: Folder itself, or the one made below it.
    const std::wstring Home;
    const std::wstring Exe;

private:
    const HMODULE Resources;
    const bool Copied;
};

// The uninstall's cleanup folders ("Uninstall_Vnx_*", each with its batch
// file) in temp, by default the Windows temporary folder and this process's
// temporary folder, which a child inherits. Empty once every batch file has run to its end.
std::vector<std::wstring> CleanupFolders(const std::wstring& temp = std::wstring());
// Waits up to 60 s for that.
bool WaitForCleanup(const std::wstring& temp = std::wstring());
// Waits up to 60 s for an uninstall run from folder to end: the batch file
// has deleted the folder, and itself with its own folder.
bool WaitForUninstallEnd(const std::wstring& folder);

// Asks done every step until it says yes or the time is up; its last answer.
bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds, DWORD step = 100);
