/* A library that records every load of itself: its DllMain appends its own
   full name to "planted.log" in its folder. Planted beside the program under
   the names of system libraries, it shows whether any of them was taken from
   the program's folder. It needs nothing but kernel32, so that it loads under
   any of those names. */
#include <windows.h>

BOOL WINAPI PlantedMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    WCHAR name[MAX_PATH];
    WCHAR log[MAX_PATH];
    DWORD length;
    DWORD cut = 0;
    DWORD i;
    HANDLE file;
    DWORD written;

    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameW(self, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    for (i = 0; i < length; i++)
    {
        log[i] = name[i];
        if (name[i] == L'\\')
            cut = i + 1;
    }
    if (cut + 12 > MAX_PATH)
        return TRUE;
    lstrcpyW(log + cut, L"planted.log");
    file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                       0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return TRUE;
    WriteFile(file, name, length * sizeof(WCHAR), &written, NULL);
    WriteFile(file, L"\r\n", 2 * sizeof(WCHAR), &written, NULL);
    CloseHandle(file);
    return TRUE;
}
