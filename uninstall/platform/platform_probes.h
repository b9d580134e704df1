#pragma once
// platform/: what this Windows is and offers (WOW64, dpi, version, system DLLs).
//
// Queries of the platform that several parts of the program share. Functions
// that newer Windows added are looked up in kernel32 at run time, so the
// program still starts where they are missing.
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Filled on first use and never reset; tests may preset them.
struct ProbeCacheData
{
    int Wow64;      // -1 unknown, else the BOOL IsWow64Process gave
    int ScreenDpi;  // 0 unknown
    int PlatformId; // -1 unknown
    DWORD Major;
    DWORD Minor;
    int Elevated; // -1 unknown, else 1 for a token with full administrator rights
    int LocalSystem; // -1 unknown, else 1 when the process runs as LocalSystem
};
extern ProbeCacheData ProbeCache;

// Takes the current directory out of the DLL search order (remove true) or
// restores the standard order (remove false).
void HardenDllSearch(bool remove);
// Loads a library from the system folder only; null when it cannot.
HMODULE LoadSystemDll(const wchar_t* name);
// True for this 32-bit program on 64-bit Windows.
bool IsWow64();
bool IsNativeIa64();
// True when the process runs with a full administrator token (elevated under
// UAC, or an administrator where there is no UAC split). Such a run shares
// the user's profile, registry and temporary folder with every program of
// that user, so it takes nothing from them that decides what runs or where
// it writes. False when the token cannot be read.
bool RunsElevated();
// True when the process runs as LocalSystem, as deployment agents run setup:
// its profile belongs to no user, so nothing per-user is made there. False
// when the token cannot be read.
bool RunsAsLocalSystem();
// A length at 96 dpi scaled to the screen's vertical dpi.
int32_t ScaleForDpi(int32_t value);
// major * 256 + minor; 0x0501 when the platform is not NT. Never 0.
uint32_t WindowsVersion();
bool GetCurrentDir(wchar_t* buffer, size_t capacity);

template <size_t N> inline bool GetCurrentDir(wchar_t (&buffer)[N])
{
    return GetCurrentDir(buffer, N);
}
