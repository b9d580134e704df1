// Linked only into the test build of the program that the interruption table
// runs: before the program starts, its own import slots of the registry and
// file functions that change something are swapped for counters.
//   VNX_STOP_AT_WRITE=N  the process ends (exit code 99) at the Nth such
//                        call, before the call is made: as "End task" there.
//   VNX_WRITE_TRACE=PATH one line per such call ("N function name") goes to
//                        the file, so a test learns how many an uninterrupted
//                        run makes and what each one was.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "support/import_patch.h"

namespace
{

LONG Count = 0;
LONG StopAt = 0;
HANDLE Trace = INVALID_HANDLE_VALUE;

// The originals, filled when the slots are swapped.
decltype(&CreateFileW) RealCreateFile;
decltype(&WriteFile) RealWriteFile;

void Counted(const char* function, const wchar_t* name)
{
    const LONG index = InterlockedIncrement(&Count);
    if (Trace != INVALID_HANDLE_VALUE)
    {
        char line[1200];
        int length = std::snprintf(line, sizeof(line), "%ld %s %ls\n", index, function,
                                   name != nullptr ? name : L"");
        // A name the code page cannot spell still counts as a line.
        if (length < 0)
            length = std::snprintf(line, sizeof(line), "%ld %s ?\n", index, function);
        // A cut line still ends where it should: one line per call.
        if (length >= int(sizeof(line)))
        {
            length = int(sizeof(line)) - 1;
            line[length - 1] = '\n';
        }
        DWORD written = 0;
        if (length > 0)
            RealWriteFile(Trace, line, DWORD(length), &written, nullptr);
    }
    if (index == StopAt)
        TerminateProcess(GetCurrentProcess(), 99);
}

// The key's full name as the registry spells it, then the subkey or value.
const wchar_t* KeyName(HKEY key, const wchar_t* subkey, wchar_t (&buffer)[600])
{
    typedef LONG(NTAPI * QueryKeyFn)(HANDLE, int, void*, ULONG, ULONG*);
    static const QueryKeyFn queryKey = reinterpret_cast<QueryKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    struct
    {
        ULONG Length;
        wchar_t Name[400];
    } info = {};
    ULONG size = 0;
    const bool named =
        (reinterpret_cast<ULONG_PTR>(key) & 0x80000000u) == 0 && queryKey &&
        queryKey(key, 3 /* KeyNameInformation */, &info, sizeof(info) - 2, &size) >= 0;
    if (named)
        info.Name[info.Length / 2 < 400 ? info.Length / 2 : 399] = 0;
    std::swprintf(buffer, 600, L"%ls [%ls]",
                  named                       ? info.Name
                  : key == HKEY_CLASSES_ROOT  ? L"HKCR"
                  : key == HKEY_CURRENT_USER  ? L"HKCU"
                  : key == HKEY_LOCAL_MACHINE ? L"HKLM"
                                              : L"?",
                  subkey ? subkey : L"");
    return buffer;
}

decltype(&RegCreateKeyExW) RealRegCreateKeyEx;
LONG WINAPI StopRegCreateKeyEx(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR cls, DWORD options,
                               REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                               LPDWORD disposition)
{
    wchar_t name[600];
    Counted("RegCreateKeyExW", KeyName(key, subkey, name));
    return RealRegCreateKeyEx(key, subkey, reserved, cls, options, access, security, result,
                              disposition);
}

decltype(&RegSetValueExW) RealRegSetValueEx;
LONG WINAPI StopRegSetValueEx(HKEY key, LPCWSTR value, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD size)
{
    wchar_t name[600];
    Counted("RegSetValueExW", KeyName(key, value, name));
    return RealRegSetValueEx(key, value, reserved, type, data, size);
}

decltype(&RegDeleteValueW) RealRegDeleteValue;
LONG WINAPI StopRegDeleteValue(HKEY key, LPCWSTR value)
{
    wchar_t name[600];
    Counted("RegDeleteValueW", KeyName(key, value, name));
    return RealRegDeleteValue(key, value);
}

typedef LONG(NTAPI* DeleteKeyFn)(HANDLE);
DeleteKeyFn RealNtDeleteKey;
LONG NTAPI StopNtDeleteKey(HANDLE key)
{
    wchar_t name[600];
    Counted("NtDeleteKey", KeyName(static_cast<HKEY>(key), nullptr, name));
    return RealNtDeleteKey(key);
}

typedef BOOL(WINAPI* SetInfoFn)(HANDLE, int, void*, DWORD);
SetInfoFn RealSetFileInformation;
BOOL WINAPI StopSetFileInformation(HANDLE file, int kind, void* data, DWORD size)
{
    Counted("SetFileInformationByHandle", nullptr);
    return RealSetFileInformation(file, kind, data, size);
}

decltype(&GetProcAddress) RealGetProcAddress;
FARPROC WINAPI StopGetProcAddress(HMODULE module, LPCSTR name)
{
    const FARPROC found = RealGetProcAddress(module, name);
    // An ordinal is no name.
    if (found == nullptr || (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0)
        return found;
    if (std::strcmp(name, "NtDeleteKey") == 0)
    {
        RealNtDeleteKey = reinterpret_cast<DeleteKeyFn>(reinterpret_cast<void*>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StopNtDeleteKey));
    }
    if (std::strcmp(name, "SetFileInformationByHandle") == 0)
    {
        RealSetFileInformation = reinterpret_cast<SetInfoFn>(reinterpret_cast<void*>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StopSetFileInformation));
    }
    return found;
}

HANDLE WINAPI StopCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE from)
{
    const DWORD writing =
        GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER;
    if ((access & writing) != 0 || disposition != OPEN_EXISTING)
        Counted("CreateFileW", name);
    return RealCreateFile(name, access, share, security, disposition, flags, from);
}

BOOL WINAPI StopWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                          LPOVERLAPPED overlapped)
{
    typedef DWORD(WINAPI * FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
    static const FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    wchar_t name[MAX_PATH] = L"";
    if (Trace != INVALID_HANDLE_VALUE && finalPath != nullptr &&
        finalPath(file, name, MAX_PATH, 0) >= MAX_PATH)
        name[0] = 0;
    Counted("WriteFile", name);
    return RealWriteFile(file, data, size, written, overlapped);
}

decltype(&SetEndOfFile) RealSetEndOfFile;
BOOL WINAPI StopSetEndOfFile(HANDLE file)
{
    Counted("SetEndOfFile", nullptr);
    return RealSetEndOfFile(file);
}

decltype(&SetFileAttributesW) RealSetFileAttributes;
BOOL WINAPI StopSetFileAttributes(LPCWSTR name, DWORD attributes)
{
    Counted("SetFileAttributesW", name);
    return RealSetFileAttributes(name, attributes);
}

decltype(&CopyFileW) RealCopyFile;
BOOL WINAPI StopCopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists)
{
    Counted("CopyFileW", to);
    return RealCopyFile(from, to, failIfExists);
}

decltype(&CreateDirectoryW) RealCreateDirectory;
BOOL WINAPI StopCreateDirectory(LPCWSTR name, LPSECURITY_ATTRIBUTES security)
{
    Counted("CreateDirectoryW", name);
    return RealCreateDirectory(name, security);
}

decltype(&RemoveDirectoryW) RealRemoveDirectory;
BOOL WINAPI StopRemoveDirectory(LPCWSTR name)
{
    Counted("RemoveDirectoryW", name);
    return RealRemoveDirectory(name);
}

decltype(&DeleteFileW) RealDeleteFile;
BOOL WINAPI StopDeleteFile(LPCWSTR name)
{
    Counted("DeleteFileW", name);
    return RealDeleteFile(name);
}

decltype(&MoveFileW) RealMoveFile;
BOOL WINAPI StopMoveFile(LPCWSTR from, LPCWSTR to)
{
    Counted("MoveFileW", from);
    return RealMoveFile(from, to);
}

decltype(&MoveFileExW) RealMoveFileEx;
BOOL WINAPI StopMoveFileEx(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    Counted("MoveFileExW", from);
    return RealMoveFileEx(from, to, flags);
}

decltype(&CreateProcessW) RealCreateProcess;
BOOL WINAPI StopCreateProcess(LPCWSTR application, LPWSTR commandLine,
                              LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread,
                              BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR directory,
                              LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information)
{
    Counted("CreateProcessW", commandLine);
    return RealCreateProcess(application, commandLine, process, thread, inherit, flags, environment,
                             directory, startup, information);
}

typedef int(WINAPI* FileOperationFn)(void*);
FileOperationFn RealFileOperation;
int WINAPI StopFileOperation(void* operation)
{
    Counted("SHFileOperationW", nullptr);
    return RealFileOperation(operation);
}

// Shortcuts are saved inside the shell's own modules, out of reach: the
// object made for one stands for its writes.
typedef HRESULT(WINAPI* CreateInstanceFn)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
CreateInstanceFn RealCreateInstance;
HRESULT WINAPI StopCreateInstance(REFCLSID cls, LPUNKNOWN outer, DWORD context, REFIID iid,
                                  LPVOID* object)
{
    Counted("CoCreateInstance", nullptr);
    return RealCreateInstance(cls, outer, context, iid, object);
}

template <typename Function>
void Swap(const char* library, const char* name, Function replacement, Function& original)
{
    original =
        reinterpret_cast<Function>(SwapImport(library, name, reinterpret_cast<void*>(replacement)));
}

struct Installer
{
    Installer()
    {
        if (const char* stop = std::getenv("VNX_STOP_AT_WRITE"))
            StopAt = std::strtol(stop, nullptr, 10);
        RealCreateFile = &CreateFileW;
        RealWriteFile = &WriteFile;
        if (const char* trace = std::getenv("VNX_WRITE_TRACE"))
            Trace = CreateFileA(trace, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, 0, nullptr);
        Swap("ADVAPI32.dll", "RegCreateKeyExW", &StopRegCreateKeyEx, RealRegCreateKeyEx);
        Swap("ADVAPI32.dll", "RegSetValueExW", &StopRegSetValueEx, RealRegSetValueEx);
        Swap("ADVAPI32.dll", "RegDeleteValueW", &StopRegDeleteValue, RealRegDeleteValue);
        Swap("KERNEL32.dll", "GetProcAddress", &StopGetProcAddress, RealGetProcAddress);
        Swap("KERNEL32.dll", "CreateFileW", &StopCreateFile, RealCreateFile);
        Swap("KERNEL32.dll", "WriteFile", &StopWriteFile, RealWriteFile);
        Swap("KERNEL32.dll", "SetEndOfFile", &StopSetEndOfFile, RealSetEndOfFile);
        Swap("KERNEL32.dll", "SetFileAttributesW", &StopSetFileAttributes, RealSetFileAttributes);
        Swap("KERNEL32.dll", "CopyFileW", &StopCopyFile, RealCopyFile);
        Swap("KERNEL32.dll", "CreateDirectoryW", &StopCreateDirectory, RealCreateDirectory);
        Swap("KERNEL32.dll", "RemoveDirectoryW", &StopRemoveDirectory, RealRemoveDirectory);
        Swap("KERNEL32.dll", "DeleteFileW", &StopDeleteFile, RealDeleteFile);
        Swap("KERNEL32.dll", "MoveFileW", &StopMoveFile, RealMoveFile);
        Swap("KERNEL32.dll", "MoveFileExW", &StopMoveFileEx, RealMoveFileEx);
        Swap("KERNEL32.dll", "CreateProcessW", &StopCreateProcess, RealCreateProcess);
        Swap("SHELL32.dll", "SHFileOperationW", &StopFileOperation, RealFileOperation);
        Swap("ole32.dll", "CoCreateInstance", &StopCreateInstance, RealCreateInstance);
        // A slot the program does not import stays as it was: calls keep
        // their own way.
        if (RealCreateFile == nullptr)
            RealCreateFile = &CreateFileW;
        if (RealWriteFile == nullptr)
            RealWriteFile = &WriteFile;
    }
};

const Installer installed;

} // namespace
