// Where the time of the list removal goes: the program's passes against the
// bare loop on a smaller tree, each call kind timed on its own, and the
// program's reading of the list without any file call.
//   removal_profile.exe FOLDER [FOLDERS [ROUNDS [folders-first]]]
#include "bench_support.h"
#include "listed_names.h"

#include "removal/list_removal.h"

#include <share.h>

#include <cstdio>

namespace
{

int g_folders = 20;

void BuildTree(const std::wstring& root)
{
    BuildBenchTree(root, g_folders);
}

// The program's reading of the list, line for line, with every file call
// left out: what its passes cost beyond the calls.
double ReadOnly(const std::wstring& listPath, const std::wstring& folder, int passes)
{
    const double start = NowSeconds();
    ForEachListedName(listPath, folder, passes, [](const wchar_t*) { return false; });
    return NowSeconds() - start;
}

// The program's passes over the list with the bare calls in place of its
// own, each call timed.
CallTimes TimedProgramCopy(const std::wstring& listPath, const std::wstring& folder)
{
    CallTimes times;
    const double start = NowSeconds();
    ForEachListedName(listPath, folder, 0,
                      [&](const wchar_t* name) { return RemoveBare(name, &times); });
    times.Total = NowSeconds() - start;
    return times;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring scratch = argv[1];
    if (argc > 2)
        g_folders = _wtoi(argv[2]);
    const int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
    const bool foldersFirst = argc > 4 && std::wcscmp(argv[4], L"folders-first") == 0;
    // The passes the program makes over each list: the last one removes nothing.
    const int passes = foldersFirst ? 3 : 2;
    CreateDirectoryW(scratch.c_str(), nullptr);
    const std::wstring root = scratch + L"\\tree";
    const std::wstring folder = root + L"\\";
    const BenchTreeList list = MakeBenchTreeList(root, g_folders, foldersFirst);
    const std::vector<std::wstring>& names = list.Names;
    const std::wstring listPath = scratch + L"\\profile.lst";
    WriteBytes(listPath, list.Text);
    const std::wstring self = OwnPath();
    std::vector<double> program, bare, bareTimed, get, set, del, reads, proposal;
    std::vector<double> copyTimed, copyGet, copySet, copyDel;
    for (int round = 0; round < rounds; round++)
    {
        BuildTree(root);
        FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
        const double start = NowSeconds();
        RemoveListedFiles(list, folder.c_str(), self.c_str());
        program.push_back(NowSeconds() - start);
        fclose(list);

        BuildTree(root);
        bare.push_back(RemoveAllBare(names).Times.Total);

        BuildTree(root);
        const CallTimes copy = TimedProgramCopy(listPath, folder);
        copyTimed.push_back(copy.Total);
        copyGet.push_back(copy.Get);
        copySet.push_back(copy.Set);
        copyDel.push_back(copy.Delete);
        BuildTree(root);
        const CallTimes times = RemoveAllBare(names, true).Times;
        bareTimed.push_back(times.Total);
        get.push_back(times.Get);
        set.push_back(times.Set);
        del.push_back(times.Delete);
        reads.push_back(ReadOnly(listPath, folder, passes));
        BuildTree(root);
        proposal.push_back(RemoveAllBare(names, false, true).Times.Total);
    }
    RemoveTree(root);
    const double entries = double(names.size());
    std::printf("%u entries, %s, %d rounds, medians:\n", unsigned(names.size()),
                foldersFirst ? "folders first" : "contents first", rounds);
    std::printf("  RemoveListedFiles %8.3f s  (runs:", Median(program));
    for (size_t i = 0; i < program.size(); i++)
        std::printf(" %.2f/%.2f", program[i], bare[i]);
    std::printf(" against the bare loop)\n");
    std::printf("  bare loop         %8.3f s  ratio %.2f\n", Median(bare),
                Median(program) / Median(bare));
    std::printf("  bare loop, timed  %8.3f s: Get %.3f  Set %.3f  Delete/Remove %.3f\n",
                Median(bareTimed), Median(get), Median(set), Median(del));
    std::printf("  program's loop, timed %8.3f s: Get %.3f  Set %.3f  Delete/Remove %.3f\n",
                Median(copyTimed), Median(copyGet), Median(copySet), Median(copyDel));
    std::printf("  attributes cleared only when needed %8.3f s  ratio to bare loop %.2f\n",
                Median(proposal), Median(proposal) / Median(bare));
    std::printf("  list read only    %8.3f s  (%.1f us per entry and pass)\n", Median(reads),
                Median(reads) / entries / passes * 1e6);
    return 0;
}
