// The floor of a Win32 program's start and exit: the same static build as
// the program, with nothing to do.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
