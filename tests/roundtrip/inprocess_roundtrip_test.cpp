// Setup's integration and its removal, called in this process for hundreds
// of random earlier states: every extension goes back to the program that had
// it, and nothing else is left but the known differences.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include "files/path_names.h"
#include "integration/apply_integration.h"
#include "integration/associations.h"
#include "integration/settings_dialog.h"
#include "integration/uninstall_entry.h"
#include "localization/messages.h"
#include "removal/integration_removal.h"
#include "roundtrip/roundtrip_case.h"
#include "run/run_state.h"
#include "settings/portable_settings.h"
#include "settings/settings_store.h"
#include "support/import_patch.h"

namespace
{

using namespace roundtrip;

// Around every test of this binary: the shell sandbox and the whole registry
// read before the first and after the last state.
class RoundTripEnvironment : public SetupEnvironment
{
public:
    RoundTripEnvironment() : SetupEnvironment(L"vnx_roundtrip_desktop") {}
    void SetUp() override
    {
        std::printf("round trip: seed %lu (VNX_ROUNDTRIP_SEED), %lu states in process, %lu end "
                    "to end (VNX_ROUNDTRIP_STATES)\n",
                    Seed(), InProcessStates(), EndToEndStates());
        SetupEnvironment::SetUp();
        // Another binary of the run may have left an integration in this
        // prefix; the states start from none.
        RemoveIntegration();
        RemoveUninstallEntry();
        ClearGeneratedKeys();
        Whole.Before();
    }
    void TearDown() override
    {
        ClearGeneratedKeys();
        Whole.After();
        SetupEnvironment::TearDown();
    }

private:
    WholeRegistryCheck Whole;
};
[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new RoundTripEnvironment);

// The program takes its own folder from GetModuleFileNameW; this binary's
// import of it answers with a scratch installation folder, so that the
// templates and shortcut targets are this prefix's own.
typedef DWORD(WINAPI* ModuleNameFn)(HMODULE, LPWSTR, DWORD);
ModuleNameFn realModuleName = nullptr;
std::wstring fakeProgram;

DWORD WINAPI ModuleNameInFolder(HMODULE module, LPWSTR buffer, DWORD size)
{
    if (module != nullptr)
        return realModuleName(module, buffer, size);
    const DWORD length = static_cast<DWORD>(fakeProgram.size());
    if (size == 0)
        return 0;
    const DWORD copied = length < size ? length : size - 1;
    fakeProgram.copy(buffer, copied);
    buffer[copied] = 0;
    if (copied < length)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return copied;
}

class InstalledHere
{
public:
    explicit InstalledHere(const ScratchDir& folder)
    {
        fakeProgram = folder / L"uninstall.exe";
        realModuleName = reinterpret_cast<ModuleNameFn>(SwapImport(
            "kernel32.dll", "GetModuleFileNameW", reinterpret_cast<void*>(&ModuleNameInFolder)));
    }
    ~InstalledHere()
    {
        if (realModuleName != nullptr)
            SwapImport("kernel32.dll", "GetModuleFileNameW",
                       reinterpret_cast<void*>(realModuleName));
    }
    bool Active() const { return realModuleName != nullptr; }
};

// Each association-change notice costs half a second under this emulator and
// changes nothing in the registry: counted here instead of sent. The
// end-to-end run sends them for real.
typedef void(WINAPI* NotifyFn)(LONG, UINT, LPCVOID, LPCVOID);
NotifyFn realNotify = nullptr;
unsigned long notices = 0;

void WINAPI CountNotice(LONG eventId, UINT, LPCVOID, LPCVOID)
{
    if (eventId == SHCNE_ASSOCCHANGED)
        ++notices;
}

class NoticesCounted
{
public:
    NoticesCounted()
    {
        realNotify = reinterpret_cast<NotifyFn>(
            SwapImport("shell32.dll", "SHChangeNotify", reinterpret_cast<void*>(&CountNotice)));
    }
    ~NoticesCounted()
    {
        if (realNotify != nullptr)
            SwapImport("shell32.dll", "SHChangeNotify", reinterpret_cast<void*>(realNotify));
    }
    bool Active() const { return realNotify != nullptr; }
};

void Touch(const std::wstring& path, bool present)
{
    if (present)
        WriteBytes(path, "");
    else
        DeleteFileW(path.c_str());
}

// What the setup dialog does on OK for the options the init text leaves;
// false when the choice was not applied whole.
bool RunSetup(const IntegrationOptions& chosen, bool stopBeforeAce)
{
    StoreIntegrationOptions(chosen);
    const bool applied = ApplyIntegration(chosen, RunState.ProgramGroupPath, kPathChars);
    WriteUninstallEntry();
    if (!stopBeforeAce)
        SetExtensionAssociation(kAceRow.Group, kAceRow, false, false);
    return applied;
}

// A row left with an owner that cannot be kept is stored as not chosen, and
// the setup says it did not apply the choice whole. Empty when so.
std::string StoredChoiceFault(const RoundTripCase& state, const IntegrationOptions& chosen,
                              bool applied)
{
    bool whole = true;
    std::string fault;
    for (size_t row = 0; row < kAssociationRows; ++row)
    {
        bool rowWhole = true;
        for (const ExtensionState& extension : state.Extensions)
            if (RowOf(extension.Extension) == row && extension.LeftAlone)
                rowWhole = false;
        wchar_t key[kExtensionGroupChars] = L"";
        OptionKeyOf(AssociationTable[row], key);
        const bool stored = GetUserInt(key, L"Set", 7) == 1;
        if (chosen.Associate[row] && stored != rowWhole)
            fault += " row " + std::to_string(row) + " stored " + (stored ? "1" : "0") + ";";
        whole = whole && (!chosen.Associate[row] || rowWhole);
    }
    if (applied != whole)
        fault += applied ? " setup said it applied all" : " setup said it did not apply all";
    return fault;
}

TEST(RoundTrip, InProcessSetupThenRemovalGivesEveryExtensionBack)
{
    ScratchDir folder(L"roundtrip_install");
    // Only the archiver: one link per group keeps the states with shortcuts short.
    for (const wchar_t* name : {L"uninstall.exe", L"Velnox.exe"})
        Touch(folder / name, true);
    InstalledHere installed(folder);
    ASSERT_TRUE(installed.Active());
    NoticesCounted counted;
    ASSERT_TRUE(counted.Active());
    RunState.MsiMode = false;
    RunState.Silent = true;

    const std::vector<Scope> scopes = TouchedScopes();
    const std::vector<RegistrySnapshot> baseline = TakeSnapshots(scopes);
    const unsigned long seed = Seed(), count = InProcessStates();
    const DWORD started = GetTickCount();
    unsigned long failed = 0, taken = 0;
    DWORD reading = 0, setting = 0, removing = 0;
    for (unsigned long index = 0; index < count && failed < 5; ++index)
    {
        Generator generator(seed, index);
        RoundTripCase state = generator.Make(seed, index, 3);
        generator.SetupAgain(state, 25);
        generator.TakeOver(state, 20);
        generator.ChangeRecords(state, 20);
        Touch(folder / L"vnxext.dll", state.Library32);
        Touch(folder / L"vnxext64.dll", state.Library64);
        WriteEarlierState(state);
        LoadIntegrationOptions(state.Chosen);
        ApplyInitString(state.InitText.c_str(), state.Chosen);
        generator.Recreate(state, 10);
        state.SecondChosen = state.Chosen;
        ApplyInitString(state.SecondInitText.c_str(), state.SecondChosen);
        DWORD mark = GetTickCount();
        std::vector<RegistrySnapshot> before = TakeSnapshotsBefore(scopes, baseline);
        reading += GetTickCount() - mark;

        mark = GetTickCount();
        notices = 0;
        // Not through a settings key planted as a link: setup replaces it.
        const bool aceLeft =
            state.AceLeftTaken && state.SettingsLinkTarget.empty() && LeaveAceTaken();
        bool applied = RunSetup(state.Chosen, aceLeft);
        if (!state.SecondInitText.empty())
            applied = RunSetup(state.SecondChosen, aceLeft);
        if (!state.Recreated.empty())
        {
            // Given back, made again by another program without a class, taken
            // again: the records of the first take-over are spent.
            IntegrationOptions cleared = state.Chosen;
            for (const std::wstring& extension : state.Recreated)
                cleared.Associate[RowOf(extension)] = false;
            RunSetup(cleared, aceLeft);
            WriteKeys(state.Recreations);
            for (size_t i = 0; i < scopes.size(); ++i)
                for (const std::wstring& extension : state.Recreated)
                    if (scopes[i].Generated && SameNoCase(scopes[i].Path, extension))
                        before[i] = TakeSnapshot(scopes[i]);
            applied = RunSetup(state.Chosen, aceLeft);
        }
        setting += GetTickCount() - mark;
        const unsigned long setupNotices = notices;
        SetRegistryView(0);
        const IntegrationOptions& lastChoice =
            state.SecondInitText.empty() ? state.Chosen : state.SecondChosen;
        const std::string choiceFault = StoredChoiceFault(state, lastChoice, applied);
        // A round trip through a setup that wrote nothing would prove nothing.
        bool setUp = RawString(HKEY_CLASSES_ROOT, L".rev", nullptr) == L"Velnox.REV";
        const IntegrationOptions& last =
            state.SecondInitText.empty() ? state.Chosen : state.SecondChosen;
        for (const ExtensionState& extension : state.Extensions)
            if (RowOf(extension.Extension) < kAssociationRows &&
                last.Associate[RowOf(extension.Extension)] && !extension.LeftAlone)
            {
                setUp = setUp && IsOwnAssociation(extension.Extension.c_str());
                ++taken;
            }
        TakeOverAfterSetup(state, scopes, before);
        ChangeRecordsAfterSetup(state);
        mark = GetTickCount();
        notices = 0;
        RemoveIntegration();
        RemoveUninstallEntry();
        SetRegistryView(0);
        removing += GetTickCount() - mark;
        // Explorer learns of the change both times, once each, after all the
        // changes.
        const unsigned long setups =
            state.SecondInitText.empty() ? (state.Recreated.empty() ? 1 : 3) : 2;
        setUp = setUp && setupNotices == setups && notices == 1 && choiceFault.empty();

        mark = GetTickCount();
        const std::vector<RegistrySnapshot> after = TakeSnapshots(scopes);
        std::vector<std::wstring> lines = UnexplainedDifferences(scopes, before, after, &state);
        reading += GetTickCount() - mark;
        for (const std::wstring& line : LeftShortcuts())
            lines.push_back(line);
        if (!setUp || !lines.empty())
        {
            ++failed;
            ADD_FAILURE() << state.Name()
                          << (setUp ? "" : ": setup did not take its extensions or tell once")
                          << choiceFault
                          << "\n"
                          << JoinLines(lines);
        }
        ClearKeysFound(scopes, after);
    }
    std::printf("round trip in process: %lu states, %lu extensions taken and given back, %lu ms "
                "(setup %lu, removal %lu, snapshots %lu)\n",
                count, taken, static_cast<unsigned long>(GetTickCount() - started),
                static_cast<unsigned long>(setting), static_cast<unsigned long>(removing),
                static_cast<unsigned long>(reading));
    std::printf("%s\n", ExplainedCountsText().c_str());
}

} // namespace
