// The floor of the setup benchmark: a Win32 program that makes the same
// registry writes as a setup run, each with a key of its own opened and
// closed, and nothing else. Its one argument is the list of writes.
#include <windows.h>

#include <shellapi.h>

#include "registry_replay.h"
#include "support/throwaway_prefix.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    if (!InsideThrowawayPrefix())
        return RefuseOutsideThrowawayPrefix("bench_replay_writes");
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 2)
        return 2;
    std::vector<RegWrite> writes;
    const bool loaded = LoadWrites(arguments[1], writes);
    LocalFree(arguments);
    if (!loaded)
        return 2;
    int failed = 0;
    for (const RegWrite& write : writes)
        if (!ReplayWrite(write))
            failed++;
    return failed == 0 ? 0 : 1;
}
