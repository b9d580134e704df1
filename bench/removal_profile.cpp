// Where the time of the list removal goes: the program's passes against the
// bare loop on a smaller tree, each call kind timed on its own, and the
// program's reading of the list without any file call.
//   removal_profile.exe FOLDER [FOLDERS [ROUNDS [folders-first]]]
#include "bench_support.h"

#include "common/strings.h"
#include "removal/uninstall_procedure.h"

#include <share.h>

#include <cstdio>
#include <cstring>

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
    FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
    if (!list)
        return 0;
    size_t sum = 0;
    const double start = NowSeconds();
    for (int pass = 0; pass < passes; pass++)
    {
        char line[2048];
        while (fgets(line, sizeof(line), list))
        {
            size_t length = strlen(line);
            while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n'))
                line[--length] = 0;
            wchar_t entry[4096];
            if (length == 0 || !AnsiToWide(line, entry, 4096) || !IsSafeListEntry(entry))
                continue;
            wchar_t fullName[4096];
            if (!CopyString(fullName, folder.c_str()) || !AppendString(fullName, entry))
                continue;
            sum += fullName[0];
        }
        fseek(list, 0, SEEK_SET);
    }
    const double seconds = NowSeconds() - start;
    fclose(list);
    return sum ? seconds : seconds;
}

struct CallTimes
{
    double Get = 0, Set = 0, Delete = 0, Total = 0;
};

CallTimes TimedBareLoop(const std::vector<std::wstring>& names)
{
    CallTimes times;
    const double start = NowSeconds();
    for (;;)
    {
        int removed = 0;
        for (const std::wstring& name : names)
        {
            double t0 = NowSeconds();
            const DWORD attributes = GetFileAttributesW(name.c_str());
            double t1 = NowSeconds();
            SetFileAttributesW(name.c_str(), 0);
            double t2 = NowSeconds();
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                removed += RemoveDirectoryW(name.c_str()) ? 1 : 0;
            else
                removed += DeleteFileW(name.c_str()) ? 1 : 0;
            double t3 = NowSeconds();
            times.Get += t1 - t0;
            times.Set += t2 - t1;
            times.Delete += t3 - t2;
        }
        if (removed == 0)
            break;
    }
    times.Total = NowSeconds() - start;
    return times;
}

// RemoveListedFiles line for line, each file call timed (files in use are
// not expected here, so their branch is left out).
CallTimes TimedProgramCopy(const std::wstring& listPath, const std::wstring& folder)
{
    CallTimes times;
    FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
    if (list == nullptr)
        return times;
    const double start = NowSeconds();
    for (;;)
    {
        int removed = 0;
        char line[2048];
        while (fgets(line, sizeof(line), list))
        {
            size_t length = strlen(line);
            while (length > 0 && strchr("\r\n \t", line[length - 1]) != nullptr)
                line[--length] = 0;
            wchar_t entry[4096];
            if (length == 0 || !AnsiToWide(line, entry, 4096) || !IsSafeListEntry(entry))
                continue;
            wchar_t fullName[4096];
            if (!CopyString(fullName, folder.c_str()) || !AppendString(fullName, entry))
                continue;
            const double t0 = NowSeconds();
            const DWORD attributes = GetFileAttributesW(fullName);
            const double t1 = NowSeconds();
            SetFileAttributesW(fullName, 0);
            const double t2 = NowSeconds();
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                removed += RemoveDirectoryW(fullName) ? 1 : 0;
            else
                removed += DeleteFileW(fullName) ? 1 : 0;
            const double t3 = NowSeconds();
            times.Get += t1 - t0;
            times.Set += t2 - t1;
            times.Delete += t3 - t2;
        }
        if (removed == 0)
            break;
        fseek(list, 0, SEEK_SET);
    }
    times.Total = NowSeconds() - start;
    fclose(list);
    return times;
}

// A proposal: clear the attributes only when one of them would stop the
// deletion, and not at all for a name that is not there.
double SetOnlyWhenNeeded(const std::vector<std::wstring>& names)
{
    const DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const double start = NowSeconds();
    for (;;)
    {
        int removed = 0;
        for (const std::wstring& name : names)
        {
            const DWORD attributes = GetFileAttributesW(name.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kBlocking))
                SetFileAttributesW(name.c_str(), 0);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                removed += RemoveDirectoryW(name.c_str()) ? 1 : 0;
            else
                removed += DeleteFileW(name.c_str()) ? 1 : 0;
        }
        if (removed == 0)
            break;
    }
    return NowSeconds() - start;
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
    const std::string& text = list.Text;
    const std::vector<std::wstring>& names = list.Names;
    const std::wstring listPath = scratch + L"\\profile.lst";
    WriteWholeFile(listPath, text.data(), text.size());
    const std::wstring self = OwnPath();
    std::vector<double> program, bare, bareTimed, get, set, del, reads, proposal;
    std::vector<double> copyTimed, copyGet, copySet, copyDel;
    for (int round = 0; round < rounds; round++)
    {
        BuildTree(root);
        FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
        double start = NowSeconds();
        RemoveListedFiles(list, folder.c_str(), self.c_str());
        program.push_back(NowSeconds() - start);
        fclose(list);

        BuildTree(root);
        start = NowSeconds();
        for (;;)
        {
            int removed = 0;
            for (const std::wstring& name : names)
            {
                const DWORD attributes = GetFileAttributesW(name.c_str());
                SetFileAttributesW(name.c_str(), 0);
                if (attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_DIRECTORY))
                    removed += RemoveDirectoryW(name.c_str()) ? 1 : 0;
                else
                    removed += DeleteFileW(name.c_str()) ? 1 : 0;
            }
            if (removed == 0)
                break;
        }
        bare.push_back(NowSeconds() - start);

        BuildTree(root);
        const CallTimes copy = TimedProgramCopy(listPath, folder);
        copyTimed.push_back(copy.Total);
        copyGet.push_back(copy.Get);
        copySet.push_back(copy.Set);
        copyDel.push_back(copy.Delete);
        BuildTree(root);
        const CallTimes times = TimedBareLoop(names);
        bareTimed.push_back(times.Total);
        get.push_back(times.Get);
        set.push_back(times.Set);
        del.push_back(times.Delete);
        reads.push_back(ReadOnly(listPath, folder, passes));
        BuildTree(root);
        proposal.push_back(SetOnlyWhenNeeded(names));
    }
    DeleteTree(root);
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
