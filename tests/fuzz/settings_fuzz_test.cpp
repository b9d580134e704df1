// The settings file "Velnox.ini", fuzzed through the real loader and the
// store's reads, and written back and read again: what was read must survive
// the program's own write unchanged.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <tuple>
#include <vector>

#include "common/crc32.h"
#include "fuzz/fuzz_harness.h"
#include "settings/portable_settings.h"
#include "settings/settings_store.h"
#include "support/plain_files.h"
#include "support/program_under_test.h"

namespace
{

const char kSettingsFile[] = "settingsfile";
const uint32_t kRoundTripShare = 4;

typedef std::tuple<std::wstring, std::wstring, int> Entry;

// The image by name; entries of equal names keep their order, since the
// first of them is the one a read finds.
std::vector<Entry> ImageEntries()
{
    std::vector<Entry> entries;
    for (const PortableEntry* e = Portable.First; e; e = e->Next)
        entries.emplace_back(e->Name, e->Value, static_cast<int>(e->Kind));
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b)
                     { return std::get<0>(a) < std::get<0>(b); });
    return entries;
}

class SettingsTarget
{
public:
    SettingsTarget() : Scratch(L"fuzzini"), File(Scratch / L"Velnox.ini") {}
    ~SettingsTarget() { FreePortableSettings(); }
    bool AlwaysRoundTrip = false;

    void Run(const std::string& bytes, uint32_t index)
    {
        BeginInput(kSettingsFile, index, bytes);
        Index = index;
        Bytes = &bytes;
        if (!WriteBytes(File, bytes))
        {
            Fail("the input file could not be written");
            return;
        }
        FreePortableSettings();
        if (!LoadPortableSettingsFile(PlaceText(PathBlock, File)))
        {
            Fail("an existing file was not loaded");
            return;
        }
        const uint32_t hash = Crc32(0xFFFFFFFF, bytes.data(), bytes.size());
        ReadThroughStore(hash);
        // Writing back costs one write per fragment: a share of the inputs.
        if ((AlwaysRoundTrip || hash % kRoundTripShare == 0) && !::testing::Test::HasFailure())
            RoundTrip();
        FreePortableSettings();
        EndInput();
    }

private:
    void Fail(const char* what)
    {
        ADD_FAILURE() << kSettingsFile << " input " << Index << ": " << what << "; saved as "
                      << std::string(SaveFindingName(what));
        EndInput();
    }
    std::string SaveFindingName(const char* what)
    {
        std::string kind;
        for (const char* p = what; *p && kind.size() < 24; p++)
            kind += (*p >= 'a' && *p <= 'z') ? *p : '-';
        const std::wstring path = SaveFinding(kSettingsFile, Index, kind.c_str(), *Bytes);
        return std::string(path.begin(), path.end());
    }

    // The store's reads of what the file holds, into buffers that end at a
    // guard page, and the entry names the store composes from its parts.
    void ReadThroughStore(uint32_t hash)
    {
        static const size_t kCapacities[] = {1, 2, 80, 511, 512, 1023, 1024, 2047, 2048};
        int checked = 0;
        std::vector<std::wstring> names;
        for (const PortableEntry* e = Portable.First; e && names.size() < 12; e = e->Next)
            names.push_back(e->Name);
        for (const std::wstring& name : names)
        {
            // "HKCU\Setup\.zip\Type" -> root, subkey "Setup\.zip", value "Type".
            HKEY root = NoRoot;
            std::wstring rest = name;
            if (rest.compare(0, 5, L"HKCU\\") == 0)
                root = HKEY_CURRENT_USER, rest.erase(0, 5);
            else if (rest.compare(0, 5, L"HKLM\\") == 0)
                root = HKEY_LOCAL_MACHINE, rest.erase(0, 5);
            const size_t slash = rest.rfind(L'\\');
            const std::wstring subkey = slash == std::wstring::npos ? L"" : rest.substr(0, slash);
            const std::wstring value = slash == std::wstring::npos ? rest : rest.substr(slash + 1);
            if (!subkey.empty() && subkey[0] == L'\\')
                continue; // absolute keys go to the registry
            const size_t capacity = kCapacities[(hash + checked++) % ARRAYSIZE(kCapacities)];
            wchar_t* buffer = PlaceBuffer(ValueBlock, capacity);
            const wchar_t* subkeyText = PlaceText(SubkeyBlock, subkey);
            const wchar_t* valueText = PlaceText(NameBlock, value);
            GetString(root, subkeyText, valueText, buffer, L"", capacity);
            if (wcsnlen(buffer, capacity) >= capacity)
            {
                Fail("a string read was not terminated");
                return;
            }
            GetInt(root, subkeyText, valueText, 7);
            wchar_t(&composed)[EntryNameCapacity] =
                *reinterpret_cast<wchar_t(*)[EntryNameCapacity]>(
                    NameOutBlock.Place(sizeof(wchar_t) * EntryNameCapacity));
            const bool whole = ComposeEntryName(root, subkeyText, valueText, composed);
            if (wcsnlen(composed, EntryNameCapacity) >= EntryNameCapacity)
            {
                Fail("an entry name was not terminated");
                return;
            }
            // Composed from the parts of a name that fits, it fits too.
            if (!whole && name.size() < EntryNameCapacity)
            {
                Fail("an entry name that fits was reported cut");
                return;
            }
            AnyPortableValueUnder(root, subkeyText);
        }
    }

    // Written by the program and read again, the image is the same.
    void RoundTrip()
    {
        const std::vector<Entry> before = ImageEntries();
        const bool saveAllowed = Portable.SaveSettings;
        const std::string original = saveAllowed ? std::string() : ReadBytes(File);
        const bool saved = SavePortableSettings();
        if (saved != saveAllowed)
        {
            Fail(saveAllowed ? "the image was not written back"
                             : "written back against the switch");
            return;
        }
        if (!saveAllowed && ReadBytes(File) != original)
        {
            Fail("the file changed although saving is off");
            return;
        }
        FreePortableSettings();
        if (!LoadPortableSettingsFile(File.c_str()))
        {
            Fail("the written file could not be read");
            return;
        }
        if (saveAllowed && ImageEntries() != before)
            Fail("the image changed across a write and a read");
    }

    ScratchDir Scratch;
    std::wstring File;
    GuardedBlock PathBlock{8192};
    GuardedBlock ValueBlock{8192};
    GuardedBlock SubkeyBlock{1 << 20};
    GuardedBlock NameBlock{1 << 20};
    GuardedBlock NameOutBlock{8192};
    uint32_t Index = 0;
    const std::string* Bytes = nullptr;
};

const std::vector<std::wstring>& SettingsSeeds()
{
    static const std::vector<std::wstring> seeds = {
        // As the program writes it.
        L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"
        L"HKCU\\Setup\\.zip\\Set=1\r\nHKCU\\Setup\\.zip\\Exist=1\r\n"
        L"HKCU\\Setup\\.zip\\Type=\"WinThing.zip\"\r\nHKCU\\Setup\\.zip\\ShellNew=\"NullFile\"\r\n"
        L"HKCU\\Setup\\Links\\Desktop=0\r\nHKCU\\Setup\\MenuItems\\AlwaysArc=\"*.txt;*.doc\"\r\n"
        L"HKCU\\Setup\\ShellExt=1\r\nHKLM\\exe32=\"C:\\Program Files\\Velnox\\Velnox.exe\"\r\n",
        // By hand.
        L"; comment\r\n[section]\r\n  indented=1\r\nname=with=equals\r\nHKCU\\General\\Last=\"a "
        L"\"quoted\" "
        L"word  \"   \r\nHKCU\\Key\\Bin=bin:00ff10\r\nHKCU\\Key\\Plain=text with trailing   \r\n"
        L"HKCU\\Key\\Empty=\r\nHKCU\\Key\\Quote=\"\r\nnovalue\r\n=noname\r\n",
        // Duplicates and the switches.
        L"Global\\SaveSettings=0\r\nGlobal\\AppData=5\r\nGlobal\\AppData=0\r\nGlobal\\Integration="
        L"-1\r\nHKCU\\A\\B=1\r\nHKCU\\A\\B=2\r\nHKCU\\A\\B=\"3\"\r\n",
        L"Global\\Integration=0\nHKCU\\Setup\\.7z\\Set=4294967296\nHKCU\\Setup\\.7z\\Type=\"\"\n",
        L"HKCU\\Setup\\.gz\\Type=\"\u0428\u0435\u043b\u043b \u00e9\u00e8 \u4e2d\u6587\"\r\n"
        L"HKCU\\\u00e9\\x=1\r\n",
        L"",
        L"\r\n\r\n\t\r\n",
    };
    return seeds;
}

std::string MakeSettingsInput(Rng& rng)
{
    static const std::vector<std::wstring> tokens = {L"HKCU\\",
                                                     L"HKLM\\",
                                                     L"Global\\SaveSettings=",
                                                     L"Global\\Integration=0\r\n",
                                                     L"Global\\AppData=",
                                                     L"=",
                                                     L"\"",
                                                     L"bin:",
                                                     L"\\",
                                                     L"\\\\",
                                                     L"\r\n",
                                                     L"\n",
                                                     L"\r",
                                                     L"Setup\\.zip\\",
                                                     L"=\"\"",
                                                     L" ",
                                                     L"\t",
                                                     L"-",
                                                     L"99999999999999999999",
                                                     L"\u0000"};
    static const std::vector<size_t> lengths = {80,   255,  256,  511,  512,  1023,
                                                1024, 1029, 2047, 2048, 4095, 4096};
    static const std::vector<size_t> fileLengths = {2, 3, 4, 4095, 4096, 4097, 8191, 8192, 8193};
    const MutationPlan plan = {&SettingsSeeds(), &tokens, &lengths};
    std::wstring text = MutateText(rng, plan);
    // Now and then a large file of many short lines.
    if (rng.OneIn(400))
    {
        const std::wstring line = L"HKCU\\K\\v" + std::to_wstring(rng.Below(10)) + L"=1\r\n";
        const uint32_t times = 2000 + rng.Below(20000);
        for (uint32_t i = 0; i < times; i++)
            text += line;
    }
    std::string bytes =
        EncodeText(text, static_cast<FileEncoding>(rng.Below(uint32_t(FileEncoding::Count))));
    MutateBytes(rng, bytes, fileLengths);
    return bytes;
}

} // namespace

TEST(FuzzSettingsFile, LoadReadWriteBack)
{
    SettingsTarget target;
    RunFuzz(kSettingsFile, 0x696e69, MakeSettingsInput,
            [&](const std::string& bytes, uint32_t i) { target.Run(bytes, i); });
}

TEST(FuzzSettingsFile, Regressions)
{
    SettingsTarget target;
    target.AlwaysRoundTrip = true;
    ReplayRegressions(kSettingsFile, [&](const std::string& bytes) { target.Run(bytes, 0); });
}
