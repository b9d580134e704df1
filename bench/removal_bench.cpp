// Removal of a 10,000-file installation (200 folders of 50 files) through the
// program's list passes, against a bare loop of the same calls over the same
// names and against the command processor's "rd /s /q".
#include "bench_sections.h"
#include "bench_support.h"
#include "listed_names.h"

#include "removal/list_removal.h"

#include <share.h>

#include <cstdio>

namespace
{

const int kFolders = 200;
const int kFilesPerFolder = kBenchFilesPerFolder;
using TreeList = BenchTreeList;

TreeList MakeList(const std::wstring& root, bool foldersFirst)
{
    return MakeBenchTreeList(root, kFolders, foldersFirst);
}

bool BuildTree(const std::wstring& root)
{
    return BuildBenchTree(root, kFolders);
}

bool IsGoneOrEmpty(const std::wstring& root)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool empty = true;
    do
        empty =
            empty && (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0);
    while (empty && FindNextFileW(search, &found));
    FindClose(search);
    return empty;
}

struct Removal
{
    bool Ok = false;
    double Seconds = 0;
    int Passes = 0;
};

Removal ProgramRemoval(const std::wstring& root, const std::wstring& listPath)
{
    Removal result;
    FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
    if (list == nullptr)
        return result;
    const std::wstring folder = root + L"\\";
    const std::wstring self = OwnPath();
    const double start = NowSeconds();
    const ListRemoval removal = RemoveListedFiles(list, folder.c_str(), self.c_str());
    result.Seconds = NowSeconds() - start;
    fclose(list);
    result.Passes = removal.Passes;
    result.Ok = removal.Removed == kFolders * (kFilesPerFolder + 1) && !removal.RestartNeeded;
    return result;
}

// RemoveListedFiles' own work without its file calls: each line read,
// trimmed, converted, checked and joined to the folder, in the same passes.
double ListReadingAlone(const std::wstring& listPath, const std::wstring& root, int passes)
{
    const double start = NowSeconds();
    const size_t joined =
        ForEachListedName(listPath, root + L"\\", passes, [](const wchar_t*) { return false; });
    return joined > 0 ? NowSeconds() - start : 0;
}

// The least any list removal must do: the same calls on names already made.
Removal BareLoop(const std::vector<std::wstring>& names)
{
    const BareRemoval bare = RemoveAllBare(names);
    Removal result;
    result.Seconds = bare.Times.Total;
    result.Passes = bare.Passes;
    result.Ok = bare.Removed == kFolders * (kFilesPerFolder + 1);
    return result;
}

Removal CommandProcessorRemoval(const std::wstring& root)
{
    Removal result;
    wchar_t comspec[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH) == 0)
        return result;
    const ChildRun run =
        RunChild(Quoted(comspec) + L" /c rd /s /q " + Quoted(root), FolderOf(root), 0, 600000);
    result.Seconds = run.Seconds;
    result.Passes = 1;
    result.Ok = run.Finished && GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES;
    return result;
}

struct Series
{
    std::vector<double> Seconds;
    int Passes = 0;
    bool Failed = false;
    void Add(const Removal& removal, const std::wstring& root, const char* what)
    {
        if (!removal.Ok || !IsGoneOrEmpty(root))
        {
            if (!Failed)
                std::fprintf(stderr, "bench: %s did not remove the whole tree\n", what);
            Failed = true;
            return;
        }
        Seconds.push_back(removal.Seconds);
        Passes = removal.Passes;
    }
};

std::string PassNote(const Series& measured, const Series& floor)
{
    char text[64];
    std::snprintf(text, sizeof(text), "passes %d vs %d", measured.Passes, floor.Passes);
    return text;
}

} // namespace

void BenchRemoval(const BenchConfig& config)
{
    const std::wstring root = config.Scratch + L"\\tree";
    const TreeList contentsFirst = MakeList(root, false);
    const TreeList foldersFirst = MakeList(root, true);
    const std::wstring contentsList = config.Scratch + L"\\contents-first.lst";
    const std::wstring foldersList = config.Scratch + L"\\folders-first.lst";
    if (!WriteBytes(contentsList, contentsFirst.Text) ||
        !WriteBytes(foldersList, foldersFirst.Text))
    {
        std::fprintf(stderr, "bench: cannot write the lists\n");
        return;
    }

    Series program[2], bare[2], rd;
    std::vector<double> buildTimes, reading[2];
    // Interleaved, and each of the two first in every other run, so that a
    // busy spell of the machine hits every series alike.
    for (int run = 0; run < config.RemovalRuns; run++)
    {
        for (int order = 0; order < 2; order++)
        {
            const TreeList& list = order == 0 ? contentsFirst : foldersFirst;
            const std::wstring& listPath = order == 0 ? contentsList : foldersList;
            for (int turn = 0; turn < 2; turn++)
            {
                const double start = NowSeconds();
                if (!BuildTree(root))
                {
                    std::fprintf(stderr, "bench: cannot build the tree\n");
                    return;
                }
                buildTimes.push_back(NowSeconds() - start);
                if ((turn + run) % 2 == 0)
                    program[order].Add(ProgramRemoval(root, listPath), root, "RemoveListedFiles");
                else
                    bare[order].Add(BareLoop(list.Names), root, "the bare loop");
            }
            reading[order].push_back(ListReadingAlone(listPath, root, program[order].Passes));
        }
        BuildTree(root);
        rd.Add(CommandProcessorRemoval(root), root, "rd /s /q");
    }
    RemoveTree(root);

    char note[96];
    char buildNote[64];
    std::snprintf(buildNote, sizeof(buildNote), "; making the tree %.1f s", Median(buildTimes));
    const char* const kOrders[] = {"contents first", "folders first"};
    for (int order = 0; order < 2; order++)
    {
        BenchRow row;
        row.What = std::string("10,000 files, ") + kOrders[order] + ": RemoveListedFiles";
        row.Runs = int(program[order].Seconds.size());
        row.Seconds = Median(program[order].Seconds);
        row.Floor = "bare Get/SetAttributes+Delete loop";
        row.FloorSeconds = Median(bare[order].Seconds);
        std::snprintf(note, sizeof(note), "; reading the list alone %.0f ms",
                      Median(reading[order]) * 1e3);
        row.Note = PassNote(program[order], bare[order]) + note;
        PrintRow(row);
        row.Floor = "cmd /c rd /s /q";
        row.FloorSeconds = Median(rd.Seconds);
        row.Note = PassNote(program[order], rd) + (order == 1 ? buildNote : "");
        PrintRow(row);
    }
}
