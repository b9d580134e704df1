// The command line, the installer's "sfxcmd" and the "init" text, fuzzed
// in-process. "wait" and "warning" act while they are parsed: their sleep
// and message box are swapped for stand-ins that only check what they get.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "common/crc32.h"
#include "fuzz/fuzz_harness.h"
#include "integration/integration_options.h"
#include "integration/settings_dialog.h"
#include "localization/language_module.h"
#include "localization/messages.h"
#include "startup/command_line.h"
#include "support/import_patch.h"
#include "support/program_under_test.h"

namespace
{

const char kCommandLine[] = "commandline";
const char kInitText[] = "inittext";

int MessageBoxes = 0;
int Sleeps = 0;
size_t LongestBoxText = 0;

int WINAPI CountingMessageBox(HWND, LPCWSTR text, LPCWSTR caption, UINT)
{
    MessageBoxes++;
    const size_t length = std::wcslen(text) + std::wcslen(caption);
    if (length > LongestBoxText)
        LongestBoxText = std::wcslen(text);
    return IDOK;
}

void WINAPI CountingSleep(DWORD)
{
    Sleeps++;
}

// The parse acts on the real sleep and message box of this binary.
class StandIns
{
public:
    StandIns()
    {
        RealBox =
            SwapImport("user32.dll", "MessageBoxW", reinterpret_cast<void*>(&CountingMessageBox));
        RealSleep = SwapImport("kernel32.dll", "Sleep", reinterpret_cast<void*>(&CountingSleep));
        ResourceModule = ProgramModule = LoadProgramResources();
    }
    ~StandIns()
    {
        if (RealBox)
            SwapImport("user32.dll", "MessageBoxW", RealBox);
        if (RealSleep)
            SwapImport("kernel32.dll", "Sleep", RealSleep);
        if (ResourceModule)
            FreeLibrary(ResourceModule);
        ResourceModule = ProgramModule = nullptr;
        RunState = RunStateData();
    }
    bool Ready() const { return RealBox != nullptr && RealSleep != nullptr; }

private:
    void* RealBox = nullptr;
    void* RealSleep = nullptr;
};

uint32_t HashOf(const std::string& bytes)
{
    return Crc32(0xFFFFFFFF, bytes.data(), bytes.size());
}

// Side choices (buffer sizes) come from the input itself, so that a saved
// input replays exactly.
size_t PickCapacity(uint32_t hash)
{
    static const size_t kCapacities[] = {1, 2, 3, 5, 39, 40, 41, 511, 512, 1023, 1024, 1025};
    return kCapacities[hash % ARRAYSIZE(kCapacities)];
}

// Record: the count of "sfxcmd" units, those units, then the command line.
std::string PackOptions(const std::wstring& sfx, const std::wstring& line)
{
    const uint32_t count = static_cast<uint32_t>(sfx.size());
    std::string bytes(reinterpret_cast<const char*>(&count), sizeof(count));
    return bytes + TextToBytes(sfx) + TextToBytes(line);
}

bool UnpackOptions(const std::string& bytes, std::wstring& sfx, std::wstring& line)
{
    uint32_t count = 0;
    if (bytes.size() < sizeof(count))
        return false;
    std::memcpy(&count, bytes.data(), sizeof(count));
    const std::wstring all = BytesToText(bytes.substr(sizeof(count)));
    if (count > all.size())
        return false;
    sfx = all.substr(0, count);
    line = all.substr(count);
    return true;
}

struct Buffers
{
    GuardedBlock Text{1 << 20};
    GuardedBlock Token{8192};
    GuardedBlock Options{4096};
    GuardedBlock Warning{8192};
};

void CheckInitOptions(const char* parser, uint32_t index, const std::string& bytes)
{
    const size_t length = wcsnlen(RunState.InitOptions, kInitOptionChars);
    if (length >= kInitOptionChars)
    {
        ADD_FAILURE() << parser << " input " << index << ": init text not terminated";
        SaveFinding(parser, index, "init-unterminated", bytes);
    }
}

// Every token the command line holds, into a buffer of the picked capacity.
void RunTokens(Buffers& buffers, const std::wstring& line, size_t capacity, uint32_t index,
               const std::string& bytes)
{
    const wchar_t* text = PlaceText(buffers.Text, line);
    const wchar_t* end = text + line.size();
    wchar_t* token = PlaceBuffer(buffers.Token, capacity);
    int tokens = 0;
    for (const wchar_t* next = NextToken(text, token, capacity); next != nullptr;
         next = NextToken(next, token, capacity))
    {
        // Each call consumes something and stops inside the text.
        if (next <= text || next > end || wcsnlen(token, capacity) >= capacity || ++tokens > 100000)
        {
            ADD_FAILURE() << kCommandLine << " input " << index << ": token walk went wrong ("
                          << (next - text) << " of " << line.size() << ")";
            SaveFinding(kCommandLine, index, "token-walk", bytes);
            return;
        }
        text = next;
    }
}

// Start-up order: the installer's text first, then the command line.
void RunOptions(Buffers& buffers, const std::string& bytes, uint32_t index)
{
    std::wstring sfx;
    std::wstring line;
    if (!UnpackOptions(bytes, sfx, line))
        return;
    const uint32_t hash = HashOf(bytes);
    BeginInput(kCommandLine, index, bytes);
    RunState = RunStateData();
    bool setup = false;
    bool uninstall = false;
    ParseOptions(OptionSource::SfxCommand, PlaceText(buffers.Text, sfx), setup, uninstall);
    // The installer's text can only make the run silent.
    if (setup || uninstall || RunState.MsiMode || RunState.NoExplorer ||
        RunState.InitOptions[0] != 0)
    {
        ADD_FAILURE() << kCommandLine << " input " << index << ": sfxcmd did more than /S";
        SaveFinding(kCommandLine, index, "sfxcmd-acted", bytes);
    }
    ParseOptions(OptionSource::CommandLine, PlaceText(buffers.Text, line), setup, uninstall);
    if (setup && uninstall)
    {
        ADD_FAILURE() << kCommandLine << " input " << index << ": setup and uninstall both";
        SaveFinding(kCommandLine, index, "both-roads", bytes);
    }
    CheckInitOptions(kCommandLine, index, bytes);
    // The init text as the settings dialog applies it.
    IntegrationOptions* options =
        static_cast<IntegrationOptions*>(buffers.Options.Place(sizeof(IntegrationOptions)));
    *options = IntegrationOptions();
    ApplyInitString(RunState.InitOptions, *options);

    RunTokens(buffers, line, PickCapacity(hash), index, bytes);
    // The warning text, for a program path as long as the line.
    const size_t capacity = PickCapacity(hash >> 8);
    wchar_t* warning = PlaceBuffer(buffers.Warning, capacity);
    ComposeWarningText(PlaceText(buffers.Text, line), warning, capacity);
    if (wcsnlen(warning, capacity) >= capacity)
    {
        ADD_FAILURE() << kCommandLine << " input " << index << ": warning text not terminated";
        SaveFinding(kCommandLine, index, "warning-unterminated", bytes);
    }
    EndInput();
}

const std::vector<std::wstring>& OptionSeeds()
{
    static const std::vector<std::wstring> seeds = {
        L"",
        L"   \t ",
        L"\"C:\\Program Files\\Velnox\\uninstall.exe\"",
        L"\"C:\\Program Files\\Velnox\\uninstall.exe\" /S",
        L"uninstall.exe -s",
        L"uninstall.exe /S1 /Sx",
        L"\"C:\\Program Files\\Velnox\\uninstall.exe\" /setup /msi /noexplorer",
        L"uninstall.exe -SETUP /initA11111111111111111D1M0P1S1C0I1",
        L"uninstall.exe /setup /initA1101",
        L"uninstall.exe /wait",
        L"uninstall.exe /warning /setup",
        L"uninstall.exe /noexp /noe /set /foo",
        L"a\"\"b \"x y\" \"\"\"\" \"unterminated",
        L"Velnox-setup.exe /S /D=C:\\Velnox",
        L"uninstall.exe \"/init\"A1 \"/S\" -\"setup\"",
    };
    return seeds;
}

const std::vector<std::wstring>& OptionTokens()
{
    static const std::vector<std::wstring> tokens = {
        L" /S",    L" -s",    L" /setup", L" /msi",       L" /init",      L" /wait", L" /warning",
        L" /noex", L" /S1",   L" /Sx",    L"\"",          L"\"\"",        L" ",      L"\t",
        L"/",      L"-",      L" /initA", L"D1",          L"11111111111", L"%s",     L"%%",
        L"%n",     L"%d%s%s", L" /WARN",  L" -noexplorer"};
    return tokens;
}

const std::vector<size_t>& OptionLengths()
{
    static const std::vector<size_t> lengths = {5,   39,  40,   41,   44,   45,   511,
                                                512, 513, 1023, 1024, 1025, 2047, 2048};
    return lengths;
}

std::string MakeOptionsInput(Rng& rng)
{
    const MutationPlan plan = {&OptionSeeds(), &OptionTokens(), &OptionLengths()};
    std::wstring sfx = rng.OneIn(2) ? MutateText(rng, plan) : std::wstring();
    std::wstring line = MutateText(rng, plan);
    // Once in a while a single token right at a buffer's size.
    if (rng.OneIn(8))
    {
        const size_t length = OptionLengths()[rng.Below(uint32_t(OptionLengths().size()))];
        std::wstring token = rng.OneIn(2) ? L"/init" : L"/";
        token.resize(length, static_cast<wchar_t>(L'A' + rng.Below(26)));
        line += L" " + token;
    }
    return PackOptions(sfx, line);
}

// The init text as the settings dialog takes it, of any length.
void RunInitText(Buffers& buffers, const std::string& bytes, uint32_t index)
{
    const std::wstring text = BytesToText(bytes);
    BeginInput(kInitText, index, bytes);
    IntegrationOptions* options =
        static_cast<IntegrationOptions*>(buffers.Options.Place(sizeof(IntegrationOptions)));
    *options = IntegrationOptions();
    const uint32_t hash = HashOf(bytes);
    bool* flags = reinterpret_cast<bool*>(options);
    for (size_t i = 0; i < sizeof(IntegrationOptions); i++)
        flags[i] = ((hash >> (i % 32)) & 1) != 0;
    ApplyInitString(PlaceText(buffers.Text, text), *options);
    // Every flag stays a plain 0 or 1.
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(options);
    for (size_t i = 0; i < sizeof(IntegrationOptions); i++)
        if (raw[i] > 1)
        {
            ADD_FAILURE() << kInitText << " input " << index << ": flag " << i << " is "
                          << int(raw[i]);
            SaveFinding(kInitText, index, "flag-value", bytes);
            break;
        }
    EndInput();
}

std::string MakeInitInput(Rng& rng)
{
    static const std::vector<std::wstring> seeds = {L"A11111111111111111D1M0P1S1C0I1",
                                                    L"a11111111111111111d1m0p1s1c0i1",
                                                    L"A10",
                                                    L"A",
                                                    L"A11111111111111111111111",
                                                    L"S0C1I0",
                                                    L"X",
                                                    L"D",
                                                    L"A1A0A1",
                                                    L""};
    static const std::vector<std::wstring> tokens = {
        L"A",  L"a",  L"C1",         L"D1",     L"I0",     L"M1",
        L"P0", L"S1", L"1111111111", L"\u0131", L"\u00e1", L"\xD800"};
    static const std::vector<size_t> lengths = {1, 2, 20, 21, 22, 39, 40, 41, 1024};
    const MutationPlan plan = {&seeds, &tokens, &lengths};
    return TextToBytes(MutateText(rng, plan));
}

} // namespace

TEST(FuzzOptions, CommandLineAndSfxcmd)
{
    StandIns standIns;
    ASSERT_TRUE(standIns.Ready()) << "the sleep and message box of the parse could not be replaced";
    Buffers buffers;
    RunFuzz(kCommandLine, 0x636d64, MakeOptionsInput,
            [&](const std::string& bytes, uint32_t i) { RunOptions(buffers, bytes, i); });
    // The options that act while parsed were reached, and stayed in bounds.
    EXPECT_GT(Sleeps, 0);
    EXPECT_GT(MessageBoxes, 0);
    EXPECT_LT(LongestBoxText, 512u);
}

TEST(FuzzOptions, InitText)
{
    Buffers buffers;
    RunFuzz(kInitText, 0x696e6974, MakeInitInput,
            [&](const std::string& bytes, uint32_t i) { RunInitText(buffers, bytes, i); });
}

TEST(FuzzOptions, Regressions)
{
    StandIns standIns;
    ASSERT_TRUE(standIns.Ready());
    Buffers buffers;
    ReplayRegressions(kCommandLine,
                      [&](const std::string& bytes) { RunOptions(buffers, bytes, 0); });
    ReplayRegressions(kInitText, [&](const std::string& bytes) { RunInitText(buffers, bytes, 0); });
    EXPECT_LT(LongestBoxText, 512u);
}
