// The floor of the setup and uninstall benchmarks: a Win32 program that
// loads the same system libraries as the program, makes the same registry
// writes as a run of it (each with a key of its own opened and closed) and
// repeats the run's file steps, and nothing else.
//   replay_writes.exe WRITES [FILE_STEPS]
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "file_steps.h"
#include "registry_replay.h"
#include "support/throwaway_prefix.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Referenced, never called: the loader maps and starts each library.
    static void* volatile imports[] = {reinterpret_cast<void*>(&GetStockObject),
                                       reinterpret_cast<void*>(&GetDesktopWindow)};
    if (!InsideThrowawayPrefix())
        return RefuseOutsideThrowawayPrefix("bench_replay_writes");
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2 || count > 3 || imports[0] == nullptr)
        return 2;
    std::vector<RegWrite> writes;
    std::vector<FileStep> steps;
    const bool loaded =
        LoadWrites(arguments[1], writes) && (count < 3 || LoadFileSteps(arguments[2], steps));
    LocalFree(arguments);
    if (!loaded)
        return 2;
    int failed = 0;
    for (const RegWrite& write : writes)
        if (!ReplayWrite(write))
            failed++;
    bool comStarted = false;
    for (const FileStep& step : steps)
    {
        if (step.What == FileStep::MakeLink && !comStarted)
            comStarted = SUCCEEDED(CoInitialize(nullptr));
        if (!ReplayFileStep(step))
            failed++;
    }
    if (comStarted)
        CoUninitialize();
    return failed == 0 ? 0 : 1;
}
