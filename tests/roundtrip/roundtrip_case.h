#pragma once
// The round trip: a random earlier state of the archive extensions, setup,
// uninstall, and the registry compared with what it was. Shared by the
// in-process and the end-to-end runs.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "integration/integration_fixture.h"
#include "integration/integration_options.h"
#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"
#include "support/registry_snapshot.h"
#include "support/shell_sandbox.h"

namespace roundtrip
{

// ---------------------------------------------------------------------------
// How many states, from which seed

inline unsigned long EnvNumber(const char* name, unsigned long fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0)
        return fallback;
    return std::strtoul(text, nullptr, 0);
}

const unsigned long kDefaultSeed = 20261208;

// VNX_ROUNDTRIP_SEED picks other states; VNX_ROUNDTRIP_STATES runs more (the
// end-to-end run takes one in twenty of them, at least its own minimum).
inline unsigned long Seed()
{
    return EnvNumber("VNX_ROUNDTRIP_SEED", kDefaultSeed);
}
inline unsigned long InProcessStates()
{
    return EnvNumber("VNX_ROUNDTRIP_STATES", 200);
}
inline unsigned long EndToEndStates()
{
    const unsigned long scaled = InProcessStates() / 20;
    return scaled > 10 ? scaled : 10;
}

// ---------------------------------------------------------------------------
// The earlier state

// Every extension setup may take, and the two it handles on its own.
inline std::vector<std::wstring> GeneratedExtensions()
{
    std::vector<std::wstring> all = TableExtensions();
    all.push_back(L".ace");
    all.push_back(L".rev");
    return all;
}

inline size_t RowOf(const std::wstring& extension)
{
    for (size_t row = 0; row < kAssociationRows; ++row)
    {
        ExtensionList list;
        SplitExtensionGroup(AssociationTable[row].Group, list);
        for (size_t i = 0; i < list.Count; ++i)
            if (lstrcmpiW(list.Items[i], extension.c_str()) == 0)
                return row;
    }
    return kAssociationRows;
}

struct ExtensionState
{
    std::wstring Extension;
    bool Exists = false;
    bool HasDefault = false;
    // Its class or new-file entry cannot be saved whole and in its type
    // (another type, too long, a NUL inside): setup leaves it alone.
    bool LeftAlone = false;
};

struct Write
{
    HKEY Root = HKEY_CLASSES_ROOT;
    std::wstring Key;
    bool KeyOnly = false;
    std::wstring Name;
    DWORD Type = REG_SZ;
    std::vector<BYTE> Data;
};

struct RoundTripCase
{
    unsigned long Seed = 0;
    unsigned long Index = 0;
    std::wstring InitText; // what follows "/init"
    IntegrationOptions Chosen = {};
    // An earlier setup run again with other choices before the uninstall;
    // empty when setup runs once.
    std::wstring SecondInitText;
    IntegrationOptions SecondChosen = {};
    bool Library32 = false; // "vnxext.dll" in the installation folder
    bool Library64 = false; // "vnxext64.dll"
    std::vector<ExtensionState> Extensions;
    std::vector<Write> Writes;
    // Another program takes these keys between setup and uninstall.
    std::vector<std::wstring> TakenOverKeys;
    std::vector<Write> TakeOvers;
    // Between setup and uninstall: records rewritten by another program of
    // the user, or those of an earlier installation, without machine copies.
    std::vector<Write> RecordWrites;
    bool LegacyRecords = false;
    // Setup stopped before it gave ".ace" back, which an older version took.
    bool AceLeftTaken = false;
    // Extensions without a key, taken by a first setup and given back by a
    // second; then another program makes their keys with values but no
    // class, and the last setup takes them again.
    std::vector<std::wstring> Recreated;
    std::vector<Write> Recreations;
    // Deep and long keys found below "Software\Velnox" (paths below it).
    std::vector<std::wstring> SettingsKeys;
    // "Software\Velnox" found as a registry link to this class key.
    std::wstring SettingsLinkTarget;

    std::string Name() const
    {
        return "seed " + std::to_string(Seed) + " state " + std::to_string(Index) + " /init" +
               WideToUtf8(InitText) +
               (SecondInitText.empty() ? "" : ", again /init" + WideToUtf8(SecondInitText));
    }
    const ExtensionState* Find(const std::wstring& extension) const
    {
        for (const ExtensionState& state : Extensions)
            if (lstrcmpiW(state.Extension.c_str(), extension.c_str()) == 0)
                return &state;
        return nullptr;
    }
    bool LeftAlone(const std::wstring& extension) const
    {
        const ExtensionState* state = Find(extension);
        return state != nullptr && state->LeftAlone;
    }
    bool TookOver(const std::wstring& key) const
    {
        for (const std::wstring& taken : TakenOverKeys)
            if (lstrcmpiW(taken.c_str(), key.c_str()) == 0)
                return true;
        return false;
    }
    // Whether setup took the extension (its row was chosen).
    bool Taken(const std::wstring& extension) const
    {
        const size_t row = RowOf(extension);
        return row < kAssociationRows && !LeftAlone(extension) &&
               (Chosen.Associate[row] || (!SecondInitText.empty() && SecondChosen.Associate[row]));
    }
    // Whether the first setup can take every extension of its chosen rows;
    // one that cannot says so in its exit code (6).
    bool ChoiceTakenWhole() const
    {
        for (const ExtensionState& extension : Extensions)
        {
            const size_t row = RowOf(extension.Extension);
            if (row < kAssociationRows && Chosen.Associate[row] && extension.LeftAlone)
                return false;
        }
        return true;
    }
    // Whether a setup took the extension with the shell extension on.
    bool TakenWithShellExt(const std::wstring& extension) const
    {
        const size_t row = RowOf(extension);
        return row < kAssociationRows && !LeftAlone(extension) &&
               ((Chosen.Associate[row] && Chosen.ShellExt) ||
                (!SecondInitText.empty() && SecondChosen.Associate[row] && SecondChosen.ShellExt));
    }
};

class Generator
{
public:
    Generator(unsigned long seed, unsigned long index)
        : Random(static_cast<std::mt19937::result_type>(seed * 1000003UL + index * 7919UL + 1))
    {
    }
    // Shortcuts cost the most time of all: asked for in shortcutPercent of
    // the states.
    RoundTripCase Make(unsigned long seed, unsigned long index, unsigned shortcutPercent);
    // In percent of the states, a second setup with other choices.
    void SetupAgain(RoundTripCase& state, unsigned percent);
    // In percent of the states, another program takes some of ".vnx", ".zip",
    // ".rev" and a volume extension after setup.
    void TakeOver(RoundTripCase& state, unsigned percent);
    // In percent of the states, the records change between setup and
    // uninstall; in half of those setup also stops before ".ace".
    void ChangeRecords(RoundTripCase& state, unsigned percent);
    // In percent of the states, keys given back and made again by another
    // program before the last setup (after the choices are read).
    void Recreate(RoundTripCase& state, unsigned percent);

private:
    unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(Random); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    std::wstring Text(size_t length);
    std::wstring Choices(unsigned shortcutPercent);
    std::wstring Length511OrLess();
    void Value(RoundTripCase& state, const std::wstring& key, const std::wstring& name,
               const std::wstring& text, DWORD type = REG_SZ);
    void Bytes(RoundTripCase& state, const std::wstring& key, const std::wstring& name, DWORD type,
               const std::vector<BYTE>& data);
    void Key(RoundTripCase& state, const std::wstring& key);
    void Extension(RoundTripCase& state, const std::wstring& extension);
    bool HostileDefault(RoundTripCase& state, const std::wstring& extension);
    bool HostileShellNew(RoundTripCase& state, const std::wstring& shellNew);
    void SettingsKey(RoundTripCase& state);
    std::mt19937 Random;
};

// Names of other programs: plain, accented, Greek, Cyrillic, CJK, and
// characters outside the basic plane.
inline std::wstring Generator::Text(size_t length)
{
    std::wstring text;
    while (text.size() < length)
    {
        switch (Below(8))
        {
        case 0:
        case 1:
        case 2:
            text += static_cast<wchar_t>(L'a' + Below(26));
            break;
        case 3:
            text += L"._- 0123456789"[Below(14)];
            break;
        case 4:
            text += static_cast<wchar_t>(0xC0 + Below(0x40));
            break;
        case 5:
            text += static_cast<wchar_t>(Chance(50) ? 0x3B1 + Below(24) : 0x430 + Below(32));
            break;
        case 6:
            text += static_cast<wchar_t>(0x4E00 + Below(0x5000));
            break;
        default:
            if (text.size() + 2 <= length)
            {
                text += static_cast<wchar_t>(0xD83C + Below(2));
                text += static_cast<wchar_t>(0xDC00 + Below(0x400));
            }
            else
                text += L'z';
        }
    }
    if (!text.empty() && text[0] == L' ')
        text[0] = L'x';
    return text;
}

inline std::wstring Generator::Length511OrLess()
{
    switch (Below(6))
    {
    case 0:
        return Text(511);
    case 1:
        return Text(78 + Below(4)); // around the 80-character reads
    case 2:
        return Text(100 + Below(412));
    default:
        return Text(1 + Below(24));
    }
}

inline void Generator::Bytes(RoundTripCase& state, const std::wstring& key,
                             const std::wstring& name, DWORD type, const std::vector<BYTE>& data)
{
    Write write;
    write.Key = key;
    write.Name = name;
    write.Type = type;
    write.Data = data;
    state.Writes.push_back(write);
}

inline void Generator::Value(RoundTripCase& state, const std::wstring& key,
                             const std::wstring& name, const std::wstring& text, DWORD type)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    Bytes(state, key, name, type,
          std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

inline void Generator::Key(RoundTripCase& state, const std::wstring& key)
{
    Write write;
    write.Key = key;
    write.KeyOnly = true;
    state.Writes.push_back(write);
}

inline void Generator::Extension(RoundTripCase& state, const std::wstring& extension)
{
    ExtensionState entry;
    entry.Extension = extension;
    const unsigned kind = Below(10);
    if (kind < 3)
    {
        state.Extensions.push_back(entry); // no key at all
        return;
    }
    entry.Exists = true;
    entry.HasDefault = kind >= 5;
    Key(state, extension);
    if (kind == 5)
        Value(state, extension, L"", L""); // present but empty
    else if (kind > 5 && extension != L".rev" && Chance(25))
        entry.LeftAlone = HostileDefault(state, extension);
    else if (kind > 5)
        Value(state, extension, L"", Length511OrLess());

    const std::wstring shellNew = extension + L"\\ShellNew";
    if (extension != L".rev" && Chance(15))
        entry.LeftAlone = HostileShellNew(state, shellNew) || entry.LeftAlone;
    else if (Chance(40))
    {
        switch (Below(7))
        {
        case 0:
            Value(state, shellNew, L"FileName", L"C:\\Templates\\" + Text(1 + Below(60)));
            break;
        case 6:
            // An empty name, saved as empty and kept where it stands.
            Value(state, shellNew, L"FileName", L"");
            if (Chance(30))
                Value(state, shellNew, L"NullFile", L"");
            break;
        case 1:
            Value(state, shellNew, L"NullFile", L"");
            break;
        case 2:
            Value(state, shellNew, L"FileName", Text(1 + Below(40)) + L".dat");
            Value(state, shellNew, L"NullFile", L"");
            break;
        case 3:
            Value(state, shellNew, L"Command", L"\"C:\\Tools\\" + Text(8) + L".exe\" new",
                  REG_EXPAND_SZ);
            Bytes(state, shellNew, L"Data", REG_BINARY, {0x50, 0x4b, 0x05, 0x06, 0, 0});
            break;
        case 4:
            Value(state, shellNew, L"FileName", Text(1 + Below(30)));
            Value(state, shellNew, L"ItemName", L"@" + Text(10) + L",-1", REG_EXPAND_SZ);
            break;
        default:
            Key(state, shellNew);
        }
    }
    if (Chance(50))
        Value(state, extension, L"Content Type", L"application/x-" + Text(1 + Below(20)));
    if (Chance(40))
        Value(state, extension, L"PerceivedType", L"compressed");
    if (Chance(30))
    {
        const DWORD number = static_cast<DWORD>(Random());
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
        Bytes(state, extension, Text(1 + Below(12)), REG_DWORD,
              std::vector<BYTE>(bytes, bytes + 4));
    }
    if (Chance(40))
        Bytes(state, extension + L"\\OpenWithProgids", Text(1 + Below(40)), REG_NONE, {});
    if (Chance(25))
        Key(state, extension + L"\\OpenWithList\\" + Text(1 + Below(12)) + L".exe");
    if (Chance(20))
        Value(state, extension + L"\\PersistentHandler", L"",
              L"{098f2470-bae0-11cd-b579-08002b30bfeb}");
    state.Extensions.push_back(entry);
}

// A previous owner's class of another type or around the read buffer's
// length; true when setup cannot save it whole and in its type.
inline bool Generator::HostileDefault(RoundTripCase& state, const std::wstring& extension)
{
    const std::wstring text = Text(1 + Below(30));
    switch (Below(9))
    {
    case 0:
    {
        const DWORD number = 0x00410042; // "BA" when read as text
        Bytes(state, extension, L"", REG_DWORD,
              {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)});
        return true;
    }
    case 1:
        Value(state, extension, L"", text + L'\0' + Text(5) + L'\0', REG_MULTI_SZ);
        return true;
    case 2:
        Bytes(state, extension, L"", Chance(50) ? REG_BINARY : REG_NONE, {0x42, 0x00, 0x41});
        return true;
    case 3:
        Value(state, extension, L"", L"%SystemRoot%\\" + Length511OrLess().substr(0, 497),
              REG_EXPAND_SZ);
        return false;
    case 4:
        Value(state, extension, L"", Text(512 + Below(3500))); // past the 512 of "Type"
        return true;
    case 5:
    {
        // Whole without its terminator: 511 fits, 512 does not.
        const std::wstring cut = Text(511 + Below(2));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(cut.c_str());
        Bytes(state, extension, L"", REG_SZ,
              std::vector<BYTE>(bytes, bytes + cut.size() * sizeof(wchar_t)));
        return cut.size() > 511;
    }
    case 6:
        Value(state, extension, L"", text + L'\0' + Text(4)); // a NUL inside
        return true;
    case 7:
    {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        Bytes(state, extension, L"", REG_SZ, // half a character at the end
              std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t) - 1));
        return true;
    }
    default:
        Bytes(state, extension, L"", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
        return true;
    }
}

// A previous owner's new-file entry of another type or around the 2048 of
// the read; true when setup cannot save it whole and in its type.
inline bool Generator::HostileShellNew(RoundTripCase& state, const std::wstring& shellNew)
{
    switch (Below(5))
    {
    case 0:
        Value(state, shellNew, L"FileName", L"%USERPROFILE%\\Templates\\" + Text(1 + Below(30)),
              REG_EXPAND_SZ);
        return false;
    case 1:
    {
        const size_t length = 2047 + Below(2);
        Value(state, shellNew, L"FileName", L"C:\\" + Text(length - 3));
        return length > 2047;
    }
    case 2:
        Bytes(state, shellNew, L"FileName", REG_DWORD, {1, 0, 0, 0});
        return true;
    case 3:
        Value(state, shellNew, L"FileName", L"*" + Text(1 + Below(20)));
        return true;
    default:
        // Only its presence counts.
        Bytes(state, shellNew, L"NullFile", Chance(50) ? REG_BINARY : REG_DWORD, {1, 0, 0, 0});
        return false;
    }
}

inline RoundTripCase Generator::Make(unsigned long seed, unsigned long index,
                                     unsigned shortcutPercent)
{
    RoundTripCase state;
    state.Seed = seed;
    state.Index = index;
    for (const std::wstring& extension : GeneratedExtensions())
        Extension(state, extension);

    state.InitText = Choices(shortcutPercent);
    state.Library32 = Chance(70);
    state.Library64 = Chance(70);
    SettingsKey(state);
    return state;
}

// Keys near the registry's limits, or a link, where the settings key lies.
inline void Generator::SettingsKey(RoundTripCase& state)
{
    const unsigned kind = Below(100);
    if (kind < 10)
    {
        // Any extension setup may take, not the two it handles on its own.
        const std::vector<std::wstring> extensions = GeneratedExtensions();
        state.SettingsLinkTarget = extensions[Below(unsigned(extensions.size() - 2))];
        return;
    }
    for (unsigned count = kind < 35 ? 1 + Below(3) : 0; count > 0; --count)
    {
        // Counted with "Software\Velnox\": whole paths of 255, 510, 511 and
        // 512 characters with a subkey below, names of 200 to 255.
        const std::wstring top = Text(199);
        switch (Below(5))
        {
        case 0:
            state.SettingsKeys.push_back(Text(239) + L"\\c");
            break;
        case 1:
        case 2:
        case 3:
            state.SettingsKeys.push_back(top + L"\\" + Text(199) + L"\\" + Text(93 + Below(4)) +
                                         L"\\" + Text(1 + Below(3)));
            break;
        default:
            state.SettingsKeys.push_back(Text(200 + Below(56)) + L"\\" + Text(200 + Below(56)));
        }
    }
}

inline std::wstring Generator::Choices(unsigned shortcutPercent)
{
    // Some states take everything or nothing; most a random mix.
    const unsigned mix = Below(10);
    std::wstring text = L"A";
    for (size_t flag = 0; flag < kAssociateFlags; ++flag)
        text += (mix == 0 || (mix > 1 && Chance(60))) ? L'1' : L'0';
    const wchar_t letters[] = L"DMPSCI";
    for (const wchar_t* letter = letters; *letter; ++letter)
    {
        const bool shortcut = *letter == L'D' || *letter == L'M' || *letter == L'P';
        const unsigned percent = shortcut ? shortcutPercent : *letter == L'C' ? 35 : 70;
        text += *letter;
        text += Chance(percent) ? L'1' : L'0';
    }
    return text;
}

inline void Generator::SetupAgain(RoundTripCase& state, unsigned percent)
{
    if (Chance(percent))
        state.SecondInitText = Choices(0);
}

inline void Generator::TakeOver(RoundTripCase& state, unsigned percent)
{
    if (!Chance(percent))
        return;
    const std::wstring volume = L".v" + std::to_wstring(10 + Below(20));
    for (const std::wstring& key :
         {std::wstring(L".vnx"), std::wstring(L".zip"), std::wstring(L".rev"), volume})
        if (Chance(50))
        {
            state.TakenOverKeys.push_back(key);
            Write write;
            write.Key = key;
            const std::wstring owner = L"Other." + Text(1 + Below(20));
            const BYTE* bytes = reinterpret_cast<const BYTE*>(owner.c_str());
            write.Data.assign(bytes, bytes + (owner.size() + 1) * sizeof(wchar_t));
            state.TakeOvers.push_back(write);
            write.Name = L"Content Type";
            state.TakeOvers.push_back(write);
        }
}

inline void Generator::ChangeRecords(RoundTripCase& state, unsigned percent)
{
    if (!Chance(percent))
        return;
    state.AceLeftTaken = Chance(50);
    if (Chance(50))
    {
        state.LegacyRecords = true;
        return;
    }
    // Nothing of these may become every user's.
    const std::vector<std::wstring> extensions = TableExtensions();
    for (unsigned count = 1 + Below(4); count > 0; --count)
    {
        Write write;
        write.Root = HKEY_CURRENT_USER;
        write.Key = L"Software\\Velnox\\Setup\\" + extensions[Below(unsigned(extensions.size()))];
        const std::wstring text = Chance(50) ? L"exefile" : L"\\\\server\\share\\" + Text(8);
        write.Name = text[0] == L'e' ? L"Type" : L"ShellNew";
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        write.Data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
        state.RecordWrites.push_back(write);
    }
}

inline void Generator::Recreate(RoundTripCase& state, unsigned percent)
{
    if (!Chance(percent) || !state.SecondInitText.empty())
        return;
    for (ExtensionState& extension : state.Extensions)
    {
        const size_t row = RowOf(extension.Extension);
        // The own format and ZIP bring volumes and templates of their own.
        if (row < 2 || row >= kAssociationRows || extension.Exists ||
            lstrcmpiW(extension.Extension.c_str(), state.SettingsLinkTarget.c_str()) == 0 ||
            !Chance(30))
            continue;
        state.Chosen.Associate[row] = true;
        state.Recreated.push_back(extension.Extension);
        Write write;
        write.Key = extension.Extension;
        write.Name = L"Content Type";
        const std::wstring type = L"application/x-" + Text(1 + Below(12));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(type.c_str());
        write.Data.assign(bytes, bytes + (type.size() + 1) * sizeof(wchar_t));
        state.Recreations.push_back(write);
        write.Name = L"PerceivedType";
        const std::wstring perceived = L"compressed";
        bytes = reinterpret_cast<const BYTE*>(perceived.c_str());
        write.Data.assign(bytes, bytes + (perceived.size() + 1) * sizeof(wchar_t));
        state.Recreations.push_back(write);
        // From now on the key is there, without a class.
        extension.Exists = true;
        extension.HasDefault = false;
    }
}

inline void WriteKeys(const std::vector<Write>& writes)
{
    for (const Write& write : writes)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(write.Root, write.Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
        {
            ADD_FAILURE() << "cannot make " << WideToUtf8(write.Key);
            continue;
        }
        if (!write.KeyOnly)
            RegSetValueExW(key, write.Name.c_str(), 0, write.Type,
                           write.Data.empty() ? nullptr : write.Data.data(),
                           static_cast<DWORD>(write.Data.size()));
        RegCloseKey(key);
    }
}

inline void WriteEarlierState(const RoundTripCase& state)
{
    WriteKeys(state.Writes);
    for (const std::wstring& key : state.SettingsKeys)
        if (!RawMakeKey(HKEY_CURRENT_USER, L"Software\\Velnox\\" + key))
            ADD_FAILURE() << "cannot make " << WideToUtf8(key);
    if (!state.SettingsLinkTarget.empty() &&
        !MakeRegistryLink(HKEY_CURRENT_USER, L"Software\\Velnox",
                          L"\\REGISTRY\\MACHINE\\Software\\Classes\\" + state.SettingsLinkTarget))
        ADD_FAILURE() << "cannot make the settings key a link";
}

// Back to the baseline between states: the generated keys and what the
// program may have left in them.
inline void ClearGeneratedKeys()
{
    for (const std::wstring& extension : GeneratedExtensions())
        RemoveRegistryTree(HKEY_CLASSES_ROOT, extension);
    for (unsigned number = 0; number < 100; ++number)
        RemoveRegistryTree(HKEY_CLASSES_ROOT, VolumeExtension(number));
    for (const wchar_t* key : {L"Velnox", L"Velnox.ZIP", L"Velnox.REV"})
        RemoveRegistryTree(HKEY_CLASSES_ROOT, key);
    RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
}

// ---------------------------------------------------------------------------
// What is compared

enum class Area
{
    Classes, // HKEY_CLASSES_ROOT, and "Classes" below either "Software"
    Machine, // HKEY_LOCAL_MACHINE\Software outside "Classes"
    User,    // HKEY_CURRENT_USER\Software outside "Classes"
};

struct Scope
{
    HKEY Root;
    const wchar_t* Path; // null: the root itself
    REGSAM View;
    Area Where;
    const wchar_t* Label;
    bool Generated = false;               // holds a generated earlier state
    const wchar_t* const* Skip = nullptr; // subkeys right below read by another scope
};

// The whole set: HKCR and HKLM\Software in both views, HKCU\Software.
inline std::vector<Scope> WholeScopes()
{
    // Each key is read once: the classes through HKCR, the 32-bit view
    // through itself rather than as "Wow6432Node" of the 64-bit one.
    static const wchar_t* const kNotClasses[] = {L"Classes", nullptr};
    static const wchar_t* const kNeither[] = {L"Classes", L"Wow6432Node", nullptr};
    static const wchar_t* const kNot32[] = {L"Wow6432Node", nullptr};
    std::vector<Scope> scopes = {
        {HKEY_CLASSES_ROOT, nullptr, 0, Area::Classes, L"HKCR"},
        {HKEY_LOCAL_MACHINE, L"Software", 0, Area::Machine, L"HKLM", false, kNotClasses},
        {HKEY_CURRENT_USER, L"Software", 0, Area::User, L"HKCU"}};
    if (IsWin64Prefix())
    {
        scopes.push_back({HKEY_CLASSES_ROOT, nullptr, KEY_WOW64_64KEY, Area::Classes, L"HKCR(64)",
                          false, kNot32});
        scopes.push_back({HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_64KEY, Area::Machine,
                          L"HKLM(64)", false, kNeither});
    }
    return scopes;
}

// The parts of the same set that setup, uninstall and the generator reach:
// read before and after every state. Whatever else changed shows in the whole
// set, which is read before the first and after the last state.
inline std::vector<Scope> TouchedScopes()
{
    static const wchar_t* const kClassKeys[] = {L"Velnox",
                                                L"Velnox.ZIP",
                                                L"Velnox.REV",
                                                L"CLSID\\{6F2C1A40-5A17-4E59-A1C8-2B9E7D04F513}",
                                                L"CLSID\\{6F2C1A40-3D7B-4E59-A1C8-2B9E7D04F513}",
                                                L"*\\shellex",
                                                L"Folder\\shellex",
                                                L"Drive\\shellex",
                                                L"lnkfile\\shellex",
                                                L"exefile\\shellex",
                                                L"Directory\\shellex"};
    static const wchar_t* const kMachineKeys[] = {
        L"Software\\Velnox", L"Software\\RegisteredApplications",
        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions"};
    static std::vector<std::wstring> names;
    const size_t generated = GeneratedExtensions().size();
    if (names.empty())
    {
        for (const std::wstring& extension : GeneratedExtensions())
            names.push_back(extension);
        for (unsigned number = 0; number < 100; ++number)
            names.push_back(VolumeExtension(number));
    }
    std::vector<REGSAM> views = {0};
    if (IsWin64Prefix())
        views.push_back(KEY_WOW64_64KEY);
    std::vector<Scope> scopes;
    // The extensions are not kept apart by view: one reading serves both,
    // and the whole set around all states reads both.
    for (size_t i = 0; i < names.size(); ++i)
        scopes.push_back(
            {HKEY_CLASSES_ROOT, names[i].c_str(), 0, Area::Classes, L"HKCR", i < generated});
    for (REGSAM view : views)
    {
        const wchar_t* classes = view ? L"HKCR(64)" : L"HKCR";
        for (const wchar_t* key : kClassKeys)
            scopes.push_back({HKEY_CLASSES_ROOT, key, view, Area::Classes, classes});
        for (const wchar_t* key : kMachineKeys)
            scopes.push_back(
                {HKEY_LOCAL_MACHINE, key, view, Area::Machine, view ? L"HKLM(64)" : L"HKLM"});
    }
    // The rest of HKCU\Software costs a tenth of a second to read.
    scopes.push_back({HKEY_CURRENT_USER, L"Software\\Velnox", 0, Area::User, L"HKCU"});
    scopes.push_back({HKEY_CURRENT_USER, L"Software\\Classes", 0, Area::User, L"HKCU"});
    return scopes;
}

inline RegistrySnapshot TakeSnapshot(const Scope& scope)
{
    std::wstring label = scope.Label;
    if (scope.Path != nullptr)
        label += std::wstring(L"\\") + scope.Path;
    return TakeRegistrySnapshot(scope.Root, scope.Path, scope.View, label.c_str(), scope.Skip);
}

inline std::vector<RegistrySnapshot> TakeSnapshots(const std::vector<Scope>& scopes)
{
    std::vector<RegistrySnapshot> snapshots;
    for (const Scope& scope : scopes)
        snapshots.push_back(TakeSnapshot(scope));
    return snapshots;
}

// Before a state: what lies outside the generated keys is as it was before
// the first state, since every state ends back there.
inline std::vector<RegistrySnapshot>
TakeSnapshotsBefore(const std::vector<Scope>& scopes, const std::vector<RegistrySnapshot>& baseline)
{
    std::vector<RegistrySnapshot> snapshots = baseline;
    for (size_t i = 0; i < scopes.size(); ++i)
        if (scopes[i].Generated)
            snapshots[i] = TakeSnapshot(scopes[i]);
    return snapshots;
}

// Back to the baseline after a state, deleting only the keys the reading
// after it found: the same as ClearGeneratedKeys, in a fraction of the calls.
inline void ClearKeysFound(const std::vector<Scope>& scopes,
                           const std::vector<RegistrySnapshot>& after)
{
    for (size_t i = 0; i < scopes.size(); ++i)
    {
        const Scope& scope = scopes[i];
        if (scope.Root != HKEY_CLASSES_ROOT || scope.View != 0 || scope.Path == nullptr ||
            !after[i].Exists)
            continue;
        const std::wstring path = scope.Path;
        if (scope.Generated || (path.size() == 4 && path.compare(0, 2, L".v") == 0) ||
            path.compare(0, 6, L"Velnox") == 0)
            RemoveRegistryTree(HKEY_CLASSES_ROOT, path);
    }
    RemoveRegistryTree(HKEY_CURRENT_USER, L"Software\\Velnox");
}

// One difference placed in its area, with the path below the area's root as
// both views and both roots spell it alike.
struct Change
{
    Area Where;
    std::wstring Path; // key path in the area, as found
    RegistryDifference Difference;
    const RegistrySnapshot* After;
    std::wstring Line;
};

inline bool StartsWithNoCase(const std::wstring& text, const std::wstring& head)
{
    return text.size() >= head.size() &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, text.c_str(), int(head.size()),
                          head.c_str(), int(head.size())) == CSTR_EQUAL;
}

inline bool SameNoCase(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

inline void StripHead(std::wstring& path, const wchar_t* head)
{
    const std::wstring prefix = std::wstring(head) + L"\\";
    if (SameNoCase(path, head))
        path.clear();
    else if (StartsWithNoCase(path, prefix))
        path.erase(0, prefix.size());
}

inline Change Place(const Scope& scope, const RegistrySnapshot& after,
                    const RegistryDifference& difference)
{
    Change change{scope.Where, L"", difference, &after,
                  DescribeDifference(difference, after.Label)};
    std::wstring path = difference.Entry().Key;
    if (scope.Path != nullptr)
    {
        std::wstring below = scope.Path;
        if (scope.Root != HKEY_CLASSES_ROOT)
            StripHead(below, L"Software");
        if (!below.empty())
            path = path.empty() ? below : below + L"\\" + path;
    }
    if (scope.Root != HKEY_CLASSES_ROOT)
    {
        StripHead(path, L"Wow6432Node");
        const std::wstring classes = L"Classes";
        if (SameNoCase(path, classes) || StartsWithNoCase(path, classes + L"\\"))
        {
            StripHead(path, L"Classes");
            change.Where = Area::Classes;
        }
    }
    if (change.Where == Area::Classes)
        StripHead(path, L"Wow6432Node");
    change.Path = path;
    return change;
}

// ---------------------------------------------------------------------------
// Where the program by design does not give back what was there. One list:
// the README's section on what uninstall restores repeats it.

inline std::wstring FirstComponent(const std::wstring& path)
{
    return path.substr(0, path.find(L'\\'));
}

inline bool IsVolumeExtension(const std::wstring& key)
{
    return key.size() == 4 && (key[0] == L'.') && (key[1] == L'v' || key[1] == L'V') &&
           iswdigit(key[2]) && iswdigit(key[3]);
}

// No value anywhere at or below the key in the later snapshot.
inline bool HoldsNothing(const RegistrySnapshot& snapshot, const std::wstring& key)
{
    for (const auto& item : snapshot.Entries)
    {
        const RegistryEntry& entry = item.second;
        if (entry.IsValue &&
            (SameNoCase(entry.Key, key) || StartsWithNoCase(entry.Key, key + L"\\")))
            return false;
    }
    return true;
}

// Keys below which setup writes; they stay when setup had to make them.
const wchar_t* const kWrittenBelow[] = {
    L"Classes:exefile\\shellex\\PropertySheetHandlers",
    L"Classes:*\\shellex\\ContextMenuHandlers",
    L"Classes:Folder\\shellex\\ContextMenuHandlers",
    L"Classes:Folder\\shellex\\DragDropHandlers",
    L"Classes:Drive\\shellex\\DragDropHandlers",
    L"Classes:lnkfile\\shellex\\ContextMenuHandlers",
    L"Classes:CLSID",
    L"Machine:Microsoft\\Windows\\CurrentVersion\\App Paths",
    L"Machine:Microsoft\\Windows\\CurrentVersion\\Uninstall",
    L"Machine:Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
    L"Machine:RegisteredApplications",
};

inline bool IsParentOfWrittenKey(const Change& change)
{
    const std::wstring area = change.Where == Area::Classes   ? L"Classes:"
                              : change.Where == Area::Machine ? L"Machine:"
                                                              : L"User:";
    const std::wstring path = area + change.Path;
    for (const wchar_t* written : kWrittenBelow)
    {
        const std::wstring full = written;
        if (SameNoCase(full, path) || StartsWithNoCase(full, path + L"\\"))
            return true;
    }
    return false;
}

struct KnownDifference
{
    const char* Reason;
    bool (*Applies)(const Change& change, const RoundTripCase* state);
};

const KnownDifference kKnownDifferences[] = {
    {"the old-style volume extensions \".v00\"-\".v99\" of the own format: setup gives "
     "\".v00\"-\".v29\" to the archiver without saving their owners; uninstall gives all "
     "hundred the class \".vnx\" had before, or deletes them when it had none",
     [](const Change& change, const RoundTripCase* state)
     {
         // Never left with the archiver's class, nor one another program took.
         const RegistryEntry& after = change.Difference.After;
         return change.Where == Area::Classes && IsVolumeExtension(change.Path) &&
                (change.Difference.Entry().IsValue ? change.Difference.Entry().Name.empty()
                                                   : true) &&
                !(after.IsValue && SameNoCase(after.Data, L"\"Velnox\"")) && state != nullptr &&
                state->Taken(L".vnx") && !state->TookOver(FirstComponent(change.Path));
     }},
    {"an extension whose key had no default value gets an empty one back: the saved owner "
     "cannot tell \"none\" from \"empty\"",
     [](const Change& change, const RoundTripCase* state)
     {
         const RegistryEntry& entry = change.Difference.Entry();
         const ExtensionState* previous = state ? state->Find(change.Path) : nullptr;
         return change.Where == Area::Classes &&
                change.Difference.What == RegistryDifference::Added && entry.IsValue &&
                entry.Name.empty() && entry.Type == REG_SZ && entry.Data == L"\"\"" &&
                previous != nullptr && previous->Exists && !previous->HasDefault &&
                state->Taken(previous->Extension);
     }},
    {"the \"ShellNew\" entry of the own format and of ZIP is replaced by the archiver's template "
     "while the shell extension is on; uninstall gives back only its \"FileName\" (or an empty "
     "\"NullFile\", whatever the old one held), so other values go, and so does a \"ShellNew\" "
     "key left empty",
     [](const Change& change, const RoundTripCase* state)
     {
         const bool templateKey = SameNoCase(change.Path, L".vnx\\ShellNew") ||
                                  SameNoCase(change.Path, L".zip\\ShellNew");
         const RegistryEntry& entry = change.Difference.Entry();
         const bool allowed =
             change.Difference.What == RegistryDifference::Removed ||
             (change.Difference.What == RegistryDifference::Added && !entry.IsValue) ||
             (change.Difference.What == RegistryDifference::Changed &&
              SameNoCase(entry.Name, L"NullFile") && change.Difference.After.Data == L"\"\"");
         return change.Where == Area::Classes && templateKey && allowed && state != nullptr &&
                state->TakenWithShellExt(FirstComponent(change.Path)) &&
                !state->TookOver(FirstComponent(change.Path));
     }},
    {"\".rev\" is the archiver's own extension: setup sets it to \"Velnox.REV\" without saving "
     "the owner, and uninstall deletes the key with all it holds while it still opens in the "
     "archiver",
     [](const Change& change, const RoundTripCase* state)
     {
         return change.Where == Area::Classes && SameNoCase(FirstComponent(change.Path), L".rev") &&
                (state == nullptr || !state->TookOver(L".rev"));
     }},
    {"an empty key that setup had to make as the parent of one of its own keys stays",
     [](const Change& change, const RoundTripCase*)
     {
         return change.Difference.What == RegistryDifference::Added &&
                !change.Difference.Entry().IsValue && IsParentOfWrittenKey(change) &&
                HoldsNothing(*change.After, change.Difference.Entry().Key);
     }},
};

// After setup, another program takes the state's keys: what uninstall must
// leave of them is what that program left, less the new-file entry that
// names the archiver's template, which goes with the template (and its key
// with it when nothing else is in it).
inline void TakeOverAfterSetup(const RoundTripCase& state, const std::vector<Scope>& scopes,
                               std::vector<RegistrySnapshot>& before)
{
    WriteKeys(state.TakeOvers);
    for (size_t i = 0; i < scopes.size(); ++i)
    {
        if (scopes[i].Root != HKEY_CLASSES_ROOT || scopes[i].View != 0 ||
            scopes[i].Path == nullptr || !state.TookOver(scopes[i].Path))
            continue;
        RegistrySnapshot expected = TakeSnapshot(scopes[i]);
        bool othersInShellNew = false, ownTemplateFound = false;
        for (auto item = expected.Entries.begin(); item != expected.Entries.end();)
        {
            const RegistryEntry& entry = item->second;
            const bool inShellNew =
                SameNoCase(entry.Key, L"ShellNew") || StartsWithNoCase(entry.Key, L"ShellNew\\");
            const bool ownTemplate = inShellNew && entry.IsValue &&
                                     SameNoCase(entry.Name, L"FileName") &&
                                     (entry.Data.find(L"\\vnxnew.dat\"") != std::wstring::npos ||
                                      entry.Data.find(L"\\zipnew.dat\"") != std::wstring::npos);
            if (ownTemplate)
            {
                ownTemplateFound = true;
                item = expected.Entries.erase(item);
                continue;
            }
            othersInShellNew =
                othersInShellNew || (inShellNew && (entry.IsValue || entry.Key.size() > 8));
            ++item;
        }
        if (ownTemplateFound && !othersInShellNew)
            for (auto item = expected.Entries.begin(); item != expected.Entries.end(); ++item)
                if (!item->second.IsValue && SameNoCase(item->second.Key, L"ShellNew"))
                {
                    expected.Entries.erase(item);
                    break;
                }
        before[i] = expected;
    }
}

// The records after setup: rewritten, or without their machine copies as an
// earlier installation left them. Uninstall gives the owners back all the same.
inline void ChangeRecordsAfterSetup(const RoundTripCase& state)
{
    if (state.LegacyRecords)
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Velnox\\Setup");
    WriteKeys(state.RecordWrites);
}

// ".ace" as an older version left it, taken with its owner saved; false
// when its owner is not a plain class or none, or has a new-file entry,
// which such a version saved otherwise.
inline bool LeaveAceTaken()
{
    if (RawKeyExists(HKEY_CLASSES_ROOT, L".ace\\ShellNew"))
        return false;
    HKEY key = nullptr;
    std::wstring owner;
    DWORD exist = 0;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".ace", 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        wchar_t text[512] = {};
        DWORD size = sizeof(text) - sizeof(wchar_t), type = REG_NONE;
        const LONG status = RegQueryValueExW(key, nullptr, nullptr, &type,
                                             reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        // Whole and terminated, with nothing after a NUL.
        if (status != ERROR_SUCCESS || type != REG_SZ || size != (wcslen(text) + 1) * sizeof(wchar_t))
            return false;
        owner = text;
        exist = 1;
    }
    const std::wstring record = L"Software\\Velnox\\Setup\\.ace";
    RawSet(HKEY_CURRENT_USER, record, L"Exist", REG_DWORD, &exist, sizeof(exist));
    RawSetString(HKEY_CURRENT_USER, record, L"Type", owner);
    RawSetString(HKEY_CLASSES_ROOT, L".ace", nullptr, L"Velnox");
    return true;
}

// How often each known difference was met: a list entry that is never met
// proves nothing.
inline unsigned long* ExplainedCounts()
{
    static unsigned long counts[ARRAYSIZE(kKnownDifferences)] = {};
    return counts;
}

inline std::string ExplainedCountsText()
{
    std::string text;
    for (size_t k = 0; k < ARRAYSIZE(kKnownDifferences); ++k)
        text += (k ? ", " : "") + std::to_string(ExplainedCounts()[k]);
    return "known differences met: " + text;
}

// The differences no entry of the list explains, one line each. state null:
// the whole set, read around all states, where only state-free entries apply.
inline std::vector<std::wstring> UnexplainedDifferences(const std::vector<Scope>& scopes,
                                                        const std::vector<RegistrySnapshot>& before,
                                                        const std::vector<RegistrySnapshot>& after,
                                                        const RoundTripCase* state)
{
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < scopes.size(); ++i)
    {
        for (const RegistryDifference& difference : CompareRegistrySnapshots(before[i], after[i]))
        {
            const Change change = Place(scopes[i], after[i], difference);
            bool explained = false;
            for (size_t k = 0; k < ARRAYSIZE(kKnownDifferences) && !explained; ++k)
                if (kKnownDifferences[k].Applies(change, state))
                {
                    explained = true;
                    ++ExplainedCounts()[k];
                }
            if (!explained)
                lines.push_back(change.Line);
        }
    }
    return lines;
}

// ---------------------------------------------------------------------------
// Shortcuts, in the shell folders of the sandbox

// The shortcuts and program groups that would outlive the uninstall.
inline std::vector<std::wstring> LeftShortcuts()
{
    // The folders stay where they are for the whole run.
    static const std::vector<std::wstring> paths = []
    {
        std::vector<std::wstring> made;
        for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU,
                          CSIDL_COMMON_STARTMENU})
            made.push_back(ShellFolder(csidl) + L"\\Velnox.lnk");
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
            made.push_back(ShellFolder(csidl) + L"\\Velnox");
        return made;
    }();
    std::vector<std::wstring> left;
    for (const std::wstring& path : paths)
        if (Exists(path))
            left.push_back(L"left on disk: " + path);
    return left;
}

// The whole set read before the first state of a run and after its last.
class WholeRegistryCheck
{
public:
    void Before()
    {
        Scopes = WholeScopes();
        Baseline = TakeSnapshots(Scopes);
    }
    void After()
    {
        const std::vector<std::wstring> lines =
            UnexplainedDifferences(Scopes, Baseline, TakeSnapshots(Scopes), nullptr);
        EXPECT_TRUE(lines.empty()) << "the registry around all states differs:\n"
                                   << JoinLines(lines);
    }

private:
    std::vector<Scope> Scopes;
    std::vector<RegistrySnapshot> Baseline;
};

} // namespace roundtrip
