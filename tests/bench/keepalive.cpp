// Stays alive for the whole test run, so that Wine's service processes are
// started once and not by the first test of each binary (they would inherit
// and hold that test's output pipes).
#include <windows.h>

int main()
{
    Sleep(INFINITE);
    return 0;
}
