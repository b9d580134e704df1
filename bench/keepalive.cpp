// Keeps the benchmark prefix's service processes up for the whole run, so
// that none of them starts during a timed run. That includes the desktop:
// Windows always has one, and Wine closes it shortly after its last user
// exits, so without a user of its own every run that opens a window would
// pay for starting it again.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
