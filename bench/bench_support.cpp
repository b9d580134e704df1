#include "bench_support.h"

#include <algorithm>
#include <cstdio>

double NowSeconds()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

double Median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

ChildRun RunChild(const std::wstring& commandLine, const std::wstring& directory, DWORD flags,
                  DWORD timeoutMs)
{
    ChildRun run;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const double start = NowSeconds();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process))
        return run;
    const DWORD waited = WaitForSingleObject(process.hProcess, timeoutMs);
    run.Seconds = NowSeconds() - start;
    if (waited == WAIT_OBJECT_0)
    {
        run.Finished = true;
        GetExitCodeProcess(process.hProcess, &run.ExitCode);
    }
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

namespace
{

std::string FormatSeconds(double seconds)
{
    char text[32];
    if (seconds < 0.001)
        std::snprintf(text, sizeof(text), "%.1f us", seconds * 1e6);
    else if (seconds < 1)
        std::snprintf(text, sizeof(text), "%.1f ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof(text), "%.2f s", seconds);
    return text;
}

} // namespace

void PrintTableHeader()
{
    std::printf("%-46s %4s %10s  %-34s %10s %7s  %s\n", "measured", "runs", "median", "floor",
                "median", "ratio", "note");
    std::fflush(stdout);
}

void PrintRow(const BenchRow& row)
{
    std::string ratio = "-";
    if (!row.Floor.empty() && row.FloorSeconds > 0)
    {
        char text[16];
        std::snprintf(text, sizeof(text), "%.2fx", row.Seconds / row.FloorSeconds);
        ratio = text;
    }
    std::printf("%-46s %4d %10s  %-34s %10s %7s  %s\n", row.What.c_str(), row.Runs,
                FormatSeconds(row.Seconds).c_str(), row.Floor.empty() ? "-" : row.Floor.c_str(),
                row.Floor.empty() ? "-" : FormatSeconds(row.FloorSeconds).c_str(), ratio.c_str(),
                row.Note.c_str());
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? char(c) : '?';
    return out;
}

std::wstring Quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length < MAX_PATH * 4 ? length : 0);
}

std::wstring BenchEntryName(int folder, int file)
{
    wchar_t name[32];
    if (file < 0)
        std::swprintf(name, 32, L"folder%03d", folder);
    else
        std::swprintf(name, 32, L"folder%03d\\file%02d.dat", folder, file);
    return name;
}

BenchTreeList MakeBenchTreeList(const std::wstring& root, int folders, bool foldersFirst)
{
    BenchTreeList list;
    auto add = [&](int folder, int file)
    {
        list.Text += Narrow(BenchEntryName(folder, file)) + "\r\n";
        list.Names.push_back(root + L"\\" + BenchEntryName(folder, file));
    };
    for (int folder = 0; folder < folders; folder++)
    {
        if (foldersFirst)
            add(folder, -1);
        for (int file = 0; file < kBenchFilesPerFolder; file++)
            add(folder, file);
        if (!foldersFirst)
            add(folder, -1);
    }
    return list;
}

bool BuildBenchTree(const std::wstring& root, int folders)
{
    RemoveTree(root);
    if (!CreateDirectoryW(root.c_str(), nullptr))
        return false;
    const std::string kContents = "file of the benchmark tree\r\n";
    for (int folder = 0; folder < folders; folder++)
    {
        if (!CreateDirectoryW((root + L"\\" + BenchEntryName(folder, -1)).c_str(), nullptr))
            return false;
        for (int file = 0; file < kBenchFilesPerFolder; file++)
            if (!WriteBytes(root + L"\\" + BenchEntryName(folder, file), kContents))
                return false;
    }
    return true;
}

bool RemoveBare(const wchar_t* name, CallTimes* times, bool onlyBlocking)
{
    const DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const double t0 = times ? NowSeconds() : 0;
    const DWORD attributes = GetFileAttributesW(name);
    const double t1 = times ? NowSeconds() : 0;
    if (!onlyBlocking || (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kBlocking)))
        SetFileAttributesW(name, 0);
    const double t2 = times ? NowSeconds() : 0;
    bool removed;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        removed = RemoveDirectoryW(name) != FALSE;
    else
        removed = DeleteFileW(name) != FALSE;
    if (times)
    {
        const double t3 = NowSeconds();
        times->Get += t1 - t0;
        times->Set += t2 - t1;
        times->Delete += t3 - t2;
    }
    return removed;
}

BareRemoval RemoveAllBare(const std::vector<std::wstring>& names, bool timed, bool onlyBlocking)
{
    BareRemoval result;
    const double start = NowSeconds();
    for (;;)
    {
        result.Passes++;
        int removed = 0;
        for (const std::wstring& name : names)
            removed += RemoveBare(name.c_str(), timed ? &result.Times : nullptr, onlyBlocking);
        result.Removed += removed;
        if (removed == 0)
            break;
    }
    result.Times.Total = NowSeconds() - start;
    return result;
}
