#include "support/program_under_test.h"

#include <shellapi.h>

#include "support/plain_files.h"

#include <cstdlib>
#include <vector>

std::wstring ProgramPath()
{
    const char* linuxPath = std::getenv("VNX_PROGRAM");
    return linuxPath == nullptr ? std::wstring() : FromLinuxPath(linuxPath);
}

HMODULE LoadProgramResources()
{
    return LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::wstring ResourceText(HMODULE module, UINT number)
{
    wchar_t text[512] = L"";
    if (module != nullptr)
        LoadStringW(module, number, text, 512);
    return text;
}

std::wstring BesideTestBinary(const wchar_t* relative)
{
    wchar_t self[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring path(self, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + relative;
}

bool IsWin64Prefix()
{
    const char* prefix = std::getenv("VNX_PREFIX");
    return prefix != nullptr && std::string(prefix) == "win64";
}

ScratchDir::ScratchDir(const wchar_t* tag)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    Folder = std::wstring(temp) + L"vnx_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) +
             L"_" + std::to_wstring(GetTickCount());
    CreateDirectoryW(Folder.c_str(), nullptr);
}

ScratchDir::~ScratchDir()
{
    std::vector<wchar_t> from(Folder.begin(), Folder.end());
    from.push_back(0);
    from.push_back(0);
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&operation);
}

ChildProcess::~ChildProcess()
{
    if (Info.hProcess != nullptr)
    {
        if (WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT)
        {
            TerminateProcess(Info.hProcess, 99);
            WaitForSingleObject(Info.hProcess, 5000);
        }
        CloseHandle(Info.hProcess);
        CloseHandle(Info.hThread);
    }
}

bool ChildProcess::Start(const std::wstring& commandLine, const wchar_t* directory, DWORD flags)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, directory,
                          &startup, &Info) != FALSE;
}

long ChildProcess::Wait(DWORD milliseconds)
{
    if (WaitForSingleObject(Info.hProcess, milliseconds) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(Info.hProcess, &code);
    return static_cast<long>(code);
}

namespace
{

struct DialogSearch
{
    DWORD ProcessId;
    HWND Other;
    HWND Found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if (owner == search->ProcessId && window != search->Other && IsWindowVisible(window) &&
        std::wstring(className) == L"#32770")
    {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND ChildProcess::FindDialog(DWORD milliseconds, HWND other) const
{
    DWORD start = GetTickCount();
    do
    {
        DialogSearch search = {Info.dwProcessId, other, nullptr};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.Found != nullptr)
            return search.Found;
        if (WaitForSingleObject(Info.hProcess, 100) == WAIT_OBJECT_0)
            return nullptr;
    } while (GetTickCount() - start < milliseconds);
    return nullptr;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[2048] = L"";
    GetWindowTextW(window, text, 2048);
    return text;
}

bool HasVisualStyles(HWND control)
{
    wchar_t name[64] = L"";
    WNDCLASSEXW system = {};
    system.cbSize = sizeof(system);
    if (GetClassNameW(control, name, 64) == 0)
        return false;
    const ATOM atom = static_cast<ATOM>(GetClassInfoExW(nullptr, name, &system));
    return atom != 0 && GetClassLongW(control, GCW_ATOM) != atom;
}

namespace
{

// The folder below base, made now; the copy into it fails when it could not be.
std::wstring MadeFolder(const ScratchDir& base, const wchar_t* name)
{
    if (name == nullptr)
        return base.Path();
    const std::wstring folder = base / name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

} // namespace

ProgramCopy::ProgramCopy(const wchar_t* tag, const wchar_t* subfolder)
    : Folder(tag), Home(MadeFolder(Folder, subfolder)), Exe(Home + L"\\uninstall.exe"),
      Resources(LoadProgramResources()),
      Copied(CopyFileW(ProgramPath().c_str(), Exe.c_str(), FALSE) != FALSE)
{
}

ProgramCopy::~ProgramCopy()
{
    if (Resources != nullptr)
        FreeLibrary(Resources);
}

bool ProgramCopy::Start(ChildProcess& child, const std::wstring& options) const
{
    return child.Start(L"\"" + Exe + L"\" " + options, Home.c_str());
}

long ProgramCopy::RunToEnd(const std::wstring& options, DWORD milliseconds) const
{
    ChildProcess child;
    if (!Start(child, options))
        return -2;
    return child.Wait(milliseconds);
}

std::wstring ProgramCopy::Message(UINT number) const
{
    return ResourceText(Resources, number);
}

std::vector<std::wstring> CleanupFolders(const std::wstring& temp)
{
    std::wstring folder = temp;
    if (folder.empty())
    {
        // An elevated run makes its folder in the Windows temporary folder.
        wchar_t path[MAX_PATH] = L"";
        GetSystemWindowsDirectoryW(path, MAX_PATH);
        std::vector<std::wstring> found = CleanupFolders(std::wstring(path) + L"\\Temp");
        GetTempPathW(MAX_PATH, path);
        for (const std::wstring& more : CleanupFolders(path))
            found.push_back(more);
        return found;
    }
    if (folder.back() != L'\\')
        folder += L'\\';
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"Uninstall_Vnx_*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do
        found.push_back(folder + data.cFileName);
    while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}

bool WaitForCleanup(const std::wstring& temp)
{
    return WaitUntil([&] { return CleanupFolders(temp).empty(); }, 60000);
}

bool WaitForUninstallEnd(const std::wstring& folder)
{
    return WaitUntil([&] { return !Exists(folder) && CleanupFolders().empty(); }, 60000, 250);
}

bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds, DWORD step)
{
    const DWORD start = GetTickCount();
    while (!done())
    {
        if (GetTickCount() - start >= milliseconds)
            return done();
        Sleep(step);
    }
    return true;
}
