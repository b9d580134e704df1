// Keeps the benchmark prefix's service processes up for the whole run, so
// that none of them starts during a timed run.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Sleep(INFINITE);
    return 0;
}
