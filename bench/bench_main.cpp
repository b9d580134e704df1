// The benchmark run: every part in one process, one table on the output.
//   vnx_bench.exe PROGRAM EMPTY_PROGRAM REPLAY_PROGRAM [RUNS [REMOVAL_RUNS [PARTS]]]
// PARTS picks parts by letter: s(tart) i(nstall and uninstall) r(emoval)
// l(anguage file), "-" for none (the table header only); all by default.
// Scratch files go to C:\vnxbench.
#include "bench_sections.h"
#include "bench_support.h"
#include "support/throwaway_prefix.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (!InsideThrowawayPrefix())
        return RefuseOutsideThrowawayPrefix("vnx_bench");
    if (argc < 4)
    {
        std::fprintf(stderr, "usage: vnx_bench PROGRAM EMPTY_PROGRAM REPLAY_PROGRAM [RUNS "
                             "[REMOVAL_RUNS [PARTS]]]\n");
        return 2;
    }
    BenchConfig config;
    config.Program = argv[1];
    config.EmptyProgram = argv[2];
    config.ReplayProgram = argv[3];
    if (argc > 4)
        config.Runs = std::max(1, _wtoi(argv[4]));
    if (argc > 5)
        config.RemovalRuns = std::max(1, _wtoi(argv[5]));
    const std::wstring parts = argc > 6 ? argv[6] : L"sirl";
    wchar_t drive[16] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", drive, 16);
    config.Scratch = std::wstring(drive) + L"\\vnxbench";
    RemoveTree(config.Scratch);
    if (!CreateDirectoryW(config.Scratch.c_str(), nullptr))
    {
        std::fprintf(stderr, "bench: cannot make %s\n", Narrow(config.Scratch).c_str());
        return 1;
    }
    for (const std::wstring* path : {&config.Program, &config.EmptyProgram, &config.ReplayProgram})
        if (GetFileAttributesW(path->c_str()) == INVALID_FILE_ATTRIBUTES)
        {
            std::fprintf(stderr, "bench: %s is missing\n", Narrow(*path).c_str());
            return 1;
        }

    PrintTableHeader();
    if (parts.find(L's') != std::wstring::npos)
        BenchStartAndExit(config);
    if (parts.find(L'i') != std::wstring::npos)
        BenchSetupAndUninstall(config);
    if (parts.find(L'r') != std::wstring::npos)
        BenchRemoval(config);
    if (parts.find(L'l') != std::wstring::npos)
        BenchLanguageFile(config);
    return 0;
}
