#pragma once
// The parts of the benchmark run, each printing its own rows.
#include <string>

struct BenchConfig
{
    std::wstring Program;       // the built uninstall.exe
    std::wstring EmptyProgram;  // floor of a start and exit
    std::wstring ReplayProgram; // floor of a setup run
    std::wstring Scratch;       // a folder of the prefix's own, emptied first
    int Runs = 5;
    int RemovalRuns = 3;
};

// Median start-to-exit time of the empty program, measured once.
double EmptyProgramSeconds(const BenchConfig& config);

void BenchStartAndExit(const BenchConfig& config);
void BenchSetupAndUninstall(const BenchConfig& config);
void BenchRemoval(const BenchConfig& config);
void BenchLanguageFile(const BenchConfig& config);
