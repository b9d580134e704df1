// The same round trip through the built program: a silent setup from a
// scratch installation folder, then its silent uninstall with the cleanup
// batch file run to its end.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include "integration/settings_dialog.h"
#include "roundtrip/roundtrip_case.h"

namespace
{

using namespace roundtrip;

// Files an installer would have laid out and listed.
const wchar_t* const kInstalledFiles[] = {L"Velnox.exe", L"Velnox.chm", L"Vnx.txt",
                                          L"WhatsNew.txt"};

// One state from setup to the end of the batch file; the lines that tell
// what went wrong, empty when nothing did.
std::vector<std::wstring> RunOneState(const RoundTripCase& state, const ScratchDir& scratch,
                                      const std::wstring& batch, const std::vector<Scope>& scopes,
                                      std::vector<RegistrySnapshot>& before)
{
    std::vector<std::wstring> problems;
    const std::wstring folder = scratch.Path() + L"\\inst" + std::to_wstring(state.Index);
    const std::wstring exe = folder + L"\\uninstall.exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!CopyFileW(ProgramPath().c_str(), exe.c_str(), FALSE))
        return {L"cannot copy the program to " + exe};
    std::string list;
    for (const wchar_t* name : kInstalledFiles)
    {
        WriteBytes(folder + L"\\" + name, "x");
        list += WideToUtf8(name) + "\r\n";
    }
    if (state.Library32)
        WriteBytes(folder + L"\\vnxext.dll", "x");
    if (state.Library64)
        WriteBytes(folder + L"\\vnxext64.dll", "x");
    // Setup makes the templates beside the program; the installer lists them.
    list += "vnxext.dll\r\nvnxext64.dll\r\nvnxnew.dat\r\nzipnew.dat\r\n";
    WriteBytes(folder + L"\\Uninstall.lst", list);

    // The administrator's log names each extension left with its owner.
    const std::wstring log = folder + L".log";
    {
        ChildProcess setup;
        if (!setup.Start(L"\"" + exe + L"\" /setup /S /noexplorer /init" + state.InitText +
                             L" \"/log=" + log + L"\"",
                         folder.c_str()))
            return {L"setup did not start"};
        const long code = setup.Wait(120000);
        const long expected = state.ChoiceTakenWhole() ? 0 : 6;
        if (code != expected)
            return {L"setup ended with " + std::to_wstring(code) + L", not " +
                    std::to_wstring(expected)};
    }
    const std::string logged = ReadBytes(log);
    DeleteFileW(log.c_str());
    for (const ExtensionState& extension : state.Extensions)
    {
        const size_t row = RowOf(extension.Extension);
        const bool kept = row < kAssociationRows && state.Chosen.Associate[row] &&
                          extension.LeftAlone;
        const std::string line = "kept by its owner: " + WideToUtf8(extension.Extension.c_str()) +
                                 " (";
        if (kept != (logged.find(line) != std::string::npos))
            problems.push_back(L"the log " + std::wstring(kept ? L"misses" : L"has") +
                               L" the owner kept for " + extension.Extension);
    }
    // A round trip through a setup that wrote nothing would prove nothing.
    if (RawString(HKEY_CLASSES_ROOT, L".rev", nullptr) != L"Velnox.REV")
        problems.push_back(L"setup did not write its classes");
    for (const ExtensionState& extension : state.Extensions)
        if (state.Taken(extension.Extension) &&
            RawString(HKEY_CLASSES_ROOT, extension.Extension.c_str(), nullptr)
                .compare(0, 6, L"Velnox"))
            problems.push_back(L"setup did not take " + extension.Extension);
    TakeOverAfterSetup(state, scopes, before);
    ChangeRecordsAfterSetup(state);

    {
        ChildProcess uninstall;
        if (!uninstall.Start(L"\"" + exe + L"\" /S", folder.c_str()))
            return {L"uninstall did not start"};
        const long code = uninstall.Wait(120000);
        if (code != 0)
            problems.push_back(L"uninstall ended with " + std::to_wstring(code));
    }
    // The batch file waits for the program before it deletes it and the
    // folder, then deletes itself.
    WaitForUninstallEnd(folder);
    for (const std::wstring& left : {folder, batch})
        if (Exists(left))
            problems.push_back(L"left on disk: " + left);
    for (const std::wstring& left : CleanupFolders())
        problems.push_back(L"left on disk: " + left);
    for (const std::wstring& left : LeftShortcuts())
        problems.push_back(left);
    return problems;
}

TEST(RoundTrip, ProgramSetupThenUninstallGivesEveryExtensionBack)
{
    ScratchDir scratch(L"roundtrip_program");
    const std::wstring batch = TempFolder() + L"Uninstall_Vnx.Bat";

    const std::vector<Scope> scopes = TouchedScopes();
    const std::vector<RegistrySnapshot> baseline = TakeSnapshots(scopes);
    // Other states than the in-process run's, from the same seed.
    const unsigned long seed = Seed(), count = EndToEndStates(), first = 1000000;
    const DWORD started = GetTickCount();
    unsigned long failed = 0;
    for (unsigned long index = first; index < first + count && failed < 3; ++index)
    {
        Generator generator(seed, index);
        RoundTripCase state = generator.Make(seed, index, 35);
        generator.TakeOver(state, 30);
        generator.ChangeRecords(state, 30);
        WriteEarlierState(state);
        // What the program's dialog will start from: defaults, then the init text.
        LoadIntegrationOptions(state.Chosen);
        ApplyInitString(state.InitText.c_str(), state.Chosen);
        std::vector<RegistrySnapshot> before = TakeSnapshotsBefore(scopes, baseline);

        std::vector<std::wstring> lines = RunOneState(state, scratch, batch, scopes, before);
        for (const std::wstring& line :
             UnexplainedDifferences(scopes, before, TakeSnapshots(scopes), &state))
            lines.push_back(line);
        if (!lines.empty())
        {
            ++failed;
            ADD_FAILURE() << state.Name() << "\n" << JoinLines(lines);
        }
        ClearGeneratedKeys();
    }
    std::printf("round trip through the program: %lu states, %lu ms\n%s\n", count,
                static_cast<unsigned long>(GetTickCount() - started),
                ExplainedCountsText().c_str());
}

} // namespace
