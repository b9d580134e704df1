#include "platform/platform_probes.h"

#include "common/system_functions.h"
#include "files/path_names.h"

ProbeCacheData ProbeCache = {-1, 0, -1, 0, 0, -1, -1};

namespace
{

// Newer than the headers' Windows XP.
const DWORD kLoadLibrarySearchSystem32 = 0x00000800;

} // namespace

void HardenDllSearch(bool remove)
{
    if (GetModuleHandleW(L"kernel32") == nullptr)
        return;
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    SetDllDirectoryFn setDllDirectory = Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryW");
    if (setDllDirectory != nullptr)
        setDllDirectory(remove ? L"" : nullptr);
    if (!remove)
        return;
    // SetDllDirectoryW("") still leaves the program's own folder in the
    // search: a DLL planted beside the program could be picked up by a later
    // dynamic load. Where the system can, keep plain loads to system32.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn setDefault =
        Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault != nullptr)
        setDefault(kLoadLibrarySearchSystem32);
}

HMODULE LoadSystemDll(const wchar_t* name)
{
    wchar_t path[kPathChars];
    UINT length = GetSystemDirectoryW(path, kPathChars);
    // Cut, the name would load another library.
    if (length == 0 || length >= kPathChars || !JoinPath(path, name, path))
        return nullptr;
    return LoadLibraryW(path);
}

bool IsWow64()
{
    if (ProbeCache.Wow64 == -1)
    {
        typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
        IsWow64ProcessFn isWow64 = Kernel32Function<IsWow64ProcessFn>("IsWow64Process");
        BOOL wow64 = FALSE;
        if (isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64))
            ProbeCache.Wow64 = wow64;
    }
    return ProbeCache.Wow64 == 1;
}

bool IsNativeIa64()
{
    typedef void(WINAPI * GetNativeSystemInfoFn)(LPSYSTEM_INFO);
    GetNativeSystemInfoFn getInfo = Kernel32Function<GetNativeSystemInfoFn>("GetNativeSystemInfo");
    if (getInfo == nullptr)
        return false;
    SYSTEM_INFO info = {};
    getInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool RunsElevated()
{
    if (ProbeCache.Elevated == -1)
    {
        HANDLE token = nullptr;
        TOKEN_ELEVATION elevation = {};
        DWORD size = 0;
        ProbeCache.Elevated = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        {
            if (GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size))
                ProbeCache.Elevated = elevation.TokenIsElevated != 0 ? 1 : 0;
            CloseHandle(token);
        }
    }
    return ProbeCache.Elevated == 1;
}

bool RunsAsLocalSystem()
{
    if (ProbeCache.LocalSystem == -1)
    {
        ProbeCache.LocalSystem = 0;
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        {
            union
            {
                TOKEN_USER User;
                BYTE Room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
            } user;
            DWORD size = 0;
            if (GetTokenInformation(token, TokenUser, &user, sizeof(user), &size))
                ProbeCache.LocalSystem =
                    IsWellKnownSid(user.User.User.Sid, WinLocalSystemSid) ? 1 : 0;
            CloseHandle(token);
        }
    }
    return ProbeCache.LocalSystem == 1;
}

int32_t ScaleForDpi(int32_t value)
{
    if (ProbeCache.ScreenDpi == 0)
    {
        HDC screen = GetDC(nullptr);
        if (screen != nullptr)
        {
            ProbeCache.ScreenDpi = GetDeviceCaps(screen, LOGPIXELSY);
            ReleaseDC(nullptr, screen);
        }
    }
    return value * ProbeCache.ScreenDpi / 96;
}

uint32_t WindowsVersion()
{
    if (ProbeCache.PlatformId == -1)
    {
        OSVERSIONINFOW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
        if (GetVersionExW(&info))
        {
            ProbeCache.PlatformId = static_cast<int>(info.dwPlatformId);
            ProbeCache.Major = info.dwMajorVersion;
            ProbeCache.Minor = info.dwMinorVersion;
        }
    }
    if (ProbeCache.PlatformId == VER_PLATFORM_WIN32_NT)
        return ProbeCache.Major * 256 + ProbeCache.Minor;
    return 0x0501;
}

bool GetCurrentDir(wchar_t* buffer, size_t capacity)
{
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(capacity), buffer);
    // A length of capacity or more is the size the folder would need: the
    // buffer then holds nothing usable.
    return length != 0 && length < capacity;
}
