// The program ended at one of its registry or file writes ("End task", a
// crash), then run once more: the next setup or uninstall reaches what an
// uninterrupted one reaches, and no earlier owner of an extension is lost.
// The program runs as its test build, which counts its writes and stops at
// the Nth one (tests/roundtrip/stop_at_write.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

#include "faults/fault_fixtures.h"
#include "integration/settings_dialog.h"
#include "removal/integration_removal.h"
#include "roundtrip/roundtrip_case.h"
#include "support/plain_files.h"
#include "support/raw_registry.h"

namespace
{

using namespace roundtrip;

// VNX_INTERRUPT_ALL=1 stops at every write; otherwise a sample of each row's
// writes, always with the first and the last, drawn from VNX_INTERRUPT_SEED.
// A row that ends in uninstall takes longer (its batch waits two seconds
// for the program), so it samples fewer; each row draws its own stops.
const unsigned long kSampledSetup = 10, kSampledUninstall = 5;

enum class Next
{
    SetupAgain,     // setup stopped, then setup: as after one setup
    Uninstall,      // setup stopped, then uninstall: as after setup and uninstall
    UninstallAgain, // setup, uninstall stopped, then uninstall: the same
    // Another installed copy set up first, then this one; its uninstall,
    // which hands the integration back, stopped, then uninstall: as after
    // the other copy's setup.
    HandBackAgain,
};

struct Row
{
    const char* Id; // the test's name: --gtest_filter=*/RegistrySetupAgain
    bool Portable;  // "Velnox.ini" beside the program
    Next Then;
};

const Row kRows[] = {
    {"RegistrySetupAgain", false, Next::SetupAgain},
    {"RegistrySetupThenUninstall", false, Next::Uninstall},
    {"RegistryUninstallAgain", false, Next::UninstallAgain},
    {"PortableSetupAgain", true, Next::SetupAgain},
    {"PortableSetupThenUninstall", true, Next::Uninstall},
    {"PortableUninstallAgain", true, Next::UninstallAgain},
    {"RegistryHandBackAgain", false, Next::HandBackAgain},
    {"PortableHandBackAgain", true, Next::HandBackAgain},
};

// Stops at which the program is still known to fail: their differences are
// printed, not failed. Take an entry off as its fault is mended.
struct OpenFault
{
    const char* Fault;
    std::vector<size_t> Rows;
    // The traced write the run stopped at ("N function name").
    bool (*Stop)(const std::string& write);
};
[[maybe_unused]] bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}
const OpenFault kOpenFaults[] = {
    // None today; an entry names the fault, the rows and the stops, e.g.
    // {"...", {1}, [](const std::string& write) { return Contains(write, "ShellNew"); }},
    {nullptr, {}, nullptr},
};

const char* OpenFaultOf(size_t row, const std::string& write)
{
    for (const OpenFault& fault : kOpenFaults)
        if (fault.Fault != nullptr &&
            std::find(fault.Rows.begin(), fault.Rows.end(), row) != fault.Rows.end() &&
            fault.Stop(write))
            return fault.Fault;
    return nullptr;
}

// Earlier owners of a few extensions of each kind: a class with a new-file
// entry (a template, or data) and more values, a class alone, a key without
// a class, none at all; the own format's class goes to the volume extensions
// too.
RoundTripCase EarlierState()
{
    RoundTripCase state;
    state.Index = 0;
    auto text = [&](const wchar_t* key, const wchar_t* name, const std::wstring& value)
    {
        Write write;
        write.Key = key;
        write.Name = name;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(value.c_str());
        write.Data.assign(bytes, bytes + (value.size() + 1) * sizeof(wchar_t));
        state.Writes.push_back(write);
    };
    text(L".zip", L"", L"CompressedFolder");
    text(L".zip", L"Content Type", L"application/x-zip-compressed");
    text(L".zip\\ShellNew", L"Data", L"PK");
    text(L".vnx\\ShellNew", L"FileName", L"C:\\Templates\\other.vnx");
    text(L".vnx", L"", L"Other.Vnx");
    text(L".7z", L"", L"Other.7z");
    text(L".ace", L"", L"Other.Ace");
    text(L".cab", L"PerceivedType", L"compressed");
    for (const std::wstring& extension : GeneratedExtensions())
    {
        ExtensionState entry;
        entry.Extension = extension;
        for (const Write& write : state.Writes)
            if (write.Key == extension)
            {
                entry.Exists = true;
                entry.HasDefault = entry.HasDefault || write.Name.empty();
            }
        state.Extensions.push_back(entry);
    }
    // Every association, the shell extension, no shortcuts.
    state.InitText = L"A11111111111111111111D0M0P0S1C1I1";
    LoadIntegrationOptions(state.Chosen);
    ApplyInitString(state.InitText.c_str(), state.Chosen);
    return state;
}

// The installation folder as the installer leaves it, holding the test
// build of the program as "uninstall.exe".
bool LayOut(const std::wstring& folder, bool portable)
{
    RemoveTree(folder);
    if (!CreateDirectoryW(folder.c_str(), nullptr) ||
        !CopyFileW(BesideTestBinary(L"roundtrip\\uninstall_stopping.exe").c_str(),
                   (folder + L"\\uninstall.exe").c_str(), FALSE))
        return false;
    std::string list = "uninstall.exe\r\nVelnox.exe\r\nvnxext.dll\r\nvnxext64.dll\r\n"
                       "vnxnew.dat\r\nzipnew.dat\r\n";
    for (const wchar_t* name : {L"Velnox.exe", L"vnxext.dll", L"vnxext64.dll"})
        WriteBytes(folder + L"\\" + name, "x");
    if (portable)
    {
        WriteBytes(folder + L"\\Velnox.ini", "");
        list += "Velnox.ini\r\n";
    }
    return WriteBytes(folder + L"\\Uninstall.lst", list);
}

// What a run leaves: the registry, the installation folder's files with
// their bytes, the cleanup folders and what is scheduled for the restart.
struct EndState
{
    std::vector<RegistrySnapshot> Registry;
    std::map<std::wstring, std::string> Files;
    bool FolderLeft = false;
    std::vector<std::wstring> CleanupLeft;
    std::vector<std::wstring> Pending;
};

EndState ReadEndState(const std::vector<Scope>& scopes, const std::wstring& folder)
{
    EndState state;
    state.Registry = TakeSnapshots(scopes);
    state.FolderLeft = Exists(folder);
    for (const std::wstring& name : FilesIn(folder))
        state.Files[name] = ReadBytes(folder + L"\\" + name);
    state.CleanupLeft = CleanupFolders();
    state.Pending = PendingRenames();
    return state;
}

// Runs the program from the folder; with stopAt, ended at that write. The
// exit code, or -1 when it did not end in time; a box it waits on is
// described in *box. Either way it is ended.
long RunProgram(const std::wstring& folder, const wchar_t* options, unsigned long stopAt = 0,
                const std::wstring& trace = std::wstring(), std::wstring* box = nullptr)
{
    const std::wstring stop = stopAt ? std::to_wstring(stopAt) : std::wstring();
    EnvironmentChange stopping(L"VNX_STOP_AT_WRITE", stopAt ? stop.c_str() : nullptr);
    EnvironmentChange tracing(L"VNX_WRITE_TRACE", trace.empty() ? nullptr : trace.c_str());
    ChildProcess child;
    if (!child.Start(L"\"" + folder + L"\\uninstall.exe\" " + options, folder.c_str()))
        return -2;
    const long code = child.Wait(5000);
    if (code != -1)
        return code;
    // A silent run has no box to wait on; one left open would wait for ever.
    // A silent dialog that accepts itself on a slow machine is none.
    const HWND shown = child.FindDialog(10000);
    if (shown != nullptr && child.Wait(2000) == -1 && IsWindowVisible(shown))
    {
        for (HWND text = FindWindowExW(shown, nullptr, L"Static", nullptr); text;
             text = FindWindowExW(shown, text, L"Static", nullptr))
            if (box != nullptr)
                *box += WindowText(text);
        return -1;
    }
    return child.Wait(15000);
}

// The cleanup batch deletes the program and its folder after the program
// has ended, then its own folder: waits for the folders of cleanups started
// since `earlier` to go.
void WaitForBatch(const std::vector<std::wstring>& earlier)
{
    WaitUntil(
        [&]
        {
            for (const std::wstring& left : CleanupFolders())
                if (std::find(earlier.begin(), earlier.end(), left) == earlier.end())
                    return false;
            return true;
        },
        30000, 250);
}

// The traced writes of a run, one line each.
std::vector<std::string> TraceLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    const std::string text = ReadBytes(path);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    DeleteFileW(path.c_str());
    return lines;
}

// Back to where every row starts: no integration, the generated keys gone.
void Clear(const std::wstring& folder)
{
    // Gone first: while the archiver is there, its integration is that
    // copy's, and the removal leaves it.
    RemoveTree(folder);
    RemoveIntegration();
    RemoveUninstallEntry();
    ClearGeneratedKeys();
    for (const std::wstring& left : CleanupFolders())
        RemoveTree(left);
    ForgetPendingRenames();
}

// The lines of a settings file (UTF-16) that only one of the two holds.
std::vector<std::wstring> TextDifferences(const std::string& expected, const std::string& found)
{
    auto split = [](const std::string& bytes)
    {
        std::vector<std::wstring> lines;
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        size_t start = text.empty() || text[0] != 0xFEFF ? 0 : 1;
        for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        if (start < text.size())
            lines.push_back(text.substr(start));
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    const std::vector<std::wstring> a = split(expected), b = split(found);
    std::vector<std::wstring> lines;
    for (const std::wstring& line : a)
        if (!std::binary_search(b.begin(), b.end(), line))
            lines.push_back(L"missing line " + line);
    for (const std::wstring& line : b)
        if (!std::binary_search(a.begin(), a.end(), line))
            lines.push_back(L"added line " + line);
    if (lines.empty())
        lines.push_back(L"other bytes");
    return lines;
}

// Whether the run left the entry of a difference as it was before setup.
bool KeptFromBefore(const RegistrySnapshot& before, const RegistryDifference& difference)
{
    const RegistryEntry& entry = difference.Entry();
    const RegistryEntry* was = nullptr;
    for (const auto& item : before.Entries)
        if (item.second.IsValue == entry.IsValue &&
            !lstrcmpiW(item.second.Key.c_str(), entry.Key.c_str()) &&
            !lstrcmpiW(item.second.Name.c_str(), entry.Name.c_str()))
            was = &item.second;
    if (difference.What == RegistryDifference::Removed)
        return was == nullptr;
    return was != nullptr && was->Type == difference.After.Type &&
           was->Data == difference.After.Data;
}

// The differences of a run's end from the uninterrupted run's, one line each.
// After setup, it must be the same. After uninstall, an entry may instead
// hold what it held before setup (setup never got to change it there), as
// long as every change from before setup is one the round trip allows.
std::vector<std::wstring> Compare(const Row& row, const std::vector<Scope>& scopes,
                                  const RoundTripCase& state,
                                  const std::vector<RegistrySnapshot>& before,
                                  const EndState& expected, const EndState& found)
{
    std::vector<std::wstring> lines;
    const bool setupLast = row.Then == Next::SetupAgain || row.Then == Next::HandBackAgain;
    for (size_t i = 0; i < scopes.size(); ++i)
        for (const RegistryDifference& difference :
             CompareRegistrySnapshots(expected.Registry[i], found.Registry[i]))
            if (setupLast || !KeptFromBefore(before[i], difference))
                lines.push_back(DescribeDifference(difference, found.Registry[i].Label));
    if (!setupLast)
        for (const std::wstring& line :
             UnexplainedDifferences(scopes, before, found.Registry, &state))
            lines.push_back(L"since before setup: " + line);
    if (found.FolderLeft != expected.FolderLeft)
        lines.push_back(found.FolderLeft ? L"the installation folder is left"
                                         : L"the installation folder is gone");
    for (const auto& file : expected.Files)
    {
        const auto other = found.Files.find(file.first);
        if (other == found.Files.end())
            lines.push_back(L"missing file " + file.first);
        else if (other->second != file.second)
            for (const std::wstring& line : TextDifferences(file.second, other->second))
                lines.push_back(file.first + L": " + line);
    }
    for (const auto& file : found.Files)
        if (expected.Files.find(file.first) == expected.Files.end())
            lines.push_back(L"left file " + file.first);
    for (const std::wstring& left : found.CleanupLeft)
        lines.push_back(L"cleanup folder left: " + left);
    if (found.Pending != expected.Pending)
        for (const std::wstring& name : found.Pending)
            lines.push_back(L"scheduled for the restart: " + name);
    return lines;
}

// VNX_INTERRUPT_WRITES="3,57" stops at just those writes.
std::vector<unsigned long> PickWrites(unsigned long total, unsigned long sampled,
                                      std::mt19937& random)
{
    std::vector<unsigned long> picked;
    if (const char* chosen = std::getenv("VNX_INTERRUPT_WRITES"))
    {
        for (char* next = const_cast<char*>(chosen); *next;)
        {
            const unsigned long n = std::strtoul(next, &next, 10);
            if (n >= 1 && n <= total)
                picked.push_back(n);
            while (*next == ',' || *next == ' ')
                ++next;
        }
        return picked;
    }
    if (EnvNumber("VNX_INTERRUPT_ALL", 0) != 0 || total <= sampled)
    {
        for (unsigned long n = 1; n <= total; ++n)
            picked.push_back(n);
        return picked;
    }
    picked = {1, total};
    while (picked.size() < sampled)
    {
        const unsigned long n = 2 + random() % (total - 2);
        if (std::find(picked.begin(), picked.end(), n) == picked.end())
            picked.push_back(n);
    }
    std::sort(picked.begin(), picked.end());
    return picked;
}

// The uninterrupted setup and uninstall of one storage mode: where they end,
// and the writes each makes. Read once per mode for all its rows. With
// another copy set up first: where that copy's setup ends, and the writes
// of this copy's uninstall that hands the integration back.
struct Reference
{
    std::vector<RegistrySnapshot> Before;
    EndState AfterSetup, AfterUninstall;
    std::vector<std::string> SetupWrites, UninstallWrites;
};

class InterruptedRun : public testing::TestWithParam<size_t>
{
protected:
    InterruptedRun()
        : scratch(L"interrupted"), folder(scratch / L"inst"), other(scratch / L"first"),
          trace(scratch / L"writes.txt"), scopes(TouchedScopes()), state(EarlierState()),
          setup(L"/setup /S /noexplorer /init" + state.InitText)
    {
    }
    void TearDown() override
    {
        RemoveTree(other);
        Clear(folder);
    }
    const Reference* ReferenceOf(bool portable);
    const Reference* HandBackReferenceOf(bool portable);
    // The earlier owners, the other copy set up, then this one; false when
    // a setup failed.
    bool SetUpBothCopies(bool portable)
    {
        WriteEarlierState(state);
        return LayOut(other, false) && RunProgram(other, setup.c_str()) == 0 &&
               LayOut(folder, portable) && RunProgram(folder, setup.c_str()) == 0;
    }

    ScratchDir scratch;
    const std::wstring folder, other, trace;
    const std::vector<Scope> scopes;
    const RoundTripCase state;
    const std::wstring setup;
};

const Reference* InterruptedRun::ReferenceOf(bool portable)
{
    static std::map<bool, Reference> made;
    static bool warmedUp = false;
    const auto found = made.find(portable);
    if (found != made.end())
        return &found->second;
    Clear(folder);
    if (!warmedUp)
    {
        // Parent keys that the first setup in the prefix makes stay (as by
        // design): made here, every counted run finds the same registry.
        WriteEarlierState(state);
        if (!LayOut(folder, false) || RunProgram(folder, setup.c_str()) != 0)
            return nullptr;
        Clear(folder);
        warmedUp = true;
    }
    Reference reference;
    WriteEarlierState(state);
    reference.Before = TakeSnapshots(scopes);
    if (!LayOut(folder, portable) || RunProgram(folder, setup.c_str(), 0, trace) != 0)
        return nullptr;
    reference.SetupWrites = TraceLines(trace);
    reference.AfterSetup = ReadEndState(scopes, folder);
    if (RunProgram(folder, L"/S", 0, trace) != 0)
        return nullptr;
    reference.UninstallWrites = TraceLines(trace);
    WaitForBatch({});
    reference.AfterUninstall = ReadEndState(scopes, folder);
    Clear(folder);
    // What the table compares with must itself be a sound round trip.
    const std::vector<std::wstring> lines =
        UnexplainedDifferences(scopes, reference.Before, reference.AfterUninstall.Registry, &state);
    EXPECT_TRUE(lines.empty() && !reference.AfterUninstall.FolderLeft)
        << "the uninterrupted setup and uninstall differ:\n"
        << JoinLines(lines);
    std::printf("%s: setup makes %zu writes, uninstall %zu\n", portable ? "portable" : "registry",
                reference.SetupWrites.size(), reference.UninstallWrites.size());
    return &(made[portable] = reference);
}

const Reference* InterruptedRun::HandBackReferenceOf(bool portable)
{
    static std::map<bool, Reference> made;
    const auto found = made.find(portable);
    if (found != made.end())
        return &found->second;
    if (ReferenceOf(portable) == nullptr)
        return nullptr;
    Reference reference;
    WriteEarlierState(state);
    reference.Before = TakeSnapshots(scopes);
    if (!LayOut(other, false) || RunProgram(other, setup.c_str()) != 0)
        return nullptr;
    // This copy's folder is not there yet, as it is not after its uninstall.
    reference.AfterSetup = ReadEndState(scopes, folder);
    RemoveTree(other);
    Clear(folder);
    if (!SetUpBothCopies(portable) || RunProgram(folder, L"/S", 0, trace) != 0)
        return nullptr;
    reference.UninstallWrites = TraceLines(trace);
    WaitForBatch({});
    const EndState after = ReadEndState(scopes, folder);
    RemoveTree(other);
    Clear(folder);
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < scopes.size(); ++i)
        for (const std::wstring& line :
             ListRegistryDifferences(reference.AfterSetup.Registry[i], after.Registry[i]))
            lines.push_back(line);
    EXPECT_TRUE(lines.empty() && !after.FolderLeft)
        << "the uninterrupted hand-back differs from the other copy's setup:\n"
        << JoinLines(lines);
    std::printf("%s: the uninstall that hands back makes %zu writes\n",
                portable ? "portable" : "registry", reference.UninstallWrites.size());
    return &(made[portable] = reference);
}

TEST_P(InterruptedRun, NextRunEndsAsAnUninterruptedOne)
{
    const size_t r = GetParam();
    const Row& row = kRows[r];
    const unsigned long seed = EnvNumber("VNX_INTERRUPT_SEED", kDefaultSeed);
    std::printf("%s: seed %lu (VNX_INTERRUPT_SEED; VNX_INTERRUPT_ALL=1 stops at every write)\n",
                row.Id, seed);
    const bool handBack = row.Then == Next::HandBackAgain;
    const Reference* reference =
        handBack ? HandBackReferenceOf(row.Portable) : ReferenceOf(row.Portable);
    ASSERT_NE(nullptr, reference) << "the uninterrupted setup or uninstall failed";
    const bool stopUninstall = row.Then == Next::UninstallAgain || handBack;
    const std::vector<std::string>& writes =
        stopUninstall ? reference->UninstallWrites : reference->SetupWrites;
    const EndState& expected = row.Then == Next::SetupAgain || handBack
                                   ? reference->AfterSetup
                                   : reference->AfterUninstall;
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed * 31 + r));
    const std::vector<unsigned long> picked =
        PickWrites(static_cast<unsigned long>(writes.size()),
                   row.Then == Next::SetupAgain ? kSampledSetup : kSampledUninstall, random);
    unsigned long failed = 0, open = 0;
    const DWORD started = GetTickCount();
    for (const unsigned long n : picked)
    {
        std::vector<std::wstring> lines;
        WriteEarlierState(state);
        if (handBack)
        {
            if (!SetUpBothCopies(row.Portable))
                lines.push_back(L"a setup before the stopped uninstall failed");
        }
        else if (!LayOut(folder, row.Portable))
            lines.push_back(L"cannot lay out the installation folder");
        else if (stopUninstall && RunProgram(folder, setup.c_str()) != 0)
            lines.push_back(L"setup before the stopped uninstall failed");
        const long stopped = RunProgram(folder, stopUninstall ? L"/S" : setup.c_str(), n);
        if (stopped != 99)
            lines.push_back(L"the stopped run ended with " + std::to_wstring(stopped));
        const std::vector<std::wstring> earlier = CleanupFolders();
        std::wstring box;
        const long code =
            RunProgram(folder, row.Then == Next::SetupAgain ? setup.c_str() : L"/S", 0, L"", &box);
        if (!box.empty())
            lines.push_back(L"the next run waits on a box: " + box);
        else if (code != 0)
            lines.push_back(L"the next run ended with " + std::to_wstring(code));
        if (row.Then != Next::SetupAgain)
            WaitForBatch(earlier);
        for (const std::wstring& line :
             Compare(row, scopes, state, reference->Before, expected, ReadEndState(scopes, folder)))
            lines.push_back(line);
        RemoveTree(other);
        Clear(folder);
        if (lines.empty())
            continue;
        const std::string what = std::string(row.Id) + ", seed " + std::to_string(seed) +
                                 ", stopped at write " + std::to_string(n) + " of " +
                                 std::to_string(writes.size()) + " (" + writes[n - 1] + "):\n" +
                                 JoinLines(lines);
        if (const char* fault = OpenFaultOf(r, writes[n - 1]))
        {
            ++open;
            std::printf("open fault (%s): %s", fault, what.c_str());
        }
        else
        {
            ++failed;
            ADD_FAILURE() << what;
        }
    }
    std::printf("%s: %zu stops, %lu differ, %lu of them by open faults, %lu ms\n", row.Id,
                picked.size(), failed + open, open,
                static_cast<unsigned long>(GetTickCount() - started));
}

INSTANTIATE_TEST_SUITE_P(Rows, InterruptedRun, testing::Range<size_t>(0, ARRAYSIZE(kRows)),
                         [](const testing::TestParamInfo<size_t>& info)
                         { return std::string(kRows[info.param].Id); });

} // namespace
