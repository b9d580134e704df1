// A second floor of the start and exit: nothing to do, but the same system
// libraries loaded at start as the program loads, so that the difference to
// the program is its own start-up work.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Referenced, never called: the loader still maps and starts each library.
    static void* volatile imports[] = {
        reinterpret_cast<void*>(&RegCloseKey), reinterpret_cast<void*>(&GetStockObject),
        reinterpret_cast<void*>(&CoTaskMemFree), reinterpret_cast<void*>(&SHGetFolderPathW),
        reinterpret_cast<void*>(&GetDesktopWindow)};
    return imports[0] == nullptr ? 1 : 0;
}
