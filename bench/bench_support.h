#pragma once
// What every benchmark program shares: a clock, the median, child processes
// timed from start to exit, and the one table all rows are printed in.
#include <windows.h>

#include <string>
#include <vector>

#include "support/plain_files.h"

double NowSeconds();
// Median of the samples; 0 for none.
double Median(std::vector<double> samples);

struct ChildRun
{
    bool Finished = false; // started and ended within the time limit
    DWORD ExitCode = 0;
    double Seconds = 0;
};
// Starts commandLine with directory as its current directory and waits for
// it to end; the clock runs from just before CreateProcessW to the end.
// flags go to CreateProcessW (DETACHED_PROCESS: no console, as when the shell
// starts a program).
ChildRun RunChild(const std::wstring& commandLine, const std::wstring& directory, DWORD flags = 0,
                  DWORD timeoutMs = 120000);

struct BenchRow
{
    std::string What;
    int Runs = 0;
    double Seconds = 0;
    std::string Floor;       // empty: no floor for this row
    double FloorSeconds = 0; // median of the floor, over the same number of runs
    std::string Note;
};
void PrintTableHeader();
// Ratio is the row's median over the floor's median: 1.00x is the floor itself.
void PrintRow(const BenchRow& row);

std::string Narrow(const std::wstring& text);
std::wstring Quoted(const std::wstring& path);
std::wstring FolderOf(const std::wstring& path);
std::wstring OwnPath();

// The removal benchmarks' tree: `folders` folders of 50 small files each.
const int kBenchFilesPerFolder = 50;
struct BenchTreeList
{
    std::string Text;                // the list file's bytes, CRLF lines
    std::vector<std::wstring> Names; // full names, in list order
};
// "folder007" for file < 0, else "folder007\file12.dat".
std::wstring BenchEntryName(int folder, int file);
// Each folder's files, its own line before them or after them.
BenchTreeList MakeBenchTreeList(const std::wstring& root, int folders, bool foldersFirst);
// Makes the tree afresh under root; false when a part could not be made.
bool BuildBenchTree(const std::wstring& root, int folders);

// The floor of a list removal: the same calls on names already made.
struct CallTimes
{
    double Get = 0, Set = 0, Delete = 0; // added up when timed
    double Total = 0;
};
// One name: its attributes read and cleared (or, onlyBlocking, cleared only
// when one of them would stop the deletion), then the file deleted or the
// folder removed. True when it went.
bool RemoveBare(const wchar_t* name, CallTimes* times = nullptr, bool onlyBlocking = false);
struct BareRemoval
{
    int Passes = 0;
    int Removed = 0;
    CallTimes Times;
};
// Passes over all the names until one removes nothing.
BareRemoval RemoveAllBare(const std::vector<std::wstring>& names, bool timed = false,
                          bool onlyBlocking = false);
