// The program run as its own process: start and exit, a silent setup and a
// silent uninstall, each against a floor started the same way.
#include "bench_sections.h"
#include "bench_support.h"
#include "file_steps.h"
#include "registry_replay.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace
{

const wchar_t kProgramName[] = L"uninstall.exe";
// The archiver's own files, as its installer leaves them beside the program;
// only their names matter here.
const wchar_t* const kStandIns[] = {L"Velnox.exe", L"vnxext.dll", L"vnxext64.dll",
                                    L"Velnox.chm", L"Vnx.txt",    L"license.txt"};
// Setup writes these beside the program; the installer's list names them.
const wchar_t* const kTemplates[] = {L"vnxnew.dat", L"zipnew.dat"};

bool Check(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "bench: %s\n", what);
    return ok;
}

// Path to "is a folder", below the given roots.
typedef std::map<std::wstring, bool> FileTree;

void ListTree(const std::wstring& folder, FileTree& tree)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        tree[path] = isFolder;
        if (isFolder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListTree(path, tree);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Removes what a run added below the roots, deepest first.
void RemoveNewFiles(const FileTree& before, const FileTree& after)
{
    for (auto entry = after.rbegin(); entry != after.rend(); ++entry)
    {
        if (before.count(entry->first))
            continue;
        SetFileAttributesW(entry->first.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry->second)
            RemoveDirectoryW(entry->first.c_str());
        else
            DeleteFileW(entry->first.c_str());
    }
}

std::wstring ShellFolder(int id)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// Where links, templates and the program group land.
FileTree FilesOfInterest(const std::wstring& installFolder)
{
    FileTree tree;
    wchar_t drive[16] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", drive, 16);
    for (const std::wstring& root :
         {std::wstring(drive) + L"\\users", std::wstring(drive) + L"\\ProgramData", installFolder})
        ListTree(root, tree);
    return tree;
}

// The installation folder as the archiver's installer leaves it.
bool LayOutInstallation(const BenchConfig& config, const std::wstring& folder)
{
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    bool ok = CopyFileW(config.Program.c_str(), (folder + L"\\" + kProgramName).c_str(), FALSE);
    std::string list = "uninstall.exe\r\nUninstall.lst\r\n";
    for (const wchar_t* name : kStandIns)
    {
        const std::string text = "stand-in for " + Narrow(name) + "\r\n";
        ok &= WriteBytes(folder + L"\\" + name, text);
        list += Narrow(name) + "\r\n";
    }
    for (const wchar_t* name : kTemplates)
        list += Narrow(name) + "\r\n";
    ok &= WriteBytes(folder + L"\\Uninstall.lst", list);
    return ok;
}

// Without a console, as the shell starts programs: the cleanup batch file's
// command processor then gets a console of its own, not the benchmark's.
ChildRun RunProgram(const std::wstring& program, const wchar_t* options)
{
    return RunChild(Quoted(program) + L" " + options, FolderOf(program), DETACHED_PROCESS);
}

bool Succeeded(const ChildRun& run, const char* what)
{
    if (run.Finished && run.ExitCode == 0)
        return true;
    std::fprintf(stderr, "bench: %s %s (exit code %lu)\n", what,
                 run.Finished ? "failed" : "did not end", static_cast<unsigned long>(run.ExitCode));
    return false;
}

// The cleanup batch file goes on after the program: the folder and the batch
// file's own folder ("Uninstall_Vnx_*" in the temporary folder) are gone
// when it is done.
bool CleanupFolderLeft(const std::wstring& temp)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((temp + L"Uninstall_Vnx_*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// An earlier run's batch folder that its command processor could not remove
// (an empty one) would count against every later run.
void RemoveLeftCleanupFolders()
{
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((std::wstring(temp) + L"Uninstall_Vnx_*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        std::fprintf(stderr, "bench: a batch folder was left: %s\n", Narrow(found.cFileName).c_str());
        RemoveDirectoryW((std::wstring(temp) + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool WaitForCleanup(const std::wstring& installFolder, double limitSeconds)
{
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const double start = NowSeconds();
    while (NowSeconds() - start < limitSeconds)
    {
        if (GetFileAttributesW(installFolder.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CleanupFolderLeft(temp))
            return true;
        Sleep(20);
    }
    return false;
}

// The target a saved link points at; empty when it cannot be read.
std::wstring LinkTarget(const std::wstring& path)
{
    const bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    wchar_t target[MAX_PATH] = L"";
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IShellLinkW, reinterpret_cast<void**>(&link))))
    {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
        {
            if (SUCCEEDED(file->Load(path.c_str(), STGM_READ)))
                link->GetPath(target, MAX_PATH, nullptr, 0);
            file->Release();
        }
        link->Release();
    }
    if (comStarted)
        CoUninitialize();
    return target;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* tail)
{
    const size_t length = std::wcslen(tail);
    return text.size() >= length && lstrcmpiW(text.c_str() + text.size() - length, tail) == 0;
}

// The rich edit library that the setup loads for its dialog, the files and
// folders it made, as steps that make them again: links through the shell's
// link object, other files copied from a saved copy (kept under scratch); one
// association notice at the end.
std::vector<FileStep> MadeFileSteps(const FileTree& before, const FileTree& after,
                                    const std::wstring& scratch)
{
    std::vector<FileStep> steps = {{FileStep::LoadSystemLibrary, L"riched20.dll", L""}};
    for (const auto& entry : after)
    {
        if (before.count(entry.first))
            continue;
        if (entry.second)
            steps.push_back({FileStep::MakeFolder, entry.first, L""});
        else if (EndsWithNoCase(entry.first, L".lnk"))
            steps.push_back({FileStep::MakeLink, entry.first, LinkTarget(entry.first)});
        else
        {
            const std::wstring copy =
                scratch + L"\\setup-file-" + std::to_wstring(steps.size()) + L".bin";
            CopyFileW(entry.first.c_str(), copy.c_str(), FALSE);
            steps.push_back({FileStep::CopyBytes, entry.first, copy});
        }
    }
    steps.push_back({FileStep::NotifyShell, L"", L""});
    return steps;
}

bool IsBelow(const std::wstring& path, const std::wstring& folder)
{
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == L'\\';
}

// The one association notice that follows the registry changes, what an
// uninstall deleted itself, deepest first, and the one start of the command
// processor that hands the program and its folder to the batch file. The
// program groups went through the shell, as removal deletes them, and so do
// their steps; the rest goes entry by entry.
std::vector<FileStep> DeletedFileSteps(const FileTree& before, const FileTree& after,
                                       const std::wstring& installFolder)
{
    std::vector<FileStep> steps = {{FileStep::NotifyShellAndWait, L"", L""}};
    std::vector<std::wstring> groups;
    for (const auto& entry : before)
        if (entry.second && !after.count(entry.first) && !IsBelow(entry.first, installFolder) &&
            (groups.empty() || !IsBelow(entry.first, groups.back())))
            groups.push_back(entry.first);
    const auto inGroup = [&groups](const std::wstring& path) {
        for (const std::wstring& group : groups)
            if (IsBelow(path, group))
                return true;
        return false;
    };
    for (auto entry = before.rbegin(); entry != before.rend(); ++entry)
    {
        const std::wstring& path = entry->first;
        // The batch file's part: the folder, the program and the list.
        if (after.count(path) || path == installFolder ||
            path == installFolder + L"\\" + kProgramName ||
            path == installFolder + L"\\Uninstall.lst" || inGroup(path))
            continue;
        const bool group = std::find(groups.begin(), groups.end(), path) != groups.end();
        steps.push_back({group             ? FileStep::ShellDeleteFolder
                         : entry->second ? FileStep::RemoveFolder
                                         : FileStep::DeleteEntry,
                         path, L""});
    }
    steps.push_back({FileStep::StartCommandProcessor, L"", L""});
    return steps;
}

// The median of the ratios of each run to the floor run right after it: the
// machine's speed drifts within minutes, and neighbours share it.
std::string PairedRatio(const std::vector<double>& ratios)
{
    char text[48];
    std::snprintf(text, sizeof(text), "paired runs %.2fx", Median(ratios));
    return text;
}

double g_emptySeconds = -1;

} // namespace

double EmptyProgramSeconds(const BenchConfig& config)
{
    if (g_emptySeconds >= 0)
        return g_emptySeconds;
    const std::wstring folder = config.Scratch + L"\\start";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring empty = folder + L"\\empty_program.exe";
    CopyFileW(config.EmptyProgram.c_str(), empty.c_str(), FALSE);
    RunProgram(empty, L""); // the first start of any program pays for more
    std::vector<double> samples;
    for (int run = 0; run < config.Runs; run++)
    {
        const ChildRun child = RunProgram(empty, L"");
        if (Succeeded(child, "the empty program"))
            samples.push_back(child.Seconds);
    }
    g_emptySeconds = Median(samples);
    return g_emptySeconds;
}

void BenchStartAndExit(const BenchConfig& config)
{
    const std::wstring folder = config.Scratch + L"\\start";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\" + kProgramName;
    if (!Check(CopyFileW(config.Program.c_str(), program.c_str(), FALSE),
               "cannot copy the program"))
        return;
    const double floor = EmptyProgramSeconds(config);
    RunProgram(program, L"/noexplorer");
    // Beside the program: the libraries are the only difference to the empty one.
    const std::wstring withImports = folder + L"\\empty_with_imports.exe";
    CopyFileW((FolderOf(config.EmptyProgram) + L"\\bench_empty_with_imports.exe").c_str(),
              withImports.c_str(), FALSE);
    RunProgram(withImports, L"");
    std::vector<double> importsFloor;

    // An option of neither mode: the program starts, does nothing and ends.
    std::vector<double> plain, waited;
    for (int run = 0; run < config.Runs; run++)
    {
        const ChildRun child = RunProgram(program, L"/noexplorer");
        if (Succeeded(child, "uninstall.exe /noexplorer"))
            plain.push_back(child.Seconds);
        const ChildRun empty = RunProgram(withImports, L"");
        if (Succeeded(empty, "the empty program with imports"))
            importsFloor.push_back(empty.Seconds);
    }
    for (int run = 0; run < config.Runs; run++)
    {
        const ChildRun child = RunProgram(program, L"/wait");
        if (Succeeded(child, "uninstall.exe /wait"))
            waited.push_back(child.Seconds - 2.0);
    }
    BenchRow row;
    row.What = "start and exit: /noexplorer (no mode)";
    row.Runs = int(plain.size());
    row.Seconds = Median(plain);
    row.Floor = "empty Win32 program";
    row.FloorSeconds = floor;
    PrintRow(row);
    row.Floor = "the same, with the program's DLLs";
    row.FloorSeconds = Median(importsFloor);
    row.Note = "advapi32 gdi32 ole32 shell32 user32";
    PrintRow(row);
    row.What = "start and exit: /wait minus 2000 ms";
    row.Floor = "empty Win32 program";
    row.FloorSeconds = floor;
    row.Note = "";
    row.Runs = int(waited.size());
    row.Seconds = Median(waited);
    PrintRow(row);
}

void BenchSetupAndUninstall(const BenchConfig& config)
{
    const std::wstring installFolder = ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Velnox";
    const std::wstring program = installFolder + L"\\" + kProgramName;
    RemoveTree(installFolder);
    if (!Check(LayOutInstallation(config, installFolder), "cannot lay out the installation"))
        return;

    double start = NowSeconds();
    const RegSnapshot before = TakeSoftwareSnapshot();
    const double snapshotSeconds = NowSeconds() - start;
    const FileTree filesBefore = FilesOfInterest(installFolder);
    // The first run gives the writes; it also pays for the first start.
    if (!Succeeded(RunProgram(program, L"/setup /S /noexplorer"), "setup"))
        return;
    const RegSnapshot after = TakeSoftwareSnapshot();
    const FileTree filesAfter = FilesOfInterest(installFolder);
    const std::vector<RegWrite> writes = DeriveWrites(before, after);
    size_t newFiles = 0;
    for (const auto& entry : filesAfter)
        newFiles += filesBefore.count(entry.first) == 0;

    const std::wstring writesPath = config.Scratch + L"\\setup-writes.txt";
    std::wstring readable;
    for (const RegWrite& write : writes)
        readable += DescribeWrite(write) + L"\r\n";
    for (const auto& entry : filesAfter)
        if (filesBefore.count(entry.first) == 0)
            readable += L"new " + std::wstring(entry.second ? L"folder  " : L"file  ") +
                        entry.first + L"\r\n";
    WriteBytes(config.Scratch + L"\\setup-changes.txt", Narrow(readable));
    const std::wstring stepsPath = config.Scratch + L"\\setup-files.txt";
    const std::vector<FileStep> madeSteps = MadeFileSteps(filesBefore, filesAfter, config.Scratch);
    if (!Check(SaveWrites(writes, writesPath) && SaveFileSteps(madeSteps, stepsPath),
               "cannot save the list of writes"))
        return;
    auto undo = [&]
    {
        UndoWrites(before, after);
        RemoveNewFiles(filesBefore, FilesOfInterest(installFolder));
    };
    undo();
    // The floor must make every write the setup made.
    size_t failed = 0;
    for (const RegWrite& write : writes)
        if (!ReplayWrite(write) && failed++ < 5)
            std::fprintf(stderr, "bench: cannot replay %s\n", Narrow(DescribeWrite(write)).c_str());
    undo();
    const size_t leftOver = DeriveWrites(before, TakeSoftwareSnapshot()).size();
    std::fprintf(stderr,
                 "bench: setup makes %u registry writes and %u files or folders; reading the "
                 "registry took %.1f s; after undoing them %u differences remain\n",
                 unsigned(writes.size()), unsigned(newFiles), snapshotSeconds, unsigned(leftOver));

    // Outside the folders whose new files are undone.
    const std::wstring replay = config.Scratch + L"\\start\\replay_writes.exe";
    CreateDirectoryW((config.Scratch + L"\\start").c_str(), nullptr);
    CopyFileW(config.ReplayProgram.c_str(), replay.c_str(), FALSE);
    const std::wstring replayOptions = Quoted(writesPath) + L" " + Quoted(stepsPath);
    RunProgram(replay, replayOptions.c_str());
    undo();
    std::vector<double> setupTimes, replayTimes, setupPairs;
    for (int run = 0; run < config.Runs; run++)
    {
        const ChildRun setup = RunProgram(program, L"/setup /S /noexplorer");
        const bool setupDone = Succeeded(setup, "setup");
        if (setupDone)
            setupTimes.push_back(setup.Seconds);
        undo();
        const ChildRun floor = RunProgram(replay, replayOptions.c_str());
        if (Succeeded(floor, "the replay of the writes"))
        {
            replayTimes.push_back(floor.Seconds);
            if (setupDone)
                setupPairs.push_back(setup.Seconds / floor.Seconds);
        }
        undo();
    }
    BenchRow row;
    row.What = "silent setup: /setup /S /noexplorer";
    row.Runs = int(setupTimes.size());
    row.Seconds = Median(setupTimes);
    char text[128];
    std::snprintf(text, sizeof(text), "replay of its %u registry writes and %u files/folders",
                  unsigned(writes.size()), unsigned(newFiles));
    row.Floor = text;
    row.FloorSeconds = Median(replayTimes);
    std::snprintf(text, sizeof(text), "same DLLs, rich edit too; links through the shell; %s",
                  PairedRatio(setupPairs).c_str());
    row.Note = text;
    PrintRow(row);

    // Uninstall: each run on a freshly set-up demo installation. The first
    // gives the floor's deletions; each floor run starts from a setup too.
    const std::wstring deletionsPath = config.Scratch + L"\\uninstall-deletions.txt";
    const std::wstring deletedStepsPath = config.Scratch + L"\\uninstall-files.txt";
    const std::wstring uninstallFloorOptions =
        Quoted(deletionsPath) + L" " + Quoted(deletedStepsPath);
    size_t deletions = 0;
    std::vector<double> uninstallTimes, cleanupTimes, uninstallFloorTimes, uninstallPairs;
    double lastUninstall = 0;
    for (int run = 0; run < config.Runs * 2 + 1; run++)
    {
        if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !Check(LayOutInstallation(config, installFolder), "cannot lay out the installation"))
            break;
        if (!Succeeded(RunProgram(program, L"/setup /S /noexplorer"), "setup"))
            break;
        if (run > 0 && run % 2 == 0)
        {
            const ChildRun floor = RunProgram(replay, uninstallFloorOptions.c_str());
            if (Succeeded(floor, "the replay of the deletions"))
            {
                uninstallFloorTimes.push_back(floor.Seconds);
                if (lastUninstall > 0)
                    uninstallPairs.push_back(lastUninstall / floor.Seconds);
            }
            lastUninstall = 0;
            undo();
            RemoveTree(installFolder);
            continue;
        }
        RegSnapshot setUp;
        FileTree setUpFiles;
        if (run == 0)
        {
            setUp = TakeSoftwareSnapshot();
            setUpFiles = FilesOfInterest(installFolder);
        }
        RemoveLeftCleanupFolders();
        start = NowSeconds();
        const ChildRun uninstall = RunProgram(program, L"/S");
        const bool cleaned = WaitForCleanup(installFolder, 60);
        const double cleanupSeconds = NowSeconds() - start;
        if (run == 0)
        {
            const std::vector<RegWrite> removed = DeriveWrites(setUp, TakeSoftwareSnapshot());
            deletions = removed.size();
            if (!Check(SaveWrites(removed, deletionsPath) &&
                           SaveFileSteps(DeletedFileSteps(setUpFiles,
                                                          FilesOfInterest(installFolder),
                                                          installFolder),
                                         deletedStepsPath),
                       "cannot save the list of deletions"))
                return;
        }
        else if (Succeeded(uninstall, "uninstall") &&
                 Check(cleaned, "the cleanup batch file left the installation folder"))
        {
            uninstallTimes.push_back(uninstall.Seconds);
            cleanupTimes.push_back(cleanupSeconds);
            lastUninstall = uninstall.Seconds;
        }
        undo();
        RemoveTree(installFolder);
    }
    row = BenchRow();
    row.What = "silent uninstall of the demo installation /S";
    row.Runs = int(uninstallTimes.size());
    row.Seconds = Median(uninstallTimes);
    std::snprintf(text, sizeof(text), "replay of its %u registry changes, one notice, its deletions, one cmd",
                  unsigned(deletions));
    row.Floor = text;
    row.FloorSeconds = Median(uninstallFloorTimes);
    std::snprintf(text, sizeof(text),
                  "groups through the shell; %s; folder gone after %.2f s (batch waits 2 s)",
                  PairedRatio(uninstallPairs).c_str(), Median(cleanupTimes));
    row.Note = text;
    PrintRow(row);
    std::fprintf(stderr,
                 "bench: after the setup and uninstall runs %u registry differences remain\n",
                 unsigned(DeriveWrites(before, TakeSoftwareSnapshot()).size()));
}
